#pragma once

#include <QImage>
#include <QSize>

#include "analysis/Grid.h"
#include "render/HeatmapImage.h"
#include "render/PointsLayer.h"

class QPainter;

namespace ketrion::heatmap {

// A plan as a printed page shows it: at most `largest` pixels across (scaled
// down smoothly, never up), so the pictures a report makes of it never take
// the plan's full size in memory. What is drawn on them is still given in
// plan pixels, through ToPlanPixels.
class PrintedPlan {
public:
    PrintedPlan(const QImage& plan, int largest);

    // The size a plan of `plan` pixels is printed at.
    static QSize PrintedSize(const QSize& plan, int largest);

    const QImage& Image() const { return m_image; }
    QSize PlanSize() const { return m_planSize; }

    // The printed plan with the grid over it (semi-transparent) and the
    // points' layer on top; the layer is made at Image()'s size.
    QImage Heatmap(const analysis::Grid& grid, const ColourScale& scale, const PointsLayer& points,
                   int alpha = 150) const;
    // Makes `painter`, on a picture of Image()'s size, draw in plan pixels.
    void ToPlanPixels(QPainter& painter) const;

private:
    QSize m_planSize;
    QImage m_image;
};

}  // namespace ketrion::heatmap
