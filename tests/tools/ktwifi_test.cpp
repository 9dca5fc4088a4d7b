// ktwifi as a user runs it: decoding the recorded fixtures, damaged and
// missing files, and the real kernel path on a machine without nl80211.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "source/wifi/Recording.h"
#include "support/RunProgram.h"
#include "support/ScratchFiles.h"
#include "support/WifiMessages.h"

namespace ketrion::testing {
namespace {

std::string Fixture(const std::string& name) {
    return std::string(KETRION_SOURCE_DIR) + "/tests/data/wifi/" + name;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Ktwifi, DecodePrintsTheExpectedJsonForEachFixture) {
    struct Case {
        const char* name;
        int status;
    } cases[] = {{"scans", 0}, {"cut", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProgramRun run = RunProgram(
            ToolPath("ktwifi"), {"decode", Fixture(std::string(c.name) + ".pcap"), "--json"});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.out, Slurp(Fixture(std::string(c.name) + ".chk")));
        if (c.status != 0) {
            // One line saying what is wrong, after everything whole.
            EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
        } else {
            EXPECT_EQ(run.err, "");
        }
    }
}

TEST(Ktwifi, DecodeInTextMarksAbortedAndCutScans) {
    const ProgramRun run = RunProgram(ToolPath("ktwifi"), {"decode", Fixture("scans.pcap")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("scan 1  2025-12-06 05:46:47.414000 UTC  2 BSSs  (aborted)"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("(hidden)"), std::string::npos);
    const ProgramRun cut = RunProgram(ToolPath("ktwifi"), {"decode", Fixture("cut.pcap")});
    EXPECT_NE(cut.out.find("(cut short)"), std::string::npos) << cut.out;
}

TEST(Ktwifi, ADamagedScanResultIsCountedSaidAndFailsTheDecode) {
    using namespace wifi;
    const auto bss = [](std::uint8_t last) {
        BssSpec spec;
        spec.bssid = Mac(last);
        return spec;
    };
    Bytes damaged = ScanResult(bss(2), 5);
    // The BSSID attribute (length 10, type 1) claims 5 bytes: too short.
    const Bytes bssid = {10, 0, 1, 0, 0x02, 0x11};
    const auto at = std::search(damaged.begin(), damaged.end(), bssid.begin(), bssid.end());
    ASSERT_NE(at, damaged.end());
    *at = 5;
    scratch::ScratchDir dir;
    const std::string path = dir / "damaged.pcap";
    {
        source::wifi::CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(path, error)) << error;
        for (const Bytes& message :
             {FamilyAnswer(1), ScanResult(bss(1), 5), damaged, ScanResult(bss(3), 5), Done(5)})
            ASSERT_TRUE(
                writer.Write(1'000'000, source::wifi::Direction::FromKernel, message, error));
        ASSERT_TRUE(writer.Close(error)) << error;
    }
    const ProgramRun run = RunProgram(ToolPath("ktwifi"), {"decode", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("2 BSSs  (1 damaged, left out)"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("1 scan results cannot be read"), std::string::npos) << run.err;
}

TEST(Ktwifi, FilesThatCannotBeReadAreUsageErrors) {
    for (const std::string& path : {std::string("/nonexistent/x.pcap"),
                                    std::string(KETRION_SOURCE_DIR), Fixture("README.md")}) {
        SCOPED_TRACE(path);
        const ProgramRun run = RunProgram(ToolPath("ktwifi"), {"decode", path});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("ktwifi: "), std::string::npos);
    }
}

// These machines have no Wi-Fi: the kernel answers that nl80211 does not
// exist, and the tool says so in one line.
TEST(Ktwifi, WithoutNl80211ListAndScanSaySoAndFail) {
    for (const char* command : {"list", "scan"}) {
        SCOPED_TRACE(command);
        const ProgramRun run = RunProgram(ToolPath("ktwifi"), {command});
        if (run.err.find("nl80211") == std::string::npos)
            GTEST_SKIP() << "this machine has nl80211: " << run.err;
        EXPECT_NE(run.status, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "ktwifi: no nl80211 in the kernel (no Wi-Fi driver is loaded)\n");
    }
}

}  // namespace
}  // namespace ketrion::testing
