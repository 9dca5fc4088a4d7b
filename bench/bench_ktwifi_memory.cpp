// Peak memory and time of `ktwifi decode` on a long recording, run as the
// user runs it: the recorded fixture's scans repeated (one after another, a
// second apart) into a capture of about 100 MB. Counters: `peak_MB`,
// `file_MB`. KETRION_BENCH_SCAN_COPIES sets how often the fixture is repeated
// (default 40,000); KETRION_BENCH_KTWIFI another ktwifi binary to measure (an
// older build, for a side-by-side figure).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench/ChildRun.h"
#include "source/wifi/Recording.h"

namespace {

using namespace ketrion::source::wifi;

int Copies() {
    const char* text = std::getenv("KETRION_BENCH_SCAN_COPIES");
    const int n = text != nullptr ? std::atoi(text) : 0;
    return n > 0 ? n : 40000;
}

// The long capture, written once per run and removed at exit.
class LongCapture {
public:
    LongCapture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ketrion-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_dir = pattern;
        std::vector<CapturedPacket> packets;
        CaptureReader reader;
        std::string error;
        if (!reader.Open(std::string(KETRION_SOURCE_DIR) + "/tests/data/wifi/scans.pcap", error))
            std::abort();
        for (CapturedPacket packet; reader.Next(packet, error);)
            packets.push_back(packet);
        CaptureWriter writer;
        if (packets.empty() || !writer.Open(Path(), error))
            std::abort();
        const std::int64_t span = packets.back().timeUs - packets.front().timeUs + 1'000'000;
        for (int copy = 0; copy < Copies(); ++copy)
            for (const CapturedPacket& p : packets)
                if (!writer.Write(p.timeUs + copy * span, Direction::FromKernel, p.bytes, error))
                    std::abort();
        if (!writer.Close(error))
            std::abort();
    }
    ~LongCapture() {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Path() const { return m_dir + "/long.pcap"; }
    double FileMb() const {
        return static_cast<double>(std::filesystem::file_size(Path())) / (1 << 20);
    }

private:
    std::string m_dir;
};

void BM_Decode(benchmark::State& state) {
    static const LongCapture capture;
    const char* other = std::getenv("KETRION_BENCH_KTWIFI");
    ketrion::bench::ChildRun run;
    for (auto _ : state) {
        run = ketrion::bench::RunChild(other != nullptr ? other : KETRION_KTWIFI,
                                       {"decode", capture.Path()});
        state.SetIterationTime(run.seconds);
    }
    if (!run.Succeeded())
        state.SkipWithError("ktwifi failed");
    state.counters["peak_MB"] = run.peakMb;
    state.counters["file_MB"] = capture.FileMb();
}
BENCHMARK(BM_Decode)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
