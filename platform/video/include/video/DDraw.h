#pragma once

// Drawing of camera pictures: surfaces that hold a decoded picture or a composed RGB image, and a
// view that shows many cameras side by side in one window (the split-screen grid of the live view,
// or the single pane of playback).
//
// How a client draws one camera frame into pane `p`:
//   1. PlayYUV(y, u, v, p, overlay, ...) copies the decoded I420 picture into the camera's overlay
//      surface and tells the pane's rectangle in the view's widget.
//   2. It makes an RGB surface of the pane's size, clears it, Blts the overlay into the part that
//      keeps the picture's aspect ratio, and may paint status marks on it through GetDC().
//   3. DDsfDrawToDDBack(paneRect, rgbSurface, nullptr) puts it into the back buffer.
//   4. Flip() (usually from a refresh thread every 20 ms) has the widget repaint what changed.
//
// Threads: surfaces, PlayYUV, Blt, DDsfDrawToDDBack, ClearScreen and Flip may be called from any
// thread at once. None of them waits for the UI thread; their locks cover only short copies. The
// layout calls (InitDDraw7, SetWndStyle, ShowPage, ReSetSCRect, DrawSelectBorder, DrawBorder) and
// the view's destruction belong to the UI thread; destroy a view only after the threads that draw
// into it stopped.
//
// A pane is never shown half written: writing a pane's part of the back buffer and painting it
// exclude each other. A picture never lands in a pane after the pane was cleared or the layout
// changed under it: each pane has an epoch that ClearScreen and every layout change advance;
// PlayYUV remembers, for the calling thread, the epoch it saw, and a later DDsfDrawToDDBack from
// that thread into that pane is dropped when the epoch moved on since. The same holds for a
// thread whose last PlayYUV on the view came before a layout change (page, split, size), since
// the rectangle it was given may now belong to another camera. A thread that never called
// PlayYUV on the view (the UI thread drawing a placeholder, say) is not held back.

#include "sys/WinTypes.h"

#include <QImage>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

class QPainter;
class QObject;
class QRect;
class QRegion;
class QWidget;
struct SwsContext;

// A picture held for drawing; reference counted (created with one reference, freed when the last
// Release() drops it). Two kinds:
//   overlay: one I420 picture at the surface's size, what a decoder produces; a source only.
//   RGB:     a QImage of Format_RGB32, the target of composition.
// A surface may be used from several threads: every call locks it for its duration.
class VideoSurface {
public:
    enum class Kind { Overlay, Rgb };

    VideoSurface(const VideoSurface&) = delete;
    VideoSurface& operator=(const VideoSurface&) = delete;

    void AddRef();
    void Release();

    int width() const;
    int height() const;
    Kind kind() const { return kind_; }

    // Copies `source` (all of it when sourceRect is null) scaled into `dest` of this surface (all
    // of it when null). This surface must be RGB. From an overlay the colour conversion and the
    // scaling are done by libswscale straight into this surface (bilinear when growing, area
    // averaging when shrinking), with the scaler kept by the source for the next frame of the
    // same sizes. Rectangles must lie inside their
    // surfaces and not be empty; a source rectangle on an overlay starts at even coordinates
    // (rounded down) since chroma is subsampled. `flags` is reserved; pass 0. False when refused.
    bool Blt(const RECT* dest, VideoSurface* source, const RECT* sourceRect, unsigned flags);

    // A painter on an RGB surface (null for an overlay or while one is already out). The surface
    // stays locked for other threads until ReleaseDC, which the same thread must call; Blt into
    // it in between is refused.
    QPainter* GetDC();
    void ReleaseDC(QPainter* painter);

    // A copy of the picture as RGB32 (an overlay is converted at its own size); for inspection.
    QImage toImage() const;

private:
    friend class CDDraw;
    friend class CDDrawView;
    struct Scaler;
    static constexpr int kScalers = 4;
    struct Halves;
    struct PlaneCut;

    VideoSurface(Kind kind, int width, int height);
    ~VideoSurface();

    bool allocatePlanes(int width, int height); // overlay only; caller holds lock_
    void fill(uint32_t rgb);                    // caller holds lock_
    Scaler* scalerFor(int srcW, int srcH, int dstW, int dstH);            // caller holds lock_
    bool scaleInto(QImage& target, const RECT& dest, const RECT& source); // caller holds both
    PlaneCut reducedFor(const RECT& source, int dstW, int dstH);         // caller holds lock_
    void contentChanged() { ++content_; }                                 // caller holds lock_
    // A new picture into an overlay (its size set already); caller holds lock_.
    void storePicture(const std::array<const uint8_t*, 3>& from,
                      const std::array<int, 3>& fromStride);

    const Kind kind_;
    std::atomic<int> refs_{1};
    mutable std::recursive_mutex lock_;
    int width_ = 0;
    int height_ = 0;
    // Overlay: Y, U, V planes in one aligned block.
    uint8_t* planes_ = nullptr;
    std::array<uint8_t*, 3> plane_{};
    std::array<int, 3> stride_{};
    std::unique_ptr<Scaler[]> scalers_;
    int nextScaler_ = 0;
    std::unique_ptr<Halves> halves_; // the picture halved for small panes, made on demand
    uint64_t content_ = 1;           // changes with every new picture in the planes
    // RGB
    QImage image_;
    QPainter* painter_ = nullptr;
};

class VideoCanvas;

// The window a view draws into and the surfaces it uses.
class CDDraw {
public:
    CDDraw();
    virtual ~CDDraw();
    CDDraw(const CDDraw&) = delete;
    CDDraw& operator=(const CDDraw&) = delete;

    // Creates the drawing widget as a child filling `window`, following its resizes. width and
    // height (1..8192) are the largest size expected, to size the back buffer once; it grows if
    // the window gets bigger still. Calling it again moves drawing to the new window.
    bool InitDDraw7(QWidget* window, int width, int height);
    bool CreateClipper(QWidget* window);

    // Sizes 1..8192; null otherwise. Surfaces start black.
    VideoSurface* CreatOverlaySurface(int width, int height);
    VideoSurface* CreatEmptySurface(int width, int height);
    void Clrscr(VideoSurface* surface, COLORREF colour);

    // The drawing widget (null before InitDDraw7), for event filters and mouse handling.
    QWidget* widget() const;

protected:
    friend class VideoCanvas;
    // Called on the UI thread by the drawing widget.
    virtual void paintCanvas(QPainter& painter, const QRegion& region);
    virtual void canvasResized() {}

    bool onUiThread() const;
    void releaseCanvas();
    // Lives on the UI thread as long as this object: the target of calls posted from others.
    QObject* uiContext() const { return uiContext_.get(); }
    int sizeHintWidth() const { return hintWidth_; }
    int sizeHintHeight() const { return hintHeight_; }

private:
    VideoCanvas* canvas_ = nullptr; // a child of the window; cleared if destroyed with it
    std::unique_ptr<QObject> uiContext_;
    int hintWidth_ = 0;
    int hintHeight_ = 0;
};

// One drawing window split into panes. Panes have global ids 0..totalPanes-1; a page shows
// perPage of them (panes page*perPage ...), in slots numbered like the panes on page 0.
//
// Styles (SetWndStyle(style, flag)):
//   1, 4, 9, 16 with flag 0: n x n equal panes, row by row.
//   10 with flag 1: one large pane and nine small ones on a 5 x 5 grid. Pane 0 takes the 4 x 4
//   cells at the top left; panes 1-4 are the right column from top to bottom; panes 5-9 the
//   bottom row from left to right (its last cell is the bottom-right corner).
// Each pane keeps 1 px free on every side, so neighbours are 2 px apart; borders are drawn there.
class CDDrawView : public CDDraw {
public:
    static constexpr int kMaxSlots = 16;

    explicit CDDrawView(int totalPanes = 64);
    ~CDDrawView() override;

    bool SetWndStyle(int style, int flag); // false (and no change) for other combinations
    void GetWndStyle(int* style, int* flag) const;
    int GetPanesPerPage() const;
    int GetPageCount() const;
    int GetTotalPanes() const { return total_; }

    // Shows panes page*perPage...; false for a page that does not exist. A new page starts
    // empty. Changing the split keeps the selected pane on screen.
    bool ShowPage(int page);
    int GetNowPage() const;
    // Recomputes pane rectangles from the widget's size (done on every resize too).
    void ReSetSCRect();
    // The rectangle of a pane shown now, in widget coordinates; false when not shown or empty.
    bool GetPaneRect(int pane, RECT* rect) const;

    int GetSelectWndID() const;
    int GetWndID(POINT point) const; // -1 in gaps, outside, or over a slot with no pane
    bool DrawSelectBorder(int pane); // selects a shown pane; false otherwise
    bool DrawSelectBorder(POINT point);
    void DrawBorder();

    void ClearScreen(COLORREF colour);
    void ClearScreen(int pane, COLORREF colour);

    // Copies a width x height I420 picture (rows packed; U and V of (width+1)/2 x (height+1)/2)
    // into `overlay`, resizing it when its size differs, and sets *paneRect to the pane's
    // rectangle. (sourceX, sourceY), rounded down to even, is the first pixel taken: the overlay
    // holds the picture from there to its bottom-right corner (pass 0, 0 for all of it). Returns
    // the overlay, or null when the pane is not shown, the overlay or a plane is null, a size or
    // origin is out of range, or the widget has no size yet.
    VideoSurface* PlayYUV(const uint8_t* y, const uint8_t* u, const uint8_t* v, int pane,
                          VideoSurface* overlay, int sourceX, int sourceY, int width, int height,
                          RECT* paneRect);

    // Copies `source` (scaled if sizes differ) into the back buffer at `dest`, clipped to the pane
    // under dest's centre. False when there is no shown pane there, the arguments are bad, or the
    // draw is stale (see the top of this file).
    bool DDsfDrawToDDBack(const RECT* dest, VideoSurface* source, const RECT* sourceRect);

    // Has the widget repaint the panes drawn or cleared since the last Flip. Any thread; from
    // others than the UI thread it posts the work there and returns at once.
    void Flip();

    // A copy of the back buffer at the widget's size, without borders and labels (for tests).
    QImage grabBackBuffer() const;

protected:
    void paintCanvas(QPainter& painter, const QRegion& region) override;
    void canvasResized() override;

private:
    struct Slot {
        std::mutex lock;       // the slot's part of the back buffer, and hasVideo
        bool hasVideo = false; // drawn since it was last cleared; else the label shows
        std::atomic<bool> dirty{false};
    };

    static bool validStyle(int style, int flag);
    void changeLayout(int style, int flag, int page, bool keepVideo); // UI thread
    // Under an exclusive layoutLock_:
    void computeRects();
    bool reserveBackBuffer(int width, int height);
    // Under layoutLock_ (either way):
    int slotAt(long x, long y) const;
    uint32_t* pixelAt(long x, long y) const;
    void fillRect(const RECT& rect, uint32_t rgb) const;
    void clearPane(int pane, uint32_t rgb);
    void requestPresent();
    void present(); // UI thread
    void paintLabel(QPainter& painter, const QRect& rect, int pane) const;

    const int total_;
    const uint64_t serial_; // tells views apart in the per-thread records, unlike addresses
    std::unique_ptr<std::atomic<uint64_t>[]> epochs_; // per pane
    std::atomic<uint64_t> epochCounter_{1};

    // Written by the UI thread only, under an exclusive lock; read by any under a shared one.
    mutable std::shared_mutex layoutLock_;
    int style_ = 4; // also the number of panes per page
    int flag_ = 0;
    int page_ = 0;
    int slotCount_ = 0;
    int viewWidth_ = 0;
    int viewHeight_ = 0;
    std::array<RECT, kMaxSlots> rects_{};
    uint64_t layoutGeneration_ = 1;
    // The back buffer, 0xffRRGGBB pixels; it may be larger than the widget.
    std::unique_ptr<uint32_t[]> back_;
    int backWidth_ = 0;
    int backHeight_ = 0;
    int backStride_ = 0; // in pixels

    mutable std::array<Slot, kMaxSlots> slots_;
    std::atomic<int> selected_{0};
    std::atomic<bool> presentPending_{false};
};
