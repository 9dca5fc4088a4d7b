#pragma once

#include <QSettings>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Draw.h"
#include "ui/shell/KetrionApp.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/QtPrompt.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Autopilot.h"

namespace ketrion {

class BoardSimulator;

// Every long-lived object of the program, one of each. Members are declared in
// the fixed construction order (after the platform stand-ins: clock, prompt and
// the simulated board when there is one): the board's stack (link, location,
// access-point list, parser, engine, link thread), drawing helper,
// application, the sources, survey data, site plan, projection, session.
// C++ destroys them in reverse; the destructor stops the link thread first,
// so nothing it touches goes while it runs, and the port closes last.
class Process {
public:
    // The program: makes the application object from the command line.
    Process(int& argc, char** argv, Options options);
    // Tests: uses the QApplication that already runs, and `clock` for the
    // start-up waits and the survey's times.
    Process(Options options, Clock& clock);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads the registry file and starts the simulated board as the options
    // ask. Returns false with a message for the user in *error.
    bool Prepare(std::string* error);
    // What the frame does to the link at start-up and shutdown.
    CMainFrame::LinkSteps LinkSteps();
    // The program's run: creates and shows the main window, runs the event
    // loop (with --screenshot: until the picture is saved; with --autopilot:
    // until the unattended survey ends), tears the window down. Returns the
    // exit code.
    int Run();

    // Saves a picture of `frame` once the board has answered (or the
    // handshake timeout passed), then closes it. Reports on standard error.
    void ScreenshotWhenReady(CMainFrame& frame);
    // Saves the picture of `frame` to the --screenshot file and says where.
    bool SaveScreenshot(CMainFrame& frame);
    // The autopilot's settings from the command line.
    AutopilotSettings AutopilotFromOptions() const;
    // Opens the --projection and --collection files in `frame` (a session
    // that starts with them loaded; not for the autopilot, which opens its own).
    void OpenStartFiles(CMainFrame& frame);
    // The window layout the options ask for, and the settings that keep the
    // desktop window's geometry and recent files (none for unattended runs,
    // which neither read nor change the user's settings).
    FrameLayout Layout() const;
    QSettings* Settings();
    // What to tell the user when no board was found.
    static constexpr const char* kNoBoardHint =
        "No receiver board was found. Name its serial port with --port PATH (for example "
        "--port /dev/ttyUSB0), or try the program with the simulated board: --simulate.";
    // True once the board's firmware and serial number have arrived (or,
    // with another scan source, once it is ready or has said why not).
    bool HandshakeDone() const;
    // The scan and position sources in use.
    source::ScanSource& Scan() { return otherScan ? *otherScan : boardScan; }
    source::PositionSource& Position() {
        return otherPosition ? *otherPosition : static_cast<source::PositionSource&>(boardPosition);
    }
    // True when the board's serial link is the scan source.
    bool UsesBoard() const { return otherScan == nullptr; }
    // The simulated board's port path, or empty.
    std::string SimulatorPath() const;

private:
    void Wire();

    Options m_options;
    std::unique_ptr<SystemClock> m_ownClock;
    Clock& m_clock;
    bool m_screenshotFailed = false;
    // Where the engine's events go (set while the main frame exists). A
    // source's news from before the frame exists (an adapter that is not
    // there, a recording that cannot be read) waits for it, so none is lost.
    void SetEventFrame(CMainFrame* frame);
    std::mutex m_eventMutex;
    std::atomic<CMainFrame*> m_eventFrame{nullptr};
    std::vector<EngineEvent> m_earlyEvents;  // guarded by m_eventMutex
    std::unique_ptr<QSettings> m_settings;
    // The autopilot's stops or walk, read by Prepare.
    std::vector<std::pair<double, double>> m_stops;
    std::vector<WalkClickAt> m_walk;

public:
    // Platform stand-ins.
    QtPrompt prompt;
    std::unique_ptr<BoardSimulator> simulator;  // the board, when simulated
    std::optional<Registry> registry;
    // The process-wide objects, in construction order.
    BoardStack board;
    CDraw draw;
    std::unique_ptr<CKetrionApp> app;
    std::unique_ptr<Sound> sound;
    BoardSource boardScan;
    BoardPosition boardPosition;
    // The scan and position sources the options chose in place of the board's
    // (the adapter, a recording of it, gpsd); null for the board's own.
    std::unique_ptr<source::ScanSource> otherScan;
    std::unique_ptr<source::PositionSource> otherPosition;
    CSiteData data;
    CSitePlan plan;
    CSiteProjection projection;
    SurveySession session;
    Services services;
};

}  // namespace ketrion
