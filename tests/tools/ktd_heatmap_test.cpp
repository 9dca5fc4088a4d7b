// ktd heatmap, run as the user runs it: the ESRI grid's text, the picture
// with its world file and .prj, the metric options, and refusals.

#include <cmath>
#include <filesystem>
#include <sstream>

#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "engine/Location.h"
#include "ktd_heatmap_fixture.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteProjection.h"

#if KTD_DRAWING
#include <QImage>
#include <QPainter>

#include "render/HeatmapImage.h"
#endif

namespace ketrion::testing {
namespace {

#if KTD_DRAWING

class KtdHeatmap : public HeatmapSite {
protected:
    // Three survey points: a strong one near the top left, a weak one near
    // the bottom right heard by a second access point, and a dynamic access
    // point that must not count.
    std::string Survey(const std::string& name = "walk.ktd") {
        const std::string path = dir.File(name);
        WriteBytes(path, FileBuilder()
                             .Location(LatUnits(20), LonUnits(20), 2)
                             .Reading(-55 * 256, 0x01, "LAB")
                             .Reading(-70 * 256, 0x02, "GUEST")
                             .Location(LatUnits(30), LonUnits(30), 0, 1)
                             .Location(LatUnits(100), LonUnits(70), 1)
                             .Reading(-81 * 256, 0x02, "GUEST")
                             .bytes());
        return path;
    }
};

TEST_F(KtdHeatmap, GridFileHoldsTheInterpolatedValues) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    const std::string grid = dir.File("g.asc");
    const KtdRun run = RunKtd("heatmap --projection " + projection + " --grid " + grid +
                              " --radius 30 --cell 10 " + survey);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string text = Text(grid);
    const std::string header =
        "ncols 12\nnrows 9\nxllcorner 0\nyllcorner -90\ncellsize 10\nNODATA_value -9999\n";
    ASSERT_EQ(text.substr(0, header.size()), header);

    // The same values computed here, point by point.
    CLocation location;
    StderrPrompt prompt;
    NullSound sound;
    CSiteProjection map(prompt, sound);
    {
        PlanMap planMap = map.Map();
        planMap.xLon = 1000;
        planMap.xOrigin = 74550;
        planMap.yLat = -1000;
        planMap.yOrigin = 40045;
        map.SetMap(planMap);
    }
    analysis::PlacedSurvey placed;
    ASSERT_EQ(analysis::LoadPlacedSurvey(survey, map, placed), analysis::ReadResult::Complete);
    ASSERT_EQ(placed.points.size(), 2u);
    const std::vector<analysis::Sample> samples =
        analysis::MetricSamples(placed, analysis::MetricSpec{});
    const analysis::IdwParams params{10, 30, 12, 2};
    // Only nodes of the surveyed area (here: a quarter radius around each
    // point, two points make no triangle) have values.
    const std::vector<std::uint8_t> area = analysis::AreaOf(placed, params).Mask(12, 9, 10);
    std::string rows;
    char value[32];
    for (int j = 0; j < 9; ++j) {
        for (int i = 0; i < 12; ++i) {
            const double v = analysis::BruteForceValueAt(samples, params, i * 10 + 5, j * 10 + 5);
            if (v == analysis::Grid::kNoData || area[static_cast<std::size_t>(j) * 12 + i] == 0)
                std::snprintf(value, sizeof value, "-9999");
            else
                std::snprintf(value, sizeof value, "%.2f", v);
            if (i > 0)
                rows += ' ';
            rows += value;
        }
        rows += "\n";
    }
    EXPECT_EQ(text.substr(header.size()), rows);
    // Beside the strong point the node takes its value; the corner and the
    // plan between the points have none.
    std::istringstream lines(text.substr(header.size()));
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_EQ(second.substr(0, 12), "-9999 -55.00") << second;
    EXPECT_EQ(first.find("-55"), std::string::npos) << first;
}

TEST_F(KtdHeatmap, ABoundaryReplacesTheHullAndIsChecked) {
    // The left half of the plan: everything in it within the radius of a
    // point has a value (far more than the two points' hull), nothing right of it.
    const std::string boundary = dir.File("left.json");
    const std::string outline = R"({"boundary": [[0, 0], [60, 0], [60, 90], [0, 90]]})";
    WriteBytes(boundary, Bytes(outline.begin(), outline.end()));
    const std::string grid = dir.File("b.asc");
    const KtdRun run = RunKtd("heatmap --projection " + Projection() + " --grid " + grid +
                              " --cell 10 --boundary " + boundary + " " + Survey());
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(Text(grid));
    std::string line;
    for (int skip = 0; skip < 6; ++skip)
        std::getline(lines, line);
    int rows = 0;
    while (std::getline(lines, line)) {
        std::istringstream cells(line);
        std::string cell;
        for (int i = 0; cells >> cell; ++i)
            EXPECT_EQ(cell == "-9999", i >= 6) << "row " << rows << " column " << i;
        ++rows;
    }
    EXPECT_EQ(rows, 9);

    const std::string open = dir.File("open.json");
    WriteBytes(open, Bytes{'[', '[', '0', ',', '0', ']', ']'});
    const KtdRun bad = RunKtd("heatmap --projection " + Projection() + " --grid " + grid +
                              " --boundary " + open + " " + Survey());
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("open.json"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("three vertices"), std::string::npos) << bad.err;

    // A fifo is refused without waiting for a writer.
    const std::string fifo = dir.File("fifo.json");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const KtdRun piped = RunKtd("heatmap --projection " + Projection() + " --grid " + grid +
                                " --boundary " + fifo + " " + Survey());
    EXPECT_EQ(piped.status, 2);
    EXPECT_NE(piped.err.find("named pipe"), std::string::npos) << piped.err;
}

TEST_F(KtdHeatmap, PictureIsThePlanWithTheHeatmapAndAWorldFile) {
    const std::string projection = Projection();
    const std::string out = dir.File("map.png");
    const KtdRun run =
        RunKtd("heatmap --projection " + projection + " -o " + out + " --radius 25 " + Survey());
    ASSERT_EQ(run.status, 0) << run.err;
    QImage image(QString::fromStdString(out));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.format() == QImage::Format_Invalid, false);
    // The georeferenced picture is the plan alone, pixel for pixel.
    EXPECT_EQ(image.size(), QSize(kWidth, kHeight));
    // Outside the surveyed area the plan shows as it is; near a point it is tinted.
    EXPECT_EQ(image.pixelColor(110, 5), QColor(kGrey, kGrey, kGrey));
    EXPECT_EQ(image.pixelColor(45, 60), QColor(kGrey, kGrey, kGrey));
    const QColor near = image.pixelColor(23, 23);
    EXPECT_NE(near, QColor(kGrey, kGrey, kGrey));
    // The survey point itself is a dark dot.
    const QColor dot = image.pixelColor(20, 20);
    EXPECT_LT(dot.red() + dot.green() + dot.blue(), 3 * 100);
    // The legend, in a picture of its own, says what the colours are.
    const QImage legend(QString::fromStdString(dir.File("map-legend.png")));
    ASSERT_FALSE(legend.isNull());
    bool legendInk = false;
    for (int y = 0; y < legend.height(); ++y)
        for (int x = 0; x < legend.width(); ++x)
            legendInk |= legend.pixelColor(x, y).blue() > 150 && legend.pixelColor(x, y).red() < 80;
    EXPECT_TRUE(legendInk);

    // The world file puts a control point within a pixel of where the plan has it.
    double a, d, b, e, c, f;
    const std::string world = Text(dir.File("map.pgw"));
    ASSERT_EQ(std::sscanf(world.c_str(), "%lf %lf %lf %lf %lf %lf", &a, &d, &b, &e, &c, &f), 6)
        << world;
    const double lat = 40.0, lon = -74.5;  // plan (50, 45) under the map
    // Pixel centre (col, row) -> lon = a*col + b*row + c, lat = d*col + e*row + f.
    const double det = a * e - b * d;
    const double col = (e * (lon - c) - b * (lat - f)) / det;
    const double row = (a * (lat - f) - d * (lon - c)) / det;
    EXPECT_NEAR(col + 0.5, 50.0, 1.0);  // pixel centres lie half a pixel in
    EXPECT_NEAR(row + 0.5, 45.0, 1.0);
    EXPECT_NE(Text(dir.File("map.prj")).find("WGS"), std::string::npos);
}

TEST_F(KtdHeatmap, AccessPointAddressInAnyWrittenForm) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    std::string previous;
    for (const char* mac : {"00:1a:2b:3c:4d:02", "00-1A-2B-3C-4D-02", "00:1A:2b:3C:4d:02"}) {
        const std::string grid = dir.File("ap.asc");
        const KtdRun run =
            RunKtd("heatmap --projection " + projection + " --radius 30 --metric ap --ap " + mac +
                   " --grid " + grid + " " + survey);
        ASSERT_EQ(run.status, 0) << mac << ": " << run.err;
        const std::string text = Text(grid);
        if (!previous.empty()) {
            EXPECT_EQ(text, previous) << mac;
        }
        previous = text;
    }
    EXPECT_NE(previous.find("-70.00"), std::string::npos);  // the access point at the first point
    // --ap alone chooses the ap metric.
    const std::string alone = dir.File("alone.asc");
    ASSERT_EQ(RunKtd("heatmap --projection " + projection +
                     " --radius 30 --ap 00:1a:2b:3c:4d:02 --grid " + alone + " " + survey)
                  .status,
              0);
    EXPECT_EQ(Text(alone), previous);

    const KtdRun bad = RunKtd("heatmap --projection " + projection +
                              " --ap 00:1a:2b:3c:4d --grid " + alone + " " + survey);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("00:1a:2b:3c:4d"), std::string::npos) << bad.err;
}

TEST_F(KtdHeatmap, CoverageAndNetworkMetrics) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    const std::string grid = dir.File("c.asc");
    ASSERT_EQ(RunKtd("heatmap --projection " + projection +
                     " --metric coverage --threshold -60 --grid " + grid + " " + survey)
                  .status,
              0);
    const std::string coverage = Text(grid);
    EXPECT_NE(coverage.find("1.00"), std::string::npos);
    EXPECT_NE(coverage.find("0.00"), std::string::npos);
    for (const char* v : {"-55.00", "-81.00"})
        EXPECT_EQ(coverage.find(v), std::string::npos);

    ASSERT_EQ(RunKtd("heatmap --projection " + projection + " --radius 30 --ssid GUEST --grid " +
                     grid + " " + survey)
                  .status,
              0);
    EXPECT_NE(Text(grid).find("-70.00"), std::string::npos);
    const KtdRun noName = RunKtd("heatmap --projection " + projection + " --metric ssid --grid " +
                                 grid + " " + survey);
    EXPECT_EQ(noName.status, 2);
    EXPECT_NE(noName.err.find("--ssid"), std::string::npos) << noName.err;
}

TEST_F(KtdHeatmap, RefusesWhatItCannotDo) {
    const std::string survey = Survey();
    const std::string out = dir.File("x.png");
    // A map that squeezes the earth onto a line cannot place the picture.
    ktp::AffineFit flat = Fit();
    flat.yLat = 0;
    flat.yLon = 1000;  // y follows x
    const KtdRun flatRun = RunKtd("heatmap --projection " + Projection(flat, "flat.ktp") + " -o " +
                                  out + " " + survey);
    EXPECT_EQ(flatRun.status, 2);
    EXPECT_NE(flatRun.err.find("cannot be inverted"), std::string::npos) << flatRun.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.pgw")));

    const std::string projection = Projection();
    const KtdRun nothing = RunKtd("heatmap --projection " + projection + " " + survey);
    EXPECT_EQ(nothing.status, 2);
    EXPECT_NE(nothing.err.find("nothing to write"), std::string::npos) << nothing.err;

    const KtdRun cell = RunKtd("heatmap --projection " + projection + " --cell 0 --grid " +
                               dir.File("g.asc") + " " + survey);
    EXPECT_EQ(cell.status, 2);

    const KtdRun missing = RunKtd("heatmap --projection " + projection + " --grid " +
                                  dir.File("g.asc") + " " + dir.File("none.ktd"));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("none.ktd"), std::string::npos) << missing.err;

    WriteBytes(dir.File("junk.ktp"), Bytes(100, 0));
    const KtdRun junk = RunKtd("heatmap --projection " + dir.File("junk.ktp") + " --grid " +
                               dir.File("g.asc") + " " + survey);
    EXPECT_EQ(junk.status, 2);
    EXPECT_NE(junk.err.find("junk.ktp"), std::string::npos) << junk.err;
}

TEST_F(KtdHeatmap, DamagedFileIsDrawnFromWhatCanBeReadAndSaysSo) {
    const std::string path = dir.File("cut.ktd");
    Bytes bytes = FileBuilder()
                      .Location(LatUnits(20), LonUnits(20), 1)
                      .Reading(-50 * 256, 1, "A")
                      .Location(LatUnits(60), LonUnits(60), 2)
                      .Reading(-60 * 256, 1, "A")
                      .bytes();
    WriteBytes(path, bytes);
    const std::string grid = dir.File("cut.asc");
    const KtdRun run =
        RunKtd("heatmap --projection " + Projection() + " --grid " + grid + " " + path);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err, "");
    // The cut point's complete reading counts: values near it are below -55.
    std::istringstream values(Text(grid));
    std::string word;
    double weakest = 0;
    while (values >> word)
        if (word.find('.') != std::string::npos)
            weakest = std::min(weakest, std::stod(word));
    EXPECT_LT(weakest, -55);
}

TEST(HeatmapImage, EachPixelTakesTheColourOfItsCellsNode) {
    analysis::Grid grid(3, 2, 4);  // a 10 x 7 plan: the last column and row are partial cells
    grid.At(0, 0) = -40;
    grid.At(2, 0) = -95;
    grid.At(1, 1) = -67;
    const auto scale = heatmap::ColourScale::Signal("Strongest signal");
    const QImage image = heatmap::GridImage(grid, 10, 7, scale, 150);
    ASSERT_EQ(image.size(), QSize(10, 7));
    const auto expect = [&](int x, int y, double value) {
        const QColor c = scale.At(value);
        EXPECT_EQ(image.pixel(x, y), qRgba(c.red(), c.green(), c.blue(), 150)) << x << "," << y;
    };
    expect(0, 0, -40);
    expect(3, 3, -40);
    expect(8, 0, -95);
    expect(9, 3, -95);  // in the partial last column
    expect(4, 4, -67);
    expect(7, 6, -67);                        // in the partial last row
    EXPECT_EQ(qAlpha(image.pixel(4, 0)), 0);  // no value: the plan shows through
    EXPECT_EQ(qAlpha(image.pixel(0, 6)), 0);

    // Hatching only where a node of the area has no value: node (1, 0) and,
    // in the partial last row, node (2, 1); not outside the area (0, 1).
    const std::vector<std::uint8_t> area = {1, 1, 1, 0, 1, 1};
    const QImage gaps = heatmap::UnsurveyedImage(grid, area, 10, 7);
    ASSERT_EQ(gaps.size(), QSize(10, 7));
    const auto hatched = [&](int i, int j) {
        bool any = false;
        for (int y = j * 4; y < std::min(j * 4 + 4, 7); ++y)
            for (int x = i * 4; x < std::min(i * 4 + 4, 10); ++x)
                any |= qAlpha(gaps.pixel(x, y)) != 0;
        return any;
    };
    EXPECT_TRUE(hatched(1, 0));
    EXPECT_TRUE(hatched(2, 1));
    EXPECT_FALSE(hatched(0, 0));
    EXPECT_FALSE(hatched(0, 1));
    EXPECT_FALSE(hatched(1, 1));
    // A mask of another size hatches nothing.
    const QImage none = heatmap::UnsurveyedImage(grid, std::vector<std::uint8_t>(5, 1), 10, 7);
    EXPECT_EQ(none.pixel(5, 1), 0u);
}

TEST(HeatmapImage, DrawingInBandsGivesThePixelsOfTheWholePicture) {
    // 700 rows: bands of 256 end inside a cell of 7, and the last band is short.
    analysis::Grid grid(60, 100, 7);
    std::vector<std::uint8_t> area(grid.values.size());
    for (std::size_t n = 0; n < grid.values.size(); ++n) {
        if (n % 3 != 0)
            grid.values[n] = -40.0 - static_cast<double>(n % 55);
        area[n] = n % 5 != 0 ? 1 : 0;
    }
    const auto scale = heatmap::ColourScale::Signal("s");
    const int width = 415, height = 700;
    auto drawn = [&](bool banded) {
        QImage picture(width, height, QImage::Format_RGB32);
        picture.fill(QColor(255, 255, 255));
        QPainter painter(&picture);
        if (banded) {
            heatmap::DrawGrid(painter, grid, width, height, scale, 150);
            heatmap::DrawUnsurveyed(painter, grid, area, width, height);
        } else {
            painter.drawImage(0, 0, heatmap::GridImage(grid, width, height, scale, 150));
            painter.drawImage(0, 0, heatmap::UnsurveyedImage(grid, area, width, height));
        }
        return picture;
    };
    EXPECT_EQ(drawn(true), drawn(false));
}

TEST(HeatmapImage, ScalesRunFromWeakToStrongAndClampAtTheEnds) {
    const auto signal = heatmap::ColourScale::Signal("s");
    EXPECT_EQ(signal.At(-120), signal.At(-100));
    EXPECT_EQ(signal.At(-10), signal.At(-30));
    EXPECT_NE(signal.At(-90), signal.At(-50));
    // Weak signals are red, strong ones green to blue.
    EXPECT_GT(signal.At(-90).red(), signal.At(-90).green());
    EXPECT_GT(signal.At(-50).green(), signal.At(-50).red());
    ASSERT_EQ(signal.Steps().size(), 8u);
    EXPECT_EQ(signal.Steps().front().label, "-100 dBm");
    EXPECT_EQ(signal.Steps().back().label, "-30 dBm");

    const auto coverage = heatmap::ColourScale::Coverage(-67);
    EXPECT_TRUE(coverage.Discrete());
    EXPECT_NE(coverage.At(0), coverage.At(1));
    EXPECT_EQ(coverage.At(0.99), coverage.At(0));  // two classes, no blend
    const auto count = heatmap::ColourScale::Count(25);
    EXPECT_LE(count.Steps().size(), 11u);
    EXPECT_EQ(count.Steps().back().value, 25);
}

#else

TEST(KtdHeatmap, NeedsTheUserInterfaceBuild) {
    GTEST_SKIP() << "ktd draws heatmaps only when built with KETRION_UI";
}

#endif

}  // namespace
}  // namespace ketrion::testing
