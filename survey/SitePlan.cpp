#include "survey/SitePlan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ketrion {

namespace {

using i64 = std::int64_t;

constexpr i64 kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr i64 kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int16_t kZoomMax = std::numeric_limits<std::int16_t>::max();

// Narrows a 64-bit intermediate to int32, saturating instead of wrapping.
std::int32_t Sat(i64 v) {
    return static_cast<std::int32_t>(std::clamp(v, kIntMin, kIntMax));
}

// a * b / den, truncating toward zero. The operands are differences of int32
// values (up to 33 bits), so the product is taken in 128 bits. A zero divisor
// (an empty client area or viewport) gives 0 instead of a trap.
i64 MulDiv(i64 a, i64 b, i64 den) {
    if (den == 0) {
        return 0;
    }
    const __int128 q = static_cast<__int128>(a) * b / den;
    return q > kIntMax * 4 ? kIntMax * 4 : (q < kIntMin * 4 ? kIntMin * 4 : static_cast<i64>(q));
}

}  // namespace

void CSitePlan::ResetGeometry() {
    m_extent = {};
    m_viewport = {};
    m_centreX = 0;
    m_centreY = 0;
    m_fCentreX = 0.0;
    m_fCentreY = 0.0;
    if (m_bSquare) {
        SyncSquare();
    }
}

void CSitePlan::SetClientRect(std::int32_t left, std::int32_t top, std::int32_t right,
                              std::int32_t bottom) {
    m_client = {left, top, right, bottom};
    if (m_bSquare) {
        // The centre stays; a client that grew may raise the smallest scale.
        m_scale = std::clamp(m_scale, MinScale(), kMaxScale);
        SyncSquare();
    }
}

void CSitePlan::SetExtent(std::int32_t left, std::int32_t top, std::int32_t right,
                          std::int32_t bottom) {
    m_extent.left = left;
    m_extent.top = top;
    m_extent.right = Sat(i64{right} - left);
    m_extent.bottom = Sat(i64{bottom} - top);
    if (m_bSquare) {
        SyncSquare();
    }
}

void CSitePlan::SetViewport(std::int32_t left, std::int32_t top, std::int32_t right,
                            std::int32_t bottom) {
    m_viewport.left = left;
    m_viewport.right = Sat(i64{right} - left);
    m_viewport.top = top;
    m_viewport.bottom = Sat(i64{bottom} - top);
    m_centreX = right / 2;
    m_centreY = bottom / 2;
    if (m_bSquare) {
        m_fCentreX = m_centreX;
        m_fCentreY = m_centreY;
        SyncSquare();
    }
}

void CSitePlan::ZoomIn() {
    if (m_bSquare) {
        SetScale(m_scale * 2.0);
        return;
    }
    if (m_nZoom > kZoomMax / 2) {
        return;
    }
    const SiteRect v = m_viewport;
    SiteRect n;
    n.left = Sat((i64{m_centreX} + v.left) / 2);
    n.right = Sat((i64{m_centreX} + v.right) / 2);
    n.top = Sat((i64{m_centreY} + v.top) / 2);
    n.bottom = Sat((i64{m_centreY} + v.bottom) / 2);
    // A viewport under one pixel would make every plan/screen conversion divide
    // by zero, and one that no longer shrinks (a pixel or two at the centre)
    // would only raise the factor shown: this is as far in as the plan goes.
    if (i64{n.right} - n.left < 1 || i64{n.bottom} - n.top < 1 || n == v) {
        return;
    }
    m_viewport = n;
    m_nZoom = static_cast<std::int16_t>(m_nZoom * 2);
}

void CSitePlan::ZoomOut() {
    if (m_bSquare) {
        SetScale(m_scale / 2.0);
        return;
    }
    if (m_nZoom <= 1) {
        return;
    }
    m_nZoom = static_cast<std::int16_t>(m_nZoom / 2);

    SiteRect& v = m_viewport;
    v.left = Sat(std::max(2 * i64{v.left} - m_centreX, i64{m_extent.left}));
    v.right = Sat(std::min(2 * i64{v.right} - m_centreX, i64{m_extent.right}));
    v.top = Sat(std::max(2 * i64{v.top} - m_centreY, i64{m_extent.top}));
    v.bottom = Sat(std::min(2 * i64{v.bottom} - m_centreY, i64{m_extent.bottom}));
    m_centreX = Sat((i64{v.left} + v.right) / 2);
    m_centreY = Sat((i64{v.top} + v.bottom) / 2);

    if (m_nZoom == 1) {
        const i64 width = i64{m_client.right} - m_client.left;
        const i64 height = i64{m_client.bottom} - m_client.top;
        const i64 s = width <= height ? width : height;
        if (i64{v.left} + s > m_extent.right) {
            v.left = Sat(i64{m_extent.right} - s);
            v.right = m_extent.right;
        } else {
            v.right = Sat(i64{v.left} + s);
        }
        if (i64{v.top} + s > m_extent.bottom) {
            v.top = Sat(i64{m_extent.bottom} - s);
            v.bottom = m_extent.bottom;
        } else {
            v.bottom = Sat(i64{v.top} + s);
        }
    }
}

// Lays the viewport around the centre on one axis, keeping its width; an odd
// width loses one pixel.
void CSitePlan::LayOutX() {
    const i64 h = (i64{m_viewport.right} - m_viewport.left) / 2;
    m_viewport.left = Sat(m_centreX - h);
    m_viewport.right = Sat(m_centreX + h);
}

void CSitePlan::LayOutY() {
    const i64 h = (i64{m_viewport.bottom} - m_viewport.top) / 2;
    m_viewport.top = Sat(m_centreY - h);
    m_viewport.bottom = Sat(m_centreY + h);
}

void CSitePlan::ScrollLeft(std::int32_t n) {
    if (m_bSquare) {
        m_fCentreX -= n;
        ClampCentre();
        SyncSquare();
        return;
    }
    m_centreX = Sat(std::max(i64{m_centreX} - n, i64{m_extent.left}));
    LayOutX();
}

void CSitePlan::ScrollRight(std::int32_t n) {
    if (m_bSquare) {
        m_fCentreX += n;
        ClampCentre();
        SyncSquare();
        return;
    }
    m_centreX = Sat(std::min(i64{m_centreX} + n, i64{m_extent.right}));
    LayOutX();
}

void CSitePlan::ScrollUp(std::int32_t n) {
    if (m_bSquare) {
        m_fCentreY -= n;
        ClampCentre();
        SyncSquare();
        return;
    }
    m_centreY = Sat(std::max(i64{m_centreY} - n, i64{m_extent.top}));
    LayOutY();
}

void CSitePlan::ScrollDown(std::int32_t n) {
    if (m_bSquare) {
        m_fCentreY += n;
        ClampCentre();
        SyncSquare();
        return;
    }
    m_centreY = Sat(std::min(i64{m_centreY} + n, i64{m_extent.bottom}));
    LayOutY();
}

void CSitePlan::SetCentreX(std::int32_t x) {
    if (m_bSquare) {
        m_fCentreX = std::max(std::min(x, m_extent.right), 0);
        SyncSquare();
        return;
    }
    m_centreX = std::max(std::min(x, m_extent.right), 0);
    LayOutX();
}

void CSitePlan::SetCentreY(std::int32_t y) {
    if (m_bSquare) {
        m_fCentreY = std::max(std::min(y, m_extent.bottom), 0);
        SyncSquare();
        return;
    }
    m_centreY = std::max(std::min(y, m_extent.bottom), 0);
    LayOutY();
}

void CSitePlan::CentreOn(std::int32_t x, std::int32_t y) {
    SetCentreX(x);
    SetCentreY(y);
}

void CSitePlan::CentreOnScreenPoint(const SiteRect& client, std::int32_t sx, std::int32_t sy) {
    if (m_bSquare) {
        std::int32_t px = 0;
        std::int32_t py = 0;
        ScreenToPlan(client, sx, sy, px, py);
        SetCentreX(px);
        SetCentreY(py);
        return;
    }
    const i64 dx =
        MulDiv(i64{m_viewport.right} - m_viewport.left, sx, i64{client.right} - client.left);
    const i64 dy =
        MulDiv(i64{m_viewport.bottom} - m_viewport.top, sy, i64{client.bottom} - client.top);
    const i64 x = m_viewport.left + dx;
    const i64 y = m_viewport.top + dy;
    SetCentreX(Sat(x));
    SetCentreY(Sat(y));
}

void CSitePlan::ScreenToPlan(const SiteRect& client, std::int32_t sx, std::int32_t sy,
                             std::int32_t& px, std::int32_t& py) const {
    if (m_bSquare) {
        const ViewTransform t = Transform();
        px = Sat(static_cast<i64>(std::floor(t.ToPlanX(i64{sx} - client.left))));
        py = Sat(static_cast<i64>(std::floor(t.ToPlanY(i64{sy} - client.top))));
        return;
    }
    px = Sat(m_viewport.left +
             MulDiv(i64{m_viewport.right} - m_viewport.left, sx, i64{client.right} - client.left));
    py = Sat(m_viewport.top +
             MulDiv(i64{m_viewport.bottom} - m_viewport.top, sy, i64{client.bottom} - client.top));
}

bool CSitePlan::PlanToScreen(const SiteRect& client, std::int32_t x, std::int32_t y,
                             std::int32_t& sx, std::int32_t& sy) const {
    if (!Contains(x, y)) {
        return false;
    }
    if (m_bSquare) {
        const ViewTransform t = Transform();
        sx = Sat(client.left + std::lround(t.ToClientX(x)));
        sy = Sat(client.top + std::lround(t.ToClientY(y)));
        return true;
    }
    sx = Sat(client.left + MulDiv(i64{x} - m_viewport.left, i64{client.right} - client.left,
                                  i64{m_viewport.right} - m_viewport.left));
    sy = Sat(client.top + MulDiv(i64{y} - m_viewport.top, i64{client.bottom} - client.top,
                                 i64{m_viewport.bottom} - m_viewport.top));
    return true;
}

bool CSitePlan::Contains(std::int32_t x, std::int32_t y) const {
    return m_viewport.left <= x && x <= m_viewport.right && m_viewport.top <= y &&
           y <= m_viewport.bottom;
}

void CSitePlan::GetCopyRects(SiteRect& dst, SiteRect& src) const {
    if (m_bSquare) {
        // The visible part of the plan, and where it lands at the scale.
        src.left = std::max(m_viewport.left, m_extent.left);
        src.top = std::max(m_viewport.top, m_extent.top);
        src.right = std::min(m_viewport.right, m_extent.right);
        src.bottom = std::min(m_viewport.bottom, m_extent.bottom);
        const ViewTransform t = Transform();
        const i64 left = dst.left;
        const i64 top = dst.top;
        dst.left = Sat(left + std::lround(t.ToClientX(src.left)));
        dst.top = Sat(top + std::lround(t.ToClientY(src.top)));
        dst.right = Sat(left + std::lround(t.ToClientX(src.right)));
        dst.bottom = Sat(top + std::lround(t.ToClientY(src.bottom)));
        return;
    }
    const i64 L = m_viewport.left;
    const i64 R = m_viewport.right;
    const i64 T = m_viewport.top;
    const i64 B = m_viewport.bottom;
    if (L <= 0) {
        dst.left = Sat(dst.left - MulDiv(i64{dst.right} - dst.left, L, R - L));
    }
    if (T <= 0) {
        dst.top = Sat(dst.top - MulDiv(i64{dst.bottom} - dst.top, T, B - T));
    }
    if (R > m_extent.right) {
        dst.right = Sat(dst.right - MulDiv(R - m_extent.right, i64{dst.right} - dst.left, R - L));
    }
    if (B > m_extent.bottom) {
        dst.bottom =
            Sat(dst.bottom - MulDiv(B - m_extent.bottom, i64{dst.bottom} - dst.top, B - T));
    }
    src.left = Sat(std::max(L, i64{0}));
    src.top = Sat(std::max(T, i64{0}));
    src.right = Sat(std::min(R, i64{m_extent.right}));
    src.bottom = Sat(std::min(B, i64{m_extent.bottom}));
}

// ---------------------------------------------------------------------------
// Square pixels

double CSitePlan::ClientWidth() const {
    return static_cast<double>(i64{m_client.right} - m_client.left);
}

double CSitePlan::ClientHeight() const {
    return static_cast<double>(i64{m_client.bottom} - m_client.top);
}

void CSitePlan::SetSquarePixels(bool on) {
    if (on == m_bSquare) {
        return;
    }
    if (on) {
        m_scale = GetScale();
        m_fCentreX = m_centreX;
        m_fCentreY = m_centreY;
        m_bSquare = true;
        m_scale = std::clamp(m_scale, MinScale(), kMaxScale);
        SyncSquare();
        return;
    }
    // Back to the square viewport: the largest power of two not above the scale.
    m_bSquare = false;
    std::int16_t zoom = 1;
    while (zoom <= kZoomMax / 2 && zoom * 2 <= m_scale) {
        zoom = static_cast<std::int16_t>(zoom * 2);
    }
    m_nZoom = zoom;
    const i64 side = std::max<i64>(
        1,
        std::min(i64{m_client.right} - m_client.left, i64{m_client.bottom} - m_client.top) / zoom);
    m_centreX = Sat(static_cast<i64>(std::floor(m_fCentreX)));
    m_centreY = Sat(static_cast<i64>(std::floor(m_fCentreY)));
    m_viewport = {0, 0, Sat(side), Sat(side)};
    LayOutX();
    LayOutY();
}

double CSitePlan::GetScale() const {
    if (m_bSquare) {
        return m_scale;
    }
    const i64 width = i64{m_viewport.right} - m_viewport.left;
    return width > 0 && ClientWidth() > 0 ? ClientWidth() / static_cast<double>(width) : 1.0;
}

int CSitePlan::GetZoomPercent() const {
    if (m_bSquare) {
        return static_cast<int>(std::lround(m_scale * 100.0));
    }
    return m_nZoom * 100;
}

double CSitePlan::FitScale() const {
    const double width = static_cast<double>(i64{m_extent.right} - m_extent.left);
    const double height = static_cast<double>(i64{m_extent.bottom} - m_extent.top);
    if (width <= 0 || height <= 0 || ClientWidth() <= 0 || ClientHeight() <= 0) {
        return 1.0;
    }
    return std::min(ClientWidth() / width, ClientHeight() / height);
}

double CSitePlan::MinScale() const {
    return std::min(1.0, FitScale());
}

void CSitePlan::SetScale(double scale) {
    if (!std::isfinite(scale)) {
        return;
    }
    m_scale = std::clamp(scale, MinScale(), kMaxScale);
    SyncSquare();
}

void CSitePlan::ZoomAt(double factor, double sx, double sy) {
    if (!m_bSquare || !std::isfinite(factor) || factor <= 0) {
        return;
    }
    const ViewTransform before = Transform();
    const double px = before.ToPlanX(sx);
    const double py = before.ToPlanY(sy);
    m_scale = std::clamp(m_scale * factor, MinScale(), kMaxScale);
    // The plan point (px, py) stays at (sx, sy): solve for the new centre.
    m_fCentreX = px - sx / m_scale + ClientWidth() / (2.0 * m_scale);
    m_fCentreY = py - sy / m_scale + ClientHeight() / (2.0 * m_scale);
    ClampCentre();
    SyncSquare();
}

void CSitePlan::PanBy(double dx, double dy) {
    if (!m_bSquare || !std::isfinite(dx) || !std::isfinite(dy)) {
        return;
    }
    m_fCentreX -= dx / m_scale;
    m_fCentreY -= dy / m_scale;
    ClampCentre();
    SyncSquare();
}

void CSitePlan::ZoomToFit() {
    if (!m_bSquare) {
        return;
    }
    m_scale = std::clamp(FitScale(), MinScale(), kMaxScale);
    m_fCentreX = (static_cast<double>(m_extent.left) + m_extent.right) / 2.0;
    m_fCentreY = (static_cast<double>(m_extent.top) + m_extent.bottom) / 2.0;
    SyncSquare();
}

void CSitePlan::FitArea(const SiteRect& area, double margin, double maxScale) {
    if (!m_bSquare) {
        return;
    }
    const double width = std::max(1.0, static_cast<double>(i64{area.right} - area.left));
    const double height = std::max(1.0, static_cast<double>(i64{area.bottom} - area.top));
    const double room =
        std::min((ClientWidth() - 2 * margin) / width, (ClientHeight() - 2 * margin) / height);
    const double scale = std::min(room > 0 ? room : MinScale(), maxScale);
    m_scale = std::clamp(scale, MinScale(), kMaxScale);
    m_fCentreX = (static_cast<double>(area.left) + area.right) / 2.0;
    m_fCentreY = (static_cast<double>(area.top) + area.bottom) / 2.0;
    ClampCentre();
    SyncSquare();
}

void CSitePlan::ClampCentre() {
    m_fCentreX = std::clamp(m_fCentreX, static_cast<double>(m_extent.left),
                            std::max(static_cast<double>(m_extent.left), 1.0 * m_extent.right));
    m_fCentreY = std::clamp(m_fCentreY, static_cast<double>(m_extent.top),
                            std::max(static_cast<double>(m_extent.top), 1.0 * m_extent.bottom));
}

void CSitePlan::SyncSquare() {
    const ViewTransform t = Transform();
    const auto floorSat = [](double v) { return Sat(static_cast<i64>(std::floor(v))); };
    const auto ceilSat = [](double v) { return Sat(static_cast<i64>(std::ceil(v))); };
    m_viewport.left = floorSat(t.originX);
    m_viewport.top = floorSat(t.originY);
    // Never narrower than one plan pixel, so conversions never divide by zero.
    m_viewport.right = std::max(ceilSat(t.ToPlanX(ClientWidth())), Sat(i64{m_viewport.left} + 1));
    m_viewport.bottom = std::max(ceilSat(t.ToPlanY(ClientHeight())), Sat(i64{m_viewport.top} + 1));
    m_centreX = floorSat(m_fCentreX);
    m_centreY = floorSat(m_fCentreY);
}

ViewTransform CSitePlan::Transform() const {
    ViewTransform t;
    if (m_bSquare) {
        t.scaleX = m_scale;
        t.scaleY = m_scale;
        t.originX = m_fCentreX - ClientWidth() / (2.0 * m_scale);
        t.originY = m_fCentreY - ClientHeight() / (2.0 * m_scale);
        return t;
    }
    const i64 width = i64{m_viewport.right} - m_viewport.left;
    const i64 height = i64{m_viewport.bottom} - m_viewport.top;
    t.scaleX = width > 0 && ClientWidth() > 0 ? ClientWidth() / static_cast<double>(width) : 1.0;
    t.scaleY =
        height > 0 && ClientHeight() > 0 ? ClientHeight() / static_cast<double>(height) : 1.0;
    t.originX = m_viewport.left;
    t.originY = m_viewport.top;
    return t;
}

}  // namespace ketrion
