// From a scan's results dump to the readings a point is written from: the
// netlink datagrams of one GET_SCAN dump decoded, converted and sorted, as
// the adapter's source does when the results event arrives.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "source/wifi/BssReading.h"
#include "source/wifi/Recording.h"

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

}  // namespace

BENCHMARK_MAIN();
