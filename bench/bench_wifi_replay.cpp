// From a scan's results dump to the readings a point is written from: the
// netlink datagrams of one GET_SCAN dump decoded, converted and sorted, as
// the adapter's source does when the results event arrives; and from a
// replayed scan's results to its point written, side store included.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "source/wifi/BssReading.h"
#include "source/wifi/Recording.h"
#include "source/wifi/ReplayScanSource.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace {

using namespace ketrion::source::wifi;

// How many times the fixture's first dump is repeated: a busy office floor
// (about 200 access points) in one dump.
constexpr int kCopies = 40;

// The first results dump of the recorded fixture, its result datagrams
// repeated, then its end of dump.
std::vector<std::vector<std::uint8_t>> BigDump() {
    CaptureReader reader;
    std::string error;
    std::vector<std::vector<std::uint8_t>> results;
    std::vector<std::uint8_t> done;
    if (!reader.Open(std::string(KETRION_SOURCE_DIR) + "/tests/data/wifi/scans.pcap", error))
        return {};
    MessageDecoder decoder;
    CapturedPacket packet;
    while (done.empty() && reader.Next(packet, error)) {
        std::vector<NetlinkMessage> messages;
        decoder.Decode(packet.bytes, messages);
        for (const NetlinkMessage& m : messages) {
            if (m.kind == MessageKind::ScanResult) {
                results.push_back(packet.bytes);
                break;
            }
            if (m.kind == MessageKind::Done) {
                done = packet.bytes;
                break;
            }
        }
    }
    std::vector<std::vector<std::uint8_t>> dump;
    for (int copy = 0; copy < kCopies; ++copy)
        dump.insert(dump.end(), results.begin(), results.end());
    dump.push_back(done);
    return dump;
}

void BM_DumpToReadings(benchmark::State& state) {
    const auto dump = BigDump();
    if (dump.size() < 2) {
        state.SkipWithError("fixture missing");
        return;
    }
    std::size_t readings = 0;
    for (auto _ : state) {
        ScanAssembler assembler;
        std::vector<RecordedScan> scans;
        for (const auto& datagram : dump)
            assembler.Feed(datagram, 0, scans);
        for (const RecordedScan& scan : scans) {
            std::vector<ketrion::source::Reading> out;
            out.reserve(scan.results.size());
            for (const Bss& bss : scan.results)
                out.push_back(ReadingOf(bss, std::nullopt));
            SortStrongestFirst(out);
            readings = out.size();
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["readings"] = static_cast<double>(readings);
}
BENCHMARK(BM_DumpToReadings)->Unit(benchmark::kMicrosecond);

class SilentPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

// The replayed recording, the session and a new collection file in a folder
// of its own, as `ketrion --wifi-replay FILE --fast` surveys with no GPS.
struct ReplaySurvey {
    ReplaySurvey() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ketrion-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        dir = pattern;
        data.SetPath(dir + "/replay.ktd");
        if (!data.NewCollection())
            std::abort();
        NewSession();
    }
    ~ReplaySurvey() {
        data.Flush();
        replay->Stop();
        session.reset();
        replay.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    // A source from the start of the recording (it ends with its last scan).
    void NewSession() {
        if (replay)
            replay->Stop();
        session.reset();
        replay.reset();
        replay = std::make_unique<ReplayScanSource>(
            std::string(KETRION_SOURCE_DIR) + "/tests/data/wifi/scans.pcap", true, clock);
        session = std::make_unique<ketrion::SurveySession>(*replay, position, data, projection,
                                                           sound, clock);
        replay->Start();
        session->StartRecording();
        left = replay->ScanCount();
    }
    // One reading: asked for, answered on the source's thread, the point
    // composed and written with its side-store rows.
    void Reading() {
        while (replay->IsScanning())
            std::this_thread::yield();  // the last answer's bookkeeping
        const std::size_t before = data.PointCount();
        session->TakeReading();
        while (data.PointCount() == before)
            std::this_thread::yield();
        if (!data.Flush())
            std::abort();
        --left;
    }
    std::string dir;
    SilentPrompt prompt;
    ketrion::NullSound sound;
    ketrion::SystemClock clock;
    ketrion::BoardStack board{clock};
    ketrion::BoardPosition position{board, clock};
    ketrion::CSiteProjection projection{prompt, sound};
    ketrion::CSiteData data{prompt, sound};
    std::unique_ptr<ReplayScanSource> replay;
    std::unique_ptr<ketrion::SurveySession> session;
    std::size_t left = 0;
};

// The goal is under 50 ms a point: a scan takes seconds, and the surveyor
// must see its point at once.
void BM_ReplayedScanToPointWritten(benchmark::State& state) {
    ReplaySurvey survey;
    for (auto _ : state) {
        if (survey.left == 0) {
            state.PauseTiming();
            survey.NewSession();
            state.ResumeTiming();
        }
        survey.Reading();
    }
    state.counters["points"] = static_cast<double>(survey.data.PointCount());
}
BENCHMARK(BM_ReplayedScanToPointWritten)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
