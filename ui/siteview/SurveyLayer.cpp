#include "ui/siteview/SurveyLayer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "survey/SiteData.h"

namespace ketrion {

namespace {

// Border around a disc image beyond the pen's width, so its outer pixels fit.
constexpr int kSpriteMargin = 2;
// The path's dashes: kDashLength pixels drawn in every kDashPeriod (per pen width).
constexpr int kDashLength = 4;
constexpr int kDashPeriod = 6;
// Half the side of the box the "AP" label is centred in, whatever the disc size.
constexpr int kApLabelHalf = 10;
constexpr int kLevels = 5;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

QRect ToQRect(const SiteRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

}  // namespace

int SurveyLayer::SignalLevel(int signal) {
    if (signal <= -91) {
        return 0;
    }
    if (signal <= -71) {
        return 1;
    }
    if (signal <= -51) {
        return 2;
    }
    if (signal <= -31) {
        return 3;
    }
    return 4;
}

QColor SurveyLayer::LevelColour(int level) {
    switch (level) {
        case 0:
            return kBlack;
        case 1:
            return QColor(192, 0, 0);
        case 2:
            return QColor(0, 192, 0);
        case 3:
            return QColor(0, 0, 192);
        default:
            return kWhite;
    }
}

void SurveyLayer::SetOverlay(Overlay overlay) {
    m_overlay = std::move(overlay);
    m_bValid = false;
}

const QImage& SurveyLayer::Update(const CSitePlan& plan, const Placement& placement,
                                  const QImage& planImage, const CSiteData& data) {
    const ViewTransform t = plan.Transform();
    const Key key{placement.client,
                  plan.GetViewport(),
                  plan.GetExtent(),
                  t.scaleX,
                  t.originX,
                  t.originY,
                  plan.IsSquarePixels(),
                  placement.ratio,
                  planImage.cacheKey(),
                  plan.m_bShowPath,
                  plan.m_bShowDynamicAps,
                  placement.dotsPerMeter,
                  placement.radius,
                  placement.penWidth};
    const std::size_t count = data.PointCount();
    const bool rebuild = !m_bValid || !(key == m_key) || count < m_points;
    if (!rebuild && count == m_points) {
        return m_image;  // nothing new since the last paint
    }
    if (rebuild) {
        const SiteRect& client = placement.client;
        const int width =
            static_cast<int>(std::lround((client.right - client.left) * placement.ratio));
        const int height =
            static_cast<int>(std::lround((client.bottom - client.top) * placement.ratio));
        m_image = QImage(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
        if (m_image.isNull()) {
            m_bValid = false;
            return m_image;
        }
        m_image.setDevicePixelRatio(placement.ratio);
        m_image.setDotsPerMeterX(placement.dotsPerMeter);
        m_image.setDotsPerMeterY(placement.dotsPerMeter);
        // Areas beside a plan smaller than the view are black.
        m_image.fill(kBlack);
        m_key = key;
        m_points = 0;
        m_bPathStarted = false;
        m_bValid = true;
        DrawPlan(plan, planImage);
        if (m_overlay) {
            QPainter dc(&m_image);
            m_overlay(dc, t);
        }
    }

    // The list only grows between loads, and later points are drawn over
    // earlier ones, so drawing just the new points (with the path carried on
    // from the last one drawn) gives the same picture as drawing them all.
    // Points outside the viewport draw nothing and leave the path alone: most
    // points of a long survey are skipped with this test alone.
    const SiteRect viewport = plan.GetViewport();
    const SiteRect& client = placement.client;
    const bool square = plan.IsSquarePixels();
    const double ratio = placement.ratio;
    const double kx = t.scaleX * ratio;
    const double ky = t.scaleY * ratio;
    const double left = client.left * ratio;
    const double top = client.top * ratio;
    std::size_t index = 0;
    data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (index++ < m_points || point.x < viewport.left || point.x > viewport.right ||
            point.y < viewport.top || point.y > viewport.bottom) {
            return;
        }
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        if (square) {
            sx = static_cast<std::int32_t>(std::lround(left + (point.x - t.originX) * kx));
            sy = static_cast<std::int32_t>(std::lround(top + (point.y - t.originY) * ky));
        } else if (plan.PlanToScreen(client, point.x, point.y, sx, sy)) {
            // The handheld layout's own integer arithmetic, to the pixel.
            sx = static_cast<std::int32_t>(std::lround(sx * ratio));
            sy = static_cast<std::int32_t>(std::lround(sy * ratio));
        } else {
            return;
        }
        if (point.deleted) {
            return;  // marked deleted: left out of the view
        }
        if (point.kind == CSiteData::kKindSurvey && point.hollow) {
            // Taken without a valid fix: a ring, not a disc.
            DrawRing(sx, sy, SignalLevel(point.signal), placement);
            if (plan.m_bShowPath) {
                ExtendPath(QPoint(sx, sy), placement.penWidth);
            }
        } else if (point.kind == CSiteData::kKindSurvey) {
            DrawDisc(sx, sy, SignalLevel(point.signal), placement.radius, placement.penWidth);
            if (plan.m_bShowPath) {
                ExtendPath(QPoint(sx, sy), placement.penWidth);
            }
        } else if (point.kind == CSiteData::kKindDynamicAp && plan.m_bShowDynamicAps) {
            DrawAccessPoint(sx, sy, placement);
        }
    });
    m_points = index;
    return m_image;
}

void SurveyLayer::DrawPlan(const CSitePlan& plan, const QImage& planImage) {
    if (planImage.isNull()) {
        return;
    }
    QPainter dc(&m_image);
    if (!plan.IsSquarePixels()) {
        SiteRect dst = m_key.client;
        SiteRect src;
        plan.GetCopyRects(dst, src);
        if (dst.right > dst.left && dst.bottom > dst.top && src.right > src.left &&
            src.bottom > src.top) {
            dc.drawImage(ToQRect(dst), planImage, ToQRect(src));
        }
        return;
    }
    // The visible whole plan pixels, drawn at the scale: every plan pixel square.
    const SiteRect viewport = plan.GetViewport();
    const SiteRect extent = plan.GetExtent();
    const QRect src(
        QPoint(std::max(viewport.left, extent.left), std::max(viewport.top, extent.top)),
        QPoint(std::min(viewport.right, extent.right) - 1,
               std::min(viewport.bottom, extent.bottom) - 1));
    if (src.isEmpty()) {
        return;
    }
    const ViewTransform t = plan.Transform();
    const QRectF dst(QPointF(m_key.client.left + t.ToClientX(src.left()),
                             m_key.client.top + t.ToClientY(src.top())),
                     QSizeF(src.width() * t.scaleX, src.height() * t.scaleY));
    // Below one device pixel per plan pixel the plan is filtered, not decimated.
    dc.setRenderHint(QPainter::SmoothPixmapTransform, t.scaleX * m_key.ratio < 1.0);
    dc.drawImage(dst, planImage, QRectF(src));
}

const SurveyLayer::DiscImage& SurveyLayer::Disc(int level, int radius, int penWidth) {
    std::vector<DiscImage>& set = m_discs[{radius, penWidth}];
    if (set.empty()) {
        set.resize(kLevels);
    }
    DiscImage& disc = set[static_cast<std::size_t>(std::clamp(level, 0, kLevels - 1))];
    if (disc.image.isNull()) {
        const int margin = kSpriteMargin + penWidth - 1;
        const int side = 2 * radius + 2 * margin + 1;
        QImage drawn(side, side, QImage::Format_ARGB32);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        painter.setPen(QPen(kBlack, penWidth, Qt::DashLine));
        painter.setBrush(LevelColour(level));
        painter.drawEllipse(QRect(margin, margin, 2 * radius, 2 * radius));
        painter.end();
        // Without antialiasing every pixel is either painted or untouched: the
        // painted runs of each row are what a copy has to write.
        disc.image = QImage(side, side, QImage::Format_RGB32);
        for (int row = 0; row < side; ++row) {
            const auto* pixels = reinterpret_cast<const QRgb*>(drawn.constScanLine(row));
            auto* opaque = reinterpret_cast<QRgb*>(disc.image.scanLine(row));
            int x = 0;
            while (x < side) {
                if (qAlpha(pixels[x]) == 0) {
                    opaque[x++] = 0xFF000000u;
                    continue;
                }
                const int start = x;
                while (x < side && qAlpha(pixels[x]) != 0) {
                    opaque[x] = pixels[x] | 0xFF000000u;
                    ++x;
                }
                disc.spans.push_back({row, start, x - start});
            }
        }
    }
    return disc;
}

void SurveyLayer::DrawDisc(int sx, int sy, int level, int radius, int penWidth) {
    // The disc as drawn once with the dashed pen and the level's brush,
    // copied span by span (a painter call per disc costs several times more).
    const DiscImage& disc = Disc(level, radius, penWidth);
    const int margin = kSpriteMargin + penWidth - 1;
    const int left = sx - radius - margin;
    const int top = sy - radius - margin;
    const int width = m_image.width();
    const int height = m_image.height();
    uchar* const bits = m_image.bits();
    const qsizetype stride = m_image.bytesPerLine();
    const uchar* const discBits = disc.image.constBits();
    const qsizetype discStride = disc.image.bytesPerLine();
    for (const DiscImage::Span& span : disc.spans) {
        const int y0 = top + span.row;
        if (y0 < 0 || y0 >= height) {
            continue;
        }
        const int from = std::max(left + span.left, 0);
        const int to = std::min(left + span.left + span.length, width);
        if (from >= to) {
            continue;
        }
        const auto* source =
            reinterpret_cast<const QRgb*>(discBits + span.row * discStride) + (from - left);
        auto* target = reinterpret_cast<QRgb*>(bits + y0 * stride) + from;
        std::memcpy(target, source, static_cast<std::size_t>(to - from) * sizeof(QRgb));
    }
}

void SurveyLayer::DrawRing(int sx, int sy, int level, const Placement& placement) {
    const double ratio = placement.ratio;
    const double r = placement.radius / ratio;
    QPainter dc(&m_image);
    dc.setRenderHint(QPainter::Antialiasing, ratio != 1.0);
    dc.setBrush(Qt::NoBrush);
    dc.setPen(QPen(LevelColour(level), std::max(2.0, 2.0 * placement.penWidth / ratio)));
    dc.drawEllipse(QRectF(sx / ratio - r, sy / ratio - r, 2 * r, 2 * r));
}

void SurveyLayer::ExtendPath(QPoint to, int penWidth) {
    if (m_bPathStarted) {
        DrawDashedLine(m_image, m_pathLast, to, kBlack.rgb(), penWidth);
    }
    m_pathLast = to;
    m_bPathStarted = true;
}

void SurveyLayer::DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width) {
    // Bresenham's line with the dashed pen's pattern, counted from the start
    // of the segment; a wider pen puts a width x width square on each step.
    const int pen = std::max(1, width);
    const int imageWidth = layer.width();
    const int imageHeight = layer.height();
    uchar* const bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    int x = from.x();
    int y = from.y();
    const int dx = std::abs(to.x() - x);
    const int dy = -std::abs(to.y() - y);
    const int stepX = x < to.x() ? 1 : -1;
    const int stepY = y < to.y() ? 1 : -1;
    const int period = kDashPeriod * pen;
    const int length = kDashLength * pen;
    const int offset = (pen - 1) / 2;
    int error = dx + dy;
    for (int i = 0; x != to.x() || y != to.y(); ++i) {
        if (i % period < length) {
            for (int py = y - offset; py < y - offset + pen; ++py) {
                if (py < 0 || py >= imageHeight) {
                    continue;
                }
                auto* row = reinterpret_cast<QRgb*>(bits + py * stride);
                for (int px = x - offset; px < x - offset + pen; ++px) {
                    if (px >= 0 && px < imageWidth) {
                        row[px] = ink;
                    }
                }
            }
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

void SurveyLayer::DrawAccessPoint(int sx, int sy, const Placement& placement) {
    // The painter works in client pixels; the image carries the device ratio.
    const double ratio = placement.ratio;
    const QPointF centre(sx / ratio, sy / ratio);
    const double r = placement.radius / ratio;
    QPainter dc(&m_image);
    dc.setFont(placement.font);
    dc.setPen(QPen(kBlack, placement.penWidth / ratio, Qt::DashLine));
    dc.setBrush(kBlack);
    if (ratio == 1.0) {
        // Integer boxes at the handheld's resolution, to the pixel.
        const int ri = placement.radius;
        dc.drawEllipse(QRect(sx - ri, sy - ri, 2 * ri, 2 * ri));
    } else {
        dc.drawEllipse(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r));
    }
    dc.setPen(kWhite);
    dc.setBackground(kBlack);
    dc.setBackgroundMode(Qt::OpaqueMode);
    if (ratio == 1.0) {
        dc.drawText(QRect(sx - kApLabelHalf, sy - kApLabelHalf, 2 * kApLabelHalf, 2 * kApLabelHalf),
                    Qt::AlignCenter, QStringLiteral("AP"));
    } else {
        dc.drawText(QRectF(centre.x() - kApLabelHalf, centre.y() - kApLabelHalf, 2 * kApLabelHalf,
                           2 * kApLabelHalf),
                    Qt::AlignCenter, QStringLiteral("AP"));
    }
}

}  // namespace ketrion
