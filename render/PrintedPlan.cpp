#include "render/PrintedPlan.h"

#include <QPainter>

namespace ketrion::heatmap {

QSize PrintedPlan::PrintedSize(const QSize& plan, int largest) {
    if (plan.width() <= largest && plan.height() <= largest)
        return plan;
    return plan.scaled(largest, largest, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

PrintedPlan::PrintedPlan(const QImage& plan, int largest) : m_planSize(plan.size()) {
    const QSize printed = PrintedSize(m_planSize, largest);
    m_image = printed == m_planSize
                  ? plan
                  : plan.scaled(printed, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage PrintedPlan::Heatmap(const analysis::Grid& grid, const ColourScale& scale,
                            const PointsLayer& points, int alpha) const {
    QImage out(m_image.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(QColor(255, 255, 255));
    QPainter painter(&out);
    painter.drawImage(0, 0, m_image);
    painter.save();
    ToPlanPixels(painter);
    DrawGrid(painter, grid, m_planSize.width(), m_planSize.height(), scale, alpha);
    painter.restore();
    painter.drawImage(0, 0, points.Image());
    painter.end();
    return out;
}

void PrintedPlan::ToPlanPixels(QPainter& painter) const {
    if (m_planSize.isEmpty())
        return;
    painter.scale(static_cast<double>(m_image.width()) / m_planSize.width(),
                  static_cast<double>(m_image.height()) / m_planSize.height());
}

}  // namespace ketrion::heatmap
