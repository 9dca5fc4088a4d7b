#include "ui/siteview/SurveyLayer.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>

#include "survey/SiteData.h"

namespace ketrion {

namespace {

// A pan whose device shift is this close to whole pixels moves the kept
// picture; anything else is drawn afresh.
constexpr double kWholePixel = 1e-6;
// Points further than this many device pixels from the picture are not
// drawn, nor joined by the path: their coordinates would not fit an int.
constexpr double kFarAway = 1e7;

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
    m_valid = false;
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
                  placement.penWidth,
                  static_cast<bool>(placement.discColour)};
    const std::size_t count = data.PointCount();
    const bool square = plan.IsSquarePixels();
    bool rebuild = !m_valid || count < m_points;
    if (!rebuild && !(key == m_key)) {
        // A pan by whole device pixels moves the kept picture and draws only
        // the strips that come into view (square pixels only; the handheld
        // does not drag).
        QPoint shift;
        if (square && PanShift(key, shift)) {
            m_key = key;
            ShiftPicture(shift);
            RedrawStrips(plan, placement, planImage, data, shift);
        } else {
            rebuild = true;
        }
    } else if (!rebuild && count == m_points) {
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
            m_valid = false;
            return m_image;
        }
        m_image.setDevicePixelRatio(placement.ratio);
        m_image.setDotsPerMeterX(placement.dotsPerMeter);
        m_image.setDotsPerMeterY(placement.dotsPerMeter);
        // Areas beside a plan smaller than the view are black.
        m_image.fill(kBlack);
        m_key = key;
        m_points = 0;
        m_drawn.clear();
        m_bands.Clear();
        m_pathStarted = false;
        m_valid = true;
        DrawPlan(plan, planImage);
        if (m_overlay) {
            QPainter dc(&m_image);
            m_overlay(dc, t);
        }
    }

    // The list only grows between loads, and later points are drawn over
    // earlier ones, so drawing just the new points (with the path carried on
    // from the last one drawn) gives the same picture as drawing them all.
    if (square) {
        const QRect all = m_image.rect();
        m_points = DrawSquarePoints(plan, placement, data, m_points, count, {&all, 1}, true);
        return m_image;
    }
    // The handheld: points outside the viewport draw nothing and leave the
    // path alone.
    const SiteRect viewport = plan.GetViewport();
    const SiteRect& client = placement.client;
    const double ratio = placement.ratio;
    std::size_t index = 0;
    data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (index++ < m_points || point.x < viewport.left || point.x > viewport.right ||
            point.y < viewport.top || point.y > viewport.bottom) {
            return;
        }
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        if (!plan.PlanToScreen(client, point.x, point.y, sx, sy)) {
            return;
        }
        if (point.deleted) {
            return;  // marked deleted: left out of the view
        }
        // The handheld layout's own integer arithmetic, to the pixel.
        sx = static_cast<std::int32_t>(std::lround(sx * ratio));
        sy = static_cast<std::int32_t>(std::lround(sy * ratio));
        if (point.kind == CSiteData::kKindSurvey) {
            const QRgb colour = placement.discColour ? placement.discColour(point)
                                                     : LevelColour(SignalLevel(point.signal)).rgb();
            m_marks.DrawDisc(m_image, sx, sy, colour, placement.radius, placement.penWidth,
                             m_image.rect());
            if (plan.m_bShowPath) {
                ExtendPath(QPoint(sx, sy), placement.penWidth);
            }
        } else if (point.kind == CSiteData::kKindDynamicAp && plan.m_bShowDynamicAps) {
            SurveyMarks::DrawAccessPoint(m_image, sx, sy, placement);
        }
    });
    m_points = index;
    return m_image;
}

bool SurveyLayer::PanShift(const Key& key, QPoint& shift) const {
    // Everything but the origin (and the viewport that follows it) the same.
    Key moved = key;
    moved.originX = m_key.originX;
    moved.originY = m_key.originY;
    moved.viewport = m_key.viewport;
    if (!(moved == m_key) || key.ratio != std::floor(key.ratio)) {
        return false;  // a fractional ratio puts strips between device pixels
    }
    const double dx = (m_key.originX - key.originX) * key.scale * key.ratio;
    const double dy = (m_key.originY - key.originY) * key.scale * key.ratio;
    const double rx = std::round(dx);
    const double ry = std::round(dy);
    if (std::abs(dx - rx) > kWholePixel || std::abs(dy - ry) > kWholePixel ||
        std::abs(rx) >= m_image.width() || std::abs(ry) >= m_image.height()) {
        return false;
    }
    shift = QPoint(static_cast<int>(rx), static_cast<int>(ry));
    return true;
}

void SurveyLayer::ShiftPicture(QPoint shift) {
    const int width = m_image.width();
    const int height = m_image.height();
    const int dx = shift.x();
    const int dy = shift.y();
    const int length = width - std::abs(dx);
    uchar* const bits = m_image.bits();
    const qsizetype stride = m_image.bytesPerLine();
    // Rows are taken in the order that never reads a row already overwritten.
    for (int i = 0; i < height - std::abs(dy); ++i) {
        const int to = dy > 0 ? height - 1 - i : i;
        const int from = to - dy;
        auto* target = reinterpret_cast<QRgb*>(bits + to * stride);
        const auto* source = reinterpret_cast<const QRgb*>(bits + from * stride);
        std::memmove(target + std::max(dx, 0), source + std::max(-dx, 0),
                     static_cast<std::size_t>(length) * sizeof(QRgb));
    }
}

void SurveyLayer::RedrawStrips(const CSitePlan& plan, const Placement& placement,
                               const QImage& planImage, const CSiteData& data, QPoint shift) {
    const int width = m_image.width();
    const int height = m_image.height();
    QRect strips[2];
    std::size_t count = 0;
    if (shift.x() != 0) {
        strips[count++] = shift.x() > 0 ? QRect(0, 0, shift.x(), height)
                                        : QRect(width + shift.x(), 0, -shift.x(), height);
    }
    if (shift.y() != 0) {
        strips[count++] = shift.y() > 0 ? QRect(0, 0, width, shift.y())
                                        : QRect(0, height + shift.y(), width, -shift.y());
    }
    const std::span<const QRect> clips(strips, count);
    const double ratio = placement.ratio;
    for (const QRect& strip : clips) {
        for (int y = strip.top(); y <= strip.bottom(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(m_image.scanLine(y));
            std::fill(row + strip.left(), row + strip.right() + 1, kBlack.rgb());
        }
        const QRectF logical(strip.x() / ratio, strip.y() / ratio, strip.width() / ratio,
                             strip.height() / ratio);
        DrawPlan(plan, planImage, &logical);
        if (m_overlay) {
            QPainter dc(&m_image);
            dc.setClipRect(logical);
            m_overlay(dc, plan.Transform());
        }
    }
    // Every point already drawn, again, but only where a strip is; the path
    // carries on from the last of them as before.
    DrawSquarePoints(plan, placement, data, 0, m_points, clips, false);
}

std::size_t SurveyLayer::DrawSquarePoints(const CSitePlan& plan, const Placement& placement,
                                          const CSiteData& data, std::size_t from, std::size_t to,
                                          std::span<const QRect> clips, bool carryPath) {
    // Every point is placed by the same rule whatever is on screen, and the
    // path joins every survey point to the next: the picture of any part of
    // the plan is the same however the view got there, which lets a pan keep
    // what it already has.
    if (from >= to) {
        return from;
    }
    const ViewTransform t = plan.Transform();
    const SiteRect& client = placement.client;
    const double ratio = placement.ratio;
    const double kx = t.scaleX * ratio;
    const double ky = t.scaleY * ratio;
    const double left = client.left * ratio;
    const double top = client.top * ratio;
    const int pen = placement.penWidth;
    const int reach = placement.radius + SurveyMarks::kSpriteMargin + pen;
    const int apReach =
        std::max(placement.radius, static_cast<int>(std::ceil(SurveyMarks::kApLabelHalf * ratio))) +
        SurveyMarks::kSpriteMargin + pen;
    // The clip rectangles in plan pixels, grown by the furthest anything
    // reaches from its point, rounded outwards: most points and segments are
    // passed over with a few integer comparisons.
    struct PlanBox {
        std::int64_t left, top, right, bottom;
    };
    std::vector<PlanBox> boxes;
    boxes.reserve(clips.size());
    const int grow = std::max(reach, apReach) + 1;
    for (const QRect& clip : clips) {
        boxes.push_back(
            {static_cast<std::int64_t>(std::floor(t.originX + (clip.left() - left - grow) / kx)) -
                 1,
             static_cast<std::int64_t>(std::floor(t.originY + (clip.top() - top - grow) / ky)) - 1,
             static_cast<std::int64_t>(std::ceil(t.originX + (clip.right() - left + grow) / kx)) +
                 1,
             static_cast<std::int64_t>(std::ceil(t.originY + (clip.bottom() - top + grow) / ky)) +
                 1});
    }
    const auto nearClips = [&boxes](std::int64_t x0, std::int64_t y0, std::int64_t x1,
                                    std::int64_t y1) {
        for (const PlanBox& box : boxes) {
            if (std::min(x0, x1) <= box.right && std::max(x0, x1) >= box.left &&
                std::min(y0, y1) <= box.bottom && std::max(y0, y1) >= box.top) {
                return true;
            }
        }
        return false;
    };
    // Device pixel of a plan point; false when too far off to draw.
    const auto device = [&](std::int32_t x, std::int32_t y, QPoint& at) {
        const double fx = left + (x - t.originX) * kx;
        const double fy = top + (y - t.originY) * ky;
        if (std::abs(fx) > kFarAway || std::abs(fy) > kFarAway) {
            return false;
        }
        at = QPoint(static_cast<int>(std::floor(fx + 0.5)), static_cast<int>(std::floor(fy + 0.5)));
        return true;
    };
    // Whether the device box from (x0, y0) to (x1, y1), grown by `by`, reaches `clip`.
    const auto reaches = [](int x0, int y0, int x1, int y1, int by, const QRect& clip) {
        return std::min(x0, x1) - by <= clip.right() && std::max(x0, x1) + by >= clip.left() &&
               std::min(y0, y1) - by <= clip.bottom() && std::max(y0, y1) + by >= clip.top();
    };

    bool started = carryPath && m_pathStarted;
    std::int32_t lastX = carryPath ? m_pathLastPlan.x() : 0;
    std::int32_t lastY = carryPath ? m_pathLastPlan.y() : 0;
    // Draws one point, the path coming to it from (pathX, pathY) when pathStarted.
    const auto drawPoint = [&](const Drawn& point, bool pathStarted, std::int32_t pathX,
                               std::int32_t pathY) {
        if (point.deleted) {
            return;  // marked deleted: left out of the view
        }
        const bool survey = point.kind == CSiteData::kKindSurvey;
        const bool near = nearClips(point.x, point.y, point.x, point.y);
        QPoint at;
        if (survey) {
            const bool path = plan.m_bShowPath && pathStarted;
            const bool segment = path && nearClips(pathX, pathY, point.x, point.y);
            if ((near || segment) && device(point.x, point.y, at)) {
                QRgb colour = 0;
                bool coloured = false;
                for (const QRect& clip : clips) {
                    if (!near || !reaches(at.x(), at.y(), at.x(), at.y(), reach, clip)) {
                        continue;
                    }
                    if (!coloured) {
                        colour = point.colour;
                        coloured = true;
                    }
                    if (point.hollow) {
                        // Taken without a valid fix, or not yet placed: a
                        // ring, not a disc (the handheld draws discs as ever).
                        SurveyMarks::DrawRing(m_image, at.x(), at.y(), colour, placement);
                    } else {
                        m_marks.DrawDisc(m_image, at.x(), at.y(), colour, placement.radius, pen,
                                         clip);
                    }
                }
                QPoint from;
                if (segment && device(pathX, pathY, from)) {
                    for (const QRect& clip : clips) {
                        if (reaches(from.x(), from.y(), at.x(), at.y(), pen, clip)) {
                            DrawDashedLine(m_image, from, at, kBlack.rgb(), pen, clip);
                        }
                    }
                }
            }
        } else if (point.kind == CSiteData::kKindDynamicAp && plan.m_bShowDynamicAps && near &&
                   device(point.x, point.y, at)) {
            for (const QRect& clip : clips) {
                if (reaches(at.x(), at.y(), at.x(), at.y(), apReach, clip)) {
                    m_marks.DrawAccessPointSprite(m_image, at, apReach, placement, clip);
                }
            }
        }
    };
    std::size_t index = 0;
    if (!carryPath && from == 0 && to == m_drawn.size()) {
        // The points already drawn, again: those whose mark or path segment
        // lies in a band a clip crosses, in list order (later ones on top).
        std::vector<std::uint32_t> near;
        bool all = false;
        for (const PlanBox& box : boxes) {
            const std::int64_t columns = box.right / kBand - box.left / kBand;
            const std::int64_t rows = box.bottom / kBand - box.top / kBand;
            const bool byColumn = columns <= rows;
            if (std::min(columns, rows) > kMaxBands) {
                all = true;
                break;
            }
            const auto& bands = byColumn ? m_bands.byColumn : m_bands.byRow;
            const std::int64_t first = (byColumn ? box.left : box.top) / kBand - 1;
            const std::int64_t last = (byColumn ? box.right : box.bottom) / kBand + 1;
            for (std::int64_t band = first; band <= last; ++band)
                if (const auto found = bands.find(band); found != bands.end())
                    near.insert(near.end(), found->second.begin(), found->second.end());
        }
        if (all) {
            for (const Drawn& point : m_drawn)
                drawPoint(point, point.hasPrev, point.prevX, point.prevY);
        } else {
            near.insert(near.end(), m_bands.everywhere.begin(), m_bands.everywhere.end());
            std::sort(near.begin(), near.end());
            near.erase(std::unique(near.begin(), near.end()), near.end());
            for (const std::uint32_t i : near) {
                const Drawn& point = m_drawn[i];
                drawPoint(point, point.hasPrev, point.prevX, point.prevY);
            }
        }
        return to;
    }
    const bool keep = carryPath && from == m_drawn.size();
    data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (index < from || index >= to) {
            ++index;
            return;
        }
        ++index;
        Drawn drawn;
        drawn.x = point.x;
        drawn.y = point.y;
        drawn.kind = point.kind;
        drawn.deleted = point.deleted;
        drawn.hollow = point.hollow;
        const bool survey = point.kind == CSiteData::kKindSurvey;
        if (survey && !point.deleted)
            drawn.colour = placement.discColour ? placement.discColour(point)
                                                : LevelColour(SignalLevel(point.signal)).rgb();
        drawn.hasPrev = plan.m_bShowPath && started;
        drawn.prevX = lastX;
        drawn.prevY = lastY;
        drawPoint(drawn, started, lastX, lastY);
        if (keep) {
            const auto at = static_cast<std::uint32_t>(m_drawn.size());
            m_drawn.push_back(drawn);
            if (!point.deleted) {
                if (survey && drawn.hasPrev)
                    m_bands.Add(at, lastX, lastY, point.x, point.y);
                else
                    m_bands.Add(at, point.x, point.y, point.x, point.y);
            }
        }
        // The path goes through every survey point not deleted.
        if (survey && !point.deleted && plan.m_bShowPath) {
            lastX = point.x;
            lastY = point.y;
            started = true;
        }
    });
    m_pathLastPlan = QPoint(lastX, lastY);
    m_pathStarted = started;
    return std::max(index, from);
}

void SurveyLayer::Bands::Clear() {
    byColumn.clear();
    byRow.clear();
    everywhere.clear();
}

void SurveyLayer::Bands::Add(std::uint32_t index, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                             std::int64_t y1) {
    // Floor division, so bands are the same width either side of 0.
    const auto band = [](std::int64_t v) {
        return v >= 0 ? v / kBand : -((-v + kBand - 1) / kBand);
    };
    const std::int64_t left = band(std::min(x0, x1));
    const std::int64_t right = band(std::max(x0, x1));
    const std::int64_t top = band(std::min(y0, y1));
    const std::int64_t bottom = band(std::max(y0, y1));
    if (right - left > kMaxBands || bottom - top > kMaxBands) {
        everywhere.push_back(index);
        return;
    }
    for (std::int64_t b = left; b <= right; ++b)
        byColumn[b].push_back(index);
    for (std::int64_t b = top; b <= bottom; ++b)
        byRow[b].push_back(index);
}

void SurveyLayer::DrawPlan(const CSitePlan& plan, const QImage& planImage, const QRectF* clip) {
    if (planImage.isNull()) {
        return;
    }
    QPainter dc(&m_image);
    if (clip != nullptr) {
        dc.setClipRect(*clip);
    }
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

void SurveyLayer::ExtendPath(QPoint to, int penWidth) {
    if (m_pathStarted) {
        DrawDashedLine(m_image, m_pathLast, to, kBlack.rgb(), penWidth);
    }
    m_pathLast = to;
    m_pathStarted = true;
}

}  // namespace ketrion
