// Cost of the link thread's per-frame work on the access-point list and the
// location state, for the largest report the board can send. A full report
// takes about 375 ms on the 38400-baud line, so anything in microseconds leaves
// the link thread idle nearly all the time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/LinkList.h"
#include "engine/Location.h"

namespace {

using namespace ketrion;

// 32 entries with 32 detail records: the largest body (1,443 bytes).
std::vector<std::uint8_t> FullReport(std::uint8_t salt) {
    std::vector<std::uint8_t> b;
    b.push_back(32);
    for (std::uint8_t i = 0; i < 32; ++i) {
        const std::uint8_t entry[8] = {
            0x00, 0x1A, 0x2B, salt, 0x4D, i, static_cast<std::uint8_t>(0xC4 - i), 0xFF};
        b.insert(b.end(), entry, entry + 8);
    }
    b.push_back(32);
    for (std::uint8_t i = 0; i < 32; ++i) {
        std::uint8_t rec[37] = {};
        rec[0] = i;
        rec[1] = 12;
        std::memcpy(rec + 2, "NETWORK-NAME", 12);
        rec[34] = i;
        b.insert(b.end(), rec, rec + 37);
    }
    b.push_back(0);
    return b;
}

// A reading's first report: the list is emptied and 32 new records inserted in
// signal order.
void BM_ApplyNewReport(benchmark::State& state) {
    LinkList list;
    ReportScratch scratch;
    const auto body = FullReport(0x3C);
    for (auto _ : state) {
        list.RemoveAll();
        benchmark::DoNotOptimize(
            list.TryApplyReport(body.data(), static_cast<std::uint32_t>(body.size()), scratch));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ApplyNewReport);

// Later reports of the same reading: all 32 addresses known, each found by a
// linear walk and summed.
void BM_ApplyKnownReport(benchmark::State& state) {
    LinkList list;
    ReportScratch scratch;
    const auto body = FullReport(0x3C);
    list.TryApplyReport(body.data(), static_cast<std::uint32_t>(body.size()), scratch);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            list.TryApplyReport(body.data(), static_cast<std::uint32_t>(body.size()), scratch));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_ApplyKnownReport);

// A long scan in a busy place: 4 reports of 32 different addresses, so the list
// grows to 128 records and every lookup walks further.
void BM_ApplyFourReportsOf32New(benchmark::State& state) {
    LinkList list;
    ReportScratch scratch;
    std::vector<std::vector<std::uint8_t>> bodies;
    for (std::uint8_t salt = 0; salt < 4; ++salt) {
        bodies.push_back(FullReport(salt));
    }
    for (auto _ : state) {
        list.RemoveAll();
        for (const auto& body : bodies) {
            benchmark::DoNotOptimize(
                list.TryApplyReport(body.data(), static_cast<std::uint32_t>(body.size()), scratch));
        }
    }
}
BENCHMARK(BM_ApplyFourReportsOf32New);

void BM_DecodeGpsReport(benchmark::State& state) {
    CLocation location;
    std::vector<std::uint8_t> body(153, 0x5A);
    for (auto _ : state) {
        location.Decode(body.data(), static_cast<std::uint32_t>(body.size()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DecodeGpsReport);

}  // namespace

BENCHMARK_MAIN();
