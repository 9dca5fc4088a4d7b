// End to end: the real program surveys the simulated board indoors, with the
// points placed where the autopilot "clicks" (stop and go) or spread along
// its clicks by time (continuous walk), on the sample site's projection.

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "model/Fix.h"
#include "platform/Sound.h"
#include "support/KetrionRun.h"
#include "support/RecordingPrompt.h"
#include "support/SiteDataFixture.h"
#include "support/StoredSurvey.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

const std::string kProjection = std::string(KETRION_SOURCE_DIR) + "/resources/sample/site.ktp";

struct Click {
    double x = 0;
    double y = 0;
    double t = 0;
};

class PlacingRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(projection.LoadProjection(kProjection)); }

    std::string WriteClicks(const std::string& name, const std::vector<Click>& clicks, bool timed) {
        std::string text = "[";
        char item[128];
        for (std::size_t i = 0; i < clicks.size(); ++i) {
            if (timed) {
                std::snprintf(item, sizeof item, "%s{\"x\": %.17g, \"y\": %.17g, \"t\": %.17g}",
                              i ? ", " : "", clicks[i].x, clicks[i].y, clicks[i].t);
            } else {
                std::snprintf(item, sizeof item, "%s{\"x\": %.17g, \"y\": %.17g}", i ? ", " : "",
                              clicks[i].x, clicks[i].y);
            }
            text += item;
        }
        text += "]";
        const std::string path = dir.File(name);
        WriteBytes(path, Bytes(text.begin(), text.end()));
        return path;
    }

    // The point's stored position is the plan position through the
    // projection's inverse map, in the file's units.
    void ExpectStoredAt(const StoredPoint& point, double x, double y) {
        const std::optional<GeoPoint> at = projection.ToGeo(x, y);
        ASSERT_TRUE(at.has_value());
        EXPECT_EQ(point.latitudeUnits, source::UnitsFromDegrees(at->latitude));
        EXPECT_EQ(point.longitudeUnits, source::UnitsFromDegrees(at->longitude));
    }

    TempDir dir;
    RecordingPrompt prompt;
    NullSound sound;
    CSiteProjection projection{prompt, sound};
};

TEST_F(PlacingRun, EachStopIsRecordedExactlyAtItsClick) {
    // Between pixels, on a pixel, near the plan's corner.
    const std::vector<Click> stops = {{100.25, 80.5}, {300, 200.75}, {12.125, 400.875}};
    const std::string collection = dir.File("stops.ktd");
    const ProgramRun run =
        RunKetrion({"--autopilot", "--simulate", "--projection", kProjection, "--stops",
                    WriteClicks("stops.json", stops, false), "--collection", collection},
                   dir.Path());
    ASSERT_FALSE(run.timedOut) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "recorded 3 points to " + collection + "\n") << run.err;

    const StoredSurvey survey = ReadStoredSurvey(collection);
    ASSERT_TRUE(survey.whole);
    ASSERT_TRUE(survey.hasSide) << survey.sideMessage;
    ASSERT_EQ(survey.points.size(), stops.size());
    for (std::size_t i = 0; i < stops.size(); ++i) {
        SCOPED_TRACE("stop " + std::to_string(i + 1));
        const StoredPoint& point = survey.points[i];
        EXPECT_FALSE(point.readings.empty());
        // The surveyor's word, not a receiver's fix.
        EXPECT_EQ(point.fixClass, 0);
        ASSERT_EQ(survey.sidePoints.count(point.offset), 1u);
        const SideStore::Point& side = survey.sidePoints.at(point.offset);
        EXPECT_EQ(side.method, "stop");
        EXPECT_EQ(side.scanSource, "board");
        EXPECT_EQ(side.fixFlag, "");
        EXPECT_EQ(side.planX, stops[i].x);
        EXPECT_EQ(side.planY, stops[i].y);
        ExpectStoredAt(point, stops[i].x, stops[i].y);
    }
}

TEST_F(PlacingRun, WalkReadingsLieOnTheirSegmentsByTheirTimes) {
    // Along, then down; the board's timer asks for a reading every 5 s.
    const std::vector<Click> clicks = {{100, 100, 0}, {400, 100, 10.5}, {400, 300, 16}};
    const std::string collection = dir.File("walk.ktd");
    const ProgramRun run =
        RunKetrion({"--autopilot", "--simulate", "--projection", kProjection, "--walk",
                    WriteClicks("walk.json", clicks, true), "--collection", collection},
                   dir.Path());
    ASSERT_FALSE(run.timedOut) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;

    // Which segment each point was placed on: the clicks say how many they placed.
    std::vector<std::size_t> segmentOf;
    const std::regex line(R"(walk click (\d+) at [^:]*: (\d+) readings placed)");
    for (std::sregex_iterator it(run.err.begin(), run.err.end(), line), end; it != end; ++it) {
        const std::size_t click = std::stoul((*it)[1]);
        ASSERT_GE(click, 1u);
        segmentOf.insert(segmentOf.end(), std::stoul((*it)[2]), click - 1);
    }
    ASSERT_FALSE(segmentOf.empty()) << "no readings placed: " << run.err;
    EXPECT_EQ(run.out,
              "recorded " + std::to_string(segmentOf.size()) + " points to " + collection + "\n")
        << run.err;

    const StoredSurvey survey = ReadStoredSurvey(collection);
    ASSERT_TRUE(survey.whole);
    ASSERT_TRUE(survey.hasSide) << survey.sideMessage;
    ASSERT_EQ(survey.points.size(), segmentOf.size());
    struct Placed {
        double share;     // how far along its segment
        double middleMs;  // the middle of its scan
    };
    std::vector<std::vector<Placed>> bySegment(clicks.size());
    for (std::size_t i = 0; i < survey.points.size(); ++i) {
        SCOPED_TRACE("point " + std::to_string(i + 1));
        const StoredPoint& point = survey.points[i];
        ASSERT_EQ(survey.sidePoints.count(point.offset), 1u);
        const SideStore::Point& side = survey.sidePoints.at(point.offset);
        EXPECT_EQ(side.method, "walk");
        EXPECT_FALSE(side.provisional);
        ASSERT_TRUE(side.planX && side.planY && side.scanStartMs && side.scanEndMs);
        const std::size_t s = segmentOf[i];
        ASSERT_GE(s, 1u);
        const Click& a = clicks[s - 1];
        const Click& b = clicks[s];
        // On the segment: the straight line through both clicks, between them.
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double share =
            ((*side.planX - a.x) * dx + (*side.planY - a.y) * dy) / (dx * dx + dy * dy);
        EXPECT_NEAR((*side.planX - a.x) * dy - (*side.planY - a.y) * dx, 0.0, 1e-6);
        EXPECT_GE(share, 0.0);
        EXPECT_LE(share, 1.0);
        ExpectStoredAt(point, *side.planX, *side.planY);
        bySegment[s].push_back(
            {share, static_cast<double>(*side.scanStartMs + *side.scanEndMs) / 2.0});
    }
    // Along a segment, later scans lie further on, in proportion to the time
    // of their middles: the pace between two of them is the segment's length
    // over its time (the clicks' timers may be late on a loaded machine).
    for (std::size_t s = 1; s < clicks.size(); ++s) {
        const std::vector<Placed>& placed = bySegment[s];
        for (std::size_t i = 1; i < placed.size(); ++i) {
            SCOPED_TRACE("segment " + std::to_string(s) + " reading " + std::to_string(i));
            ASSERT_GT(placed[i].share, placed[i - 1].share);
            const double segmentMs = (placed[i].middleMs - placed[i - 1].middleMs) /
                                     (placed[i].share - placed[i - 1].share);
            const double clickGapMs = (clicks[s].t - clicks[s - 1].t) * 1000.0;
            EXPECT_GT(segmentMs, clickGapMs - 1500.0);
            EXPECT_LT(segmentMs, clickGapMs + 3000.0);
        }
    }
}

}  // namespace
}  // namespace ketrion::testing
