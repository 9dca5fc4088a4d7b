#include "engine/Engine.h"

#include <cstring>

#include "engine/Location.h"
#include "link/FrameFormat.h"
#include "link/OutgoingSlot.h"

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
    return Send(frame::kScanStart);
}

bool CEngine::SetConfiguration(std::uint8_t value) {
    return Send(frame::kConfigure, &value, 1);
}

bool CEngine::SendKeepAlive() {
    return m_link.QueueWrite(kKeepAlive, sizeof kKeepAlive);
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
            break;
        }
        case frame::kConfigure:
        case kAcknowledgeA:
        case kAcknowledgeB:
            break;  // acknowledgements: accepted, nothing to do
        case frame::kScanStart:
            scanning = true;
            break;
        case frame::kScanReport:
            // A report that meets a list being cleared is dropped, never waited for.
            m_list.TryApplyReport(body, length, report);
            break;
        case frame::kScanEnd:
            scanning = false;
            if (onScanEnd) {
                onScanEnd();
            }
            if (notify) {
                notify();
            }
            break;
        case frame::kGpsReport:
            m_location.Decode(body, length);
            if (notify) {
                notify();
            }
            break;
        default:
            break;  // unknown types are ignored
    }
}

}  // namespace ketrion
