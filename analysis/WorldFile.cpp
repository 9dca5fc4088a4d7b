#include "analysis/WorldFile.h"

#include <cmath>
#include <cstdio>

#include "survey/SiteProjection.h"

namespace ketrion::analysis {

const char kWgs84Wkt[] =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
    "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";

double WorldFile::Longitude(double x, double y) const {
    return a * (x - 0.5) + b * (y - 0.5) + c;
}

double WorldFile::Latitude(double x, double y) const {
    return d * (x - 0.5) + e * (y - 0.5) + f;
}

std::string WorldFile::Text() const {
    std::string out;
    char line[64];
    for (double v : {a, d, b, e, c, f}) {
        std::snprintf(line, sizeof line, "%.17g\n", v);
        out += line;
    }
    return out;
}

std::optional<WorldFile> MakeWorldFile(const CSiteProjection& projection) {
    // x = xLat * lat + xLon * lon + xOrigin
    // y = yLat * lat + yLon * lon + yOrigin
    const PlanMap map = projection.Map();
    const double p = map.xLat, q = map.xLon, r = map.xOrigin;
    const double s = map.yLat, t = map.yLon, u = map.yOrigin;
    for (double v : {p, q, r, s, t, u})
        if (!std::isfinite(v))
            return std::nullopt;
    const double det = p * t - q * s;
    // A determinant lost in the rounding of its own products is no better than 0.
    const double scale = std::fabs(p * t) + std::fabs(q * s);
    if (!std::isfinite(det) || det == 0 || std::fabs(det) <= scale * 1e-12)
        return std::nullopt;
    // lat = ( t * (x - r) - q * (y - u)) / det
    // lon = (-s * (x - r) + p * (y - u)) / det
    WorldFile w;
    w.d = t / det;
    w.e = -q / det;
    w.a = -s / det;
    w.b = p / det;
    const double x0 = 0.5 - r;
    const double y0 = 0.5 - u;
    w.f = (t * x0 - q * y0) / det;
    w.c = (-s * x0 + p * y0) / det;
    for (double v : {w.a, w.b, w.c, w.d, w.e, w.f})
        if (!std::isfinite(v))
            return std::nullopt;
    return w;
}

}  // namespace ketrion::analysis
