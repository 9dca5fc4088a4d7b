// The side store on real files: what it keeps, what survives a crash or a
// reopen, and how damaged, foreign and planted stores are handled.

#include "survey/SideStore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ScratchFiles.h"
#include "survey/CollectionFile.h"

namespace ketrion {
namespace {

using scratch::Bytes;
using scratch::ReadBytes;
using scratch::ScratchDir;
using scratch::WriteBytes;

SideStore::Identity IdentityOf(const std::string& collection, std::int64_t created) {
    std::uint8_t header[collection::kFirstRecord];
    collection::EncodeHeader(created, header);
    return SideIdentity(collection, header);
}

SideStore::Point FullPoint(std::int64_t offset) {
    SideStore::Point p;
    p.offset = offset;
    p.scanSource = "wifi";
    p.method = "walk";
    p.planX = 120.25;
    p.planY = -3.5;
    p.floor = "Level 2";
    p.timeMs = 1'700'000'123'456;
    p.ephMetres = 4.75;
    p.satellites = 9;
    p.mode = 3;
    p.altitudeMetres = 212.5;
    p.fixFlag = "stale";
    p.provisional = true;
    p.scanStartMs = 5'000;
    p.scanEndMs = 7'250;
    return p;
}

SideStore::Point BarePoint(std::int64_t offset) {
    SideStore::Point p;
    p.offset = offset;
    p.scanSource = "board";
    p.method = "board";
    return p;
}

SideStore::Reading FullReading(int index) {
    SideStore::Reading r;
    r.index = index;
    r.bssid = "aa:bb:cc:dd:ee:0" + std::to_string(index);
    r.ssid = std::string("caf\xC3\xA9\0x\xFF", 7);  // not text: kept byte for byte
    r.frequencyMhz = 5180;
    r.channel = 36;
    r.band = "5 GHz";
    r.signalMbm = -6150;
    r.signalUnspec = 40;
    r.inCollection = index == 0;
    r.security = "WPA2-PSK";
    r.phy = "ax";
    r.widthMhz = 80;
    r.noiseDbm = -95;
    r.ageMs = 120;
    return r;
}

SideStore::Reading BareReading(int index) {
    SideStore::Reading r;
    r.index = index;
    r.bssid = "00:1a:2b:3c:4d:5e";
    return r;
}

void ExpectSamePoint(const SideStore::Point& a, const SideStore::Point& b) {
    EXPECT_EQ(a.offset, b.offset);
    EXPECT_EQ(a.scanSource, b.scanSource);
    EXPECT_EQ(a.method, b.method);
    EXPECT_EQ(a.planX, b.planX);
    EXPECT_EQ(a.planY, b.planY);
    EXPECT_EQ(a.floor, b.floor);
    EXPECT_EQ(a.timeMs, b.timeMs);
    EXPECT_EQ(a.ephMetres, b.ephMetres);
    EXPECT_EQ(a.satellites, b.satellites);
    EXPECT_EQ(a.mode, b.mode);
    EXPECT_EQ(a.altitudeMetres, b.altitudeMetres);
    EXPECT_EQ(a.fixFlag, b.fixFlag);
    EXPECT_EQ(a.provisional, b.provisional);
    EXPECT_EQ(a.deleted, b.deleted);
    EXPECT_EQ(a.scanStartMs, b.scanStartMs);
    EXPECT_EQ(a.scanEndMs, b.scanEndMs);
}

void ExpectSameReading(const SideStore::Reading& a, const SideStore::Reading& b) {
    EXPECT_EQ(a.pointOffset, b.pointOffset);
    EXPECT_EQ(a.index, b.index);
    EXPECT_EQ(a.bssid, b.bssid);
    EXPECT_EQ(a.ssid, b.ssid);
    EXPECT_EQ(a.frequencyMhz, b.frequencyMhz);
    EXPECT_EQ(a.channel, b.channel);
    EXPECT_EQ(a.band, b.band);
    EXPECT_EQ(a.signalMbm, b.signalMbm);
    EXPECT_EQ(a.signalUnspec, b.signalUnspec);
    EXPECT_EQ(a.inCollection, b.inCollection);
    EXPECT_EQ(a.security, b.security);
    EXPECT_EQ(a.phy, b.phy);
    EXPECT_EQ(a.widthMhz, b.widthMhz);
    EXPECT_EQ(a.noiseDbm, b.noiseDbm);
    EXPECT_EQ(a.ageMs, b.ageMs);
}

// Runs SQL on a store from outside, as another program would.
void Sql(const std::string& path, const char* statement) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, statement, nullptr, nullptr, &error);
    const std::string text = error != nullptr ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << text;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

class SideStoreFiles : public ::testing::Test {
public:
    std::unique_ptr<SideStore> Write(std::string* message = nullptr) {
        std::string text;
        auto store = SideStore::OpenForWriting(collection, identity, &text);
        if (message != nullptr)
            *message = text;
        return store;
    }
    std::unique_ptr<SideStore> Read(std::string* message) {
        return SideStore::OpenForReading(collection, identity, message);
    }
    // A closed store with one point at offset 33 and two readings.
    void MakeStore(std::int64_t offset = 33) {
        auto store = Write();
        ASSERT_NE(store, nullptr);
        std::string message;
        ASSERT_TRUE(
            store->WritePoint(FullPoint(offset), {FullReading(0), FullReading(1)}, &message))
            << message;
        ASSERT_TRUE(store->Close(&message)) << message;
    }

    ScratchDir dir;
    std::string collection = dir / "site.ktd";
    std::string side = SideStore::PathFor(collection);
    SideStore::Identity identity = IdentityOf(collection, 1'700'000'000);
};

TEST_F(SideStoreFiles, PointsAndReadingsComeBackAsWritten) {
    struct Row {
        const char* legend;
        SideStore::Point point;
        std::vector<SideStore::Reading> readings;
    };
    const Row rows[] = {
        {"every field", FullPoint(33), {FullReading(0), FullReading(1), FullReading(2)}},
        {"no optional field", BarePoint(500), {BareReading(0)}},
        {"no readings", BarePoint(900), {}},
    };
    {
        auto store = Write();
        ASSERT_NE(store, nullptr);
        for (const Row& row : rows) {
            std::string message;
            EXPECT_TRUE(store->WritePoint(row.point, row.readings, &message))
                << row.legend << ": " << message;
        }
    }
    // Read back by a reader, then by a writer opening the same store again.
    for (int pass = 0; pass < 2; ++pass) {
        std::string message;
        auto store = pass == 0 ? Read(&message) : Write(&message);
        ASSERT_NE(store, nullptr) << message;
        EXPECT_EQ(message, "");
        const auto points = store->Points();
        const auto all = store->AllReadings();
        EXPECT_EQ(points.size(), 3u);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.legend);
            ASSERT_EQ(points.count(row.point.offset), 1u);
            ExpectSamePoint(points.at(row.point.offset), row.point);
            const auto readings = store->ReadingsOf(row.point.offset);
            ASSERT_EQ(readings.size(), row.readings.size());
            for (std::size_t i = 0; i < readings.size(); ++i) {
                SideStore::Reading expected = row.readings[i];
                expected.pointOffset = row.point.offset;
                ExpectSameReading(readings[i], expected);
            }
            EXPECT_EQ(all.count(row.point.offset) ? all.at(row.point.offset).size() : 0u,
                      row.readings.size());
        }
    }
}

TEST_F(SideStoreFiles, AWrittenAgainPointKeepsOnlyItsNewRows) {
    auto store = Write();
    ASSERT_NE(store, nullptr);
    std::string message;
    ASSERT_TRUE(store->WritePoint(FullPoint(33), {FullReading(0), FullReading(1)}, &message));
    ASSERT_TRUE(store->WritePoint(BarePoint(33), {BareReading(0)}, &message));
    ExpectSamePoint(store->Points().at(33), BarePoint(33));
    ASSERT_EQ(store->ReadingsOf(33).size(), 1u);
    EXPECT_EQ(store->ReadingsOf(33)[0].bssid, BareReading(0).bssid);

    // A failing write (two readings with one index) leaves the earlier rows whole.
    EXPECT_FALSE(store->WritePoint(FullPoint(33), {FullReading(0), FullReading(0)}, &message));
    EXPECT_NE(message.find("offset 33"), std::string::npos) << message;
    ExpectSamePoint(store->Points().at(33), BarePoint(33));
    EXPECT_EQ(store->ReadingsOf(33).size(), 1u);
}

TEST_F(SideStoreFiles, APointWrittenBeforeACrashIsThereAfterIt) {
    // The writing process dies without closing the store: the committed
    // point is in the write-ahead log, the next one never came.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string message;
        auto store = SideStore::OpenForWriting(collection, identity, &message);
        const bool ok =
            store != nullptr && store->WritePoint(FullPoint(33), {FullReading(0)}, &message);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(Exists(side + "-wal"));

    for (int pass = 0; pass < 2; ++pass) {
        std::string message;
        auto store = pass == 0 ? Read(&message) : Write(&message);
        ASSERT_NE(store, nullptr) << message;
        EXPECT_EQ(message, "");
        const auto points = store->Points();
        ASSERT_EQ(points.size(), 1u);
        ExpectSamePoint(points.at(33), FullPoint(33));
        EXPECT_EQ(store->ReadingsOf(33).size(), 1u);
        // The point the collection file got after the crash has no rows.
        EXPECT_TRUE(store->ReadingsOf(94).empty());
    }
}

TEST_F(SideStoreFiles, AReaderSeesWhatAnOpenWriterCommitted) {
    auto writer = Write();
    ASSERT_NE(writer, nullptr);
    std::string message;
    ASSERT_TRUE(writer->WritePoint(FullPoint(33), {FullReading(0)}, &message));
    auto reader = Read(&message);
    ASSERT_NE(reader, nullptr) << message;
    EXPECT_EQ(reader->Points().size(), 1u);
    ASSERT_TRUE(writer->WritePoint(BarePoint(94), {}, &message));
    EXPECT_EQ(reader->Points().size(), 2u);
}

TEST_F(SideStoreFiles, AClosedStoreIsOneFileAndReadingAddsNone) {
    MakeStore();
    EXPECT_FALSE(Exists(side + "-wal"));
    EXPECT_FALSE(Exists(side + "-shm"));
    std::string message;
    {
        auto reader = Read(&message);
        ASSERT_NE(reader, nullptr) << message;
        EXPECT_EQ(reader->Points().size(), 1u);
    }
    EXPECT_EQ(dir.Count(), 1u);
}

TEST_F(SideStoreFiles, DeletedMarksAreKept) {
    auto store = Write();
    ASSERT_NE(store, nullptr);
    std::string message;
    ASSERT_TRUE(store->WritePoint(FullPoint(33), {FullReading(0)}, &message));
    ASSERT_TRUE(store->SetDeleted(33, true, &message)) << message;
    // A point without side rows (an old point, or one written before a
    // crash) still gets its mark: a bare row with nothing else known.
    ASSERT_TRUE(store->SetDeleted(500, true, &message)) << message;
    ASSERT_TRUE(store->SetDeleted(900, true, &message)) << message;
    ASSERT_TRUE(store->SetDeleted(900, false, &message)) << message;
    store.reset();

    auto reader = Read(&message);
    ASSERT_NE(reader, nullptr) << message;
    const auto points = reader->Points();
    SideStore::Point placed = FullPoint(33);
    placed.deleted = true;
    ExpectSamePoint(points.at(33), placed);
    EXPECT_EQ(reader->ReadingsOf(33).size(), 1u);

    SideStore::Point bare;
    bare.offset = 500;
    bare.deleted = true;
    ExpectSamePoint(points.at(500), bare);
    bare = SideStore::Point{};
    bare.offset = 900;
    ExpectSamePoint(points.at(900), bare);
}

// Stores that cannot be used as they are: what a reader and a writer do.
TEST_F(SideStoreFiles, DamagedForeignAndMissingStores) {
    struct Row {
        const char* legend;
        void (*make)(SideStoreFiles&);
        const char* readMessage;  // in the reader's message; "" for none
        bool setAside;            // a writer sets it aside and starts a new one
    };
    const Row rows[] = {
        {"missing", [](SideStoreFiles&) {}, "", false},
        {"deleted after use",
         [](SideStoreFiles& t) {
             t.MakeStore();
             std::filesystem::remove(t.side);
         },
         "", false},
        {"garbage bytes", [](SideStoreFiles& t) { WriteBytes(t.side, Bytes(4096, 0x5A)); },
         "is damaged", true},
        {"cut short",
         [](SideStoreFiles& t) {
             {
                 auto store = t.Write();
                 std::string message;
                 for (int i = 0; i < 200; ++i) {
                     std::vector<SideStore::Reading> readings;
                     for (int r = 0; r < 10; ++r)
                         readings.push_back(FullReading(r));
                     ASSERT_TRUE(store->WritePoint(FullPoint(33 + i * 500), readings, &message));
                 }
                 ASSERT_TRUE(store->Close(&message));
             }
             std::filesystem::resize_file(t.side, std::filesystem::file_size(t.side) / 3);
         },
         "is damaged", true},
        {"another file's",
         [](SideStoreFiles& t) {
             auto store = SideStore::OpenForWriting(
                 t.collection, IdentityOf(t.dir / "other.ktd", 1'700'000'001), nullptr);
             ASSERT_NE(store, nullptr);
             ASSERT_TRUE(store->WritePoint(FullPoint(33), {}, nullptr));
         },
         "belongs to another collection file", true},
        {"same name, other creation time",
         [](SideStoreFiles& t) {
             ASSERT_NE(
                 SideStore::OpenForWriting(t.collection, IdentityOf(t.collection, 5), nullptr),
                 nullptr);
         },
         "belongs to another collection file", true},
        {"no header row",
         [](SideStoreFiles& t) {
             t.MakeStore();
             auto store = t.Write();
             ASSERT_NE(store, nullptr);
             ASSERT_TRUE(store->Close(nullptr));
             Sql(t.side, "DELETE FROM header");
         },
         "is damaged", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        for (const char* name : {"", ".old", "-wal", "-shm"})
            std::filesystem::remove(side + name);
        row.make(*this);
        if (HasFatalFailure())
            return;
        const Bytes before = ReadBytes(side);

        std::string message = "unchanged";
        EXPECT_EQ(Read(&message), nullptr);
        if (*row.readMessage == '\0') {
            EXPECT_EQ(message, "unchanged");
        } else {
            EXPECT_NE(message.find(row.readMessage), std::string::npos) << message;
            EXPECT_NE(message.find(side), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
        EXPECT_EQ(ReadBytes(side), before) << "a reader changed the store";

        auto store = Write(&message);
        ASSERT_NE(store, nullptr) << message;
        EXPECT_TRUE(store->Points().empty());
        if (row.setAside) {
            EXPECT_NE(message.find("set aside as " + side + ".old"), std::string::npos) << message;
            EXPECT_EQ(ReadBytes(side + ".old"), before);
        } else {
            EXPECT_EQ(message, "");
        }
        std::string ignored;
        EXPECT_TRUE(store->WritePoint(BarePoint(33), {}, &ignored)) << ignored;
    }
}

TEST_F(SideStoreFiles, TheNameIsNotPartOfTheIdentityAndNoStoreSetAsideIsReplaced) {
    // Written under another name with the same header: a file renamed
    // together with its store.
    ASSERT_NE(SideStore::OpenForWriting(dir / "before.ktd", identity, nullptr), nullptr);
    std::filesystem::rename(dir / "before.ktd.side", side);
    std::string message;
    EXPECT_NE(Read(&message), nullptr) << message;

    // Damaged three times: each set aside under its own name.
    const std::string names[] = {side + ".old", side + ".old.2", side + ".old.3"};
    for (int round = 0; round < 3; ++round) {
        std::filesystem::remove(side);
        WriteBytes(side, Bytes(4096, static_cast<std::uint8_t>(0x50 + round)));
        auto store = Write(&message);
        ASSERT_NE(store, nullptr) << message;
        EXPECT_NE(message.find("set aside as " + names[round] + " and"), std::string::npos)
            << message;
    }
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(ReadBytes(names[round]), Bytes(4096, static_cast<std::uint8_t>(0x50 + round)));
}

TEST_F(SideStoreFiles, ASetAsideStoreKeepsItsRowsAndLog) {
    // Another file's store whose writer died: its last point is in its log.
    const SideStore::Identity other = IdentityOf(dir / "other.ktd", 42);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto store = SideStore::OpenForWriting(collection, other, nullptr);
        _exit(store != nullptr && store->WritePoint(FullPoint(77), {}, nullptr) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    std::string message;
    ASSERT_NE(Write(&message), nullptr);
    EXPECT_NE(message.find("another collection file"), std::string::npos) << message;
    // Opened under the name it was set aside as ("site.ktd.side.old").
    std::filesystem::rename(side + ".old", dir / "old.side");
    for (const char* companion : {"-wal", "-shm"}) {
        if (Exists(side + ".old" + companion))
            std::filesystem::rename(side + ".old" + companion, dir / "old.side" + companion);
    }
    auto old = SideStore::OpenForReading(dir / "old", other, &message);
    ASSERT_NE(old, nullptr) << message;
    EXPECT_EQ(old->Points().count(77), 1u);
}

TEST_F(SideStoreFiles, ANewerSchemaIsLeftAlone) {
    MakeStore();
    Sql(side, "UPDATE header SET schema_version = 2");
    const Bytes before = ReadBytes(side);
    std::string message;
    EXPECT_EQ(Read(&message), nullptr);
    EXPECT_NE(message.find("schema version 2"), std::string::npos) << message;
    EXPECT_EQ(Write(&message), nullptr);
    EXPECT_NE(message.find("schema version 2"), std::string::npos) << message;
    EXPECT_EQ(ReadBytes(side), before);
    EXPECT_FALSE(Exists(side + ".old"));
}

TEST_F(SideStoreFiles, PlantedLinksAreNotFollowed) {
    const std::string target = dir / "elsewhere";
    for (const char* planted : {"", "-wal", "-shm"}) {
        SCOPED_TRACE(std::string("link at the store") + planted);
        for (const char* name : {"", "-wal", "-shm"})
            std::filesystem::remove(side + name);
        std::filesystem::remove(target);
        std::filesystem::create_symlink(target, side + planted);
        std::string message;
        EXPECT_EQ(Write(&message), nullptr);
        EXPECT_NE(message.find("symbolic link"), std::string::npos) << message;
        EXPECT_FALSE(Exists(target));
        EXPECT_TRUE(std::filesystem::is_symlink(side + planted));
    }
    // A folder where the store belongs: refused, not replaced.
    std::filesystem::remove(side + "-shm");
    std::filesystem::create_directory(side);
    std::string message;
    EXPECT_EQ(Write(&message), nullptr);
    EXPECT_NE(message.find("not a regular file"), std::string::npos) << message;
    EXPECT_EQ(Read(&message), nullptr);
    EXPECT_NE(message.find("not a regular file"), std::string::npos) << message;
}

TEST_F(SideStoreFiles, AStoreInAFolderTheReaderCannotWriteIsRead) {
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser writes into any folder";
    // Left in WAL mode without its "-shm" file, which a reader would make.
    MakeStore();
    Sql(side, "PRAGMA journal_mode=WAL");
    std::filesystem::remove(side + "-shm");
    std::filesystem::remove(side + "-wal");
    const std::filesystem::path folder = std::filesystem::path(side).parent_path();
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::string message;
    auto reader = Read(&message);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    ASSERT_NE(reader, nullptr) << message;
    EXPECT_EQ(reader->Points().count(33), 1u);
}

TEST(SideIdentityOf, NamesTheFileAndItsHeader) {
    std::uint8_t header[collection::kFirstRecord];
    collection::EncodeHeader(0x0102030405060708, header);
    const SideStore::Identity identity = SideIdentity("/data/surveys/site one.ktd", header);
    EXPECT_EQ(identity.collectionName, "site one.ktd");
    EXPECT_EQ(identity.created, 0x0102030405060708);
    EXPECT_EQ(identity.headerHex, "19000000204b54440100000000080706050403020119000000");
    EXPECT_EQ(SideStore::PathFor("/data/site.ktd"), "/data/site.ktd.side");
}

}  // namespace
}  // namespace ketrion
