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
    // A nearer one and two of the four: the two left out lie where the kept
    // ones do, so the kept ones reach no farther and weigh nothing.
    IdwParams three{4, 100, 3, 2};
    samples.push_back({53, 54, -90});  // 5 away
    EXPECT_DOUBLE_EQ(IdwInterpolator(samples, three).ValueAt(50, 50), -90);
    EXPECT_DOUBLE_EQ(BruteForceValueAt(samples, three, 50, 50), -90);
    // All five kept: they reach the radius.
    IdwParams five{4, 100, 5, 2};
    const double near = 0.95 * 0.95 / 25, far = 0.9 * 0.9 / 100;
    const double expected = (-90 * near + (-60 - 80 - 40 - 70) * far) / (near + 4 * far);
    EXPECT_DOUBLE_EQ(IdwInterpolator(samples, five).ValueAt(50, 50), expected);
    EXPECT_DOUBLE_EQ(BruteForceValueAt(samples, five, 50, 50), expected);
}

TEST(IdwGrid, WeightsFollowThePowerAndFallToZeroAtTheReach) {
    // 1 and 2 away from (10, 10), radius 10: tapers 0.9^2 and 0.8^2.
    const std::vector<Sample> samples = {{11, 10, -40}, {10, 12, -80}};
    for (double power : {2.0, 1.0, 0.0, 3.5}) {
        const double w1 = 0.81, w2 = 0.64 / std::pow(2.0, power);
        EXPECT_DOUBLE_EQ(IdwInterpolator(samples, IdwParams{4, 10, 12, power}).ValueAt(10, 10),
                         (-40 * w1 + -80 * w2) / (w1 + w2))
            << power;
    }
}

TEST(IdwGrid, NoSeamsWhereTheNearestPointsChangeOrAtTheRadius) {
    // Walk lines across scattered points: the nearest set and the points
    // within the radius change many times along the way. Where the value moves
    // noticeably in one step, the step is walked again a hundred times finer:
    // a steep slope spreads over the fine steps, a seam stays one jump.
    std::mt19937 rng(4242);
    const std::vector<Sample> samples = RandomSamples(rng, 300, 400, 400, 5);
    constexpr double kStep = 0.02;
    constexpr double kNoticeable = 0.1;  // dB
    for (const IdwParams& params : {IdwParams{4, 60, 3, 2}, IdwParams{4, 25, 12, 2},
                                    IdwParams{4, 80, 2, 2}, IdwParams{4, 40, 5, 1}}) {
        IdwInterpolator idw(samples, params);
        int compared = 0;
        double worst = 0;  // the largest fine jump as a share of its coarse one
        for (double y : {101.3, 287.77}) {
            double last = idw.ValueAt(0, y);
            for (double x = kStep; x <= 400; x += kStep) {
                const double v = idw.ValueAt(x, y);
                compared += Grid::HasValue(v) && Grid::HasValue(last) ? 1 : 0;
                if (Grid::HasValue(v) && Grid::HasValue(last) && std::abs(v - last) > kNoticeable) {
                    double fine = 0;
                    double before = last;
                    for (int k = 1; k <= 100; ++k) {
                        const double u = idw.ValueAt(x - kStep + k * kStep / 100, y);
                        fine = std::max(fine, std::abs(u - before));
                        before = u;
                    }
                    worst = std::max(worst, fine / std::abs(v - last));
                }
                last = v;
            }
        }
        EXPECT_GT(compared, 30000);
        EXPECT_LT(worst, 0.1) << "radius " << params.radius << ", " << params.maxPoints
                              << " points";
    }
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
