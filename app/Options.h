#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ketrion {

// What the command line asks of the program.
struct Options {
    // Device registry file standing in for udev (port search).
    std::string registryFile;
    // Serial port to open directly, skipping the search.
    std::string port;
    // Run the board simulator in-process and connect to it.
    bool simulate = false;
    // Scenario of the simulator; empty for the sample site.
    std::string scenario;
    int simulatedLevel = 0;  // the floor the simulated receiver walks on
    // Scan with the laptop's Wi-Fi adapter (nl80211): its interface, empty
    // for the first one that is up.
    bool wifi = false;
    std::string wifiInterface;
    bool passive = false;  // a passive scan instead of an active one
    // Replay a recording of the adapter's scans instead (and at once: fast).
    std::string wifiReplay;
    bool fast = false;
    // Take positions from gpsd at HOST[:PORT] (empty text: localhost:2947).
    bool gpsd = false;
    std::string gpsdEndpoint;
    // The heatmap and estimates use readings without a valid fix too.
    bool includeNoFix = false;
    // Autopilot: the surveyor's stops ([{"x": X, "y": Y}, ...]) or the
    // clicks of a continuous walk ([{"x": X, "y": Y, "t": SECONDS}, ...]).
    std::string stops;
    std::string walk;
    // Save a picture of the main window here once the board has answered,
    // then quit (headless runs, the README's first command). With --autopilot
    // the picture is taken when the unattended survey ends.
    std::string screenshot;
    // Longest wait in seconds for the board's answers before --screenshot
    // (or --autopilot) gives up and reports it.
    int handshakeTimeout = 20;
    // The handheld's window: 240 x 268 client area, command bar only. The
    // unattended survey always runs so, keeping its snapshots at the
    // handheld's picture size.
    bool handheld = false;

    // Unattended survey: answer the dialogs from these options, take readings
    // and save a snapshot, then quit.
    bool autopilot = false;

    // The window layout to open: the handheld's, or the desktop's (sized to
    // the screen and remembered, menus, status bar).
    bool HandheldLayout() const { return handheld || autopilot; }
    // Files to open at the start; without --autopilot the session opens with
    // them loaded (a collection that does not exist yet is created).
    std::string projection;  // projection file to load (empty: the blank plan)
    std::string collection;  // collection file (autopilot, empty: ketrion-autopilot.ktd)
    int readings = 0;        // survey points to record (0: the autopilot's default)
    std::string snapshot;    // JPEG to save at the end
};

// The outcome of reading the command line.
struct ParsedOptions {
    Options options;
    // Set when the program should end at once with this code: after --help or
    // --version (0), or on a bad command line (non-zero).
    std::optional<int> exitCode;
    // What to print then: the help or version text on standard output, the
    // error (with a hint to --help) on standard error.
    std::string out;
    std::string err;
};

// Reads the command line (argv[0] is the program). Never exits and never
// prints: the caller does both with the result.
ParsedOptions ParseOptions(int argc, const char* const* argv);
ParsedOptions ParseOptions(const std::vector<std::string>& args);

}  // namespace ketrion
