#include "ui/siteview/HeatmapLayer.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <utility>

#include "analysis/SurveyRecords.h"
#include "engine/Location.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "ui/siteview/LabelPlacer.h"

namespace ketrion {

namespace {

// Half the side of an access-point marker and the gap before its label,
// client pixels.
constexpr double kMarkerRadius = 9.0;
constexpr double kLabelGap = 4.0;
constexpr int kLabelPadding = 2;
// The uncertainty circle: a dashed outline over a light wash.
const QColor kUncertaintyColour(40, 40, 160);
const QColor kUncertaintyFill(40, 40, 160, 28);

}  // namespace

HeatmapLayer::HeatmapLayer(const CSiteData& data, const CSiteProjection& projection,
                           PlanSize planSize, QObject* parent)
    : QObject(parent),
      m_data(data),
      m_projection(projection),
      m_planSize(std::move(planSize)),
      m_compute(&ComputeHeatmap),
      m_signalScale(heatmap::ColourScale::ForMetric(analysis::MetricSpec{}, analysis::Grid{})) {
    m_clock.start();
    m_throttleTimer.setSingleShot(true);
    connect(&m_throttleTimer, &QTimer::timeout, this, &HeatmapLayer::TryStart);
    // Results come back to this object's thread; a result still queued when
    // the layer goes is dropped with it.
    connect(this, &HeatmapLayer::computed, this, &HeatmapLayer::Finish, Qt::QueuedConnection);
}

HeatmapLayer::~HeatmapLayer() {
    if (m_cancel)
        m_cancel->store(true);
    JoinWorker();
}

qint64 HeatmapLayer::Now() const {
    return m_now ? m_now() : m_clock.elapsed();
}

void HeatmapLayer::SetEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    if (!enabled) {
        m_throttleTimer.stop();
        if (m_running && m_cancel)
            m_cancel->store(true);
        // Whatever changes while hidden is computed when shown again.
        m_dirty = false;
        m_key = SurveyKey{};
        emit changed();
        return;
    }
    m_key = CurrentKey();
    Invalidate(true);
    emit changed();
}

void HeatmapLayer::SetSpec(const analysis::MetricSpec& spec) {
    const bool same = spec.metric == m_spec.metric && spec.mac == m_spec.mac &&
                      spec.ssid == m_spec.ssid && spec.threshold == m_spec.threshold &&
                      spec.band == m_spec.band && spec.inNetwork == m_spec.inNetwork &&
                      spec.macs == m_spec.macs;
    if (same)
        return;
    m_spec = spec;
    if (m_enabled)
        Invalidate(true);
}

void HeatmapLayer::SetOpacity(double opacity) {
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    if (m_enabled)
        emit changed();
}

void HeatmapLayer::SetShowAps(bool show) {
    if (show == m_showAps)
        return;
    m_showAps = show;
    if (m_enabled)
        emit changed();
}

void HeatmapLayer::PointsChanged() {
    Recheck();  // computed afresh when shown; nothing new when already seen
}

void HeatmapLayer::SetIncludeNoFix(bool include) {
    if (include == m_includeNoFix)
        return;
    m_includeNoFix = include;
    if (m_enabled)
        Invalidate(true);
}

HeatmapLayer::SurveyKey HeatmapLayer::CurrentKey() const {
    return SurveyKey{m_data.Path(), m_data.PointCount(), m_planSize ? m_planSize() : QSize(),
                     m_revision ? m_revision() : 0};
}

void HeatmapLayer::Recheck() {
    if (!m_enabled)
        return;
    SurveyKey key = CurrentKey();
    if (key == m_key) {
        TryStart();  // a request the throttle held back may be due now
        return;
    }
    // A new file or a new plan makes the old picture wrong: no waiting.
    const bool urgent = key.path != m_key.path || key.plan != m_key.plan;
    m_key = std::move(key);
    Invalidate(urgent);
}

void HeatmapLayer::Invalidate(bool urgent) {
    ++m_generation;
    m_dirty = true;
    m_urgent = m_urgent || urgent;
    // A running computation for an older setting is of no use: stop it. One
    // for fewer points is left to finish; its result is dropped but the
    // cores are not thrown at a new run every few seconds.
    if (urgent && m_running && m_cancel)
        m_cancel->store(true);
    TryStart();
}

void HeatmapLayer::TryStart() {
    if (!m_enabled || !m_dirty || m_running)
        return;
    if (!m_urgent && m_lastStart >= 0) {
        const qint64 wait = m_lastStart + m_throttleMs - Now();
        if (wait > 0) {
            if (!m_throttleTimer.isActive())
                m_throttleTimer.start(static_cast<int>(wait));
            return;
        }
    }
    Start();
}

void HeatmapLayer::Start() {
    JoinWorker();
    m_throttleTimer.stop();
    HeatmapInput input;
    input.generation = m_generation;
    input.path = m_data.Path();
    const QSize plan = m_planSize ? m_planSize() : QSize();
    input.planWidth = plan.width();
    input.planHeight = plan.height();
    input.spec = m_spec;
    input.includeNoFix = m_includeNoFix;
    // The copy is all that happens under the survey lock.
    // The revision is read before the copy: a change made meanwhile is
    // computed again rather than missed.
    const std::uint64_t revision = m_revision ? m_revision() : 0;
    input.points.reserve(m_data.PointCount() + 16);
    m_data.ForEachPoint([&](const CSiteData::_tap& tap) { input.points.push_back(tap); });
    m_key = SurveyKey{input.path, input.points.size(), plan, revision};

    m_dirty = false;
    m_urgent = false;
    m_running = true;
    m_lastStart = Now();
    ++m_started;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    emit busyChanged(true);
    m_worker =
        std::thread([this, compute = m_compute, cancel = m_cancel, input = std::move(input)]() {
            auto result = std::make_shared<HeatmapResult>(compute(input, *cancel));
            result->generation = input.generation;
            result->spec = input.spec;
            emit computed(result);
        });
}

void HeatmapLayer::Finish(const std::shared_ptr<HeatmapResult>& result) {
    m_running = false;
    JoinWorker();
    if (result->cancelled || result->generation != m_generation) {
        ++m_dropped;
    } else {
        m_result = std::move(*result);
        m_hasResult = true;
        PlaceMarkers();
        emit resultReady();
        emit changed();
    }
    emit busyChanged(false);
    TryStart();
}

void HeatmapLayer::JoinWorker() {
    if (m_worker.joinable())
        m_worker.join();
}

void HeatmapLayer::PlaceMarkers() {
    m_markers.clear();
    for (const analysis::ApEstimate& ap : m_result.aps) {
        if (ap.position.used == 0)
            continue;
        const int latitude = gps::UnitsFromDegrees(ap.position.latitude);
        const int longitude = gps::UnitsFromDegrees(ap.position.longitude);
        Marker marker;
        marker.plan = QPoint(m_projection.PlanX(latitude, longitude),
                             m_projection.PlanY(latitude, longitude));
        // The uncertainty in plan pixels: the plan distance to a point that
        // many metres north.
        const double north = ap.position.latitude + ap.position.uncertainty /
                                                        analysis::kEarthRadiusMetres * 180.0 /
                                                        3.14159265358979323846;
        const int northUnits = gps::UnitsFromDegrees(std::min(north, 90.0));
        marker.radius = std::hypot(m_projection.PlanX(northUnits, longitude) - marker.plan.x(),
                                   m_projection.PlanY(northUnits, longitude) - marker.plan.y());
        marker.mac = QString::fromStdString(analysis::MacText(ap.mac));
        marker.label = marker.mac;
        if (!ap.ssid.empty())
            marker.label += QStringLiteral(" ") + QString::fromUtf8(ap.ssid);
        m_markers.push_back(std::move(marker));
    }
}

void HeatmapLayer::Draw(QPainter& painter, const ViewTransform& transform) const {
    if (!m_enabled || !m_hasResult)
        return;
    const analysis::Grid& grid = m_result.grid;
    const double left = transform.ToClientX(0);
    const double top = transform.ToClientY(0);
    // A grid for another plan (one just loaded) waits for its recomputation.
    const bool samePlan =
        !m_planSize || m_planSize() == QSize(m_result.planWidth, m_result.planHeight);
    if (m_result.bandUnknown) {
        // Said over the plan rather than painted as an empty map.
        const QString text = QStringLiteral("Band/channel unknown for this source");
        const QRectF box = painter.boundingRect(QRectF(left, top, 0, 0), Qt::AlignLeft, text)
                               .adjusted(-6, -3, 6, 3)
                               .translated(8, 8);
        painter.save();
        painter.fillRect(box, QColor(0, 0, 0, 200));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, text);
        painter.restore();
        return;
    }
    if (!m_result.image.isNull() && samePlan) {
        // The grid's cells reach past the plan's right and bottom edges by
        // less than a cell; the plan's edge cuts them.
        const QRectF planRect(left, top, m_result.planWidth * transform.scaleX,
                              m_result.planHeight * transform.scaleY);
        const QRectF gridRect(left, top, grid.columns * grid.cell * transform.scaleX,
                              grid.rows * grid.cell * transform.scaleY);
        painter.save();
        painter.setClipRect(planRect, Qt::IntersectClip);
        painter.setOpacity(m_opacity);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(gridRect, m_result.image);
        painter.restore();
    }
}

void HeatmapLayer::DrawMarkers(QPainter& painter, const ViewTransform& transform, bool labels,
                               const QRectF& bounds, const QRectF& keepClear) const {
    if (!m_enabled || !m_showAps || m_markers.empty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    std::vector<QPointF> centres;
    centres.reserve(m_markers.size());
    for (const Marker& marker : m_markers)
        centres.emplace_back(transform.ToClientX(marker.plan.x() + 0.5),
                             transform.ToClientY(marker.plan.y() + 0.5));
    // The circles first, so that no circle hides another marker.
    if (labels) {
        painter.setPen(QPen(kUncertaintyColour, 1.0, Qt::DashLine));
        painter.setBrush(kUncertaintyFill);
        for (std::size_t i = 0; i < m_markers.size(); ++i) {
            const double r = m_markers[i].radius * transform.scaleX;
            if (r > kMarkerRadius)
                painter.drawEllipse(centres[i], r, r);
        }
    }
    for (const QPointF& c : centres) {
        const QPolygonF diamond(
            {QPointF(c.x(), c.y() - kMarkerRadius), QPointF(c.x() + kMarkerRadius, c.y()),
             QPointF(c.x(), c.y() + kMarkerRadius), QPointF(c.x() - kMarkerRadius, c.y())});
        painter.setPen(QPen(Qt::black, 1.5));
        painter.setBrush(Qt::white);
        painter.drawPolygon(diamond);
        painter.setBrush(Qt::black);
        painter.drawEllipse(c, 2.0, 2.0);
    }
    if (labels && !bounds.isEmpty()) {
        const QFontMetrics metrics(painter.font(), painter.device());
        std::vector<LabelPlacer::Item> items;
        items.reserve(m_markers.size());
        for (std::size_t i = 0; i < m_markers.size(); ++i) {
            const QRect text = metrics.boundingRect(m_markers[i].label);
            items.push_back({centres[i], QSizeF(text.width() + 2 * kLabelPadding, text.height())});
        }
        LabelPlacer placer(bounds, kMarkerRadius, kLabelGap);
        if (!keepClear.isEmpty())
            placer.AddObstacle(keepClear);
        const std::vector<std::optional<QRectF>> boxes = placer.Place(items);
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            if (!boxes[i])
                continue;
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 255, 255, 210));
            painter.drawRect(*boxes[i]);
            painter.setPen(Qt::black);
            painter.drawText(*boxes[i], Qt::AlignCenter, m_markers[i].label);
        }
    }
    painter.restore();
}

const heatmap::ColourScale& HeatmapLayer::DiscScale() const {
    return m_enabled && m_hasResult ? m_result.scale : m_signalScale;
}

QRgb HeatmapLayer::DiscColour(const CSiteData::_tap& point) const {
    if (!m_enabled || !m_hasResult)
        return SignalColour(m_signalScale, point.signal);
    // The strongest signal is what the view itself holds: new points need no
    // computation. Other metrics come from the point's readings in the file.
    if (m_result.spec.metric == analysis::Metric::Strongest)
        return SignalColour(m_result.scale, point.signal);
    const auto& values = m_result.pointValues;
    const auto found = std::lower_bound(values.begin(), values.end(), point.offset,
                                        [](const std::pair<std::int64_t, double>& v,
                                           std::int64_t offset) { return v.first < offset; });
    if (found == values.end() || found->first != point.offset)
        return kPendingColour;
    return m_result.scale.At(found->second).rgb();
}

QRgb HeatmapLayer::SignalColour(const heatmap::ColourScale& scale, int signal) const {
    constexpr int kSize = 256;
    const int slot = signal - kSignalTableLow;
    if (slot < 0 || slot >= kSize)
        return scale.At(signal).rgb();
    // A new result brings a new scale: the table is filled again.
    if (m_signalTableScale != &scale || m_signalTableGeneration != m_result.generation ||
        m_signalTable.empty()) {
        m_signalTable.assign(kSize, 0);
        for (int i = 0; i < kSize; ++i)
            m_signalTable[static_cast<std::size_t>(i)] = scale.At(i + kSignalTableLow).rgb();
        m_signalTableScale = &scale;
        m_signalTableGeneration = m_result.generation;
    }
    return m_signalTable[static_cast<std::size_t>(slot)];
}

QSize HeatmapLayer::LegendSize(int pixelSize) const {
    if (!m_hasResult)
        return {};
    return heatmap::LegendSize(m_result.scale, pixelSize);
}

void HeatmapLayer::DrawLegend(QPainter& painter, QPoint topRight, int pixelSize) const {
    if (!m_enabled || !m_hasResult)
        return;
    const QSize size = LegendSize(pixelSize);
    heatmap::DrawLegend(painter, QPoint(topRight.x() - size.width(), topRight.y()), m_result.scale,
                        pixelSize);
}

}  // namespace ketrion
