// Inverse distance weighting: the indexed, threaded run against the
// brute-force reference node by node, and the rules at the edges (a node on a
// point, nothing in range, equal distances, the radius itself).

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/Idw.h"

namespace ketrion::analysis {
namespace {

std::vector<Sample> RandomSamples(std::mt19937& rng, int count, int width, int height,
                                  int lattice) {
    // Integer positions on a coarse lattice make equal distances and repeated
    // positions common, so the tie rules are exercised, not just the easy case.
    std::uniform_int_distribution<int> x(0, width / lattice);
    std::uniform_int_distribution<int> y(0, height / lattice);
    std::uniform_int_distribution<int> v(-100, -30);
    std::vector<Sample> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(
            Sample{double(x(rng) * lattice), double(y(rng) * lattice), double(v(rng))});
    return samples;
}

TEST(IdwGrid, IndexedRunMatchesBruteForceNodeByNode) {
    std::mt19937 rng(20240611);
    struct Case {
        int count, width, height, lattice;
        IdwParams params;
    };
    const Case cases[] = {
        {1500, 400, 300, 1, IdwParams{}},
        {3000, 300, 200, 2, IdwParams{4, 25, 5, 2}},
        {800, 257, 131, 4, IdwParams{3, 40, 1, 1}},
        {2000, 200, 200, 2, IdwParams{2, 15.5, 12, 3.5}},
        {50, 500, 400, 1, IdwParams{5, 60, 30, 0}},
        {400, 120, 90, 8, IdwParams{1, 9, 4, 2}},
    };
    for (const Case& c : cases) {
        const std::vector<Sample> samples =
            RandomSamples(rng, c.count, c.width, c.height, c.lattice);
        IdwInterpolator idw(samples, c.params);
        RunControl control;
        control.threads = 3;
        const Grid fast = idw.Run(c.width, c.height, control);
        const Grid slow = BruteForceGrid(samples, c.params, c.width, c.height);
        ASSERT_EQ(fast.columns, slow.columns);
        ASSERT_EQ(fast.rows, slow.rows);
        int mismatches = 0;
        int valued = 0;
        for (int j = 0; j < slow.rows; ++j)
            for (int i = 0; i < slow.columns; ++i) {
                valued += Grid::HasValue(slow.At(i, j)) ? 1 : 0;
                if (fast.At(i, j) != slow.At(i, j) && ++mismatches <= 5)
                    ADD_FAILURE() << "node (" << i << ", " << j << ") of case with " << c.count
                                  << " points: " << fast.At(i, j) << " vs " << slow.At(i, j);
            }
        EXPECT_EQ(mismatches, 0);
        // The case must say something: some nodes valued, some not.
        EXPECT_GT(valued, 0);
    }
}

TEST(IdwGrid, GridCoversThePlanWithNodesAtCellCentres) {
    const std::vector<Sample> samples = {{0, 0, -50}};
    IdwInterpolator idw(samples, IdwParams{4, 1000, 12, 2});
    const Grid grid = idw.Run(10, 9);
    EXPECT_EQ(grid.columns, 3);  // ceil(10 / 4)
    EXPECT_EQ(grid.rows, 3);     // ceil(9 / 4)
    EXPECT_EQ(grid.cell, 4);
    const Grid exact = idw.Run(8, 4);
    EXPECT_EQ(exact.columns, 2);
    EXPECT_EQ(exact.rows, 1);
    // One sample in range: every node takes its value.
    for (double v : grid.values)
        EXPECT_EQ(v, -50);
}

TEST(IdwGrid, NodeOnAPointTakesTheFirstSuchPointsValue) {
    // Node (1, 1) with cell 4 is at (6, 6).
    const std::vector<Sample> samples = {{7, 6, -90}, {6, 6, -55}, {6, 6, -40}, {5, 6, -30}};
    const IdwParams params{4, 50, 12, 2};
    IdwInterpolator idw(samples, params);
    EXPECT_EQ(idw.ValueAt(6, 6), -55);
    EXPECT_EQ(BruteForceValueAt(samples, params, 6, 6), -55);
    EXPECT_EQ(idw.Run(12, 12).At(1, 1), -55);
}

TEST(IdwGrid, NoPointWithinTheRadiusLeavesNoValueAndTheRadiusItselfCounts) {
    const IdwParams params{4, 120, 12, 2};
    // Node (0, 0) at (2, 2): exactly 120 away is in range, a little more is not.
    const std::vector<Sample> onEdge = {{2, 122, -70}};
    EXPECT_EQ(IdwInterpolator(onEdge, params).ValueAt(2, 2), -70);
    const std::vector<Sample> outside = {{2, 123, -70}, {125, 2, -60}};
    IdwInterpolator far(outside, params);
    EXPECT_EQ(far.ValueAt(2, 2), Grid::kNoData);
    EXPECT_EQ(far.Run(4, 4).At(0, 0), Grid::kNoData);
    // No samples at all: a grid of nothing, not a crash.
    const Grid empty = IdwInterpolator({}, params).Run(40, 30);
    ASSERT_EQ(empty.values.size(), 10u * 8u);
    for (double v : empty.values)
        EXPECT_EQ(v, Grid::kNoData);
}

TEST(IdwGrid, EqualDistancesKeepTheEarlierPoints) {
    IdwParams one{4, 100, 1, 2};
    // Four samples 10 away from (50, 50); only one may be used.
    std::vector<Sample> samples = {{60, 50, -40}, {40, 50, -80}, {50, 60, -60}, {50, 40, -70}};
    EXPECT_EQ(IdwInterpolator(samples, one).ValueAt(50, 50), -40);
    std::swap(samples[0], samples[2]);
    EXPECT_EQ(IdwInterpolator(samples, one).ValueAt(50, 50), -60);
    // Two of them, plus a nearer one that always counts.
    IdwParams three{4, 100, 3, 2};
    samples.push_back({53, 54, -90});  // 5 away
    const double expected = (-90 / 25.0 + -60 / 100.0 + -80 / 100.0) / (1 / 25.0 + 2 / 100.0);
    EXPECT_DOUBLE_EQ(IdwInterpolator(samples, three).ValueAt(50, 50), expected);
    EXPECT_DOUBLE_EQ(BruteForceValueAt(samples, three, 50, 50), expected);
}

TEST(IdwGrid, WeightsFollowThePower) {
    const std::vector<Sample> samples = {{11, 10, -40},
                                         {10, 12, -80}};  // 1 and 2 away from (10, 10)
    EXPECT_DOUBLE_EQ(IdwInterpolator(samples, IdwParams{4, 10, 12, 2}).ValueAt(10, 10),
                     (-40 + -80 / 4.0) / 1.25);
    EXPECT_DOUBLE_EQ(IdwInterpolator(samples, IdwParams{4, 10, 12, 1}).ValueAt(10, 10),
                     (-40 + -80 / 2.0) / 1.5);
    EXPECT_DOUBLE_EQ(IdwInterpolator(samples, IdwParams{4, 10, 12, 0}).ValueAt(10, 10), -60);
}

TEST(IdwGrid, ThreadCountProgressAndCancelLeaveValuesAlone) {
    std::mt19937 rng(7);
    const std::vector<Sample> samples = RandomSamples(rng, 500, 300, 300, 1);
    IdwInterpolator idw(samples, IdwParams{2, 30, 6, 2});
    RunControl single;
    single.threads = 1;
    int lastDone = -1, lastTotal = -1;
    RunControl many;
    many.threads = 7;
    many.progress = [&](int done, int total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
    };
    const Grid a = idw.Run(300, 300, single);
    const Grid b = idw.Run(300, 300, many);
    EXPECT_EQ(a.values, b.values);
    EXPECT_EQ(lastDone, 150);
    EXPECT_EQ(lastTotal, 150);

    std::atomic<bool> cancel{true};
    RunControl cancelled;
    cancelled.cancel = &cancel;
    EXPECT_TRUE(idw.Run(300, 300, cancelled).values.empty());
}

TEST(IdwGrid, BruteForceFillsOnlyTheRowsAskedFor) {
    const std::vector<Sample> samples = {{10, 10, -50}};
    const Grid part = BruteForceGrid(samples, IdwParams{4, 1000, 12, 2}, 40, 40, 2, 3);
    for (int j = 0; j < part.rows; ++j)
        EXPECT_EQ(Grid::HasValue(part.At(0, j)), j >= 2 && j < 5) << "row " << j;
}

TEST(IdwGrid, UnusableParametersAreNamed) {
    EXPECT_FALSE(CheckParams(IdwParams{}));
    EXPECT_TRUE(CheckParams(IdwParams{0, 120, 12, 2}));
    EXPECT_TRUE(CheckParams(IdwParams{4, -1, 12, 2}));
    EXPECT_TRUE(CheckParams(IdwParams{4, NAN, 12, 2}));
    EXPECT_TRUE(CheckParams(IdwParams{4, 120, 0, 2}));
    EXPECT_TRUE(CheckParams(IdwParams{4, 120, 12, INFINITY}));
    EXPECT_TRUE(CheckParams(IdwParams{4, 120, 12, -1}));
}

}  // namespace
}  // namespace ketrion::analysis
