// The part of the plan a heatmap speaks for: the points' concave hull (an L
// keeps its shape, every node inside has a value), a drawn boundary, shares
// of the area, and the boundary file's checks.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis/Metrics.h"
#include "analysis/SurveyedArea.h"

namespace ketrion::analysis {
namespace {

// Survey points on a 20-pixel lattice filling an L: a bar along the top
// (x 20..300, y 20..80) and one down the left (x 20..80, y 20..300).
PlacedSurvey LShapedSurvey() {
    PlacedSurvey survey;
    for (int y = 20; y <= 300; y += 20)
        for (int x = 20; x <= 300; x += 20) {
            if (x > 80 && y > 80)
                continue;
            survey.points.push_back(
                PlacedPoint{x, y, -40 - (x + y) / 10, survey.records.points.size()});
            survey.records.points.emplace_back();
        }
    return survey;
}

TEST(SurveyedArea, HullOfAnLShapeLeavesTheCornerOutAndFillsBetweenPoints) {
    const PlacedSurvey survey = LShapedSurvey();
    const IdwParams params{4, 40, 12, 2};
    const SurveyedArea area = AreaOf(survey, params);
    const Grid grid = MetricGrid(survey, MetricSpec{}, params, 320, 320);
    const auto valued = [&](double x, double y) {
        return Grid::HasValue(grid.At(static_cast<int>(x / 4), static_cast<int>(y / 4)));
    };
    // The empty quarter of the L is outside, though its near part is within
    // the radius of points on both legs.
    for (auto [x, y] : {std::pair{200.0, 200.0}, {110.0, 110.0}, {300.0, 300.0}, {98.0, 150.0}})
        EXPECT_FALSE(valued(x, y)) << x << ", " << y;
    // Between points of each leg and at the inner corner: filled.
    for (auto [x, y] : {std::pair{30.0, 30.0}, {250.0, 50.0}, {50.0, 250.0}, {78.0, 78.0}})
        EXPECT_TRUE(valued(x, y)) << x << ", " << y;
    // Every node in the area has a value, and none outside it has one.
    const std::vector<std::uint8_t> mask = area.Mask(grid.columns, grid.rows, grid.cell);
    ASSERT_EQ(mask.size(), grid.values.size());
    for (std::size_t n = 0; n < mask.size(); ++n)
        ASSERT_EQ(mask[n] == 1, Grid::HasValue(grid.values[n])) << "node " << n;
}

TEST(SurveyedArea, EveryNodeInTheHullOfScatteredPointsHasAValue) {
    // Scattered points with gaps of every size: the hull must never claim a
    // node with no point within the radius (a blank patch inside the area).
    std::mt19937 rng(1906);
    struct Case {
        int count;
        int extent;
        IdwParams params;
    };
    for (const Case& c : {Case{60, 400, {4, 40, 12, 2}}, Case{300, 600, {3, 25, 6, 2}},
                          Case{25, 300, {2, 70, 3, 1}}, Case{500, 500, {5, 18, 12, 3}}}) {
        std::uniform_int_distribution<int> at(0, c.extent);
        PlacedSurvey survey;
        for (int n = 0; n < c.count; ++n) {
            survey.points.push_back(PlacedPoint{at(rng), at(rng), -50, 0});
            survey.records.points.resize(1);
        }
        const SurveyedArea area = AreaOf(survey, c.params);
        EXPECT_FALSE(area.Triangles().empty());
        const Grid grid = MetricGrid(survey, MetricSpec{}, c.params, c.extent, c.extent);
        const std::vector<std::uint8_t> mask = area.Mask(grid.columns, grid.rows, grid.cell);
        int inside = 0;
        for (std::size_t n = 0; n < mask.size(); ++n) {
            inside += mask[n];
            EXPECT_EQ(mask[n] == 1, Grid::HasValue(grid.values[n])) << "node " << n;
        }
        EXPECT_GT(inside, 0);
    }
}

TEST(SurveyedArea, PointsInALineOrFewerThanThreeStillHaveTheirSurroundings) {
    // A walk down a corridor makes no triangle; each point keeps its reach.
    const std::vector<PlanPoint> line = {{10, 50}, {30, 50}, {50, 50}, {70, 50}};
    const SurveyedArea area = SurveyedArea::Hull(line, 40, 10);
    EXPECT_TRUE(area.Triangles().empty());
    const std::vector<std::uint8_t> mask = area.Mask(25, 25, 4);  // nodes at 2, 6, 10, ...
    EXPECT_EQ(mask[12 * 25 + 7], 1);                              // (30, 50)
    EXPECT_EQ(mask[12 * 25 + 20], 0);                             // (82, 50)
    EXPECT_EQ(mask[8 * 25 + 7], 0);                               // (30, 34)
    EXPECT_TRUE(SurveyedArea::Hull({}, 40, 10).Mask(10, 10, 4) ==
                std::vector<std::uint8_t>(100, 0));
    // Many points with a small reach (drawn disc by disc) and one beyond the
    // plan (found per node): the same nodes either way.
    std::vector<PlanPoint> many;
    for (int n = 0; n < 400; ++n)
        many.push_back({double(n % 20) * 7 + 300, double(n / 20) * 3 - 40});
    for (double reach : {5.0, 180.0, 400.0}) {
        const std::vector<std::uint8_t> fast = SurveyedArea::Hull(many, 0, reach).Mask(50, 40, 4);
        for (int j = 0; j < 40; ++j)
            for (int i = 0; i < 50; ++i) {
                bool near = false;
                for (const PlanPoint& p : many)
                    near |= std::hypot(p.x - (i + 0.5) * 4, p.y - (j + 0.5) * 4) <= reach;
                ASSERT_EQ(fast[static_cast<std::size_t>(j) * 50 + i] == 1, near)
                    << i << ", " << j << " reach " << reach;
            }
    }
    // Points on one circle (a square lattice) make cells of four corners.
    const std::vector<PlanPoint> square = {{0, 0}, {40, 0}, {40, 40}, {0, 40}};
    const std::vector<std::uint8_t> cell = SurveyedArea::Hull(square, 40, 0).Mask(10, 10, 4);
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(cell[static_cast<std::size_t>(j) * 10 + i], 1) << i << ", " << j;
}

TEST(SurveyedArea, BoundaryDecidesTheAreaAndUnsurveyedPartsCountAgainst) {
    // A U-shaped room outline drawn by the user; points only in its left part.
    const SurveyedArea area = SurveyedArea::Boundary(
        {{0, 0}, {100, 0}, {100, 100}, {70, 100}, {70, 30}, {30, 30}, {30, 100}, {0, 100}});
    PlacedSurvey survey;
    for (int y = 10; y <= 90; y += 20) {
        survey.points.push_back(PlacedPoint{15, y, -50, survey.records.points.size()});
        survey.records.points.emplace_back();
    }
    const IdwParams params{10, 25, 12, 2};
    const Grid grid = MetricGrid(survey, MetricSpec{}, params, 100, 100, {}, &area);
    const std::vector<std::uint8_t> mask = area.Mask(grid.columns, grid.rows, grid.cell);
    EXPECT_EQ(mask[5 * 10 + 5], 0);  // (55, 55): the gap of the U
    EXPECT_EQ(mask[5 * 10 + 1], 1);  // (15, 55)
    EXPECT_EQ(mask[8 * 10 + 8], 1);  // (85, 85): inside, no point near
    EXPECT_FALSE(Grid::HasValue(grid.At(5, 5)));
    EXPECT_FALSE(Grid::HasValue(grid.At(8, 8)));
    EXPECT_TRUE(Grid::HasValue(grid.At(1, 5)));
    const AreaShare share = ShareOfArea(grid, mask, -60);
    EXPECT_EQ(share.nodes, 100u - 4u * 7u);
    EXPECT_LT(share.valued, share.nodes);
    EXPECT_EQ(share.meeting, share.valued);
    EXPECT_DOUBLE_EQ(share.Share(), double(share.valued) / double(share.nodes));
    EXPECT_EQ(ShareOfArea(grid, mask, -40).meeting, 0u);
    EXPECT_EQ(AreaShare{}.Share(), 0);
}

TEST(SurveyedArea, BoundaryFilesAreCheckedBeforeUse) {
    std::string error;
    const auto plain = ParseBoundaryJson("[[0,0],[100,0],[100,50.5]]", error);
    ASSERT_TRUE(plain) << error;
    ASSERT_EQ(plain->size(), 3u);
    EXPECT_EQ((*plain)[2].y, 50.5);
    EXPECT_TRUE(
        ParseBoundaryJson(R"({"boundary": [[0,0],[10,0],[0,10]], "name": "floor 1"})", error));
    const struct {
        std::string text;
        const char* reason;
    } bad[] = {
        {"", "not JSON"},
        {"[[0,0],[1,0],", "not JSON"},
        {R"({"vertices": []})", "no \"boundary\""},
        {R"({"boundary": 3})", "not a list"},
        {"[[0,0],[1,0]]", "three vertices"},
        {"[[0,0],[1,0],[2,0]]", "no area"},
        {"[[0,0],[1,0],[1]]", "vertex 3"},
        {"[[0,0],[1,0],[1,\"2\"]]", "vertex 3"},
        {"[[0,0],[1e300,0],[1,1]]", "vertex 2"},
        {"[[0,0],[1,0],[1,1,1]]", "vertex 3"},
        {"[0,1,2]", "vertex 1"},
        {std::string(1'000'000, '['), "nested deeper"},
        {R"({"boundary": [[[[0,0]]]]})", "nested deeper"},
        {R"({"boundary": [[0,0],[1,0],[1,1]], "note": "[[[[[["})", ""},  // brackets in a string
    };
    for (const auto& b : bad) {
        error.clear();
        if (b.reason[0] == '\0') {
            EXPECT_TRUE(ParseBoundaryJson(b.text, error)) << error;
            continue;
        }
        EXPECT_FALSE(ParseBoundaryJson(b.text, error)) << b.text;
        EXPECT_NE(error.find(b.reason), std::string::npos) << b.text << ": " << error;
    }
    std::string many = "[";
    for (std::size_t n = 0; n <= kLargestBoundary; ++n)
        many += (n ? ",[" : "[") + std::to_string(n % 7) + "," + std::to_string(n % 5) + "]";
    many += "]";
    EXPECT_FALSE(ParseBoundaryJson(many, error));
    EXPECT_NE(error.find("more than"), std::string::npos) << error;
}

}  // namespace
}  // namespace ketrion::analysis
