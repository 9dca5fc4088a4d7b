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

#include <QTableWidget>
#include "support/SiteViewWorld.h"

#include "ui/siteview/ApPanel.h"
#include "ui/siteview/HeatmapControls.h"
#include "ui/siteview/HeatmapLayer.h"
#include "ui/siteview/LabelPlacer.h"

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
    std::unique_ptr<CSiteView> Make(int width = 800, int height = 600, bool includeNoFix = true) {
        // The board's points here hold no fix: the view uses them only when
        // told to (--include-no-fix).
        world.session.SetIncludeNoFix(includeNoFix);
        auto view = world.MakeView(width, height);
        if (width > PlanNavigator::kHandheldWidth)
            view->SetPlanImage(GreyPlan(800, 600));
        world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("h.ktd")));
        view->Commands().OpenCollection();
        EXPECT_TRUE(view->Commands().IsSurveyShown());
        world.AddSurveyPoint(200, 200, -60);
        world.AddSurveyPoint(400, 200, -80);
        world.AddSurveyPoint(250, 320, CSiteData::kWeakestSignal);
        view->UpdateOverlay();
        m_areaTop = view->Navigator().PlanArea().top();
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
    // The view's pixel of a plan point.
    QPoint Client(double x, double y) const {
        const ViewTransform t = world.plan.Transform();
        return QPoint(static_cast<int>(t.ToClientX(x)),
                      m_areaTop + static_cast<int>(t.ToClientY(y)));
    }
    // The colour the finished grid gives the node of plan pixel (x, y).
    static QRgb NodeColour(CSiteView& view, int x, int y) {
        const HeatmapResult& r = view.Heatmap().Result();
        return r.image.pixel(x / r.grid.cell, y / r.grid.cell);
    }
    SiteViewWorld world;
    int m_areaTop = 0;  // the plan area's top in the view
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
    ASSERT_NE(view->HeatmapWindows().Controls(), nullptr);
    EXPECT_TRUE(view->HeatmapWindows().Controls()->isVisible());
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
    EXPECT_FALSE(view->HeatmapWindows().Controls()->isVisible());
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

    world.AddSurveyPoint(300, 400, -50);  // announced by the session: nothing polls
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->Heatmap().Result().points == 4; }));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_NE(Rgb(view->Render(), lower.x(), lower.y()), kGrey);
}

TEST_F(HeatmapView, UndoAndDeleteRecomputeTheHeatmapAndTheEstimates) {
    auto view = Make();
    view->Heatmap().SetThrottle(0);
    ASSERT_TRUE(ShowHeatmap(*view));
    const QPoint lower = Client(300, 420);
    world.AddSurveyPoint(300, 400, -50);  // a third access point, heard here only
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->Heatmap().Result().points == 4; }));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().aps.size(), 3u);
    EXPECT_NE(Rgb(view->Render(), lower.x(), lower.y()), kGrey);

    // Undo takes the point back: the count of points is what it was before,
    // and the picture and estimates are too.
    view->Commands().Undo();
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->Heatmap().Result().points == 3; }));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().aps.size(), 2u);
    EXPECT_EQ(Rgb(view->Render(), lower.x(), lower.y()), kGrey);

    // A deleted point leaves its access point's estimate.
    const std::vector<CSiteData::_tap> points = world.Points();
    ASSERT_TRUE(world.session.DeletePoint(points.front().offset));
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->Heatmap().Result().points == 2; }));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().aps.size(), 1u);
}

TEST_F(HeatmapView, ReadingsWithoutAFixAreLeftOutUnlessAskedFor) {
    auto view = Make(800, 600, false);
    ASSERT_TRUE(ShowHeatmap(*view));
    EXPECT_EQ(view->Heatmap().Result().points, 0u);
    EXPECT_TRUE(view->Heatmap().Result().aps.empty());
    const QPoint between = Client(300, 240);
    EXPECT_EQ(Rgb(view->Render(), between.x(), between.y()), kGrey);

    view->Heatmap().SetIncludeNoFix(true);
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->Heatmap().Result().points == 3; }));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().aps.size(), 2u);
    EXPECT_NE(Rgb(view->Render(), between.x(), between.y()), kGrey);
}

TEST_F(HeatmapView, ANewPlanHidesTheOldGridUntilItIsRecomputed) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    view->SetPlanImage(GreyPlan(1000, 700));
    const QPoint between = Client(300, 240);
    EXPECT_EQ(Rgb(view->Render(), between.x(), between.y()), kGrey);

    // The view asks for the new grid itself: nothing polls for the plan.
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Heatmap().Result().planWidth, 1000);
    EXPECT_NE(Rgb(view->Render(), between.x(), between.y()), kGrey);
}

TEST_F(HeatmapView, TheChosenMetricAndAccessPointChangeWhatIsDrawn) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    HeatmapControls& panel = *view->HeatmapWindows().Controls();
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
    HeatmapControls& panel = *view->HeatmapWindows().Controls();
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
    HeatmapControls& panel = *view->HeatmapWindows().Controls();
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
    // The points hold one GPS position a hair from 0,0 (a point stored at 0,0
    // has no place at all), so the estimates land on the map's offset: a
    // clear part of the plan.
    GpsFix nearZero;
    nearZero.latitude = 1;
    nearZero.longitude = 1;
    world.Gps(nearZero);
    auto view = Make();
    {
        PlanMap planMap = world.projection.Map();
        planMap.xOrigin = 300;
        planMap.yOrigin = 450;
        world.projection.SetMap(planMap);
    }
    ASSERT_TRUE(ShowHeatmap(*view));
    ASSERT_EQ(view->Heatmap().Markers().size(), 2u);
    const QPoint origin = view->Heatmap().Markers()[0].plan;
    EXPECT_EQ(origin, QPoint(300, 450));
    EXPECT_EQ(view->Heatmap().Markers()[0].label, QStringLiteral("00:1a:2b:3c:4d:01 net"));
    const QImage without = view->Render();

    view->HeatmapWindows().Controls()->ApsBox()->setChecked(true);
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

    view->HeatmapWindows().Controls()->ApsBox()->setChecked(false);
    EXPECT_EQ(view->Render(), without);
}

TEST_F(HeatmapView, ADesktopViewShowsTheScaleAtItsRightEdge) {
    auto view = Make();
    ASSERT_TRUE(ShowHeatmap(*view));
    const QImage shown = view->Render();
    view->OnCommand(ID_VIEW_LEGEND);
    const QImage hidden = view->Render();
    int changed = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 700; x < 790; ++x)
            changed += shown.pixel(x, y) != hidden.pixel(x, y) ? 1 : 0;
    EXPECT_GT(changed, 500);
}

TEST_F(HeatmapView, DiscsTakeTheHeatmapsScaleAndMetricAtDesktopSizes) {
    auto view = Make();
    const heatmap::ColourScale signal = heatmap::ColourScale::Signal(QString());
    // Below the discs' centres, clear of the path: -60 dBm from the first
    // access point and -80 dBm from the second.
    const QPoint first = Client(200.5, 200.5) + QPoint(0, 6);
    const QPoint second = Client(400.5, 200.5) + QPoint(0, 6);
    view->Heatmap().SetThrottle(0);
    // Without the heatmap: the strongest signal on the continuous scale.
    QImage image = view->Render();
    EXPECT_EQ(image.pixel(first), signal.At(-60).rgb());
    EXPECT_EQ(image.pixel(second), signal.At(-80).rgb());

    // One access point's metric: each disc shows that access point's reading,
    // not the strongest there.
    ASSERT_TRUE(ShowHeatmap(*view));
    HeatmapControls& panel = *view->HeatmapWindows().Controls();
    ASSERT_TRUE(panel.ChooseMetric(QStringLiteral("ap")));
    ASSERT_TRUE(WaitIdle(*view));
    ASSERT_TRUE(panel.ChooseTarget(QStringLiteral("00:1a:2b:3c:4d:02")));
    ASSERT_TRUE(WaitIdle(*view));
    image = view->Render();
    EXPECT_EQ(image.pixel(first), signal.At(analysis::kNotHeard).rgb());
    EXPECT_EQ(image.pixel(second), signal.At(-80).rgb());
    // A point not yet computed waits in grey rather than showing another metric.
    world.AddSurveyPoint(300, 300, -40);
    view->UpdateOverlay();
    const QPoint third = Client(300.5, 300.5) + QPoint(6, 0);
    EXPECT_EQ(view->Render().pixel(third), HeatmapLayer::kPendingColour);
    ASSERT_TRUE(ProcessEventsUntil([&] { return view->Heatmap().Result().points == 4; }));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Render().pixel(third), signal.At(analysis::kNotHeard).rgb());

    // The count metric: its own scale.
    ASSERT_TRUE(panel.ChooseMetric(QStringLiteral("count")));
    ASSERT_TRUE(WaitIdle(*view));
    EXPECT_EQ(view->Render().pixel(first), view->Heatmap().Result().scale.At(1).rgb());
}

TEST_F(HeatmapView, EstimatesShowTheirUncertaintyAndAListWithTheSideStoresDetails) {
    auto view = Make();
    // Every estimate projects to plan (300, 450); 1,000,000 plan pixels per
    // degree of latitude makes 5 m about 45 pixels.
    {
        PlanMap planMap = world.projection.Map();
        planMap.xOrigin = 300;
        planMap.yOrigin = 450;
        planMap.yLat = -1e6;
        world.projection.SetMap(planMap);
    }
    view->Heatmap().SetCompute([](const HeatmapInput& input, const std::atomic<bool>&) {
        HeatmapResult result;
        result.planWidth = input.planWidth;
        result.planHeight = input.planHeight;
        for (std::uint8_t i = 1; i <= 3; ++i) {
            analysis::ApEstimate ap;
            ap.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, i};
            ap.ssid = "net";
            ap.pointsHeard = i;
            ap.strongest = -40 - i;
            ap.position.used = 2;
            ap.position.uncertainty = 5.0;
            result.aps.push_back(ap);
        }
        return result;
    });
    view->HeatmapWindows().SetApDetailsSource([](const analysis::Mac& mac) {
        ApDetails details;
        if (mac[5] == 2) {
            details.channel = 36;
            details.band = QStringLiteral("5 GHz");
            details.security = QStringLiteral("WPA2");
        }
        return details;
    });
    ASSERT_TRUE(ShowHeatmap(*view));
    ASSERT_EQ(view->Heatmap().Markers().size(), 3u);
    EXPECT_NEAR(view->Heatmap().Markers()[0].radius, 45.0, 1.0);
    const QImage without = view->Render();
    view->HeatmapWindows().Controls()->ApsBox()->setChecked(true);
    const QImage with = view->Render();
    // Inside the circle, clear of the marker: the circle's wash.
    const QPoint centre = Client(300.5, 450.5);
    const QPoint inside = centre + QPoint(-25, 10);
    EXPECT_NE(with.pixel(inside), without.pixel(inside));
    const QPoint outside = centre + QPoint(-60, 40);
    EXPECT_EQ(with.pixel(outside), without.pixel(outside));

    // The list: one row per estimate, the side store's details where it has them.
    ApPanel* panel = view->HeatmapWindows().AccessPoints();
    ASSERT_NE(panel, nullptr);
    QTableWidget& table = *panel->Table();
    ASSERT_EQ(table.rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const QString address = table.item(row, ApPanel::kAddress)->text();
        const bool known = address == QStringLiteral("00:1a:2b:3c:4d:02");
        SCOPED_TRACE(address.toStdString());
        EXPECT_EQ(table.item(row, ApPanel::kChannel)->text(),
                  known ? QStringLiteral("36") : QString());
        EXPECT_EQ(table.item(row, ApPanel::kBand)->text(),
                  known ? QStringLiteral("5 GHz") : QString());
        EXPECT_EQ(table.item(row, ApPanel::kSecurity)->text(),
                  known ? QStringLiteral("WPA2") : QString());
        EXPECT_EQ(table.item(row, ApPanel::kUncertainty)->text(), QStringLiteral("5.0"));
        EXPECT_FALSE(table.item(row, ApPanel::kEstimate)->text().isEmpty());
    }
}

TEST(LabelPlacerRules, LabelsNeverOverlapMarkersTheLegendOrEachOther) {
    const QRectF bounds(0, 0, 400, 300);
    const QSizeF label(80, 14);
    struct Case {
        const char* name;
        std::vector<QPointF> anchors;
        QRectF obstacle;
        int placedAtLeast;
    } const cases[] = {
        {"one alone goes to the right", {{100, 100}}, {}, 1},
        {"at the right edge it goes left", {{390, 100}}, {}, 1},
        {"four on one spot spread round it",
         {{200, 150}, {200, 150}, {200, 150}, {200, 150}},
         {},
         4},
        {"beside the legend it keeps off it", {{300, 60}}, QRectF(310, 20, 90, 120), 1},
        {"a crowd on one spot stacks beside it",
         std::vector<QPointF>(30, QPointF(200, 150)),
         {},
         14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LabelPlacer placer(bounds, 9.0, 4.0);
        if (!c.obstacle.isEmpty()) {
            placer.AddObstacle(c.obstacle);
        }
        std::vector<LabelPlacer::Item> items;
        for (const QPointF& a : c.anchors) {
            items.push_back({a, label});
        }
        const auto boxes = placer.Place(items);
        ASSERT_EQ(boxes.size(), items.size());
        std::vector<QRectF> placed;
        for (const auto& box : boxes) {
            if (!box) {
                continue;
            }
            EXPECT_TRUE(bounds.contains(*box));
            EXPECT_FALSE(box->intersects(c.obstacle));
            for (const QPointF& a : c.anchors) {
                EXPECT_FALSE(box->intersects(QRectF(a.x() - 9, a.y() - 9, 18, 18)));
            }
            for (const QRectF& other : placed) {
                EXPECT_FALSE(box->intersects(other));
            }
            placed.push_back(*box);
        }
        EXPECT_GE(static_cast<int>(placed.size()), c.placedAtLeast);
    }
    // The first choice is the right-hand side, centred on the marker.
    LabelPlacer placer(bounds, 9.0, 4.0);
    const LabelPlacer::Item one{{100, 100}, label};
    const auto box = placer.Place({&one, 1});
    ASSERT_TRUE(box[0].has_value());
    EXPECT_EQ(*box[0], QRectF(113, 93, 80, 14));
}

}  // namespace
}  // namespace ketrion::testing
