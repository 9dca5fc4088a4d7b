// Every file a ktd or ktp command writes is written whole or not at all:
// never over one of its inputs, never through a link planted at its name,
// never into a fifo; a full disk leaves the old file and no cut one, and a
// failed write to standard output is an error. The heatmap's GeoTIFF is read
// back with GDAL.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ktd_heatmap_fixture.h"
#include "survey/ProjectionMaker.h"

#if KTD_DRAWING
#include <gdal.h>
#include <ogr_srs_api.h>
#endif

namespace ketrion::testing {
namespace {

namespace fs = std::filesystem;

#if KTD_DRAWING

class KtdOutputs : public HeatmapSite {
protected:
    void SetUp() override {
        projection = Projection();
        survey = dir.File("walk.ktd");
        WriteBytes(survey, FileBuilder()
                               .Location(LatUnits(20), LonUnits(20), 2)
                               .Reading(-55 * 256, 0x01, "KT-Office")
                               .Reading(-70 * 256, 0x02, "GUEST")
                               .Location(LatUnits(60), LonUnits(70), 1)
                               .Reading(-81 * 256, 0x02, "GUEST")
                               .bytes());
        image = dir.File("plan.bmp");
        std::vector<std::uint8_t> rgb(16 * 16 * 3, 128);
        WriteBytes(image, ktp::MakeBitmap24(16, 16, rgb.data(), 16 * 3));
    }
    // A command writing `out` (its only output, or the one named).
    std::string Heatmap(const std::string& option, const std::string& out) {
        return "heatmap --projection " + projection + " " + option + " " + out + " " + survey;
    }
    std::string Report(const std::string& out) {
        return "report --projection " + projection + " -o " + out + " " + survey;
    }
    std::string Export(const std::string& out) {
        return "export --format kml -o " + out + " " + survey;
    }
    KtdRun Ktp(const std::string& out, const std::string& ref = "40,-74.5,0,0") {
        return RunProgram(ToolPath("ktp"), {"pack", image, "--ref=" + ref, "--ref=40,-74.4,16,0",
                                            "--ref=40.1,-74.5,0,16", "-o", out});
    }
    // The names in the folder other than the inputs.
    std::vector<std::string> Others() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.Path())) {
            const std::string path = entry.path().string();
            if (path != projection && path != survey && path != image)
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string projection, survey, image;
};

TEST_F(KtdOutputs, AnOutputThatIsAnInputIsRefused) {
    const Bytes surveyBytes = ReadBytes(survey);
    const Bytes projectionBytes = ReadBytes(projection);
    // A second name of the collection file is caught by device and inode.
    const std::string hardLink = dir.File("again.ktd");
    ASSERT_EQ(link(survey.c_str(), hardLink.c_str()), 0);
    // The world file written beside the picture may name the projection too.
    const std::string besideProjection = dir.File("site.png");
    const std::string worldNamed = dir.File("site.pgw");
    ASSERT_EQ(link(projection.c_str(), worldNamed.c_str()), 0);
    struct Row {
        const char* legend;
        std::string command;
    };
    const std::vector<Row> rows = {
        {"heatmap -o", Heatmap("-o", survey)},
        {"heatmap --grid", Heatmap("--grid", projection)},
        {"heatmap --geotiff", Heatmap("--geotiff", hardLink)},
        {"heatmap world file", Heatmap("-o", besideProjection)},
        {"report", Report(survey)},
        {"report over the projection", Report(projection)},
        {"export", Export(hardLink)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.legend);
        const KtdRun run = RunKtd(row.command);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("itself; choose another output"), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(survey), surveyBytes);
        EXPECT_EQ(ReadBytes(projection), projectionBytes);
    }
    const Bytes imageBytes = ReadBytes(image);
    const KtdRun pack = Ktp(image);
    EXPECT_NE(pack.status, 0);
    EXPECT_EQ(ReadBytes(image), imageBytes);
    EXPECT_FALSE(fs::exists(besideProjection));
    EXPECT_EQ(Others(), (std::vector<std::string>{"again.ktd", "site.pgw"}));
}

TEST_F(KtdOutputs, LinksPlantedAtEveryOutputNameAreReplacedNotFollowed) {
    const std::string victim = dir.File("victim.txt");
    WriteBytes(victim, Bytes{'k', 'e', 'e', 'p'});
    struct Row {
        std::string command;
        std::vector<std::string> names;  // every name the command writes
        bool ktp = false;
    };
    const std::vector<Row> rows = {
        {Heatmap("-o", dir.File("map.png")), {"map.png", "map.pgw", "map.prj", "map-legend.png"}},
        {Heatmap("--grid", dir.File("g.asc")), {"g.asc"}},
        {Heatmap("--geotiff", dir.File("g.tif")), {"g.tif"}},
        {Report(dir.File("r.pdf")), {"r.pdf"}},
        {Export(dir.File("e.kml")), {"e.kml"}},
        {"", {"p.ktp"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.names.front());
        for (const std::string& name : row.names)
            ASSERT_EQ(symlink(victim.c_str(), dir.File(name).c_str()), 0) << name;
        const KtdRun run = row.ktp ? Ktp(dir.File("p.ktp")) : RunKtd(row.command);
        EXPECT_EQ(run.status, 0) << run.err;
        for (const std::string& name : row.names) {
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.File(name)))) << name;
            EXPECT_GT(fs::file_size(dir.File(name)), 0u) << name;
        }
        EXPECT_EQ(ReadBytes(victim), (Bytes{'k', 'e', 'e', 'p'}));
    }
}

TEST_F(KtdOutputs, AFifoAsTheOutputIsRefusedWithoutWaiting) {
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunOptions quick;
    quick.timeout = std::chrono::seconds(20);
    for (const std::string& command :
         {Heatmap("-o", fifo), Heatmap("--grid", fifo), Report(fifo), Export(fifo)}) {
        SCOPED_TRACE(command);
        const KtdRun run = RunKtd(command, quick);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("named pipe"), std::string::npos) << run.err;
    }
    const KtdRun pack = Ktp(fifo);
    EXPECT_EQ(pack.status, 1);
    EXPECT_NE(pack.err.find("named pipe"), std::string::npos) << pack.err;
    EXPECT_EQ(Others(), std::vector<std::string>{"pipe"});
}

TEST_F(KtdOutputs, AFullDiskKeepsTheOldFileAndLeavesNoCutOne) {
    // A file-size limit fails every write past 64 bytes as a full disk does.
    RunOptions full;
    full.fileSizeLimit = 64;
    const Bytes old = {'o', 'l', 'd'};
    for (const std::string& command :
         {Heatmap("-o", dir.File("out")), Heatmap("--grid", dir.File("out")),
          Heatmap("--geotiff", dir.File("out")), Report(dir.File("out")),
          Export(dir.File("out"))}) {
        SCOPED_TRACE(command);
        WriteBytes(dir.File("out"), old);
        const KtdRun run = RunKtd(command, full);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("cannot write " + dir.File("out")), std::string::npos) << run.err;
        EXPECT_EQ(ReadBytes(dir.File("out")), old);
        EXPECT_EQ(Others(), std::vector<std::string>{"out"});
    }
}

TEST_F(KtdOutputs, AReportCutAnywhereSaysWhyAndLeavesNothing) {
    // The PDF is about 41 kB: the disk fills at its start, its middle and in
    // its last bytes, which Qt's writer flushes as it ends.
    for (const long long limit : {100LL, 8192LL, 30000LL, 40000LL}) {
        SCOPED_TRACE(limit);
        RunOptions full;
        full.fileSizeLimit = limit;
        const KtdRun run = RunKtd(Report(dir.File("out.pdf")), full);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "ktd: cannot write " + dir.File("out.pdf") + ": File too large\n");
        EXPECT_TRUE(Others().empty());
    }
}

TEST_F(KtdOutputs, AFailedWriteToStandardOutputIsAnError) {
    RunOptions full;
    full.stdoutPath = "/dev/full";
    for (const std::string& command :
         {"dump " + survey, "csv " + survey, "aps " + survey, "export --format wigle " + survey}) {
        SCOPED_TRACE(command);
        const KtdRun run = RunKtd(command, full);
        EXPECT_EQ(run.status, 2);
        EXPECT_TRUE(run.err.starts_with("ktd: cannot write standard output: ")) << run.err;
    }
}

TEST_F(KtdOutputs, WigleNamesAreNeutralisedUnlessRaw) {
    const std::string path = dir.File("formula.ktd");
    WriteBytes(path, FileBuilder()
                         .Location(LatUnits(20), LonUnits(20), 2)
                         .Reading(-55 * 256, 0x01, "=HYPERLINK(\"x\")")
                         .Reading(-60 * 256, 0x02, "\x1B[2Jeek")
                         .bytes());
    const KtdRun safe = RunKtd("export --format wigle " + path);
    ASSERT_EQ(safe.status, 0) << safe.err;
    EXPECT_NE(safe.out.find(",\"'=HYPERLINK(\"\"x\"\")\","), std::string::npos) << safe.out;
    const KtdRun raw = RunKtd("export --format wigle --raw " + path);
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_NE(raw.out.find(",\"=HYPERLINK(\"\"x\"\")\","), std::string::npos) << raw.out;
    for (const std::string& out : {safe.out, raw.out}) {
        EXPECT_EQ(out.find('\x1B'), std::string::npos);
        EXPECT_NE(out.find("\xEF\xBF\xBD[2Jeek"), std::string::npos);
    }
    EXPECT_NE(RunKtd("export --help").out.find("spreadsheets"), std::string::npos);
}

TEST_F(KtdOutputs, ProjectionControlPointsOffTheGlobeAreRefused) {
    for (const char* ref : {"91,0,0,0", "-90.5,0,0,0", "0,180.5,0,0", "0,-181,0,0"}) {
        SCOPED_TRACE(ref);
        const KtdRun run = Ktp(dir.File("p.ktp"), ref);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("outside the globe"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(Others().empty());
}

TEST_F(KtdOutputs, UnheardNetworksAndAddressesAreRefusedWithACloseMatch) {
    struct Row {
        std::string options;
        std::string message;
    };
    const std::vector<Row> rows = {
        {"--metric ssid --ssid kt-office",
         "ktd: no survey point heard the network \"kt-office\"; did you mean \"KT-Office\"? "
         "(networks heard: \"GUEST\", \"KT-Office\")\n"},
        {"--ssid KT-Ofice",
         "ktd: no survey point heard the network \"KT-Ofice\"; did you mean \"KT-Office\"? "
         "(networks heard: \"GUEST\", \"KT-Office\")\n"},
        {"--ssid Lobby",
         "ktd: no survey point heard the network \"Lobby\" (networks heard: \"GUEST\", "
         "\"KT-Office\")\n"},
        {"--metric ap --ap 00:1a:2b:3c:4d:03",
         "ktd: no survey point heard the access point \"00:1a:2b:3c:4d:03\"; did you mean "
         "\"00:1a:2b:3c:4d:01\"? (access points heard: \"00:1a:2b:3c:4d:01\", "
         "\"00:1a:2b:3c:4d:02\")\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.options);
        const KtdRun run = RunKtd("heatmap --projection " + projection + " " + row.options +
                                  " --grid " + dir.File("g.asc") + " " + survey);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, row.message);
    }
    EXPECT_TRUE(Others().empty());
}

TEST_F(KtdOutputs, GridBesideThePictureAndHugeMaxPoints) {
    // The grid in plan pixels must not sit beside the picture's WGS 84 .prj.
    const KtdRun stem = RunKtd("heatmap --projection " + projection + " -o " + dir.File("m.png") +
                               " --grid " + dir.File("m.asc") + " " + survey);
    EXPECT_EQ(stem.status, 2);
    EXPECT_NE(stem.err.find("share a name"), std::string::npos) << stem.err;
    EXPECT_TRUE(Others().empty());
    // A --max-points far beyond the survey's two points sizes nothing by it.
    const KtdRun huge =
        RunKtd("heatmap --projection " + projection + " --max-points 2147483647 --grid " +
               dir.File("g.asc") + " " + survey);
    EXPECT_EQ(huge.status, 0) << huge.err;
    EXPECT_EQ(Others(), std::vector<std::string>{"g.asc"});
}

TEST_F(KtdOutputs, AsciiGridOverlaysThePlanAsGdalShowsAnImageWithoutGeoreference) {
    // Plan (20, 20) heard -55 dBm, plan (70, 60) -81 dBm. GDAL reads an
    // image without a georeference with pixel (col, row) at (col, -row); the
    // grid must put each point's value at the same (x, -y).
    const std::string grid = dir.File("g.asc");
    ASSERT_EQ(RunKtd("heatmap --projection " + projection + " --radius 30 --cell 10 --grid " +
                     grid + " " + survey)
                  .status,
              0);
    GDALAllRegister();
    GDALDatasetH data = GDALOpen(grid.c_str(), GA_ReadOnly);
    ASSERT_NE(data, nullptr);
    double t[6];
    ASSERT_EQ(GDALGetGeoTransform(data, t), CE_None);
    double inverse[6];
    ASSERT_TRUE(GDALInvGeoTransform(t, inverse));
    GDALRasterBandH band = GDALGetRasterBand(data, 1);
    struct Case {
        double planX, planY, dbm;
    } cases[] = {{20, 20, -55}, {70, 60, -81}, {25, 15, -55}, {75, 65, -81}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.planX) + "," + std::to_string(c.planY));
        double col = 0;
        double row = 0;
        GDALApplyGeoTransform(inverse, c.planX, -c.planY, &col, &row);
        ASSERT_GE(col, 0);
        ASSERT_GE(row, 0);
        ASSERT_LT(col, GDALGetRasterXSize(data));
        ASSERT_LT(row, GDALGetRasterYSize(data));
        float value = 0;
        ASSERT_EQ(GDALRasterIO(band, GF_Read, static_cast<int>(col), static_cast<int>(row), 1, 1,
                               &value, 1, 1, GDT_Float32, 0, 0),
                  CE_None);
        EXPECT_NEAR(value, c.dbm, 1.0);
    }
    GDALClose(data);
}

TEST_F(KtdOutputs, GeoTiffHoldsTheNodesInWgs84WithNoData) {
    const std::string tif = dir.File("m.tif");
    const std::string grid = dir.File("m.asc");
    ASSERT_EQ(RunKtd("heatmap --projection " + projection + " --radius 30 --cell 10 --geotiff " +
                     tif + " " + survey)
                  .status,
              0);
    ASSERT_EQ(RunKtd("heatmap --projection " + projection + " --radius 30 --cell 10 --grid " +
                     grid + " " + survey)
                  .status,
              0);
    EXPECT_FALSE(fs::exists(dir.File("m.prj")));  // the grid gets no WGS 84 .prj

    GDALAllRegister();
    GDALDatasetH data = GDALOpen(tif.c_str(), GA_ReadOnly);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(GDALGetRasterXSize(data), 12);
    EXPECT_EQ(GDALGetRasterYSize(data), 9);
    double t[6];
    ASSERT_EQ(GDALGetGeoTransform(data, t), CE_None);
    // Plan x = 1000 * lon + 74550, y = -1000 * lat + 40045: plan (0, 0) is
    // lon -74.55, lat 40.045, and a 10-pixel cell is 0.01 degree.
    EXPECT_NEAR(t[0], -74.55, 1e-9);
    EXPECT_NEAR(t[1], 0.01, 1e-12);
    EXPECT_NEAR(t[2], 0, 1e-12);
    EXPECT_NEAR(t[3], 40.045, 1e-9);
    EXPECT_NEAR(t[4], 0, 1e-12);
    EXPECT_NEAR(t[5], -0.01, 1e-12);
    OGRSpatialReferenceH srs = OSRNewSpatialReference(GDALGetProjectionRef(data));
    ASSERT_NE(srs, nullptr);
    EXPECT_STREQ(OSRGetAuthorityCode(srs, nullptr), "4326");
    OSRDestroySpatialReference(srs);
    GDALRasterBandH band = GDALGetRasterBand(data, 1);
    int hasNoData = 0;
    EXPECT_EQ(GDALGetRasterNoDataValue(band, &hasNoData), -9999);
    EXPECT_TRUE(hasNoData);
    // The values are the grid's, node for node.
    std::vector<float> values(12 * 9);
    ASSERT_EQ(GDALRasterIO(band, GF_Read, 0, 0, 12, 9, values.data(), 12, 9, GDT_Float32, 0, 0),
              CE_None);
    GDALClose(data);
    std::istringstream text(Text(grid));
    std::string line;
    for (int i = 0; i < 6; ++i)
        std::getline(text, line);
    int noData = 0;
    for (float v : values) {
        double expected = 0;
        ASSERT_TRUE(text >> expected);
        EXPECT_NEAR(v, expected, 0.006);
        noData += expected == -9999 ? 1 : 0;
    }
    EXPECT_GT(noData, 0);
}

#else

TEST(KtdOutputs, NeedsTheUserInterfaceBuild) {
    GTEST_SKIP() << "ktd draws heatmaps and reports only when built with KETRION_UI";
}

#endif

}  // namespace
}  // namespace ketrion::testing
