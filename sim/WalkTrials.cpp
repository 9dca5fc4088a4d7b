#include "sim/WalkTrials.h"

#include <cmath>

#include "sim/Board.h"
#include "sim/Random.h"

namespace ketrion::sim {

namespace {

constexpr double kLat0 = 40.0;  // the site's corner
constexpr double kLon0 = -74.5;
constexpr double kMetresPerDegree = 111320.0;  // as the board measures distances
constexpr double kLoopEast = 40.0;
constexpr double kLoopNorth = 24.0;
constexpr double kNoiseDb = 2.0;

Waypoint At(double east, double north) {
    return {kLat0 + north / kMetresPerDegree,
            kLon0 + east / (kMetresPerDegree * std::cos(kLat0 * 3.141592653589793 / 180.0))};
}

}  // namespace

std::vector<WalkTrial> BesideWalkTrials(int count, double shadowingDb, std::uint32_t seed) {
    std::vector<WalkTrial> trials;
    for (int t = 0; t < count; ++t) {
        WalkTrial trial;
        Scenario& s = trial.scenario;
        s.seed = seed + static_cast<std::uint32_t>(t);
        s.pathLossSigma = kNoiseDb;
        s.pathLossShadowing = shadowingDb;
        // The loop, a reading every metre.
        for (double e = 0; e < kLoopEast; e += 1)
            trial.walk.push_back(At(e, 0));
        for (double n = 0; n < kLoopNorth; n += 1)
            trial.walk.push_back(At(kLoopEast, n));
        for (double e = kLoopEast; e > 0; e -= 1)
            trial.walk.push_back(At(e, kLoopNorth));
        for (double n = kLoopNorth; n > 0; n -= 1)
            trial.walk.push_back(At(0, n));
        // Six access points 3-8 m off the loop: four in the rooms inside it,
        // two outside, placed at random along it.
        Rng place(s.seed * 7919u + 17u);
        for (int a = 0; a < 6; ++a) {
            const double off = 3.0 + 5.0 * place.Uniform();
            const double along = 0.2 + 0.6 * place.Uniform();
            const double inside = a < 4 ? 1.0 : -1.0;
            double east = 0, north = 0;
            switch (a % 4) {
                case 0:
                    east = along * kLoopEast, north = inside * off;
                    break;
                case 1:
                    east = kLoopEast - inside * off, north = along * kLoopNorth;
                    break;
                case 2:
                    east = along * kLoopEast, north = kLoopNorth - inside * off;
                    break;
                default:
                    east = inside * off, north = along * kLoopNorth;
                    break;
            }
            AccessPoint ap;
            ap.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, static_cast<std::uint8_t>(a * 16)};
            ap.ssid = "AP" + std::to_string(a);
            const Waypoint w = At(east, north);
            ap.lat = w.lat;
            ap.lon = w.lon;
            s.accessPoints.push_back(ap);
        }
        Board board(s, 0);
        for (const Waypoint& w : trial.walk)
            for (const Reading& r : board.Hear(w.lat, w.lon))
                trial.heard.push_back({r.index, w.lat, w.lon, r.signal});
        trials.push_back(std::move(trial));
    }
    return trials;
}

}  // namespace ketrion::sim
