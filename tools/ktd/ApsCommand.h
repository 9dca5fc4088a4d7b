#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd aps [--projection P.ktp] FILE.ktd`: one line per access point
// heard at the survey points with its estimated position. The command runs
// as soon as it is parsed and leaves its exit status in `status` (0 the whole
// file was read, 1 it is damaged or cut short, 2 a file cannot be opened).
void AddApsCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
