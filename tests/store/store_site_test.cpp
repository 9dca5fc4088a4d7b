// A site file pushed whole (buildings, floors, plans and every collection)
// comes back from the store as a site, and the analysis commands give the
// same results from the store as from the site file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "store/store_fixture.h"
#include "support/ScratchFiles.h"
#include "support/ToolRun.h"

namespace ketrion::testing {
namespace {

namespace fs = std::filesystem;
const char* const kKtd = "tools/ktd/ktd";
const char* const kSite = "Sample building";

class StoreSite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StoreDatabase::Start(); }
    static void TearDownTestSuite() { StoreDatabase::Stop(); }
    void SetUp() override {
        StoreDatabase::ForThisTest(url);
        const fs::path sample = fs::path(KETRION_SOURCE_DIR) / "resources/sample";
        fs::copy_file(sample / "building.kts", dir / "building.kts");
        fs::copy_file(sample / "site.ktp", dir / "site.ktp");
        fs::copy(sample / "building", dir / "building");
        site = dir / "building.kts";
    }
    std::string url;
    scratch::ScratchDir dir;
    std::string site;
};

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#if KTD_DRAWING
// Pages of a PDF as its page objects count them.
std::size_t Pages(const std::string& pdf) {
    std::size_t n = 0;
    for (std::size_t at = pdf.find("/Type /Page"); at != std::string::npos;
         at = pdf.find("/Type /Page", at + 1))
        n += pdf.compare(at, 12, "/Type /Pages") != 0 ? 1 : 0;
    return n;
}
#endif

TEST_F(StoreSite, APushedSiteComesBackWholeAndByteForByte) {
    ToolRun run = RunTool(kKtd, {"push", site, "--db", url});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string inSite = std::string(
                                   " WHERE site_id = (SELECT id FROM ketrion.sites WHERE "
                                   "name = '") +
                               kSite + "')";
    EXPECT_EQ(StoreDatabase::Count(url, "SELECT count(*) FROM ketrion.collections" + inSite), 5);
    EXPECT_EQ(StoreDatabase::Count(url,
                                   "SELECT count(*) FROM ketrion.plans WHERE affine IS NOT NULL "
                                   "AND ST_Contains(footprint, (SELECT ST_Collect(geom) FROM "
                                   "ketrion.points p WHERE p.floor_id = plans.floor_id))"),
              5);
    // Every located access point is stored on its floor, inside that floor's plan.
    const ToolRun aps = RunTool(kKtd, {"aps", site});
    long long located = 0;
    for (std::size_t at = aps.out.find(" position "); at != std::string::npos;
         at = aps.out.find(" position ", at + 1))
        ++located;
    EXPECT_GT(located, 0);
    EXPECT_EQ(StoreDatabase::Count(url,
                                   "SELECT count(*) FROM ketrion.estimates e JOIN "
                                   "ketrion.plans p ON p.floor_id = e.floor_id WHERE "
                                   "ST_Contains(p.footprint, e.geom) AND e.readings > 0"),
              located);
    const long long points = StoreDatabase::Count(url, "SELECT count(*) FROM ketrion.points");
    run = RunTool(kKtd, {"push", site, "--db", url});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(StoreDatabase::Count(url, "SELECT count(*) FROM ketrion.points"), points);

    run = RunTool(kKtd, {"pull", "--db", url, "--site", kSite, "-o", dir / "pulled"});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path pulled = fs::path(dir / "pulled") / (std::string(kSite) + ".kts");
    EXPECT_NE(run.out.find(pulled.string()), std::string::npos) << run.out;
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "pulled"))
        if (entry.path().extension() == ".ktd")
            files[entry.path().filename().string()] = Bytes(entry.path());
    ASSERT_EQ(files.size(), 5u);
    for (const auto& entry : fs::directory_iterator(dir / "building")) {
        if (entry.path().extension() == ".ktd") {
            EXPECT_EQ(files[entry.path().filename().string()], Bytes(entry.path())) << entry.path();
        }
    }
    run = RunTool(kKtd, {"site", "check", pulled});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    // Apart from the paths, floors, orders, heights, references,
    // alignment residuals, surveyors and on/off agree.
    const ToolRun before = RunTool(kKtd, {"site", "list", site});
    const ToolRun after = RunTool(kKtd, {"site", "list", pulled});
    auto withoutPaths = [](std::string text) {
        std::string out;
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find('\n', at);
            end = end == std::string::npos ? text.size() : end;
            std::string line = text.substr(at, end - at);
            at = end + 1;
            if (line.rfind("site ", 0) == 0)
                continue;
            if (const std::size_t plan = line.find(" plan "); plan != std::string::npos)
                line.resize(plan);
            if (line.rfind("    on ", 0) == 0 || line.rfind("    off ", 0) == 0)
                line = line.substr(0, 7) + line.substr(line.find(" surveyor "));
            out += line + "\n";
        }
        return out;
    };
    EXPECT_EQ(withoutPaths(after.out), withoutPaths(before.out));
}

TEST_F(StoreSite, CommandsReadTheSiteFromTheStoreAsFromItsFile) {
    ASSERT_EQ(RunTool(kKtd, {"push", site, "--db", url}).status, 0);
    const std::string db = url;
    struct Case {
        const char* legend;
        ToolRun fromFile, fromStore;
    };
    const Case cases[] = {
        {"export geojson", RunTool(kKtd, {"export", "--format", "geojson", site}),
         RunTool(kKtd, {"export", "--format", "geojson", "--db", db, "--site", kSite})},
        {"aps with floors", RunTool(kKtd, {"aps", site}),
         RunTool(kKtd, {"aps", "--db", db, "--site", kSite})},
#if KTD_DRAWING
        {"heatmap grid without --projection",
         RunTool(kKtd, {"heatmap", site, "--floor", "Floor 1", "--cell", "4", "--grid",
                        dir / "file.asc"}),
         RunTool(kKtd, {"heatmap", "--db", db, "--site", kSite, "--floor", "Floor 1", "--cell", "4",
                        "--grid", dir / "store.asc"})},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        ASSERT_EQ(c.fromFile.status, 0) << c.fromFile.err;
        ASSERT_EQ(c.fromStore.status, 0) << c.fromStore.err;
        // aps names the site file it read first.
        auto body = [&](const std::string& out) {
            return c.legend[0] == 'a' ? out.substr(out.find('\n') + 1) : out;
        };
        EXPECT_EQ(body(c.fromStore.out), body(c.fromFile.out));
    }
#if KTD_DRAWING
    // ktd draws heatmaps and reports only when built with the user interface.
    EXPECT_EQ(Bytes(dir / "store.asc"), Bytes(dir / "file.asc"));
    EXPECT_GT(Bytes(dir / "file.asc").size(), 1000u);

    const ToolRun fromFile = RunTool(
        kKtd, {"report", site, "--floor", "Floor 2", "--site", kSite, "-o", dir / "file.pdf"});
    const ToolRun fromStore = RunTool(kKtd, {"report", "--db", db, "--site", kSite, "--floor",
                                             "Floor 2", "-o", dir / "store.pdf"});
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    ASSERT_EQ(fromStore.status, 0) << fromStore.err;
    EXPECT_GT(Pages(Bytes(dir / "file.pdf")), 1u);
    EXPECT_EQ(Pages(Bytes(dir / "store.pdf")), Pages(Bytes(dir / "file.pdf")));
#endif
}

}  // namespace
}  // namespace ketrion::testing
