#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/LinkList.h"
#include "engine/Location.h"
#include "sim/Board.h"
#include "sim_frames.h"

namespace ketrion::sim {
namespace {

using testing::Frame;
using testing::Frames;
using testing::Request;

constexpr std::int64_t kStart = 1173103629;  // 2007-03-05 14:07:09 UTC

// A small, quiet scenario: no GPS unless asked, fast scans, no noise.
Scenario Quiet() {
    Scenario s;
    s.firmware = "1.23";
    s.serial = "ABCD1234";
    s.seed = 7;
    s.gpsPeriodMs = 0;
    s.scanMinMs = 100;
    s.scanMaxMs = 300;
    s.scanPasses = 2;
    s.pathLossSigma = 0.0;
    s.waypoints = {{52.2051, 0.1202}, {52.2051, 0.1218}};
    s.speed = 1.0;
    s.loop = false;
    s.accessPoints = {
        {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x01}, "NEAR", 6, 52.2051, 0.1202, 20.0},
        {{0x00, 0x11, 0x2B, 0x3C, 0x11, 0x02}, "FAR", 11, 52.2059, 0.1218, 20.0},
    };
    return s;
}

// Feeds `bytes` at time `at`, runs the board to `until` and returns what it sent.
std::vector<std::uint8_t> Drive(Board& board, const std::vector<std::uint8_t>& bytes,
                                Board::Millis at, Board::Millis until) {
    board.Receive(bytes.data(), bytes.size(), at);
    std::vector<std::uint8_t> out;
    for (Board::Millis t = at; t <= until; ++t) {
        board.Advance(t);
        board.TakeDue(t, out);
    }
    return out;
}

std::vector<std::uint8_t> Types(const std::vector<Frame>& frames) {
    std::vector<std::uint8_t> types;
    for (const Frame& f : frames) {
        types.push_back(f.type);
    }
    return types;
}

TEST(SimBoard, AnswersTheHandshake) {
    Board board(Quiet(), kStart);
    auto frames = Frames(Drive(board, Request(0x01), 0, 0));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 0x01);
    EXPECT_TRUE(frames[0].checkOk);
    EXPECT_STREQ(reinterpret_cast<const char*>(frames[0].body.data()), "1.23");

    frames = Frames(Drive(board, Request(0x02), 1, 1));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 0x02);
    EXPECT_TRUE(frames[0].checkOk);
    ASSERT_EQ(frames[0].body.size(), 9u) << "8 characters and the check byte";
    EXPECT_EQ(std::string(frames[0].body.begin(), frames[0].body.begin() + 8), "ABCD1234");

    frames = Frames(Drive(board, Request(0x03, {0x07}), 2, 2));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 0x03);
    EXPECT_TRUE(frames[0].checkOk);

    // Keep-alive bytes, stray bytes and unknown requests get no answer.
    std::vector<std::uint8_t> quiet = {0x00, 0x00, 0x42, 0x13};
    const auto unknown = Request(0x05);
    quiet.insert(quiet.end(), unknown.begin(), unknown.end());
    EXPECT_TRUE(Drive(board, quiet, 3, 50).empty());
    EXPECT_EQ(board.Stats().requests, 4u);
}

TEST(SimBoard, ScanCycleStartReportsEnd) {
    Board board(Quiet(), kStart);
    const auto request = Request(0x16);
    board.Receive(request.data(), request.size(), 1000);
    EXPECT_TRUE(board.Scanning());
    std::vector<std::uint8_t> out;
    board.TakeDue(1000, out);
    auto frames = Frames(out);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, 0x16) << "ScanStart at once";

    // A second request while scanning is not queued.
    board.Receive(request.data(), request.size(), 1001);
    Board::Millis endedAt = -1;
    std::vector<std::uint8_t> all;
    for (Board::Millis t = 1001; t <= 1400 && endedAt < 0; ++t) {
        board.Advance(t);
        const std::size_t before = all.size();
        board.TakeDue(t, all);
        const auto got = Frames({all.begin() + before, all.end()});
        if (!got.empty() && got.back().type == 0x18) {
            endedAt = t;
        }
    }
    frames = Frames(all);
    EXPECT_EQ(Types(frames), (std::vector<std::uint8_t>{0x17, 0x17, 0x18}));
    EXPECT_GE(endedAt, 1100);
    EXPECT_LE(endedAt, 1300);
    EXPECT_FALSE(board.Scanning());
    EXPECT_EQ(board.Stats().scans, 1u);
    for (const Frame& f : frames) {
        EXPECT_TRUE(f.checkOk);
    }
}

TEST(SimBoard, ReportsApplyToTheAccessPointList) {
    Scenario s = Quiet();
    // 40 access points in a line: more than one report's worth per pass.
    s.accessPoints.clear();
    for (int i = 0; i < 40; ++i) {
        AccessPoint ap;
        ap.mac = {0x02, 0, 0, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
        ap.ssid = i == 0 ? std::string(32, 'L') : "AP" + std::to_string(i);
        ap.attribute = static_cast<std::uint8_t>(i);
        ap.lat = 52.2051;
        ap.lon = 0.1202 + 0.00001 * i;
        s.accessPoints.push_back(ap);
    }
    Board board(s, kStart);
    const auto frames = Frames(Drive(board, Request(0x16), 0, 400));
    LinkList list;
    ReportScratch scratch;
    int reports = 0;
    for (const Frame& f : frames) {
        if (f.type == 0x17) {
            ++reports;
            EXPECT_LE(f.body[0], 32);
            EXPECT_TRUE(list.ApplyReport(f.body.data(), static_cast<std::uint32_t>(f.body.size()),
                                         scratch));
        }
    }
    EXPECT_EQ(reports, 4) << "two passes of 32 + 8";
    ASSERT_EQ(list.Size(), 40);
    const std::uint8_t first[6] = {0x02, 0, 0, 0, 0, 0};
    LinkList::Node* node = nullptr;
    ASSERT_EQ(list.FindByMac(first, node), 0);
    EXPECT_EQ(node->sampleCount, 2u);
    EXPECT_EQ(std::string(node->ssid), std::string(31, 'L'));
    const std::uint8_t last[6] = {0x02, 0, 0, 0, 0, 39};
    ASSERT_EQ(list.FindByMac(last, node), 0);
    EXPECT_STREQ(node->ssid, "AP39");
    EXPECT_EQ(node->attribute, 39);
}

TEST(SimBoard, SameSeedSameBytesOtherSeedOtherSignals) {
    Scenario s = Quiet();
    s.pathLossSigma = 4.0;
    s.gpsPeriodMs = 250;
    s.faults.noise = 0.3;
    s.faults.split = 0.3;
    auto run = [](const Scenario& sc) {
        Board board(sc, kStart);
        std::vector<std::uint8_t> out = Drive(board, Request(0x16), 0, 2000);
        const auto more = Drive(board, Request(0x16), 2001, 4000);
        out.insert(out.end(), more.begin(), more.end());
        return out;
    };
    const auto a = run(s);
    EXPECT_EQ(a, run(s));
    s.seed = 8;
    EXPECT_NE(a, run(s));
}

TEST(SimBoard, NearerAccessPointsReadStronger) {
    Scenario s = Quiet();
    const AccessPoint& near = s.accessPoints[0];
    // The mean falls with distance...
    double previous = 0.0;
    for (double d : {0.5, 1.0, 2.0, 10.0, 40.0, 100.0}) {
        const double mean = MeanSignal(s, near, d);
        if (d > 1.0) {
            EXPECT_LT(mean, previous) << d;
        }
        previous = mean;
    }
    EXPECT_DOUBLE_EQ(MeanSignal(s, near, 10.0), 20.0 - 40.0 - 30.0);

    // ... and so does what the board hears, walking away from NEAR towards FAR.
    Board board(s, kStart);
    int lastNear = 1;
    int lastFar = -1000;
    for (double f : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        const double lat = 52.2051 + (52.2059 - 52.2051) * f;
        const double lon = 0.1202 + (0.1218 - 0.1202) * f;
        const auto heard = board.Hear(lat, lon);
        ASSERT_EQ(heard.size(), 2u) << f;
        EXPECT_LT(heard[0].signal, lastNear);
        EXPECT_GT(heard[1].signal, lastFar);
        lastNear = heard[0].signal;
        lastFar = heard[1].signal;
    }
    EXPECT_EQ(board.Hear(52.2051, 0.1202)[0].signal, -20) << "clamped at the strongest value";

    // Beyond the floor an access point is not heard at all.
    s.pathLossFloor = -60;
    Board strict(s, kStart);
    const auto heard = strict.Hear(52.2051, 0.1202);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].index, 0u);

    // With noise the order still holds on average.
    s.pathLossFloor = -95;
    s.pathLossSigma = 3.0;
    Board noisy(s, kStart);
    int nearSum = 0;
    int farSum = 0;
    for (int i = 0; i < 50; ++i) {
        const auto h = noisy.Hear(52.2053, 0.1206);
        ASSERT_EQ(h.size(), 2u);
        nearSum += h[0].signal;
        farSum += h[1].signal;
    }
    EXPECT_GT(nearSum, farSum + 50 * 10);
}

TEST(SimBoard, GpsReportsFollowTheTrackAndFixSequence) {
    Scenario s = Quiet();
    s.gpsPeriodMs = 1000;
    s.fixes = {{3, 2.0}, {6, 1.0}, {7, 0.0}};
    Board board(s, kStart);
    const auto frames = Frames(Drive(board, {}, 0, 5000));
    ASSERT_EQ(frames.size(), 5u);
    const std::uint8_t codes[] = {3, 6, 7, 7, 7};  // at 1 s, 2 s, 3 s, 4 s, 5 s
    CLocation loc;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        const Frame& f = frames[i];
        EXPECT_EQ(f.type, 0x19);
        EXPECT_TRUE(f.checkOk);
        ASSERT_EQ(f.body.size(), 153u);
        std::uint8_t sum = 0;
        for (std::size_t k = 2; k < 151; ++k) {
            sum ^= f.body[k];
        }
        EXPECT_EQ(sum, f.body[151]) << "message checksum";
        loc.Decode(f.body.data(), static_cast<std::uint32_t>(f.body.size()));
        const LocationSnapshot snap = loc.Snapshot();
        EXPECT_EQ(snap.fixStatus, codes[i]);
        const TrackPoint want = board.PositionAt(static_cast<Board::Millis>(i + 1) * 1000);
        EXPECT_NEAR(snap.latitude, want.lat, 1e-6);
        EXPECT_NEAR(snap.longitude, want.lon, 1e-6);
        EXPECT_EQ(snap.RawInt32(gps::kFilteredLatitude), snap.RawInt32(gps::kLatitude));
        EXPECT_EQ(snap.speed2D, 100) << "1 m/s in cm/s";
        EXPECT_EQ(snap.heading, 900) << "due east, in tenths of a degree";
    }
    // 5 s at 1 m/s east of 0.1202.
    char line[CLocation::kStatusLineSize];
    loc.FormatStatusLine(line, sizeof line);
    EXPECT_STREQ(line, "03/05/2007 14:07:14 52.2051 N 0.1203 E");
}

TEST(SimBoard, TrackLoopsOrStopsAtItsEnd) {
    Scenario s = Quiet();
    s.waypoints = {{52.2051, 0.1202}, {52.2051, 0.1218}, {52.2059, 0.1218}};
    Board once(s, kStart);
    s.loop = true;
    Board looping(s, kStart);
    const double leg1 = DistanceMeters(52.2051, 0.1202, 52.2051, 0.1218);
    const double leg2 = DistanceMeters(52.2051, 0.1218, 52.2059, 0.1218);
    const double leg3 = DistanceMeters(52.2059, 0.1218, 52.2051, 0.1202);
    const auto ms = [](double meters) { return static_cast<Board::Millis>(meters * 1000.0); };

    TrackPoint p = once.PositionAt(ms(leg1 + leg2 + 50));
    EXPECT_NEAR(p.lat, 52.2059, 1e-7);
    EXPECT_NEAR(p.lon, 0.1218, 1e-7);
    EXPECT_EQ(p.speed, 0.0) << "standing at the end";

    p = looping.PositionAt(ms(leg1 + leg2 + leg3 + leg1 / 2));
    EXPECT_NEAR(p.lat, 52.2051, 1e-6);
    EXPECT_NEAR(p.lon, 0.1210, 1e-6);
    p = looping.PositionAt(ms(leg1 + leg2 / 2));
    EXPECT_NEAR(p.heading, 0.0, 1e-6) << "heading north on the second leg";
}

TEST(SimBoard, InjectedFaults) {
    struct Case {
        const char* legend;
        Faults faults;
        std::size_t frames;   // complete frames the program's parser sees
        std::size_t checked;  // of which with a good check byte
        bool scanEnd;
    };
    Faults noise;
    noise.noise = 1.0;
    Faults bad;
    bad.badCheck = 1.0;
    Faults split;
    split.split = 1.0;
    split.splitDelayMs = 3;
    Faults lost;
    lost.loseScanEnd = 1.0;
    Faults silent;
    silent.silent = true;
    const Case cases[] = {
        {"no faults", Faults{}, 4, 4, true},
        {"noise between frames costs nothing", noise, 4, 4, true},
        {"bad check bytes", bad, 4, 0, true},
        {"split frames reassemble", split, 4, 4, true},
        {"lost scan end", lost, 3, 3, false},
        {"silent board", silent, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        Scenario s = Quiet();
        s.faults = c.faults;
        Board board(s, kStart);
        const auto bytes = Drive(board, Request(0x16), 0, 500);
        const auto frames = Frames(bytes);
        EXPECT_EQ(frames.size(), c.frames);
        std::size_t checked = 0;
        bool sawEnd = false;
        for (const Frame& f : frames) {
            checked += f.checkOk ? 1 : 0;
            sawEnd = sawEnd || f.type == 0x18;
        }
        EXPECT_EQ(checked, c.checked);
        EXPECT_EQ(sawEnd, c.scanEnd);
        EXPECT_FALSE(board.Scanning()) << "the board itself always finishes";
    }
}

TEST(SimBoard, SplitPiecesAreSpacedInTime) {
    Scenario s = Quiet();
    s.faults.split = 1.0;
    s.faults.splitDelayMs = 20;
    Board board(s, kStart);
    const auto request = Request(0x01);
    board.Receive(request.data(), request.size(), 0);
    ASSERT_GE(board.Output().size(), 2u);
    Board::Millis previous = -1;
    for (const auto& chunk : board.Output()) {
        EXPECT_GE(chunk.due, previous);
        previous = chunk.due;
    }
    EXPECT_GE(board.Output().back().due, 20);
    std::vector<std::uint8_t> out;
    board.TakeDue(0, out);
    EXPECT_TRUE(Frames(out).empty()) << "only the first piece is due at once";
}

}  // namespace
}  // namespace ketrion::sim
