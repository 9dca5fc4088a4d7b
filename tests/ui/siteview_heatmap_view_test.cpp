// The heatmap in the site view: toggled by its command, drawn between the
// plan and the points, chosen metric, opacity, markers and legend.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QSpinBox>

#include <cstdlib>

#include "support/SiteViewWorld.h"
#include "ui/siteview/HeatmapControls.h"
#include "ui/siteview/HeatmapLayer.h"

namespace ketrion::testing {
namespace {

constexpr unsigned kGrey = 0x808080;

QImage GreyPlan(int w, int h) {
    QImage plan(w, h, QImage::Format_RGB32);
    plan.fill(QColor::fromRgb(kGrey));
    return plan;
}

int Distance(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
           std::abs(qBlue(a) - qBlue(b));
}

class HeatmapView : public ::testing::Test {
protected:
    // A desktop-sized view over an 800 x 600 grey plan at 100%, two survey
    // points 200 pixels apart: (200, 200) at -60 dBm and (400, 200) at -80 dBm,
    // each from its own access point, and one that heard nothing at (250, 320)
    // closing the triangle the heatmap covers.
    std::unique_ptr<CSiteView> Make(int width = 800, int height = 600) {
        auto view = world.MakeView(width, height);
        if (width > CSiteView::kHandheldWidth)
            view->SetPlanImage(GreyPlan(800, 600));
        world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("h.ktd")));
        view->OnCollectionOpen();
        EXPECT_TRUE(view->IsSurveyShown());
        world.AddSurveyPoint(200, 200, -60);
        world.AddSurveyPoint(400, 200, -80);
        world.AddSurveyPoint(250, 320, CSiteData::kWeakestSignal);
        view->UpdateOverlay();
        return view;
    }
    // Shows the heatmap and waits for its first picture.
    static bool ShowHeatmap(CSiteView& view) {
        view.OnCommand(ID_VIEW_HEATMAP);
        return WaitIdle(view) && view.Heatmap().HasResult();
    }
    static bool WaitIdle(CSiteView& view) {
        return ProcessEventsUntil([&] { return !view.Heatmap().IsComputing(); });
    }
    // The client pixel of a plan point.
    QPoint Client(double x, double y) const {
        const ViewTransform t = world.plan.Transform();
        return QPoint(static_cast<int>(t.ToClientX(x)), static_cast<int>(t.ToClientY(y)));
    }
    // The colour the finished grid gives the node of plan pixel (x, y).
    static QRgb NodeColour(CSiteView& view, int x, int y) {
        const HeatmapResult& r = view.Heatmap().Result();
        return r.image.pixel(x / r.grid.cell, y / r.grid.cell);
    }
    SiteViewWorld world;
};

TEST_F(HeatmapView, TogglingDrawsTheLayerAndRestoresTheFormerPictureExactly) {
    auto view = Make();
    const QImage before = view->Render();
    EXPECT_FALSE(view->IsHeatmapShown());
    // Between the points, clear of discs and path: the plan's grey.
    const QPoint between = Client(300, 240);
    ASSERT_EQ(Rgb(before, between.x(), between.y()), kGrey);

    ASSERT_TRUE(ShowHeatmap(*view));
    EXPECT_TRUE(view->IsHeatmapShown());
    ASSERT_NE(view->HeatmapPanel(), nullptr);
    EXPECT_TRUE(view->HeatmapPanel()->isVisible());
    const QImage shown = view->Render();
    EXPECT_NE(Rgb(shown, between.x(), between.y()), kGrey);
    // Outside the surveyed area nothing is painted.
    const QPoint far = Client(700, 500);
    EXPECT_EQ(Rgb(shown, far.x(), far.y()), kGrey);
    // The points stay on top: the first point's disc centre is unchanged.
    const QPoint disc = Client(200, 200);
    EXPECT_EQ(shown.pixel(disc), before.pixel(disc));

    view->OnCommand(ID_VIEW_HEATMAP);
    EXPECT_FALSE(view->IsHeatmapShown());
    EXPECT_FALSE(view->HeatmapPanel()->isVisible());
    EXPECT_EQ(view->Render(), before);
}

TEST_F(HeatmapView, TheHandheldPictureIsUnchangedUntilShownAndAfterHiding) {
    auto view = Make(240, 268);
    const QImage before = view->Render();
    ASSERT_TRUE(ShowHeatmap(*view));
    EXPECT_NE(view->Render(), before);
    view->OnCommand(ID_VIEW_HEATMAP);
    EXPECT_EQ(view->Render(), before);
}

TEST_F(HeatmapView, NewPointsRedrawTheLayer) {
    auto view = Make();
    view->Heatmap().SetThrottle(0);
    ASSERT_TRUE(ShowHeatmap(*view));
    const QPoint lower = Client(300, 420);
    EXPECT_EQ(Rgb(view->Render(), lower.x(), lower.y()), kGrey);  // out of range so far

    world.AddSurveyPoint(300, 400, -50);
    view->Heatmap().Poll();
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().points, 4u);
    EXPECT_NE(Rgb(view->Render(), lower.x(), lower.y()), kGrey);
}

TEST_F(HeatmapView, ANewPlanHidesTheOldGridUntilItIsRecomputed) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    view->SetPlanImage(GreyPlan(1000, 700));
    const QPoint between = Client(300, 240);
    EXPECT_EQ(Rgb(view->Render(), between.x(), between.y()), kGrey);

    view->Heatmap().Poll();
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().planWidth, 1000);
    EXPECT_NE(Rgb(view->Render(), between.x(), between.y()), kGrey);
}

TEST_F(HeatmapView, TheChosenMetricAndAccessPointChangeWhatIsDrawn) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    HeatmapControls& panel = *view->HeatmapPanel();
    const QPoint near = Client(230, 240);
    const QRgb strongest = view->Render().pixel(near);

    ASSERT_TRUE(panel.ChooseMetric(QStringLiteral("ap")));
    ASSERT_TRUE(WaitIdle(*view));
    // Both access points are offered; the second one was not heard near the first point.
    ASSERT_EQ(panel.TargetBox()->count(), 2);
    ASSERT_TRUE(panel.ChooseTarget(QStringLiteral("00:1a:2b:3c:4d:02")));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Spec().metric, analysis::Metric::Ap);
    EXPECT_EQ(analysis::MacText(view->Heatmap().Spec().mac), "00:1a:2b:3c:4d:02");
    const QRgb second = view->Render().pixel(near);
    EXPECT_GT(Distance(second, strongest), 30);

    ASSERT_TRUE(panel.ChooseMetric(QStringLiteral("coverage")));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_TRUE(panel.ThresholdBox()->isVisibleTo(&panel));
    EXPECT_FALSE(panel.TargetBox()->isVisibleTo(&panel));
    EXPECT_TRUE(view->Heatmap().Result().scale.Discrete());
    EXPECT_FALSE(panel.LegendLabel()->pixmap().isNull());
}

TEST_F(HeatmapView, TheBandFilterAndChannelOverlapAreOffered) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    HeatmapControls& panel = *view->HeatmapPanel();
    EXPECT_FALSE(view->Heatmap().Spec().band);
    const int five = panel.BandBox()->findData(QStringLiteral("5"));
    ASSERT_GE(five, 0);
    panel.BandBox()->setCurrentIndex(five);
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Spec().band, analysis::Band::Ghz5);
    EXPECT_TRUE(view->Heatmap().Result().scale.Title().endsWith(QStringLiteral("(5 GHz)")));

    ASSERT_TRUE(panel.ChooseMetric(QStringLiteral("channel-overlap")));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Spec().metric, analysis::Metric::ChannelOverlap);
    EXPECT_EQ(view->Heatmap().Spec().band, analysis::Band::Ghz5) << "the band stays chosen";
    panel.BandBox()->setCurrentIndex(0);
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_FALSE(view->Heatmap().Spec().band);
}

TEST_F(HeatmapView, OpacityBlendsTheGridOverThePlan) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    HeatmapControls& panel = *view->HeatmapPanel();
    const QPoint at = Client(300, 240);
    const QRgb node = NodeColour(*view, 300, 240);

    panel.OpacitySlider()->setValue(100);
    EXPECT_EQ(view->Render().pixel(at) & 0xFFFFFFu, node & 0xFFFFFFu);
    panel.OpacitySlider()->setValue(0);
    EXPECT_EQ(Rgb(view->Render(), at.x(), at.y()), kGrey);
    panel.OpacitySlider()->setValue(50);
    const QRgb half = view->Render().pixel(at);
    const QRgb mix =
        qRgb((qRed(node) + 0x80) / 2, (qGreen(node) + 0x80) / 2, (qBlue(node) + 0x80) / 2);
    EXPECT_LE(Distance(half, mix), 6);
    EXPECT_DOUBLE_EQ(view->Heatmap().Opacity(), 0.5);
}

TEST_F(HeatmapView, EstimatedAccessPointsAreMarkedAndLabelledOnADesktop) {
    auto view = Make();
    // The points hold no GPS position, so the estimates land on the map's
    // offset: a clear part of the plan.
    world.projection.m_xOrigin = 300;
    world.projection.m_yOrigin = 450;
    ASSERT_TRUE(ShowHeatmap(*view));
    ASSERT_EQ(view->Heatmap().Markers().size(), 2u);
    const QPoint origin = view->Heatmap().Markers()[0].plan;
    EXPECT_EQ(origin, QPoint(300, 450));
    EXPECT_EQ(view->Heatmap().Markers()[0].label, QStringLiteral("00:1a:2b:3c:4d:01 net"));
    const QImage without = view->Render();

    view->HeatmapPanel()->ApsBox()->setChecked(true);
    const QImage with = view->Render();
    const QPoint marker = Client(origin.x() + 0.5, origin.y() + 0.5);
    int changed = 0;
    int labelChanged = 0;
    for (int y = std::max(0, marker.y() - 8); y <= marker.y() + 8; ++y) {
        for (int x = std::max(0, marker.x() - 8); x <= marker.x() + 8; ++x)
            changed += with.pixel(x, y) != without.pixel(x, y) ? 1 : 0;
        for (int x = marker.x() + 12; x <= marker.x() + 60; ++x)
            labelChanged += with.pixel(x, y) != without.pixel(x, y) ? 1 : 0;
    }
    EXPECT_GT(changed, 20);
    EXPECT_GT(labelChanged, 20);

    view->HeatmapPanel()->ApsBox()->setChecked(false);
    EXPECT_EQ(view->Render(), without);
}

TEST_F(HeatmapView, ADesktopViewShowsTheScaleAtItsRightEdge) {
    auto view = Make();
    const QImage before = view->Render();
    ASSERT_TRUE(ShowHeatmap(*view));
    const QImage shown = view->Render();
    int changed = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 700; x < 790; ++x)
            changed += shown.pixel(x, y) != before.pixel(x, y) ? 1 : 0;
    EXPECT_GT(changed, 500);
}

}  // namespace
}  // namespace ketrion::testing
