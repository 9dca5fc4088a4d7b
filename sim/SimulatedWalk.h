#pragma once

// A walk of the simulated board written straight to a collection file, without
// the protocol and without waiting: the scenario's track walked on one floor,
// a survey point every `spacing` metres with the access points heard there
// (the board's path-loss model, floors included). For sample buildings and
// for tests that need surveys whose truth is known.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Scenario.h"

namespace ketrion::sim {

struct WalkPoint {
    double lat = 0;
    double lon = 0;
    std::int64_t utc = 0;  // seconds since 1970
    std::vector<Reading> heard;
};

struct WalkRequest {
    int level = 0;              // the floor walked
    double spacing = 2.0;       // metres between points
    std::int64_t startUtc = 0;  // time of the first point
    std::uint32_t seed = 1;     // the signals' noise
};

// The points of one pass along the scenario's track (its waypoints in order).
std::vector<WalkPoint> WalkFloor(const Scenario& scenario, const WalkRequest& request);

// Writes `points` as a new collection file at `path` (3D fixes, one reading
// per access point heard). False with a message.
bool WriteWalk(const std::string& path, const Scenario& scenario,
               const std::vector<WalkPoint>& points, std::string& error);

}  // namespace ketrion::sim
