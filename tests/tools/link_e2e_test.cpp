// The link thread and the engine against the simulated board over a real
// pseudo-terminal: the whole receive and request path, no fakes.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "link/LinkThread.h"
#include "platform/Clock.h"
#include "platform/PosixSerialPort.h"
#include "protocol/Parser.h"
#include "sim/Simulator.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

using namespace std::chrono_literals;
using testing::FirmwareOf;
using testing::SerialOf;

// A quick board: short scans, frequent GPS reports, a fixed start time.
sim::Scenario QuickScenario() {
    sim::Scenario s = sim::DefaultScenario();
    s.scanMinMs = 100;
    s.scanMaxMs = 200;
    s.gpsPeriodMs = 100;
    s.startTime = 1'173'103'629;  // 5 March 2007, 14:07:09 UTC
    s.fixes = {{7, 0.0}};
    return s;
}

// Simulator, link and engine wired as the program does.
struct Wiring {
    sim::Simulator simulator;
    SystemClock clock;
    CCom com;
    CParser parser;
    LinkList list;
    CLocation location;
    CEngine engine{com, list, location};
    LinkThread link{com, parser, engine, clock};
    std::atomic<int> scanEnds{0};
    std::atomic<int> listedAtScanEnd{-1};
    std::atomic<int> notifications{0};

    explicit Wiring(sim::Scenario scenario) : simulator(std::move(scenario)) {}

    // Starts the board, opens its terminal and starts the link thread.
    void Start() {
        std::string error;
        ASSERT_TRUE(simulator.Start(&error)) << error;
        auto port = std::make_unique<PosixSerialPort>();
        ASSERT_EQ(port->Open(simulator.SlavePath()), PosixSerialPort::OpenStatus::Ok)
            << port->LastError();
        com.Attach(std::move(port));
        engine.onScanEnd = [this] {
            std::lock_guard lock(list.listMutex);
            listedAtScanEnd = list.Size();
            ++scanEnds;
        };
        engine.notify = [this] {
            ++notifications;
            std::lock_guard lock(m_mutex);
            m_changed.notify_all();
        };
        link.Start();
    }
    ~Wiring() {
        link.Stop();
        simulator.Stop();
    }
    std::string Firmware() const { return FirmwareOf(engine); }
    std::string Serial() const { return SerialOf(engine); }

    // Looks at `done` again at each engine update (the board reports its
    // position ten times a second) until it holds or `limit` passes (a
    // generous bound against a hang), running `retry` every second as a
    // surveyor who asks again would.
    bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s,
                 const std::function<void()>& retry = {}) {
        const auto end = std::chrono::steady_clock::now() + limit;
        auto nextRetry = std::chrono::steady_clock::now() + 1s;
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (now > end) {
                return done();
            }
            if (retry && now >= nextRetry) {
                retry();
                nextRetry = now + 1s;
            }
            std::unique_lock lock(m_mutex);
            m_changed.wait_until(lock, std::min(end, nextRetry));
        }
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

TEST(LinkEndToEnd, HandshakeScanAndGps) {
    Wiring w(QuickScenario());
    w.Start();
    w.engine.Start();
    ASSERT_TRUE(w.WaitFor([&] { return w.Serial() == "KT004217"; }));
    EXPECT_EQ(w.Firmware(), "2.14");
    // Version, Serial and Configure requests reached the board.
    ASSERT_TRUE(w.WaitFor([&] { return w.simulator.Stats().requests >= 3; }));

    // A reading: the list is emptied, the scan requested, and at its end the
    // list holds what the board heard.
    w.list.RemoveAll();
    w.engine.RequestScan();
    ASSERT_TRUE(w.WaitFor([&] { return w.scanEnds.load() >= 1; }));
    EXPECT_GT(w.listedAtScanEnd.load(), 0);
    EXPECT_FALSE(w.engine.IsScanning());
    {
        std::lock_guard lock(w.list.listMutex);
        LinkList::Node* node = nullptr;
        for (int r = w.list.GetAt(1, node); r == 0; r = w.list.GetNext(node)) {
            EXPECT_EQ(node->hasDetails, 1);
            EXPECT_GE(node->sampleCount, 1u);
            EXPECT_GT(std::string(node->ssid).size(), 0u);
        }
    }

    // GPS reports: a position on the sample floor, a 3-D fix, the start date.
    ASSERT_TRUE(w.WaitFor([&] { return w.location.Snapshot().reports >= 2; }));
    const LocationSnapshot s = w.location.Snapshot();
    EXPECT_NEAR(s.latitude, 52.2055, 0.01);
    EXPECT_NEAR(s.longitude, 0.121, 0.01);
    EXPECT_EQ(s.fixStatus, 7);
    EXPECT_EQ(s.year, 2007);
    EXPECT_EQ(s.month, 3);
}

// With every fault turned on the link survives, and the frames that arrive
// intact still do their work.
TEST(LinkEndToEnd, FaultyBoardDoesNotStopTheLink) {
    sim::Scenario s = QuickScenario();
    s.faults.noise = 0.3;
    s.faults.badCheck = 0.2;
    s.faults.split = 0.5;
    s.faults.loseScanEnd = 0.3;
    Wiring w(s);
    w.Start();
    // Answers may be spoiled: ask again until the identity has come through.
    w.engine.Start();
    ASSERT_TRUE(
        w.WaitFor([&] { return w.Serial() == "KT004217"; }, 30s, [&] { w.engine.Start(); }));
    EXPECT_EQ(w.Firmware(), "2.14");

    // Keep asking for scans (a lost ScanEnd leaves scanning set, which a
    // program would wait out; here the requests just go on).
    ASSERT_TRUE(
        w.WaitFor([&] { return w.scanEnds.load() >= 2; }, 30s, [&] { w.engine.RequestScan(); }));
    ASSERT_TRUE(w.WaitFor([&] { return w.location.Snapshot().reports >= 3; }));
    EXPECT_NEAR(w.location.Latitude(), 52.2055, 0.01);
    EXPECT_TRUE(w.link.IsRunning());
    w.link.Stop();  // the parser's counters belong to the link thread until then
    EXPECT_GT(w.parser.dropped, 0u);
}

}  // namespace
}  // namespace ketrion
