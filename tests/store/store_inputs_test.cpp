// heatmap, aps and export read a site's collection from the store (--db) with
// the same results as from the collection file that was pushed; --cog writes
// the heatmap as a Cloud Optimized GeoTIFF with the values of --geotiff.

#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "store/store_fixture.h"
#include "support/SyntheticSurvey.h"
#include "tools/ktd_heatmap_fixture.h"

namespace ketrion::testing {
namespace {

class StoreInputs : public HeatmapSite {
protected:
    static void SetUpTestSuite() { StoreDatabase::Start(); }
    static void TearDownTestSuite() { StoreDatabase::Stop(); }
    void SetUp() override { StoreDatabase::ForThisTest(url); }
    std::string url;
};

std::string DropFirstLine(const std::string& text) {
    return text.substr(text.find('\n') + 1);
}

#if KTD_DRAWING
// Every value of band 1 of a GeoTIFF, and whether GDAL reads it as a COG.
std::vector<float> Values(const std::string& path, bool* cog) {
    GDALAllRegister();
    GDALDatasetH dataset = GDALOpen(path.c_str(), GA_ReadOnly);
    if (dataset == nullptr)
        return {};
    const int w = GDALGetRasterXSize(dataset), h = GDALGetRasterYSize(dataset);
    std::vector<float> values(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    if (GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, 0, 0, w, h, values.data(), w, h,
                     GDT_Float32, 0, 0) != CE_None)
        values.clear();
    if (cog != nullptr) {
        const char* layout = GDALGetMetadataItem(dataset, "LAYOUT", "IMAGE_STRUCTURE");
        *cog = layout != nullptr && std::string(layout) == "COG";
    }
    GDALClose(dataset);
    return values;
}
#endif

TEST_F(StoreInputs, CommandsGiveTheSameResultsFromTheStoreAsFromTheFile) {
    SyntheticSpec spec;
    spec.step = 3 * 3600;  // 3 plan pixels between points under Fit()
    const std::string file = dir.File("walk.ktd");
    ASSERT_TRUE(WriteSyntheticSurvey(file, spec));
    const ProgramRun push = RunKtd("push " + file + " --db " + url + " --site campus --floor 2");
    ASSERT_EQ(push.status, 0) << push.err;
    const std::string db = " --db " + url + " --site campus --floor 2";
    const std::string projection = Projection();

    struct Case {
        const char* legend;
        std::string fromFile, fromStore;
        bool dropFirstLine;  // aps names the file it read first
    };
    const std::vector<Case> cases = {
        {"export geojson", "export --format geojson " + file, "export --format geojson" + db,
         false},
        {"export wigle", "export --format wigle " + file, "export --format wigle" + db, false},
        {"aps", "aps --projection " + projection + " " + file,
         "aps --projection " + projection + db, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const KtdRun a = RunKtd(c.fromFile);
        const KtdRun b = RunKtd(c.fromStore);
        ASSERT_EQ(a.status, 0) << a.err;
        ASSERT_EQ(b.status, 0) << b.err;
        EXPECT_GT(a.out.size(), 200u);
        EXPECT_EQ(c.dropFirstLine ? DropFirstLine(b.out) : b.out,
                  c.dropFirstLine ? DropFirstLine(a.out) : a.out);
    }

#if KTD_DRAWING
    // The heatmap is drawn only by a ktd built with the user interface.
    const KtdRun fromFile =
        RunKtd("heatmap --projection " + projection + " --cell 2 --grid " + dir.File("file.asc") +
               " --geotiff " + dir.File("file.tif") + " " + file);
    ASSERT_EQ(fromFile.status, 0) << fromFile.err;
    const KtdRun fromStore = RunKtd("heatmap --projection " + projection + " --cell 2 --grid " +
                                    dir.File("store.asc") + " --cog " + dir.File("store.tif") + db);
    ASSERT_EQ(fromStore.status, 0) << fromStore.err;
    EXPECT_EQ(Text(dir.File("store.asc")), Text(dir.File("file.asc")));
    bool tiffIsCog = true, cogIsCog = false;
    const std::vector<float> tiff = Values(dir.File("file.tif"), &tiffIsCog);
    const std::vector<float> cog = Values(dir.File("store.tif"), &cogIsCog);
    ASSERT_FALSE(tiff.empty());
    EXPECT_EQ(cog, tiff);
    EXPECT_FALSE(tiffIsCog);
    EXPECT_TRUE(cogIsCog);
#endif
}

// A choice the store cannot answer with one collection: one line naming why.
TEST_F(StoreInputs, AChoiceOfNoneOrSeveralCollectionsIsRefused) {
    for (int seed : {1, 2}) {
        SyntheticSpec spec;
        spec.seed = seed;
        const std::string file = dir.File("c" + std::to_string(seed) + ".ktd");
        ASSERT_TRUE(WriteSyntheticSurvey(file, spec));
        ASSERT_EQ(RunKtd("push " + file + " --db " + url + " --site campus").status, 0);
    }
    struct Case {
        const char* legend;
        std::string args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"two collections on the floor", "--site campus --floor 2",
         "holds 2 collections (c1.ktd, c2.ktd); name one with --collection"},
        {"no such floor", "--site campus --floor 9",
         "no collection of site \"campus\" on floor \"9\""},
        {"no such site", "--site elsewhere", "the store has no site \"elsewhere\" (sites: campus)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const KtdRun run = RunKtd("export --format geojson --db " + url + " " + c.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    const KtdRun one =
        RunKtd("export --format geojson --db " + url + " --site campus --collection c2.ktd");
    EXPECT_EQ(one.status, 0) << one.err;
}

}  // namespace
}  // namespace ketrion::testing
