// The site view at desktop sizes: square plan pixels, zoom to fit, drag,
// wheel and pinch, the legend and the link alerts, on the rendered picture.

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

#include "engine/EngineEvent.h"
#include "engine/Location.h"
#include "render/HeatmapImage.h"
#include "source/ScanSource.h"
#include "support/PlanSurveyFile.h"
#include "support/SiteViewWorld.h"
#include "ui/siteview/InstructionPage.h"
#include "ui/siteview/Legend.h"

namespace ketrion::testing {
namespace {

constexpr unsigned kGrey = 0x808080;
constexpr unsigned kMagenta = 0xFF00FF;

// An 800 x 600 grey plan with a magenta 100 x 100 square at plan (100, 350).
QImage FeaturePlan() {
    QImage plan(800, 600, QImage::Format_RGB32);
    plan.fill(QColor::fromRgb(kGrey));
    QPainter painter(&plan);
    painter.fillRect(100, 350, 100, 100, QColor::fromRgb(kMagenta));
    return plan;
}

// The smallest rectangle holding every pixel of one colour (device pixels).
QRect Bounds(const QImage& image, unsigned rgb) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0xFFFFFFu) == rgb) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

// Where plan rectangle `plan` is drawn, in device pixels.
QRect OnScreen(const CSiteView& view, const CSitePlan& plan, const QRect& shown, double ratio) {
    const ViewTransform t = plan.Transform();
    const QPoint area = view.Navigator().PlanArea().topLeft();
    const auto at = [&](double x, double y) {
        return QPoint(static_cast<int>(std::lround((area.x() + t.ToClientX(x)) * ratio)),
                      static_cast<int>(std::lround((area.y() + t.ToClientY(y)) * ratio)));
    };
    return QRect(at(shown.left(), shown.top()),
                 at(shown.left() + shown.width(), shown.top() + shown.height()) - QPoint(1, 1));
}

class Desktop : public ::testing::Test {
protected:
    // A view of width x height client pixels at `ratio` showing the survey
    // over `plan`, with a new collection file.
    std::unique_ptr<CSiteView> Make(int width, int height, double ratio = 1.0,
                                    const QImage& plan = FeaturePlan()) {
        auto view = world.MakeView(width, height);
        view->SetDevicePixelRatioOverride(ratio);
        view->SetPlanImage(plan);
        world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("d.ktd")));
        view->Commands().OpenCollection();
        EXPECT_TRUE(view->Commands().IsSurveyShown());
        return view;
    }
    void Send(CSiteView& view, QEvent::Type type, QPoint at, Qt::MouseButton button) {
        QMouseEvent event(type, QPointF(at), view.viewport()->mapToGlobal(QPointF(at)), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &event);
    }
    void Wheel(CSiteView& view, QPoint at, QPoint angle, Qt::KeyboardModifiers modifiers) {
        QWheelEvent event(QPointF(at), view.viewport()->mapToGlobal(QPointF(at)), QPoint(), angle,
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view.viewport(), &event);
    }
    SiteViewWorld world;
};

TEST_F(Desktop, AKnownPlanFeatureIsSquareAndInPlaceAtEachSizeAndRatio) {
    struct Case {
        int width, height;
        double ratio;
        int left;  // device pixels
    } const cases[] = {
        // 100%: the plan centred, one plan pixel per client pixel.
        {1024, 768, 1.0, 212},
        {1920, 1080, 2.0, 1320},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        SiteViewWorld local;
        auto view = local.MakeView(c.width, c.height);
        view->SetDevicePixelRatioOverride(c.ratio);
        view->SetPlanImage(FeaturePlan());
        local.dialogs.fileAnswers.push_back(QString::fromStdString(local.dir.File("d.ktd")));
        view->Commands().OpenCollection();
        const QImage image = view->Render();
        EXPECT_EQ(image.size(), QSize(c.width, c.height) * c.ratio);
        EXPECT_EQ(image.devicePixelRatio(), c.ratio);
        EXPECT_TRUE(local.plan.IsSquarePixels());
        // Centred in the plan area below the bands, which hide none of it.
        const QRect area = view->Navigator().PlanArea();
        EXPECT_GT(area.top(), 0);
        EXPECT_EQ(area.bottom(), c.height - 1);
        const QRect expected = OnScreen(*view, local.plan, QRect(100, 350, 100, 100), c.ratio);
        EXPECT_EQ(expected.left(), c.left);
        EXPECT_EQ(expected.size(), QSize(100, 100) * c.ratio);
        const int middle = static_cast<int>((area.top() + area.height() / 2.0 + 50) * c.ratio);
        EXPECT_NEAR(expected.top(), middle, 1);
        EXPECT_EQ(Bounds(image, kMagenta), expected);
        EXPECT_EQ(view->Bands().ZoomText(), QStringLiteral("ZOOM=100%  DATA PTS=0"));

        // Zooming in doubles the square about the centre (the part on screen).
        view->Navigator().ZoomIn();
        const QImage zoomedImage = view->Render();
        EXPECT_EQ(local.plan.GetCentreX(), 400);
        EXPECT_EQ(local.plan.GetCentreY(), 300);
        const QRect doubled = OnScreen(*view, local.plan, QRect(100, 350, 100, 100), c.ratio);
        EXPECT_EQ(doubled.size(), 2 * expected.size());
        EXPECT_EQ(Bounds(zoomedImage, kMagenta),
                  doubled.intersected(QRect(QPoint(0, 0), zoomedImage.size())));
    }
}

TEST_F(Desktop, TheHandheldSizeKeepsItsStretchedSquareViewportAndNoLegend) {
    auto view = Make(240, 268);
    EXPECT_FALSE(world.plan.IsSquarePixels());
    EXPECT_FALSE(view->IsLegendShown());
    EXPECT_EQ(world.plan.GetViewport(), (SiteRect{0, 0, 240, 240}));
    EXPECT_EQ(view->Render().size(), QSize(240, 268));
    // Back and forth through a desktop size keeps the centre.
    world.plan.CentreOn(300, 400);
    SiteViewWorld::SetClientSize(*view, 1024, 768);
    EXPECT_TRUE(world.plan.IsSquarePixels());
    EXPECT_EQ(world.plan.GetCentreX(), 300);
    EXPECT_EQ(world.plan.GetCentreY(), 400);
    SiteViewWorld::SetClientSize(*view, 240, 268);
    EXPECT_FALSE(world.plan.IsSquarePixels());
    EXPECT_EQ(world.plan.GetCentreX(), 300);
    EXPECT_EQ(world.plan.GetCentreY(), 400);
}

// A grey plan with a magenta frame 20 pixels wide.
QImage FramedPlan(int width, int height) {
    QImage plan(width, height, QImage::Format_RGB32);
    plan.fill(QColor::fromRgb(kGrey));
    QPainter painter(&plan);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(kMagenta));
    for (const QRect& edge : {QRect(0, 0, width, 20), QRect(0, height - 20, width, 20),
                              QRect(0, 0, 20, height), QRect(width - 20, 0, 20, height)}) {
        painter.drawRect(edge);
    }
    return plan;
}

TEST_F(Desktop, FitShowsTheWholePlanBelowTheBandsAndZoomGoesNoFurther) {
    struct Case {
        int planWidth, planHeight;
        double ratio;
        QString fitZoom;
    } const cases[] = {
        // Larger than the view: fit scales it down.
        {3000, 2000, 2.0, QStringLiteral("ZOOM=53%  DATA PTS=0")},
        // A plan a little shorter than the client: the bands would cover its
        // top at 100%; it is shown whole at 100% below them.
        {960, 1060, 1.0, QStringLiteral("ZOOM=99%  DATA PTS=0")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.planWidth);
        SiteViewWorld local;
        auto view = local.MakeView(1920, 1080);
        view->SetDevicePixelRatioOverride(c.ratio);
        view->SetPlanImage(FramedPlan(c.planWidth, c.planHeight));
        local.dialogs.fileAnswers.push_back(QString::fromStdString(local.dir.File("d.ktd")));
        view->Commands().OpenCollection();
        const QImage shown = view->Render();  // a new plan is shown whole
        const QRect whole =
            OnScreen(*view, local.plan, QRect(0, 0, c.planWidth, c.planHeight), c.ratio);
        EXPECT_GE(whole.top(), view->Navigator().PlanArea().top() * c.ratio);
        EXPECT_EQ(Bounds(shown, kMagenta), whole);
        // The frame's top edge is on screen below the bands, not under them.
        EXPECT_EQ(Rgb(shown, whole.center().x(), whole.top() + 2), kMagenta);
        view->Navigator().ZoomIn();
        view->Navigator().ZoomIn();
        EXPECT_NE(view->Render(), shown);
        view->OnCommand(ID_ZOOM_FIT);
        const QImage image = view->Render();
        EXPECT_EQ(image, shown);
        EXPECT_EQ(view->Bands().ZoomText(), c.fitZoom);
        // Zooming out from fit changes nothing.
        view->Navigator().ZoomOut();
        EXPECT_EQ(view->Render(), image);
    }
}

TEST_F(Desktop, ResizingKeepsTheCentreAndThePlanUndistorted) {
    auto view = Make(1024, 768);
    const QRect before = Bounds(view->Render(), kMagenta);
    SiteViewWorld::SetClientSize(*view, 1280, 800);
    const QRect after = Bounds(view->Render(), kMagenta);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after.topLeft() - before.topLeft(), QPoint(128, 16));
    EXPECT_EQ(world.plan.GetCentreX(), 400);
    EXPECT_EQ(world.plan.GetCentreY(), 300);
}

TEST_F(Desktop, ADragPansAndIsNoTapWhileATapStillPlacesAnAccessPoint) {
    auto view = Make(1024, 768);
    const QRect before = Bounds(view->Render(), kMagenta);
    view->Commands().PlaceAp();
    Send(*view, QEvent::MouseButtonPress, {500, 400}, Qt::LeftButton);
    Send(*view, QEvent::MouseMove, {520, 400}, Qt::LeftButton);
    Send(*view, QEvent::MouseMove, {600, 450}, Qt::LeftButton);
    Send(*view, QEvent::MouseButtonRelease, {600, 450}, Qt::LeftButton);
    EXPECT_EQ(Bounds(view->Render(), kMagenta), before.translated(100, 50));
    EXPECT_EQ(world.data.PointCount(), 0u);
    EXPECT_TRUE(view->Commands().IsPlacingAp());
    EXPECT_EQ(view->horizontalScrollBar()->value(), 300);
    EXPECT_EQ(view->verticalScrollBar()->value(), 250);

    // A press that stays within the slop is a tap: the access point goes
    // where it was tapped.
    Send(*view, QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    Send(*view, QEvent::MouseMove, {303, 202}, Qt::LeftButton);
    Send(*view, QEvent::MouseButtonRelease, {303, 202}, Qt::LeftButton);
    ASSERT_EQ(world.data.PointCount(), 1u);
    EXPECT_FALSE(view->Commands().IsPlacingAp());
    std::int32_t px = 0;
    std::int32_t py = 0;
    world.data.ForEachPoint([&](const CSiteData::_tap& point) {
        px = point.x;
        py = point.y;
    });
    // The plan pixel under the tap, counted from the magenta square's corner
    // at plan (100, 350).
    const QPoint square = before.topLeft() + QPoint(100, 50);
    EXPECT_EQ(px, 100 + 300 - square.x());
    EXPECT_EQ(py, 350 + 200 - square.y());
}

TEST_F(Desktop, ScrollingAtAFractionalZoomMovesByWholePixelsAndKeepsThePictureExact) {
    auto view = Make(1024, 768);
    view->Navigator().ZoomAt(1.37, {512, 400});
    ASSERT_NE(world.plan.GetScale(), std::round(world.plan.GetScale()));
    QRect square = Bounds(view->Render(), kMagenta);
    const auto scrolled = [&](const char* how, auto scroll, QPoint expected) {
        SCOPED_TRACE(how);
        scroll();
        const QImage kept = view->Render();
        const QRect moved = Bounds(kept, kMagenta);
        EXPECT_EQ(moved.topLeft() - square.topLeft(), expected);
        // The kept picture moved and patched is the picture drawn afresh
        // (another pixel ratio for one paint makes it draw everything again).
        view->SetDevicePixelRatioOverride(2.0);
        view->Render();
        view->SetDevicePixelRatioOverride(1.0);
        EXPECT_TRUE(kept == view->Render());
        square = moved;
    };
    const int line =
        static_cast<int>(std::lround(PlanNavigator::kLineStep * world.plan.GetScale()));
    scrolled("right arrow", [&] { view->Navigator().ScrollByKey(Qt::Key_Right); }, {-line, 0});
    scrolled("up arrow", [&] { view->Navigator().ScrollByKey(Qt::Key_Up); }, {0, line});
    scrolled(
        "scroll bar line",
        [&] { view->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub); },
        {line, 0});
}

TEST_F(Desktop, CtrlWheelAndPinchZoomAroundTheCursorAndTheWheelScrolls) {
    auto view = Make(1024, 768);
    const QRect square = Bounds(view->Render(), kMagenta);
    const QPoint area = view->Navigator().PlanArea().topLeft();
    const ViewTransform start = world.plan.Transform();
    const QPoint at(150, 600);
    const double px = start.ToPlanX(at.x() - area.x());
    const double py = start.ToPlanY(at.y() - area.y());
    Wheel(*view, at, {0, 240}, Qt::ControlModifier);  // two notches in
    ViewTransform t = world.plan.Transform();
    EXPECT_NEAR(t.scaleX, 2.0, 1e-9);
    EXPECT_NEAR(t.ToClientX(px), at.x() - area.x(), 1e-6);
    EXPECT_NEAR(t.ToClientY(py), at.y() - area.y(), 1e-6);
    const QRect zoomed = Bounds(view->Render(), kMagenta);
    EXPECT_EQ(zoomed.size(), QSize(200, 200));
    EXPECT_EQ(zoomed.topLeft(), at + 2 * (square.topLeft() - at));

    // A pinch on a touchpad: magnification +50% about its point.
    const QPointF pinchAt(700, 300);
    const double qx = t.ToPlanX(pinchAt.x() - area.x());
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2,
                              pinchAt, pinchAt, view->viewport()->mapToGlobal(pinchAt), 0.5,
                              QPointF());
    QCoreApplication::sendEvent(view->viewport(), &pinch);
    t = world.plan.Transform();
    EXPECT_NEAR(t.scaleX, 3.0, 1e-9);
    EXPECT_NEAR(t.ToClientX(qx), pinchAt.x() - area.x(), 1e-6);

    // The plain wheel scrolls: one notch down shows the plan further down.
    const double top = t.originY;
    Wheel(*view, at, {0, -120}, Qt::NoModifier);
    EXPECT_NEAR(world.plan.Transform().originY, top + ViewInput::kWheelStep / 3.0, 1e-6);
    // Shift turns it sideways.
    const double left = world.plan.Transform().originX;
    Wheel(*view, at, {0, -120}, Qt::ShiftModifier);
    EXPECT_NEAR(world.plan.Transform().originX, left + ViewInput::kWheelStep / 3.0, 1e-6);
}

TEST_F(Desktop, TheLegendShowsTheDiscsContinuousScaleAndToggles) {
    auto view = Make(1024, 768);
    EXPECT_TRUE(view->IsLegendShown());
    // The signal scale's ends (-100 and -30 dBm) at the right, below the bands.
    const heatmap::ColourScale scale =
        heatmap::ColourScale::ForMetric(analysis::MetricSpec{}, analysis::Grid{});
    const QRect right(1024 - 200, view->Navigator().PlanArea().top(), 200, 400);
    QImage image = view->Render().copy(right);
    // A colour of the scale's gradient, within a few steps of rounding.
    const auto hasNear = [](const QImage& picture, QColor colour) {
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                        std::abs(c.blue() - colour.blue()) <=
                    12) {
                    return true;
                }
            }
        }
        return false;
    };
    for (double value : {-100.0, -30.0}) {
        EXPECT_TRUE(hasNear(image, scale.At(value))) << value;
    }
    // No five-colour legend in the lower-left corner: one legend.
    const QImage corner = view->Render().copy(0, 600, 200, 168);
    for (unsigned colour : {0xFFFFFFu, 0x0000C0u, 0x00C000u, 0xC00000u}) {
        EXPECT_FALSE(Bounds(corner, colour).isValid()) << std::hex << colour;
    }
    view->OnCommand(ID_VIEW_LEGEND);
    EXPECT_FALSE(view->IsLegendShown());
    image = view->Render().copy(right);
    EXPECT_FALSE(hasNear(image, scale.At(-30)));
    EXPECT_EQ(Legend::Text(2), QStringLiteral("-70 to -51 dBm"));

    // At the handheld size it starts hidden and shows when asked.
    SiteViewWorld handheld;
    auto small = handheld.MakeView(240, 268);
    handheld.dialogs.fileAnswers.push_back(QString::fromStdString(handheld.dir.File("h.ktd")));
    small->Commands().OpenCollection();
    const QImage plain = small->Render();
    small->ToggleLegend();
    EXPECT_TRUE(small->IsLegendShown());
    EXPECT_NE(small->Render(), plain);
}

TEST_F(Desktop, LinkNewsShowsAnAlertBandAndPausesReadingsUntilTheLinkIsBack) {
    auto view = Make(1024, 768);
    const QImage quiet = view->Render();
    const int band = 2 * [&] {
        int rows = 0;
        while (Rgb(quiet, 0, rows) == 0xC00000u) {
            ++rows;  // the location band (red: no 3D fix)
        }
        return rows;
    }();
    EXPECT_NE(Rgb(quiet, 2, band + 2), 0xC00000u);

    view->OnEngineEvent({EngineEventKind::ScanAbandoned, "no scan end after 15 s"});
    EXPECT_EQ(view->Bands().LinkAlert(),
              QStringLiteral("ALERT! SCAN ABANDONED: NO SCAN END AFTER 15 S"));
    EXPECT_EQ(Rgb(view->Render(), 2, band + 2), 0xC00000u);
    ASSERT_FALSE(world.sound.Sounds().empty());
    EXPECT_EQ(world.sound.Sounds().back().name, "REDALERT");
    // The next finished scan clears it.
    view->OnEngineEvent({EngineEventKind::ScanEnded, {}});
    EXPECT_TRUE(view->Bands().LinkAlert().isEmpty());

    world.ChooseCollection("link.ktd");
    view->Commands().StartRecording();
    EXPECT_EQ(world.PendingRequestType(), 0x16);
    // The engine's news reaches the source (which forgets the scan asked
    // for) and then the view.
    world.engine.linkState = LinkState::Lost;
    world.scan.OnEngineEvent({EngineEventKind::LinkLost, "device unplugged"});
    view->OnEngineEvent({EngineEventKind::LinkLost, "device unplugged"});
    EXPECT_TRUE(view->Bands().LinkAlert().contains(QStringLiteral("device unplugged")));
    EXPECT_EQ(Rgb(view->Render(), 2, band + 2), 0xC00000u);
    world.session.Tick();
    EXPECT_EQ(world.PendingRequestType(), -1);  // no reading without the link
    EXPECT_TRUE(view->IsCollecting());

    world.engine.linkState = LinkState::Connected;
    world.scan.OnEngineEvent({EngineEventKind::LinkRestored, {}});
    view->OnEngineEvent({EngineEventKind::LinkRestored, {}});
    EXPECT_TRUE(view->Bands().LinkAlert().isEmpty());
    EXPECT_NE(Rgb(view->Render(), 2, band + 2), 0xC00000u);
    world.session.Tick();
    EXPECT_EQ(world.PendingRequestType(), 0x16);
}

TEST_F(Desktop, OpeningACollectionShowsItsPoints) {
    {
        PlanMap planMap = world.projection.Map();
        planMap.xLat = 3600000.0;
        planMap.yLon = 3600000.0;
        world.projection.SetMap(planMap);
    }
    const std::string path = world.dir.File("walk.ktd");
    ASSERT_TRUE(WritePlanSurvey(path, {{2600, 2000}, {3100, 2200}, {2800, 2400}}));
    auto view = world.MakeView(1024, 768);
    QImage plan(4000, 3000, QImage::Format_RGB32);
    plan.fill(QColor::fromRgb(kGrey));
    view->SetPlanImage(plan);
    EXPECT_LT(world.plan.GetScale(), 0.3);  // the whole plan first
    world.dialogs.yesNoAnswers.push_back(true);
    world.dialogs.fileAnswers.push_back(QString::fromStdString(path));
    view->Commands().OpenCollection();
    ASSERT_EQ(world.data.PointCount(), 3u);
    // Centred on the points at 100%: they fit with room to spare.
    EXPECT_DOUBLE_EQ(world.plan.GetScale(), 1.0);
    EXPECT_EQ(world.plan.GetCentreX(), 2850);
    EXPECT_EQ(world.plan.GetCentreY(), 2200);
    EXPECT_EQ(view->horizontalScrollBar()->value(), 2850);
    const QImage image = view->Render();
    for (const QPoint& p : {QPoint(2600, 2000), QPoint(3100, 2200), QPoint(2800, 2400)}) {
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        ASSERT_TRUE(world.plan.PlanToScreen(view->Navigator().ClientRect(), p.x(), p.y(), sx, sy));
        sy += view->Navigator().PlanArea().top();
        EXPECT_NE(Rgb(image, sx + 3, sy + 3), kGrey);  // a disc
    }
}

TEST_F(Desktop, RecordingFollowsThePositionOnlyWhenItLeavesTheMiddleThird) {
    auto view = Make(1024, 768);  // the 800 x 600 plan whole at 100%, centred on (400, 300)
    ASSERT_EQ(world.plan.GetCentreX(), 400);
    const auto readingAt = [&](int x, int y) {
        {
            PlanMap planMap = world.projection.Map();
            planMap.xOrigin = x;  // the position projects to (x, y)
            planMap.yOrigin = y;
            world.projection.SetMap(planMap);
        }
        world.session.Collect();
        return QPoint(world.plan.GetCentreX(), world.plan.GetCentreY());
    };
    const QImage still = view->Render();
    // Inside the middle third (plan x 229..570): the picture stays put.
    EXPECT_EQ(readingAt(450, 320), QPoint(400, 300));
    EXPECT_EQ(readingAt(260, 250), QPoint(400, 300));
    EXPECT_EQ(view->Render(), still);
    // Leaving it: the view centres on the position once.
    EXPECT_EQ(readingAt(700, 320), QPoint(700, 320));
    EXPECT_EQ(view->horizontalScrollBar()->value(), 700);
    EXPECT_EQ(readingAt(650, 350), QPoint(700, 320));
    // A placed access point in sight does not move the view either.
    view->Commands().PlaceAp();
    view->Commands().Tap(view->Navigator().PlanArea().center() -
                             view->Navigator().PlanArea().topLeft() + QPoint(40, 0),
                         false);
    EXPECT_EQ(world.data.PointCount(), 1u);  // readings are recorded when their scans end
    EXPECT_EQ(QPoint(world.plan.GetCentreX(), world.plan.GetCentreY()), QPoint(700, 320));

    // View > Follow position off: nothing moves the view.
    EXPECT_TRUE(view->Navigator().IsFollowing());
    view->OnCommand(ID_VIEW_FOLLOW);
    EXPECT_FALSE(view->Navigator().IsFollowing());
    EXPECT_EQ(readingAt(50, 50), QPoint(700, 320));
    view->OnCommand(ID_VIEW_FOLLOW);
    EXPECT_EQ(readingAt(50, 50), QPoint(50, 50));
    // Stopping shows the whole plan again: it fits the window.
    view->Commands().StopRecording();
    EXPECT_EQ(QPoint(world.plan.GetCentreX(), world.plan.GetCentreY()), QPoint(400, 300));

    // The handheld centres on every reading, as it always did, following or not.
    SiteViewWorld local;
    auto small = local.MakeView(240, 268);
    small->SetPlanImage(FeaturePlan());
    small->Navigator().SetFollowing(false);
    for (const QPoint& at : {QPoint(400, 300), QPoint(405, 302)}) {
        {
            PlanMap planMap = local.projection.Map();
            planMap.xOrigin = at.x();
            planMap.yOrigin = at.y();
            local.projection.SetMap(planMap);
        }
        local.session.Collect();
        EXPECT_EQ(QPoint(local.plan.GetCentreX(), local.plan.GetCentreY()), at);
    }
}

// A continuous walk: its dots are drawn at the clicks, the view follows the
// walk rather than the position source, clicks beside the plan are refused and
// Stop ends the walk.
TEST_F(Desktop, AWalkIsDrawnAtItsClicksFollowedByItselfAndStoppedByStop) {
    auto view = Make(1024, 768);  // the 800 x 600 plan whole at 100%, centred on (400, 300)
    view->OnCommand(ID_PLACING_WALK);
    // The position source says the far corner: a walk does not follow it.
    PlanMap corner = world.projection.Map();
    corner.xOrigin = 20;
    corner.yOrigin = 20;
    world.projection.SetMap(corner);
    const QPoint click = view->Navigator().PlanArea().center() -
                         view->Navigator().PlanArea().topLeft() + QPoint(-60, 40);
    view->Commands().Tap(click, false);
    ASSERT_EQ(world.session.WalkClicks().size(), 1u);
    world.session.Collect();
    EXPECT_EQ(QPoint(world.plan.GetCentreX(), world.plan.GetCentreY()), QPoint(400, 300));

    // The start dot lies under the click, not a band's height above it.
    const QImage image = view->Render();
    const QPoint onScreen = click + view->Navigator().PlanArea().topLeft();
    constexpr unsigned kWalkBlue = 0x005AC8;
    EXPECT_EQ(Rgb(image, onScreen.x(), onScreen.y()), kWalkBlue);
    EXPECT_EQ(Rgb(image, onScreen.x() + 1, onScreen.y() + 1), kWalkBlue);
    EXPECT_NE(Rgb(image, onScreen.x(), onScreen.y() - view->Navigator().PlanArea().top()),
              kWalkBlue);

    // Beside the plan (left of plan x 0): refused with a word, no turn stored.
    view->Commands().Tap(QPoint(20, click.y()), false);
    EXPECT_EQ(world.session.WalkClicks().size(), 1u);
    ASSERT_FALSE(world.dialogs.messages.isEmpty());
    EXPECT_TRUE(world.dialogs.messages.back().contains(QStringLiteral("outside the plan")));

    view->Commands().StopRecording();
    EXPECT_TRUE(world.session.WalkClicks().empty());
    EXPECT_NE(Rgb(view->Render(), onScreen.x(), onScreen.y()), kWalkBlue);
}

// An adapter's scans: the kind is all the view asks about here.
class AdapterScans final : public source::ScanSource {
public:
    std::string Kind() const override { return "wifi"; }
    std::string Identity() const override { return "wlan0"; }
    source::SourceStatus Status() const override { return {}; }
    bool IsScanning() const override { return false; }
    bool RequestScan() override { return false; }
};

// Adapter scans with only the board's position (no gpsd) would all lie at one
// place: recording asks for Stop and go instead, or does not start.
TEST_F(Desktop, AnAdapterSurveyWithoutAPositionSourceOffersStopAndGoOrDoesNotRecord) {
    AdapterScans adapter;
    Services services{world.session,    adapter,     world.position, world.data, world.plan,
                      world.projection, world.sound, world.prompt,   world.draw, world.clock};
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Stop and go" : "refused");
        world.session.SetPlacing(SurveySession::Placing::Gps);
        CSiteView view(services, world.dialogs);
        view.show();
        SiteViewWorld::SetClientSize(view, 1024, 768);
        world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("w.ktd")));
        view.Commands().OpenCollection();
        world.dialogs.yesNoAnswers.push_back(yes);
        view.Commands().StartRecording();
        EXPECT_EQ(world.session.IsRecording(), yes);
        EXPECT_EQ(world.session.CurrentPlacing() == SurveySession::Placing::StopAndGo, yes);
        ASSERT_FALSE(world.dialogs.questions.isEmpty());
        EXPECT_TRUE(world.dialogs.questions.back().contains(QStringLiteral("no position source")));
        view.Commands().StopRecording();
    }
}

TEST_F(Desktop, TheInstructionPageIsTextAtTheScreensResolutionWithTheDesktopSteps) {
    for (double ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        SiteViewWorld local;
        auto view = local.MakeView(1280, 800);
        view->SetDevicePixelRatioOverride(ratio);
        ASSERT_FALSE(view->Commands().IsSurveyShown());
        const QImage page = view->Render();
        ASSERT_EQ(page.size(), QSize(1280, 800) * ratio);
        // Text drawn at device resolution: many lit pixels whose neighbours
        // differ, where a bitmap stretched five times gives 5 x 5 blocks.
        int edges = 0;
        int lit = 0;
        for (int y = 0; y + 1 < page.height(); ++y) {
            for (int x = 0; x + 1 < page.width(); ++x) {
                const unsigned here = Rgb(page, x, y);
                lit += here != 0 ? 1 : 0;
                edges += here != Rgb(page, x + 1, y) ? 1 : 0;
            }
        }
        EXPECT_GT(lit, 2000 * ratio * ratio);
        EXPECT_GT(edges, 1000 * ratio);
        // A stretched bitmap repeats each column; text at this resolution does not.
        int repeated = 0;
        int columns = 0;
        for (int x = 0; x + 1 < page.width(); ++x) {
            bool same = true;
            bool any = false;
            for (int y = 0; y < page.height(); ++y) {
                any = any || Rgb(page, x, y) != 0;
                same = same && Rgb(page, x, y) == Rgb(page, x + 1, y);
            }
            columns += any ? 1 : 0;
            repeated += any && same ? 1 : 0;
        }
        EXPECT_LT(repeated, columns / 2);
    }
    const QString steps = InstructionPage::Steps().join(QLatin1Char(' '));
    for (const char* needed :
         {"Ctrl+O", "Ctrl+N", "F5", "View > Heatmap", "Ctrl+0", "Stop and go", "Continuous walk"}) {
        EXPECT_TRUE(steps.contains(QLatin1String(needed))) << needed;
    }
}

TEST(SiteViewLocationBand, AnOldPositionSaysHowLongTheGpsHasBeenSilent) {
    LocationSnapshot snapshot;
    const QString none = SiteBands::LocationLine(snapshot);  // no report yet
    EXPECT_FALSE(none.contains(QStringLiteral("no GPS")));
    snapshot.ageSeconds = gps::kGpsStaleSeconds;  // at the limit: still current
    EXPECT_EQ(SiteBands::LocationLine(snapshot), none);
    snapshot.ageSeconds = 12.7;
    EXPECT_EQ(SiteBands::LocationLine(snapshot), none + QStringLiteral(" (no GPS for 12 s)"));
}

}  // namespace
}  // namespace ketrion::testing
