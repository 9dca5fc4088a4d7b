// ktd export, run as the user runs it: each format is parsed back (a JSON
// parser, an XML parser, an RFC 4180 reader) and checked point by point and
// reading by reading against what `ktd dump` prints for the same file.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "analysis/ExportText.h"
#include "analysis/ExportWigle.h"
#include "support/Geodesic.h"
#include "support/Rfc4180.h"
#include "support/SiteDataFixture.h"
#include "support/ToolRun.h"

#ifdef KETRION_TEST_XML
#include <QXmlStreamReader>
#endif

namespace ketrion::testing {
namespace {

const char* const kKtd = "tools/ktd/ktd";
const std::string kFffd = "\xEF\xBF\xBD";

// What `ktd dump` says about one reading and one point.
struct DumpReading {
    std::string mac;  // as the exports write it: lower case, colons
    double signal = 0;
    int attribute = 0;
    std::string ssid;  // raw bytes (dump's \xHH escapes undone)
};
struct DumpPoint {
    int index = 0;
    std::string kind, latitude, longitude, date, time, fix;
    std::vector<DumpReading> readings;
    // The point's strongest signal as the disc colour takes it.
    int Strongest() const {
        int strongest = -100;
        if (kind != "survey")
            return strongest;
        for (const DumpReading& r : readings)
            strongest = std::max(strongest, static_cast<int>(r.signal));  // toward zero
        return strongest;
    }
    bool HasTime() const { return date != "0000-00-00"; }
};

std::string Unescape(const std::string& printable) {
    std::string out;
    for (std::size_t i = 0; i < printable.size(); ++i) {
        if (printable[i] == '\\' && i + 3 < printable.size() && printable[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(printable.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += printable[i];
        }
    }
    return out;
}

std::vector<DumpPoint> Dump(const std::string& path) {
    const ToolRun run = RunTool(kKtd, {"dump", path});
    EXPECT_EQ(run.status, 0) << run.err;
    static const std::regex point(
        R"(point (\d+) at \d+: (\S+) (\S+) (\S+) (\S+) (\S+) fix (\S+) readings \d+)");
    static const std::regex reading(R"re(  (\S+) (\S+) dBm attr 0x([0-9A-F]{2}) "(.*)")re");
    std::vector<DumpPoint> points;
    std::size_t start = 0;
    while (start < run.out.size()) {
        const std::size_t end = run.out.find('\n', start);
        const std::string line = run.out.substr(start, end - start);
        start = end == std::string::npos ? run.out.size() : end + 1;
        std::smatch m;
        if (std::regex_match(line, m, point)) {
            DumpPoint p;
            p.index = std::stoi(m[1]);
            p.kind = m[2];
            p.latitude = m[3];
            p.longitude = m[4];
            p.date = m[5];
            p.time = m[6];
            p.fix = m[7];
            points.push_back(p);
        } else if (std::regex_match(line, m, reading)) {
            DumpReading r;
            r.mac = m[1];  // dump and exports write addresses alike
            r.signal = std::stod(m[2]);
            r.attribute = std::stoi(m[3], nullptr, 16);
            r.ssid = Unescape(m[4]);
            points.back().readings.push_back(r);
        }
    }
    return points;
}

std::string Fixed7(double degrees) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", degrees);
    return text;
}

// A survey with the cases that matter: names a parser would trip over, a
// fractional signal, a dynamic access point, a point without readings and
// before any GPS time, and one whose readings are all below -100 dBm.
std::string WriteTrickySurvey(const TempDir& dir) {
    Bytes bytes = FileBuilder()
                      .Location(144000000, -268200000, 4)
                      .Reading(-72 * 256, 0x5E, "LAB1", 0x11)
                      .Reading(-60 * 256 + 128, 0x01, "a,\"b\"\n<&>' ]]>", 0x02)
                      .Reading(-45 * 256, 0x02, "caf\xE9", 0x0B)
                      .Reading(-80 * 256, 0x03, "caf\xC3\xA9 \x01", 0x01)
                      .Location(-1800000, 3600000, 0, 1)
                      .Location(121956832, 544373640, 0)
                      .Location(-121956832, -1, 2)
                      .Reading(-101 * 256, 0x5E, "LAB1", 0x11)
                      .Reading(-120 * 256, 0xAB, "", 0)
                      .bytes();
    const auto setTime = [&](std::size_t at, unsigned year, unsigned month, unsigned day,
                             std::uint8_t fix) {
        collection::Put16(&bytes[at + collection::kYearAt], static_cast<std::uint16_t>(year));
        bytes[at + collection::kMonthAt] = static_cast<std::uint8_t>(month);
        bytes[at + collection::kDayAt] = static_cast<std::uint8_t>(day);
        bytes[at + collection::kHourAt] = 23;
        bytes[at + collection::kMinuteAt] = 59;
        bytes[at + collection::kSecondAt] = 58;
        bytes[at + collection::kFixClassAt] = fix;
    };
    setTime(33, 2026, 12, 31, 2);
    const std::size_t fourth = 33 + 61 + 4 * 41 + 61 + 61;
    setTime(fourth, 2024, 2, 29, 1);
    const std::string path = dir.File("tricky.ktd");
    WriteBytes(path, bytes);
    return path;
}

std::string Export(const std::string& format, const std::string& path) {
    const ToolRun run = RunTool(kKtd, {"export", "--format", format, path});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return run.out;
}

// The surveys every format is checked on.
std::vector<std::string> Surveys(const TempDir& dir) {
    return {WriteTrickySurvey(dir),
            std::string(KETRION_SOURCE_DIR) + "/tests/data/collection/session.ktd"};
}

TEST(KtdExport, GeoJsonMatchesTheDump) {
    TempDir dir;
    for (const std::string& path : Surveys(dir)) {
        SCOPED_TRACE(path);
        const std::vector<DumpPoint> dump = Dump(path);
        const std::string text = Export("geojson", path);
        // Coordinates carry at least 7 decimals and no exponent.
        const std::regex coordinates(R"("coordinates":\[(-?\d+\.\d+),(-?\d+\.\d+)\])");
        std::size_t written = 0;
        for (auto it = std::sregex_iterator(text.begin(), text.end(), coordinates);
             it != std::sregex_iterator(); ++it) {
            for (int k = 1; k <= 2; ++k) {
                const std::string number = (*it)[k];
                EXPECT_GE(number.size() - number.find('.') - 1, 7u) << number;
            }
            ++written;
        }
        EXPECT_EQ(written, dump.size());

        const nlohmann::json doc = nlohmann::json::parse(text);  // throws on invalid JSON
        EXPECT_EQ(doc["type"], "FeatureCollection");
        const nlohmann::json& features = doc["features"];
        ASSERT_EQ(features.size(), dump.size());
        for (std::size_t i = 0; i < dump.size(); ++i) {
            const DumpPoint& d = dump[i];
            const nlohmann::json& f = features[i];
            const nlohmann::json& p = f["properties"];
            SCOPED_TRACE(d.index);
            EXPECT_EQ(f["type"], "Feature");
            EXPECT_EQ(f["geometry"]["type"], "Point");
            EXPECT_EQ(Fixed7(f["geometry"]["coordinates"][0].get<double>()), d.longitude);
            EXPECT_EQ(Fixed7(f["geometry"]["coordinates"][1].get<double>()), d.latitude);
            EXPECT_EQ(p["index"], d.index);
            EXPECT_EQ(p["kind"], d.kind);
            EXPECT_EQ(p["fix"], d.fix);
            if (d.HasTime()) {
                EXPECT_EQ(p["time"], d.date + "T" + d.time + "Z");
            } else {
                EXPECT_TRUE(p["time"].is_null());
            }
            if (d.kind != "survey") {
                EXPECT_FALSE(p.contains("readings"));
                continue;
            }
            EXPECT_EQ(p["strongest"], d.Strongest());
            ASSERT_EQ(p["readings"].size(), d.readings.size());
            for (std::size_t k = 0; k < d.readings.size(); ++k) {
                const nlohmann::json& r = p["readings"][k];
                EXPECT_EQ(r["mac"], d.readings[k].mac);
                EXPECT_EQ(r["signal"].get<double>(), d.readings[k].signal);
                EXPECT_EQ(r["attribute"], d.readings[k].attribute);
                EXPECT_EQ(r["ssid"], analysis::ValidUtf8(d.readings[k].ssid));
            }
        }
    }
}

TEST(KtdExport, GeoJsonKeepsEveryStoredDigitAndNamesAsText) {
    TempDir dir;
    const nlohmann::json doc = nlohmann::json::parse(Export("geojson", WriteTrickySurvey(dir)));
    const nlohmann::json& features = doc["features"];
    // The stored integer times the double nearest 1/3,600,000, exactly.
    EXPECT_EQ(features[2]["geometry"]["coordinates"][0].get<double>(),
              544373640 * (1.0 / 3600000.0));
    EXPECT_EQ(features[3]["geometry"]["coordinates"][1].get<double>(),
              -121956832 * (1.0 / 3600000.0));
    const nlohmann::json& readings = features[0]["properties"]["readings"];
    EXPECT_EQ(readings[1]["signal"], -59.5);
    EXPECT_TRUE(readings[0]["signal"].is_number_integer());
    EXPECT_EQ(readings[1]["ssid"], "a,\"b\"\n<&>' ]]>");
    EXPECT_EQ(readings[2]["ssid"], "caf" + kFffd);
    EXPECT_EQ(readings[3]["ssid"], "caf\xC3\xA9 \x01");
    EXPECT_EQ(features[3]["properties"]["strongest"], -100);
    EXPECT_EQ(features[3]["properties"]["time"], "2024-02-29T23:59:58Z");
    EXPECT_EQ(features[1]["properties"]["kind"], "dynamic-ap");
}

TEST(KtdExport, WigleCsvMatchesTheDump) {
    TempDir dir;
    for (const std::string& path : Surveys(dir)) {
        SCOPED_TRACE(path);
        const std::vector<DumpPoint> dump = Dump(path);
        std::string error;
        const auto records = ReadRfc4180(Export("wigle", path), error);
        ASSERT_TRUE(records) << error;
        ASSERT_GE(records->size(), 2u);
        EXPECT_EQ((*records)[0][0], "WigleWifi-1.6");
        std::string columns;
        for (const std::string& c : (*records)[1])
            columns += (columns.empty() ? "" : ",") + c;
        EXPECT_EQ(columns,
                  "MAC,SSID,AuthMode,FirstSeen,Channel,Frequency,RSSI,CurrentLatitude,"
                  "CurrentLongitude,AltitudeMeters,AccuracyMeters,RCOIs,MfgrId,Type");
        std::size_t row = 2;
        for (const DumpPoint& d : dump) {
            if (d.kind != "survey")
                continue;
            for (const DumpReading& r : d.readings) {
                SCOPED_TRACE(std::to_string(d.index) + " " + r.mac);
                ASSERT_LT(row, records->size());
                const CsvRecord& f = (*records)[row++];
                ASSERT_EQ(f.size(), 14u);
                EXPECT_EQ(f[0], r.mac);
                // Terminal controls replaced, formulas neutralised by default.
                EXPECT_EQ(f[1],
                          analysis::NeutralisedFormula(analysis::WithoutTerminalControls(r.ssid)));
                EXPECT_EQ(f[2], "");
                EXPECT_EQ(f[3], d.HasTime() ? d.date + " " + d.time : "");
                EXPECT_EQ(f[4] + f[5], "");
                EXPECT_EQ(f[6], std::to_string(static_cast<int>(r.signal)));
                EXPECT_EQ(Fixed7(std::stod(f[7])), d.latitude);
                EXPECT_EQ(Fixed7(std::stod(f[8])), d.longitude);
                EXPECT_GE(f[7].size() - f[7].find('.') - 1, 6u);
                EXPECT_EQ(f[9] + f[10] + f[11] + f[12], "");
                EXPECT_EQ(f[13], "WIFI");
            }
        }
        EXPECT_EQ(row, records->size());
    }
}

TEST(KtdExport, WigleCsvQuotesNamesAsRfc4180Says) {
    TempDir dir;
    const std::string text = Export("wigle", WriteTrickySurvey(dir));
    EXPECT_TRUE(text.starts_with("WigleWifi-1.6,"));
    EXPECT_NE(text.find(std::string("\r\n") + analysis::kWigleColumns + "\r\n"), std::string::npos);
    // The quoted name spans a line break; -59.5 dBm is -59 as the file is read.
    EXPECT_NE(
        text.find("\r\n00:1a:2b:3c:4d:01,\"a,\"\"b\"\"\n<&>' ]]>\",,2026-12-31 23:59:58,,,-59,"
                  "40.0000000,-74.5000000,,,,,WIFI\r\n"),
        std::string::npos)
        << text;
    // No time stored: FirstSeen is left empty rather than written as 0000-00-00.
    EXPECT_EQ(text.find("0000-00-00"), std::string::npos);
}

#ifdef KETRION_TEST_XML
struct KmlPlacemark {
    std::string folder, name, description, when, style, index, coordinates;
};

// The placemarks and style colours of a KML document; fails the test when it
// is not well-formed XML.
std::vector<KmlPlacemark> ParseKml(const std::string& text,
                                   std::map<std::string, std::string>& colours) {
    QXmlStreamReader xml(QByteArray::fromStdString(text));
    std::vector<KmlPlacemark> placemarks;
    std::string folder, style;
    KmlPlacemark* current = nullptr;
    bool folderName = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const QString name = xml.name().toString();
            EXPECT_EQ(xml.namespaceUri().toString(), "http://www.opengis.net/kml/2.2");
            if (name == "Folder") {
                folderName = true;
            } else if (name == "Style") {
                style = xml.attributes().value("id").toString().toStdString();
            } else if (name == "color") {
                colours[style] = xml.readElementText().toStdString();
            } else if (name == "Placemark") {
                placemarks.emplace_back().folder = folder;
                current = &placemarks.back();
                folderName = false;
            } else if (name == "name") {
                const std::string value = xml.readElementText().toStdString();
                if (current)
                    current->name = value;
                else if (folderName)
                    folder = value;
                folderName = false;
            } else if (current && name == "description") {
                current->description = xml.readElementText().toStdString();
            } else if (current && name == "when") {
                current->when = xml.readElementText().toStdString();
            } else if (current && name == "styleUrl") {
                current->style = xml.readElementText().toStdString();
            } else if (current && name == "value") {
                current->index = xml.readElementText().toStdString();
            } else if (current && name == "coordinates") {
                current->coordinates = xml.readElementText().toStdString();
            }
        } else if (xml.isEndElement() && xml.name().toString() == "Placemark") {
            current = nullptr;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line "
                                 << xml.lineNumber();
    return placemarks;
}

TEST(KtdExport, KmlMatchesTheDump) {
    TempDir dir;
    for (const std::string& path : Surveys(dir)) {
        SCOPED_TRACE(path);
        const std::vector<DumpPoint> dump = Dump(path);
        std::map<std::string, std::string> colours;
        const std::vector<KmlPlacemark> placemarks = ParseKml(Export("kml", path), colours);
        EXPECT_EQ(colours["level0"], "ff000000");
        EXPECT_EQ(colours["level1"], "ff0000c0");  // KML colours are alpha, blue, green, red
        EXPECT_EQ(colours["level2"], "ff00c000");
        EXPECT_EQ(colours["level3"], "ffc00000");
        EXPECT_EQ(colours["level4"], "ffffffff");
        std::size_t next = 0;
        for (const std::string& folder :
             std::vector<std::string>{"Survey points", "Dynamic access points"}) {
            for (const DumpPoint& d : dump) {
                if ((d.kind == "survey") != (folder == "Survey points"))
                    continue;
                SCOPED_TRACE(d.index);
                ASSERT_LT(next, placemarks.size());
                const KmlPlacemark& p = placemarks[next++];
                EXPECT_EQ(p.folder, folder);
                EXPECT_EQ(p.index, std::to_string(d.index));
                const std::size_t comma = p.coordinates.find(',');
                ASSERT_NE(comma, std::string::npos);
                EXPECT_EQ(Fixed7(std::stod(p.coordinates.substr(0, comma))), d.longitude);
                EXPECT_EQ(Fixed7(std::stod(p.coordinates.substr(comma + 1))), d.latitude);
                EXPECT_GE(comma - p.coordinates.find('.') - 1, 6u);
                EXPECT_EQ(p.when, d.HasTime() ? d.date + "T" + d.time + "Z" : "");
                if (d.kind != "survey") {
                    EXPECT_EQ(p.style, "#dynamic-ap");
                    continue;
                }
                EXPECT_EQ(p.name, std::to_string(d.Strongest()) + " dBm");
                EXPECT_EQ(p.style, "#level" + std::to_string(analysis::SignalLevel(d.Strongest())));
                // One description line per reading, in order, after the summary
                // line (a name may hold a line break itself).
                std::size_t at = 0;
                for (const DumpReading& r : d.readings) {
                    const std::string line = "\n" + r.mac + " " + analysis::DbmText(r.signal) +
                                             " dBm attr " + std::to_string(r.attribute) + " ";
                    at = p.description.find(line, at);
                    ASSERT_NE(at, std::string::npos) << line << " in " << p.description;
                    at += line.size();
                }
            }
        }
        // Then the estimated access points, one per address heard.
        std::map<std::string, bool> heard;
        for (const DumpPoint& d : dump)
            for (const DumpReading& r : d.readings)
                heard[r.mac] = d.kind == "survey";
        std::size_t estimates = 0;
        for (; next < placemarks.size(); ++next) {
            EXPECT_EQ(placemarks[next].folder, "Access points");
            EXPECT_EQ(placemarks[next].style, "#access-point");
            ++estimates;
        }
        EXPECT_EQ(estimates, heard.size());
    }
}

TEST(KtdExport, KmlEscapesNamesAndKeepsThemReadable) {
    TempDir dir;
    std::map<std::string, std::string> colours;
    const std::vector<KmlPlacemark> placemarks =
        ParseKml(Export("kml", WriteTrickySurvey(dir)), colours);
    ASSERT_FALSE(placemarks.empty());
    const std::string& description = placemarks[0].description;
    EXPECT_NE(description.find("00:1a:2b:3c:4d:01 -59.50 dBm attr 2 a,\"b\"\n<&>' ]]>"),
              std::string::npos)
        << description;
    EXPECT_NE(description.find("attr 11 caf" + kFffd), std::string::npos);
    EXPECT_NE(description.find("caf\xC3\xA9 " + kFffd), std::string::npos);  // control character
    EXPECT_EQ(placemarks[0].name, "-45 dBm");
    EXPECT_EQ(placemarks[0].style, "#level3");
    // The point whose readings are all below -100 dBm gets the floor and the black disc.
    EXPECT_EQ(placemarks[2].name, "-100 dBm");
    EXPECT_EQ(placemarks[2].style, "#level0");
    // An estimate is named by its network, or by its address when hidden.
    std::vector<std::string> names;
    for (const KmlPlacemark& p : placemarks)
        if (p.folder == "Access points")
            names.push_back(p.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"a,\"b\"\n<&>' ]]>", "caf" + kFffd, "caf\xC3\xA9 " + kFffd,
                                        "LAB1", "00:1a:2b:3c:4d:ab"}));
}
#endif

TEST(KtdExport, OutputFileIsReplacedWholeOrNotAtAll) {
    TempDir dir;
    const std::string survey = WriteTrickySurvey(dir);
    const std::string out = dir.File("survey.geojson");
    WriteBytes(out, Bytes{'o', 'l', 'd'});
    ToolRun run = RunTool(kKtd, {"export", "--format", "GeoJSON", "-o", out, survey});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    const Bytes written = ReadBytes(out);
    EXPECT_EQ(std::string(written.begin(), written.end()), Export("geojson", survey));
    // Only the survey and the export are left: no temporary file.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                            std::filesystem::directory_iterator()),
              2);

    // The collection file itself is never overwritten.
    const Bytes before = ReadBytes(survey);
    run = RunTool(kKtd, {"export", "--format", "kml", "-o", survey, survey});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "ktd: " + survey + " is the collection file itself; choose another output\n");
    EXPECT_EQ(ReadBytes(survey), before);

    // "-" is standard output.
    run = RunTool(kKtd, {"export", "--format", "wigle", "-o", "-", survey});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Export("wigle", survey));

    // A folder that does not exist: a message, nothing written.
    run = RunTool(kKtd, {"export", "--format", "wigle", "-o", dir.File("none/out.csv"), survey});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.err.starts_with("ktd: cannot write " + dir.File("none/out.csv") + ": "))
        << run.err;
}

TEST(KtdExport, DamagedFilesExportWhatCouldBeReadAndSayWhy) {
    TempDir dir;
    const Bytes good = FileBuilder()
                           .Location(144000000, -268200000, 2)
                           .Reading(-50 * 256, 1, "a")
                           .Reading(-51 * 256, 2, "b")
                           .Location(0, 0, 1)
                           .Reading(-52 * 256, 3, "c")
                           .bytes();
    const std::string path = dir.File("cut.ktd");
    WriteBytes(path, Bytes(good.begin(), good.end() - 5));
    const ToolRun run = RunTool(kKtd, {"export", "--format", "geojson", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "ktd: 1 point without a position: written with a null geometry\nktd: The "
              "collection file " +
                  path + " is damaged: it ends inside point 2 (after 0 of its 1 readings).\n");
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(doc["features"].size(), 2u);
    EXPECT_EQ(doc["features"][0]["properties"]["readings"].size(), 2u);
    EXPECT_EQ(doc["features"][1]["properties"]["readings"].size(), 0u);
}

TEST(KtdExport, PointsOfAPlanMadeWithoutAPositionNeedItsOrigin) {
    TempDir dir;
    // 33.17 m north and 55.66 m east of 0 N 0 E, where such a plan lies.
    const std::string path = dir.File("local.ktd");
    WriteBytes(path, FileBuilder().Location(1080, 1800, 1).Reading(-50 * 256, 1, "a").bytes());
    for (const char* format : {"geojson", "kml", "wigle"}) {
        SCOPED_TRACE(format);
        const std::string out = dir.File(std::string("out.") + format);
        const ToolRun refused = RunTool(kKtd, {"export", "--format", format, "-o", out, path});
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find(path + ": its points lie near 0 N 0 E"), std::string::npos)
            << refused.err;
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(RunTool(kKtd, {"export", "--format", format, path}).out, "");
    }
    // With the plan's true origin the point keeps its distance and bearing from it.
    const ToolRun placed =
        RunTool(kKtd, {"export", "--format", "geojson", "--origin", "52.2,0.12", path});
    ASSERT_EQ(placed.status, 0) << placed.err;
    const auto at = nlohmann::json::parse(placed.out)["features"][0]["geometry"]["coordinates"];
    const Geodesic moved = Vincenty(52.2, 0.12, at[1].get<double>(), at[0].get<double>());
    const Geodesic stored = Vincenty(0, 0, 1080 / 3.6e6, 1800 / 3.6e6);
    EXPECT_NEAR(moved.metres, stored.metres, 0.05);
    EXPECT_NEAR(moved.azimuthDegrees, stored.azimuthDegrees, 0.05);
    EXPECT_EQ(RunTool(kKtd, {"export", "--format", "kml", "--origin", "north", path}).status, 2);
}

TEST(KtdExport, UsageAndOpenErrors) {
    TempDir dir;
    const std::string survey = WriteTrickySurvey(dir);
    EXPECT_EQ(RunTool(kKtd, {"export", survey}).status, 2);  // no format
    const ToolRun bad = RunTool(kKtd, {"export", "--format", "shapefile", survey});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("shapefile"), std::string::npos);
    const ToolRun missing = RunTool(kKtd, {"export", "--format", "kml", dir.File("none.ktd")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err,
              "ktd: cannot open " + dir.File("none.ktd") + ": No such file or directory\n");
    // An empty collection still makes a valid, empty document.
    const std::string empty = dir.File("empty.ktd");
    WriteBytes(empty, FileBuilder().bytes());
    EXPECT_EQ(nlohmann::json::parse(Export("geojson", empty))["features"].size(), 0u);
    std::string error;
    const auto records = ReadRfc4180(Export("wigle", empty), error);
    ASSERT_TRUE(records) << error;
    EXPECT_EQ(records->size(), 2u);
}

}  // namespace
}  // namespace ketrion::testing
