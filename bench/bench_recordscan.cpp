// What a scan end costs the link thread: the board's readings taken from the
// list and the point composed and handed to the writer, against the same
// point written and made durable (with its side-store rows) before returning.
// Both run side by side on one file in one run; compare their times.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

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
        LinkList& list = board.list;
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
    // The scan end as the engine's hook runs it on the link thread.
    bool ScanEnd() {
        scan.OnScanEnd();
        return true;
    }
    std::string dir;
    SilentPrompt prompt;
    NullSound sound;
    SystemClock clock;
    BoardStack board{clock};
    BoardSource scan{board, clock};
    BoardPosition position{board, clock};
    CSiteProjection projection{prompt, sound};
    CSiteData data{prompt, sound};
    SurveySession session{scan, position, data, projection, sound, clock};
};

// The link thread's cost: the point is queued, the writer does the disk.
void BM_RecordScanQueued(benchmark::State& state) {
    Survey survey;
    for (auto _ : state) {
        benchmark::DoNotOptimize(survey.ScanEnd());
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
        benchmark::DoNotOptimize(survey.ScanEnd());
        benchmark::DoNotOptimize(survey.data.Flush());
    }
}
BENCHMARK(BM_RecordScanWritten)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
