#pragma once

// The alarm sound: a thread that waits until an alarm rings it, then beeps five times through
// the sound device and waits again.
//
// The beep is asked for at 5000 Hz, but the sound device runs at 8000 samples per second and
// cannot carry anything at or above 4000 Hz: 5000 Hz written naively comes out as its 3000 Hz
// alias. The tone is therefore played at the highest pitch the device's rate carries cleanly,
// 45% of the rate (3600 Hz at 8 kHz), which keeps the beep as shrill as the device allows.

#include "sys/Thread.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct ZQAudioDevice;

namespace Device {

// The highest frequency up to `requestedHz` that `sampleRate` represents without aliasing,
// with room for the device's reconstruction filter: at most 45% of the rate.
int playableFrequency(int requestedHz, int sampleRate);

// `durationMs` of a sine at `frequencyHz` (taken through playableFrequency), `amplitude` peak,
// with 5 ms raised-cosine edges so the beep starts and ends without a click.
std::vector<int16_t> makeTone(int frequencyHz, int durationMs, int sampleRate,
                              int16_t amplitude = 16384);

class AlarmSound {
public:
    // Plays `count` samples of 16-bit PCM at the device rate; must not wait for them to play.
    using PcmWriter = std::function<void(const int16_t* samples, size_t count)>;

    struct Settings {
        int beeps = 5;
        int toneMs = 300;
        // Silence between beeps, so they are heard as five.
        int gapMs = 100;
        int frequencyHz = 5000;
        int sampleRate = 8000;
    };

    // The writer is copied into the thread and used there only.
    explicit AlarmSound(PcmWriter writer);
    AlarmSound(PcmWriter writer, const Settings& settings);
    // Stops the thread (bounded wait).
    ~AlarmSound();
    AlarmSound(const AlarmSound&) = delete;
    AlarmSound& operator=(const AlarmSound&) = delete;

    // Starts the thread, which then waits for ring(). Call before the first ring().
    bool start();
    // Wakes the thread to play one sequence of beeps. Rings that come while a sequence plays are
    // absorbed by it: an alarm storm never queues up minutes of beeping. Any thread.
    void ring();
    // Ends the thread within about a beep's length: it stops between beeps, never in the middle
    // of writing one. False when it overran `timeoutMs` (it is then left to end by itself).
    bool stop(unsigned timeoutMs = 2000);
    bool running() const { return m_thread.running(); }

private:
    PcmWriter m_writer;
    Settings m_settings;
    sys::Thread m_thread;
};

// A writer to the process's playback device: WriteData under `audioLock`, the lock every
// writer of that device takes. Both must outlive the writer.
AlarmSound::PcmWriter playDeviceWriter(ZQAudioDevice* device, std::mutex& audioLock);

} // namespace Device
