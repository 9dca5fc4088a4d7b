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

// A scan source whose own thread hands over `scans` finished scans.
class ThreadedSource final : public source::ScanSource {
public:
    explicit ThreadedSource(int scans) : m_scans(scans) {}
    ~ThreadedSource() override { Stop(); }
    void Start() override {
        m_thread = std::thread([this] {
            for (int i = 0; i < m_scans; ++i) {
                source::ScanResult result;
                result.startedMs = 1000 * i;
                result.endedMs = 1000 * i + 500;
                source::Reading reading;
                reading.mac = {0x02, 0, 0, 0, 0, 1};
                reading.dbm = -60;
                reading.signal256 = -60 * 256;
                result.readings.push_back(reading);
                onScan(result);
            }
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

// A projection file whose map puts (1 N, 2 E) on plan pixel (x, y).
std::string WriteProjection(const TempDir& dir, const std::string& name, double x, double y) {
    ktp::AffineFit fit;
    fit.xLon = 100;
    fit.xOrigin = x - 200;
    fit.yLat = -100;
    fit.yOrigin = y + 100;
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

}  // namespace
}  // namespace ketrion::testing
