#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/Fix.h"
#include "model/Reading.h"
#include "survey/CollectionFile.h"
#include "survey/SideStore.h"

namespace ketrion {

class Clock;
class CSiteProjection;
class Prompt;
class Sound;

// The survey being collected: the points drawn on the plan (m_points) and the
// collection file ("ktd") that stores every point with the access points heard
// at it. One instance for the whole program.
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
//  - RecordPoint composes the point in memory, appends it to m_points at once
//    (the view draws it) and hands the bytes to the writer; it never waits on
//    the disk. A point whose write fails is taken out of m_points again, with
//    every point queued after it, and the failure goes to the Prompt.
//  - Operations of the user-interface thread that read the file wait for the
//    writes queued before them; file operations are serialised by one mutex.
//  - m_pointsMutex guards m_points and m_current (never held across file I/O);
//    each survey guards its own points (no lock is shared between surveys).
//    Lock order: file mutex, queue mutex, points mutex.
//  - After a point's durable write the writer puts what the collection file
//    cannot hold (placement, source, fix quality, reading details) into the
//    side store beside it, in one transaction. A side store that cannot be
//    written is reported once; the collection file's point stands.
// Files are opened without waiting on fifos or devices and anything but a
// regular file is refused. Failures the user must see go to the Prompt (never
// blocking the caller) and are counted (FileFailures) for unattended runs.
// True for a point drawn as a ring rather than a disc: taken without a valid
// fix (fix flag "no-fix" or "stale") by a source other than the board, or a
// walk's reading not yet placed.
bool ShownHollow(const std::string& fixFlag, const std::string& method, bool provisional);

class CSiteData {
public:
    // One survey point or dynamic access point.
    struct _tap {
        std::int32_t x = 0;  // plan x
        std::int32_t y = 0;  // plan y
        // Strongest average signal of the readings (dBm), never below -100;
        // -100 for a dynamic access point.
        std::int16_t signal = 0;
        // Reading records after the location record; 0 for a dynamic access point.
        std::uint16_t readings = 0;
        std::uint8_t kind = 0;    // 0 survey point, 1 dynamic access point
        std::int64_t offset = 0;  // file offset of the point's location record
        // From the side store: marked deleted (left out of the view and every
        // result), or drawn hollow (taken without a valid fix, or provisional).
        bool deleted = false;
        bool hollow = false;
    };

    // A stable copy of the selected point and its reading lines, for the
    // Location Information dialog: taken once, not changed by later appends.
    struct PointDetails {
        bool valid = false;              // false when no point has been selected
        _tap point;                      // the point as FindNearestPoint left it
        std::vector<std::string> lines;  // FormatReading(1 .. readings) for a survey point
    };

    static constexpr int kKindSurvey = 0;
    static constexpr int kKindDynamicAp = 1;
    static constexpr std::int16_t kWeakestSignal = -100;  // floor of a point's signal (dBm)
    static constexpr int kFindRange = 40;                 // plan units for FindNearestPoint
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

    // The collection file's full path (m_strPath); empty when none is chosen.
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
    // one on a tie), left in m_current; -1 when there is none.
    int FindNearestPoint(int x, int y);
    // The text line of reading i (from 1) of the selected point, read from the
    // file: "%d  %02X-...-%02X %d      %s"; empty when it cannot be read.
    std::string FormatReading(int i);
    // A copy of the selected point with all its reading lines (one file open).
    PointDetails SelectedPoint();

    // Calls f(const _tap&) for every point in list order while holding
    // m_pointsMutex. f must not call back into CSiteData.
    template <class F>
    void ForEachPoint(F&& f) const {
        std::lock_guard lock(m_pointsMutex);
        for (const _tap& point : m_points)
            f(point);
    }
    // Number of points in m_points (the view's "DATA PTS").
    std::size_t PointCount() const;
    // Copy of the selected point (under the lock).
    _tap Current() const;

    // Set when the access-point list was empty at the last recorded scan; the
    // site view shows its alert band while it is set.
    std::atomic<bool> m_bNoApHeard{false};

private:
    // How an operation needs the file.
    enum class Access {
        Read,    // read its points; another program may hold it
        Append,  // add points: needs the lock
        Create,  // create or truncate: needs the lock
    };
    // The collection file as this program holds it.
    struct Held {
        std::string path;
        int fd = -1;
        bool locked = false;    // the exclusive lock is ours
        bool writable = false;  // opened for writing
        dev_t device = 0;
        ino_t inode = 0;
        collection::Header header;
        std::int64_t size = 0;
        // End of the last complete point, once a check of the tail found it:
        // appends start there (a point torn by a crash is trimmed first).
        std::int64_t tailEnd = -1;
        // Where a walk of the points found records that cannot be what they
        // should (-1: none found): the file is only read, never written.
        std::int64_t damageAt = -1;
        std::size_t damagePoint = 0;  // the point (from 1) the walk was reading there
    };
    // One point waiting for the writer.
    struct Pending {
        std::uint64_t ticket = 0;
        std::string path;
        std::vector<std::uint8_t> bytes;
        std::size_t index = 0;         // its place in m_points
        std::uint64_t generation = 0;  // m_points' generation when queued
        bool* result = nullptr;        // set when a caller waits for this one
        // What goes to the side store once the point is written (offset filled then).
        std::optional<SideStore::Point> side;
        std::vector<SideStore::Reading> sideReadings;
        // Set for work on the side store alone (no bytes for the file).
        std::function<bool(SideStore&, std::string*)> sideOp;
        bool catchUpOnly = false;  // only the details kept back are written
    };

    bool TakeChosenPath(std::string& path);
    // Makes `path` the held file for `access`; false after a message.
    bool Hold(const std::string& path, Access access);
    void Release();
    bool SameFileAtPath(const std::string& path) const;
    bool ReadHeader();
    bool CheckTail();
    // The message for a held file found damaged (damageAt set).
    std::string DamageMessage() const;
    // Notes the damage at `offset` in the point numbered `point` and says so.
    void NoteDamage(std::int64_t offset, std::size_t point);
    // Takes the record lock beside the flock; false with errno when another
    // program holds a record lock on the file.
    static bool TakeRecordLock(int fd);
    // For a path whose last component is a symbolic link: says that no
    // collection file is created through it. False when it is no link.
    bool RefuseLink(const std::string& path);
    bool Append(const std::uint8_t* bytes, std::size_t length, std::int64_t offset);
    bool WritePending(const Pending& item, std::int64_t& offset);
    std::uint64_t Enqueue(Pending item, const _tap& point);
    // Writer thread, under the file mutex: the side rows of a written point
    // (kept in m_sideBehind until the store takes them); the held file's side
    // store (opened once per file, tried again after a failure, *failure
    // set); an outage said once; side-store work queued for the writer
    // (ticket 0 when no file is chosen; *result set once done).
    void WriteSide(const Pending& item, std::int64_t offset);
    SideStore* HeldSide(std::string* failure);
    void SideOutage(const std::string& message);
    bool CatchUpSide();
    bool RunSideOp(const Pending& item);
    std::uint64_t QueueSideOp(std::function<bool(SideStore&, std::string*)> op,
                              bool* result = nullptr, bool catchUpOnly = false);
    // Under the file mutex, while loading: the side store's marks on `points`.
    void ApplySide(const std::string& path, std::vector<_tap>& points);
    void WaitFor(std::uint64_t ticket);
    void WriterLoop();
    std::string ReadingLine(int fd, const collection::Header& header, std::int64_t size,
                            const _tap& point, int i);
    void ShowFailure(const std::string& path, const char* action, int error);
    void Report(const std::string& text);

    Prompt& m_prompt;
    Sound& m_sound;
    Clock& m_clock;
    const CSiteProjection* m_projection = nullptr;

    // Guards m_strPath only, so reading the path never waits for file I/O.
    mutable std::mutex m_pathMutex;
    std::string m_strPath;
    // Serialises file operations and guards the fields below it.
    std::mutex m_fileMutex;
    Held m_held;
    std::function<int(int)> m_sync;

    // The writer's queue; guards the fields below it.
    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<Pending> m_queue;
    std::uint64_t m_nextTicket = 1;
    std::uint64_t m_completed = 0;  // tickets up to this one are written or dropped
    bool m_failedSinceFlush = false;
    bool m_stopping = false;
    // Offset the next queued point will get, when the held file's end is known.
    std::int64_t m_nextOffset = -1;
    // The last location record built or read (a dynamic access point keeps its
    // other fields).
    std::uint8_t m_locationRecord[collection::kLocationSize] = {};
    std::uint64_t m_generation = 0;  // bumped when LoadSurvey replaces m_points

    mutable std::mutex m_failureMutex;
    std::uint64_t m_failures = 0;
    std::string m_lastFailure;

    // The side store of the held file (writer thread, under the file mutex):
    // opened on the first point written, for the file identified below.
    std::unique_ptr<SideStore> m_side;
    std::string m_sidePath;
    dev_t m_sideDevice = 0;
    ino_t m_sideInode = 0;
    // Rows of written points the store has not taken yet (a lock held by
    // another program, a full disk): written with the next point or Flush.
    std::vector<std::pair<SideStore::Point, std::vector<SideStore::Reading>>> m_sideBehind;
    std::atomic<std::size_t> m_sideBehindCount{0};
    bool m_sideOutage = false;  // said; not said again until the store recovers
    int m_sideWaitMs = SideStore::kBusyTimeoutMs;
    mutable std::mutex m_noticeMutex;  // guards the one below
    std::vector<std::pair<std::int64_t, std::string>> m_pendingAtLoad;

    mutable std::mutex m_pointsMutex;  // guards the three below
    _tap m_current;
    bool m_bCurrentValid = false;
    std::vector<_tap> m_points;

    // Last member: started once everything it uses exists, joined first.
    std::jthread m_writer;
};

}  // namespace ketrion
