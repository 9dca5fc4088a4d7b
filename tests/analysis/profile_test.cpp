// Requirement profiles: the files accepted and refused (each refusal naming
// its key), and the verdicts of points and of the area, checked by hand on a
// small survey.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "analysis/Profile.h"
#include "analysis/RadioMetrics.h"

namespace ketrion::analysis {
namespace {

TEST(Profile, FilesAcceptedAndRefusedNamingTheKey) {
    struct Case {
        const char* legend;
        const char* json;
        const char* error;  // empty: accepted
    };
    const Case cases[] = {
        {"every key", R"({"name":"w","area":0.9,"primary":-70,"secondary":-80,"tertiary":-85,
           "snr":20,"sir":10,"width":40,"bands":{"5":{"primary":-67}}})",
         ""},
        {"one band only", R"({"bands":{"2.4":{"snr":20}}})", ""},
        {"unknown key", R"({"primary":-67,"rssi":-70})", "unknown key \"rssi\""},
        {"unknown key in a band", R"({"bands":{"5":{"primry":-67}}})",
         "unknown key \"bands.5.primry\""},
        {"unknown band", R"({"bands":{"60":{"primary":-67}}})", "unknown key \"bands.60\""},
        {"NaN", R"({"snr": NaN})", "\"snr\" has no valid JSON value"},
        {"a string", R"({"snr":"25"})", "\"snr\" must be a number"},
        {"signal above 0", R"({"primary":12})", "\"primary\" is 12; it must be from -100 to 0"},
        {"negative SNR", R"({"snr":-3})", "\"snr\" is -3; it must be from 0 to 60"},
        {"odd width", R"({"width":30})", "\"width\" is 30; it must be 20, 40, 80, 160 or 320"},
        {"area share", R"({"primary":-67,"area":1.5})", "\"area\" is the share"},
        {"zero area", R"({"primary":-67,"area":0})", "\"area\" is the share"},
        {"nothing required", R"({"name":"empty"})", "the profile requires nothing"},
        {"not an object", R"([1,2])", "a profile is a JSON object"},
        {"not JSON", "{", "not JSON"},
        {"number past any double", R"({"snr": -1e999})", "not a profile"},
        {"huge", nullptr, "at most 65536 bytes"},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::string text = c.json ? c.json : std::string(kMaxProfileBytes + 1, ' ');
        const auto profile = ParseProfile(text, error);
        if (std::string(c.error).empty()) {
            EXPECT_TRUE(profile) << c.legend << ": " << error;
        } else {
            EXPECT_FALSE(profile) << c.legend;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.legend << ": " << error;
        }
    }
    std::string error;
    const auto p = ParseProfile(R"({"primary":-70,"snr":20,"bands":{"5":{"primary":-67}}})", error);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->On(Band::Ghz5)[Measure::Primary], -67);
    EXPECT_EQ(p->On(Band::Ghz5)[Measure::Snr], 20);
    EXPECT_EQ(p->On(Band::Ghz24)[Measure::Primary], -70);
    EXPECT_EQ(p->On(std::nullopt)[Measure::Primary], -70);
}

TEST(Profile, BuiltInFiguresAndTheFirstRequirementBroken) {
    const auto voice = BuiltInProfile("voice");
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice->all[Measure::Primary], -65);
    EXPECT_EQ(voice->all[Measure::Secondary], -75);
    EXPECT_EQ(voice->all[Measure::Sir], 19);
    EXPECT_EQ(BuiltInProfile("data")->all[Measure::Snr], 25);
    EXPECT_EQ(BuiltInProfile("location")->all[Measure::Tertiary], -75);
    EXPECT_FALSE(BuiltInProfile("video"));

    const double nan = std::nan("");
    struct Case {
        const char* legend;
        Measures measures;  // primary, secondary, tertiary, snr, sir, width
        std::optional<Measure> fails;
    };
    const Case cases[] = {
        {"all met", {-60, -70, -100, 30, 25, 20}, std::nullopt},
        {"exactly at each figure", {-65, -75, -100, 25, 19, 20}, std::nullopt},
        {"primary first", {-66, -80, -100, 10, 5, 20}, Measure::Primary},
        {"secondary", {-60, -76, -100, 30, 25, 20}, Measure::Secondary},
        {"SNR before SIR", {-60, -70, -100, 24, 10, 20}, Measure::Snr},
        {"SIR unknown fails", {-60, -70, -100, 30, nan, 20}, Measure::Sir},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FirstBroken(voice->all, c.measures), c.fails) << c.legend;
}

Reading R(std::uint8_t id, double dbm, int frequency) {
    Reading r;
    r.mac = {0x00, 0x1a, 0x2b, 0x3c, id, 0x00};
    r.signal = static_cast<std::int16_t>(std::lround(dbm * 256));
    ReadingDetails d;
    d.frequencyMhz = frequency;
    d.band = BandOfFrequency(frequency);
    d.noiseDbm = -95;
    r.details = d;
    return r;
}

TEST(Profile, PointAndAreaVerdictsOfASmallSurvey) {
    // Left point: -60 with another access point at -70 on the same channel
    // (SIR 10); right point: -60 alone (SIR clear). Voice fails the left on
    // SIR (secondary -70 and SNR 35 are met).
    PlacedSurvey survey;
    SurveyPoint left, right;
    left.number = 1;
    left.readings = {R(1, -60, 5180), R(2, -70, 5180)};
    right.number = 2;
    right.readings = {R(3, -60, 5500), R(4, -74, 5180)};
    survey.records.points = {left, right};
    survey.points = {PlacedPoint{10, 10, -60, 0}, PlacedPoint{90, 10, -60, 1}};
    IdwParams params;
    params.cell = 10;
    params.radius = 45;
    const SurveyedArea area = SurveyedArea::Boundary({{0, 0}, {100, 0}, {100, 20}, {0, 20}});
    const ProfileVerdict v =
        JudgeProfile(survey, *BuiltInProfile("voice"), Band::Ghz5, params, 100, 20, area);
    ASSERT_EQ(v.points.size(), 2U);
    EXPECT_EQ(v.points[0].fails, Measure::Sir);
    EXPECT_EQ(v.points[0].measures[static_cast<std::size_t>(Measure::Sir)], 10);
    EXPECT_EQ(v.points[1].fails, std::nullopt);
    // Nodes at x = 5..95 in two rows: with a 45 px radius each node takes the
    // point within reach (the other's weight (1 - d/r)^2 is 0 at 45 px), so
    // the left half fails on SIR and the right half passes.
    EXPECT_EQ(v.area.nodes, 20U);
    EXPECT_EQ(v.area.failsFirst[static_cast<std::size_t>(Measure::Sir)], 10U);
    EXPECT_EQ(v.area.passing, 10U);
    EXPECT_FALSE(v.area.Pass());
    EXPECT_EQ(v.why.At(0, 0), 1.0 + static_cast<double>(Measure::Sir));
    EXPECT_EQ(v.why.At(9, 1), 0);

    const std::string json = VerdictsJson(*BuiltInProfile("voice"), {{Band::Ghz5, v}});
    EXPECT_NE(json.find("\"fails\": \"sir\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"share\": 0.5"), std::string::npos) << json;
}

}  // namespace
}  // namespace ketrion::analysis
