// Writing collection files: the new file's header, the survey point that each
// scan end records, dynamic access points, and the failures around them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <csignal>

#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

using collection::Get16;
using collection::Get32;

constexpr std::uint8_t kMacA[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr std::uint8_t kMacB[6] = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("survey.ktd");
        w.data.SetPath(path);
        ASSERT_TRUE(w.data.NewCollection());
    }
    TempDir dir;
    SiteDataWorld w;
    std::string path;
};

TEST_F(RecordTest, NewCollectionIsTheHeaderAndRecordSizesOnly) {
    const Bytes expected = {
        25,   0,    0,    0,                  // header length
        0x20, 'K',  'T',  'D',                // magic
        1,                                    // version
        0,    0,    0,    0,                  // zero
        0x00, 0xF1, 0x53, 0x65, 0,  0, 0, 0,  // creation time 1,700,000,000
        25,   0,    0,    0,                  // size-block offset
        61,   0,    0,    0,    41, 0, 0, 0,  // record sizes
    };
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_TRUE(w.prompt.Messages().empty());
}

TEST_F(RecordTest, NewCollectionTruncatesAnOldFileAndKeepsThePoints) {
    w.AddAp({{1, 2, 3, 4, 5, 6}, "X", -50, 1, 0});
    ASSERT_TRUE(w.Record());
    ASSERT_TRUE(w.data.NewCollection());
    EXPECT_EQ(ReadBytes(path).size(), 33u);
    EXPECT_EQ(w.data.PointCount(), 1u);
}

TEST_F(RecordTest, ScanEndWritesLocationRecordAndOneReadingPerAccessPoint) {
    GpsFix fix;
    fix.latitude = 121956832;    // 33.8769 degrees
    fix.longitude = -268200000;  // -74.5 degrees
    fix.height = -1234;
    fix.speed3D = 0x1234;
    fix.speed2D = 0x0102;
    fix.heading = 359;
    w.Gps(fix);
    w.SetPosition(120, -7);
    w.AddAp({{kMacA[0], kMacA[1], kMacA[2], kMacA[3], kMacA[4], kMacA[5]}, "LAB1", -121, 2, 0x11});
    w.AddAp({{kMacB[0], kMacB[1], kMacB[2], kMacB[3], kMacB[4], kMacB[5]}, "guest", -45, 1, 0x22});

    ASSERT_TRUE(w.Record());
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 33u + 61u + 2 * 41u);
    const std::uint8_t* loc = file.data() + 33;
    EXPECT_EQ(static_cast<std::int32_t>(Get32(loc + 0)), 121956832);
    EXPECT_EQ(static_cast<std::int32_t>(Get32(loc + 4)), -268200000);
    EXPECT_EQ(loc[8], 3);
    EXPECT_EQ(loc[9], 5);
    EXPECT_EQ(Get16(loc + 10), 2007);
    EXPECT_EQ(loc[12], 14);
    EXPECT_EQ(loc[13], 7);
    EXPECT_EQ(loc[14], 9);
    EXPECT_EQ(Bytes(loc + 15, loc + 19), (Bytes{1, 2, 3, 4}));  // report's byte order
    EXPECT_EQ(static_cast<std::int32_t>(Get32(loc + 19)), -1234);
    EXPECT_EQ(Get16(loc + 23), 0x1234);
    EXPECT_EQ(Get16(loc + 25), 0x0102);
    EXPECT_EQ(Get16(loc + 27), 359);
    EXPECT_EQ(loc[29], 2);          // 3D fix
    EXPECT_EQ(Get16(loc + 30), 2);  // reading count
    EXPECT_EQ(Bytes(loc + 32, loc + 60), Bytes(28, 0));
    EXPECT_EQ(loc[60], 0);  // survey point

    // Readings in list order (ascending signal at insertion): LAB1 then guest.
    const std::uint8_t* r1 = loc + 61;
    EXPECT_EQ(r1[0], 0x11);
    EXPECT_EQ(static_cast<std::int16_t>(Get16(r1 + 1)), -60 * 256);  // -121 / 2 truncates to -60
    EXPECT_EQ(Bytes(r1 + 3, r1 + 9), Bytes(kMacA, kMacA + 6));
    EXPECT_STREQ(reinterpret_cast<const char*>(r1 + 9), "LAB1");
    const std::uint8_t* r2 = r1 + 41;
    EXPECT_EQ(r2[0], 0x22);
    EXPECT_EQ(static_cast<std::int16_t>(Get16(r2 + 1)), -45 * 256);
    EXPECT_STREQ(reinterpret_cast<const char*>(r2 + 9), "guest");

    auto points = w.Points();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].x, 120);
    EXPECT_EQ(points[0].y, -7);
    EXPECT_EQ(points[0].signal, -45);
    EXPECT_EQ(points[0].readings, 2);
    EXPECT_EQ(points[0].kind, 0);
    EXPECT_EQ(points[0].offset, 33);
    EXPECT_FALSE(w.data.m_bNoApHeard);
}

TEST_F(RecordTest, FixClassFollowsTheStatusCode) {
    struct Row {
        std::uint8_t status;
        std::uint8_t fixClass;
    };
    const Row rows[] = {{0xE0, 2}, {0xFF, 2}, {0xC5, 1}, {0xA0, 0}, {0x1F, 0}, {0x00, 0}};
    for (const Row& row : rows) {
        GpsFix fix;
        fix.status = row.status;
        w.Gps(fix);
        ASSERT_TRUE(w.Record());
        const Bytes file = ReadBytes(path);
        EXPECT_EQ(file[file.size() - 61 + 29], row.fixClass) << "status " << int{row.status};
    }
}

TEST_F(RecordTest, PointSignalIsTheStrongestAverageButNeverBelowMinus100) {
    struct Row {
        const char* legend;
        std::vector<std::pair<std::int16_t, std::uint32_t>> aps;  // signalSum, sampleCount
        std::int16_t signal;
        std::vector<std::int16_t> stored;  // 1/256 dBm per reading
    };
    const Row rows[] = {
        {"all weaker than -100", {{-101, 1}, {-230, 2}}, -100, {-115 * 256, -101 * 256}},
        {"strongest wins", {{-80, 1}, {-30, 1}, {-60, 1}}, -30, {-80 * 256, -60 * 256, -30 * 256}},
        {"average truncates toward zero", {{-7, 2}}, -3, {-3 * 256}},
        {"wrapped sum stays what the list holds", {{32767, 1}}, 32767, {32767}},
        {"out-of-range averages saturate", {{-200, 1}}, -100, {-32768}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        w.SetPosition(0, 0);
        std::uint8_t last = 0;
        for (auto [sum, count] : row.aps)
            w.AddAp({{0, 0, 0, 0, 0, ++last}, "n", sum, count, 0});
        ASSERT_TRUE(w.Record());
        const Bytes file = ReadBytes(path);
        std::size_t first = file.size() - row.aps.size() * 41;
        std::vector<std::int16_t> stored;
        for (std::size_t at = first; at < file.size(); at += 41) {
            stored.push_back(static_cast<std::int16_t>(Get16(&file[at + 1])));
        }
        EXPECT_EQ(stored, row.stored);
        EXPECT_EQ(w.Points().back().signal, row.signal);
    }
}

TEST_F(RecordTest, EmptyListRecordsAPointWithoutReadingsAndRaisesTheAlert) {
    ASSERT_TRUE(w.Record());
    EXPECT_TRUE(w.data.m_bNoApHeard);
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 33u + 61u);
    EXPECT_EQ(Get16(&file[33 + 30]), 0);
    auto points = w.Points();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].signal, -100);
    EXPECT_EQ(points[0].readings, 0);

    w.AddAp({{1, 2, 3, 4, 5, 6}, "back", -70, 1, 0});
    ASSERT_TRUE(w.Record());
    EXPECT_FALSE(w.data.m_bNoApHeard);
}

TEST_F(RecordTest, SetPositionPlacesTheNextPointAndEmptiesTheList) {
    w.AddAp({{1, 2, 3, 4, 5, 6}, "old", -70, 1, 0});
    w.SetPosition(5, 6);
    {
        std::lock_guard lock(w.list.listMutex);
        EXPECT_EQ(w.list.Size(), 0);
    }
    ASSERT_TRUE(w.Record());
    EXPECT_EQ(w.Points().back().x, 5);
    EXPECT_EQ(w.Points().back().y, 6);
}

TEST_F(RecordTest, SsidIsAlwaysTerminatedInTheFile) {
    w.AddAp({{1, 2, 3, 4, 5, 6}, "0123456789012345678901234567890", -70, 1, 0});
    {
        // A name that filled the whole field without a terminator.
        std::lock_guard lock(w.list.listMutex);
        LinkList::Node* node = nullptr;
        ASSERT_EQ(w.list.GetAt(1, node), 0);
        std::memset(node->ssid, 'Z', sizeof node->ssid);
    }
    ASSERT_TRUE(w.Record());
    const Bytes file = ReadBytes(path);
    EXPECT_EQ(file.back(), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[33 + 61 + 9])), std::string(31, 'Z'));
}

TEST_F(RecordTest, DynamicApStoresTheUsersPositionAndKeepsTheRestOfTheLastRecord) {
    GpsFix fix;
    fix.latitude = 1;
    fix.longitude = 2;
    fix.currentLatitude = 144000000;    // 40 degrees
    fix.currentLongitude = -268200001;  // decodes to a double just off the unit
    fix.heading = 77;
    w.Gps(fix);
    w.SetPosition(1, 1);
    ASSERT_TRUE(w.Record());
    ASSERT_TRUE(w.PlaceAp(300, 400));

    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 33u + 61u + 61u);
    const std::uint8_t* scan = &file[33];
    const std::uint8_t* ap = &file[33 + 61];
    EXPECT_EQ(static_cast<std::int32_t>(Get32(ap + 0)), 144000000);
    EXPECT_EQ(static_cast<std::int32_t>(Get32(ap + 4)), -268200001);
    EXPECT_EQ(Get16(ap + 30), 0);
    EXPECT_EQ(ap[60], 1);
    EXPECT_EQ(Bytes(ap + 8, ap + 30), Bytes(scan + 8, scan + 30));  // date, time, speeds, fix

    auto points = w.Points();
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].x, 300);
    EXPECT_EQ(points[1].y, 400);
    EXPECT_EQ(points[1].signal, -100);
    EXPECT_EQ(points[1].readings, 0);
    EXPECT_EQ(points[1].kind, 1);
    EXPECT_EQ(points[1].offset, 33 + 61);

    // Placing an access point does not move the survey point of the reading in progress.
    ASSERT_TRUE(w.Record());
    EXPECT_EQ(w.Points().back().x, 1);
}

TEST_F(RecordTest, DynamicApBeforeAnyScanHasZeroFields) {
    ASSERT_TRUE(w.PlaceAp(3, 4));
    const Bytes file = ReadBytes(path);
    ASSERT_EQ(file.size(), 33u + 61u);
    Bytes expected(61, 0);
    expected[60] = 1;
    EXPECT_EQ(Bytes(file.begin() + 33, file.end()), expected);
}

TEST(RecordFailure, ScanEndWithoutAFileRecordsNothingSilently) {
    SiteDataWorld w;
    w.AddAp({{1, 2, 3, 4, 5, 6}, "x", -70, 1, 0});
    EXPECT_FALSE(w.Record());
    EXPECT_TRUE(w.prompt.Messages().empty());
    EXPECT_EQ(w.data.PointCount(), 0u);
}

TEST(RecordFailure, OperationsOnAMissingFileShowTheReasonAndChangeNothing) {
    TempDir dir;
    SiteDataWorld w;
    const std::string path = dir.File("missing/survey.ktd");
    w.data.SetPath(path);
    const std::string expected =
        "Cannot open the collection file " + path + ": No such file or directory.";

    EXPECT_FALSE(w.Record());
    EXPECT_FALSE(w.PlaceAp(1, 1));
    EXPECT_FALSE(w.data.LoadSurvey());
    EXPECT_FALSE(w.data.NewCollection());
    EXPECT_EQ(w.prompt.Messages(),
              (std::vector<std::string>{
                  expected, expected, expected,
                  "Cannot create the collection file " + path + ": No such file or directory."}));
    EXPECT_EQ(w.data.PointCount(), 0u);
}

TEST(RecordFailure, AFileHeldByAnotherProgramIsReportedAsInUse) {
    TempDir dir;
    SiteDataWorld w;
    const std::string path = dir.File("held.ktd");
    WriteBytes(path, FileBuilder().Location(7, 8, 0).bytes());
    const Bytes original = ReadBytes(path);
    int other = open(path.c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    w.data.SetPath(path);
    EXPECT_FALSE(w.data.NewCollection());  // not truncated under the other program
    EXPECT_FALSE(w.Record());
    EXPECT_FALSE(w.PlaceAp(1, 1));
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(w.data.PointCount(), 0u);
    const std::string inUse = "The collection file " + path + " is in use by another program.";
    EXPECT_EQ(w.prompt.Messages(), (std::vector<std::string>{inUse, inUse, inUse}));
    close(other);
    EXPECT_TRUE(w.Record());
    EXPECT_EQ(ReadBytes(path).size(), original.size() + 61u);
}

TEST(RecordFailure, FilesWithOtherRecordSizesAreNotAppendedTo) {
    TempDir dir;
    SiteDataWorld w;
    const std::string path = dir.File("wide.ktd");
    const Bytes original = FileBuilder(64, 48).Location(0, 0, 0).bytes();
    WriteBytes(path, original);
    w.data.SetPath(path);
    EXPECT_FALSE(w.Record());
    EXPECT_FALSE(w.PlaceAp(1, 2));
    EXPECT_EQ(ReadBytes(path), original);
    ASSERT_EQ(w.prompt.Messages().size(), 2u);
    EXPECT_EQ(w.prompt.Messages()[0],
              "The collection file " + path +
                  " has records of 64 and 48 bytes; points can only be added to a file with "
                  "61- and 41-byte records.");
    EXPECT_EQ(w.data.PointCount(), 0u);
}

TEST(RecordFailure, AWriteThatFailsHalfWayLeavesNoPartialPoint) {
    TempDir dir;
    SiteDataWorld w;
    const std::string path = dir.File("limited.ktd");
    w.data.SetPath(path);
    ASSERT_TRUE(w.data.NewCollection());
    w.AddAp({{1, 2, 3, 4, 5, 6}, "a", -70, 1, 0});
    w.AddAp({{1, 2, 3, 4, 5, 7}, "b", -60, 1, 0});

    // A file-size limit inside the point: the write stops part-way, as on a full disk.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool recorded = w.Record();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(recorded);
    EXPECT_EQ(w.prompt.Messages(), std::vector<std::string>{"Cannot write to the collection file " +
                                                            path + ": File too large."});
    EXPECT_EQ(ReadBytes(path).size(), 33u);
    EXPECT_EQ(w.data.PointCount(), 0u);

    ASSERT_TRUE(w.Record());
    EXPECT_EQ(w.Points().at(0).offset, 33);
    EXPECT_EQ(ReadBytes(path).size(), 33u + 61u + 82u);
}

}  // namespace
}  // namespace ketrion::testing
