#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QToolBar>

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

// Records the start-up waits (and whether the wait cursor showed during
// each) without waiting.
class StepClock final : public Clock {
public:
    explicit StepClock(std::vector<std::string>& log) : m_log(log) {}
    std::int64_t NowSeconds() override { return 1'000'000; }
    void SleepMs(unsigned ms) override {
        const QCursor* cursor = QApplication::overrideCursor();
        const bool waitCursor = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
        m_log.push_back("wait " + std::to_string(ms) + (waitCursor ? " busy" : " idle"));
    }

private:
    std::vector<std::string>& m_log;
};

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
          frame(services, Steps()) {
        frame.SetSiteViewFactory([this](QWidget* parent) {
            ++viewsMade;
            lastView = new RecordingView(parent);
            return lastView;
        });
    }

    CMainFrame::LinkSteps Steps() {
        CMainFrame::LinkSteps steps;
        steps.open = [this] { log.push_back("open"); };
        steps.initList = [this] { log.push_back("list"); };
        steps.startThread = [this] {
            log.push_back(com.writeEvent.IsSet() ? "thread (request waiting)" : "thread");
        };
        steps.handshake = [this] { engine.Start(); };
        steps.notify = [this](std::function<void()> notify) { engine.notify = std::move(notify); };
        steps.stopThread = [this] { log.push_back("stop"); };
        return steps;
    }

    std::vector<std::uint8_t> TakeRequest() {
        std::uint8_t buffer[frame::kMaxOutgoing];
        const std::uint32_t n = com.TakeRequest(buffer);
        return {buffer, buffer + n};
    }

    void Tap(QWidget* view) {
        const QPointF at(50, 50);
        QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view, &press);
    }

    QApplication& app = QtTestApp();
    std::vector<std::string> log;
    StepClock clock{log};
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

TEST_F(FrameTest, StartsTheLinkInOrderWithTwoWaitsUnderTheWaitCursor) {
    ASSERT_TRUE(frame.OnCreate());
    // The Version request is queued after the thread starts, between the waits.
    const std::vector<std::string> expected = {"open", "list", "wait 2000 busy", "thread",
                                               "wait 2000 busy"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(TakeRequest(), (std::vector<std::uint8_t>{0x11, 0x12, 0x01, 0x00, 0x11, 0x13}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompt.Messages().empty());
}

TEST_F(FrameTest, CommandBarCarriesNineButtonsInOrder) {
    ASSERT_TRUE(frame.OnCreate());
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
    ASSERT_TRUE(frame.OnCreate());
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
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.ActiveView()->size(), QSize(240, 268));
    EXPECT_EQ(frame.windowTitle(), QStringLiteral("Ketrion"));
}

TEST_F(FrameTest, MissingButtonImagesFailTheCreation) {
    draw.SetBitmap(128, QImage());
    EXPECT_FALSE(frame.OnCreate());
    EXPECT_TRUE(log.empty());  // nothing of the link was started
}

TEST_F(FrameTest, FirstTapSwitchesToTheSiteViewOnce) {
    ASSERT_TRUE(frame.OnCreate());
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
    ASSERT_TRUE(frame.OnCreate());
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

TEST_F(FrameTest, EngineUpdatesFromTheLinkThreadRepaintTheActiveView) {
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    frame.SwitchToView();
    ASSERT_TRUE(ProcessEventsUntil([&] { return lastView->paints > 0; }));
    const int paintsBefore = lastView->paints;

    // A ScanEnd and a GPS report each post one update; other frames none.
    std::thread link([&] {
        const std::uint8_t check = frame::kScanEnd;
        engine.Dispatch(frame::kScanEnd, &check, 1);
        const std::uint8_t configure = frame::kConfigure;
        engine.Dispatch(frame::kConfigure, &configure, 1);
        engine.notify();
    });
    link.join();
    EXPECT_TRUE(ProcessEventsUntil([&] { return frame.EngineUpdateCount() == 2; }));
    EXPECT_TRUE(ProcessEventsUntil([&] { return lastView->paints > paintsBefore; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(frame.EngineUpdateCount(), 2);
}

TEST_F(FrameTest, MinimisingClosesAndStopsTheLinkOnce) {
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    log.clear();
    frame.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !frame.isVisible(); }));
    EXPECT_EQ(log, std::vector<std::string>{"stop"});
    EXPECT_EQ(engine.notify, nullptr);
    frame.StopLink();
    EXPECT_EQ(log, std::vector<std::string>{"stop"});
}

TEST(FrameSiteView, FirstTapOpensTheRealSiteView) {
    QtTestApp();
    std::vector<std::string> log;
    StepClock clock(log);
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
    CMainFrame frame(services, {});
    ASSERT_TRUE(frame.OnCreate());
    frame.show();
    frame.SwitchToView();
    auto* site = qobject_cast<CSiteView*>(frame.ActiveView());
    ASSERT_NE(site, nullptr);
    frame.SwitchToView();
    EXPECT_EQ(frame.ActiveView(), site);
}

}  // namespace
}  // namespace ketrion
