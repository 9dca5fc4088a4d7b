// The tests' way of running a command: arguments arrive exactly as given (no
// shell in between), output and status come back, and a hung command is
// stopped instead of hanging the suite.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/RunProgram.h"

namespace ketrion::testing {
namespace {

// A script that prints each of its arguments between brackets.
const std::vector<std::string> kEcho = {"-c", "for a in \"$@\"; do printf '[%s]' \"$a\"; done",
                                        "sh"};

TEST(RunProgram, ArgumentsArriveWholeAndUninterpreted) {
    std::vector<std::string> args = kEcho;
    const std::vector<std::string> tricky = {
        "two words", "", "'quoted'", "\"double\"", "$HOME", "*", "a;b", "back\\slash", "é\tx"};
    args.insert(args.end(), tricky.begin(), tricky.end());
    const ProgramRun run = RunProgram("/bin/sh", args);
    EXPECT_EQ(run.status, 0) << run.err;
    std::string expected;
    for (const std::string& arg : tricky) {
        expected += '[';
        expected += arg;
        expected += ']';
    }
    EXPECT_EQ(run.out, expected);
}

TEST(RunProgram, OutputErrorsAndStatus) {
    const std::string script = "printf out1; printf err1 >&2; printf out2; exit 3";
    const ProgramRun apart = RunProgram("/bin/sh", {"-c", script});
    EXPECT_EQ(apart.status, 3);
    EXPECT_EQ(apart.out, "out1out2");
    EXPECT_EQ(apart.err, "err1");
    EXPECT_FALSE(apart.timedOut);

    RunOptions merged;
    merged.mergeErrors = true;
    const ProgramRun together = RunProgram("/bin/sh", {"-c", script}, merged);
    EXPECT_EQ(together.status, 3);
    EXPECT_EQ(together.out, "out1err1out2");
    EXPECT_EQ(together.err, "");

    // Standard input is empty rather than the test's own.
    EXPECT_EQ(RunProgram("/bin/cat", {}).out, "");
}

TEST(RunProgram, LargeOutputOnBothStreamsDoesNotBlock) {
    // Far more than a pipe holds, on both streams: reading one while the
    // program waits to write the other would never end.
    const ProgramRun run = RunProgram(
        "/bin/sh", {"-c",
                    "i=0; while [ $i -lt 20000 ]; do echo xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx; "
                    "echo yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy >&2; i=$((i+1)); done"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.size(), 20000u * 32);
    EXPECT_EQ(run.err.size(), 20000u * 32);
}

TEST(RunProgram, FailuresToStartAndToEnd) {
    const ProgramRun missing = RunProgram("/nonexistent/tool", {"--version"});
    EXPECT_EQ(missing.status, -1);
    EXPECT_NE(missing.err.find("cannot run /nonexistent/tool"), std::string::npos) << missing.err;

    const ProgramRun killed = RunProgram("/bin/sh", {"-c", "kill -TERM $$"});
    EXPECT_EQ(killed.status, -1);
    EXPECT_EQ(killed.signal, SIGTERM);

    RunOptions brief;
    brief.timeout = std::chrono::milliseconds(200);
    const auto started = std::chrono::steady_clock::now();
    const ProgramRun hung = RunProgram("/bin/sleep", {"30"}, brief);
    EXPECT_TRUE(hung.timedOut);
    EXPECT_EQ(hung.status, -1);
    EXPECT_EQ(hung.signal, SIGKILL);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

}  // namespace
}  // namespace ketrion::testing
