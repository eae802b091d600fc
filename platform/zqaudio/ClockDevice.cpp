#include "ClockDevice.h"

#include "PlayQueue.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zqaudio {

namespace {

using std::chrono::nanoseconds;

constexpr unsigned kPlayTickMs = 10;
// Poll interval of waits, so a cancelled wait ends promptly even if its wake-up is lost.
constexpr unsigned kMaxWaitMs = 50;
constexpr auto kMaxCaptureLag = std::chrono::milliseconds(500);
constexpr unsigned kPlayStopWaitMs = 2000;
// 1e9 ns / 8000 samples per second.
constexpr int64_t kNsPerSample = 125000;

// Bytes of whole samples a 16000 bytes/s device plays in `elapsed`.
size_t bytesIn(Clock::duration elapsed) {
    const int64_t ns = std::chrono::duration_cast<nanoseconds>(elapsed).count();
    return ns > 0 ? static_cast<size_t>(ns / kNsPerSample) * 2 : 0;
}

// Takes up to `due` bytes from `queue`, a chunk at a time, and hands them to `out`; returns the
// bytes taken, fewer than `due` when the queue ran dry.
size_t takeDue(PlayQueue& queue, size_t due, std::vector<char>& chunk, PlayedAudio* out) {
    size_t taken = 0;
    while (taken < due) {
        const size_t got = queue.pop(chunk.data(), std::min(due - taken, chunk.size()));
        if (got == 0)
            break;
        if (out)
            out->append(chunk.data(), got);
        taken += got;
    }
    return taken;
}

void playLoop(sys::WorkerContext& context, PlayQueue& queue, PlayedAudio* out) {
    std::vector<char> chunk(kBytesPerSecond / 4);
    Clock::time_point start = Clock::now();
    size_t played = 0; // since `start`
    while (!context.cancelled()) {
        context.queue().take(kPlayTickMs);
        const auto now = Clock::now();
        const size_t due = bytesIn(now - start) - played;
        const size_t taken = takeDue(queue, due, chunk, out);
        played += taken;
        if (taken < due) {
            // Ran dry: the next audio starts playing when it arrives.
            start = now;
            played = 0;
        }
        if (out)
            out->tick();
    }
}

} // namespace

bool waitUntil(sys::WorkerContext& context, Clock::time_point deadline) {
    for (;;) {
        if (context.cancelled())
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        context.queue().take(static_cast<unsigned>(std::min<int64_t>(left, kMaxWaitMs)));
    }
}

BlockClock::BlockClock(size_t blockBytes)
    : m_blockDuration(nanoseconds(static_cast<int64_t>(blockBytes / 2) * kNsPerSample)) {}

void BlockClock::start(Clock::time_point now) {
    m_start = now;
    m_blocks = 0;
}

Clock::time_point BlockClock::nextDeadline() const {
    return m_start + m_blockDuration * static_cast<int64_t>(m_blocks + 1);
}

void BlockClock::advance(Clock::time_point now) {
    if (now - nextDeadline() > kMaxCaptureLag)
        m_start = now - m_blockDuration * static_cast<int64_t>(m_blocks + 1);
    ++m_blocks;
}

ClockPlayback::ClockPlayback(std::shared_ptr<PlayedAudio> out) : m_out(std::move(out)) {}

ClockPlayback::~ClockPlayback() {
    stop();
}

bool ClockPlayback::start(std::shared_ptr<PlayQueue> queue) {
    // The thread keeps what it uses alive itself, in case a stop gives up waiting for it.
    return m_thread.start("zqaudio_play", [queue, out = m_out](sys::WorkerContext& context) {
        playLoop(context, *queue, out.get());
    });
}

void ClockPlayback::stop() {
    m_thread.stop(kPlayStopWaitMs);
    // Last owner closes the output (a WAV file gets its final header here).
    m_out.reset();
}

ClockCapture::ClockCapture(std::unique_ptr<CapturedAudio> content, size_t blockBytes)
    : m_content(std::move(content)), m_clock(blockBytes) {}

bool ClockCapture::start() {
    m_clock.start(Clock::now());
    return true;
}

bool ClockCapture::read(char* block, size_t bytes, sys::WorkerContext& context) {
    if (!waitUntil(context, m_clock.nextDeadline()))
        return false;
    m_clock.advance(Clock::now());
    if (m_content)
        m_content->fill(block, bytes);
    else
        std::memset(block, 0, bytes);
    return true;
}

} // namespace zqaudio
