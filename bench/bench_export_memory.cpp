// Peak memory of the exports against the survey's size: GeoJSON and WiGLE
// CSV written point by point as the file is read (what `ktd export` does for
// them) at 10,000 and 1,000,000 survey points, beside the survey read whole
// first (as before, and as KML still needs). Each run happens in a child
// process whose peak resident size is the counter peak_rss_MB; streaming
// stays flat while reading whole grows with the file.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "analysis/ExportGeoJson.h"
#include "analysis/ExportWigle.h"
#include "analysis/SurveyRecords.h"
#include "survey/CollectionFile.h"

namespace {

using namespace ketrion;
using namespace ketrion::analysis;

constexpr int kReadingsPerPoint = 3;

// Discards what is written, as cheaply as a stream allows.
class NullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Collection files of N survey points, written once per run, removed at exit.
class Files {
public:
    ~Files() {
        if (!m_dir.empty())
            std::filesystem::remove_all(m_dir);
    }
    const std::string& Of(int points) {
        auto found = m_paths.find(points);
        if (found != m_paths.end())
            return found->second;
        if (m_dir.empty()) {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "ketrion-bench-XXXXXX").string();
            if (mkdtemp(pattern.data()) == nullptr)
                std::abort();
            m_dir = pattern;
        }
        const std::string path = m_dir + "/" + std::to_string(points) + ".ktd";
        Write(path, points);
        return m_paths[points] = path;
    }

private:
    static void Write(const std::string& path, int points) {
        std::ofstream out(path, std::ios::binary);
        std::uint8_t header[collection::kHeaderSize + 8] = {};
        collection::Put32(header, collection::kHeaderSize);
        std::memcpy(header + 4, collection::kMagic, 4);
        header[8] = 1;
        collection::Put32(header + 21, collection::kHeaderSize);
        collection::Put32(header + 25, collection::kLocationSize);
        collection::Put32(header + 29, collection::kReadingSize);
        out.write(reinterpret_cast<const char*>(header), sizeof header);
        std::vector<std::uint8_t> point(collection::kLocationSize +
                                        kReadingsPerPoint * collection::kReadingSize);
        for (int i = 0; i < points; ++i) {
            std::memset(point.data(), 0, point.size());
            collection::Put32(point.data(), static_cast<std::uint32_t>(187920000 + i % 3600));
            collection::Put32(point.data() + 4, static_cast<std::uint32_t>(432036 + i / 3600));
            point[collection::kFixClassAt] = 2;
            collection::Put16(point.data() + collection::kCountAt, kReadingsPerPoint);
            for (int r = 0; r < kReadingsPerPoint; ++r) {
                std::uint8_t* reading =
                    point.data() + collection::kLocationSize + r * collection::kReadingSize;
                collection::Put16(reading + 1, static_cast<std::uint16_t>((-60 - r) * 256));
                reading[3] = 0x02;
                reading[8] = static_cast<std::uint8_t>(r);
                std::snprintf(reinterpret_cast<char*>(reading + 9), 32, "NET-%d", r);
            }
            out.write(reinterpret_cast<const char*>(point.data()),
                      static_cast<std::streamsize>(point.size()));
        }
    }

    std::string m_dir;
    std::map<int, std::string> m_paths;
};

Files& TheFiles() {
    static Files files;
    return files;
}

// Runs `work` in a child process; its peak resident size in MB.
template <typename Work>
double PeakRssMb(Work work) {
    const pid_t child = fork();
    if (child < 0)
        std::abort();
    if (child == 0) {
        work();
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::abort();
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

enum class Way { StreamGeoJson, StreamWigle, WholeGeoJson };

void Export(const std::string& path, Way way) {
    NullBuffer buffer;
    std::ostream out(&buffer);
    SurveyRecords survey;
    if (way == Way::WholeGeoJson) {
        ReadSurveyRecords(path, survey);
        WriteGeoJson(survey, out);
        return;
    }
    if (way == Way::StreamGeoJson) {
        GeoJsonWriter writer(out, false);
        std::size_t index = 0;
        StreamSurveyRecords(path, survey, [&](SurveyPoint& p) { writer.Point(p, index++); });
        writer.End();
    } else {
        WigleWriter writer(out, WigleNames::Neutralised);
        StreamSurveyRecords(path, survey, [&](SurveyPoint& p) { writer.Point(p); });
    }
}

void Run(benchmark::State& state, Way way) {
    const std::string& path = TheFiles().Of(static_cast<int>(state.range(0)));
    double peak = 0;
    for (auto _ : state)
        peak = PeakRssMb([&] { Export(path, way); });
    state.counters["peak_rss_MB"] = peak;
    state.counters["file_MB"] =
        static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}

void BM_StreamGeoJson(benchmark::State& state) {
    Run(state, Way::StreamGeoJson);
}
void BM_StreamWigle(benchmark::State& state) {
    Run(state, Way::StreamWigle);
}
void BM_WholeGeoJson(benchmark::State& state) {
    Run(state, Way::WholeGeoJson);
}

}  // namespace

BENCHMARK(BM_StreamGeoJson)->Arg(10'000)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_StreamWigle)->Arg(10'000)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_WholeGeoJson)->Arg(10'000)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
