#include "ui/siteview/LabelPlacer.h"

namespace ketrion {

namespace {

// Labels of markers on one spot stack in columns beside it: this many rows
// above and below the centred one, each a label's height plus this gap apart.
constexpr int kStackRows = 3;
constexpr double kRowGap = 2.0;

}  // namespace

LabelPlacer::LabelPlacer(QRectF bounds, double markerRadius, double gap)
    : m_bounds(bounds), m_radius(markerRadius), m_gap(gap) {}

std::vector<std::optional<QRectF>> LabelPlacer::Place(std::span<const Item> items) const {
    std::vector<QRectF> taken = m_obstacles;
    // Every marker is kept clear, also those placed later.
    for (const Item& item : items) {
        taken.emplace_back(item.anchor.x() - m_radius, item.anchor.y() - m_radius, 2 * m_radius,
                           2 * m_radius);
    }
    std::vector<std::optional<QRectF>> placed;
    placed.reserve(items.size());
    for (const Item& item : items) {
        const double w = item.size.width();
        const double h = item.size.height();
        const double x = item.anchor.x();
        const double y = item.anchor.y();
        const double d = m_radius + m_gap;
        std::vector<QPointF> corners;
        // Right and left, centred, then stacked up and down beside the marker.
        for (int row = 0; row <= 2 * kStackRows; ++row) {
            const int step = (row + 1) / 2 * (row % 2 == 1 ? -1 : 1);
            const double top = y - h / 2 + step * (h + kRowGap);
            corners.emplace_back(x + d, top);
            corners.emplace_back(x - d - w, top);
        }
        // Then above, below and the corners.
        for (const QPointF& corner :
             {QPointF(x - w / 2, y - d - h), QPointF(x - w / 2, y + d), QPointF(x + d, y - d - h),
              QPointF(x - d - w, y - d - h), QPointF(x + d, y + d), QPointF(x - d - w, y + d)}) {
            corners.push_back(corner);
        }
        std::optional<QRectF> chosen;
        {
            for (const QPointF& corner : corners) {
                const QRectF box(corner, item.size);
                if (!m_bounds.contains(box)) {
                    continue;
                }
                bool free = true;
                for (const QRectF& other : taken) {
                    if (box.intersects(other)) {
                        free = false;
                        break;
                    }
                }
                if (free) {
                    chosen = box;
                    break;
                }
            }
        }
        if (chosen) {
            taken.push_back(*chosen);
        }
        placed.push_back(chosen);
    }
    return placed;
}

}  // namespace ketrion
