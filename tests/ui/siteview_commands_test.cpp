// Commands, taps, keys, scroll bars and the collection timer of the site view.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QEventLoop>
#include <QMouseEvent>

#include <filesystem>

#include "support/SiteViewWorld.h"
#include "survey/Compression.h"
#include "ui/shell/Info.h"

namespace ketrion::testing {
namespace {

using Names = std::vector<std::string>;

const QString kNoFile = QStringLiteral("Data collection file must be selected.");
const QString kNotInRange = QStringLiteral("No survey point within range.");

void Wait(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// A projection file whose plan image is `plan`; every position maps to plan
// (originX, originY).
void WriteProjection(const std::string& path, const QImage& plan, double originX = 0,
                     double originY = 0) {
    QByteArray bmp;
    QBuffer buffer(&bmp);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(plan.save(&buffer, "BMP"));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(bmp.constData());
    const std::vector<std::uint8_t> block =
        CCompression::EncodeBlock({bytes, static_cast<std::size_t>(bmp.size())});
    Bytes file(CSiteProjection::kHeaderSize, 0);
    std::memcpy(&file[CSiteProjection::kXRowOffset + 24], &originX, 8);
    std::memcpy(&file[CSiteProjection::kYRowOffset + 24], &originY, 8);
    file.insert(file.end(), block.begin(), block.end());
    WriteBytes(path, file);
}

class SiteViewCommands : public ::testing::Test {
protected:
    void SetUp() override { view = world.MakeView(240, 240); }
    // Chooses a new collection file through the dialogs (answer No, then save).
    void CreateCollection(const char* name = "c.ktd") {
        world.dialogs.yesNoAnswers.push_back(false);
        world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File(name)));
        view->Commands().OpenCollection();
    }

    SiteViewWorld world;
    std::unique_ptr<CSiteView> view;
};

TEST_F(SiteViewCommands, RecordWithoutAFileOnlyAsksForOne) {
    view->Commands().StartRecording();
    EXPECT_EQ(world.dialogs.messages, QStringList{kNoFile});
    EXPECT_TRUE(world.sound.Names().empty());
    EXPECT_FALSE(view->IsCollecting());
    EXPECT_EQ(world.PendingRequestType(), -1);
}

TEST_F(SiteViewCommands, RecordPlaysWhooshThenTakesAReadingAtOnceEvenWhileScanning) {
    CreateCollection();
    world.engine.scanning = true;
    world.sound.Clear();
    view->Commands().StartRecording();
    EXPECT_EQ(world.sound.Names(), (Names{"WHOOSH", "PING"}));
    EXPECT_EQ(world.PendingRequestType(), frame::kScanStart);
    EXPECT_TRUE(view->IsCollecting());
}

TEST_F(SiteViewCommands, StopPlaysWhooshInEveryStateAndStopsOnlyWithAFile) {
    // No file, no timer: the sound and nothing else.
    view->Commands().StopRecording();
    EXPECT_EQ(world.sound.Names(), Names{"WHOOSH"});
    EXPECT_FALSE(view->IsCollecting());

    // A running timer whose file was then given up keeps running.
    CreateCollection();
    view->Commands().StartRecording();
    world.dialogs.yesNoAnswers.push_back(false);  // No, then cancel the save dialog
    view->Commands().OpenCollection();
    ASSERT_FALSE(world.data.HasPath());
    world.sound.Clear();
    view->Commands().StopRecording();
    EXPECT_EQ(world.sound.Names(), Names{"WHOOSH"});
    EXPECT_TRUE(view->IsCollecting());

    // With a file the timer stops.
    CreateCollection("d.ktd");
    world.sound.Clear();
    view->Commands().StopRecording();
    EXPECT_EQ(world.sound.Names(), Names{"WHOOSH"});
    EXPECT_FALSE(view->IsCollecting());
}

TEST_F(SiteViewCommands, TickSkipsWhileScanningAndReadsOtherwise) {
    CreateCollection();
    const std::int32_t centreX = world.plan.GetCentreX();
    world.engine.scanning = true;
    world.sound.Clear();
    world.session.Tick();
    EXPECT_TRUE(world.sound.Names().empty());
    EXPECT_EQ(world.PendingRequestType(), -1);
    EXPECT_EQ(world.plan.GetCentreX(), centreX);

    world.engine.scanning = false;
    world.session.Tick();
    EXPECT_EQ(world.sound.Names(), Names{"PING"});
    EXPECT_EQ(world.PendingRequestType(), frame::kScanStart);
    // No projection: the position maps to plan (0, 0) and the plan centres there.
    EXPECT_EQ(world.plan.GetCentreX(), 0);
    EXPECT_EQ(world.plan.GetCentreY(), 0);
    // The reading moves the plan but not the scroll bars.
    EXPECT_EQ(view->horizontalScrollBar()->value(), 120);
}

TEST_F(SiteViewCommands, PlainTapPlacesAnArmedAccessPointAndDisarms) {
    CreateCollection();
    // A plain tap while disarmed records nothing.
    view->Commands().Tap(QPoint(50, 60), false);
    EXPECT_EQ(world.data.PointCount(), 0u);

    view->Commands().PlaceAp();
    EXPECT_TRUE(view->Commands().IsPlacingAp());
    view->Commands().Tap(QPoint(50, 60), false);
    EXPECT_FALSE(view->Commands().IsPlacingAp());
    const auto points = world.Points();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].kind, CSiteData::kKindDynamicAp);
    EXPECT_EQ(points[0].x, 50);  // 240 x 240 client over a 240 x 240 viewport: 1:1
    EXPECT_EQ(points[0].y, 60);
    // The plan centres on the tap (clamped to the extent) and the bars follow.
    EXPECT_EQ(world.plan.GetCentreX(), 50);
    EXPECT_EQ(world.plan.GetCentreY(), 60);
    EXPECT_EQ(view->horizontalScrollBar()->value(), 50);
    EXPECT_EQ(view->verticalScrollBar()->value(), 60);
}

TEST_F(SiteViewCommands, TapAndHoldFindsPointsWithin40PlanPixels) {
    CreateCollection();
    world.AddSurveyPoint(100, 100, -60);
    QStringList shown;
    world.dialogs.onModal = [&](QDialog& dialog) { shown = dynamic_cast<CInfo&>(dialog).Lines(); };
    struct {
        QPoint tap;
        bool found;
    } const cases[] = {
        {{124, 132}, true},   // squared distance 1600
        {{100, 140}, true},   // straight below, 40 away
        {{129, 129}, false},  // 1682
        {{100, 141}, false},  // 41 away
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tap.x() * 1000 + c.tap.y());
        world.dialogs.messages.clear();
        world.dialogs.modalRuns = 0;
        view->Commands().Tap(c.tap, true);
        EXPECT_EQ(world.dialogs.modalRuns, c.found ? 1 : 0);
        EXPECT_EQ(world.dialogs.messages, c.found ? QStringList{} : QStringList{kNotInRange});
    }
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[0], QString::fromLatin1(CInfo::kHeaderRssi));
}

TEST_F(SiteViewCommands, TapAndHoldWhilePlacingWritesNoAccessPoint) {
    CreateCollection();
    world.AddSurveyPoint(100, 100, -60);
    view->Commands().PlaceAp();
    view->Commands().Tap(QPoint(100, 100), true);  // the dialog
    view->Commands().Tap(QPoint(200, 20), true);   // the message
    EXPECT_EQ(world.dialogs.modalRuns, 1);
    EXPECT_EQ(world.dialogs.messages, QStringList{kNotInRange});
    EXPECT_EQ(world.data.PointCount(), 1u);
    EXPECT_TRUE(view->Commands().IsPlacingAp());
}

TEST_F(SiteViewCommands, RightClickAndAHeldPressAreTapAndHold) {
    CreateCollection();
    view->SetTapAndHoldDelay(20);
    auto send = [&](QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QMouseEvent event(type, QPointF(at), view->viewport()->mapToGlobal(QPointF(at)), button,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &event);
    };
    send(QEvent::MouseButtonPress, Qt::RightButton, {10, 10});
    EXPECT_EQ(world.dialogs.messages, QStringList{kNotInRange});

    // Held still past the delay: a tap-and-hold, and the release does nothing more.
    world.dialogs.messages.clear();
    view->Commands().PlaceAp();
    send(QEvent::MouseButtonPress, Qt::LeftButton, {10, 10});
    Wait(80);
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {10, 10});
    EXPECT_EQ(world.dialogs.messages, QStringList{kNotInRange});
    EXPECT_TRUE(view->Commands().IsPlacingAp());

    // Released quickly: a plain tap that places the access point.
    world.dialogs.messages.clear();
    send(QEvent::MouseButtonPress, Qt::LeftButton, {30, 40});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {30, 40});
    EXPECT_TRUE(world.dialogs.messages.isEmpty());
    EXPECT_FALSE(view->Commands().IsPlacingAp());
    EXPECT_EQ(world.data.PointCount(), 1u);
}

TEST_F(SiteViewCommands, ArrowKeysStopAtThePlanEdgeAndTheThumbFollows) {
    struct {
        int key;
        int presses;
        int centreX;
        int centreY;
    } const cases[] = {
        {Qt::Key_Left, 20, 0, 120},   {Qt::Key_Up, 20, 0, 0},      {Qt::Key_Right, 40, 240, 0},
        {Qt::Key_Down, 40, 240, 265}, {Qt::Key_Left, 1, 230, 265}, {Qt::Key_Space, 1, 230, 265},
    };
    for (const auto& c : cases) {
        for (int i = 0; i < c.presses; ++i) {
            view->Navigator().ScrollByKey(c.key);
        }
        EXPECT_EQ(world.plan.GetCentreX(), c.centreX) << c.key;
        EXPECT_EQ(world.plan.GetCentreY(), c.centreY) << c.key;
        EXPECT_EQ(view->horizontalScrollBar()->value(), c.centreX);
        EXPECT_EQ(view->verticalScrollBar()->value(), c.centreY);
    }
}

TEST_F(SiteViewCommands, ScrollBarActionsMoveTheCentreInPlanPixels) {
    QScrollBar* h = view->horizontalScrollBar();
    QScrollBar* v = view->verticalScrollBar();
    struct {
        QScrollBar* bar;
        QAbstractSlider::SliderAction action;
        int centreX;
        int centreY;
    } const cases[] = {
        {h, QAbstractSlider::SliderSingleStepAdd, 130, 120},
        {h, QAbstractSlider::SliderSingleStepSub, 120, 120},
        {v, QAbstractSlider::SliderSingleStepSub, 120, 110},
        {v, QAbstractSlider::SliderPageStepAdd, 120, 265},  // by the client height
        {h, QAbstractSlider::SliderPageStepSub, 0, 265},    // by the client width
        {h, QAbstractSlider::SliderToMaximum, 0, 265},      // other actions do nothing
    };
    for (const auto& c : cases) {
        c.bar->triggerAction(c.action);
        EXPECT_EQ(world.plan.GetCentreX(), c.centreX) << c.action;
        EXPECT_EQ(world.plan.GetCentreY(), c.centreY) << c.action;
        EXPECT_EQ(h->value(), c.centreX);
        EXPECT_EQ(v->value(), c.centreY);
    }
    // Dragging the thumb sets the centre to the thumb's position.
    h->setSliderPosition(77);
    EXPECT_EQ(world.plan.GetCentreX(), 77);
    EXPECT_EQ(h->value(), 77);
    view->Navigator().Scroll(Qt::Vertical, PlanNavigator::kThumbTrack, 500);  // clamped to the plan
    EXPECT_EQ(world.plan.GetCentreY(), 265);
}

TEST_F(SiteViewCommands, ZoomChangesTheFactorButNotTheScrollBars) {
    view->Navigator().ZoomIn();
    EXPECT_EQ(world.plan.GetZoom(), 2);
    view->Navigator().ZoomOut();
    view->Navigator().ZoomOut();
    EXPECT_EQ(world.plan.GetZoom(), 1);
    EXPECT_EQ(view->horizontalScrollBar()->value(), 120);
}

TEST_F(SiteViewCommands, ProjectionDialogCancelledOrConfirmed) {
    const QImage before = view->PlanImage();
    view->Commands().OpenProjection();  // cancelled
    ASSERT_EQ(world.dialogs.fileQuestions.size(), 1u);
    const auto& asked = world.dialogs.fileQuestions[0];
    EXPECT_FALSE(asked.save);
    EXPECT_EQ(asked.request.filter,
              QStringLiteral("Projection Files (*.ktp)|*.ktp|All Files (*.*)|*.*||"));
    EXPECT_EQ(asked.request.defaultExtension, QStringLiteral("KTP"));
    EXPECT_EQ(asked.request.initialName, QStringLiteral("DEFAULT"));
    EXPECT_TRUE(asked.request.mustExist);
    EXPECT_EQ(view->PlanImage(), before);
    EXPECT_TRUE(world.dialogs.messages.isEmpty());

    // A missing file: the projection reports it, the bitmap cannot be loaded
    // and the previous plan stays.
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("none.ktp")));
    view->Commands().OpenProjection();
    EXPECT_EQ(world.dialogs.messages, QStringList{QStringLiteral("Cannot Load Bitmap")});
    EXPECT_EQ(view->PlanImage(), before);

    // A real projection: its plan replaces the blank one, set up afresh while
    // the zoom factor stays.
    QImage plan(400, 300, QImage::Format_RGB32);
    plan.fill(QColor(10, 200, 30));
    const std::string path = world.dir.File("site.ktp");
    WriteProjection(path, plan, 150, 90);
    view->Navigator().ZoomIn();
    world.dialogs.messages.clear();
    world.dialogs.fileAnswers.push_back(QString::fromStdString(path));
    view->Commands().OpenProjection();
    EXPECT_TRUE(world.dialogs.messages.isEmpty());
    EXPECT_EQ(view->PlanImage().size(), QSize(400, 300));
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 400);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 300);
    EXPECT_EQ(world.plan.GetViewport(), (SiteRect{0, 0, 240, 240}));
    EXPECT_EQ(world.plan.GetZoom(), 2);
    // Readings now centre on the projected position.
    CreateCollection();
    world.session.Collect();
    EXPECT_EQ(world.plan.GetCentreX(), 150);
    EXPECT_EQ(world.plan.GetCentreY(), 90);
}

// The largest plan the projection loader takes (kMaxPlanPixels, 6000 x 6000)
// is decoded despite Qt's default image allocation limit, and drawn.
TEST_F(SiteViewCommands, TheLargestPlanTakenIsLoadedAndDrawn) {
    const int side = 6000;
    ASSERT_EQ(std::uint64_t{side} * side, CSiteProjection::kMaxPlanPixels);
    QImage plan(side, side, QImage::Format_RGB32);
    plan.fill(QColor(200, 40, 90));
    plan.setPixel(side - 1, side - 1, qRgb(1, 2, 3));
    const std::string path = world.dir.File("largest.ktp");
    WriteProjection(path, plan);
    plan = QImage();
    world.dialogs.fileAnswers.push_back(QString::fromStdString(path));
    view->Commands().OpenProjection();
    EXPECT_TRUE(world.dialogs.messages.isEmpty()) << world.dialogs.messages.join('|').toStdString();
    ASSERT_EQ(view->PlanImage().size(), QSize(side, side));
    EXPECT_EQ(view->PlanImage().pixel(side - 1, side - 1) & 0xFFFFFFu, 0x010203u);
    CreateCollection();  // at the handheld's size the plan shows with a collection file
    const QImage shown = view->Render();
    EXPECT_EQ(Rgb(shown, shown.width() / 2, shown.height() / 2), 0xC8285Au);
}

TEST_F(SiteViewCommands, CollectionDialogsConfirmedAndCancelled) {
    const QString path = QString::fromStdString(world.dir.File("new.ktd"));

    // No, then a confirmed save dialog: a new 33-byte file.
    world.dialogs.yesNoAnswers.push_back(false);
    world.dialogs.fileAnswers.push_back(path);
    view->Commands().OpenCollection();
    EXPECT_EQ(world.dialogs.questions,
              QStringList{QStringLiteral("Do you wish to open an existing collection file?")});
    ASSERT_EQ(world.dialogs.fileQuestions.size(), 1u);
    EXPECT_TRUE(world.dialogs.fileQuestions[0].save);
    EXPECT_EQ(world.dialogs.fileQuestions[0].request.defaultExtension, QStringLiteral("ktd"));
    EXPECT_EQ(world.dialogs.fileQuestions[0].request.initialName, QStringLiteral("Data"));
    EXPECT_TRUE(view->Commands().IsSurveyShown());
    EXPECT_EQ(world.data.Path(), path.toStdString());
    EXPECT_EQ(std::filesystem::file_size(path.toStdString()), 33u);
    world.AddSurveyPoint(5, 5, -50);
    world.AddSurveyPoint(6, 6, -60);

    // Yes, then a cancelled open dialog: the file and the display stay.
    world.dialogs.yesNoAnswers.push_back(true);
    view->Commands().OpenCollection();
    EXPECT_TRUE(view->Commands().IsSurveyShown());
    EXPECT_EQ(world.data.Path(), path.toStdString());

    // Yes, then a confirmed open dialog: the file's points are loaded.
    world.dialogs.yesNoAnswers.push_back(true);
    world.dialogs.fileAnswers.push_back(path);
    world.sound.Clear();
    view->Commands().OpenCollection();
    EXPECT_EQ(world.data.PointCount(), 2u);
    EXPECT_EQ(world.sound.Names(), Names{"PING"}) << "one sound for the load";

    // No, then a cancelled save dialog: no file, the instructions again.
    world.dialogs.yesNoAnswers.push_back(false);
    view->Commands().OpenCollection();
    EXPECT_EQ(
        world.dialogs.messages,
        QStringList{QStringLiteral("No collection file selected, data can not be collected.")});
    EXPECT_FALSE(world.data.HasPath());
    EXPECT_FALSE(view->Commands().IsSurveyShown());
}

TEST_F(SiteViewCommands, CancelledOpenOfAFirstFileStillShowsTheSurveyButRecordAsks) {
    world.dialogs.yesNoAnswers.push_back(true);
    view->Commands().OpenCollection();
    EXPECT_TRUE(view->Commands().IsSurveyShown());
    view->Commands().StartRecording();
    EXPECT_EQ(world.dialogs.messages, QStringList{kNoFile});
}

TEST_F(SiteViewCommands, CommandIdsReachTheirHandlers) {
    view->OnCommand(ID_PLACE_AP);
    EXPECT_TRUE(view->Commands().IsPlacingAp());
    view->OnCommand(ID_ZOOM_IN);
    EXPECT_EQ(world.plan.GetZoom(), 2);
    view->OnCommand(ID_SCAN_START);
    EXPECT_EQ(world.dialogs.messages, QStringList{kNoFile});
    view->OnCommand(ID_SNAPSHOT);  // the frame's, not the view's
    view->OnCommand(ID_APP_ABOUT);
    EXPECT_EQ(world.dialogs.messages.size(), 1);
}

TEST_F(SiteViewCommands, ZoomFitAtTheHandheldSizeGoesBackToTheFactorOne) {
    view->Navigator().ZoomIn();
    view->Navigator().ZoomIn();
    EXPECT_EQ(world.plan.GetZoom(), 4);
    view->OnCommand(ID_ZOOM_FIT);
    EXPECT_EQ(world.plan.GetZoom(), 1);
    EXPECT_EQ(world.plan.GetViewport(), (SiteRect{0, 0, 240, 240}));
}

TEST(SiteViewProjection, AtADesktopSizeALoadedPlanIsShownAtOnce) {
    SiteViewWorld world;
    auto view = world.MakeView(1024, 768);
    // A failed load shows nothing new.
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("none.ktp")));
    view->Commands().OpenProjection();
    EXPECT_FALSE(view->Commands().IsSurveyShown());

    QImage plan(2000, 1000, QImage::Format_RGB32);
    plan.fill(QColor(10, 200, 30));
    const std::string path = world.dir.File("site.ktp");
    WriteProjection(path, plan, 150, 90);
    world.dialogs.messages.clear();
    world.dialogs.fileAnswers.push_back(QString::fromStdString(path));
    view->Commands().OpenProjection();
    EXPECT_TRUE(world.dialogs.messages.isEmpty());
    EXPECT_TRUE(view->Commands().IsSurveyShown());
    // The whole plan, 1024 / 2000 of its size, centred.
    EXPECT_EQ(view->Bands().ZoomText(), QStringLiteral("ZOOM=51%  DATA PTS=0"));
    const QImage image = view->Render();
    EXPECT_EQ(Rgb(image, 300, 200), 0x0AC81Eu);
    EXPECT_EQ(Rgb(image, 300, 768 - 10), 0x000000u);  // below the plan's 512 rows
    // Recording still asks for a collection file.
    view->Commands().StartRecording();
    EXPECT_EQ(world.dialogs.messages, QStringList{kNoFile});
}

}  // namespace
}  // namespace ketrion::testing
