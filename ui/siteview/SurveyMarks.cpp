#include "ui/siteview/SurveyMarks.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ketrion {

namespace {

// The path's dashes: kDashLength pixels drawn in every kDashPeriod (per pen width).
constexpr int kDashLength = 4;
constexpr int kDashPeriod = 6;
// Sprites kept per disc size; a continuous colour scale gives one per value
// shown, and more are drawn again rather than kept.
constexpr std::size_t kMaxDiscColours = 512;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);

}  // namespace

const SurveyMarks::DiscImage& SurveyMarks::Disc(QRgb colour, int radius, int penWidth) {
    std::map<QRgb, DiscImage>& set = m_discs[{radius, penWidth}];
    if (set.size() >= kMaxDiscColours && set.find(colour) == set.end()) {
        set.clear();
    }
    DiscImage& disc = set[colour];
    if (disc.image.isNull()) {
        const int margin = kSpriteMargin + penWidth - 1;
        const int side = 2 * radius + 2 * margin + 1;
        QImage drawn(side, side, QImage::Format_ARGB32);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        painter.setPen(QPen(kBlack, penWidth, Qt::DashLine));
        painter.setBrush(QColor::fromRgb(colour));
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

void SurveyMarks::DrawDisc(QImage& image, int sx, int sy, QRgb colour, int radius, int penWidth,
                           const QRect& clip) {
    // The disc as drawn once with the dashed pen and the colour's brush,
    // copied span by span (a painter call per disc costs several times more).
    const DiscImage& disc = Disc(colour, radius, penWidth);
    const int margin = kSpriteMargin + penWidth - 1;
    const int left = sx - radius - margin;
    const int top = sy - radius - margin;
    const QRect area = clip.intersected(image.rect());
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const uchar* const discBits = disc.image.constBits();
    const qsizetype discStride = disc.image.bytesPerLine();
    for (const DiscImage::Span& span : disc.spans) {
        const int y0 = top + span.row;
        if (y0 < area.top() || y0 > area.bottom()) {
            continue;
        }
        const int from = std::max(left + span.left, area.left());
        const int to = std::min(left + span.left + span.length, area.right() + 1);
        if (from >= to) {
            continue;
        }
        const auto* source =
            reinterpret_cast<const QRgb*>(discBits + span.row * discStride) + (from - left);
        auto* target = reinterpret_cast<QRgb*>(bits + y0 * stride) + from;
        std::memcpy(target, source, static_cast<std::size_t>(to - from) * sizeof(QRgb));
    }
}

void SurveyMarks::DrawRing(QImage& image, int sx, int sy, QRgb colour,
                           const SurveyPlacement& placement) {
    const double ratio = placement.ratio;
    const double r = placement.radius / ratio;
    QPainter dc(&image);
    dc.setRenderHint(QPainter::Antialiasing, ratio != 1.0);
    dc.setBrush(Qt::NoBrush);
    dc.setPen(QPen(QColor::fromRgb(colour), std::max(2.0, 2.0 * placement.penWidth / ratio)));
    dc.drawEllipse(QRectF(sx / ratio - r, sy / ratio - r, 2 * r, 2 * r));
}

void SurveyMarks::DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width) {
    DrawDashedLine(layer, from, to, ink, width, layer.rect());
}

void SurveyMarks::DrawDashedLine(QImage& layer, QPoint from, QPoint to, QRgb ink, int width,
                                 const QRect& clip) {
    // Bresenham's line with the dashed pen's pattern, counted from the start
    // of the segment; a wider pen puts a width x width square on each step.
    const int pen = std::max(1, width);
    const QRect area = clip.intersected(layer.rect());
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
                if (py < area.top() || py > area.bottom()) {
                    continue;
                }
                auto* row = reinterpret_cast<QRgb*>(bits + py * stride);
                for (int px = x - offset; px < x - offset + pen; ++px) {
                    if (px >= area.left() && px <= area.right()) {
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

void SurveyMarks::DrawAccessPoint(QImage& image, int sx, int sy, const SurveyPlacement& placement) {
    QPainter dc(&image);
    PaintAccessPoint(dc, sx, sy, placement);
}

void SurveyMarks::PaintAccessPoint(QPainter& dc, int sx, int sy, const SurveyPlacement& placement) {
    // The painter works in client pixels; the image carries the device ratio.
    const double ratio = placement.ratio;
    const QPointF centre(sx / ratio, sy / ratio);
    const double r = placement.radius / ratio;
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

void SurveyMarks::DrawAccessPointSprite(QImage& image, QPoint at, int reach,
                                        const SurveyPlacement& placement, const QRect& clip) {
    // Drawn once into its own picture and copied: the same pixels wherever it
    // lands, also half off the edge, where text would be placed differently.
    const double ratio = placement.ratio;
    if (m_apSprite.isNull() || m_apSpriteRadius != placement.radius ||
        m_apSprite.devicePixelRatio() != ratio) {
        const int side = 2 * reach + 1;
        m_apSprite = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
        m_apSprite.fill(Qt::transparent);
        m_apSprite.setDevicePixelRatio(ratio);
        m_apSprite.setDotsPerMeterX(placement.dotsPerMeter);
        m_apSprite.setDotsPerMeterY(placement.dotsPerMeter);
        QPainter dc(&m_apSprite);
        PaintAccessPoint(dc, reach, reach, placement);
        m_apSpriteRadius = placement.radius;
    }
    QPainter dc(&image);
    dc.setClipRect(
        QRectF(clip.x() / ratio, clip.y() / ratio, clip.width() / ratio, clip.height() / ratio));
    dc.drawImage(QPointF((at.x() - reach) / ratio, (at.y() - reach) / ratio), m_apSprite);
}

}  // namespace ketrion
