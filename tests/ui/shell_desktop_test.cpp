// The main window's desktop layout: menus and shortcuts, status bar, recent
// files, remembered geometry, minimise and close.

#include <gtest/gtest.h>

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QToolBar>

#include <filesystem>
#include <memory>

#include "support/SiteViewWorld.h"
#include "ui/shell/Commands.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/RecentFiles.h"
#include "ui/shell/StatusBar.h"

namespace ketrion::testing {
namespace {

// A site view stand-in that records the commands it gets.
class RecordingView final : public QWidget, public CommandTarget {
public:
    explicit RecordingView(QWidget* parent) : QWidget(parent) {}
    void OnCommand(int id) override { commands.push_back(id); }
    std::vector<int> commands;
};

class Desktop : public ::testing::Test {
protected:
    Desktop() : settings(SettingsPath(), QSettings::IniFormat) {}

    QString SettingsPath() const { return QString::fromStdString(world.dir.File("ketrion.ini")); }

    // A desktop frame on the real site view, its questions answered by the
    // world's scripted dialogs.
    std::unique_ptr<CMainFrame> MakeFrame() {
        auto frame = std::make_unique<CMainFrame>(world.services, FrameLayout::Desktop, &settings);
        frame->SetDialogs(&world.dialogs);
        EXPECT_TRUE(frame->Built());
        return frame;
    }
    // The same with the recording stand-in for the site view.
    std::unique_ptr<CMainFrame> MakeRecordingFrame() {
        auto frame = std::make_unique<CMainFrame>(world.services, FrameLayout::Desktop, &settings);
        frame->SetSiteViewFactory([this](QWidget* parent) {
            view = new RecordingView(parent);
            return view;
        });
        EXPECT_TRUE(frame->Built());
        return frame;
    }
    // A collection file with one survey point, written by the survey data.
    std::string CollectionWithOnePoint(const std::string& name) {
        world.ChooseCollection(name);
        world.AddSurveyPoint(10, 10, -50);
        world.data.SetPath({});
        return world.dir.File(name);
    }

    SiteViewWorld world;
    QSettings settings;
    RecordingView* view = nullptr;
};

TEST_F(Desktop, MenusCarryTheCommandsWithTheirShortcuts) {
    auto frame = MakeFrame();
    QStringList menus;
    for (QAction* menu : frame->menuBar()->actions()) {
        menus << menu->text();
    }
    EXPECT_EQ(menus, (QStringList{"&File", "&Survey", "&View", "&Help"}));

    struct {
        int id;
        QKeySequence key;
    } const shortcuts[] = {
        {ID_PROJECTION_OPEN, QKeySequence(QStringLiteral("Ctrl+O"))},
        {ID_COLLECTION_NEW, QKeySequence(QStringLiteral("Ctrl+N"))},
        {ID_COLLECTION_OPEN, QKeySequence(QStringLiteral("Ctrl+Shift+O"))},
        {ID_SCAN_START, QKeySequence(QStringLiteral("F5"))},
        {ID_SCAN_STOP, QKeySequence(QStringLiteral("F6"))},
        {ID_ZOOM_IN, QKeySequence(QStringLiteral("Ctrl++"))},
        {ID_ZOOM_OUT, QKeySequence(QStringLiteral("Ctrl+-"))},
        {ID_ZOOM_FIT, QKeySequence(QStringLiteral("Ctrl+0"))},
    };
    for (const auto& s : shortcuts) {
        SCOPED_TRACE(s.id);
        QAction* action = frame->MenuAction(s.id);
        ASSERT_NE(action, nullptr);
        EXPECT_TRUE(action->shortcuts().contains(s.key))
            << action->shortcut().toString().toStdString();
    }
    for (int id : {ID_SNAPSHOT, ID_PLACE_AP, ID_VIEW_LEGEND, ID_VIEW_HEATMAP, ID_APP_ABOUT}) {
        EXPECT_NE(frame->MenuAction(id), nullptr) << id;
    }
    EXPECT_TRUE(frame->MenuAction(ID_VIEW_HEATMAP)->isCheckable());
    EXPECT_TRUE(frame->MenuAction(ID_VIEW_LEGEND)->isCheckable());
    QAction* quit = frame->NamedAction(QStringLiteral("actionQuit"));
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(quit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QAction* toggle = frame->NamedAction(QStringLiteral("actionRecordToggle"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->shortcut(), QKeySequence(Qt::Key_Space));

    // The command bar is the handheld's, nine buttons in order.
    std::vector<int> ids;
    for (QAction* action : frame->commandBar()->actions()) {
        ids.push_back(action->data().toInt());
    }
    EXPECT_EQ(ids, std::vector<int>(kCommandBarOrder.begin(), kCommandBarOrder.end()));
}

TEST_F(Desktop, MenuCommandsReachTheSiteViewAndWaitForIt) {
    auto frame = MakeRecordingFrame();
    frame->show();
    // On the start view a view command opens the site view first.
    EXPECT_TRUE(frame->MenuAction(ID_ZOOM_FIT)->isEnabled());
    EXPECT_TRUE(frame->CommandAction(ID_SCAN_START)->isEnabled());
    ASSERT_EQ(frame->ActiveView(), frame->StartView());

    for (int id : {ID_ZOOM_IN, ID_ZOOM_OUT, ID_ZOOM_FIT, ID_VIEW_LEGEND, ID_VIEW_HEATMAP,
                   ID_PLACE_AP, ID_SCAN_START, ID_SCAN_STOP, ID_PROJECTION_OPEN}) {
        frame->MenuAction(id)->trigger();
    }
    const std::vector<int> routed = {ID_ZOOM_IN,     ID_ZOOM_OUT,     ID_ZOOM_FIT,
                                     ID_VIEW_LEGEND, ID_VIEW_HEATMAP, ID_PLACE_AP,
                                     ID_SCAN_START,  ID_SCAN_STOP,    ID_PROJECTION_OPEN};
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(frame->ActiveView(), view);
    EXPECT_EQ(view->commands, routed);
    // A checkable command's tick follows it, whichever way it came.
    EXPECT_FALSE(frame->MenuAction(ID_VIEW_LEGEND)->isChecked());
    EXPECT_TRUE(frame->MenuAction(ID_VIEW_HEATMAP)->isChecked());
    frame->OnCommand(ID_VIEW_HEATMAP);
    EXPECT_FALSE(frame->MenuAction(ID_VIEW_HEATMAP)->isChecked());
}

TEST_F(Desktop, SpaceStartsAndStopsRecording) {
    auto frame = MakeFrame();
    frame->show();
    frame->SwitchToView();
    world.dialogs.yesNoAnswers.push_back(false);
    world.dialogs.fileAnswers.push_back(QString::fromStdString(world.dir.File("space.ktd")));
    frame->MenuAction(ID_COLLECTION_OPEN)->trigger();
    ASSERT_TRUE(world.data.HasPath());

    QAction* toggle = frame->NamedAction(QStringLiteral("actionRecordToggle"));
    toggle->trigger();
    EXPECT_TRUE(frame->IsRecording());
    EXPECT_EQ(frame->StatusBar()->Texts().recording, QStringLiteral("Recording"));
    toggle->trigger();
    EXPECT_FALSE(frame->IsRecording());
    EXPECT_EQ(frame->StatusBar()->Texts().recording, QStringLiteral("Not recording"));
}

TEST_F(Desktop, NewAndOpenCollectionAnswerTheFirstQuestionThemselves) {
    auto frame = MakeFrame();
    frame->show();
    frame->SwitchToView();
    const QString created = QString::fromStdString(world.dir.File("new.ktd"));
    world.dialogs.fileAnswers.push_back(created);
    frame->MenuAction(ID_COLLECTION_NEW)->trigger();
    EXPECT_TRUE(world.dialogs.questions.isEmpty());
    ASSERT_EQ(world.dialogs.fileQuestions.size(), 1u);
    EXPECT_TRUE(world.dialogs.fileQuestions[0].save);
    EXPECT_EQ(world.data.Path(), created.toStdString());
    EXPECT_TRUE(std::filesystem::exists(created.toStdString()));

    // The toolbar's button still asks; an answer left over is not used later.
    world.dialogs.yesNoAnswers.push_back(true);
    world.dialogs.fileAnswers.push_back(created);
    frame->CommandAction(ID_COLLECTION_OPEN)->trigger();
    EXPECT_EQ(world.dialogs.questions.size(), 1);
    EXPECT_FALSE(world.dialogs.fileQuestions.back().save);
}

TEST_F(Desktop, AFileThatIsNotACollectionIsRefusedAndSaysSo) {
    auto frame = MakeFrame();
    frame->show();
    const std::string picture = world.dir.File("photo.ktd");
    WriteBytes(picture, {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01});
    frame->OpenCollectionFile(QString::fromStdString(picture));
    ASSERT_EQ(world.dialogs.messages.size(), 1);
    EXPECT_TRUE(
        world.dialogs.messages[0].startsWith(QStringLiteral("photo.ktd is not a collection file")))
        << world.dialogs.messages[0].toStdString();
    EXPECT_FALSE(world.data.HasPath());
    // The file is left as it was.
    EXPECT_EQ(ReadBytes(picture).size(), 12u);
    EXPECT_TRUE(frame->Recent().List(RecentFiles::Kind::Collection).isEmpty());
}

TEST_F(Desktop, OpenedFilesBecomeRecentFilesKeptBetweenRuns) {
    const std::string first = CollectionWithOnePoint("first.ktd");
    const std::string second = CollectionWithOnePoint("second.ktd");
    {
        auto frame = MakeFrame();
        frame->show();
        frame->OpenCollectionFile(QString::fromStdString(first));
        frame->OpenCollectionFile(QString::fromStdString(second));
        EXPECT_EQ(world.data.Path(), second);
        EXPECT_EQ(world.data.PointCount(), 1u);
        EXPECT_EQ(frame->Recent().List(RecentFiles::Kind::Collection),
                  (QStringList{QString::fromStdString(second), QString::fromStdString(first)}));
        // A failed projection load is not remembered.
        frame->OpenProjectionFile(QString::fromStdString(world.dir.File("missing.ktp")));
        EXPECT_TRUE(frame->Recent().List(RecentFiles::Kind::Projection).isEmpty());
        frame->close();
    }
    settings.sync();

    auto frame = MakeFrame();
    const QMenu* recent = frame->findChild<QMenu*>(QStringLiteral("menuRecent"));
    ASSERT_NE(recent, nullptr);
    QStringList tips;
    for (QAction* action : recent->actions()) {
        if (!action->toolTip().isEmpty() && action->data().isValid()) {
            tips << action->toolTip();
        }
    }
    EXPECT_TRUE(tips.contains(QString::fromStdString(first)));
    EXPECT_TRUE(tips.contains(QString::fromStdString(second)));

    // A recent file gone from the disk is taken off the list with a message.
    std::filesystem::remove(first);
    world.dialogs.messages.clear();
    for (QAction* action : recent->actions()) {
        if (action->toolTip() == QString::fromStdString(first)) {
            action->trigger();
            break;
        }
    }
    ASSERT_EQ(world.dialogs.messages.size(), 1);
    EXPECT_TRUE(world.dialogs.messages[0].contains(QStringLiteral("no longer exists")));
    EXPECT_EQ(frame->Recent().List(RecentFiles::Kind::Collection),
              QStringList{QString::fromStdString(second)});
}

TEST_F(Desktop, AProjectionOpenedAtTheStartShowsItsPlan) {
    // The sample site's projection, copied: loading writes the plan beside it.
    const std::string projection = world.dir.File("site.ktp");
    std::filesystem::copy_file(KETRION_SOURCE_DIR "/resources/sample/site.ktp", projection);
    auto frame = MakeFrame();
    frame->show();
    frame->OpenProjectionFile(QString::fromStdString(projection));
    QCoreApplication::processEvents();
    auto* site = qobject_cast<CSiteView*>(frame->ActiveView());
    ASSERT_NE(site, nullptr);
    // Not replaced by the blank plan of the view's first paint.
    EXPECT_GT(site->PlanImage().width(), 265);
    site->Render();
    EXPECT_GT(site->PlanImage().width(), 265);
    EXPECT_EQ(frame->Recent().List(RecentFiles::Kind::Projection),
              QStringList{QString::fromStdString(projection)});
}

TEST_F(Desktop, RecentListsAreCleanedAndBounded) {
    settings.setValue(QStringLiteral("recent/projections"),
                      QStringList{"a.ktp", "", "a.ktp", "b.ktp"});
    RecentFiles recent(&settings);
    EXPECT_EQ(recent.List(RecentFiles::Kind::Projection), (QStringList{"a.ktp", "b.ktp"}));
    for (int i = 0; i < RecentFiles::kMaxEntries + 3; ++i) {
        recent.Add(RecentFiles::Kind::Collection, QStringLiteral("c%1.ktd").arg(i));
    }
    recent.Add(RecentFiles::Kind::Collection, QStringLiteral("c5.ktd"));
    const QStringList list = recent.List(RecentFiles::Kind::Collection);
    ASSERT_EQ(list.size(), RecentFiles::kMaxEntries);
    EXPECT_EQ(list.front(), QStringLiteral("c5.ktd"));
    EXPECT_EQ(list.count(QStringLiteral("c5.ktd")), 1);
    EXPECT_FALSE(list.contains(QStringLiteral("c0.ktd")));
    EXPECT_EQ(RecentFiles(&settings).List(RecentFiles::Kind::Collection), list);
}

TEST_F(Desktop, WindowFitsTheScreenAndRemembersItsGeometry) {
    EXPECT_EQ(CMainFrame::DesktopWindowSize(QSize(1280, 800)), QSize(1024, 640));
    EXPECT_EQ(CMainFrame::DesktopWindowSize(QSize(200, 200)), QSize(240, 268));
    {
        auto frame = MakeFrame();
        frame->show();
        const QSize available = frame->screen()->availableGeometry().size();
        EXPECT_EQ(frame->size(), CMainFrame::DesktopWindowSize(available));
        // Wider than the handheld's: the large buttons.
        EXPECT_EQ(frame->ButtonSize(), 30);
        frame->resize(700, 500);
        frame->close();
    }
    auto frame = MakeFrame();
    frame->show();
    EXPECT_EQ(frame->size(), QSize(700, 500));
}

TEST_F(Desktop, MinimisingOnlyMinimises) {
    auto frame = MakeFrame();
    frame->show();
    frame->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(Desktop, ClosingWhileRecordingAsksFirst) {
    auto frame = MakeFrame();
    frame->show();
    frame->OpenCollectionFile(QString::fromStdString(world.dir.File("rec.ktd")));
    frame->OnCommand(ID_SCAN_START);
    ASSERT_TRUE(frame->IsRecording());

    world.dialogs.yesNoAnswers.push_back(false);
    EXPECT_FALSE(frame->close());
    EXPECT_TRUE(frame->isVisible());
    ASSERT_EQ(world.dialogs.questions.size(), 1);
    EXPECT_EQ(world.dialogs.questions[0], QString::fromLatin1(CMainFrame::kCloseWhileRecording));

    world.dialogs.yesNoAnswers.push_back(true);
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(world.dialogs.questions.size(), 2);

    // A walk's readings waiting for their place are named, recording or not.
    EXPECT_TRUE(CMainFrame::CloseQuestion(false, 0).isEmpty());
    EXPECT_TRUE(CMainFrame::CloseQuestion(false, 1).startsWith(
        QStringLiteral("1 walk reading still waits to be placed")));
    const QString both = CMainFrame::CloseQuestion(true, 4);
    EXPECT_TRUE(both.contains(QStringLiteral("4 walk readings still wait")));
    EXPECT_TRUE(both.endsWith(QStringLiteral("Stop recording and quit Ketrion?")));
}

// The walk's readings closing names are every one the file offers again: a
// walk stopped before its end click left its readings waiting too.
TEST_F(Desktop, ClosingNamesEveryWalkReadingTheFileOffersAgain) {
    auto frame = MakeFrame();
    frame->show();
    frame->OpenCollectionFile(QString::fromStdString(world.dir.File("walk.ktd")));
    frame->OnCommand(ID_PLACING_WALK);
    world.session.WalkClick(100, 100);
    world.ScanEnd();
    world.ScanEnd();
    frame->OnCommand(ID_SCAN_STOP);
    ASSERT_EQ(world.session.UnplacedScans(), 2u);

    world.dialogs.yesNoAnswers.push_back(false);
    EXPECT_FALSE(frame->close());
    ASSERT_EQ(world.dialogs.questions.size(), 1);
    EXPECT_EQ(world.dialogs.questions[0],
              QStringLiteral("2 walk readings still wait to be placed; they are kept and offered "
                             "again when the collection is opened. Quit Ketrion?"));
}

TEST_F(Desktop, AKillWhileRecordingClosesWithoutAsking) {
    auto frame = MakeFrame();
    frame->show();
    frame->OpenCollectionFile(QString::fromStdString(world.dir.File("kill.ktd")));
    frame->OnCommand(ID_SCAN_START);
    ASSERT_TRUE(frame->IsRecording());
    frame->CloseWithoutAsking();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(world.dialogs.questions.isEmpty());
}

TEST_F(Desktop, StatusBarFollowsTheSharedState) {
    auto frame = MakeFrame();
    frame->show();
    const StatusTexts& texts = frame->StatusBar()->Texts();
    // The test's link has no port: the bar says how to name one.
    EXPECT_EQ(texts.link, QStringLiteral("No board: --port PATH or --simulate"));
    EXPECT_EQ(texts.gps, QStringLiteral("GPS: no report yet"));
    EXPECT_EQ(texts.points, QStringLiteral("0 points"));
    EXPECT_EQ(texts.file, QStringLiteral("No collection file"));

    const std::string path = CollectionWithOnePoint("status.ktd");
    frame->OpenCollectionFile(QString::fromStdString(path));
    EXPECT_EQ(texts.file, QStringLiteral("status.ktd"));
    EXPECT_EQ(texts.fileTip, QString::fromStdString(path));
    EXPECT_EQ(texts.points, QStringLiteral("1 point"));

    // A source's news and the bar's own timer both read the state again.
    world.engine.linkState = LinkState::Reconnecting;
    world.Gps(GpsFix{});
    frame->PostEngineEvent({EngineEventKind::GpsUpdate, {}});
    ASSERT_TRUE(ProcessEventsUntil([&] { return frame->SourceEventCount() == 1; }));
    EXPECT_EQ(texts.link, QStringLiteral("Link: reconnecting"));
    EXPECT_TRUE(texts.gps.startsWith(QStringLiteral("GPS: 3D Fix"))) << texts.gps.toStdString();
    world.engine.linkState = LinkState::Lost;
    EXPECT_TRUE(ProcessEventsUntil([&] { return texts.link == QStringLiteral("Link: lost"); },
                                   3 * CMainFrame::kStatusPeriodMs));
}

TEST(DesktopHandheld, TheHandheldLayoutHasNoMenusAndNoStatusBar) {
    SiteViewWorld world;
    CMainFrame frame(world.services);
    ASSERT_TRUE(frame.Built());
    frame.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.Layout(), FrameLayout::Handheld);
    EXPECT_EQ(frame.StatusBar(), nullptr);
    EXPECT_EQ(frame.MenuAction(ID_ZOOM_IN), nullptr);
    EXPECT_EQ(frame.menuWidget(), nullptr);
    EXPECT_EQ(frame.ActiveView()->size(), QSize(240, 268));
}

}  // namespace
}  // namespace ketrion::testing
