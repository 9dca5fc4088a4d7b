// A collection file read whole: every stored field of a point and its
// readings, and what a damaged or cut file leaves.

#include "analysis/SurveyRecords.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include "support/SiteDataFixture.h"

namespace ketrion::analysis {
namespace {

using testing::Bytes;
using testing::FileBuilder;
using testing::TempDir;

TEST(SurveyRecords, ReadsEveryFieldOfPointsAndReadings) {
    TempDir dir;
    const std::string path = dir.File("survey.ktd");
    Bytes bytes = FileBuilder(70, 45)  // larger records than this program writes
                      .Location(144000000, -268200000, 2)
                      .Reading(-72 * 256, 0x5E, "LAB1", 0x11)
                      .Reading(-60 * 256 + 128, 0x01, "x", 0x02)
                      .Location(-1800000, 3600000, 0, 1)
                      .bytes();
    std::uint8_t* first = &bytes[33];
    first[collection::kMonthAt] = 2;
    first[collection::kDayAt] = 29;
    collection::Put16(first + collection::kYearAt, 2024);
    first[collection::kHourAt] = 23;
    first[collection::kMinuteAt] = 59;
    first[collection::kSecondAt] = 60;
    collection::Put32(first + collection::kHeightAt, static_cast<std::uint32_t>(-1234));
    first[collection::kFixClassAt] = 2;
    collection::Put64(&bytes[collection::kCreatedAt], 1796761929);
    testing::WriteBytes(path, bytes);

    SurveyRecords survey;
    ASSERT_EQ(ReadSurveyRecords(path, survey), ReadResult::Complete) << survey.damage;
    EXPECT_EQ(survey.damage, "");
    EXPECT_EQ(survey.created, 1796761929);
    ASSERT_EQ(survey.points.size(), 2u);
    const SurveyPoint& p = survey.points[0];
    EXPECT_EQ(p.offset, 33);
    EXPECT_EQ(p.LatitudeDegrees(), 40.0);
    EXPECT_EQ(p.LongitudeDegrees(), -74.5);
    EXPECT_EQ(p.DateTime("T"), "2024-02-29T23:59:60");
    EXPECT_TRUE(p.HasValidTime());
    EXPECT_EQ(p.height, -1234);
    EXPECT_TRUE(p.HasFix());
    EXPECT_TRUE(p.IsSurvey());
    ASSERT_EQ(p.readings.size(), 2u);
    EXPECT_EQ(MacText(p.readings[0].mac), "00:1a:2b:3c:4d:5e");
    EXPECT_EQ(p.readings[0].attribute, 0x11);
    EXPECT_EQ(p.readings[0].ssid, "LAB1");
    EXPECT_EQ(p.readings[1].SignalDbm(), -59);  // truncated toward zero
    EXPECT_EQ(p.readings[1].SignalExact(), -59.5);
    EXPECT_EQ(p.Strongest(), -59);

    const SurveyPoint& ap = survey.points[1];
    EXPECT_EQ(ap.offset, 33 + 70 + 2 * 45);
    EXPECT_FALSE(ap.IsSurvey());
    EXPECT_FALSE(ap.HasFix());
    EXPECT_FALSE(ap.HasValidTime());  // all zero: before the first GPS report
    EXPECT_EQ(ap.Strongest(), -100);
    EXPECT_DOUBLE_EQ(ap.LatitudeDegrees(), -0.5);
}

TEST(SurveyRecords, StrongestNeverBelowTheFloor) {
    SurveyPoint p;
    EXPECT_EQ(p.Strongest(), -100);  // no readings
    Reading weak;
    weak.signal = -120 * 256;
    p.readings = {weak};
    EXPECT_EQ(p.Strongest(), -100);
    p.kind = 7;  // any kind but 0 loads as a dynamic access point
    weak.signal = -20 * 256;
    p.readings = {weak};
    EXPECT_EQ(p.Strongest(), -100);
}

TEST(SurveyRecords, RealDatesOnly) {
    struct Row {
        unsigned year, month, day, hour, minute, second;
        bool valid;
    };
    const Row rows[] = {
        {2007, 3, 5, 14, 7, 9, true},     {2023, 2, 29, 0, 0, 0, false},
        {2000, 2, 29, 0, 0, 0, true},     {1900, 2, 29, 0, 0, 0, false},
        {2026, 12, 31, 23, 59, 59, true}, {2026, 13, 1, 0, 0, 0, false},
        {2026, 4, 31, 0, 0, 0, false},    {2026, 1, 0, 0, 0, 0, false},
        {2026, 1, 1, 24, 0, 0, false},    {2026, 1, 1, 0, 60, 0, false},
        {2026, 1, 1, 0, 0, 61, false},    {0, 1, 1, 0, 0, 0, false},
    };
    for (const Row& r : rows) {
        SurveyPoint p;
        p.year = static_cast<std::uint16_t>(r.year);
        p.month = static_cast<std::uint8_t>(r.month);
        p.day = static_cast<std::uint8_t>(r.day);
        p.hour = static_cast<std::uint8_t>(r.hour);
        p.minute = static_cast<std::uint8_t>(r.minute);
        p.second = static_cast<std::uint8_t>(r.second);
        EXPECT_EQ(p.HasValidTime(), r.valid) << p.DateTime(" ");
    }
}

TEST(SurveyRecords, DamagedFilesKeepWhatCameBeforeAndSayWhy) {
    const Bytes good = FileBuilder()
                           .Location(0, 0, 2)
                           .Reading(-50 * 256, 1, "a")
                           .Reading(-51 * 256, 2, "b")
                           .Location(0, 0, 0)
                           .bytes();
    Bytes tooSmall = good;
    collection::Put32(&tooSmall[25], 20);
    struct Row {
        const char* legend;
        Bytes bytes;
        std::size_t points;
        std::size_t firstReadings;
        std::string damage;  // @ for the path
    };
    const Row rows[] = {
        {"cut inside a reading", Bytes(good.begin(), good.begin() + 33 + 61 + 41 + 7), 1, 1,
         "The collection file @ is damaged: it ends inside point 1 (after 1 of its 2 "
         "readings)."},
        {"cut inside a location record", Bytes(good.begin(), good.end() - 1), 1, 2,
         "The collection file @ is damaged: it ends inside the location record of point 2 (60 "
         "bytes at offset 176)."},
        {"cut inside the header", Bytes(good.begin(), good.begin() + 20), 0, 0,
         "The collection file @ is damaged: it is shorter than its 25-byte header."},
        {"record sizes too small", tooSmall, 0, 0,
         "The collection file @ is damaged: its record sizes (20 and 41 bytes) are too small "
         "for 61-byte location and 41-byte reading records."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TempDir dir;
        const std::string path = dir.File("bad.ktd");
        testing::WriteBytes(path, row.bytes);
        SurveyRecords survey;
        EXPECT_EQ(ReadSurveyRecords(path, survey), ReadResult::Damaged);
        ASSERT_EQ(survey.points.size(), row.points);
        if (row.points > 0) {
            EXPECT_EQ(survey.points[0].readings.size(), row.firstReadings);
        }
        std::string expected = row.damage;
        expected.replace(expected.find('@'), 1, path);
        EXPECT_EQ(survey.damage, expected);
    }
}

TEST(SurveyRecords, WhatCannotBeOpened) {
    TempDir dir;
    SurveyRecords survey;
    EXPECT_EQ(ReadSurveyRecords(dir.File("absent.ktd"), survey), ReadResult::NotOpened);
    EXPECT_EQ(survey.damage,
              "cannot open " + dir.File("absent.ktd") + ": No such file or directory");
    EXPECT_EQ(ReadSurveyRecords(dir.Path(), survey), ReadResult::NotOpened);
    EXPECT_EQ(survey.damage, "cannot open " + dir.Path() + ": it is a folder");
    // A named pipe would block a plain open until a writer came.
    const std::string fifo = dir.File("pipe.ktd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadSurveyRecords(fifo, survey), ReadResult::NotOpened);
    EXPECT_EQ(survey.damage, "cannot open " + fifo + ": it is not a regular file");
    // An empty file has no header.
    const std::string empty = dir.File("empty.ktd");
    testing::WriteBytes(empty, {});
    EXPECT_EQ(ReadSurveyRecords(empty, survey), ReadResult::Damaged);
    EXPECT_TRUE(survey.points.empty());
}

TEST(SurveyRecords, AHugeReadingCountInAShortFileReadsWhatIsThere) {
    // 65535 readings claimed, one present.
    TempDir dir;
    const std::string path = dir.File("claim.ktd");
    testing::WriteBytes(path,
                        FileBuilder().Location(0, 0, 65535).Reading(-50 * 256, 1, "a").bytes());
    SurveyRecords survey;
    EXPECT_EQ(ReadSurveyRecords(path, survey), ReadResult::Damaged);
    ASSERT_EQ(survey.points.size(), 1u);
    EXPECT_EQ(survey.points[0].readings.size(), 1u);
    EXPECT_EQ(survey.points[0].storedCount, 65535);
}

// Network names made on many threads at once are one text each: equal names
// compare equal however they were made, and a name reads as its string.
TEST(NetworkName, NamesMadeAtOnceOnManyThreadsAreOneTextEach) {
    std::vector<std::vector<NetworkName>> made(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < made.size(); ++t)
        threads.emplace_back([&made, t] {
            for (int i = 0; i < 2000; ++i)
                made[t].emplace_back("net-" + std::to_string(i % 50));
        });
    for (std::thread& thread : threads)
        thread.join();
    for (std::size_t t = 1; t < made.size(); ++t)
        for (std::size_t i = 0; i < made[t].size(); ++i)
            ASSERT_EQ(&made[t][i].str(), &made[0][i].str());
    const NetworkName lab("lab");
    EXPECT_EQ(lab, std::string("lab"));
    EXPECT_NE(lab, NetworkName("lab2"));
    EXPECT_LT(lab, NetworkName("office"));
    EXPECT_TRUE(NetworkName().empty());
    EXPECT_EQ(NetworkName(""), NetworkName());
    EXPECT_EQ(std::string(NetworkName(std::string(32, 'n'))).size(), 32u);
}

}  // namespace
}  // namespace ketrion::analysis
