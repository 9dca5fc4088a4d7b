#pragma once

#include <QRectF>
#include <QSizeF>

#include <optional>
#include <span>
#include <vector>

namespace ketrion {

// Places labels beside their markers so that no two labels overlap, no label
// covers a marker or an obstacle (the legend) and every label stays inside
// the bounds. Greedy, in the order given: each label takes the first free
// place of a fixed list of candidates around its marker (right, left, each
// stacked up and down in columns, then above, below and the four corners);
// a label with no free place is left out (nullopt) rather than drawn over
// another or the legend. The list of access points shows them all.
class LabelPlacer {
public:
    struct Item {
        QPointF anchor;  // the marker's centre
        QSizeF size;     // the label's box
    };

    // `markerRadius`: half the side of a marker, which labels keep clear of;
    // `gap`: the space between a marker and its label.
    LabelPlacer(QRectF bounds, double markerRadius, double gap);

    // Areas no label may cover.
    void AddObstacle(const QRectF& area) { m_obstacles.push_back(area); }

    // One entry per item: where its label goes, or nullopt when nowhere is free.
    std::vector<std::optional<QRectF>> Place(std::span<const Item> items) const;

private:
    QRectF m_bounds;
    double m_radius;
    double m_gap;
    std::vector<QRectF> m_obstacles;
};

}  // namespace ketrion
