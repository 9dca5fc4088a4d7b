#include "session/SurveySession.h"

#include <cmath>
#include <ctime>
#include <memory>

#include "platform/Clock.h"
#include "platform/Sound.h"
#include "platform/Ticker.h"
#include "session/SessionListeners.h"
#include "source/FixHealth.h"
#include "source/PositionTrack.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion {

SurveySession::SurveySession(source::ScanSource& scan, source::PositionSource& position,
                             CSiteData& data, CSiteProjection& projection, Sound& sound,
                             Clock& clock, Ticker* ticker)
    : m_scan(scan),
      m_position(position),
      m_data(data),
      m_projection(projection),
      m_sound(sound),
      m_clock(clock),
      m_ticker(ticker),
      m_listeners(std::make_unique<Listeners>()),
      m_plan(data, projection, scan, clock),
      m_walk(data, scan, m_readingMutex,
             [this](const source::ScanResult& result, double x, double y) {
                 m_plan.RecordPlaced(result, x, y, "walk");
             }),
      m_undo(data, m_walk) {
    if (m_ticker != nullptr)
        m_ticker->onTick = [this] { Tick(); };
    m_data.SetProjection(&m_projection);
    m_fixWait = std::make_unique<FixWait>(
        m_position, m_clock, [this](const source::ScanResult& result) { RecordTracked(result); });
    m_scan.onScan = [this](const source::ScanResult& result) { OnScan(result); };
}

SurveySession::~SurveySession() {
    // The sources' threads call back into the session: joined first.
    StopSources();
    m_scan.onScan = nullptr;
    if (m_ticker != nullptr) {
        m_ticker->Stop();
        m_ticker->onTick = nullptr;
    }
}

void SurveySession::StartSources() {
    m_scan.Start();
    m_position.Start();
}

void SurveySession::StopSources() {
    m_scan.Stop();
    m_position.Stop();
    // No report comes any more: what waits for one is written as it stands.
    m_fixWait->Flush();
}

bool SurveySession::OpenProjection(const std::string& path) {
    return m_projection.LoadProjection(path);
}

bool SurveySession::OpenCollection(const std::string& path) {
    LeaveCollection();
    m_data.SetPath(path);
    const bool loaded = m_data.LoadSurvey();
    m_walk.TakeLoadedScans();
    return loaded;
}

bool SurveySession::NewCollection(const std::string& path) {
    LeaveCollection();
    m_data.SetPath(path);
    return m_data.NewCollection();
}

void SurveySession::CloseCollection() {
    // A recording under way goes on, its readings refused, until a file is
    // chosen again or it is stopped: the handheld's way.
    LeaveCollection();
    m_data.SetPath(std::string());
}

void SurveySession::LeaveCollection() {
    // Scans waiting for their position belong in the file being left.
    m_fixWait->Flush();
    m_walk.Leave();
    m_undo.Clear();
}

bool SurveySession::HasCollection() const {
    return m_data.HasPath();
}

bool SurveySession::StartRecording() {
    if (!m_data.HasPath())
        return false;
    m_sound.PlayResourceSound("WHOOSH");
    m_recording = true;
    // Starting running ticks restarts their period: there is only one.
    if (m_ticker != nullptr)
        m_ticker->Start(kCollectionPeriodMs);
    // Without a source the request would go nowhere; a tick takes the first
    // reading once the source is back.
    if (SourceUp())
        Collect();
    return true;
}

void SurveySession::StopRecording() {
    m_sound.PlayResourceSound("WHOOSH");
    // As the handheld always did: a recording whose file was given up
    // meanwhile goes on (its readings refused) until a file is chosen.
    if (!m_data.HasPath())
        return;
    m_recording = false;
    if (m_ticker != nullptr)
        m_ticker->Stop();
}

void SurveySession::Tick() {
    if (CanTakeReading())
        Collect();
}

void SurveySession::Collect() {
    if (m_placing == Placing::StopAndGo)
        return;  // a reading is taken where the surveyor clicks
    const PlanPoint at = TakeReading();
    std::optional<PlanPoint> shown = at;
    if (m_placing == Placing::Walk) {
        // The walk's own position (its last click), not the position
        // source's fix, which indoors may lie anywhere.
        const NextPosition walk = NextReadingPosition();
        shown = walk.known ? std::optional<PlanPoint>(
                                 PlanPoint{static_cast<std::int32_t>(std::lround(walk.x)),
                                           static_cast<std::int32_t>(std::lround(walk.y))})
                           : std::nullopt;
    }
    m_listeners->AnnounceReading(shown);
}

int SurveySession::SubscribeReadings(ReadingListener listener) {
    return m_listeners->SubscribeReadings(std::move(listener));
}

void SurveySession::UnsubscribeReadings(int id) {
    m_listeners->UnsubscribeReadings(id);
}

bool SurveySession::CanTakeReading() const {
    const source::SourceStatus status = m_scan.Status();
    return status.state == source::SourceState::Ready && !m_scan.IsScanning();
}

bool SurveySession::SourceUp() const {
    const source::SourceState state = m_scan.Status().state;
    return state == source::SourceState::Ready || state == source::SourceState::Scanning;
}

SurveySession::PlanPoint SurveySession::CurrentPlanPosition() const {
    const source::Fix fix = m_position.Current();
    const std::shared_ptr<const PlanMap> map = m_projection.Snapshot();
    return PlanPoint{CSiteProjection::PlanXOn(*map, fix.latitude, fix.longitude),
                     CSiteProjection::PlanYOn(*map, fix.latitude, fix.longitude)};
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
    if (fix.valid && fix.heldAcrossJump)
        return "jump";  // held at the nearer of two fixes no receiver could join
    const source::FixHealth health = source::ClassifyFix(fix, atMs);
    return health == source::FixHealth::Ok ? std::string() : source::FixHealthName(health);
}

void SurveySession::OnScan(const source::ScanResult& result) {
    double stopX = 0;
    double stopY = 0;
    bool stop = false;
    {
        std::lock_guard lock(m_readingMutex);
        if (m_stopPending) {
            stop = true;
            stopX = m_stopX;
            stopY = m_stopY;
            m_stopPending = false;
        } else if (m_placing == Placing::Walk) {
            // Kept at once, placed when its segment's end click comes.
            m_walk.KeepLocked(result);
            return;
        }
    }
    if (stop) {
        m_plan.RecordPlaced(result, stopX, stopY, "stop");
        Announce(PointChange::Placed);
        return;
    }
    if (m_position.KeepsTrack()) {
        m_fixWait->Hand(result);
        return;
    }
    RecordTracked(result);
}

void SurveySession::RecordTracked(const source::ScanResult& result) {
    const source::Fix fix = m_position.FixFor(result.startedMs, result.endedMs);
    CSiteData::Placement placement;
    if (m_position.KeepsTrack()) {
        // The map as it stands now, read whole: a projection loaded on the
        // user-interface thread meanwhile replaces it, never changes it.
        const std::shared_ptr<const PlanMap> map = m_projection.Snapshot();
        placement.x = CSiteProjection::PlanXOn(*map, fix.latitude, fix.longitude);
        placement.y = CSiteProjection::PlanYOn(*map, fix.latitude, fix.longitude);
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
    placement.fixFlag = FixFlag(fix, m_position.KeepsTrack() ? source::PositionTrack::ScanMiddleMs(
                                                                   result.startedMs, result.endedMs)
                                                             : result.endedMs);
    placement.scanStartMs = result.startedMs;
    placement.scanEndMs = result.endedMs;
    m_data.RecordPoint(fix, result.readings, placement);
    Announce(PointChange::Added);
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
    if (m_plan.OffGlobe(x, y))
        return false;
    if (const std::optional<GeoPoint> at = m_projection.ToGeo(x, y)) {
        latitude = at->latitude;
        longitude = at->longitude;
    } else {
        const source::Fix fix = m_position.Current();
        latitude = fix.latitude;
        longitude = fix.longitude;
    }
    if (!m_data.RecordDynamicAp(x, y, source::UnitsFromDegrees(latitude),
                                source::UnitsFromDegrees(longitude)))
        return false;
    Announce(PointChange::Added);
    return true;
}

void SurveySession::SetPlacing(Placing placing) {
    {
        std::lock_guard lock(m_readingMutex);
        m_placing = placing;
        m_stopPending = false;
    }
    // Ended after the placing changed: a scan ending meanwhile on the
    // source's thread is no longer kept for a walk that is over.
    if (placing != Placing::Walk)
        m_walk.EndWalk();
}

bool SurveySession::StandAt(double x, double y) {
    if (!m_data.HasPath() || !CanTakeReading() || m_plan.OffGlobe(x, y))
        return false;  // a click while the scan runs changes nothing
    {
        std::lock_guard lock(m_readingMutex);
        m_stopPending = true;
        m_stopX = x;
        m_stopY = y;
    }
    PrepareReading(
        PlanPoint{CSiteProjection::ToPlanCoordinate(x), CSiteProjection::ToPlanCoordinate(y)});
    if (!m_scan.RequestScan()) {
        std::lock_guard lock(m_readingMutex);
        m_stopPending = false;
        return false;
    }
    m_sound.PlayResourceSound("PING");
    return true;
}

int SurveySession::WalkClick(double x, double y) {
    if (m_plan.OffGlobe(x, y))
        return 0;  // no position there: the click is not part of the walk
    std::optional<WalkPlacing::Placed> segment = m_walk.Click(m_clock.NowMs(), x, y);
    if (!segment)
        return 0;  // the walk starts here
    const int placed = static_cast<int>(segment->scans.size());
    m_undo.RememberWritten(std::move(*segment));
    if (placed > 0)
        Announce(PointChange::Placed);
    return placed;
}

std::size_t SurveySession::ProvisionalCount() const {
    return m_walk.ProvisionalCount();
}

std::vector<std::pair<double, double>> SurveySession::WalkClicks() const {
    return m_walk.Clicks();
}

void SurveySession::EndWalk() {
    m_walk.EndWalk();
}

std::size_t SurveySession::UnplacedScans() const {
    return m_walk.UnplacedScans();
}

std::size_t SurveySession::WaitingScans() const {
    return m_walk.WaitingScans();
}

int SurveySession::PlaceUnplacedScans(double x1, double y1, double x2, double y2) {
    if (m_plan.OffGlobe(x1, y1) || m_plan.OffGlobe(x2, y2))
        return 0;
    WalkPlacing::Placed step = m_walk.PlaceUnplaced(x1, y1, x2, y2);
    const std::size_t before = step.pointsBefore;
    m_undo.RememberWritten(std::move(step));
    const int placed = static_cast<int>(m_data.PointCount() - before);
    if (placed > 0)
        Announce(PointChange::Placed);
    return placed;
}

bool SurveySession::DeletePoint(std::int64_t offset) {
    if (!m_undo.DeletePoint(offset))
        return false;
    Announce(PointChange::Deleted);
    return true;
}

bool SurveySession::Undo() {
    if (!m_undo.Undo())
        return false;
    Announce(PointChange::Undone);
    return true;
}

int SurveySession::SubscribePoints(PointListener listener) {
    return m_listeners->SubscribePoints(std::move(listener));
}

void SurveySession::UnsubscribePoints(int id) {
    m_listeners->UnsubscribePoints(id);
}

std::uint64_t SurveySession::PointsRevision() const {
    return m_listeners->PointsRevision();
}

void SurveySession::Announce(PointChange change) {
    m_listeners->Announce(change);
}

SurveySession::NextPosition SurveySession::NextReadingPosition() const {
    NextPosition next;
    if (m_placing == Placing::Walk) {
        if (const std::optional<std::pair<double, double>> click = m_walk.LastClick()) {
            next.known = true;
            next.x = click->first;
            next.y = click->second;
        }
        return next;
    }
    if (m_placing == Placing::StopAndGo)
        return next;  // wherever the surveyor clicks
    const source::Fix fix = m_position.Current();
    if (fix.receivedMs < 0 || !fix.valid)
        return next;
    const PlanPoint at = CurrentPlanPosition();
    next.known = true;
    next.x = at.x;
    next.y = at.y;
    if (fix.ephMetres) {
        // Metres per plan pixel near the fix, from the inverse map.
        const std::optional<GeoPoint> a = m_projection.ToGeo(next.x, next.y);
        const std::optional<GeoPoint> b = m_projection.ToGeo(next.x + 1, next.y);
        if (a && b) {
            constexpr double kMetresPerDegree = 111'320.0;  // along a meridian, near enough
            const double dNorth = (b->latitude - a->latitude) * kMetresPerDegree;
            const double dEast = (b->longitude - a->longitude) * kMetresPerDegree *
                                 std::cos(a->latitude * 3.14159265358979323846 / 180.0);
            const double metresPerPixel = std::hypot(dNorth, dEast);
            if (metresPerPixel > 0)
                next.errorRadius = *fix.ephMetres / metresPerPixel;
        }
    }
    return next;
}

}  // namespace ketrion
