// ktd dump, run as the user runs it: what it prints for intact, cut and
// damaged collection files, and its exit status.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <iterator>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/SiteDataFixture.h"

namespace ketrion::testing {
namespace {

ProgramRun Ktd(const std::vector<std::string>& args) {
    return RunProgram(ToolPath("ktd"), args);
}

const char* const kHeaderLines =
    "header length 25, magic \" KTD\", version 1, created 1970-01-01 00:00:00 UTC (0)\n"
    "record sizes at 25: location 61, reading 41\n";

TEST(KtdDump, PrintsEveryPointAndReading) {
    TempDir dir;
    // A space in the name: the path reaches ktd whole.
    const std::string path = dir.File("good survey.ktd");
    Bytes bytes = FileBuilder()
                      .Location(144000000, -268200000, 2)
                      .Reading(-72 * 256, 0x5E, "LAB1", 0x11)
                      .Reading(-60 * 256 + 128, 0x01, "quote\"tab\t", 0x02)
                      .Location(-1800000, 3600000, 0, 1)
                      .bytes();
    // Date, time and fix class of the first point.
    bytes[33 + 8] = 12;
    bytes[33 + 9] = 31;
    collection::Put16(&bytes[33 + 10], 2026);
    bytes[33 + 12] = 23;
    bytes[33 + 13] = 59;
    bytes[33 + 14] = 58;
    bytes[33 + 29] = 1;
    WriteBytes(path, bytes);

    ProgramRun run = Ktd({"dump", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "file " + path + "\n" + kHeaderLines +
                  "point 1 at 33: survey 40.0000000 -74.5000000 2026-12-31 23:59:58 fix 2D "
                  "readings 2\n"
                  "  00:1a:2b:3c:4d:5e -72 dBm attr 0x11 \"LAB1\"\n"
                  "  00:1a:2b:3c:4d:01 -59.50 dBm attr 0x02 \"quote\\x22tab\\x09\"\n"
                  "point 2 at 176: dynamic-ap -0.5000000 1.0000000 0000-00-00 00:00:00 fix none "
                  "readings 0\n"
                  "points 2, readings 2\n");
}

TEST(KtdDump, DamagedFilesPrintWhatCouldBeReadAndSayWhy) {
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
        std::string lastLine;  // the last line printed
        std::string err;       // standard error, with @ for the file's path
    };
    const Row rows[] = {
        {"cut inside a reading", Bytes(good.begin(), good.begin() + 33 + 61 + 41 + 7),
         "points 1, readings 1\n",
         "ktd: @ is damaged: the file ends inside point 1 (after 1 of its 2 readings).\n"},
        {"cut inside a location record", Bytes(good.begin(), good.end() - 1),
         "points 1, readings 2\n",
         "ktd: @ is damaged: the file ends inside the location record of point 2 (60 bytes at "
         "offset 176).\n"},
        {"cut inside the header", Bytes(good.begin(), good.begin() + 20), "",
         "ktd: The collection file @ is damaged: it is shorter than its 25-byte header.\n"},
        {"record sizes too small", tooSmall, "record sizes at 25: location 20, reading 41\n",
         "ktd: The collection file @ is damaged: its record sizes (20 and 41 bytes) are too "
         "small for 61-byte location and 41-byte reading records.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TempDir dir;
        const std::string path = dir.File("bad.ktd");
        WriteBytes(path, row.bytes);
        ProgramRun run = Ktd({"dump", path});
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.out.starts_with("file " + path + "\n"));
        EXPECT_TRUE(run.out.ends_with(row.lastLine)) << run.out;
        std::string expected = row.err;
        expected.replace(expected.find('@'), 1, path);
        EXPECT_EQ(run.err, expected);
    }
}

TEST(KtdCsv, OneRowPerReadingAndOneForAPointWithout) {
    TempDir dir;
    const std::string path = dir.File("export.ktd");
    WriteBytes(path, FileBuilder()
                         .Location(144000000, -268200000, 2)
                         .Reading(-72 * 256, 0x5E, "LAB1", 0x11)
                         .Reading(-60 * 256 + 128, 0x01, "say \"hi\"\n", 2)
                         .Location(0, 0, 0, 1)
                         .bytes());
    ProgramRun run = Ktd({"csv", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "point,offset,kind,latitude,longitude,time,fix,mac,signal_dbm,attribute,ssid\n"
              "1,33,survey,40.0000000,-74.5000000,0000-00-00T00:00:00,none,00:1a:2b:3c:4d:5e,-72,"
              "17,\"LAB1\"\n"
              "1,33,survey,40.0000000,-74.5000000,0000-00-00T00:00:00,none,00:1a:2b:3c:4d:01,"
              "-59.50,2,\"say \"\"hi\"\"\\x0A\"\n"
              "2,176,dynamic-ap,0.0000000,0.0000000,0000-00-00T00:00:00,none,,,,\n");
}

TEST(KtdCsv, NamesASpreadsheetWouldRunAreKeptAsText) {
    TempDir dir;
    const std::string path = dir.File("formula.ktd");
    FileBuilder file;
    const char* const names[] = {
        "=HYPERLINK(\"x\")", "+1", "-2", "@SUM(A1)", "\tx", "\rx", "a=b", "plain"};
    file.Location(0, 0, static_cast<std::uint16_t>(std::size(names)));
    for (const char* name : names)
        file.Reading(-50 * 256, 1, name);
    WriteBytes(path, file.bytes());
    ProgramRun run = Ktd({"csv", path});
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> cells;
    std::size_t at = run.out.find('\n') + 1;  // past the heading
    while (at < run.out.size()) {
        const std::size_t end = run.out.find('\n', at);
        const std::string row = run.out.substr(at, end - at);
        cells.push_back(row.substr(row.find(",\"") + 1));
        at = end + 1;
    }
    EXPECT_EQ(cells, (std::vector<std::string>{"\"'=HYPERLINK(\"\"x\"\")\"", "\"'+1\"", "\"'-2\"",
                                               "\"'@SUM(A1)\"", "\"'\\x09x\"", "\"'\\x0Dx\"",
                                               "\"a=b\"", "\"plain\""}));
}

TEST(KtdDump, PipesFoldersAndDevicesAreRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.File("pipe.ktd");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // The runner kills a tool that hangs on the pipe: its status would be -1.
    ProgramRun pipe = Ktd({"dump", fifo});
    EXPECT_EQ(pipe.status, 2);
    EXPECT_EQ(pipe.err, "ktd: cannot open " + fifo + ": it is a named pipe, not a regular file\n");
    ProgramRun folder = Ktd({"csv", dir.Path()});
    EXPECT_EQ(folder.status, 2);
    EXPECT_EQ(folder.err, "ktd: cannot open " + dir.Path() + ": Is a directory\n");
    EXPECT_EQ(folder.out, "");
    ProgramRun device = Ktd({"dump", "/dev/zero"});
    EXPECT_EQ(device.status, 2);
    EXPECT_EQ(device.err, "ktd: cannot open /dev/zero: it is a device, not a regular file\n");
}

TEST(KtdDump, UsageAndOpenErrors) {
    ProgramRun missing = Ktd({"dump", "/nonexistent/none.ktd"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "ktd: cannot open /nonexistent/none.ktd: No such file or directory\n");
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(Ktd({}).status, 2);
    EXPECT_EQ(Ktd({"dump"}).status, 2);
    EXPECT_EQ(Ktd({"csv", "/nonexistent/none.ktd"}).out, "");
}

}  // namespace
}  // namespace ketrion::testing
