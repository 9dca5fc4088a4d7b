#pragma once

// Simulated surveys of walks that pass beside access points, not under them,
// for measuring how well access points are placed from what a walk heard:
// a loop along the corridors around a block of rooms, each access point in a
// room or outside the loop, some metres off the path.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/Scenario.h"

namespace ketrion::sim {

// One reading of one access point at a walk position.
struct WalkReading {
    std::size_t ap = 0;  // index in the scenario's access points
    double lat = 0.0;
    double lon = 0.0;
    int signal = 0;  // dBm as the board reports it
};

struct WalkTrial {
    Scenario scenario;           // its access points are the truth
    std::vector<Waypoint> walk;  // a reading position every metre
    std::vector<WalkReading> heard;
};

// `count` trials, each with its own seed (from `seed` up), of a 40 x 24 m
// corridor loop with six access points 3 to 8 m off it, heard by the board's
// path-loss model with `shadowingDb` of log-normal shadowing and 2 dB of
// scan-to-scan noise at every metre of the loop.
std::vector<WalkTrial> BesideWalkTrials(int count, double shadowingDb, std::uint32_t seed = 1);

}  // namespace ketrion::sim
