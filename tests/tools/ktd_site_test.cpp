// ktd's site commands, run as the user runs them, on a copy of the sample
// five-floor building: making and checking a site, a collection that went
// missing, merging walks, and the analysis commands reading a site file.

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "support/ScratchFiles.h"
#include "support/ToolRun.h"

namespace ketrion::testing {
namespace {

namespace fs = std::filesystem;
const char* const kKtd = "tools/ktd/ktd";

// The sample building copied into the scratch folder: building.kts,
// building/floorN.ktd and site.ktp.
std::string CopySample(const scratch::ScratchDir& dir) {
    const fs::path sample = fs::path(KETRION_SOURCE_DIR) / "resources/sample";
    fs::copy_file(sample / "building.kts", dir / "building.kts");
    fs::copy_file(sample / "site.ktp", dir / "site.ktp");
    fs::copy(sample / "building", dir / "building");
    return dir / "building.kts";
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(KtdSite, MakeAddCheckAndAMissingCollection) {
    scratch::ScratchDir dir;
    CopySample(dir);
    const std::string site = dir / "new.kts";
    EXPECT_EQ(RunTool(kKtd, {"site", "new", site, "--name", "Depot"}).status, 0);
    EXPECT_EQ(RunTool(kKtd, {"site", "new", site}).status, 2);  // never over an existing one
    ToolRun run =
        RunTool(kKtd, {"site", "add-floor", site, "--floor", "G", "--projection", dir / "site.ktp",
                       "--ref", "a,10,10", "--ref", "b,500,10", "--ref", "c,10,400"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = RunTool(kKtd, {"site", "add-floor", site, "--floor", "1", "--order", "1", "--projection",
                         dir / "site.ktp", "--ref", "a,12,10", "--ref", "b,500,12"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = RunTool(kKtd, {"site", "add", site, "--floor", "G", "--surveyor", "Ana",
                         dir / "building/floor0.ktd", dir / "building/floor1.ktd"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Twice, or on another floor: refused, the file unchanged.
    const scratch::Bytes before = scratch::ReadBytes(site);
    run = RunTool(kKtd, {"site", "add", site, "--floor", "1", dir / "building/floor1.ktd"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(
        run.err.find("is in the site already, on floor \"G\"; a collection belongs to one floor"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(scratch::ReadBytes(site), before);
    EXPECT_EQ(RunTool(kKtd, {"site", "switch", site, "off", dir / "building/floor1.ktd"}).status,
              0);

    run = RunTool(kKtd, {"site", "list", site});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("aligned on \"G\": residual"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("on  building/floor0.ktd surveyor \"Ana\""), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("off building/floor1.ktd"), std::string::npos) << run.out;
    run = RunTool(kKtd, {"site", "check", site});
    EXPECT_EQ(run.status, 0) << run.out;

    fs::rename(dir / "building/floor0.ktd", dir / "floor0-moved.ktd");
    run = RunTool(kKtd, {"site", "check", site});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.out, "problem: "), 1u) << run.out;
    EXPECT_NE(run.out.find("floor0.ktd"), std::string::npos) << run.out;
    // The rest of the site still loads: the other floor's collections are read.
    run = RunTool(kKtd, {"site", "remove", site, dir / "building/floor1.ktd"});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST(KtdSite, MergeKeepsEveryPointOnce) {
    scratch::ScratchDir dir;
    CopySample(dir);
    const std::string a = dir / "building/floor0.ktd", b = dir / "building/floor1.ktd";
    ToolRun run =
        RunTool(kKtd, {"merge", a, b, a, "-o", dir / "both.ktd", "--projection", dir / "site.ktp"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(": 198 points from 3 files, 99 repeated points left out"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(fs::file_size(dir / "both.ktd"), fs::file_size(a) + fs::file_size(b) - 33);
}

TEST(KtdSite, AnalysisCommandsReadTheSite) {
    scratch::ScratchDir dir;
    const std::string site = CopySample(dir);
    ToolRun run = RunTool(kKtd, {"aps", site, "--floor", "Floor 3", "--bleed"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Count(run.out, "floor \"Sample building / Floor 3\" confidence"), 4u) << run.out;
    EXPECT_NE(run.out.find("bleed on \"Sample building / Floor 3\""), std::string::npos);

    run = RunTool(kKtd, {"export", "--format", "geojson", site});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    std::set<std::string> floors;
    for (const auto& feature : doc["features"]) {
        EXPECT_EQ(feature["properties"]["building"], "Sample building");
        floors.insert(feature["properties"]["floor"].get<std::string>());
    }
    EXPECT_EQ(floors.size(), 5u);
    run = RunTool(kKtd, {"export", "--format", "kml", site});
    ASSERT_EQ(run.status, 0) << run.err;
    for (int level = 0; level < 5; ++level)
        EXPECT_EQ(Count(run.out, "<Folder><name>Sample building / Floor " + std::to_string(level) +
                                     "</name>"),
                  1u);
    EXPECT_EQ(Count(run.out, "<Document>"), 1u);

    // A collection gone: one message, the rest of the site used.
    fs::remove(dir / "building/floor2.ktd");
    run = RunTool(kKtd, {"aps", site});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Count(run.err, "floor2.ktd"), 1u) << run.err;
    EXPECT_NE(run.out.find("floors 5"), std::string::npos);
#if KTD_DRAWING
    run = RunTool(kKtd, {"heatmap", site, "--floor", "Floor 1", "-o", dir / "f1.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir / "f1.png"));
    run = RunTool(kKtd, {"heatmap", site, "-o", dir / "all.png"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("choose one with --floor"), std::string::npos) << run.err;
    run = RunTool(kKtd, {"report", site, "-o", dir / "site.pdf", "--require", "-70"});
    EXPECT_EQ(run.status, 1) << run.err;  // floor 2's walk is gone
    EXPECT_GT(fs::file_size(dir / "site.pdf"), 10000u);
#endif
}

}  // namespace
}  // namespace ketrion::testing
