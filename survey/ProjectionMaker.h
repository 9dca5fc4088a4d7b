#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "survey/LocalPlane.h"
#include "survey/ProjectionHeader.h"

namespace ketrion {
class CSiteProjection;
}

namespace ketrion::ktp {

// One control point: a place known both on the earth (degrees, north and east
// positive) and on the plan image (pixels, x right, y down).
struct ControlPoint {
    double latitude = 0;
    double longitude = 0;
    double x = 0;
    double y = 0;
};

// Parses "LAT,LON,X,Y"; nothing when the text is not four finite numbers.
std::optional<ControlPoint> ParseControlPoint(std::string_view text);

// Parses "X1,Y1,X2,Y2,METRES": a line on the plan (pixels) and its true
// length; nothing when the text is not five finite numbers.
std::optional<ScaleLine> ParseScaleLine(std::string_view text);

// A known position on the plan: latitude and longitude, and the pixel they
// belong to (the plan's centre when not given).
struct PlanOrigin {
    double latitude = 0;
    double longitude = 0;
    std::optional<PlanPoint> pixel;
};

// Parses "LAT,LON" or "LAT,LON,X,Y"; nothing when the text is not two or four
// finite numbers. Whether the position is on the globe is checked when the
// map is made.
std::optional<PlanOrigin> ParsePlanOrigin(std::string_view text);

// Three control points that pin down the map of a plan laid on the local
// plane: three corners of the image at their positions under that map, whose
// fit (FitAffine) is the map itself. Both ways of making a plan without GPS
// (the command and the dialog) go through them. Fails with the message of
// MakeLocalPlane; warnings gets what the surveyor should know.
std::optional<std::vector<ControlPoint>> LocalPlaneControlPoints(const LocalPlaneRequest& request,
                                                                 std::vector<std::string>& warnings,
                                                                 std::string& error);

// The affine map from (latitude, longitude) to plan pixels, in the projection
// file's terms, and how well it fits the control points.
struct AffineFit {
    double xLat = 0, xLon = 0, xOrigin = 0;
    double yLat = 0, yLon = 0, yOrigin = 0;
    double rmsResidual = 0;  // pixels
    double maxResidual = 0;  // pixels
};

// Least-squares fit through three or more control points. Fails with a message
// in error when there are fewer than three, or when the points are collinear or
// repeated on the earth or on the image (the map would be degenerate).
std::optional<AffineFit> FitAffine(const std::vector<ControlPoint>& points, std::string& error);

// Plan pixel of a position under the fit, as the program computes it.
double MapX(const AffineFit& fit, double latitude, double longitude);
double MapY(const AffineFit& fit, double latitude, double longitude);

// A 24-bit bottom-up device-independent bitmap file of width x height pixels
// from top-down RGB rows (3 bytes per pixel, `stride` bytes per row).
std::vector<std::uint8_t> MakeBitmap24(int width, int height, const std::uint8_t* rgb,
                                       std::size_t stride);

// A whole projection file: the 145-byte header (unused bytes and the unused
// third coefficients zero) followed by the compressed bitmap block.
std::vector<std::uint8_t> MakeProjectionFile(const AffineFit& fit,
                                             std::span<const std::uint8_t> bitmap);

// What a projection file's header and block header say, read without writing
// anything (survey/ProjectionHeader.h).
using ProjectionInfo = projection::HeaderInfo;

// Reads the header of the projection file at path; fails with a message in
// error when it cannot be opened or is shorter than the header.
std::optional<ProjectionInfo> ReadProjectionInfo(const std::string& path, std::string& error);

// The info printed by "ktp info", one "name: value" line each.
std::string FormatProjectionInfo(const ProjectionInfo& info);

}  // namespace ketrion::ktp
