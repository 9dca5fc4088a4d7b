// ktd with the side store's details: what aps and the exports add, the points
// they leave out (deleted; no fix unless --include-no-fix), and the heatmap's
// band filter and channel-overlap metric, on a small site checked by hand.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/ExportWigle.h"
#include "ktd_heatmap_fixture.h"
#include "survey/SideStore.h"

namespace ketrion::testing {
namespace {

class KtdDetails : public HeatmapSite {
protected:
    // P1 at plan (5, 5), offset 33: five readings on 2.4 and 5 GHz, a 4.8 m fix.
    // P2 at (55, 45), offset 299: marked deleted.
    // P3 at (95, 75), offset 401: taken without a fix.
    // P4 at (95, 5), offset 503: a stop ("no-fix" from the receiver, but the
    //   surveyor's click places it), one reading without details, one on 6 GHz.
    std::string Survey(bool withSide = true) {
        const std::string path = dir.File("site.ktd");
        WriteBytes(path, FileBuilder()
                             .Location(LatUnits(5), LonUnits(5), 5)
                             .Reading(-50 * 256, 0x01, "LAB")
                             .Reading(-70 * 256, 0x02, "N8")
                             .Reading(-60 * 256, 0x03, "N11")
                             .Reading(static_cast<std::int16_t>(-81.5 * 256), 0x04, "N3")
                             .Reading(-40 * 256, 0x05, "FIVE")
                             .Location(LatUnits(45), LonUnits(55), 1)
                             .Reading(-30 * 256, 0x06, "DEL")
                             .Location(LatUnits(75), LonUnits(95), 1)
                             .Reading(-45 * 256, 0x07, "NOFIX")
                             .Location(LatUnits(5), LonUnits(95), 2)
                             .Reading(-60 * 256, 0x08, "UNK")
                             .Reading(-65 * 256, 0x09, "SIX")
                             .bytes());
        if (withSide)
            WriteSide(path);
        return path;
    }

    static SideStore::Reading Heard(int index, std::uint8_t last, int frequency, int channel,
                                    const char* band, const char* security = "") {
        SideStore::Reading r;
        r.index = index;
        char bssid[20];
        std::snprintf(bssid, sizeof bssid, "00:1a:2b:3c:4d:%02x", last);
        r.bssid = bssid;
        r.frequencyMhz = frequency;
        r.channel = channel;
        r.band = band;
        r.security = security;
        return r;
    }

    static void WriteSide(const std::string& path) {
        const Bytes bytes = ReadBytes(path);
        std::string message;
        auto store = SideStore::OpenForWriting(path, SideIdentity(path, bytes.data()), &message);
        ASSERT_NE(store, nullptr) << message;
        SideStore::Point p1;
        p1.offset = 33;
        p1.method = "gpsd";
        p1.ephMetres = 4.8;
        p1.altitudeMetres = 12.5;
        SideStore::Point p2;
        p2.offset = 299;
        p2.method = "gpsd";
        p2.deleted = true;
        SideStore::Point p3;
        p3.offset = 401;
        p3.method = "gpsd";
        p3.fixFlag = "no-fix";
        SideStore::Point p4;
        p4.offset = 503;
        p4.method = "stop";
        p4.fixFlag = "no-fix";
        const std::map<std::int64_t, std::vector<SideStore::Reading>> readings = {
            {33,
             {Heard(0, 0x01, 2437, 6, "2.4", "wpa2"), Heard(1, 0x02, 2447, 8, "2.4", "open"),
              Heard(2, 0x03, 2462, 11, "2.4"), Heard(3, 0x04, 2422, 3, "2.4"),
              Heard(4, 0x05, 5180, 36, "5", "wpa3")}},
            {299, {Heard(0, 0x06, 2412, 1, "2.4")}},
            {401, {Heard(0, 0x07, 2412, 1, "2.4")}},
            {503, {Heard(1, 0x09, 5975, 5, "6")}},
        };
        ASSERT_TRUE(store->WritePoints({p1, p2, p3, p4}, readings, &message)) << message;
        ASSERT_TRUE(store->Close(&message)) << message;
    }

    // The lines of `text` that start with `prefix`.
    static std::vector<std::string> LinesStarting(const std::string& text,
                                                  const std::string& prefix) {
        std::vector<std::string> out;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line))
            if (line.rfind(prefix, 0) == 0)
                out.push_back(line);
        return out;
    }
    static std::string Line(const std::string& text, const std::string& prefix) {
        const auto lines = LinesStarting(text, prefix);
        return lines.size() == 1 ? lines[0] : "(" + std::to_string(lines.size()) + " lines)";
    }
};

TEST_F(KtdDetails, ApsShowsChannelBandAndSecurityOfTheUsedPoints) {
    const std::string survey = Survey();
    const KtdRun run = RunKtd("aps " + survey);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(Line(run.out, "00:1a:2b:3c:4d:01 \"LAB\" points 1 strongest -50 dBm")
                  .find("readings 1 channel 6 band 2.4 security wpa2"),
              std::string::npos)
        << run.out;
    EXPECT_NE(Line(run.out, "00:1a:2b:3c:4d:08").find(" channel - band - security -"),
              std::string::npos);
    // The stop's point has fix class 0 in the file, yet is a placed position.
    EXPECT_EQ(Line(run.out, "00:1a:2b:3c:4d:09").find("no-fix"), std::string::npos);
    EXPECT_NE(Line(run.out, "00:1a:2b:3c:4d:09").find("channel 5 band 6 security -"),
              std::string::npos);
    EXPECT_TRUE(LinesStarting(run.out, "00:1a:2b:3c:4d:06").empty()) << "deleted";
    EXPECT_TRUE(LinesStarting(run.out, "00:1a:2b:3c:4d:07").empty()) << "no fix";
    EXPECT_NE(run.out.find("access points 7, survey points 2\n"), std::string::npos);
    EXPECT_NE(run.err.find("left out: 1 point marked deleted, 1 point without a valid GPS fix"),
              std::string::npos)
        << run.err;

    const KtdRun all = RunKtd("aps --include-no-fix " + survey);
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_NE(Line(all.out, "00:1a:2b:3c:4d:07").find("channel 1 band 2.4 security - no-fix"),
              std::string::npos)
        << all.out;
    EXPECT_TRUE(LinesStarting(all.out, "00:1a:2b:3c:4d:06").empty());
    EXPECT_NE(all.out.find("access points 8, survey points 3\n"), std::string::npos);
}

// A WiGLE row without its position (columns 8 and 9) and line end.
std::string WithoutPosition(const std::string& row) {
    std::vector<std::string> fields;
    std::istringstream in(row.substr(0, row.size() - (row.ends_with('\r') ? 1 : 0)));
    std::string field;
    while (std::getline(in, field, ','))
        fields.push_back(field);
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (i != 7 && i != 8)
            out += (out.empty() ? "" : ",") + fields[i];
    return out;
}

TEST_F(KtdDetails, WigleCsvFillsTheDetailsFields) {
    const std::string survey = Survey();
    const KtdRun run = RunKtd("export --format wigle " + survey);
    ASSERT_EQ(run.status, 0) << run.err;
    auto row = [&](const std::string& text, const char* mac) {
        return WithoutPosition(Line(text, mac));
    };
    // MAC,SSID,AuthMode,FirstSeen,Channel,Frequency,RSSI,AltitudeMeters,AccuracyMeters,RCOIs,MfgrId,Type
    EXPECT_EQ(row(run.out, "00:1a:2b:3c:4d:01"),
              "00:1a:2b:3c:4d:01,LAB,[WPA2-PSK-CCMP][ESS],,6,2437,-50,12.5,4.8,,,WIFI");
    EXPECT_EQ(row(run.out, "00:1a:2b:3c:4d:02"),
              "00:1a:2b:3c:4d:02,N8,[ESS],,8,2447,-70,12.5,4.8,,,WIFI");
    EXPECT_EQ(row(run.out, "00:1a:2b:3c:4d:05"),
              "00:1a:2b:3c:4d:05,FIVE,[WPA3-SAE-CCMP][ESS],,36,5180,-40,12.5,4.8,,,WIFI");
    EXPECT_EQ(row(run.out, "00:1a:2b:3c:4d:08"), "00:1a:2b:3c:4d:08,UNK,,,,,-60,,,,,WIFI");
    EXPECT_EQ(row(run.out, "00:1a:2b:3c:4d:09"), "00:1a:2b:3c:4d:09,SIX,,,5,5975,-65,,,,,WIFI");
    EXPECT_TRUE(LinesStarting(run.out, "00:1a:2b:3c:4d:06").empty()) << "deleted";
    EXPECT_TRUE(LinesStarting(run.out, "00:1a:2b:3c:4d:07").empty()) << "no fix";

    const KtdRun all = RunKtd("export --format wigle --include-no-fix " + survey);
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(row(all.out, "00:1a:2b:3c:4d:07"), "00:1a:2b:3c:4d:07,NOFIX,,,1,2412,-45,,,,,WIFI");
    EXPECT_TRUE(LinesStarting(all.out, "00:1a:2b:3c:4d:06").empty());

    EXPECT_EQ(analysis::WigleAuthMode("wpa2/wpa3"), "[WPA2-PSK-CCMP][WPA3-SAE-CCMP][ESS]");
    EXPECT_EQ(analysis::WigleAuthMode("enterprise"), "[WPA2-EAP-CCMP][ESS]");
    EXPECT_EQ(analysis::WigleAuthMode("wep"), "[WEP][ESS]");
    EXPECT_EQ(analysis::WigleAuthMode("something"), "");
}

TEST_F(KtdDetails, GeoJsonAndKmlCarryTheDetails) {
    const std::string survey = Survey();
    const KtdRun run = RunKtd("export --format geojson " + survey);
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    const nlohmann::json& features = doc["features"];
    ASSERT_EQ(features.size(), 2u) << run.out;
    const nlohmann::json& p1 = features[0]["properties"];
    EXPECT_EQ(p1["index"], 1);
    EXPECT_EQ(p1["accuracy"], 4.8);
    EXPECT_EQ(p1["altitude"], 12.5);
    const nlohmann::json& lab = p1["readings"][0];
    EXPECT_EQ(lab["frequency"], 2437);
    EXPECT_EQ(lab["channel"], 6);
    EXPECT_EQ(lab["band"], "2.4");
    EXPECT_EQ(lab["security"], "wpa2");
    const nlohmann::json& p4 = features[1]["properties"];
    EXPECT_EQ(p4["index"], 4) << "the file's numbering";
    EXPECT_TRUE(p4["accuracy"].is_null());
    EXPECT_TRUE(p4["readings"][0]["channel"].is_null());
    EXPECT_EQ(p4["readings"][1]["band"], "6");
    EXPECT_EQ(RunKtd("export --format geojson --include-no-fix " + survey).out.find("\"DEL\""),
              std::string::npos);

    const KtdRun kml = RunKtd("export --format kml " + survey);
    ASSERT_EQ(kml.status, 0) << kml.err;
    EXPECT_NE(kml.out.find("attr 0 [channel 6, 2437 MHz, 2.4 GHz, wpa2] LAB"), std::string::npos)
        << kml.out;
    EXPECT_NE(kml.out.find("attr 0 [channel 36, 5180 MHz, 5 GHz, wpa3] FIVE"), std::string::npos);
    EXPECT_NE(kml.out.find("fix none, accuracy 4.8 m"), std::string::npos);
    EXPECT_NE(kml.out.find("<Data name=\"accuracy\"><value>4.8</value></Data>"), std::string::npos);
    EXPECT_EQ(kml.out.find("NOFIX"), std::string::npos);
    EXPECT_EQ(kml.out.find("DEL"), std::string::npos);
}

#if KTD_DRAWING

// The grid's node values by column and row (the first row is the plan's top).
class GridValues {
public:
    explicit GridValues(const std::string& text) {
        std::istringstream in(text);
        std::string line;
        for (int i = 0; i < 6; ++i)
            std::getline(in, line);  // the header
        while (std::getline(in, line)) {
            std::istringstream row(line);
            std::vector<std::string> cells;
            std::string cell;
            while (row >> cell)
                cells.push_back(cell);
            m_rows.push_back(cells);
        }
    }
    // The node at plan (x, y) with 10-pixel cells.
    std::string At(int x, int y) const {
        const auto row = static_cast<std::size_t>((y - 5) / 10);
        const auto column = static_cast<std::size_t>((x - 5) / 10);
        if (row >= m_rows.size() || column >= m_rows[row].size())
            return "(outside)";
        return m_rows[row][column];
    }

private:
    std::vector<std::vector<std::string>> m_rows;
};

TEST_F(KtdDetails, HeatmapBandsChannelOverlapAndUntrustedPoints) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    const std::string grid = dir.File("g.asc");
    // With a radius of 8 only the node on a point has a value: the point's own.
    auto nodes = [&](const std::string& options) {
        const KtdRun run =
            RunKtd("heatmap --projection " + projection + " --cell 10 --radius 8 --grid " + grid +
                   " " + options + " " + survey);
        EXPECT_EQ(run.status, 0) << options << ": " << run.err;
        return std::vector<std::string>{
            GridValues(Text(grid)).At(5, 5), GridValues(Text(grid)).At(55, 45),
            GridValues(Text(grid)).At(95, 75), GridValues(Text(grid)).At(95, 5)};
    };
    using Nodes = std::vector<std::string>;
    // P1, the deleted P2, P3 without a fix, the stop P4.
    EXPECT_EQ(nodes(""), (Nodes{"-40.00", "-9999", "-9999", "-60.00"}));
    EXPECT_EQ(nodes("--include-no-fix"), (Nodes{"-40.00", "-9999", "-45.00", "-60.00"}));
    EXPECT_EQ(nodes("--band 2.4"), (Nodes{"-50.00", "-9999", "-9999", "-100.00"}));
    EXPECT_EQ(nodes("--band 6"), (Nodes{"-100.00", "-9999", "-9999", "-65.00"}));
    EXPECT_EQ(nodes("--band 2.4 --metric count"), (Nodes{"3.00", "-9999", "-9999", "0.00"}));
    // On 2.4 GHz P1's own access point is on channel 6: channel 8 at -70 and
    // channel 3 at -81.5 share it; channel 11 and -82 do not.
    EXPECT_EQ(nodes("--band 2.4 --metric channel-overlap"),
              (Nodes{"2.00", "-9999", "-9999", "0.00"}));
    // Over every band P1 is served on 5 GHz, alone there; P4's strongest
    // access point has no known channel: no value.
    EXPECT_EQ(nodes("--metric channel-overlap"), (Nodes{"0.00", "-9999", "-9999", "-9999"}));

    const KtdRun badBand =
        RunKtd("heatmap --projection " + projection + " --band 5.8 --grid " + grid + " " + survey);
    EXPECT_EQ(badBand.status, 2);
    EXPECT_NE(badBand.err.find("unknown band \"5.8\" (2.4, 5 or 6)"), std::string::npos)
        << badBand.err;
    const KtdRun help = RunKtd("heatmap --help");
    EXPECT_NE(help.out.find("channel-overlap"), std::string::npos);
    EXPECT_NE(help.out.find("-82 dBm"), std::string::npos);
}

TEST_F(KtdDetails, HeatmapRefusesDetailsTheSurveyDoesNotHold) {
    const std::string projection = Projection();
    const std::string survey = Survey(false);
    const std::string grid = dir.File("g.asc");
    for (const char* options : {"--band 5", "--metric channel-overlap"}) {
        const KtdRun run = RunKtd("heatmap --projection " + projection + " --grid " + grid + " " +
                                  options + " " + survey);
        EXPECT_EQ(run.status, 2) << options;
        EXPECT_NE(run.err.find("has no side store"), std::string::npos) << run.err;
    }
    // Without a side store every point is used as the file has it.
    const KtdRun plain = RunKtd("heatmap --projection " + projection +
                                " --cell 10 --radius 8 --grid " + grid + " " + survey);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(GridValues(Text(grid)).At(55, 45), "-30.00");
    EXPECT_EQ(GridValues(Text(grid)).At(95, 75), "-45.00");
}

TEST_F(KtdDetails, ReportSplitsNetworksByBandAndLeavesOutUntrustedPoints) {
    const std::string pdf = dir.File("report.pdf");
    const KtdRun run =
        RunKtd("report --projection " + Projection() + " " + Survey() + " -o " + pdf);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string txt = pdf + ".txt";
    ASSERT_EQ(std::system(("pdftotext -layout " + pdf + " " + txt).c_str()), 0);
    const std::string text = Text(txt);
    for (const char* expected :
         {"Survey points: 2", "Network \"LAB\", 2.4 GHz", "Network \"FIVE\", 5 GHz",
          "Network \"SIX\", 6 GHz", "Network \"UNK\", band unknown", "wpa3"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    EXPECT_EQ(text.find("NOFIX"), std::string::npos);
    EXPECT_EQ(text.find("DEL"), std::string::npos);
}

#endif

}  // namespace
}  // namespace ketrion::testing
