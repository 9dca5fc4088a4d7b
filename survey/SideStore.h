#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;

namespace ketrion {

// What the collection file cannot hold, kept in an SQLite database beside it
// ("FILE.ktd" -> "FILE.ktd.side"): per point, how and where it was placed and
// the fix's quality; per reading, the adapter's details; and a header row that
// ties the store to its collection file. The collection file stays
// authoritative: a side row without its point is ignored, a point without side
// rows is read from the collection file alone, and a store that is missing,
// damaged or belongs to another file never stops the collection file from
// loading.
//
// The work is shared by parts with one job each: SideSchema opens, checks,
// makes or sets aside the database; SideRows writes and reads the point and
// reading rows; SidePendingScans keeps a walk's scans. This object owns the
// connection and closes it.
//
// Threads: one object is used by one thread at a time (the collection file's
// writer thread, or a reader); the owner serialises.
class SideStore {
public:
    // Schema version written in the header row.
    static constexpr int kSchemaVersion = 1;
    // How long a write waits for another connection's lock (a reader's
    // transaction or a checkpoint holds it for a few milliseconds).
    static constexpr int kBusyTimeoutMs = 5000;

    // Ties a store to one collection file: its 25-byte header (which holds
    // the creation time). The file name is written in the store for people
    // to read but not compared: a file and its store renamed together stay
    // together.
    struct Identity {
        std::string collectionName;  // file name without folder (informative)
        std::int64_t created = 0;    // header bytes 13..20
        std::string headerHex;       // the 25 header bytes, lower-case hex
    };

    struct Point {
        std::int64_t offset = 0;  // the location record's offset in the collection file
        std::string scanSource;   // "board", "wifi", "wifi-replay", ...
        std::string method;  // how the position was obtained: "board", "gpsd", "stop", "walk", ...
        std::optional<double> planX, planY;
        std::string floor;        // plan or floor name
        std::int64_t timeMs = 0;  // wall clock, ms since 1970
        std::optional<double> ephMetres;
        std::optional<int> satellites;
        std::optional<int> mode;
        std::optional<double> altitudeMetres;
        std::string fixFlag;       // "", "no-fix", "stale" or "jump"
        bool provisional = false;  // a walk reading not yet placed
        bool deleted = false;
        std::optional<std::int64_t> scanStartMs, scanEndMs;  // session clock
    };

    struct Reading {
        std::int64_t pointOffset = 0;
        int index = 0;      // within the point, from 0, in collection-file order;
                            // readings not in the collection file follow
        std::string bssid;  // "aa:bb:cc:dd:ee:ff"
        std::string ssid;   // the full name
        std::optional<int> frequencyMhz, channel;
        std::string band;
        std::optional<int> signalMbm, signalUnspec;
        bool inCollection = true;
        std::string security, phy;
        std::optional<int> widthMhz, noiseDbm, ageMs;
    };

    // "FILE.ktd" -> "FILE.ktd.side".
    static std::string PathFor(const std::string& collectionPath);

    // Opens or creates the store for writing (WAL, synchronous FULL). A store
    // that belongs to another collection file, or is damaged, is set aside
    // (renamed "<store>.old", or ".old.2", ".old.3" ... when that is taken:
    // never replacing one set aside before) and a new one made; *message
    // says so.
    // Null with *message set when none can be made. Never follows a symbolic
    // link planted at the store's path (nor at its "-wal" or "-shm" files):
    // refused, as is a store made by a newer schema (left as it is).
    static std::unique_ptr<SideStore> OpenForWriting(const std::string& collectionPath,
                                                     const Identity& identity, std::string* message,
                                                     int busyTimeoutMs = kBusyTimeoutMs);
    // Opens an existing store read-only. Null when there is none (no message)
    // or it is damaged or foreign (*message: one clear line). A store in a
    // folder the reader cannot write is still read.
    static std::unique_ptr<SideStore> OpenForReading(const std::string& collectionPath,
                                                     const Identity& identity,
                                                     std::string* message);
    ~SideStore();
    SideStore(const SideStore&) = delete;
    SideStore& operator=(const SideStore&) = delete;

    // Writes one point and its readings in one transaction. False on failure
    // (*message set); the collection file's point stands either way.
    bool WritePoint(const Point& point, const std::vector<Reading>& readings, std::string* message);
    // Writes many points likewise, in one transaction: all or none.
    // `readings` holds each point's readings under its offset.
    bool WritePoints(const std::vector<Point>& points,
                     const std::map<std::int64_t, std::vector<Reading>>& readings,
                     std::string* message);
    // How long later writes wait for another connection's lock.
    void SetBusyTimeout(int milliseconds);
    // Sets or clears the deleted mark of the point at `offset`.
    bool SetDeleted(std::int64_t offset, bool deleted, std::string* message);

    // The scans of a continuous walk not yet placed, kept here as soon as they
    // end so that none is lost (a walk cut by a stop or a crash is offered
    // for placement when the file is opened again); removed once placed.
    bool AddPendingScan(std::int64_t seq, const std::string& body, std::string* message);
    bool RemovePendingScan(std::int64_t seq, std::string* message);
    std::vector<std::pair<std::int64_t, std::string>> PendingScans() const;
    // Moves a pending scan that cannot be read to the table
    // "pending_scans_aside" with the reason, so it is neither offered again
    // nor lost.
    bool SetAsidePendingScan(std::int64_t seq, const std::string& why, std::string* message);

    // Every point row, by offset; readings of one point in index order.
    std::map<std::int64_t, Point> Points() const;
    std::vector<Reading> ReadingsOf(std::int64_t offset) const;
    // Every reading row, by point offset.
    std::map<std::int64_t, std::vector<Reading>> AllReadings() const;

    // Finishes with the store: folds the write-ahead log into the database
    // file and closes it, so the store is one file on disk. False when that
    // fails (*message set); the object is closed either way and any later
    // call fails.
    bool Close(std::string* message);

    // The store's file.
    const std::string& Path() const { return m_path; }

private:
    SideStore(sqlite3* db, std::string path);
    sqlite3* m_db = nullptr;
    std::string m_path;
};

// Collection-file header bytes -> the identity a side store is checked against.
SideStore::Identity SideIdentity(const std::string& collectionPath, const std::uint8_t* header25);

}  // namespace ketrion
