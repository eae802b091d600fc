#include "SurfaceInternals.h"
#include "video/DDraw.h"

#include <QFont>
#include <QMetaObject>
#include <QPainter>
#include <QRegion>
#include <QWidget>

#include <algorithm>
#include <new>
#include <vector>

using videodetail::toQRect;

namespace {

std::atomic<uint64_t> nextViewSerial{1};

// What one thread saw at its last PlayYUV on one view.
struct SeenRecord {
    uint64_t view = 0;
    uint64_t layoutGeneration = 0;
    std::vector<uint64_t> epochs; // per pane; 0 = this thread never played into it
};

// A thread draws for a handful of views at most; older records make room for new ones.
constexpr size_t kSeenViews = 8;
thread_local std::vector<SeenRecord> seenRecords;

SeenRecord* findSeen(uint64_t view) {
    for (SeenRecord& record : seenRecords) {
        if (record.view == view) {
            return &record;
        }
    }
    return nullptr;
}

SeenRecord& recordSeen(uint64_t view, int panes) {
    if (SeenRecord* found = findSeen(view)) {
        return *found;
    }
    if (seenRecords.size() >= kSeenViews) {
        seenRecords.erase(seenRecords.begin());
    }
    SeenRecord& record = seenRecords.emplace_back();
    record.view = view;
    record.epochs.assign(static_cast<size_t>(panes), 0);
    return record;
}

// Boundary `i` of `n` equal cells over `extent` pixels; rounding spreads the remainder.
long cellEdge(int i, int n, int extent) {
    return static_cast<long>(static_cast<int64_t>(i) * extent / n);
}

// A cell spanning cells [col0, col1) x [row0, row1) of an n x n grid, less the 1 px gap kept on
// every side for borders.
RECT paneRect(int col0, int row0, int col1, int row1, int n, int width, int height) {
    RECT rect{cellEdge(col0, n, width) + 1, cellEdge(row0, n, height) + 1,
              cellEdge(col1, n, width) - 1, cellEdge(row1, n, height) - 1};
    rect.right = std::max(rect.right, rect.left);
    rect.bottom = std::max(rect.bottom, rect.top);
    return rect;
}

bool contains(const RECT& rect, long x, long y) {
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

RECT intersect(const RECT& a, const RECT& b) {
    RECT out{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom)};
    if (out.right <= out.left || out.bottom <= out.top) {
        return RECT{};
    }
    return out;
}

bool empty(const RECT& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

} // namespace

CDDrawView::CDDrawView(int totalPanes)
    : total_(std::clamp(totalPanes, 1, 4096)), serial_(nextViewSerial.fetch_add(1)),
      epochs_(std::make_unique<std::atomic<uint64_t>[]>(static_cast<size_t>(total_))) {
    for (int i = 0; i < total_; ++i) {
        epochs_[i].store(1, std::memory_order_relaxed);
    }
}

CDDrawView::~CDDrawView() {
    // The widget must stop painting while this object's state is still whole.
    releaseCanvas();
}

bool CDDrawView::validStyle(int style, int flag) {
    if (flag == 0) {
        return style == 1 || style == 4 || style == 9 || style == 16;
    }
    return flag == 1 && style == 10;
}

bool CDDrawView::SetWndStyle(int style, int flag) {
    if (!validStyle(style, flag)) {
        return false;
    }
    // The selected camera stays on screen: the page is the one that holds it.
    changeLayout(style, flag, selected_.load() / style, false);
    return true;
}

void CDDrawView::GetWndStyle(int* style, int* flag) const {
    std::shared_lock lock(layoutLock_);
    if (style != nullptr) {
        *style = style_;
    }
    if (flag != nullptr) {
        *flag = flag_;
    }
}

int CDDrawView::GetPanesPerPage() const {
    std::shared_lock lock(layoutLock_);
    return style_;
}

int CDDrawView::GetPageCount() const {
    std::shared_lock lock(layoutLock_);
    return (total_ + style_ - 1) / style_;
}

bool CDDrawView::ShowPage(int page) {
    int style = 0;
    int flag = 0;
    {
        std::shared_lock lock(layoutLock_);
        if (page < 0 || page >= (total_ + style_ - 1) / style_) {
            return false;
        }
        if (page == page_) {
            return true;
        }
        style = style_;
        flag = flag_;
    }
    changeLayout(style, flag, page, false);
    const int selected = selected_.load();
    if (selected / style != page) {
        selected_.store(page * style);
    }
    return true;
}

int CDDrawView::GetNowPage() const {
    std::shared_lock lock(layoutLock_);
    return page_;
}

void CDDrawView::ReSetSCRect() {
    int style = 0;
    int flag = 0;
    int page = 0;
    {
        std::shared_lock lock(layoutLock_);
        style = style_;
        flag = flag_;
        page = page_;
    }
    changeLayout(style, flag, page, true);
}

void CDDrawView::canvasResized() {
    ReSetSCRect();
}

void CDDrawView::changeLayout(int style, int flag, int page, bool keepVideo) {
    QWidget* canvas = widget();
    const int width = canvas != nullptr ? canvas->width() : 0;
    const int height = canvas != nullptr ? canvas->height() : 0;
    {
        std::unique_lock lock(layoutLock_);
        if (keepVideo && style == style_ && flag == flag_ && page == page_ && width == viewWidth_ &&
            height == viewHeight_) {
            return; // nothing moved: pictures drawn for the current rectangles stay valid
        }
        style_ = style;
        flag_ = flag;
        page_ = page;
        viewWidth_ = width;
        viewHeight_ = height;
        computeRects();
        if (!reserveBackBuffer(width, height)) {
            viewWidth_ = 0;
            viewHeight_ = 0;
        }
        // Rectangles moved (or show other cameras): what was drawn is void, and so is every
        // draw prepared for the old rectangles.
        ++layoutGeneration_;
        for (int i = 0; i < total_; ++i) {
            epochs_[i].store(epochCounter_.fetch_add(1) + 1);
        }
        for (int s = 0; s < kMaxSlots; ++s) {
            Slot& slot = slots_[s];
            if (s < slotCount_ && viewWidth_ > 0) {
                fillRect(rects_[s], videodetail::kBackground);
            }
            if (!keepVideo) {
                slot.hasVideo = false;
            }
            slot.dirty.store(false);
        }
    }
    if (canvas != nullptr) {
        canvas->update();
    }
}

void CDDrawView::computeRects() {
    rects_.fill(RECT{});
    slotCount_ = style_;
    if (viewWidth_ <= 0 || viewHeight_ <= 0) {
        return;
    }
    if (style_ == 10) {
        constexpr int n = 5;
        rects_[0] = paneRect(0, 0, 4, 4, n, viewWidth_, viewHeight_);
        for (int row = 0; row < 4; ++row) {
            rects_[1 + row] = paneRect(4, row, 5, row + 1, n, viewWidth_, viewHeight_);
        }
        for (int col = 0; col < 5; ++col) {
            rects_[5 + col] = paneRect(col, 4, col + 1, 5, n, viewWidth_, viewHeight_);
        }
        return;
    }
    const int n = style_ == 1 ? 1 : style_ == 4 ? 2 : style_ == 9 ? 3 : 4;
    for (int s = 0; s < style_; ++s) {
        const int row = s / n;
        const int col = s % n;
        rects_[s] = paneRect(col, row, col + 1, row + 1, n, viewWidth_, viewHeight_);
    }
}

bool CDDrawView::reserveBackBuffer(int width, int height) {
    if (width <= backWidth_ && height <= backHeight_) {
        return true;
    }
    // Grown once to the expected largest size, so dragging a window's edge does not reallocate
    // on every step.
    const int newWidth = std::max({width, sizeHintWidth(), backWidth_});
    const int newHeight = std::max({height, sizeHintHeight(), backHeight_});
    const int stride = (newWidth + 15) & ~15;
    back_.reset();
    backWidth_ = backHeight_ = backStride_ = 0;
    back_.reset(new (std::nothrow) uint32_t[static_cast<size_t>(stride) * newHeight]);
    if (!back_) {
        return false;
    }
    backWidth_ = newWidth;
    backHeight_ = newHeight;
    backStride_ = stride;
    return true;
}

uint32_t* CDDrawView::pixelAt(long x, long y) const {
    return back_.get() + static_cast<ptrdiff_t>(y) * backStride_ + x;
}

void CDDrawView::fillRect(const RECT& rect, uint32_t rgb) const {
    if (empty(rect)) {
        return;
    }
    for (long y = rect.top; y < rect.bottom; ++y) {
        std::fill_n(pixelAt(rect.left, y), rect.width(), rgb);
    }
}

int CDDrawView::slotAt(long x, long y) const {
    for (int s = 0; s < slotCount_; ++s) {
        if (contains(rects_[s], x, y)) {
            return s;
        }
    }
    return -1;
}

bool CDDrawView::GetPaneRect(int pane, RECT* rect) const {
    std::shared_lock lock(layoutLock_);
    const int slot = pane - page_ * style_;
    if (pane < 0 || pane >= total_ || slot < 0 || slot >= slotCount_ || empty(rects_[slot])) {
        return false;
    }
    if (rect != nullptr) {
        *rect = rects_[slot];
    }
    return true;
}

int CDDrawView::GetSelectWndID() const {
    return selected_.load();
}

int CDDrawView::GetWndID(POINT point) const {
    std::shared_lock lock(layoutLock_);
    const int slot = slotAt(point.x, point.y);
    if (slot < 0) {
        return -1;
    }
    const int pane = page_ * style_ + slot;
    return pane < total_ ? pane : -1;
}

bool CDDrawView::DrawSelectBorder(int pane) {
    if (!GetPaneRect(pane, nullptr)) {
        return false;
    }
    selected_.store(pane);
    DrawBorder();
    return true;
}

bool CDDrawView::DrawSelectBorder(POINT point) {
    const int pane = GetWndID(point);
    return pane >= 0 && DrawSelectBorder(pane);
}

void CDDrawView::DrawBorder() {
    // Borders and the selection are painted with every repaint; only a repaint is needed.
    if (QWidget* canvas = widget(); canvas != nullptr && onUiThread()) {
        canvas->update();
    }
}

void CDDrawView::ClearScreen(COLORREF colour) {
    for (int pane = 0; pane < total_; ++pane) {
        clearPane(pane, videodetail::rgbOf(colour));
    }
    requestPresent();
}

void CDDrawView::ClearScreen(int pane, COLORREF colour) {
    if (pane < 0 || pane >= total_) {
        return;
    }
    clearPane(pane, videodetail::rgbOf(colour));
    requestPresent();
}

void CDDrawView::clearPane(int pane, uint32_t rgb) {
    std::shared_lock lock(layoutLock_);
    const int s = pane - page_ * style_;
    if (s < 0 || s >= slotCount_ || viewWidth_ <= 0) {
        // Not on screen: only draws still in flight for it need stopping.
        epochs_[pane].store(epochCounter_.fetch_add(1) + 1);
        return;
    }
    Slot& slot = slots_[s];
    // Under the slot's lock, so a draw either lands before the clear (and is wiped) or checks
    // the new epoch and is dropped.
    std::lock_guard slotLock(slot.lock);
    epochs_[pane].store(epochCounter_.fetch_add(1) + 1);
    fillRect(rects_[s], rgb);
    slot.hasVideo = false;
    slot.dirty.store(true);
}

VideoSurface* CDDrawView::PlayYUV(const uint8_t* y, const uint8_t* u, const uint8_t* v, int pane,
                                  VideoSurface* overlay, int sourceX, int sourceY, int width,
                                  int height, RECT* paneRect) {
    if (y == nullptr || u == nullptr || v == nullptr || overlay == nullptr ||
        overlay->kind() != VideoSurface::Kind::Overlay ||
        !videodetail::sizeInRange(width, height) || sourceX < 0 || sourceY < 0 ||
        sourceX >= width || sourceY >= height || pane < 0 || pane >= total_) {
        return nullptr;
    }
    RECT rect;
    {
        std::shared_lock lock(layoutLock_);
        const int slot = pane - page_ * style_;
        if (slot < 0 || slot >= slotCount_ || viewWidth_ <= 0 || empty(rects_[slot])) {
            return nullptr;
        }
        rect = rects_[slot];
        SeenRecord& seen = recordSeen(serial_, total_);
        seen.layoutGeneration = layoutGeneration_;
        seen.epochs[static_cast<size_t>(pane)] = epochs_[pane].load();
    }

    const int left = sourceX & ~1;
    const int top = sourceY & ~1;
    const int outW = width - left;
    const int outH = height - top;
    const int inChromaW = (width + 1) / 2;
    {
        std::lock_guard lock(overlay->lock_);
        if ((overlay->width_ != outW || overlay->height_ != outH) &&
            !overlay->allocatePlanes(outW, outH)) {
            return nullptr;
        }
        const ptrdiff_t chromaStart = static_cast<ptrdiff_t>(top / 2) * inChromaW + left / 2;
        overlay->storePicture({y + static_cast<ptrdiff_t>(top) * width + left, u + chromaStart,
                               v + chromaStart},
                              {width, inChromaW, inChromaW});
    }
    if (paneRect != nullptr) {
        *paneRect = rect;
    }
    return overlay;
}

bool CDDrawView::DDsfDrawToDDBack(const RECT* dest, VideoSurface* source, const RECT* sourceRect) {
    if (dest == nullptr || source == nullptr || empty(*dest)) {
        return false;
    }
    std::lock_guard sourceLock(source->lock_);
    RECT from = sourceRect != nullptr ? *sourceRect : RECT{0, 0, source->width_, source->height_};
    if (empty(from) || from.left < 0 || from.top < 0 || from.right > source->width_ ||
        from.bottom > source->height_) {
        return false;
    }
    const QImage* pixels = &source->image_;
    QImage converted;
    if (source->kind() == VideoSurface::Kind::Overlay) {
        // Converted at the destination's size before any lock of the view is taken.
        converted = QImage(static_cast<int>(dest->width()), static_cast<int>(dest->height()),
                           QImage::Format_RGB32);
        const RECT whole{0, 0, dest->width(), dest->height()};
        if (converted.isNull() || !source->scaleInto(converted, whole, from)) {
            return false;
        }
        pixels = &converted;
        from = whole;
    }

    std::shared_lock layout(layoutLock_);
    if (viewWidth_ <= 0) {
        return false;
    }
    const int s = slotAt(dest->left + dest->width() / 2, dest->top + dest->height() / 2);
    const int pane = page_ * style_ + s;
    if (s < 0 || pane >= total_) {
        return false;
    }
    const SeenRecord* seen = findSeen(serial_);
    if (seen != nullptr && seen->layoutGeneration != layoutGeneration_) {
        return false; // the rectangle was handed out for a layout that is gone
    }
    Slot& slot = slots_[s];
    std::lock_guard slotLock(slot.lock);
    const uint64_t sawEpoch = seen != nullptr ? seen->epochs[static_cast<size_t>(pane)] : 0;
    if (sawEpoch != 0 && sawEpoch < epochs_[pane].load()) {
        return false; // cleared since this thread's picture was taken
    }
    const RECT clip = intersect(*dest, rects_[s]);
    const qsizetype backBytesPerLine = static_cast<qsizetype>(backStride_) * 4;
    if (dest->width() == from.width() && dest->height() == from.height()) {
        const uchar* start = pixels->constBits() +
                             (from.top + clip.top - dest->top) * pixels->bytesPerLine() +
                             (from.left + clip.left - dest->left) * 4;
        videodetail::copyPixels(
            start, pixels->bytesPerLine(), reinterpret_cast<uchar*>(pixelAt(clip.left, clip.top)),
            backBytesPerLine, static_cast<int>(clip.width()), static_cast<int>(clip.height()));
    } else {
        QImage back(reinterpret_cast<uchar*>(back_.get()), backWidth_, backHeight_,
                    backBytesPerLine, QImage::Format_RGB32);
        QPainter painter(&back);
        painter.setClipRect(toQRect(clip));
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(toQRect(*dest), *pixels, toQRect(from));
    }
    slot.hasVideo = true;
    slot.dirty.store(true);
    return true;
}

void CDDrawView::Flip() {
    requestPresent();
}

void CDDrawView::requestPresent() {
    if (onUiThread()) {
        present();
        return;
    }
    QObject* context = uiContext();
    // One posted call at a time: a busy UI thread must not collect a queue of them.
    if (context != nullptr && !presentPending_.exchange(true)) {
        QMetaObject::invokeMethod(
            context,
            [this] {
                presentPending_.store(false);
                present();
            },
            Qt::QueuedConnection);
    }
}

void CDDrawView::present() {
    QWidget* canvas = widget();
    if (canvas == nullptr) {
        return;
    }
    std::shared_lock lock(layoutLock_);
    for (int s = 0; s < slotCount_; ++s) {
        if (slots_[s].dirty.exchange(false)) {
            // With the 1 px around it, where its border is.
            canvas->update(toQRect(rects_[s]).adjusted(-1, -1, 1, 1));
        }
    }
}

QImage CDDrawView::grabBackBuffer() const {
    std::shared_lock lock(layoutLock_);
    if (viewWidth_ <= 0 || viewHeight_ <= 0) {
        return {};
    }
    QImage out(viewWidth_, viewHeight_, QImage::Format_RGB32);
    out.fill(videodetail::kBackground);
    for (int s = 0; s < slotCount_; ++s) {
        const RECT& rect = rects_[s];
        if (empty(rect)) {
            continue;
        }
        std::lock_guard slotLock(slots_[s].lock);
        videodetail::copyPixels(reinterpret_cast<const uchar*>(pixelAt(rect.left, rect.top)),
                                static_cast<qsizetype>(backStride_) * 4,
                                out.bits() + rect.top * out.bytesPerLine() + rect.left * 4,
                                out.bytesPerLine(), static_cast<int>(rect.width()),
                                static_cast<int>(rect.height()));
    }
    return out;
}

void CDDrawView::paintCanvas(QPainter& painter, const QRegion& region) {
    std::shared_lock lock(layoutLock_);
    QRegion background = region;
    for (int s = 0; s < slotCount_; ++s) {
        background -= toQRect(rects_[s]);
    }
    for (const QRect& rect : background) {
        painter.fillRect(rect, QColor::fromRgb(videodetail::kBackground));
    }
    if (viewWidth_ <= 0) {
        return;
    }
    const qsizetype backBytesPerLine = static_cast<qsizetype>(backStride_) * 4;
    for (int s = 0; s < slotCount_; ++s) {
        const QRect rect = toQRect(rects_[s]);
        const int pane = page_ * style_ + s;
        if (rect.isEmpty() || !region.intersects(rect.adjusted(-1, -1, 1, 1))) {
            continue;
        }
        bool hasVideo = false;
        if (region.intersects(rect)) {
            Slot& slot = slots_[s];
            std::lock_guard slotLock(slot.lock);
            // A view of the slot's pixels, read while no thread can write them.
            const QImage pixels(reinterpret_cast<const uchar*>(pixelAt(rect.left(), rect.top())),
                                rect.width(), rect.height(), backBytesPerLine,
                                QImage::Format_RGB32);
            painter.drawImage(rect.topLeft(), pixels);
            hasVideo = slot.hasVideo;
        }
        if (!hasVideo && pane < total_ && region.intersects(rect)) {
            paintLabel(painter, rect, pane);
        }
        painter.setPen(QColor::fromRgb(videodetail::kBorder));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect.adjusted(-1, -1, 0, 0));
    }
    const int selectedSlot = selected_.load() - page_ * style_;
    if (selectedSlot >= 0 && selectedSlot < slotCount_ && !empty(rects_[selectedSlot])) {
        // Two pixels: the gap around the pane and the pane's own outermost line.
        const QRect r = toQRect(rects_[selectedSlot]).adjusted(-1, -1, 1, 1);
        const QColor accent = QColor::fromRgb(videodetail::kAccent);
        painter.fillRect(QRect(r.left(), r.top(), r.width(), 2), accent);
        painter.fillRect(QRect(r.left(), r.bottom() - 1, r.width(), 2), accent);
        painter.fillRect(QRect(r.left(), r.top(), 2, r.height()), accent);
        painter.fillRect(QRect(r.right() - 1, r.top(), 2, r.height()), accent);
    }
}

void CDDrawView::paintLabel(QPainter& painter, const QRect& rect, int pane) const {
    // The pane's number as operators count (from 1), with "No video" under it where it fits.
    const int numberSize = std::clamp(rect.height() / 7, 10, 36);
    QFont font = painter.font();
    font.setPixelSize(numberSize);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(videodetail::kLabelNumber));
    const bool withText = rect.height() >= 4 * numberSize && rect.width() >= 80;
    const int textSize = std::clamp(numberSize / 2, 10, 14);
    const int block = withText ? numberSize + textSize + 6 : numberSize;
    const int top = rect.top() + (rect.height() - block) / 2;
    painter.drawText(QRect(rect.left(), top, rect.width(), numberSize + 4),
                     Qt::AlignHCenter | Qt::AlignTop, QString::number(pane + 1));
    if (withText) {
        font.setPixelSize(textSize);
        font.setWeight(QFont::Normal);
        painter.setFont(font);
        painter.setPen(QColor::fromRgb(videodetail::kLabelText));
        painter.drawText(QRect(rect.left(), top + numberSize + 6, rect.width(), textSize + 4),
                         Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("No video"));
    }
}
