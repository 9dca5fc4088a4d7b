#include "engine/Location.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Clock.h"

namespace ketrion {

namespace {

std::uint16_t BigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::int32_t BigEndian32(const std::uint8_t* p) {
    const std::uint32_t v = (static_cast<std::uint32_t>(p[0]) << 24) |
                            (static_cast<std::uint32_t>(p[1]) << 16) |
                            (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
    return static_cast<std::int32_t>(v);
}

}  // namespace

std::int32_t LocationSnapshot::RawInt32(std::size_t offset) const {
    if (offset + 4 > gps::kReportSize) {
        return 0;
    }
    return BigEndian32(rawReport + offset);
}

std::uint16_t LocationSnapshot::RawUInt16(std::size_t offset) const {
    if (offset + 2 > gps::kReportSize) {
        return 0;
    }
    return BigEndian16(rawReport + offset);
}

void CLocation::Decode(const std::uint8_t* body, std::uint32_t length) {
    // Decode into a local copy first: the lock is held only for the final copy,
    // and a short body reads as zeros past its end, never beyond `length`.
    LocationSnapshot s;
    if (body != nullptr) {
        std::memcpy(s.rawReport, body, length < gps::kReportSize ? length : gps::kReportSize);
    }
    const std::uint8_t* r = s.rawReport;
    s.fixStatus = static_cast<std::uint8_t>(r[gps::kReceiverStatus] >> 5);
    s.month = r[gps::kMonth];
    s.day = r[gps::kDay];
    s.year = BigEndian16(r + gps::kYear);
    s.hour = r[gps::kHour];
    s.minute = r[gps::kMinute];
    s.second = r[gps::kSecond];
    std::memcpy(s.secondFraction, r + gps::kSecondFraction, sizeof s.secondFraction);
    s.latitude = BigEndian32(r + gps::kLatitude) * gps::kDegreesPerUnit;
    s.longitude = BigEndian32(r + gps::kLongitude) * gps::kDegreesPerUnit;
    s.speed3D = BigEndian16(r + gps::kSpeed3D);
    s.speed2D = BigEndian16(r + gps::kSpeed2D);
    s.heading = BigEndian16(r + gps::kHeading);
    s.statusByte = r[gps::kReceiverStatus];

    const std::int64_t arrival = m_clock != nullptr ? m_clock->NowMs() : 0;
    std::lock_guard lock(m_mutex);
    s.reports = m_state.reports + 1;
    m_state = s;
    m_arrivalMs = arrival;
}

LocationSnapshot CLocation::Snapshot() const {
    const std::int64_t now = m_clock != nullptr ? m_clock->NowMs() : 0;
    std::lock_guard lock(m_mutex);
    LocationSnapshot s = m_state;
    if (s.reports == 0) {
        s.ageSeconds = -1.0;
    } else {
        // A clock set back reads as a fresh report rather than a negative age.
        s.ageSeconds = now > m_arrivalMs ? static_cast<double>(now - m_arrivalMs) / 1000.0 : 0.0;
    }
    return s;
}

double CLocation::Latitude() const {
    std::lock_guard lock(m_mutex);
    return m_state.latitude;
}

double CLocation::Longitude() const {
    std::lock_guard lock(m_mutex);
    return m_state.longitude;
}

std::uint8_t CLocation::FixStatus() const {
    std::lock_guard lock(m_mutex);
    return m_state.fixStatus;
}

void CLocation::FormatStatusLine(char* text, std::size_t size) const {
    FormatStatusLine(Snapshot(), text, size);
}

void CLocation::FormatStatusLine(const LocationSnapshot& s, char* text, std::size_t size) {
    if (text == nullptr || size == 0) {
        return;
    }
    // A coordinate of exactly zero reads as north / east.
    std::snprintf(text, size, "%02d/%02d/%04d %02d:%02d:%02d %.4f %c %.4f %c", s.month, s.day,
                  s.year, s.hour, s.minute, s.second, std::fabs(s.latitude),
                  s.latitude < 0 ? 'S' : 'N', std::fabs(s.longitude), s.longitude < 0 ? 'W' : 'E');
}

const char* CLocation::FixName(unsigned code) {
    return code < 8 ? fixNames[code] : fixNames[0];
}

}  // namespace ketrion
