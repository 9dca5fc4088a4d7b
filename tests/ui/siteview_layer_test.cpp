// The survey layer on its own: plan, overlay and points for one placement.

#include <gtest/gtest.h>

#include <QPainter>

#include "support/SiteViewWorld.h"
#include "ui/siteview/SurveyLayer.h"

namespace ketrion::testing {
namespace {

constexpr unsigned kGrey = 0x808080;

// A site plan over a w x h plan in a cw x ch client with square pixels at `scale`.
CSitePlan SquarePlan(int w, int h, int cw, int ch, double scale) {
    CSitePlan plan;
    plan.SetSquarePixels(true);
    plan.SetClientRect(0, 0, cw, ch);
    plan.SetExtent(0, 0, w, h);
    plan.SetScale(scale);
    plan.CentreOn(w / 2, h / 2);
    return plan;
}

QImage Plain(int w, int h, unsigned rgb) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(rgb));
    return image;
}

SurveyLayer::Placement At(int cw, int ch, double ratio, int radius) {
    SurveyLayer::Placement placement;
    placement.client = {0, 0, cw, ch};
    placement.ratio = ratio;
    placement.radius = radius;
    placement.penWidth = static_cast<int>(ratio);
    return placement;
}

class Layer : public ::testing::Test {
protected:
    Layer() { world.ChooseCollection("layer.ktd"); }
    SiteViewWorld world;
};

TEST_F(Layer, PointsLandAtTheirScaledPlacesInDevicePixels) {
    const CSitePlan plan = SquarePlan(400, 300, 400, 300, 1.0);
    SurveyLayer layer;
    world.SetPosition(100, 50);
    world.ScanEnd();  // no reading: a black disc
    const QImage& image =
        layer.Update(plan, At(400, 300, 2.0, 20), Plain(400, 300, kGrey), world.data);
    ASSERT_EQ(image.size(), QSize(800, 600));
    EXPECT_EQ(image.devicePixelRatio(), 2.0);
    EXPECT_EQ(Rgb(image, 200 + 5, 100 + 5), 0x000000u);
    EXPECT_EQ(Rgb(image, 200 + 24, 100), kGrey);
    EXPECT_EQ(Rgb(image, 600, 400), kGrey);
}

TEST_F(Layer, DrawingNewPointsOntoTheKeptPictureEqualsDrawingThemAllAtRatioTwo) {
    const CSitePlan plan = SquarePlan(600, 400, 500, 300, 1.5);
    const QImage planImage = Plain(600, 400, 0xE0E0C0);
    const int positions[][2] = {{250, 180}, {300, 200}, {320, 260}, {260, 150}};
    SurveyLayer stepwise;
    for (const auto& p : positions) {
        world.SetPosition(p[0], p[1]);
        world.ScanEnd();
        stepwise.Update(plan, At(500, 300, 2.0, 30), planImage, world.data);
    }
    SurveyLayer once;
    const QImage all = once.Update(plan, At(500, 300, 2.0, 30), planImage, world.data);
    EXPECT_EQ(stepwise.Update(plan, At(500, 300, 2.0, 30), planImage, world.data), all);
    // The path between the points is two device pixels wide.
    int dark = 0;
    for (int y = 0; y < all.height(); ++y) {
        dark += Rgb(all, all.width() / 2 + 30, y) == 0u ? 1 : 0;
    }
    EXPECT_GE(dark, 2);
}

TEST_F(Layer, TheOverlayLiesBetweenThePlanAndThePoints) {
    const CSitePlan plan = SquarePlan(400, 300, 400, 300, 1.0);
    SurveyLayer layer;
    ViewTransform seen;
    int calls = 0;
    layer.SetOverlay([&](QPainter& dc, const ViewTransform& t) {
        seen = t;
        ++calls;
        // Plan (0, 0)-(200, 300) in red.
        dc.fillRect(QRectF(t.ToClientX(0), t.ToClientY(0), 200 * t.scaleX, 300 * t.scaleY),
                    QColor(255, 0, 0));
    });
    world.SetPosition(100, 150);
    world.ScanEnd();
    const QImage planImage = Plain(400, 300, kGrey);
    const QImage image = layer.Update(plan, At(400, 300, 1.0, 10), planImage, world.data);
    EXPECT_EQ(calls, 1);
    EXPECT_DOUBLE_EQ(seen.scaleX, 1.0);
    EXPECT_EQ(Rgb(image, 50, 50), 0xFF0000u);     // overlay over the plan
    EXPECT_EQ(Rgb(image, 300, 50), kGrey);        // plan beyond it
    EXPECT_EQ(Rgb(image, 100 + 3, 150 + 3), 0u);  // the disc over the overlay
    // A repaint with nothing new does not run the overlay again.
    layer.Update(plan, At(400, 300, 1.0, 10), planImage, world.data);
    EXPECT_EQ(calls, 1);
    layer.SetOverlay({});
    const QImage plain = layer.Update(plan, At(400, 300, 1.0, 10), planImage, world.data);
    EXPECT_EQ(Rgb(plain, 50, 50), kGrey);
}

TEST_F(Layer, PanningKeepsThePictureAndRedrawsOnlyTheUncoveredStrips) {
    // A plan with a pattern, a walk that leaves the view and comes back (once
    // far beside the plan), a placed access point and an overlay: every pan by whole device pixels
    // gives exactly the picture drawn afresh, at ratio 1 and 2.
    QImage planImage(900, 700, QImage::Format_RGB32);
    for (int y = 0; y < planImage.height(); ++y) {
        for (int x = 0; x < planImage.width(); ++x) {
            planImage.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 200));
        }
    }
    int signal = -95;
    for (int i = 0; i < 60; ++i) {
        world.AddSurveyPoint(100 + (i * 37) % 700, 80 + (i * 53) % 560, signal);
        signal = signal >= -25 ? -95 : signal + 9;
        if (i == 30) {
            world.PlaceAp(450, 350);
            // A jump far beside the plan and back: two segments across most
            // of the plan, which every pan must look at.
            world.AddSurveyPoint(9000, 300, -50);
            world.AddSurveyPoint(-7000, 500, -60);
        }
    }
    struct Clip {
        bool on;
        QRect rect;
    };
    std::vector<Clip> clips;
    const auto overlay = [&clips](QPainter& dc, const ViewTransform& t) {
        clips.push_back({dc.hasClipping(), dc.clipBoundingRect().toAlignedRect()});
        dc.setBrush(QColor(0, 0, 255, 90));
        dc.setPen(Qt::NoPen);
        dc.drawEllipse(QPointF(t.ToClientX(450), t.ToClientY(350)), 200 * t.scaleX, 150 * t.scaleY);
    };
    const QPointF pans[] = {{3, 0}, {0, -7}, {-25, 40}, {120, -90}, {1, 1}, {-300, 0}};
    for (double ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        CSitePlan plan = SquarePlan(900, 700, 400, 300, 1.0);
        SurveyLayer kept;
        kept.SetOverlay(overlay);
        kept.Update(plan, At(400, 300, ratio, 20), planImage, world.data);
        for (const QPointF& pan : pans) {
            SCOPED_TRACE(pan.x());
            plan.PanBy(pan.x(), pan.y());
            clips.clear();
            const QImage panned = kept.Update(plan, At(400, 300, ratio, 20), planImage, world.data);
            // The overlay ran only for the uncovered strips.
            ASSERT_FALSE(clips.empty());
            for (const Clip& clip : clips) {
                EXPECT_TRUE(clip.on);
                EXPECT_TRUE(clip.rect.width() <= std::abs(pan.x()) + 1 ||
                            clip.rect.height() <= std::abs(pan.y()) + 1);
            }
            SurveyLayer fresh;
            fresh.SetOverlay(overlay);
            const QImage whole = fresh.Update(plan, At(400, 300, ratio, 20), planImage, world.data);
            EXPECT_TRUE(panned == whole);
        }
        // New points after a pan carry the path on from the last one.
        world.AddSurveyPoint(460, 300, -40);
        const QImage grown = kept.Update(plan, At(400, 300, ratio, 20), planImage, world.data);
        SurveyLayer fresh;
        fresh.SetOverlay(overlay);
        EXPECT_TRUE(grown == fresh.Update(plan, At(400, 300, ratio, 20), planImage, world.data));
    }
    // A pan that is no whole number of device pixels draws everything again.
    CSitePlan plan = SquarePlan(900, 700, 400, 300, 1.0);
    SurveyLayer kept;
    kept.SetOverlay(overlay);
    kept.Update(plan, At(400, 300, 1.0, 20), planImage, world.data);
    plan.PanBy(2.5, 0);
    clips.clear();
    kept.Update(plan, At(400, 300, 1.0, 20), planImage, world.data);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_FALSE(clips[0].on);
}

TEST(SurveyLayerLine, DashesScaleWithThePenWidth) {
    QImage image(40, 6, QImage::Format_RGB32);
    image.fill(Qt::white);
    SurveyLayer::DrawDashedLine(image, {0, 2}, {36, 2}, 0xFF000000u, 2);
    // 8 steps drawn, 4 left out, two rows high; each step's square reaches
    // one pixel on.
    const auto drawn = [](int step) { return step >= 0 && step < 36 && step % 12 < 8; };
    for (int x = 0; x < 38; ++x) {
        const unsigned expected = drawn(x) || drawn(x - 1) ? 0u : 0xFFFFFFu;
        EXPECT_EQ(Rgb(image, x, 2), expected) << x;
        EXPECT_EQ(Rgb(image, x, 3), expected) << x;
        EXPECT_EQ(Rgb(image, x, 1), 0xFFFFFFu) << x;
    }
    // Lines beyond the image are clipped, not written out of bounds.
    SurveyLayer::DrawDashedLine(image, {-50, -50}, {90, 90}, 0xFF000000u, 3);
    SUCCEED();
}

TEST(SurveyLayerColours, LevelsAndColoursFollowTheSignalTable) {
    EXPECT_EQ(SurveyLayer::LevelColour(SurveyLayer::SignalLevel(-91)), QColor(0, 0, 0));
    EXPECT_EQ(SurveyLayer::LevelColour(SurveyLayer::SignalLevel(-90)), QColor(192, 0, 0));
    EXPECT_EQ(SurveyLayer::LevelColour(SurveyLayer::SignalLevel(-51)), QColor(0, 192, 0));
    EXPECT_EQ(SurveyLayer::LevelColour(SurveyLayer::SignalLevel(-31)), QColor(0, 0, 192));
    EXPECT_EQ(SurveyLayer::LevelColour(SurveyLayer::SignalLevel(-30)), QColor(255, 255, 255));
}

}  // namespace
}  // namespace ketrion::testing
