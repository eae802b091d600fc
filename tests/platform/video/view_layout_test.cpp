#include "VideoTestSupport.h"

using namespace videotest;

namespace {

using LayoutTest = ViewTest;

TEST_F(LayoutTest, EveryPaneOfEveryStyleHitTestsBackToItsId) {
    for (const Style s : kStyles) {
        SCOPED_TRACE(::testing::Message() << "style " << s.style << "/" << s.flag);
        ASSERT_TRUE(view.SetWndStyle(s.style, s.flag));
        ASSERT_EQ(view.GetPanesPerPage(), s.style);
        long area = 0;
        std::vector<RECT> rects;
        for (int pane = 0; pane < s.style; ++pane) {
            const RECT r = paneRect(pane);
            ASSERT_GE(r.left, 1);
            ASSERT_GE(r.top, 1);
            ASSERT_LE(r.right, 799);
            ASSERT_LE(r.bottom, 599);
            area += r.width() * r.height();
            for (const RECT& other : rects) {
                const bool apart = r.left >= other.right || other.left >= r.right ||
                                   r.top >= other.bottom || other.top >= r.bottom;
                EXPECT_TRUE(apart) << "pane " << pane << " overlaps another";
            }
            rects.push_back(r);

            const POINT c = centre(r);
            EXPECT_EQ(view.GetWndID(c), pane);
            EXPECT_EQ(view.GetWndID(POINT{r.left, r.top}), pane);
            EXPECT_EQ(view.GetWndID(POINT{r.right - 1, r.bottom - 1}), pane);
            // The pixels around every pane belong to the border gap.
            EXPECT_EQ(view.GetWndID(POINT{r.left - 1, c.y}), -1);
            EXPECT_EQ(view.GetWndID(POINT{r.right, c.y}), -1);
            EXPECT_EQ(view.GetWndID(POINT{c.x, r.top - 1}), -1);
            EXPECT_EQ(view.GetWndID(POINT{c.x, r.bottom}), -1);
        }
        // Gaps of 1-2 px are all that is left over.
        EXPECT_GT(area, 800L * 600 * 95 / 100);
        for (const POINT p : {POINT{-1, 10}, POINT{10, -1}, POINT{800, 300}, POINT{400, 600}}) {
            EXPECT_EQ(view.GetWndID(p), -1);
        }
    }
}

TEST_F(LayoutTest, LargePaneLayoutPutsTheSmallPanesRightThenBelow) {
    ASSERT_TRUE(view.SetWndStyle(10, 1));
    int style = 0, flag = 0;
    view.GetWndStyle(&style, &flag);
    EXPECT_EQ(style, 10);
    EXPECT_EQ(flag, 1);

    const RECT big = paneRect(0);
    EXPECT_NEAR(big.width(), 800 * 4 / 5, 2);
    EXPECT_NEAR(big.height(), 600 * 4 / 5, 2);
    for (int pane = 1; pane <= 4; ++pane) { // right column, top to bottom
        const RECT r = paneRect(pane);
        EXPECT_GT(r.left, big.right);
        EXPECT_NEAR(r.top, big.top + (pane - 1) * 120, 1);
        EXPECT_NEAR(r.width(), 160, 2);
        EXPECT_NEAR(r.height(), 120, 2);
    }
    for (int pane = 5; pane <= 9; ++pane) { // bottom row, left to right
        const RECT r = paneRect(pane);
        EXPECT_GT(r.top, big.bottom);
        EXPECT_NEAR(r.left, big.left + (pane - 5) * 160, 1);
    }
    const RECT corner = paneRect(9);
    EXPECT_EQ(view.GetWndID(POINT{790, 590}), 9);
    EXPECT_EQ(corner.right, 799);
    EXPECT_EQ(view.GetWndID(POINT{400, 300}), 0);
}

TEST_F(LayoutTest, OtherStyleCombinationsAreRefusedAndChangeNothing) {
    ASSERT_TRUE(view.SetWndStyle(9, 0));
    ASSERT_TRUE(view.ShowPage(2));
    const RECT before = paneRect(20);
    for (const Style s :
         {Style{10, 0}, Style{4, 1}, Style{3, 0}, Style{25, 0}, Style{0, 0}, Style{16, 2}}) {
        EXPECT_FALSE(view.SetWndStyle(s.style, s.flag)) << s.style << "/" << s.flag;
    }
    int style = 0, flag = -1;
    view.GetWndStyle(&style, &flag);
    EXPECT_EQ(style, 9);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(view.GetNowPage(), 2);
    EXPECT_EQ(paneRect(20), before);
}

TEST_F(LayoutTest, PagesShowTheirOwnRangeOfPanes) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    EXPECT_EQ(view.GetPageCount(), 16);
    ASSERT_TRUE(view.ShowPage(3));
    EXPECT_EQ(view.GetNowPage(), 3);
    for (int slot = 0; slot < 4; ++slot) {
        const int pane = 12 + slot;
        EXPECT_EQ(view.GetWndID(centre(paneRect(pane))), pane);
    }
    RECT r;
    EXPECT_FALSE(view.GetPaneRect(0, &r)); // on page 0, not shown
    EXPECT_FALSE(view.GetPaneRect(16, &r));
    EXPECT_FALSE(view.ShowPage(16));
    EXPECT_FALSE(view.ShowPage(-1));
    EXPECT_EQ(view.GetNowPage(), 3);

    // 64 panes by 9: the last page holds pane 63 alone; its other slots answer -1.
    ASSERT_TRUE(view.SetWndStyle(9, 0));
    EXPECT_EQ(view.GetPageCount(), 8);
    ASSERT_TRUE(view.ShowPage(7));
    const RECT last = paneRect(63);
    EXPECT_EQ(view.GetWndID(centre(last)), 63);
    EXPECT_EQ(view.GetWndID(POINT{last.right + 20, centre(last).y}), -1);
    EXPECT_FALSE(view.DrawSelectBorder(POINT{last.right + 20, centre(last).y}));

    // The same with the large-pane layout: 7 pages, the last with panes 60-63.
    ASSERT_TRUE(view.SetWndStyle(10, 1));
    ASSERT_TRUE(view.ShowPage(6));
    EXPECT_EQ(view.GetWndID(centre(paneRect(60))), 60);
    EXPECT_EQ(view.GetWndID(centre(paneRect(63))), 63);
    EXPECT_EQ(view.GetWndID(POINT{790, 590}), -1);
}

TEST_F(LayoutTest, SelectionFollowsClicksAndStaysOnScreenAcrossSplits) {
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    ASSERT_TRUE(view.ShowPage(1));
    EXPECT_EQ(view.GetSelectWndID(), 4); // the old selection went off screen

    EXPECT_TRUE(view.DrawSelectBorder(centre(paneRect(6))));
    EXPECT_EQ(view.GetSelectWndID(), 6);
    EXPECT_FALSE(view.DrawSelectBorder(POINT{400, 300})); // the cross of gaps in the middle
    EXPECT_FALSE(view.DrawSelectBorder(0));               // not shown
    EXPECT_EQ(view.GetSelectWndID(), 6);

    ASSERT_TRUE(view.SetWndStyle(1, 0));
    EXPECT_EQ(view.GetNowPage(), 6);
    ASSERT_TRUE(view.SetWndStyle(16, 0));
    EXPECT_EQ(view.GetNowPage(), 0);
    ASSERT_TRUE(view.ShowPage(2));
    ASSERT_TRUE(view.DrawSelectBorder(37));
    ASSERT_TRUE(view.SetWndStyle(10, 1));
    EXPECT_EQ(view.GetNowPage(), 3);
    EXPECT_EQ(view.GetWndID(centre(paneRect(37))), 37);
}

TEST_F(LayoutTest, PanesFollowTheWindowsSize) {
    ASSERT_TRUE(view.SetWndStyle(1, 0));
    EXPECT_EQ(paneRect(0), (RECT{1, 1, 799, 599}));
    window.resize(401, 301);
    settle();
    EXPECT_EQ(view.widget()->size(), QSize(401, 301));
    EXPECT_EQ(paneRect(0), (RECT{1, 1, 400, 300}));

    // Larger than the size the view was made for: the back buffer grows with it.
    window.resize(2000, 1200);
    settle();
    ASSERT_TRUE(view.SetWndStyle(4, 0));
    const RECT r = paneRect(3);
    EXPECT_EQ(r, (RECT{1001, 601, 1999, 1199}));
    VideoSurface* overlay = view.CreatOverlaySurface(2, 2);
    EXPECT_TRUE(drawFrame(view, 3, solid(64, 36, kRed), overlay));
    EXPECT_TRUE(pixelIs(view.grabBackBuffer(), 1998, 900, kRed));
    overlay->Release();
}

} // namespace
