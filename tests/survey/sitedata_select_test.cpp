// Selecting a point on the plan and listing what was heard there.

#include <gtest/gtest.h>

#include <climits>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

class SelectTest : public ::testing::Test {
protected:
    void SetUp() override {
        w.data.SetPath(dir.File("s.ktd"));
        ASSERT_TRUE(w.data.NewCollection());
    }
    // Records a survey point at (x, y) hearing the given access points.
    void PointAt(int x, int y, const std::vector<ApSpec>& aps = {}) {
        w.SetPosition(x, y);
        for (const ApSpec& ap : aps)
            w.AddAp(ap);
        ASSERT_TRUE(w.Record());
    }
    TempDir dir;
    SiteDataWorld w;
};

TEST_F(SelectTest, NearestPointWithin40PlanUnits) {
    struct Row {
        const char* legend;
        std::vector<std::pair<int, int>> survey;  // survey points, in recording order
        std::pair<int, int> dynamicAp;            // one dynamic AP after them
        int qx, qy;
        int kind;
        std::int64_t expectedOffset;  // of the selected point; 0 when none
    };
    const std::int64_t p0 = 33, p1 = 33 + 61, ap = 33 + 61 * 2;
    const Row rows[] = {
        {"exactly 40 away", {{100, 100}, {1000, 1000}}, {5000, 5000}, 124, 132, 0, p0},
        {"29, 29 is beyond", {{100, 100}, {1000, 1000}}, {5000, 5000}, 129, 129, -1, 0},
        {"the closer one wins", {{0, 0}, {10, 0}}, {5000, 5000}, 8, 0, 0, p1},
        {"a tie keeps the earlier", {{0, 0}, {10, 0}}, {5000, 5000}, 5, 0, 0, p0},
        {"dynamic AP", {{0, 0}, {10, 0}}, {200, 200}, 210, 210, 1, ap},
        {"far corners do not overflow",
         {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}},
         {0, 0},
         INT_MAX,
         INT_MAX - 40,
         0,
         p1},
        {"nothing near the far corner",
         {{INT_MIN, INT_MIN}, {0, 0}},
         {1, 1},
         INT_MAX,
         INT_MAX,
         -1,
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        SiteDataWorld fresh;
        fresh.data.SetPath(dir.File(std::string("find.ktd")));
        ASSERT_TRUE(fresh.data.NewCollection());
        for (auto [x, y] : row.survey) {
            fresh.SetPosition(x, y);
            ASSERT_TRUE(fresh.Record());
        }
        ASSERT_TRUE(fresh.PlaceAp(row.dynamicAp.first, row.dynamicAp.second));
        EXPECT_EQ(fresh.data.FindNearestPoint(row.qx, row.qy), row.kind);
        CSiteData::PointDetails details = fresh.data.SelectedPoint();
        EXPECT_EQ(details.valid, row.kind >= 0);
        if (row.kind >= 0) {
            EXPECT_EQ(details.point.offset, row.expectedOffset);
        }
    }
}

TEST_F(SelectTest, MissingKeepsThePreviousSelection) {
    EXPECT_EQ(w.data.FindNearestPoint(0, 0), -1);  // empty list
    PointAt(0, 0);
    PointAt(100, 0);
    ASSERT_EQ(w.data.FindNearestPoint(100, 1), 0);
    EXPECT_EQ(w.data.FindNearestPoint(500, 500), -1);
    EXPECT_EQ(w.data.Current().x, 100);
}

TEST_F(SelectTest, ReadingLinesComeFromTheFile) {
    PointAt(0, 0,
            {{{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, "LAB1", -72, 1, 0},
             {{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45}, "", -5, 1, 0}});
    ASSERT_EQ(w.data.FindNearestPoint(0, 0), 0);
    EXPECT_EQ(w.data.FormatReading(1), "1  00-1A-2B-3C-4D-5E -72      LAB1");
    EXPECT_EQ(w.data.FormatReading(2), "2  AB-CD-EF-01-23-45 -5      ");
    EXPECT_EQ(w.data.FormatReading(3), "");  // past the end of the file
    EXPECT_EQ(w.data.FormatReading(0), "");
    EXPECT_EQ(w.data.FormatReading(-5), "");
}

TEST_F(SelectTest, StoredSignalsTruncateTowardZero) {
    struct Row {
        std::int16_t stored;
        const char* shown;
    };
    const Row rows[] = {{-72 * 256, "-72"}, {-72 * 256 + 128, "-71"}, {-72 * 256 - 255, "-72"},
                        {255, "0"},         {-32768, "-128"},         {32767, "127"}};
    FileBuilder builder;
    builder.Location(0, 0, static_cast<std::uint16_t>(std::size(rows)));
    for (const Row& row : rows)
        builder.Reading(row.stored, 0x77, "n");
    WriteBytes(dir.File("signals.ktd"), builder.bytes());
    w.data.SetPath(dir.File("signals.ktd"));
    ASSERT_TRUE(w.data.LoadSurvey());
    ASSERT_EQ(w.data.FindNearestPoint(0, 0), 0);
    CSiteData::PointDetails details = w.data.SelectedPoint();
    ASSERT_EQ(details.lines.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        std::string expected =
            std::to_string(i + 1) + "  00-1A-2B-3C-4D-77 " + rows[i].shown + "      n";
        EXPECT_EQ(w.data.FormatReading(static_cast<int>(i + 1)), expected);
        EXPECT_EQ(details.lines[i], expected);
    }
}

TEST_F(SelectTest, TheDialogsCopyIsStableAcrossAppendsAndDrawing) {
    PointAt(10, 10, {{{1, 1, 1, 1, 1, 1}, "first", -50, 1, 0}});
    ASSERT_EQ(w.data.FindNearestPoint(10, 10), 0);
    CSiteData::PointDetails details = w.data.SelectedPoint();

    PointAt(500, 500,
            {{{2, 2, 2, 2, 2, 2}, "second", -40, 1, 0}, {{3, 3, 3, 3, 3, 3}, "third", -30, 1, 0}});
    ASSERT_TRUE(w.PlaceAp(600, 600));
    int drawn = 0;
    w.data.ForEachPoint([&](const CSiteData::_tap&) { ++drawn; });
    EXPECT_EQ(drawn, 3);

    EXPECT_TRUE(details.valid);
    EXPECT_EQ(details.point.x, 10);
    EXPECT_EQ(details.point.readings, 1);
    EXPECT_EQ(details.lines, std::vector<std::string>{"1  01-01-01-01-01-01 -50      first"});
    EXPECT_EQ(w.data.Current().x, 10);  // appends and drawing leave the selection alone
    EXPECT_EQ(w.data.FormatReading(1), "1  01-01-01-01-01-01 -50      first");
}

TEST_F(SelectTest, DynamicApsAndEmptyPointsHaveNoLines) {
    PointAt(0, 0);
    ASSERT_TRUE(w.PlaceAp(100, 100));
    EXPECT_FALSE(w.data.SelectedPoint().valid);
    ASSERT_EQ(w.data.FindNearestPoint(0, 0), 0);
    EXPECT_TRUE(w.data.SelectedPoint().lines.empty());
    ASSERT_EQ(w.data.FindNearestPoint(100, 100), 1);
    CSiteData::PointDetails details = w.data.SelectedPoint();
    EXPECT_EQ(details.point.kind, 1);
    EXPECT_TRUE(details.lines.empty());
}

}  // namespace
}  // namespace ketrion::testing
