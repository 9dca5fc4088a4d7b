// The survey session with scan and position sources of the tests' own: a
// source that answers at once, the surveyor's stops and walk, undo and
// deletion, and what the side store keeps beside the collection file.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Ticker.h"
#include "session/SurveySession.h"
#include "source/FixHealth.h"
#include "support/LinkFakes.h"
#include "support/RecordingPrompt.h"
#include "support/RecordingSound.h"
#include "support/SiteDataFixture.h"
#include "survey/CollectionFile.h"
#include "survey/PendingScan.h"
#include "survey/SideStore.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

source::Reading MakeReading(std::uint8_t last, int dbm, const std::string& name) {
    source::Reading reading;
    reading.mac = {0x02, 0x11, 0x22, 0x33, 0x44, last};
    reading.name = name;
    reading.dbm = dbm;
    reading.signal256 = static_cast<std::int16_t>(dbm * 256);
    reading.attribute = 6;
    source::ReadingDetails details;
    details.frequencyMhz = 2437;
    details.channel = 6;
    details.band = "2.4";
    details.security = "wpa2";
    reading.details = details;
    return reading;
}

// Every detail an adapter gives, and a name longer than the file keeps.
void MakeReadingFull(source::Reading& reading) {
    reading.name = std::string(32, 'n');
    source::ReadingDetails details;
    details.fullName = std::string(32, 'n');
    details.frequencyMhz = 5745;
    details.channel = 149;
    details.band = "5";
    details.security = "wpa2/wpa3";
    details.phy = "ax";
    details.widthMhz = 80;
    details.noiseDbm = -92;
    details.ageMs = 40;
    details.signalMbm = -6012;
    reading.details = details;
}

// A scan source that answers a request at once (from a cache), on the
// caller's thread, with the readings it was given.
class InstantSource final : public source::ScanSource {
public:
    explicit InstantSource(ManualClock& clock) : m_clock(clock) {}
    std::string Kind() const override { return "instant"; }
    std::string Identity() const override { return "instant source"; }
    source::SourceStatus Status() const override { return {}; }
    bool IsScanning() const override { return false; }
    void BeginReading() override { ++begun; }
    bool RequestScan() override {
        source::ScanResult result;
        result.readings = cache;
        result.startedMs = m_clock.NowMs();
        m_clock.Advance(scanMs);
        result.endedMs = m_clock.NowMs();
        if (onScan)
            onScan(result);
        return true;
    }

    std::vector<source::Reading> cache;
    std::int64_t scanMs = 2000;
    int begun = 0;

private:
    ManualClock& m_clock;
};

// A position source that keeps still.
class StillPosition final : public source::PositionSource {
public:
    std::string Kind() const override { return "still"; }
    source::SourceStatus Status() const override { return {}; }
    source::Fix Current() const override { return fix; }
    source::Fix fix;
};

// A ticker the test fires by hand.
class ManualTicker final : public Ticker {
public:
    void Start(int periodMs) override {
        running = true;
        period = periodMs;
    }
    void Stop() override { running = false; }
    void Fire() {
        if (running && onTick)
            onTick();
    }
    bool running = false;
    int period = 0;
};

class SessionTest : public ::testing::Test {
protected:
    SessionTest() {
        // A plan where 1 pixel is 1/100000 degree: x east, y south.
        {
            PlanMap planMap = projection.Map();
            planMap.xLon = 100000;
            planMap.xOrigin = -100000 * 10.0;
            planMap.yLat = -100000;
            planMap.yOrigin = 100000 * 50.0;
            projection.SetMap(planMap);
        }
        source.cache = {MakeReading(1, -60, "lab"), MakeReading(2, -71, "office")};
        position.fix.valid = true;
        position.fix.fixClass = source::FixClass::Fix3D;
        position.fix.latitude = 49.999;
        position.fix.longitude = 10.002;
        position.fix.latitudeUnits = source::UnitsFromDegrees(49.999);
        position.fix.longitudeUnits = source::UnitsFromDegrees(10.002);
        position.fix.receivedMs = clock.NowMs();
        path = dir.File("walk.ktd");
        EXPECT_TRUE(session.NewCollection(path));
    }

    std::vector<std::uint8_t> LocationRecord(std::size_t point) {
        const Bytes bytes = ReadBytes(path);
        std::size_t at = collection::kFirstRecord;
        for (std::size_t i = 0; i < point; ++i) {
            const unsigned count = collection::Get16(&bytes.at(at + collection::kCountAt));
            at += collection::kLocationSize + count * collection::kReadingSize;
        }
        return {bytes.begin() + static_cast<std::ptrdiff_t>(at),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + collection::kLocationSize)};
    }
    std::map<std::int64_t, SideStore::Point> SidePoints() {
        const Bytes bytes = ReadBytes(path);
        std::string message;
        auto side = SideStore::OpenForReading(path, SideIdentity(path, bytes.data()), &message);
        EXPECT_NE(side, nullptr) << message;
        return side ? side->Points() : std::map<std::int64_t, SideStore::Point>{};
    }

    TempDir dir;
    std::string path;
    ManualClock clock{1'700'000'000};
    RecordingPrompt prompt;
    RecordingSound sound;
    InstantSource source{clock};
    StillPosition position;
    CSiteProjection projection{prompt, sound};
    CSiteData data{prompt, sound, clock};
    ManualTicker ticker;
    SurveySession session{source, position, data, projection, sound, clock, &ticker};
};

TEST_F(SessionTest, ASourceThatAnswersAtOnceKeepsItsReadings) {
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    ASSERT_EQ(data.PointCount(), 1u);
    EXPECT_EQ(source.begun, 1);
    EXPECT_EQ(data.Current().readings, 0u);  // nothing selected yet
    std::vector<CSiteData::_tap> points;
    data.ForEachPoint([&](const CSiteData::_tap& p) { points.push_back(p); });
    EXPECT_EQ(points[0].readings, 2u);
    EXPECT_EQ(points[0].signal, -60);
    // Drawn where the fix lies on the plan.
    EXPECT_NEAR(points[0].x, 200, 1);
    EXPECT_NEAR(points[0].y, 100, 1);
}

// The session paces the recording: a reading at once, one at each tick,
// none in stop and go (those wait for a click), and no ticks once it stops.
// Each reading it asks for is announced with where its point goes.
TEST_F(SessionTest, RecordingTakesAReadingAtOnceAndOneAtEachTick) {
    using At = std::optional<SurveySession::PlanPoint>;
    std::vector<At> shown;
    session.SubscribeReadings([&](At at) { shown.push_back(at); });
    ASSERT_TRUE(session.StartRecording());
    EXPECT_TRUE(ticker.running);
    EXPECT_EQ(ticker.period, SurveySession::kCollectionPeriodMs);
    EXPECT_EQ(source.begun, 1);
    ticker.Fire();
    EXPECT_EQ(source.begun, 2);
    ASSERT_EQ(shown.size(), 2u);
    ASSERT_TRUE(shown[1]);
    EXPECT_NEAR(shown[1]->x, 200, 1);
    EXPECT_NEAR(shown[1]->y, 100, 1);

    session.SetPlacing(SurveySession::Placing::StopAndGo);
    ticker.Fire();
    EXPECT_EQ(source.begun, 2);

    // A walk: shown at its own position, unknown before its first click.
    session.SetPlacing(SurveySession::Placing::Walk);
    ticker.Fire();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_FALSE(shown[2]);
    session.WalkClick(30, 40);
    ticker.Fire();
    ASSERT_EQ(shown.size(), 4u);
    ASSERT_TRUE(shown[3]);
    EXPECT_EQ(shown[3]->x, 30);
    EXPECT_EQ(shown[3]->y, 40);

    // A file given up: the recording goes on until a file is chosen again.
    session.CloseCollection();
    session.StopRecording();
    EXPECT_TRUE(ticker.running);
    EXPECT_TRUE(session.NewCollection(dir.File("next.ktd")));
    session.StopRecording();
    EXPECT_FALSE(session.IsRecording());
    EXPECT_FALSE(ticker.running);
    session.CloseCollection();
    EXPECT_FALSE(session.StartRecording()) << "no collection file";
    EXPECT_FALSE(ticker.running);
    EXPECT_EQ(sound.Names(), (std::vector<std::string>{"WHOOSH", "PING", "PING", "PING", "PING",
                                                       "WHOOSH", "WHOOSH"}));
}

TEST_F(SessionTest, TheSideStoreKeepsWhatTheFileCannotHold) {
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    const auto points = SidePoints();
    ASSERT_EQ(points.size(), 1u);
    const SideStore::Point& point = points.begin()->second;
    EXPECT_EQ(point.offset, collection::kFirstRecord);
    EXPECT_EQ(point.scanSource, "instant");
    EXPECT_EQ(point.method, "still");
    EXPECT_EQ(point.fixFlag, "");
    const Bytes bytes = ReadBytes(path);
    auto side = SideStore::OpenForReading(path, SideIdentity(path, bytes.data()), nullptr);
    ASSERT_NE(side, nullptr);
    const std::vector<SideStore::Reading> readings = side->ReadingsOf(point.offset);
    ASSERT_EQ(readings.size(), 2u);
    EXPECT_EQ(readings[0].bssid, "02:11:22:33:44:01");
    EXPECT_EQ(readings[0].channel, 6);
    EXPECT_EQ(readings[0].band, "2.4");
    EXPECT_EQ(readings[1].security, "wpa2");
}

TEST_F(SessionTest, AReadingWithoutAFixIsKeptAndFlagged) {
    struct Row {
        const char* legend;
        bool valid;
        std::int64_t ageMs;
        const char* flag;
    };
    const Row rows[] = {
        {"a fresh fix", true, 0, ""},
        {"no fix at all", false, 0, "no-fix"},
        {"a fix older than the limit", true, source::kStaleFixMs + 1000, "stale"},
    };
    for (const Row& row : rows) {
        position.fix.valid = row.valid;
        position.fix.receivedMs = clock.NowMs() - row.ageMs;
        session.TakeReading();
    }
    ASSERT_TRUE(data.Flush());
    const auto points = SidePoints();
    ASSERT_EQ(points.size(), std::size(rows));
    std::size_t i = 0;
    for (const auto& [offset, point] : points)
        EXPECT_EQ(point.fixFlag, rows[i++].flag) << rows[i - 1].legend;
    // Every reading is in the collection file all the same.
    EXPECT_EQ(data.PointCount(), std::size(rows));
}

TEST_F(SessionTest, AStopIsPlacedExactlyAtItsClick) {
    session.SetPlacing(SurveySession::Placing::StopAndGo);
    ASSERT_TRUE(session.StandAt(123.5, 456.25));
    ASSERT_TRUE(data.Flush());
    const auto points = SidePoints();
    ASSERT_EQ(points.size(), 1u);
    const SideStore::Point& point = points.begin()->second;
    EXPECT_EQ(point.method, "stop");
    EXPECT_DOUBLE_EQ(*point.planX, 123.5);
    EXPECT_DOUBLE_EQ(*point.planY, 456.25);
    // The file holds the click through the inverse map, in stored units.
    const std::vector<std::uint8_t> record = LocationRecord(0);
    const double latitude = 50.0 - 456.25 / 100000.0;
    const double longitude = 10.0 + 123.5 / 100000.0;
    EXPECT_EQ(static_cast<std::int32_t>(collection::Get32(&record[collection::kLatitudeAt])),
              source::UnitsFromDegrees(latitude));
    EXPECT_EQ(static_cast<std::int32_t>(collection::Get32(&record[collection::kLongitudeAt])),
              source::UnitsFromDegrees(longitude));
    EXPECT_EQ(record[collection::kFixClassAt], 0);
}

TEST_F(SessionTest, WalkReadingsAreSpreadAlongTheSegmentByTheMiddleOfTheirScans) {
    session.SetPlacing(SurveySession::Placing::Walk);
    EXPECT_EQ(session.WalkClick(0, 0), 0);  // the start: t = 0
    clock.Advance(1000);
    session.TakeReading();  // scan from 1 s to 3 s: middle at 2 s
    clock.Advance(3000);
    session.TakeReading();  // scan from 6 s to 8 s: middle at 7 s
    EXPECT_EQ(session.ProvisionalCount(), 2u);
    EXPECT_EQ(data.PointCount(), 0u);  // provisional: not yet in the file
    clock.Advance(2000);               // the turn at t = 10 s
    EXPECT_EQ(session.WalkClick(1000, 500), 2);
    ASSERT_TRUE(data.Flush());
    EXPECT_EQ(session.ProvisionalCount(), 0u);
    const auto points = SidePoints();
    ASSERT_EQ(points.size(), 2u);
    const double expected[][2] = {{200, 100}, {700, 350}};
    std::size_t i = 0;
    for (const auto& [offset, point] : points) {
        EXPECT_EQ(point.method, "walk");
        EXPECT_NEAR(*point.planX, expected[i][0], 1e-9);
        EXPECT_NEAR(*point.planY, expected[i][1], 1e-9);
        const std::vector<std::uint8_t> record = LocationRecord(i);
        EXPECT_EQ(static_cast<std::int32_t>(collection::Get32(&record[collection::kLatitudeAt])),
                  source::UnitsFromDegrees(50.0 - expected[i][1] / 100000.0));
        ++i;
    }
}

TEST_F(SessionTest, AWalkCutShortIsOfferedForPlacementWhenTheFileOpensAgain) {
    session.SetPlacing(SurveySession::Placing::Walk);
    session.WalkClick(10, 10);
    session.TakeReading();
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    EXPECT_EQ(data.PointCount(), 0u);
    data.SetPath({});  // the program that walked lets the file go

    // A new program opens the file: the two scans wait in the side store.
    CSiteData reopened{prompt, sound, clock};
    InstantSource other{clock};
    StillPosition still;
    SurveySession later{other, still, reopened, projection, sound, clock};
    ASSERT_TRUE(later.OpenCollection(path));
    EXPECT_EQ(later.UnplacedScans(), 2u);
    EXPECT_EQ(later.PlaceUnplacedScans(0, 0, 100, 0), 2);
    ASSERT_TRUE(reopened.Flush());
    EXPECT_EQ(reopened.PointCount(), 2u);
    EXPECT_EQ(later.UnplacedScans(), 0u);
}

// Ctrl+Z of a walk's segment takes back its end click with its points: the
// walk goes on from the click before and the next click places the segment's
// readings afresh; once the walk has ended they wait as an earlier walk's.
TEST_F(SessionTest, UndoingAWalksSegmentTakesBackItsEndClickAndItsReadingsWaitAgain) {
    session.SetPlacing(SurveySession::Placing::Walk);
    session.WalkClick(0, 0);  // t = 0
    session.TakeReading();    // middle at 1 s
    session.TakeReading();    // middle at 3 s
    clock.Advance(4000);
    ASSERT_EQ(session.WalkClick(800, 0), 2);  // t = 8 s
    clock.Advance(1000);
    session.WalkClick(800, 100);  // a turn that places nothing
    ASSERT_TRUE(session.Undo());  // that turn
    ASSERT_TRUE(session.Undo());  // the segment
    using Clicks = std::vector<std::pair<double, double>>;
    EXPECT_EQ(session.WalkClicks(), (Clicks{{0, 0}}));
    EXPECT_EQ(session.ProvisionalCount(), 2u);
    EXPECT_EQ(session.NextReadingPosition().x, 0);

    clock.Advance(1000);
    ASSERT_EQ(session.WalkClick(0, 1000), 2);  // t = 10 s
    ASSERT_TRUE(data.Flush());
    std::vector<std::vector<double>> points;
    for (const auto& [offset, point] : SidePoints())
        points.push_back({*point.planX, *point.planY, point.deleted ? 1.0 : 0.0});
    EXPECT_EQ(points, (std::vector<std::vector<double>>{
                          {100, 0, 1}, {300, 0, 1}, {0, 100, 0}, {0, 300, 0}}));

    session.EndWalk();
    ASSERT_TRUE(session.Undo());
    EXPECT_TRUE(session.WalkClicks().empty());
    EXPECT_EQ(session.UnplacedScans(), 2u);
}

// What opening the file again offers is what the session counted as waiting
// for a place (the quit question's and the status bar's count), however the
// walk was left.
TEST_F(SessionTest, AReopeningOffersTheReadingsTheSessionCountedAsWaiting) {
    const auto walk = [](SurveySession& s, int readings) {
        s.SetPlacing(SurveySession::Placing::Walk);
        s.WalkClick(0, 0);
        for (int i = 0; i < readings; ++i)
            s.TakeReading();
    };
    struct Row {
        const char* legend;
        std::function<void(SurveySession&, const std::string&)> leave;
        std::size_t waiting;
    };
    const Row rows[] = {
        {"cut short", [&](SurveySession& s, const std::string&) { walk(s, 2); }, 2},
        {"stopped before its end click",
         [&](SurveySession& s, const std::string&) {
             walk(s, 2);
             s.EndWalk();
         },
         2},
        {"its segment undone",
         [&](SurveySession& s, const std::string&) {
             walk(s, 2);
             s.WalkClick(100, 0);
             s.Undo();
         },
         2},
        {"beside an earlier run's readings",
         [&](SurveySession& s, const std::string& file) {
             s.Data().SetPath({});
             const Bytes header = ReadBytes(file);
             auto side =
                 SideStore::OpenForWriting(file, SideIdentity(file, header.data()), nullptr);
             ASSERT_NE(side, nullptr);
             source::ScanResult scan;
             scan.readings = source.cache;
             for (const std::int64_t seq : {1, 2})
                 ASSERT_TRUE(
                     side->AddPendingScan(seq, EncodePendingScan(scan, "instant"), nullptr));
             ASSERT_TRUE(side->Close(nullptr));
             s.OpenCollection(file);
             walk(s, 1);
         },
         3},
        {"for a new file",
         [&](SurveySession& s, const std::string& file) {
             walk(s, 2);
             s.NewCollection(file + ".new");
         },
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const std::string file = dir.File("left" + std::to_string(&row - rows) + ".ktd");
        CSiteData walked{prompt, sound, clock};
        std::size_t waiting = 0;
        {
            SurveySession walker{source, position, walked, projection, sound, clock};
            ASSERT_TRUE(walker.NewCollection(file));
            row.leave(walker, file);
            waiting = walker.WaitingScans();
        }
        ASSERT_TRUE(walked.Flush());
        const std::string left = walked.Path();
        walked.SetPath({});

        CSiteData reopened{prompt, sound, clock};
        SurveySession later{source, position, reopened, projection, sound, clock};
        ASSERT_TRUE(later.OpenCollection(left));
        EXPECT_EQ(waiting, row.waiting);
        EXPECT_EQ(later.UnplacedScans(), row.waiting);
        EXPECT_EQ(later.PlaceUnplacedScans(0, 0, 100, 0), static_cast<int>(row.waiting));
    }
}

// Steps to undo belong to their file: one opened afterwards never has a mark
// of its own changed by them.
TEST_F(SessionTest, UndoNeverReachesIntoAFileOpenedAfterTheStep) {
    const std::string other = dir.File("other.ktd");
    ASSERT_TRUE(session.NewCollection(other));
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    ASSERT_TRUE(session.DeletePoint(collection::kFirstRecord));  // deleted in that file
    ASSERT_TRUE(session.NewCollection(path));
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    ASSERT_TRUE(session.DeletePoint(collection::kFirstRecord));

    ASSERT_TRUE(session.OpenCollection(other));
    EXPECT_FALSE(session.Undo());
    std::vector<bool> deleted;
    data.ForEachPoint([&](const CSiteData::_tap& p) { deleted.push_back(p.deleted); });
    EXPECT_EQ(deleted, std::vector<bool>{true});
}

TEST_F(SessionTest, UndoAndDeleteMarkPointsAndNeverRewriteTheFile) {
    session.TakeReading();
    session.TakeReading();
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    const Bytes before = ReadBytes(path);

    ASSERT_TRUE(session.Undo());  // the last point
    std::vector<bool> deleted;
    data.ForEachPoint([&](const CSiteData::_tap& p) { deleted.push_back(p.deleted); });
    EXPECT_EQ(deleted, (std::vector<bool>{false, false, true}));

    std::int64_t first = -1;
    data.ForEachPoint([&](const CSiteData::_tap& p) {
        if (first < 0)
            first = p.offset;
    });
    ASSERT_TRUE(session.DeletePoint(first));
    ASSERT_TRUE(session.Undo());  // takes the deletion back
    EXPECT_EQ(ReadBytes(path), before);

    // Opened again, the marks come from the side store.
    CSiteData reopened{prompt, sound, clock};
    reopened.SetPath(path);
    ASSERT_TRUE(reopened.LoadSurvey());
    deleted.clear();
    reopened.ForEachPoint([&](const CSiteData::_tap& p) { deleted.push_back(p.deleted); });
    EXPECT_EQ(deleted, (std::vector<bool>{false, false, true}));
    // A deleted point is never selected: the first of the three is.
    EXPECT_EQ(reopened.FindNearestPoint(0, 0), 0);  // no projection: all at (0, 0)
    EXPECT_EQ(reopened.Current().offset, collection::kFirstRecord);
}

TEST_F(SessionTest, ADamagedOrForeignSideStoreNeverStopsTheFileFromLoading) {
    session.TakeReading();
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    const std::string side = SideStore::PathFor(path);
    struct Row {
        const char* legend;
        std::function<void()> spoil;
    };
    const Row rows[] = {
        {"deleted", [&] { std::filesystem::remove(side); }},
        {"garbage", [&] { WriteBytes(side, Bytes(4096, 0x5A)); }},
    };
    for (const Row& row : rows) {
        row.spoil();
        CSiteData reopened{prompt, sound, clock};
        reopened.SetPath(path);
        EXPECT_TRUE(reopened.LoadSurvey()) << row.legend;
        EXPECT_EQ(reopened.PointCount(), 2u) << row.legend;
    }
}

// Another program's connection to the side store, holding its write lock
// from Lock to Unlock.
class StoreHolder {
public:
    explicit StoreHolder(const std::string& store) { sqlite3_open(store.c_str(), &m_db); }
    ~StoreHolder() { sqlite3_close(m_db); }
    StoreHolder(const StoreHolder&) = delete;
    StoreHolder& operator=(const StoreHolder&) = delete;
    bool Lock() { return sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == 0; }
    bool Unlock() { return sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == 0; }

private:
    sqlite3* m_db = nullptr;
};

std::size_t CountContaining(const std::vector<std::string>& messages, const std::string& part) {
    std::size_t count = 0;
    for (const std::string& message : messages)
        count += message.find(part) != std::string::npos ? 1 : 0;
    return count;
}

TEST_F(SessionTest, ALockedSideStoreGetsEveryPointOnceItIsFreeAndRefusesChangesMeanwhile) {
    data.SetSideBusyTimeout(0);  // the lock is not waited out
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    StoreHolder other{SideStore::PathFor(path)};
    ASSERT_TRUE(other.Lock());

    session.TakeReading();
    session.TakeReading();
    ASSERT_TRUE(data.Flush());  // the file has the points either way
    EXPECT_EQ(data.PointCount(), 3u);
    EXPECT_EQ(CountContaining(prompt.Messages(), "written to the side store once"), 1u);
    // The surveyor's changes are refused while the store cannot keep them.
    const std::int64_t first = collection::kFirstRecord;
    prompt.Clear();
    EXPECT_FALSE(session.DeletePoint(first));
    EXPECT_FALSE(session.Undo());
    EXPECT_EQ(CountContaining(prompt.Messages(), "Cannot update the point at offset"), 2u);
    std::size_t shownDeleted = 0;
    data.ForEachPoint([&](const CSiteData::_tap& p) { shownDeleted += p.deleted ? 1 : 0; });
    EXPECT_EQ(shownDeleted, 0u);

    // Free again: the next Flush writes the points kept back, and later
    // points and changes go in as usual.
    ASSERT_TRUE(other.Unlock());
    ASSERT_TRUE(data.Flush());
    EXPECT_EQ(SidePoints().size(), 3u);
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    ASSERT_TRUE(session.DeletePoint(first));
    const auto points = SidePoints();
    ASSERT_EQ(points.size(), 4u);
    EXPECT_TRUE(points.at(first).deleted);
    EXPECT_EQ(points.rbegin()->second.method, "still");
}

TEST_F(SessionTest, AWalksScansKeepEveryDetailThroughTheStoreAndAReopening) {
    MakeReadingFull(source.cache[0]);
    session.SetPlacing(SurveySession::Placing::Walk);
    session.WalkClick(0, 0);
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    data.SetPath({});  // the walk is cut short: its scan waits in the store

    CSiteData reopened{prompt, sound, clock};
    InstantSource other{clock};
    StillPosition still;
    SurveySession later{other, still, reopened, projection, sound, clock};
    ASSERT_TRUE(later.OpenCollection(path));
    ASSERT_EQ(later.PlaceUnplacedScans(0, 0, 100, 0), 1);
    ASSERT_TRUE(reopened.Flush());
    const Bytes bytes = ReadBytes(path);
    auto side = SideStore::OpenForReading(path, SideIdentity(path, bytes.data()), nullptr);
    ASSERT_NE(side, nullptr);
    const auto readings = side->ReadingsOf(collection::kFirstRecord);
    ASSERT_EQ(readings.size(), 2u);
    const SideStore::Reading& r = readings[0];
    EXPECT_EQ(r.ssid, std::string(32, 'n'));
    EXPECT_EQ(r.channel, 149);
    EXPECT_EQ(r.frequencyMhz, 5745);
    EXPECT_EQ(r.band, "5");
    EXPECT_EQ(r.security, "wpa2/wpa3");
    EXPECT_EQ(r.phy, "ax");
    EXPECT_EQ(r.widthMhz, 80);
    EXPECT_EQ(r.noiseDbm, -92);
    EXPECT_EQ(r.ageMs, 40);
    EXPECT_EQ(r.signalMbm, -6012);
    EXPECT_EQ(readings[1].security, "wpa2");
}

TEST_F(SessionTest, AStoredWalkScanThatCannotBeReadIsSetAsideWithAMessage) {
    session.TakeReading();  // makes the store
    ASSERT_TRUE(data.Flush());
    data.SetPath({});
    {
        const Bytes bytes = ReadBytes(path);
        auto side = SideStore::OpenForWriting(path, SideIdentity(path, bytes.data()), nullptr);
        ASSERT_NE(side, nullptr);
        ASSERT_TRUE(side->AddPendingScan(1, R"({"started_ms":"x","readings":[]})", nullptr));
        ASSERT_TRUE(
            side->AddPendingScan(2, R"({"started_ms":5,"ended_ms":9,"readings":[]})", nullptr));
        ASSERT_TRUE(side->Close(nullptr));
    }
    CSiteData reopened{prompt, sound, clock};
    SurveySession later{source, position, reopened, projection, sound, clock};
    prompt.Clear();
    ASSERT_TRUE(later.OpenCollection(path));
    EXPECT_EQ(later.UnplacedScans(), 1u);
    EXPECT_EQ(CountContaining(prompt.Messages(), "\"started_ms\" is not a whole number"), 1u);
    ASSERT_TRUE(reopened.Flush());
    reopened.SetPath({});
    const Bytes bytes = ReadBytes(path);
    auto side = SideStore::OpenForReading(path, SideIdentity(path, bytes.data()), nullptr);
    ASSERT_NE(side, nullptr);
    ASSERT_EQ(side->PendingScans().size(), 1u);
    EXPECT_EQ(side->PendingScans()[0].first, 2);
}

TEST_F(SessionTest, PlacementsOffTheGlobeAreRefusedEverywhere) {
    // 1 plan pixel is 1/100000 degree: these lie past a pole or the date line.
    const double off[][2] = {{0, 1e308}, {0, -1e9}, {-1e9, 0}, {NAN, 0}, {0, 1e8}};
    session.SetPlacing(SurveySession::Placing::StopAndGo);
    for (const auto& at : off)
        EXPECT_FALSE(session.StandAt(at[0], at[1])) << at[0] << ", " << at[1];
    EXPECT_FALSE(session.PlaceDynamicAp(0, 1'000'000'000));
    session.SetPlacing(SurveySession::Placing::Walk);
    for (const auto& at : off)
        EXPECT_EQ(session.WalkClick(at[0], at[1]), 0);
    EXPECT_TRUE(session.WalkClicks().empty());
    ASSERT_TRUE(data.Flush());
    EXPECT_EQ(data.PointCount(), 0u);
}

TEST_F(SessionTest, AWalkPointCarriesItsScansTimeNotTheClicks) {
    session.SetPlacing(SurveySession::Placing::Walk);
    session.WalkClick(0, 0);
    session.TakeReading();     // a scan of 2 s, its middle 1 s after the start
    clock.Advance(3'600'000);  // the segment ends an hour later
    ASSERT_EQ(session.WalkClick(100, 0), 1);
    ASSERT_TRUE(data.Flush());
    const std::vector<std::uint8_t> record = LocationRecord(0);
    // ManualClock starts at 1,700,000,000 s: 2023-11-14 22:13:20 UTC.
    EXPECT_EQ(record[collection::kHourAt], 22);
    EXPECT_EQ(record[collection::kMinuteAt], 13);
    EXPECT_EQ(record[collection::kSecondAt], 21);
}

TEST_F(SessionTest, ASideStoreSetAsideIsToldToTheSurveyor) {
    WriteBytes(SideStore::PathFor(path), Bytes(4096, 0x5A));
    session.TakeReading();
    ASSERT_TRUE(data.Flush());
    EXPECT_EQ(CountContaining(prompt.Messages(), "it was set aside as"), 1u);
}

TEST_F(SessionTest, ADynamicAccessPointIsStoredWhereItWasTapped) {
    ASSERT_TRUE(session.PlaceDynamicAp(300, 400));
    const std::vector<std::uint8_t> record = LocationRecord(0);
    EXPECT_EQ(record[collection::kKindAt], collection::kKindDynamicAp);
    EXPECT_EQ(static_cast<std::int32_t>(collection::Get32(&record[collection::kLatitudeAt])),
              source::UnitsFromDegrees(50.0 - 400 / 100000.0));
    // Opened again, it is drawn where it was placed.
    CSiteData reopened{prompt, sound, clock};
    reopened.SetProjection(&projection);
    reopened.SetPath(path);
    ASSERT_TRUE(reopened.LoadSurvey());
    CSiteData::_tap point;
    reopened.ForEachPoint([&](const CSiteData::_tap& p) { point = p; });
    EXPECT_NEAR(point.x, 300, 1);
    EXPECT_NEAR(point.y, 400, 1);
}

}  // namespace
}  // namespace ketrion::testing
