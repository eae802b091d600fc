#include "PortAudioBackend.h"

#include "ClockDevice.h"
#include "PlayQueue.h"
#include "sys/Diag.h"

#include <portaudio.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace zqaudio {

namespace {

constexpr double kSampleRate = 8000;
// 1 s / 16000 bytes.
constexpr auto kBlockTimePerByte = std::chrono::nanoseconds(62500);

// PortAudio's initialisation is counted but not thread-safe, and neither is opening, starting,
// stopping or closing streams; every such call goes through this lock. Reading a stream and the
// stream callback do not take it.
std::mutex g_portAudioLock;

// One counted Pa_Initialize, undone when the last user lets go.
class Session {
public:
    static std::shared_ptr<Session> open() {
        std::lock_guard lock(g_portAudioLock);
        if (Pa_Initialize() != paNoError)
            return nullptr;
        return std::shared_ptr<Session>(new Session);
    }
    ~Session() {
        std::lock_guard lock(g_portAudioLock);
        Pa_Terminate();
    }

private:
    Session() = default;
};

PaDeviceIndex defaultDevice(Direction direction) {
    return direction == Direction::Playback ? Pa_GetDefaultOutputDevice()
                                            : Pa_GetDefaultInputDevice();
}

// Opens a mono 16-bit stream at 8 kHz on the default device of `direction`. Without a callback
// the stream is read or written with the blocking calls.
PaStream* openStream(Direction direction, unsigned long framesPerBuffer, PaStreamCallback* callback,
                     void* user, std::string& error) {
    std::lock_guard lock(g_portAudioLock);
    const PaDeviceIndex device = defaultDevice(direction);
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) {
        error = "no default sound device";
        return nullptr;
    }
    const bool playback = direction == Direction::Playback;
    PaStreamParameters params{};
    params.device = device;
    params.channelCount = 1;
    params.sampleFormat = paInt16;
    params.suggestedLatency =
        playback ? info->defaultLowOutputLatency : info->defaultLowInputLatency;
    PaStream* stream = nullptr;
    const PaError result =
        Pa_OpenStream(&stream, playback ? nullptr : &params, playback ? &params : nullptr,
                      kSampleRate, framesPerBuffer, paClipOff, callback, user);
    if (result != paNoError) {
        error = std::string("cannot open \"") + info->name +
                "\" at 8000 Hz mono: " + Pa_GetErrorText(result);
        return nullptr;
    }
    return stream;
}

void closeStream(PaStream* stream) {
    std::lock_guard lock(g_portAudioLock);
    Pa_AbortStream(stream);
    Pa_CloseStream(stream);
}

bool startStream(PaStream* stream) {
    std::lock_guard lock(g_portAudioLock);
    return Pa_StartStream(stream) == paNoError;
}

class PortAudioPlayback final : public PlaybackSink {
public:
    ~PortAudioPlayback() override { stop(); }

    bool start(std::shared_ptr<PlayQueue> queue) override {
        std::string error;
        return begin(std::move(queue), error);
    }

    bool begin(std::shared_ptr<PlayQueue> queue, std::string& error) {
        m_session = Session::open();
        if (!m_session) {
            error = "PortAudio does not initialise";
            return false;
        }
        m_queue = std::move(queue);
        m_stream =
            openStream(Direction::Playback, paFramesPerBufferUnspecified, &callback, this, error);
        if (m_stream && !startStream(m_stream))
            error = "cannot start the output stream";
        return m_stream && error.empty();
    }

    void stop() override {
        if (m_stream)
            closeStream(m_stream);
        m_stream = nullptr;
    }

private:
    // Runs on PortAudio's audio thread: takes what is queued, silence for the rest.
    static int callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        auto* self = static_cast<PortAudioPlayback*>(user);
        auto* out = static_cast<char*>(output);
        const size_t bytes = frames * 2;
        const size_t got = self->m_queue->pop(out, bytes);
        std::memset(out + got, 0, bytes - got);
        return paContinue;
    }

    std::shared_ptr<Session> m_session; // declared first: outlives the stream
    std::shared_ptr<PlayQueue> m_queue;
    PaStream* m_stream = nullptr;
};

class PortAudioCapture final : public CaptureSource {
public:
    PortAudioCapture(std::shared_ptr<Session> session, PaStream* stream)
        : m_session(std::move(session)), m_stream(stream) {}
    ~PortAudioCapture() override { closeStream(m_stream); }

    bool start() override { return startStream(m_stream); }

    bool read(char* block, size_t bytes, sys::WorkerContext& context) override {
        const PaError result = Pa_ReadStream(m_stream, block, bytes / 2);
        // An overflow lost older input, but this block is complete.
        if (result == paNoError || result == paInputOverflowed)
            return true;
        // The device went away: keep the pace with silence rather than spin.
        if (!m_reported.exchange(true))
            sys::diag("zqaudio: reading the sound device failed: %s", Pa_GetErrorText(result));
        std::memset(block, 0, bytes);
        return waitUntil(context, Clock::now() + kBlockTimePerByte * static_cast<int64_t>(bytes));
    }

    void stop() override {
        std::lock_guard lock(g_portAudioLock);
        Pa_StopStream(m_stream);
    }

private:
    std::shared_ptr<Session> m_session;
    PaStream* m_stream;
    std::atomic<bool> m_reported{false};
};

} // namespace

bool portAudioHasDevice(Direction direction) {
    const auto session = Session::open();
    if (!session)
        return false;
    std::lock_guard lock(g_portAudioLock);
    return defaultDevice(direction) != paNoDevice;
}

std::unique_ptr<PlaybackSink> startPortAudioPlayback(const std::shared_ptr<PlayQueue>& queue,
                                                     std::string& error) {
    auto sink = std::make_unique<PortAudioPlayback>();
    if (!sink->begin(queue, error))
        return nullptr;
    return sink;
}

std::shared_ptr<CaptureSource> makePortAudioCapture(size_t blockBytes, std::string& error) {
    auto session = Session::open();
    if (!session) {
        error = "PortAudio does not initialise";
        return nullptr;
    }
    PaStream* stream = openStream(Direction::Capture, blockBytes / 2, nullptr, nullptr, error);
    if (!stream)
        return nullptr;
    return std::make_shared<PortAudioCapture>(std::move(session), stream);
}

} // namespace zqaudio
