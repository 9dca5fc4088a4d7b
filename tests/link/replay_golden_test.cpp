// Runs ktreplay over every golden capture in tests/data/replay and compares its
// output with the reviewed expectation beside the capture.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunProgram.h"

namespace {

namespace fs = std::filesystem;

const fs::path kReplay = fs::path(KETRION_BINARY_DIR) / "tools/ktreplay/ktreplay";
const fs::path kData = fs::path(KETRION_SOURCE_DIR) / "tests/data/replay";

// Runs ktreplay with `argument`; captures standard output (and standard error
// when `withErrors`).
ketrion::testing::ProgramRun Replay(const std::string& argument, bool withErrors = false) {
    ketrion::testing::RunOptions options;
    options.mergeErrors = withErrors;
    return ketrion::testing::RunProgram(kReplay.string(), {argument}, options);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST(ReplayGolden, EveryCaptureGivesItsExpectedOutput) {
    ASSERT_TRUE(fs::exists(kReplay)) << "build ktreplay first: " << kReplay;
    int captures = 0;
    for (const auto& entry : fs::directory_iterator(kData)) {
        if (entry.path().extension() != ".bin") {
            continue;
        }
        ++captures;
        fs::path expectedPath = entry.path();
        expectedPath.replace_extension(".expected");
        std::ifstream in(expectedPath);
        ASSERT_TRUE(in) << "no expectation for " << entry.path();
        const std::string expected((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());

        const auto run = Replay(entry.path().string());
        EXPECT_EQ(run.status, 0) << entry.path();
        const auto got = Lines(run.out);
        const auto want = Lines(expected);
        for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
            const std::string g = i < got.size() ? got[i] : "<missing>";
            const std::string w = i < want.size() ? want[i] : "<missing>";
            if (g != w) {
                ADD_FAILURE() << entry.path().filename() << " line " << i + 1 << ":\n  got  " << g
                              << "\n  want " << w;
                break;
            }
        }
    }
    EXPECT_GE(captures, 3);
}

TEST(ReplayGolden, UnreadableCaptureIsAnErrorWithExitTwo) {
    ASSERT_TRUE(fs::exists(kReplay)) << "build ktreplay first: " << kReplay;
    const struct {
        std::string path;
        const char* says;
    } rows[] = {
        {"/nonexistent/capture.bin", "No such file"},
        {kData.string(), "Is a directory"},
    };
    for (const auto& row : rows) {
        const auto run = Replay(row.path, true);
        EXPECT_EQ(run.status, 2) << row.path;
        std::string message = "ktreplay: cannot read ";
        message += row.path;
        EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("firmware"), std::string::npos) << "no summary after an error";
    }
}

}  // namespace
