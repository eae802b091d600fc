#include "video/VideoStream.h"

#include "video/JpegScan.h"
#include "video/SpsReader.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace vidora {

VideoStream::VideoStream(VideoKind kind, ZQ_PictureSizeCallback onSize, void* user, int threads)
    : kind_(kind), onSize_(onSize), user_(user), threads_(threads) {}

uint8_t* VideoStream::decode(const uint8_t* data, size_t length) {
    const bool ready =
        kind_ == VideoKind::H264 ? prepareH264(data, length) : prepareMjpeg(data, length);
    if (!ready || codec_ == nullptr) {
        return nullptr;
    }
    const AVFrame* frame = codec_->decode(data, length);
    if (frame == nullptr || !picture_.store(*frame)) {
        return nullptr;
    }
    if (picture_.size() != reported_) {
        announce();
    }
    return picture_.data();
}

bool VideoStream::prepareH264(const uint8_t* data, size_t length) {
    if (resetPending_) {
        resetPending_ = false;
        codec_.reset();
        openedFor_ = {};
        reported_ = {};
    }
    const auto parameterSet = findSequenceParameterSet(data, length);
    if (!parameterSet.empty()) {
        reopenUnlessSame(readSequenceParameterSetSize(parameterSet));
    }
    // Frames before the first sequence parameter set cannot be decoded.
    return codec_ != nullptr;
}

bool VideoStream::prepareMjpeg(const uint8_t* data, size_t length) {
    if (!isJpeg(data, length)) {
        return false;
    }
    reopenUnlessSame(readJpegSize(data, length));
    return true;
}

// A stream that does not tell its size (a header this reader cannot follow) keeps the open
// codec; the decoder then finds the size itself.
//
// After damage the codec is opened afresh at the next announcement even for the same size: the
// codec's own recovery leaves traces in pictures after the key frame, a fresh codec does not.
void VideoStream::reopenUnlessSame(PictureSize announced) {
    const bool clean = codec_ != nullptr && !codec_->sawDamage();
    if (clean && (!announced.known() || announced == openedFor_)) {
        return;
    }
    codec_.reset();
    codec_ = VideoCodec::open(kind_, threads_);
    openedFor_ = announced;
}

void VideoStream::announce() {
    reported_ = picture_.size();
    if (onSize_ == nullptr) {
        return;
    }
    PictureInfo info{};
    info.width = reported_.width;
    info.height = reported_.height;
    info.size = picture_.bytes();
    info.picture = picture_.data();
    onSize_(0, &info, user_);
}

} // namespace vidora
