#pragma once

// Pictures, colour checks and a shown view for the drawing tests.

#include "video/DDraw.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace videotest {

constexpr QRgb kRed = 0xffe02020;
constexpr QRgb kGreen = 0xff20c040;
constexpr QRgb kBlue = 0xff2040e0;
constexpr QRgb kYellow = 0xffe0d020;
constexpr QRgb kBackground = 0xff101216; // what the view fills empty panes with

// Rounding of two conversions (ours to I420, libswscale back) and bilinear filtering.
constexpr int kTolerance = 12;

// A packed I420 picture.
struct I420 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> y, u, v;
};

inline std::array<uint8_t, 3> yuvOf(QRgb rgb) {
    const int r = qRed(rgb), g = qGreen(rgb), b = qBlue(rgb);
    return {static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
            static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
            static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

// Four solid quadrants: top left, top right, bottom left, bottom right. Even sizes keep every
// chroma sample inside one quadrant.
inline I420 quadrants(int width, int height, std::array<QRgb, 4> colours) {
    I420 p;
    p.width = width;
    p.height = height;
    const int cw = (width + 1) / 2, ch = (height + 1) / 2;
    auto paint = [&](std::vector<uint8_t>& plane, int w, int h, int channel) {
        plane.resize(static_cast<size_t>(w) * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const QRgb colour = colours[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
                plane[static_cast<size_t>(y) * w + x] = yuvOf(colour)[channel];
            }
        }
    };
    paint(p.y, width, height, 0);
    paint(p.u, cw, ch, 1);
    paint(p.v, cw, ch, 2);
    return p;
}

inline I420 solid(int width, int height, QRgb colour) {
    return quadrants(width, height, {colour, colour, colour, colour});
}

inline COLORREF colorref(QRgb rgb) {
    return static_cast<COLORREF>(qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16));
}

inline bool near(QRgb a, QRgb b, int tolerance = kTolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

inline ::testing::AssertionResult pixelIs(const QImage& image, long x, long y, QRgb expected) {
    const QRgb got = image.pixel(static_cast<int>(x), static_cast<int>(y));
    if (image.valid(static_cast<int>(x), static_cast<int>(y)) && near(got, expected)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "at (" << x << "," << y << ") got " << std::hex << got;
}

// The largest rectangle of the picture's aspect ratio centred in a box, as clients fit pictures.
inline RECT fitted(int pictureW, int pictureH, long boxW, long boxH) {
    long w = boxW;
    long h = boxW * pictureH / pictureW;
    if (h > boxH) {
        h = boxH;
        w = boxH * pictureW / pictureH;
    }
    const long left = (boxW - w) / 2;
    const long top = (boxH - h) / 2;
    return RECT{left, top, left + w, top + h};
}

inline RECT offset(const RECT& r, long dx, long dy) {
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// The points a quadrant picture drawn at `r` shows its four colours at (centres of quadrants).
inline std::array<POINT, 4> quadrantCentres(const RECT& r) {
    const long w = r.width(), h = r.height();
    return {POINT{r.left + w / 4, r.top + h / 4}, POINT{r.left + 3 * w / 4, r.top + h / 4},
            POINT{r.left + w / 4, r.top + 3 * h / 4}, POINT{r.left + 3 * w / 4, r.top + 3 * h / 4}};
}

inline QRect qrect(const RECT& r) {
    return QRect(static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.width()),
                 static_cast<int>(r.height()));
}

inline POINT centre(const RECT& r) {
    return POINT{r.left + r.width() / 2, r.top + r.height() / 2};
}

// A client's first half of drawing a frame: the picture into the overlay, then fitted into a
// black RGB surface of the pane's size. Returns that surface (null if PlayYUV refused).
inline VideoSurface* prepareFrame(CDDrawView& view, int pane, const I420& picture,
                                  VideoSurface* overlay, RECT* paneRect,
                                  RECT* pictureRect = nullptr) {
    if (view.PlayYUV(picture.y.data(), picture.u.data(), picture.v.data(), pane, overlay, 0, 0,
                     picture.width, picture.height, paneRect) == nullptr) {
        return nullptr;
    }
    VideoSurface* surface = view.CreatEmptySurface(static_cast<int>(paneRect->width()),
                                                   static_cast<int>(paneRect->height()));
    view.Clrscr(surface, 0);
    const RECT fit = fitted(picture.width, picture.height, paneRect->width(), paneRect->height());
    surface->Blt(&fit, overlay, nullptr, 0);
    if (pictureRect != nullptr) {
        *pictureRect = offset(fit, paneRect->left, paneRect->top);
    }
    return surface;
}

// The whole frame: false if PlayYUV refused or the back buffer dropped it.
inline bool drawFrame(CDDrawView& view, int pane, const I420& picture, VideoSurface* overlay,
                      RECT* pictureRect = nullptr) {
    RECT paneRect;
    VideoSurface* surface = prepareFrame(view, pane, picture, overlay, &paneRect, pictureRect);
    if (surface == nullptr) {
        return false;
    }
    const bool drawn = view.DDsfDrawToDDBack(&paneRect, surface, nullptr);
    surface->Release();
    return drawn;
}

// Runs calls one at a time on a thread of its own, for what depends on the calling thread.
class Worker {
public:
    ~Worker() { run(nullptr); }
    void run(std::function<void()> call) {
        std::unique_lock lock(mutex_);
        call_ = std::move(call);
        pending_ = true;
        wake_.notify_all();
        wake_.wait(lock, [this] { return !pending_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<void()> call_;
    bool pending_ = false;
    std::jthread thread_{[this] {
        for (bool more = true; more;) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return pending_; });
            more = static_cast<bool>(call_);
            if (more) {
                call_();
            }
            pending_ = false;
            wake_.notify_all();
        }
    }};
};

// A shown 800 x 600 window with a view of 64 panes drawing into it.
class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(800, 600);
        ASSERT_TRUE(view.InitDDraw7(&window, 1920, 1080));
        ASSERT_TRUE(view.CreateClipper(&window));
        window.show();
        settle();
        ASSERT_EQ(view.widget()->size(), QSize(800, 600));
    }

    static void settle() {
        for (int i = 0; i < 3; ++i) {
            QApplication::processEvents();
        }
    }

    QImage screen() {
        return view.widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    RECT paneRect(int pane) {
        RECT r;
        EXPECT_TRUE(view.GetPaneRect(pane, &r)) << "pane " << pane;
        return r;
    }

    QWidget window;
    CDDrawView view;
};

struct Style {
    int style;
    int flag;
};
constexpr std::array<Style, 5> kStyles{{{1, 0}, {4, 0}, {9, 0}, {16, 0}, {10, 1}}};

} // namespace videotest
