#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <span>

#include "analysis/Grid.h"
#include "render/HeatmapImage.h"

namespace ketrion::heatmap {

// The survey points as small dots (as ComposePlanHeatmap draws them) on a
// transparent layer the size of the plan, drawn once and laid over as many
// heatmaps of the same plan as need it. Points on the same plan pixel make
// one dot: a large survey costs one disc per pixel, not one per point.
class PointsLayer {
public:
    PointsLayer(const QSize& plan, std::span<const QPoint> points);
    // The same layer for a picture of the plan at `picture` pixels (a
    // printed plan): dots as the full-size layer scaled down would show
    // them, at least a pixel across, one per picture pixel.
    PointsLayer(const QSize& plan, std::span<const QPoint> points, const QSize& picture);

    const QImage& Image() const { return m_image; }
    // The dots drawn, one per distinct pixel.
    std::size_t Dots() const { return m_dots; }

private:
    QImage m_image;
    std::size_t m_dots = 0;
};

}  // namespace ketrion::heatmap
