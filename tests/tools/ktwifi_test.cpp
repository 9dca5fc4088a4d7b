// ktwifi as a user runs it: decoding the recorded fixtures, damaged and
// missing files, and the real kernel path on a machine without nl80211.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/RunProgram.h"

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
