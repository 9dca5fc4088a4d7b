// ktd's radio metrics on a small site whose side store holds noise, channel,
// width and PHY: the values at the points, the noise sources said, and the
// refusal (status 2, nothing written) of a metric whose detail no reading has.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ktd_heatmap_fixture.h"
#include "survey/SideStore.h"

namespace ketrion::testing {
namespace {

// GCC 12 at -O3 sees the builder's vector growth through inlining and warns of
// a bound it cannot prove (a known false positive of -Warray-bounds).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
class KtdRadio : public HeatmapSite {
protected:
    // P1 at plan (5, 5): AP 10 at -50 on 5 GHz channel 36, 80 MHz, ax, noise
    //   -95; AP 20 at -70 on channel 40 (inside 36's 80 MHz block).
    // P2 at (95, 75): AP 30 at -60 on 2.4 GHz channel 6, n, 20 MHz, no noise;
    //   AP 40 at -75 on channel 11 (no overlap).
    std::string Survey(bool withSide = true) {
        const std::string path = dir.File("radio.ktd");
        FileBuilder file;
        file.Location(LatUnits(5), LonUnits(5), 2)
            .Reading(-50 * 256, 0x10, "A")
            .Reading(-70 * 256, 0x20, "B")
            .Location(LatUnits(75), LonUnits(95), 2)
            .Reading(-60 * 256, 0x30, "C")
            .Reading(-75 * 256, 0x40, "D");
        WriteBytes(path, file.bytes());
        std::filesystem::remove(SideStore::PathFor(path));
        if (withSide)
            WriteSide(path);
        return path;
    }

    static SideStore::Reading Heard(int index, std::uint8_t last, int frequency, const char* band,
                                    const char* phy, int width, std::optional<int> noise) {
        SideStore::Reading r;
        r.index = index;
        char bssid[20];
        std::snprintf(bssid, sizeof bssid, "00:1a:2b:3c:4d:%02x", last);
        r.bssid = bssid;
        r.frequencyMhz = frequency;
        r.band = band;
        r.phy = phy;
        r.widthMhz = width;
        r.noiseDbm = noise;
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
        SideStore::Point p2 = p1;
        p2.offset = 33 + 61 + 2 * 41;  // a location record is 61 bytes, a reading 41
        const std::map<std::int64_t, std::vector<SideStore::Reading>> readings = {
            {p1.offset,
             {Heard(0, 0x10, 5180, "5", "ax", 80, -95), Heard(1, 0x20, 5200, "5", "ac", 20, {})}},
            {p2.offset,
             {Heard(0, 0x30, 2437, "2.4", "n", 20, {}), Heard(1, 0x40, 2462, "2.4", "n", 20, {})}},
        };
        ASSERT_TRUE(store->WritePoints({p1, p2}, readings, &message)) << message;
        ASSERT_TRUE(store->Close(&message)) << message;
    }
};
#pragma GCC diagnostic pop

#if KTD_DRAWING

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// The node of an ESRI ASCII grid with 10-pixel cells at plan (x, y).
std::string NodeAt(const std::string& text, int x, int y) {
    std::istringstream in(text);
    std::string line;
    for (int i = 0; i < 6; ++i)
        std::getline(in, line);  // the header
    for (int row = 0; std::getline(in, line); ++row) {
        if (row != (y - 5) / 10)
            continue;
        std::istringstream cells(line);
        std::string cell;
        for (int column = 0; cells >> cell; ++column)
            if (column == (x - 5) / 10)
                return cell;
    }
    return "(outside)";
}

TEST_F(KtdRadio, HeatmapRadioMetricsAtThePoints) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    const std::string grid = dir.File("g.asc");
    struct Case {
        const char* options;
        std::string p1, p2;
    };
    // SNR: P1 -50 - -95; P2 -60 - the default -95. SIR: 20 shares 10's block.
    // Rate: P1 ax 80 MHz 2 streams at 45 dB (MCS 11 needs 34 + 6): 1200.98 Mbit/s;
    // P2 n 20 MHz at 35 dB: MCS 7, 130 Mbit/s.
    const Case cases[] = {
        {"--metric snr", "45.00", "35.00"},
        {"--metric sir", "20.00", "60.00"},
        {"--metric width", "80.00", "20.00"},
        {"--metric phy", "6.00", "4.00"},
        {"--metric rate", "1200.98", "130.00"},
        {"--metric third", "-100.00", "-100.00"},
        {"--metric snr --band 2.4", "-5.00", "35.00"},
        {"--metric rate --band 5", "1200.98", "0.00"},
    };
    for (const Case& c : cases) {
        const KtdRun run =
            RunKtd("heatmap --projection " + projection + " --cell 10 --radius 8 --grid " + grid +
                   " " + c.options + " " + survey);
        ASSERT_EQ(run.status, 0) << c.options << ": " << run.err;
        EXPECT_EQ(NodeAt(Text(grid), 5, 5), c.p1) << c.options;
        EXPECT_EQ(NodeAt(Text(grid), 95, 75), c.p2) << c.options;
    }
    const KtdRun snr = RunKtd("heatmap --projection " + projection + " --grid " + grid +
                              " --metric snr " + survey);
    EXPECT_NE(snr.err.find("noise floor: the side store's at 1 point, the default -95 dBm"),
              std::string::npos)
        << snr.err;
}

TEST_F(KtdRadio, HeatmapRefusesAMetricWhoseDetailNoReadingHas) {
    const std::string projection = Projection();
    const std::string survey = Survey(false);
    const std::string grid = dir.File("g.asc");
    const struct {
        const char* metric;
        const char* detail;
    } cases[] = {{"rate", "rate needs the PHY"},
                 {"phy", "phy needs the PHY"},
                 {"width", "width needs the channel width"},
                 {"sir", "sir needs the channel"}};
    for (const auto& c : cases) {
        const KtdRun run = RunKtd("heatmap --projection " + projection + " --grid " + grid +
                                  " --metric " + c.metric + " " + survey);
        EXPECT_EQ(run.status, 2) << c.metric;
        EXPECT_NE(run.err.find(c.detail), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(grid)) << c.metric;
    }
    // SNR needs no detail: the default noise floor, said.
    const KtdRun snr = RunKtd("heatmap --projection " + projection + " --grid " + grid +
                              " --metric snr " + survey);
    EXPECT_EQ(snr.status, 0) << snr.err;
    EXPECT_NE(snr.err.find("the default -95 dBm (no noise recorded) at 2 points"),
              std::string::npos)
        << snr.err;
}

TEST_F(KtdRadio, CheckJudgesEachBandPerPointAndOverTheArea) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    // Voice on 5 GHz: P1 passes (secondary -70, SIR 20), P2 hears nothing
    // there. On 2.4 GHz: P1 hears nothing, P2 passes (secondary exactly -75,
    // SNR 35 on the default noise, no co-channel access point).
    const KtdRun run =
        RunKtd("check --profile voice --json --projection " + projection + " " + survey);
    EXPECT_EQ(run.status, 3) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc["bands"].size(), 2U) << run.out;
    EXPECT_EQ(doc["pass"], false);
    const auto& b24 = doc["bands"][0];
    const auto& b5 = doc["bands"][1];
    EXPECT_EQ(b24["band"], "2.4");
    EXPECT_EQ(b24["points"][0]["fails"], "primary");
    EXPECT_EQ(b24["points"][1]["pass"], true);
    EXPECT_EQ(b24["points"][1]["snr"], 35.0);
    EXPECT_EQ(b5["points"][0]["pass"], true);
    EXPECT_EQ(b5["points"][0]["sir"], 20.0);
    EXPECT_EQ(b5["points"][1]["fails"], "primary");
    EXPECT_EQ(b5["area"]["fails_first"].size(), 1U);
    const std::size_t nodes = b5["area"]["nodes"];
    const std::size_t passing = b5["area"]["passing"];
    EXPECT_EQ(b5["area"]["fails_first"]["primary"], nodes - passing);

    // One band asked for; a profile file's own figures for that band.
    WriteBytes(dir.File("p.json"), ToBytes(R"({"primary":-55,"bands":{"5":{"primary":-45}}})"));
    const KtdRun five = RunKtd("check --band 5 --json --profile " + dir.File("p.json") +
                               " --projection " + projection + " " + survey);
    const auto fiveDoc = nlohmann::json::parse(five.out);
    ASSERT_EQ(fiveDoc["bands"].size(), 1U);
    EXPECT_EQ(fiveDoc["bands"][0]["requirements"]["primary"], -45.0);
    EXPECT_EQ(fiveDoc["bands"][0]["points"][0]["fails"], "primary");
}

TEST_F(KtdRadio, ReportGivesTheProfileVerdictsCheckGives) {
    const std::string projection = Projection();
    const std::string survey = Survey();
    const KtdRun check =
        RunKtd("check --profile voice --json --projection " + projection + " " + survey);
    const auto doc = nlohmann::json::parse(check.out);
    const std::string pdf = dir.File("report.pdf");
    const KtdRun run =
        RunKtd("report --profile voice --projection " + projection + " " + survey + " -o " + pdf);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string txt = pdf + ".txt";
    ASSERT_EQ(std::system(("pdftotext -layout " + pdf + " " + txt).c_str()), 0);
    const std::string text = Text(txt);
    for (const auto& band : doc["bands"]) {
        char share[32];
        std::snprintf(share, sizeof share, "%.1f %%", band["area"]["percent"].get<double>());
        // (pdftotext gives "fi" as a ligature: the titles are found without it.)
        const std::string title = "\"voice\", " + band["band"].get<std::string>() + " GHz";
        const std::size_t page = text.find(title);
        ASSERT_NE(page, std::string::npos) << title << "\n" << text;
        EXPECT_NE(text.find(std::string("Surveyed area meeting them: ") + share, page),
                  std::string::npos)
            << share << "\n"
            << text;
    }
    for (const char* expected : {"FAIL", "Why it fails", "fails: primary signal",
                                 "Share of the area", "Survey points meeting them: 1 of 2"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST_F(KtdRadio, CheckRefusesABadProfileOrOneNeedingWhatNoReadingHas) {
    const std::string projection = Projection();
    const struct {
        const char* legend;
        const char* json;  // null: the built-in voice profile
        bool side;
        const char* message;
    } cases[] = {
        {"unknown key", R"({"primary":-67,"sirr":3})", true, "p.json: unknown key \"sirr\""},
        {"NaN", R"({"snr":NaN})", true, "\"snr\" has no valid JSON value"},
        {"SIR without channels", nullptr, false,
         "the profile requires SIR, which needs the channel"},
    };
    for (const auto& c : cases) {
        std::string profile = "voice";
        if (c.json != nullptr) {
            profile = dir.File("p.json");
            WriteBytes(profile, ToBytes(c.json));
        }
        const KtdRun run = RunKtd("check --profile " + profile + " --projection " + projection +
                                  " " + Survey(c.side));
        EXPECT_EQ(run.status, 2) << c.legend;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.legend << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.legend;
    }
}

#endif  // KTD_DRAWING

}  // namespace
}  // namespace ketrion::testing
