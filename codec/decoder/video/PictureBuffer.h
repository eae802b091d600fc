#pragma once

#include "video/PictureSize.h"

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace vidora {

// The decoder's output picture: packed I420 whatever the codec produced. Planar 4:2:0 is copied
// plane by plane, 4:2:2 has its chroma rows halved; any other layout goes through the scaler.
class PictureBuffer {
public:
    PictureBuffer() = default;
    ~PictureBuffer();
    PictureBuffer(const PictureBuffer&) = delete;
    PictureBuffer& operator=(const PictureBuffer&) = delete;

    // Takes `frame` as the current picture, resizing the buffer to the frame's size. False when
    // the frame cannot be converted.
    bool store(const AVFrame& frame);

    uint8_t* data() { return picture_.data(); }
    PictureSize size() const { return size_; }
    int bytes() const { return static_cast<int>(picture_.size()); }

private:
    bool resize(PictureSize size);
    void halveChromaRows(const AVFrame& frame);
    bool convert(const AVFrame& frame);

    std::vector<uint8_t> picture_;
    PictureSize size_;
    SwsContext* scaler_ = nullptr;
    AVFrame* converted_ = nullptr; // aligned scaler output, for other layouts only
};

} // namespace vidora
