#pragma once

#include <string>

#include "survey/SideStore.h"

struct sqlite3;

namespace ketrion {

// How a side store is laid out, and how a connection to one is made: the
// tables of schema version 1, the check of an open store (its structure, its
// schema version, the collection file it belongs to), the writer's settings,
// the tables made in a new store, and a damaged or foreign store set aside.
// SideStore owns the connections these functions hand back.
//
// Threads: no state of its own; a connection is used by one thread at a time.
class SideSchema {
public:
    // The columns of the points and readings tables, in the order the rows
    // are written and read.
    static constexpr const char* kPointColumns =
        "offset, scan_source, method, plan_x, plan_y, floor, time_ms, eph_m, satellites, mode, "
        "altitude_m, fix_flag, provisional, deleted, scan_start_ms, scan_end_ms";
    static constexpr const char* kReadingColumns =
        "point_offset, idx, bssid, ssid, frequency_mhz, channel, band, signal_mbm, signal_unspec, "
        "in_collection, security, phy, width_mhz, noise_dbm, age_ms";

    // The connection behind SideStore::OpenForWriting for the store at
    // `store`; null with *message set when none can be made. On success
    // *message says what was set aside, or is emptied.
    static sqlite3* OpenForWriting(const std::string& store, const SideStore::Identity& identity,
                                   std::string* message, int busyTimeoutMs);
    // The connection behind SideStore::OpenForReading; null when there is no
    // store (no message) or it cannot be used (*message: one clear line).
    static sqlite3* OpenForReading(const std::string& store, const SideStore::Identity& identity,
                                   std::string* message);
    // Leaves a store that is no longer written as a database file in rollback
    // mode, so that readers open it read-only without making files beside it.
    // Skipped when a reader holds it at this moment.
    static void LeaveWal(sqlite3* db);
};

}  // namespace ketrion
