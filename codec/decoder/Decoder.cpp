#include "Decoder.h"

namespace vidora {

namespace {

// Far beyond any camera frame (the network layer's own buffer is a megabyte).
constexpr size_t kMaxPictureFrameBytes = 32u << 20;

} // namespace

bool isVideoType(int type) {
    return type == ZQ_DECODE_H264 || type == ZQ_DECODE_MJPEG;
}

bool isSoundType(int type) {
    return type == ZQ_DECODE_ADPCM || type == ZQ_DECODE_G726 || type == ZQ_DECODE_PCM ||
           type == ZQ_DECODE_VOICE;
}

bool Decoder::registerType(int type, ZQ_PictureSizeCallback onSize, void* user) {
    std::lock_guard guard(lock_);
    if (isVideoType(type)) {
        const VideoKind kind = type == ZQ_DECODE_H264 ? VideoKind::H264 : VideoKind::Mjpeg;
        video_.reset();
        video_ = std::make_unique<VideoStream>(kind, onSize, user, kVideoThreads);
        return true;
    }
    if (isSoundType(type)) {
        sound_ = SoundDecoder::create(type);
        return sound_ != nullptr;
    }
    return false;
}

void Decoder::unregisterType(int type) {
    std::lock_guard guard(lock_);
    if (isVideoType(type)) {
        video_.reset();
    } else if (isSoundType(type)) {
        sound_.reset();
    }
}

void Decoder::reset() {
    std::lock_guard guard(lock_);
    if (video_ != nullptr) {
        video_->reset();
    }
}

uint8_t* Decoder::decodePicture(const uint8_t* data, size_t length) {
    std::lock_guard guard(lock_);
    if (video_ == nullptr || data == nullptr || length == 0 || length > kMaxPictureFrameBytes) {
        return nullptr;
    }
    return video_->decode(data, length);
}

uint8_t* Decoder::decodeSound(const uint8_t* data, size_t length, int* outBytes) {
    std::lock_guard guard(lock_);
    *outBytes = 0;
    if (sound_ == nullptr) {
        return nullptr;
    }
    return sound_->decode(data, length, outBytes);
}

} // namespace vidora
