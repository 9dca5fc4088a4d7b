// Peak memory and time of `ktwifi decode` on a long recording, run as the
// user runs it: the recorded fixture's scans repeated (one after another, a
// second apart) into a capture of about 100 MB. Counters: `peak_MB`,
// `file_MB`. Then, in this process, the replay source answering every scan of
// it (as `ketrion --wifi-replay --fast` does) against reading the recording
// whole, as the source used to: `grew_MB` is how far each raised the peak.
// KETRION_BENCH_SCAN_COPIES sets how often the fixture is repeated (default 40,000);
// KETRION_BENCH_KTWIFI another ktwifi binary to measure (an older build, for a side-by-side
// figure).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <sys/resource.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/ChildRun.h"
#include "platform/Clock.h"
#include "source/wifi/Recording.h"
#include "source/wifi/ReplayScanSource.h"

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

double PeakMb() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Every scan of the long capture answered by the replay source, at once.
void BM_ReplaySource(benchmark::State& state) {
    static const LongCapture capture;
    ketrion::SystemClock clock;
    std::size_t answered = 0;
    double grew = 0;
    for (auto _ : state) {
        const double before = PeakMb();
        ReplayScanSource source(capture.Path(), true, clock);
        std::mutex mutex;
        bool over = false;
        source.onScan = [&](const ketrion::source::ScanResult&) { ++answered; };
        source.onEvent = [&](const ketrion::source::SourceEvent& event) {
            std::lock_guard lock(mutex);
            over = over || event.kind == ketrion::source::SourceEventKind::LinkLost;
        };
        source.Start();
        // Asks again whenever the source is ready, until the recording ends.
        for (;;) {
            {
                std::unique_lock lock(mutex);
                if (over)
                    break;
            }
            if (!source.IsScanning() && !source.RequestScan())
                std::this_thread::yield();
        }
        source.Stop();
        grew = PeakMb() - before;
    }
    state.counters["grew_MB"] = grew;
    state.counters["scans"] = static_cast<double>(answered);
}
BENCHMARK(BM_ReplaySource)->Iterations(1)->Unit(benchmark::kMillisecond);

// The recording read whole into scans, as the replay source held it before.
void BM_ReadRecordingWhole(benchmark::State& state) {
    static const LongCapture capture;
    double grew = 0;
    for (auto _ : state) {
        const double before = PeakMb();
        const Recording recording = ReadRecording(capture.Path());
        benchmark::DoNotOptimize(recording.scans.data());
        grew = PeakMb() - before;
    }
    state.counters["grew_MB"] = grew;
}
BENCHMARK(BM_ReadRecordingWhole)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
