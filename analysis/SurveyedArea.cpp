#include "analysis/SurveyedArea.h"

#include <algorithm>
#include <boost/polygon/voronoi.hpp>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <unordered_map>

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

// The same discs for a reach so large that drawing them one by one would
// visit the grid many times over: each node looks for a point within reach in
// the buckets (squares of the reach's side) around it. Only the survey's own
// nearest-point index is a tree; this needs none.
void MarkNearNodes(const std::vector<PlanPoint>& points, double reach, int columns, int rows,
                   int cell, std::vector<std::uint8_t>& mask) {
    const double side = std::max(reach, static_cast<double>(cell));
    const auto across = [&](double extent) {
        return static_cast<std::size_t>(std::min(extent / side, 1e6)) + 1;
    };
    const std::size_t bucketColumns = across(static_cast<double>(columns) * cell);
    const std::size_t bucketRows = across(static_cast<double>(rows) * cell);
    const auto bucketOf = [&](double x, double y) -> std::size_t {
        const auto i = static_cast<std::size_t>(
            std::clamp(std::floor(x / side), 0.0, static_cast<double>(bucketColumns - 1)));
        const auto j = static_cast<std::size_t>(
            std::clamp(std::floor(y / side), 0.0, static_cast<double>(bucketRows - 1)));
        return j * bucketColumns + i;
    };
    // Points in bucket b: order[start[b]] .. order[start[b + 1] - 1]. A point
    // beyond the grid by more than the reach touches no node and is left out;
    // the others are kept in the edge bucket nearest to them, which the nodes
    // next to it look into.
    const double r2 = reach * reach;
    const double right = static_cast<double>(columns) * cell + reach;
    const double bottom = static_cast<double>(rows) * cell + reach;
    const auto useful = [&](const PlanPoint& p) {
        return p.x >= -reach && p.y >= -reach && p.x <= right && p.y <= bottom;
    };
    std::vector<std::uint32_t> start(bucketColumns * bucketRows + 1, 0);
    for (const PlanPoint& p : points)
        if (useful(p))
            ++start[bucketOf(p.x, p.y) + 1];
    for (std::size_t b = 1; b < start.size(); ++b)
        start[b] += start[b - 1];
    std::vector<std::uint32_t> order(start.back());
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t n = 0; n < points.size(); ++n)
        if (useful(points[n]))
            order[fill[bucketOf(points[n].x, points[n].y)]++] = static_cast<std::uint32_t>(n);
    for (int j = 0; j < rows; ++j) {
        const double y = (j + 0.5) * cell;
        for (int i = 0; i < columns; ++i) {
            std::uint8_t& m = mask[static_cast<std::size_t>(j) * columns + i];
            if (m != 0)
                continue;
            const double x = (i + 0.5) * cell;
            const std::size_t home = bucketOf(x, y);
            const std::size_t bi = home % bucketColumns;
            const std::size_t bj = home / bucketColumns;
            for (std::size_t v = bj == 0 ? 0 : bj - 1; m == 0 && v <= bj + 1 && v < bucketRows; ++v)
                for (std::size_t u = bi == 0 ? 0 : bi - 1;
                     m == 0 && u <= bi + 1 && u < bucketColumns; ++u) {
                    const std::size_t b = v * bucketColumns + u;
                    for (std::uint32_t k = start[b]; k < start[b + 1]; ++k) {
                        const PlanPoint& p = points[order[k]];
                        const double dx = x - p.x;
                        const double dy = y - p.y;
                        if (dx * dx + dy * dy <= r2) {
                            m = 1;
                            break;
                        }
                    }
                }
        }
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

// Receives the Voronoi builder's events and keeps only what the hull needs:
// one Delaunay triangle per Voronoi vertex (the three sites of its circle
// event) and which vertices coincide. Much smaller than the whole diagram
// (cells, half-edges and vertices with their links), which a large survey
// could not afford beside its points.
class DelaunayOutput {
public:
    // A bisector between two sites, with the Voronoi vertices at its ends
    // (none for a bisector born at a site event until circle events end it).
    struct Bisector {
        std::uint32_t site[2];
        std::uint32_t end[2] = {kNone, kNone};
    };
    struct Vertex {
        double x, y;
        std::uint32_t parent;   // union-find: vertices that coincide
        std::uint32_t site[3];  // the Delaunay triangle
    };
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

    void _reserve(std::size_t sites) { m_vertices.reserve(2 * sites); }
    template <class Site>
    void _process_single_site(const Site&) {}
    template <class Site>
    std::pair<void*, void*> _insert_new_edge(const Site& site1, const Site& site2) {
        Bisector& b = m_bisectors.emplace_back();
        b.site[0] = static_cast<std::uint32_t>(site1.initial_index());
        b.site[1] = static_cast<std::uint32_t>(site2.initial_index());
        return {&b, &b};
    }
    template <class Site, class Circle>
    std::pair<void*, void*> _insert_new_edge(const Site& site1, const Site& site3,
                                             const Circle& circle, void* data12, void* data23) {
        auto* b12 = static_cast<Bisector*>(data12);
        auto* b23 = static_cast<Bisector*>(data23);
        const auto a = static_cast<std::uint32_t>(site1.initial_index());
        const auto c = static_cast<std::uint32_t>(site3.initial_index());
        const std::uint32_t middle = b12->site[0] == a ? b12->site[1] : b12->site[0];
        const auto id = static_cast<std::uint32_t>(m_vertices.size());
        m_vertices.push_back({circle.x(), circle.y(), id, {a, middle, c}});
        End(*b12, id);
        End(*b23, id);
        Bisector& b = m_bisectors.emplace_back();
        b.site[0] = a;
        b.site[1] = c;
        b.end[0] = id;
        return {&b, &b};
    }
    void _build() { m_bisectors.clear(); }

    std::uint32_t Root(std::uint32_t v) {
        while (m_vertices[v].parent != v) {
            m_vertices[v].parent = m_vertices[m_vertices[v].parent].parent;
            v = m_vertices[v].parent;
        }
        return v;
    }
    std::vector<Vertex>& Vertices() { return m_vertices; }

private:
    // A bisector whose two ends are the same point (four or more sites on one
    // circle) joins its vertices into one, as the diagram would.
    void End(Bisector& b, std::uint32_t vertex) {
        const int slot = b.end[0] == kNone ? 0 : 1;
        b.end[slot] = vertex;
        if (slot == 0)
            return;
        using Traits = boost::polygon::voronoi_diagram_traits<double>;
        const Vertex& p = m_vertices[b.end[0]];
        const Vertex& q = m_vertices[vertex];
        if (m_equal(Traits::vertex_type(p.x, p.y), Traits::vertex_type(q.x, q.y))) {
            const std::uint32_t r1 = Root(b.end[0]);
            const std::uint32_t r2 = Root(vertex);
            if (r1 != r2)
                m_vertices[r2].parent = r1;
        }
    }

    std::deque<Bisector> m_bisectors;
    std::vector<Vertex> m_vertices;
    boost::polygon::voronoi_diagram_traits<double>::vertex_equality_predicate_type m_equal;
};

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
    area.m_points.reserve(points.size());
    for (const PlanPoint& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            continue;
        const PlanPoint kept{std::clamp(std::round(p.x), -kLargestCoordinate, kLargestCoordinate),
                             std::clamp(std::round(p.y), -kLargestCoordinate, kLargestCoordinate)};
        area.m_points.push_back(kept);
    }
    if (area.m_points.size() < 3 || area.m_points.size() >= DelaunayOutput::kNone)
        return area;

    // Each vertex of the Voronoi diagram is a Delaunay cell: the sites of the
    // circle event that made it, or of several such events at one point when
    // more than three sites lie on one circle. A cell is kept when every side
    // of its outline is short; its triangles together cover it.
    DelaunayOutput output;
    {
        boost::polygon::voronoi_builder<int> builder;
        for (const PlanPoint& p : area.m_points)
            builder.insert_point(static_cast<int>(p.x), static_cast<int>(p.y));
        builder.construct(&output);
    }
    const auto shortSide = [&](std::uint32_t p, std::uint32_t q) {
        return Distance(area.m_points[p], area.m_points[q]) <= area.m_maxEdge;
    };
    std::vector<DelaunayOutput::Vertex>& vertices = output.Vertices();
    // Cells of several triangles, by their first vertex: each side of a
    // triangle inside the cell is shared by two of them, the outline's are not.
    std::vector<std::uint32_t> members(vertices.size(), 0);
    for (std::uint32_t v = 0; v < vertices.size(); ++v)
        ++members[output.Root(v)];
    std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> merged;
    for (std::uint32_t v = 0; v < vertices.size(); ++v)
        if (members[output.Root(v)] > 1)
            merged[output.Root(v)].push_back(v);
    std::vector<std::uint32_t>().swap(members);
    const auto keep = [&](const DelaunayOutput::Vertex& t) {
        area.m_triangles.push_back({t.site[0], t.site[1], t.site[2]});
    };
    for (std::uint32_t v = 0; v < vertices.size(); ++v) {
        const DelaunayOutput::Vertex& t = vertices[v];
        const auto group = merged.find(output.Root(v));
        if (group == merged.end()) {
            if (shortSide(t.site[0], t.site[1]) && shortSide(t.site[1], t.site[2]) &&
                shortSide(t.site[2], t.site[0]))
                keep(t);
            continue;
        }
        if (group->second.front() != v)
            continue;  // the whole cell is decided at its first triangle
        std::map<std::pair<std::uint32_t, std::uint32_t>, int> sides;
        for (const std::uint32_t member : group->second)
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t p = vertices[member].site[k];
                const std::uint32_t q = vertices[member].site[(k + 1) % 3];
                ++sides[{std::min(p, q), std::max(p, q)}];
            }
        bool small = true;
        for (const auto& [side, count] : sides)
            if (count == 1 && !shortSide(side.first, side.second))
                small = false;
        if (small)
            for (const std::uint32_t member : group->second)
                keep(vertices[member]);
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
        MarkTriangle({m_points[triangle[0]], m_points[triangle[1]], m_points[triangle[2]]}, columns,
                     rows, cell, mask);
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
