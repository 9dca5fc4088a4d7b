#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd site new|add-floor|align|add|remove|switch|list|check SITE.kts
// ...`: makes and edits a site file (site/SiteFile.h) and checks it. Every
// edit is checked before the file changes and saved atomically. The command
// runs as soon as it is parsed and leaves its exit status in `status` (0 done,
// 1 `check` found problems, 2 bad arguments, a refused change or a file that
// cannot be read or written).
void AddSiteCommand(CLI::App& app, int& status);

// Adds `ktd merge A.ktd B.ktd ... -o OUT.ktd [--projection P.ktp]`: several
// walks on one plan as one collection file with its side store
// (site/CollectionMerge.h).
void AddMergeCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
