// The live adapter's logic against a kernel played by the test: requests are
// answered with messages built by libnl, so triggering, waiting, dumping,
// freshness, permission fallbacks and every failure state run without
// hardware.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Clock.h"
#include "source/wifi/WifiScan.h"
#include "source/wifi/WifiScanSource.h"
#include "support/WifiFakes.h"
#include "support/WifiMessages.h"

namespace ketrion::source::wifi {
namespace {

namespace msg = ketrion::testing::wifi;
using msg::Bytes;
using testing::wifi::FakeKernel;
using testing::wifi::FakeNetworkManager;
using testing::wifi::FakeSystem;
using testing::wifi::kSecond;
using testing::wifi::Observer;

msg::BssSpec Seen(std::uint8_t last, int mbm, std::optional<std::uint64_t> boottime,
                  std::optional<std::uint32_t> ageMs) {
    msg::BssSpec spec;
    spec.bssid = msg::Mac(last);
    spec.signalMbm = mbm;
    spec.lastSeenBoottime = boottime;
    spec.seenMsAgo = ageMs;
    spec.elements = msg::NameElement("n" + std::to_string(last));
    return spec;
}

struct ProcedureWorld {
    FakeKernel kernel;
    FakeNetworkManager networkManager;
    Nl80211Client client{kernel};
    std::uint64_t boottime = 500 * kSecond;
    ScanProcedure procedure{client, &networkManager, [this] { return boottime; }};
    InterfaceInfo wlan0;

    ProcedureWorld() {
        networkManager.kernel = &kernel;
        wlan0.name = "wlan0";
        wlan0.index = msg::kIfindex;
        EXPECT_EQ(client.Resolve(), 0);
        EXPECT_EQ(client.JoinScanGroup(), 0);
    }
};

TEST(WifiLive, AScanKeepsOnlyWhatWasSeenSinceItBegan) {
    ProcedureWorld w;
    w.kernel.results = {
        Seen(1, -5000, 500 * kSecond + 1, std::nullopt),  // after the trigger
        Seen(2, -4000, 499 * kSecond, std::nullopt),      // before: stale
        Seen(3, -6000, std::nullopt, 0),                  // no boottime, just seen
        Seen(4, -3000, std::nullopt, 60'000),             // no boottime, a minute old
        Seen(5, -7000, std::nullopt, std::nullopt),       // nothing said: kept
    };
    const ScanOutcome outcome = w.procedure.Run(w.wlan0, false);
    ASSERT_EQ(outcome.kind, ScanOutcome::Kind::Done);
    std::vector<int> kept;
    for (const Bss& b : outcome.results)
        kept.push_back(b.bssid[5]);
    EXPECT_EQ(kept, (std::vector<int>{1, 3, 5}));
    EXPECT_FALSE(w.kernel.triggeredBeforeJoining);
    EXPECT_EQ(outcome.mode, ScanMode::Triggered);
    ASSERT_EQ(outcome.survey.size(), 1u);
    EXPECT_EQ(outcome.survey[0].noiseDbm, -91);
    EXPECT_EQ(outcome.notice, "");
}

TEST(WifiLive, KernelAnswersToATrigger) {
    struct Case {
        const char* what;
        std::deque<int> answers;
        int scanEnd;
        ScanOutcome::Kind kind;
        bool aborted;
        int triggers;
    } cases[] = {
        {"aborted: what was seen is kept",
         {},
         NL80211_CMD_SCAN_ABORTED,
         ScanOutcome::Kind::Done,
         true,
         1},
        {"busy: the running scan ends, then ours",
         {-EBUSY},
         NL80211_CMD_NEW_SCAN_RESULTS,
         ScanOutcome::Kind::Done,
         false,
         2},
        {"no end of scan: the watchdog", {}, 0, ScanOutcome::Kind::TimedOut, false, 1},
        {"interface down", {-ENETDOWN}, 0, ScanOutcome::Kind::Failed, false, 1},
        {"adapter gone", {-ENODEV}, 0, ScanOutcome::Kind::Failed, false, 1},
        {"radio off", {-132}, 0, ScanOutcome::Kind::Failed, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ProcedureWorld w;
        w.kernel.triggerAnswers = c.answers;
        w.kernel.scanEnd = c.scanEnd;
        w.kernel.results = {Seen(1, -5000, std::nullopt, 0)};
        const ScanOutcome outcome = w.procedure.Run(w.wlan0, false, 20);
        EXPECT_EQ(outcome.kind, c.kind);
        EXPECT_EQ(outcome.aborted, c.aborted);
        EXPECT_EQ(w.kernel.triggers, c.triggers);
        if (c.kind == ScanOutcome::Kind::Done) {
            EXPECT_EQ(outcome.results.size(), 1u);
        }
        if (c.kind == ScanOutcome::Kind::Failed) {
            EXPECT_EQ(outcome.error, c.answers.front());
        }
    }
    EXPECT_EQ(FailureText(-ENETDOWN, "wlan0"), "wlan0 is down");
    EXPECT_EQ(FailureText(-132, "wlan0"), "wlan0: the radio is switched off (rfkill)");
}

TEST(WifiLive, WithoutPermissionNetworkManagerScansElseTheSystemsScansAreTakenAndSaidOnce) {
    ProcedureWorld w;
    w.kernel.triggerAnswers = {-EPERM};
    w.kernel.results = {Seen(1, -5000, std::nullopt, 0)};
    ScanOutcome outcome = w.procedure.Run(w.wlan0, false, 20);
    EXPECT_EQ(outcome.kind, ScanOutcome::Kind::Done);
    EXPECT_EQ(outcome.mode, ScanMode::NetworkManager);
    EXPECT_EQ(w.networkManager.requests, 1);
    // Later scans go to NetworkManager directly.
    outcome = w.procedure.Run(w.wlan0, false, 20);
    EXPECT_EQ(w.kernel.triggers, 1);
    EXPECT_EQ(w.networkManager.requests, 2);

    // NetworkManager refuses: the system's own scans, with one notice.
    w.networkManager.accepts = false;
    w.kernel.EndScan(msg::kIfindex, NL80211_CMD_NEW_SCAN_RESULTS);
    outcome = w.procedure.Run(w.wlan0, false, 20);
    EXPECT_EQ(outcome.mode, ScanMode::System);
    EXPECT_NE(outcome.notice.find("CAP_NET_ADMIN"), std::string::npos) << outcome.notice;
    EXPECT_NE(outcome.notice.find("not authorized"), std::string::npos) << outcome.notice;
    w.kernel.EndScan(msg::kIfindex, NL80211_CMD_NEW_SCAN_RESULTS);
    outcome = w.procedure.Run(w.wlan0, false, 20);
    EXPECT_EQ(outcome.kind, ScanOutcome::Kind::Done);
    EXPECT_EQ(outcome.notice, "");
    EXPECT_EQ(w.networkManager.requests, 3);

    // No NetworkManager at all: straight to the system's scans.
    FakeKernel kernel;
    kernel.triggerAnswers = {-EPERM};
    Nl80211Client client(kernel);
    ASSERT_EQ(client.Resolve(), 0);
    ScanProcedure alone(client, nullptr, [] { return 10 * kSecond; });
    kernel.EndScan(msg::kIfindex, NL80211_CMD_NEW_SCAN_RESULTS);
    outcome = alone.Run(w.wlan0, false, 20);
    EXPECT_EQ(outcome.mode, ScanMode::System);
    EXPECT_NE(outcome.notice.find("CAP_NET_ADMIN"), std::string::npos);
}

TEST(WifiLive, TheSourceShowsEveryFailureAsAStateAndRecovers) {
    SystemClock clock;
    auto system = std::make_unique<FakeSystem>();
    FakeSystem* sys = system.get();
    int opened = 0;
    // First: a kernel without nl80211; then the adapter; then it is unplugged
    // (ENODEV) and comes back under another index.
    sys->next = [&]() {
        auto* k = new FakeKernel;
        k->results = {Seen(1, -6000, std::nullopt, 0), Seen(2, -4500, std::nullopt, 0)};
        k->results[0].frequency = 2437;
        switch (opened++) {
            case 0:
                k->hasNl80211 = false;
                break;
            case 1:
                k->triggerAnswers = {0, -ENODEV};
                break;
            default:
                k->interfaces = {{"wlan0", 9}};
        }
        return k;
    };
    WifiSourceOptions options;
    options.interface = "wlan0";
    options.retryMs = 1;
    WifiScanSource source(options, clock, std::move(system));
    Observer observer;
    observer.Attach(source);
    EXPECT_TRUE(source.PacesItself());
    EXPECT_EQ(source.Kind(), "wifi");
    source.Start();

    ASSERT_TRUE(observer.WaitFor(SourceEventKind::LinkLost));
    EXPECT_EQ(observer.events[0].reason, "no nl80211 in the kernel (no Wi-Fi driver is loaded)");
    ASSERT_TRUE(observer.WaitFor(SourceEventKind::LinkRestored));
    EXPECT_EQ(source.Identity(), "wlan0 fakedrv 02:11:22:33:44:10");

    ASSERT_TRUE(source.RequestScan());
    ASSERT_TRUE(observer.WaitFor(SourceEventKind::ScanEnded));
    {
        std::lock_guard lock(observer.mutex);
        ASSERT_EQ(observer.scans.size(), 1u);
        const auto& readings = observer.scans[0].readings;
        ASSERT_EQ(readings.size(), 2u);
        EXPECT_EQ(readings[0].mac[5], 2);  // strongest first
        EXPECT_EQ(readings[1].details->noiseDbm, -91);
        EXPECT_EQ(readings[1].attribute, 6);
    }

    // Unplugged during the next scan: lost, then found again by name. The
    // source was ready again before it said the scan ended.
    ASSERT_TRUE(source.RequestScan());
    ASSERT_TRUE(observer.WaitFor(SourceEventKind::ScanAbandoned));
    ASSERT_TRUE(observer.WaitFor(SourceEventKind::LinkLost, 2));
    ASSERT_TRUE(observer.WaitFor(SourceEventKind::LinkRestored, 2));
    ASSERT_TRUE(source.RequestScan());
    ASSERT_TRUE(observer.WaitFor(SourceEventKind::ScanEnded, 2));
    source.Stop();
    EXPECT_EQ(source.Status().state, SourceState::Ready);
}

TEST(WifiLive, AnAdapterDownOrSwitchedOffIsLostWithItsReason) {
    struct Case {
        AdapterFacts facts;
        const char* reason;
    } cases[] = {
        {{true, false, false, false, "", ""}, "wlan0 is down"},
        {{true, true, true, false, "", ""}, "wlan0: the radio is switched off (rfkill soft)"},
        {{true, true, false, true, "", ""}, "wlan0: the radio is switched off (rfkill hard)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        SystemClock clock;
        auto system = std::make_unique<FakeSystem>();
        system->facts = c.facts;
        system->next = [] { return new FakeKernel; };
        WifiSourceOptions options;
        options.retryMs = 60'000;
        WifiScanSource source(options, clock, std::move(system));
        Observer observer;
        observer.Attach(source);
        source.Start();
        ASSERT_TRUE(observer.WaitFor(SourceEventKind::LinkLost));
        source.Stop();
        EXPECT_EQ(source.Status().state, SourceState::Lost);
        EXPECT_EQ(source.Status().reason, c.reason);
        EXPECT_FALSE(source.RequestScan());
    }
}

}  // namespace
}  // namespace ketrion::source::wifi
