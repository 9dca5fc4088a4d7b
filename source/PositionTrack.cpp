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
    const double t = static_cast<double>(atMs - before.receivedMs) /
                     static_cast<double>(after.receivedMs - before.receivedMs);
    Fix out = InterpolateFix(before, after, t);
    out.receivedMs = atMs;
    return out;
}

}  // namespace ketrion::source
