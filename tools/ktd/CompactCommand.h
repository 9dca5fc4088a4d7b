#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd compact IN.ktd -o OUT.ktd`: a collection file without the points
// that IN's side store marks deleted (the header and every kept point copied
// byte for byte), and a side store for OUT with the kept points' rows. The
// command runs as soon as it is parsed and leaves its exit status in `status`
// (0 written, 1 IN or its side store is damaged and nothing was written, 2 a
// file cannot be opened or written, or OUT is not a file it may replace).
void AddCompactCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
