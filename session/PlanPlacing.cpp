#include "session/PlanPlacing.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/Clock.h"
#include "source/PositionTrack.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion {

PlanPlacing::PlanPlacing(CSiteData& data, const CSiteProjection& projection,
                         const source::ScanSource& scan, Clock& clock)
    : m_data(data), m_projection(projection), m_scan(scan), m_clock(clock) {}

bool PlanPlacing::OffGlobe(double x, double y) const {
    if (!std::isfinite(x) || !std::isfinite(y))
        return true;
    if (const std::optional<GeoPoint> at = m_projection.ToGeo(x, y))
        return !(std::abs(at->latitude) <= 90.0 && std::abs(at->longitude) <= 180.0);
    // No position: without a projection the point is stored at 0, 0 and
    // drawn where placed; with one, (x, y) is too far for any number.
    return m_projection.ToGeo(0, 0).has_value();
}

source::Fix PlanPlacing::PlacedFix(double x, double y, std::int64_t atMs) const {
    source::Fix fix;
    if (const std::optional<GeoPoint> at = m_projection.ToGeo(x, y)) {
        fix.latitude = at->latitude;
        fix.longitude = at->longitude;
        fix.latitudeUnits = source::UnitsFromDegrees(at->latitude);
        fix.longitudeUnits = source::UnitsFromDegrees(at->longitude);
    }
    // The surveyor's word, not a receiver's fix: fix class 0 in the file.
    fix.valid = true;
    fix.fixClass = source::FixClass::None;
    // The time of the scan (session clock `atMs`), not of the click that
    // placed it: a walk's scan is placed when its segment ends.
    const std::int64_t ago = std::max<std::int64_t>(0, m_clock.NowMs() - atMs);
    source::SetUtc(fix, m_clock.NowSeconds() - ago / 1000);
    return fix;
}

void PlanPlacing::RecordPlaced(const source::ScanResult& result, double x, double y,
                               const std::string& method) {
    CSiteData::Placement placement;
    placement.x = CSiteProjection::ToPlanCoordinate(x);
    placement.y = CSiteProjection::ToPlanCoordinate(y);
    placement.planX = x;
    placement.planY = y;
    placement.scanSource = m_scan.Kind();
    placement.method = method;
    placement.scanStartMs = result.startedMs;
    placement.scanEndMs = result.endedMs;
    m_data.RecordPoint(
        PlacedFix(x, y, source::PositionTrack::ScanMiddleMs(result.startedMs, result.endedMs)),
        result.readings, placement);
}

}  // namespace ketrion
