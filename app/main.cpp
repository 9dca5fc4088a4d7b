// Ketrion: site-survey collector for wireless networks.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/Options.h"
#include "app/Process.h"

int main(int argc, char** argv) {
    // The command line first: --help, --version and mistakes need no window,
    // no port and no board.
    ketrion::ParsedOptions parsed = ketrion::ParseOptions(argc, argv);
    if (parsed.exitCode) {
        std::fputs(parsed.out.c_str(), stdout);
        std::fputs(parsed.err.c_str(), stderr);
        return *parsed.exitCode;
    }

    // Without a window system Qt would abort with a core dump. Unattended runs
    // need no screen: they draw offscreen. Others are told what to do.
    const bool haveDisplay = std::getenv("DISPLAY") != nullptr ||
                             std::getenv("WAYLAND_DISPLAY") != nullptr ||
                             std::getenv("QT_QPA_PLATFORM") != nullptr;
    if (!haveDisplay) {
        if (parsed.options.autopilot || !parsed.options.screenshot.empty()) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        } else {
            std::fputs(
                "ketrion: no display to open the window on (DISPLAY is not set).\n"
                "Run it under xvfb-run, or add --screenshot FILE to save a picture of the\n"
                "window instead.\n",
                stderr);
            return 1;
        }
    }

    ketrion::Process process(argc, argv, parsed.options);
    std::string error;
    if (!process.Prepare(&error)) {
        std::fprintf(stderr, "ketrion: %s\n", error.c_str());
        return 2;
    }
    return process.Run();
}
