// Ketrion: site-survey collector for wireless networks.
#include <cstdio>
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

    ketrion::Process process(argc, argv, parsed.options);
    std::string error;
    if (!process.Prepare(&error)) {
        std::fprintf(stderr, "ketrion: %s\n", error.c_str());
        return 2;
    }
    return process.Run();
}
