#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "survey/SideStore.h"

namespace ketrion {

class HeldFile;
class Prompt;

// The side store beside the held collection file, as the writer keeps it:
// after a point's durable write it puts what the collection file cannot hold
// (placement, source, fix quality, reading details) into the store, in one
// transaction. The store is opened on the first point written, once per
// file, and tried again after a failure. A store that cannot be written is
// reported once; the collection file's point stands, and its rows are kept
// back and written with the next point or Flush.
//
// Threads: the writer thread, under the owner's file mutex, but Behind (an
// atomic count any thread may read).
class SideWriter {
public:
    // The operation a surveyor's change runs on the store (a deletion, a
    // walk's scan kept); false with *message set.
    using Operation = std::function<bool(SideStore&, std::string*)>;

    SideWriter(const HeldFile& file, Prompt& prompt) : m_file(file), m_prompt(prompt) {}

    // The side rows of a point written at `offset` in the held file.
    void Write(const SideStore::Point& point, const std::vector<SideStore::Reading>& readings,
               std::int64_t offset);
    // Work on the held file's store alone: the rows kept back first, then
    // `op` (unless `catchUpOnly`, when the rows kept back are all). A failed
    // `op` is said every time. True once done.
    bool Run(const Operation& op, bool catchUpOnly);
    // Points whose rows are kept back, waiting for the store.
    std::size_t Behind() const { return m_behindCount.load(); }
    // How long a write waits for another program's lock before its rows
    // are kept back for later.
    void SetBusyTimeout(int milliseconds) { m_waitMs = milliseconds; }

private:
    // The held file's store: opened once per file, tried again after a
    // failure (*failure set).
    SideStore* Store(std::string* failure);
    // Says an outage once.
    void Outage(const std::string& message);
    // Writes the rows kept back; false when the store still cannot take them.
    bool CatchUp();
    // The store open (or last tried) is the held file's.
    bool ForHeldFile() const;

    const HeldFile& m_file;
    Prompt& m_prompt;
    // The store, for the file identified below.
    std::unique_ptr<SideStore> m_side;
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    // Rows of written points the store has not taken yet (a lock held by
    // another program, a full disk): written with the next point or Flush.
    std::vector<std::pair<SideStore::Point, std::vector<SideStore::Reading>>> m_behind;
    std::atomic<std::size_t> m_behindCount{0};
    bool m_outage = false;  // said; not said again until the store recovers
    int m_waitMs = SideStore::kBusyTimeoutMs;
};

}  // namespace ketrion
