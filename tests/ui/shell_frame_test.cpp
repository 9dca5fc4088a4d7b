#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QToolBar>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "platform/Sound.h"
#include "protocol/FrameFormat.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "support/LinkFakes.h"
#include "support/QtTestApp.h"
#include "support/RecordingPrompt.h"
#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Commands.h"
#include "ui/shell/Draw.h"
#include "ui/shell/KetrionView.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/Services.h"
#include "ui/siteview/SiteView.h"

namespace ketrion {
namespace {

using testing::ProcessEventsUntil;
using testing::QtTestApp;
using testing::ScriptedPort;
using testing::ValidFrame;

// A site view stand-in that records the commands and paints it gets.
class RecordingView final : public QWidget, public CommandTarget {
public:
    explicit RecordingView(QWidget* parent) : QWidget(parent) {}
    void OnCommand(int id) override { commands.push_back(id); }
    std::vector<int> commands;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter(this).fillRect(rect(), Qt::gray);
    }
};

class FrameTest : public ::testing::Test {
protected:
    FrameTest()
        : board(clock),
          com(board.com),
          engine(board.engine),
          scan(board, clock),
          position(board, clock),
          data(prompt, sound, clock),
          projection(prompt, sound),
          session(scan, position, data, projection, sound, clock),
          services{session, scan, position, data, plan, projection, sound, prompt, draw, clock},
          frame(services) {
        frame.SetSiteViewFactory([this](QWidget* parent) {
            ++viewsMade;
            lastView = new RecordingView(parent);
            return lastView;
        });
    }

    void Tap(QWidget* view) {
        const QPointF at(50, 50);
        QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view, &press);
    }

    QApplication& app = QtTestApp();
    testing::ManualClock clock;
    RecordingPrompt prompt;
    NullSound sound;
    BoardStack board;
    CCom& com;
    CEngine& engine;
    BoardSource scan;
    BoardPosition position;
    CSiteData data;
    CSitePlan plan;
    CSiteProjection projection;
    SurveySession session;
    CDraw draw;
    Services services;
    CMainFrame frame;
    int viewsMade = 0;
    RecordingView* lastView = nullptr;
};

// The board's start runs on its own thread: the window shows the wait cursor
// until the board has answered, never sleeping, then shows who it is.
TEST_F(FrameTest, TheWaitCursorLastsUntilTheBoardHasAnswered) {
    std::atomic<ScriptedPort*> port{nullptr};
    scan.SetPortOpener([&](CCom& line) {
        auto opened = std::make_unique<ScriptedPort>();
        port = opened.get();
        line.Attach(std::move(opened));
    });
    int settled = 0;
    QObject::connect(&frame, &CMainFrame::startupSettled, [&] { ++settled; });
    frame.show();
    frame.StartSources();
    const auto busy = [] {
        const QCursor* cursor = QApplication::overrideCursor();
        return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    };
    EXPECT_TRUE(busy());
    // The handshake's Version request goes out on the link thread.
    ASSERT_TRUE(ProcessEventsUntil(
        [&] { return port.load() != nullptr && !port.load()->Writes().empty(); }));
    EXPECT_EQ(port.load()->Writes().front(),
              (std::vector<std::uint8_t>{0x11, 0x12, 0x01, 0x00, 0x11, 0x13}));
    EXPECT_TRUE(busy());
    EXPECT_EQ(settled, 0);

    port.load()->Arrive(ValidFrame(frame::kVersion, {'2', '.', '1', '0', 0}));
    port.load()->Arrive(ValidFrame(frame::kSerial, {'4', '2', '4', '2', 0}));
    ASSERT_TRUE(ProcessEventsUntil([&] { return settled == 1; }));
    EXPECT_FALSE(busy());
    auto* start = qobject_cast<CKetrionView*>(frame.StartView());
    EXPECT_EQ(start->FirmwareLine(), QStringLiteral("(Firmware 2.10)"));
    EXPECT_EQ(start->SerialLine(), QStringLiteral("(SN 4242)"));
    EXPECT_TRUE(prompt.Messages().empty());
    frame.StopSources();
    EXPECT_FALSE(board.linkThread.IsRunning());
}

TEST_F(FrameTest, CommandBarCarriesNineButtonsInOrder) {
    std::vector<int> ids;
    for (QAction* action : frame.commandBar()->actions()) {
        ids.push_back(action->data().toInt());
        EXPECT_FALSE(action->icon().isNull());
    }
    const std::vector<int> expected = {32771, 32772, 32773, 32774, 32775,
                                       32776, 32778, 32777, 57664};
    EXPECT_EQ(ids, expected);
    EXPECT_FALSE(frame.commandBar()->isMovable());
}

TEST_F(FrameTest, ButtonImagesSwitchAbove240Pixels) {
    frame.show();
    struct Case {
        int width;
        int buttons;
    };
    for (const Case c : {Case{240, 16}, Case{241, 30}, Case{480, 30}, Case{240, 16}}) {
        SCOPED_TRACE(c.width);
        frame.resize(c.width, frame.height());
        QCoreApplication::processEvents();
        ASSERT_EQ(frame.width(), c.width);
        EXPECT_EQ(frame.ButtonSize(), c.buttons);
        EXPECT_EQ(frame.commandBar()->iconSize(), QSize(c.buttons, c.buttons));
    }
}

TEST_F(FrameTest, OpensWithTheHandheldClientArea) {
    frame.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.ActiveView()->size(), QSize(240, 268));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Ketrion"));
}

TEST_F(FrameTest, MissingButtonImagesFailTheCreation) {
    draw.SetBitmap(128, QImage());
    CMainFrame broken(services);
    EXPECT_FALSE(broken.Built());
}

TEST_F(FrameTest, FirstTapSwitchesToTheSiteViewOnce) {
    frame.show();
    QWidget* start = frame.ActiveView();
    ASSERT_EQ(start, frame.StartView());
    EXPECT_FALSE(frame.CommandAction(ID_SCAN_START)->isEnabled());
    EXPECT_TRUE(frame.CommandAction(ID_APP_ABOUT)->isEnabled());

    Tap(start);
    EXPECT_EQ(viewsMade, 1);
    EXPECT_EQ(frame.ActiveView(), lastView);
    EXPECT_FALSE(start->isVisible());
    EXPECT_TRUE(lastView->isVisible());
    EXPECT_TRUE(frame.CommandAction(ID_SCAN_START)->isEnabled());

    // A second switch does nothing; the start view lives on, hidden.
    frame.SwitchToView();
    EXPECT_EQ(viewsMade, 1);
    EXPECT_EQ(frame.ActiveView(), lastView);
    EXPECT_EQ(frame.StartView(), start);
}

TEST_F(FrameTest, ViewCommandsReachTheSiteViewOnly) {
    int snapshots = 0;
    QWidget* snapshotOf = nullptr;
    frame.SetSnapshotHandler([&](QWidget* view) {
        ++snapshots;
        snapshotOf = view;
    });
    // On the start view the snapshot works; the view's commands have nowhere to go.
    frame.OnCommand(ID_SNAPSHOT);
    EXPECT_EQ(snapshotOf, frame.StartView());

    frame.SwitchToView();
    for (int id : kCommandBarOrder) {
        if (id != ID_APP_ABOUT) {
            frame.CommandAction(id)->trigger();
        }
    }
    const std::vector<int> routed = {32771, 32772, 32773, 32774, 32775, 32776, 32777};
    EXPECT_EQ(lastView->commands, routed);
    EXPECT_EQ(snapshots, 2);
    EXPECT_EQ(snapshotOf, lastView);
}

TEST_F(FrameTest, MinimisingClosesAndStopsTheSources) {
    frame.show();
    frame.StartSources();
    ASSERT_TRUE(ProcessEventsUntil([&] { return board.linkThread.IsRunning(); }));
    frame.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !frame.isVisible(); }));
    EXPECT_FALSE(board.linkThread.IsRunning());
}

TEST(FrameSiteView, FirstTapOpensTheRealSiteView) {
    QtTestApp();
    testing::ManualClock clock;
    RecordingPrompt prompt;
    NullSound sound;
    BoardStack board(clock);
    BoardSource scan(board, clock);
    BoardPosition position(board, clock);
    CSiteData data(prompt, sound, clock);
    CSitePlan plan;
    CSiteProjection projection(prompt, sound);
    SurveySession session(scan, position, data, projection, sound, clock);
    CDraw draw;
    Services services{session, scan, position, data, plan, projection, sound, prompt, draw, clock};
    CMainFrame frame(services);
    ASSERT_TRUE(frame.Built());
    frame.show();
    frame.SwitchToView();
    auto* site = qobject_cast<CSiteView*>(frame.ActiveView());
    ASSERT_NE(site, nullptr);
    frame.SwitchToView();
    EXPECT_EQ(frame.ActiveView(), site);
}

}  // namespace
}  // namespace ketrion
