#include "survey/LocalPlane.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace ketrion {

namespace {

// The WGS 84 ellipsoid: semi-major axis (metres) and flattening.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kEccentricitySquared = kFlattening * (2.0 - kFlattening);
constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string Percent(double share) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", share * 100.0);
    return text;
}

// Scales a plan can have (pixels per metre), and the shortest scale line
// taken without a warning (metres).
constexpr double kFewestPixelsPerMetre = 1e-3;
constexpr double kMostPixelsPerMetre = 1e6;
constexpr double kShortestUnwarnedMetres = 0.5;

// Checks one line; names it in the message as `what`.
bool CheckLine(const ScaleLine& line, const char* what, std::string& error) {
    for (const double v : {line.x1, line.y1, line.x2, line.y2}) {
        if (!std::isfinite(v)) {
            error = std::string("the ") + what + " has an end that is not a number";
            return false;
        }
    }
    if (!(line.PixelLength() > 0)) {
        error = std::string("the ") + what + " has no length on the plan: its two ends coincide";
        return false;
    }
    if (!std::isfinite(line.metres) || !(line.metres > 0)) {
        error = std::string("the ") + what + "'s length must be a positive number of metres, not " +
                Number(line.metres);
        return false;
    }
    // From a kilometre to a micrometre per pixel: anything else is a slip
    // in the length (or its unit), and no map can be made of it.
    const double scale = line.PixelsPerMetre();
    if (!(scale >= kFewestPixelsPerMetre && scale <= kMostPixelsPerMetre)) {
        error = std::string("the ") + what + " makes " + Number(scale) + " pixels per metre (" +
                Number(line.PixelLength()) + " pixels for " + Number(line.metres) +
                " m): no plan has such a scale; give its length in metres";
        return false;
    }
    return true;
}

// Angle between the two lines' directions, 0 to 90 degrees.
double AngleBetween(const ScaleLine& a, const ScaleLine& b) {
    const double ta = std::atan2(a.y2 - a.y1, a.x2 - a.x1);
    const double tb = std::atan2(b.y2 - b.y1, b.x2 - b.x1);
    double d = std::fmod(std::abs(ta - tb) / kRadiansPerDegree, 180.0);
    if (d > 90.0) {
        d = 180.0 - d;
    }
    return d;
}

}  // namespace

double MetresPerDegreeLatitude(double latitude) {
    const double s = std::sin(latitude * kRadiansPerDegree);
    const double w = 1.0 - kEccentricitySquared * s * s;
    return kSemiMajorAxis * (1.0 - kEccentricitySquared) / (w * std::sqrt(w)) * kRadiansPerDegree;
}

double MetresPerDegreeLongitude(double latitude) {
    const double phi = latitude * kRadiansPerDegree;
    const double s = std::sin(phi);
    return kSemiMajorAxis / std::sqrt(1.0 - kEccentricitySquared * s * s) * std::cos(phi) *
           kRadiansPerDegree;
}

bool NearDefaultOrigin(double latitude, double longitude) {
    const double north = latitude - kDefaultOriginLatitude;
    const double east = longitude - kDefaultOriginLongitude;
    return (north != 0 || east != 0) && std::fabs(north) <= kDefaultOriginReachDegrees &&
           std::fabs(east) <= kDefaultOriginReachDegrees;
}

void OriginShift::Apply(double& latitude, double& longitude) const {
    const double north =
        (latitude - kDefaultOriginLatitude) * MetresPerDegreeLatitude(kDefaultOriginLatitude);
    const double east =
        (longitude - kDefaultOriginLongitude) * MetresPerDegreeLongitude(kDefaultOriginLatitude);
    latitude = m_latitude + north / MetresPerDegreeLatitude(m_latitude);
    longitude = m_longitude + east / MetresPerDegreeLongitude(m_latitude);
}

double ScaleLine::PixelLength() const {
    return std::hypot(x2 - x1, y2 - y1);
}

std::optional<LocalPlane> MakeLocalPlane(const LocalPlaneRequest& request, std::string& error) {
    if (request.width <= 0 || request.height <= 0) {
        error = "the plan image has no pixels";
        return std::nullopt;
    }
    if (!CheckLine(request.scale, "scale line", error)) {
        return std::nullopt;
    }
    if (request.check && !CheckLine(*request.check, "second scale line", error)) {
        return std::nullopt;
    }
    if (!std::isfinite(request.latitude) || request.latitude < -90.0 || request.latitude > 90.0) {
        error = "latitude " + Number(request.latitude) +
                " is off the globe: it must lie between -90 and 90 degrees";
        return std::nullopt;
    }
    if (!std::isfinite(request.longitude) || request.longitude < -180.0 ||
        request.longitude > 180.0) {
        error = "longitude " + Number(request.longitude) +
                " is off the globe: it must lie between -180 and 180 degrees";
        return std::nullopt;
    }
    if (!std::isfinite(request.north)) {
        error = "the direction of north must be a number of degrees";
        return std::nullopt;
    }
    LocalPlane plane;
    plane.originPixel =
        request.originPixel.value_or(PlanPoint{request.width / 2.0, request.height / 2.0});
    if (!std::isfinite(plane.originPixel.x) || !std::isfinite(plane.originPixel.y)) {
        error = "the origin pixel is not a number";
        return std::nullopt;
    }
    plane.pixelsPerMetre = request.scale.PixelsPerMetre();
    if (request.scale.metres < kShortestUnwarnedMetres) {
        plane.warnings.push_back("the scale line is only " + Number(request.scale.metres) +
                                 " m long: check that its length is given in metres");
    }

    // East and north metres from the origin are linear in latitude and
    // longitude on the tangent plane; the plan's right-hand direction has the
    // bearing north + 90 and its y axis points down, away from its up.
    const double s = plane.pixelsPerMetre;
    const double theta = std::fmod(request.north, 360.0) * kRadiansPerDegree;
    const double northMetres = MetresPerDegreeLatitude(request.latitude);
    const double eastMetres = MetresPerDegreeLongitude(request.latitude);
    PlanMap& m = plane.map;
    m.xLat = -s * std::sin(theta) * northMetres;
    m.xLon = s * std::cos(theta) * eastMetres;
    m.yLat = -s * std::cos(theta) * northMetres;
    m.yLon = -s * std::sin(theta) * eastMetres;
    m.xOrigin = plane.originPixel.x - (request.latitude * m.xLat + request.longitude * m.xLon);
    m.yOrigin = plane.originPixel.y - (request.latitude * m.yLat + request.longitude * m.yLon);

    // Every corner of the plan must land on the globe without wrapping, and
    // the scale there must stay close to the origin's.
    const double w = request.width;
    const double h = request.height;
    GeoPoint corners[4];
    int n = 0;
    for (const PlanPoint corner : {PlanPoint{0, 0}, PlanPoint{w, 0}, PlanPoint{0, h}, {w, h}}) {
        const std::optional<GeoPoint> geo = m.ToGeo(corner.x, corner.y);
        if (!geo) {
            error = "no usable map at latitude " + Number(request.latitude) + " with " +
                    Number(plane.pixelsPerMetre) + " pixels per metre" +
                    (std::abs(request.latitude) > 89.0 ? ": a plan cannot be laid on a pole" : "");
            return std::nullopt;
        }
        corners[n++] = *geo;
    }
    // Past a pole the longitudes run wild too: that is the cause to name.
    for (const GeoPoint& geo : corners) {
        if (geo.latitude < -90.0 || geo.latitude > 90.0) {
            error = "the plan reaches past the pole at this scale and origin";
            return std::nullopt;
        }
    }
    double worst = 0;
    for (const GeoPoint& geo : corners) {
        if (geo.longitude < -180.0 || geo.longitude > 180.0) {
            error =
                "the plan crosses the 180th meridian at this scale and origin: give an origin "
                "whose plan lies on one side of it";
            return std::nullopt;
        }
        worst =
            std::max({worst, std::abs(MetresPerDegreeLatitude(geo.latitude) / northMetres - 1.0),
                      std::abs(MetresPerDegreeLongitude(geo.latitude) / eastMetres - 1.0)});
    }
    if (worst > kPlanDistanceTolerance) {
        plane.warnings.push_back("the plan spans so far that distances near its edges are off by " +
                                 Percent(worst) + ": one flat map does not fit a plan this large");
    }

    if (request.check) {
        const double checkScale = request.check->PixelsPerMetre();
        plane.disagreement = std::abs(checkScale / plane.pixelsPerMetre - 1.0);
        if (*plane.disagreement > kScaleDisagreementLimit) {
            plane.warnings.push_back(
                "the two scale lines disagree by " + Percent(*plane.disagreement) + " (" +
                Number(plane.pixelsPerMetre) + " and " + Number(checkScale) +
                " pixels per metre): check both lengths, or the plan is stretched");
        }
        if (AngleBetween(request.scale, *request.check) < kCheckLineMinAngleDegrees) {
            plane.warnings.push_back(
                "the second scale line runs nearly parallel to the first: drawn across it, it "
                "would also check that the plan is not stretched");
        }
    }
    return plane;
}

}  // namespace ketrion
