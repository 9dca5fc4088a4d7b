// ktd with a side store beside the collection file: the details dump adds,
// and compact, which drops the points marked deleted.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/SiteDataFixture.h"
#include "survey/SideStore.h"

namespace ketrion::testing {
namespace {

ProgramRun Ktd(const std::vector<std::string>& args) {
    return RunProgram(ToolPath("ktd"), args);
}

SideStore::Identity IdentityOf(const std::string& path) {
    const Bytes bytes = ReadBytes(path);
    return SideIdentity(path, bytes.data());
}

std::unique_ptr<SideStore> WriteSide(const std::string& path) {
    std::string message;
    auto store = SideStore::OpenForWriting(path, IdentityOf(path), &message);
    EXPECT_NE(store, nullptr) << message;
    return store;
}

SideStore::Point PointAt(std::int64_t offset, const char* method) {
    SideStore::Point p;
    p.offset = offset;
    p.scanSource = "wifi";
    p.method = method;
    return p;
}

SideStore::Reading ReadingOf(int index, const std::string& bssid) {
    SideStore::Reading r;
    r.index = index;
    r.bssid = bssid;
    return r;
}

// Three points: 33 (two readings), 176 (none) and 237 (one reading).
const Bytes& ThreePoints() {
    static const Bytes bytes = FileBuilder()
                                   .Location(144000000, -268200000, 2)
                                   .Reading(-72 * 256, 0x5E, "LAB1", 0x11)
                                   .Reading(-60 * 256, 0x01, "GUEST", 0x02)
                                   .Location(0, 0, 0, 1)
                                   .Location(3600000, 3600000, 1)
                                   .Reading(-80 * 256, 0x02, "far", 0x01)
                                   .bytes();
    return bytes;
}

// The first `count` lines of `text`.
std::string Head(const std::string& text, std::size_t count) {
    std::size_t at = 0;
    for (std::size_t line = 0; line < count; ++line)
        at = text.find('\n', at) + 1;
    return text.substr(0, at);
}

// `text` from line `from` (counted from 0) on.
std::string Lines(const std::string& text, std::size_t from) {
    std::size_t at = 0;
    for (std::size_t line = 0; line < from; ++line)
        at = text.find('\n', at) + 1;
    return text.substr(at);
}

TEST(KtdDumpSide, ShowsWhatTheSideStoreAdds) {
    TempDir dir;
    const std::string path = dir.File("site.ktd");
    WriteBytes(path, ThreePoints());
    const ProgramRun plain = Ktd({"dump", path});
    ASSERT_EQ(plain.status, 0);
    {
        auto side = WriteSide(path);
        ASSERT_NE(side, nullptr);
        SideStore::Point first = PointAt(33, "walk");
        first.planX = 120.25;
        first.planY = -3.5;
        first.floor = "Level \"2\"";
        first.timeMs = 1'700'000'000'250;
        first.fixFlag = "stale";
        first.ephMetres = 4.75;
        first.satellites = 9;
        first.altitudeMetres = 12.0;
        SideStore::Reading lab = ReadingOf(0, "00:1A:2B:3C:4D:5E");
        lab.channel = 36;
        lab.frequencyMhz = 5180;
        lab.band = "5 GHz";
        lab.security = "WPA2-PSK";
        lab.phy = "ax";
        lab.widthMhz = 80;
        lab.noiseDbm = -95;
        lab.ageMs = 120;
        lab.ssid = "LAB1";  // the same name as the file's: not repeated
        // A row naming another access point than the file's second reading:
        // out of step, so nothing is shown for it.
        SideStore::Reading other = ReadingOf(1, "00:1a:2b:3c:4d:99");
        other.channel = 11;
        SideStore::Reading extra = ReadingOf(2, "aa:bb:cc:dd:ee:07");
        extra.inCollection = false;
        extra.signalMbm = -8150;
        extra.ssid = std::string(40, 'x') + "\x1B";
        extra.channel = 1;
        std::string message;
        ASSERT_TRUE(side->WritePoint(first, {lab, other, extra}, &message)) << message;
        ASSERT_TRUE(side->SetDeleted(176, true, &message));
        // Point 237 has no side rows; a row for an offset the file lacks is ignored.
        ASSERT_TRUE(side->WritePoint(PointAt(999, "stop"), {ReadingOf(0, "x")}, &message));
    }
    const ProgramRun run = Ktd({"dump", path});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(
        run.out,
        Head(plain.out, 4) +
            "  side: source \"wifi\", method \"walk\", plan 120.25 -3.50, floor "
            "\"Level \\x222\\x22\", time 2023-11-14 22:13:20.250 UTC, fix \"stale\", eph 4.8 m, "
            "satellites 9, altitude 12.0 m\n"
            "  00:1a:2b:3c:4d:5e -72 dBm attr 0x11 \"LAB1\"\n"
            "    side: channel 36, frequency 5180 MHz, band \"5 GHz\", security \"WPA2-PSK\", "
            "phy \"ax\", width 80 MHz, noise -95 dBm, age 120 ms\n"
            "  00:1a:2b:3c:4d:01 -60 dBm attr 0x02 \"GUEST\"\n"
            "  side only: \"aa:bb:cc:dd:ee:07\" -81.50 dBm channel 1, name \"" +
            std::string(40, 'x') + "\\x1B\"\n" + Head(Lines(plain.out, 6), 1) +
            "  side: deleted\n" + Lines(plain.out, 7));
}

TEST(KtdDumpSide, AnUnusableSideStoreIsOneLineAndTheFileIsDumped) {
    struct Row {
        const char* legend;
        void (*make)(const std::string& path);
        const char* err;  // in the one line on standard error
    };
    const Row rows[] = {
        {"garbage",
         [](const std::string& path) { WriteBytes(SideStore::PathFor(path), Bytes(2048, 0xEE)); },
         "is damaged"},
        {"another file's",
         [](const std::string& path) {
             Bytes header = ThreePoints();
             header[13] = 7;  // another creation time
             auto store =
                 SideStore::OpenForWriting(path, SideIdentity(path, header.data()), nullptr);
             ASSERT_NE(store, nullptr);
             ASSERT_TRUE(store->SetDeleted(33, true, nullptr));
         },
         "belongs to another collection file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TempDir dir;
        const std::string path = dir.File("site.ktd");
        WriteBytes(path, ThreePoints());
        const ProgramRun plain = Ktd({"dump", path});
        row.make(path);
        const ProgramRun run = Ktd({"dump", path});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, plain.out);
        EXPECT_TRUE(run.err.starts_with("ktd: The side store " + path + ".side ")) << run.err;
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

TEST(KtdCompact, DropsDeletedPointsAndMovesTheirNeighboursRows) {
    struct Row {
        const char* legend;
        FileBuilder file;  // points at the offsets below (location and reading sizes vary)
        std::vector<std::uint16_t> counts;
    };
    std::vector<Row> rows;
    rows.push_back({"usual record sizes", FileBuilder(), {2, 0, 1}});
    // Larger records than this program writes, and the size block further on:
    // copied whole, byte for byte.
    rows.push_back({"larger records", FileBuilder(70, 50, 40), {1, 3, 2}});
    for (Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TempDir dir;
        const std::string in = dir.File("in.ktd");
        const std::string out = dir.File("out.ktd");
        std::vector<Bytes> pointBytes;
        std::size_t at = row.file.bytes().size();
        const Bytes header(row.file.bytes());
        for (std::size_t p = 0; p < row.counts.size(); ++p) {
            row.file.Location(static_cast<std::int32_t>(p), 0, row.counts[p]);
            for (std::uint16_t r = 0; r < row.counts[p]; ++r)
                row.file.Reading(static_cast<std::int16_t>(-256 * (50 + r)),
                                 static_cast<std::uint8_t>(16 * p + r), "net");
            pointBytes.emplace_back(row.file.bytes().begin() + static_cast<long>(at),
                                    row.file.bytes().end());
            at = row.file.bytes().size();
        }
        WriteBytes(in, row.file.bytes());
        std::vector<std::int64_t> offsets;
        std::int64_t offset = static_cast<std::int64_t>(header.size());
        for (const Bytes& b : pointBytes) {
            offsets.push_back(offset);
            offset += static_cast<std::int64_t>(b.size());
        }
        {
            auto side = WriteSide(in);
            ASSERT_NE(side, nullptr);
            std::string message;
            for (std::size_t p = 0; p < offsets.size(); ++p) {
                std::vector<SideStore::Reading> readings;
                for (int r = 0; r < row.counts[p]; ++r)
                    readings.push_back(ReadingOf(r, "point" + std::to_string(p)));
                ASSERT_TRUE(side->WritePoint(PointAt(offsets[p], p == 2 ? "last" : "walk"),
                                             readings, &message));
            }
            ASSERT_TRUE(side->SetDeleted(offsets[1], true, &message));
        }
        // An older output and its side store are replaced.
        WriteBytes(out, Bytes(10, 1));
        WriteBytes(SideStore::PathFor(out), Bytes(10, 2));

        const ProgramRun run = Ktd({"compact", in, "-o", out});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, out + ": 2 points kept, 1 deleted points left out\n");
        Bytes expected = header;
        expected.insert(expected.end(), pointBytes[0].begin(), pointBytes[0].end());
        expected.insert(expected.end(), pointBytes[2].begin(), pointBytes[2].end());
        EXPECT_EQ(ReadBytes(out), expected);
        // in, its store, out, its store: nothing else left behind.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);

        std::string message;
        auto side = SideStore::OpenForReading(out, IdentityOf(out), &message);
        ASSERT_NE(side, nullptr) << message;
        const auto points = side->Points();
        ASSERT_EQ(points.size(), 2u);
        const std::int64_t moved = offsets[0] + static_cast<std::int64_t>(pointBytes[0].size());
        EXPECT_EQ(points.at(offsets[0]).method, "walk");
        EXPECT_EQ(points.at(moved).method, "last");
        EXPECT_FALSE(points.at(moved).deleted);
        const auto readings = side->ReadingsOf(moved);
        ASSERT_EQ(readings.size(), row.counts[2]);
        EXPECT_EQ(readings[0].bssid, "point2");
        EXPECT_EQ(readings[0].pointOffset, moved);
        EXPECT_EQ(side->ReadingsOf(offsets[0]).size(), row.counts[0]);
    }
}

TEST(KtdCompact, WithoutASideStoreTheCopyIsWholeAndAnOldOutputStoreGoes) {
    TempDir dir;
    const std::string in = dir.File("in.ktd");
    const std::string out = dir.File("out.ktd");
    WriteBytes(in, ThreePoints());
    WriteBytes(SideStore::PathFor(out), Bytes(10, 2));
    const ProgramRun run = Ktd({"compact", in, "-o", out});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadBytes(out), ThreePoints());
    EXPECT_FALSE(std::filesystem::exists(SideStore::PathFor(out)));
}

TEST(KtdCompact, ARenamedFileAndStoreStayTogetherAndTheWalksScansAreKept) {
    TempDir dir;
    const std::string in = dir.File("in.ktd");
    WriteBytes(in, ThreePoints());
    {
        auto side = WriteSide(in);
        ASSERT_NE(side, nullptr);
        ASSERT_TRUE(side->SetDeleted(176, true, nullptr));
        ASSERT_TRUE(side->AddPendingScan(7, R"({"readings":[],"started_ms":5})", nullptr));
        ASSERT_TRUE(side->Close(nullptr));
    }
    // Both moved together: the store still belongs to the file.
    const std::string moved = dir.File("moved.ktd");
    std::filesystem::rename(in, moved);
    std::filesystem::rename(SideStore::PathFor(in), SideStore::PathFor(moved));
    const std::string out = dir.File("out.ktd");
    const ProgramRun run = Ktd({"compact", moved, "-o", out});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, out + ": 2 points kept, 1 deleted points left out\n");
    std::string message;
    auto side = SideStore::OpenForReading(out, IdentityOf(out), &message);
    ASSERT_NE(side, nullptr) << message;
    const auto pending = side->PendingScans();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].first, 7);
    EXPECT_EQ(pending[0].second, R"({"readings":[],"started_ms":5})");
}

// Every name in the folder with the bytes it reads as.
std::map<std::string, Bytes> Contents(const TempDir& dir) {
    std::map<std::string, Bytes> contents;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        const std::string path = entry.path().string();
        contents.emplace(path, entry.is_regular_file() ? ReadBytes(path) : Bytes{});
    }
    return contents;
}

TEST(KtdCompact, RefusalsAndFailuresLeaveNoFileBehind) {
    struct Row {
        const char* legend;
        // Prepares the folder; returns the output argument.
        std::string (*make)(const TempDir& dir, const std::string& in);
        int status;
        const char* err;  // in standard error
    };
    const Row rows[] = {
        {"the input itself", [](const TempDir&, const std::string& in) { return in; }, 2,
         "is the file being compacted"},
        {"a hard link to the input",
         [](const TempDir& dir, const std::string& in) {
             const std::string out = dir.File("link.ktd");
             EXPECT_EQ(::link(in.c_str(), out.c_str()), 0);
             return out;
         },
         2, "is the file being compacted"},
        {"the input's side store",
         [](const TempDir&, const std::string& in) { return SideStore::PathFor(in); }, 2,
         "side store; choose another output"},
        // Names of the store's log and journal, there or not: the store's
        // owner would delete or replay them.
        {"the input's side store log",
         [](const TempDir&, const std::string& in) { return SideStore::PathFor(in) + "-wal"; }, 2,
         "side store; choose another output"},
        {"the input's side store index",
         [](const TempDir& dir, const std::string&) { return dir.Path() + "/./in.ktd.side-shm"; },
         2, "side store; choose another output"},
        {"the input's side store journal",
         [](const TempDir&, const std::string& in) { return SideStore::PathFor(in) + "-journal"; },
         2, "side store; choose another output"},
        {"a symbolic link",
         [](const TempDir& dir, const std::string&) {
             const std::string out = dir.File("planted.ktd");
             std::filesystem::create_symlink(dir.File("target.ktd"), out);
             return out;
         },
         2, "not a regular file"},
        {"a folder",
         [](const TempDir& dir, const std::string&) {
             std::filesystem::create_directory(dir.File("folder.ktd"));
             return dir.File("folder.ktd");
         },
         2, "not a regular file"},
        {"in a missing folder",
         [](const TempDir& dir, const std::string&) { return dir.File("none/out.ktd"); }, 2,
         "cannot write"},
        {"a cut input",
         [](const TempDir& dir, const std::string& in) {
             Bytes bytes = ReadBytes(in);
             bytes.pop_back();
             WriteBytes(in, bytes);
             return dir.File("out.ktd");
         },
         1, "is damaged"},
        {"a damaged side store",
         [](const TempDir& dir, const std::string& in) {
             WriteBytes(SideStore::PathFor(in), Bytes(4096, 0xEE));
             return dir.File("out.ktd");
         },
         1, "is not compacted"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        TempDir dir;
        const std::string in = dir.File("in.ktd");
        WriteBytes(in, ThreePoints());
        {
            auto side = WriteSide(in);
            ASSERT_NE(side, nullptr);
            ASSERT_TRUE(side->SetDeleted(176, true, nullptr));
        }
        const std::string out = row.make(dir, in);
        const auto before = Contents(dir);
        const ProgramRun run = Ktd({"compact", in, "-o", out});
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.err), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Contents(dir), before);
    }
    EXPECT_EQ(Ktd({"compact", "in.ktd"}).status, 2);  // no output named
}

}  // namespace
}  // namespace ketrion::testing
