// The survey session with its two threads at once: a scan source's thread
// hands finished scans over while the user-interface thread loads
// projections. Each point is placed with one whole map (never the x of one
// projection and the y of another), and the two threads share no plain
// fields (the ThreadSanitizer build runs this test too).

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "session/SurveySession.h"
#include "support/LinkFakes.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/SiteDataFixture.h"
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

}  // namespace
}  // namespace ketrion::testing
