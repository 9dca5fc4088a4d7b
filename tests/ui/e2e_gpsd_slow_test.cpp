// End to end: the real program surveys the simulated board with positions
// from a real gpsd, fed from the NMEA fixtures by gpsfake. A client of the
// test's own listens to the same gpsd and notes when each report arrived, so
// the test knows where the track was at every moment the program saw.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/Fix.h"
#include "sim/Scenario.h"
#include "support/GpsFake.h"
#include "support/KetrionRun.h"
#include "support/SiteDataFixture.h"
#include "support/StoredSurvey.h"

namespace ketrion::testing {
namespace {

std::string NmeaPath(const std::string& name) {
    return std::string(KETRION_SOURCE_DIR) + "/tests/data/gps/" + name;
}

std::int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One TPV report as it reached the test's client.
struct Report {
    std::int64_t arrivedMs = 0;  // wall clock, as the program's session clock
    bool fix = false;            // mode 2 or 3 with a position
    bool threeD = false;         // mode 3 with a position
    std::int32_t latitudeUnits = 0;
    std::int32_t longitudeUnits = 0;
    std::string time;  // "2024-01-02T10:00:03.000Z"
};

// Watches gpsd's reports on its own connection until destroyed.
class ReportLog {
public:
    explicit ReportLog(int port)
        : m_thread([this, port](std::stop_token stop) { Run(stop, port); }) {}

    std::vector<Report> Reports() {
        std::lock_guard lock(m_mutex);
        return m_reports;
    }

private:
    void Run(const std::stop_token& stop, int port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<std::uint16_t>(port));
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            if (fd >= 0)
                ::close(fd);
            return;
        }
        static constexpr char kWatch[] = "?WATCH={\"enable\":true,\"json\":true};\n";
        if (::write(fd, kWatch, sizeof kWatch - 1) != static_cast<ssize_t>(sizeof kWatch - 1)) {
            ::close(fd);
            return;
        }
        std::string pending;
        char buffer[4096];
        while (!stop.stop_requested()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            const std::int64_t now = WallMs();
            pending.append(buffer, static_cast<std::size_t>(n));
            for (auto end = pending.find('\n'); end != std::string::npos;
                 end = pending.find('\n')) {
                Note(pending.substr(0, end), now);
                pending.erase(0, end + 1);
            }
        }
        ::close(fd);
    }

    void Note(const std::string& line, std::int64_t now) {
        const nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
        if (!json.is_object() || json.value("class", "") != "TPV")
            return;
        Report report;
        report.arrivedMs = now;
        report.time = json.value("time", "");
        if (json.value("mode", 0) >= 2 && json.contains("lat") && json.contains("lon")) {
            report.fix = true;
            report.threeD = json.value("mode", 0) == 3;
            report.latitudeUnits = source::UnitsFromDegrees(json["lat"].get<double>());
            report.longitudeUnits = source::UnitsFromDegrees(json["lon"].get<double>());
        }
        std::lock_guard lock(m_mutex);
        m_reports.push_back(report);
    }

    std::mutex m_mutex;
    std::vector<Report> m_reports;
    std::jthread m_thread;
};

// The sample site with every scan taking 3 s, so the middle of a scan is
// 1.5 s of walking away from its request and from its end.
std::string SlowScanScenario(TempDir& dir) {
    std::string text = sim::DefaultScenarioText();
    sim::Scenario scenario;
    std::string error;
    EXPECT_TRUE(sim::ParseScenario(text, scenario, &error)) << error;
    for (const auto& [key, value] : {std::pair{"\"minMs\": ", scenario.scanMinMs},
                                     std::pair{"\"maxMs\": ", scenario.scanMaxMs}}) {
        const std::string from = key + std::to_string(value);
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos)
            text.replace(at, from.size(), std::string(key) + "3000");
    }
    const std::string path = dir.File("slow-scans.json");
    WriteBytes(path, Bytes(text.begin(), text.end()));
    return path;
}

// How far two clients of one gpsd may disagree about when a report arrived:
// on a loaded machine a thread may wait that long to run. The request and
// the end of a 3 s scan are 1.5 s from its middle, well outside it. (gpsd
// reports each sentence of an epoch, so the track stands still for the
// first second of each 2 s epoch under gpsfake and moves in the second.)
constexpr std::int64_t kArrivalSlackMs = 700;
// One epoch of the log as gpsfake plays it.
constexpr std::int64_t kEpochMs = 2000;

// Where the track was at `atMs` as the reports say: between the fixes before
// and after (when both are fixes, at most 5 s apart), else the fix before.
std::optional<std::pair<double, double>> TrackAt(const std::vector<Report>& reports,
                                                 std::int64_t atMs) {
    auto next = std::upper_bound(reports.begin(), reports.end(), atMs,
                                 [](std::int64_t ms, const Report& r) { return ms < r.arrivedMs; });
    if (next == reports.begin() || !std::prev(next)->fix)
        return std::nullopt;
    const Report& before = *std::prev(next);
    if (next == reports.end() || !next->fix || next->arrivedMs - before.arrivedMs > 5000)
        return std::pair<double, double>(before.latitudeUnits, before.longitudeUnits);
    const double t = static_cast<double>(atMs - before.arrivedMs) /
                     static_cast<double>(next->arrivedMs - before.arrivedMs);
    return std::pair<double, double>(
        before.latitudeUnits + t * (next->latitudeUnits - before.latitudeUnits),
        before.longitudeUnits + t * (next->longitudeUnits - before.longitudeUnits));
}

class GpsdRun : public ::testing::Test {
protected:
    TempDir dir;
    GpsFake gpsfake;
};

TEST_F(GpsdRun, EachPointTakesThePositionOfItsScansMiddle) {
    const int port = GpsFake::FreePort();
    ASSERT_EQ(gpsfake.Start(NmeaPath("walk_3d.nmea"), port), "");
    ReportLog log(port);
    const std::string collection = dir.File("walk.ktd");
    const ProgramRun run = RunKetrion(
        {"--autopilot", "--simulate=" + SlowScanScenario(dir), "--gpsd",
         "127.0.0.1:" + std::to_string(port), "--collection", collection, "--readings", "3"},
        dir.Path());
    ASSERT_FALSE(run.timedOut) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "recorded 3 points to " + collection + "\n") << run.err;

    const std::vector<Report> reports = log.Reports();
    // The walk's fixes, from gpsd's first 3D one on (before it, gpsd may say
    // 2D for the sentences of its first epoch).
    std::vector<const Report*> fixes;
    for (const Report& r : reports) {
        if (r.fix && (r.threeD || !fixes.empty()))
            fixes.push_back(&r);
    }
    ASSERT_GE(fixes.size(), 2u) << "gpsd gave the test too few fixes";

    const StoredSurvey survey = ReadStoredSurvey(collection);
    ASSERT_TRUE(survey.whole);
    ASSERT_TRUE(survey.hasSide) << survey.sideMessage;
    ASSERT_EQ(survey.points.size(), 3u);
    int onTheWalk = 0;
    for (std::size_t i = 0; i < survey.points.size(); ++i) {
        SCOPED_TRACE("point " + std::to_string(i + 1));
        const StoredPoint& point = survey.points[i];
        ASSERT_EQ(survey.sidePoints.count(point.offset), 1u);
        const SideStore::Point& side = survey.sidePoints.at(point.offset);
        EXPECT_EQ(side.method, "gpsd");
        EXPECT_EQ(side.scanSource, "board");
        ASSERT_TRUE(side.scanStartMs && side.scanEndMs);
        const std::int64_t middle = *side.scanStartMs + (*side.scanEndMs - *side.scanStartMs) / 2;
        // Before the walk, in its first epoch (where gpsd's sentences may
        // still say 2D, and a loaded program may hear the first 3D one late)
        // or after it: not between two 3D fixes.
        if (middle - kArrivalSlackMs - kEpochMs < fixes.front()->arrivedMs ||
            middle + kArrivalSlackMs > fixes.back()->arrivedMs) {
            continue;
        }
        ++onTheWalk;
        // Where the track went in the slack around the middle, give or take a
        // unit of rounding.
        double latLow = INFINITY, latHigh = -INFINITY, lonLow = INFINITY, lonHigh = -INFINITY;
        for (std::int64_t at = middle - kArrivalSlackMs; at <= middle + kArrivalSlackMs; at += 10) {
            const auto track = TrackAt(reports, at);
            ASSERT_TRUE(track.has_value());
            latLow = std::min(latLow, track->first);
            latHigh = std::max(latHigh, track->first);
            lonLow = std::min(lonLow, track->second);
            lonHigh = std::max(lonHigh, track->second);
        }
        std::string seen;
        for (const Report& r : reports) {
            seen += std::to_string(r.arrivedMs - middle) +
                    " ms: " + (r.fix ? std::to_string(r.latitudeUnits) : std::string("no fix")) +
                    "\n";
        }
        SCOPED_TRACE("reports around the middle of the scan:\n" + seen);
        EXPECT_GE(point.latitudeUnits, latLow - 1);
        EXPECT_LE(point.latitudeUnits, latHigh + 1);
        EXPECT_GE(point.longitudeUnits, lonLow - 1);
        EXPECT_LE(point.longitudeUnits, lonHigh + 1);
        EXPECT_EQ(point.fixClass, 2);  // 3D
        // The fix's quality as gpsd gave it: 3 satellites used, 3D, the
        // altitude of the log, an error estimate.
        EXPECT_EQ(side.fixFlag, "");
        EXPECT_EQ(side.satellites, 3);
        EXPECT_EQ(side.mode, 3);
        ASSERT_TRUE(side.ephMetres.has_value());
        EXPECT_GT(*side.ephMetres, 0.0);
        ASSERT_TRUE(side.altitudeMetres.has_value());
        EXPECT_NEAR(*side.altitudeMetres, 432.1, 0.05);
        // The time is the log's, of one of the fixes around the middle.
        char time[16];
        std::snprintf(time, sizeof time, "T%02d:%02d:%02d", point.hour, point.minute, point.second);
        const auto next =
            std::upper_bound(reports.begin(), reports.end(), middle,
                             [](std::int64_t ms, const Report& r) { return ms < r.arrivedMs; });
        ASSERT_NE(next, reports.begin());
        ASSERT_NE(next, reports.end());
        EXPECT_TRUE(std::prev(next)->time.find(time) != std::string::npos ||
                    next->time.find(time) != std::string::npos)
            << time << " between " << std::prev(next)->time << " and " << next->time;
    }
    // At least one scan fell inside the walk, or the test tested nothing.
    EXPECT_GE(onTheWalk, 1) << run.err;
}

TEST_F(GpsdRun, PointsWithoutAFixAreRecordedAndFlagged) {
    const int port = GpsFake::FreePort();
    ASSERT_EQ(gpsfake.Start(NmeaPath("no_fix.nmea"), port), "");
    const std::string collection = dir.File("nofix.ktd");
    const ProgramRun run =
        RunKetrion({"--autopilot", "--simulate", "--gpsd", "127.0.0.1:" + std::to_string(port),
                    "--collection", collection, "--readings", "2"},
                   dir.Path());
    ASSERT_FALSE(run.timedOut) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "recorded 2 points to " + collection + "\n") << run.err;

    const StoredSurvey survey = ReadStoredSurvey(collection);
    ASSERT_TRUE(survey.whole);
    ASSERT_TRUE(survey.hasSide) << survey.sideMessage;
    ASSERT_EQ(survey.points.size(), 2u);
    for (const StoredPoint& point : survey.points) {
        // Nothing the surveyor walked for is thrown away...
        EXPECT_FALSE(point.readings.empty());
        EXPECT_EQ(point.fixClass, 0);
        // ...but the side store says it has no position.
        ASSERT_EQ(survey.sidePoints.count(point.offset), 1u);
        const SideStore::Point& side = survey.sidePoints.at(point.offset);
        EXPECT_EQ(side.method, "gpsd");
        EXPECT_EQ(side.fixFlag, "no-fix");
    }
}

}  // namespace
}  // namespace ketrion::testing
