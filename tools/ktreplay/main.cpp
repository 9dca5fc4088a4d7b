// ktreplay: feeds a capture of the board's bytes through the link layer and the
// engine, exactly as the link thread would, and prints what happened.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "session/SurveySession.h"
#include "source/board/BoardSource.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "tools/ktreplay/Replay.h"

namespace {

// Exit status for a capture that cannot be read or a command line that makes no sense.
constexpr int kUsageOrInputError = 2;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Replays a capture of the receiver board's bytes through parser and engine"};
    app.set_version_flag("--version", "ktreplay " KETRION_VERSION, "print the version and exit");
    std::string capturePath;
    app.add_option("CAPTURE", capturePath, "raw bytes as the board sent them")->required();
    std::string projectionPath;
    std::string collectionPath;
    app.add_option("--projection", projectionPath, "projection file (.ktp) to load first");
    app.add_option("--collection", collectionPath,
                   "new collection file (.ktd) that records a point at every scan end");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageOrInputError;
    }

    std::ios::sync_with_stdio(false);
    ketrion::replay::Replay replay(std::cout);

    // The survey side, as the site view drives it: each reading starts at the
    // plan position of the current fix, and every scan end records a point.
    ketrion::StderrPrompt prompt;
    ketrion::NullSound sound;
    ketrion::SystemClock clock;
    ketrion::CSiteProjection projection(prompt, sound);
    ketrion::CSiteData survey(prompt, sound, clock);
    ketrion::BoardSource scan(replay.Board(), clock);
    ketrion::BoardPosition position(replay.Board(), clock);
    ketrion::SurveySession session(scan, position, survey, projection, sound, clock);
    if (!projectionPath.empty() && !session.OpenProjection(projectionPath)) {
        return kUsageOrInputError;
    }
    if (!collectionPath.empty()) {
        if (!session.NewCollection(collectionPath))
            return kUsageOrInputError;
        // The capture holds the board's own scans: a reading is prepared
        // (list emptied, position taken) without asking for another.
        replay.startReading = [&] { session.PrepareReading(); };
    }

    std::string error;
    if (!replay.FeedFile(capturePath, error)) {
        std::cout.flush();
        std::cerr << "ktreplay: " << error << "\n";
        return kUsageOrInputError;
    }
    // Every point is in the file before the count is told; a write that
    // failed has printed its message.
    const bool written = collectionPath.empty() || survey.Flush();
    replay.PrintSummary();
    if (!collectionPath.empty())
        std::cout << "points " << survey.PointCount() << "\n";
    std::cout.flush();
    return written ? 0 : kUsageOrInputError;
}
