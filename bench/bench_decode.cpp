// Plan image expansion: the table-driven decoder against a plain bit-by-bit
// walk of the same tree over the same block, on a 20 MB plan-like bitmap.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "survey/Compression.h"

namespace {

using ketrion::CCompression;
using Bytes = std::vector<std::uint8_t>;

// Size of the expanded plan: a 24-bit bitmap of about 2580 x 2580 pixels.
constexpr std::size_t kPlanBytes = 20u * 1024 * 1024;

// Mostly white paper with walls on a grid, room fills and scattered dark
// "text" pixels, as a scanned or drawn floor plan is.
Bytes MakePlan() {
    constexpr std::size_t kWidth = 2580;
    Bytes plan(kPlanBytes);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < plan.size(); i += 3) {
        const std::size_t px = i / 3;
        const std::size_t x = px % kWidth;
        const std::size_t y = px / kWidth;
        std::uint8_t r = 255, g = 255, b = 255;
        if (x % 200 < 4 || y % 160 < 4) {
            r = g = b = 40;  // walls
        } else if ((x / 200 + y / 160) % 5 == 0) {
            r = 235, g = 240, b = 250;  // a tinted room
        } else if (rng() % 50 == 0) {
            r = g = b = static_cast<std::uint8_t>(rng() % 128);  // text and noise
        }
        plan[i] = b;
        if (i + 1 < plan.size())
            plan[i + 1] = g;
        if (i + 2 < plan.size())
            plan[i + 2] = r;
    }
    return plan;
}

const Bytes& Block() {
    static const Bytes block = CCompression::EncodeBlock(MakePlan());
    return block;
}

// The walk one bit at a time, as the format was first decoded.
void WalkBitByBit(const Bytes& block, Bytes& out) {
    CCompression::Frequencies freq{};
    for (std::size_t i = 0; i < freq.size(); ++i) {
        freq[i] = static_cast<std::uint32_t>(block[8 + 4 * i]) | block[9 + 4 * i] << 8 |
                  block[10 + 4 * i] << 16 | static_cast<std::uint32_t>(block[11 + 4 * i]) << 24;
    }
    CCompression tree("", "");
    tree.BuildTree(freq);
    out.clear();
    int node = tree.Root();
    for (std::size_t i = CCompression::kHeaderSize; i < block.size(); ++i) {
        for (int mask = 1; mask < 256; mask <<= 1) {
            node = (block[i] & mask) ? tree.Node(node).child1 : tree.Node(node).child0;
            if (tree.Node(node).leaf) {
                out.push_back(tree.Node(node).symbol);
                node = tree.Root();
            }
        }
    }
}

void BM_DecodeBitByBit(benchmark::State& state) {
    const Bytes& block = Block();
    Bytes out;
    out.reserve(kPlanBytes);
    for (auto _ : state) {
        WalkBitByBit(block, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

void BM_DecodeBlock(benchmark::State& state) {
    const Bytes& block = Block();
    Bytes out;
    out.reserve(kPlanBytes * 2);
    for (auto _ : state) {
        CCompression::DecodeBlock(block, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}

// The path the program takes: block file in, bitmap file out.
void BM_DecodeFile(benchmark::State& state) {
    const Bytes& block = Block();
    const std::string base = "/tmp/bench_decode_" + std::to_string(::getpid());
    if (FILE* f = std::fopen((base + ".ktpc").c_str(), "wb")) {
        std::fwrite(block.data(), 1, block.size(), f);
        std::fclose(f);
    }
    int written = 0;
    for (auto _ : state) {
        CCompression c(base + ".ktpc", base + ".ktpb");
        written = c.Decode();
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * written);
    std::remove((base + ".ktpc").c_str());
    std::remove((base + ".ktpb").c_str());
}

// Building the tree and the step table alone: the fixed cost of every load.
void BM_DecodeSetup(benchmark::State& state) {
    Bytes block(Block().begin(), Block().begin() + CCompression::kHeaderSize);
    Bytes out;
    for (auto _ : state) {
        CCompression::DecodeBlock(block, out);
        benchmark::DoNotOptimize(out.data());
    }
}

BENCHMARK(BM_DecodeBitByBit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSetup)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
