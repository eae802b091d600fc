#pragma once

#include "video/PictureBuffer.h"
#include "video/PictureSize.h"
#include "video/VideoCodec.h"
#include "vidora/vidora.h"

#include <memory>

namespace vidora {

// The video side of a decoder object: turns a camera's frames into I420 pictures. The codec is
// (re)opened when a frame announces a new size (an H.264 sequence parameter set, a JPEG frame
// header); the size of the pictures that actually come out is the truth for the output buffer
// and for the picture-size callback, which fires once for every new size.
class VideoStream {
public:
    VideoStream(VideoKind kind, ZQ_PictureSizeCallback onSize, void* user, int threads = 1);

    // The decoded picture (owned, valid until the next call) or null.
    uint8_t* decode(const uint8_t* data, size_t length);
    // The next H.264 frame closes the codec; nothing comes out until a sequence parameter set.
    void reset() { resetPending_ = true; }

private:
    bool prepareH264(const uint8_t* data, size_t length);
    bool prepareMjpeg(const uint8_t* data, size_t length);
    void reopenUnlessSame(PictureSize announced);
    void announce();

    const VideoKind kind_;
    const ZQ_PictureSizeCallback onSize_;
    void* const user_;
    const int threads_;

    std::unique_ptr<VideoCodec> codec_;
    PictureSize openedFor_; // what the stream announced when the codec was opened
    bool resetPending_ = false;
    PictureBuffer picture_;
    PictureSize reported_; // last size handed to the callback
};

} // namespace vidora
