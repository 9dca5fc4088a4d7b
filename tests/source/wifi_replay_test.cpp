// A recording as a scan source: every request answered with the next scan,
// all of its results, and the end of the recording shown as a state.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Clock.h"
#include "source/wifi/ReplayScanSource.h"
#include "support/WifiFixtures.h"

namespace ketrion::source::wifi {
namespace {

namespace fx = ketrion::testing::wifi;

struct Collected {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<ScanResult> scans;
    std::vector<SourceEvent> events;

    void Attach(ScanSource& source) {
        source.onScan = [this](const ScanResult& r) {
            std::lock_guard lock(mutex);
            scans.push_back(r);
        };
        source.onEvent = [this](const SourceEvent& e) {
            std::lock_guard lock(mutex);
            events.push_back(e);
            changed.notify_all();
        };
    }
    // Waits for `count` events (a bound against a hung thread only).
    bool WaitEvents(std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return events.size() >= count; });
    }
};

TEST(WifiReplay, EachRequestGetsTheNextScanThenTheRecordingEnds) {
    SystemClock clock;
    ReplayScanSource source(fx::FixturePath("scans.pcap"), true, clock);
    Collected got;
    got.Attach(source);
    EXPECT_EQ(source.Kind(), "wifi-replay");
    EXPECT_TRUE(source.PacesItself());
    ASSERT_EQ(source.ScanCount(), 3u);
    source.Start();
    // Each scan ends with its event; the aborted one says first that it was
    // aborted, as a live scan does.
    for (std::size_t scan = 0; scan < 3; ++scan) {
        ASSERT_TRUE(source.RequestScan()) << scan;
        ASSERT_TRUE(got.WaitEvents(scan + 1 + (scan >= 1 ? 1 : 0)));
    }
    ASSERT_TRUE(got.WaitEvents(5));
    source.Stop();
    ASSERT_EQ(got.events.size(), 5u);
    EXPECT_EQ(got.events[1].kind, SourceEventKind::Notice);
    EXPECT_EQ(got.events[1].reason, ReplayScanSource::kAbortedScan);
    EXPECT_EQ(got.events[2].kind, SourceEventKind::ScanEnded);
    ASSERT_EQ(got.scans.size(), 3u);
    // Every result of the dump, strongest first; the unspecified one for the side store only.
    const auto& first = got.scans[0].readings;
    ASSERT_EQ(first.size(), 5u);
    EXPECT_EQ(first[0].mac[5], 0x01);
    EXPECT_EQ(first[0].signal256, -54 * 256);
    EXPECT_EQ(first[0].attribute, 36);
    EXPECT_EQ(first[0].details->security, "wpa2/wpa3");
    EXPECT_EQ(first[2].details->band, "6");
    EXPECT_FALSE(first[4].inCollection);
    EXPECT_EQ(got.scans[1].readings.size(), 2u);
    EXPECT_TRUE(got.scans[2].readings.empty());

    EXPECT_EQ(got.events[4].kind, SourceEventKind::LinkLost);
    EXPECT_EQ(got.events[4].reason, "end of recording");
    EXPECT_EQ(source.Status().state, SourceState::Lost);
    EXPECT_EQ(source.Status().reason, "end of recording");
    EXPECT_FALSE(source.RequestScan());
}

TEST(WifiReplay, PaceFollowsTheRecordedGaps) {
    std::vector<RecordedScan> scans(4);
    scans[0].timeUs = 10'000'000;
    scans[1].timeUs = 13'250'000;
    scans[2].timeUs = 13'000'000;   // out of order: at once
    scans[3].timeUs = 999'000'000;  // a long pause is shortened
    EXPECT_EQ(ReplayScanSource::Pace(scans),
              (std::vector<std::int64_t>{0, 3250, 0, ReplayScanSource::kMaxGapMs}));
}

TEST(WifiReplay, DamagedAndMissingRecordings) {
    SystemClock clock;
    ReplayScanSource damaged(fx::FixturePath("cut.pcap"), true, clock);
    Collected got;
    got.Attach(damaged);
    damaged.Start();
    ASSERT_TRUE(got.WaitEvents(1));
    EXPECT_EQ(got.events[0].kind, SourceEventKind::Notice);
    EXPECT_NE(got.events[0].reason.find("damaged"), std::string::npos);
    EXPECT_EQ(damaged.ScanCount(), 2u);
    damaged.Stop();

    ReplayScanSource missing("/nonexistent/none.pcap", true, clock);
    EXPECT_EQ(missing.Status().state, SourceState::Lost);
    EXPECT_NE(missing.Status().reason.find("cannot open"), std::string::npos);
    EXPECT_FALSE(missing.RequestScan());
}

}  // namespace
}  // namespace ketrion::source::wifi
