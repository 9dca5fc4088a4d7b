#include "survey/SiteData.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "model/Text.h"
#include "platform/Clock.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/PointEncoding.h"
#include "survey/RegularFile.h"
#include "survey/SiteProjection.h"

namespace ketrion {

bool ShownHollow(const std::string& fixFlag, const std::string& method, bool provisional) {
    // The board's own points keep the discs they always had; its flags still
    // keep them out of heatmaps and estimates.
    return provisional || (!fixFlag.empty() && method != "board");
}

namespace {

using namespace collection;

// Read size of the walk before the first append: a long survey is walked in
// few reads.
constexpr std::size_t kTailCheckBuffer = 64 * 1024;
constexpr std::int64_t kFindRangeSquared =
    std::int64_t{CSiteData::kFindRange} * CSiteData::kFindRange;  // 1600

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace

CSiteData::CSiteData(Prompt& prompt, Sound& sound, Clock& clock)
    : m_prompt(prompt),
      m_sound(sound),
      m_clock(clock),
      m_sync([](int fd) { return ::fdatasync(fd); }) {
    m_writer = std::jthread([this] { WriterLoop(); });
}

CSiteData::CSiteData(Prompt& prompt, Sound& sound) : CSiteData(prompt, sound, DefaultClock()) {}

CSiteData::~CSiteData() {
    // An orderly end writes every queued point before the file is let go.
    {
        std::lock_guard queue(m_queueMutex);
        m_stopping = true;
    }
    m_queueChanged.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    std::lock_guard lock(m_fileMutex);
    Release();
}

void CSiteData::SetPath(std::string path) {
    {
        std::lock_guard lock(m_pathMutex);
        m_strPath = std::move(path);
    }
    // A file that is no longer the collection file is let go at once, after
    // the points queued for it are written.
    bool other = false;
    {
        const std::string chosen = Path();
        std::lock_guard lock(m_fileMutex);
        other = m_held.fd >= 0 && m_held.path != chosen;
    }
    if (other) {
        Flush();
        std::lock_guard lock(m_fileMutex);
        if (m_held.path != Path())
            Release();
    }
}

std::string CSiteData::Path() const {
    std::lock_guard lock(m_pathMutex);
    return m_strPath;
}

bool CSiteData::HasPath() const {
    std::lock_guard lock(m_pathMutex);
    return !m_strPath.empty();
}

std::size_t CSiteData::PointCount() const {
    std::lock_guard lock(m_pointsMutex);
    return m_points.size();
}

CSiteData::_tap CSiteData::Current() const {
    std::lock_guard lock(m_pointsMutex);
    return m_current;
}

std::uint64_t CSiteData::FileFailures() const {
    std::lock_guard lock(m_failureMutex);
    return m_failures;
}

std::string CSiteData::LastFileFailure() const {
    std::lock_guard lock(m_failureMutex);
    return m_lastFailure;
}

void CSiteData::SetFileSync(std::function<int(int fd)> sync) {
    std::lock_guard lock(m_fileMutex);
    m_sync = std::move(sync);
}

void CSiteData::Report(const std::string& text) {
    {
        std::lock_guard lock(m_failureMutex);
        ++m_failures;
        m_lastFailure = text;
    }
    m_prompt.Message(text);
}

void CSiteData::ShowFailure(const std::string& path, const char* action, int error) {
    if (error == EWOULDBLOCK) {
        Report("The collection file " + path + " is in use by another program.");
    } else {
        Report(std::string("Cannot ") + action + " the collection file " + path + ": " +
               std::strerror(error) + ".");
    }
}

void CSiteData::Release() {
    if (m_held.fd >= 0)
        ::close(m_held.fd);  // also lets the lock go
    m_held = Held{};
    std::lock_guard queue(m_queueMutex);
    m_nextOffset = -1;
}

bool CSiteData::SameFileAtPath(const std::string& path) const {
    struct stat st {};
    return m_held.fd >= 0 && m_held.path == path && ::stat(path.c_str(), &st) == 0 &&
           st.st_dev == m_held.device && st.st_ino == m_held.inode;
}

bool CSiteData::Hold(const std::string& path, Access access) {
    const bool needLock = access != Access::Read;
    // A new file is never made through a link: its target (any file the
    // link names) would be cut.
    if (access == Access::Create && RefuseLink(path))
        return false;
    if (SameFileAtPath(path) && (m_held.locked || !needLock)) {
        struct stat st {};
        if (::fstat(m_held.fd, &st) != 0) {
            ShowFailure(path, "open", errno);
            return false;
        }
        m_held.size = st.st_size;
        return true;
    }
    Release();

    const char* action = access == Access::Create ? "create" : "open";
    files::OpenFailure failure;
    // O_NOFOLLOW closes the gap between the check above and the open.
    const int createFlags = access == Access::Create ? O_CREAT | O_NOFOLLOW : 0;
    int fd = files::OpenRegular(path, O_RDWR | createFlags, 0666, failure);
    if (fd < 0 && access == Access::Create && failure.error == ELOOP && RefuseLink(path))
        return false;
    bool writable = fd >= 0;
    if (fd < 0 && !needLock && !failure.notRegular &&
        (failure.error == EACCES || failure.error == EPERM || failure.error == EROFS)) {
        // A file that may only be read can still be looked at.
        fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    }
    if (fd < 0) {
        if (failure.notRegular) {
            Report("Cannot " + std::string(action) + " the collection file " + path + ": " +
                   files::Describe(failure) + ".");
        } else {
            ShowFailure(path, action, failure.error);
        }
        return false;
    }
    bool locked = false;
    if (writable) {
        int rc = 0;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc != 0 && errno == EINTR);
        locked = rc == 0;
        if (locked && !TakeRecordLock(fd)) {
            // Another program holds a record lock on the file: it is in use
            // as surely as with a flock. Ours is let go again.
            ::flock(fd, LOCK_UN);
            locked = false;
            errno = EWOULDBLOCK;
        }
        if (!locked && (needLock || errno != EWOULDBLOCK)) {
            const int error = errno;
            ::close(fd);
            ShowFailure(path, action, error);
            return false;
        }
        if (!locked) {
            Report("The collection file " + path +
                   " is in use by another program: its points can be shown, but none can "
                   "be added to it.");
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        ShowFailure(path, action, error);
        return false;
    }
    m_held.path = path;
    m_held.fd = fd;
    m_held.locked = locked;
    m_held.writable = writable;
    m_held.device = st.st_dev;
    m_held.inode = st.st_ino;
    m_held.size = st.st_size;
    return true;
}

bool CSiteData::TakeRecordLock(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    int rc = 0;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return true;
    // A file system without record locks leaves the flock alone to guard the
    // file; only a lock held elsewhere refuses it.
    return errno != EAGAIN && errno != EACCES;
}

bool CSiteData::RefuseLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    target.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    Report("Cannot create the collection file " + path + ": it is a symbolic link" +
           (target.empty() ? std::string() : " to " + target) +
           ", and a new collection file is never made through a link (its target would be "
           "cut). Choose another name.");
    return true;
}

std::string CSiteData::DamageMessage() const {
    return "The collection file " + m_held.path + " is damaged at offset " +
           std::to_string(m_held.damageAt) + " (point " + std::to_string(m_held.damagePoint) +
           "): its records there are not a point's. No point is added to it; choose a new "
           "collection file to record.";
}

void CSiteData::NoteDamage(std::int64_t offset, std::size_t point) {
    m_held.damageAt = offset;
    m_held.damagePoint = point;
    m_held.tailEnd = -1;
}

std::string CSiteData::AppendRefusal() {
    const std::string path = Path();
    std::lock_guard lock(m_fileMutex);
    if (path.empty() || m_held.path != path || m_held.damageAt < 0)
        return {};
    return DamageMessage();
}

bool CSiteData::TakeChosenPath(std::string& path) {
    path = Path();
    if (path.empty()) {
        Report("Data collection file must be selected.");
        return false;
    }
    return true;
}

bool CSiteData::NewCollection() {
    std::string path;
    if (!TakeChosenPath(path))
        return false;
    Flush();
    std::lock_guard lock(m_fileMutex);
    // Truncate only once we hold the file, so a file another program is
    // writing is not cut under it.
    if (!Hold(path, Access::Create))
        return false;
    if (::ftruncate(m_held.fd, 0) != 0) {
        ShowFailure(path, "create", errno);
        Release();
        return false;
    }
    m_held.size = 0;
    m_held.tailEnd = -1;
    std::uint8_t bytes[kFirstRecord];
    EncodeHeader(m_clock.NowSeconds(), bytes);
    if (!Append(bytes, sizeof bytes, 0))
        return false;
    std::memcpy(m_held.header.bytes, bytes, kHeaderSize);
    m_held.header.sizeBlockOffset = static_cast<std::int32_t>(kHeaderSize);
    m_held.header.locationSize = static_cast<std::int32_t>(kLocationSize);
    m_held.header.readingSize = static_cast<std::int32_t>(kReadingSize);
    m_held.tailEnd = kFirstRecord;
    std::lock_guard queue(m_queueMutex);
    m_nextOffset = kFirstRecord;
    return true;
}

// Writes length bytes at offset with one write (a short one is continued) and
// makes them durable. On failure nothing of them stays in the file.
bool CSiteData::Append(const std::uint8_t* bytes, std::size_t length, std::int64_t offset) {
    std::size_t done = 0;
    int error = 0;
    while (done < length) {
        ssize_t n = ::pwrite(m_held.fd, bytes + done, length - done,
                             static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (error == 0 && m_sync(m_held.fd) != 0) {
        // Not known to be on the disk: take the point back rather than count it.
        error = errno != 0 ? errno : EIO;
    }
    if (error != 0) {
        // Leave no partial point behind: the next append must start on a
        // record boundary.
        if (::ftruncate(m_held.fd, static_cast<off_t>(offset)) == 0)
            m_held.size = offset;
        ShowFailure(m_held.path, "write to", error);
        return false;
    }
    m_held.size = std::max(m_held.size, offset + static_cast<std::int64_t>(length));
    return true;
}

bool CSiteData::ReadHeader() {
    Reader reader(m_held.fd, 64);
    const Damage damage = reader.Open(m_held.header);
    if (damage != Damage::None) {
        Report(DamageText(damage, m_held.path, m_held.header));
        return false;
    }
    return true;
}

// Before the first append to the held file: reads the header and record
// sizes, walks every point from the first, and makes sure the file ends on a
// point boundary. Only a torn tail is repaired: the last point, cut short by a
// crash during its write, is trimmed to its complete readings (its count
// corrected), or a cut location record is removed. Records that cannot be
// what the walk expects (damage before the end: the count of an earlier point
// is wrong and the walk has lost its step) leave the file exactly as it is:
// no byte is changed and nothing is appended. While the file stays held
// nobody else writes it, so the end found here stays right.
bool CSiteData::CheckTail() {
    if (m_held.damageAt >= 0) {
        Report(DamageMessage());
        return false;
    }
    const std::int64_t size = m_held.size;
    Reader reader(m_held.fd, kTailCheckBuffer);
    const Damage damage = reader.Open(m_held.header);
    if (damage != Damage::None) {
        Report(DamageText(damage, m_held.path, m_held.header));
        return false;
    }
    const Header& header = m_held.header;
    if (std::memcmp(header.bytes + kMagicAt, kMagic, sizeof kMagic) != 0) {
        // Whatever it is, it is not ours to write to.
        Report("The collection file " + m_held.path +
               " does not begin like a collection file; no point is added to it. Choose a new "
               "collection file to record.");
        return false;
    }
    if (header.locationSize != static_cast<std::int32_t>(kLocationSize) ||
        header.readingSize != static_cast<std::int32_t>(kReadingSize)) {
        // Appending 61/41-byte records would make the file unreadable.
        Report("The collection file " + m_held.path + " has records of " +
               std::to_string(header.locationSize) + " and " + std::to_string(header.readingSize) +
               " bytes; points can only be added to a file with 61- and 41-byte records.");
        return false;
    }

    std::uint8_t location[kLocationSize];
    std::uint8_t reading[kReadingSize];
    std::int64_t offset = reader.Position();
    std::int64_t end = offset;  // end of the last complete point
    std::size_t points = 0;
    std::int64_t torn = -1;  // location record of a point the end of the file cuts
    unsigned tornComplete = 0;
    while (reader.NextLocation(location, offset)) {
        ++points;
        if (!PlausibleLocation(location)) {
            NoteDamage(offset, points);
            Report(DamageMessage());
            return false;
        }
        const unsigned count = Get16(location + kCountAt);
        unsigned complete = 0;
        for (; complete < count; ++complete) {
            const std::int64_t at = reader.Position();
            if (!reader.NextReading(reading))
                break;
            if (!PlausibleReading(reading)) {
                NoteDamage(at, points);
                Report(DamageMessage());
                return false;
            }
        }
        if (complete < count) {
            torn = offset;
            tornComplete = complete;
            end = offset + kLocationSize + std::int64_t{complete} * kReadingSize;
            break;
        }
        end = reader.Position();
    }
    if (reader.Error() != 0) {
        ShowFailure(m_held.path, "read", reader.Error());
        return false;
    }
    if (torn >= 0) {
        std::uint8_t fixed[2];
        Put16(fixed, static_cast<std::uint16_t>(tornComplete));
        if (::pwrite(m_held.fd, fixed, sizeof fixed, torn + kCountAt) != 2) {
            ShowFailure(m_held.path, "repair", errno);
            return false;
        }
    }
    if (end < size) {
        if (::ftruncate(m_held.fd, end) != 0) {
            ShowFailure(m_held.path, "repair", errno);
            return false;
        }
        m_held.size = end;
    }
    m_held.tailEnd = end;
    return true;
}

std::uint64_t CSiteData::Enqueue(Pending item, const _tap& point) {
    // Caller holds m_queueMutex.
    item.ticket = m_nextTicket++;
    item.generation = m_generation;
    _tap placed = point;
    if (m_nextOffset >= 0) {
        placed.offset = m_nextOffset;
        m_nextOffset += static_cast<std::int64_t>(item.bytes.size());
    }
    {
        std::lock_guard points(m_pointsMutex);
        item.index = m_points.size();
        m_points.push_back(placed);
    }
    m_queue.push_back(std::move(item));
    m_queueChanged.notify_all();
    return m_queue.back().ticket;
}

void CSiteData::WaitFor(std::uint64_t ticket) {
    std::unique_lock queue(m_queueMutex);
    m_queueChanged.wait(queue, [&] { return m_completed >= ticket; });
}

bool CSiteData::Flush() {
    // Details the side store could not take are tried again.
    if (m_sideBehindCount.load() > 0) {
        QueueSideOp([](SideStore&, std::string*) { return true; }, nullptr, true);
    }
    std::unique_lock queue(m_queueMutex);
    const std::uint64_t last = m_nextTicket - 1;
    m_queueChanged.wait(queue, [&] { return m_completed >= last; });
    const bool ok = !m_failedSinceFlush;
    m_failedSinceFlush = false;
    return ok;
}

// Writer thread, under the file mutex: the held file for the point's path,
// its tail checked once, then the point at its end.
bool CSiteData::WritePending(const Pending& item, std::int64_t& offset) {
    if (item.sideOp)
        return RunSideOp(item);
    if (!Hold(item.path, Access::Append))
        return false;
    if (m_held.tailEnd < 0 || m_held.tailEnd != m_held.size) {
        if (!CheckTail())
            return false;
    }
    offset = m_held.size;
    if (!Append(item.bytes.data(), item.bytes.size(), offset))
        return false;
    m_held.tailEnd = m_held.size;
    WriteSide(item, offset);
    return true;
}

SideStore* CSiteData::HeldSide(std::string* failure) {
    const bool sameFile =
        m_sidePath == m_held.path && m_sideDevice == m_held.device && m_sideInode == m_held.inode;
    if (m_side != nullptr && sameFile)
        return m_side.get();
    if (!sameFile) {
        // Another file: its store starts afresh.
        m_side.reset();
        m_sideOutage = false;
        m_sidePath = m_held.path;
        m_sideDevice = m_held.device;
        m_sideInode = m_held.inode;
    }
    // A store that could not be opened is tried again with each later write:
    // what kept it shut may have passed.
    std::uint8_t header[kHeaderSize] = {};
    std::string message;
    if (::pread(m_held.fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header)) {
        m_side = SideStore::OpenForWriting(m_held.path, SideIdentity(m_held.path, header), &message,
                                           m_sideOutage ? 0 : m_sideWaitMs);
    } else {
        message = "Cannot read the header of " + m_held.path + " for its side store.";
    }
    if (m_side == nullptr) {
        *failure = message;
        return nullptr;
    }
    // A store set aside (with a new one started) is news for the surveyor.
    if (!message.empty()) {
        m_prompt.Message(message);
    }
    return m_side.get();
}

void CSiteData::SideOutage(const std::string& message) {
    // The collection file holds the points; only their details wait.
    if (m_sideOutage)
        return;  // told once per outage
    m_sideOutage = true;
    m_prompt.Message(message +
                     " The details are kept and written to the side store once it can be "
                     "written again.");
}

bool CSiteData::CatchUpSide() {
    if (m_sideBehind.empty())
        return true;
    std::string message;
    SideStore* side = HeldSide(&message);
    if (side != nullptr) {
        // In an outage a try does not wait for the lock: the file's points
        // must not queue behind the store.
        side->SetBusyTimeout(m_sideOutage ? 0 : m_sideWaitMs);
        std::vector<SideStore::Point> points;
        std::map<std::int64_t, std::vector<SideStore::Reading>> readings;
        for (auto& [point, rows] : m_sideBehind) {
            points.push_back(point);
            readings[point.offset] = rows;
        }
        if (side->WritePoints(points, readings, &message)) {
            if (m_sideOutage && m_sideBehind.size() > 1)
                m_prompt.Message("The side store " + side->Path() +
                                 " can be written again; the details of " +
                                 std::to_string(m_sideBehind.size()) + " points are in it now.");
            m_sideOutage = false;
            m_sideBehind.clear();
            m_sideBehindCount = 0;
            return true;
        }
    }
    m_sideBehindCount = m_sideBehind.size();
    SideOutage(message);
    return false;
}

void CSiteData::WriteSide(const Pending& item, std::int64_t offset) {
    if (!item.side)
        return;
    SideStore::Point point = *item.side;
    point.offset = offset;
    std::vector<SideStore::Reading> readings = item.sideReadings;
    for (SideStore::Reading& reading : readings)
        reading.pointOffset = offset;
    // Rows kept back for another file are not this file's.
    if (m_sidePath != m_held.path || m_sideDevice != m_held.device || m_sideInode != m_held.inode)
        m_sideBehind.clear();
    m_sideBehind.emplace_back(std::move(point), std::move(readings));
    CatchUpSide();
}

bool CSiteData::RunSideOp(const Pending& item) {
    if (!Hold(item.path, Access::Append))
        return false;
    const bool caughtUp = CatchUpSide();
    if (item.catchUpOnly)
        return caughtUp;
    std::string message;
    SideStore* side = HeldSide(&message);
    if (side != nullptr) {
        side->SetBusyTimeout(m_sideWaitMs);
        if (item.sideOp(*side, &message))
            return true;
    }
    // The surveyor's own change (a deletion, a walk's scan kept) failed:
    // said every time.
    m_prompt.Message(message);
    return false;
}

std::uint64_t CSiteData::QueueSideOp(std::function<bool(SideStore&, std::string*)> op, bool* result,
                                     bool catchUpOnly) {
    const std::string path = Path();
    if (path.empty())
        return 0;
    std::lock_guard queue(m_queueMutex);
    Pending item;
    item.ticket = m_nextTicket++;
    item.generation = m_generation;
    item.path = path;
    item.sideOp = std::move(op);
    item.result = result;
    item.catchUpOnly = catchUpOnly;
    const std::uint64_t ticket = item.ticket;
    m_queue.push_back(std::move(item));
    m_queueChanged.notify_all();
    return ticket;
}

void CSiteData::SetSideBusyTimeout(int milliseconds) {
    std::lock_guard file(m_fileMutex);
    m_sideWaitMs = milliseconds;
}

bool CSiteData::MarkDeleted(std::int64_t offset, bool deleted) {
    const auto mark = [&](bool value) {
        bool found = false;
        std::lock_guard points(m_pointsMutex);
        for (_tap& point : m_points) {
            if (point.offset == offset) {
                point.deleted = value;
                found = true;
            }
        }
        if (found && m_bCurrentValid && m_current.offset == offset)
            m_bCurrentValid = !value;
        return found;
    };
    if (!mark(deleted))
        return false;
    bool written = false;
    const std::uint64_t ticket = QueueSideOp(
        [offset, deleted](SideStore& side, std::string* message) {
            return side.SetDeleted(offset, deleted, message);
        },
        &written);
    if (ticket != 0)
        WaitFor(ticket);
    // Not kept: the point is shown as the store has it (the failure was said).
    if (!written)
        mark(!deleted);
    return written;
}

void CSiteData::KeepPendingScan(std::int64_t seq, std::string body) {
    QueueSideOp([seq, body = std::move(body)](SideStore& side, std::string* message) {
        return side.AddPendingScan(seq, body, message);
    });
}

void CSiteData::DropPendingScan(std::int64_t seq) {
    QueueSideOp([seq](SideStore& side, std::string* message) {
        return side.RemovePendingScan(seq, message);
    });
}

void CSiteData::SetAsidePendingScan(std::int64_t seq, const std::string& why) {
    const std::string store = SideStore::PathFor(Path());
    m_prompt.Message(
        "A walk's scan kept in " + store + " cannot be read (" + why +
        "); it was set aside in that store's table pending_scans_aside and is not placed.");
    QueueSideOp([seq, why](SideStore& side, std::string* message) {
        return side.SetAsidePendingScan(seq, why, message);
    });
}

std::vector<std::pair<std::int64_t, std::string>> CSiteData::PendingScansAtLoad() const {
    std::lock_guard lock(m_noticeMutex);
    return m_pendingAtLoad;
}

void CSiteData::ApplySide(const std::string& path, std::vector<_tap>& points) {
    // File mutex held; the collection file is held for reading at least.
    std::uint8_t header[kHeaderSize] = {};
    if (::pread(m_held.fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header))
        return;
    std::string message;
    const std::unique_ptr<SideStore> side =
        SideStore::OpenForReading(path, SideIdentity(path, header), &message);
    {
        std::lock_guard lock(m_noticeMutex);
        m_pendingAtLoad.clear();
    }
    if (side == nullptr) {
        if (!message.empty())
            m_prompt.Message(message);  // the collection file still loads
        return;
    }
    const std::map<std::int64_t, SideStore::Point> rows = side->Points();
    for (_tap& point : points) {
        const auto row = rows.find(point.offset);
        if (row == rows.end())
            continue;  // a point without side rows is what the file says
        point.deleted = row->second.deleted;
        point.hollow =
            ShownHollow(row->second.fixFlag, row->second.method, row->second.provisional);
    }
    std::lock_guard lock(m_noticeMutex);
    m_pendingAtLoad = side->PendingScans();
}

void CSiteData::WriterLoop() {
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
        const Pending& item = m_queue.front();
        queue.unlock();
        std::int64_t offset = -1;
        const bool ok = WritePending(item, offset);
        const std::int64_t next = m_held.locked ? m_held.size : -1;
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
            {
                std::lock_guard points(m_pointsMutex);
                if (item.generation == m_generation && item.index < m_points.size())
                    m_points[item.index].offset = offset;
            }
            if (item.result)
                *item.result = true;
            m_completed = item.ticket;
            m_queue.pop_front();
            if (m_queue.empty())
                m_nextOffset = next;
        } else {
            // The point is not in the file, nor can the ones queued after it
            // follow it there: none of them stays on the plan.
            {
                std::lock_guard points(m_pointsMutex);
                if (item.generation == m_generation && item.index <= m_points.size())
                    m_points.resize(item.index);
            }
            // A caller waiting for its point learns the outcome from it; the
            // others are told by the next Flush.
            for (const Pending& dropped : m_queue) {
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

namespace {

// The name as a string: up to its first zero byte.
std::string NameText(const std::string& bytes) {
    const std::size_t end = bytes.find('\0');
    return end == std::string::npos ? bytes : bytes.substr(0, end);
}

std::int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool CSiteData::RecordPoint(const source::Fix& fix, const std::vector<source::Reading>& readings,
                            const Placement& placement) {
    const std::string path = Path();
    if (path.empty())
        return false;  // a scan end nobody asked for
    EncodedPoint encoded = EncodeSurveyPoint(fix, readings);
    m_bNoApHeard = encoded.readings == 0;

    _tap point;
    point.kind = kKindSurvey;
    point.x = placement.x;
    point.y = placement.y;
    point.signal = encoded.strongest;
    point.readings = encoded.readings;
    point.hollow = ShownHollow(placement.fixFlag, placement.method, false);

    Pending item;
    item.path = path;
    SideStore::Point side;
    side.scanSource = placement.scanSource;
    side.method = placement.method;
    side.planX = placement.planX;
    side.planY = placement.planY;
    side.timeMs = WallClockMs();
    side.ephMetres = fix.ephMetres;
    side.satellites = fix.satellitesUsed;
    side.mode = fix.mode;
    side.altitudeMetres = fix.altitudeMetres;
    side.fixFlag = placement.fixFlag;
    side.scanStartMs = placement.scanStartMs;
    side.scanEndMs = placement.scanEndMs;
    item.side = side;
    int inFile = 0;
    int extra = encoded.readings;
    for (const source::Reading& reading : readings) {
        SideStore::Reading row;
        const bool written = reading.inCollection && inFile < encoded.readings;
        row.index = written ? inFile++ : extra++;
        row.inCollection = written;
        row.bssid = MacText(reading.mac);
        row.ssid = NameText(reading.name);
        if (reading.details) {
            const source::ReadingDetails& d = *reading.details;
            if (!d.fullName.empty())
                row.ssid = d.fullName;
            row.frequencyMhz = d.frequencyMhz;
            row.channel = d.channel;
            row.band = d.band;
            row.signalMbm = d.signalMbm;
            row.signalUnspec = d.signalUnspec;
            row.security = d.security;
            row.phy = d.phy;
            row.widthMhz = d.widthMhz;
            row.noiseDbm = d.noiseDbm;
            row.ageMs = d.ageMs;
        }
        item.sideReadings.push_back(std::move(row));
    }
    item.bytes = std::move(encoded.bytes);

    std::lock_guard queue(m_queueMutex);
    std::memcpy(m_locationRecord, item.bytes.data(), kLocationSize);
    Enqueue(std::move(item), point);
    return true;
}

bool CSiteData::RecordDynamicAp(int x, int y, std::int32_t latitudeUnits,
                                std::int32_t longitudeUnits) {
    std::string path;
    if (!TakeChosenPath(path))
        return false;
    _tap point;
    point.x = x;
    point.y = y;
    point.signal = kWeakestSignal;
    point.readings = 0;
    point.kind = kKindDynamicAp;
    bool written = false;
    std::uint64_t ticket = 0;
    {
        std::lock_guard queue(m_queueMutex);
        // The other fields keep what the last location record built or read held.
        std::vector<std::uint8_t> record(m_locationRecord, m_locationRecord + kLocationSize);
        Put32(record.data() + kLatitudeAt, static_cast<std::uint32_t>(latitudeUnits));
        Put32(record.data() + kLongitudeAt, static_cast<std::uint32_t>(longitudeUnits));
        Put16(record.data() + kCountAt, 0);
        record[kKindAt] = kKindDynamicAp;
        std::memcpy(m_locationRecord, record.data(), kLocationSize);
        Pending item;
        item.path = path;
        item.bytes = std::move(record);
        item.result = &written;
        ticket = Enqueue(std::move(item), point);
    }
    WaitFor(ticket);
    return written;
}

bool CSiteData::LoadSurvey() {
    std::string path;
    if (!TakeChosenPath(path))
        return false;
    Flush();
    std::lock_guard lock(m_fileMutex);
    if (!Hold(path, Access::Read))
        return false;
    Reader reader(m_held.fd);
    Header header;
    Damage damage = reader.Open(header);
    if (damage != Damage::None) {
        Report(DamageText(damage, path, header));
        return false;
    }
    m_held.header = header;
    m_held.damageAt = -1;  // walked afresh below

    std::vector<_tap> points;
    std::int64_t damageAt = -1;
    std::uint8_t lastLocation[kLocationSize] = {};
    bool anyLocation = false;
    std::uint8_t locationScratch[kLocationSize];
    std::uint8_t readingScratch[kReadingSize];
    std::int64_t offset = 0;
    std::int64_t end = reader.Position();  // end of the last complete point
    // One map places every point, even if a projection is loaded meanwhile.
    const std::shared_ptr<const PlanMap> map = m_projection ? m_projection->Snapshot() : nullptr;
    // Records are looked at in the reader's buffer; the location record's
    // fields are taken before its readings are read.
    while (const std::uint8_t* location = reader.NextLocationView(locationScratch, offset)) {
        if (points.size() == kMaxLoadedPoints) {
            Report("The collection file " + path + " holds more than " +
                   std::to_string(kMaxLoadedPoints) + " points; it is not loaded.");
            return false;
        }
        if (!PlausibleLocation(location)) {
            damageAt = offset;
            break;
        }
        std::memcpy(lastLocation, location, kLocationSize);
        anyLocation = true;
        _tap point;
        point.offset = offset;
        if (map) {
            int latitude = static_cast<std::int32_t>(Get32(location + kLatitudeAt));
            int longitude = static_cast<std::int32_t>(Get32(location + kLongitudeAt));
            point.x = CSiteProjection::PlanXOfUnits(*map, latitude, longitude);
            point.y = CSiteProjection::PlanYOfUnits(*map, latitude, longitude);
        }
        const unsigned count = Get16(location + kCountAt);
        const bool survey = location[kKindAt] == kKindSurvey;
        int strongest = kWeakestSignal;
        unsigned complete = 0;
        while (complete < count) {
            const std::int64_t at = reader.Position();
            const std::uint8_t* reading = reader.NextReadingView(readingScratch);
            if (reading == nullptr)
                break;
            if (!PlausibleReading(reading)) {
                damageAt = at;
                break;
            }
            strongest = std::max(strongest, SignalDbm(reading));
            ++complete;
        }
        if (survey) {
            point.kind = kKindSurvey;
            point.signal = static_cast<std::int16_t>(strongest);
            point.readings = static_cast<std::uint16_t>(complete);
        } else {
            point.kind = kKindDynamicAp;
            point.signal = kWeakestSignal;
            point.readings = 0;
        }
        if (damageAt >= 0)
            break;  // the point where the damage is is not shown
        points.push_back(point);
        if (complete < count)
            break;  // the file ends inside this point
        end = reader.Position();
    }
    if (reader.Error() != 0)
        ShowFailure(path, "read", reader.Error());
    // One sound for the whole load, however many survey points it brought.
    if (std::any_of(points.begin(), points.end(),
                    [](const _tap& point) { return point.kind == kKindSurvey; }))
        m_sound.PlayResourceSound("PING");
    // What the side store adds: deleted marks, points without a fix, a
    // walk's scans still to be placed.
    ApplySide(path, points);
    // Appends start after the last complete point once the tail is checked.
    m_held.tailEnd = end == m_held.size ? end : -1;
    if (damageAt >= 0) {
        NoteDamage(damageAt, points.size() + 1);
        const std::size_t shown = points.size();
        Report(DamageMessage() +
               (shown == 1 ? std::string(" The point before it is shown.")
                           : " The " + std::to_string(shown) + " points before it are shown."));
    }

    std::lock_guard queue(m_queueMutex);
    if (anyLocation)
        std::memcpy(m_locationRecord, lastLocation, kLocationSize);
    m_nextOffset = m_held.locked && m_held.tailEnd >= 0 ? m_held.tailEnd : -1;
    std::lock_guard points_lock(m_pointsMutex);
    ++m_generation;
    // Points scanned while the file was read are still queued: they follow
    // the loaded ones.
    for (Pending& item : m_queue) {
        _tap pending = item.index < m_points.size() ? m_points[item.index] : _tap{};
        item.index = points.size();
        item.generation = m_generation;
        points.push_back(pending);
    }
    m_points = std::move(points);
    m_bCurrentValid = false;  // the selection belonged to the points just replaced
    return true;
}

int CSiteData::FindNearestPoint(int x, int y) {
    // The selected point's offset must be the one in the file.
    Flush();
    std::lock_guard lock(m_pointsMutex);
    std::int64_t best = kFindRangeSquared + 1;
    for (const _tap& point : m_points) {
        if (point.deleted)
            continue;  // left out of the view
        // Differences span up to 2^32; a point more than the range away on
        // either axis can never be selected, so the square is taken only when
        // it is small.
        std::int64_t dx = std::int64_t{point.x} - x;
        std::int64_t dy = std::int64_t{point.y} - y;
        if (dx < -kFindRange || dx > kFindRange || dy < -kFindRange || dy > kFindRange)
            continue;
        std::int64_t d = dx * dx + dy * dy;
        if (d < best) {
            m_current = point;
            m_bCurrentValid = true;
            best = d;
        }
    }
    if (best > kFindRangeSquared)
        return -1;
    return m_current.kind;
}

std::string CSiteData::ReadingLine(int fd, const Header& h, std::int64_t size, const _tap& point,
                                   int i) {
    if (i < 1)
        return {};
    std::int64_t at = point.offset + h.locationSize + std::int64_t{i - 1} * h.readingSize;
    if (point.offset < 0 || at + h.readingSize > size)
        return {};
    std::uint8_t record[kReadingSize];
    ssize_t n;
    do {
        n = ::pread(fd, record, sizeof record, at);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof record))
        return {};
    const std::uint8_t* mac = record + kMacAt;
    std::string ssid = Ssid(record);
    char line[128];
    std::snprintf(line, sizeof line, "%d  %02X-%02X-%02X-%02X-%02X-%02X %d      %s", i, mac[0],
                  mac[1], mac[2], mac[3], mac[4], mac[5], SignalDbm(record), ssid.c_str());
    return line;
}

std::string CSiteData::FormatReading(int i) {
    Flush();
    _tap point = Current();
    std::lock_guard lock(m_fileMutex);
    const std::string path = Path();
    if (path.empty() || !Hold(path, Access::Read) || !ReadHeader())
        return {};
    return ReadingLine(m_held.fd, m_held.header, m_held.size, point, i);
}

CSiteData::PointDetails CSiteData::SelectedPoint() {
    Flush();
    PointDetails details;
    {
        std::lock_guard lock(m_pointsMutex);
        details.valid = m_bCurrentValid;
        details.point = m_current;
    }
    if (!details.valid || details.point.kind != kKindSurvey || details.point.readings == 0) {
        return details;
    }
    std::lock_guard lock(m_fileMutex);
    const std::string path = Path();
    const bool readable = !path.empty() && Hold(path, Access::Read) && ReadHeader();
    details.lines.reserve(details.point.readings);
    for (int i = 1; i <= details.point.readings; ++i) {
        details.lines.push_back(
            readable ? ReadingLine(m_held.fd, m_held.header, m_held.size, details.point, i)
                     : std::string());
    }
    return details;
}

}  // namespace ketrion
