#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd export --format geojson|kml|wigle [-o OUT] FILE.ktd`: the survey
// in a format mapping tools read, on standard output or in OUT. The command
// runs as soon as it is parsed and leaves its exit status in `status` (0 the
// whole file was read and written, 1 it is damaged or cut short and what could
// be read was written, 2 a file cannot be opened or the output not written).
void AddExportCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
