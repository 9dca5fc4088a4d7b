#pragma once

// Floors of a building laid over each other. Each floor plan marks reference
// points (a stairwell, a lift shaft) with labels; the points two floors share
// by label give the similarity transform (scale, turn, shift; never a mirror)
// that takes one floor's plan pixels onto the other's, fitted by least
// squares. Two shared points fix it exactly; more show how well the plans
// agree, as the residual in metres on the target floor.
//
// Refused: fewer than two shared points, two points of a floor on one spot
// (they fix no direction), and three or more points of a floor on one line
// (a mirrored plan fits a line as well as the true one, so the residual could
// not reveal it).

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "site/Site.h"
#include "survey/PlanMap.h"

namespace ketrion::site {

// Points closer than this (plan pixels) are one spot.
inline constexpr double kMinReferenceSeparation = 1.0;
// Three or more points whose RMS distance from their best line is below this
// (plan pixels) lie on one line.
inline constexpr double kMinReferenceSpread = 1.0;

// z -> (a + ib) z + (tx + i ty), with plan pixels as complex numbers.
struct Similarity {
    double a = 1, b = 0, tx = 0, ty = 0;
    PlanPoint Apply(const PlanPoint& p) const {
        return {a * p.x - b * p.y + tx, b * p.x + a * p.y + ty};
    }
    double Scale() const;
    double RotationDegrees() const;
};

struct Alignment {
    Similarity transform;   // from the floor's pixels to the target floor's
    std::size_t pairs = 0;  // shared reference points used
    double rmsMetres = 0;   // residual on the target floor
    double maxMetres = 0;
};

// Empty when a floor's reference points are usable; else a message naming
// the floor and the points on one spot or on one line.
std::string CheckReferences(const std::string& floorName,
                            const std::vector<ReferencePoint>& points);

// Fits `from`'s reference points onto `to`'s by their shared labels, the
// residual in metres from `metresPerPixelTo`. Nothing, with a message, when
// they cannot be aligned (see above).
std::optional<Alignment> AlignFloors(const Floor& from, const Floor& to, double metresPerPixelTo,
                                     std::string& error);

}  // namespace ketrion::site
