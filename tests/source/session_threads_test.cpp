// The survey session with its two threads at once: a scan source's thread
// hands finished scans over while the user-interface thread loads
// projections. Each point is placed with one whole map (never the x of one
// projection and the y of another), and the two threads share no plain
// fields (the ThreadSanitizer build runs this test too). Then the session
// with a real threaded source that the user-interface thread stops in the
// middle of a scan and starts again.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "session/SurveySession.h"
#include "source/gpsd/GpsdPosition.h"
#include "source/wifi/WifiScanSource.h"
#include "support/LinkFakes.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/SiteDataFixture.h"
#include "support/WifiFakes.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

// A finished scan from startedMs to endedMs that heard one access point.
source::ScanResult ScanFrom(std::int64_t startedMs, std::int64_t endedMs) {
    source::ScanResult result;
    result.startedMs = startedMs;
    result.endedMs = endedMs;
    source::Reading reading;
    reading.mac = {0x02, 0, 0, 0, 0, 1};
    reading.dbm = -60;
    reading.signal256 = -60 * 256;
    result.readings.push_back(reading);
    return result;
}

// A scan source whose own thread hands over `scans` finished scans.
class ThreadedSource final : public source::ScanSource {
public:
    explicit ThreadedSource(int scans) : m_scans(scans) {}
    ~ThreadedSource() override { Stop(); }
    void Start() override {
        m_thread = std::thread([this] {
            for (int i = 0; i < m_scans; ++i)
                onScan(ScanFrom(1000 * i, 1000 * i + 500));
        });
    }
    void Stop() override {
        if (m_thread.joinable())
            m_thread.join();
    }
    std::string Kind() const override { return "threaded"; }
    std::string Identity() const override { return {}; }
    source::SourceStatus Status() const override { return {}; }
    bool IsScanning() const override { return false; }
    bool RequestScan() override { return true; }

private:
    int m_scans;
    std::thread m_thread;
};

// A position source that keeps a track, so each scan is placed through the
// projection on the source's thread.
class TrackedPosition final : public source::PositionSource {
public:
    TrackedPosition() {
        m_fix.valid = true;
        m_fix.fixClass = source::FixClass::Fix3D;
        m_fix.latitude = 1.0;
        m_fix.longitude = 2.0;
        m_fix.latitudeUnits = source::UnitsFromDegrees(1.0);
        m_fix.longitudeUnits = source::UnitsFromDegrees(2.0);
    }
    std::string Kind() const override { return "gpsd"; }
    source::SourceStatus Status() const override { return {}; }
    source::Fix Current() const override { return m_fix; }
    bool KeepsTrack() const override { return true; }

private:
    source::Fix m_fix;
};

// A projection file whose map puts (1 N, 2 E) on plan pixel (x, y), at
// `pixelsPerDegree`.
std::string WriteProjection(const TempDir& dir, const std::string& name, double x, double y,
                            double pixelsPerDegree = 100) {
    ktp::AffineFit fit;
    fit.xLon = pixelsPerDegree;
    fit.xOrigin = x - 2 * pixelsPerDegree;
    fit.yLat = -pixelsPerDegree;
    fit.yOrigin = y + pixelsPerDegree;
    const std::vector<std::uint8_t> rgb(4 * 4 * 3, 0x80);
    const std::string path = dir.File(name);
    WriteBytes(path, ktp::MakeProjectionFile(fit, ktp::MakeBitmap24(4, 4, rgb.data(), 12)));
    return path;
}

TEST(SessionThreads, ScansPlacedWhileProjectionsLoadUseOneWholeMap) {
    TempDir dir;
    const std::string first = WriteProjection(dir, "first.ktp", 100, 200);
    const std::string second = WriteProjection(dir, "second.ktp", 300, 400);
    ManualClock clock{1'700'000'000};
    RecordingPrompt prompt;
    RecordingSound sound;
    constexpr int kScans = 300;
    ThreadedSource scans(kScans);
    TrackedPosition position;
    CSiteProjection projection{prompt, sound};
    CSiteData data{prompt, sound, clock};
    SurveySession session{scans, position, data, projection, sound, clock};
    ASSERT_TRUE(session.OpenProjection(first));
    ASSERT_TRUE(session.NewCollection(dir.File("walk.ktd")));

    scans.Start();
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(session.OpenProjection(i % 2 == 0 ? second : first));
    scans.Stop();

    ASSERT_TRUE(data.Flush());
    ASSERT_EQ(data.PointCount(), static_cast<std::size_t>(kScans));
    std::set<std::pair<int, int>> placed;
    data.ForEachPoint([&](const CSiteData::_tap& point) { placed.emplace(point.x, point.y); });
    for (const auto& at : placed) {
        EXPECT_TRUE(at == std::make_pair(100, 200) || at == std::make_pair(300, 400))
            << at.first << ", " << at.second;
    }
}

// News posted from a source's thread to the user-interface thread, as the
// frame's queued events are.
class Posted {
public:
    void Post(const source::SourceEvent& event) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
        m_arrived.notify_all();
    }
    // The next event, waited for; empty when `wait` passed without one (a
    // bound against a hung thread, or zero to take only what is there).
    std::optional<source::SourceEvent> Next(std::chrono::seconds wait = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        if (!m_arrived.wait_for(lock, wait, [&] { return !m_events.empty(); }))
            return std::nullopt;
        source::SourceEvent event = m_events.front();
        m_events.pop_front();
        return event;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<source::SourceEvent> m_events;
};

// Whether `ready` holds within a generous bound: a first set-up says nothing
// when it succeeds, so its state is watched (not a timing check).
template <typename Ready>
bool Eventually(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ready() && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    return ready();
}

TEST(SessionThreads, ARealSourceRecordsWhileStoppedMidScanStartedAndReprojected) {
    TempDir dir;
    const std::string first = WriteProjection(dir, "first.ktp", 100, 200);
    const std::string second = WriteProjection(dir, "second.ktp", 300, 400);
    ManualClock clock{1'700'000'000};
    RecordingPrompt prompt;
    RecordingSound sound;
    // The adapter's kernel, played by the test; a new one at each start.
    std::atomic<wifi::FakeKernel*> kernel{nullptr};
    auto system = std::make_unique<wifi::FakeSystem>();
    system->next = [&] {
        auto* fresh = new wifi::FakeKernel;
        fresh->blocks = true;
        kernel = fresh;
        return fresh;
    };
    source::wifi::WifiSourceOptions options;
    options.interface = "wlan0";
    source::wifi::WifiScanSource scans(options, clock, std::move(system));
    TrackedPosition position;
    CSiteProjection projection{prompt, sound};
    CSiteData data{prompt, sound, clock};
    SurveySession session{scans, position, data, projection, sound, clock};
    Posted posted;
    scans.onEvent = [&](const source::SourceEvent& event) { posted.Post(event); };
    ASSERT_TRUE(session.OpenProjection(first));
    ASSERT_TRUE(session.NewCollection(dir.File("walk.ktd")));
    ASSERT_TRUE(session.StartRecording());

    constexpr int kRounds = 4;
    constexpr int kScansPerRound = 20;
    std::size_t ended = 0;
    int loads = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        scans.Start();
        ASSERT_TRUE(Eventually([&] { return session.CanTakeReading(); }))
            << "ready again after a stop in the middle of a scan";
        session.TakeReading();  // the rest are asked for as each scan ends
        for (int scan = 0; scan < kScansPerRound;) {
            const std::optional<source::SourceEvent> event = posted.Next();
            ASSERT_TRUE(event) << "no news from the source";
            if (event->kind != source::SourceEventKind::ScanEnded)
                continue;
            ++ended;
            if (++scan == kScansPerRound) {
                // The next scan never ends: the user stops it in the middle.
                std::lock_guard lock(kernel.load()->mutex);
                kernel.load()->scanEnd = 0;
            }
            session.OnSourceEvent(*event);
            if (scan % 3 == 0) {
                ASSERT_TRUE(session.OpenProjection(++loads % 2 == 0 ? first : second));
            }
        }
        EXPECT_TRUE(scans.IsScanning());
        scans.Stop();
    }
    while (const std::optional<source::SourceEvent> event = posted.Next(std::chrono::seconds(0)))
        ended += event->kind == source::SourceEventKind::ScanEnded ? 1 : 0;

    ASSERT_TRUE(data.Flush());
    EXPECT_EQ(data.PointCount(), ended) << "one point for each scan handed over";
    std::set<std::pair<int, int>> placed;
    data.ForEachPoint([&](const CSiteData::_tap& point) { placed.emplace(point.x, point.y); });
    for (const auto& at : placed) {
        EXPECT_TRUE(at == std::make_pair(100, 200) || at == std::make_pair(300, 400))
            << at.first << ", " << at.second;
    }
}

// A 3D fix from gpsd at (1 N, lon E).
source::GpsdReport Tpv(double lon) {
    source::GpsdReport r;
    r.kind = source::GpsdReport::Kind::Tpv;
    r.mode = 3;
    r.latitude = 1.0;
    r.longitude = lon;
    r.timeSeconds = 1'700'000'000;
    r.ephMetres = 4.0;
    return r;
}

// A scan that ends before the receiver's next report waits for it, so the
// point lies between the fixes around its middle rather than at the one
// before; it waits at most FixWait::kWaitMs after its end, and what still
// waits is written when the sources stop. Real gpsd source, its reports
// applied by the test; the waits run on the session's own thread.
TEST(SessionThreads, AScanWaitsBoundedForTheFixAfterItsMiddle) {
    TempDir dir;
    // 10^6 px a degree: 0.0001 degree (11 m, walked in a second) is 100 px.
    const std::string plan = WriteProjection(dir, "plan.ktp", 100, 200, 1e6);
    ManualClock clock{1'700'000'000};
    const std::int64_t t0 = clock.NowMs();
    RecordingPrompt prompt;
    RecordingSound sound;
    ThreadedSource scans(0);
    source::GpsdPosition position(clock, source::GpsdEndpoint{});
    CSiteProjection projection{prompt, sound};
    CSiteData data{prompt, sound, clock};
    SurveySession session{scans, position, data, projection, sound, clock};
    ASSERT_TRUE(session.OpenProjection(plan));
    ASSERT_TRUE(session.NewCollection(dir.File("walk.ktd")));
    std::mutex mutex;
    std::condition_variable added;
    std::size_t adds = 0;
    session.SubscribePoints([&](SurveySession::PointChange change) {
        std::lock_guard lock(mutex);
        adds += change == SurveySession::PointChange::Added ? 1 : 0;
        added.notify_all();
    });
    const auto waitForAdds = [&](std::size_t n) {
        std::unique_lock lock(mutex);
        return added.wait_for(lock, std::chrono::seconds(20), [&] { return adds >= n; });
    };
    const auto xs = [&] {
        std::vector<int> out;
        EXPECT_TRUE(data.Flush());
        data.ForEachPoint([&](const CSiteData::_tap& point) { out.push_back(point.x); });
        return out;
    };

    ASSERT_TRUE(position.Apply(Tpv(2.0)));
    // Middle at t0 + 600; the next report comes at t0 + 1000.
    session.OnScan(ScanFrom(t0 + 200, t0 + 1000));
    EXPECT_EQ(session.ScansWaitingForFix(), 1u);
    clock.Advance(1000);
    ASSERT_TRUE(position.Apply(Tpv(2.0001)));
    ASSERT_TRUE(waitForAdds(1));
    EXPECT_EQ(xs(), (std::vector<int>{160})) << "six tenths of the way";

    // No report after the middle: written as it stands once the wait is over.
    session.OnScan(ScanFrom(t0 + 1400, t0 + 2000));
    clock.Advance(2000 + FixWait::kWaitMs - 1 - 1000);
    EXPECT_EQ(session.ScansWaitingForFix(), 1u) << "still within its wait";
    clock.Advance(1);
    ASSERT_TRUE(waitForAdds(2));
    EXPECT_EQ(session.ScansWaitingForFix(), 0u);

    // A scan that waits when the sources stop is written at once.
    session.OnScan(ScanFrom(t0 + 3000, t0 + 4000));
    EXPECT_EQ(session.ScansWaitingForFix(), 1u);
    session.StopSources();
    EXPECT_EQ(session.ScansWaitingForFix(), 0u);
    EXPECT_EQ(xs(), (std::vector<int>{160, 200, 200}));
}

}  // namespace
}  // namespace ketrion::testing
