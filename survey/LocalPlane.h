#pragma once

#include <optional>
#include <string>
#include <vector>

#include "survey/PlanMap.h"

namespace ketrion {

// Where a plan is put on the earth when the surveyor gives no position: on
// the equator at the prime meridian, in open sea, where no real site is; a
// degree of latitude and one of longitude span nearly the same distance there.
inline constexpr double kDefaultOriginLatitude = 0.0;
inline constexpr double kDefaultOriginLongitude = 0.0;
// A plan put at the default origin lies within this many degrees of it
// (22 km: no site plan is larger); no real site lies that near (the nearest
// land is six degrees off).
inline constexpr double kDefaultOriginReachDegrees = 0.2;

// True when a stored position lies where a plan made without a position puts
// its points: within kDefaultOriginReachDegrees of the default origin, and
// not exactly on it (0,0 is what a point without any position stores).
bool NearDefaultOrigin(double latitude, double longitude);

// Metres per degree of latitude (along the meridian) and of longitude (along
// the parallel) on the WGS 84 ellipsoid at a latitude.
double MetresPerDegreeLatitude(double latitude);
double MetresPerDegreeLongitude(double latitude);

// Moves positions of a plan laid at the default origin to the same east and
// north metres from another origin: what the plan would have given had it
// been made with that position.
class OriginShift {
public:
    OriginShift(double latitude, double longitude) : m_latitude(latitude), m_longitude(longitude) {}
    // The position `latitude`, `longitude` (degrees, near the default origin)
    // moved to the new origin.
    void Apply(double& latitude, double& longitude) const;

private:
    double m_latitude;
    double m_longitude;
};

// A second scale line whose scale differs from the first's by more than this
// share means the plan is stretched or one of the lines is wrong.
inline constexpr double kScaleDisagreementLimit = 0.02;
// A check line within this many degrees of the first one's direction checks
// the scale along that direction only, not the plan's aspect.
inline constexpr double kCheckLineMinAngleDegrees = 20.0;
// Largest error of a distance measured on the plan, as a share of its length,
// that the map keeps; beyond it the plan is too large for one affine map.
inline constexpr double kPlanDistanceTolerance = 0.005;

// A line drawn on the plan (pixels) along a feature whose true length is known.
struct ScaleLine {
    double x1 = 0;
    double y1 = 0;
    double x2 = 0;
    double y2 = 0;
    double metres = 0;

    double PixelLength() const;
    // Pixels per metre along the line.
    double PixelsPerMetre() const { return PixelLength() / metres; }
};

// What places a plan image without GPS: its size, a scale line, optionally a
// second line to check it, a known position and the plan's turn.
struct LocalPlaneRequest {
    int width = 0;  // plan image, pixels
    int height = 0;
    ScaleLine scale;
    std::optional<ScaleLine> check;
    double latitude = kDefaultOriginLatitude;  // degrees, of the origin pixel
    double longitude = kDefaultOriginLongitude;
    // The pixel at latitude/longitude; the plan's centre when not given.
    std::optional<PlanPoint> originPixel;
    // Bearing of the plan's up direction, degrees clockwise from true north.
    double north = 0;
};

struct LocalPlane {
    PlanMap map;
    double pixelsPerMetre = 0;
    PlanPoint originPixel;
    // |check scale / scale - 1| when a check line was given.
    std::optional<double> disagreement;
    // Things the surveyor should know; the map is still usable.
    std::vector<std::string> warnings;
};

// The map of a plan laid on the local tangent plane of the WGS 84 ellipsoid at
// the origin: east and north metres from the origin, scaled by the scale line
// and turned by north, as an affine map from latitude and longitude to plan
// pixels. Fails with a message in error when an input is out of range (a
// position off the globe, a line of no length, a length that is not a
// positive number) or when the plan would reach past a pole or across the
// 180th meridian, which one affine map of latitude and longitude cannot show.
std::optional<LocalPlane> MakeLocalPlane(const LocalPlaneRequest& request, std::string& error);

}  // namespace ketrion
