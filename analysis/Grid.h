#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ketrion::analysis {

// Values on a regular grid over the plan: `columns` x `rows` nodes, `cell` plan
// pixels apart; node (i, j) lies at plan point ((i + 0.5) * cell, (j + 0.5) *
// cell). Row 0 is the plan's top. Nodes without a value hold kNoData.
struct Grid {
    static constexpr double kNoData = -9999;

    int columns = 0;
    int rows = 0;
    int cell = 1;
    std::vector<double> values;  // row after row, rows * columns

    Grid() = default;
    Grid(int columns_, int rows_, int cell_)
        : columns(columns_),
          rows(rows_),
          cell(cell_),
          values(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_), kNoData) {}

    double& At(int i, int j) {
        return values[static_cast<std::size_t>(j) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(i)];
    }
    double At(int i, int j) const {
        return values[static_cast<std::size_t>(j) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(i)];
    }
    static bool HasValue(double v) { return v != kNoData; }
};

// The most nodes a grid is made with (400 MB of values).
inline constexpr std::size_t kLargestGrid = 50'000'000;

// Columns or rows covering `extent` plan pixels in cells of `cell` pixels:
// ceil(extent / cell).
int CellsCovering(int extent, int cell);

// Whether the grid over a width x height plan in cells of `cell` pixels stays
// within kLargestGrid nodes.
bool GridFits(int width, int height, int cell);

// The grid as an ESRI ASCII grid: the six header lines (ncols, nrows,
// xllcorner 0, yllcorner -(rows * cell), cellsize, NODATA_value -9999), then
// one line per row from the plan's top down, values with two decimals. Its
// coordinates are plan pixels with y negated (plan point (x, y) at (x, -y)),
// the frame GIS tools give an image without a georeference, so the grid
// overlays the plan picture there.
std::string EsriAsciiGrid(const Grid& grid);

// Share of the nodes with a value whose value is at least `threshold`, from 0
// to 1; 0 when no node has a value.
double ShareAtLeast(const Grid& grid, double threshold);

}  // namespace ketrion::analysis
