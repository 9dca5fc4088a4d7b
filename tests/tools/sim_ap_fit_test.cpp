// Access points placed from simulated walks that pass beside them (the
// board's path-loss model with 6 dB of log-normal shadowing over 2 m squares): the path-loss
// fit against the weighted centroid on the same walks, its 95 % ellipse
// against the truth, and the refusals of a fit the readings cannot support.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/ApFit.h"
#include "sim/Board.h"
#include "sim/WalkTrials.h"

namespace ketrion::analysis {
namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Whether the truth lies inside the fit's 95 % ellipse.
bool InsideEllipse(const FittedPosition& f, double latitude, double longitude) {
    const double north = (latitude - f.latitude) * kEarthRadiusMetres * M_PI / 180;
    const double east = (longitude - f.longitude) * kEarthRadiusMetres * M_PI / 180 *
                        std::cos(f.latitude * M_PI / 180);
    const double c = std::cos(f.fit.angle), s = std::sin(f.fit.angle);
    const double u = (east * c + north * s) / f.fit.semiMajor;
    const double v = (-east * s + north * c) / f.fit.semiMinor;
    return u * u + v * v <= 1;
}

TEST(ApFit, BesideTheWalkTheFitBeatsTheCentroidAndItsEllipseHoldsTheTruth) {
    std::vector<double> fitErrors, centroidErrors;
    int inside = 0, located = 0, cases = 0;
    for (const sim::WalkTrial& trial : sim::BesideWalkTrials(20, 6.0)) {
        for (std::size_t a = 0; a < trial.scenario.accessPoints.size(); ++a) {
            std::vector<ApObservation> seen;
            for (const sim::WalkReading& r : trial.heard)
                if (r.ap == a)
                    seen.push_back({r.lat, r.lon, static_cast<double>(r.signal)});
            const sim::AccessPoint& truth = trial.scenario.accessPoints[a];
            ++cases;
            const FittedPosition fit = FitAccessPoint(seen);
            if (!fit.fit.located)
                continue;
            ++located;
            const Centroid centroid = WeightedCentroid(seen);
            fitErrors.push_back(DistanceMetres(fit.latitude, fit.longitude, truth.lat, truth.lon));
            centroidErrors.push_back(
                DistanceMetres(centroid.latitude, centroid.longitude, truth.lat, truth.lon));
            inside += InsideEllipse(fit, truth.lat, truth.lon) ? 1 : 0;
        }
    }
    const double fitMedian = Median(fitErrors);
    const double centroidMedian = Median(centroidErrors);
    const double coverage = static_cast<double>(inside) / located;
    std::printf(
        "access points %d, located %d; median error: fit %.2f m, centroid %.2f m "
        "(%.0f %% lower); truth inside the 95 %% ellipse %.1f %%\n",
        cases, located, fitMedian, centroidMedian, 100 * (1 - fitMedian / centroidMedian),
        100 * coverage);
    EXPECT_GE(located, cases * 9 / 10);
    EXPECT_LE(fitMedian, 2.0);
    EXPECT_LE(fitMedian, 0.7 * centroidMedian);
    EXPECT_GE(coverage, 0.9);
}

TEST(ApFit, NoPositionWhenTheReadingsCannotPlaceIt) {
    // An access point the walk never came within -50 dBm of.
    std::vector<PlaneReading> far;
    for (int i = 0; i < 30; ++i)
        far.push_back({static_cast<double>(i), 0, -60.0 - i * 0.5});
    PathLossFit f = FitPathLoss(far);
    EXPECT_FALSE(f.located);
    EXPECT_NE(f.why.find("-60 dBm, is weaker than -50 dBm"), std::string::npos) << f.why;

    // Too few readings.
    f = FitPathLoss(std::vector<PlaneReading>{{0, 0, -40}, {1, 0, -42}, {2, 0, -45}});
    EXPECT_FALSE(f.located);
    EXPECT_NE(f.why.find("only 3 readings"), std::string::npos) << f.why;

    // Exact readings of the model: the position, P and n come back, from one
    // walk's readings as from a campus's thousands (whose search takes a sample).
    for (const int perMetre : {1, 200}) {
        std::vector<PlaneReading> exact;
        for (int k = 0; k <= 30 * perMetre; ++k)
            for (const double north : {0.0, 10.0}) {
                const double east = static_cast<double>(k) / perMetre;
                const double de = east - 12.0, dn = north - 4.0;
                exact.push_back(
                    {east, north, -30 - 10 * 2.8 * std::log10(std::sqrt(de * de + dn * dn + 1))});
            }
        SCOPED_TRACE(exact.size());
        f = FitPathLoss(exact);
        ASSERT_TRUE(f.located) << f.why;
        EXPECT_NEAR(f.east, 12, 0.01);
        EXPECT_NEAR(f.north, 4, 0.01);
        // The prior on n (3) moves P and n a little from the truth (-30, 2.8).
        EXPECT_NEAR(f.powerAt1m, -30, 0.05);
        EXPECT_NEAR(f.exponent, 2.8, 0.01);
    }
}

TEST(ApFit, ShadowingIsOffByDefaultAndTheSameOnEveryVisit) {
    sim::Scenario s;
    sim::AccessPoint ap;
    s.accessPoints = {ap};
    EXPECT_EQ(sim::ShadowingDb(s, 0, 0.0001, 0.0001), 0.0);
    s.pathLossShadowing = 6;
    const double a = sim::ShadowingDb(s, 0, 0.0001, 0.0001);
    EXPECT_EQ(sim::ShadowingDb(s, 0, 0.0001, 0.0001), a);
    // Over many squares the draws have the deviation asked for.
    double sum = 0, squares = 0;
    const int n = 4000;
    for (int i = 0; i < n; ++i) {
        const double v = sim::ShadowingDb(s, 0, (i % 63) * 0.0001, (i / 63) * 0.0001);
        sum += v;
        squares += v * v;
    }
    const double mean = sum / n;
    EXPECT_NEAR(mean, 0, 0.5);
    EXPECT_NEAR(std::sqrt(squares / n - mean * mean), 6, 0.5);
}

}  // namespace
}  // namespace ketrion::analysis
