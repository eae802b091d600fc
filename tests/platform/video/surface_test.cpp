#include "VideoTestSupport.h"

#include <QPainter>

using namespace videotest;

namespace {

class SurfaceTest : public ViewTest {
protected:
    // An overlay holding `picture`, loaded the way clients load it.
    VideoSurface* overlayOf(const I420& picture) {
        VideoSurface* overlay = view.CreatOverlaySurface(16, 16);
        RECT rect;
        EXPECT_NE(view.PlayYUV(picture.y.data(), picture.u.data(), picture.v.data(), 0, overlay, 0,
                               0, picture.width, picture.height, &rect),
                  nullptr);
        return overlay;
    }

    const I420 picture = quadrants(320, 180, {kRed, kGreen, kBlue, kYellow});
};

TEST_F(SurfaceTest, SizesOutsideTheRangeAreRefusedAndSurfacesClearToAColour) {
    for (const auto& [w, h] : {std::pair{0, 10}, {10, 0}, {-4, 10}, {8193, 2}, {2, 8193}}) {
        EXPECT_EQ(view.CreatOverlaySurface(w, h), nullptr) << w << "x" << h;
        EXPECT_EQ(view.CreatEmptySurface(w, h), nullptr) << w << "x" << h;
    }
    VideoSurface* overlay = view.CreatOverlaySurface(8191, 3); // odd: chroma rounds up
    VideoSurface* rgb = view.CreatEmptySurface(1, 1);
    ASSERT_NE(overlay, nullptr);
    ASSERT_NE(rgb, nullptr);
    EXPECT_TRUE(pixelIs(overlay->toImage(), 8190, 2, 0xff000000));
    for (const QRgb colour : {kRed, kGreen, kBlue}) {
        view.Clrscr(overlay, colorref(colour));
        view.Clrscr(rgb, colorref(colour));
        EXPECT_TRUE(pixelIs(overlay->toImage(), 8190, 2, colour));
        EXPECT_EQ(rgb->toImage().pixel(0, 0), colour);
    }
    rgb->Release();
    overlay->Release();
}

TEST_F(SurfaceTest, OverlayBltConvertsAndScalesIntoTheDestination) {
    VideoSurface* overlay = overlayOf(picture);
    ASSERT_EQ(overlay->width(), 320);
    ASSERT_EQ(overlay->height(), 180);
    VideoSurface* rgb = view.CreatEmptySurface(200, 150);
    view.Clrscr(rgb, colorref(0xff404040));

    // Shrunk into a part of the surface: the quadrants land there and nothing else changes.
    const RECT dest{20, 30, 180, 120};
    ASSERT_TRUE(rgb->Blt(&dest, overlay, nullptr, 0));
    const QImage image = rgb->toImage();
    const auto at = quadrantCentres(dest);
    const std::array<QRgb, 4> expected{kRed, kGreen, kBlue, kYellow};
    for (int q = 0; q < 4; ++q) {
        EXPECT_TRUE(pixelIs(image, at[q].x, at[q].y, expected[q])) << "quadrant " << q;
    }
    EXPECT_TRUE(pixelIs(image, 19, 75, 0xff404040));
    EXPECT_TRUE(pixelIs(image, 180, 75, 0xff404040));
    EXPECT_TRUE(pixelIs(image, 100, 29, 0xff404040));
    EXPECT_TRUE(pixelIs(image, 100, 120, 0xff404040));

    // Enlarged from a cut: only the cut's colour, right up to the destination's corners.
    const RECT topRight{160, 0, 320, 90};
    ASSERT_TRUE(rgb->Blt(nullptr, overlay, &topRight, 0));
    const QImage whole = rgb->toImage();
    for (const POINT p : {POINT{0, 0}, POINT{199, 0}, POINT{0, 149}, POINT{199, 149}}) {
        EXPECT_TRUE(pixelIs(whole, p.x, p.y, kGreen));
    }
    rgb->Release();
    overlay->Release();
}

// A picture much larger than its pane is averaged down, not sampled: fine detail becomes its mean
// instead of aliasing into stripes, and every new picture shows, whether the shrinking was
// prepared along with the copy or afterwards.
TEST_F(SurfaceTest, ShrinkingFarAveragesDetailAndFollowsEveryNewPicture) {
    // One-pixel black and white checks, odd-sized so the halvings meet unpaired edges.
    I420 checks = solid(641, 361, 0xff808080);
    for (int y = 0; y < checks.height; ++y) {
        for (int x = 0; x < checks.width; ++x) {
            checks.y[static_cast<size_t>(y) * checks.width + x] = (x + y) % 2 ? 235 : 16;
        }
    }
    VideoSurface* overlay = overlayOf(checks);
    VideoSurface* small = view.CreatEmptySurface(150, 90);
    ASSERT_TRUE(small->Blt(nullptr, overlay, nullptr, 0));
    QImage image = small->toImage();
    for (const POINT p : {POINT{0, 0}, POINT{75, 45}, POINT{140, 84}, POINT{13, 71}}) {
        EXPECT_TRUE(pixelIs(image, p.x, p.y, 0xff808080)) << "checks not averaged";
    }

    // New pictures in turn, each shrunk once or twice after it arrives, then once in full.
    const std::array<std::array<QRgb, 4>, 3> sequences{
        {{kRed, kGreen, kBlue, kYellow}, {kYellow, kBlue, kGreen, kRed}, {kGreen, kRed, kYellow, kBlue}}};
    VideoSurface* full = view.CreatEmptySurface(640, 360);
    for (size_t round = 0; round < sequences.size(); ++round) {
        const I420 next = quadrants(640, 360, sequences[round]);
        RECT rect;
        ASSERT_NE(view.PlayYUV(next.y.data(), next.u.data(), next.v.data(), 0, overlay, 0, 0,
                               next.width, next.height, &rect),
                  nullptr);
        for (VideoSurface* target : {small, small, full}) {
            ASSERT_TRUE(target->Blt(nullptr, overlay, nullptr, 0));
            image = target->toImage();
            const auto at = quadrantCentres(RECT{0, 0, image.width(), image.height()});
            for (int q = 0; q < 4; ++q) {
                EXPECT_TRUE(pixelIs(image, at[q].x, at[q].y, sequences[round][q]))
                    << "round " << round << ", " << image.width() << " wide, quadrant " << q;
            }
        }
        // A cut that does not start on a halving boundary: the top-right quadrant alone.
        const RECT cut{322, 2, 640, 178};
        ASSERT_TRUE(small->Blt(nullptr, overlay, &cut, 0));
        image = small->toImage();
        EXPECT_TRUE(pixelIs(image, 3, 3, sequences[round][1]));
        EXPECT_TRUE(pixelIs(image, 146, 86, sequences[round][1]));
    }
    full->Release();
    small->Release();
    overlay->Release();
}

TEST_F(SurfaceTest, RgbBltCopiesAndScales) {
    VideoSurface* a = view.CreatEmptySurface(40, 40);
    VideoSurface* b = view.CreatEmptySurface(80, 20);
    view.Clrscr(a, colorref(kRed));
    QPainter* dc = a->GetDC();
    ASSERT_NE(dc, nullptr);
    dc->fillRect(20, 0, 20, 40, QColor::fromRgb(kBlue));
    a->ReleaseDC(dc);

    // Same size: an exact copy of the cut.
    const RECT cut{10, 10, 30, 30};
    const RECT to{60, 0, 80, 20};
    ASSERT_TRUE(b->Blt(&to, a, &cut, 0));
    QImage image = b->toImage();
    EXPECT_EQ(image.pixel(60, 5), kRed);
    EXPECT_EQ(image.pixel(69, 5), kRed);
    EXPECT_EQ(image.pixel(70, 5), kBlue);
    EXPECT_EQ(image.pixel(59, 5), 0xff000000u);

    // Scaled: the left half of `a` fills 40 columns.
    const RECT left{0, 0, 40, 20};
    ASSERT_TRUE(b->Blt(&left, a, nullptr, 0));
    image = b->toImage();
    EXPECT_TRUE(pixelIs(image, 2, 10, kRed));
    EXPECT_TRUE(pixelIs(image, 37, 10, kBlue));

    // Within one surface, overlapping: the source is read as it was before the copy.
    const RECT src{0, 0, 30, 20};
    const RECT dst{10, 0, 40, 20};
    ASSERT_TRUE(b->Blt(&dst, b, &src, 0));
    image = b->toImage();
    EXPECT_TRUE(pixelIs(image, 12, 10, kRed));
    EXPECT_TRUE(pixelIs(image, 38, 10, kBlue)); // was at 28, moved by 10
    EXPECT_TRUE(pixelIs(image, 28, 10, kRed));  // was at 18
    a->Release();
    b->Release();
}

TEST_F(SurfaceTest, BltRefusesWhatItCannotDo) {
    VideoSurface* overlay = overlayOf(picture);
    VideoSurface* rgb = view.CreatEmptySurface(100, 100);
    view.Clrscr(rgb, colorref(kRed));
    const RECT outside{50, 50, 101, 100};
    const RECT emptyRect{10, 10, 10, 20};
    const RECT beyondSource{0, 0, 321, 180};
    EXPECT_FALSE(rgb->Blt(&outside, overlay, nullptr, 0));
    EXPECT_FALSE(rgb->Blt(&emptyRect, overlay, nullptr, 0));
    EXPECT_FALSE(rgb->Blt(nullptr, overlay, &beyondSource, 0));
    EXPECT_FALSE(rgb->Blt(nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(overlay->Blt(nullptr, rgb, nullptr, 0)); // overlays are sources only

    // Drawing through a painter and a Blt at once would mix two painters on one image.
    QPainter* dc = rgb->GetDC();
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(rgb->GetDC(), nullptr);
    EXPECT_FALSE(rgb->Blt(nullptr, overlay, nullptr, 0));
    rgb->ReleaseDC(dc);
    EXPECT_EQ(rgb->toImage().pixel(50, 50), kRed); // none of the refused ones drew
    EXPECT_TRUE(rgb->Blt(nullptr, overlay, nullptr, 0));
    EXPECT_EQ(overlay->GetDC(), nullptr);
    rgb->Release();
    overlay->Release();
}

} // namespace
