#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "survey/CollectionFile.h"
#include "survey/HeldFile.h"
#include "survey/PointList.h"
#include "survey/SideStore.h"
#include "survey/SideWriter.h"

namespace ketrion {

class Clock;
class CollectionFailures;
class Prompt;

// The chosen collection file and the thread that writes it. Every write of a
// point and its fdatasync happens on the writer thread, owned by this
// object; the side rows of a written point follow it into the side store.
//  - A point is queued with its bytes composed in memory and appended to the
//    point list at once (the view draws it); queuing never waits on the
//    disk. A point whose write fails is taken out of the list again, with
//    every point queued after it, and the failure is shown.
//  - Operations that read the file wait for the writes queued before them
//    (Flush); file operations are serialised by one mutex (WithFile).
//  - The held file stays open and locked for as long as it is the chosen
//    one: from the first operation on a path until the path changes or the
//    object goes, which first writes every point queued.
//
// Threads: queuing from any thread; everything else from the user-interface
// thread. Lock order: file mutex, queue mutex, then the point list's own
// lock. The path has its own mutex, so reading it never waits for file I/O.
class CollectionWriter {
public:
    // One point, or work on the side store alone, waiting for the writer.
    struct Item {
        std::uint64_t ticket = 0;
        std::string path;
        std::vector<std::uint8_t> bytes;
        std::size_t index = 0;         // its place in the point list
        std::uint64_t generation = 0;  // the point list's generation when queued
        bool* result = nullptr;        // set when a caller waits for this one
        // What goes to the side store once the point is written (offset filled then).
        std::optional<SideStore::Point> side;
        std::vector<SideStore::Reading> sideReadings;
        // Set for work on the side store alone (no bytes for the file).
        SideWriter::Operation sideOp;
        bool catchUpOnly = false;  // only the details kept back are written
    };

    // Failures about the file go to `failures`; news of the side store to
    // `prompt`. `points` is the list the queued points join.
    CollectionWriter(PointList& points, CollectionFailures& failures, Prompt& prompt);
    // Writes every queued point, then lets the file go.
    ~CollectionWriter();
    CollectionWriter(const CollectionWriter&) = delete;
    CollectionWriter& operator=(const CollectionWriter&) = delete;

    // The chosen file's full path; empty when none is chosen. A file that is
    // no longer the chosen one is let go at once, after the points queued
    // for it are written.
    void SetPath(std::string path);
    std::string Path() const;
    bool HasPath() const;

    // Queues `item` and appends `point` to the list at the offset it will get
    // (when the held file's end is known). The item's location record
    // becomes the last one. Returns its ticket.
    std::uint64_t QueuePoint(Item item, const PointList::Point& point);
    // Same for a point made from the last location record queued or loaded:
    // `edit` changes a copy of it, which becomes the item's bytes; no other
    // point is queued in between.
    std::uint64_t QueueFromLastLocation(Item item, const PointList::Point& point,
                                        const std::function<void(std::uint8_t*)>& edit);
    // Queues work on the chosen file's side store (ticket 0 when no file is
    // chosen); *result is set once it is done.
    std::uint64_t QueueSideOp(SideWriter::Operation op, bool* result = nullptr,
                              bool catchUpOnly = false);
    void WaitFor(std::uint64_t ticket);
    // Waits until every point queued so far is written (or dropped by a
    // write failure), trying the side rows kept back again first. False when
    // a write failed since the last Flush.
    bool Flush();

    // Creates (truncating) the collection file at `path`, stamped with the
    // clock's time, after the queued writes; false after a message.
    bool NewCollection(const std::string& path, Clock& clock);
    // Calls f(HeldFile&) under the file mutex and returns what it returns.
    template <class F>
    decltype(auto) WithFile(F&& f) {
        std::lock_guard lock(m_fileMutex);
        return f(m_file);
    }
    // Inside WithFile, after a walk of the held file's points: they replace
    // the list, followed by the points still queued; `lastLocation` (when
    // given) is the last location record read; appends go to the end the
    // walk found.
    void AdoptLoaded(std::vector<PointList::Point> points, const std::uint8_t* lastLocation);

    // How a write is made durable (tests put a slow or failing one here).
    void SetFileSync(std::function<int(int fd)> sync);
    // How long a side-store write waits for another program's lock.
    void SetSideBusyTimeout(int milliseconds);

private:
    // Caller holds m_queueMutex.
    std::uint64_t Enqueue(Item item, const PointList::Point& point);
    // Writer thread, under the file mutex: the point at the held file's end
    // and its side rows, or the side-store work.
    bool Write(const Item& item, std::int64_t& offset);
    void Run();

    PointList& m_points;

    // Guards m_path only, so reading the path never waits for file I/O.
    mutable std::mutex m_pathMutex;
    std::string m_path;
    // Serialises file operations and guards the fields below it.
    std::mutex m_fileMutex;
    HeldFile m_file;
    SideWriter m_side;

    // The writer's queue; guards the fields below it.
    std::mutex m_queueMutex;
    std::condition_variable m_queueChanged;
    std::deque<Item> m_queue;
    std::uint64_t m_nextTicket = 1;
    std::uint64_t m_completed = 0;  // tickets up to this one are written or dropped
    bool m_failedSinceFlush = false;
    bool m_stopping = false;
    // Offset the next queued point will get, when the held file's end is known.
    std::int64_t m_nextOffset = -1;
    // The last location record built or read (a dynamic access point keeps its
    // other fields).
    std::uint8_t m_locationRecord[collection::kLocationSize] = {};

    // Last member: started once everything it uses exists, joined first.
    std::jthread m_writer;
};

}  // namespace ketrion
