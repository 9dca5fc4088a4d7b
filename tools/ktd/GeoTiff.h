#pragma once

#include <string>

#include "analysis/Grid.h"
#include "analysis/WorldFile.h"

namespace ketrion::ktd {

// Writes `grid` as a single-band GeoTIFF at `path` (a new file the caller
// renames into place): 32-bit float values, Grid::kNoData as the band's
// no-data value, and a geotransform in WGS 84 longitude and latitude
// (EPSG:4326) that puts each node's cell where `world` puts those plan pixels.
// False with the reason in `error`.
bool WriteGeoTiff(const std::string& path, const analysis::Grid& grid,
                  const analysis::WorldFile& world, std::string& error);

// Writes `grid` as a Cloud Optimized GeoTIFF (GDAL's COG driver): the same
// values, no-data value and placement as WriteGeoTiff, in tiles with
// overviews, so a web map reads the parts it shows by HTTP range requests
// without a server of ours. False with the reason in `error`.
bool WriteCog(const std::string& path, const analysis::Grid& grid, const analysis::WorldFile& world,
              std::string& error);

}  // namespace ketrion::ktd
