// The site file: what is saved loads back the same; files that are not site
// files, damaged ones and ones from a newer version are refused with a
// message naming them and left as they are; a save that fails leaves the old
// file whole.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "site/SiteFile.h"
#include "support/ScratchFiles.h"

namespace ketrion::site {
namespace {

using scratch::ScratchDir;

Site SampleSite() {
    Site site;
    site.name = "Head office";
    Building& b = site.buildings.emplace_back();
    b.name = "North";
    for (int level : {1, -1, 0}) {
        Floor& f = b.floors.emplace_back();
        f.name = "L" + std::to_string(level);
        f.order = level;
        f.heightMetres = level * 3.5;
        f.projection = "plans/l" + std::to_string(level) + ".ktp";
        f.references = {{"lift", 10.5, 20.25}, {"stairs", 300, 40}};
        SiteCollection c;
        c.path = "walks/" + f.name + ".ktd";
        c.surveyor = "Ana \"B\"";
        c.adapter = "wifi";
        c.date = "2026-12-09";
        c.enabled = level != 0;
        f.collections.push_back(c);
    }
    site.buildings.emplace_back().name = "Annex (empty)";
    return site;
}

void SetPragma(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST(SiteFile, SavedSiteLoadsBackWithFloorsInOrder) {
    ScratchDir dir;
    const std::string path = dir / "site.kts";
    std::string error;
    ASSERT_TRUE(SiteFile::Save(path, SampleSite(), error)) << error;
    Site loaded;
    ASSERT_TRUE(SiteFile::Load(path, loaded, error)) << error;
    Site expected = SampleSite();
    SortFloors(expected);
    ASSERT_EQ(loaded.name, expected.name);
    ASSERT_EQ(loaded.buildings.size(), 2u);
    const auto& floors = loaded.buildings[0].floors;
    ASSERT_EQ(floors.size(), 3u);
    for (std::size_t i = 0; i < floors.size(); ++i) {
        const Floor& want = expected.buildings[0].floors[i];
        EXPECT_EQ(floors[i].name, want.name);
        EXPECT_EQ(floors[i].order, static_cast<int>(i) - 1);
        EXPECT_DOUBLE_EQ(floors[i].heightMetres, want.heightMetres);
        EXPECT_EQ(floors[i].projection, want.projection);
        ASSERT_EQ(floors[i].references.size(), 2u);
        EXPECT_DOUBLE_EQ(floors[i].references[0].y, 20.25);
        ASSERT_EQ(floors[i].collections.size(), 1u);
        EXPECT_EQ(floors[i].collections[0].surveyor, "Ana \"B\"");
        EXPECT_EQ(floors[i].collections[0].enabled, want.collections[0].enabled);
    }
    EXPECT_TRUE(loaded.buildings[1].floors.empty());
    // Nothing but the site file is left in the folder (no temporary, no journal).
    EXPECT_EQ(dir.Count(), 1u);
}

TEST(SiteFile, RefusedFilesAreNamedAndLeftAsTheyAre) {
    ScratchDir dir;
    std::string error;
    const std::string newer = dir / "newer.kts";
    ASSERT_TRUE(SiteFile::Save(newer, SampleSite(), error));
    SetPragma(newer, "PRAGMA user_version = 7");
    const std::string foreign = dir / "foreign.kts";
    SetPragma(foreign, "CREATE TABLE t(x)");
    const std::string text = dir / "text.kts";
    scratch::WriteBytes(text, {'n', 'o', 't', ' ', 'a', ' ', 's', 'i', 't', 'e'});
    const std::string damaged = dir / "damaged.kts";
    ASSERT_TRUE(SiteFile::Save(damaged, SampleSite(), error));
    scratch::Bytes bytes = scratch::ReadBytes(damaged);
    bytes.resize(bytes.size() / 2);  // a copy cut short
    scratch::WriteBytes(damaged, bytes);

    struct Case {
        const char* legend;
        std::string path;
        std::string message;
    } cases[] = {
        {"newer version", newer,
         "was written by a newer Ketrion (site file version 7; this one reads up to version 1)"},
        {"another database", foreign, "is not a Ketrion site file"},
        {"not a database", text, "is not a site file"},
        {"cut short", damaged, "is damaged"},
        {"missing", dir / "missing.kts", "cannot open the site file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const scratch::Bytes before = scratch::ReadBytes(c.path);
        Site site = SampleSite();
        error.clear();
        EXPECT_FALSE(SiteFile::Load(c.path, site, error));
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(site.name, "Head office");  // the caller's site untouched
        EXPECT_EQ(scratch::ReadBytes(c.path), before);
    }
}

TEST(SiteFile, FailedSaveLeavesTheOldFileWhole) {
    ScratchDir dir;
    const std::string path = dir / "site.kts";
    std::string error;
    ASSERT_TRUE(SiteFile::Save(path, SampleSite(), error));
    const scratch::Bytes before = scratch::ReadBytes(path);
    // Two collections under one name break the file's rule: the save fails
    // part way through writing its rows.
    Site bad = SampleSite();
    bad.buildings[0].floors[1].collections[0].path = bad.buildings[0].floors[0].collections[0].path;
    EXPECT_FALSE(SiteFile::Save(path, bad, error));
    EXPECT_NE(error.find("cannot write " + path), std::string::npos) << error;
    EXPECT_EQ(scratch::ReadBytes(path), before);
    EXPECT_EQ(dir.Count(), 1u);  // the temporary file is gone
    // A temporary left by a crash mid-save is not the site file.
    scratch::WriteBytes(dir / ".site.kts.AbC123", {1, 2, 3});
    Site loaded;
    EXPECT_TRUE(SiteFile::Load(path, loaded, error)) << error;
}

TEST(SiteFile, PathsAreKeptRelativeToTheSiteFolder) {
    struct Case {
        const char* site;
        const char* file;
        const char* stored;
    } cases[] = {
        {"/data/s/site.kts", "/data/s/walks/a.ktd", "walks/a.ktd"},
        {"/data/s/site.kts", "/data/s/./walks/../b.ktd", "b.ktd"},
        {"/data/s/site.kts", "/data/other/c.ktd", "/data/other/c.ktd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string stored = SiteFile::RelativePath(c.site, c.file);
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(std::filesystem::path(SiteFile::ResolvePath(c.site, stored)).lexically_normal(),
                  std::filesystem::path(c.file).lexically_normal());
    }
}

}  // namespace
}  // namespace ketrion::site
