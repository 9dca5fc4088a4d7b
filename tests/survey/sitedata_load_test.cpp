// Reading collection files back: round trips, files cut short, damaged and
// unusual files, and appending after a crash left a torn point.

#include <gtest/gtest.h>

#include <cstdio>

#include "support/SiteDataFixture.h"
#include "survey/SiteProjection.h"

namespace ketrion::testing {
namespace {

using collection::Get16;

struct Expected {
    std::int32_t x, y;
    std::int16_t signal;
    std::uint16_t readings;
    std::uint8_t kind;
    std::int64_t offset;
    bool operator==(const Expected&) const = default;
};

std::vector<Expected> Summary(const std::vector<CSiteData::_tap>& points) {
    std::vector<Expected> out;
    for (const auto& p : points)
        out.push_back({p.x, p.y, p.signal, p.readings, p.kind, p.offset});
    return out;
}

class LoadTest : public ::testing::Test {
protected:
    std::string Write(const Bytes& bytes, const std::string& name = "in.ktd") {
        std::string path = dir.File(name);
        WriteBytes(path, bytes);
        w.data.SetPath(path);
        return path;
    }
    TempDir dir;
    SiteDataWorld w;
};

TEST_F(LoadTest, RecordedPointsComeBackPlacedByTheProjection) {
    const std::string path = dir.File("round.ktd");
    {
        SiteDataWorld writer;
        writer.data.SetPath(path);
        ASSERT_TRUE(writer.data.NewCollection());
        GpsFix fix;
        fix.latitude = 144000000;    // 40 degrees
        fix.longitude = -268200000;  // -74.5 degrees
        writer.Gps(fix);
        writer.AddAp({{1, 2, 3, 4, 5, 6}, "a", -72, 1, 0});
        writer.AddAp({{1, 2, 3, 4, 5, 7}, "b", -130, 2, 0});
        ASSERT_TRUE(writer.Record());
        ASSERT_TRUE(writer.PlaceAp(9, 9));  // current position 0, 0
        writer.SetPosition(0, 0);
        ASSERT_TRUE(writer.Record());
    }
    CSiteProjection projection(w.prompt, w.sound);
    {
        PlanMap planMap = projection.Map();
        planMap.xLon = 1000;
        planMap.xOrigin = 75000;
        planMap.yLat = 10;
        projection.SetMap(planMap);
    }
    w.data.SetProjection(&projection);
    w.data.SetPath(path);
    ASSERT_TRUE(w.data.LoadSurvey());

    EXPECT_EQ(Summary(w.Points()),
              (std::vector<Expected>{{500, 400, -65, 2, 0, 33},
                                     {75000, 0, -100, 0, 1, 33 + 61 + 82},
                                     {500, 400, -100, 0, 0, 33 + 61 + 82 + 61}}));
    // One sound for the load, not one per survey point.
    EXPECT_EQ(w.sound.Names(), std::vector<std::string>{"PING"});
    EXPECT_TRUE(w.prompt.Messages().empty());
}

TEST_F(LoadTest, WithoutAProjectionEveryPointIsAtTheOrigin) {
    Write(FileBuilder().Location(144000000, -268200000, 0).Location(5, 5, 0, 1).bytes());
    ASSERT_TRUE(w.data.LoadSurvey());
    EXPECT_EQ(Summary(w.Points()),
              (std::vector<Expected>{{0, 0, -100, 0, 0, 33}, {0, 0, -100, 0, 1, 94}}));
}

TEST_F(LoadTest, LoadingReplacesThePointsInMemory) {
    w.data.SetPath(dir.File("other.ktd"));
    ASSERT_TRUE(w.data.NewCollection());
    ASSERT_TRUE(w.Record());
    ASSERT_EQ(w.data.PointCount(), 1u);
    Write(FileBuilder().bytes(), "empty.ktd");
    ASSERT_TRUE(w.data.LoadSurvey());
    EXPECT_EQ(w.data.PointCount(), 0u);
}

TEST_F(LoadTest, OtherKindsLoadAsDynamicApsAndTheirReadingsAreSkipped) {
    Write(FileBuilder()
              .Location(0, 0, 2, 7)
              .Reading(-10 * 256, 1, "x")
              .Reading(-11 * 256, 2, "y")
              .Location(0, 0, 1, 0)
              .Reading(-50 * 256, 3, "z")
              .bytes());
    ASSERT_TRUE(w.data.LoadSurvey());
    EXPECT_EQ(Summary(w.Points()),
              (std::vector<Expected>{{0, 0, -100, 0, 1, 33}, {0, 0, -50, 1, 0, 33 + 61 + 82}}));
    EXPECT_EQ(w.sound.Names(), std::vector<std::string>{"PING"});
}

TEST_F(LoadTest, LargerRecordSizesAreReadAndTheirExtraBytesSkipped) {
    const std::string path = Write(FileBuilder(70, 50, 40)
                                       .Location(0, 0, 2)
                                       .Reading(-40 * 256, 1, "first")
                                       .Reading(-30 * 256, 2, "second")
                                       .Location(0, 0, 0, 1)
                                       .bytes());
    ASSERT_TRUE(w.data.LoadSurvey());
    EXPECT_EQ(Summary(w.Points()),
              (std::vector<Expected>{{0, 0, -30, 2, 0, 48}, {0, 0, -100, 0, 1, 48 + 70 + 100}}));
    ASSERT_EQ(w.data.FindNearestPoint(0, 0), 0);
    EXPECT_EQ(w.data.FormatReading(2), "2  00-1A-2B-3C-4D-02 -30      second");
}

// A file cut at every byte of its last point loads every complete point, and
// the cut point with the readings that are whole; the next append then trims
// the torn tail so that the file reads back consistently.
TEST_F(LoadTest, FileCutInsideItsLastPoint) {
    const Bytes full = FileBuilder()
                           .Location(0, 0, 1)
                           .Reading(-60 * 256, 1, "one")
                           .Location(0, 0, 3)
                           .Reading(-70 * 256, 2, "a")
                           .Reading(-20 * 256, 3, "b")
                           .Reading(-90 * 256, 4, "c")
                           .bytes();
    const std::size_t lastStart = 33 + 61 + 41;
    for (std::size_t cut = lastStart; cut < full.size(); ++cut) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        SiteDataWorld reader;
        const std::string path = dir.File("cut.ktd");
        WriteBytes(path, Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
        reader.data.SetPath(path);
        ASSERT_TRUE(reader.data.LoadSurvey());
        std::vector<Expected> expected = {{0, 0, -60, 1, 0, 33}};
        if (cut >= lastStart + 61) {
            std::size_t whole = (cut - lastStart - 61) / 41;
            const std::int16_t strongest[] = {-100, -70, -20};
            expected.push_back({0, 0, strongest[whole], static_cast<std::uint16_t>(whole), 0,
                                static_cast<std::int64_t>(lastStart)});
        }
        EXPECT_EQ(Summary(reader.Points()), expected);

        // Recording on: the new point starts on a record boundary and the cut
        // point's count matches what it holds.
        reader.SetPosition(7, 7);
        ASSERT_TRUE(reader.Record());
        std::int64_t newOffset = reader.Points().back().offset;
        expected.push_back({7, 7, -100, 0, 0, newOffset});
        SiteDataWorld again;
        again.data.SetPath(path);
        ASSERT_TRUE(again.data.LoadSurvey());
        auto reloaded = Summary(again.Points());
        for (auto& p : reloaded)
            p.x = p.y = 0;
        for (auto& p : expected)
            p.x = p.y = 0;
        EXPECT_EQ(reloaded, expected);
        const Bytes repaired = ReadBytes(path);
        EXPECT_EQ(repaired.size(), static_cast<std::size_t>(newOffset) + 61);
        if (expected.size() == 3) {
            EXPECT_EQ(Get16(&repaired[lastStart + 30]), expected[1].readings);
        }
    }
}

TEST_F(LoadTest, ATornTailIsRepairedEvenWithoutALoadFirst) {
    const Bytes full = FileBuilder().Location(0, 0, 2).Reading(-60 * 256, 1, "one").bytes();
    const std::string path = Write(Bytes(full.begin(), full.end() - 5));
    ASSERT_TRUE(w.Record());
    const Bytes repaired = ReadBytes(path);
    ASSERT_EQ(repaired.size(), 33u + 61u + 61u);
    EXPECT_EQ(Get16(&repaired[33 + 30]), 0);
}

TEST_F(LoadTest, AFileReplacedUnderTheSamePathIsCheckedFromItsStart) {
    const std::string path = dir.File("swapped.ktd");
    w.data.SetPath(path);
    ASSERT_TRUE(w.data.NewCollection());
    ASSERT_TRUE(w.Record());  // this process now knows the file ends at 94
    // Another file takes the path; offset 94 lies inside one of its readings.
    const Bytes other = FileBuilder()
                            .Location(0, 0, 2)
                            .Reading(-60 * 256, 1, "a")
                            .Reading(-61 * 256, 2, "b")
                            .Location(0, 0, 0)
                            .bytes();
    const std::string temporary = dir.File("other.ktd");
    WriteBytes(temporary, other);
    ASSERT_EQ(std::rename(temporary.c_str(), path.c_str()), 0);

    ASSERT_TRUE(w.Record());
    const Bytes written = ReadBytes(path);
    ASSERT_EQ(written.size(), other.size() + 61);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(other.size())),
              other);
}

TEST_F(LoadTest, DamagedFilesGiveAClearMessageAndLoadNothing) {
    struct Row {
        const char* legend;
        Bytes bytes;
        std::string problem;  // the message after "The collection file <path> is damaged: "
    };
    Bytes shortHeader = FileBuilder().bytes();
    shortHeader.resize(24);
    Bytes blockAtEnd = FileBuilder().bytes();
    collection::Put32(&blockAtEnd[21], 30);  // only 3 bytes of the block inside the file
    Bytes blockPastEnd = FileBuilder().bytes();
    collection::Put32(&blockPastEnd[21], 4000);
    Bytes negativeBlock = FileBuilder().bytes();
    collection::Put32(&negativeBlock[21], 0xFFFFFFF0u);
    const Row rows[] = {
        {"empty file", {}, "it is shorter than its 25-byte header."},
        {"short header", shortHeader, "it is shorter than its 25-byte header."},
        {"size block past the end", blockPastEnd,
         "its record sizes (at offset 4000) lie outside the file."},
        {"size block cut by the end", blockAtEnd,
         "its record sizes (at offset 30) lie outside the file."},
        {"negative size-block offset", negativeBlock,
         "its record sizes (at offset -16) lie outside the file."},
        {"location size too small", FileBuilder(60, 41).Location(0, 0, 0).bytes(),
         "its record sizes (60 and 41 bytes) are too small for 61-byte location and 41-byte "
         "reading records."},
        {"reading size too small", FileBuilder(61, 0).Location(0, 0, 5).bytes(),
         "its record sizes (61 and 0 bytes) are too small for 61-byte location and 41-byte "
         "reading records."},
        {"negative sizes", FileBuilder(-1, -1).bytes(),
         "its record sizes (-1 and -1 bytes) are too small for 61-byte location and 41-byte "
         "reading records."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        SiteDataWorld reader;
        const std::string path = dir.File("damaged.ktd");
        WriteBytes(path, row.bytes);
        // Points already shown stay when the file cannot be read.
        reader.data.SetPath(dir.File("good.ktd"));
        ASSERT_TRUE(reader.data.NewCollection());
        ASSERT_TRUE(reader.Record());
        reader.data.SetPath(path);
        EXPECT_FALSE(reader.data.LoadSurvey());
        EXPECT_EQ(reader.prompt.Messages(),
                  std::vector<std::string>{"The collection file " + path +
                                           " is damaged: " + row.problem});
        EXPECT_EQ(reader.data.PointCount(), 1u);
        EXPECT_TRUE(reader.sound.Names().empty());
        // Nothing is appended to a file that cannot be read.
        EXPECT_FALSE(reader.Record());
        EXPECT_EQ(ReadBytes(path), row.bytes);
    }
}

// A survey of 20 points of 8 readings each, with names and addresses as a
// board reports them.
Bytes TwentyPoints() {
    static const char* const kNames[] = {"Office-2G", "Office-5G", "Guest",   "Lab printer",
                                         "Stores",    "Reception", "Canteen", "Meeting A"};
    FileBuilder file;
    for (int point = 0; point < 20; ++point) {
        file.Location(144000000 + point * 900, -268200000 - point * 700, 8);
        for (int i = 0; i < 8; ++i) {
            file.Reading(static_cast<std::int16_t>((-40 - point - 3 * i) * 256),
                         static_cast<std::uint8_t>(0x30 + 7 * i), kNames[i]);
        }
    }
    return file.bytes();
}

constexpr std::size_t kPointSize = 61 + 8 * 41;
constexpr std::size_t PointAt(int n) {  // offset of point n (from 1) of TwentyPoints
    return 33 + static_cast<std::size_t>(n - 1) * kPointSize;
}

// Damage before the end of a file (a count, a fix class or a name changed in
// a point that is whole) is not a torn tail: neither loading and recording on
// nor recording without a load may change a byte of it. The load shows the
// points before the damage and says where it is.
TEST_F(LoadTest, AFileDamagedBeforeItsEndIsOnlyRead) {
    struct Row {
        const char* legend;
        std::size_t at;       // byte changed
        std::uint8_t value;   // its new value
        bool tornToo;         // the last point is cut short as well
        std::size_t shown;    // points the load shows
        std::int64_t damage;  // offset named in the message
        std::size_t point;    // point named in the message
    };
    const Row rows[] = {
        // Point 3's count 8 -> 9: its ninth "reading" is point 4's location
        // record, and the next location record is read from inside point 4.
        {"count raised", PointAt(3) + 30, 9, false, 3, PointAt(4) + 41, 4},
        {"count raised, tail torn", PointAt(3) + 30, 9, true, 3, PointAt(4) + 41, 4},
        {"fix class", PointAt(10) + 29, 7, false, 9, PointAt(10), 10},
        {"name without its end", PointAt(15) + 61 + 2 * 41 + 40, 'x', false, 14,
         PointAt(15) + 61 + 2 * 41, 15},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        Bytes damaged = TwentyPoints();
        damaged[row.at] = row.value;
        if (row.tornToo)
            damaged.resize(damaged.size() - 33);
        const std::string path = dir.File("damaged.ktd");
        const std::string where = "The collection file " + path + " is damaged at offset " +
                                  std::to_string(row.damage) + " (point " +
                                  std::to_string(row.point) + ")";

        // Loaded, then recording goes on.
        {
            SiteDataWorld user;
            WriteBytes(path, damaged);
            user.data.SetPath(path);
            ASSERT_TRUE(user.data.LoadSurvey());
            EXPECT_EQ(user.data.PointCount(), row.shown);
            ASSERT_EQ(user.prompt.Messages().size(), 1u);
            EXPECT_EQ(user.prompt.Messages()[0].rfind(where, 0), 0u) << user.prompt.Messages()[0];
            EXPECT_NE(user.prompt.Messages()[0].find("choose a new collection file"),
                      std::string::npos);
            EXPECT_NE(user.data.AppendRefusal().find(where), std::string::npos);
            user.AddAp({{1, 2, 3, 4, 5, 6}, "new", -50, 1, 0});
            EXPECT_FALSE(user.Record());
            EXPECT_FALSE(user.PlaceAp(3, 3));
            EXPECT_EQ(user.data.PointCount(), row.shown);
        }
        // Every byte of the file, points after the damage included, is as it was.
        EXPECT_EQ(ReadBytes(path), damaged);

        // Recording without a load first finds the damage too.
        {
            SiteDataWorld user;
            user.data.SetPath(path);
            EXPECT_FALSE(user.Record());
            ASSERT_EQ(user.prompt.Messages().size(), 1u);
            EXPECT_EQ(user.prompt.Messages()[0].rfind(where, 0), 0u) << user.prompt.Messages()[0];
        }
        EXPECT_EQ(ReadBytes(path), damaged);
    }
}

// The same survey whole, and with only its last point torn: recording on
// keeps every byte before the tear.
TEST_F(LoadTest, OnlyATornLastPointIsRepaired) {
    const Bytes whole = TwentyPoints();
    Bytes torn = whole;
    torn.resize(torn.size() - 33);  // point 20 keeps 7 of its 8 readings whole
    for (const Bytes& original : {whole, torn}) {
        const std::string path = Write(original);
        SiteDataWorld user;
        user.data.SetPath(path);
        ASSERT_TRUE(user.data.LoadSurvey());
        EXPECT_EQ(user.data.PointCount(), 20u);
        ASSERT_TRUE(user.Record());
        EXPECT_TRUE(user.prompt.Messages().empty());
        const Bytes after = ReadBytes(path);
        const std::size_t kept =
            original.size() == whole.size() ? whole.size() : PointAt(20) + 61 + 7 * 41;
        ASSERT_EQ(after.size(), kept + 61);
        for (std::size_t i = 0; i < kept; ++i) {
            // Only the torn point's count (at 30 in its location record) changes.
            const bool count =
                original.size() != whole.size() && (i == PointAt(20) + 30 || i == PointAt(20) + 31);
            if (!count) {
                ASSERT_EQ(after[i], original[i]) << "byte " << i;
            }
        }
        if (original.size() != whole.size()) {
            EXPECT_EQ(Get16(&after[PointAt(20) + 30]), 7);
        }
    }
}

TEST_F(LoadTest, HugeCountsAndSizesEndAtTheEndOfTheFile) {
    // Counts that promise far more readings than the file holds, and record
    // sizes near the int32 limit: the load ends quickly with what is whole.
    Write(FileBuilder().Location(0, 0, 65535).Reading(-1 * 256, 1, "only").bytes(), "count.ktd");
    ASSERT_TRUE(w.data.LoadSurvey());
    EXPECT_EQ(Summary(w.Points()), (std::vector<Expected>{{0, 0, -1, 1, 0, 33}}));

    Bytes huge = FileBuilder().Location(0, 0, 3).Reading(0, 1, "").bytes();
    collection::Put32(&huge[25], 0x7FFFFFFF);
    collection::Put32(&huge[29], 0x7FFFFFFF);
    Write(huge, "sizes.ktd");
    ASSERT_TRUE(w.data.LoadSurvey());
    EXPECT_TRUE(w.Points().empty());
}

}  // namespace
}  // namespace ketrion::testing
