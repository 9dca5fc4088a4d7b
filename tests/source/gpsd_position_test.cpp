#include "source/gpsd/GpsdPosition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "source/FixHealth.h"
#include "support/LinkFakes.h"

namespace ketrion::source {
namespace {

using ketrion::testing::ManualClock;
using Result = GpsdPosition::PassResult;

TEST(GpsdEndpoint, ParsesHostAndPort) {
    struct Case {
        const char* text;
        std::optional<std::pair<std::string, int>> want;  // empty: an error
    };
    const std::vector<Case> cases = {
        {"", {{"localhost", 2947}}},
        {"gps.local", {{"gps.local", 2947}}},
        {"127.0.0.1:3001", {{"127.0.0.1", 3001}}},
        {":3001", {{"localhost", 3001}}},
        {"[::1]:3001", {{"::1", 3001}}},
        {"[fe80::1%wlan0]", {{"fe80::1%wlan0", 2947}}},
        {"host:65535", {{"host", 65535}}},
        {"::1", std::nullopt},         // IPv6 without brackets
        {"::1:2947", std::nullopt},    // ambiguous
        {"[::1", std::nullopt},        // unclosed
        {"[::1]2947", std::nullopt},   // no ':' before the port
        {"[]:2947", std::nullopt},     // empty address
        {"host:", std::nullopt},       // port missing
        {"host:0", std::nullopt},      // out of range
        {"host:65536", std::nullopt},  // out of range
        {"host:99999999999", std::nullopt},
        {"host:12ab", std::nullopt},
        {"host:-1", std::nullopt},
        {"ho st", std::nullopt},
        {"host/path:1", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto got = ParseGpsdEndpoint(c.text, error);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << error;
        if (got) {
            EXPECT_EQ(got->host, c.want->first);
            EXPECT_EQ(got->port, c.want->second);
            EXPECT_TRUE(error.empty());
        } else {
            EXPECT_NE(error.find("gpsd address"), std::string::npos) << error;
        }
    }
    std::string error;
    const std::string tooLong(300, 'a');
    EXPECT_FALSE(ParseGpsdEndpoint(tooLong, error));
    EXPECT_EQ((GpsdEndpoint{"::1", 2947}.ToString()), "[::1]:2947");
    EXPECT_EQ((GpsdEndpoint{}.ToString()), "localhost:2947");
}

GpsdReport Tpv(int mode, std::optional<double> lat = 47.2, std::optional<double> lon = 8.5) {
    GpsdReport r;
    r.kind = GpsdReport::Kind::Tpv;
    r.mode = mode;
    r.latitude = lat;
    r.longitude = lon;
    r.timeSeconds = 1704189601;  // 2024-01-02 10:00:01 UTC
    r.ephMetres = 7.5;
    r.altitudeHaeMetres = 480.1;
    r.altitudeMslMetres = 432.1;
    r.speedMetresPerSecond = 1.2;
    r.trackDegrees = 359.96;
    return r;
}

GpsdReport Sky(int used, int seen) {
    GpsdReport r;
    r.kind = GpsdReport::Kind::Sky;
    r.satellitesUsed = used;
    r.satellitesSeen = seen;
    return r;
}

TEST(GpsdFix, CountsOnlyA2DOr3DFixWithAPositionInRange) {
    struct Case {
        const char* name;
        GpsdReport report;
        bool usable;  // a fix value at all
        bool valid;
        FixClass fixClass;
    };
    const std::vector<Case> cases = {
        {"3D", Tpv(3), true, true, FixClass::Fix3D},
        {"2D", Tpv(2), true, true, FixClass::Fix2D},
        {"no fix", Tpv(1), true, false, FixClass::None},
        {"mode not seen", Tpv(0), true, false, FixClass::None},
        {"undefined mode", Tpv(7), true, false, FixClass::None},
        {"negative mode", Tpv(-3), true, false, FixClass::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ImpossibleTpv(c.report), "");
    }
    EXPECT_FALSE(FixFromTpv(Tpv(3, std::nullopt, std::nullopt), 0)) << "a cycle's first sentence";
    // Reports no receiver could make are no fix, with nothing of theirs kept.
    auto with = [](auto change) {
        GpsdReport r = Tpv(3);
        change(r);
        return r;
    };
    const struct Impossible {
        const char* name;
        GpsdReport report;
        const char* why;
    } impossible[] = {
        {"latitude out of range", Tpv(3, 91.0, 8.5), "a position off the globe"},
        {"longitude out of range", Tpv(2, 47.0, -180.5), "a position off the globe"},
        {"latitude not a number", Tpv(3, std::nan(""), 8.5), "a position off the globe"},
        {"year 9999", with([](GpsdReport& r) { r.timeSeconds = 253402300799; }),
         "a time no receiver reports"},
        {"before GPS time", with([](GpsdReport& r) { r.timeSeconds = -5; }),
         "a time no receiver reports"},
        {"no fix at year 9999", with([](GpsdReport& r) {
             r.mode = 1;
             r.timeSeconds = 253402300799;
         }),
         "a time no receiver reports"},
        {"altHAE 1e300", with([](GpsdReport& r) { r.altitudeHaeMetres = 1e300; }),
         "a height no receiver reports"},
        {"altMSL infinite", with([](GpsdReport& r) { r.altitudeMslMetres = INFINITY; }),
         "a height no receiver reports"},
        {"negative error", with([](GpsdReport& r) { r.ephMetres = -1.0; }),
         "an error estimate no receiver reports"},
        {"speed 1e12", with([](GpsdReport& r) { r.speedMetresPerSecond = 1e12; }),
         "a speed no receiver reports"},
    };
    for (const Impossible& c : impossible) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ImpossibleTpv(c.report), c.why);
        const Fix fix = FixFromTpv(c.report, 1234).value();
        EXPECT_FALSE(fix.valid);
        EXPECT_EQ(fix.fixClass, FixClass::None);
        EXPECT_EQ(fix.latitudeUnits, 0);
        EXPECT_EQ(fix.year, 0);
        EXPECT_EQ(fix.heightRaw, 0);
        EXPECT_EQ(fix.receivedMs, 1234);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto fix = FixFromTpv(c.report, 1234);
        ASSERT_EQ(fix.has_value(), c.usable);
        if (!fix) {
            continue;
        }
        EXPECT_EQ(fix->valid, c.valid);
        EXPECT_EQ(fix->fixClass, c.fixClass);
        EXPECT_EQ(fix->receivedMs, 1234);
        EXPECT_EQ(fix->year, 2024);
        EXPECT_EQ(fix->month, 1);
        EXPECT_EQ(fix->day, 2);
        EXPECT_EQ(fix->hour, 10);
        EXPECT_EQ(fix->second, 1);
    }

    const Fix fix3d = *FixFromTpv(Tpv(3), 0);
    EXPECT_EQ(fix3d.latitudeUnits, 47.2 * 3600000);
    EXPECT_EQ(fix3d.longitudeUnits, 8.5 * 3600000);
    EXPECT_EQ(fix3d.ephMetres, 7.5);
    EXPECT_EQ(fix3d.altitudeMetres, 432.1);
    EXPECT_EQ(fix3d.heightRaw, 48010) << "height above the ellipsoid in cm";
    EXPECT_EQ(fix3d.speed2D, 120) << "cm/s";
    EXPECT_EQ(fix3d.heading, 0) << "359.96 degrees rounds to north, not 3600";
    EXPECT_EQ(fix3d.mode, 3);

    const Fix fix2d = *FixFromTpv(Tpv(2), 0);
    EXPECT_FALSE(fix2d.altitudeMetres) << "a 2D fix has no meaningful height";
    EXPECT_EQ(fix2d.heightRaw, 0);
}

// A gpsd connection played from a script: each Open takes the next answer,
// each Read the next message (Nothing when the script is used up).
class ScriptedClient final : public GpsdClient {
public:
    struct Shared {
        std::deque<std::optional<std::string>> opens;  // failure text or success
        std::deque<GpsdClient::ReadResult> reads;
        std::deque<GpsdReport> reports;
        int openCalls = 0;
        int closeCalls = 0;
        bool open = false;
    };
    explicit ScriptedClient(Shared& shared) : m(shared) {}

    std::optional<std::string> Open(const std::string& host, const std::string& port) override {
        ++m.openCalls;
        lastHost = host;
        lastPort = port;
        std::optional<std::string> answer = std::string("connection refused");
        if (!m.opens.empty()) {
            answer = m.opens.front();
            m.opens.pop_front();
        }
        m.open = !answer;
        return answer;
    }
    void Close() override {
        ++m.closeCalls;
        m.open = false;
    }
    ReadResult Read(int, GpsdReport& report, std::string& error) override {
        if (m.reads.empty()) {
            return ReadResult::Nothing;
        }
        const ReadResult r = m.reads.front();
        m.reads.pop_front();
        if (r == ReadResult::Report) {
            report = m.reports.front();
            m.reports.pop_front();
        } else if (r == ReadResult::Lost) {
            error = "end of file";
        }
        return r;
    }
    std::string lastHost, lastPort;

private:
    Shared& m;
};

struct Harness {
    ManualClock clock{1'000'000};
    ScriptedClient::Shared script;
    ScriptedClient* client = nullptr;
    std::unique_ptr<GpsdPosition> source;
    std::vector<SourceEvent> events;

    Harness() {
        auto c = std::make_unique<ScriptedClient>(script);
        client = c.get();
        source =
            std::make_unique<GpsdPosition>(clock, GpsdEndpoint{"gps.local", 3001}, std::move(c));
        source->onEvent = [this](const SourceEvent& e) { events.push_back(e); };
    }
    void Feed(const GpsdReport& report) {
        script.reads.push_back(GpsdClient::ReadResult::Report);
        script.reports.push_back(report);
    }
    std::vector<SourceEventKind> Kinds() const {
        std::vector<SourceEventKind> out;
        for (const auto& e : events) {
            out.push_back(e.kind);
        }
        return out;
    }
};

TEST(GpsdPosition, RetriesARefusedConnectionEveryRetryPeriod) {
    Harness h;
    EXPECT_EQ(h.source->Status().state, SourceState::Reconnecting);
    EXPECT_EQ(h.source->Kind(), "gpsd");

    h.script.opens = {std::string("connection refused"), std::string("connection refused"),
                      std::nullopt};
    EXPECT_EQ(h.source->Pass(), Result::ConnectFailed);
    EXPECT_EQ(h.client->lastHost, "gps.local");
    EXPECT_EQ(h.client->lastPort, "3001");
    const SourceStatus lost = h.source->Status();
    EXPECT_EQ(lost.state, SourceState::Lost);
    EXPECT_NE(lost.reason.find("gps.local:3001"), std::string::npos) << lost.reason;
    EXPECT_NE(lost.reason.find("connection refused"), std::string::npos) << lost.reason;
    EXPECT_NE(lost.reason.find("check that gpsd is running"), std::string::npos) << lost.reason;

    // Waits (on the clock) until the retry period has passed, then tries again.
    int waits = 0;
    Result r;
    while ((r = h.source->Pass()) == Result::Waiting) {
        ++waits;
        ASSERT_LT(waits, 100);
    }
    EXPECT_EQ(r, Result::ConnectFailed);
    EXPECT_EQ(h.clock.NowMs(), 1'000'000'000 + GpsdPosition::kRetryMs);
    EXPECT_EQ(h.script.openCalls, 2);
    while ((r = h.source->Pass()) == Result::Waiting) {
    }
    EXPECT_EQ(r, Result::Connected);
    EXPECT_EQ(h.source->Status().state, SourceState::Ready);
    EXPECT_TRUE(h.source->Status().reason.empty());
    // One LinkLost for the whole outage, one LinkRestored at the end.
    EXPECT_EQ(h.Kinds(), (std::vector{SourceEventKind::LinkLost, SourceEventKind::LinkRestored}));
    EXPECT_NE(h.events[0].reason.find("gpsd"), std::string::npos);
}

TEST(GpsdPosition, FollowsFixesAndSatellitesAndRecoversFromALostConnection) {
    Harness h;
    h.script.opens = {std::nullopt, std::nullopt};
    ASSERT_EQ(h.source->Pass(), Result::Connected);
    EXPECT_EQ(h.source->Pass(), Result::Idle);
    EXPECT_FALSE(h.source->Current().valid);

    h.Feed(Sky(7, 11));
    h.Feed(Tpv(3, 47.0, 8.0));
    h.clock.Advance(1000);
    EXPECT_EQ(h.source->Pass(), Result::Report);
    EXPECT_EQ(h.source->Pass(), Result::Report);
    Fix fix = h.source->Current();
    EXPECT_TRUE(fix.valid);
    EXPECT_EQ(fix.latitudeUnits, 47 * 3600000);
    EXPECT_EQ(fix.satellitesUsed, 7);
    EXPECT_EQ(fix.satellitesSeen, 11);
    EXPECT_EQ(fix.receivedMs, h.clock.NowMs()) << "age counts from arrival";
    const std::int64_t firstMs = h.clock.NowMs();

    // A TPV in 3D mode without a position changes nothing.
    h.Feed(Tpv(3, std::nullopt, std::nullopt));
    EXPECT_EQ(h.source->Pass(), Result::Report);
    EXPECT_EQ(h.source->Current().latitudeUnits, 47 * 3600000);

    h.clock.Advance(1000);
    h.Feed(Tpv(3, 47.0005, 8.0));  // 56 m in a second
    EXPECT_EQ(h.source->Pass(), Result::Report);
    // The track places a scan between the two fixes.
    const Fix mid = h.source->FixFor(firstMs, firstMs + 1000);
    EXPECT_EQ(mid.latitudeUnits, 47 * 3600000 + 900);

    // Fix lost: the position is gone, the satellites stay.
    h.clock.Advance(1000);
    h.Feed(Sky(0, 11));
    h.Feed(Tpv(1));
    EXPECT_EQ(h.source->Pass(), Result::Report);
    EXPECT_EQ(h.source->Pass(), Result::Report);
    fix = h.source->Current();
    EXPECT_FALSE(fix.valid);
    EXPECT_EQ(fix.mode, 1);
    EXPECT_EQ(fix.satellitesSeen, 11);
    EXPECT_EQ(ClassifyFix(fix, h.clock.NowMs()), FixHealth::NoFix);

    // The connection drops: Lost with a reason, the next attempt after the
    // retry period, then Ready again.
    h.clock.Advance(1000);
    h.Feed(Tpv(3, 47.002, 8.0));
    h.script.reads.push_back(GpsdClient::ReadResult::Lost);
    EXPECT_EQ(h.source->Pass(), Result::Report);
    EXPECT_TRUE(h.source->Current().valid);
    EXPECT_EQ(h.source->Pass(), Result::Lost);
    EXPECT_FALSE(h.script.open);
    const SourceStatus lost = h.source->Status();
    EXPECT_EQ(lost.state, SourceState::Lost);
    EXPECT_NE(lost.reason.find("end of file"), std::string::npos) << lost.reason;
    EXPECT_TRUE(h.source->Current().valid) << "the last fix stays, and ages";
    Result r;
    while ((r = h.source->Pass()) == Result::Waiting) {
    }
    EXPECT_EQ(r, Result::Connected);
    EXPECT_EQ(h.source->Status().state, SourceState::Ready);
    EXPECT_EQ(ClassifyFix(h.source->Current(), h.clock.NowMs()), FixHealth::Ok);
    h.clock.Advance(kStaleFixMs + 1);
    EXPECT_EQ(ClassifyFix(h.source->Current(), h.clock.NowMs()), FixHealth::Stale);

    const auto kinds = h.Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), SourceEventKind::PositionUpdate), 6);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), SourceEventKind::LinkLost), 1);
    // The first connection is no recovery: only the return after the loss says so.
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), SourceEventKind::LinkRestored), 1);
}

TEST(GpsdPosition, ImpossibleReportsAreNoFixAndCountedInTheStatusLine) {
    Harness h;
    h.source->Apply(Tpv(3, 47.0, 8.0));
    EXPECT_TRUE(h.source->Current().valid);
    GpsdReport nan = Tpv(3, std::nan(""), 8.0);
    h.clock.Advance(1000);
    h.source->Apply(nan);
    EXPECT_FALSE(h.source->Current().valid) << "not 0.0 with mode 3";
    EXPECT_EQ(h.source->Current().latitudeUnits, 0);
    EXPECT_EQ(ClassifyFix(h.source->Current(), h.clock.NowMs()), FixHealth::NoFix);
    GpsdReport far = Tpv(3);
    far.timeSeconds = 253402300799;  // 9999-12-31
    h.clock.Advance(1000);
    h.source->Apply(far);
    EXPECT_FALSE(h.source->Current().valid);
    EXPECT_EQ(h.source->StatusLine(),
              "gpsd: no fix, waiting for a GPS fix  2 impossible reports taken as no fix "
              "(last: a time no receiver reports)");
    h.clock.Advance(1000);
    h.source->Apply(Tpv(3, 47.0, 8.0));
    EXPECT_TRUE(h.source->Current().valid);
    EXPECT_NE(h.source->StatusLine().find("2 impossible reports"), std::string::npos);
    // The track holds the no-fix reports where they came.
    EXPECT_FALSE(h.source->FixFor(1'000'900, 1'001'300).valid);
}

TEST(GpsdPosition, ErrorAndHeightDoNotBlinkOutBetweenSentencesOfOneCycle) {
    Harness h;
    GpsdReport bare = Tpv(3, 47.0, 8.0);  // the first TPV of a cycle, from RMC alone
    bare.ephMetres.reset();
    bare.altitudeHaeMetres.reset();
    bare.altitudeMslMetres.reset();

    h.source->Apply(Tpv(3, 47.0, 8.0));
    h.clock.Advance(1000);
    h.source->Apply(bare);
    EXPECT_EQ(h.source->Current().ephMetres, 7.5);
    EXPECT_EQ(h.source->Current().altitudeMetres, 432.1);
    EXPECT_EQ(h.source->Current().heightRaw, 48010);

    // Not into another mode, nor from a fix too old to vouch for it.
    GpsdReport bare2d = bare;
    bare2d.mode = 2;
    h.source->Apply(bare2d);
    EXPECT_FALSE(h.source->Current().ephMetres);
    h.source->Apply(Tpv(3, 47.0, 8.0));
    h.clock.Advance(kStaleFixMs + 1);
    h.source->Apply(bare);
    EXPECT_FALSE(h.source->Current().ephMetres);
    EXPECT_FALSE(h.source->Current().altitudeMetres);
}

}  // namespace
}  // namespace ketrion::source
