// The engine's events reach the user-interface thread through the main frame:
// posted from another thread, emitted as the frame's signal in order, handed
// to the active view when it wants them, and the view repainted.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPainter>

#include <csignal>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "platform/Sound.h"
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
#include "ui/shell/MainFrame.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Autopilot.h"

namespace ketrion {
namespace {

using testing::ProcessEventsUntil;

// A site view stand-in that keeps the events it is handed and counts paints.
class EventView final : public QWidget, public CommandTarget, public EngineEventTarget {
public:
    explicit EventView(QWidget* parent) : QWidget(parent) {}
    void OnCommand(int) override {}
    void OnEngineEvent(const EngineEvent& event) override { events.push_back(event); }
    std::vector<EngineEvent> events;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter(this).fillRect(rect(), Qt::gray);
    }
};

struct Frame {
    QApplication& app = testing::QtTestApp();
    testing::ManualClock clock;
    RecordingPrompt prompt;
    NullSound sound;
    BoardStack board{clock};
    CEngine& engine = board.engine;
    BoardSource scan{board, clock};
    BoardPosition position{board, clock};
    CSiteData data{prompt, sound, clock};
    CSitePlan plan;
    CSiteProjection projection{prompt, sound};
    SurveySession session{scan, position, data, projection, sound, clock};
    CDraw draw;
    Services services{session, scan, position, data, plan, projection, sound, prompt, draw, clock};
    CMainFrame frame{services};
    EventView* view = nullptr;
    std::vector<EngineEvent> signalled;

    Frame() {
        frame.SetSiteViewFactory([this](QWidget* parent) {
            view = new EventView(parent);
            return view;
        });
        QObject::connect(&frame, &CMainFrame::engineEvent, &frame,
                         [this](const EngineEvent& e) { signalled.push_back(e); });
    }
};

std::vector<EngineEventKind> Kinds(const std::vector<EngineEvent>& events) {
    std::vector<EngineEventKind> kinds;
    for (const EngineEvent& e : events) {
        kinds.push_back(e.kind);
    }
    return kinds;
}

TEST(FrameEngineEvents, PostedFromTheLinkThreadTheyArriveInOrderWithTheirReasons) {
    Frame f;
    ASSERT_TRUE(f.frame.Built());
    f.frame.SwitchToView();
    ASSERT_NE(f.view, nullptr);
    f.frame.show();
    ProcessEventsUntil([&] { return f.view->paints > 0; });
    const int paintsBefore = f.view->paints;

    std::thread link([&] {
        f.frame.PostEngineEvent({EngineEventKind::LinkLost, "hang-up on /dev/ttyUSB0"});
        f.frame.PostEngineEvent({EngineEventKind::LinkRestored, {}});
        f.frame.PostEngineEvent({EngineEventKind::ScanAbandoned, "no scan end after 15 s"});
    });
    link.join();
    ASSERT_TRUE(ProcessEventsUntil([&] { return f.signalled.size() == 3; }));
    const std::vector<EngineEventKind> expected = {
        EngineEventKind::LinkLost, EngineEventKind::LinkRestored, EngineEventKind::ScanAbandoned};
    EXPECT_EQ(Kinds(f.signalled), expected);
    EXPECT_EQ(f.signalled[0].reason, "hang-up on /dev/ttyUSB0");
    EXPECT_EQ(Kinds(f.view->events), expected) << "the active view is handed each one";
    EXPECT_EQ(f.view->events[2].reason, "no scan end after 15 s");
    EXPECT_TRUE(ProcessEventsUntil([&] { return f.view->paints > paintsBefore; }))
        << "the view is repainted to show them";
}

// Before the site view opens, the start view wants no events: the signal
// still carries them (the autopilot listens from the start).
TEST(FrameEngineEvents, WithoutATargetViewOnlyTheSignalCarriesThem) {
    Frame f;
    ASSERT_TRUE(f.frame.Built());
    f.frame.PostEngineEvent({EngineEventKind::LinkLost, "gone"});
    ASSERT_TRUE(ProcessEventsUntil([&] { return f.signalled.size() == 1; }));
    EXPECT_EQ(f.view, nullptr);
    EXPECT_EQ(f.signalled[0].reason, "gone");
}

// The autopilot prints one line on standard error for each link event it
// hears from the frame, in exactly these words.
TEST(FrameEngineEvents, TheAutopilotPrintsALineForEachLinkEvent) {
    Frame f;
    ASSERT_TRUE(f.frame.Built());
    AutopilotSettings settings;
    settings.exitApplication = false;
    CAutopilot pilot(f.services, settings);
    ::testing::internal::CaptureStderr();
    pilot.Start(&f.frame);
    f.frame.PostEngineEvent({EngineEventKind::GpsUpdate, {}});
    f.frame.PostEngineEvent({EngineEventKind::LinkLost, "hang-up on /dev/ttyUSB0"});
    f.frame.PostEngineEvent({EngineEventKind::ScanAbandoned, "no scan end after 15 s"});
    f.frame.PostEngineEvent({EngineEventKind::LinkRestored, {}});
    f.frame.PostEngineEvent({EngineEventKind::ScanEnded, {}});
    ProcessEventsUntil([&] { return f.signalled.size() == 5; });
    std::istringstream err(::testing::internal::GetCapturedStderr());
    std::vector<std::string> lines;
    for (std::string line; std::getline(err, line);) {
        if (!line.starts_with("ketrion: ")) {  // the stand-in view makes the run itself fail
            lines.push_back(line);
        }
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"link lost: hang-up on /dev/ttyUSB0",
                                               "scan abandoned: no scan end after 15 s",
                                               "link restored"}));
}

TEST(FrameEngineEvents, AStopSignalEndsTheAutopilotWithItsCount) {
    Frame f;
    AutopilotSettings settings;
    settings.exitApplication = false;
    settings.collection = "/tmp/survey.ktd";
    settings.readings = 7;
    CAutopilot pilot(f.services, settings);
    int finishedWith = -1;
    QObject::connect(&pilot, &CAutopilot::finished, [&](int code) { finishedWith = code; });
    ::testing::internal::CaptureStderr();
    pilot.Interrupt(SIGTERM);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(pilot.ExitCode(), 128 + SIGTERM);
    EXPECT_EQ(finishedWith, 128 + SIGTERM);
    EXPECT_EQ(pilot.Failure(), "stopped by SIGTERM: recorded 0 of 7 points to /tmp/survey.ktd");
    EXPECT_NE(err.find(pilot.Failure()), std::string::npos) << err;
    pilot.Interrupt(SIGINT);  // a second signal changes nothing
    EXPECT_EQ(pilot.ExitCode(), 128 + SIGTERM);
}

}  // namespace
}  // namespace ketrion
