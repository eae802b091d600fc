#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace vidora {

enum class VideoKind { H264, Mjpeg };

// One open FFmpeg video decoder. Opening and closing take the library-wide codec lock, since
// they touch FFmpeg state shared by every decoder in the process.
class VideoCodec {
public:
    // Null when FFmpeg lacks the decoder or refuses to open it. `threads` is the decoder's
    // thread count: one keeps a camera's pictures flowing without the frame delay that
    // frame threading adds.
    static std::unique_ptr<VideoCodec> open(VideoKind kind, int threads = 1);
    ~VideoCodec();
    VideoCodec(const VideoCodec&) = delete;
    VideoCodec& operator=(const VideoCodec&) = delete;

    // Decodes one camera frame; the picture stays valid until the next call. Null when no
    // picture came out (damaged data, or the codec waits for more).
    const AVFrame* decode(const uint8_t* data, size_t length);
    // Whether anything since the codec opened was damaged: refused data, or a picture the codec
    // had to patch up. State from damage can outlive the next key frame inside the codec.
    bool sawDamage() const { return sawDamage_; }

private:
    VideoCodec() = default;
    bool fillInput(const uint8_t* data, size_t length);

    AVCodecContext* context_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    // Reused for every frame while the codec holds no reference to it; FFmpeg wants padding
    // after the data, which the caller's frame does not have.
    AVBufferRef* input_ = nullptr;
    bool sawDamage_ = false;
};

} // namespace vidora
