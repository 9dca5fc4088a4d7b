// Access-point position estimates on synthetic surveys whose access points
// stand at known places.

#include "analysis/ApEstimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace ketrion::analysis {
namespace {

constexpr double kMetresPerDegree = kEarthRadiusMetres * std::numbers::pi / 180.0;

// A position `east` and `north` metres from (latitude, longitude).
ApObservation At(double latitude, double longitude, double east, double north, double signal) {
    return {latitude + north / kMetresPerDegree,
            longitude + east / (kMetresPerDegree * std::cos(latitude * std::numbers::pi / 180.0)),
            signal};
}

TEST(WeightedCentroid, WeighsByMilliwattsAndMeasuresTheSpread) {
    const double lat = 47.3769, lon = 8.5417;
    // Equal readings at the corners of a 20 m square: the centre, 14.14 m spread.
    {
        const ApObservation square[] = {At(lat, lon, -10, -10, -60), At(lat, lon, 10, -10, -60),
                                        At(lat, lon, 10, 10, -60), At(lat, lon, -10, 10, -60)};
        const Centroid c = WeightedCentroid(square);
        EXPECT_EQ(c.used, 4u);
        EXPECT_LT(DistanceMetres(c.latitude, c.longitude, lat, lon), 0.01);
        EXPECT_NEAR(c.uncertainty, std::sqrt(200.0), 0.01);
    }
    // 10 dB stronger counts ten times: 1 m from the strong reading of two 11 m
    // apart; spread sqrt((1 * 1^2 + 0.1 * 10^2) / 1.1).
    {
        const ApObservation pair[] = {At(lat, lon, 0, 0, -50), At(lat, lon, 11, 0, -60)};
        const Centroid c = WeightedCentroid(pair);
        EXPECT_NEAR(DistanceMetres(c.latitude, c.longitude, lat, lon), 1.0, 0.001);
        EXPECT_NEAR(c.uncertainty, std::sqrt(10.0), 0.001);
    }
    // A single reading: its own position, no spread. None: no estimate.
    {
        const ApObservation one[] = {{-33.8568, 151.2153, -70}};
        const Centroid c = WeightedCentroid(one);
        EXPECT_EQ(c.used, 1u);
        EXPECT_DOUBLE_EQ(c.latitude, -33.8568);
        EXPECT_DOUBLE_EQ(c.longitude, 151.2153);
        EXPECT_EQ(c.uncertainty, 0.0);
        EXPECT_EQ(WeightedCentroid({}).used, 0u);
    }
}

TEST(WeightedCentroid, UsesOnlyTheStrongestReadingsEarlierFirstOnTies) {
    const double lat = 40.0, lon = -74.5;
    std::vector<ApObservation> walk;
    // Five strong readings around the access point...
    for (std::size_t i = 0; i < kApEstimateReadings; ++i) {
        const double angle = 2 * std::numbers::pi * static_cast<double>(i) / kApEstimateReadings;
        walk.push_back(At(lat, lon, 5 * std::cos(angle), 5 * std::sin(angle), -45));
    }
    // ...and a long walk away, whose summed weight would drag a full centroid.
    for (int i = 0; i < 200; ++i)
        walk.push_back(At(lat, lon, 30 + i, 0, -52));
    const Centroid c = WeightedCentroid(walk);
    EXPECT_EQ(c.used, kApEstimateReadings);
    EXPECT_LT(DistanceMetres(c.latitude, c.longitude, lat, lon), 0.01);
    EXPECT_NEAR(c.uncertainty, 5.0, 0.01);

    // Equal signals: the first ones in file order are taken.
    std::vector<ApObservation> ties = {At(lat, lon, 0, 0, -60), At(lat, lon, 0, 0, -60),
                                       At(lat, lon, 100, 0, -60)};
    const Centroid two = WeightedCentroid(ties, 2);
    EXPECT_EQ(two.used, 2u);
    EXPECT_LT(DistanceMetres(two.latitude, two.longitude, lat, lon), 0.001);
}

TEST(WeightedCentroid, StaysOnTheSiteAcrossTheAntimeridian) {
    // Two readings 20 m apart straddling 180 degrees: the centroid is between
    // them, not on the other side of the earth.
    const double lat = -16.5;
    const double step = 10 / (kMetresPerDegree * std::cos(lat * std::numbers::pi / 180.0));
    const ApObservation pair[] = {{lat, 180.0 - step, -60}, {lat, -180.0 + step, -60}};
    const Centroid c = WeightedCentroid(pair);
    EXPECT_NEAR(std::fabs(c.longitude), 180.0, 1e-9);
    EXPECT_NEAR(c.uncertainty, 10.0, 0.001);
    EXPECT_NEAR(DistanceMetres(lat, 180.0 - step, lat, -180.0 + step), 20.0, 0.001);
}

// A survey point at (east, north) metres from the origin with a 3D fix.
SurveyPoint PointAt(double east, double north, bool fix = true) {
    const double lat0 = 51.5, lon0 = -0.12;
    SurveyPoint p;
    const ApObservation o = At(lat0, lon0, east, north, 0);
    p.latitude = static_cast<std::int32_t>(std::lround(o.latitude * 3600000.0));
    p.longitude = static_cast<std::int32_t>(std::lround(o.longitude * 3600000.0));
    p.fixClass = fix ? 2 : 0;
    return p;
}

Reading Heard(std::uint8_t macLast, double dbm, const char* ssid = "NET") {
    Reading r;
    r.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, macLast};
    r.signal = static_cast<std::int16_t>(std::lround(dbm * 256));
    r.ssid = ssid;
    return r;
}

TEST(EstimateAccessPoints, FindsAccessPointsOfAPathLossSurvey) {
    // Two access points, at (12, 7) and (-20, 30) metres; a 5 m grid of survey
    // points hears each with a log-distance path loss (exponent 3) in 1/256 dB.
    struct Truth {
        std::uint8_t mac;
        double east, north;
    };
    const Truth truth[] = {{0x02, 12, 7}, {0x01, -20, 30}};
    std::vector<SurveyPoint> points;
    for (int gx = -40; gx <= 40; gx += 5) {
        for (int gy = -10; gy <= 50; gy += 5) {
            SurveyPoint p = PointAt(gx, gy);
            for (const Truth& t : truth) {
                const double d = std::max(1.0, std::hypot(gx - t.east, gy - t.north));
                p.readings.push_back(Heard(t.mac, -40 - 30 * std::log10(d)));
            }
            points.push_back(p);
        }
    }
    const std::vector<ApEstimate> estimates = EstimateAccessPoints(points);
    ASSERT_EQ(estimates.size(), 2u);
    EXPECT_EQ(estimates[0].mac[5], 0x01);  // ascending address order
    EXPECT_EQ(estimates[1].mac[5], 0x02);
    for (const ApEstimate& e : estimates) {
        const Truth& t = e.mac[5] == 0x01 ? truth[1] : truth[0];
        const SurveyPoint at = PointAt(t.east, t.north);
        SCOPED_TRACE(static_cast<int>(t.mac));
        EXPECT_EQ(e.pointsHeard, points.size());
        EXPECT_TRUE(e.fromFixes);
        EXPECT_EQ(e.position.used, kApEstimateReadings);
        // Within the grid's half-spacing of the truth, and the spread is of
        // the grid's size: an access point on a grid node is found on it.
        const double error = DistanceMetres(e.position.latitude, e.position.longitude,
                                            at.LatitudeDegrees(), at.LongitudeDegrees());
        EXPECT_LT(error, t.mac == 0x01 ? 0.1 : 2.5);
        EXPECT_GT(e.position.uncertainty, 0.1);
        EXPECT_LT(e.position.uncertainty, 5.0);
        EXPECT_EQ(e.strongest,
                  points[e.strongestPoint].readings[t.mac == 0x02 ? 0 : 1].SignalExact());
    }
}

TEST(EstimateAccessPoints, WhatCountsAsEvidence) {
    std::vector<SurveyPoint> points;
    // Point 0: no fix; heard strongest of all, but positions without a fix
    // are not used while fixed ones exist.
    points.push_back(PointAt(500, 0, false));
    points.back().readings = {Heard(0x05, -30, "")};
    // Point 1: fixed; lists the address twice (the stronger reading counts,
    // once) and names it.
    points.push_back(PointAt(0, 0));
    points.back().readings = {Heard(0x05, -70, "weak-name"), Heard(0x05, -50, "strong-name")};
    // Point 2: a dynamic access point with a reading is no evidence.
    points.push_back(PointAt(900, 900));
    points.back().kind = 1;
    points.back().readings = {Heard(0x05, -20, "dynamic"), Heard(0x07, -20)};
    // Point 3: fixed, weaker, hidden name; another address heard only without a fix.
    points.push_back(PointAt(10, 0));
    points.back().readings = {Heard(0x05, -60.5, "")};
    points.push_back(PointAt(-300, 0, false));
    points.back().readings = {Heard(0x09, -80, "nofix")};

    const std::vector<ApEstimate> estimates = EstimateAccessPoints(points);
    ASSERT_EQ(estimates.size(), 2u);
    const ApEstimate& a = estimates[0];
    EXPECT_EQ(a.mac[5], 0x05);
    EXPECT_EQ(a.pointsHeard, 3u);
    EXPECT_EQ(a.strongest, -30);
    EXPECT_EQ(a.strongestPoint, 0u);
    EXPECT_EQ(a.ssid, "strong-name");
    EXPECT_TRUE(a.fromFixes);
    EXPECT_EQ(a.position.used, 2u);
    // -50 at 0 m and -60.5 at 10 m: 10 * 10^-1.05 / (1 + 10^-1.05) metres east.
    const double w = std::pow(10.0, -1.05);
    const SurveyPoint origin = PointAt(0, 0);
    EXPECT_NEAR(DistanceMetres(a.position.latitude, a.position.longitude, origin.LatitudeDegrees(),
                               origin.LongitudeDegrees()),
                10 * w / (1 + w), 0.01);

    const ApEstimate& b = estimates[1];
    EXPECT_EQ(b.mac[5], 0x09);
    EXPECT_FALSE(b.fromFixes);
    EXPECT_EQ(b.position.used, 1u);
    EXPECT_EQ(b.ssid, "nofix");
    EXPECT_DOUBLE_EQ(b.position.latitude, points[4].LatitudeDegrees());
}

}  // namespace
}  // namespace ketrion::analysis
