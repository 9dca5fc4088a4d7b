#pragma once

#include <CLI/CLI.hpp>

namespace ketrion::ktd {

// Adds `ktd heatmap --projection P.ktp [--metric M] [--ap MAC] [--ssid NAME]
// [--threshold DBM] [--cell N] [--radius R] [--max-points K] [--power P]
// [--boundary AREA.json] [-o OUT.png] [--grid OUT.asc] FILE.ktd`: the survey
// interpolated over its surveyed area (the points' concave hull, or the
// boundary given), as a picture placed on the map by OUT.pgw and OUT.prj, and/or as an
// ESRI ASCII grid. The command runs as soon as it is parsed and leaves its
// exit status in `status` (0 done, 1 the collection file is damaged and what
// could be read was drawn, 2 bad arguments or a file cannot be read or written).
void AddHeatmapCommand(CLI::App& app, int& status);

}  // namespace ketrion::ktd
