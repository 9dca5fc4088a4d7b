#include "session/WalkPlacing.h"

#include <algorithm>
#include <string>

#include "source/PositionTrack.h"
#include "survey/PendingScan.h"
#include "survey/SiteData.h"

namespace ketrion {

WalkPlacing::WalkPlacing(CSiteData& data, const source::ScanSource& scan, std::mutex& readingMutex,
                         Write write)
    : m_data(data), m_scan(scan), m_readingMutex(readingMutex), m_write(std::move(write)) {}

void WalkPlacing::TakeLoadedScans() {
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
}

void WalkPlacing::KeepLocked(const source::ScanResult& result) {
    const std::int64_t seq = m_nextSeq++;
    m_walkScans.push_back(WalkScan{seq, result});
    m_data.KeepPendingScan(seq, Encode(result));
}

std::optional<WalkPlacing::Placed> WalkPlacing::Click(std::int64_t nowMs, double x, double y) {
    std::vector<WalkScan> ready;
    WalkPoint from;
    Placed segment;
    {
        std::lock_guard lock(m_readingMutex);
        m_walk.push_back(WalkPoint{nowMs, x, y});
        if (m_walk.size() == 1) {
            ++m_walkNumber;
            return std::nullopt;  // the walk starts here
        }
        from = m_walk[m_walk.size() - 2];
        segment.walk = m_walkNumber;
        segment.clicks = m_walk.size();
        // Every scan that ended by this click belongs to the segment it ends.
        auto keep = m_walkScans.begin();
        for (auto scan = m_walkScans.begin(); scan != m_walkScans.end(); ++scan) {
            if (scan->result.endedMs <= nowMs)
                ready.push_back(std::move(*scan));
            else
                *keep++ = std::move(*scan);
        }
        m_walkScans.erase(keep, m_walkScans.end());
    }
    segment.pointsBefore = m_data.PointCount();
    for (const WalkScan& scan : ready) {
        // The middle of the scan, as a share of the segment's time.
        const double middle = static_cast<double>(
            source::PositionTrack::ScanMiddleMs(scan.result.startedMs, scan.result.endedMs));
        const double span = static_cast<double>(nowMs - from.timeMs);
        double share = span > 0 ? (middle - static_cast<double>(from.timeMs)) / span : 1.0;
        share = std::clamp(share, 0.0, 1.0);
        m_write(scan.result, from.x + share * (x - from.x), from.y + share * (y - from.y));
        m_data.DropPendingScan(scan.seq);
    }
    segment.scans = std::move(ready);
    return segment;
}

std::size_t WalkPlacing::ProvisionalCount() const {
    std::lock_guard lock(m_readingMutex);
    return m_walkScans.size();
}

std::vector<std::pair<double, double>> WalkPlacing::Clicks() const {
    std::lock_guard lock(m_readingMutex);
    std::vector<std::pair<double, double>> clicks;
    for (const WalkPoint& click : m_walk)
        clicks.emplace_back(click.x, click.y);
    return clicks;
}

std::optional<std::pair<double, double>> WalkPlacing::LastClick() const {
    std::lock_guard lock(m_readingMutex);
    if (m_walk.empty())
        return std::nullopt;
    return std::pair(m_walk.back().x, m_walk.back().y);
}

void WalkPlacing::EndWalk() {
    std::lock_guard lock(m_readingMutex);
    m_walk.clear();
    // Scans still waiting stay in the side store, offered again on opening;
    // for this run they are offered at once.
    for (WalkScan& scan : m_walkScans)
        m_unplaced.emplace_back(scan.seq, Encode(scan.result));
    m_walkScans.clear();
}

std::size_t WalkPlacing::UnplacedScans() const {
    return m_unplaced.size();
}

std::size_t WalkPlacing::WaitingScans() const {
    std::lock_guard lock(m_readingMutex);
    return m_walkScans.size() + m_unplaced.size();
}

WalkPlacing::Placed WalkPlacing::PlaceUnplaced(double x1, double y1, double x2, double y2) {
    const std::size_t count = m_unplaced.size();
    Placed step;
    step.pointsBefore = m_data.PointCount();
    for (std::size_t i = 0; i < count; ++i) {
        WalkScan scan{m_unplaced[i].first, {}};
        if (!DecodePendingScan(m_unplaced[i].second, scan.result, nullptr))
            continue;  // checked on opening
        const double share =
            count > 1 ? static_cast<double>(i) / static_cast<double>(count - 1) : 0.0;
        m_write(scan.result, x1 + share * (x2 - x1), y1 + share * (y2 - y1));
        m_data.DropPendingScan(scan.seq);
        step.scans.push_back(std::move(scan));
    }
    m_unplaced.clear();
    return step;
}

bool WalkPlacing::IsLastSegment(std::uint64_t walk, std::size_t clicks) const {
    std::lock_guard lock(m_readingMutex);
    return walk == m_walkNumber && clicks == m_walk.size();
}

void WalkPlacing::GiveBack(const Placed& placed) {
    bool walking = false;
    {
        std::lock_guard lock(m_readingMutex);
        // The walk's last segment: the walk goes on from the click before.
        walking = placed.walk != 0 && placed.walk == m_walkNumber && placed.clicks == m_walk.size();
        if (walking) {
            m_walk.pop_back();
            m_walkScans.insert(m_walkScans.begin(), placed.scans.begin(), placed.scans.end());
            std::stable_sort(m_walkScans.begin(), m_walkScans.end(),
                             [](const WalkScan& a, const WalkScan& b) { return a.seq < b.seq; });
        } else {
            for (const WalkScan& scan : placed.scans)
                m_unplaced.emplace_back(scan.seq, Encode(scan.result));
            std::stable_sort(m_unplaced.begin(), m_unplaced.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
    }
    // Placing them dropped them from the store: kept there again.
    for (const WalkScan& scan : placed.scans)
        m_data.KeepPendingScan(scan.seq, Encode(scan.result));
}

void WalkPlacing::Leave() {
    EndWalk();
    std::lock_guard lock(m_readingMutex);
    m_unplaced.clear();
}

std::string WalkPlacing::Encode(const source::ScanResult& result) const {
    return EncodePendingScan(result, m_scan.Kind());
}

}  // namespace ketrion
