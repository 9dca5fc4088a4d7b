#include "source/PositionTrack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Location.h"
#include "source/FixHealth.h"

namespace ketrion::source {
namespace {

// A fix at `ms` on the session clock, at whole stored units.
Fix At(std::int64_t ms, std::int32_t lat, std::int32_t lon, bool valid = true) {
    Fix fix;
    fix.valid = valid;
    fix.receivedMs = ms;
    fix.latitudeUnits = lat;
    fix.longitudeUnits = lon;
    fix.latitude = lat * gps::kDegreesPerUnit;
    fix.longitude = lon * gps::kDegreesPerUnit;
    fix.fixClass = valid ? FixClass::Fix3D : FixClass::None;
    fix.second = static_cast<std::uint8_t>((ms / 1000) % 60);
    return fix;
}

Fix NoFixAt(std::int64_t ms) {
    return At(ms, 0, 0, false);
}

constexpr std::int32_t kDegree = 3600000;  // stored units per degree

struct TrackCase {
    const char* name;
    std::vector<Fix> reports;
    std::int64_t startedMs, endedMs;
    bool valid;
    std::int32_t lat, lon;
    std::int64_t receivedMs;  // of the fix returned
    bool held = false;        // held across a jump no receiver could make
};

TEST(PositionTrack, PlacesAScanAtItsMiddle) {
    const std::int32_t lat0 = 47 * kDegree, lon0 = 8 * kDegree;
    const std::vector<Fix> walk = {At(1000, lat0, lon0), At(2000, lat0 + 100, lon0 - 40),
                                   At(3000, lat0 + 200, lon0 - 80)};
    const std::vector<TrackCase> cases = {
        {"middle between two fixes", walk, 1000, 4000, true, lat0 + 150, lon0 - 60, 2500},
        {"middle exactly on a fix", walk, 1000, 3000, true, lat0 + 100, lon0 - 40, 2000},
        {"a third of the way, units rounded", walk, 1000, 3666, true, lat0 + 133, lon0 - 53, 2333},
        {"after the last fix: the last one", walk, 3000, 9000, true, lat0 + 200, lon0 - 80, 3000},
        {"before the first fix, within reach: the first", walk, 0, 1000, true, lat0, lon0, 1000},
        {"long before the first fix: none", walk, -9000, -8000, false, 0, 0, -1},
        {"empty track: none", {}, 0, 3000, false, 0, 0, -1},
        {"no fix reported at the middle: no fix",
         {At(1000, lat0, lon0), NoFixAt(2000), At(3000, lat0 + 200, lon0)},
         2000,
         2800,
         false,
         0,
         0,
         2000},
        {"fix lost after the middle: the fix before",
         {At(1000, lat0, lon0), NoFixAt(2000)},
         1000,
         2000,
         true,
         lat0,
         lon0,
         1000},
        {"gap too long to join: the fix before, with its age",
         {At(1000, lat0, lon0), At(1000 + PositionTrack::kMaxGapMs + 1, lat0 + 900, lon0)},
         2000,
         3000,
         true,
         lat0,
         lon0,
         1000},
        {"across the 180th meridian the short way",
         {At(1000, 0, 180 * kDegree - 100), At(2000, 0, -180 * kDegree + 100)},
         1000,
         2000,
         true,
         0,
         180 * kDegree,
         1500},
        {"across it the other way, wrapped into range",
         {At(1000, 0, -180 * kDegree + 100), At(2000, 0, 180 * kDegree - 300)},
         1000,
         2000,
         true,
         0,
         -180 * kDegree - 100 + 360 * kDegree,
         1500},
        {"86 m in a second: joined",
         {At(1000, lat0, lon0), At(2000, lat0 + 2800, lon0)},
         1000,
         2000,
         true,
         lat0 + 1400,
         lon0,
         1500},
        {"another continent a second later: the nearer fix held, before",
         {At(1000, lat0, lon0), At(2000, -33 * kDegree, 151 * kDegree)},
         1000,
         1600,
         true,
         lat0,
         lon0,
         1000,
         true},
        {"and after",
         {At(1000, lat0, lon0), At(2000, -33 * kDegree, 151 * kDegree)},
         1400,
         2000,
         true,
         -33 * kDegree,
         151 * kDegree,
         2000,
         true},
        {"two reports 10 ms apart, 5 m: joined over a second, not 500 m/s",
         {At(1000, lat0, lon0), At(1010, lat0 + 162, lon0)},
         1000,
         1010,
         true,
         lat0 + 81,
         lon0,
         1005},
    };
    for (const TrackCase& c : cases) {
        SCOPED_TRACE(c.name);
        PositionTrack track;
        for (const Fix& f : c.reports) {
            track.Add(f);
        }
        const Fix got = track.FixFor(c.startedMs, c.endedMs);
        EXPECT_EQ(got.valid, c.valid);
        EXPECT_EQ(got.receivedMs, c.receivedMs);
        EXPECT_EQ(got.heldAcrossJump, c.held);
        if (c.valid) {
            EXPECT_EQ(got.latitudeUnits, c.lat);
            EXPECT_EQ(got.longitudeUnits, c.lon);
            EXPECT_NEAR(got.latitude, c.lat * gps::kDegreesPerUnit, 1e-9);
            EXPECT_NEAR(got.longitude, c.lon * gps::kDegreesPerUnit, 1e-9);
        }
    }
}

TEST(PositionTrack, KeepsReportsInTimeOrderAndBounded) {
    PositionTrack track;
    track.Add(At(3000, 300, 0));
    track.Add(At(1000, 100, 0));  // late arrival goes in its place
    track.Add(At(2000, 200, 0));
    track.Add(At(-1, 999, 0));  // never arrived: ignored
    EXPECT_EQ(track.Size(), 3u);
    EXPECT_EQ(track.At(1500).latitudeUnits, 150);
    EXPECT_EQ(track.At(2500).latitudeUnits, 250);

    for (std::int64_t i = 0; i < static_cast<std::int64_t>(PositionTrack::kCapacity) + 50; ++i) {
        track.Add(At(10000 + i * 1000, static_cast<std::int32_t>(i), 0));
    }
    EXPECT_EQ(track.Size(), PositionTrack::kCapacity);
    // The newest are kept: the last one is still there.
    const std::int64_t last = 10000 + (PositionTrack::kCapacity + 49) * 1000;
    EXPECT_EQ(track.At(last).latitudeUnits,
              static_cast<std::int32_t>(PositionTrack::kCapacity + 49));
}

TEST(PositionTrack, QualityComesFromTheNearerFix) {
    Fix a = At(1000, 0, 0);
    a.ephMetres = 3.0;
    a.satellitesUsed = 9;
    Fix b = At(2000, 1000, 0);
    b.ephMetres = 12.0;
    b.satellitesUsed = 4;
    b.fixClass = FixClass::Fix2D;
    PositionTrack track;
    track.Add(a);
    track.Add(b);
    EXPECT_EQ(track.At(1200).ephMetres, 3.0);
    EXPECT_EQ(track.At(1200).satellitesUsed, 9);
    EXPECT_EQ(track.At(1800).ephMetres, 12.0);
    EXPECT_EQ(track.At(1800).fixClass, FixClass::Fix2D);
}

TEST(FixHealth, ClassifiesByArrivalNotByTheTimeInTheFix) {
    Fix fresh = At(10'000, 1, 1);
    fresh.year = 2004;  // a replayed log: its own time is years old
    struct Case {
        const char* name;
        Fix fix;
        std::int64_t nowMs;
        FixHealth want;
    };
    const std::vector<Case> cases = {
        {"just arrived", fresh, 10'000, FixHealth::Ok},
        {"at the limit", fresh, 10'000 + kStaleFixMs, FixHealth::Ok},
        {"past the limit", fresh, 10'000 + kStaleFixMs + 1, FixHealth::Stale},
        {"arrived after now (clock set back)", fresh, 9'000, FixHealth::Ok},
        {"no fix reported", NoFixAt(10'000), 10'000, FixHealth::NoFix},
        {"nothing ever arrived", Fix{}, 10'000, FixHealth::NoFix},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ClassifyFix(c.fix, c.nowMs), c.want);
    }
    EXPECT_STREQ(FixHealthName(FixHealth::Ok), "ok");
    EXPECT_STREQ(FixHealthName(FixHealth::NoFix), "no-fix");
    EXPECT_STREQ(FixHealthName(FixHealth::Stale), "stale");
}

}  // namespace
}  // namespace ketrion::source
