// The shared store on a real PostgreSQL server started for the run (as the
// tests start it): pushing a synthetic campus slice (readings per second,
// through COPY), and one floor's heatmap from the store against the same
// heatmap from the collection file.
//
// The slice is KETRION_BENCH_FLOORS floors (default 2) of
// KETRION_BENCH_POINTS points (default 50,000) with 20 readings each: the
// campus-sized 20 floors are a matter of setting the variable on a machine
// with the disk and time for 20 million readings.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/Push.h"
#include "support/PgServer.h"
#include "support/RunProgram.h"
#include "support/SyntheticSurvey.h"
#include "survey/ProjectionMaker.h"

namespace {

using namespace ketrion;
using namespace ketrion::testing;

int FromEnvironment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

// The server, the slice's files and a projection for its floors, made once.
struct Campus {
    static constexpr int kPlan = 320;  // plan pixels a side
    std::filesystem::path dir;
    PgServer server;
    std::vector<std::string> floors;
    std::string projection;
    std::int64_t readings = 0;
    int databases = 0;

    Campus() {
        dir =
            std::filesystem::temp_directory_path() / ("ketrion-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        const int count = FromEnvironment("KETRION_BENCH_FLOORS", 2);
        for (int f = 0; f < count; ++f) {
            SyntheticSpec spec;
            spec.points = FromEnvironment("KETRION_BENCH_POINTS", 50000);
            spec.readingsPerPoint = 20;
            spec.accessPoints = 400;
            spec.seed = f + 1;
            spec.step = 3600;  // one plan pixel between points
            spec.floor = std::to_string(f + 1);
            floors.push_back((dir / ("floor" + std::to_string(f + 1) + ".ktd")).string());
            WriteSyntheticSurvey(floors.back(), spec);
            readings += static_cast<std::int64_t>(spec.points) * spec.readingsPerPoint;
        }
        // x = 1000 * lon + 74550, y = -1000 * lat + 40300: the points' grid
        // starts at plan (50, 300) and grows right and up.
        ktp::AffineFit fit;
        fit.xLon = 1000;
        fit.xOrigin = 74550;
        fit.yLat = -1000;
        fit.yOrigin = 40300;
        std::vector<std::uint8_t> rgb(kPlan * kPlan * 3, 200);
        const auto bitmap = ktp::MakeBitmap24(kPlan, kPlan, rgb.data(), kPlan * 3);
        const auto bytes = ktp::MakeProjectionFile(fit, bitmap);
        projection = (dir / "plan.ktp").string();
        std::FILE* file = std::fopen(projection.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    ~Campus() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string NewDatabase() { return server.NewDatabase("bench_" + std::to_string(databases++)); }
};

Campus& TheCampus() {
    static Campus campus;
    return campus;
}

// Every floor pushed into a new database, one transaction per floor.
void BM_PushCampusSlice(benchmark::State& state) {
    Campus& campus = TheCampus();
    if (!campus.server.Ok()) {
        state.SkipWithError(campus.server.Error().c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const std::string url = campus.NewDatabase();
        state.ResumeTiming();
        store::PushOptions options;
        options.target.site = "campus";
        options.target.building = "library";
        std::string error;
        if (!store::PushFiles(url, campus.floors, options, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    state.counters["readings/s"] = benchmark::Counter(
        static_cast<double>(campus.readings) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
    state.counters["readings"] = static_cast<double>(campus.readings);
}
BENCHMARK(BM_PushCampusSlice)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// One floor's heatmap grid by ktd, from the file (arg 0) or from the store (arg 1).
void BM_FloorHeatmap(benchmark::State& state) {
    Campus& campus = TheCampus();
    if (!campus.server.Ok()) {
        state.SkipWithError(campus.server.Error().c_str());
        return;
    }
    static const std::string url = [&] {
        const std::string u = campus.NewDatabase();
        store::PushOptions options;
        options.target.site = "campus";
        std::string error;
        store::PushFiles(u, {campus.floors.front()}, options, error);
        return u;
    }();
    const bool fromStore = state.range(0) == 1;
    const std::string grid = (campus.dir / "floor.asc").string();
    std::vector<std::string> args = {"heatmap", "--projection", campus.projection, "--grid", grid};
    if (fromStore)
        args.insert(args.end(), {"--db", url, "--site", "campus", "--floor", "1"});
    else
        args.push_back(campus.floors.front());
    for (auto _ : state) {
        const ProgramRun run = RunProgram(ToolPath("ktd"), args);
        if (run.status != 0) {
            state.SkipWithError(run.err.c_str());
            return;
        }
    }
    state.SetLabel(fromStore ? "from the store" : "from the file");
}
BENCHMARK(BM_FloorHeatmap)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
