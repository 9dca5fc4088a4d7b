// Peak memory and time of the ktd commands that read a whole collection file
// (heatmap, report, aps, export), run as the user runs them on a generated
// campus-size survey: points spread over a 4000 x 3000 plan, three readings
// each from 24 access points. Each command is its own child process; its
// peak resident size comes from wait4's resource usage. Counters: `peak_MB`,
// `file_MB` and `of_budget` (peak / (2 x file + 100 MB): at most 1 meets the
// memory goal). `seconds` is the child's wall time; the report's time over the
// heatmap's is the report's drawing cost. KETRION_BENCH_POINTS sets the point
// count (default 200,000; the loader takes at most 1,000,000); KETRION_BENCH_KTD
// another ktd binary to measure (an older build, for a side-by-side figure).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/ChildRun.h"
#include "survey/CollectionFile.h"
#include "survey/ProjectionMaker.h"

namespace {

using namespace ketrion;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kReadingsPerPoint = 3;
constexpr int kAps = 24;

int PointCount() {
    const char* text = std::getenv("KETRION_BENCH_POINTS");
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : 200000;
}

// The survey and its plan, written once per run and removed at exit.
class Site {
public:
    Site() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ketrion-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_dir = pattern;
        WriteProjection();
        WriteSurvey(PointCount());
    }
    ~Site() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    double FileMb() const { return static_cast<double>(m_surveyBytes) / (1 << 20); }

private:
    // x = 1000 * lon + 74550, y = -1000 * lat + 40045.
    void WriteProjection() {
        ktp::AffineFit fit;
        fit.xLon = 1000;
        fit.xOrigin = 74550;
        fit.yLat = -1000;
        fit.yOrigin = 40045;
        std::vector<std::uint8_t> rgb(std::size_t{kWidth} * kHeight * 3, 220);
        const auto bitmap = ktp::MakeBitmap24(kWidth, kHeight, rgb.data(), kWidth * 3);
        Write(File("site.ktp"), ktp::MakeProjectionFile(fit, bitmap));
    }

    void WriteSurvey(int points) {
        using namespace collection;
        std::uint8_t header[kFirstRecord];
        EncodeHeader(1'700'000'000, header);
        std::vector<std::uint8_t> bytes(header, header + kFirstRecord);
        bytes.reserve(kFirstRecord +
                      std::size_t(points) * (kLocationSize + kReadingsPerPoint * kReadingSize));
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> x(0, kWidth - 1), y(0, kHeight - 1), ap(0, kAps - 1);
        std::uniform_int_distribution<int> signal(-90, -35);
        for (int p = 0; p < points; ++p) {
            std::uint8_t location[kLocationSize] = {};
            Put32(location + kLatitudeAt, static_cast<std::uint32_t>((40045 - y(rng)) * 3600));
            Put32(location + kLongitudeAt, static_cast<std::uint32_t>((x(rng) - 74550) * 3600));
            location[kMonthAt] = 5;
            location[kDayAt] = 14;
            Put16(location + kYearAt, 2026);
            location[kHourAt] = static_cast<std::uint8_t>(9 + p / 3600 % 8);
            location[kMinuteAt] = static_cast<std::uint8_t>(p / 60 % 60);
            location[kSecondAt] = static_cast<std::uint8_t>(p % 60);
            location[kFixClassAt] = 2;
            Put16(location + kCountAt, kReadingsPerPoint);
            bytes.insert(bytes.end(), location, location + kLocationSize);
            for (int r = 0; r < kReadingsPerPoint; ++r) {
                const int which = ap(rng);
                std::uint8_t reading[kReadingSize] = {};
                Put16(reading + kSignalAt, static_cast<std::uint16_t>(signal(rng) * 256));
                const std::uint8_t mac[6] = {0x00, 0x1a, 0x2b,
                                             0x3c, 0x4d, static_cast<std::uint8_t>(which)};
                std::memcpy(reading + kMacAt, mac, sizeof mac);
                std::snprintf(reinterpret_cast<char*>(reading + kSsidAt), kSsidField,
                              "campus-net-%d", which % 4);
                bytes.insert(bytes.end(), reading, reading + kReadingSize);
            }
        }
        m_surveyBytes = bytes.size();
        Write(File("survey.ktd"), bytes);
    }

    static void Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            std::abort();
        std::fclose(file);
    }

    std::string m_dir;
    std::size_t m_surveyBytes = 0;
};

const Site& TheSite() {
    static const Site site;
    return site;
}

// Runs ktd (or KETRION_BENCH_KTD) with `args`.
bench::ChildRun RunKtd(const std::vector<std::string>& args) {
    const char* other = std::getenv("KETRION_BENCH_KTD");
    return bench::RunChild(other != nullptr ? other : KETRION_KTD, args);
}

void RunCommand(benchmark::State& state, std::vector<std::string> args) {
    const Site& site = TheSite();
    for (std::string& a : args) {
        if (a == "KTD")
            a = site.File("survey.ktd");
        else if (a == "KTP")
            a = site.File("site.ktp");
        else if (a.starts_with("OUT"))
            a = site.File(a);
    }
    bench::ChildRun run;
    for (auto _ : state) {
        run = RunKtd(args);
        state.SetIterationTime(run.seconds);
    }
    if (!run.Succeeded())
        state.SkipWithError("ktd failed");
    state.counters["peak_MB"] = run.peakMb;
    state.counters["file_MB"] = site.FileMb();
    state.counters["of_budget"] = run.peakMb / (2 * site.FileMb() + 100);
    state.counters["points"] = PointCount();
}

void BM_Heatmap(benchmark::State& state) {
    RunCommand(state, {"heatmap", "--projection", "KTP", "-o", "OUT.png", "KTD"});
}
void BM_Report(benchmark::State& state) {
    RunCommand(state, {"report", "--projection", "KTP", "-o", "OUT.pdf", "KTD"});
}
void BM_Aps(benchmark::State& state) {
    RunCommand(state, {"aps", "--projection", "KTP", "KTD"});
}
void BM_ExportGeoJson(benchmark::State& state) {
    RunCommand(state, {"export", "--format", "geojson", "-o", "OUT.json", "KTD"});
}

BENCHMARK(BM_Heatmap)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Report)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Aps)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportGeoJson)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
