#include "video/PictureBuffer.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstddef>
#include <cstring>

namespace vidora {

namespace {

constexpr AVPixelFormat kOutputFormat = AV_PIX_FMT_YUV420P;

// Planar 4:2:0 in 8 bits, limited range or the full range of JPEG: the planes are copied as they
// are, which keeps every sample the codec made.
bool isPlanar420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// Other layouts are brought to 4:2:0 in their own range by area averaging, which leaves luma
// untouched at the same size (fast bilinear does not): a 4:2:2 JPEG becomes a full-range
// 4:2:0 picture like a 4:2:0 JPEG, so every JPEG camera's pictures look alike.
AVPixelFormat targetFormat(AVPixelFormat source) {
    switch (source) {
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUVJ420P;
    default:
        return AV_PIX_FMT_YUV420P;
    }
}

// (a + b + 1) / 2 for every byte, eight bytes at a time: (a | b) - ((a ^ b) >> 1) per byte,
// the shift kept from crossing into the neighbouring byte.
void averageRows(const uint8_t* upper, const uint8_t* lower, uint8_t* target, int width) {
    constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7fULL;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, upper + x, 8);
        std::memcpy(&b, lower + x, 8);
        const uint64_t mean = (a | b) - (((a ^ b) >> 1) & kLow7);
        std::memcpy(target + x, &mean, 8);
    }
    for (; x < width; ++x) {
        target[x] = static_cast<uint8_t>((upper[x] + lower[x] + 1) >> 1);
    }
}

} // namespace

PictureBuffer::~PictureBuffer() {
    sws_freeContext(scaler_);
    av_frame_free(&converted_);
}

bool PictureBuffer::resize(PictureSize size) {
    if (size == size_) {
        return true;
    }
    const int bytes = av_image_get_buffer_size(kOutputFormat, size.width, size.height, 1);
    if (bytes <= 0) {
        return false;
    }
    picture_.assign(static_cast<size_t>(bytes), 0);
    size_ = size;
    av_frame_free(&converted_);
    return true;
}

bool PictureBuffer::store(const AVFrame& frame) {
    const PictureSize size{frame.width, frame.height};
    if (!size.known() || size.width > kMaxPictureSide || size.height > kMaxPictureSide ||
        !resize(size)) {
        return false;
    }
    if (isPlanar420(frame.format)) {
        return av_image_copy_to_buffer(picture_.data(), bytes(), frame.data, frame.linesize,
                                       kOutputFormat, size.width, size.height, 1) > 0;
    }
    if (frame.format == AV_PIX_FMT_YUVJ422P || frame.format == AV_PIX_FMT_YUV422P) {
        halveChromaRows(frame);
        return true;
    }
    return convert(frame);
}

// 4:2:2 to 4:2:0, the usual case for JPEG cameras: luma as it is, each output chroma row the
// rounded mean of two input rows, which is the sample halfway between them where 4:2:0 JPEG
// sites its chroma: what the scaler's area averaging gives, at a fraction of its cost (the scaler
// cost as much as the JPEG decode itself here).
void PictureBuffer::halveChromaRows(const AVFrame& frame) {
    const int width = size_.width;
    const int height = size_.height;
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    uint8_t* out = picture_.data();
    for (int row = 0; row < height; ++row) {
        std::memcpy(out + static_cast<size_t>(row) * width,
                    frame.data[0] + static_cast<ptrdiff_t>(row) * frame.linesize[0], width);
    }
    out += static_cast<size_t>(width) * height;
    for (int plane = 1; plane <= 2; ++plane) {
        for (int row = 0; row < chromaHeight; ++row) {
            const uint8_t* upper =
                frame.data[plane] + static_cast<ptrdiff_t>(2 * row) * frame.linesize[plane];
            // An odd last row has no partner: it stands alone.
            const uint8_t* lower = 2 * row + 1 < height ? upper + frame.linesize[plane] : upper;
            averageRows(upper, lower, out + static_cast<size_t>(row) * chromaWidth, chromaWidth);
        }
        out += static_cast<size_t>(chromaWidth) * chromaHeight;
    }
}

bool PictureBuffer::convert(const AVFrame& frame) {
    const auto format = static_cast<AVPixelFormat>(frame.format);
    if (format == AV_PIX_FMT_NONE || sws_isSupportedInput(format) == 0) {
        return false;
    }
    const AVPixelFormat target = targetFormat(format);
    scaler_ = sws_getCachedContext(scaler_, size_.width, size_.height, format, size_.width,
                                   size_.height, target, SWS_AREA, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        return false;
    }
    if (converted_ == nullptr) {
        converted_ = av_frame_alloc();
        if (converted_ == nullptr) {
            return false;
        }
        converted_->format = target;
        converted_->width = size_.width;
        converted_->height = size_.height;
        if (av_frame_get_buffer(converted_, 0) < 0) {
            av_frame_free(&converted_);
            return false;
        }
    }
    if (sws_scale(scaler_, frame.data, frame.linesize, 0, size_.height, converted_->data,
                  converted_->linesize) != size_.height) {
        return false;
    }
    return av_image_copy_to_buffer(picture_.data(), bytes(), converted_->data, converted_->linesize,
                                   kOutputFormat, size_.width, size_.height, 1) > 0;
}

} // namespace vidora
