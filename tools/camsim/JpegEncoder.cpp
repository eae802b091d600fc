#include "JpegEncoder.h"

#include "FfmpegHandles.h"

#include <cstring>

namespace camsim {

std::vector<uint8_t> encodeJpeg(const Picture& picture) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr || picture.width <= 0 || picture.height <= 0) {
        return {};
    }
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = picture.width;
    context->height = picture.height;
    context->pix_fmt = AV_PIX_FMT_YUVJ420P;
    context->time_base = AVRational{1, 25};
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * 4;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) {
        return {};
    }
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUVJ420P;
    frame->width = picture.width;
    frame->height = picture.height;
    frame->quality = context->global_quality;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        return {};
    }
    const int halfWidth = picture.width / 2;
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(frame->data[0] + y * frame->linesize[0],
                    picture.y.data() + static_cast<size_t>(y) * picture.width,
                    static_cast<size_t>(picture.width));
    }
    for (int y = 0; y < picture.height / 2; ++y) {
        const size_t row = static_cast<size_t>(y) * halfWidth;
        std::memcpy(frame->data[1] + y * frame->linesize[1], picture.u.data() + row,
                    static_cast<size_t>(halfWidth));
        std::memcpy(frame->data[2] + y * frame->linesize[2], picture.v.data() + row,
                    static_cast<size_t>(halfWidth));
    }
    return encodeLastFrame(context.get(), frame.get());
}

} // namespace camsim
