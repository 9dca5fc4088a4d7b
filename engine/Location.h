#pragma once

#include "model/Fix.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace ketrion {

class Clock;

// Field offsets in a GpsReport body (152 bytes; multi-byte values big-endian).
namespace gps {
inline constexpr std::size_t kReportSize = 152;
inline constexpr std::size_t kMonth = 4;
inline constexpr std::size_t kDay = 5;
inline constexpr std::size_t kYear = 6;  // uint16
inline constexpr std::size_t kHour = 8;
inline constexpr std::size_t kMinute = 9;
inline constexpr std::size_t kSecond = 10;
inline constexpr std::size_t kSecondFraction = 11;     // 4 raw bytes
inline constexpr std::size_t kFilteredLatitude = 15;   // int32, 1/3,600,000 degree
inline constexpr std::size_t kFilteredLongitude = 19;  // int32
inline constexpr std::size_t kEllipsoidHeight = 23;    // int32
inline constexpr std::size_t kMslHeight = 27;          // int32
inline constexpr std::size_t kLatitude = 31;           // int32, unfiltered: the current position
inline constexpr std::size_t kLongitude = 35;          // int32
inline constexpr std::size_t kSpeed3D = 47;            // uint16
inline constexpr std::size_t kSpeed2D = 49;            // uint16
inline constexpr std::size_t kHeading = 51;            // uint16
inline constexpr std::size_t kVisible = 55;
inline constexpr std::size_t kTracked = 56;
inline constexpr std::size_t kReceiverStatus = 129;  // bits 7-5: fix status code
// Degrees per unit of the raw latitude/longitude (1 / 3,600,000).
inline constexpr double kDegreesPerUnit = 1.0 / 3600000.0;
// A position older than this (no GpsReport since) is shown as old, not current:
// the receiver reports at 1 Hz, so five missed reports mean it has stopped.
inline constexpr double kGpsStaleSeconds = 5.0;

// Degrees as the stored unit (one conversion for the whole program).
using source::UnitsFromDegrees;
}  // namespace gps

// Everything CLocation keeps about the last GpsReport, as one value. Readers on
// either thread take a copy with CLocation::Snapshot(), so all fields come
// from the same report.
struct LocationSnapshot {
    std::uint8_t rawReport[gps::kReportSize] = {};  // body of the last report
    std::uint8_t fixStatus = 0;                     // 0-7; 7 is "3D Fix"
    std::uint16_t month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    std::uint8_t secondFraction[4] = {};  // body bytes 11-14 as received
    std::uint16_t speed3D = 0, speed2D = 0, heading = 0;
    std::uint8_t statusByte = 0;  // body byte 129 as received
    double latitude = 0.0;        // degrees, north positive (from offset 31)
    double longitude = 0.0;       // degrees, east positive (from offset 35)
    std::uint64_t reports = 0;    // number of reports decoded so far (0: none yet)
    double ageSeconds = -1.0;     // seconds since this report arrived (negative: none yet)

    // Raw big-endian values of rawReport, e.g. RawInt32(gps::kFilteredLatitude).
    std::int32_t RawInt32(std::size_t offset) const;
    std::uint16_t RawUInt16(std::size_t offset) const;
};

// The last GPS report, raw and decoded, and the location text of the site view.
// Decode runs on the link thread; readers run on both threads. A small mutex
// guards the state, so every reader sees whole values of one report.
class CLocation {
public:
    static constexpr std::size_t kStatusLineSize = 64;  // callers' buffers hold at least this

    CLocation() = default;
    CLocation(const CLocation&) = delete;
    CLocation& operator=(const CLocation&) = delete;

    // The clock that times the reports, for the snapshot's age. Set before the
    // link thread starts. Without one a report reads as just arrived.
    void SetClock(Clock* clock) { m_clock = clock; }

    // Decodes one GpsReport body (`length` bytes, check byte included). A short
    // body reads as if zeros followed it; nothing past `length` is read.
    void Decode(const std::uint8_t* body, std::uint32_t length);

    // Copy of the whole state from one report, with its age filled in.
    LocationSnapshot Snapshot() const;

    // Convenience readers (each takes the lock once).
    double Latitude() const;
    double Longitude() const;
    std::uint8_t FixStatus() const;

    // Writes "MM/DD/YYYY hh:mm:ss LAT.dddd N LON.dddd E" into `text` (size
    // bytes, at least kStatusLineSize for the full text; always zero-terminated
    // when size > 0).
    void FormatStatusLine(char* text, std::size_t size) const;
    static void FormatStatusLine(const LocationSnapshot& s, char* text, std::size_t size);

    // Name of a fix status code (0-7; others read "Reserved").
    static const char* FixName(unsigned code);

    // Name tables, indexed by code.
    static constexpr const char* compassNames[20] = {
        "N",  "NNE", "NE", "ENE", "E",  "ESE", "SE", "SSE", "S", "SSW",
        "SW", "WSW", "W",  "WNW", "NW", "NNW", "N",  "",    "",  ""};
    static constexpr const char* fixNames[8] = {
        "Reserved",      "Reserved",       "Bad Geometry", "Acquiring Satellites",
        "Position Hold", "Propogate Mode", "2D Fix",       "3D Fix"};
    static constexpr const char* antennaNames[4] = {"OK", "Overcurrent", "Undercurrent", "NV"};

private:
    mutable std::mutex m_mutex;
    LocationSnapshot m_state;
    Clock* m_clock = nullptr;
    std::int64_t m_arrivalMs = 0;  // clock time of the last report
};

}  // namespace ketrion
