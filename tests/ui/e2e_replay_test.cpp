// End to end: the real program surveys unattended with the laptop's adapter
// and with recordings of it, and what it writes is checked reading by reading
// against what was recorded.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/KetrionRun.h"
#include "support/SiteDataFixture.h"
#include "support/StoredSurvey.h"
#include "support/WifiFixtures.h"

namespace ketrion::testing {
namespace {

// One BSS as the test expects to find it: in the collection file when it has
// a dBm signal, in the side store always.
struct ExpectedBss {
    std::string bssid;
    std::string name;  // the name element's bytes
    int channel = 0;
    std::string band;
    std::string security;
    int frequency = 0;
    std::optional<int> signalMbm;
    std::optional<int> signalUnspec;
};

// The collection file's 1/256 dBm for a signal in 1/100 dBm.
std::int16_t Signal256(int mbm) {
    return static_cast<std::int16_t>(std::lround(mbm * 256.0 / 100.0));
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// The decoded recording as `ktwifi decode --json` printed it, scan by scan.
std::vector<std::vector<ExpectedBss>> ScansFromCheckFile(const std::string& path, int scans) {
    std::vector<std::vector<ExpectedBss>> out(static_cast<std::size_t>(scans));
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const nlohmann::json row = nlohmann::json::parse(line);
        ExpectedBss bss;
        bss.bssid = row["bssid"].get<std::string>();
        bss.name = FromHex(row["ssid_hex"].get<std::string>());
        bss.channel = row["channel"].get<int>();
        bss.band = row["band"].get<std::string>();
        bss.security = row["security"].get<std::string>();
        bss.frequency = row["freq"].get<int>();
        if (!row["signal_dbm"].is_null())
            bss.signalMbm = static_cast<int>(std::lround(row["signal_dbm"].get<double>() * 100));
        if (!row["signal_unspec"].is_null())
            bss.signalUnspec = row["signal_unspec"].get<int>();
        out.at(row["scan"].get<std::size_t>()).push_back(bss);
    }
    return out;
}

// Checks one point of the run against the BSSs of its scan: the collection
// file holds those with a dBm signal, strongest first (ties by address), each
// with its name cut to 31 bytes and its channel in the attribute byte; the
// side store holds every one, with its details.
void CheckPoint(const StoredSurvey& survey, const StoredPoint& point,
                std::vector<ExpectedBss> expected) {
    std::stable_sort(expected.begin(), expected.end(),
                     [](const ExpectedBss& a, const ExpectedBss& b) {
                         if (a.signalMbm.has_value() != b.signalMbm.has_value())
                             return a.signalMbm.has_value();
                         if (a.signalMbm && *a.signalMbm != *b.signalMbm)
                             return *a.signalMbm > *b.signalMbm;
                         return a.bssid < b.bssid;
                     });
    std::vector<const ExpectedBss*> inFile;
    for (const ExpectedBss& bss : expected) {
        if (bss.signalMbm)
            inFile.push_back(&bss);
    }
    ASSERT_EQ(point.readings.size(), inFile.size());
    for (std::size_t i = 0; i < inFile.size(); ++i) {
        const ExpectedBss& bss = *inFile[i];
        const StoredReading& reading = point.readings[i];
        SCOPED_TRACE("reading " + std::to_string(i) + " " + bss.bssid);
        EXPECT_EQ(MacText(reading.mac), bss.bssid);
        EXPECT_EQ(reading.signal256, Signal256(*bss.signalMbm));
        EXPECT_EQ(reading.attribute, bss.channel <= 255 ? bss.channel : 0);
        std::array<std::uint8_t, collection::kSsidField> field{};
        std::copy_n(bss.name.begin(), std::min<std::size_t>(bss.name.size(), field.size() - 1),
                    field.begin());
        EXPECT_EQ(reading.ssidField, field);
    }

    ASSERT_EQ(survey.sidePoints.count(point.offset), 1u);
    const SideStore::Point& side = survey.sidePoints.at(point.offset);
    EXPECT_EQ(side.scanSource, "wifi-replay");
    // Nothing gave a position: recorded all the same, and flagged.
    EXPECT_EQ(side.fixFlag, "no-fix");
    const auto found = survey.sideReadings.find(point.offset);
    const std::vector<SideStore::Reading> rows =
        found == survey.sideReadings.end() ? std::vector<SideStore::Reading>{} : found->second;
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ExpectedBss& bss = expected[i];
        const SideStore::Reading& row = rows[i];
        SCOPED_TRACE("side row " + std::to_string(i) + " " + bss.bssid);
        EXPECT_EQ(row.index, static_cast<int>(i));
        EXPECT_EQ(row.bssid, bss.bssid);
        EXPECT_EQ(row.inCollection, bss.signalMbm.has_value());
        // No channel number (0 in the attribute byte) is none in the side store.
        EXPECT_EQ(row.channel, bss.channel > 0 ? std::optional<int>(bss.channel) : std::nullopt);
        EXPECT_EQ(row.band, bss.band);
        EXPECT_EQ(row.security, bss.security);
        EXPECT_EQ(row.frequencyMhz, bss.frequency);
        EXPECT_EQ(row.signalMbm, bss.signalMbm);
        EXPECT_EQ(row.signalUnspec, bss.signalUnspec);
        // Hidden names (zero bytes only) are kept as they came.
        if (bss.name.find_first_not_of('\0') != std::string::npos) {
            EXPECT_EQ(row.ssid.substr(0, 5), bss.name.substr(0, 5));
        }
    }
}

class ReplayRun : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(ReplayRun, EveryRecordedScanBecomesOnePointAsRecorded) {
    // The fixture's three dumps: a whole scan (one BSS with SIGNAL_UNSPEC
    // only), an aborted scan with what it saw, and a dump with no results. A
    // scan that heard nothing is a survey point all the same, as it is live:
    // where nothing is heard is part of the survey.
    constexpr int kScans = 3;
    const std::string collection = dir.File("replay.ktd");
    const ProgramRun run =
        RunKetrion({"--autopilot", "--wifi-replay", wifi::FixturePath("scans.pcap"), "--fast",
                    "--collection", collection},
                   dir.Path());
    ASSERT_FALSE(run.timedOut) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "recorded 3 points to " + collection + "\n") << run.err;
    EXPECT_NE(run.err.find("link lost: end of recording"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("note: the scan was aborted; keeping what it saw"), std::string::npos)
        << run.err;

    const StoredSurvey survey = ReadStoredSurvey(collection);
    ASSERT_TRUE(survey.whole);
    ASSERT_TRUE(survey.hasSide) << survey.sideMessage;
    const auto scans = ScansFromCheckFile(wifi::FixturePath("scans.chk"), kScans);
    ASSERT_EQ(survey.points.size(), scans.size());
    for (std::size_t i = 0; i < scans.size(); ++i) {
        SCOPED_TRACE("point " + std::to_string(i + 1));
        CheckPoint(survey, survey.points[i], scans[i]);
    }
    EXPECT_TRUE(survey.points.back().readings.empty());
}

TEST_F(ReplayRun, LongNamesTiesAndUnknownChannelsAsStored) {
    using namespace wifi;
    struct Case {
        BssSpec spec;
        int channel;
        const char* band;
    };
    const auto bss = [](std::uint8_t last, std::uint32_t frequency, std::optional<int> mbm,
                        const std::string& name) {
        BssSpec spec;
        spec.bssid = Mac(last);
        spec.frequency = frequency;
        spec.signalMbm = mbm;
        if (!mbm)
            spec.signalUnspec = 40;
        spec.elements = NameElement(name);
        return spec;
    };
    // A name of 40 bytes; one whose 31st byte falls inside a four-byte
    // character; two equally strong networks listed against address order;
    // 60 GHz's channel 1 and a frequency with no channel number; a signal in unspecified units
    // only.
    const std::vector<Case> first = {
        {bss(0x21, 2484, -6133, "a-very-long-network-name-of-40-bytes-xyz"), 14, "2.4"},
        {bss(0x22, 5955, -6135, std::string(29, 'x') + "\xF0\x9F\x93\xB6"), 1, "6"},
        {bss(0x2b, 5180, -7000, "tie-b"), 36, "5"},
        {bss(0x2a, 5180, -7000, "tie-a"), 36, "5"},
        {bss(0x2c, 58320, -8811, "sixty"), 1, "60"},
        {bss(0x2e, 3000, -8812, "nowhere"), 0, "other"},
        {bss(0x2d, 2412, std::nullopt, "unspecified"), 1, "2.4"},
    };
    const std::vector<Case> second = {{bss(0x21, 2484, -9950, "short"), 14, "2.4"}};

    const std::string recording = dir.File("long.pcap");
    {
        FixtureWriter w(recording);
        w.Us(source::wifi::FamilyRequest(1, "nl80211"), 0);
        w.Kernel(FamilyAnswer(1));
        std::uint32_t seq = 2;
        for (const auto* scan : {&first, &second}) {
            TriggeredScan(w, seq, false);
            w.Us(ScanDumpRequestBytes(seq + 1));
            for (const Case& c : *scan)
                w.Kernel(ScanResult(c.spec, seq + 1));
            w.Kernel(Done(seq + 1));
            seq += 2;
        }
        ASSERT_TRUE(w.Close()) << w.Error();
    }

    const std::string collection = dir.File("long.ktd");
    const ProgramRun run = RunKetrion(
        {"--autopilot", "--wifi-replay", recording, "--fast", "--collection", collection},
        dir.Path());
    ASSERT_FALSE(run.timedOut) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "recorded 2 points to " + collection + "\n") << run.err;

    const StoredSurvey survey = ReadStoredSurvey(collection);
    ASSERT_TRUE(survey.whole);
    ASSERT_TRUE(survey.hasSide) << survey.sideMessage;
    ASSERT_EQ(survey.points.size(), 2u);
    const auto expect = [](const std::vector<Case>& cases) {
        std::vector<ExpectedBss> out;
        for (const Case& c : cases) {
            ExpectedBss e;
            e.bssid = MacText(c.spec.bssid);
            e.name.assign(c.spec.elements->begin() + 2, c.spec.elements->end());
            e.channel = c.channel;
            e.band = c.band;
            e.security = "open";
            e.frequency = static_cast<int>(*c.spec.frequency);
            e.signalMbm = c.spec.signalMbm;
            e.signalUnspec = c.spec.signalUnspec;
            out.push_back(e);
        }
        return out;
    };
    CheckPoint(survey, survey.points[0], expect(first));
    CheckPoint(survey, survey.points[1], expect(second));
    // The side store keeps the whole name the file had to cut.
    const auto& rows = survey.sideReadings.at(survey.points[0].offset);
    EXPECT_EQ(rows[0].ssid, "a-very-long-network-name-of-40-bytes-xyz");
    EXPECT_EQ(rows[1].ssid, std::string(29, 'x') + "\xF0\x9F\x93\xB6");
}

// Runs that cannot survey say why in one line and fail, at once rather than
// after the wait for a point meant for a board that is slow to answer.
TEST_F(ReplayRun, ASourceThatCannotScanEndsTheRunWithItsReason) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string says;
    };
    const std::string missing = dir.File("missing.pcap");
    const std::vector<Case> cases = {
        // These machines have no nl80211.
        {"adapter", {"--wifi"}, "the Wi-Fi adapter cannot scan: no nl80211"},
        {"named adapter", {"--wifi=wlan-none"}, "the Wi-Fi adapter cannot scan: no nl80211"},
        {"missing recording", {"--wifi-replay", missing, "--fast"}, missing},
        // More points asked for than the recording holds.
        {"short recording",
         {"--wifi-replay", wifi::FixturePath("scans.pcap"), "--fast", "--readings", "5"},
         "the recording ended: recorded 3 of 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string collection = dir.File(std::string(c.name) + ".ktd");
        std::vector<std::string> args = {"--autopilot", "--collection", collection};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramRun run = RunKetrion(args, dir.Path());
        ASSERT_FALSE(run.timedOut) << run.err;
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("ketrion: autopilot: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("did not answer"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace ketrion::testing
