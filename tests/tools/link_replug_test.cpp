// The board unplugged and plugged back, over real pseudo-terminals: the
// program opens a symlink to the simulated board's terminal (as a --port path
// or a udev name would be); the board goes away (its terminal closes), and a
// new board comes up behind the same path. Also the board's lost ScanEnd
// fault end to end, with the link thread's own timing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "link/LinkThread.h"
#include "platform/Prompt.h"
#include "protocol/Parser.h"
#include "sim/Simulator.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

sim::Scenario QuickScenario(const std::string& firmware) {
    sim::Scenario s = sim::DefaultScenario();
    s.scanMinMs = 50;
    s.scanMaxMs = 100;
    s.gpsPeriodMs = 200;
    s.firmware = firmware;
    s.fixes = {{7, 0.0}};
    return s;
}

class SilentPrompt final : public Prompt {
public:
    void Message(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

struct Program {
    testing::ShiftedClock clock;
    CCom com;
    CParser parser;
    LinkList list;
    CLocation location;
    CEngine engine{com, list, location};
    LinkThread link{com, parser, engine, clock};
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t news = 0;  // every event and scan end, the board's GPS reports too
    std::vector<EngineEvent> events;
    std::atomic<int> points{0};

    Program() {
        engine.onEvent = [this](const EngineEvent& e) {
            std::lock_guard lock(mutex);
            ++news;
            changed.notify_all();
            if (e.kind != EngineEventKind::GpsUpdate) {
                events.push_back(e);
            }
        };
        engine.onScanEnd = [this] {
            ++points;
            std::lock_guard lock(mutex);
            ++news;
            changed.notify_all();
        };
    }
    // Looks at `done` again at each piece of news (the board reports its
    // position five times a second) until it holds or `limit` passes (a
    // generous bound against a hang, unless a test says otherwise).
    bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::unique_lock lock(mutex);
        for (;;) {
            const std::uint64_t seen = news;
            lock.unlock();
            if (done()) {
                return true;
            }
            lock.lock();
            if (!changed.wait_until(lock, end, [&] { return news != seen; })) {
                lock.unlock();
                return done();
            }
        }
    }
    ~Program() { link.Stop(); }
    std::vector<EngineEvent> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
    bool Has(EngineEventKind kind) {
        for (const EngineEvent& e : Events()) {
            if (e.kind == kind) {
                return true;
            }
        }
        return false;
    }
};

struct TempDir {
    fs::path path;
    TempDir() {
        char name[] = "/tmp/ketrion-replug-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

TEST(LinkReplug, AnUnpluggedBoardIsReportedAndReopenedWhenItReturns) {
    TempDir dir;
    const std::string boardPath = (dir.path / "board").string();
    auto first = std::make_unique<sim::Simulator>(QuickScenario("1.00"));
    first->SetLinkPath(boardPath);
    std::string error;
    ASSERT_TRUE(first->Start(&error)) << error;

    Program program;
    SilentPrompt prompt;
    program.com.OpenPath(boardPath, prompt);
    ASSERT_TRUE(program.com.IsPortOpen()) << (prompt.messages.empty() ? "" : prompt.messages[0]);
    ASSERT_EQ(program.com.Reopening(), CCom::ReopenMode::RetryPath);
    program.link.Start();
    program.engine.Start();
    ASSERT_TRUE(program.Eventually([&] { return testing::FirmwareOf(program.engine) == "1.00"; }));

    // Unplugged: the board's terminal closes under the program.
    first->Stop();
    first.reset();
    // Noticed by the hang-up itself, within moments (a generous bound).
    ASSERT_TRUE(program.Eventually([&] { return program.Has(EngineEventKind::LinkLost); }, 5s));
    EXPECT_EQ(program.engine.linkState.load(), LinkState::Lost);
    const std::string reason = program.Events().front().reason;
    EXPECT_NE(reason.find(boardPath), std::string::npos) << reason;

    // While away, the path is tried without spinning: the thread sleeps
    // between attempts.
    const std::uint64_t passesBefore = program.link.passes;
    std::this_thread::sleep_for(1s);
    EXPECT_LT(program.link.passes - passesBefore, 10u);

    // Plugged back: a new board (another firmware) behind the same path.
    sim::Simulator second(QuickScenario("2.00"));
    second.SetLinkPath(boardPath);
    ASSERT_TRUE(second.Start(&error)) << error;
    ASSERT_TRUE(program.Eventually([&] { return program.Has(EngineEventKind::LinkRestored); },
                                   std::chrono::milliseconds(LinkThread::kReopenRetryMs) + 20s));
    EXPECT_EQ(program.engine.linkState.load(), LinkState::Connected);
    EXPECT_EQ(testing::FirmwareOf(program.engine), "2.00") << "the handshake ran again";

    // Recording goes on by itself.
    // The scan is recorded (onScanEnd) before its end is announced, so wait
    // for the announcement, not only the count.
    program.engine.RequestScan();
    EXPECT_TRUE(program.Eventually([&] { return program.Has(EngineEventKind::ScanEnded); }));
    EXPECT_EQ(program.points.load(), 1);

    const auto events = program.Events();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].kind, EngineEventKind::LinkLost);
    EXPECT_EQ(events[1].kind, EngineEventKind::LinkRestored);
    EXPECT_EQ(events[2].kind, EngineEventKind::ScanEnded);
}

// The board loses every ScanEnd. The link thread's watchdog (time moved on
// with the clock, not waited for) abandons the scan, and the next request
// is answered as usual.
TEST(LinkReplug, TheWatchdogEndsAScanWhoseEndTheBoardLost) {
    sim::Scenario scenario = QuickScenario("1.00");
    scenario.faults.loseScanEnd = 1.0;
    sim::Simulator board(scenario);
    std::string error;
    ASSERT_TRUE(board.Start(&error)) << error;

    Program program;
    SilentPrompt prompt;
    program.com.OpenPath(board.SlavePath(), prompt);
    ASSERT_TRUE(program.com.IsPortOpen());
    program.link.Start();
    program.engine.RequestScan();
    ASSERT_TRUE(program.Eventually([&] { return program.engine.IsScanning(); }));
    std::this_thread::sleep_for(300ms);  // the scan is over on the board, its end lost
    EXPECT_TRUE(program.engine.IsScanning());

    program.clock.Shift(CEngine::kScanWatchdogMs);
    ASSERT_TRUE(program.Eventually([&] { return program.Has(EngineEventKind::ScanAbandoned); }))
        << "noticed on the link thread's next pass";
    EXPECT_FALSE(program.engine.IsScanning());
    EXPECT_EQ(program.points.load(), 0);

    program.engine.RequestScan();
    EXPECT_TRUE(program.Eventually([&] { return program.engine.IsScanning(); }));
    EXPECT_EQ(board.Stats().scans, 2u);
}

}  // namespace
}  // namespace ketrion
