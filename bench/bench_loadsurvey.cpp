// Loading a large collection file (100,000 survey points of 10 readings each,
// about 47 MB) against reading the same file's bytes in one go. Both run side
// by side on the same file in one run; compare their times (the target is
// LoadSurvey within 3 times the plain read).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/CollectionFile.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace {

using namespace ketrion;

constexpr int kPoints = 100000;
constexpr int kReadingsPerPoint = 10;

// Writes the test file once per run and removes it at exit.
class LargeFile {
public:
    LargeFile() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ketrion-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_dir = pattern;
        m_path = m_dir + "/large.ktd";
        std::vector<std::uint8_t> bytes(collection::kFirstRecord);
        std::uint8_t header[collection::kFirstRecord];
        collection::EncodeHeader(1'700'000'000, header);
        std::memcpy(bytes.data(), header, sizeof header);
        bytes.reserve(collection::kFirstRecord +
                      std::size_t{kPoints} * (collection::kLocationSize +
                                              kReadingsPerPoint * collection::kReadingSize));
        for (int p = 0; p < kPoints; ++p) {
            std::uint8_t location[collection::kLocationSize] = {};
            collection::Put32(location + collection::kLatitudeAt, 144000000 + p);
            collection::Put32(location + collection::kLongitudeAt,
                              static_cast<std::uint32_t>(-268200000 - p));
            collection::Put16(location + collection::kCountAt, kReadingsPerPoint);
            bytes.insert(bytes.end(), location, location + sizeof location);
            for (int r = 0; r < kReadingsPerPoint; ++r) {
                std::uint8_t reading[collection::kReadingSize] = {};
                collection::Put16(reading + collection::kSignalAt,
                                  static_cast<std::uint16_t>((-40 - (p + r) % 60) * 256));
                reading[collection::kMacAt + 5] = static_cast<std::uint8_t>(r);
                std::memcpy(reading + collection::kSsidAt, "bench-network", 13);
                bytes.insert(bytes.end(), reading, reading + sizeof reading);
            }
        }
        int fd = open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            std::abort();
        }
        close(fd);
        m_size = bytes.size();
    }
    ~LargeFile() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    const std::string& path() const { return m_path; }
    std::size_t size() const { return m_size; }

private:
    std::string m_dir;
    std::string m_path;
    std::size_t m_size = 0;
};

LargeFile& File() {
    static LargeFile file;
    return file;
}

// The floor: every byte of the file read with one read() into one buffer.
void BM_ReadFileBytes(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(File().size());
    for (auto _ : state) {
        int fd = open(File().path().c_str(), O_RDONLY | O_CLOEXEC);
        std::size_t done = 0;
        while (done < buffer.size()) {
            ssize_t n = read(fd, buffer.data() + done, buffer.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
        benchmark::DoNotOptimize(buffer.data());
        if (done != buffer.size())
            state.SkipWithError("short read");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(File().size()));
}
BENCHMARK(BM_ReadFileBytes)->Unit(benchmark::kMillisecond);

class SilentPrompt final : public Prompt {
public:
    void Message(std::string_view) override {}
};

// LoadSurvey of the same file, with a projection placing every point.
void BM_LoadSurvey(benchmark::State& state) {
    SilentPrompt prompt;
    NullSound sound;
    CSiteProjection projection(prompt, sound);
    {
        PlanMap planMap = projection.Map();
        planMap.xLon = 1000;
        planMap.xOrigin = 75000;
        planMap.yLat = 10;
        projection.SetMap(planMap);
    }
    CSiteData survey(prompt, sound);
    survey.SetProjection(&projection);
    survey.SetPath(File().path());
    for (auto _ : state) {
        if (!survey.LoadSurvey() || survey.PointCount() != kPoints) {
            state.SkipWithError("load failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(File().size()));
}
BENCHMARK(BM_LoadSurvey)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
