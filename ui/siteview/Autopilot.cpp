#include "ui/siteview/Autopilot.h"

#include <QApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "session/SurveySession.h"
#include "source/wifi/ReplayScanSource.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Commands.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/Services.h"
#include "ui/siteview/SiteView.h"

namespace ketrion {

CAutopilot::CAutopilot(Services& services, AutopilotSettings settings, QObject* parent)
    : QObject(parent), m_services(services), m_settings(std::move(settings)) {
    m_stepTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &CAutopilot::RunStep);
    m_pollTimer.setInterval(kPollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &CAutopilot::Poll);
    // Messages would wait for someone to press OK: say them on standard error.
    m_dialogs.onMessage = [](const QString& text) {
        std::fprintf(stderr, "ketrion: %s\n", text.toLocal8Bit().constData());
    };
}

CAutopilot::~CAutopilot() = default;

void CAutopilot::Start(CMainFrame* frame) {
    m_frame = frame;
    Listen();
    m_step = Step::FirstTap;
    m_stepTimer.start(0);
}

void CAutopilot::Listen() {
    if (m_listening || !m_frame) {
        return;
    }
    m_listening = true;
    connect(m_frame, &CMainFrame::engineEvent, this, &CAutopilot::OnEngineEvent);
}

void CAutopilot::OnEngineEvent(const EngineEvent& event) {
    switch (event.kind) {
        case EngineEventKind::LinkLost:
            std::fprintf(stderr, "link lost: %s\n", event.reason.c_str());
            // An adapter that is not there at all ends an unattended run at
            // once, with its reason; a recording that ended is the end of it.
            if (m_services.scan.Kind() == "wifi" && Recorded() == 0 && m_exitCode < 0 &&
                m_step >= Step::Projection) {
                Fail("the Wi-Fi adapter cannot scan: " + event.reason);
            }
            break;
        case EngineEventKind::LinkRestored:
            std::fprintf(stderr, "link restored\n");
            m_lastProgress = std::chrono::steady_clock::now();
            break;
        case EngineEventKind::ScanAbandoned:
            std::fprintf(stderr, "scan abandoned: %s\n", event.reason.c_str());
            // The board took the request and the survey goes on with the
            // next reading: the wait for a point starts afresh. Only a board
            // that finishes no scan at all, time after time, ends the run.
            m_lastProgress = std::chrono::steady_clock::now();
            if (++m_abandonedInRow >= kMaxAbandonedInRow && m_step == Step::Waiting) {
                std::fflush(stderr);
                char text[160];
                std::snprintf(text, sizeof text,
                              "%d scans in a row ended without their results (recorded %zu of "
                              "%d); check that the board is powered",
                              m_abandonedInRow, Recorded(), m_settings.readings);
                Fail(text);
                if (CSiteView* view = SiteView()) {
                    view->Commands().StopRecording();
                }
                return;
            }
            break;
        case EngineEventKind::Notice:
            std::fprintf(stderr, "note: %s\n", event.reason.c_str());
            break;
        case EngineEventKind::ScanEnded:
        case EngineEventKind::GpsUpdate:
            return;  // routine: the points themselves tell
    }
    std::fflush(stderr);
}

void CAutopilot::Interrupt(int signalNumber) {
    if (m_exitCode >= 0) {
        return;
    }
    m_stepTimer.stop();
    m_pollTimer.stop();
    if (CSiteView* view = SiteView(); view != nullptr && m_step >= Step::Waiting) {
        view->Commands().StopRecording();  // no reading is asked for after the signal
    }
    const char* name = signalNumber == SIGINT    ? "SIGINT"
                       : signalNumber == SIGTERM ? "SIGTERM"
                       : signalNumber == SIGHUP  ? "SIGHUP"
                                                 : "a signal";
    char text[200];
    std::snprintf(text, sizeof text, "stopped by %s: recorded %zu of %d points to %s", name,
                  Recorded(), m_settings.readings, m_settings.collection.c_str());
    m_failure = text;
    m_exitCode = 128 + (signalNumber > 0 ? signalNumber : 0);
    m_step = Step::Done;
    std::fprintf(stderr, "ketrion: autopilot: %s\n", text);
    std::fflush(stderr);
    Finish();
}

std::size_t CAutopilot::Recorded() const {
    const std::size_t count = m_services.data.PointCount();
    return count >= m_pointsAtStart ? count - m_pointsAtStart : 0;
}

CSiteView* CAutopilot::SiteView() const {
    return m_frame ? qobject_cast<CSiteView*>(m_frame->ActiveView()) : nullptr;
}

void CAutopilot::Next() {
    m_step = static_cast<Step>(static_cast<int>(m_step) + 1);
    m_stepTimer.start(static_cast<int>(m_settings.stepDelay.count()));
}

bool CAutopilot::CheckNoMessages(const char* what) {
    if (m_dialogs.messages.isEmpty()) {
        return true;
    }
    Fail(std::string(what) + ": " + m_dialogs.messages.front().toStdString());
    return false;
}

void CAutopilot::RunStep() {
    if (m_exitCode >= 0) {
        return;
    }
    switch (m_step) {
        case Step::FirstTap: {
            if (!m_frame) {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    if (auto* frame = qobject_cast<CMainFrame*>(widget)) {
                        m_frame = frame;
                        break;
                    }
                }
            }
            if (!m_frame) {
                Fail("no main window to drive");
                return;
            }
            Listen();
            m_frame->SetDialogs(&m_dialogs);
            m_frame->SwitchToView();  // the first tap on the start view
            CSiteView* view = SiteView();
            if (view == nullptr) {
                Fail("the site view did not open");
                return;
            }
            view->SetDialogs(m_dialogs);
            Next();
            return;
        }
        case Step::Projection:
            if (!m_settings.projection.empty()) {
                const QString path =
                    QFileInfo(QString::fromStdString(m_settings.projection)).absoluteFilePath();
                CSiteView* view = SiteView();
                const bool opened = view != nullptr && view->OpenProjectionPath(path);
                if (!CheckNoMessages("cannot load the projection")) {
                    return;
                }
                if (!opened || m_services.projection.ProjectionPath() != path.toStdString()) {
                    Fail("cannot load the projection " + m_settings.projection);
                    return;
                }
            }
            Next();
            return;
        case Step::Collection: {
            if (SourceEnded()) {
                return;  // no file is made for a survey that cannot be taken
            }
            // "Open an existing file?" Yes for a file that is there: the new
            // points are added after its own, as in the window; a survey is
            // never replaced unasked. No: create it with the save dialog.
            const QFileInfo file(QString::fromStdString(m_settings.collection));
            const bool existing = file.exists() || file.isSymLink();
            const char* what =
                existing ? "cannot open the collection file" : "cannot create the collection file";
            m_fileFailures = m_services.data.FileFailures();
            bool opened = false;
            if (CSiteView* view = SiteView()) {
                if (existing) {
                    opened = view->OpenCollectionPath(file.absoluteFilePath());
                } else {
                    view->NewCollectionPath(file.absoluteFilePath());
                }
            }
            // A walk left unplaced is news, not a failure: its readings stay
            // in the side store to be placed in the window, and the run adds
            // its points after the file's.
            if (const std::size_t unplaced = m_services.session.UnplacedScans();
                opened && unplaced > 0 && !m_dialogs.messages.isEmpty()) {
                m_dialogs.messages.removeLast();
                std::fprintf(stderr,
                             "ketrion: note: %zu readings of an unfinished walk in %s are still "
                             "there to place (Survey > Continuous walk); this run adds after "
                             "them\n",
                             unplaced, m_settings.collection.c_str());
                std::fflush(stderr);
            }
            if (!CheckFile(what) || !CheckNoMessages(what) ||
                !QFileInfo::exists(QString::fromStdString(m_settings.collection))) {
                if (m_exitCode < 0) {
                    Fail(std::string(what) + " " + m_settings.collection);
                }
                return;
            }
            if (const std::string refusal = m_services.data.AppendRefusal(); !refusal.empty()) {
                Fail(std::string(what) + ": " + refusal);
                return;
            }
            Next();
            return;
        }
        case Step::Record:
            if (const std::string outside = OutsidePlan(); !outside.empty()) {
                Fail(outside);
                return;
            }
            m_pointsAtStart = m_services.data.PointCount();
            m_lastCount = m_pointsAtStart;
            m_lastProgress = std::chrono::steady_clock::now();
            if (!m_settings.stops.empty()) {
                // One reading at each stop, where the autopilot "clicks".
                m_frame->OnCommand(ID_PLACING_STOP);
                m_settings.readings = static_cast<int>(m_settings.stops.size());
                m_step = Step::Waiting;
                m_pollTimer.start();
                return;
            }
            if (!m_settings.walk.empty()) {
                m_frame->OnCommand(ID_PLACING_WALK);
            }
            m_frame->OnCommand(ID_SCAN_START);
            if (!m_settings.walk.empty()) {
                StartWalk();
            }
            if (!CheckNoMessages("cannot record")) {
                return;
            }
            m_step = Step::Waiting;
            m_pollTimer.start();
            return;
        case Step::Waiting:
            return;  // Poll moves on
        case Step::Stop:
            m_frame->OnCommand(ID_SCAN_STOP);
            Next();
            return;
        case Step::Snapshot:
            if (!m_settings.snapshot.empty()) {
                m_dialogs.fileAnswers.push_back(
                    QFileInfo(QString::fromStdString(m_settings.snapshot)).absoluteFilePath());
                m_frame->OnCommand(ID_SNAPSHOT);
                if (!CheckNoMessages("cannot save the snapshot")) {
                    return;
                }
            }
            Succeed();
            return;
        case Step::Done:
            return;
    }
}

void CAutopilot::Poll() {
    if (m_exitCode >= 0) {
        m_pollTimer.stop();
        return;
    }
    if (!CheckFile("cannot record")) {
        if (CSiteView* view = SiteView()) {
            view->Commands().StopRecording();
        }
        return;
    }
    if (SourceEnded()) {
        return;
    }
    const bool walking = !m_settings.walk.empty();
    if (!m_settings.stops.empty()) {
        PollStops();
    }
    // A walk's scans become points only at its clicks: a scan kept for its
    // segment is progress too.
    const std::size_t count =
        m_services.data.PointCount() + (walking ? m_services.session.ProvisionalCount() : 0);
    const auto now = std::chrono::steady_clock::now();
    if (count != m_lastCount) {
        m_lastCount = count;
        m_lastProgress = now;
        m_abandonedInRow = 0;
    }
    if (!walking && Recorded() >= static_cast<std::size_t>(m_settings.readings)) {
        m_pollTimer.stop();
        m_step = Step::Stop;
        RunStep();  // stop at once, before the timer asks for another reading
        return;
    }
    if (!walking && RecordingEndedShort()) {
        return;
    }
    if (now - m_lastProgress >= m_settings.noPointTimeout) {
        m_pollTimer.stop();
        char text[160];
        std::snprintf(text, sizeof text,
                      "the board did not answer: no survey point recorded in %g s (recorded %zu "
                      "of %d); check the port and that the board is powered",
                      std::chrono::duration<double>(m_settings.noPointTimeout).count(), Recorded(),
                      m_settings.readings);
        Fail(text);
        if (CSiteView* view = SiteView()) {
            view->Commands().StopRecording();
        }
    }
}

bool CAutopilot::SourceEnded() {
    const std::string kind = m_services.scan.Kind();
    const source::SourceStatus status = m_services.scan.Status();
    if (kind == "board" || status.state != source::SourceState::Lost) {
        return false;
    }
    const bool ended = status.reason == source::wifi::ReplayScanSource::kEndOfRecording;
    const bool recording = m_step == Step::Waiting;
    if (kind == "wifi") {
        // An adapter that goes away during the survey comes back by itself;
        // one that was never there ends the run with its reason.
        if (Recorded() > 0) {
            return false;
        }
        Fail("the Wi-Fi adapter cannot scan: " + status.reason);
    } else if (!ended) {
        Fail("cannot replay the recording: " + status.reason);
    } else if (m_settings.untilSourceEnds && recording) {
        // The replay records a scan's point before it says it has ended, so
        // every recorded scan has its point now.
        m_pollTimer.stop();
        m_step = Step::Stop;
        RunStep();
    } else {
        return false;
    }
    if (CSiteView* view = SiteView(); view != nullptr && recording && m_step == Step::Done) {
        view->Commands().StopRecording();
    }
    return true;
}

bool CAutopilot::RecordingEndedShort() {
    const source::SourceStatus status = m_services.scan.Status();
    if (m_services.scan.Kind() == "board" || status.state != source::SourceState::Lost ||
        status.reason != source::wifi::ReplayScanSource::kEndOfRecording ||
        m_services.scan.IsScanning()) {
        return false;
    }
    char text[160];
    std::snprintf(text, sizeof text, "the recording ended: recorded %zu of %d points", Recorded(),
                  m_settings.readings);
    Fail(text);
    if (CSiteView* view = SiteView()) {
        view->Commands().StopRecording();
    }
    return true;
}

bool CAutopilot::CheckFile(const char* what) {
    // A collection file that cannot be created, opened or written ends the run
    // at once with its own message: waiting would only blame the board.
    if (m_services.data.FileFailures() == m_fileFailures) {
        return true;
    }
    Fail(std::string(what) + ": " + m_services.data.LastFileFailure());
    return false;
}

void CAutopilot::Finish() {
    emit finished(m_exitCode);
    if (m_settings.exitApplication) {
        QCoreApplication::exit(m_exitCode);
    }
}

void CAutopilot::Fail(const std::string& text) {
    m_failure = text;
    m_exitCode = 1;
    m_step = Step::Done;
    m_pollTimer.stop();
    std::fprintf(stderr, "ketrion: autopilot: %s\n", text.c_str());
    std::fflush(stderr);
    Finish();
}

void CAutopilot::Succeed() {
    m_exitCode = 0;
    m_step = Step::Done;
    std::printf("recorded %zu points to %s\n", Recorded(), m_settings.collection.c_str());
    std::fflush(stdout);
    Finish();
}

void CAutopilot::PollStops() {
    // The next stop once the point of the last one is in and the source is free.
    if (m_nextStop >= m_settings.stops.size() || Recorded() < m_nextStop ||
        !m_services.session.CanTakeReading()) {
        return;
    }
    const auto& [x, y] = m_settings.stops[m_nextStop];
    if (m_services.session.StandAt(x, y)) {
        std::fprintf(stderr, "stop %zu at %g, %g\n", m_nextStop + 1, x, y);
        std::fflush(stderr);
        ++m_nextStop;
    }
}

std::string CAutopilot::OutsidePlan() const {
    CSiteView* view = SiteView();
    if (view == nullptr) {
        return {};
    }
    return RouteOutsidePlan(view->PlanImage().size(), m_settings.stops, m_settings.walk);
}

void CAutopilot::StartWalk() {
    for (std::size_t i = 0; i < m_settings.walk.size(); ++i) {
        const WalkClickAt click = m_settings.walk[i];
        const int delay = static_cast<int>(std::lround(std::max(click.seconds, 0.0) * 1000.0));
        QTimer::singleShot(delay, this, [this, click, i] {
            if (m_exitCode >= 0) {
                return;
            }
            const int placed = m_services.session.WalkClick(click.x, click.y);
            std::fprintf(stderr, "walk click %zu at %g, %g: %d readings placed\n", i + 1, click.x,
                         click.y, placed);
            std::fflush(stderr);
            if (++m_clicksDone == m_settings.walk.size()) {
                m_pollTimer.stop();
                m_step = Step::Stop;
                RunStep();  // the last segment is written
            }
        });
    }
}

}  // namespace ketrion
