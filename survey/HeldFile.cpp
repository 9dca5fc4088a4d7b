#include "survey/HeldFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Clock.h"
#include "survey/CollectionFailures.h"
#include "survey/RegularFile.h"

namespace ketrion {
namespace {

using namespace collection;

// Read size of the walk before the first append: a long survey is walked in
// few reads.
constexpr std::size_t kTailCheckBuffer = 64 * 1024;

}  // namespace

HeldFile::HeldFile(CollectionFailures& failures, std::function<void()> released)
    : m_failures(failures),
      m_released(std::move(released)),
      m_sync([](int fd) { return ::fdatasync(fd); }) {}

HeldFile::~HeldFile() {
    if (m_held.fd >= 0)
        ::close(m_held.fd);
}

void HeldFile::Release() {
    if (m_held.fd >= 0)
        ::close(m_held.fd);  // also lets the lock go
    m_held = Held{};
    m_released();
}

bool HeldFile::SameFileAtPath(const std::string& path) const {
    struct stat st {};
    return m_held.fd >= 0 && m_held.path == path && ::stat(path.c_str(), &st) == 0 &&
           st.st_dev == m_held.device && st.st_ino == m_held.inode;
}

bool HeldFile::Hold(const std::string& path, Access access) {
    const bool needLock = access != Access::Read;
    // A new file is never made through a link: its target (any file the
    // link names) would be cut.
    if (access == Access::Create && RefuseLink(path))
        return false;
    if (SameFileAtPath(path) && (m_held.locked || !needLock)) {
        struct stat st {};
        if (::fstat(m_held.fd, &st) != 0) {
            m_failures.ShowFailure(path, "open", errno);
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
            m_failures.Report("Cannot " + std::string(action) + " the collection file " + path +
                              ": " + files::Describe(failure) + ".");
        } else {
            m_failures.ShowFailure(path, action, failure.error);
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
            m_failures.ShowFailure(path, action, error);
            return false;
        }
        if (!locked) {
            m_failures.Report(
                "The collection file " + path +
                " is in use by another program: its points can be shown, but none can "
                "be added to it.");
        }
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        m_failures.ShowFailure(path, action, error);
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

bool HeldFile::TakeRecordLock(int fd) {
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

bool HeldFile::RefuseLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    target.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    m_failures.Report(
        "Cannot create the collection file " + path + ": it is a symbolic link" +
        (target.empty() ? std::string() : " to " + target) +
        ", and a new collection file is never made through a link (its target would be "
        "cut). Choose another name.");
    return true;
}

std::string HeldFile::DamageMessage() const {
    return "The collection file " + m_held.path + " is damaged at offset " +
           std::to_string(m_held.damageAt) + " (point " + std::to_string(m_held.damagePoint) +
           "): its records there are not a point's. No point is added to it; choose a new "
           "collection file to record.";
}

void HeldFile::NoteDamage(std::int64_t offset, std::size_t point) {
    m_held.damageAt = offset;
    m_held.damagePoint = point;
    m_held.tailEnd = -1;
}

bool HeldFile::Create(const std::string& path, Clock& clock) {
    // Truncate only once we hold the file, so a file another program is
    // writing is not cut under it.
    if (!Hold(path, Access::Create))
        return false;
    if (::ftruncate(m_held.fd, 0) != 0) {
        m_failures.ShowFailure(path, "create", errno);
        Release();
        return false;
    }
    m_held.size = 0;
    m_held.tailEnd = -1;
    std::uint8_t bytes[kFirstRecord];
    EncodeHeader(clock.NowSeconds(), bytes);
    if (!Append(bytes, sizeof bytes, 0))
        return false;
    std::memcpy(m_held.header.bytes, bytes, kHeaderSize);
    m_held.header.sizeBlockOffset = static_cast<std::int32_t>(kHeaderSize);
    m_held.header.locationSize = static_cast<std::int32_t>(kLocationSize);
    m_held.header.readingSize = static_cast<std::int32_t>(kReadingSize);
    m_held.tailEnd = kFirstRecord;
    return true;
}

// Writes length bytes at offset with one write (a short one is continued) and
// makes them durable. On failure nothing of them stays in the file.
bool HeldFile::Append(const std::uint8_t* bytes, std::size_t length, std::int64_t offset) {
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
        m_failures.ShowFailure(m_held.path, "write to", error);
        return false;
    }
    m_held.size = std::max(m_held.size, offset + static_cast<std::int64_t>(length));
    return true;
}

bool HeldFile::ReadHeader() {
    Reader reader(m_held.fd, 64);
    const Damage damage = reader.Open(m_held.header);
    if (damage != Damage::None) {
        m_failures.Report(DamageText(damage, m_held.path, m_held.header));
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
bool HeldFile::CheckTail() {
    if (m_held.damageAt >= 0) {
        m_failures.Report(DamageMessage());
        return false;
    }
    const std::int64_t size = m_held.size;
    Reader reader(m_held.fd, kTailCheckBuffer);
    const Damage damage = reader.Open(m_held.header);
    if (damage != Damage::None) {
        m_failures.Report(DamageText(damage, m_held.path, m_held.header));
        return false;
    }
    const Header& header = m_held.header;
    if (std::memcmp(header.bytes + kMagicAt, kMagic, sizeof kMagic) != 0) {
        // Whatever it is, it is not ours to write to.
        m_failures.Report(
            "The collection file " + m_held.path +
            " does not begin like a collection file; no point is added to it. Choose a new "
            "collection file to record.");
        return false;
    }
    if (header.locationSize != static_cast<std::int32_t>(kLocationSize) ||
        header.readingSize != static_cast<std::int32_t>(kReadingSize)) {
        // Appending 61/41-byte records would make the file unreadable.
        m_failures.Report(
            "The collection file " + m_held.path + " has records of " +
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
            m_failures.Report(DamageMessage());
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
                m_failures.Report(DamageMessage());
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
        m_failures.ShowFailure(m_held.path, "read", reader.Error());
        return false;
    }
    if (torn >= 0) {
        std::uint8_t fixed[2];
        Put16(fixed, static_cast<std::uint16_t>(tornComplete));
        if (::pwrite(m_held.fd, fixed, sizeof fixed, torn + kCountAt) != 2) {
            m_failures.ShowFailure(m_held.path, "repair", errno);
            return false;
        }
    }
    if (end < size) {
        if (::ftruncate(m_held.fd, end) != 0) {
            m_failures.ShowFailure(m_held.path, "repair", errno);
            return false;
        }
        m_held.size = end;
    }
    m_held.tailEnd = end;
    return true;
}

bool HeldFile::AppendPoint(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           std::int64_t& offset) {
    if (!Hold(path, Access::Append))
        return false;
    if (m_held.tailEnd < 0 || m_held.tailEnd != m_held.size) {
        if (!CheckTail())
            return false;
    }
    offset = m_held.size;
    if (!Append(bytes.data(), bytes.size(), offset))
        return false;
    m_held.tailEnd = m_held.size;
    return true;
}

std::string HeldFile::ReadingLine(std::int64_t pointOffset, int i) const {
    if (i < 1)
        return {};
    const Header& h = m_held.header;
    std::int64_t at = pointOffset + h.locationSize + std::int64_t{i - 1} * h.readingSize;
    if (pointOffset < 0 || at + h.readingSize > m_held.size)
        return {};
    std::uint8_t record[kReadingSize];
    ssize_t n;
    do {
        n = ::pread(m_held.fd, record, sizeof record, at);
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

bool HeldFile::ReadHeaderBytes(std::uint8_t (&header)[kHeaderSize]) const {
    return ::pread(m_held.fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header);
}

void HeldFile::StartWalk(const Header& header) {
    m_held.header = header;
    m_held.damageAt = -1;  // walked afresh
}

void HeldFile::EndWalk(std::int64_t end) {
    m_held.tailEnd = end == m_held.size ? end : -1;
}

std::string HeldFile::Refusal(const std::string& chosen) const {
    if (chosen.empty() || m_held.path != chosen || m_held.damageAt < 0)
        return {};
    return DamageMessage();
}

}  // namespace ketrion
