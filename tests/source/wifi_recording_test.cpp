// Recordings of the adapter's netlink traffic: the committed fixtures are
// what their generator makes, and they decode into the scans they hold,
// whole or damaged.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "source/wifi/BssReading.h"
#include "source/wifi/Recording.h"
#include "support/ScratchFiles.h"
#include "support/WifiFixtures.h"

namespace ketrion::source::wifi {
namespace {

namespace fx = ketrion::testing::wifi;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WifiRecording, CommittedFixturesAreWhatTheGeneratorWrites) {
    const bool rewrite = std::getenv("KETRION_WRITE_WIFI_FIXTURES") != nullptr;
    struct Fixture {
        const char* name;
        bool (*write)(const std::string&, std::string&);
    } fixtures[] = {{"scans.pcap", fx::WriteScansFixture}, {"cut.pcap", fx::WriteCutFixture}};
    for (const Fixture& f : fixtures) {
        SCOPED_TRACE(f.name);
        const std::string committed = fx::FixturePath(f.name);
        const std::string fresh = ::testing::TempDir() + "/fresh-" + f.name;
        std::string error;
        ASSERT_TRUE(f.write(rewrite ? committed : fresh, error)) << error;
        if (!rewrite) {
            EXPECT_EQ(Slurp(fresh), Slurp(committed))
                << "regenerate with KETRION_WRITE_WIFI_FIXTURES=1";
            std::filesystem::remove(fresh);
        }
    }
}

TEST(WifiRecording, ScansAreTheDumpsOfTheFile) {
    const Recording r = ReadRecording(fx::FixturePath("scans.pcap"));
    ASSERT_TRUE(r.opened);
    EXPECT_EQ(r.damage, "");
    ASSERT_EQ(r.scans.size(), 3u);
    EXPECT_EQ(r.scans[0].results.size(), 5u);
    EXPECT_FALSE(r.scans[0].aborted);
    EXPECT_EQ(r.scans[1].results.size(), 2u);
    EXPECT_TRUE(r.scans[1].aborted);
    EXPECT_TRUE(r.scans[2].results.empty());
    EXPECT_TRUE(r.scans[2].complete);
    // Each scan's time is its first answer's, later scans later.
    EXPECT_GT(r.scans[0].timeUs, fx::kFixtureStartUs);
    EXPECT_GT(r.scans[1].timeUs, r.scans[0].timeUs + 3'000'000);

    std::vector<Bss> first = r.scans[0].results;
    SortStrongestFirst(first);
    std::vector<std::string> order;
    for (const Bss& b : first)
        order.push_back(MacText(b.bssid).substr(15));
    // dBm signals strongest first, the unspecified-units one last.
    EXPECT_EQ(order, (std::vector<std::string>{"01", "02", "04", "03", "05"}));
    const Bss& cut = r.scans[1].results[0];
    EXPECT_TRUE(cut.elements.cut);
    EXPECT_EQ(cut.elements.name, "Cut");
    EXPECT_EQ(PhyOf(cut.elements), "n");
}

TEST(WifiRecording, ADamagedFileKeepsWhatIsWholeAndSaysWhatIsWrong) {
    const Recording r = ReadRecording(fx::FixturePath("cut.pcap"));
    ASSERT_TRUE(r.opened);
    ASSERT_EQ(r.scans.size(), 2u);
    EXPECT_TRUE(r.scans[0].complete);
    EXPECT_EQ(r.scans[0].results.size(), 1u);
    // The dump without its end: the whole result before the cut message.
    EXPECT_FALSE(r.scans[1].complete);
    EXPECT_EQ(r.scans[1].results.size(), 1u);
    EXPECT_NE(r.damage.find("damaged"), std::string::npos) << r.damage;

    // The file itself cut anywhere: never more scans, always a message, never a crash.
    const std::string bytes = Slurp(fx::FixturePath("scans.pcap"));
    ketrion::scratch::ScratchDir scratch;
    for (std::size_t length : {std::size_t{0}, std::size_t{10}, std::size_t{30}, std::size_t{60},
                               bytes.size() / 3, bytes.size() - 7}) {
        SCOPED_TRACE(length);
        const std::string path = scratch / ("cut-" + std::to_string(length) + ".pcap");
        std::ofstream(path, std::ios::binary) << bytes.substr(0, length);
        const Recording partial = ReadRecording(path);
        EXPECT_FALSE(partial.damage.empty());
        EXPECT_LE(partial.scans.size(), 3u);
    }
}

TEST(WifiRecording, WithoutTheControllersAnswerResultsAreRecognisedByCommand) {
    ketrion::scratch::ScratchDir scratch;
    const std::string path = (scratch / "bare.pcap");
    {
        fx::FixtureWriter w(path);
        // No controller answer, no request: a dump as nlmon saw it.
        w.Kernel(fx::Concat({fx::ScanResult(fx::EnterpriseNetwork(), 9, 0x23), fx::Done(9)}));
        ASSERT_TRUE(w.Close()) << w.Error();
    }
    const Recording r = ReadRecording(path);
    EXPECT_EQ(r.damage, "");
    ASSERT_EQ(r.scans.size(), 1u);
    EXPECT_EQ(r.scans[0].results.size(), 1u);
}

TEST(WifiRecording, FilesThatAreNoNetlinkCaptureAreRefused) {
    ketrion::scratch::ScratchDir scratch;
    const std::string text = (scratch / "text.pcap");
    std::ofstream(text) << "not a capture\n";
    EXPECT_FALSE(ReadRecording(text).opened);
    EXPECT_FALSE(ReadRecording((scratch / "missing.pcap")).opened);
    EXPECT_FALSE(ReadRecording(scratch / "").opened);
}

}  // namespace
}  // namespace ketrion::source::wifi
