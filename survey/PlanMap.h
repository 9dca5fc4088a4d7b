#pragma once

#include <optional>

namespace ketrion {

// A position on the plan image, in pixels (x right, y down), not rounded.
struct PlanPoint {
    double x = 0;
    double y = 0;
};

// A position on the earth, in degrees (north and east positive).
struct GeoPoint {
    double latitude = 0;
    double longitude = 0;
};

// The affine map of a projection file from latitude and longitude (degrees)
// to plan pixels:
//   x = (latitude * xLat + longitude * xLon) + xOrigin
//   y = (latitude * yLat + longitude * yLon) + yOrigin
// evaluated in that order, as the site view places positions.
struct PlanMap {
    double xLat = 0;
    double xLon = 0;
    double xOrigin = 0;
    double yLat = 0;
    double yLon = 0;
    double yOrigin = 0;

    PlanPoint ToPlan(double latitude, double longitude) const;
    // The position whose plan pixel is (x, y): the exact inverse of ToPlan.
    // Nothing when the map has no inverse (no projection loaded, or a map
    // that squeezes the earth onto a line) or when the result is not finite.
    // The longitude is not wrapped: a plan that crosses the 180th meridian
    // gives values beyond 180, which ToPlan takes back to the same pixel.
    std::optional<GeoPoint> ToGeo(double x, double y) const;
    // The plan's scale around pixel (x, y): plan pixels per metre on the
    // ground, the mean of a step right and a step down. Nothing without an
    // inverse or where a step has no length.
    std::optional<double> PixelsPerMetreAt(double x, double y) const;
};

}  // namespace ketrion
