// Throughput of the receive path: bytes through the frame parser, every complete
// frame dispatched to the engine (access-point list and location behind it), as
// on the link thread. Clean traffic and pure noise are measured side by side.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "protocol/FrameFormat.h"
#include "protocol/OutgoingSlot.h"
#include "protocol/Parser.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class NullSlot final : public ketrion::OutgoingSlot {
public:
    bool QueueWrite(const std::uint8_t*, std::uint32_t) override { return true; }
};

void AppendFrame(Bytes& out, std::uint8_t type, const Bytes& payload) {
    std::uint8_t buffer[2 * 2048 + 16];
    const std::size_t n = ketrion::frame::Encode(
        type, payload.data(), payload.size(),
        ketrion::frame::Check(type, payload.data(), payload.size()), buffer, sizeof buffer);
    out.insert(out.end(), buffer, buffer + n);
}

// A scan report: `n` access points, each with a detail record, signals varied.
Bytes ScanReport(std::mt19937& rng, int n) {
    Bytes r;
    r.push_back(static_cast<std::uint8_t>(n));
    for (int i = 0; i < n; ++i) {
        const std::int16_t signal = static_cast<std::int16_t>(-40 - static_cast<int>(rng() % 50));
        r.insert(r.end(), {0x00, 0x1A, 0x2B, 0x3C, 0x11, static_cast<std::uint8_t>(i),
                           static_cast<std::uint8_t>(signal & 0xFF),
                           static_cast<std::uint8_t>((signal >> 8) & 0xFF)});
    }
    r.push_back(static_cast<std::uint8_t>(n));
    for (int i = 0; i < n; ++i) {
        Bytes d(ketrion::report::kDetailSize, 0);
        d[0] = static_cast<std::uint8_t>(i);
        d[1] = 9;
        std::memcpy(&d[2], "KT-Office", 9);
        d[34] = 6;
        r.insert(r.end(), d.begin(), d.end());
    }
    return r;
}

// One reading's worth of traffic, repeated: scan start, two rounds of reports
// over 16 access points, scan end, and a GPS report per second of scanning.
Bytes CleanStream(std::size_t target) {
    std::mt19937 rng(7);
    Bytes out;
    while (out.size() < target) {
        AppendFrame(out, ketrion::frame::kScanStart, {});
        for (int round = 0; round < 2; ++round) {
            AppendFrame(out, ketrion::frame::kScanReport, ScanReport(rng, 16));
            Bytes gps(ketrion::gps::kReportSize);
            for (auto& b : gps) {
                b = static_cast<std::uint8_t>(rng());
            }
            AppendFrame(out, ketrion::frame::kGpsReport, gps);
        }
        AppendFrame(out, ketrion::frame::kScanEnd, {});
    }
    return out;
}

Bytes NoiseStream(std::size_t size) {
    std::mt19937 rng(11);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(rng());
    }
    return out;
}

// Parse and dispatch everything in `stream`, clearing the list at each scan
// start as the collection timer does; counts bytes.
void RunReceivePath(benchmark::State& state, const Bytes& stream) {
    NullSlot slot;
    ketrion::LinkList list;
    ketrion::CLocation location;
    ketrion::CEngine engine(slot, list, location);
    auto parser = std::make_unique<ketrion::CParser>();
    std::uint64_t frames = 0;
    for (auto _ : state) {
        parser->Reset();
        parser->Feed(stream.data(), stream.size(), [&](const ketrion::FrameView& f) {
            if (!f.valid) {
                return;
            }
            if (f.type == ketrion::frame::kScanStart) {
                list.RemoveAll();
            }
            engine.Dispatch(f.type, f.body, f.length);
            ++frames;
        });
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void BM_ReceiveCleanFrames(benchmark::State& state) {
    static const Bytes stream = CleanStream(1 << 20);
    RunReceivePath(state, stream);
}
BENCHMARK(BM_ReceiveCleanFrames);

// The parser alone on the same clean stream: how much of the receive path is
// framing, and how much the engine's work on the frames.
void BM_ParseOnlyCleanFrames(benchmark::State& state) {
    static const Bytes stream = CleanStream(1 << 20);
    auto parser = std::make_unique<ketrion::CParser>();
    for (auto _ : state) {
        parser->Reset();
        parser->Feed(stream.data(), stream.size(),
                     [](const ketrion::FrameView& f) { benchmark::DoNotOptimize(f.body[0]); });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_ParseOnlyCleanFrames);

void BM_ReceiveNoise(benchmark::State& state) {
    static const Bytes stream = NoiseStream(1 << 20);
    RunReceivePath(state, stream);
}
BENCHMARK(BM_ReceiveNoise);

}  // namespace

BENCHMARK_MAIN();
