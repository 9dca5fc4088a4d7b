#include "app/Process.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <functional>

#include "app/NamedFile.h"
#include "app/SourceChoice.h"
#include "app/StopSignals.h"
#include "link/Com.h"
#include "link/PortSearch.h"
#include "source/gpsd/GpsdEndpoint.h"
#include "survey/RegularFile.h"
#include "ui/shell/QtSound.h"
#include "ui/siteview/Autopilot.h"

namespace ketrion {

namespace {

// How often --screenshot looks for the board's answers.
constexpr int kHandshakePollMs = 100;

// The scenario name that means the built-in sample site.
constexpr const char* kSampleScenario = "sample";
// Points an autopilot run over a replayed recording may record: its end, not
// a count, ends the run.
constexpr int kReplayReadingsLimit = 1'000'000;
// Source events kept from before the main frame exists: a start-up's worth
// (a source that cannot open says so once; one that comes and goes, a few
// times), never an unbounded queue.
constexpr std::size_t kMaxEarlyEvents = 64;
// Collection file of an autopilot run that names none (working folder).
constexpr const char* kAutopilotCollection = "ketrion-autopilot.ktd";
// Largest scenario file taken: far beyond any site description.
constexpr std::size_t kMaxScenarioBytes = 4 * 1024 * 1024;

}  // namespace

Process::Process(int& argc, char** argv, Options options)
    : m_options(std::move(options)),
      m_ownClock(std::make_unique<SystemClock>()),
      m_clock(*m_ownClock),
      board(m_clock),
      app(std::make_unique<CKetrionApp>(argc, argv)),
      sound(std::make_unique<QtSound>()),
      boardScan(board, m_clock),
      boardPosition(board, m_clock),
      otherScan(MakeScanSource(m_options, m_clock)),
      otherPosition(MakePositionSource(m_options, m_clock)),
      scan(otherScan ? *otherScan : static_cast<source::ScanSource&>(boardScan)),
      data(prompt, *sound, m_clock),
      projection(prompt, *sound),
      session(Scan(), Position(), data, projection, *sound, m_clock, &collectionTicker),
      services{session, Scan(), Position(), data, plan, projection, *sound, prompt, draw, m_clock} {
    Wire();
}

Process::Process(Options options, Clock& clock)
    : m_options(std::move(options)),
      m_clock(clock),
      board(m_clock),
      sound(std::make_unique<NullSound>()),
      boardScan(board, m_clock),
      boardPosition(board, m_clock),
      otherScan(MakeScanSource(m_options, m_clock)),
      otherPosition(MakePositionSource(m_options, m_clock)),
      scan(otherScan ? *otherScan : static_cast<source::ScanSource&>(boardScan)),
      data(prompt, *sound, m_clock),
      projection(prompt, *sound),
      session(Scan(), Position(), data, projection, *sound, m_clock, &collectionTicker),
      services{session, Scan(), Position(), data, plan, projection, *sound, prompt, draw, m_clock} {
    Wire();
}

Process::~Process() {
    // The frame and its views go before the session they follow (the app is
    // built first, so it would otherwise go last).
    m_pilot.reset();
    if (app) {
        app->ExitInstance();
    }
    // Normally the frame has stopped the sources already; this covers a run
    // that ended before the frame existed, and a board that was replaced.
    session.StopSources();
    boardScan.Stop();
}

void Process::Wire() {
    session.SetIncludeNoFix(m_options.includeNoFix);
    // Unattended runs must never wait for someone to press OK: the messages
    // go to standard error instead.
    if (!m_options.screenshot.empty() || m_options.autopilot) {
        prompt.SetRecorder(
            [](const std::string& text) { std::fprintf(stderr, "ketrion: %s\n", text.c_str()); });
    }
    // The sources' news goes to the main frame once it exists; the frame
    // stops the sources before it goes. (The session turns a finished scan
    // into a survey point; the board's stack times GPS reports by the same
    // clock as everything else.)
    const auto post = [this](const EngineEvent& event) {
        std::lock_guard lock(m_eventMutex);
        if (CMainFrame* frame = m_eventFrame.load()) {
            frame->PostEngineEvent(event);
        } else if (m_earlyEvents.size() < kMaxEarlyEvents) {
            m_earlyEvents.push_back(event);
        }
    };
    scan.onEvent = post;
    if (otherPosition) {
        otherPosition->onEvent = post;
    }
    boardScan.SetPortOpener([this](CCom& com) { OpenBoardPort(com); });
    m_askNoBoard = AskWithoutBoard;
}

bool Process::Prepare(std::string* error) {
    // The autopilot's stops or walk: read before anything starts, so a bad
    // file ends the run at once with what is wrong.
    for (const auto& [path, walk] : {std::pair{m_options.stops, false}, {m_options.walk, true}}) {
        if (path.empty()) {
            continue;
        }
        std::string text;
        if (!ReadNamedFile(path, walk ? "walk file" : "stops file", kMaxScenarioBytes, text,
                           error)) {
            return false;
        }
        std::string message;
        const bool parsed =
            walk ? ParseWalk(text, m_walk, message) : ParseStops(text, m_stops, message);
        if (!parsed) {
            *error = path + ": " + message;
            return false;
        }
    }
    if (m_options.gpsd) {
        std::string message;
        if (!source::ParseGpsdEndpoint(m_options.gpsdEndpoint, message)) {
            *error = "--gpsd: " + message;
            return false;
        }
    }
    if (!m_options.registryFile.empty()) {
        std::string message;
        std::string text;
        if (!ReadNamedFile(m_options.registryFile, "registry file", Registry::kMaxFileBytes, text,
                           error)) {
            return false;
        }
        registry = Registry::FromText(text, &message, m_options.registryFile);
        if (!registry) {
            *error = message;
            return false;
        }
    }
    if (m_options.simulate) {
        sim::Scenario scenario = sim::DefaultScenario();
        if (!m_options.scenario.empty() && m_options.scenario != kSampleScenario) {
            std::string text;
            if (!ReadNamedFile(m_options.scenario, "scenario file", kMaxScenarioBytes, text,
                               error)) {
                return false;
            }
            std::string message;
            if (!sim::ParseScenario(text, scenario, &message)) {
                *error = m_options.scenario + ": " + message;
                return false;
            }
        }
        if (!StartSimulator(std::move(scenario), error)) {
            return false;
        }
    }
    return true;
}

bool Process::StartSimulator(sim::Scenario scenario, std::string* error) {
    simulator = std::make_unique<BoardSimulator>(std::move(scenario), m_options.simulatedLevel);
    std::string message;
    if (!simulator->Start(&message)) {
        simulator.reset();
        *error = "cannot start the simulated board: " + message;
        return false;
    }
    return true;
}

std::string Process::SimulatorPath() const {
    return simulator ? simulator->Path() : std::string();
}

bool Process::MayAskWithoutBoard() const {
    // Nobody need be at the screen of an unattended run; the handheld size
    // keeps its two messages.
    return Layout() == FrameLayout::Desktop && m_options.screenshot.empty() && !m_options.autopilot;
}

void Process::OpenBoardPort(CCom& com) {
    // A start that can ask how to go on keeps the search's messages for the
    // no-board window; every other start shows them as the handheld did.
    const bool mayAsk = MayAskWithoutBoard();
    m_searchMessages.Clear();
    Prompt& say = mayAsk ? static_cast<Prompt&>(m_searchMessages) : prompt;
    std::optional<Registry> udev;
    const auto devices = [&]() -> const Registry& {
        if (registry) {
            return *registry;
        }
        if (!udev) {
            udev = Registry::FromUdev();
        }
        return *udev;
    };
    if (simulator) {
        com.OpenPath(simulator->Path(), say);
    } else if (!m_chosenPort.empty() || !m_options.port.empty()) {
        com.OpenPath(m_chosenPort.empty() ? m_options.port : m_chosenPort, say);
    } else {
        com.Open(devices(), say);
    }
    if (com.IsPortOpen()) {
        return;
    }
    // The handheld's message says only that it failed; say what to do.
    if (!simulator) {
        std::fprintf(stderr, "ketrion: %s\n", kNoBoardHint);
    }
    if (mayAsk) {
        QStringList ports;
        for (const std::string& path : SerialDevices(devices())) {
            ports << QString::fromStdString(path);
        }
        std::lock_guard lock(m_portsMutex);
        m_portsSeen = ports;
    }
}

bool Process::HandshakeDone() const {
    if (!UsesBoard()) {
        return scan.Status().state != source::SourceState::Reconnecting;
    }
    return boardScan.Identified();
}

bool Process::SaveScreenshot(CMainFrame& frame) {
    const QString path = QString::fromStdString(m_options.screenshot);
    // Written through the guarded open, so a named pipe or a device at the
    // path is refused instead of waited on; the name's suffix picks the format.
    files::OpenFailure failure;
    const int fd =
        files::OpenRegular(m_options.screenshot, O_WRONLY | O_CREAT | O_TRUNC, 0666, failure);
    QFile file;
    if (fd >= 0 && !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
    }
    const QByteArray suffix = QFileInfo(path).suffix().toLatin1();
    if (!file.isOpen() ||
        !frame.grab().save(&file, suffix.isEmpty() ? "PNG" : suffix.constData()) || !file.flush()) {
        std::fprintf(stderr, "ketrion: cannot save the screenshot to %s\n",
                     path.toLocal8Bit().constData());
        return false;
    }
    std::fprintf(stderr, "ketrion: screenshot of the window saved to %s\n",
                 QFileInfo(path).absoluteFilePath().toLocal8Bit().constData());
    return true;
}

void Process::ScreenshotWhenReady(CMainFrame& frame) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(m_options.handshakeTimeout);
    auto* poll = new QTimer(&frame);
    poll->setInterval(kHandshakePollMs);
    QObject::connect(poll, &QTimer::timeout, &frame, [this, &frame, poll, deadline] {
        const bool ready = HandshakeDone();
        if (!ready && std::chrono::steady_clock::now() < deadline) {
            return;
        }
        poll->stop();
        if (!ready) {
            std::fprintf(stderr, "ketrion: the board did not answer within %d s\n",
                         m_options.handshakeTimeout);
            m_screenshotFailed = true;
        }
        if (!SaveScreenshot(frame)) {
            m_screenshotFailed = true;
        }
        frame.CloseWithoutAsking();
    });
    poll->start();
}

FrameLayout Process::Layout() const {
    return m_options.HandheldLayout() ? FrameLayout::Handheld : FrameLayout::Desktop;
}

QSettings* Process::Settings() {
    if (Layout() != FrameLayout::Desktop || !m_options.screenshot.empty()) {
        return nullptr;
    }
    if (!m_settings) {
        // ~/.config/ketrion/ketrion.ini ($XDG_CONFIG_HOME when set).
        m_settings =
            std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                        QStringLiteral("ketrion"), QStringLiteral("ketrion"));
    }
    return m_settings.get();
}

void Process::OpenStartFiles(CMainFrame& frame) {
    if (!m_options.projection.empty()) {
        frame.OpenProjectionFile(QFile::decodeName(m_options.projection.c_str()));
    }
    if (!m_options.collection.empty()) {
        frame.OpenCollectionFile(QFile::decodeName(m_options.collection.c_str()));
    }
}

AutopilotSettings Process::AutopilotFromOptions() const {
    AutopilotSettings settings;
    settings.projection = m_options.projection;
    settings.collection =
        m_options.collection.empty() ? std::string(kAutopilotCollection) : m_options.collection;
    if (m_options.readings > 0) {
        settings.readings = m_options.readings;
    }
    settings.snapshot = m_options.snapshot;
    settings.stops = m_stops;
    settings.walk = m_walk;
    // A replayed recording gives one point per scan, to its end.
    settings.untilSourceEnds = !m_options.wifiReplay.empty() && m_options.readings == 0 &&
                               m_stops.empty() && m_walk.empty();
    if (settings.untilSourceEnds) {
        settings.readings = kReplayReadingsLimit;
    }
    return settings;
}

void Process::AttachFrame(CMainFrame* frame) {
    {
        std::lock_guard lock(m_eventMutex);
        m_eventFrame = frame;
        if (frame != nullptr) {
            for (const EngineEvent& event : m_earlyEvents) {
                frame->PostEngineEvent(event);
            }
        }
        m_earlyEvents.clear();
    }
    if (frame != nullptr) {
        QObject::connect(frame, &CMainFrame::startupSettled, frame,
                         [this, frame] { OnStartupSettled(*frame); });
    }
}

void Process::KeptMessages::Message(std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_texts.emplace_back(text);
}

std::vector<std::string> Process::KeptMessages::Texts() const {
    std::lock_guard lock(m_mutex);
    return m_texts;
}

void Process::KeptMessages::Clear() {
    std::lock_guard lock(m_mutex);
    m_texts.clear();
}

void Process::OnStartupSettled(CMainFrame& frame) {
    if (m_options.autopilot && !m_pilot) {
        // The survey begins once the board has answered (or has not come).
        m_pilot = std::make_unique<CAutopilot>(services, AutopilotFromOptions());
        if (!m_options.screenshot.empty()) {
            // The picture shows the survey as the autopilot leaves it.
            QObject::connect(m_pilot.get(), &CAutopilot::finished, &frame, [this, &frame] {
                if (!SaveScreenshot(frame)) {
                    m_screenshotFailed = true;
                }
            });
        }
        m_pilot->Start(&frame);
        return;
    }
    if (!MayAskWithoutBoard() || !UsesBoard() || boardScan.PortOpen()) {
        return;
    }
    QStringList ports;
    {
        std::lock_guard lock(m_portsMutex);
        ports = m_portsSeen;
    }
    UseNoBoardAnswer(m_askNoBoard(LookedFor(), ports, WifiAdapterPresent(), &frame), frame);
}

QString Process::LookedFor() const {
    QStringList lines;
    for (const std::string& text : m_searchMessages.Texts()) {
        lines << QString::fromStdString(text);
    }
    // Which device, which system error.
    if (const std::string problem = board.com.PortProblem(); !problem.empty()) {
        lines << QString::fromStdString(problem);
    }
    return lines.join(QLatin1Char('\n'));
}

void Process::UseNoBoardAnswer(const NoBoardAnswer& answer, CMainFrame& frame) {
    switch (answer.choice) {
        case NoBoardChoice::ReviewOnly:
            frame.StopSources();  // files only: nothing runs
            return;
        case NoBoardChoice::SerialPort:
            m_chosenPort = answer.port.toStdString();
            break;
        case NoBoardChoice::SimulatedBoard:
            if (!simulator) {
                std::string error;
                if (!StartSimulator(sim::DefaultScenario(), &error)) {
                    prompt.Message(error);
                    return;
                }
            }
            break;
        case NoBoardChoice::WifiAdapter: {
            Options wifi = m_options;
            wifi.wifi = true;
            frame.StopSources();
            otherScan = MakeScanSource(wifi, m_clock);
            scan.Use(*otherScan);
            frame.StartSources();
            return;
        }
    }
    // The board again, on the port chosen: the start-up runs afresh (and
    // asks again should this port fail too).
    frame.StopSources();
    frame.StartSources();
}

int Process::Run() {
    if (!app) {
        return 1;
    }
    StopSignals stopSignals([this](int signalNumber) {
        if (m_pilot && m_pilot->ExitCode() < 0) {
            m_pilot->Interrupt(signalNumber);  // ends the run with its own exit code
            return;
        }
        // A question on the screen (the no-board window) is answered "no".
        if (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
        }
        if (CMainFrame* frame = app->MainFrame()) {
            // Nobody need be at the screen to answer a question.
            frame->CloseWithoutAsking();
        } else {
            QCoreApplication::quit();
        }
    });
    if (!app->InitInstance(services, Layout(), Settings())) {
        return 1;
    }
    CMainFrame& frame = *app->MainFrame();
    AttachFrame(&frame);
    if (!m_options.autopilot) {
        OpenStartFiles(frame);
        if (!m_options.screenshot.empty()) {
            ScreenshotWhenReady(frame);
        }
    }
    const int code = app->Run();
    AttachFrame(nullptr);  // the frame is gone, and the sources' threads with it
    return m_screenshotFailed && code == 0 ? 1 : code;
}

}  // namespace ketrion
