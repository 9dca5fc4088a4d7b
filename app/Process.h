#pragma once

#include <QSettings>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/Options.h"
#include "app/ScanSourceSwitch.h"
#include "platform/Clock.h"
#include "platform/Registry.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "sim/Scenario.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Draw.h"
#include "ui/shell/KetrionApp.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/NoBoardDialog.h"
#include "ui/shell/QtPrompt.h"
#include "ui/shell/QtTicker.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Autopilot.h"

namespace ketrion {

class BoardSimulator;
class CCom;

// Every long-lived object of the program, one of each. Members are declared in
// the fixed construction order (after the platform stand-ins: clock, prompt and
// the simulated board when there is one): the board's stack (link, location,
// access-point list, parser, engine, link thread), drawing helper,
// application, the sources, survey data, site plan, projection, session.
// C++ destroys them in reverse; the destructor stops the sources' threads
// first, so nothing they touch goes while they run, and the port closes last.
class Process {
public:
    // The program: makes the application object from the command line.
    Process(int& argc, char** argv, Options options);
    // Tests: uses the QApplication that already runs, and `clock` for the
    // board's handshake wait and the survey's times.
    Process(Options options, Clock& clock);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Reads the registry file and starts the simulated board as the options
    // ask. Returns false with a message for the user in *error.
    bool Prepare(std::string* error);
    // Opens the board's port in `com` as the options (or the surveyor's
    // choice) ask: the named port, the simulated board's, or the one the
    // device registry names. Runs on the board's start-up thread.
    void OpenBoardPort(CCom& com);
    // Sends the sources' news to `frame` (null: nowhere, for a frame about
    // to go), and acts each time its sources have settled: at desktop sizes a
    // start that found no board asks how to go on (NoBoardDialog) and the
    // answer takes effect; an autopilot run starts once.
    void AttachFrame(CMainFrame* frame);
    // The no-board window, replaceable by tests: the answer for what was
    // looked for, the serial devices found and whether a Wi-Fi adapter is there.
    using NoBoardAsk = std::function<NoBoardAnswer(
        const QString& lookedFor, const QStringList& ports, bool wifiAvailable, QWidget* parent)>;
    void SetNoBoardAsk(NoBoardAsk ask) { m_askNoBoard = std::move(ask); }
    // Makes the surveyor's answer take effect: opens that port, starts the
    // simulated board, or scans with the Wi-Fi adapter (through `frame`, which
    // starts the sources again); reviewing files starts nothing.
    void UseNoBoardAnswer(const NoBoardAnswer& answer, CMainFrame& frame);
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
    // What to tell the user when no board was found (standard error).
    static constexpr const char* kNoBoardHint =
        "No receiver board was found. Name its serial port with --port PATH (for example "
        "--port /dev/ttyUSB0), or try the program with the simulated board: --simulate.";
    // True once the board's firmware and serial number have arrived (or,
    // with another scan source, once it is ready or has said why not).
    bool HandshakeDone() const;
    // The scan and position sources in use.
    source::ScanSource& Scan() { return scan; }
    source::PositionSource& Position() {
        return otherPosition ? *otherPosition : static_cast<source::PositionSource&>(boardPosition);
    }
    // True when the board's serial link is the scan source.
    bool UsesBoard() const { return &scan.Current() == &boardScan; }
    // The simulated board's port path, or empty.
    std::string SimulatorPath() const;

private:
    void Wire();
    // Starts the simulated board on `scenario`; false with *error set.
    bool StartSimulator(sim::Scenario scenario, std::string* error);
    // True for a desktop start with someone at the screen (not unattended).
    bool MayAskWithoutBoard() const;
    // The sources settled: asks how to go on when no board was found.
    void OnStartupSettled(CMainFrame& frame);
    // What the no-board window says was looked for.
    QString LookedFor() const;

    // The port search's messages, kept for the no-board window instead of
    // shown (a desktop start that can ask how to go on).
    class KeptMessages final : public Prompt {
    public:
        void Message(std::string_view text) override;
        std::vector<std::string> Texts() const;
        void Clear();

    private:
        mutable std::mutex m_mutex;
        std::vector<std::string> m_texts;
    };

    Options m_options;
    std::unique_ptr<SystemClock> m_ownClock;
    Clock& m_clock;
    bool m_screenshotFailed = false;
    // Where the sources' events go (set while the main frame exists). A
    // source's news from before the frame exists (an adapter that is not
    // there, a recording that cannot be read) waits for it, so none is lost.
    std::mutex m_eventMutex;
    std::atomic<CMainFrame*> m_eventFrame{nullptr};
    std::vector<EngineEvent> m_earlyEvents;  // guarded by m_eventMutex
    std::unique_ptr<QSettings> m_settings;
    // The autopilot's stops or walk, read by Prepare.
    std::vector<std::pair<double, double>> m_stops;
    std::vector<WalkClickAt> m_walk;
    std::unique_ptr<CAutopilot> m_pilot;
    NoBoardAsk m_askNoBoard;
    KeptMessages m_searchMessages;
    // The port the surveyor chose in the no-board window (UI thread, read by
    // the start-up thread it starts afterwards).
    std::string m_chosenPort;
    // The serial devices the latest search saw (start-up thread, then UI).
    mutable std::mutex m_portsMutex;
    QStringList m_portsSeen;

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
    // The scan source in use (the board, or what replaced it).
    ScanSourceSwitch scan;
    CSiteData data;
    CSitePlan plan;
    CSiteProjection projection;
    // Paces the recording's readings on the user-interface thread.
    QtTicker collectionTicker;
    SurveySession session;
    Services services;
};

}  // namespace ketrion
