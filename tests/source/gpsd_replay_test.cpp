// The gpsd position source against a real gpsd, fed NMEA logs by gpsfake.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "source/FixHealth.h"
#include "source/gpsd/GpsdPosition.h"
#include "support/GpsFake.h"

namespace ketrion::source {
namespace {

using ketrion::testing::GpsFake;

// Generous, for a loaded machine; the tests end as soon as what they wait
// for has happened.
constexpr auto kDeadline = std::chrono::seconds(60);

std::string Log(const std::string& name) {
    return std::string(KETRION_SOURCE_DIR) + "/tests/data/gps/" + name;
}

// The logs walk from 47 deg 12' N, 8 deg 30' E; one stored unit is
// 1/3,600,000 degree, so 0.001 minute is 60 units.
constexpr std::int32_t kStartLat = (47 * 60 + 12) * 60000;
constexpr std::int32_t kStartLon = (8 * 60 + 30) * 60000;

// Every fix the source announced, and its events, as the source's thread
// delivered them.
class Recorder {
public:
    explicit Recorder(GpsdPosition& source) : m_source(source) {
        source.onEvent = [this](const SourceEvent& e) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(e.kind);
            if (e.kind == SourceEventKind::PositionUpdate) {
                m_fixes.push_back(m_source.Current());
            }
            m_changed.notify_all();
        };
    }
    std::vector<Fix> Fixes() const {
        std::lock_guard lock(m_mutex);
        return m_fixes;
    }
    std::vector<SourceEventKind> Events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    // Looks at `done` again at each event (the source changes its state
    // before it says so) until it holds or the deadline passes.
    bool WaitFor(const std::function<bool()>& done) const {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        std::unique_lock lock(m_mutex);
        for (;;) {
            const std::size_t seen = m_events.size();
            lock.unlock();
            if (done()) {
                return true;
            }
            lock.lock();
            if (!m_changed.wait_until(lock, deadline, [&] { return m_events.size() != seen; })) {
                lock.unlock();
                return done();
            }
        }
    }
    bool WaitForFix(const std::function<bool(const Fix&)>& match) const {
        return WaitFor([&] {
            const auto fixes = Fixes();
            return std::any_of(fixes.begin(), fixes.end(), match);
        });
    }

private:
    GpsdPosition& m_source;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<Fix> m_fixes;
    std::vector<SourceEventKind> m_events;
};

class GpsdReplay : public ::testing::Test {
protected:
    void Play(const std::string& log) {
        port = GpsFake::FreePort();
        ASSERT_NE(port, 0);
        const std::string failure = fake.Start(Log(log), port);
        ASSERT_TRUE(failure.empty()) << failure;
        source = std::make_unique<GpsdPosition>(
            clock, GpsdEndpoint{"127.0.0.1", static_cast<std::uint16_t>(port)});
        recorder = std::make_unique<Recorder>(*source);
        startedMs = clock.NowMs();
        source->Start();
    }
    void TearDown() override {
        if (source) {
            source->Stop();
        }
        fake.Stop();
    }

    SystemClock clock;
    GpsFake fake;
    int port = 0;
    std::unique_ptr<GpsdPosition> source;
    std::unique_ptr<Recorder> recorder;
    std::int64_t startedMs = 0;
};

// The second of the log's epoch a fix came from (the logs start at 10:00:00).
int Epoch(const Fix& fix) {
    return fix.second;
}

bool IsDate(const Fix& f) {
    return f.year == 2024 && f.month == 1 && f.day == 2 && f.hour == 10 && f.minute == 0;
}

TEST_F(GpsdReplay, ReportsTheFixesOfAWalk) {
    Play("walk_3d.nmea");
    const int last = 6;
    ASSERT_TRUE(recorder->WaitForFix([&](const Fix& f) {
        return f.valid && f.fixClass == FixClass::Fix3D && Epoch(f) == last;
    })) << "no 3D fix from the log's last epoch";
    const std::int64_t endedMs = clock.NowMs();
    EXPECT_EQ(source->Status().state, SourceState::Ready);

    std::set<int> epochs;
    std::optional<double> firstEph, lastEph;
    std::int64_t previousMs = 0;
    for (const Fix& f : recorder->Fixes()) {
        // gpsd may report the first fix of a log before it has seen the
        // sentence with the date: no time to tell its epoch by.
        if (!f.valid || f.year == 0) {
            continue;
        }
        SCOPED_TRACE("epoch " + std::to_string(Epoch(f)));
        EXPECT_TRUE(IsDate(f)) << int(f.year) << "-" << int(f.month) << "-" << int(f.day);
        EXPECT_EQ(f.latitudeUnits, kStartLat + 60 * Epoch(f));
        EXPECT_EQ(f.longitudeUnits, kStartLon + 30 * Epoch(f));
        EXPECT_NEAR(f.latitude, (kStartLat + 60 * Epoch(f)) / 3600000.0, 1e-7);
        // Ages count from arrival on this machine, not from 2024.
        EXPECT_GE(f.receivedMs, startedMs);
        EXPECT_LE(f.receivedMs, endedMs);
        EXPECT_GE(f.receivedMs, previousMs);
        previousMs = f.receivedMs;
        epochs.insert(Epoch(f));
        if (f.fixClass == FixClass::Fix3D && f.ephMetres) {
            if (Epoch(f) <= 2) {
                firstEph = f.ephMetres;  // HDOP 1.0
            }
            lastEph = f.ephMetres;
        }
    }
    EXPECT_GE(epochs.size(), 4u) << "gpsfake starts sending before we listen, but not by much";

    const Fix now = source->Current();
    EXPECT_EQ(now.mode, 3);
    EXPECT_EQ(now.fixClass, FixClass::Fix3D);
    EXPECT_EQ(now.satellitesUsed, 3);
    EXPECT_EQ(now.satellitesSeen, 4);
    ASSERT_TRUE(now.altitudeMetres);
    EXPECT_NEAR(*now.altitudeMetres, 432.1, 0.01);
    EXPECT_EQ(ClassifyFix(now, clock.NowMs()), FixHealth::Ok);
    // The log doubles the HDOP halfway; gpsd's error estimate follows it.
    ASSERT_TRUE(firstEph && lastEph);
    EXPECT_GT(*firstEph, 0.0);
    EXPECT_NEAR(*lastEph / *firstEph, 2.0, 0.01);

    // A scan between two fixes lands between their positions.
    const auto fixes = recorder->Fixes();
    const auto a = std::find_if(fixes.begin(), fixes.end(),
                                [&](const Fix& f) { return f.valid && Epoch(f) == last - 1; });
    const auto b = std::find_if(fixes.begin(), fixes.end(),
                                [&](const Fix& f) { return f.valid && Epoch(f) == last; });
    ASSERT_TRUE(a != fixes.end() && b != fixes.end());
    const Fix between = source->FixFor(a->receivedMs, b->receivedMs);
    EXPECT_TRUE(between.valid);
    EXPECT_GE(between.latitudeUnits, a->latitudeUnits);
    EXPECT_LE(between.latitudeUnits, b->latitudeUnits);
}

TEST_F(GpsdReplay, A2DOnlyLogGives2DFixesWithoutHeight) {
    Play("fix_2d.nmea");
    ASSERT_TRUE(recorder->WaitForFix([](const Fix& f) { return f.valid && Epoch(f) == 4; }));
    int valid = 0;
    for (const Fix& f : recorder->Fixes()) {
        if (!f.valid) {
            continue;
        }
        ++valid;
        SCOPED_TRACE("epoch " + std::to_string(Epoch(f)));
        EXPECT_EQ(f.fixClass, FixClass::Fix2D);
        EXPECT_EQ(f.mode, 2);
        EXPECT_FALSE(f.altitudeMetres);
        EXPECT_EQ(f.latitudeUnits, kStartLat - 120 * Epoch(f));
        EXPECT_EQ(f.longitudeUnits, kStartLon);
    }
    EXPECT_GE(valid, 3);
    EXPECT_EQ(source->Current().satellitesUsed, 3);
}

TEST_F(GpsdReplay, NoFixAtAllIsNeverAValidPosition) {
    Play("no_fix.nmea");
    // Without a fix gpsd reports no time either: wait for a few reports.
    ASSERT_TRUE(recorder->WaitFor([&] {
        const auto fixes = recorder->Fixes();
        return std::count_if(fixes.begin(), fixes.end(), [](const Fix& f) {
                   return f.mode == 1 && f.satellitesSeen == 4;
               }) >= 3;
    }));
    for (const Fix& f : recorder->Fixes()) {
        EXPECT_FALSE(f.valid) << "epoch " << Epoch(f);
    }
    const Fix now = source->Current();
    EXPECT_EQ(now.satellitesSeen, 4);
    EXPECT_EQ(now.satellitesUsed, 0);
    EXPECT_EQ(ClassifyFix(now, clock.NowMs()), FixHealth::NoFix);
    EXPECT_FALSE(source->FixFor(startedMs, clock.NowMs()).valid);
}

TEST_F(GpsdReplay, LosesAndRegainsTheFix) {
    Play("lost_regained.nmea");
    ASSERT_TRUE(recorder->WaitForFix(
        [](const Fix& f) { return f.valid && f.fixClass == FixClass::Fix3D && Epoch(f) >= 6; }));
    // In arrival order: fixes, then none (epochs 3 and 4), then fixes again.
    std::string phases;
    std::int64_t lostMs = -1;
    for (const Fix& f : recorder->Fixes()) {
        if (f.receivedMs < 0) {
            continue;  // satellites before the first TPV
        }
        const char phase = f.valid ? 'F' : 'N';
        if (phases.empty() || phases.back() != phase) {
            phases.push_back(phase);
        }
        if (!f.valid && f.mode == 1) {
            EXPECT_TRUE(Epoch(f) == 3 || Epoch(f) == 4) << Epoch(f);
            lostMs = f.receivedMs;
        } else if (f.valid) {
            EXPECT_TRUE(Epoch(f) < 3 || Epoch(f) >= 5) << Epoch(f);
        }
    }
    EXPECT_EQ(phases, "FNF");
    // A scan whose middle fell while the fix was lost has no position.
    ASSERT_GE(lostMs, 0);
    EXPECT_FALSE(source->FixFor(lostMs, lostMs + 2).valid);
}

TEST_F(GpsdReplay, ShowsLostWhileGpsdIsAwayAndRecovers) {
    // Nothing listens yet: Lost, with what to check.
    port = GpsFake::FreePort();
    source = std::make_unique<GpsdPosition>(
        clock, GpsdEndpoint{"127.0.0.1", static_cast<std::uint16_t>(port)});
    recorder = std::make_unique<Recorder>(*source);
    source->Start();
    ASSERT_TRUE(recorder->WaitFor([&] { return source->Status().state == SourceState::Lost; }));
    const std::string reason = source->Status().reason;
    EXPECT_NE(reason.find("127.0.0.1:" + std::to_string(port)), std::string::npos) << reason;
    EXPECT_NE(reason.find("gpsd is running"), std::string::npos) << reason;

    // gpsd starts: the source connects by itself and fixes arrive.
    ASSERT_EQ(fake.Start(Log("walk_3d.nmea"), port), "");
    ASSERT_TRUE(recorder->WaitFor([&] { return source->Current().valid; }));
    EXPECT_EQ(source->Status().state, SourceState::Ready);

    // gpsd goes away: Lost again, the last fix kept (it only ages).
    fake.Stop();
    ASSERT_TRUE(recorder->WaitFor([&] { return source->Status().state == SourceState::Lost; }));
    EXPECT_TRUE(source->Current().valid);

    // And comes back: Ready, with fresh fixes.
    const std::int64_t backMs = clock.NowMs();
    ASSERT_EQ(fake.Start(Log("walk_3d.nmea"), port), "");
    ASSERT_TRUE(recorder->WaitFor([&] {
        const Fix f = source->Current();
        return source->Status().state == SourceState::Ready && f.valid && f.receivedMs >= backMs;
    }));

    const auto events = recorder->Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), SourceEventKind::LinkLost), 2);
    EXPECT_EQ(std::count(events.begin(), events.end(), SourceEventKind::LinkRestored), 2);
}

}  // namespace
}  // namespace ketrion::source
