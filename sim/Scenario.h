#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ketrion::sim {

// One access point the simulated board can hear.
struct AccessPoint {
    std::array<std::uint8_t, 6> mac{};
    std::string ssid;  // at most 32 bytes (the board's name field)
    std::uint8_t attribute = 0;
    double lat = 0.0;
    double lon = 0.0;
    double txPower = 20.0;  // dBm
    int level = 0;          // the floor it stands on (0 ground floor)
};

struct Waypoint {
    double lat = 0.0;
    double lon = 0.0;
};

// A fix status code held for `seconds`; the last step (or one with seconds <= 0)
// holds for ever.
struct FixStep {
    int code = 7;
    double seconds = 0.0;
};

// Faults injected into what the board sends. Probabilities are per frame
// (per scan for loseScanEnd).
struct Faults {
    double noise = 0.0;        // a few stray bytes (never 0x11) before a frame
    double badCheck = 0.0;     // the frame's check byte is wrong
    double split = 0.0;        // the frame goes out in 2-3 writes
    int splitDelayMs = 5;      // pause between the pieces of a split frame
    double loseScanEnd = 0.0;  // a scan ends without its ScanEnd frame
    bool silent = false;       // the board sends nothing at all
};

// Everything the simulated board does, as read from a scenario file (JSON).
// Keys (all optional; see resources/sample/site.json):
//   name, firmware, serial, seed, gpsPeriodMs, altitude, startTime
//   scan:      {minMs, maxMs, passes}
//   pathLoss:  {reference, exponent, sigma, floor, shadowing, perFloor}
//              signal = txPower + reference - 10 * exponent * log10(metres)
//                       + shadowing + noise,
//              clamped to [-100, -20] dBm; below floor the AP is not heard;
//              perFloor dB are taken off for each floor slab between the AP
//              and the receiver
//   accessPoints: [{mac "00:1A:2B:3C:4D:5E", ssid, attribute, lat, lon, txPower, level}]
//   track:     {speed, loop, waypoints: [{lat, lon}]}
//   fixes:     [{code 0-7, seconds}]   the last step holds
//   faults:    {noise, badCheck, split, splitDelayMs, loseScanEnd, silent}
struct Scenario {
    std::string name;
    std::string firmware = "2.14";    // Version answer, at most 31 characters
    std::string serial = "KT004217";  // Serial answer, at most 8 characters
    std::uint32_t seed = 1;
    int gpsPeriodMs = 1000;  // 0: no GPS reports
    double altitude = 12.0;  // metres above mean sea level
    int scanMinMs = 500;     // a scan lasts between min and max milliseconds
    int scanMaxMs = 2000;
    int scanPasses = 2;                // ScanReport rounds per scan (each hears every AP once)
    double pathLossReference = -40.0;  // dB added to the transmit power at 1 m
    double pathLossExponent = 3.0;
    double pathLossSigma = 3.0;  // standard deviation of the noise, dB
    int pathLossFloor = -95;     // weaker signals are not reported
    // Log-normal shadowing: the standard deviation (dB) of a loss that walls
    // and furniture add between an access point and each square of
    // kShadowingSquareMetres, the same on every visit (0: none).
    double pathLossShadowing = 0.0;
    double floorLoss = 15.0;  // dB a floor slab takes off a signal
    std::vector<AccessPoint> accessPoints;
    std::vector<Waypoint> waypoints;
    double speed = 1.2;  // m/s along the track
    bool loop = true;    // back to the first waypoint after the last
    std::vector<FixStep> fixes;
    Faults faults;
    // UTC seconds since 1970 of the first GPS report; -1: the wall clock at start.
    std::int64_t startTime = -1;
};

// Parses a scenario from JSON text. Missing keys keep their defaults; wrong types
// and out-of-range values are errors. Returns false with *error set on failure.
bool ParseScenario(const std::string& text, Scenario& out, std::string* error);

// Reads and parses a scenario file. On failure *error is non-empty and the
// returned scenario is DefaultScenario().
Scenario LoadScenario(const std::string& path, std::string* error);

// The sample office floor (resources/sample/site.json, compiled in).
Scenario DefaultScenario();
const char* DefaultScenarioText();

}  // namespace ketrion::sim
