#pragma once

// A local plane around a reference position: metres east and north on a
// sphere of the earth's mean radius, good to about 0.01 % over a site of a few
// hundred metres and working across the 180th meridian.

#include <cmath>
#include <numbers>

#include "analysis/ApEstimate.h"

namespace ketrion::analysis {

inline constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
inline constexpr double kMetresPerDegree = kEarthRadiusMetres * kRadiansPerDegree;
// Below this cosine of the latitude (within about 20 m of a pole) east-west
// distances are taken as zero rather than divided by almost nothing.
inline constexpr double kPolarCosine = 1e-6;

// A longitude difference brought into [-180, 180).
inline double WrapDegrees(double degrees) {
    double wrapped = std::fmod(degrees + 180.0, 360.0);
    if (wrapped < 0)
        wrapped += 360.0;
    return wrapped - 180.0;
}

// Metres east and north of a reference position on the local plane.
struct Plane {
    double latitude0 = 0;
    double longitude0 = 0;
    double cosLatitude = 1;

    Plane(double latitude, double longitude)
        : latitude0(latitude),
          longitude0(longitude),
          cosLatitude(std::cos(latitude * kRadiansPerDegree)) {}
    double East(double longitude) const {
        return WrapDegrees(longitude - longitude0) * kMetresPerDegree * cosLatitude;
    }
    double North(double latitude) const { return (latitude - latitude0) * kMetresPerDegree; }
    double Latitude(double north) const { return latitude0 + north / kMetresPerDegree; }
    double Longitude(double east) const {
        if (std::fabs(cosLatitude) < kPolarCosine)
            return longitude0;
        return WrapDegrees(longitude0 + east / (kMetresPerDegree * cosLatitude));
    }
};

}  // namespace ketrion::analysis
