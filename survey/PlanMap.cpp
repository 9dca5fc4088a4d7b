#include "survey/PlanMap.h"

#include <cmath>

#include "survey/LocalPlane.h"

namespace ketrion {

namespace {

// Relative size of the determinant below which the map counts as squeezing
// the earth onto a line: its inverse would magnify rounding into kilometres.
constexpr double kSingularTolerance = 1e-12;

}  // namespace

PlanPoint PlanMap::ToPlan(double latitude, double longitude) const {
    return {(latitude * xLat + longitude * xLon) + xOrigin,
            (latitude * yLat + longitude * yLon) + yOrigin};
}

std::optional<GeoPoint> PlanMap::ToGeo(double x, double y) const {
    const double det = xLat * yLon - xLon * yLat;
    const double size = std::abs(xLat * yLon) + std::abs(xLon * yLat);
    if (!std::isfinite(det) || !(std::abs(det) > kSingularTolerance * size)) {
        return std::nullopt;
    }
    const double dx = x - xOrigin;
    const double dy = y - yOrigin;
    GeoPoint geo{(yLon * dx - xLon * dy) / det, (xLat * dy - yLat * dx) / det};
    if (!std::isfinite(geo.latitude) || !std::isfinite(geo.longitude)) {
        return std::nullopt;
    }
    return geo;
}

std::optional<double> PlanMap::PixelsPerMetreAt(double x, double y) const {
    const auto at = ToGeo(x, y), right = ToGeo(x + 1, y), down = ToGeo(x, y + 1);
    if (!at || !right || !down)
        return std::nullopt;
    auto metres = [&](const GeoPoint& to) {
        return std::hypot((to.latitude - at->latitude) * MetresPerDegreeLatitude(at->latitude),
                          (to.longitude - at->longitude) * MetresPerDegreeLongitude(at->latitude));
    };
    const double step = (metres(*right) + metres(*down)) / 2;
    if (!std::isfinite(step) || !(step > 0))
        return std::nullopt;
    return 1 / step;
}

}  // namespace ketrion
