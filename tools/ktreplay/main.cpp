// ktreplay: feeds a capture of the board's bytes through the link layer and the
// engine, exactly as the link thread would, and prints what happened.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "tools/ktreplay/Replay.h"

namespace {

// Exit status for a capture that cannot be read or a command line that makes no sense.
constexpr int kUsageOrInputError = 2;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Replays a capture of the receiver board's bytes through parser and engine"};
    std::string capturePath;
    app.add_option("CAPTURE", capturePath, "raw bytes as the board sent them")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageOrInputError;
    }

    std::ios::sync_with_stdio(false);
    ketrion::replay::Replay replay(std::cout);
    std::string error;
    if (!replay.FeedFile(capturePath, error)) {
        std::cout.flush();
        std::cerr << "ktreplay: " << error << "\n";
        return kUsageOrInputError;
    }
    replay.PrintSummary();
    std::cout.flush();
    return 0;
}
