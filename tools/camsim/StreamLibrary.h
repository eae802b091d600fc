#pragma once

#include "CameraConfig.h"
#include "H264LoopEncoder.h"

#include <memory>
#include <string>
#include <vector>

namespace camsim {

enum class StreamKind { Main, Sub };

struct VideoLoop {
    int width = 0;
    int height = 0;
    int fps = 0;
    int bitRate = 0; // bits per second, reported in media header word 8
    int gop = 1;     // frames from one key frame to the next; key frames at multiples of it
    std::vector<EncodedFrame> frames; // frame 0 is a key frame
};

// The media a camera sends, made once and shared read-only by every camera and connection of a
// process: a looping H.264 clip per stream and a looping test tone in both audio formats.
class StreamLibrary {
public:
    static constexpr int kFps = 25;
    static constexpr int kAudioBlockMs = 60;

    struct Options {
        int loopFrames = 250; // 10 s at 25 fps
        int gop = 25;
    };

    // Encodes everything; null with `error` set when an encoder is missing.
    static std::shared_ptr<const StreamLibrary> build(const Options& options, std::string& error);
    // The process-wide library with default options, built on first use (a second or so).
    static std::shared_ptr<const StreamLibrary> shared(std::string& error);

    const VideoLoop& video(StreamKind kind) const {
        return kind == StreamKind::Main ? m_main : m_sub;
    }
    size_t audioBlockCount() const { return m_pcm.size(); }
    // Block `index` modulo the loop: 960 bytes of PCM or 120 bytes of G.726.
    const std::vector<uint8_t>& audioBlock(AudioFormat format, size_t index) const;

private:
    StreamLibrary() = default;

    VideoLoop m_main;
    VideoLoop m_sub;
    std::vector<std::vector<uint8_t>> m_pcm;
    std::vector<std::vector<uint8_t>> m_g726;
};

} // namespace camsim
