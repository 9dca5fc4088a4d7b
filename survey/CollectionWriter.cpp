#include "survey/CollectionWriter.h"

#include <cstring>
#include <tuple>
#include <utility>

namespace ketrion {

using collection::kFirstRecord;
using collection::kLocationSize;

CollectionWriter::CollectionWriter(PointList& points, CollectionFailures& failures, Prompt& prompt)
    : m_points(points),
      m_file(failures,
             [this] {
                 // Nothing counts on the end of a file let go.
                 std::lock_guard queue(m_queueMutex);
                 m_nextOffset = -1;
             }),
      m_side(m_file, prompt) {
    m_writer = std::jthread([this] { Run(); });
}

CollectionWriter::~CollectionWriter() {
    // An orderly end writes every queued point before the file is let go.
    {
        std::lock_guard queue(m_queueMutex);
        m_stopping = true;
    }
    m_queueChanged.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    std::lock_guard lock(m_fileMutex);
    m_file.Release();
}

void CollectionWriter::SetPath(std::string path) {
    {
        std::lock_guard lock(m_pathMutex);
        m_path = std::move(path);
    }
    // A file that is no longer the collection file is let go at once, after
    // the points queued for it are written.
    bool other = false;
    {
        const std::string chosen = Path();
        std::lock_guard lock(m_fileMutex);
        other = m_file.IsOpen() && m_file.Path() != chosen;
    }
    if (other) {
        Flush();
        std::lock_guard lock(m_fileMutex);
        if (m_file.Path() != Path())
            m_file.Release();
    }
}

std::string CollectionWriter::Path() const {
    std::lock_guard lock(m_pathMutex);
    return m_path;
}

bool CollectionWriter::HasPath() const {
    std::lock_guard lock(m_pathMutex);
    return !m_path.empty();
}

void CollectionWriter::SetFileSync(std::function<int(int fd)> sync) {
    std::lock_guard lock(m_fileMutex);
    m_file.SetSync(std::move(sync));
}

void CollectionWriter::SetSideBusyTimeout(int milliseconds) {
    std::lock_guard file(m_fileMutex);
    m_side.SetBusyTimeout(milliseconds);
}

bool CollectionWriter::NewCollection(const std::string& path, Clock& clock) {
    Flush();
    std::lock_guard lock(m_fileMutex);
    if (!m_file.Create(path, clock))
        return false;
    std::lock_guard queue(m_queueMutex);
    m_nextOffset = kFirstRecord;
    return true;
}

std::uint64_t CollectionWriter::QueuePoint(Item item, const PointList::Point& point) {
    std::lock_guard queue(m_queueMutex);
    std::memcpy(m_locationRecord, item.bytes.data(), kLocationSize);
    return Enqueue(std::move(item), point);
}

std::uint64_t CollectionWriter::QueueFromLastLocation(
    Item item, const PointList::Point& point, const std::function<void(std::uint8_t*)>& edit) {
    std::lock_guard queue(m_queueMutex);
    std::vector<std::uint8_t> record(m_locationRecord, m_locationRecord + kLocationSize);
    edit(record.data());
    std::memcpy(m_locationRecord, record.data(), kLocationSize);
    item.bytes = std::move(record);
    return Enqueue(std::move(item), point);
}

std::uint64_t CollectionWriter::Enqueue(Item item, const PointList::Point& point) {
    item.ticket = m_nextTicket++;
    PointList::Point placed = point;
    if (m_nextOffset >= 0) {
        placed.offset = m_nextOffset;
        m_nextOffset += static_cast<std::int64_t>(item.bytes.size());
    }
    std::tie(item.index, item.generation) = m_points.Append(placed);
    m_queue.push_back(std::move(item));
    m_queueChanged.notify_all();
    return m_queue.back().ticket;
}

std::uint64_t CollectionWriter::QueueSideOp(SideWriter::Operation op, bool* result,
                                            bool catchUpOnly) {
    const std::string path = Path();
    if (path.empty())
        return 0;
    std::lock_guard queue(m_queueMutex);
    Item item;
    item.ticket = m_nextTicket++;
    item.generation = m_points.Generation();
    item.path = path;
    item.sideOp = std::move(op);
    item.result = result;
    item.catchUpOnly = catchUpOnly;
    const std::uint64_t ticket = item.ticket;
    m_queue.push_back(std::move(item));
    m_queueChanged.notify_all();
    return ticket;
}

void CollectionWriter::WaitFor(std::uint64_t ticket) {
    std::unique_lock queue(m_queueMutex);
    m_queueChanged.wait(queue, [&] { return m_completed >= ticket; });
}

bool CollectionWriter::Flush() {
    // Details the side store could not take are tried again.
    if (m_side.Behind() > 0) {
        QueueSideOp([](SideStore&, std::string*) { return true; }, nullptr, true);
    }
    std::unique_lock queue(m_queueMutex);
    const std::uint64_t last = m_nextTicket - 1;
    m_queueChanged.wait(queue, [&] { return m_completed >= last; });
    const bool ok = !m_failedSinceFlush;
    m_failedSinceFlush = false;
    return ok;
}

void CollectionWriter::AdoptLoaded(std::vector<PointList::Point> points,
                                   const std::uint8_t* lastLocation) {
    // The file mutex is held (WithFile), so the writer is not between a
    // queued item and its outcome.
    std::lock_guard queue(m_queueMutex);
    if (lastLocation != nullptr)
        std::memcpy(m_locationRecord, lastLocation, kLocationSize);
    m_nextOffset = m_file.Locked() && m_file.TailEnd() >= 0 ? m_file.TailEnd() : -1;
    // Only queued points follow the loaded ones: work for the side store
    // alone (a walk's scan kept meanwhile) has no place in the list.
    std::vector<Item*> pointItems;
    std::vector<std::size_t> queued;
    for (Item& item : m_queue) {
        if (item.sideOp)
            continue;
        pointItems.push_back(&item);
        queued.push_back(item.index);
    }
    const std::uint64_t generation = m_points.Replace(std::move(points), queued);
    for (std::size_t i = 0; i < pointItems.size(); ++i) {
        pointItems[i]->index = queued[i];
        pointItems[i]->generation = generation;
    }
}

bool CollectionWriter::Write(const Item& item, std::int64_t& offset) {
    if (item.sideOp) {
        if (!m_file.Hold(item.path, HeldFile::Access::Append))
            return false;
        return m_side.Run(item.sideOp, item.catchUpOnly);
    }
    if (!m_file.AppendPoint(item.path, item.bytes, offset))
        return false;
    if (item.side)
        m_side.Write(*item.side, item.sideReadings, offset);
    return true;
}

void CollectionWriter::Run() {
    std::unique_lock queue(m_queueMutex);
    for (;;) {
        m_queueChanged.wait(queue, [&] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty())
            return;  // stopping, and everything is written
        queue.unlock();
        std::lock_guard file(m_fileMutex);
        queue.lock();
        // Only this thread takes items off the queue; the front stays in place
        // (a deque keeps its elements where they are) while it is written.
        const Item& item = m_queue.front();
        queue.unlock();
        std::int64_t offset = -1;
        const bool ok = Write(item, offset);
        const std::int64_t next = m_file.Locked() ? m_file.Size() : -1;
        queue.lock();
        if (item.sideOp) {
            // Only the side store was touched: no point comes or goes, and a
            // failure has been reported.
            if (item.result)
                *item.result = ok;
            m_completed = item.ticket;
            m_queue.pop_front();
            m_queueChanged.notify_all();
            continue;
        }
        if (ok) {
            m_points.Written(item.generation, item.index, offset);
            if (item.result)
                *item.result = true;
            m_completed = item.ticket;
            m_queue.pop_front();
            if (m_queue.empty())
                m_nextOffset = next;
        } else {
            // The point is not in the file, nor can the ones queued after it
            // follow it there: none of them stays on the plan.
            m_points.Drop(item.generation, item.index);
            // A caller waiting for its point learns the outcome from it; the
            // others are told by the next Flush.
            for (const Item& dropped : m_queue) {
                if (dropped.result)
                    *dropped.result = false;
                else
                    m_failedSinceFlush = true;
            }
            m_completed = m_queue.back().ticket;
            m_queue.clear();
            m_nextOffset = next;
        }
        m_queueChanged.notify_all();
    }
}

}  // namespace ketrion
