// ktd's exports on what real surveys hold: 32-byte network names and names
// with a zero byte (the collection file keeps 31 bytes up to the zero, the
// side store all of them), points stored before the first fix (0,0, fix class
// 0) with and without the side store, and WiGLE's fixed coordinate precision.

#include <nlohmann/json.hpp>

#include <regex>
#include <string>
#include <vector>

#include "ktd_heatmap_fixture.h"
#include "survey/CollectionFile.h"
#include "survey/SideStore.h"

namespace ketrion::testing {
namespace {

const std::string kLong = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32 bytes, legal
const std::string kWithZero("AB\0CD", 5);

class KtdExportReal : public HeatmapSite {
protected:
    static constexpr std::int64_t kFirst = 33;  // header and record-size block
    static constexpr std::int64_t kSecond =
        kFirst + collection::kLocationSize + 2 * collection::kReadingSize;
    static constexpr std::int64_t kThird =
        kSecond + collection::kLocationSize + collection::kReadingSize;

    // P1: a 3D fix at 52.2 N 0.12001 E with the long name and the one with a
    //     zero; P2: taken before the first fix (0,0, fix class 0); P3: a 3D fix
    //     at exactly 0,0 (a real place).
    std::string Survey(bool withSide) {
        const std::string path = dir.File(withSide ? "side.ktd" : "bare.ktd");
        Bytes bytes = FileBuilder()
                          .Location(187920000, 432036, 2)  // 52.2, 0.12001 degrees
                          .Reading(-50 * 256, 0x01, kLong.substr(0, 31).c_str())
                          .Reading(-60 * 256, 0x02, "AB")
                          .Location(0, 0, 1)
                          .Reading(-45 * 256, 0x03, "NOWHERE")
                          .Location(0, 0, 1)
                          .Reading(-70 * 256, 0x04, "GULF")
                          .bytes();
        bytes[kFirst + collection::kFixClassAt] = 2;
        bytes[kThird + collection::kFixClassAt] = 2;
        WriteBytes(path, bytes);
        if (withSide)
            WriteSide(path);
        return path;
    }

    static SideStore::Reading Named(int index, std::uint8_t last, const std::string& ssid) {
        SideStore::Reading r;
        r.index = index;
        r.bssid = "00:1a:2b:3c:4d:0" + std::to_string(last);
        r.ssid = ssid;
        return r;
    }

    static void WriteSide(const std::string& path) {
        const Bytes bytes = ReadBytes(path);
        std::string message;
        auto store = SideStore::OpenForWriting(path, SideIdentity(path, bytes.data()), &message);
        ASSERT_NE(store, nullptr) << message;
        SideStore::Point p1;
        p1.offset = kFirst;
        p1.method = "gpsd";
        SideStore::Point p2;
        p2.offset = kSecond;
        p2.method = "gpsd";
        p2.fixFlag = "no-fix";
        SideStore::Point p3;
        p3.offset = kThird;
        p3.method = "gpsd";
        ASSERT_TRUE(store->WritePoints({p1, p2, p3},
                                       {{kFirst, {Named(0, 1, kLong), Named(1, 2, kWithZero)}},
                                        {kSecond, {Named(0, 3, "NOWHERE")}},
                                        {kThird, {Named(0, 4, "GULF")}}},
                                       &message))
            << message;
        ASSERT_TRUE(store->Close(&message)) << message;
    }
};

TEST_F(KtdExportReal, EveryFormatWritesTheSideStoresFullNames) {
    const std::string survey = Survey(true);
    // The zero byte as each format carries it: escaped in JSON, U+FFFD where
    // XML and CSV cannot hold it.
    const std::string fffd = "\xEF\xBF\xBD";
    struct Case {
        const char* args;
        std::string longName, zeroName;
    } cases[] = {
        {"export --format geojson", "\"" + kLong + "\"", "\"AB\\u0000CD\""},
        {"export --format kml", " " + kLong + "\n", " AB" + fffd + "CD"},
        {"export --format wigle", "," + kLong + ",", ",AB" + fffd + "CD,"},
        {"csv", "\"" + kLong + "\"", "\"AB\\x00CD\""},
    };
    for (const Case& c : cases) {
        const KtdRun run = RunKtd(std::string(c.args) + " " + survey);
        ASSERT_EQ(run.status, 0) << c.args << run.err;
        EXPECT_NE(run.out.find(c.longName), std::string::npos) << c.args << "\n" << run.out;
        EXPECT_NE(run.out.find(c.zeroName), std::string::npos) << c.args << "\n" << run.out;
    }
    // Without the store the file's 31 bytes are all there is.
    const KtdRun bare = RunKtd("export --format geojson " + Survey(false));
    EXPECT_NE(bare.out.find("\"" + kLong.substr(0, 31) + "\""), std::string::npos) << bare.out;
}

TEST_F(KtdExportReal, PointsWithoutAPositionAreNeverPlacedAtZeroZero) {
    struct Case {
        bool withSide;
        const char* format;
        const char* unplaced;  // what stderr says
    } cases[] = {
        {true, "geojson", "ktd: 1 point without a position: written with a null geometry"},
        {false, "geojson", "ktd: 1 point without a position: written with a null geometry"},
        {true, "kml", "ktd: 1 point without a position: left out"},
        {false, "kml", "ktd: 1 point without a position: left out"},
        {true, "wigle", "ktd: 1 point without a position: left out"},
        {false, "wigle", "ktd: 1 point without a position: left out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + (c.withSide ? " with" : " without") + " side store");
        const std::string survey = Survey(c.withSide);
        const KtdRun run =
            RunKtd(std::string("export --include-no-fix --format ") + c.format + " " + survey);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find(c.unplaced), std::string::npos) << run.err;
        // The point at a real 0,0 is kept; the one taken before a fix is not placed.
        EXPECT_NE(run.out.find("GULF"), std::string::npos);
        if (std::string(c.format) == "geojson") {
            const nlohmann::json doc = nlohmann::json::parse(run.out);
            ASSERT_EQ(doc["features"].size(), 3u);
            EXPECT_TRUE(doc["features"][1]["geometry"].is_null());
            EXPECT_EQ(doc["features"][1]["properties"]["index"], 2);
            EXPECT_EQ(doc["features"][2]["geometry"]["coordinates"],
                      nlohmann::json::parse("[0.0,0.0]"));
        } else {
            EXPECT_EQ(run.out.find("NOWHERE"), std::string::npos) << run.out;
        }
    }
}

TEST_F(KtdExportReal, WigleCoordinatesHaveSevenFixedDecimals) {
    const KtdRun run = RunKtd("export --format wigle " + Survey(true));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(",52.2000000,0.1200100,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(",0.0000000,0.0000000,"), std::string::npos) << run.out;
    // Every row: MAC,SSID,AuthMode,FirstSeen,Channel,Frequency,RSSI,lat,lon,...
    const std::regex row(R"(^00:1a[^\r]*,-?\d+,-?\d+\.\d{7},-?\d+\.\d{7},[^\r]*WIFI\r$)");
    std::istringstream lines(run.out);
    std::string line;
    int rows = 0;
    while (std::getline(lines, line)) {
        if (!line.starts_with("00:1a"))
            continue;
        ++rows;
        EXPECT_TRUE(std::regex_match(line, row)) << line;
    }
    EXPECT_EQ(rows, 3);
}

}  // namespace
}  // namespace ketrion::testing
