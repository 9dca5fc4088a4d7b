// The survey points drawn once as a layer and laid over a heatmap look as the
// dots drawn straight onto it do (within a step of rounding), and many points
// on one pixel make the one dot a single point there makes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "render/HeatmapImage.h"
#include "render/PointsLayer.h"
#include "render/PrintedPlan.h"

namespace ketrion::heatmap {
namespace {

analysis::Grid SlopeGrid() {
    analysis::Grid grid(40, 30, 4);
    for (int j = 0; j < grid.rows; ++j)
        for (int i = 0; i < grid.columns; ++i)
            grid.At(i, j) = -90 + i + j;
    return grid;
}

int LargestDifference(const QImage& a, const QImage& b) {
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

TEST(PointsLayer, LaidOverAHeatmapItLooksLikeDotsDrawnOnIt) {
    QImage plan(160, 120, QImage::Format_RGB32);
    plan.fill(QColor(200, 210, 220));
    const analysis::Grid grid = SlopeGrid();
    const ColourScale scale = ColourScale::Signal("dBm");
    struct Case {
        const char* name;
        std::vector<QPoint> points;
        std::vector<QPoint> once;  // the same dots, each drawn once
        std::size_t dots;
    };
    std::vector<QPoint> stacked(1000, QPoint(80, 60));
    stacked.push_back(QPoint(20, 20));
    const std::vector<Case> cases = {
        {"apart",
         {{10, 10}, {50, 40}, {150, 110}, {0, 0}},
         {{10, 10}, {50, 40}, {150, 110}, {0, 0}},
         4},
        {"overlapping", {{30, 30}, {31, 30}, {33, 32}}, {{30, 30}, {31, 30}, {33, 32}}, 3},
        {"a thousand on one pixel", stacked, {{80, 60}, {20, 20}}, 2},
    };
    for (const Case& c : cases) {
        const PointsLayer layer(plan.size(), c.points);
        EXPECT_EQ(layer.Dots(), c.dots) << c.name;
        const QImage direct =
            ComposePlanHeatmap(plan, grid, scale, std::span<const QPoint>(c.once));
        const QImage layered = PrintedPlan(plan, plan.width()).Heatmap(grid, scale, layer);
        ASSERT_EQ(direct.size(), layered.size());
        EXPECT_LE(LargestDifference(direct, layered), 2) << c.name;
    }
}

// A report's page drawn on the plan as printed (a quarter of its size here)
// shows what the full-size picture shrunk afterwards showed, cell by cell,
// without a picture of the full size; points on one printed pixel are one dot.
TEST(PrintedPlan, APrintedHeatmapIsTheFullPictureShrunk) {
    QImage plan(1600, 1200, QImage::Format_RGB32);
    plan.fill(QColor(200, 210, 220));
    analysis::Grid grid(40, 30, 40);
    for (int j = 0; j < grid.rows; ++j)
        for (int i = 0; i < grid.columns; ++i)
            grid.At(i, j) = -95 + i + j;
    const ColourScale scale = ColourScale::Signal("dBm");
    const PrintedPlan printed(plan, 400);
    ASSERT_EQ(printed.Image().size(), QSize(400, 300));
    EXPECT_EQ(printed.PlanSize(), QSize(1600, 1200));

    std::vector<QPoint> near;  // sixteen plan pixels, one printed pixel
    for (int k = 0; k < 16; ++k)
        near.emplace_back(800 + k % 4, 600 + k / 4);
    const PointsLayer layer(plan.size(), near, printed.Image().size());
    EXPECT_EQ(layer.Dots(), 1u);
    const QImage page = printed.Heatmap(grid, scale, PointsLayer(plan.size(), {}, QSize(400, 300)));
    const QImage shrunk = ComposePlanHeatmap(plan, grid, scale, std::span<const QPoint>())
                              .scaled(400, 300, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int largest = 0;
    for (int j = 0; j < grid.rows; ++j)
        for (int i = 0; i < grid.columns; ++i) {
            const QRgb a = page.pixel(i * 10 + 5, j * 10 + 5);
            const QRgb b = shrunk.pixel(i * 10 + 5, j * 10 + 5);
            largest = std::max({largest, std::abs(qRed(a) - qRed(b)),
                                std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
        }
    EXPECT_LE(largest, 2);
}

}  // namespace
}  // namespace ketrion::heatmap
