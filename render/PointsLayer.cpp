#include "render/PointsLayer.h"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <cmath>
#include <vector>

namespace ketrion::heatmap {

PointsLayer::PointsLayer(const QSize& plan, std::span<const QPoint> points)
    : PointsLayer(plan, points, plan) {}

PointsLayer::PointsLayer(const QSize& plan, std::span<const QPoint> points, const QSize& picture)
    : m_image(picture, QImage::Format_ARGB32_Premultiplied) {
    if (m_image.isNull() || plan.isEmpty())
        return;
    m_image.fill(Qt::transparent);
    const double sx = static_cast<double>(picture.width()) / plan.width();
    const double sy = static_cast<double>(picture.height()) / plan.height();
    const bool whole = picture == plan;
    std::vector<QPoint> dots;
    dots.reserve(points.size());
    for (const QPoint& p : points)
        dots.push_back(whole ? p
                             : QPoint(static_cast<int>(std::floor((p.x() + 0.5) * sx)),
                                      static_cast<int>(std::floor((p.y() + 0.5) * sy))));
    const auto before = [](const QPoint& a, const QPoint& b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
    };
    std::sort(dots.begin(), dots.end(), before);
    dots.erase(std::unique(dots.begin(), dots.end()), dots.end());
    m_dots = dots.size();
    QPainter painter(&m_image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double full = std::max(1.5, AnnotationPixelSize(plan) / 6.0);
    const double radius = whole ? full : std::max(1.0, full * std::min(sx, sy));
    painter.setPen(QPen(QColor(255, 255, 255), std::max(1.0, radius / 2)));
    painter.setBrush(QColor(0, 0, 0));
    for (const QPoint& p : dots)
        painter.drawEllipse(QPointF(p.x() + 0.5, p.y() + 0.5), radius, radius);
}

}  // namespace ketrion::heatmap
