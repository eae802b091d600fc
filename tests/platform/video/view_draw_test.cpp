#include "VideoTestSupport.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

#include <atomic>
#include <chrono>
#include <future>
#include <tuple>

using namespace videotest;
using namespace std::chrono_literals;

namespace {

constexpr QRgb kAccent = 0xff2f8cff;
constexpr QRgb kBorder = 0xff2a2f37;

class DrawTest : public ViewTest {
protected:
    void TearDown() override { overlay->Release(); }

    // Where a picture of the given size shows in the pane once fitted.
    RECT pictureRect(int pane, int width = 320, int height = 180) {
        const RECT p = paneRect(pane);
        return offset(fitted(width, height, p.width(), p.height()), p.left, p.top);
    }

    const I420 picture = quadrants(320, 180, {kRed, kGreen, kBlue, kYellow});
    const I420 red = solid(64, 36, kRed);
    VideoSurface* overlay = view.CreatOverlaySurface(16, 16);
};

// Collects the regions the widget repaints.
class PaintSpy : public QObject {
public:
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

TEST_F(DrawTest, QuadrantPictureLandsInItsPaneAndNowhereElseInEveryStyle) {
    const std::array<QRgb, 4> colours{kRed, kGreen, kBlue, kYellow};
    for (const Style s : kStyles) {
        ASSERT_TRUE(view.SetWndStyle(s.style, s.flag));
        // The first and the last pane of page 1, so slots and pages both matter.
        ASSERT_TRUE(view.ShowPage(1));
        for (const int pane : {s.style, 2 * s.style - 1}) {
            SCOPED_TRACE(::testing::Message() << "style " << s.style << " pane " << pane);
            view.ClearScreen(colorref(kBackground));
            RECT shown;
            ASSERT_TRUE(drawFrame(view, pane, picture, overlay, &shown));
            EXPECT_EQ(shown, pictureRect(pane));
            const QImage back = view.grabBackBuffer();
            const auto at = quadrantCentres(shown);
            for (int q = 0; q < 4; ++q) {
                EXPECT_TRUE(pixelIs(back, at[q].x, at[q].y, colours[q])) << "quadrant " << q;
            }
            // Bars of the cleared pane surface around a picture of another aspect ratio.
            const RECT p = paneRect(pane);
            if (shown.top - p.top >= 2) {
                EXPECT_TRUE(pixelIs(back, centre(p).x, p.top, 0xff000000));
            }
            if (shown.left - p.left >= 2) {
                EXPECT_TRUE(pixelIs(back, p.left, centre(p).y, 0xff000000));
            }
            for (int other = s.style; other < 2 * s.style; ++other) {
                if (other != pane) {
                    const POINT c = centre(paneRect(other));
                    EXPECT_EQ(back.pixel(c.x, c.y), kBackground) << "pane " << other;
                }
            }
        }
    }
}

TEST_F(DrawTest, TheWidgetShowsPicturesTheSelectionAndWhichPanesAreEmpty) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    ASSERT_TRUE(drawFrame(view, 3, red, overlay));
    ASSERT_TRUE(view.DrawSelectBorder(3));
    view.Flip();
    settle();
    QImage shot = screen();
    const RECT drawn = paneRect(3), empty = paneRect(0);
    EXPECT_TRUE(pixelIs(shot, centre(drawn).x, centre(drawn).y, kRed));
    EXPECT_EQ(shot.pixel(drawn.left - 1, centre(drawn).y), kAccent);
    EXPECT_EQ(shot.pixel(drawn.left, centre(drawn).y), kAccent);
    EXPECT_EQ(shot.pixel(empty.left - 1, centre(empty).y), kBorder);
    EXPECT_EQ(shot.pixel(empty.left + 2, empty.top + 2), kBackground);
    // An empty pane's label: light grey pixels in its middle third, none in a drawn one's.
    auto labelPixels = [&shot](const RECT& r) {
        int light = 0;
        for (long y = r.top + r.height() / 3; y < r.bottom - r.height() / 3; ++y) {
            for (long x = r.left + r.width() / 3; x < r.right - r.width() / 3; ++x) {
                const QRgb p = shot.pixel(static_cast<int>(x), static_cast<int>(y));
                light += std::min({qRed(p), qGreen(p), qBlue(p)}) > 0x50 ? 1 : 0;
            }
        }
        return light;
    };
    EXPECT_GT(labelPixels(empty), 20);
    EXPECT_EQ(labelPixels(drawn), 0);
    view.ClearScreen(3, colorref(kBackground));
    shot = screen();
    EXPECT_GT(labelPixels(drawn), 20);
}

TEST_F(DrawTest, PlayYuvRefusesWhatCannotBeShownAndCropsFromAnEvenOrigin) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    const RECT untouched{-7, -7, -7, -7};
    RECT r = untouched;
    auto play = [&](const uint8_t* y, int pane, VideoSurface* target, int sx, int sy, int w,
                    int h) {
        return view.PlayYUV(y, picture.u.data(), picture.v.data(), pane, target, sx, sy, w, h, &r);
    };
    const uint8_t* y = picture.y.data();
    VideoSurface* rgb = view.CreatEmptySurface(64, 36);
    for (const auto& [plane, pane, target, sx, sy, w, h] :
         {std::tuple{y, 4, overlay, 0, 0, 320, 180}, // on page 1
          {y, -1, overlay, 0, 0, 320, 180},
          {y, 64, overlay, 0, 0, 320, 180},
          {y, 0, nullptr, 0, 0, 320, 180},
          {y, 0, rgb, 0, 0, 320, 180},
          {nullptr, 0, overlay, 0, 0, 320, 180},
          {y, 0, overlay, 0, 0, 0, 180},
          {y, 0, overlay, 0, 0, 320, -2},
          {y, 0, overlay, 0, 0, 8193, 180},
          {y, 0, overlay, 320, 0, 320, 180},
          {y, 0, overlay, -2, 0, 320, 180}}) {
        EXPECT_EQ(play(plane, pane, target, sx, sy, w, h), nullptr) << pane << " " << w << "x" << h;
    }
    rgb->Release();
    EXPECT_EQ(r, untouched);
    EXPECT_EQ(overlay->width(), 16); // no refused call touched it
    CDDrawView withoutWindow;
    EXPECT_EQ(withoutWindow.PlayYUV(y, picture.u.data(), picture.v.data(), 0, overlay, 0, 0, 320,
                                    180, &r),
              nullptr);

    // From (161, 91), taken as (160, 90): the bottom-right quadrant alone.
    ASSERT_EQ(play(y, 3, overlay, 161, 91, 320, 180), overlay);
    EXPECT_EQ(r, paneRect(3));
    EXPECT_EQ(overlay->width(), 160);
    EXPECT_EQ(overlay->height(), 90);
    const QImage image = overlay->toImage();
    for (const POINT p : {POINT{0, 0}, POINT{159, 0}, POINT{0, 89}, POINT{159, 89}}) {
        EXPECT_TRUE(pixelIs(image, p.x, p.y, kYellow));
    }
}

TEST_F(DrawTest, DrawsStayInsideTheirPane) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    const RECT p = paneRect(0), right = paneRect(1), below = paneRect(2);
    VideoSurface* plate =
        view.CreatEmptySurface(static_cast<int>(p.width()), static_cast<int>(p.height()));
    view.Clrscr(plate, colorref(kRed));
    QPainter* dc = plate->GetDC();
    dc->fillRect(0, 0, 10, 10, QColor::fromRgb(kBlue)); // marks the plate's top-left corner
    plate->ReleaseDC(dc);

    // Shifted by 20 to the right and down: what hangs over the gaps and neighbours is cut off.
    const RECT shifted = offset(p, 20, 20);
    ASSERT_TRUE(view.DDsfDrawToDDBack(&shifted, plate, nullptr));
    QImage back = view.grabBackBuffer();
    EXPECT_EQ(back.pixel(p.left + 25, p.top + 25), kBlue);
    EXPECT_EQ(back.pixel(p.right - 1, p.bottom - 1), kRed);
    EXPECT_EQ(back.pixel(p.left + 5, p.top + 5), kBackground);
    EXPECT_EQ(back.pixel(right.left + 5, centre(right).y), kBackground);
    EXPECT_EQ(back.pixel(centre(below).x, below.top + 5), kBackground);

    // Scaled from a cut into pane 1, a quarter of it hanging over pane 0: clipped the same.
    const RECT cut{0, 0, 20, 20}; // blue in its top-left quarter
    const RECT larger = offset(right, -right.width() / 4, 0);
    ASSERT_TRUE(view.DDsfDrawToDDBack(&larger, plate, &cut));
    back = view.grabBackBuffer();
    EXPECT_TRUE(pixelIs(back, right.left + 4, right.top + 4, kBlue));
    EXPECT_TRUE(pixelIs(back, right.left + right.width() * 3 / 8, right.top + 4, kRed));
    EXPECT_EQ(back.pixel(right.right - 4, right.bottom - 4), kBackground); // not covered
    EXPECT_EQ(back.pixel(p.right - 1, p.bottom - 1), kRed);                // pane 0 as it was

    // An overlay straight into the back buffer, stretched to the rectangle.
    RECT rect;
    ASSERT_NE(view.PlayYUV(picture.y.data(), picture.u.data(), picture.v.data(), 2, overlay, 0, 0,
                           320, 180, &rect),
              nullptr);
    ASSERT_TRUE(view.DDsfDrawToDDBack(&rect, overlay, nullptr));
    const auto at = quadrantCentres(rect);
    EXPECT_TRUE(pixelIs(view.grabBackBuffer(), at[3].x, at[3].y, kYellow));

    const RECT gaps{395, 295, 405, 305}; // centred on the cross of gaps
    const RECT outside{900, 0, 1000, 100};
    const RECT badCut{0, 0, p.width() + 1, 10};
    EXPECT_FALSE(view.DDsfDrawToDDBack(&gaps, plate, nullptr));
    EXPECT_FALSE(view.DDsfDrawToDDBack(&outside, plate, nullptr));
    EXPECT_FALSE(view.DDsfDrawToDDBack(&p, plate, &badCut));
    plate->Release();
}

TEST_F(DrawTest, AFrameTakenBeforeAClearOrALayoutChangeIsDropped) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    Worker camera;
    // PlayYUV and the fitting on the camera's thread, `between` on this one, then the draw.
    auto frameAround = [&](int pane, const std::function<void()>& between) {
        RECT rect;
        VideoSurface* frame = nullptr;
        bool drawn = false;
        camera.run([&] { frame = prepareFrame(view, pane, red, overlay, &rect); });
        EXPECT_NE(frame, nullptr);
        between();
        camera.run(
            [&] { drawn = frame != nullptr && view.DDsfDrawToDDBack(&rect, frame, nullptr); });
        if (frame != nullptr) {
            frame->Release();
        }
        return drawn;
    };
    auto middle = [&](int pane) {
        const POINT c = centre(paneRect(pane));
        return view.grabBackBuffer().pixel(c.x, c.y);
    };

    EXPECT_FALSE(frameAround(2, [&] { view.ClearScreen(2, colorref(kBlue)); }));
    EXPECT_EQ(middle(2), kBlue);
    EXPECT_TRUE(frameAround(2, [] {})); // taken after the clear
    EXPECT_TRUE(near(middle(2), kRed));
    EXPECT_TRUE(frameAround(2, [&] { view.ClearScreen(3, 0); }));
    EXPECT_FALSE(frameAround(2, [&] { view.ClearScreen(colorref(kGreen)); }));
    EXPECT_EQ(middle(2), kGreen);

    // Pane 0's rectangle now shows pane 4, whose camera this is not.
    EXPECT_FALSE(frameAround(0, [&] { ASSERT_TRUE(view.ShowPage(1)); }));
    EXPECT_EQ(middle(4), kBackground);
    EXPECT_FALSE(frameAround(4, [&] {
        window.resize(700, 500);
        settle();
    }));
    EXPECT_TRUE(frameAround(5, [] {}));

    // A thread that never played into the view (the UI thread, say) is not held back.
    const RECT five = paneRect(5);
    VideoSurface* plate =
        view.CreatEmptySurface(static_cast<int>(five.width()), static_cast<int>(five.height()));
    view.Clrscr(plate, colorref(kBlue));
    EXPECT_TRUE(view.DDsfDrawToDDBack(&five, plate, nullptr));
    plate->Release();
    EXPECT_EQ(middle(5), kBlue);
}

TEST_F(DrawTest, DrawingThreadsNeverWaitForTheUiThreadAndFlipRepaintsWhatChanged) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    PaintSpy spy;
    view.widget()->installEventFilter(&spy);
    settle();
    spy.painted = QRegion();

    // The UI thread is busy waiting here, so any call that needs it would not come back.
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread camera([&] {
        drawFrame(view, 0, red, overlay);
        view.Flip();
        view.ClearScreen(1, colorref(kBlue));
        view.Flip();
        finished.set_value();
    });
    const bool inTime = done.wait_for(10s) == std::future_status::ready;
    while (done.wait_for(10ms) != std::future_status::ready) {
        QApplication::processEvents(); // lets a wrongly blocked thread finish so the test ends
    }
    camera.join();
    EXPECT_TRUE(inTime);

    settle();
    EXPECT_GE(spy.paints, 1);
    // Only the panes that changed, each whole.
    EXPECT_TRUE((QRegion(qrect(paneRect(0))) - spy.painted).isEmpty());
    EXPECT_TRUE((QRegion(qrect(paneRect(1))) - spy.painted).isEmpty());
    EXPECT_FALSE(spy.painted.intersects(qrect(paneRect(3))));
    const QImage shot = screen();
    EXPECT_TRUE(pixelIs(shot, centre(paneRect(0)).x, centre(paneRect(0)).y, kRed));
    EXPECT_EQ(shot.pixel(paneRect(1).left + 2, paneRect(1).top + 2), kBlue);
    view.widget()->removeEventFilter(&spy);
}

TEST_F(DrawTest, ManyThreadsDrawWhileTheUiPaintsWithoutTearing) {
    ASSERT_TRUE(view.SetWndStyle(9, 0));
    constexpr int kThreads = 8;
    constexpr int kFrames = 150;
    std::array<QRgb, kThreads> first{}, second{};
    for (int k = 0; k < kThreads; ++k) {
        first[k] = qRgb(40 + 24 * k, 200, 60);
        second[k] = qRgb(200, 40 + 24 * k, 220);
    }
    std::atomic<int> running{kThreads};
    std::vector<std::thread> cameras;
    for (int k = 0; k < kThreads; ++k) {
        cameras.emplace_back([&, k] {
            VideoSurface* own = view.CreatOverlaySurface(16, 16);
            const I420 a = solid(160, 90, first[k]);
            const I420 b = solid(160, 90, second[k]);
            for (int f = 0; f < kFrames; ++f) {
                if (f % 25 == 24) {
                    view.ClearScreen(k, 0);
                }
                drawFrame(view, k, f % 2 == 0 ? a : b, own);
                view.Flip();
            }
            own->Release();
            running.fetch_sub(1);
        });
    }
    // A pane is shown whole or not at all: the top and bottom lines of its picture always
    // come from the same frame.
    int tears = 0;
    int paints = 0;
    while (running.load() > 0) {
        QApplication::processEvents();
        const QImage shot = screen();
        ++paints;
        for (int k = 0; k < kThreads; ++k) {
            const RECT r = pictureRect(k, 160, 90);
            const long x = centre(r).x;
            if (!near(shot.pixel(x, r.top + 3), shot.pixel(x, r.bottom - 4))) {
                ++tears;
            }
        }
    }
    for (std::thread& t : cameras) {
        t.join();
    }
    EXPECT_EQ(tears, 0) << "in " << paints << " paints";
    EXPECT_GT(paints, 0);

    view.Flip();
    settle();
    const QImage back = view.grabBackBuffer();
    const QImage shot = screen();
    for (int k = 0; k < kThreads; ++k) {
        const POINT c = centre(paneRect(k));
        EXPECT_TRUE(pixelIs(back, c.x, c.y, second[k])) << "pane " << k;
        EXPECT_TRUE(pixelIs(shot, c.x, c.y, second[k])) << "pane " << k;
    }
    const POINT unused = centre(paneRect(8));
    EXPECT_EQ(back.pixel(unused.x, unused.y), kBackground);
}

} // namespace
