// ktd report, run as the user runs it, and the PDF read back with the poppler
// tools: its text, its pages, and its first page as a picture.

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "ktd_heatmap_fixture.h"

#if KTD_DRAWING
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>

#include "tools/ktd/ReportLayout.h"
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

    // Points every 20 pixels over most of the plan, each hearing "LAB" from one
    // access point at -50 dBm and another at -80 dBm; one placed access point.
    std::string Grid() {
        const std::string path = dir.File("grid.ktd");
        FileBuilder file;
        for (int y = 10; y <= 70; y += 20)
            for (int x = 10; x <= 110; x += 20)
                file.Location(LatUnits(y), LonUnits(x), 2)
                    .Reading(-50 * 256, 0x01, "LAB")
                    .Reading(-80 * 256, 0x02, "LAB");
        file.Location(LatUnits(40), LonUnits(60), 0, 1);
        WriteBytes(path, file.bytes());
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
    // File names without the surveyor's folders.
    EXPECT_EQ(text.find(dir.Path()), std::string::npos) << text;
    // Page one, all networks, the three networks, the access-point table.
    const std::string first = PdfText(pdf, "-f 1 -l 1");
    EXPECT_NE(first.find("Site survey report"), std::string::npos);
    EXPECT_EQ(first.find("Network \"LAB\""), std::string::npos);
    EXPECT_NE(PdfText(pdf, "-f 2 -l 2").find("All networks"), std::string::npos);
    EXPECT_NE(PdfText(pdf, "-f 6 -l 6").find("Access points"), std::string::npos);
    EXPECT_EQ(PdfText(pdf, "-f 7 -l 7"), "");

    // The heatmap page drawn: the heatmap's colours are on it.
    const std::string prefix = dir.File("page");
    ASSERT_EQ(std::system(("pdftoppm -r 40 -png -f 2 -l 2 " + pdf + " " + prefix).c_str()), 0);
    std::string png = prefix + "-2.png";
    if (!std::filesystem::exists(png))
        png = prefix + "-02.png";
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

TEST_F(KtdReport, TitleBlockAreaAndRequirementsPassOrFail) {
    const std::string pdf = dir.File("req.pdf");
    const KtdRun run = RunKtd("report --projection " + Projection() + " " + Grid() + " -o " + pdf +
                              " --site Floor-2 --client Example --surveyor Sam --date " +
                              "2026-06-12 --notes Adapter-at-chest-height --require -67dBm " +
                              "--require-second -75dBm --require-share 90");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string first = PdfText(pdf, "-f 1 -l 1");
    for (const char* expected :
         {"Site", "Floor-2", "Client", "Example", "Surveyor", "Sam", "Date", "2026-06-12", "Notes",
          "Adapter-at-chest-height", "concave hull", "Shares are of this area",
          "placed access points: 1", "at least 90.0 % of the surveyed area"}) {
        EXPECT_NE(first.find(expected), std::string::npos) << expected << "\n" << first;
    }
    // The strongest signal (-50) meets -67 everywhere; the second (-80) misses -75.
    std::istringstream lines(first);
    std::string line;
    int rows = 0;
    while (std::getline(lines, line)) {
        if (line.find("All networks") == std::string::npos &&
            line.find("Network \"LAB\"") == std::string::npos)
            continue;
        ++rows;
        const std::size_t pass = line.find("PASS");
        const std::size_t fail = line.find("FAIL");
        EXPECT_TRUE(pass != std::string::npos && fail != std::string::npos && pass < fail) << line;
        EXPECT_NE(line.find("100.0 %"), std::string::npos) << line;
        EXPECT_NE(line.find("0.0 %"), std::string::npos) << line;
    }
    EXPECT_EQ(rows, 2) << first;
    const std::string network = PdfText(pdf, "-f 3 -l 3");
    EXPECT_NE(network.find("PASS Surveyed area at -67 dBm or better: 100.0 % (required: 90.0 %)"),
              std::string::npos)
        << network;
    EXPECT_NE(network.find("FAIL Surveyed area with a second access point at -75 dBm or better: "
                           "0.0 %"),
              std::string::npos)
        << network;
    // The access-point table has its channel and security columns (empty here).
    const std::string table = PdfText(pdf, "-f 4 -l 4");
    EXPECT_NE(table.find("Channel"), std::string::npos) << table;
    EXPECT_NE(table.find("Security"), std::string::npos) << table;
}

TEST_F(KtdReport, ABoundaryFileDecidesTheAreaAndBadOptionsAreRefused) {
    const std::string survey = Grid();
    // Around the whole plan (names without "fi" or "fl", which the PDF's text
    // turns into ligatures).
    const std::string boundary = dir.File("outline.json");
    const std::string outline = "[[-1,-1],[121,-1],[121,91],[-1,91]]";
    WriteBytes(boundary, Bytes(outline.begin(), outline.end()));
    const std::string pdf = dir.File("b.pdf");
    const KtdRun run = RunKtd("report --projection " + Projection() + " " + survey + " -o " + pdf +
                              " --boundary " + boundary);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string first = PdfText(pdf, "-f 1 -l 1");
    // The file's name only: the report goes to a client, not the surveyor's folders.
    EXPECT_NE(first.find("the boundary in outline.json (4 vertices), 100.0 % of the plan"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("No requirement stated"), std::string::npos) << first;

    const std::string broken = dir.File("broken.json");  // two vertices
    WriteBytes(broken, Bytes{'[', '[', '0', ',', '0', ']', ']'});
    const struct {
        std::string options;
        const char* message;
    } refused[] = {
        {"--boundary " + broken, "broken.json"},
        {"--boundary " + dir.File("none.json"), "none.json"},
        {"--require -67", ""},  // accepted: checked below
        {"--require loud", "--require"},
        {"--require -67 --require-second 5dBm", "--require-second"},
        {"--require -67 --require-share 0", "--require-share"},
        {"--require -67 --require-share 101%", "--require-share"},
    };
    for (const auto& r : refused) {
        const KtdRun bad = RunKtd("report --projection " + Projection() + " " + survey + " -o " +
                                  dir.File("x.pdf") + " " + r.options);
        if (*r.message == '\0') {
            EXPECT_EQ(bad.status, 0) << r.options << ": " << bad.err;
            continue;
        }
        EXPECT_EQ(bad.status, 2) << r.options;
        EXPECT_NE(bad.err.find(r.message), std::string::npos) << r.options << ": " << bad.err;
    }
}

TEST_F(KtdReport, OnlyTheClientsNetworksAreJudgedAndNeighboursAreListedApart) {
    // LAB has two access points, GUEST one; OFFICE is the client's but never heard.
    const std::string path = dir.File("client.ktd");
    FileBuilder file;
    for (int y = 10; y <= 70; y += 20)
        for (int x = 10; x <= 110; x += 20)
            file.Location(LatUnits(y), LonUnits(x), 3)
                .Reading(-50 * 256, 0x01, "LAB")
                .Reading(-80 * 256, 0x02, "LAB")
                .Reading(-60 * 256, 0x03, "GUEST");
    WriteBytes(path, file.bytes());
    const std::string pdf = dir.File("client.pdf");
    const KtdRun run = RunKtd("report --projection " + Projection() + " " + path + " -o " + pdf +
                              " --network LAB --network OFFICE --require -67dBm "
                              "--require-second -75dBm");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string first = PdfText(pdf, "-f 1 -l 1");
    std::map<std::string, std::string> rows;
    std::istringstream lines(first);
    for (std::string line; std::getline(lines, line);)
        for (const char* name :
             {"All networks", "Network \"LAB\"", "\"OFFICE\": not heard", "Network \"GUEST\""})
            if (line.find(name) != std::string::npos)
                rows[name] = line;
    EXPECT_EQ(rows.count("All networks"), 0u) << first;  // holds the neighbours: not judged
    EXPECT_EQ(rows.count("Network \"GUEST\""), 0u) << first;
    EXPECT_NE(rows["Network \"LAB\""].find("PASS"), std::string::npos) << first;
    EXPECT_NE(rows["\"OFFICE\": not heard"].find("FAIL"), std::string::npos) << first;
    EXPECT_NE(first.find("Neighbouring networks"), std::string::npos) << first;
    EXPECT_NE(first.find("\"GUEST\" (1 AP)"), std::string::npos) << first;

    // Without --network every network is judged, but a second access point
    // only where the network has two: GUEST has one.
    const std::string all = dir.File("all.pdf");
    ASSERT_EQ(RunKtd("report --projection " + Projection() + " " + path + " -o " + all +
                     " --require -67dBm --require-second -75dBm")
                  .status,
              0);
    const std::string allFirst = PdfText(all, "-f 1 -l 1");
    std::istringstream allLines(allFirst);
    bool guestSeen = false;
    for (std::string line; std::getline(allLines, line);) {
        if (line.find("Network \"GUEST\"") == std::string::npos)
            continue;
        guestSeen = true;
        EXPECT_NE(line.find("not judged"), std::string::npos) << line;
        EXPECT_EQ(line.find("FAIL"), std::string::npos) << line;
    }
    EXPECT_TRUE(guestSeen) << allFirst;
    // The access-point table numbers the estimates as the maps mark them, and
    // gives plan positions in metres too.
    const std::string text = PdfText(all);
    EXPECT_NE(text.find("E3"), std::string::npos) << text;
    EXPECT_NE(text.find(" m)"), std::string::npos) << text;
}

TEST(ReportLayout, TableColumnsNeverTouch) {
    // The widths the report's table measures, for texts of every length.
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication app(argc, argv);
    QFont font("DejaVu Sans");
    font.setPixelSize(18);
    const QFontMetrics metrics(font);
    const std::vector<QString> texts = {"00:1a:2b:3c:4d:5e",
                                        "\"A very long network name indeed\"",
                                        "",
                                        "WPA2-Enterprise",
                                        "12",
                                        "-61.50 dBm",
                                        "52.205834",
                                        "0.120286",
                                        "14.5 m *",
                                        "1024, 768"};
    std::vector<int> measured;
    for (const QString& t : texts)
        measured.push_back(metrics.horizontalAdvance(t));
    const int gap = 18;
    struct Case {
        std::vector<int> widest;
        int available;
    };
    const Case cases[] = {
        {measured, 1600},                      // room to spare
        {measured, 900},                       // too narrow: the widest are cut
        {measured, 300},                       // far too narrow
        {{5000, 10, 10}, 800},                 // one huge column
        {{0, 0, 0}, 100},                      // empty columns
        {{100}, 50},                           // a single column
        {{40, 40, 40, 40}, 40 * 4 + 3 * gap},  // exactly fits
    };
    for (const Case& c : cases) {
        const std::vector<ketrion::ktd::ColumnSpan> columns =
            ketrion::ktd::LayoutColumns(c.widest, c.available, gap);
        ASSERT_EQ(columns.size(), c.widest.size());
        long natural = 0;
        for (int w : c.widest)
            natural += w;
        const bool fits = natural + gap * static_cast<long>(c.widest.size() - 1) <= c.available;
        EXPECT_EQ(columns.front().x, 0);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            EXPECT_GE(columns[i].width, 1);
            if (fits) {
                EXPECT_GE(columns[i].width, c.widest[i]) << "column " << i;
            }
            if (i + 1 < columns.size()) {
                EXPECT_LE(columns[i].x + columns[i].width + gap, columns[i + 1].x)
                    << "columns " << i << " and " << i + 1 << " of " << c.available;
            }
        }
        // Within the page unless even one pixel a column cannot fit.
        const bool possible = static_cast<long>(c.widest.size()) * (1 + gap) <= c.available;
        if (possible) {
            EXPECT_LE(columns.back().x + columns.back().width, c.available) << c.available;
        }
        // A cut table uses the whole width: no column cut that need not be.
        if (!fits && possible) {
            EXPECT_GE(columns.back().x + columns.back().width,
                      c.available - static_cast<int>(c.widest.size()))
                << c.available;
        }
    }
}

TEST(ReportLayout, RequirementsInTheFormsPeopleWriteThem) {
    using ketrion::ktd::ParseDbm;
    using ketrion::ktd::ParseShare;
    const struct {
        const char* text;
        std::optional<double> dbm;
    } levels[] = {{"-67", -67}, {"-67 dBm", -67}, {" -67dbm ", -67}, {"-72.5 DBM", -72.5},
                  {"0", 0},     {"-120", -120},   {"67", {}},        {"-121", {}},
                  {"", {}},     {"dBm", {}},      {"-67 dB", {}},    {"-6 7", {}},
                  {"nan", {}},  {"+-67", {}},     {"-inf", {}}};
    for (const auto& l : levels)
        EXPECT_EQ(ParseDbm(l.text), l.dbm) << l.text;
    const struct {
        const char* text;
        std::optional<double> share;
    } shares[] = {{"95", 0.95}, {"95%", 0.95}, {"95 %", 0.95}, {"100", 1.0}, {"0.5", 0.005},
                  {"0", {}},    {"-5", {}},    {"100.1", {}},  {"%", {}},    {"ninety", {}}};
    for (const auto& s : shares)
        EXPECT_EQ(ParseShare(s.text), s.share) << s.text;
}

TEST(ReportLayout, OnePagePerNetworkOrPerBandItIsHeardOn) {
    using namespace ketrion;
    analysis::ApEstimate a, b;
    a.mac = {0, 0, 0, 0, 0, 1};
    a.ssid = "LAB";
    b.mac = {0, 0, 0, 0, 0, 2};
    b.ssid = "GUEST";
    const std::vector<analysis::ApEstimate> aps = {a, b};
    const std::vector<std::string> networks = {"GUEST", "LAB"};
    const auto plain = ktd::PlanHeatmapPages(networks, {}, aps);
    ASSERT_EQ(plain.size(), 3u);
    EXPECT_TRUE(plain[0].wholeSurvey);
    EXPECT_EQ(plain[1].title, "Network \"GUEST\"");
    EXPECT_EQ(plain[2].signal.ssid, "LAB");
    EXPECT_TRUE(plain[2].second.inNetwork);
    const std::vector<ktd::ReportBand> bands = {{"2.4 GHz", {a.mac, b.mac}}, {"5 GHz", {a.mac}}};
    const auto banded = ktd::PlanHeatmapPages(networks, bands, aps);
    ASSERT_EQ(banded.size(), 4u);  // GUEST is not heard on 5 GHz
    EXPECT_EQ(banded[1].title, "Network \"GUEST\", 2.4 GHz");
    EXPECT_EQ(banded[3].title, "Network \"LAB\", 5 GHz");
    EXPECT_EQ(banded[3].signal.macs, std::vector<analysis::Mac>{a.mac});
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
