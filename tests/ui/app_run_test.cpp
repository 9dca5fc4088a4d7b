// Runs the real program as a user would, on the offscreen platform.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildWait.h"

extern char** environ;

namespace ketrion {
namespace {

const std::string kProgram = std::string(KETRION_BINARY_DIR) + "/app/ketrion";

struct Outcome {
    int status = -1;  // exit status; -1 when killed or not started
    std::string out;
    std::string err;
    bool configWritten = false;  // the run wrote the program's settings file
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs the program with `args`, output to files, killed after `timeoutSeconds`.
// With `signalAfterMs`, sends `signal` that long after the start.
// `display` false runs it as on a machine with no window system at all.
Outcome RunKetrion(const std::vector<std::string>& args, int timeoutSeconds = 60,
                   int signalAfterMs = 0, int signal = SIGTERM, bool display = true) {
    char dir[] = "/tmp/ketrion-run-XXXXXX";
    Outcome outcome;
    if (mkdtemp(dir) == nullptr) {
        return outcome;
    }
    const std::string outPath = std::string(dir) + "/out";
    const std::string errPath = std::string(dir) + "/err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<std::string> all = {kProgram};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    // The program's settings (window geometry, recent files) go to the run's
    // own folder, never to the user's.
    const std::string config = std::string(dir) + "/config";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    if (display) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else {
        unsetenv("QT_QPA_PLATFORM");
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, kProgram.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return outcome;
    }
    // The signal goes at its moment unless the run ended before; the run
    // itself is waited for as an event, up to the limit.
    int status = 0;
    const std::chrono::milliseconds limit = std::chrono::seconds(timeoutSeconds);
    std::chrono::milliseconds waited{0};
    bool ended = false;
    if (signalAfterMs > 0) {
        waited = std::chrono::milliseconds(signalAfterMs);
        ended = testing::WaitForChild(pid, waited, status);
        if (!ended) {
            kill(pid, signal);
        }
    }
    if (!ended && !testing::WaitForChild(pid, limit - waited, status)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "ketrion did not end within " << timeoutSeconds << " s";
    }
    if (WIFEXITED(status)) {
        outcome.status = WEXITSTATUS(status);
    }
    outcome.out = ReadAll(outPath);
    outcome.err = ReadAll(errPath);
    outcome.configWritten = std::filesystem::exists(config + "/ketrion/ketrion.ini");
    std::filesystem::remove_all(dir);
    return outcome;
}

TEST(KetrionRun, SimulatedBoardAnswersAndTheProgramQuitsCleanly) {
    const std::string shot = "/tmp/ketrion-run-test-" + std::to_string(getpid()) + ".png";
    const Outcome run = RunKetrion({"--simulate", "--handheld", "--screenshot", shot});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("saved to " + shot), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("did not answer"), std::string::npos) << run.err;
    const QImage picture(QString::fromStdString(shot));
    ASSERT_FALSE(picture.isNull());
    // The handheld's client area plus the command bar below it.
    EXPECT_EQ(picture.width(), 240);
    EXPECT_GT(picture.height(), 268);
    unlink(shot.c_str());
}

TEST(KetrionRun, DesktopWindowFitsTheScreenAndOpensTheSessionFiles) {
    char folder[] = "/tmp/ketrion-run-desktop-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string shot = std::string(folder) + "/window.png";
    const std::string collection = std::string(folder) + "/session.ktd";
    const Outcome run =
        RunKetrion({"--simulate", "--collection", collection, "--screenshot", shot});
    EXPECT_EQ(run.status, 0) << run.err;
    const QImage picture(QString::fromStdString(shot));
    // Not the handheld's window: most of the offscreen platform's screen.
    EXPECT_GE(picture.width(), 480);
    EXPECT_GE(picture.height(), 400);
    // The collection file named on the command line was created for the session.
    EXPECT_TRUE(std::filesystem::exists(collection));
    // An unattended run leaves the user's settings alone.
    EXPECT_FALSE(run.configWritten);
    std::filesystem::remove_all(folder);
}

TEST(KetrionRun, MissingBoardIsReportedAndTheRunFails) {
    const std::string shot = "/tmp/ketrion-run-noboard-" + std::to_string(getpid()) + ".png";
    const Outcome run = RunKetrion(
        {"--port", "/nonexistent/tty", "--screenshot", shot, "--handshake-timeout", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Cannot Open Connection To Board."), std::string::npos) << run.err;
    // Beside the handheld's message, what to do about it.
    EXPECT_NE(run.err.find("--port PATH"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("--simulate"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("did not answer"), std::string::npos) << run.err;
    unlink(shot.c_str());
}

TEST(KetrionRun, InterruptClosesTheWindowInOrder) {
    // Ctrl+C and kill close the window as its close button does, also when
    // they come during the start-up waits, and the run ends well.
    struct Case {
        int signal;
        int afterMs;
    };
    for (const Case c : {Case{SIGINT, 1000}, Case{SIGTERM, 6000}}) {
        SCOPED_TRACE(c.signal);
        // A run that does not end by itself is killed at the limit and fails.
        const Outcome run = RunKetrion({"--simulate"}, 30, c.afterMs, c.signal);
        EXPECT_EQ(run.status, 0) << run.err;
        // The desktop window keeps its geometry for the next run.
        EXPECT_TRUE(run.configWritten);
    }
}

// A stop signal during an unattended survey ends it at once, says how far it
// got, and fails the run: a survey cut short is not a success.
TEST(KetrionRun, AStopSignalEndsAnAutopilotRunWithItsCount) {
    struct Case {
        int signal;
        const char* name;
        int afterMs;
    };
    for (const Case c : {Case{SIGHUP, "SIGHUP", 1000}, Case{SIGTERM, "SIGTERM", 7000}}) {
        SCOPED_TRACE(c.name);
        const std::string collection =
            "/tmp/ketrion-run-pilot-" + std::to_string(getpid()) + ".ktd";
        unlink(collection.c_str());
        const Outcome run = RunKetrion(
            {"--autopilot", "--simulate", "--collection", collection, "--readings", "50"}, 30,
            c.afterMs, c.signal);
        EXPECT_EQ(run.status, 128 + c.signal) << run.err;
        EXPECT_NE(run.err.find(std::string("stopped by ") + c.name + ": recorded "),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find(" of 50 points to " + collection), std::string::npos) << run.err;
        unlink(collection.c_str());
    }
}

TEST(KetrionRun, WithoutADisplayUnattendedRunsStillWork) {
    const Outcome window = RunKetrion({"--simulate"}, 30, 0, SIGTERM, false);
    EXPECT_EQ(window.status, 1);
    EXPECT_NE(window.err.find("xvfb-run"), std::string::npos) << window.err;

    const std::string shot = "/tmp/ketrion-run-nodisplay-" + std::to_string(getpid()) + ".png";
    const Outcome picture = RunKetrion({"--simulate", "--screenshot", shot}, 60, 0, SIGTERM, false);
    EXPECT_EQ(picture.status, 0) << picture.err;
    EXPECT_FALSE(QImage(QString::fromStdString(shot)).isNull());
    unlink(shot.c_str());
}

TEST(KetrionRun, HelpVersionAndMistakes) {
    const Outcome help = RunKetrion({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--simulate"), std::string::npos);
    const Outcome version = RunKetrion({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "ketrion 1.03\n");
    const Outcome wrong = RunKetrion({"--no-such-option"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("--no-such-option"), std::string::npos);
    const Outcome scenario = RunKetrion({"--simulate=/nonexistent/scenario.json"});
    EXPECT_EQ(scenario.status, 2);
    EXPECT_NE(scenario.err.find("/nonexistent/scenario.json"), std::string::npos) << scenario.err;
}

}  // namespace
}  // namespace ketrion
