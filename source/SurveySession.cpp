#include "source/SurveySession.h"

#include "platform/Clock.h"
#include "source/FixHealth.h"
#include "source/PositionTrack.h"
#include "platform/Sound.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion {

SurveySession::SurveySession(source::ScanSource& scan, source::PositionSource& position,
                             CSiteData& data, CSiteProjection& projection, Sound& sound,
                             Clock& clock)
    : m_scan(scan),
      m_position(position),
      m_data(data),
      m_projection(projection),
      m_sound(sound),
      m_clock(clock) {
    m_data.SetProjection(&m_projection);
    m_scan.onScan = [this](const source::ScanResult& result) { OnScan(result); };
}

SurveySession::~SurveySession() {
    m_scan.onScan = nullptr;
}

bool SurveySession::OpenProjection(const std::string& path) {
    return m_projection.LoadProjection(path);
}

bool SurveySession::OpenCollection(const std::string& path) {
    m_data.SetPath(path);
    return m_data.LoadSurvey();
}

bool SurveySession::NewCollection(const std::string& path) {
    m_data.SetPath(path);
    return m_data.NewCollection();
}

void SurveySession::CloseCollection() {
    m_recording = false;
    m_data.SetPath(std::string());
}

bool SurveySession::HasCollection() const {
    return m_data.HasPath();
}

bool SurveySession::StartRecording() {
    if (!m_data.HasPath())
        return false;
    m_sound.PlayResourceSound("WHOOSH");
    m_recording = true;
    return true;
}

void SurveySession::StopRecording() {
    m_sound.PlayResourceSound("WHOOSH");
    m_recording = false;
}

bool SurveySession::CanTakeReading() const {
    const source::SourceStatus status = m_scan.Status();
    return status.state == source::SourceState::Ready && !m_scan.IsScanning();
}

bool SurveySession::SourceUp() const {
    const source::SourceState state = m_scan.Status().state;
    return state == source::SourceState::Ready || state == source::SourceState::Scanning;
}

std::optional<SurveySession::PlanPoint> SurveySession::OnTimer() {
    if (!CanTakeReading())
        return std::nullopt;
    return TakeReading();
}

SurveySession::PlanPoint SurveySession::CurrentPlanPosition() const {
    const source::Fix fix = m_position.Current();
    return PlanPoint{m_projection.PlanXFromDegrees(fix.latitude, fix.longitude),
                     m_projection.PlanYFromDegrees(fix.latitude, fix.longitude)};
}

SurveySession::PlanPoint SurveySession::PrepareReading(std::optional<PlanPoint> at) {
    m_scan.BeginReading();
    const PlanPoint point = at ? *at : CurrentPlanPosition();
    std::lock_guard lock(m_readingMutex);
    m_requested = point;
    return point;
}

SurveySession::PlanPoint SurveySession::TakeReading() {
    // The source forgets the last scan before the request, so one that
    // answers at once keeps what it answered.
    const PlanPoint at = PrepareReading();
    m_scan.RequestScan();
    m_sound.PlayResourceSound("PING");
    return at;
}

std::string SurveySession::FixFlag(const source::Fix& fix, std::int64_t atMs) {
    const source::FixHealth health = source::ClassifyFix(fix, atMs);
    return health == source::FixHealth::Ok ? std::string() : source::FixHealthName(health);
}

void SurveySession::OnScan(const source::ScanResult& result) {
    const source::Fix fix = m_position.FixFor(result.startedMs, result.endedMs);
    CSiteData::Placement placement;
    if (m_position.KeepsTrack()) {
        placement.x = m_projection.PlanXFromDegrees(fix.latitude, fix.longitude);
        placement.y = m_projection.PlanYFromDegrees(fix.latitude, fix.longitude);
    } else {
        std::lock_guard lock(m_readingMutex);
        placement.x = m_requested.x;
        placement.y = m_requested.y;
    }
    placement.planX = placement.x;
    placement.planY = placement.y;
    placement.scanSource = m_scan.Kind();
    placement.method = m_position.Kind();
    // A fix placed at the scan's middle is judged as it stood then.
    placement.fixFlag = FixFlag(fix, m_position.KeepsTrack()
                                         ? source::PositionTrack::ScanMiddleMs(result.startedMs,
                                                                               result.endedMs)
                                         : result.endedMs);
    placement.scanStartMs = result.startedMs;
    placement.scanEndMs = result.endedMs;
    m_data.RecordPoint(fix, result.readings, placement);
}

void SurveySession::OnSourceEvent(const source::SourceEvent& event) {
    const bool ended = event.kind == source::SourceEventKind::ScanEnded ||
                       event.kind == source::SourceEventKind::ScanAbandoned;
    if (ended && m_recording && m_scan.PacesItself() && CanTakeReading())
        TakeReading();
}

bool SurveySession::PlaceDynamicAp(int x, int y) {
    // Stored where it was tapped, so it is drawn there again when the file is
    // opened; without a projection to turn the tap into a position, at the
    // surveyor's position.
    double latitude = 0;
    double longitude = 0;
    if (const std::optional<GeoPoint> at = m_projection.ToGeo(x, y)) {
        latitude = at->latitude;
        longitude = at->longitude;
    } else {
        const source::Fix fix = m_position.Current();
        latitude = fix.latitude;
        longitude = fix.longitude;
    }
    return m_data.RecordDynamicAp(x, y, source::UnitsFromDegrees(latitude),
                                  source::UnitsFromDegrees(longitude));
}

}  // namespace ketrion
