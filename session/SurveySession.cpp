#include "session/SurveySession.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>

#include "platform/Clock.h"
#include "platform/Sound.h"
#include "platform/Ticker.h"
#include "source/FixHealth.h"
#include "source/PositionTrack.h"
#include "survey/PendingScan.h"
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
      m_ticker(ticker) {
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
    // A walk cut short left scans to place; one that cannot be read is set
    // aside in the side store, with a message, rather than placed.
    std::int64_t lastSeq = 0;
    for (auto& [seq, body] : m_data.PendingScansAtLoad()) {
        lastSeq = std::max(lastSeq, seq);
        source::ScanResult result;
        std::string why;
        if (DecodePendingScan(body, result, &why))
            m_unplaced.emplace_back(seq, std::move(body));
        else
            m_data.SetAsidePendingScan(seq, why);
    }
    // Scans kept from now on are numbered after those: the store keeps one
    // scan per number, and a new one must never take a kept one's place.
    std::lock_guard lock(m_readingMutex);
    m_nextSeq = std::max(m_nextSeq, lastSeq + 1);
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
    EndWalk();
    {
        std::lock_guard lock(m_readingMutex);
        m_unplaced.clear();
    }
    m_undo.clear();
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
    for (const auto& [id, listener] : std::vector(m_readingListeners))
        listener(shown);
}

int SurveySession::SubscribeReadings(ReadingListener listener) {
    int id = 0;
    {
        std::lock_guard lock(m_listenerMutex);  // ids are shared with point listeners
        id = m_nextListener++;
    }
    m_readingListeners.emplace_back(id, std::move(listener));
    return id;
}

void SurveySession::UnsubscribeReadings(int id) {
    std::erase_if(m_readingListeners, [id](const auto& entry) { return entry.first == id; });
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
            const std::int64_t seq = m_nextSeq++;
            m_walkScans.push_back(WalkScan{seq, result});
            m_data.KeepPendingScan(seq, EncodeScan(result));
            return;
        }
    }
    if (stop) {
        RecordPlaced(result, stopX, stopY, "stop");
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

bool SurveySession::OffGlobe(double x, double y) const {
    if (!std::isfinite(x) || !std::isfinite(y))
        return true;
    if (const std::optional<GeoPoint> at = m_projection.ToGeo(x, y))
        return !(std::abs(at->latitude) <= 90.0 && std::abs(at->longitude) <= 180.0);
    // No position: without a projection the point is stored at 0, 0 and
    // drawn where placed; with one, (x, y) is too far for any number.
    return m_projection.ToGeo(0, 0).has_value();
}

source::Fix SurveySession::PlacedFix(double x, double y, std::int64_t atMs) const {
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

void SurveySession::RecordPlaced(const source::ScanResult& result, double x, double y,
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
    if (OffGlobe(x, y))
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
    if (placing != Placing::Walk)
        EndWalk();
    std::lock_guard lock(m_readingMutex);
    m_placing = placing;
    m_stopPending = false;
}

bool SurveySession::StandAt(double x, double y) {
    if (!m_data.HasPath() || !CanTakeReading() || OffGlobe(x, y))
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
    if (OffGlobe(x, y))
        return 0;  // no position there: the click is not part of the walk
    const std::int64_t now = m_clock.NowMs();
    std::vector<WalkScan> ready;
    WalkPoint from;
    UndoStep segment;
    {
        std::lock_guard lock(m_readingMutex);
        m_walk.push_back(WalkPoint{now, x, y});
        if (m_walk.size() == 1) {
            ++m_walkNumber;
            return 0;  // the walk starts here
        }
        from = m_walk[m_walk.size() - 2];
        segment.walk = m_walkNumber;
        segment.clicks = m_walk.size();
        // Every scan that ended by this click belongs to the segment it ends.
        auto keep = m_walkScans.begin();
        for (auto scan = m_walkScans.begin(); scan != m_walkScans.end(); ++scan) {
            if (scan->result.endedMs <= now)
                ready.push_back(std::move(*scan));
            else
                *keep++ = std::move(*scan);
        }
        m_walkScans.erase(keep, m_walkScans.end());
    }
    const std::size_t before = m_data.PointCount();
    for (const WalkScan& scan : ready) {
        // The middle of the scan, as a share of the segment's time.
        const double middle = static_cast<double>(
            source::PositionTrack::ScanMiddleMs(scan.result.startedMs, scan.result.endedMs));
        const double span = static_cast<double>(now - from.timeMs);
        double share = span > 0 ? (middle - static_cast<double>(from.timeMs)) / span : 1.0;
        share = std::clamp(share, 0.0, 1.0);
        RecordPlaced(scan.result, from.x + share * (x - from.x), from.y + share * (y - from.y),
                     "walk");
        m_data.DropPendingScan(scan.seq);
    }
    const int placed = static_cast<int>(ready.size());
    segment.scans = std::move(ready);
    RememberWritten(before, std::move(segment));
    if (placed > 0)
        Announce(PointChange::Placed);
    return placed;
}

std::size_t SurveySession::ProvisionalCount() const {
    std::lock_guard lock(m_readingMutex);
    return m_walkScans.size();
}

std::vector<std::pair<double, double>> SurveySession::WalkClicks() const {
    std::lock_guard lock(m_readingMutex);
    std::vector<std::pair<double, double>> clicks;
    for (const WalkPoint& click : m_walk)
        clicks.emplace_back(click.x, click.y);
    return clicks;
}

void SurveySession::EndWalk() {
    std::lock_guard lock(m_readingMutex);
    m_walk.clear();
    // Scans still waiting stay in the side store, offered again on opening;
    // for this run they are offered at once.
    for (WalkScan& scan : m_walkScans)
        m_unplaced.emplace_back(scan.seq, EncodeScan(scan.result));
    m_walkScans.clear();
}

std::size_t SurveySession::UnplacedScans() const {
    return m_unplaced.size();
}

std::size_t SurveySession::WaitingScans() const {
    std::lock_guard lock(m_readingMutex);
    return m_walkScans.size() + m_unplaced.size();
}

int SurveySession::PlaceUnplacedScans(double x1, double y1, double x2, double y2) {
    if (OffGlobe(x1, y1) || OffGlobe(x2, y2))
        return 0;
    const std::size_t count = m_unplaced.size();
    const std::size_t before = m_data.PointCount();
    UndoStep step;
    for (std::size_t i = 0; i < count; ++i) {
        WalkScan scan{m_unplaced[i].first, {}};
        if (!DecodePendingScan(m_unplaced[i].second, scan.result, nullptr))
            continue;  // checked on opening
        const double share =
            count > 1 ? static_cast<double>(i) / static_cast<double>(count - 1) : 0.0;
        RecordPlaced(scan.result, x1 + share * (x2 - x1), y1 + share * (y2 - y1), "walk");
        m_data.DropPendingScan(scan.seq);
        step.scans.push_back(std::move(scan));
    }
    m_unplaced.clear();
    RememberWritten(before, std::move(step));
    const int placed = static_cast<int>(m_data.PointCount() - before);
    if (placed > 0)
        Announce(PointChange::Placed);
    return placed;
}

void SurveySession::RememberWritten(std::size_t pointsBefore, UndoStep step) {
    m_data.Flush();
    std::size_t index = 0;
    m_data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (index++ >= pointsBefore)
            step.offsets.push_back(point.offset);
        if (point.kind == CSiteData::kKindSurvey)
            step.newest = std::max(step.newest, point.offset);
    });
    // A walk's segment is a step even when its click placed nothing: undoing
    // it takes the click back.
    if (!step.offsets.empty() || step.walk != 0)
        m_undo.push_back(std::move(step));
}

bool SurveySession::DeletePoint(std::int64_t offset) {
    if (!m_data.MarkDeleted(offset, true))
        return false;
    UndoStep step;
    step.offsets.push_back(offset);
    step.deletion = true;
    m_undo.push_back(std::move(step));
    Announce(PointChange::Deleted);
    return true;
}

bool SurveySession::Undo() {
    m_data.Flush();
    // The last point recorded that is still shown.
    std::int64_t lastOffset = -1;
    m_data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (!point.deleted && point.kind == CSiteData::kKindSurvey)
            lastOffset = std::max(lastOffset, point.offset);
    });
    // The segment of a walk since ended whose click placed nothing: nothing
    // of it is left to take back.
    while (!m_undo.empty() && m_undo.back().offsets.empty() && m_undo.back().scans.empty()) {
        std::lock_guard lock(m_readingMutex);
        const UndoStep& top = m_undo.back();
        if (top.walk == m_walkNumber && top.clicks == m_walk.size())
            break;
        m_undo.pop_back();
    }
    if (!m_undo.empty()) {
        const UndoStep& top = m_undo.back();
        if (top.deletion || top.newest >= lastOffset) {
            UndoStep step = std::move(m_undo.back());
            m_undo.pop_back();
            bool all = true;
            for (const std::int64_t offset : step.offsets)
                all = m_data.MarkDeleted(offset, !step.deletion) && all;
            if (!all) {
                m_undo.push_back(std::move(step));  // not kept (said): the step can be tried again
                return false;
            }
            GiveBackScans(step);
            Announce(PointChange::Undone);
            return true;
        }
    }
    if (lastOffset < 0 || !m_data.MarkDeleted(lastOffset, true))
        return false;
    Announce(PointChange::Undone);
    return true;
}

void SurveySession::GiveBackScans(const UndoStep& step) {
    bool walking = false;
    {
        std::lock_guard lock(m_readingMutex);
        // The walk's last segment: the walk goes on from the click before.
        walking = step.walk != 0 && step.walk == m_walkNumber && step.clicks == m_walk.size();
        if (walking) {
            m_walk.pop_back();
            m_walkScans.insert(m_walkScans.begin(), step.scans.begin(), step.scans.end());
            std::stable_sort(m_walkScans.begin(), m_walkScans.end(),
                             [](const WalkScan& a, const WalkScan& b) { return a.seq < b.seq; });
        } else {
            for (const WalkScan& scan : step.scans)
                m_unplaced.emplace_back(scan.seq, EncodeScan(scan.result));
            std::stable_sort(m_unplaced.begin(), m_unplaced.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
    }
    // Placing them dropped them from the store: kept there again.
    for (const WalkScan& scan : step.scans)
        m_data.KeepPendingScan(scan.seq, EncodeScan(scan.result));
}

int SurveySession::SubscribePoints(PointListener listener) {
    std::lock_guard lock(m_listenerMutex);
    const int id = m_nextListener++;
    m_listeners.emplace_back(id, std::move(listener));
    return id;
}

void SurveySession::UnsubscribePoints(int id) {
    std::lock_guard lock(m_listenerMutex);
    std::erase_if(m_listeners, [id](const auto& entry) { return entry.first == id; });
}

void SurveySession::Announce(PointChange change) {
    ++m_pointsRevision;
    std::lock_guard lock(m_listenerMutex);
    for (const auto& [id, listener] : m_listeners)
        listener(change);
}

SurveySession::NextPosition SurveySession::NextReadingPosition() const {
    NextPosition next;
    if (m_placing == Placing::Walk) {
        std::lock_guard lock(m_readingMutex);
        if (!m_walk.empty()) {
            next.known = true;
            next.x = m_walk.back().x;
            next.y = m_walk.back().y;
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

std::string SurveySession::EncodeScan(const source::ScanResult& result) const {
    return EncodePendingScan(result, m_scan.Kind());
}

}  // namespace ketrion
