#include "tools/ktd/GeoTiff.h"

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <vector>

namespace ketrion::ktd {

namespace {

// EPSG code of WGS 84 longitude and latitude in degrees.
constexpr int kWgs84 = 4326;

std::string LastError() {
    const char* message = CPLGetLastErrorMsg();
    return message != nullptr && *message != 0 ? message : "write failed";
}

// Fills the new one-band dataset `dataset` with `grid`, placed by `world`.
// False on a failed write (the reason in GDAL's error state).
bool FillDataset(GDALDatasetH dataset, const analysis::Grid& grid,
                 const analysis::WorldFile& world) {
    // Grid pixel (u, v) covers plan pixels from (u * cell, v * cell); the
    // world file takes plan points whose pixel centres lie at + 0.5.
    const double cell = grid.cell;
    double transform[6] = {world.c - 0.5 * world.a - 0.5 * world.b, world.a * cell, world.b * cell,
                           world.f - 0.5 * world.d - 0.5 * world.e, world.d * cell, world.e * cell};
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    OSRImportFromEPSG(srs, kWgs84);
    // x is longitude, y latitude, as the geotransform has them.
    OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    std::vector<float> row(static_cast<std::size_t>(grid.columns));
    bool written = GDALSetGeoTransform(dataset, transform) == CE_None &&
                   GDALSetSpatialRef(dataset, srs) == CE_None &&
                   GDALSetRasterNoDataValue(band, analysis::Grid::kNoData) == CE_None;
    for (int j = 0; written && j < grid.rows; ++j) {
        for (int i = 0; i < grid.columns; ++i)
            row[static_cast<std::size_t>(i)] = static_cast<float>(grid.At(i, j));
        written = GDALRasterIO(band, GF_Write, 0, j, grid.columns, 1, row.data(), grid.columns, 1,
                               GDT_Float32, 0, 0) == CE_None;
    }
    OSRDestroySpatialReference(srs);
    return written;
}

}  // namespace

bool WriteGeoTiff(const std::string& path, const analysis::Grid& grid,
                  const analysis::WorldFile& world, std::string& error) {
    // GDAL reports through its error state; the message goes to the user once.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
    GDALAllRegister();
    bool ok = false;
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    GDALDatasetH dataset = driver == nullptr ? nullptr
                                             : GDALCreate(driver, path.c_str(), grid.columns,
                                                          grid.rows, 1, GDT_Float32, nullptr);
    if (dataset == nullptr) {
        error = LastError();
    } else {
        const bool written = FillDataset(dataset, grid, world);
        GDALClose(dataset);
        // A failed write on closing shows only in the error state.
        ok = written && CPLGetLastErrorType() < CE_Failure;
        if (!ok)
            error = LastError();
    }
    CPLPopErrorHandler();
    return ok;
}

bool WriteCog(const std::string& path, const analysis::Grid& grid, const analysis::WorldFile& world,
              std::string& error) {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
    GDALAllRegister();
    bool ok = false;
    // The COG driver writes only by copying a whole dataset: the grid is
    // made in memory first, then copied with its tiles and overviews laid out
    // for reading by ranges.
    GDALDriverH memory = GDALGetDriverByName("MEM");
    GDALDriverH cog = GDALGetDriverByName("COG");
    GDALDatasetH dataset =
        memory == nullptr || cog == nullptr
            ? nullptr
            : GDALCreate(memory, "", grid.columns, grid.rows, 1, GDT_Float32, nullptr);
    if (dataset == nullptr) {
        error =
            cog == nullptr ? "this GDAL has no COG driver (GDAL 3.1 or later has)" : LastError();
    } else {
        if (FillDataset(dataset, grid, world)) {
            // Deflate with a floating-point predictor: small tiles for a web map.
            const char* options[] = {"COMPRESS=DEFLATE", "PREDICTOR=YES", "BLOCKSIZE=256",
                                     "OVERVIEWS=AUTO", nullptr};
            GDALDatasetH copy = GDALCreateCopy(cog, path.c_str(), dataset, FALSE,
                                               const_cast<char**>(options), nullptr, nullptr);
            if (copy != nullptr)
                GDALClose(copy);
            ok = copy != nullptr && CPLGetLastErrorType() < CE_Failure;
        }
        GDALClose(dataset);
        if (!ok)
            error = LastError();
    }
    CPLPopErrorHandler();
    return ok;
}

}  // namespace ketrion::ktd
