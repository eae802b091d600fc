#include "WavBackend.h"

#include "ClockDevice.h"
#include "WavFile.h"
#include "sys/Diag.h"

#include <cstring>

namespace zqaudio {

namespace {

// How stale the header sizes may get while playing. The samples themselves reach the file on
// every tick, so a reader that ignores the sizes sees them sooner.
constexpr auto kHeaderSyncInterval = std::chrono::milliseconds(250);

class WavPlayed final : public PlayedAudio {
public:
    WavPlayed(std::unique_ptr<WavWriter> writer, std::string path)
        : m_writer(std::move(writer)), m_path(std::move(path)) {}
    ~WavPlayed() override { m_writer->close(); }

    void append(const char* pcm, size_t bytes) override {
        if (m_writer->append(pcm, bytes)) {
            m_unsynced = true;
        } else if (!m_failed) {
            m_failed = true;
            sys::diag("zqaudio: cannot append to %s; played audio is lost", m_path.c_str());
        }
    }

    void tick() override {
        if (!m_unsynced)
            return;
        const auto now = Clock::now();
        if (now - m_lastSync < kHeaderSyncInterval) {
            m_writer->flush();
            return;
        }
        m_writer->sync();
        m_lastSync = now;
        m_unsynced = false;
    }

private:
    std::unique_ptr<WavWriter> m_writer;
    const std::string m_path;
    Clock::time_point m_lastSync = Clock::now();
    bool m_unsynced = false;
    bool m_failed = false;
};

class WavCaptured final : public CapturedAudio {
public:
    explicit WavCaptured(std::unique_ptr<WavReader> reader) : m_reader(std::move(reader)) {}

    void fill(char* block, size_t bytes) override {
        const size_t got = m_reader->read(block, bytes);
        std::memset(block + got, 0, bytes - got);
    }

private:
    std::unique_ptr<WavReader> m_reader;
};

// The reader of `path` when it holds audio the devices speak, else null with the reason on
// stderr.
std::unique_ptr<WavReader> openVoiceFile(const std::string& path) {
    if (path.empty()) {
        sys::diag("zqaudio: ZQAUDIO_WAV_IN is not set; capturing silence");
        return nullptr;
    }
    auto reader = std::make_unique<WavReader>();
    std::string error;
    if (!reader->open(path, error)) {
        sys::diag("zqaudio: %s; capturing silence", error.c_str());
        return nullptr;
    }
    const std::string problem = voiceFormatProblem(reader->format());
    if (!problem.empty()) {
        sys::diag("zqaudio: %s holds %s (needs 8000 Hz mono 16-bit PCM); capturing silence",
                  path.c_str(), problem.c_str());
        return nullptr;
    }
    return reader;
}

} // namespace

std::unique_ptr<PlaybackSink> makeWavPlayback(const std::string& path) {
    if (path.empty()) {
        sys::diag("zqaudio: ZQAUDIO_WAV_OUT is not set; playing to the null device");
        return nullptr;
    }
    auto writer = std::make_unique<WavWriter>();
    std::string error;
    if (!writer->create(path, error)) {
        sys::diag("zqaudio: %s; playing to the null device", error.c_str());
        return nullptr;
    }
    return std::make_unique<ClockPlayback>(std::make_shared<WavPlayed>(std::move(writer), path));
}

std::shared_ptr<CaptureSource> makeWavCapture(const std::string& path, size_t blockBytes) {
    std::unique_ptr<CapturedAudio> content;
    if (auto reader = openVoiceFile(path))
        content = std::make_unique<WavCaptured>(std::move(reader));
    return std::make_shared<ClockCapture>(std::move(content), blockBytes);
}

} // namespace zqaudio
