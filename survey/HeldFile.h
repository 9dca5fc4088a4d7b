#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "survey/CollectionFile.h"

namespace ketrion {

class Clock;
class CollectionFailures;

// The collection file as this program holds it: opened, locked, its header
// and where its complete points end, and the writes that add to it.
//  - The file stays open and locked (flock and an open-file-description
//    record lock over the whole file, both exclusive and taken without
//    waiting) for as long as it is held: from the first operation on a path
//    until another path is held or Release. A second program gets "in use
//    by another program" and writes nothing; it may still load the points to
//    look at them.
//  - Files are opened without waiting on fifos or devices and anything but
//    a regular file is refused; a new file is never made through a symbolic
//    link.
//  - Before the first append the tail is checked: a point torn by a crash is
//    trimmed, and a file found damaged before its end is only read from
//    then on.
// Failures go to CollectionFailures, which shows and counts them.
//
// Threads: one thread at a time; the owner (CollectionWriter) calls it only
// under its file mutex.
class HeldFile {
public:
    // How an operation needs the file.
    enum class Access {
        Read,    // read its points; another program may hold it
        Append,  // add points: needs the lock
        Create,  // create or truncate: needs the lock
    };

    // `released` is called (under the owner's file mutex) each time the held
    // file is let go, so that nothing counts on its end any more.
    HeldFile(CollectionFailures& failures, std::function<void()> released);
    ~HeldFile();
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // Makes `path` the held file for `access`; false after a message. The
    // file already held at `path` is kept (its size read again) when it
    // serves the access.
    bool Hold(const std::string& path, Access access);
    // Closes the held file, which also lets its locks go.
    void Release();

    // Creates (truncating) the file at `path` once it is held, and writes the
    // header, stamped with the clock's time, and the record-size block.
    // False after a message; a file held by another program is left untouched.
    bool Create(const std::string& path, Clock& clock);
    // Writer thread: the held file for `path`, its tail checked once, then
    // `bytes` at its end, where `offset` is set. False after a message.
    bool AppendPoint(const std::string& path, const std::vector<std::uint8_t>& bytes,
                     std::int64_t& offset);
    // Reads the header and record sizes again; false after a message.
    bool ReadHeader();
    // The text line of reading i (from 1) of the point whose location record
    // is at `pointOffset`: "%d  %02X-...-%02X %d      %s"; empty when it
    // cannot be read. The header must have been read.
    std::string ReadingLine(std::int64_t pointOffset, int i) const;
    // The file's first 25 bytes (the side store's identity); false when they
    // cannot be read.
    bool ReadHeaderBytes(std::uint8_t (&header)[collection::kHeaderSize]) const;

    // A walk of the points (LoadSurvey) read `header`; damage is looked for
    // afresh.
    void StartWalk(const collection::Header& header);
    // The walk's last complete point ends at `end`: appends start there when
    // that is the end of the file, after a check of the tail otherwise.
    void EndWalk(std::int64_t end);
    // Notes the damage at `offset` in the point numbered `point` (from 1): the
    // file is only read from then on.
    void NoteDamage(std::int64_t offset, std::size_t point);
    // The message for a held file found damaged.
    std::string DamageMessage() const;
    // DamageMessage when the held file is `chosen` and was found damaged;
    // empty otherwise.
    std::string Refusal(const std::string& chosen) const;

    // How a write is made durable: fdatasync by default; returns -1 with
    // errno set on failure.
    void SetSync(std::function<int(int fd)> sync) { m_sync = std::move(sync); }

    bool IsOpen() const { return m_held.fd >= 0; }
    int Fd() const { return m_held.fd; }
    const std::string& Path() const { return m_held.path; }
    bool Locked() const { return m_held.locked; }
    dev_t Device() const { return m_held.device; }
    ino_t Inode() const { return m_held.inode; }
    std::int64_t Size() const { return m_held.size; }
    // End of the last complete point, once known; -1 before.
    std::int64_t TailEnd() const { return m_held.tailEnd; }

private:
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

    bool SameFileAtPath(const std::string& path) const;
    bool CheckTail();
    // Takes the record lock beside the flock; false with errno when another
    // program holds a record lock on the file.
    static bool TakeRecordLock(int fd);
    // For a path whose last component is a symbolic link: says that no
    // collection file is created through it. False when it is no link.
    bool RefuseLink(const std::string& path);
    bool Append(const std::uint8_t* bytes, std::size_t length, std::int64_t offset);

    CollectionFailures& m_failures;
    std::function<void()> m_released;
    std::function<int(int)> m_sync;
    Held m_held;
};

}  // namespace ketrion
