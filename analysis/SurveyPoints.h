#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ketrion {
class CSiteProjection;
}

namespace ketrion::analysis {

// One reading of a survey point: an access point heard there.
struct Reading {
    std::array<std::uint8_t, 6> mac{};  // as the receiver reports it
    std::string ssid;
    int signal = 0;  // whole dBm (stored 1/256 dBm truncated toward zero)
};

// A survey point placed on the plan exactly as loading the collection file in
// the program places it, with its readings and GPS time.
struct SurveyPoint {
    int x = 0;  // plan pixels
    int y = 0;
    int strongest = -100;        // strongest reading in dBm, never below -100 (the disc colour)
    std::int32_t latitude = 0;   // 1/3,600,000 degree, as stored
    std::int32_t longitude = 0;  // 1/3,600,000 degree, as stored
    bool hasTime = false;        // the record carries a valid UTC date and time
    std::int64_t time = 0;       // seconds since 1970-01-01 UTC when hasTime
    std::int64_t offset = 0;     // file offset of the location record
    std::vector<Reading> readings;
};

// A dynamic access point the surveyor placed: drawn on the plan, never
// interpolated.
struct DynamicAp {
    int x = 0;
    int y = 0;
};

// Everything the analysis needs from one collection file.
struct Survey {
    std::vector<SurveyPoint> points;  // file order
    std::vector<DynamicAp> dynamicAps;
    // Why the walk ended before the end of the file (a cut or damaged tail);
    // empty when the whole file was read. The points before it are kept.
    std::string problem;
};

// Loads the collection file at `path` with the program's own loader, placing
// every point through `projection`, and attaches each survey point's readings.
// Returns false with a message in `error` when the file cannot be opened or is
// not a collection file.
bool LoadSurvey(const std::string& path, const CSiteProjection& projection, Survey& out,
                std::string& error);

// Seconds since 1970 of a UTC date and time; false when a field is out of range.
bool UtcSeconds(int year, int month, int day, int hour, int minute, int second, std::int64_t& out);

}  // namespace ketrion::analysis
