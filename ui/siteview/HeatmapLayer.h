#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "analysis/Metrics.h"
#include "survey/SiteData.h"
#include "survey/SitePlan.h"
#include "ui/siteview/HeatmapWorker.h"

class QPainter;

namespace ketrion {

class CSiteData;
class CSiteProjection;

// The interpolated heatmap drawn over the plan, below the survey points, and
// the estimated access-point positions as markers. Off by default.
//
// The grid is computed on a worker thread from a copy of the survey points
// taken under the survey lock; the result comes back to the user-interface
// thread as a queued call. Each change of what the picture depends on (the
// points, the file, the plan, the metric) starts a new generation; a result of
// an older generation is dropped. Every change of the points the survey
// session announces (added, placed, deleted, undone) comes through
// PointsChanged, and the view calls Recheck when it opens a file or a plan;
// nothing is polled. The picture is recomputed at most once per throttle interval, requests
// coalescing while a computation runs. A change of metric cancels the
// running computation and starts the new one at once.
//
// Lives on the user-interface thread; `changed` tells the view to redraw.
class HeatmapLayer : public QObject {
    Q_OBJECT
public:
    static constexpr int kThrottleMs = 2000;
    static constexpr double kDefaultOpacity = 0.6;

    // Computes a heatmap on the worker thread (tests put their own in).
    using Compute = std::function<HeatmapResult(const HeatmapInput&, const std::atomic<bool>&)>;
    // The size of the plan image the points are placed on.
    using PlanSize = std::function<QSize()>;

    // An estimated access point placed on the plan.
    struct Marker {
        QPoint plan;        // plan pixels
        QString label;      // address and, when it has one, name
        QString mac;        // "00:1a:2b:3c:4d:5e"
        double radius = 0;  // the estimate's uncertainty, plan pixels
    };

    HeatmapLayer(const CSiteData& data, const CSiteProjection& projection, PlanSize planSize,
                 QObject* parent = nullptr);
    ~HeatmapLayer() override;
    HeatmapLayer(const HeatmapLayer&) = delete;
    HeatmapLayer& operator=(const HeatmapLayer&) = delete;

    void SetEnabled(bool enabled);
    bool IsEnabled() const { return m_enabled; }

    // The metric and its access point, network name or threshold.
    void SetSpec(const analysis::MetricSpec& spec);
    const analysis::MetricSpec& Spec() const { return m_spec; }
    // 0 (invisible) .. 1 (opaque); redraws without recomputing.
    void SetOpacity(double opacity);
    double Opacity() const { return m_opacity; }
    // Markers for the estimated access-point positions.
    void SetShowAps(bool show);
    bool ShowAps() const { return m_showAps; }

    // Draws the grid in client coordinates (the overlay of the view, below
    // the survey points).
    void Draw(QPainter& painter, const ViewTransform& transform) const;
    // Draws the access-point markers, when shown, in client coordinates (above
    // the survey points); `labels` adds each marker's address and name where
    // it fits beside the marker without covering another label, a marker or
    // `keepClear` (the legend), within `bounds` (client pixels; empty: no labels).
    // The uncertainty of each estimate is drawn as a circle around it.
    void DrawMarkers(QPainter& painter, const ViewTransform& transform, bool labels,
                     const QRectF& bounds = {}, const QRectF& keepClear = {}) const;
    // The colour scale of the survey points' discs at desktop sizes: the
    // shown heatmap's, else the strongest signal's.
    const heatmap::ColourScale& DiscScale() const;
    // A survey point's disc colour on that scale: its value of the shown
    // heatmap's metric (kPendingColour until a computation has covered it),
    // else its strongest signal.
    QRgb DiscColour(const CSiteData::_tap& point) const;
    // Discs of points whose value of the metric is not known yet.
    static constexpr QRgb kPendingColour = 0xFFA0A0A0u;

    // The legend of the shown grid with its top-right corner at `topRight`.
    void DrawLegend(QPainter& painter, QPoint topRight, int pixelSize) const;
    QSize LegendSize(int pixelSize) const;

    // The last accepted result (empty before the first).
    bool HasResult() const { return m_hasResult; }
    const HeatmapResult& Result() const { return m_result; }
    const std::vector<Marker>& Markers() const { return m_markers; }
    bool IsComputing() const { return m_running; }

    // The survey's points changed without their count changing (a deletion,
    // an undo) or with it: a new computation, held back by the throttle,
    // unless the last one already saw this revision of the points.
    void PointsChanged();
    // Where the layer reads the survey's revision of its points (the
    // session's count of announced changes); none: only the count is watched.
    void SetRevision(std::function<std::uint64_t()> revision) { m_revision = std::move(revision); }
    // Points without a valid fix are used too (--include-no-fix).
    void SetIncludeNoFix(bool include);
    bool IncludeNoFix() const { return m_includeNoFix; }

    // Compares what the picture was computed from (file, point count, plan
    // size, revision) with the survey now: a new file or plan is computed at
    // once, other changes after the throttle.
    void Recheck();

    // For tests: the computation, the throttle interval, the clock (ms).
    void SetCompute(Compute compute) { m_compute = std::move(compute); }
    void SetThrottle(int milliseconds) { m_throttleMs = milliseconds; }
    void SetClock(std::function<qint64()> now) { m_now = std::move(now); }
    std::uint64_t Generation() const { return m_generation; }
    int StartedCount() const { return m_started; }
    int DroppedCount() const { return m_dropped; }

signals:
    // The picture changed: redraw the overlay.
    void changed();
    // A result was accepted (the choosers may offer new access points).
    void resultReady();
    // A computation started or finished.
    void busyChanged(bool busy);
    // Emitted on the worker thread with its result; queued to Finish.
    void computed(std::shared_ptr<HeatmapResult> result);

private:
    struct SurveyKey {
        std::string path;
        std::size_t points = 0;
        QSize plan;
        std::uint64_t revision = 0;
        bool operator==(const SurveyKey&) const = default;
    };

    SurveyKey CurrentKey() const;
    // A new generation: what the picture depends on changed.
    void Invalidate(bool urgent);
    // Starts a computation when one is due and allowed.
    void TryStart();
    void Start();
    void Finish(const std::shared_ptr<HeatmapResult>& result);
    void JoinWorker();
    void PlaceMarkers();
    qint64 Now() const;

    const CSiteData& m_data;
    const CSiteProjection& m_projection;
    PlanSize m_planSize;
    Compute m_compute;
    std::function<std::uint64_t()> m_revision;
    std::function<qint64()> m_now;
    QElapsedTimer m_clock;

    bool m_enabled = false;
    analysis::MetricSpec m_spec;
    double m_opacity = kDefaultOpacity;
    bool m_showAps = false;
    bool m_includeNoFix = false;

    SurveyKey m_key;
    std::uint64_t m_generation = 0;
    bool m_dirty = false;   // the current generation has no computation yet
    bool m_urgent = false;  // not held back by the throttle (a changed setting)
    bool m_running = false;
    qint64 m_lastStart = -1;
    int m_throttleMs = kThrottleMs;
    int m_started = 0;
    int m_dropped = 0;
    QTimer m_throttleTimer;

    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel;

    bool m_hasResult = false;
    HeatmapResult m_result;
    std::vector<Marker> m_markers;
    heatmap::ColourScale m_signalScale;
    // Colours of whole dBm values on the disc scale, filled on first use: a
    // survey's discs look up one of a few dozen colours many thousand times.
    QRgb SignalColour(const heatmap::ColourScale& scale, int signal) const;
    static constexpr int kSignalTableLow = -128;
    mutable std::vector<QRgb> m_signalTable;
    mutable const heatmap::ColourScale* m_signalTableScale = nullptr;
    mutable std::uint64_t m_signalTableGeneration = 0;
};

}  // namespace ketrion
