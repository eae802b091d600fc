#include "SurfaceInternals.h"
#include "video/DDraw.h"

extern "C" {
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace {

// Row starts 64-byte aligned so libswscale's vector code reads whole lines without a slow path.
int alignedStride(int bytes) {
    return (bytes + 63) & ~63;
}

bool validRect(const RECT& rect, int width, int height) {
    return rect.left >= 0 && rect.top >= 0 && rect.right <= width && rect.bottom <= height &&
           rect.left < rect.right && rect.top < rect.bottom;
}

} // namespace

namespace videodetail {

uint32_t rgbOf(COLORREF colour) {
    const uint32_t r = colour & 0xff;
    const uint32_t g = (colour >> 8) & 0xff;
    const uint32_t b = (colour >> 16) & 0xff;
    return 0xff000000u | (r << 16) | (g << 8) | b;
}

void copyPlane(const uint8_t* from, int fromStride, uint8_t* to, int toStride, int width,
               int height) {
    for (int row = 0; row < height; ++row) {
        std::memcpy(to + static_cast<ptrdiff_t>(row) * toStride,
                    from + static_cast<ptrdiff_t>(row) * fromStride, static_cast<size_t>(width));
    }
}

void copyPixels(const uchar* from, qsizetype fromStride, uchar* to, qsizetype toStride, int width,
                int height) {
    const size_t bytes = static_cast<size_t>(width) * 4;
    for (int row = 0; row < height; ++row) {
        std::memcpy(to + row * toStride, from + row * fromStride, bytes);
    }
}

bool sizeInRange(int width, int height) {
    return width >= 1 && height >= 1 && width <= kMaxSide && height <= kMaxSide;
}

} // namespace videodetail

struct VideoSurface::Scaler {
    SwsContext* context = nullptr;
    int srcW = 0;
    int srcH = 0;
    int dstW = 0;
    int dstH = 0;
};

VideoSurface::VideoSurface(Kind kind, int width, int height)
    : kind_(kind), width_(width), height_(height) {}

VideoSurface::~VideoSurface() {
    if (painter_ != nullptr) {
        painter_->end();
        delete painter_;
    }
    if (scalers_) {
        for (int i = 0; i < kScalers; ++i) {
            sws_freeContext(scalers_[i].context);
        }
    }
    av_free(planes_);
}

void VideoSurface::AddRef() {
    refs_.fetch_add(1, std::memory_order_relaxed);
}

void VideoSurface::Release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete this;
    }
}

int VideoSurface::width() const {
    std::lock_guard lock(lock_);
    return width_;
}

int VideoSurface::height() const {
    std::lock_guard lock(lock_);
    return height_;
}

bool VideoSurface::allocatePlanes(int width, int height) {
    const int chromaW = (width + 1) / 2;
    const int chromaH = (height + 1) / 2;
    const int strideY = alignedStride(width);
    const int strideC = alignedStride(chromaW);
    const size_t lumaBytes = static_cast<size_t>(strideY) * height;
    const size_t chromaBytes = static_cast<size_t>(strideC) * chromaH;
    auto* block = static_cast<uint8_t*>(av_malloc(lumaBytes + 2 * chromaBytes));
    if (block == nullptr) {
        return false;
    }
    av_free(planes_);
    planes_ = block;
    plane_ = {block, block + lumaBytes, block + lumaBytes + chromaBytes};
    stride_ = {strideY, strideC, strideC};
    width_ = width;
    height_ = height;
    // Scalers are keyed by the source size, so the old ones would never match again.
    if (scalers_) {
        for (int i = 0; i < kScalers; ++i) {
            sws_freeContext(scalers_[i].context);
            scalers_[i] = Scaler{};
        }
    }
    return true;
}

void VideoSurface::fill(uint32_t rgb) {
    if (kind_ == Kind::Rgb) {
        image_.fill(rgb);
        return;
    }
    // Studio-range BT.601, what decoders of camera streams produce and what the scaler assumes.
    const int r = (rgb >> 16) & 0xff;
    const int g = (rgb >> 8) & 0xff;
    const int b = rgb & 0xff;
    const int y = ((66 * r + 129 * g + 25 * b + 128) >> 8) + 16;
    const int u = ((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128;
    const int v = ((112 * r - 94 * g - 18 * b + 128) >> 8) + 128;
    const int chromaH = (height_ + 1) / 2;
    std::memset(plane_[0], y, static_cast<size_t>(stride_[0]) * height_);
    std::memset(plane_[1], u, static_cast<size_t>(stride_[1]) * chromaH);
    std::memset(plane_[2], v, static_cast<size_t>(stride_[2]) * chromaH);
}

SwsContext* VideoSurface::scalerFor(int srcW, int srcH, int dstW, int dstH) {
    if (!scalers_) {
        scalers_ = std::make_unique<Scaler[]>(kScalers);
    }
    for (int i = 0; i < kScalers; ++i) {
        const Scaler& s = scalers_[i];
        if (s.context != nullptr && s.srcW == srcW && s.srcH == srcH && s.dstW == dstW &&
            s.dstH == dstH) {
            return s.context;
        }
    }
    // A camera's picture usually goes to one or two sizes (its pane, a full-screen pane), so a
    // few entries replaced in turn are enough.
    Scaler& slot = scalers_[nextScaler_];
    nextScaler_ = (nextScaler_ + 1) % kScalers;
    sws_freeContext(slot.context);
    slot = Scaler{};
    slot.context = sws_getContext(srcW, srcH, AV_PIX_FMT_YUV420P, dstW, dstH, AV_PIX_FMT_RGB32,
                                  SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (slot.context != nullptr) {
        slot.srcW = srcW;
        slot.srcH = srcH;
        slot.dstW = dstW;
        slot.dstH = dstH;
    }
    return slot.context;
}

bool VideoSurface::scaleInto(QImage& target, const RECT& dest, const RECT& source) {
    // Chroma covers 2 x 2 pixels, so a cut may only start on even coordinates.
    const int left = static_cast<int>(source.left) & ~1;
    const int top = static_cast<int>(source.top) & ~1;
    const int srcW = static_cast<int>(source.right) - left;
    const int srcH = static_cast<int>(source.bottom) - top;
    const int dstW = static_cast<int>(dest.width());
    const int dstH = static_cast<int>(dest.height());
    SwsContext* context = scalerFor(srcW, srcH, dstW, dstH);
    if (context == nullptr) {
        return false;
    }
    const uint8_t* const src[4] = {
        plane_[0] + static_cast<ptrdiff_t>(top) * stride_[0] + left,
        plane_[1] + static_cast<ptrdiff_t>(top / 2) * stride_[1] + left / 2,
        plane_[2] + static_cast<ptrdiff_t>(top / 2) * stride_[2] + left / 2, nullptr};
    const int srcStride[4] = {stride_[0], stride_[1], stride_[2], 0};
    const qsizetype bpl = target.bytesPerLine();
    uint8_t* const dst[4] = {target.bits() + dest.top * bpl + dest.left * 4, nullptr, nullptr,
                             nullptr};
    const int dstStride[4] = {static_cast<int>(bpl), 0, 0, 0};
    return sws_scale(context, src, srcStride, 0, srcH, dst, dstStride) == dstH;
}

bool VideoSurface::Blt(const RECT* dest, VideoSurface* source, const RECT* sourceRect,
                       unsigned /*flags*/) {
    if (source == nullptr || kind_ != Kind::Rgb) {
        return false;
    }
    std::unique_lock mine(lock_, std::defer_lock);
    std::unique_lock theirs(source->lock_, std::defer_lock);
    if (source == this) {
        mine.lock();
    } else {
        std::lock(mine, theirs);
    }
    if (painter_ != nullptr) {
        return false;
    }
    const RECT to = dest != nullptr ? *dest : RECT{0, 0, width_, height_};
    const RECT from =
        sourceRect != nullptr ? *sourceRect : RECT{0, 0, source->width_, source->height_};
    if (!validRect(to, width_, height_) || !validRect(from, source->width_, source->height_)) {
        return false;
    }
    if (source->kind_ == Kind::Overlay) {
        return source->scaleInto(image_, to, from);
    }
    if (to.width() == from.width() && to.height() == from.height()) {
        // Copying within one surface reads from a snapshot so overlapping parts stay right.
        const QImage snapshot = source == this ? image_.copy() : QImage();
        const QImage& pixels = source == this ? snapshot : source->image_;
        const qsizetype bpl = image_.bytesPerLine();
        videodetail::copyPixels(pixels.constBits() + from.top * pixels.bytesPerLine() +
                                    from.left * 4,
                                pixels.bytesPerLine(), image_.bits() + to.top * bpl + to.left * 4,
                                bpl, static_cast<int>(to.width()), static_cast<int>(to.height()));
        return true;
    }
    const QImage pixels = source->image_; // shared; painting into our own image detaches it
    QPainter painter(&image_);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(videodetail::toQRect(to), pixels, videodetail::toQRect(from));
    return true;
}

QPainter* VideoSurface::GetDC() {
    if (kind_ != Kind::Rgb) {
        return nullptr;
    }
    lock_.lock();
    if (painter_ != nullptr) {
        lock_.unlock();
        return nullptr;
    }
    painter_ = new QPainter(&image_);
    // Held until ReleaseDC so no other thread draws into or reads a half-painted surface.
    return painter_;
}

void VideoSurface::ReleaseDC(QPainter* painter) {
    if (painter == nullptr || painter != painter_) {
        return;
    }
    painter_->end();
    delete painter_;
    painter_ = nullptr;
    lock_.unlock();
}

QImage VideoSurface::toImage() const {
    std::lock_guard lock(lock_);
    if (kind_ == Kind::Rgb) {
        return image_.copy();
    }
    QImage out(width_, height_, QImage::Format_RGB32);
    SwsContext* context = sws_getContext(width_, height_, AV_PIX_FMT_YUV420P, width_, height_,
                                         AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (context == nullptr || out.isNull()) {
        sws_freeContext(context);
        return {};
    }
    const uint8_t* const src[4] = {plane_[0], plane_[1], plane_[2], nullptr};
    const int srcStride[4] = {stride_[0], stride_[1], stride_[2], 0};
    uint8_t* const dst[4] = {out.bits(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {static_cast<int>(out.bytesPerLine()), 0, 0, 0};
    sws_scale(context, src, srcStride, 0, height_, dst, dstStride);
    sws_freeContext(context);
    return out;
}
