// Inverse distance weighting of 100,000 survey points over a 4000 x 3000 plan
// at the defaults (cell 4: 1000 x 750 nodes, radius 120, 12 points, power 2).
// The indexed run on every core (target: under 0.5 s) runs side by side with
// the brute-force reference over the same nodes. The brute force looks at all
// 100,000 points for each of the 750,000 nodes, so it is timed on a block of
// rows in the middle of the plan; its counter `full_grid_s` scales that block
// to the whole grid (rows cost about the same, the points being spread evenly),
// `full_grid_cpu_s` likewise in CPU time. On a machine shared with other work
// compare CPU times: the wall times then measure the other work too. The
// surveyed area (concave hull and its node mask) is timed on its own.

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <random>
#include <vector>

#include "analysis/Idw.h"

namespace {

using namespace ketrion::analysis;

constexpr int kPoints = 100000;
constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kBruteRows = 3;

const std::vector<Sample>& Points() {
    static const std::vector<Sample> points = [] {
        std::mt19937 rng(42);
        std::uniform_int_distribution<int> x(0, kWidth - 1);
        std::uniform_int_distribution<int> y(0, kHeight - 1);
        std::uniform_int_distribution<int> v(-95, -35);
        std::vector<Sample> p;
        p.reserve(kPoints);
        for (int i = 0; i < kPoints; ++i)
            p.push_back(Sample{double(x(rng)), double(y(rng)), double(v(rng))});
        return p;
    }();
    return points;
}

// Index build and the whole grid, as `ktd heatmap` does it.
void BM_IdwIndexed(benchmark::State& state) {
    RunControl control;
    control.threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        IdwInterpolator idw(Points(), IdwParams{});
        Grid grid = idw.Run(kWidth, kHeight, control);
        benchmark::DoNotOptimize(grid.values.data());
    }
    state.counters["nodes"] = 1000.0 * 750.0;
}
// Process CPU time (all threads) beside the wall time, so that figures taken on
// a busy machine still compare.
BENCHMARK(BM_IdwIndexed)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The surveyed area of the same points: the concave hull's triangulation and
// its mask over the grid, which every heatmap run adds to the interpolation.
void BM_SurveyedAreaHullAndMask(benchmark::State& state) {
    std::vector<PlanPoint> points;
    points.reserve(Points().size());
    for (const Sample& s : Points())
        points.push_back({s.x, s.y});
    const IdwParams params;
    for (auto _ : state) {
        const SurveyedArea area = SurveyedArea::Hull(points, params.radius * kHullEdgeOfRadius,
                                                     params.radius * kPointReachOfRadius);
        const auto mask = area.Mask(kWidth / params.cell, kHeight / params.cell, params.cell);
        benchmark::DoNotOptimize(mask.data());
    }
}
BENCHMARK(BM_SurveyedAreaHullAndMask)->Unit(benchmark::kMillisecond);

// Brute force over a block of rows, scaled to the full grid.
void BM_IdwBruteForceRows(benchmark::State& state) {
    const IdwParams params;
    const int rows = (kHeight + params.cell - 1) / params.cell;
    double seconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        Grid grid = BruteForceGrid(Points(), params, kWidth, kHeight, rows / 2, kBruteRows);
        benchmark::DoNotOptimize(grid.values.data());
        cpuSeconds += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double scale = static_cast<double>(rows) / kBruteRows;
    const auto perRun = static_cast<double>(state.iterations());
    state.counters["rows"] = kBruteRows;
    state.counters["full_grid_s"] = seconds / perRun * scale;
    state.counters["full_grid_cpu_s"] = cpuSeconds / perRun * scale;
}
BENCHMARK(BM_IdwBruteForceRows)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
