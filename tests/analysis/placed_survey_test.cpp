// Survey points for the analysis are placed by the program's own loader: the
// same plan positions and strongest signals as the site view draws after
// loading the file, with each point's record attached, and dynamic access
// points kept apart.

#include <gtest/gtest.h>

#include "analysis/PlacedSurvey.h"
#include "support/SiteDataFixture.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

using analysis::PlacedSurvey;
using analysis::ReadResult;

class PlacedSurveyTest : public ::testing::Test {
protected:
    PlacedSurveyTest() {
        {
            PlanMap planMap = projection.Map();
            planMap.xLon = 1000;
            planMap.xOrigin = 75000;
            planMap.yLat = -1000;
            planMap.yOrigin = 41000;
            projection.SetMap(planMap);
        }
    }
    CLocation location;
    RecordingPrompt prompt;
    NullSound sound;
    CSiteProjection projection{prompt, sound};
    TempDir dir;
};

TEST_F(PlacedSurveyTest, PlacedAsTheProgramPlacesThem) {
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

    PlacedSurvey survey;
    ASSERT_EQ(analysis::LoadPlacedSurvey(path, projection, survey), ReadResult::Complete)
        << survey.records.damage;

    // The program's loader, for comparison.
    SiteDataWorld world;
    world.data.SetProjection(&projection);
    world.data.SetPath(path);
    ASSERT_TRUE(world.data.LoadSurvey());
    const auto taps = world.Points();
    ASSERT_EQ(taps.size(), 3u);

    ASSERT_EQ(survey.points.size(), 2u);
    ASSERT_EQ(survey.dynamicAps.size(), 1u);
    const auto& first = survey.points[0];
    EXPECT_EQ(first.x, taps[0].x);
    EXPECT_EQ(first.y, taps[0].y);
    EXPECT_EQ(first.x, 500);
    EXPECT_EQ(first.y, 1000);
    EXPECT_EQ(first.strongest, -59);  // -59.5 truncated toward zero
    EXPECT_EQ(survey.Record(first).readings.size(), 2u);
    EXPECT_EQ(survey.Record(first).readings[0].ssid, "LAB");
    EXPECT_EQ(survey.dynamicAps[0].x, taps[1].x);
    EXPECT_EQ(survey.dynamicAps[0].y, taps[1].y);
    EXPECT_EQ(survey.Record(survey.dynamicAps[0]).kind, 1);
    const auto& last = survey.points[1];
    EXPECT_EQ(last.x, taps[2].x);
    EXPECT_EQ(last.y, taps[2].y);
    EXPECT_EQ(last.strongest, -100);  // never below -100
    EXPECT_EQ(survey.Record(last).offset, taps[2].offset);

    std::int64_t from = 0, to = 0;
    ASSERT_TRUE(analysis::TimeSpan(survey, from, to));  // the zero date of the last is left out
    EXPECT_EQ(from, 1781173230);
    EXPECT_EQ(to, 1781173230);
}

TEST_F(PlacedSurveyTest, CutFileKeepsTheCompletePoints) {
    const std::string path = dir.File("cut.ktd");
    WriteBytes(path, FileBuilder()
                         .Location(144000000, -268200000, 1)
                         .Reading(-50 * 256, 1, "A")
                         .Location(144000000, -268200000, 3)
                         .Reading(-40 * 256, 2, "B")
                         .bytes());
    PlacedSurvey survey;
    EXPECT_EQ(analysis::LoadPlacedSurvey(path, projection, survey), ReadResult::Damaged);
    EXPECT_NE(survey.records.damage, "");
    ASSERT_EQ(survey.points.size(), 2u);
    EXPECT_EQ(survey.points[1].strongest, -40);
    EXPECT_EQ(survey.Record(survey.points[1]).readings.size(), 1u);
}

TEST_F(PlacedSurveyTest, UnreadableFilesPlaceNothing) {
    PlacedSurvey survey;
    EXPECT_EQ(analysis::LoadPlacedSurvey(dir.File("missing.ktd"), projection, survey),
              ReadResult::NotOpened);
    EXPECT_NE(survey.records.damage.find("missing.ktd"), std::string::npos);
    const std::string path = dir.File("short.ktd");
    WriteBytes(path, Bytes(10, 0));
    EXPECT_NE(analysis::LoadPlacedSurvey(path, projection, survey), ReadResult::Complete);
    EXPECT_TRUE(survey.points.empty());
    EXPECT_NE(survey.records.damage, "");
}

TEST(UtcSeconds, CalendarEdges) {
    analysis::SurveyPoint p;
    std::int64_t t = 0;
    p.year = 1970, p.month = 1, p.day = 1;
    ASSERT_TRUE(analysis::UtcSeconds(p, t));
    EXPECT_EQ(t, 0);
    p.year = 2024, p.month = 2, p.day = 29, p.hour = 23, p.minute = 59, p.second = 59;
    ASSERT_TRUE(analysis::UtcSeconds(p, t));
    EXPECT_EQ(t, 1709251199);
    p.year = 2023;
    EXPECT_FALSE(analysis::UtcSeconds(p, t));
    p = {};
    EXPECT_FALSE(analysis::UtcSeconds(p, t));
}

}  // namespace
}  // namespace ketrion::testing
