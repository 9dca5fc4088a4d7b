// Editing a site: every refused change names what was refused and leaves the
// site as it was; a moved or damaged collection is one message and the rest
// of the floor still loads; `CheckSite` lists every problem.

#include <gtest/gtest.h>

#include <filesystem>

#include "site/FloorSurvey.h"
#include "site/SiteEditor.h"
#include "site/SiteFile.h"
#include "support/ScratchFiles.h"
#include "support/SiteFixtures.h"

namespace ketrion::site {
namespace {

using scratch::ScratchDir;
using testing::SamplePlan;
using testing::WriteSampleWalk;

// A site of two floors on the sample plan, aligned, with one walk each.
struct TwoFloors {
    ScratchDir dir;
    Site site;
    std::string path = dir / "site.kts";
    std::string plan = dir / "plan.ktp";
    TwoFloors() {
        std::filesystem::copy_file(SamplePlan(), plan);
        WriteSampleWalk(dir / "g.ktd", 0, 1);
        WriteSampleWalk(dir / "f1.ktd", 1, 2);
        SiteEditor editor(site, path);
        std::string error;
        EXPECT_TRUE(editor.AddFloor("Main", "Ground", 0, 0, plan, error)) << error;
        EXPECT_TRUE(editor.AddFloor("Main", "First", 1, 4, plan, error)) << error;
        for (const char* floor : {"Ground", "First"})
            EXPECT_TRUE(editor.SetReferences(
                floor, {{"a", 100, 100}, {"b", 800, 120}, {"c", 400, 600}}, error));
        EXPECT_TRUE(editor.AddCollection("Ground", dir / "g.ktd", "Ana", true, error)) << error;
        EXPECT_TRUE(editor.AddCollection("First", dir / "f1.ktd", "Ben", true, error)) << error;
    }
};

TEST(SiteEditor, RefusedChangesNameTheirCauseAndChangeNothing) {
    TwoFloors t;
    WriteSampleWalk(t.dir / "off.ktd", 0, 3, 8, 0.01);
    WriteSampleWalk(t.dir / "spare.ktd", 0, 4);
    std::filesystem::create_symlink(t.dir / "g.ktd", t.dir / "alias.ktd");
    scratch::WriteBytes(t.dir / "notplan.ktp", {1, 2, 3, 4});
    struct Case {
        const char* legend;
        std::function<bool(SiteEditor&, std::string&)> change;
        std::string message;
    } cases[] = {
        {"added twice",
         [&](SiteEditor& e, std::string& m) {
             return e.AddCollection("Ground", t.dir / "g.ktd", "", true, m);
         },
         "is in the site already, on floor \"Ground\""},
        {"to a second floor",
         [&](SiteEditor& e, std::string& m) {
             return e.AddCollection("First", t.dir / "g.ktd", "", true, m);
         },
         "a collection belongs to one floor"},
        {"under another name",
         [&](SiteEditor& e, std::string& m) {
             return e.AddCollection("First", t.dir / "alias.ktd", "", true, m);
         },
         "is in the site already"},
        {"off the plan",
         [&](SiteEditor& e, std::string& m) {
             return e.AddCollection("Ground", t.dir / "off.ktd", "", true, m);
         },
         "points are off its 960 x 720 plan"},
        {"missing collection",
         [&](SiteEditor& e, std::string& m) {
             return e.AddCollection("Ground", t.dir / "none.ktd", "", true, m);
         },
         "none.ktd"},
        {"unknown floor",
         [&](SiteEditor& e, std::string& m) {
             return e.AddCollection("Roof", t.dir / "spare.ktd", "", true, m);
         },
         "the site has no floor \"Roof\" (floors: Main/Ground, Main/First)"},
        {"missing plan",
         [&](SiteEditor& e, std::string& m) {
             return e.AddFloor("Main", "Second", 2, 8, t.dir / "none.ktp", m);
         },
         "none.ktp"},
        {"not a projection",
         [&](SiteEditor& e, std::string& m) {
             return e.AddFloor("Main", "Second", 2, 8, t.dir / "notplan.ktp", m);
         },
         "notplan.ktp"},
        {"floor twice",
         [&](SiteEditor& e, std::string& m) {
             return e.AddFloor("Main", "First", 2, 8, t.plan, m);
         },
         "has a floor \"First\" already"},
        {"references on one spot",
         [&](SiteEditor& e, std::string& m) {
             return e.SetReferences("First", {{"a", 10, 10}, {"b", 10.2, 10}}, m);
         },
         "\"a\" and \"b\" are on one spot"},
        {"references on a line",
         [&](SiteEditor& e, std::string& m) {
             return e.SetReferences("First", {{"a", 0, 0}, {"b", 100, 50}, {"c", 200, 100.3}}, m);
         },
         "lie on one line"},
        {"remove unknown",
         [&](SiteEditor& e, std::string& m) { return e.RemoveCollection(t.dir / "spare.ktd", m); },
         "is not in the site"},
    };
    std::string error;
    ASSERT_TRUE(SiteFile::Save(t.path, t.site, error));
    const scratch::Bytes saved = scratch::ReadBytes(t.path);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        SiteEditor editor(t.site, t.path);
        std::string message;
        EXPECT_FALSE(c.change(editor, message));
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        ASSERT_TRUE(SiteFile::Save(t.path, t.site, error));
        EXPECT_EQ(scratch::ReadBytes(t.path), saved);
    }
}

TEST(SiteEditor, MovedFolderStillLoadsAndABrokenCollectionIsOneMessage) {
    TwoFloors t;
    WriteSampleWalk(t.dir / "g2.ktd", 0, 5);
    WriteSampleWalk(t.dir / "g3.ktd", 0, 6);
    std::string error;
    SiteEditor editor(t.site, t.path);
    ASSERT_TRUE(editor.AddCollection("Ground", t.dir / "g2.ktd", "", true, error)) << error;
    ASSERT_TRUE(editor.AddCollection("Ground", t.dir / "g3.ktd", "", false, error)) << error;
    ASSERT_TRUE(SiteFile::Save(t.path, t.site, error));
    EXPECT_TRUE(CheckSite(t.site, t.path).empty());

    // The whole folder moved: relative paths still lead to every file.
    const std::string folder = std::filesystem::path(t.dir / "").parent_path().string() + "_moved";
    std::filesystem::remove_all(folder);
    std::filesystem::rename(std::filesystem::path(t.path).parent_path(), folder);
    struct Cleanup {
        std::string folder;
        ~Cleanup() { std::filesystem::remove_all(folder); }
    } cleanup{folder};
    const std::string site = folder + "/site.kts";
    Site loaded;
    ASSERT_TRUE(SiteFile::Load(site, loaded, error)) << error;
    EXPECT_TRUE(CheckSite(loaded, site).empty());
    const Floor& ground = loaded.buildings[0].floors[0];
    const FloorSurvey whole = LoadFloorSurvey(site, ground, {});
    EXPECT_TRUE(whole.problems.empty());
    EXPECT_EQ(whole.collections.size(), 2u);  // g3 is switched off
    EXPECT_EQ(whole.switchedOff, 1u);

    // g.ktd gone, g2.ktd cut inside its last point.
    std::filesystem::remove(folder + "/g.ktd");
    scratch::Bytes bytes = scratch::ReadBytes(folder + "/g2.ktd");
    bytes.resize(bytes.size() - 10);
    scratch::WriteBytes(folder + "/g2.ktd", bytes);
    const FloorSurvey part = LoadFloorSurvey(site, ground, {});
    ASSERT_EQ(part.problems.size(), 2u);
    EXPECT_NE(part.problems[0].find("g.ktd"), std::string::npos) << part.problems[0];
    EXPECT_NE(part.problems[1].find("g2.ktd"), std::string::npos) << part.problems[1];
    // g2.ktd alone, its last point with the readings that are whole.
    EXPECT_EQ(part.records.points.size(), whole.records.points.size() / 2);

    const std::vector<std::string> problems = CheckSite(loaded, site);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("floor \"Main / Ground\""), std::string::npos) << problems[0];
}

TEST(SiteEditor, CheckListsUnalignedFloors) {
    TwoFloors t;
    std::string error;
    SiteEditor editor(t.site, t.path);
    ASSERT_TRUE(editor.SetReferences("First", {{"a", 100, 100}, {"x", 800, 120}}, error));
    const std::vector<std::string> problems = CheckSite(t.site, t.path);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("floor \"Main / First\" is not aligned: floor \"First\" shares 1 "
                               "reference point with floor \"Ground\""),
              std::string::npos)
        << problems[0];
}

}  // namespace
}  // namespace ketrion::site
