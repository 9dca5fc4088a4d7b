// Survey points for the analysis come from the program's own loader: the same
// plan positions and strongest signals, with readings and times attached, and
// dynamic access points kept apart.

#include <gtest/gtest.h>

#include "analysis/SurveyPoints.h"
#include "support/SiteDataFixture.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

using analysis::Survey;

class SurveyPointsTest : public ::testing::Test {
protected:
    SurveyPointsTest() {
        projection.m_xLon = 1000;
        projection.m_xOrigin = 75000;
        projection.m_yLat = -1000;
        projection.m_yOrigin = 41000;
    }
    CLocation location;
    RecordingPrompt prompt;
    NullSound sound;
    CSiteProjection projection{location, prompt, sound};
    TempDir dir;
};

TEST_F(SurveyPointsTest, PlacedAsTheProgramPlacesThemWithReadings) {
    const std::string path = dir.File("s.ktd");
    Bytes bytes = FileBuilder()
                      .Location(144000000, -268200000, 2)
                      .Reading(-72 * 256, 0x5E, "LAB", 0x11)
                      .Reading(-60 * 256 + 128, 0x01, "GUEST")
                      .Location(144003600, -268196400, 0, 1)
                      .Location(143996400, -268203600, 1)
                      .Reading(-105 * 256, 0x02, "FAR")
                      .bytes();
    bytes[33 + 8] = 6;  // 2026-06-11 10:20:30
    bytes[33 + 9] = 11;
    collection::Put16(&bytes[33 + 10], 2026);
    bytes[33 + 12] = 10;
    bytes[33 + 13] = 20;
    bytes[33 + 14] = 30;
    WriteBytes(path, bytes);

    Survey survey;
    std::string error;
    ASSERT_TRUE(analysis::LoadSurvey(path, projection, survey, error)) << error;
    EXPECT_EQ(survey.problem, "");

    // The program's loader, for comparison.
    SiteDataWorld world;
    world.data.SetProjection(&projection);
    world.data.SetPath(path);
    ASSERT_TRUE(world.data.LoadSurvey());
    const auto taps = world.Points();
    ASSERT_EQ(taps.size(), 3u);

    ASSERT_EQ(survey.points.size(), 2u);
    ASSERT_EQ(survey.dynamicAps.size(), 1u);
    EXPECT_EQ(survey.points[0].x, taps[0].x);
    EXPECT_EQ(survey.points[0].y, taps[0].y);
    EXPECT_EQ(survey.points[0].x, 500);
    EXPECT_EQ(survey.points[0].y, 1000);
    EXPECT_EQ(survey.points[0].strongest, -59);  // -59.5 truncated toward zero
    EXPECT_EQ(survey.dynamicAps[0].x, taps[1].x);
    EXPECT_EQ(survey.dynamicAps[0].y, taps[1].y);
    EXPECT_EQ(survey.points[1].x, taps[2].x);
    EXPECT_EQ(survey.points[1].y, taps[2].y);
    EXPECT_EQ(survey.points[1].strongest, -100);
    EXPECT_EQ(survey.points[1].offset, taps[2].offset);

    ASSERT_EQ(survey.points[0].readings.size(), 2u);
    EXPECT_EQ(survey.points[0].readings[0].ssid, "LAB");
    EXPECT_EQ(survey.points[0].readings[0].signal, -72);
    EXPECT_EQ(survey.points[0].readings[0].mac[5], 0x5E);
    EXPECT_EQ(survey.points[0].readings[1].signal, -59);
    EXPECT_EQ(survey.points[1].readings[0].signal, -105);
    EXPECT_TRUE(survey.points[0].hasTime);
    EXPECT_EQ(survey.points[0].time, 1781173230);
    EXPECT_FALSE(survey.points[1].hasTime);  // all-zero date
}

TEST_F(SurveyPointsTest, CutFileKeepsTheCompletePartAndSaysWhere) {
    const std::string path = dir.File("cut.ktd");
    Bytes bytes = FileBuilder()
                      .Location(144000000, -268200000, 1)
                      .Reading(-50 * 256, 1, "A")
                      .Location(144000000, -268200000, 3)
                      .Reading(-40 * 256, 2, "B")
                      .bytes();
    WriteBytes(path, bytes);
    Survey survey;
    std::string error;
    ASSERT_TRUE(analysis::LoadSurvey(path, projection, survey, error)) << error;
    ASSERT_EQ(survey.points.size(), 2u);
    EXPECT_EQ(survey.points[1].readings.size(), 1u);
    EXPECT_EQ(survey.points[1].strongest, -40);
    EXPECT_NE(survey.problem.find("point 2"), std::string::npos) << survey.problem;

    bytes = FileBuilder().Location(0, 0, 0).bytes();
    bytes.resize(bytes.size() + 20);  // a location record cut short
    WriteBytes(path, bytes);
    ASSERT_TRUE(analysis::LoadSurvey(path, projection, survey, error));
    EXPECT_EQ(survey.points.size(), 1u);
    EXPECT_NE(survey.problem.find("location record of point 2"), std::string::npos)
        << survey.problem;
}

TEST_F(SurveyPointsTest, UnreadableFilesAreRefusedWithAMessage) {
    Survey survey;
    std::string error;
    EXPECT_FALSE(analysis::LoadSurvey(dir.File("missing.ktd"), projection, survey, error));
    EXPECT_NE(error.find("missing.ktd"), std::string::npos) << error;
    const std::string path = dir.File("short.ktd");
    WriteBytes(path, Bytes(10, 0));
    error.clear();
    EXPECT_FALSE(analysis::LoadSurvey(path, projection, survey, error));
    EXPECT_NE(error, "");
}

TEST(UtcSeconds, CalendarEdges) {
    std::int64_t t = 0;
    ASSERT_TRUE(analysis::UtcSeconds(1970, 1, 1, 0, 0, 0, t));
    EXPECT_EQ(t, 0);
    ASSERT_TRUE(analysis::UtcSeconds(2024, 2, 29, 23, 59, 59, t));
    EXPECT_EQ(t, 1709251199);
    EXPECT_FALSE(analysis::UtcSeconds(2023, 2, 29, 0, 0, 0, t));
    EXPECT_FALSE(analysis::UtcSeconds(2024, 13, 1, 0, 0, 0, t));
    EXPECT_FALSE(analysis::UtcSeconds(0, 0, 0, 0, 0, 0, t));
    EXPECT_FALSE(analysis::UtcSeconds(2024, 4, 31, 0, 0, 0, t));
}

}  // namespace
}  // namespace ketrion::testing
