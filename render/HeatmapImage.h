#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QPolygonF>
#include <QRect>
#include <QString>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/Grid.h"
#include "analysis/Metrics.h"

namespace ketrion::heatmap {

// Colours for grid values, and the labelled steps its legend shows.
class ColourScale {
public:
    struct Stop {
        double value;
        QColor colour;
    };
    struct Step {
        double value;
        QString label;
    };

    // Signal in dBm: deep red at -100 through orange and yellow to green and
    // blue at -30 and above, labelled every 10 dBm.
    static ColourScale Signal(const QString& title);
    // Access-point counts from 0 to `highest`, a step per count (at most ten labels).
    static ColourScale Count(int highest);
    // Counts of access points on overlapping channels from 0 (green) to
    // `highest` (red): more is worse.
    static ColourScale Overlap(int highest);
    // Any quantity where more is better, red at `low` through yellow to green
    // and blue at `high`, labelled every `step` with `unit`.
    static ColourScale Rising(const QString& title, double low, double high, double step,
                              const QString& unit);
    // Named classes, each from its value up to the next one's.
    static ColourScale Classes(const QString& title, const std::vector<Step>& classes);
    // Two classes: below the threshold and at or above it.
    static ColourScale Coverage(double threshold);
    // The scale a metric's grid is drawn with; a band filter is named in its title.
    static ColourScale ForMetric(const analysis::MetricSpec& spec, const analysis::Grid& grid);

    // The colour of a value: clamped to the scale's ends, blended between
    // stops (a discrete scale takes the stop at or below the value).
    QColor At(double value) const;

    const QString& Title() const { return m_title; }
    const std::vector<Step>& Steps() const { return m_steps; }
    const std::vector<Stop>& Stops() const { return m_stops; }
    bool Discrete() const { return m_discrete; }

private:
    static ColourScale MetricScale(const analysis::MetricSpec& spec, const analysis::Grid& grid);
    QString m_title;
    std::vector<Stop> m_stops;  // ascending values
    std::vector<Step> m_steps;  // ascending values
    bool m_discrete = false;
};

// The grid over a width x height plan: every plan pixel takes the colour of
// the node of the cell it lies in, with `alpha` (0-255); pixels of nodes
// without a value stay fully transparent. Format ARGB32, not premultiplied.
// `top` > 0 gives the rows from `top` down of a taller plan (a band of it).
QImage GridImage(const analysis::Grid& grid, int width, int height, const ColourScale& scale,
                 int alpha, int top = 0);

// Draws GridImage over a width x height plan at the painter's origin a band
// of rows at a time: the same pixels without a plan-sized picture in memory.
void DrawGrid(QPainter& painter, const analysis::Grid& grid, int width, int height,
              const ColourScale& scale, int alpha);

// The legend for a scale drawn with `pixelSize` text: its size, and drawing it
// with its top-left corner at `at`.
QSize LegendSize(const ColourScale& scale, int pixelSize);
void DrawLegend(QPainter& painter, QPoint at, const ColourScale& scale, int pixelSize);

// A readable text size for annotations on a plan of the given size.
int AnnotationPixelSize(const QSize& plan);

// A marked place on the plan with its label (a placed access point).
struct PlanMarker {
    QPoint at;  // plan pixels
    QString label;
};

// The plan with the grid over it (semi-transparent) and the survey points as
// small dots, the size of the plan.
QImage ComposePlanHeatmap(const QImage& plan, const analysis::Grid& grid, const ColourScale& scale,
                          std::span<const QPoint> points, int alpha = 150);

// The same picture drawn over the plan itself (taken, so a plan no one
// else holds is not copied): for a command that needs the plan no more.
QImage ComposePlanHeatmapOver(QImage plan, const analysis::Grid& grid, const ColourScale& scale,
                              std::span<const QPoint> points, int alpha = 150);

// Grey hatching over the pixels of nodes inside the surveyed area (`mask`, as
// analysis::SurveyedArea::Mask makes it for `grid`) that have no value: parts
// of a drawn boundary no survey point speaks for. Transparent elsewhere.
// `top` > 0 gives the rows from `top` down of a taller plan (a band of it).
QImage UnsurveyedImage(const analysis::Grid& grid, std::span<const std::uint8_t> mask, int width,
                       int height, int top = 0);
// Draws UnsurveyedImage over a width x height plan a band of rows at a time.
void DrawUnsurveyed(QPainter& painter, const analysis::Grid& grid,
                    std::span<const std::uint8_t> mask, int width, int height);

// Placed access points as blue squares with their labels beside them, and the
// outline of a drawn boundary, in plan pixels with `pixelSize` text.
void DrawMarkers(QPainter& painter, std::span<const PlanMarker> markers, int pixelSize);
void DrawOutline(QPainter& painter, const QPolygonF& outline, int pixelSize);

// The strip to the right of the plan that ComposeHeatmap draws the legend
// in, as a picture of its own.
QImage LegendImage(const ColourScale& scale, const QSize& plan);

// The plan with the grid over it (semi-transparent), the survey points as small
// dots and the legend in a strip to the right of the plan. Plan pixels keep
// their place, so a world file for the plan fits the result.
QImage ComposeHeatmap(const QImage& plan, const analysis::Grid& grid, const ColourScale& scale,
                      std::span<const QPoint> points, int alpha = 150);

}  // namespace ketrion::heatmap
