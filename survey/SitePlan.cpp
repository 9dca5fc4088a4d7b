#include "survey/SitePlan.h"

#include <algorithm>
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
}

void CSitePlan::SetClientRect(std::int32_t left, std::int32_t top, std::int32_t right,
                              std::int32_t bottom) {
    m_client = {left, top, right, bottom};
}

void CSitePlan::SetExtent(std::int32_t left, std::int32_t top, std::int32_t right,
                          std::int32_t bottom) {
    m_extent.left = left;
    m_extent.top = top;
    m_extent.right = Sat(i64{right} - left);
    m_extent.bottom = Sat(i64{bottom} - top);
}

void CSitePlan::SetViewport(std::int32_t left, std::int32_t top, std::int32_t right,
                            std::int32_t bottom) {
    m_viewport.left = left;
    m_viewport.right = Sat(i64{right} - left);
    m_viewport.top = top;
    m_viewport.bottom = Sat(i64{bottom} - top);
    m_centreX = right / 2;
    m_centreY = bottom / 2;
}

void CSitePlan::ZoomIn() {
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
    m_centreX = Sat(std::max(i64{m_centreX} - n, i64{m_extent.left}));
    LayOutX();
}

void CSitePlan::ScrollRight(std::int32_t n) {
    m_centreX = Sat(std::min(i64{m_centreX} + n, i64{m_extent.right}));
    LayOutX();
}

void CSitePlan::ScrollUp(std::int32_t n) {
    m_centreY = Sat(std::max(i64{m_centreY} - n, i64{m_extent.top}));
    LayOutY();
}

void CSitePlan::ScrollDown(std::int32_t n) {
    m_centreY = Sat(std::min(i64{m_centreY} + n, i64{m_extent.bottom}));
    LayOutY();
}

void CSitePlan::SetCentreX(std::int32_t x) {
    m_centreX = std::max(std::min(x, m_extent.right), 0);
    LayOutX();
}

void CSitePlan::SetCentreY(std::int32_t y) {
    m_centreY = std::max(std::min(y, m_extent.bottom), 0);
    LayOutY();
}

void CSitePlan::CentreOn(std::int32_t x, std::int32_t y) {
    SetCentreX(x);
    SetCentreY(y);
}

void CSitePlan::CentreOnScreenPoint(const SiteRect& client, std::int32_t sx, std::int32_t sy) {
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

}  // namespace ketrion
