#include "analysis/Grid.h"

#include <cmath>
#include <cstdio>

namespace ketrion::analysis {

int CellsCovering(int extent, int cell) {
    if (extent <= 0 || cell <= 0)
        return 0;
    return extent / cell + (extent % cell != 0 ? 1 : 0);
}

bool GridFits(int width, int height, int cell) {
    return static_cast<std::size_t>(CellsCovering(width, cell)) *
               static_cast<std::size_t>(CellsCovering(height, cell)) <=
           kLargestGrid;
}

std::string EsriAsciiGrid(const Grid& grid) {
    std::string out;
    out.reserve(static_cast<std::size_t>(grid.columns) * static_cast<std::size_t>(grid.rows) * 8 +
                128);
    out += "ncols " + std::to_string(grid.columns) + "\n";
    out += "nrows " + std::to_string(grid.rows) + "\n";
    // Plan pixels with y pointing up, as GIS tools show an image without a
    // georeference (pixel row r at y = -r): the grid's top edge is the plan's
    // top at y = 0, so it lies over the plan picture.
    out += "xllcorner 0\nyllcorner " + std::to_string(-grid.rows * grid.cell) + "\n";
    out += "cellsize " + std::to_string(grid.cell) + "\n";
    out += "NODATA_value -9999\n";
    char text[48];
    for (int j = 0; j < grid.rows; ++j) {
        for (int i = 0; i < grid.columns; ++i) {
            const double v = grid.At(i, j);
            int n = 0;
            if (!Grid::HasValue(v) || !std::isfinite(v)) {
                n = std::snprintf(text, sizeof text, "-9999");
            } else {
                // Rounding to two decimals must not turn a small negative
                // value into "-0.00".
                double rounded = std::round(v * 100.0) / 100.0;
                if (rounded == 0)
                    rounded = 0;
                n = std::snprintf(text, sizeof text, "%.2f", rounded);
            }
            if (i > 0)
                out += ' ';
            out.append(text, static_cast<std::size_t>(n));
        }
        out += '\n';
    }
    return out;
}

double ShareAtLeast(const Grid& grid, double threshold) {
    std::size_t valued = 0;
    std::size_t above = 0;
    for (double v : grid.values) {
        if (!Grid::HasValue(v))
            continue;
        ++valued;
        if (v >= threshold)
            ++above;
    }
    return valued == 0 ? 0.0 : static_cast<double>(above) / static_cast<double>(valued);
}

}  // namespace ketrion::analysis
