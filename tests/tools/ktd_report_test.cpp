// ktd report, run as the user runs it, and the PDF read back with the poppler
// tools: its text, its pages, and its first page as a picture.

#include <cstdlib>
#include <filesystem>

#include "ktd_heatmap_fixture.h"

#if KTD_DRAWING
#include <QImage>
#endif

namespace ketrion::testing {
namespace {

#if KTD_DRAWING

class KtdReport : public HeatmapSite {
protected:
    std::string Survey() {
        const std::string path = dir.File("walk.ktd");
        Bytes bytes = FileBuilder()
                          .Location(LatUnits(20), LonUnits(20), 2)
                          .Reading(-55 * 256, 0x01, "LAB")
                          .Reading(-70 * 256, 0x02, "GUEST")
                          .Location(LatUnits(50), LonUnits(40), 1)
                          .Reading(-62 * 256, 0x01, "LAB")
                          .Location(LatUnits(70), LonUnits(100), 1)
                          .Reading(-85 * 256, 0x03, "")
                          .bytes();
        // Times of the first and last points: 2026-06-11 10:00:00 and 10:12:30.
        const std::size_t last = bytes.size() - 41 - 61;
        for (std::size_t at : {std::size_t{33}, last}) {
            bytes[at + 8] = 6;
            bytes[at + 9] = 11;
            collection::Put16(&bytes[at + 10], 2026);
            bytes[at + 12] = 10;
        }
        bytes[last + 13] = 12;
        bytes[last + 14] = 30;
        WriteBytes(path, bytes);
        return path;
    }

    static std::string PdfText(const std::string& pdf, const std::string& pages = "") {
        const std::string txt = pdf + ".txt";
        const std::string command = "pdftotext -layout " + pages + " " + pdf + " " + txt;
        if (std::system(command.c_str()) != 0)
            return "";
        return Text(txt);
    }
};

TEST_F(KtdReport, PdfCarriesTheSurveyTheCoverageAndTheAccessPoints) {
    const std::string survey = Survey();
    const std::string pdf = dir.File("report.pdf");
    const KtdRun run = RunKtd("report --projection " + Projection() + " " + survey + " -o " + pdf);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");  // not a terminal: no progress

    const std::string text = PdfText(pdf);
    ASSERT_NE(text, "") << "pdftotext could not read " << pdf;
    for (const char* expected :
         {"Site survey report", "walk.ktd", "Survey points: 3",
          "2026-06-11 10:00:00 to 2026-06-11 10:12:30 UTC (12 min 30 s)",
          "Surveyed area at -67 dBm or better:", "Surveyed area at -75 dBm or better:",
          "Network \"LAB\"", "Network \"GUEST\"", "Network (hidden network)", "Access points",
          "00:1a:2b:3c:4d:01", "00:1a:2b:3c:4d:02", "00:1a:2b:3c:4d:03"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    // Page one, the three networks, the access-point table.
    const std::string first = PdfText(pdf, "-f 1 -l 1");
    EXPECT_NE(first.find("Site survey report"), std::string::npos);
    EXPECT_EQ(first.find("Network \"LAB\""), std::string::npos);
    EXPECT_NE(PdfText(pdf, "-f 5 -l 5").find("Access points"), std::string::npos);
    EXPECT_EQ(PdfText(pdf, "-f 6 -l 6"), "");

    // Page one drawn: the heatmap's colours are on it.
    const std::string prefix = dir.File("page");
    ASSERT_EQ(std::system(("pdftoppm -r 40 -png -f 1 -l 1 " + pdf + " " + prefix).c_str()), 0);
    std::string png = prefix + "-1.png";
    if (!std::filesystem::exists(png))
        png = prefix + "-01.png";
    QImage page(QString::fromStdString(png));
    ASSERT_FALSE(page.isNull());
    int coloured = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            coloured += std::max({c.red(), c.green(), c.blue()}) -
                                    std::min({c.red(), c.green(), c.blue()}) >
                                60
                            ? 1
                            : 0;
        }
    EXPECT_GT(coloured, 200);
}

TEST_F(KtdReport, SurveyWithoutPointsStillReports) {
    const std::string path = dir.File("empty.ktd");
    WriteBytes(path, FileBuilder().bytes());
    const std::string pdf = dir.File("empty.pdf");
    const KtdRun run = RunKtd("report --projection " + Projection() + " " + path + " -o " + pdf);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find("Survey points: 0"), std::string::npos) << text;
    EXPECT_NE(text.find("no point holds a GPS time"), std::string::npos) << text;
}

TEST_F(KtdReport, UnwritableOutputAndMissingInputsFail) {
    const std::string survey = Survey();
    const KtdRun cannot = RunKtd("report --projection " + Projection() + " " + survey + " -o " +
                                 dir.File("no/such/folder/r.pdf"));
    EXPECT_EQ(cannot.status, 2);
    EXPECT_NE(cannot.err.find("r.pdf"), std::string::npos) << cannot.err;
    const KtdRun noProjection = RunKtd("report --projection " + dir.File("none.ktp") + " " +
                                       survey + " -o " + dir.File("r.pdf"));
    EXPECT_EQ(noProjection.status, 2);
    EXPECT_NE(noProjection.err.find("none.ktp"), std::string::npos) << noProjection.err;
    EXPECT_EQ(RunKtd("report " + survey).status, 2);  // --projection and -o are required
}

#else

TEST(KtdReport, NeedsTheUserInterfaceBuild) {
    GTEST_SKIP() << "ktd writes reports only when built with KETRION_UI";
}

#endif

}  // namespace
}  // namespace ketrion::testing
