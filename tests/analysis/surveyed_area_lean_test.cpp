// The surveyed area built without the whole Voronoi diagram or a second tree
// marks exactly the nodes that the diagram's cells and a nearest-point search
// mark: scattered points, lattices whose squares put four points on one
// circle, points in a line, repeated points, points off the plan, and reaches
// both small (disc by disc) and large (the bucket search).

#include <gtest/gtest.h>

#include <boost/polygon/voronoi.hpp>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "analysis/SurveyedArea.h"

namespace ketrion::analysis {
namespace {

// The reference: every vertex of the full diagram whose ring of cells has
// only short sides is filled (a fan of its ring), then every node within the
// reach of a point, found by looking at all of them.
std::vector<std::uint8_t> ReferenceMask(const std::vector<PlanPoint>& points, double maxEdge,
                                        double reach, int columns, int rows, int cell) {
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(columns) * rows, 0);
    std::vector<boost::polygon::point_data<int>> sites;
    for (const PlanPoint& p : points)
        sites.emplace_back(static_cast<int>(p.x), static_cast<int>(p.y));
    const auto inside = [](const PlanPoint& a, const PlanPoint& b, const PlanPoint& c, double x,
                           double y) {
        const auto cross = [](const PlanPoint& o, const PlanPoint& e, double px, double py) {
            return (e.x - o.x) * (py - o.y) - (e.y - o.y) * (px - o.x);
        };
        const double area = cross(a, b, c.x, c.y);
        if (area == 0)
            return false;
        const double sign = area > 0 ? 1 : -1;
        const double tolerance = -1e-9 * std::abs(area);
        return sign * cross(a, b, x, y) >= tolerance && sign * cross(b, c, x, y) >= tolerance &&
               sign * cross(c, a, x, y) >= tolerance;
    };
    if (sites.size() >= 3) {
        boost::polygon::voronoi_diagram<double> diagram;
        boost::polygon::construct_voronoi(sites.begin(), sites.end(), &diagram);
        for (const auto& vertex : diagram.vertices()) {
            std::vector<std::size_t> ring;
            const auto* edge = vertex.incident_edge();
            do {
                ring.push_back(edge->cell()->source_index());
                edge = edge->rot_next();
            } while (edge != vertex.incident_edge());
            bool small = true;
            for (std::size_t k = 0; k < ring.size(); ++k) {
                const PlanPoint& a = points[ring[k]];
                const PlanPoint& b = points[ring[(k + 1) % ring.size()]];
                small = small && std::hypot(a.x - b.x, a.y - b.y) <= maxEdge;
            }
            for (std::size_t k = 1; small && k + 1 < ring.size(); ++k)
                for (int j = 0; j < rows; ++j)
                    for (int i = 0; i < columns; ++i)
                        if (inside(points[ring[0]], points[ring[k]], points[ring[k + 1]],
                                   (i + 0.5) * cell, (j + 0.5) * cell))
                            mask[static_cast<std::size_t>(j) * columns + i] = 1;
        }
    }
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i)
            for (const PlanPoint& p : points) {
                const double dx = (i + 0.5) * cell - p.x;
                const double dy = (j + 0.5) * cell - p.y;
                if (dx * dx + dy * dy <= reach * reach)
                    mask[static_cast<std::size_t>(j) * columns + i] = 1;
            }
    return mask;
}

std::vector<PlanPoint> Scattered(int count, int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> x(0, width - 1), y(0, height - 1);
    std::vector<PlanPoint> points;
    for (int n = 0; n < count; ++n)
        points.push_back({double(x(rng)), double(y(rng))});
    return points;
}

std::vector<PlanPoint> Lattice(int step, int width, int height) {
    std::vector<PlanPoint> points;
    for (int y = step / 2; y < height; y += step)
        for (int x = step / 2; x < width; x += step)
            if ((x / step + y / step) % 7 != 3)  // holes, so that some cells are cut off
                points.push_back({double(x), double(y)});
    return points;
}

TEST(SurveyedAreaLean, MarksTheNodesTheWholeDiagramMarks) {
    struct Case {
        std::string name;
        std::vector<PlanPoint> points;
        double maxEdge, reach;
    };
    std::vector<PlanPoint> line;
    for (int n = 0; n < 40; ++n)
        line.push_back({10.0 + 7 * n, 20.0 + 3 * n});
    std::vector<PlanPoint> repeated = Scattered(60, 200, 150, 5);
    repeated.insert(repeated.end(), repeated.begin(), repeated.begin() + 30);
    std::vector<PlanPoint> offPlan = Scattered(300, 400, 300, 9);
    for (PlanPoint& p : offPlan)
        p.x -= 60;
    const std::vector<Case> cases = {
        {"scattered, small reach", Scattered(400, 300, 200, 1), 40, 6},
        {"scattered, large reach", Scattered(3000, 300, 200, 2), 20, 30},
        {"lattice on one circle per square", Lattice(10, 300, 200), 12, 2},
        {"lattice, diagonals too long", Lattice(10, 300, 200), 10.5, 0},
        {"lattice, large reach", Lattice(4, 300, 200), 5, 25},
        {"points in a line", line, 50, 20},
        {"repeated points", repeated, 45, 3},
        {"points off the plan", offPlan, 30, 40},
    };
    constexpr int kCell = 4;
    constexpr int kColumns = 80;
    constexpr int kRows = 55;
    for (const Case& c : cases) {
        const SurveyedArea area = SurveyedArea::Hull(c.points, c.maxEdge, c.reach);
        const std::vector<std::uint8_t> expected =
            ReferenceMask(c.points, c.maxEdge, c.reach, kColumns, kRows, kCell);
        EXPECT_EQ(area.Mask(kColumns, kRows, kCell), expected) << c.name;
    }
}

}  // namespace
}  // namespace ketrion::analysis
