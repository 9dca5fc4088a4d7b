#pragma once

// Collection files for site tests: walks of the simulated board over the
// sample office floor (resources/sample/site.ktp), written straight to disk.

#include <gtest/gtest.h>

#include <string>

#include "sim/Scenario.h"
#include "sim/SimulatedWalk.h"

namespace ketrion::testing {

inline std::string SamplePlan() {
    return std::string(KETRION_SOURCE_DIR) + "/resources/sample/site.ktp";
}

// One pass of the sample track on `level` (a point every `spacing` metres),
// shifted north by `north` degrees (0.01: off the sample plan).
inline void WriteSampleWalk(const std::string& path, int level = 0, std::uint32_t seed = 1,
                            double spacing = 8, double north = 0) {
    sim::Scenario scenario = sim::DefaultScenario();
    for (sim::Waypoint& w : scenario.waypoints)
        w.lat += north;
    sim::WalkRequest request;
    request.level = level;
    request.spacing = spacing;
    request.seed = seed;
    request.startUtc = 1767268800 + seed * 3600;
    std::string error;
    ASSERT_TRUE(sim::WriteWalk(path, scenario, sim::WalkFloor(scenario, request), error)) << error;
}

}  // namespace ketrion::testing
