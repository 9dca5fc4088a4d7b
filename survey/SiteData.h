#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/Fix.h"
#include "model/Reading.h"
#include "survey/CollectionFailures.h"
#include "survey/CollectionFile.h"
#include "survey/CollectionWriter.h"
#include "survey/PointList.h"
#include "survey/SurveyLoader.h"

namespace ketrion {

class Clock;
class CSiteProjection;
class Prompt;
class Sound;

// The survey being collected: the points drawn on the plan and the
// collection file ("ktd") that stores every point with the access points heard
// at it. One instance for the whole program. It owns the parts that do the
// work and keeps its callers' interface:
//  - PointList: the points and the selection, under their own lock.
//  - CollectionWriter: the chosen file, the writer thread and its queue; it
//    holds the file (HeldFile: open, locked, its tail repaired) and writes
//    each point's side rows after it (SideWriter).
//  - SurveyLoader: reading a file's points and its side store's marks.
//  - CollectionFailures: the failures shown about the file, counted.
//
// Threads: RecordPoint runs on the scan source's thread (the board's link
// thread, the adapter's thread); everything else on the user-interface thread. A third thread, the
// writer, owned by this object, does every write of a point and its fdatasync.
//  - The collection file stays open and locked (flock and an open-file-
//    description record lock over the whole file, both exclusive and taken
//    without waiting) for as long as it is this program's collection file:
//    from the first operation on a path until the path changes or the object
//    goes. A second program gets "in use by another program" and writes
//    nothing; it may still load the points to look at them.
//  - RecordPoint composes the point in memory, appends it to the point list
//    at once (the view draws it) and hands the bytes to the writer; it never
//    waits on the disk. A point whose write fails is taken out of the list
//    again, with every point queued after it, and the failure goes to the
//    Prompt.
//  - Operations of the user-interface thread that read the file wait for the
//    writes queued before them; file operations are serialised by one mutex.
//  - The point list's own mutex guards the points and the selection (never
//    held across file I/O); each survey guards its own points (no lock is
//    shared between surveys). Lock order: file mutex, queue mutex, points
//    mutex.
//  - After a point's durable write the writer puts what the collection file
//    cannot hold (placement, source, fix quality, reading details) into the
//    side store beside it, in one transaction. A side store that cannot be
//    written is reported once; the collection file's point stands.
// Files are opened without waiting on fifos or devices and anything but a
// regular file is refused. Failures the user must see go to the Prompt (never
// blocking the caller) and are counted (FileFailures) for unattended runs.
class CSiteData {
public:
    // One survey point or dynamic access point (see PointList::Point).
    using _tap = PointList::Point;

    // A stable copy of the selected point and its reading lines, for the
    // Location Information dialog: taken once, not changed by later appends.
    struct PointDetails {
        bool valid = false;              // false when no point has been selected
        _tap point;                      // the point as FindNearestPoint left it
        std::vector<std::string> lines;  // FormatReading(1 .. readings) for a survey point
    };

    static constexpr int kKindSurvey = PointList::kKindSurvey;
    static constexpr int kKindDynamicAp = PointList::kKindDynamicAp;
    // Floor of a point's signal (dBm).
    static constexpr std::int16_t kWeakestSignal = PointList::kWeakestSignal;
    // Plan units for FindNearestPoint.
    static constexpr int kFindRange = PointList::kFindRange;
    // Most points a file may hold to be loaded (one bound for every reader).
    static constexpr std::size_t kMaxLoadedPoints = collection::kMaxLoadedPoints;

    // How and where a survey point was placed: its plan position on the view
    // and what the side store keeps of it.
    struct Placement {
        std::int32_t x = 0;  // plan x and y of the drawn point
        std::int32_t y = 0;
        std::optional<double> planX, planY;  // the exact plan position, when known
        std::string scanSource;              // "board", "wifi", "wifi-replay"
        std::string method;                  // how the position was obtained
        std::string fixFlag;                 // "", "no-fix", "stale" or "jump"
        std::int64_t scanStartMs = 0;        // the scan's times on the session clock
        std::int64_t scanEndMs = 0;
    };

    CSiteData(Prompt& prompt, Sound& sound, Clock& clock);
    // Same, with the system clock for the creation time of new files.
    CSiteData(Prompt& prompt, Sound& sound);
    virtual ~CSiteData();
    CSiteData(const CSiteData&) = delete;
    CSiteData& operator=(const CSiteData&) = delete;

    // The projection LoadSurvey uses to place stored positions on the plan; with
    // none (the default) every loaded point lands on plan (0, 0).
    void SetProjection(const CSiteProjection* projection) { m_projection = projection; }

    // The collection file's full path; empty when none is chosen.
    // Set it before NewCollection or LoadSurvey.
    void SetPath(std::string path);
    std::string Path() const;
    bool HasPath() const;

    // Creates (truncating) the collection file at the path: a 33-byte header and
    // record-size block. m_points is not changed. Returns false after showing a
    // message when the file cannot be created or written, is not a regular
    // file, is a symbolic link (never followed: its target is not cut), or is
    // held by another program (it is then left untouched).
    bool NewCollection();
    // Replaces m_points with the points of the file at the path, playing "PING"
    // for each survey point. A file cut short loads what is complete. A file
    // whose records stop making sense part-way (damage before its end) loads
    // the points before the damage, says where it is, and is only read from
    // then on: no point is added to it. Returns false after a message when the
    // file cannot be opened or its header is damaged.
    bool LoadSurvey();
    // Composes one survey point (the location record from `fix` and one reading
    // record per reading, in order), appends it to m_points at the placement's
    // plan position and queues it for the writer, which puts it at the end of
    // the file and then its side rows into the side store. Returns at once,
    // true when the point was queued; false while no file is chosen.
    bool RecordPoint(const source::Fix& fix, const std::vector<source::Reading>& readings,
                     const Placement& placement);
    // Writes a dynamic access point drawn at plan (x, y) and stored at the
    // given position (1/3,600,000 degree) and appends it to m_points; waits
    // for its write (and the ones before it). Returns true when it is in the
    // file.
    bool RecordDynamicAp(int x, int y, std::int32_t latitudeUnits, std::int32_t longitudeUnits);
    // Marks the point at `offset` deleted (or not) in the side store and in
    // m_points; the collection file is never rewritten. Waits for the mark to
    // be written. False when no such point is loaded or recorded.
    bool MarkDeleted(std::int64_t offset, bool deleted);
    // A continuous walk's scan not yet placed, kept in the side store at
    // once; dropped again once its point is written.
    void KeepPendingScan(std::int64_t seq, std::string body);
    void DropPendingScan(std::int64_t seq);
    // A kept scan that cannot be read: moved aside in the side store, and the
    // surveyor told why.
    void SetAsidePendingScan(std::int64_t seq, const std::string& why);
    // The walk's scans the side store held when the file was last loaded.
    std::vector<std::pair<std::int64_t, std::string>> PendingScansAtLoad() const;
    // Waits until every point queued so far is written (or dropped by a write
    // failure). Returns false when a write failed since the last Flush.
    bool Flush();
    // How the writer makes a write durable: fdatasync by default. Tests put a
    // slow or failing function here (returning -1 with errno set on failure).
    void SetFileSync(std::function<int(int fd)> sync);
    // How long a side-store write waits for another program's lock before
    // it is kept back for later (tests: 0).
    void SetSideBusyTimeout(int milliseconds);
    // Why no point can be added to the chosen collection file (it was found
    // damaged), or empty when nothing is known against it.
    std::string AppendRefusal();
    // Failures shown about the collection file so far, and the last one's text:
    // an unattended run ends on them instead of waiting for points.
    std::uint64_t FileFailures() const;
    std::string LastFileFailure() const;
    // The kind of the nearest point within 40 plan units of (x, y) (the earlier
    // one on a tie), which becomes the selected point; -1 when there is none.
    int FindNearestPoint(int x, int y);
    // The text line of reading i (from 1) of the selected point, read from the
    // file: "%d  %02X-...-%02X %d      %s"; empty when it cannot be read.
    std::string FormatReading(int i);
    // A copy of the selected point with all its reading lines (one file open).
    PointDetails SelectedPoint();

    // Calls f(const _tap&) for every point in list order while holding the
    // point list's lock. f must not call back into CSiteData.
    template <class F>
    void ForEachPoint(F&& f) const {
        m_points.ForEach(std::forward<F>(f));
    }
    // Number of points in m_points (the view's "DATA PTS").
    std::size_t PointCount() const;
    // Copy of the selected point (under the lock).
    _tap Current() const;

    // Set when the access-point list was empty at the last recorded scan; the
    // site view shows its alert band while it is set.
    std::atomic<bool> m_bNoApHeard{false};

private:
    // The chosen path into `path`; false after saying none is chosen.
    bool TakeChosenPath(std::string& path);

    Prompt& m_prompt;
    Clock& m_clock;
    const CSiteProjection* m_projection = nullptr;

    CollectionFailures m_failures;
    PointList m_points;
    SurveyLoader m_loader;
    // Last member: its thread writes into the parts above, and is joined
    // (after writing every queued point) before they go.
    CollectionWriter m_writer;
};

}  // namespace ketrion
