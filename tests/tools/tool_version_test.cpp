// Every command answers --version and --help on standard output with exit 0,
// whatever else its command line requires, and all say the same version.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/RunProgram.h"

namespace ketrion::testing {
namespace {

TEST(ToolVersion, EveryToolPrintsTheProjectVersion) {
    for (const char* tool : {"ktsim", "ktp", "ktreplay", "ktd", "ktwifi"}) {
        SCOPED_TRACE(tool);
        const std::string path = ToolPath(tool);
        if (!std::filesystem::exists(path)) {
            ADD_FAILURE() << "not built: " << path;
            continue;
        }
        std::string expected = tool;
        expected += " " KETRION_VERSION "\n";
        const ProgramRun version = RunProgram(path, {"--version"});
        EXPECT_EQ(version.status, 0) << version.err;
        EXPECT_EQ(version.out, expected);
        EXPECT_EQ(version.err, "");

        const ProgramRun help = RunProgram(path, {"--help"});
        EXPECT_EQ(help.status, 0) << help.err;
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
    }
}

TEST(ToolVersion, TheProgramSaysTheSameVersion) {
    const std::string program = std::string(KETRION_BINARY_DIR) + "/app/ketrion";
    if (!std::filesystem::exists(program)) {
        GTEST_SKIP() << "the program is not built (no Qt)";
    }
    const ProgramRun run = RunProgram(program, {"--version"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "ketrion " KETRION_VERSION "\n");
}

}  // namespace
}  // namespace ketrion::testing
