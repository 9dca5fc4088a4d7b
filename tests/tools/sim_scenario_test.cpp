#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/Scenario.h"

namespace ketrion::sim {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kSiteFile = std::string(KETRION_SOURCE_DIR) + "/resources/sample/site.json";

TEST(SimScenario, BuiltInScenarioIsTheSampleFile) {
    EXPECT_EQ(std::string(DefaultScenarioText()), ReadFile(kSiteFile));
    std::string error = "unset";
    const Scenario fromFile = LoadScenario(kSiteFile, &error);
    EXPECT_EQ(error, "");
    const Scenario builtIn = DefaultScenario();
    EXPECT_EQ(builtIn.accessPoints.size(), fromFile.accessPoints.size());
    EXPECT_EQ(builtIn.seed, fromFile.seed);
}

TEST(SimScenario, SampleSiteStaysInsideThePlanBox) {
    // The sample plan covers latitude 52.20500-52.20600 and longitude
    // 0.12000-0.12200; everything the board places must be on it with a margin.
    const Scenario s = DefaultScenario();
    ASSERT_GE(s.accessPoints.size(), 6u);
    ASSERT_GE(s.waypoints.size(), 2u);
    auto inside = [](double lat, double lon) {
        return lat > 52.20505 && lat < 52.20595 && lon > 0.12010 && lon < 0.12190;
    };
    for (const AccessPoint& ap : s.accessPoints) {
        EXPECT_TRUE(inside(ap.lat, ap.lon)) << ap.ssid;
    }
    for (const Waypoint& w : s.waypoints) {
        EXPECT_TRUE(inside(w.lat, w.lon)) << w.lat << " " << w.lon;
    }
    // Somewhere on the walk every access point is heard.
    Scenario quiet = s;
    quiet.pathLossSigma = 0.0;
    Board board(quiet, 0);
    std::vector<bool> heard(s.accessPoints.size(), false);
    for (Board::Millis t = 0; t < 600000; t += 2000) {
        const TrackPoint p = board.PositionAt(t);
        EXPECT_TRUE(inside(p.lat, p.lon)) << t;
        for (const Reading& r : board.Hear(p.lat, p.lon)) {
            heard[r.index] = true;
        }
    }
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_TRUE(heard[i]) << s.accessPoints[i].ssid;
    }
    EXPECT_EQ(s.firmware, "2.14");
    EXPECT_EQ(s.serial.size(), 8u);
    ASSERT_EQ(s.fixes.size(), 3u);
    EXPECT_EQ(s.fixes.back().code, 7);
}

TEST(SimScenario, ReadsEveryField) {
    const char* text = R"({
      "firmware": "9.9", "serial": "S1", "seed": 42, "gpsPeriodMs": 250, "altitude": 3.5,
      "startTime": 1000,
      "scan": {"minMs": 10, "maxMs": 20, "passes": 3},
      "pathLoss": {"reference": -30, "exponent": 2.5, "sigma": 0, "floor": -80},
      "accessPoints": [{"mac": "0a-0b-0c-0d-0e-0f", "ssid": "X", "attribute": 255,
                        "lat": -33.5, "lon": 151.25, "txPower": 15}],
      "track": {"speed": 2, "loop": false, "waypoints": [{"lat": 1, "lon": 2}]},
      "fixes": [{"code": 0}],
      "faults": {"noise": 0.5, "badCheck": 0.25, "split": 1, "splitDelayMs": 9,
                 "loseScanEnd": 0.1, "silent": true}
    })";
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(text, s, &error)) << error;
    EXPECT_EQ(s.firmware, "9.9");
    EXPECT_EQ(s.serial, "S1");
    EXPECT_EQ(s.seed, 42u);
    EXPECT_EQ(s.gpsPeriodMs, 250);
    EXPECT_EQ(s.altitude, 3.5);
    EXPECT_EQ(s.startTime, 1000);
    EXPECT_EQ(s.scanMinMs, 10);
    EXPECT_EQ(s.scanMaxMs, 20);
    EXPECT_EQ(s.scanPasses, 3);
    EXPECT_EQ(s.pathLossReference, -30.0);
    EXPECT_EQ(s.pathLossExponent, 2.5);
    EXPECT_EQ(s.pathLossFloor, -80);
    ASSERT_EQ(s.accessPoints.size(), 1u);
    EXPECT_EQ(s.accessPoints[0].mac, (std::array<std::uint8_t, 6>{10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(s.accessPoints[0].attribute, 255);
    EXPECT_EQ(s.accessPoints[0].lat, -33.5);
    EXPECT_FALSE(s.loop);
    EXPECT_EQ(s.speed, 2.0);
    ASSERT_EQ(s.waypoints.size(), 1u);
    ASSERT_EQ(s.fixes.size(), 1u);
    EXPECT_EQ(s.fixes[0].code, 0);
    EXPECT_EQ(s.faults.split, 1.0);
    EXPECT_EQ(s.faults.splitDelayMs, 9);
    EXPECT_TRUE(s.faults.silent);
}

TEST(SimScenario, RejectsBadFilesWithAMessage) {
    struct {
        const char* text;
        const char* message;
    } const cases[] = {
        {"{", "not valid JSON"},
        {"[]", "the scenario must be a JSON object"},
        {R"({"seed": "x"})", "\"seed\" must be a number"},
        {R"({"seed": 1.5})", "\"seed\" must be a whole number"},
        {R"({"seed": -1})", "\"seed\" must be between 0 and 4.29497e+09"},
        {R"({"firmware": "0123456789012345678901234567890123"})",
         "\"firmware\" is longer than 31 bytes"},
        {R"({"serial": "123456789"})", "\"serial\" is longer than 8 bytes"},
        {R"({"scan": {"minMs": 300, "maxMs": 200}})", "\"minMs\" must not exceed \"maxMs\""},
        {R"({"scan": 5})", "\"scan\" must be an object"},
        {R"({"accessPoints": {}})", "\"accessPoints\" must be a list"},
        {R"({"accessPoints": [1]})", "each access point must be an object"},
        {R"({"accessPoints": [{"mac": "00:11:22:33:44", "lat": 0, "lon": 0}]})",
         "access point \"mac\" must be six hex bytes, e.g. 00:1A:2B:3C:4D:5E"},
        {R"({"accessPoints": [{"mac": "00:11:22:33:44:5G", "lat": 0, "lon": 0}]})",
         "access point \"mac\" must be six hex bytes, e.g. 00:1A:2B:3C:4D:5E"},
        {R"({"accessPoints": [{"mac": "001122334455", "ssid": "123456789012345678901234567890123",
             "lat": 0, "lon": 0}]})",
         "\"ssid\" is longer than 32 bytes"},
        {R"({"accessPoints": [{"mac": "001122334455"}]})", "a position needs \"lat\" and \"lon\""},
        {R"({"accessPoints": [{"mac": "001122334455", "lat": 91, "lon": 0}]})",
         "\"lat\" must be between -90 and 90"},
        {R"({"track": {"loop": 1}})", "\"loop\" must be true or false"},
        {R"({"track": {"waypoints": [{"lat": 1}]}})", "a position needs \"lat\" and \"lon\""},
        {R"({"fixes": [{"code": 8}]})", "\"code\" must be between 0 and 7"},
        {R"({"faults": {"noise": 2}})", "\"noise\" must be between 0 and 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Scenario s;
        s.seed = 99;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, s, &error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(s.seed, 99u) << "a failed parse leaves the output alone";
    }
}

TEST(SimScenario, MissingFileFallsBackToTheDefaultWithAMessage) {
    std::string error;
    const Scenario s = LoadScenario("/nonexistent/ktsim/scenario.json", &error);
    EXPECT_EQ(error, "cannot open the scenario file /nonexistent/ktsim/scenario.json");
    EXPECT_EQ(s.accessPoints.size(), DefaultScenario().accessPoints.size());
}

}  // namespace
}  // namespace ketrion::sim
