#pragma once

// Sound devices without hardware keep the pace of a real one, so the client's timing (jitter
// buffers, talk pacing, latency) behaves as it does on a real sound card: capture hands out
// blocks at 16000 bytes/s of wall-clock time and playback consumes queued audio at the same rate.

#include "Backend.h"
#include "sys/Thread.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace zqaudio {

using Clock = std::chrono::steady_clock;

// Waits until `deadline`; false as soon as `context` is cancelled.
bool waitUntil(sys::WorkerContext& context, Clock::time_point deadline);

// Deadlines of blocks captured at 16000 bytes/s: block n is complete at start + (n + 1) block
// durations. Deadlines are counted from the start, never from the previous wake-up, so late
// wake-ups do not add up to drift.
class BlockClock {
public:
    explicit BlockClock(size_t blockBytes);
    void start(Clock::time_point now);
    Clock::time_point nextDeadline() const;
    // Counts the block due at nextDeadline(). A reader that fell far behind (a callback that
    // stalled) is moved forward rather than handed a burst of catch-up blocks, as a sound card
    // overrun would.
    void advance(Clock::time_point now);

private:
    Clock::duration m_blockDuration;
    Clock::time_point m_start;
    uint64_t m_blocks = 0;
};

// What a clock-paced playback device does with the audio it plays.
class PlayedAudio {
public:
    virtual ~PlayedAudio() = default;
    virtual void append(const char* pcm, size_t bytes) = 0;
    // Called on every tick of the playback thread, whether or not anything was played.
    virtual void tick() {}
};

// What a clock-paced capture device records.
class CapturedAudio {
public:
    virtual ~CapturedAudio() = default;
    // Fills `block` with the next `bytes` of sound.
    virtual void fill(char* block, size_t bytes) = 0;
};

// Playback on the "zqaudio_play" thread: every few milliseconds it takes what a 16000 bytes/s
// device would have consumed and hands it to `out` (discarded when `out` is null). When the
// queue runs dry the clock starts again with the next audio, so silence earns no credit.
class ClockPlayback final : public PlaybackSink {
public:
    explicit ClockPlayback(std::shared_ptr<PlayedAudio> out);
    ~ClockPlayback() override;
    bool start(std::shared_ptr<PlayQueue> queue) override;
    void stop() override;

private:
    std::shared_ptr<PlayedAudio> m_out;
    sys::Thread m_thread;
};

// Capture paced by BlockClock; blocks come from `content`, or are silence when it is null.
class ClockCapture final : public CaptureSource {
public:
    ClockCapture(std::unique_ptr<CapturedAudio> content, size_t blockBytes);
    bool start() override;
    bool read(char* block, size_t bytes, sys::WorkerContext& context) override;
    void stop() override {}

private:
    std::unique_ptr<CapturedAudio> m_content;
    BlockClock m_clock;
};

} // namespace zqaudio
