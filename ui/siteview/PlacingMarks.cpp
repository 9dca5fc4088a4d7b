#include "ui/siteview/PlacingMarks.h"

#include <QPainter>

#include <cstdint>

#include "session/SurveySession.h"

namespace ketrion {

namespace {

const QColor kWalkColour(0, 90, 200);
const QColor kErrorFill(0, 90, 200, 40);

}  // namespace

void PlacingMarks::Draw(QPainter& dc, const SurveySession& session, const CSitePlan& plan,
                        const SiteRect& client, QPoint stopAt, bool scanning) {
    const auto toScreen = [&](double x, double y, QPointF& at) {
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        if (!plan.PlanToScreen(client, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                               sx, sy)) {
            return false;
        }
        at = QPointF(sx, sy);
        return true;
    };
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    QPointF previous;
    bool havePrevious = false;
    dc.setPen(QPen(kWalkColour, 2, Qt::DashLine));
    for (const auto& [x, y] : session.WalkClicks()) {
        QPointF at;
        if (!toScreen(x, y, at)) {
            havePrevious = false;
            continue;
        }
        if (havePrevious) {
            dc.drawLine(previous, at);
        }
        dc.setBrush(kWalkColour);
        dc.drawEllipse(at, 3, 3);
        previous = at;
        havePrevious = true;
    }
    const SurveySession::NextPosition next = session.NextReadingPosition();
    QPointF at;
    if (next.known && toScreen(next.x, next.y, at)) {
        const std::size_t waiting = session.ProvisionalCount();
        if (waiting > 0) {
            // Readings waiting for their segment's end click: hollow.
            dc.setBrush(Qt::NoBrush);
            dc.setPen(QPen(kWalkColour, 2));
            dc.drawEllipse(at, 9, 9);
            dc.drawText(at + QPointF(12, -10), QString::number(waiting));
        }
        if (next.errorRadius > 0) {
            const double r = next.errorRadius * plan.GetZoomPercent() / 100.0;
            dc.setBrush(kErrorFill);
            dc.setPen(QPen(kWalkColour, 1));
            dc.drawEllipse(at, r, r);
        }
        dc.setPen(QPen(kWalkColour, 2));
        dc.drawLine(at - QPointF(8, 0), at + QPointF(8, 0));
        dc.drawLine(at - QPointF(0, 8), at + QPointF(0, 8));
    }
    if (session.CurrentPlacing() == SurveySession::Placing::StopAndGo && scanning &&
        toScreen(stopAt.x(), stopAt.y(), at)) {
        dc.setBrush(Qt::NoBrush);
        dc.setPen(QPen(kWalkColour, 2, Qt::DotLine));
        dc.drawEllipse(at, 10, 10);
        dc.drawText(at + QPointF(12, -10), QStringLiteral("reading..."));
    }
    dc.restore();
}

}  // namespace ketrion
