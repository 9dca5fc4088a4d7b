#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd report --projection P.ktp FILE.ktd -o REPORT.pdf`: a PDF with a
// title block (--site, --client, --surveyor, --date, --notes), the survey's
// time span, point count and file name, what the surveyed area is (the points'
// concave hull, or --boundary), the stated requirements (--require,
// --require-second, --require-share) met or not per heatmap, a heatmap page
// for all networks and one per network name, and the access points with
// their estimated positions.
// The command runs as soon as it is parsed and leaves its exit status in
// `status` (0 done, 1 the collection file is damaged and what could be read
// was reported, 2 bad arguments or a file cannot be read or written).
void AddReportCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
