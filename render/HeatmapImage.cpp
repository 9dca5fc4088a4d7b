#include "render/HeatmapImage.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <algorithm>
#include <cmath>

namespace ketrion::heatmap {

namespace {

constexpr double kScaleLow = -100;
constexpr double kScaleHigh = -30;

QColor Blend(const QColor& a, const QColor& b, double t) {
    const auto mix = [t](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * t)); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

QFont LegendFont(int pixelSize) {
    QFont font("DejaVu Sans");
    font.setPixelSize(std::max(pixelSize, 6));
    return font;
}

}  // namespace

ColourScale ColourScale::Signal(const QString& title) {
    ColourScale s;
    s.m_title = title;
    s.m_stops = {{-100, QColor(90, 0, 40)},   {-90, QColor(200, 20, 30)},
                 {-80, QColor(245, 110, 30)}, {-70, QColor(250, 215, 50)},
                 {-60, QColor(150, 210, 60)}, {-50, QColor(30, 170, 70)},
                 {-40, QColor(20, 140, 150)}, {-30, QColor(30, 80, 200)}};
    for (int v = static_cast<int>(kScaleHigh); v >= static_cast<int>(kScaleLow); v -= 10)
        s.m_steps.push_back({double(v), QString::number(v) + " dBm"});
    std::reverse(s.m_steps.begin(), s.m_steps.end());
    return s;
}

ColourScale ColourScale::Count(int highest) {
    ColourScale s;
    s.m_title = "Access points at -80 dBm or better";
    highest = std::max(highest, 1);
    s.m_stops = {{0, QColor(200, 20, 30)},
                 {highest * 0.33, QColor(250, 215, 50)},
                 {highest * 0.66, QColor(30, 170, 70)},
                 {double(highest), QColor(30, 80, 200)}};
    const int every = std::max(1, (highest + 9) / 10);
    for (int v = 0; v <= highest; v += every)
        s.m_steps.push_back({double(v), QString::number(v)});
    if (s.m_steps.back().value != highest)
        s.m_steps.push_back({double(highest), QString::number(highest)});
    return s;
}

ColourScale ColourScale::Overlap(int highest) {
    ColourScale s = Count(highest);
    s.m_title = "Access points on overlapping channels";
    highest = std::max(highest, 1);
    s.m_stops = {{0, QColor(30, 170, 70)},
                 {highest * 0.5, QColor(250, 215, 50)},
                 {double(highest), QColor(200, 20, 30)}};
    return s;
}

ColourScale ColourScale::Rising(const QString& title, double low, double high, double step,
                                const QString& unit) {
    ColourScale s;
    s.m_title = title;
    const double span = high - low;
    s.m_stops = {{low, QColor(200, 20, 30)},
                 {low + span * 0.33, QColor(250, 215, 50)},
                 {low + span * 0.66, QColor(30, 170, 70)},
                 {high, QColor(30, 80, 200)}};
    for (double v = low; v <= high + step / 2; v += step)
        s.m_steps.push_back({v, QString::number(v) + unit});
    return s;
}

ColourScale ColourScale::Classes(const QString& title, const std::vector<Step>& classes) {
    static const QColor kColours[] = {QColor(200, 20, 30),  QColor(245, 110, 30),
                                      QColor(250, 215, 50), QColor(30, 170, 70),
                                      QColor(20, 140, 150), QColor(30, 80, 200)};
    ColourScale s;
    s.m_title = title;
    s.m_discrete = true;
    s.m_steps = classes;
    for (std::size_t i = 0; i < classes.size(); ++i)
        s.m_stops.push_back({classes[i].value, kColours[std::min<std::size_t>(i, 5)]});
    return s;
}

ColourScale ColourScale::Coverage(double threshold) {
    ColourScale s;
    s.m_title = "Coverage";
    s.m_discrete = true;
    const QString dbm = QString::number(threshold, 'g', 6) + " dBm";
    s.m_stops = {{0, QColor(200, 20, 30)}, {1, QColor(30, 170, 70)}};
    s.m_steps = {{0, "below " + dbm}, {1, dbm + " or better"}};
    return s;
}

ColourScale ColourScale::ForMetric(const analysis::MetricSpec& spec, const analysis::Grid& grid) {
    ColourScale scale = MetricScale(spec, grid);
    if (spec.band)
        scale.m_title +=
            QString(" (%1 GHz)").arg(QString::fromLatin1(analysis::BandName(*spec.band)));
    return scale;
}

ColourScale ColourScale::MetricScale(const analysis::MetricSpec& spec, const analysis::Grid& grid) {
    using analysis::Metric;
    double highest = 1;
    for (double v : grid.values)
        if (analysis::Grid::HasValue(v))
            highest = std::max(highest, v);
    switch (spec.metric) {
        case Metric::Count:
            return Count(static_cast<int>(std::ceil(highest)));
        case Metric::ChannelOverlap:
            return Overlap(static_cast<int>(std::ceil(highest)));
        case Metric::Coverage:
            return Coverage(spec.threshold);
        case Metric::Second:
            return Signal("Second strongest signal");
        case Metric::Ap:
            return Signal("Signal of " + QString::fromStdString(analysis::MacText(spec.mac)));
        case Metric::Ssid:
            return Signal("Signal of \"" + QString::fromStdString(spec.ssid) + "\"");
        case Metric::Third:
            return Signal("Third strongest access point");
        case Metric::Snr:
            return Rising("Signal to noise", 0, 50, 5, " dB");
        case Metric::Sir:
            return Rising("Signal to interference", 0, 40, 5, " dB");
        case Metric::Rate:
            return Rising("Expected PHY rate", 0, std::max(100.0, std::ceil(highest / 100) * 100),
                          std::max(50.0, std::ceil(highest / 500) * 50), " Mbit/s");
        case Metric::Width:
            return Classes("Channel width", {{20, "20 MHz"},
                                             {40, "40 MHz"},
                                             {80, "80 MHz"},
                                             {160, "160 MHz"},
                                             {320, "320 MHz"}});
        case Metric::Phy:
            return Classes("PHY", {{3, "a/b/g"}, {4, "n"}, {5, "ac"}, {6, "ax"}, {7, "be"}});
        case Metric::Strongest:
            break;
    }
    return Signal("Strongest signal");
}

QColor ColourScale::At(double value) const {
    if (m_stops.empty())
        return QColor(0, 0, 0);
    if (!(value > m_stops.front().value))
        return m_stops.front().colour;
    if (value >= m_stops.back().value)
        return m_stops.back().colour;
    for (std::size_t i = 1; i < m_stops.size(); ++i) {
        const Stop& hi = m_stops[i];
        if (value < hi.value) {
            const Stop& lo = m_stops[i - 1];
            if (m_discrete)
                return lo.colour;
            return Blend(lo.colour, hi.colour, (value - lo.value) / (hi.value - lo.value));
        }
    }
    return m_stops.back().colour;
}

QImage GridImage(const analysis::Grid& grid, int width, int height, const ColourScale& scale,
                 int alpha, int top) {
    QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    if (grid.columns <= 0 || grid.rows <= 0 || grid.cell <= 0 ||
        grid.values.size() != static_cast<std::size_t>(grid.columns) * grid.rows)
        return image;
    alpha = std::clamp(alpha, 0, 255);
    top = std::max(top, 0);
    // One colour per node of the rows the pixels lie in, then whole cells of
    // pixels at a time.
    auto rowOf = [&](int y) { return std::min((top + y) / grid.cell, grid.rows - 1); };
    const int firstRow = rowOf(0);
    const std::size_t columns = static_cast<std::size_t>(grid.columns);
    const std::size_t first = static_cast<std::size_t>(firstRow) * columns;
    const std::size_t last = (static_cast<std::size_t>(rowOf(image.height() - 1)) + 1) * columns;
    std::vector<QRgb> colours(last - first, 0);
    for (std::size_t n = first; n < last; ++n) {
        const double v = grid.values[n];
        if (analysis::Grid::HasValue(v)) {
            const QColor c = scale.At(v);
            colours[n - first] = qRgba(c.red(), c.green(), c.blue(), alpha);
        }
    }
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const QRgb* row = colours.data() + static_cast<std::size_t>(rowOf(y) - firstRow) * columns;
        for (int x = 0; x < image.width(); ++x)
            line[x] = row[std::min(x / grid.cell, grid.columns - 1)];
    }
    return image;
}

namespace {

// Draws a plan-tall picture that `band(top, rows)` makes a band of rows at a
// time: the same pixels without the whole picture in memory at once.
template <class Band>
void DrawInBands(QPainter& painter, int height, Band band) {
    constexpr int kBandRows = 256;
    for (int top = 0; top < height; top += kBandRows)
        painter.drawImage(0, top, band(top, std::min(kBandRows, height - top)));
}

}  // namespace

void DrawGrid(QPainter& painter, const analysis::Grid& grid, int width, int height,
              const ColourScale& scale, int alpha) {
    DrawInBands(painter, height,
                [&](int top, int rows) { return GridImage(grid, width, rows, scale, alpha, top); });
}

void DrawUnsurveyed(QPainter& painter, const analysis::Grid& grid,
                    std::span<const std::uint8_t> mask, int width, int height) {
    DrawInBands(painter, height,
                [&](int top, int rows) { return UnsurveyedImage(grid, mask, width, rows, top); });
}

int AnnotationPixelSize(const QSize& plan) {
    return std::clamp(std::min(plan.width(), plan.height()) / 40, 11, 64);
}

QSize LegendSize(const ColourScale& scale, int pixelSize) {
    const QFontMetrics metrics(LegendFont(pixelSize));
    int labels = 0;
    for (const auto& step : scale.Steps())
        labels = std::max(labels, metrics.horizontalAdvance(step.label));
    const int line = metrics.height();
    const int bar = pixelSize * 3 / 2;
    const int width = std::max(metrics.horizontalAdvance(scale.Title()), bar + pixelSize + labels);
    const int rows = static_cast<int>(scale.Steps().size());
    const int body = scale.Discrete() ? rows * line * 3 / 2 : std::max(rows, 2) * line * 3 / 2;
    return QSize(width + pixelSize, line * 2 + body + pixelSize);
}

void DrawLegend(QPainter& painter, QPoint at, const ColourScale& scale, int pixelSize) {
    painter.save();
    const QFont font = LegendFont(pixelSize);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int line = metrics.height();
    const int half = pixelSize / 2;
    const QSize size = LegendSize(scale, pixelSize);
    painter.fillRect(QRect(at, size), QColor(255, 255, 255));
    painter.setPen(QColor(0, 0, 0));
    painter.drawText(QPoint(at.x() + half, at.y() + half + metrics.ascent()), scale.Title());

    const int bar = pixelSize * 3 / 2;
    const int top = at.y() + half + line * 3 / 2;
    const int rows = static_cast<int>(scale.Steps().size());
    if (scale.Discrete()) {
        for (int r = 0; r < rows; ++r) {
            const auto& step = scale.Steps()[static_cast<std::size_t>(rows - 1 - r)];
            const QRect box(at.x() + half, top + r * line * 3 / 2, bar, line);
            painter.fillRect(box, scale.At(step.value));
            painter.drawRect(box);
            painter.drawText(QPoint(box.right() + half, box.top() + metrics.ascent()), step.label);
        }
    } else if (rows > 0) {
        // A vertical bar, highest value at the top, a tick and label per step.
        const double low = scale.Steps().front().value;
        const double high = scale.Steps().back().value;
        const int span = std::max(rows - 1, 1) * line * 3 / 2;
        const QRect box(at.x() + half, top + line / 2, bar, span);
        QLinearGradient gradient(box.topLeft(), box.bottomLeft());
        for (const auto& stop : scale.Stops()) {
            if (high > low) {
                const double t = (high - stop.value) / (high - low);
                if (t >= 0 && t <= 1)
                    gradient.setColorAt(t, stop.colour);
            }
        }
        if (high <= low)
            gradient.setColorAt(0, scale.At(high));
        painter.fillRect(box, gradient);
        painter.drawRect(box);
        for (const auto& step : scale.Steps()) {
            const double t = high > low ? (high - step.value) / (high - low) : 0;
            const int y = box.top() + static_cast<int>(std::lround(t * span));
            painter.drawLine(box.right(), y, box.right() + half / 2, y);
            painter.drawText(QPoint(box.right() + half, y + metrics.ascent() / 2 - 1), step.label);
        }
    }
    painter.restore();
}

namespace {

// The grid and the points drawn over `picture` (the plan on its white ground).
void DrawHeatmapOver(QImage& picture, const analysis::Grid& grid, const ColourScale& scale,
                     std::span<const QPoint> points, int alpha) {
    QPainter painter(&picture);
    DrawGrid(painter, grid, picture.width(), picture.height(), scale, alpha);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double radius = std::max(1.5, AnnotationPixelSize(picture.size()) / 6.0);
    painter.setPen(QPen(QColor(255, 255, 255), std::max(1.0, radius / 2)));
    painter.setBrush(QColor(0, 0, 0));
    for (const QPoint& p : points)
        painter.drawEllipse(QPointF(p.x() + 0.5, p.y() + 0.5), radius, radius);
    painter.end();
}

}  // namespace

QImage ComposePlanHeatmap(const QImage& plan, const analysis::Grid& grid, const ColourScale& scale,
                          std::span<const QPoint> points, int alpha) {
    QImage out(plan.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(QColor(255, 255, 255));
    {
        QPainter painter(&out);
        painter.drawImage(0, 0, plan);
    }
    DrawHeatmapOver(out, grid, scale, points, alpha);
    return out;
}

QImage ComposePlanHeatmapOver(QImage plan, const analysis::Grid& grid, const ColourScale& scale,
                              std::span<const QPoint> points, int alpha) {
    // An opaque plan is its own white ground; one with transparency needs one.
    if (plan.format() != QImage::Format_RGB32)
        return ComposePlanHeatmap(plan, grid, scale, points, alpha);
    DrawHeatmapOver(plan, grid, scale, points, alpha);
    // The picture is a new one, not the plan's file: no resolution of its own.
    const QImage fresh(1, 1, QImage::Format_RGB32);
    plan.setDotsPerMeterX(fresh.dotsPerMeterX());
    plan.setDotsPerMeterY(fresh.dotsPerMeterY());
    return plan;
}

QImage UnsurveyedImage(const analysis::Grid& grid, std::span<const std::uint8_t> mask, int width,
                       int height, int top) {
    QImage image(std::max(width, 0), std::max(height, 0), QImage::Format_ARGB32);
    if (image.isNull())
        return image;
    image.fill(Qt::transparent);
    if (grid.columns <= 0 || grid.rows <= 0 || grid.cell <= 0 ||
        grid.values.size() != static_cast<std::size_t>(grid.columns) * grid.rows ||
        mask.size() != grid.values.size())
        return image;
    constexpr int kHatchPeriod = 8;  // pixels between the hatching's diagonals
    const QRgb line = qRgba(90, 90, 90, 170);
    const QRgb ground = qRgba(255, 255, 255, 90);
    top = std::max(top, 0);
    for (int y = 0; y < image.height(); ++y) {
        const int planY = top + y;
        const std::size_t row =
            static_cast<std::size_t>(std::min(planY / grid.cell, grid.rows - 1)) *
            static_cast<std::size_t>(grid.columns);
        auto* pixels = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const std::size_t n =
                row + static_cast<std::size_t>(std::min(x / grid.cell, grid.columns - 1));
            if (mask[n] != 0 && !analysis::Grid::HasValue(grid.values[n]))
                pixels[x] = (x + planY) % kHatchPeriod < 2 ? line : ground;
        }
    }
    return image;
}

void DrawMarkers(QPainter& painter, std::span<const PlanMarker> markers, int pixelSize) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QFont font = LegendFont(pixelSize);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const int half = std::max(pixelSize / 2, 3);
    for (const PlanMarker& m : markers) {
        const QRect box(m.at.x() - half, m.at.y() - half, 2 * half, 2 * half);
        painter.setPen(QPen(QColor(255, 255, 255), std::max(1, pixelSize / 8)));
        painter.setBrush(QColor(20, 60, 200));
        painter.drawRect(box);
        if (m.label.isEmpty())
            continue;
        // The label on a white ground, so it reads over any colour.
        const QRect text = metrics.boundingRect(m.label).translated(
            box.right() + half / 2, m.at.y() + metrics.ascent() / 2 - 1);
        painter.fillRect(text.adjusted(-2, 0, 2, 0), QColor(255, 255, 255, 220));
        painter.setPen(QColor(20, 60, 200));
        painter.drawText(QPoint(text.left(), m.at.y() + metrics.ascent() / 2 - 1), m.label);
    }
    painter.restore();
}

void DrawOutline(QPainter& painter, const QPolygonF& outline, int pixelSize) {
    if (outline.size() < 3)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(40, 40, 40), std::max(1.0, pixelSize / 6.0), Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawPolygon(outline);
    painter.restore();
}

QImage LegendImage(const ColourScale& scale, const QSize& plan) {
    const int pixelSize = AnnotationPixelSize(plan);
    const QSize legend = LegendSize(scale, pixelSize);
    const int margin = pixelSize;
    QImage out(legend.width() + 2 * margin, std::max(plan.height(), legend.height() + 2 * margin),
               QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(QColor(255, 255, 255));
    QPainter painter(&out);
    DrawLegend(painter, QPoint(margin, margin), scale, pixelSize);
    painter.end();
    return out;
}

QImage ComposeHeatmap(const QImage& plan, const analysis::Grid& grid, const ColourScale& scale,
                      std::span<const QPoint> points, int alpha) {
    const int pixelSize = AnnotationPixelSize(plan.size());
    const QSize legend = LegendSize(scale, pixelSize);
    const int margin = pixelSize;
    QImage out(plan.width() + legend.width() + 2 * margin,
               std::max(plan.height(), legend.height() + 2 * margin), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(QColor(255, 255, 255));
    QPainter painter(&out);
    painter.drawImage(0, 0, ComposePlanHeatmap(plan, grid, scale, points, alpha));
    DrawLegend(painter, QPoint(plan.width() + margin, margin), scale, pixelSize);
    painter.end();
    return out;
}

}  // namespace ketrion::heatmap
