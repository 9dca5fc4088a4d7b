#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Grid.h"

namespace ketrion::analysis {

// A position on the plan, in plan pixels.
struct PlanPoint {
    double x = 0;
    double y = 0;
};

// The part of the plan a heatmap speaks for. Grid nodes outside it get no
// value, and coverage shares are shares of it.
//
// By default it is the survey points' concave hull: the Delaunay triangles of
// the points whose edges are all at most `maxEdge` long, together with a disc
// of `reach` around every point (so a single walk along a corridor, whose
// points are in a line and make no triangle, still has an area). Every place
// in a triangle whose longest side is E lies within E / sqrt(3) of a corner,
// so with `maxEdge` at most sqrt(3) times the interpolation radius the area
// has no blank strips; a gap between points wider than `maxEdge` (a
// courtyard, the outside of an L-shaped floor) stays outside it.
//
// Alternatively the user draws the boundary of the floor: a polygon in plan
// pixels (even-odd rule). Nodes inside it with no point within the radius
// have no value and count as not meeting any threshold.
class SurveyedArea {
public:
    enum class Kind { Hull, Boundary };

    SurveyedArea() = default;
    static SurveyedArea Hull(std::span<const PlanPoint> points, double maxEdge, double reach);
    static SurveyedArea Boundary(std::vector<PlanPoint> polygon);

    Kind GetKind() const { return m_kind; }
    double MaxEdge() const { return m_maxEdge; }
    double Reach() const { return m_reach; }
    std::size_t PointCount() const { return m_points.size(); }
    const std::vector<PlanPoint>& Polygon() const { return m_polygon; }
    // The hull's triangles, as indices of their corners in the points kept.
    const std::vector<std::array<std::uint32_t, 3>>& Triangles() const { return m_triangles; }

    // One byte per node of a columns x rows grid with nodes `cell` pixels
    // apart (node (i, j) at ((i + 0.5) * cell, (j + 0.5) * cell)), row after
    // row: 1 inside the area, 0 outside.
    std::vector<std::uint8_t> Mask(int columns, int rows, int cell) const;

private:
    Kind m_kind = Kind::Hull;
    double m_maxEdge = 0;
    double m_reach = 0;
    std::vector<PlanPoint> m_points;
    std::vector<std::array<std::uint32_t, 3>> m_triangles;
    std::vector<PlanPoint> m_polygon;
};

// The hull's longest edge and the reach around each point, as multiples of
// the interpolation radius: sqrt(3) is the longest edge that keeps every place
// in the hull within the radius of a point; a quarter of the radius around a
// lone point or line shows its surroundings without claiming the next room.
inline constexpr double kHullEdgeOfRadius = 1.732;  // just under sqrt(3)
inline constexpr double kPointReachOfRadius = 0.25;

// How many nodes of a grid lie in an area and how many of those reach a
// threshold. Nodes of the area without a value do not reach it.
struct AreaShare {
    std::size_t nodes = 0;    // nodes in the area
    std::size_t valued = 0;   // of those, nodes with a value
    std::size_t meeting = 0;  // of those, nodes at the threshold or above
    // meeting / nodes, 0 for an empty area.
    double Share() const;
};

// `mask` as SurveyedArea::Mask makes it for `grid`; an empty mask is the
// whole grid.
AreaShare ShareOfArea(const Grid& grid, std::span<const std::uint8_t> mask, double threshold);

// The largest boundary accepted, in vertices and in plan pixels from the origin.
inline constexpr std::size_t kLargestBoundary = 100'000;
inline constexpr double kFarthestVertex = 1'000'000;

// A boundary written as JSON: an array of [x, y] pairs in plan pixels, or an
// object whose "boundary" member is one. Nothing when it is not one (the
// reason in `error`): fewer than three vertices, a coordinate that is not a
// finite number within kFarthestVertex, more than kLargestBoundary vertices,
// or no area at all.
std::optional<std::vector<PlanPoint>> ParseBoundaryJson(std::string_view text, std::string& error);

}  // namespace ketrion::analysis
