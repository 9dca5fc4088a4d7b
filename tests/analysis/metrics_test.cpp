// What each metric takes from a survey point, the address forms --ap accepts,
// and the coverage grid's threshold.

#include <gtest/gtest.h>

#include "analysis/Metrics.h"

namespace ketrion::analysis {
namespace {

Reading R(std::uint8_t last, const char* ssid, int signal) {
    Reading r;
    r.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, last};
    r.ssid = ssid;
    r.signal = static_cast<std::int16_t>(signal * 256);
    return r;
}

SurveyPoint Point(std::vector<Reading> readings) {
    SurveyPoint p;
    p.readings = std::move(readings);
    return p;
}

// A survey of points at plan positions with the loader's strongest signals.
struct Placed {
    PlacedSurvey survey;
    void Add(int x, int y, int strongest, std::vector<Reading> readings = {}) {
        survey.points.push_back(PlacedPoint{x, y, strongest, survey.records.points.size()});
        survey.records.points.push_back(Point(std::move(readings)));
    }
};

TEST(Metrics, EachMetricTakesItsValueFromThePoint) {
    const SurveyPoint p = Point({R(1, "LAB", -62), R(2, "GUEST", -48), R(3, "LAB", -79),
                                 R(4, "LAB", -81), R(1, "LAB", -70)});
    MetricSpec spec;
    EXPECT_EQ(PointValue(p, -48, spec), -48);
    spec.metric = Metric::Second;
    EXPECT_EQ(PointValue(p, -48, spec), -62);
    spec.metric = Metric::Count;  // -80 or better, each address once
    EXPECT_EQ(PointValue(p, -48, spec), 3);
    spec.metric = Metric::Ap;
    spec.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x01};  // heard twice: the stronger reading
    EXPECT_EQ(PointValue(p, -48, spec), -62);
    spec.mac[5] = 0x09;
    EXPECT_EQ(PointValue(p, -48, spec), kNotHeard);
    spec.metric = Metric::Ssid;
    spec.ssid = "LAB";
    EXPECT_EQ(PointValue(p, -48, spec), -62);
    spec.ssid = "lab";  // names are compared exactly
    EXPECT_EQ(PointValue(p, -48, spec), kNotHeard);
    spec.metric = Metric::Coverage;
    EXPECT_EQ(PointValue(p, -48, spec), -48);
}

TEST(Metrics, PointsWithFewOrWeakReadings) {
    MetricSpec second;
    second.metric = Metric::Second;
    EXPECT_EQ(PointValue(Point({}), -100, second), kNotHeard);
    EXPECT_EQ(PointValue(Point({R(1, "A", -50)}), -50, second), kNotHeard);
    // The same address twice is one access point.
    EXPECT_EQ(PointValue(Point({R(1, "A", -50), R(1, "A", -60)}), -50, second), kNotHeard);
    EXPECT_EQ(PointValue(Point({R(1, "A", -104), R(2, "B", -110)}), -100, second), kNotHeard);
    // Readings between whole dBm count as the file's readers take them.
    Reading half = R(2, "B", -60);
    half.signal = static_cast<std::int16_t>(-59 * 256 - 128);  // -59.5 reads as -59
    EXPECT_EQ(PointValue(Point({R(1, "A", -50), half}), -50, second), -59);
    MetricSpec count;
    count.metric = Metric::Count;
    EXPECT_EQ(PointValue(Point({R(1, "A", -80), R(2, "B", -81)}), -80, count), 1);
    MetricSpec ap;
    ap.metric = Metric::Ap;
    ap.mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x01};
    EXPECT_EQ(PointValue(Point({R(1, "A", -107)}), -100, ap), kNotHeard);
}

TEST(Metrics, AddressesInEitherCaseWithColonsOrDashes) {
    const Mac expected = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    for (const char* text :
         {"00:1a:2b:3c:4d:5e", "00:1A:2B:3C:4D:5E", "00-1a-2b-3c-4d-5e", "00-1A-2B-3C-4D-5E"}) {
        const auto mac = ParseMac(text);
        ASSERT_TRUE(mac) << text;
        EXPECT_EQ(*mac, expected) << text;
    }
    for (const char* text : {"", "00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5e:", "001a2b3c4d5e",
                             "00.1a.2b.3c.4d.5e", "0g:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5"}) {
        EXPECT_FALSE(ParseMac(text)) << text;
    }
    EXPECT_EQ(ParseMetric("coverage"), Metric::Coverage);
    EXPECT_FALSE(ParseMetric("Strongest"));
    for (Metric m : {Metric::Strongest, Metric::Second, Metric::Count, Metric::Ap, Metric::Ssid,
                     Metric::Coverage})
        EXPECT_EQ(ParseMetric(MetricName(m)), m);
}

TEST(Metrics, CoverageThresholdsTheInterpolatedStrongestGrid) {
    // Two points far apart: nodes near the first are -60, near the second -70,
    // and the band between them has no point in range.
    Placed placed;
    placed.Add(10, 10, -60);
    placed.Add(190, 10, -70);
    const PlacedSurvey& points = placed.survey;
    const IdwParams params{4, 30, 12, 2};
    MetricSpec coverage;
    coverage.metric = Metric::Coverage;
    const Grid grid = MetricGrid(points, coverage, params, 200, 20);
    const Grid strongest = MetricGrid(points, MetricSpec{}, params, 200, 20);
    ASSERT_EQ(grid.values.size(), strongest.values.size());
    int ones = 0, zeros = 0, none = 0;
    for (std::size_t n = 0; n < grid.values.size(); ++n) {
        const double s = strongest.values[n];
        const double c = grid.values[n];
        if (!Grid::HasValue(s)) {
            EXPECT_EQ(c, Grid::kNoData);
            ++none;
        } else {
            EXPECT_EQ(c, s >= -67 ? 1.0 : 0.0);
            (c == 1 ? ones : zeros)++;
        }
    }
    EXPECT_GT(ones, 0);
    EXPECT_GT(zeros, 0);
    EXPECT_GT(none, 0);
    coverage.threshold = -75;
    for (double v : MetricGrid(points, coverage, params, 200, 20).values)
        EXPECT_TRUE(v == 1 || v == Grid::kNoData);
}

TEST(Metrics, NetworkNamesOncePerName) {
    Placed placed;
    placed.Add(0, 0, -50, {R(1, "B", -50), R(2, "A", -60)});
    placed.Add(0, 0, -50, {R(3, "B", -50), R(4, "", -70)});
    // A dynamic access point's record does not count.
    placed.survey.records.points.push_back(Point({R(5, "DYN", -40)}));
    placed.survey.dynamicAps.push_back(PlacedPoint{0, 0, -100, 2});
    EXPECT_EQ(NetworkNames(placed.survey), (std::vector<std::string>{"", "A", "B"}));
    // Samples come from the survey points only, at their plan positions.
    MetricSpec ssid;
    ssid.metric = Metric::Ssid;
    ssid.ssid = "A";
    const std::vector<Sample> samples = MetricSamples(placed.survey, ssid);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].value, -60);
    EXPECT_EQ(samples[1].value, kNotHeard);
}

}  // namespace
}  // namespace ketrion::analysis
