// Start-up cost of finding the board's port: building the registry (from a
// registry file, or from udev) and running the search over it. The search
// runs once per program start, so the figures matter only as a check that
// none of it takes long next to the start-up's fixed 4 s of waits.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "link/PortSearch.h"
#include "platform/Prompt.h"
#include "platform/Registry.h"

namespace {

class SilentPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

// A registry as a busy machine might have it: `drivers` active drivers, none
// of them the board's card except, when `socketAt` >= 0, a Socket card there.
std::string RegistryText(int drivers, int socketAt) {
    std::string text;
    char line[128];
    for (int i = 0; i < drivers; ++i) {
        const char* id = i == socketAt ? "Socket-CF-Serial" : "serial8250";
        std::snprintf(line, sizeof line, "Drivers\\Active\\%02d\tPnpId\t%s\n", i, id);
        text += line;
        std::snprintf(line, sizeof line, "Drivers\\Active\\%02d\tName\t/dev/ttyS%d\n", i, i);
        text += line;
    }
    return text;
}

void BM_ParseRegistryFile(benchmark::State& state) {
    const std::string text = RegistryText(static_cast<int>(state.range(0)), -1);
    for (auto _ : state) {
        auto registry = ketrion::Registry::FromText(text, nullptr);
        benchmark::DoNotOptimize(registry);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseRegistryFile)->Arg(8)->Arg(51)->Arg(1000);

// The longest search: no primary match, then the whole fallback range.
void BM_SearchFallback(benchmark::State& state) {
    const auto registry = ketrion::Registry::FromText(RegistryText(51, 50), nullptr);
    SilentPrompt prompt;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ketrion::FindBoardPort(*registry, prompt));
    }
}
BENCHMARK(BM_SearchFallback);

void BM_RegistryFromUdev(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(ketrion::Registry::FromUdev());
    }
}
BENCHMARK(BM_RegistryFromUdev)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
