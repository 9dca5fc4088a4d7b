// ktsim: the receiver board in software, on a pseudo-terminal.
//
// Prints the path of the terminal's slave side on stdout (one line), then plays
// the board until interrupted or until --duration has passed.

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

#include "sim/SimulatedWalk.h"
#include "sim/Simulator.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

void OnSignal(int) {
    g_stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated receiver board on a pseudo-terminal"};
    app.set_version_flag("--version", "ktsim " KETRION_VERSION, "print the version and exit");
    std::string scenarioPath;
    std::string linkPath;
    std::string capturePath;
    double duration = 0.0;
    bool printScenario = false;
    long long seed = -1;
    app.add_option("--scenario", scenarioPath, "scenario file (JSON); default: the sample office")
        ->check(CLI::ExistingFile);
    app.add_option("--link", linkPath, "also make a symbolic link to the terminal here");
    app.add_option("--capture", capturePath, "write every byte sent to the program to this file");
    app.add_option("--duration", duration,
                   "stop after this many seconds (default: run until killed)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--seed", seed, "random seed, replacing the scenario's")
        ->check(CLI::Range(0LL, 4294967295LL));
    app.add_flag("--print-scenario", printScenario, "print the built-in scenario and exit");
    std::string walkOut;
    ketrion::sim::WalkRequest walk;
    walk.startUtc = 1767268800;  // 2026-01-01 12:00 UTC: the same file every time
    app.add_option("--walk-out", walkOut,
                   "write one walk along the track as a collection file here (no terminal) and "
                   "exit");
    app.add_option("--walk-level", walk.level, "--walk-out: the floor walked (default 0)");
    app.add_option("--walk-spacing", walk.spacing,
                   "--walk-out: metres between survey points (default 2)")
        ->check(CLI::PositiveNumber);
    app.add_option("--walk-start", walk.startUtc,
                   "--walk-out: UTC seconds since 1970 of the first point");
    CLI11_PARSE(app, argc, argv);

    if (printScenario) {
        std::cout << ketrion::sim::DefaultScenarioText();
        return 0;
    }

    ketrion::sim::Scenario scenario = ketrion::sim::DefaultScenario();
    if (!scenarioPath.empty()) {
        std::string error;
        scenario = ketrion::sim::LoadScenario(scenarioPath, &error);
        if (!error.empty()) {
            std::cerr << "ktsim: " << error << "\n";
            return 1;
        }
    }

    if (seed >= 0) {
        scenario.seed = static_cast<std::uint32_t>(seed);
    }

    if (!walkOut.empty()) {
        walk.seed = scenario.seed;
        std::string error;
        if (!ketrion::sim::WriteWalk(walkOut, scenario, ketrion::sim::WalkFloor(scenario, walk),
                                     error)) {
            std::cerr << "ktsim: " << error << "\n";
            return 1;
        }
        return 0;
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    ketrion::sim::Simulator simulator(scenario);
    simulator.SetLinkPath(linkPath);
    simulator.SetCapturePath(capturePath);
    std::string error;
    if (!simulator.Start(&error)) {
        std::cerr << "ktsim: " << error << "\n";
        return 1;
    }
    std::cout << simulator.SlavePath() << std::endl;

    const auto start = std::chrono::steady_clock::now();
    while (g_stopRequested == 0) {
        if (duration > 0.0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >=
                duration) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    simulator.Stop();
    const auto stats = simulator.Stats();
    std::cerr << "ktsim: " << stats.requests << " requests, " << stats.scans << " scans, "
              << stats.gpsReports << " GPS reports, " << simulator.BytesSent() << " bytes sent\n";
    return 0;
}
