#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "source/ScanSource.h"

namespace ketrion {

class CSiteData;

// A continuous walk: the surveyor clicks at the start, each turn and the end
// of a steady walk, and every scan that ended since the click before is
// placed on the segment a click ends, by the time of its middle. Each scan is
// kept in the collection file's side store from the moment it ends until it
// is placed, so the scans of a walk cut short (a stop, quit or crash) are
// offered again when the file is opened, to be placed along a line. Undo
// gives a segment's scans back to wait again.
//
// Threads: KeepLocked runs on the scan source's thread, everything else on
// the user-interface thread. The walk (its clicks, its waiting scans and
// their numbering) is guarded by the session's reading mutex, given here:
// the scan source's thread decides under it whether a scan belongs to the
// walk or to the reading the session asked for. The scans an earlier walk
// left unplaced belong to the user-interface thread.
class WalkPlacing {
public:
    // A scan of the walk waiting for its segment.
    struct WalkScan {
        std::int64_t seq = 0;
        source::ScanResult result;
    };
    // What one click or one placing of unplaced scans wrote: the points
    // after the collection's first `pointsBefore`, placed from `scans`, and
    // for a walk's segment its walk and the number of clicks up to its end
    // click.
    struct Placed {
        std::size_t pointsBefore = 0;
        std::vector<WalkScan> scans;
        std::uint64_t walk = 0;  // 0: no walk's segment
        std::size_t clicks = 0;
    };
    // Writes a survey point for `result` at plan (x, y), placed by the walk.
    using Write = std::function<void(const source::ScanResult& result, double x, double y)>;

    // `readingMutex` guards the walk (see above); `scan` names the source in
    // the scans kept.
    WalkPlacing(CSiteData& data, const source::ScanSource& scan, std::mutex& readingMutex,
                Write write);
    WalkPlacing(const WalkPlacing&) = delete;
    WalkPlacing& operator=(const WalkPlacing&) = delete;

    // The collection file just loaded: the scans a walk cut short left in
    // its side store become unplaced scans.
    void TakeLoadedScans();
    // Source thread, the reading mutex held: a scan of the walk, kept at
    // once, placed when its segment's end click comes.
    void KeepLocked(const source::ScanResult& result);
    // The surveyor is at plan (x, y) at `nowMs` (session clock). The first
    // click starts the walk (nothing returned); each later one ends a
    // segment, and every scan that ended since the click before is placed
    // on it by the time of its middle.
    std::optional<Placed> Click(std::int64_t nowMs, double x, double y);
    // Scans waiting for their segment's end click, and the walk's clicks so
    // far; the last click, where the coming scans will be drawn.
    std::size_t ProvisionalCount() const;
    std::vector<std::pair<double, double>> Clicks() const;
    std::optional<std::pair<double, double>> LastClick() const;
    // Ends the walk: clicks are forgotten; scans not yet placed stay in the
    // side store and are offered again when the file is opened.
    void EndWalk();
    // Scans of an earlier walk left unplaced, and placing them along a line
    // from (x1, y1) to (x2, y2) in the order they were taken.
    std::size_t UnplacedScans() const;
    Placed PlaceUnplaced(double x1, double y1, double x2, double y2);
    // Every scan the side store keeps waiting for its place, the walk's and
    // an earlier walk's.
    std::size_t WaitingScans() const;
    // True when `walk` is the current walk and `clicks` its clicks so far:
    // a segment so placed is the walk's last.
    bool IsLastSegment(std::uint64_t walk, std::size_t clicks) const;
    // Undone: the scans placed wait again, in the side store too.
    void GiveBack(const Placed& placed);
    // The collection file is left: the walk ends and its scans, and an
    // earlier walk's, stay in that file's side store.
    void Leave();

private:
    struct WalkPoint {
        std::int64_t timeMs = 0;
        double x = 0;
        double y = 0;
    };

    std::string Encode(const source::ScanResult& result) const;

    CSiteData& m_data;
    const source::ScanSource& m_scan;
    std::mutex& m_readingMutex;
    const Write m_write;

    // The walk (guarded by m_readingMutex): its clicks and waiting scans.
    std::vector<WalkPoint> m_walk;
    std::vector<WalkScan> m_walkScans;
    std::int64_t m_nextSeq = 1;
    std::uint64_t m_walkNumber = 0;  // counts the walks started
    // Scans an earlier walk left unplaced (user-interface thread).
    std::vector<std::pair<std::int64_t, std::string>> m_unplaced;
};

}  // namespace ketrion
