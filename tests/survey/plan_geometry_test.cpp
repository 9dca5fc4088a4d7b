#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "survey/SitePlan.h"

namespace ketrion {
namespace {

// A 240 x 265 plan in a 240 x 268 client area, set up as the site view does
// after loading a projection: viewport (0, 0, 240, 240), centre (120, 120).
CSitePlan MakeHandheldPlan() {
    CSitePlan plan;
    plan.ResetGeometry();
    plan.SetClientRect(0, 0, 240, 268);
    plan.SetExtent(0, 0, 240, 265);
    plan.SetViewport(0, 0, 240, 240);
    return plan;
}

const SiteRect kClient{0, 0, 240, 268};

TEST(SitePlanTest, ZoomInThenOutRestoresViewport) {
    CSitePlan plan = MakeHandheldPlan();
    plan.ZoomIn();
    EXPECT_EQ(plan.GetViewport(), (SiteRect{60, 60, 180, 180}));
    EXPECT_EQ(plan.GetZoom(), 2);
    plan.ZoomOut();
    EXPECT_EQ(plan.GetViewport(), (SiteRect{0, 0, 240, 240}));
    EXPECT_EQ(plan.GetCentreX(), 120);
    EXPECT_EQ(plan.GetCentreY(), 120);
    EXPECT_EQ(plan.GetZoom(), 1);

    // Factor 1 is the floor.
    plan.ZoomOut();
    EXPECT_EQ(plan.GetViewport(), (SiteRect{0, 0, 240, 240}));
    EXPECT_EQ(plan.GetZoom(), 1);
}

TEST(SitePlanTest, ZoomRoundTripsFromSeveralCentres) {
    struct Case {
        const char* legend;
        int cx, cy, steps;
    };
    const Case cases[] = {
        {"centre, three steps", 120, 120, 3},
        {"top-left corner", 0, 0, 2},
        {"bottom-right corner", 240, 265, 4},
        {"right edge, deep", 240, 100, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CSitePlan plan = MakeHandheldPlan();
        plan.CentreOn(c.cx, c.cy);
        for (int i = 0; i < c.steps; ++i) {
            plan.ZoomIn();
        }
        EXPECT_EQ(plan.GetZoom(), 1 << c.steps);
        for (int i = 0; i < c.steps; ++i) {
            plan.ZoomOut();
        }
        EXPECT_EQ(plan.GetZoom(), 1);
        // Back at factor 1 the viewport is square (the client's smaller side)
        // and lies inside the extent wherever the plan allows it.
        const SiteRect v = plan.GetViewport();
        EXPECT_EQ(v.right - v.left, 240);
        EXPECT_EQ(v.bottom - v.top, 240);
        EXPECT_GE(v.left, 0);
        EXPECT_LE(v.right, 240);
        EXPECT_GE(v.top, 0);
        EXPECT_LE(v.bottom, 265);
    }
}

TEST(SitePlanTest, ZoomInStopsBeforeViewportVanishes) {
    CSitePlan plan = MakeHandheldPlan();
    for (int i = 0; i < 40; ++i) {
        plan.ZoomIn();
        const SiteRect v = plan.GetViewport();
        ASSERT_GE(v.right - v.left, 1);
        ASSERT_GE(v.bottom - v.top, 1);
    }
    // 240 halves to 1 pixel in 7 steps; the eighth would not shrink it further.
    EXPECT_EQ(plan.GetZoom(), 128);
    const SiteRect before = plan.GetViewport();
    plan.ZoomIn();
    EXPECT_EQ(plan.GetViewport(), before);

    // Conversions at the deepest zoom still work (no division by zero).
    std::int32_t sx = -1;
    std::int32_t sy = -1;
    EXPECT_TRUE(plan.PlanToScreen(kClient, before.left, before.top, sx, sy));
    EXPECT_EQ(sx, 0);
    EXPECT_EQ(sy, 0);
    SiteRect dst = kClient;
    SiteRect src;
    plan.GetCopyRects(dst, src);
    EXPECT_EQ(src, before);
}

TEST(SitePlanTest, ZoomFactorNeverOverflows) {
    CSitePlan plan;
    plan.SetClientRect(0, 0, 1000, 1000);
    plan.SetExtent(0, 0, 2'000'000'000, 2'000'000'000);
    plan.SetViewport(0, 0, 2'000'000'000, 2'000'000'000);
    for (int i = 0; i < 20; ++i) {
        plan.ZoomIn();
    }
    EXPECT_EQ(plan.GetZoom(), 16384);
    for (int i = 0; i < 20; ++i) {
        plan.ZoomOut();
    }
    EXPECT_EQ(plan.GetZoom(), 1);
}

TEST(SitePlanTest, ScrollingClampsCentreToExtent) {
    CSitePlan plan = MakeHandheldPlan();
    plan.SetCentreX(5);
    plan.ScrollLeft(10);
    EXPECT_EQ(plan.GetCentreX(), 0);
    EXPECT_EQ(plan.GetViewport().left, -120);
    EXPECT_EQ(plan.GetViewport().right, 120);

    plan.ScrollRight(1000);
    EXPECT_EQ(plan.GetCentreX(), 240);
    EXPECT_EQ(plan.GetViewport().left, 120);
    EXPECT_EQ(plan.GetViewport().right, 360);

    plan.ScrollDown(1000);
    EXPECT_EQ(plan.GetCentreY(), 265);
    EXPECT_EQ(plan.GetViewport().top, 145);
    EXPECT_EQ(plan.GetViewport().bottom, 385);

    plan.ScrollUp(20);
    EXPECT_EQ(plan.GetCentreY(), 245);
    EXPECT_EQ(plan.GetViewport().top, 125);

    // SetCentre lowers to the extent, then raises negatives to 0.
    plan.SetCentreX(-50);
    EXPECT_EQ(plan.GetCentreX(), 0);
    plan.SetCentreY(9999);
    EXPECT_EQ(plan.GetCentreY(), 265);
}

TEST(SitePlanTest, OddWidthLosesOnePixelWhenLaidOut) {
    CSitePlan plan;
    plan.SetExtent(0, 0, 1000, 1000);
    plan.SetViewport(0, 0, 101, 101);
    plan.ScrollRight(0);
    EXPECT_EQ(plan.GetViewport().left, 0);
    EXPECT_EQ(plan.GetViewport().right, 100);
}

TEST(SitePlanTest, CopyRectsAtEveryEdge) {
    struct Case {
        const char* legend;
        int cx, cy;
        SiteRect dst, src;
    };
    // Viewport 240 x 240 over a 240 x 265 plan, client 240 x 268.
    const Case cases[] = {
        {"inside: full copy", 120, 120, {0, 0, 240, 268}, {0, 0, 240, 240}},
        {"left edge beyond plan", 0, 120, {120, 0, 240, 268}, {0, 0, 120, 240}},
        {"top edge beyond plan", 120, 0, {0, 134, 240, 268}, {0, 0, 240, 120}},
        {"right edge beyond plan", 240, 120, {0, 0, 120, 268}, {120, 0, 240, 240}},
        {"bottom edge beyond plan", 120, 265, {0, 0, 240, 134}, {0, 145, 240, 265}},
        {"top-left corner", 0, 0, {120, 134, 240, 268}, {0, 0, 120, 120}},
        {"bottom-right corner", 240, 265, {0, 0, 120, 134}, {120, 145, 240, 265}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        CSitePlan plan = MakeHandheldPlan();
        plan.CentreOn(c.cx, c.cy);
        SiteRect dst = kClient;
        SiteRect src;
        plan.GetCopyRects(dst, src);
        EXPECT_EQ(dst, c.dst);
        EXPECT_EQ(src, c.src);
    }
}

TEST(SitePlanTest, PlanToScreenOnlyInsideViewport) {
    CSitePlan plan = MakeHandheldPlan();
    plan.ZoomIn();  // viewport (60, 60, 180, 180): 2 screen pixels per plan pixel
    std::int32_t sx = -7;
    std::int32_t sy = -7;
    EXPECT_TRUE(plan.PlanToScreen(kClient, 180, 180, sx, sy));
    EXPECT_EQ(sx, 240);
    EXPECT_EQ(sy, 268);
    EXPECT_TRUE(plan.PlanToScreen(kClient, 60, 100, sx, sy));
    EXPECT_EQ(sx, 0);
    EXPECT_EQ(sy, 89);  // 40 * 268 / 120

    sx = sy = -7;
    EXPECT_FALSE(plan.PlanToScreen(kClient, 181, 100, sx, sy));
    EXPECT_FALSE(plan.PlanToScreen(kClient, 100, 59, sx, sy));
    EXPECT_EQ(sx, -7);
    EXPECT_EQ(sy, -7);
}

TEST(SitePlanTest, ScreenAndPlanConversionsAgree) {
    CSitePlan plan = MakeHandheldPlan();
    plan.ZoomIn();
    std::int32_t px = 0;
    std::int32_t py = 0;
    plan.ScreenToPlan(kClient, 120, 134, px, py);
    EXPECT_EQ(px, 120);
    EXPECT_EQ(py, 120);
    // Screen to plan and back lands within one plan pixel's worth of screen.
    for (int s = 0; s <= 240; s += 17) {
        plan.ScreenToPlan(kClient, s, s, px, py);
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        ASSERT_TRUE(plan.PlanToScreen(kClient, px, py, sx, sy));
        EXPECT_LE(s - sx, 2);
        EXPECT_GE(s - sx, 0);
    }

    // Centring on a tapped screen point moves the centre to the plan point.
    plan.CentreOnScreenPoint(kClient, 0, 0);
    EXPECT_EQ(plan.GetCentreX(), 60);
    EXPECT_EQ(plan.GetCentreY(), 60);
    EXPECT_EQ(plan.GetViewport(), (SiteRect{0, 0, 120, 120}));
}

TEST(SitePlanTest, EmptyClientOrViewportDoesNotDivideByZero) {
    CSitePlan plan;  // all zero: no plan loaded, no client area yet
    std::int32_t px = 5;
    std::int32_t py = 5;
    plan.ScreenToPlan(SiteRect{}, 10, 10, px, py);
    EXPECT_EQ(px, 0);
    EXPECT_EQ(py, 0);
    std::int32_t sx = 5;
    std::int32_t sy = 5;
    EXPECT_TRUE(plan.PlanToScreen(SiteRect{}, 0, 0, sx, sy));
    SiteRect dst{0, 0, 100, 100};
    SiteRect src{1, 1, 1, 1};
    plan.GetCopyRects(dst, src);
    EXPECT_EQ(src, SiteRect{});
    plan.CentreOnScreenPoint(SiteRect{}, 3, 3);
    plan.ZoomIn();
    EXPECT_EQ(plan.GetZoom(), 1);
}

TEST(SitePlanTest, LargeCoordinatesDoNotOverflow) {
    CSitePlan plan;
    plan.SetClientRect(0, 0, 1000, 1000);
    plan.SetExtent(0, 0, 2'000'000'000, 2'000'000'000);
    plan.SetViewport(0, 0, 2'000'000'000, 2'000'000'000);
    const SiteRect client{0, 0, 1000, 1000};
    std::int32_t px = 0;
    std::int32_t py = 0;
    plan.ScreenToPlan(client, 500, 999, px, py);
    EXPECT_EQ(px, 1'000'000'000);
    EXPECT_EQ(py, 1'998'000'000);
    std::int32_t sx = 0;
    std::int32_t sy = 0;
    ASSERT_TRUE(plan.PlanToScreen(client, 1'999'999'999, 1'000'000'000, sx, sy));
    EXPECT_EQ(sx, 999);
    EXPECT_EQ(sy, 500);

    // A viewport reaching far beyond the plan on every side.
    plan.SetExtent(0, 0, 100, 100);
    plan.SetViewport(0, 0, 2'000'000'000, 2'000'000'000);
    plan.SetCentreX(0);
    plan.SetCentreY(0);
    SiteRect dst = client;
    SiteRect src;
    plan.GetCopyRects(dst, src);
    // Left and top move to the middle; right and bottom scale from there.
    EXPECT_EQ(dst, (SiteRect{500, 500, 751, 751}));
    EXPECT_EQ(src, (SiteRect{0, 0, 100, 100}));
}

TEST(SitePlanTest, ResetKeepsZoomFactor) {
    CSitePlan plan = MakeHandheldPlan();
    plan.ZoomIn();
    plan.ZoomIn();
    plan.ResetGeometry();
    EXPECT_EQ(plan.GetViewport(), SiteRect{});
    EXPECT_EQ(plan.GetCentreX(), 0);
    plan.SetClientRect(0, 0, 240, 268);
    plan.SetExtent(0, 0, 500, 400);
    plan.SetViewport(0, 0, 240, 240);
    EXPECT_EQ(plan.GetZoom(), 4);
    EXPECT_EQ(plan.GetViewport(), (SiteRect{0, 0, 240, 240}));
}

// ---------------------------------------------------------------------------
// Square plan pixels: the viewport follows the client's shape.

// A w x h plan in a cw x ch client with square pixels, set up as the site
// view does for a desktop window: the whole plan, no larger than 100%.
CSitePlan MakeSquarePlan(int w, int h, int cw, int ch) {
    CSitePlan plan;
    plan.ResetGeometry();
    plan.SetSquarePixels(true);
    plan.SetClientRect(0, 0, cw, ch);
    plan.SetExtent(0, 0, w, h);
    plan.SetScale(plan.MinScale());
    plan.CentreOn(w / 2, h / 2);
    return plan;
}

TEST(SitePlanSquare, OnePlanPixelIsAsWideAsItIsHighAtAnyClientShape) {
    struct Case {
        int cw, ch;
    } const cases[] = {{1024, 768}, {1920, 1080}, {300, 900}, {241, 268}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cw);
        CSitePlan plan = MakeSquarePlan(4000, 3000, c.cw, c.ch);
        for (int zoom = 0; zoom < 4; ++zoom) {
            const ViewTransform t = plan.Transform();
            EXPECT_DOUBLE_EQ(t.scaleX, t.scaleY);
            // A 100 x 100 plan square near the centre covers a square on screen.
            const SiteRect client{0, 0, c.cw, c.ch};
            const int cx = plan.GetCentreX();
            const int cy = plan.GetCentreY();
            std::int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
            const int side = std::max(2, static_cast<int>(40 / t.scaleX));
            ASSERT_TRUE(plan.PlanToScreen(client, cx, cy, x0, y0));
            ASSERT_TRUE(plan.PlanToScreen(client, cx + side, cy + side, x1, y1));
            EXPECT_NEAR(x1 - x0, y1 - y0, 1);
            EXPECT_NEAR(x1 - x0, side * t.scaleX, 1);
            plan.ZoomIn();
        }
    }
}

TEST(SitePlanSquare, HundredPercentIsOnePlanPixelPerClientPixelAndTheViewportTakesTheClientShape) {
    CSitePlan plan = MakeSquarePlan(800, 600, 1024, 768);  // fits: stays at 100%
    EXPECT_DOUBLE_EQ(plan.GetScale(), 1.0);
    EXPECT_EQ(plan.GetZoomPercent(), 100);
    const SiteRect v = plan.GetViewport();
    EXPECT_NEAR(v.right - v.left, 1024, 1);
    EXPECT_NEAR(v.bottom - v.top, 768, 1);
    // Centred on the plan: its top-left corner lands at (112, 84).
    std::int32_t sx = 0, sy = 0;
    ASSERT_TRUE(plan.PlanToScreen({0, 0, 1024, 768}, 0, 0, sx, sy));
    EXPECT_EQ(sx, 112);
    EXPECT_EQ(sy, 84);
    std::int32_t px = 0, py = 0;
    plan.ScreenToPlan({0, 0, 1024, 768}, 612, 384, px, py);
    EXPECT_EQ(px, 500);
    EXPECT_EQ(py, 300);
}

TEST(SitePlanSquare, ZoomGoesDownToFitTheWholePlanAndNoFurther) {
    CSitePlan plan = MakeSquarePlan(4000, 3000, 1000, 600);
    // 600 / 3000 is the tighter side.
    EXPECT_DOUBLE_EQ(plan.FitScale(), 0.2);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 0.2);
    plan.SetScale(1.0);
    for (int i = 0; i < 6; ++i) {
        plan.ZoomOut();
    }
    EXPECT_DOUBLE_EQ(plan.GetScale(), 0.2);
    EXPECT_EQ(plan.GetZoomPercent(), 20);
    plan.SetScale(3.0);
    plan.ZoomToFit();
    const SiteRect v = plan.GetViewport();
    EXPECT_LE(v.left, 0);
    EXPECT_LE(v.top, 0);
    EXPECT_GE(v.right, 4000);
    EXPECT_GE(v.bottom, 3000);
    EXPECT_EQ(plan.GetCentreX(), 2000);
    EXPECT_EQ(plan.GetCentreY(), 1500);
    // A small plan fits by zooming in; the smallest zoom is then 100%.
    CSitePlan small = MakeSquarePlan(200, 100, 1000, 600);
    EXPECT_DOUBLE_EQ(small.MinScale(), 1.0);
    small.ZoomToFit();
    EXPECT_DOUBLE_EQ(small.GetScale(), 5.0);
    // Zoom in is bounded.
    for (int i = 0; i < 20; ++i) {
        small.ZoomIn();
    }
    EXPECT_DOUBLE_EQ(small.GetScale(), CSitePlan::kMaxScale);
    EXPECT_GE(small.GetViewport().right - small.GetViewport().left, 1);
}

TEST(SitePlanSquare, ZoomAtKeepsThePlanPointUnderTheCursor) {
    CSitePlan plan = MakeSquarePlan(4000, 3000, 1024, 768);
    plan.SetScale(1.0);
    plan.CentreOn(2000, 1500);
    const ViewTransform before = plan.Transform();
    const double px = before.ToPlanX(300);
    const double py = before.ToPlanY(200);
    plan.ZoomAt(2.0, 300, 200);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 2.0);
    EXPECT_NEAR(plan.Transform().ToClientX(px), 300, 1e-6);
    EXPECT_NEAR(plan.Transform().ToClientY(py), 200, 1e-6);
    plan.ZoomAt(0.25, 900, 700);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 0.5);
    // Bad factors change nothing.
    const SiteRect v = plan.GetViewport();
    plan.ZoomAt(0.0, 10, 10);
    plan.ZoomAt(std::nan(""), 10, 10);
    EXPECT_EQ(plan.GetViewport(), v);
}

TEST(SitePlanSquare, PanMovesThePlanWithTheCursorAndStopsWithTheCentreAtTheEdge) {
    CSitePlan plan = MakeSquarePlan(4000, 3000, 1000, 800);
    plan.SetScale(2.0);
    plan.CentreOn(2000, 1500);
    // Dragging right by 100 client pixels shows 50 plan pixels further left.
    plan.PanBy(100, -40);
    EXPECT_EQ(plan.GetCentreX(), 1950);
    EXPECT_EQ(plan.GetCentreY(), 1520);
    plan.PanBy(1e7, 1e7);
    EXPECT_EQ(plan.GetCentreX(), 0);
    EXPECT_EQ(plan.GetCentreY(), 0);
    plan.PanBy(-1e9, -1e9);
    EXPECT_EQ(plan.GetCentreX(), 4000);
    EXPECT_EQ(plan.GetCentreY(), 3000);
    // The arrow keys' steps are plan pixels at any scale.
    plan.ScrollLeft(10);
    EXPECT_EQ(plan.GetCentreX(), 3990);
    plan.ScrollDown(10);
    EXPECT_EQ(plan.GetCentreY(), 3000);
}

TEST(SitePlanSquare, ResizingKeepsTheCentreAndTheScale) {
    CSitePlan plan = MakeSquarePlan(4000, 3000, 1024, 768);
    plan.SetScale(1.0);
    plan.CentreOn(1234, 987);
    plan.SetClientRect(0, 0, 1920, 1080);
    EXPECT_EQ(plan.GetCentreX(), 1234);
    EXPECT_EQ(plan.GetCentreY(), 987);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 1.0);
    const SiteRect v = plan.GetViewport();
    EXPECT_NEAR(v.right - v.left, 1920, 1);
    EXPECT_NEAR(v.bottom - v.top, 1080, 1);
    // A client that grows past the plan raises a scale below the new fit.
    CSitePlan fitted = MakeSquarePlan(2000, 1000, 500, 500);
    EXPECT_DOUBLE_EQ(fitted.GetScale(), 0.25);
    fitted.SetClientRect(0, 0, 1000, 1000);
    EXPECT_DOUBLE_EQ(fitted.GetScale(), 0.5);
}

TEST(SitePlanSquare, SwitchingLayoutsKeepsTheCentre) {
    CSitePlan plan = MakeHandheldPlan();
    plan.ZoomIn();  // viewport (60, 60)-(180, 180): 2 client pixels per plan pixel
    plan.SetSquarePixels(true);
    plan.SetClientRect(0, 0, 1024, 768);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 2.0);
    EXPECT_EQ(plan.GetCentreX(), 120);
    EXPECT_EQ(plan.GetCentreY(), 120);
    plan.SetScale(4.5);
    plan.CentreOn(100, 90);
    // Back on the handheld: the square viewport at the factor 4.
    plan.SetClientRect(0, 0, 240, 268);
    plan.SetSquarePixels(false);
    EXPECT_EQ(plan.GetZoom(), 4);
    EXPECT_EQ(plan.GetViewport(), (SiteRect{70, 60, 130, 120}));
    EXPECT_EQ(plan.GetCentreX(), 100);
    EXPECT_EQ(plan.GetCentreY(), 90);
    EXPECT_EQ(plan.GetZoomPercent(), 400);
}

TEST(SitePlanSquare, CopyRectsPlaceTheVisiblePlanAtTheScale) {
    CSitePlan plan = MakeSquarePlan(800, 600, 1024, 768);
    SiteRect dst{0, 0, 1024, 768};
    SiteRect src;
    plan.GetCopyRects(dst, src);
    EXPECT_EQ(src, (SiteRect{0, 0, 800, 600}));
    EXPECT_EQ(dst, (SiteRect{112, 84, 912, 684}));
    plan.SetScale(2.0);
    dst = {0, 0, 1024, 768};
    plan.GetCopyRects(dst, src);
    EXPECT_EQ(src, (SiteRect{144, 108, 656, 492}));
    EXPECT_EQ(dst, (SiteRect{0, 0, 1024, 768}));
}

TEST(SitePlanSquare, FitAreaShowsARectangleWithItsMarginAtNoMoreThanTheLimit) {
    CSitePlan plan = MakeSquarePlan(4000, 3000, 1000, 800);
    plan.FitArea({1000, 1000, 1920, 1400}, 40, 1.0);
    // 920 x 400 plan pixels in 920 x 720 client pixels: 100%.
    EXPECT_DOUBLE_EQ(plan.GetScale(), 1.0);
    EXPECT_EQ(plan.GetCentreX(), 1460);
    EXPECT_EQ(plan.GetCentreY(), 1200);
    plan.FitArea({0, 0, 3680, 1000}, 40, 1.0);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 0.25);
    // One point: the limit holds.
    plan.FitArea({500, 500, 500, 500}, 40, 1.0);
    EXPECT_DOUBLE_EQ(plan.GetScale(), 1.0);
    EXPECT_EQ(plan.GetCentreX(), 500);
}

}  // namespace
}  // namespace ketrion
