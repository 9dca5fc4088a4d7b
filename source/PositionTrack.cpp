#include "source/PositionTrack.h"

#include <algorithm>
#include <cmath>

#include "engine/Location.h"

namespace ketrion::source {
namespace {

// 180 degrees in stored units and the full circle, for the short way round.
constexpr std::int64_t kHalfTurnUnits = 180LL * 3600000;
constexpr std::int64_t kFullTurnUnits = 2 * kHalfTurnUnits;

// `from` plus `t` of the way to `to`, rounded to the nearest unit.
std::int32_t Between(std::int64_t from, std::int64_t to, double t) {
    const double value = static_cast<double>(from) + static_cast<double>(to - from) * t;
    return static_cast<std::int32_t>(std::llround(value));
}

std::int32_t LongitudeBetween(std::int64_t from, std::int64_t to, double t) {
    if (to - from > kHalfTurnUnits) {
        to -= kFullTurnUnits;
    } else if (from - to > kHalfTurnUnits) {
        to += kFullTurnUnits;
    }
    std::int64_t value =
        std::llround(static_cast<double>(from) + static_cast<double>(to - from) * t);
    if (value > kHalfTurnUnits) {
        value -= kFullTurnUnits;
    } else if (value < -kHalfTurnUnits) {
        value += kFullTurnUnits;
    }
    return static_cast<std::int32_t>(value);
}

// Metres along the surface between two fixes (a sphere of the earth's mean
// radius; plenty for telling a walk from a jump).
double SurfaceMetres(const Fix& a, const Fix& b) {
    constexpr double kEarthRadiusMetres = 6371008.8;
    constexpr double kRadians = 3.14159265358979323846 / 180.0;
    const double phi1 = a.latitudeUnits * gps::kDegreesPerUnit * kRadians;
    const double phi2 = b.latitudeUnits * gps::kDegreesPerUnit * kRadians;
    const double dPhi = phi2 - phi1;
    const double dLambda = (b.longitudeUnits - static_cast<double>(a.longitudeUnits)) *
                           gps::kDegreesPerUnit * kRadians;
    const double h = std::sin(dPhi / 2) * std::sin(dPhi / 2) + std::cos(phi1) * std::cos(phi2) *
                                                                   std::sin(dLambda / 2) *
                                                                   std::sin(dLambda / 2);
    return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(h)));
}

}  // namespace

Fix InterpolateFix(const Fix& before, const Fix& after, double t) {
    t = std::clamp(t, 0.0, 1.0);
    Fix out = t < 0.5 ? before : after;
    out.latitudeUnits = Between(before.latitudeUnits, after.latitudeUnits, t);
    out.longitudeUnits = LongitudeBetween(before.longitudeUnits, after.longitudeUnits, t);
    out.latitude = out.latitudeUnits * gps::kDegreesPerUnit;
    out.longitude = out.longitudeUnits * gps::kDegreesPerUnit;
    return out;
}

void PositionTrack::Add(const Fix& fix) {
    if (fix.receivedMs < 0) {
        return;
    }
    if (m_reports.empty() || m_reports.back().receivedMs <= fix.receivedMs) {
        m_reports.push_back(fix);
    } else {
        auto at = std::upper_bound(
            m_reports.begin(), m_reports.end(), fix.receivedMs,
            [](std::int64_t ms, const Fix& report) { return ms < report.receivedMs; });
        m_reports.insert(at, fix);
    }
    while (m_reports.size() > kCapacity) {
        m_reports.pop_front();
    }
}

Fix PositionTrack::At(std::int64_t atMs) const {
    auto next =
        std::upper_bound(m_reports.begin(), m_reports.end(), atMs,
                         [](std::int64_t ms, const Fix& report) { return ms < report.receivedMs; });
    if (next == m_reports.begin()) {
        if (next != m_reports.end() && next->valid && next->receivedMs - atMs <= kMaxLeadMs) {
            return *next;
        }
        return Fix{};
    }
    const Fix& before = *std::prev(next);
    if (!before.valid) {
        return before;
    }
    if (next == m_reports.end() || !next->valid ||
        next->receivedMs - before.receivedMs > kMaxGapMs) {
        return before;
    }
    const Fix& after = *next;
    const std::int64_t gapMs = after.receivedMs - before.receivedMs;
    // Reports a moment apart are judged over at least a second, as receivers
    // report once a second and gpsd may send several reports of one cycle.
    const double seconds = std::max<double>(static_cast<double>(gapMs), 1000.0) / 1000.0;
    if (SurfaceMetres(before, after) > kMaxMetresPerSecond * seconds) {
        Fix held = atMs - before.receivedMs <= after.receivedMs - atMs ? before : after;
        held.heldAcrossJump = true;
        return held;
    }
    const double t = static_cast<double>(atMs - before.receivedMs) / static_cast<double>(gapMs);
    Fix out = InterpolateFix(before, after, t);
    out.receivedMs = atMs;
    return out;
}

}  // namespace ketrion::source
