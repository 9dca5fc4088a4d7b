// Runs ktreplay over every golden capture in tests/data/replay and compares its
// output with the reviewed expectation beside the capture.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kReplay = fs::path(KETRION_BINARY_DIR) / "tools/ktreplay/ktreplay";
const fs::path kData = fs::path(KETRION_SOURCE_DIR) / "tests/data/replay";

struct Outcome {
    int status = -1;
    std::string out;
};

// Runs ktreplay with `argument`; captures standard output (and standard error
// when `withErrors`).
Outcome Replay(const std::string& argument, bool withErrors = false) {
    const std::string command =
        "'" + kReplay.string() + "' '" + argument + "'" + (withErrors ? " 2>&1" : "");
    Outcome run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, n);
    }
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
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

        const Outcome run = Replay(entry.path().string());
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
        const Outcome run = Replay(row.path, true);
        EXPECT_EQ(run.status, 2) << row.path;
        EXPECT_NE(run.out.find("ktreplay: cannot read " + row.path), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(row.says), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("firmware"), std::string::npos) << "no summary after an error";
    }
}

}  // namespace
