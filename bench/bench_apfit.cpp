// Access points placed from simulated walks beside them (sim/WalkTrials.h:
// a 40 x 24 m corridor loop, six access points 3-8 m off it, 6 dB of
// log-normal shadowing): the time to fit one access point's readings (about
// 130, one per metre of the loop), and as counters over 20 walks the median
// error of the fit and of the weighted centroid on the same walks, in metres,
// and the share of access points whose true position lies inside the fit's
// 95 % ellipse.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/ApFit.h"
#include "sim/WalkTrials.h"

namespace {

using namespace ketrion;
using namespace ketrion::analysis;

constexpr int kWalks = 20;
constexpr double kShadowingDb = 6.0;

struct Case {
    std::vector<ApObservation> seen;
    double latitude = 0, longitude = 0;
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = [] {
        std::vector<Case> out;
        for (const sim::WalkTrial& trial : sim::BesideWalkTrials(kWalks, kShadowingDb)) {
            for (std::size_t a = 0; a < trial.scenario.accessPoints.size(); ++a) {
                Case c;
                c.latitude = trial.scenario.accessPoints[a].lat;
                c.longitude = trial.scenario.accessPoints[a].lon;
                for (const sim::WalkReading& r : trial.heard)
                    if (r.ap == a)
                        c.seen.push_back({r.lat, r.lon, static_cast<double>(r.signal)});
                out.push_back(std::move(c));
            }
        }
        return out;
    }();
    return cases;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_FitOneAccessPoint(benchmark::State& state) {
    const std::vector<Case>& cases = Cases();
    std::size_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FitAccessPoint(cases[n % cases.size()].seen));
        ++n;
    }
    std::vector<double> fit, centroid;
    int inside = 0, located = 0;
    for (const Case& c : cases) {
        const FittedPosition f = FitAccessPoint(c.seen);
        if (!f.fit.located)
            continue;
        ++located;
        const Centroid w = WeightedCentroid(c.seen);
        fit.push_back(DistanceMetres(f.latitude, f.longitude, c.latitude, c.longitude));
        centroid.push_back(DistanceMetres(w.latitude, w.longitude, c.latitude, c.longitude));
        const double north = (c.latitude - f.latitude) * kEarthRadiusMetres * M_PI / 180;
        const double east = (c.longitude - f.longitude) * kEarthRadiusMetres * M_PI / 180 *
                            std::cos(f.latitude * M_PI / 180);
        const double cs = std::cos(f.fit.angle), sn = std::sin(f.fit.angle);
        const double u = (east * cs + north * sn) / f.fit.semiMajor;
        const double v = (-east * sn + north * cs) / f.fit.semiMinor;
        inside += u * u + v * v <= 1 ? 1 : 0;
    }
    state.counters["fit_median_m"] = Median(fit);
    state.counters["centroid_median_m"] = Median(centroid);
    state.counters["inside_ellipse"] = located ? static_cast<double>(inside) / located : 0;
    state.counters["located"] = static_cast<double>(located) / cases.size();
}
BENCHMARK(BM_FitOneAccessPoint)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
