// A site of 5 floors with 50,000 survey points each (6 readings a point, on
// the sample plan): `ktd report` over the whole site against `ktd report` of
// one floor's collection (the goal: the site within five times one floor),
// and a floor switch as the program makes it: the floor's switched-on
// collections read and placed, and its heatmap of the strongest signal
// computed. The reports run the built ktd as a user does (process start
// included); the data is written once into a scratch folder.

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "site/FloorPlan.h"
#include "site/FloorSurvey.h"
#include "site/SiteEditor.h"
#include "site/SiteFile.h"
#include "survey/CollectionFile.h"
#include "survey/ProjectionHeader.h"
#include "survey/SiteProjection.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace ketrion;

constexpr int kFloors = 5;
constexpr int kPointsPerFloor = 50000;
constexpr int kReadingsPerPoint = 6;

// The sample plan spans these degrees (resources/sample/README.md).
constexpr double kSouth = 52.20500, kNorth = 52.20600, kWest = 0.12000, kEast = 0.12200;

const fs::path& Folder() {
    static const fs::path folder = [] {
        std::string name = "ketrion_bench_site_";
        name += std::to_string(::getpid());
        return fs::temp_directory_path() / name;
    }();
    return folder;
}

void WriteFloor(const std::string& path, int level) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t head[collection::kFirstRecord];
    collection::EncodeHeader(1767268800, head);
    bytes.insert(bytes.end(), std::begin(head), std::end(head));
    std::mt19937 rng(static_cast<unsigned>(level) + 1);
    std::uniform_real_distribution<double> lat(kSouth + 0.00005, kNorth - 0.00005),
        lon(kWest + 0.00005, kEast - 0.00005);
    std::uniform_int_distribution<int> signal(-95, -35);
    for (int i = 0; i < kPointsPerFloor; ++i) {
        const std::size_t at = bytes.size();
        bytes.resize(at + collection::kLocationSize + kReadingsPerPoint * collection::kReadingSize,
                     0);
        std::uint8_t* p = &bytes[at];
        collection::Put32(
            p + collection::kLatitudeAt,
            static_cast<std::uint32_t>(static_cast<std::int32_t>(lat(rng) * 3600000.0)));
        collection::Put32(
            p + collection::kLongitudeAt,
            static_cast<std::uint32_t>(static_cast<std::int32_t>(lon(rng) * 3600000.0)));
        p[collection::kMonthAt] = 1;
        p[collection::kDayAt] = 1;
        collection::Put16(p + collection::kYearAt, 2026);
        p[collection::kFixClassAt] = 2;
        collection::Put16(p + collection::kCountAt, kReadingsPerPoint);
        for (int r = 0; r < kReadingsPerPoint; ++r) {
            std::uint8_t* reading = p + collection::kLocationSize + r * collection::kReadingSize;
            collection::Put16(reading + collection::kSignalAt,
                              static_cast<std::uint16_t>(signal(rng) * 256));
            reading[collection::kMacAt + 4] = static_cast<std::uint8_t>(level);
            reading[collection::kMacAt + 5] = static_cast<std::uint8_t>(r);
            reading[collection::kSsidAt] = 'N';
        }
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// The site, written once.
const std::string& SitePath() {
    static const std::string path = [] {
        fs::create_directories(Folder());
        const std::string plan = (Folder() / "plan.ktp").string();
        fs::copy_file(fs::path(KETRION_SOURCE_DIR) / "resources/sample/site.ktp", plan,
                      fs::copy_options::overwrite_existing);
        site::Site s;
        const std::string sitePath = (Folder() / "site.kts").string();
        site::SiteEditor editor(s, sitePath);
        std::string error;
        for (int level = 0; level < kFloors; ++level) {
            std::string name = "F";
            name += std::to_string(level);
            const std::string walk = (Folder() / name).string() + ".ktd";
            WriteFloor(walk, level);
            if (!editor.AddFloor("B", name, level, 4.0 * level, plan, error) ||
                !editor.AddCollection(name, walk, "", true, error))
                std::fprintf(stderr, "bench_site: %s\n", error.c_str());
        }
        site::SiteFile::Save(sitePath, s, error);
        return sitePath;
    }();
    return path;
}

int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::string kKtd = std::string(KETRION_BINARY_DIR) + "/tools/ktd/ktd";

void BM_ReportOneFloor(benchmark::State& state) {
    SitePath();
    const std::string out = (Folder() / "floor.pdf").string();
    for (auto _ : state)
        if (Run({kKtd, "report", "--projection", (Folder() / "plan.ktp").string(),
                 (Folder() / "F0.ktd").string(), "-o", out}) != 0)
            state.SkipWithError("ktd report failed");
}
BENCHMARK(BM_ReportOneFloor)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_ReportSite(benchmark::State& state) {
    const std::string out = (Folder() / "site.pdf").string();
    for (auto _ : state)
        if (Run({kKtd, "report", SitePath(), "-o", out}) != 0)
            state.SkipWithError("ktd report failed");
}
BENCHMARK(BM_ReportSite)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

// A floor switch: read and place the floor's collections, compute its heatmap.
void BM_FloorSwitchHeatmap(benchmark::State& state) {
    std::string error;
    site::Site s;
    site::SiteFile::Load(SitePath(), s, error);
    CLocation location;
    StderrPrompt prompt;
    NullSound sound;
    CSiteProjection projection(prompt, sound);
    const auto info = projection::ReadHeader((Folder() / "plan.ktp").string(), error);
    projection::ApplyMap(*info, projection);
    site::FloorPlan plan;
    site::ReadFloorPlan((Folder() / "plan.ktp").string(), plan, error);
    int level = 0;
    for (auto _ : state) {
        const site::Floor& floor =
            s.buildings[0].floors[static_cast<std::size_t>(level++ % kFloors)];
        site::FloorSurvey survey = site::LoadFloorSurvey(SitePath(), floor, {});
        analysis::PlacedSurvey placed;
        placed.records = std::move(survey.records);
        for (std::size_t i = 0; i < placed.records.points.size(); ++i) {
            const analysis::SurveyPoint& p = placed.records.points[i];
            placed.points.push_back({projection.PlanX(p.latitude, p.longitude),
                                     projection.PlanY(p.latitude, p.longitude), p.Strongest(), i});
        }
        const analysis::Grid grid =
            analysis::MetricGrid(placed, {}, analysis::IdwParams{}, plan.width, plan.height);
        benchmark::DoNotOptimize(grid.values.data());
    }
}
BENCHMARK(BM_FloorSwitchHeatmap)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(Folder(), ignored);
    return 0;
}
