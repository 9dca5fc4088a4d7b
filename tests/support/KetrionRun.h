#pragma once

// Runs the real ketrion program unattended, as an end-to-end test would, with
// its settings and data folders inside the test's own folder.

#include <cstdlib>
#include <string>
#include <vector>

#include "support/RunProgram.h"

namespace ketrion::testing {

inline std::string KetrionPath() {
    return std::string(KETRION_BINARY_DIR) + "/app/ketrion";
}

// `home` keeps the run's settings and data; `timeout` is generous, so only a
// run that hangs fails by it on a loaded machine.
inline ProgramRun RunKetrion(const std::vector<std::string>& args, const std::string& home,
                             std::chrono::seconds timeout = std::chrono::seconds(180)) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    RunOptions options;
    options.timeout = timeout;
    return RunProgram(KetrionPath(), args, options);
}

}  // namespace ketrion::testing
