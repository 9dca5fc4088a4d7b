#include "app/Options.h"

#include <CLI/CLI.hpp>
#include <sstream>

namespace ketrion {

namespace {

constexpr const char* kVersionText = "ketrion 1.03";
// Upper bound for --readings and --handshake-timeout: beyond a day of readings
// or of waiting the number is a typo.
constexpr int kMaxReadings = 17280;
constexpr int kMaxTimeoutSeconds = 3600;
// Floors below and above the ground floor a simulated receiver may walk on.
constexpr int kMaxFloorLevel = 200;
// Exit status for a command line that cannot be used.
constexpr int kUsageError = 2;

}  // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    Options& o = result.options;

    CLI::App app{"Ketrion: site-survey collector for wireless networks.", "ketrion"};
    app.set_version_flag("--version", kVersionText, "Print the version and exit");
    app.footer(
        "Without options the receiver board's serial port is found among the\n"
        "system's serial devices. --projection and --collection open a session with\n"
        "those files loaded; with --autopilot they are the unattended survey's files.");

    auto* registry = app.add_option("--registry", o.registryFile,
                                    "Read the device registry from FILE instead of udev")
                         ->type_name("FILE");
    auto* port = app.add_option("--port", o.port, "Open the serial port at PATH (no search)")
                     ->type_name("PATH");
    auto* simulate = app.add_option("--simulate", o.scenario,
                                    "Run the board simulator in-process; SCENARIO is a scenario "
                                    "file (default: the sample site)")
                         ->type_name("[=SCENARIO]")
                         ->expected(0, 1);
    app.add_option("--floor-level", o.simulatedLevel,
                   "With --simulate: the floor the simulated receiver walks on (0 the ground "
                   "floor), for scenarios whose access points stand on floors")
        ->type_name("N")
        ->check(CLI::Range(-kMaxFloorLevel, kMaxFloorLevel))
        ->needs(simulate);
    auto* wifi = app.add_option("--wifi", o.wifiInterface,
                                "Scan with the laptop's Wi-Fi adapter; IFACE names it (default: "
                                "the first Wi-Fi interface that is up)")
                     ->type_name("[=IFACE]")
                     ->expected(0, 1);
    app.add_flag("--passive", o.passive, "With --wifi: passive scans instead of active ones")
        ->needs(wifi);
    auto* replay = app.add_option("--wifi-replay", o.wifiReplay,
                                  "Replay a recording of the adapter's scans (ktwifi record) "
                                  "as the scan source, at its recorded pace")
                       ->type_name("FILE.pcap");
    app.add_flag("--fast", o.fast, "With --wifi-replay: answer each scan at once")->needs(replay);
    auto* gpsd = app.add_option("--gpsd", o.gpsdEndpoint,
                                "Take positions from gpsd at HOST[:PORT] (default "
                                "localhost:2947) instead of the board's GPS")
                     ->type_name("[=HOST[:PORT]]")
                     ->expected(0, 1);
    app.add_flag("--include-no-fix", o.includeNoFix,
                 "Use readings taken without a valid fix in the heatmap and estimates");
    app.add_option("--screenshot", o.screenshot,
                   "Save a PNG of the main window once the board has answered, then quit")
        ->type_name("FILE");
    app.add_option("--handshake-timeout", o.handshakeTimeout,
                   "Seconds to wait for the board before --screenshot gives up")
        ->type_name("SECONDS")
        ->check(CLI::Range(1, kMaxTimeoutSeconds));

    auto* autopilot =
        app.add_flag("--autopilot", o.autopilot,
                     "Survey unattended: load, record the readings, save a snapshot, quit");
    app.add_option("--projection", o.projection, "Projection file to load at the start")
        ->type_name("FILE");
    app.add_option("--collection", o.collection,
                   "Collection file to open at the start, created when it does not exist "
                   "(an existing one is added to, with --autopilot too)")
        ->type_name("FILE");
    app.add_flag("--handheld", o.handheld,
                 "Open the window at the handheld's size (240 x 268 client area), without "
                 "menus or status bar; minimising then ends the program");
    app.add_option("--readings", o.readings, "Autopilot: survey points to record")
        ->type_name("N")
        ->check(CLI::Range(0, kMaxReadings))
        ->needs(autopilot);
    app.add_option("--snapshot", o.snapshot, "Autopilot: JPEG snapshot to save at the end")
        ->type_name("FILE")
        ->needs(autopilot);
    auto* stops = app.add_option("--stops", o.stops,
                                 "Autopilot: stop and go at these plan positions "
                                 "([{\"x\": X, \"y\": Y}, ...]), one reading at each")
                      ->type_name("FILE.json")
                      ->needs(autopilot);
    auto* walk = app.add_option("--walk", o.walk,
                                "Autopilot: a continuous walk through these clicks "
                                "([{\"x\": X, \"y\": Y, \"t\": SECONDS}, ...])")
                     ->type_name("FILE.json")
                     ->needs(autopilot);
    stops->excludes(walk);

    port->excludes(simulate);
    wifi->excludes(replay);
    for (CLI::Option* scanSource : {wifi, replay}) {
        scanSource->excludes(simulate);
        scanSource->excludes(port);
        scanSource->excludes(registry);
    }
    registry->excludes(port);
    registry->excludes(simulate);

    // CLI11 takes the arguments after the program name, last one first.
    std::vector<std::string> reversed;
    for (std::size_t i = args.size(); i > 1; --i) {
        reversed.push_back(args[i - 1]);
    }
    std::ostringstream out;
    std::ostringstream err;
    try {
        app.parse(reversed);
        o.simulate = simulate->count() > 0;
        o.wifi = wifi->count() > 0;
        o.gpsd = gpsd->count() > 0;
    } catch (const CLI::ParseError& e) {
        // Usage errors end with status 2, as command-line tools do.
        result.exitCode = app.exit(e, out, err) == 0 ? 0 : kUsageError;
    }
    result.out = out.str();
    result.err = err.str();
    return result;
}

ParsedOptions ParseOptions(int argc, const char* const* argv) {
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) {
        args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    return ParseOptions(args);
}

}  // namespace ketrion
