#include "engine/Engine.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Location.h"
#include "protocol/FrameFormat.h"
#include "protocol/OutgoingSlot.h"

namespace ketrion {

namespace {

// Frame types the board sends that carry nothing this program uses.
constexpr std::uint8_t kAcknowledgeA = 0x05;
constexpr std::uint8_t kAcknowledgeB = 0x11;

// The two raw bytes of the keep-alive (not a frame).
constexpr std::uint8_t kKeepAlive[2] = {0x00, 0x00};

// Copies at most `limit` bytes of body[0..length) into `dest`, stopping at a
// zero byte; the rest of `dest` (kTextSize bytes) is zero.
void CopyText(char* dest, const std::uint8_t* body, std::uint32_t length, std::size_t limit) {
    std::memset(dest, 0, CEngine::kTextSize);
    for (std::size_t i = 0; i < limit && i < length && body[i] != 0; ++i) {
        dest[i] = static_cast<char>(body[i]);
    }
}

}  // namespace

CEngine::CEngine(OutgoingSlot& link, LinkList& list, CLocation& location)
    : m_link(link), m_list(list), m_location(location) {}

bool CEngine::Send(std::uint8_t type, const std::uint8_t* payload, std::uint32_t length) {
    std::uint8_t buffer[frame::kMaxOutgoing];
    const std::size_t n = frame::Encode(type, payload, length, 0x00, buffer, sizeof buffer);
    if (n == 0) {
        return false;
    }
    return m_link.QueueWrite(buffer, static_cast<std::uint32_t>(n));
}

bool CEngine::Start() {
    return Send(frame::kVersion);
}

bool CEngine::RequestScan() {
    // Flagged before queueing, so the link thread's pass that writes the
    // request has already armed the watchdog.
    m_scanRequested = true;
    return Send(frame::kScanStart);
}

void CEngine::Raise(EngineEventKind kind, std::string reason) {
    if (onEvent) {
        onEvent(EngineEvent{kind, std::move(reason)});
    }
    const bool alert = kind == EngineEventKind::ScanAbandoned ||
                       kind == EngineEventKind::LinkLost || kind == EngineEventKind::LinkRestored;
    if (alert && notify) {
        notify();
    }
}

void CEngine::Tick(std::int64_t nowMs) {
    if (m_scanRequested.exchange(false) && linkState.load() == LinkState::Connected &&
        m_watchdogDeadline < 0) {
        // Timed from the first request still unanswered: the timer's repeated
        // requests while no ScanStart came do not push the deadline back.
        m_watchdogDeadline = nowMs + kScanWatchdogMs;
    }
    if (m_watchdogDeadline >= 0 && nowMs >= m_watchdogDeadline) {
        DisarmWatchdog();
        scanning = false;
        m_discardingScan = true;
        ++m_scansAbandoned;
        Raise(EngineEventKind::ScanAbandoned,
              "no scan end after " + std::to_string(kScanWatchdogMs / 1000) + " s");
    }
    if (m_handshakeDue >= 0 && nowMs >= m_handshakeDue) {
        m_handshakeDue = nowMs + kHandshakeRetryMs;
        Start();
    }
}

std::int64_t CEngine::NextDeadlineMs() const {
    if (m_watchdogDeadline < 0) {
        return m_handshakeDue;
    }
    if (m_handshakeDue < 0) {
        return m_watchdogDeadline;
    }
    return std::min(m_watchdogDeadline, m_handshakeDue);
}

void CEngine::OnLinkLost(const std::string& reason) {
    linkState = LinkState::Lost;
    // A scan under way, or asked for and not yet started, is cut: whatever of
    // it still arrives must not be recorded.
    const bool pending = m_watchdogDeadline >= 0;
    if (scanning.exchange(false) || pending) {
        m_discardingScan = true;
    }
    DisarmWatchdog();
    m_scanRequested = false;
    m_handshakeDue = -1;
    Raise(EngineEventKind::LinkLost, reason);
}

void CEngine::OnLinkReopened(std::int64_t nowMs) {
    linkState = LinkState::Reconnecting;
    m_handshakeDue = nowMs + kHandshakeRetryMs;
    Start();
}

bool CEngine::SetConfiguration(std::uint8_t value) {
    return Send(frame::kConfigure, &value, 1);
}

bool CEngine::SendKeepAlive() {
    return m_link.QueueKeepAlive(kKeepAlive, sizeof kKeepAlive);
}

void CEngine::GetFirmware(char* dest) const {
    std::lock_guard lock(m_textMutex);
    std::memcpy(dest, m_firmware, kTextSize);
}

void CEngine::GetSerialNumber(char* dest) const {
    std::lock_guard lock(m_textMutex);
    std::memcpy(dest, m_serialNumber, kTextSize);
}

void CEngine::Dispatch(std::uint8_t type, const std::uint8_t* body, std::uint32_t length) {
    if (body == nullptr && length > 0) {
        return;
    }
    if (frame::Check(type, body, length) != 0x00) {
        return;  // wrong check byte (an empty body fails unless the type is 0x00)
    }

    switch (type) {
        case frame::kVersion: {
            // The text runs to its zero byte; without one, through the check
            // byte. Longer texts are cut to fit the field.
            {
                std::lock_guard lock(m_textMutex);
                CopyText(m_firmware, body, length, kTextSize - 1);
            }
            Send(frame::kSerial);
            break;
        }
        case frame::kSerial: {
            // The field is cleared first, so a shorter number leaves nothing of
            // the previous one.
            {
                std::lock_guard lock(m_textMutex);
                CopyText(m_serialNumber, body, length, kSerialChars);
            }
            SetConfiguration(frame::kConfigurationValue);
            if (linkState.load() == LinkState::Reconnecting) {
                // The board answered the handshake on the reopened port.
                m_handshakeDue = -1;
                linkState = LinkState::Connected;
                Raise(EngineEventKind::LinkRestored);
            }
            break;
        }
        case frame::kConfigure:
        case kAcknowledgeA:
        case kAcknowledgeB:
            break;  // acknowledgements: accepted, nothing to do
        case frame::kScanStart:
            m_discardingScan = false;
            scanning = true;
            break;
        case frame::kScanReport:
            if (m_discardingScan) {
                break;  // belongs to an abandoned scan
            }
            // A report that meets a list being cleared is dropped, never waited for.
            m_list.TryApplyReport(body, length, report);
            break;
        case frame::kScanEnd:
            if (m_discardingScan) {
                break;  // the late end of an abandoned scan: no point for it
            }
            DisarmWatchdog();
            // The scan is recorded before it counts as ended: a request seen
            // while the hook reads the list would empty it first.
            if (onScanEnd) {
                onScanEnd();
            }
            scanning = false;
            if (onEvent) {
                onEvent(EngineEvent{EngineEventKind::ScanEnded, {}});
            }
            if (notify) {
                notify();
            }
            break;
        case frame::kGpsReport:
            m_location.Decode(body, length);
            if (onEvent) {
                onEvent(EngineEvent{EngineEventKind::GpsUpdate, {}});
            }
            if (notify) {
                notify();
            }
            break;
        default:
            break;  // unknown types are ignored
    }
}

}  // namespace ketrion
