#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd report --projection P.ktp FILE.ktd -o REPORT.pdf`: a PDF with the
// plan and its strongest-signal heatmap, the share of the surveyed area at or
// above -67 and -75 dBm, a page per network name, the access points with their
// estimated positions, and the survey's time span, point count and file name.
// The command runs as soon as it is parsed and leaves its exit status in
// `status` (0 done, 1 the collection file is damaged and what could be read
// was reported, 2 bad arguments or a file cannot be read or written).
void AddReportCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
