#include "Recorder.h"

#include "sys/Diag.h"

#include <atomic>
#include <vector>

namespace zqaudio {

namespace {

// How long a stop waits for the capture thread to leave the device. A block is at most 1 s.
constexpr unsigned kStopWaitMs = 2000;

} // namespace

// What one run of the capture thread shares with the device. The thread holds its own reference,
// so a run outlives a device that gave up waiting for it.
struct CaptureRun {
    const Recorder* owner;
    std::shared_ptr<CaptureSource> source;
    size_t blockBytes;
    RecDataCallback callback;
    void* user;
    // Held while the callback runs. A stop clears `delivering` and then takes the gate once:
    // from then on every block sees the flag cleared before it could reach the callback.
    std::mutex gate;
    std::atomic<bool> delivering{true};
};

namespace {

// The run whose capture thread this is; null on every other thread.
thread_local CaptureRun* tl_run = nullptr;

void deliver(CaptureRun& run, const std::vector<char>& block) {
    std::lock_guard lock(run.gate);
    if (!run.delivering.load())
        return;
    try {
        run.callback(0, block.data(), static_cast<int>(block.size()), run.user);
    } catch (...) {
        // A C++ callback that throws must not take the capture thread (and the process) down.
        sys::diag("zqaudio: the capture callback threw; the block is lost");
    }
}

void captureLoop(CaptureRun& run, sys::WorkerContext& context) {
    tl_run = &run;
    std::vector<char> block(run.blockBytes);
    while (run.delivering.load() && run.source->read(block.data(), block.size(), context))
        deliver(run, block);
    tl_run = nullptr;
}

} // namespace

Recorder::Recorder(BackendChoice choice) : m_choice(std::move(choice)) {}

Recorder::~Recorder() {
    close();
}

bool Recorder::onCaptureThread() const {
    return tl_run && tl_run->owner == this;
}

int Recorder::setCallback(RecDataCallback callback, void* user) {
    if (!callback)
        return ZQAUDIO_ERR_PARAM;
    if (onCaptureThread())
        return ZQAUDIO_ERR_STATE;
    std::lock_guard lock(m_lock);
    if (m_run && m_run->delivering.load())
        return ZQAUDIO_ERR_STATE;
    m_callback = callback;
    m_user = user;
    return ZQAUDIO_OK;
}

int Recorder::setBlockBytes(int bytes) {
    if (bytes < ZQAUDIO_REC_BLOCK_MIN || bytes > ZQAUDIO_REC_BLOCK_MAX || bytes % 2 != 0)
        return ZQAUDIO_ERR_PARAM;
    if (onCaptureThread())
        return ZQAUDIO_ERR_STATE;
    std::lock_guard lock(m_lock);
    if (m_open)
        return ZQAUDIO_ERR_STATE;
    m_blockBytes = bytes;
    return ZQAUDIO_OK;
}

int Recorder::open() {
    if (onCaptureThread())
        return ZQAUDIO_ERR_STATE;
    std::lock_guard lock(m_lock);
    if (m_open)
        return ZQAUDIO_ERR_STATE;
    m_source = openCapture(m_choice, static_cast<size_t>(m_blockBytes));
    m_open = true;
    return ZQAUDIO_OK;
}

int Recorder::restart() {
    if (onCaptureThread())
        return ZQAUDIO_ERR_STATE;
    std::lock_guard lock(m_lock);
    if (!m_open || !m_callback)
        return ZQAUDIO_ERR_STATE;
    if (m_run && m_run->delivering.load())
        return ZQAUDIO_OK;
    // A run stopped from its own callback may still be winding down.
    finishRun();
    if (!m_source || !m_source->start())
        return ZQAUDIO_ERR_DEVICE;
    auto run = std::make_shared<CaptureRun>();
    run->owner = this;
    run->source = m_source;
    run->blockBytes = static_cast<size_t>(m_blockBytes);
    run->callback = m_callback;
    run->user = m_user;
    if (!m_thread.start("zqaudio_rec",
                        [run](sys::WorkerContext& context) { captureLoop(*run, context); })) {
        m_source->stop();
        return ZQAUDIO_ERR_DEVICE;
    }
    m_run = std::move(run);
    return ZQAUDIO_OK;
}

int Recorder::stop() {
    if (onCaptureThread()) {
        // The callback in progress is the last; the thread ends after it returns.
        tl_run->delivering.store(false);
        return ZQAUDIO_OK;
    }
    std::lock_guard lock(m_lock);
    if (!m_open)
        return ZQAUDIO_ERR_STATE;
    finishRun();
    return ZQAUDIO_OK;
}

void Recorder::close() {
    if (onCaptureThread()) {
        sys::diag("zqaudio: closing a capture device from its own callback is refused");
        return;
    }
    std::lock_guard lock(m_lock);
    finishRun();
    m_source.reset();
    m_open = false;
}

// Ends the current run, if any: no callback runs once it returns. m_lock is held.
void Recorder::finishRun() {
    if (!m_run)
        return;
    m_run->delivering.store(false);
    { std::lock_guard gate(m_run->gate); }
    if (m_thread.stop(kStopWaitMs)) {
        m_source->stop();
    } else {
        // The thread is stuck in the device and now owns the source; it closes it when it ends.
        sys::diag("zqaudio: the capture device did not stop; it stays unusable until reopened");
        m_source.reset();
    }
    m_run.reset();
}

} // namespace zqaudio
