#include "source/board/BoardSource.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/Clock.h"
#include "source/board/BoardStack.h"

namespace ketrion {

namespace {

// Average signal of an access point: signalSum / sampleCount, truncated toward zero.
int AverageSignal(const ApRecord& ap) {
    if (ap.sampleCount == 0)
        return ap.signalSum;
    return static_cast<int>(std::int64_t{ap.signalSum} / std::int64_t{ap.sampleCount});
}

// The location record's fix class from the receiver's status byte (bits 7..5):
// code 6 is a 2D fix, code 7 a 3D fix.
source::FixClass FixClassOf(std::uint8_t statusByte) {
    switch (statusByte >> 5) {
        case 6:
            return source::FixClass::Fix2D;
        case 7:
            return source::FixClass::Fix3D;
        default:
            return source::FixClass::None;
    }
}

std::int64_t NowMs(Clock& clock) {
    return clock.NowMs();
}

// The engine's texts until the board has answered the handshake.
constexpr const char* kNoFirmware = "0.00";
constexpr const char* kNoSerialNumber = "XXXXXX";

}  // namespace

BoardSource::BoardSource(BoardStack& board, Clock& clock) : m_board(board), m_clock(clock) {
    m_board.engine.onScanEnd = [this] { OnScanEnd(); };
    m_board.engine.onEvent = [this](const EngineEvent& event) { OnEngineEvent(event); };
}

BoardSource::~BoardSource() {
    // The link thread calls the hooks: it is joined before they go.
    Stop();
    m_board.engine.onScanEnd = nullptr;
    m_board.engine.onEvent = nullptr;
}

void BoardSource::SetPortOpener(PortOpener opener) {
    m_opener = std::move(opener);
}

void BoardSource::Start() {
    if (m_started.exchange(true))
        return;
    m_startupDone = false;
    m_startedMs = NowMs(m_clock);
    // Opening a serial device and reading the device list may take a while:
    // never on the caller's (the user-interface) thread.
    m_startup = std::jthread([this](const std::stop_token& stop) {
        if (m_opener)
            m_opener(m_board.com);
        m_board.list.RemoveAll();
        if (!stop.stop_requested())
            m_board.Start();  // the link thread, then the handshake's Version request
        m_startupDone = true;
    });
}

void BoardSource::Stop() {
    // The start-up thread is joined first: the link thread it may have
    // started is then stopped with the board.
    if (m_startup.joinable()) {
        m_startup.request_stop();
        m_startup.join();
    }
    m_board.Stop();
    m_started = false;
    m_startupDone = false;
    m_awaiting = false;
}

bool BoardSource::Starting() const {
    if (!m_started.load())
        return false;
    if (!m_startupDone.load())
        return true;
    // Without a port there is nothing to wait for; a board that keeps quiet
    // is waited for a bounded time.
    return PortOpen() && !Identified() && NowMs(m_clock) - m_startedMs.load() < kHandshakeWaitMs;
}

bool BoardSource::Identified() const {
    return Firmware() != kNoFirmware && SerialNumber() != kNoSerialNumber;
}

bool BoardSource::PortOpen() const {
    return m_board.com.IsPortOpen();
}

std::string BoardSource::Firmware() const {
    char text[CEngine::kTextSize] = {};
    m_board.engine.GetFirmware(text);
    return text;
}

std::string BoardSource::SerialNumber() const {
    char text[CEngine::kTextSize] = {};
    m_board.engine.GetSerialNumber(text);
    return text;
}

std::string BoardSource::Identity() const {
    return "firmware " + Firmware() + ", serial " + SerialNumber();
}

std::pair<std::string, std::string> BoardSource::IdentityLines() const {
    return {"Firmware " + Firmware(), "SN " + SerialNumber()};
}

source::SourceStatus BoardSource::Status() const {
    source::SourceStatus status;
    if (Starting()) {
        status.state = source::SourceState::Reconnecting;
        return status;
    }
    switch (m_board.engine.linkState.load()) {
        case LinkState::Connected:
            status.state =
                IsScanning() ? source::SourceState::Scanning : source::SourceState::Ready;
            break;
        case LinkState::Lost:
            status.state = source::SourceState::Lost;
            break;
        case LinkState::Reconnecting:
            status.state = source::SourceState::Reconnecting;
            break;
    }
    if (status.state == source::SourceState::Lost ||
        status.state == source::SourceState::Reconnecting) {
        // Why a reopening failed (permission denied, device busy) says more
        // than how the port was lost.
        status.reason = m_board.com.PortProblem();
        if (status.reason.empty()) {
            std::lock_guard lock(m_reasonMutex);
            status.reason = m_lostReason;
        }
    }
    return status;
}

std::string BoardSource::Absence() const {
    return PortOpen() ? std::string() : std::string("No board: --port PATH or --simulate");
}

bool BoardSource::IsScanning() const {
    return m_awaiting.load() || m_board.engine.IsScanning();
}

void BoardSource::BeginReading() {
    // Waits for a report being applied; the end-of-scan walk holds the same
    // mutex, so the two never overlap.
    m_board.list.RemoveAll();
}

bool BoardSource::RequestScan() {
    if (m_board.engine.linkState.load() != LinkState::Connected)
        return false;  // the watchdog only times requests on a live link
    if (Starting())
        return false;  // it would take the handshake's place in the slot
    m_requestedMs = NowMs(m_clock);
    m_awaiting = true;
    if (m_board.engine.RequestScan())
        return true;
    m_awaiting = false;
    return false;
}

void BoardSource::OnScanEnd() {
    source::ScanResult result;
    result.startedMs = m_requestedMs.load();
    result.endedMs = NowMs(m_clock);
    {
        LinkList& list = m_board.list;
        std::lock_guard lock(list.listMutex);
        result.readings.reserve(static_cast<std::size_t>(std::max(list.Size(), 0)));
        LinkList::Node* node = nullptr;
        for (int rc = list.GetAt(1, node); rc == 0; rc = list.GetNext(node)) {
            source::Reading reading;
            const int average = AverageSignal(*node);
            // The file holds 1/256 dBm in 16 bits: values beyond it saturate
            // rather than wrap into a wrong signal.
            reading.signal256 = static_cast<std::int16_t>(
                std::clamp(average * 256, int{std::numeric_limits<std::int16_t>::min()},
                           int{std::numeric_limits<std::int16_t>::max()}));
            reading.dbm = average;
            reading.attribute = node->attribute;
            std::memcpy(reading.mac.data(), node->mac, reading.mac.size());
            // The name field as the board filled it (31 bytes and the terminator).
            reading.name.assign(node->ssid, sizeof node->ssid - 1);
            result.readings.push_back(std::move(reading));
        }
    }
    if (onScan)
        onScan(result);
    // Recorded: a new reading may begin (the engine clears its own flag next).
    m_awaiting = false;
}

void BoardSource::OnEngineEvent(const source::SourceEvent& event) {
    if (event.kind == source::SourceEventKind::LinkLost) {
        std::lock_guard lock(m_reasonMutex);
        m_lostReason = event.reason;
    }
    // Nothing of the scan asked for will be recorded.
    if (event.kind == source::SourceEventKind::LinkLost ||
        event.kind == source::SourceEventKind::LinkRestored ||
        event.kind == source::SourceEventKind::ScanAbandoned)
        m_awaiting = false;
    if (onEvent)
        onEvent(event);
}

BoardPosition::BoardPosition(BoardStack& board, Clock& clock) : m_board(board), m_clock(clock) {}

source::SourceStatus BoardPosition::Status() const {
    source::SourceStatus status;
    const LocationSnapshot s = m_board.location.Snapshot();
    status.state = s.reports == 0 ? source::SourceState::Reconnecting : source::SourceState::Ready;
    return status;
}

LocationSnapshot BoardPosition::Snapshot() const {
    return m_board.location.Snapshot();
}

std::string BoardPosition::FixName() const {
    const LocationSnapshot s = Snapshot();
    return s.reports == 0 ? std::string() : std::string(CLocation::FixName(s.fixStatus));
}

double BoardPosition::FixAgeSeconds(std::int64_t) const {
    const LocationSnapshot s = Snapshot();
    return s.reports == 0 ? -1.0 : s.ageSeconds;
}

std::string BoardPosition::StatusLine() const {
    char text[CLocation::kStatusLineSize * 2] = {};
    CLocation::FormatStatusLine(Snapshot(), text, sizeof text);
    return text;
}

source::Fix BoardPosition::Current() const {
    const LocationSnapshot gps = m_board.location.Snapshot();
    source::Fix fix;
    fix.latitudeUnits = gps.RawInt32(gps::kFilteredLatitude);
    fix.longitudeUnits = gps.RawInt32(gps::kFilteredLongitude);
    fix.latitude = gps.latitude;
    fix.longitude = gps.longitude;
    fix.month = static_cast<std::uint8_t>(gps.month);
    fix.day = static_cast<std::uint8_t>(gps.day);
    fix.year = gps.year;
    fix.hour = static_cast<std::uint8_t>(gps.hour);
    fix.minute = static_cast<std::uint8_t>(gps.minute);
    fix.second = static_cast<std::uint8_t>(gps.second);
    std::memcpy(fix.secondFraction, gps.secondFraction, sizeof fix.secondFraction);
    fix.heightRaw = gps.RawInt32(gps::kEllipsoidHeight);
    fix.speed3D = gps.speed3D;
    fix.speed2D = gps.speed2D;
    fix.heading = gps.heading;
    fix.fixClass = FixClassOf(gps.statusByte);
    fix.valid = fix.fixClass != source::FixClass::None;
    if (gps.reports > 0 && gps.ageSeconds >= 0) {
        // The location keeps the report's age on the same clock.
        fix.receivedMs = m_clock.NowMs() - static_cast<std::int64_t>(gps.ageSeconds * 1000.0);
    }
    return fix;
}

}  // namespace ketrion
