#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "survey/SideStore.h"

struct sqlite3;

namespace ketrion {

// The points and readings tables of an open side store: per point, how and
// where it was placed and the fix's quality; per reading, the adapter's
// details. What is read back is checked (values of the wrong type or out of
// range count as missing), since the store's bytes are not trusted. A view
// on SideStore's connection, made for one call; a closed store (no
// connection) fails every write and reads nothing.
//
// Threads: used by the thread that called the SideStore method it serves.
class SideRows {
public:
    using Point = SideStore::Point;
    using Reading = SideStore::Reading;

    SideRows(sqlite3* db, const std::string& path) : m_db(db), m_path(path) {}

    // The rows of `points` and their readings (under each point's offset),
    // in one transaction: all or none. False with *message set.
    bool WritePoints(const std::vector<Point>& points,
                     const std::map<std::int64_t, std::vector<Reading>>& readings,
                     std::string* message);
    // Sets or clears the deleted mark of the point at `offset`, making a bare
    // row for a point that has none.
    bool SetDeleted(std::int64_t offset, bool deleted, std::string* message);

    std::map<std::int64_t, Point> Points() const;
    std::vector<Reading> ReadingsOf(std::int64_t offset) const;
    std::map<std::int64_t, std::vector<Reading>> AllReadings() const;

private:
    sqlite3* m_db;
    const std::string& m_path;  // the store's file, for messages
};

}  // namespace ketrion
