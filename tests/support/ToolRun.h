#pragma once

// Runs one of the built command-line tools as a user would and keeps what it
// printed on each stream and its exit status (through RunProgram: no shell).

#include <initializer_list>
#include <string>
#include <vector>

#include "support/RunProgram.h"

namespace ketrion::testing {

using ToolRun = ProgramRun;

// Runs build/<tool> (for example "tools/ktd/ktd") with `args`.
inline ToolRun RunTool(const std::string& tool, std::initializer_list<std::string> args) {
    return RunProgram(std::string(KETRION_BINARY_DIR) + "/" + tool, std::vector<std::string>(args));
}

}  // namespace ketrion::testing
