// The engine's watch over scans and the link: a scan without its ScanEnd is
// abandoned after the watchdog time, its late frames make no point, and a lost
// and reopened link is reported and handshaken again.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "protocol/Parser.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ketrion::testing::RecordingSlot;

constexpr std::int64_t kT0 = 1'000'000'000;
const Bytes kVersionRequest = {0x11, 0x12, 0x01, 0x00, 0x11, 0x13};

// One access point with its detail record, as a ScanReport payload.
Bytes OneApReport(std::uint8_t last) {
    Bytes r = {1, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, last, 0xC4, 0xFF, 1, 0, 4};
    Bytes name(report::kNameField, 0);
    std::memcpy(name.data(), "Test", 4);
    r.insert(r.end(), name.begin(), name.end());
    r.insert(r.end(), {6, 0x01, 0x00});
    return r;
}

struct Rig {
    RecordingSlot slot;
    LinkList list;
    CLocation location;
    CEngine engine{slot, list, location};
    int notifications = 0;
    int points = 0;
    std::vector<EngineEvent> events;
    std::uint8_t area[frame::kMaxBody] = {};

    Rig() {
        engine.notify = [this] { ++notifications; };
        engine.onScanEnd = [this] { ++points; };
        engine.onEvent = [this](const EngineEvent& e) {
            if (e.kind != EngineEventKind::GpsUpdate) {
                events.push_back(e);
            }
        };
    }
    void Frame(std::uint8_t type, const Bytes& payload = {}) {
        std::memset(area, 0, sizeof area);
        std::memcpy(area, payload.data(), payload.size());
        area[payload.size()] = frame::Check(type, payload.data(), payload.size());
        engine.Dispatch(type, area, static_cast<std::uint32_t>(payload.size() + 1));
    }
    // A request from the timer, seen by the link thread's next pass at `now`.
    void Request(std::int64_t now) {
        engine.RequestScan();
        engine.Tick(now);
    }
    int ListSize() {
        std::lock_guard lock(list.listMutex);
        return list.Size();
    }
    std::vector<EngineEventKind> Kinds() const {
        std::vector<EngineEventKind> kinds;
        for (const EngineEvent& e : events) {
            kinds.push_back(e.kind);
        }
        return kinds;
    }
};

TEST(EngineWatchdog, AScanWithoutEndIsAbandonedAfterFifteenSeconds) {
    Rig rig;
    rig.Request(kT0);
    EXPECT_EQ(rig.engine.NextDeadlineMs(), kT0 + CEngine::kScanWatchdogMs);
    rig.Frame(frame::kScanStart);
    rig.engine.Tick(kT0 + 14999);
    EXPECT_TRUE(rig.engine.IsScanning());
    EXPECT_TRUE(rig.events.empty());

    rig.engine.Tick(kT0 + 15000);
    EXPECT_FALSE(rig.engine.IsScanning()) << "the next tick can take a reading";
    ASSERT_EQ(rig.events.size(), 1u);
    EXPECT_EQ(rig.events[0].kind, EngineEventKind::ScanAbandoned);
    EXPECT_EQ(rig.events[0].reason, "no scan end after 15 s");
    EXPECT_EQ(rig.notifications, 1) << "the view repaints to show the alert";
    EXPECT_EQ(rig.points, 0);
    EXPECT_EQ(rig.engine.NextDeadlineMs(), -1);
    rig.engine.Tick(kT0 + 60000);
    EXPECT_EQ(rig.events.size(), 1u) << "abandoned once";
    EXPECT_EQ(rig.engine.ScansAbandoned(), 1u);
}

// A lost ScanStart leaves `scanning` clear, so the timer asks again and again:
// the deadline stays with the first unanswered request.
TEST(EngineWatchdog, RepeatedRequestsDoNotPushTheDeadlineBack) {
    Rig rig;
    rig.Request(kT0);
    rig.Request(kT0 + 5000);
    rig.Request(kT0 + 10000);
    rig.engine.Tick(kT0 + 15000);
    EXPECT_EQ(rig.Kinds(), (std::vector<EngineEventKind>{EngineEventKind::ScanAbandoned}));
}

TEST(EngineWatchdog, AScanEndInTimeDisarmsIt) {
    Rig rig;
    rig.Request(kT0);
    rig.Frame(frame::kScanStart);
    rig.Frame(frame::kScanEnd);
    EXPECT_EQ(rig.points, 1);
    EXPECT_EQ(rig.engine.NextDeadlineMs(), -1);
    rig.engine.Tick(kT0 + 20000);
    EXPECT_EQ(rig.Kinds(), (std::vector<EngineEventKind>{EngineEventKind::ScanEnded}));
}

// Reports and the ScanEnd of an abandoned scan that turn up late are dropped:
// they must not become a point, nor part of the next reading. The next scan,
// from its ScanStart on, is recorded as usual.
TEST(EngineWatchdog, LateFramesOfAnAbandonedScanMakeNoPoint) {
    Rig rig;
    rig.Request(kT0);
    rig.Frame(frame::kScanStart);
    rig.engine.Tick(kT0 + CEngine::kScanWatchdogMs);
    ASSERT_EQ(rig.engine.ScansAbandoned(), 1u);

    rig.Frame(frame::kScanReport, OneApReport(1));
    rig.Frame(frame::kScanEnd);
    EXPECT_EQ(rig.ListSize(), 0);
    EXPECT_EQ(rig.points, 0);
    EXPECT_FALSE(rig.engine.IsScanning());

    rig.Request(kT0 + 16000);
    rig.Frame(frame::kScanStart);
    rig.Frame(frame::kScanReport, OneApReport(2));
    EXPECT_EQ(rig.ListSize(), 1);
    rig.Frame(frame::kScanEnd);
    EXPECT_EQ(rig.points, 1);
    EXPECT_EQ(rig.engine.NextDeadlineMs(), -1);
}

// The golden capture with faults: two of its four scans lose their ScanEnd
// (one never sent, one with a wrong check byte), and the capture ends inside a
// scan. Requests are made as the capture's scans show they were, and time runs
// with its GPS reports (one a second). Without the watchdog `scanning` stays
// set for good; with it the scan is abandoned 15 s after the first unanswered
// request, and only the one scan that ended became a point.
TEST(EngineWatchdog, TheFaultsCaptureDoesNotStopCollectionForGood) {
    std::ifstream in(std::string(KETRION_SOURCE_DIR) + "/tests/data/replay/faults.bin",
                     std::ios::binary);
    ASSERT_TRUE(in);
    const Bytes capture((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    Rig rig;
    CParser parser;
    std::int64_t now = kT0;
    std::int64_t firstUnanswered = -1;
    int scanStarts = 0;
    parser.Feed(capture.data(), capture.size(), [&](const FrameView& f) {
        if (!f.valid) {
            return;
        }
        if (f.type == frame::kGpsReport) {
            now += 1000;
        }
        if (f.type == frame::kScanStart) {
            ++scanStarts;
            rig.list.RemoveAll();
            if (firstUnanswered < 0) {
                firstUnanswered = now;
            }
            rig.Request(now);
        }
        if (f.type == frame::kScanEnd) {
            firstUnanswered = -1;
        }
        rig.engine.Tick(now);
        rig.engine.Dispatch(f.type, f.body, f.length);
    });
    ASSERT_EQ(scanStarts, 4);
    ASSERT_GE(parser.badFrames, 1u);
    EXPECT_EQ(rig.points, 1);
    ASSERT_TRUE(rig.engine.IsScanning()) << "the capture ends inside a scan";
    ASSERT_GT(firstUnanswered, 0);

    // Time goes on with nothing from the board, in steps of 100 ms.
    std::int64_t abandonedAt = -1;
    for (std::int64_t t = now; t <= firstUnanswered + 2 * CEngine::kScanWatchdogMs; t += 100) {
        rig.engine.Tick(t);
        if (!rig.engine.IsScanning()) {
            abandonedAt = t;
            break;
        }
    }
    EXPECT_GE(abandonedAt - firstUnanswered, CEngine::kScanWatchdogMs);
    EXPECT_LT(abandonedAt - firstUnanswered, CEngine::kScanWatchdogMs + 100);
    EXPECT_EQ(rig.engine.ScansAbandoned(), 1u);
    EXPECT_EQ(rig.points, 1) << "nothing written for the abandoned scans";

    // And collection goes on: the next reading is recorded.
    rig.Request(now + 20000);
    rig.Frame(frame::kScanStart);
    rig.Frame(frame::kScanEnd);
    EXPECT_EQ(rig.points, 2);
}

TEST(EngineLink, ALostLinkDropsTheScanAndTheHandshakeRestoresIt) {
    Rig rig;
    rig.Request(kT0);
    rig.Frame(frame::kScanStart);
    rig.Frame(frame::kScanReport, OneApReport(1));

    rig.engine.OnLinkLost("hang-up on /dev/ttyUSB0");
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Lost);
    EXPECT_FALSE(rig.engine.IsScanning());
    EXPECT_EQ(rig.engine.NextDeadlineMs(), -1) << "no watchdog for a scan the loss ended";
    ASSERT_EQ(rig.Kinds(), (std::vector<EngineEventKind>{EngineEventKind::LinkLost}));
    EXPECT_EQ(rig.events[0].reason, "hang-up on /dev/ttyUSB0");
    EXPECT_EQ(rig.notifications, 1);
    // Whatever of the cut scan still arrives writes nothing.
    rig.Frame(frame::kScanEnd);
    EXPECT_EQ(rig.points, 0);

    rig.slot.queued.clear();
    rig.engine.OnLinkReopened(kT0 + 5000);
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Reconnecting);
    EXPECT_EQ(rig.slot.queued, (std::vector<Bytes>{kVersionRequest}));
    EXPECT_EQ(rig.engine.NextDeadlineMs(), kT0 + 5000 + CEngine::kHandshakeRetryMs);
    rig.Frame(frame::kVersion, {'2', '.', '1', 0});
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Reconnecting);
    rig.Frame(frame::kSerial, {'K', 'T', '0', '0', '0', '0', '0', '1'});
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Connected);
    EXPECT_EQ(rig.Kinds(), (std::vector<EngineEventKind>{EngineEventKind::LinkLost,
                                                         EngineEventKind::LinkRestored}));
    EXPECT_EQ(rig.engine.NextDeadlineMs(), -1);
    // A Serial frame on a healthy link is no news.
    rig.Frame(frame::kSerial, {'K', 'T', '0', '0', '0', '0', '0', '1'});
    EXPECT_EQ(rig.events.size(), 2u);
}

// Requests made while the link is down arm nothing: there is no board to answer.
TEST(EngineLink, NoWatchdogWhileTheLinkIsDown) {
    Rig rig;
    rig.engine.OnLinkLost("gone");
    rig.Request(kT0);
    EXPECT_EQ(rig.engine.NextDeadlineMs(), -1);
    rig.engine.Tick(kT0 + 30000);
    EXPECT_EQ(rig.engine.ScansAbandoned(), 0u);
}

}  // namespace
}  // namespace ketrion
