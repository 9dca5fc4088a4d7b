#pragma once

// Distances and bearings on the WGS 84 ellipsoid by Vincenty's inverse
// method (iterated to 1e-12 radians), independent of the code under test.
// Good to well under a millimetre for points that are not nearly antipodal.

#include <cmath>
#include <numbers>

namespace ketrion::testing {

struct Geodesic {
    double metres = 0;
    double azimuthDegrees = 0;  // initial bearing, clockwise from north, -180..180
};

inline Geodesic Vincenty(double lat1, double lon1, double lat2, double lon2) {
    constexpr double a = 6378137.0;
    constexpr double f = 1.0 / 298.257223563;
    constexpr double b = a * (1.0 - f);
    constexpr double rad = std::numbers::pi / 180.0;
    const double L = (lon2 - lon1) * rad;
    const double u1 = std::atan((1.0 - f) * std::tan(lat1 * rad));
    const double u2 = std::atan((1.0 - f) * std::tan(lat2 * rad));
    const double sinU1 = std::sin(u1), cosU1 = std::cos(u1);
    const double sinU2 = std::sin(u2), cosU2 = std::cos(u2);
    double lambda = L;
    double sinSigma = 0, cosSigma = 0, sigma = 0, cos2Alpha = 0, cos2SigmaM = 0;
    double sinLambda = 0, cosLambda = 0;
    for (int i = 0; i < 200; ++i) {
        sinLambda = std::sin(lambda);
        cosLambda = std::cos(lambda);
        sinSigma = std::hypot(cosU2 * sinLambda, cosU1 * sinU2 - sinU1 * cosU2 * cosLambda);
        if (sinSigma == 0) {
            return {};
        }
        cosSigma = sinU1 * sinU2 + cosU1 * cosU2 * cosLambda;
        sigma = std::atan2(sinSigma, cosSigma);
        const double sinAlpha = cosU1 * cosU2 * sinLambda / sinSigma;
        cos2Alpha = 1.0 - sinAlpha * sinAlpha;
        cos2SigmaM = cos2Alpha != 0 ? cosSigma - 2.0 * sinU1 * sinU2 / cos2Alpha : 0.0;
        const double C = f / 16.0 * cos2Alpha * (4.0 + f * (4.0 - 3.0 * cos2Alpha));
        const double previous = lambda;
        lambda = L + (1.0 - C) * f * sinAlpha *
                         (sigma +
                          C * sinSigma *
                              (cos2SigmaM + C * cosSigma * (-1.0 + 2.0 * cos2SigmaM * cos2SigmaM)));
        if (std::abs(lambda - previous) < 1e-12) {
            break;
        }
    }
    const double uSq = cos2Alpha * (a * a - b * b) / (b * b);
    const double A = 1.0 + uSq / 16384.0 * (4096.0 + uSq * (-768.0 + uSq * (320.0 - 175.0 * uSq)));
    const double B = uSq / 1024.0 * (256.0 + uSq * (-128.0 + uSq * (74.0 - 47.0 * uSq)));
    const double deltaSigma =
        B * sinSigma *
        (cos2SigmaM + B / 4.0 *
                          (cosSigma * (-1.0 + 2.0 * cos2SigmaM * cos2SigmaM) -
                           B / 6.0 * cos2SigmaM * (-3.0 + 4.0 * sinSigma * sinSigma) *
                               (-3.0 + 4.0 * cos2SigmaM * cos2SigmaM)));
    Geodesic g;
    g.metres = b * A * (sigma - deltaSigma);
    g.azimuthDegrees =
        std::atan2(cosU2 * sinLambda, cosU1 * sinU2 - sinU1 * cosU2 * cosLambda) / rad;
    return g;
}

}  // namespace ketrion::testing
