#include "analysis/SurveyedArea.h"

#include <algorithm>
#include <boost/polygon/voronoi.hpp>
#include <cmath>
#include <nanoflann.hpp>
#include <nlohmann/json.hpp>

namespace ketrion::analysis {

namespace {

// Plan positions are whole pixels; the triangulation works on integers (exact
// predicates), well inside the range it accepts.
constexpr double kLargestCoordinate = 1 << 29;

// Above this many node visits per node, discs are found by a nearest-point
// search per node instead (about as costly as a few visits).
constexpr double kDiscWorkPerNode = 16;

double Distance(const PlanPoint& a, const PlanPoint& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// Node columns (or rows) whose centres lie in [low, high].
void NodeRange(double low, double high, int cell, int count, int& first, int& last) {
    first = std::max(0, static_cast<int>(std::ceil(low / cell - 0.5)));
    last = std::min(count - 1, static_cast<int>(std::floor(high / cell - 0.5)));
}

double Cross(const PlanPoint& o, const PlanPoint& a, double x, double y) {
    return (a.x - o.x) * (y - o.y) - (a.y - o.y) * (x - o.x);
}

void MarkTriangle(const std::array<PlanPoint, 3>& t, int columns, int rows, int cell,
                  std::vector<std::uint8_t>& mask) {
    const double area = Cross(t[0], t[1], t[2].x, t[2].y);
    if (area == 0)
        return;
    const double sign = area > 0 ? 1 : -1;
    // Nodes exactly on an edge belong to both triangles that share it.
    const double tolerance = -1e-9 * std::abs(area);
    int i0, i1, j0, j1;
    NodeRange(std::min({t[0].x, t[1].x, t[2].x}), std::max({t[0].x, t[1].x, t[2].x}), cell, columns,
              i0, i1);
    NodeRange(std::min({t[0].y, t[1].y, t[2].y}), std::max({t[0].y, t[1].y, t[2].y}), cell, rows,
              j0, j1);
    for (int j = j0; j <= j1; ++j) {
        const double y = (j + 0.5) * cell;
        for (int i = i0; i <= i1; ++i) {
            const double x = (i + 0.5) * cell;
            if (sign * Cross(t[0], t[1], x, y) >= tolerance &&
                sign * Cross(t[1], t[2], x, y) >= tolerance &&
                sign * Cross(t[2], t[0], x, y) >= tolerance)
                mask[static_cast<std::size_t>(j) * columns + i] = 1;
        }
    }
}

void MarkDisc(const PlanPoint& p, double reach, int columns, int rows, int cell,
              std::vector<std::uint8_t>& mask) {
    int i0, i1, j0, j1;
    NodeRange(p.x - reach, p.x + reach, cell, columns, i0, i1);
    NodeRange(p.y - reach, p.y + reach, cell, rows, j0, j1);
    const double r2 = reach * reach;
    for (int j = j0; j <= j1; ++j) {
        const double dy = (j + 0.5) * cell - p.y;
        for (int i = i0; i <= i1; ++i) {
            const double dx = (i + 0.5) * cell - p.x;
            if (dx * dx + dy * dy <= r2)
                mask[static_cast<std::size_t>(j) * columns + i] = 1;
        }
    }
}

// The points as nanoflann sees them.
struct PointCloud {
    const std::vector<PlanPoint>* points;
    std::size_t kdtree_get_point_count() const { return points->size(); }
    double kdtree_get_pt(std::size_t i, std::size_t dim) const {
        return dim == 0 ? (*points)[i].x : (*points)[i].y;
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

// The same discs for a reach so large that drawing them one by one would
// visit the grid many times over: each node asks for its nearest point.
void MarkNearNodes(const std::vector<PlanPoint>& points, double reach, int columns, int rows,
                   int cell, std::vector<std::uint8_t>& mask) {
    using Tree =
        nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, PointCloud>,
                                            PointCloud, 2, std::size_t>;
    const PointCloud cloud{&points};
    Tree tree(2, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16));
    const double r2 = reach * reach;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            std::uint8_t& m = mask[static_cast<std::size_t>(j) * columns + i];
            if (m != 0)
                continue;
            const double query[2] = {(i + 0.5) * cell, (j + 0.5) * cell};
            std::size_t nearest = 0;
            double d2 = 0;
            if (tree.knnSearch(query, 1, &nearest, &d2) == 1 && d2 <= r2)
                m = 1;
        }
}

// Even-odd fill of a polygon, row by row: the crossings of each node row with
// the edges, sorted, bound the runs inside.
void MarkPolygon(const std::vector<PlanPoint>& polygon, int columns, int rows, int cell,
                 std::vector<std::uint8_t>& mask) {
    std::vector<double> crossings;
    const std::size_t n = polygon.size();
    for (int j = 0; j < rows; ++j) {
        const double y = (j + 0.5) * cell;
        crossings.clear();
        for (std::size_t k = 0; k < n; ++k) {
            const PlanPoint& a = polygon[k];
            const PlanPoint& b = polygon[(k + 1) % n];
            if ((a.y <= y) != (b.y <= y))
                crossings.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
        }
        std::sort(crossings.begin(), crossings.end());
        for (std::size_t k = 0; k + 1 < crossings.size(); k += 2) {
            int i0, i1;
            NodeRange(crossings[k], crossings[k + 1], cell, columns, i0, i1);
            for (int i = i0; i <= i1; ++i)
                mask[static_cast<std::size_t>(j) * columns + i] = 1;
        }
    }
}

double SignedArea(const std::vector<PlanPoint>& polygon) {
    double twice = 0;
    for (std::size_t k = 0; k < polygon.size(); ++k) {
        const PlanPoint& a = polygon[k];
        const PlanPoint& b = polygon[(k + 1) % polygon.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return twice / 2;
}

}  // namespace

SurveyedArea SurveyedArea::Hull(std::span<const PlanPoint> points, double maxEdge, double reach) {
    SurveyedArea area;
    area.m_kind = Kind::Hull;
    area.m_maxEdge = std::isfinite(maxEdge) ? std::max(maxEdge, 0.0) : 0.0;
    area.m_reach = std::isfinite(reach) ? std::max(reach, 0.0) : 0.0;
    using Site = boost::polygon::point_data<int>;
    std::vector<Site> sites;
    sites.reserve(points.size());
    for (const PlanPoint& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            continue;
        const PlanPoint kept{std::clamp(std::round(p.x), -kLargestCoordinate, kLargestCoordinate),
                             std::clamp(std::round(p.y), -kLargestCoordinate, kLargestCoordinate)};
        area.m_points.push_back(kept);
        sites.emplace_back(static_cast<int>(kept.x), static_cast<int>(kept.y));
    }
    if (sites.size() < 3)
        return area;

    // Each vertex of the Voronoi diagram is a Delaunay cell: the sites of the
    // cells around it, in order (more than three when they lie on one circle).
    boost::polygon::voronoi_diagram<double> diagram;
    boost::polygon::construct_voronoi(sites.begin(), sites.end(), &diagram);
    std::vector<std::size_t> ring;
    for (const auto& vertex : diagram.vertices()) {
        ring.clear();
        const auto* edge = vertex.incident_edge();
        do {
            ring.push_back(edge->cell()->source_index());
            edge = edge->rot_next();
        } while (edge != vertex.incident_edge());
        bool small = ring.size() >= 3;
        for (std::size_t k = 0; small && k < ring.size(); ++k)
            small = Distance(area.m_points[ring[k]], area.m_points[ring[(k + 1) % ring.size()]]) <=
                    area.m_maxEdge;
        if (!small)
            continue;
        for (std::size_t k = 1; k + 1 < ring.size(); ++k)
            area.m_triangles.push_back(
                {area.m_points[ring[0]], area.m_points[ring[k]], area.m_points[ring[k + 1]]});
    }
    return area;
}

SurveyedArea SurveyedArea::Boundary(std::vector<PlanPoint> polygon) {
    SurveyedArea area;
    area.m_kind = Kind::Boundary;
    area.m_polygon = std::move(polygon);
    return area;
}

std::vector<std::uint8_t> SurveyedArea::Mask(int columns, int rows, int cell) const {
    if (columns <= 0 || rows <= 0 || cell <= 0)
        return {};
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(columns) * rows, 0);
    if (m_kind == Kind::Boundary) {
        if (m_polygon.size() >= 3)
            MarkPolygon(m_polygon, columns, rows, cell, mask);
        return mask;
    }
    for (const auto& triangle : m_triangles)
        MarkTriangle(triangle, columns, rows, cell, mask);
    if (m_reach <= 0 || m_points.empty())
        return mask;
    // Disc by disc while that visits each node a few times at most.
    const double across = 2 * m_reach / cell + 1;
    const double discWork = across * across * static_cast<double>(m_points.size());
    if (discWork <= kDiscWorkPerNode * static_cast<double>(mask.size())) {
        for (const PlanPoint& p : m_points)
            MarkDisc(p, m_reach, columns, rows, cell, mask);
    } else {
        MarkNearNodes(m_points, m_reach, columns, rows, cell, mask);
    }
    return mask;
}

double AreaShare::Share() const {
    return nodes == 0 ? 0.0 : static_cast<double>(meeting) / static_cast<double>(nodes);
}

AreaShare ShareOfArea(const Grid& grid, std::span<const std::uint8_t> mask, double threshold) {
    AreaShare share;
    const bool whole = mask.size() != grid.values.size();
    for (std::size_t n = 0; n < grid.values.size(); ++n) {
        if (!whole && mask[n] == 0)
            continue;
        ++share.nodes;
        const double v = grid.values[n];
        if (!Grid::HasValue(v))
            continue;
        ++share.valued;
        if (v >= threshold)
            ++share.meeting;
    }
    return share;
}

namespace {

// The deepest nesting of lists and objects in `text` (strings skipped), up
// to `limit` + 1: a boundary is at most an object, its list and the vertex
// lists, and a parser given deeper text builds a node per bracket.
int NestingDepth(std::string_view text, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size() && deepest <= limit; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

}  // namespace

std::optional<std::vector<PlanPoint>> ParseBoundaryJson(std::string_view text, std::string& error) {
    constexpr int kDeepestBoundary = 4;
    if (NestingDepth(text, kDeepestBoundary) > kDeepestBoundary) {
        error = "its lists are nested deeper than a boundary's";
        return std::nullopt;
    }
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        error = "it is not JSON";
        return std::nullopt;
    }
    const nlohmann::json* list = &document;
    if (document.is_object()) {
        const auto it = document.find("boundary");
        if (it == document.end()) {
            error = "it has no \"boundary\" member";
            return std::nullopt;
        }
        list = &*it;
    }
    if (!list->is_array()) {
        error = "the boundary is not a list of [x, y] vertices";
        return std::nullopt;
    }
    if (list->size() > kLargestBoundary) {
        error = "the boundary has more than " + std::to_string(kLargestBoundary) + " vertices";
        return std::nullopt;
    }
    std::vector<PlanPoint> polygon;
    polygon.reserve(list->size());
    for (const nlohmann::json& vertex : *list) {
        if (!vertex.is_array() || vertex.size() != 2 || !vertex[0].is_number() ||
            !vertex[1].is_number()) {
            error = "vertex " + std::to_string(polygon.size() + 1) + " is not [x, y]";
            return std::nullopt;
        }
        const PlanPoint p{vertex[0].get<double>(), vertex[1].get<double>()};
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > kFarthestVertex ||
            std::abs(p.y) > kFarthestVertex) {
            error =
                "vertex " + std::to_string(polygon.size() + 1) + " is not a position on the plan";
            return std::nullopt;
        }
        polygon.push_back(p);
    }
    if (polygon.size() < 3) {
        error = "a boundary needs at least three vertices";
        return std::nullopt;
    }
    if (SignedArea(polygon) == 0) {
        error = "the boundary encloses no area";
        return std::nullopt;
    }
    return polygon;
}

}  // namespace ketrion::analysis
