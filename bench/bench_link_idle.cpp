// Cost of the link thread when the line is quiet, and how fast a queued
// request reaches the port. The thread runs for real over a pseudo-terminal:
//   BM_LinkIdleWakeups   counts the link thread's context switches (voluntary
//                        and forced, from /proc) during one second with no
//                        traffic; the counter "wakeups/s" is the figure.
//   BM_LinkRequestLatency time from queueing a scan request on this thread to
//                        its last byte arriving on the terminal's other side
//                        (includes the terminal driver's own delivery delay).
//   BM_LinkRequestToWrite time from queueing a scan request to the link
//                        thread's call of the port's Write (a port that only
//                        notes the time): the link thread's own share.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "link/LinkThread.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#if __has_include("protocol/Parser.h")
#include "protocol/Parser.h"
#else
#include "link/Parser.h"
#endif

namespace {

namespace fs = std::filesystem;

// Bytes of one scan request on the wire.
constexpr std::size_t kScanRequestSize = 6;

std::set<long> TaskIds() {
    std::set<long> ids;
    for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
        ids.insert(std::stol(entry.path().filename().string()));
    }
    return ids;
}

// Voluntary plus forced context switches of one thread of this process.
long ContextSwitches(long tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/status");
    long total = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with("voluntary_ctxt_switches:") ||
            line.starts_with("nonvoluntary_ctxt_switches:")) {
            total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

class QuietPrompt final : public ketrion::Prompt {
public:
    void Message(std::string_view) override {}
};

// The link's objects over a pseudo-terminal whose master side this benchmark
// holds; the link thread runs on the slave side.
struct LiveLink {
    int master = -1;
    ketrion::SystemClock clock;
    ketrion::CCom com;
    ketrion::CParser parser;
    ketrion::LinkList list;
    ketrion::CLocation location;
    ketrion::CEngine engine{com, list, location};
    ketrion::LinkThread link{com, parser, engine, clock};
    long linkTid = -1;

    LiveLink() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            return;
        }
        QuietPrompt prompt;
        com.OpenPath(::ptsname(master), prompt);
        const std::set<long> before = TaskIds();
        link.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        for (long id : TaskIds()) {
            if (!before.contains(id)) {
                linkTid = id;
            }
        }
    }
    ~LiveLink() {
        link.Stop();
        if (master >= 0) {
            ::close(master);
        }
    }
    bool Ready() const { return master >= 0 && com.IsPortOpen() && linkTid > 0; }

    // Reads from the master until `count` bytes came or the time is up.
    bool Expect(std::size_t count, int timeoutMs) {
        std::uint8_t buffer[256];
        std::size_t got = 0;
        while (got < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) {
                return false;
            }
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }
};

void BM_LinkIdleWakeups(benchmark::State& state) {
    LiveLink live;
    if (!live.Ready()) {
        state.SkipWithError("cannot set up the pseudo-terminal and the link thread");
        return;
    }
    double wakeups = 0;
    double seconds = 0;
    for (auto _ : state) {
        const long before = ContextSwitches(live.linkTid);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const auto t1 = std::chrono::steady_clock::now();
        wakeups += static_cast<double>(ContextSwitches(live.linkTid) - before);
        seconds += std::chrono::duration<double>(t1 - t0).count();
    }
    state.counters["wakeups/s"] = wakeups / seconds;
}
BENCHMARK(BM_LinkIdleWakeups)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_LinkRequestLatency(benchmark::State& state) {
    LiveLink live;
    if (!live.Ready()) {
        state.SkipWithError("cannot set up the pseudo-terminal and the link thread");
        return;
    }
    double worst = 0;
    for (auto _ : state) {
        // Let the thread settle into its idle wait, as between two readings.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto t0 = std::chrono::steady_clock::now();
        live.engine.RequestScan();
        if (!live.Expect(kScanRequestSize, 1000)) {
            state.SkipWithError("the request did not reach the port");
            return;
        }
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        worst = std::max(worst, s);
        state.SetIterationTime(s);
    }
    state.counters["worst_ms"] = worst * 1000.0;
}
BENCHMARK(BM_LinkRequestLatency)->Iterations(100)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A line that stays quiet and notes when something is written to it.
class TimingPort final : public ketrion::SerialPort {
public:
    bool IsOpen() const override { return true; }
    std::size_t InputCount() override { return 0; }
    std::size_t Read(std::uint8_t*, std::size_t) override { return 0; }
    std::size_t Write(const std::uint8_t*, std::size_t length) override {
        written.store(std::chrono::steady_clock::now().time_since_epoch().count());
        return length;
    }
    void Purge() override {}
    void Close() override {}
#if __has_include("protocol/Parser.h")
    int Descriptor() const override {
        return -1;
    }
    bool Lost() const override {
        return false;
    }
    std::string LossReason() const override {
        return {};
    }
    void CheckLine(short) override {}
#else
    bool WaitReadable(int milliseconds) override {
        ::poll(nullptr, 0, milliseconds);
        return false;
    }
#endif
    std::atomic<std::int64_t> written{0};
};

void BM_LinkRequestToWrite(benchmark::State& state) {
    ketrion::SystemClock clock;
    ketrion::CCom com;
    auto owned = std::make_unique<TimingPort>();
    TimingPort* port = owned.get();
    com.Attach(std::move(owned));
    ketrion::CParser parser;
    ketrion::LinkList list;
    ketrion::CLocation location;
    ketrion::CEngine engine{com, list, location};
    ketrion::LinkThread link{com, parser, engine, clock};
    link.Start();
    double worst = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        port->written = 0;
        const auto t0 = std::chrono::steady_clock::now();
        engine.RequestScan();
        while (port->written.load() == 0) {
            if (std::chrono::steady_clock::now() - t0 > std::chrono::seconds(1)) {
                state.SkipWithError("the request was not written");
                link.Stop();
                return;
            }
            std::this_thread::yield();
        }
        const std::chrono::steady_clock::time_point at{
            std::chrono::steady_clock::duration(port->written.load())};
        const double s = std::chrono::duration<double>(at - t0).count();
        worst = std::max(worst, s);
        state.SetIterationTime(s);
    }
    link.Stop();
    state.counters["worst_ms"] = worst * 1000.0;
}
BENCHMARK(BM_LinkRequestToWrite)->Iterations(100)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
