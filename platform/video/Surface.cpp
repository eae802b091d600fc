#include "HalfPlane.h"
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

// One source size to one destination size. Growing is one bilinear pass straight to RGB. Shrinking
// is two: area averaging in I420 down to the destination size, then the plain colour conversion
// at that size. libswscale's scaled path to RGB converts every source-sized line it filters,
// while its same-size conversion is its fastest vector code: for a 720p camera in a pane of a
// 4x4 grid the two passes cost half of the one, and area averaging keeps fine detail from
// aliasing where bilinear skips over it.
struct VideoSurface::Scaler {
    SwsContext* context = nullptr;
    SwsContext* toRgb = nullptr; // shrinking only
    uint8_t* reduced = nullptr;  // shrinking only: the I420 planes at the destination size
    std::array<uint8_t*, 3> reducedPlane{};
    std::array<int, 3> reducedStride{};
    // The same-size conversion's vector code works in blocks of 8 pixels: it writes up to 7
    // pixels past a row whose width is not a multiple of 8 when the row has room, and leaves them
    // unconverted when it has not. Such widths convert into this block and are copied out.
    uint8_t* rgbRows = nullptr;
    int rgbStride = 0;
    int srcW = 0;
    int srcH = 0;
    int dstW = 0;
    int dstH = 0;

    void reset() {
        sws_freeContext(context);
        sws_freeContext(toRgb);
        av_free(reduced);
        av_free(rgbRows);
        *this = Scaler{};
    }
};

// Planes of an overlay picture and a cut of them in their own coordinates.
struct VideoSurface::PlaneCut {
    std::array<const uint8_t*, 3> plane{};
    std::array<int, 3> stride{};
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The picture halved once and twice. A 720p or 1080p camera in a pane of a 4 x 4 grid is scaled
// from these, made once per picture however many times it is drawn.
struct VideoSurface::Halves {
    struct Level {
        uint8_t* block = nullptr;
        std::array<uint8_t*, 3> plane{};
        std::array<int, 3> stride{};
        int width = 0;
        int height = 0;
        uint64_t content = 0; // the picture it was made from
    };
    std::array<Level, 2> levels;

    ~Halves() {
        for (Level& level : levels) {
            av_free(level.block);
        }
    }
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
            scalers_[i].reset();
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
    halves_.reset();
    contentChanged();
    plane_ = {block, block + lumaBytes, block + lumaBytes + chromaBytes};
    stride_ = {strideY, strideC, strideC};
    width_ = width;
    height_ = height;
    // Scalers are keyed by the source size, so the old ones would never match again.
    if (scalers_) {
        for (int i = 0; i < kScalers; ++i) {
            scalers_[i].reset();
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
    contentChanged();
    std::memset(plane_[0], y, static_cast<size_t>(stride_[0]) * height_);
    std::memset(plane_[1], u, static_cast<size_t>(stride_[1]) * chromaH);
    std::memset(plane_[2], v, static_cast<size_t>(stride_[2]) * chromaH);
}

VideoSurface::Scaler* VideoSurface::scalerFor(int srcW, int srcH, int dstW, int dstH) {
    if (!scalers_) {
        scalers_ = std::make_unique<Scaler[]>(kScalers);
    }
    for (int i = 0; i < kScalers; ++i) {
        Scaler& s = scalers_[i];
        if (s.context != nullptr && s.srcW == srcW && s.srcH == srcH && s.dstW == dstW &&
            s.dstH == dstH) {
            return &s;
        }
    }
    // A camera's picture usually goes to one or two sizes (its pane, a full-screen pane), so a
    // few entries replaced in turn are enough.
    Scaler& slot = scalers_[nextScaler_];
    nextScaler_ = (nextScaler_ + 1) % kScalers;
    slot.reset();
    const bool shrinking = int64_t{dstW} * dstH < int64_t{srcW} * srcH;
    if (!shrinking) {
        slot.context = sws_getContext(srcW, srcH, AV_PIX_FMT_YUV420P, dstW, dstH, AV_PIX_FMT_RGB32,
                                      SWS_BILINEAR, nullptr, nullptr, nullptr);
    } else {
        const int chromaW = (dstW + 1) / 2;
        const int chromaH = (dstH + 1) / 2;
        const int strideY = alignedStride(dstW);
        const int strideC = alignedStride(chromaW);
        const size_t lumaBytes = static_cast<size_t>(strideY) * dstH;
        const size_t chromaBytes = static_cast<size_t>(strideC) * chromaH;
        slot.reduced = static_cast<uint8_t*>(av_malloc(lumaBytes + 2 * chromaBytes));
        slot.context = sws_getContext(srcW, srcH, AV_PIX_FMT_YUV420P, dstW, dstH,
                                      AV_PIX_FMT_YUV420P, SWS_AREA, nullptr, nullptr, nullptr);
        slot.toRgb = sws_getContext(dstW, dstH, AV_PIX_FMT_YUV420P, dstW, dstH, AV_PIX_FMT_RGB32,
                                    SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (dstW % 8 != 0) {
            slot.rgbStride = alignedStride(((dstW + 7) & ~7) * 4);
            slot.rgbRows = static_cast<uint8_t*>(av_malloc(static_cast<size_t>(slot.rgbStride) * dstH));
        }
        if (slot.reduced == nullptr || slot.toRgb == nullptr ||
            (dstW % 8 != 0 && slot.rgbRows == nullptr)) {
            slot.reset();
            return nullptr;
        }
        slot.reducedPlane = {slot.reduced, slot.reduced + lumaBytes,
                             slot.reduced + lumaBytes + chromaBytes};
        slot.reducedStride = {strideY, strideC, strideC};
    }
    if (slot.context == nullptr) {
        slot.reset();
        return nullptr;
    }
    slot.srcW = srcW;
    slot.srcH = srcH;
    slot.dstW = dstW;
    slot.dstH = dstH;
    return &slot;
}

void VideoSurface::storePicture(const std::array<const uint8_t*, 3>& from,
                                const std::array<int, 3>& fromStride) {
    contentChanged();
    const int chromaW = (width_ + 1) / 2;
    const int chromaH = (height_ + 1) / 2;
    // The first halving is made along with the copy when the last picture needed one: a camera
    // in a small pane keeps needing it, one going full screen stops.
    Halves::Level* half = halves_ ? &halves_->levels[0] : nullptr;
    if (half == nullptr || half->block == nullptr || half->content + 1 != content_ ||
        half->width != (width_ + 1) / 2 || half->height != (height_ + 1) / 2) {
        videodetail::copyPlane(from[0], fromStride[0], plane_[0], stride_[0], width_, height_);
        videodetail::copyPlane(from[1], fromStride[1], plane_[1], stride_[1], chromaW, chromaH);
        videodetail::copyPlane(from[2], fromStride[2], plane_[2], stride_[2], chromaW, chromaH);
        return;
    }
    videodetail::copyAndHalvePlane(from[0], fromStride[0], width_, height_, plane_[0], stride_[0],
                                   half->plane[0], half->stride[0]);
    for (size_t p = 1; p < 3; ++p) {
        videodetail::copyAndHalvePlane(from[p], fromStride[p], chromaW, chromaH, plane_[p],
                                       stride_[p], half->plane[p], half->stride[p]);
    }
    half->content = content_;
}

VideoSurface::PlaneCut VideoSurface::reducedFor(const RECT& source, int dstW, int dstH) {
    // Chroma covers 2 x 2 pixels, so a cut may only start on even coordinates.
    PlaneCut cut{{plane_[0], plane_[1], plane_[2]},
                 stride_,
                 static_cast<int>(source.left) & ~1,
                 static_cast<int>(source.top) & ~1,
                 static_cast<int>(source.right),
                 static_cast<int>(source.bottom)};
    int width = width_;
    int height = height_;
    for (size_t depth = 0; depth < 2; ++depth) {
        // A halving keeps the cut on chroma boundaries only if it starts on a multiple of 4.
        const bool halve = cut.right - cut.left >= 2 * dstW && cut.bottom - cut.top >= 2 * dstH &&
                           cut.left % 4 == 0 && cut.top % 4 == 0;
        if (!halve) {
            break;
        }
        if (!halves_) {
            halves_ = std::make_unique<Halves>();
        }
        Halves::Level& level = halves_->levels[depth];
        const int halfW = (width + 1) / 2;
        const int halfH = (height + 1) / 2;
        if (level.block == nullptr || level.width != halfW || level.height != halfH) {
            const int chromaW = (halfW + 1) / 2;
            const int chromaH = (halfH + 1) / 2;
            const int strideY = alignedStride(halfW);
            const int strideC = alignedStride(chromaW);
            const size_t lumaBytes = static_cast<size_t>(strideY) * halfH;
            const size_t chromaBytes = static_cast<size_t>(strideC) * chromaH;
            av_free(level.block);
            level = Halves::Level{};
            level.block = static_cast<uint8_t*>(av_malloc(lumaBytes + 2 * chromaBytes));
            if (level.block == nullptr) {
                break;
            }
            level.plane = {level.block, level.block + lumaBytes,
                           level.block + lumaBytes + chromaBytes};
            level.stride = {strideY, strideC, strideC};
            level.width = halfW;
            level.height = halfH;
        }
        if (level.content != content_) {
            videodetail::halvePlane(cut.plane[0], cut.stride[0], width, height, level.plane[0],
                                    level.stride[0]);
            for (size_t p = 1; p < 3; ++p) {
                videodetail::halvePlane(cut.plane[p], cut.stride[p], (width + 1) / 2,
                                        (height + 1) / 2, level.plane[p], level.stride[p]);
            }
            level.content = content_;
        }
        cut = PlaneCut{{level.plane[0], level.plane[1], level.plane[2]},
                       level.stride,
                       cut.left / 2,
                       cut.top / 2,
                       (cut.right + 1) / 2,
                       (cut.bottom + 1) / 2};
        width = halfW;
        height = halfH;
    }
    return cut;
}

bool VideoSurface::scaleInto(QImage& target, const RECT& dest, const RECT& source) {
    const int dstW = static_cast<int>(dest.width());
    const int dstH = static_cast<int>(dest.height());
    const PlaneCut cut = reducedFor(source, dstW, dstH);
    const int srcW = cut.right - cut.left;
    const int srcH = cut.bottom - cut.top;
    Scaler* scaler = scalerFor(srcW, srcH, dstW, dstH);
    if (scaler == nullptr) {
        return false;
    }
    const uint8_t* const src[4] = {
        cut.plane[0] + static_cast<ptrdiff_t>(cut.top) * cut.stride[0] + cut.left,
        cut.plane[1] + static_cast<ptrdiff_t>(cut.top / 2) * cut.stride[1] + cut.left / 2,
        cut.plane[2] + static_cast<ptrdiff_t>(cut.top / 2) * cut.stride[2] + cut.left / 2,
        nullptr};
    const int srcStride[4] = {cut.stride[0], cut.stride[1], cut.stride[2], 0};
    const qsizetype bpl = target.bytesPerLine();
    uint8_t* const dst[4] = {target.bits() + dest.top * bpl + dest.left * 4, nullptr, nullptr,
                             nullptr};
    const int dstStride[4] = {static_cast<int>(bpl), 0, 0, 0};
    if (scaler->toRgb == nullptr) {
        return sws_scale(scaler->context, src, srcStride, 0, srcH, dst, dstStride) == dstH;
    }
    uint8_t* const reduced[4] = {scaler->reducedPlane[0], scaler->reducedPlane[1],
                                 scaler->reducedPlane[2], nullptr};
    const int reducedStride[4] = {scaler->reducedStride[0], scaler->reducedStride[1],
                                  scaler->reducedStride[2], 0};
    if (sws_scale(scaler->context, src, srcStride, 0, srcH, reduced, reducedStride) != dstH) {
        return false;
    }
    const uint8_t* const from[4] = {reduced[0], reduced[1], reduced[2], nullptr};
    if (scaler->rgbRows == nullptr) {
        return sws_scale(scaler->toRgb, from, reducedStride, 0, dstH, dst, dstStride) == dstH;
    }
    uint8_t* const rows[4] = {scaler->rgbRows, nullptr, nullptr, nullptr};
    const int rowStride[4] = {scaler->rgbStride, 0, 0, 0};
    if (sws_scale(scaler->toRgb, from, reducedStride, 0, dstH, rows, rowStride) != dstH) {
        return false;
    }
    videodetail::copyPixels(scaler->rgbRows, scaler->rgbStride, dst[0], bpl, dstW, dstH);
    return true;
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
