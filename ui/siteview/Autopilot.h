#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/EngineEvent.h"
#include "ui/siteview/AutopilotRoute.h"
#include "ui/siteview/Dialogs.h"

namespace ketrion {

class CMainFrame;
class CSiteView;
struct Services;

// What an unattended survey does.
struct AutopilotSettings {
    std::string projection;  // projection file to load; empty keeps the blank plan
    std::string collection;  // collection file to add to, or to create when there is none
    int readings = 5;        // survey points to record
    std::string snapshot;    // JPEG to save at the end; empty for none
    // The board is given up when no survey point arrives for this long after
    // record is pressed (or after the previous point).
    std::chrono::milliseconds noPointTimeout{std::chrono::seconds(30)};
    // Pause between two button presses, so a watcher can follow on screen.
    std::chrono::milliseconds stepDelay{300};
    // Ends the application's event loop with the exit code when done (the
    // program); off when the caller waits for finished() itself (tests).
    bool exitApplication = true;
    // Stop and go: one reading at each plan position, in order; the run ends
    // when the last one's point is written.
    std::vector<std::pair<double, double>> stops;
    // A continuous walk: its clicks; the run ends when the last segment is written.
    std::vector<WalkClickAt> walk;
    // A recording replayed as the scan source: the run ends with it.
    bool untilSourceEnds = false;
};

// Runs a whole survey without a person: presses the frame's buttons in the
// order a surveyor would (first tap, load projection, open the collection
// file or create it when there is none, record, stop, snapshot), answering every dialog itself, and
// waits for the readings to come through the real timer, engine and link thread. Prints "recorded N
// points to FILE" on success; a failure is printed on standard error. Ends the event loop with the
// exit code (0 on success). The link's news is printed on standard error as it comes, one line
// each: "link lost: REASON", "link restored", "scan abandoned: REASON". An abandoned scan does not
// end the run: the next reading is asked for as usual, and the wait for a point starts afresh from
// it.
class CAutopilot : public QObject {
    Q_OBJECT
public:
    // Poll period while waiting for survey points.
    static constexpr int kPollMs = 50;
    // Abandoned scans in a row (no point between them) that end the run: a
    // board that loses a scan now and then is surveyed on; one that never
    // finishes a scan (about 20 s each) is given up after a few minutes' tries.
    static constexpr int kMaxAbandonedInRow = 8;

    CAutopilot(Services& services, AutopilotSettings settings, QObject* parent = nullptr);
    ~CAutopilot() override;

    // Starts once the event loop runs, on the application's main frame (found
    // among the top-level windows) or on `frame` when given.
    void Start(CMainFrame* frame = nullptr);

    // 0 after success, 1 after a failure, -1 while running.
    int ExitCode() const { return m_exitCode; }
    // The text of the failure, empty otherwise.
    const std::string& Failure() const { return m_failure; }
    // Survey points recorded in this run.
    std::size_t Recorded() const;

    // A stop signal (SIGINT, SIGTERM, SIGHUP) arrived during the run: stops
    // recording, says how many points were recorded, and ends the run with
    // exit code 128 + the signal's number (as a shell reports a killed job).
    void Interrupt(int signalNumber);
    // Prints the line for one engine event (and notes a restored link as
    // progress, so the no-point timeout counts from the board's return).
    void OnEngineEvent(const EngineEvent& event);

signals:
    void finished(int exitCode);

private:
    enum class Step { FirstTap, Projection, Collection, Record, Waiting, Stop, Snapshot, Done };

    void Next();
    void RunStep();
    void Poll();
    // Stop and go: stands at the next stop once the last reading is in.
    void PollStops();
    // A walk: schedules its clicks from now.
    void StartWalk();
    // Why a stop or walk click cannot be placed (outside the plan image,
    // named), or empty.
    std::string OutsidePlan() const;
    void Fail(const std::string& text);
    void Succeed();
    void Finish();
    bool CheckNoMessages(const char* what);
    // True (and the run ended) when a scan source other than the board can
    // give no more points: an adapter that could not be opened before any
    // point, a recording that cannot be read, or one that has ended (the
    // run's end when it replays a recording to its end).
    bool SourceEnded();
    // Once a recording has ended with fewer points than asked for, the run
    // fails at once instead of waiting for points that cannot come.
    bool RecordingEndedShort();
    // False (and the run failed) once the collection file reported a failure.
    bool CheckFile(const char* what);
    CSiteView* SiteView() const;
    // Listens to the frame's engine events (once).
    void Listen();

    Services& m_services;
    AutopilotSettings m_settings;
    ScriptedDialogs m_dialogs;
    QPointer<CMainFrame> m_frame;
    Step m_step = Step::FirstTap;
    QTimer m_stepTimer;
    QTimer m_pollTimer;
    std::size_t m_pointsAtStart = 0;
    std::size_t m_lastCount = 0;
    std::chrono::steady_clock::time_point m_lastProgress;
    int m_exitCode = -1;
    std::string m_failure;
    bool m_listening = false;
    std::uint64_t m_fileFailures = 0;  // the survey's file failures when the run chose its file
    int m_abandonedInRow = 0;          // scans abandoned since the last point
    std::size_t m_nextStop = 0;        // stop and go: the next stop to stand at
    std::size_t m_clicksDone = 0;      // walk: clicks made so far
};

}  // namespace ketrion
