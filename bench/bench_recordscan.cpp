// What a scan end costs the link thread: RecordScan (compose the point and
// hand it to the writer) against the same point written and made durable
// before returning (RecordScan then Flush, as a synchronous write would do).
// Both run side by side on one file in one run; compare their times.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteData.h"

namespace {

using namespace ketrion;

class SilentPrompt final : public Prompt {
public:
    void Message(std::string_view) override {}
};

// A survey with a new collection file in a folder of its own and ten access
// points in the list, as after a typical scan.
struct Survey {
    Survey() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ketrion-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        dir = pattern;
        data.SetPath(dir + "/record.ktd");
        if (!data.NewCollection())
            std::abort();
        std::lock_guard lock(list.listMutex);
        for (std::uint8_t i = 0; i < 10; ++i) {
            LinkList::Node* node = nullptr;
            if (list.NewNode(node) != 0)
                std::abort();
            node->mac[5] = i;
            std::memcpy(node->ssid, "bench-network", 13);
            node->signalSum = -60;
            node->sampleCount = 1;
            list.InsertSorted(node);
        }
    }
    ~Survey() {
        data.Flush();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string dir;
    LinkList list;
    CLocation location;
    SilentPrompt prompt;
    NullSound sound;
    CSiteData data{list, location, prompt, sound};
};

// The link thread's cost: the point is queued, the writer does the disk.
void BM_RecordScanQueued(benchmark::State& state) {
    Survey survey;
    for (auto _ : state) {
        benchmark::DoNotOptimize(survey.data.RecordScan());
        state.PauseTiming();
        survey.data.Flush();  // one point in flight at a time, as in the field
        state.ResumeTiming();
    }
}
BENCHMARK(BM_RecordScanQueued)->Unit(benchmark::kMicrosecond);

// What the link thread would wait for if it wrote and synced itself.
void BM_RecordScanWritten(benchmark::State& state) {
    Survey survey;
    for (auto _ : state) {
        benchmark::DoNotOptimize(survey.data.RecordScan());
        benchmark::DoNotOptimize(survey.data.Flush());
    }
}
BENCHMARK(BM_RecordScanWritten)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
