#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace ketrion {

// The scans of a continuous walk not yet placed, in an open side store: kept
// as soon as they end so that none is lost, removed once placed, and one that
// cannot be read moved to "pending_scans_aside" with the reason. Their table
// is made when first needed, so stores written before it keep working. A view
// on SideStore's connection, made for one call; a closed store (no
// connection) keeps nothing and has nothing pending.
//
// Threads: used by the thread that called the SideStore method it serves.
class SidePendingScans {
public:
    SidePendingScans(sqlite3* db, const std::string& path) : m_db(db), m_path(path) {}

    bool Add(std::int64_t seq, const std::string& body, std::string* message);
    bool Remove(std::int64_t seq, std::string* message);
    bool SetAside(std::int64_t seq, const std::string& why, std::string* message);
    // Every kept scan, by sequence number.
    std::vector<std::pair<std::int64_t, std::string>> All() const;

private:
    sqlite3* m_db;
    const std::string& m_path;  // the store's file, for messages
};

}  // namespace ketrion
