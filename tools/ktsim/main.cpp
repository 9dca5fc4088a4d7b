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
