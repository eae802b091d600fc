#include "video/VideoCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

#include <cstring>
#include <mutex>

namespace vidora {

namespace {

std::mutex& codecOpenLock() {
    static std::mutex lock;
    return lock;
}

AVCodecID codecId(VideoKind kind) {
    return kind == VideoKind::H264 ? AV_CODEC_ID_H264 : AV_CODEC_ID_MJPEG;
}

} // namespace

std::unique_ptr<VideoCodec> VideoCodec::open(VideoKind kind, int threads) {
    const AVCodec* decoder = avcodec_find_decoder(codecId(kind));
    if (decoder == nullptr) {
        return nullptr;
    }
    std::unique_ptr<VideoCodec> codec(new VideoCodec);
    codec->context_ = avcodec_alloc_context3(decoder);
    codec->frame_ = av_frame_alloc();
    codec->packet_ = av_packet_alloc();
    if (codec->context_ == nullptr || codec->frame_ == nullptr || codec->packet_ == nullptr) {
        return nullptr;
    }
    codec->context_->thread_count = threads;
    std::lock_guard guard(codecOpenLock());
    if (avcodec_open2(codec->context_, decoder, nullptr) < 0) {
        return nullptr;
    }
    return codec;
}

VideoCodec::~VideoCodec() {
    {
        std::lock_guard guard(codecOpenLock());
        avcodec_free_context(&context_);
    }
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_buffer_unref(&input_);
}

bool VideoCodec::fillInput(const uint8_t* data, size_t length) {
    const size_t needed = length + AV_INPUT_BUFFER_PADDING_SIZE;
    if (input_ == nullptr || !av_buffer_is_writable(input_) || input_->size < needed) {
        av_buffer_unref(&input_);
        // Grow in steps so a stream of slowly growing key frames does not reallocate each time.
        input_ = av_buffer_alloc(needed + needed / 4);
        if (input_ == nullptr) {
            return false;
        }
    }
    std::memcpy(input_->data, data, length);
    std::memset(input_->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    packet_->buf = av_buffer_ref(input_);
    if (packet_->buf == nullptr) {
        return false;
    }
    packet_->data = input_->data;
    packet_->size = static_cast<int>(length);
    return true;
}

const AVFrame* VideoCodec::decode(const uint8_t* data, size_t length) {
    av_frame_unref(frame_);
    if (!fillInput(data, length)) {
        return nullptr;
    }
    int result = avcodec_send_packet(context_, packet_);
    if (result == AVERROR(EAGAIN)) {
        // Only a codec that gives more than one picture per frame gets here: the older picture
        // gives way, since losing the frame would break the chain of references.
        avcodec_receive_frame(context_, frame_);
        av_frame_unref(frame_);
        result = avcodec_send_packet(context_, packet_);
    }
    av_packet_unref(packet_);
    if (result < 0) {
        sawDamage_ = true;
        return nullptr;
    }
    result = avcodec_receive_frame(context_, frame_);
    if (result < 0) {
        sawDamage_ |= result != AVERROR(EAGAIN);
        return nullptr;
    }
    if (frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0) {
        sawDamage_ = true;
    }
    return frame_;
}

} // namespace vidora
