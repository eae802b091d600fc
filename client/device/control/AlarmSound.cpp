#include "device/control/AlarmSound.h"

#include "zqaudio/zqaudio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

namespace Device {

namespace {

constexpr int kRingCode = 1;
constexpr int kEdgeMs = 5;
// How often a wait looks at the cancel flag; the stop protocol asks for at most 50 ms.
constexpr unsigned kPollMs = 50;

// Waits `ms` while the tone plays out. The writer never waits for the device, and the device
// keeps less than one second queued (dropping the oldest when full), so the next beep must not
// be written before this one has played. Rings that arrive meanwhile are absorbed. False when
// the thread is asked to end.
bool waitOut(sys::WorkerContext& context, int ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (context.cancelled())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        const auto message =
            context.queue().take(static_cast<unsigned>(std::min<long long>(left, kPollMs)));
        if (message && message->code == sys::kQuitCode)
            return false;
    }
}

} // namespace

int playableFrequency(int requestedHz, int sampleRate) {
    if (requestedHz <= 0 || sampleRate <= 0)
        return 0;
    return std::min(requestedHz, sampleRate * 9 / 20);
}

std::vector<int16_t> makeTone(int frequencyHz, int durationMs, int sampleRate, int16_t amplitude) {
    if (durationMs <= 0 || sampleRate <= 0)
        return {};
    const size_t count = static_cast<size_t>(sampleRate) * static_cast<size_t>(durationMs) / 1000;
    const size_t edge = std::min(count / 2, static_cast<size_t>(sampleRate * kEdgeMs / 1000));
    const double step =
        2.0 * std::numbers::pi * playableFrequency(frequencyHz, sampleRate) / sampleRate;
    std::vector<int16_t> tone(count);
    for (size_t i = 0; i < count; ++i) {
        double gain = 1.0;
        const size_t fromEdge = std::min(i, count - 1 - i);
        if (fromEdge < edge)
            gain = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(fromEdge) /
                                        static_cast<double>(edge));
        tone[i] = static_cast<int16_t>(std::lround(amplitude * gain * std::sin(step * i)));
    }
    return tone;
}

AlarmSound::AlarmSound(PcmWriter writer) : AlarmSound(std::move(writer), Settings{}) {}

AlarmSound::AlarmSound(PcmWriter writer, const Settings& settings)
    : m_writer(std::move(writer)), m_settings(settings) {}

AlarmSound::~AlarmSound() {
    stop();
}

bool AlarmSound::start() {
    if (!m_writer)
        return false;
    // The body owns copies of what it uses: a stop that overruns leaves it running on its own.
    return m_thread.start(
        "alarm_sound", [writer = m_writer, settings = m_settings](sys::WorkerContext& context) {
            const std::vector<int16_t> tone =
                makeTone(settings.frequencyHz, settings.toneMs, settings.sampleRate);
            while (!context.cancelled()) {
                const auto message = context.queue().take(kPollMs);
                if (!message)
                    continue;
                if (message->code == sys::kQuitCode)
                    return;
                if (message->code != kRingCode)
                    continue;
                for (int beep = 0; beep < settings.beeps; ++beep) {
                    if (context.cancelled())
                        return;
                    writer(tone.data(), tone.size());
                    if (!waitOut(context, settings.toneMs + settings.gapMs))
                        return;
                }
            }
        });
}

void AlarmSound::ring() {
    m_thread.post(kRingCode);
}

bool AlarmSound::stop(unsigned timeoutMs) {
    return m_thread.stop(timeoutMs);
}

AlarmSound::PcmWriter playDeviceWriter(ZQAudioDevice* device, std::mutex& audioLock) {
    return [device, &audioLock](const int16_t* samples, size_t count) {
        std::lock_guard lock(audioLock);
        WriteData(device, samples, static_cast<int>(count * sizeof(int16_t)));
    };
}

} // namespace Device
