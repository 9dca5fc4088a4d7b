#pragma once

// Where an access point stands, fitted to a log-distance path-loss model:
//
//   signal = P - 10 n log10(d),   d = sqrt(r^2 + 1 m^2)
//
// with r the horizontal distance from the access point at (x, y); P (the
// signal at 1 m) and n (the path-loss exponent) are fitted with the position,
// n with a prior (kPriorExponent).
// The 1 m under the root keeps the model smooth where the walk passes right by
// the access point, and is what any reading within a metre of it gives.
//
// The fit is robust: a Huber loss (quadratic within kHuberScale robust
// standard deviations of the model, linear beyond) by iteratively reweighted
// Gauss-Newton steps, so a reading behind a wall or off a reflection pulls
// on the position with a bounded force. It starts from the best node of a grid
// search over the walked area and kSearchMargin metres around it (P and n
// solved exactly at each node), so it does not settle in a local minimum near
// the walk.
//
// Uncertainty: the 95 % ellipse of the position from the fit's covariance,
// s^2 (J^T W J)^-1, where s is the residuals' robust standard deviation
// (1.4826 times their median absolute deviation). Readings closer together
// than kDecorrelationMetres share the shadowing of the walls between them
// and the access point, so they are not independent: the covariance is scaled
// by the number of readings over the number of kDecorrelationMetres squares
// they fall in.
//
// No position is given when the strongest reading is weaker than
// kFitStrongestFloor (the walk never came near enough for the distance to
// tell), when it has fewer than kFitLeastReadings readings, when the best
// grid node lies on the search area's edge (the readings put the access
// point farther out than the walk can tell), or when the steps do not settle
// within kFitIterations. The reason is said.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "analysis/ApEstimate.h"

namespace ketrion::analysis {

inline constexpr double kFitStrongestFloor = -50;    // dBm
inline constexpr std::size_t kFitLeastReadings = 6;  // four unknowns and two to spare
inline constexpr double kSearchMargin = 20;          // metres around the walked area
inline constexpr double kDecorrelationMetres = 5;    // of indoor shadowing
inline constexpr double kHuberScale = 1.345;         // 95 % efficiency on normal residuals
inline constexpr int kFitIterations = 60;
inline constexpr double kMinExponent = 1.5;  // free space is 2; below 1.5 no building gives
inline constexpr double kMaxExponent = 6.0;  // above 6 no building gives either
// A prior on the exponent: the readings of one walk tell the exponent and the
// distance apart only loosely, so it is drawn toward the figure of indoor
// office radio planning (ITU-R P.1238: distance power loss coefficient
// N = 30 at 2.4 GHz, 31 at 5.2 GHz, i.e. n = 3) with a deviation of 0.5,
// weighed against the readings' own deviation.
inline constexpr double kPriorExponent = 3.0;
inline constexpr double kPriorExponentSd = 0.5;
// chi-square with two degrees of freedom at 95 %.
inline constexpr double kChiSquare2At95 = 5.991;

// A reading on a local plane, metres east and north of a reference.
struct PlaneReading {
    double east = 0;
    double north = 0;
    double signal = 0;  // dBm
};

struct PathLossFit {
    bool located = false;
    std::string why;  // when not located
    double east = 0;  // metres on the plane
    double north = 0;
    double powerAt1m = 0;  // P, dBm
    double exponent = 0;   // n
    double sigmaDb = 0;    // robust standard deviation of the residuals
    // The 95 % ellipse: semi-axes in metres, the major axis at `angle`
    // radians counter-clockwise from east.
    double semiMajor = 0, semiMinor = 0, angle = 0;
    std::size_t used = 0;
};

// The fit on a plane.
PathLossFit FitPathLoss(std::span<const PlaneReading> readings);

// The fit of one access point's observations (analysis/ApEstimate.h), its
// position in degrees.
struct FittedPosition {
    PathLossFit fit;
    double latitude = 0;
    double longitude = 0;
};
FittedPosition FitAccessPoint(std::span<const ApObservation> observations);

// Every access point's observations as the centroid uses them (the strongest
// reading of it at each survey point with a position; those without a fix
// when it has no other), in ascending address order, one list per
// EstimateAccessPoints entry.
std::vector<std::vector<ApObservation>> ObservationsOf(const std::vector<SurveyPoint>& points);

}  // namespace ketrion::analysis
