#include "survey/SideSchema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "survey/SideSql.h"

namespace ketrion {

using namespace sidesql;

namespace {

using Identity = SideStore::Identity;

// Suffixes of the files SQLite keeps beside a database in WAL mode.
constexpr const char* kCompanions[] = {"-wal", "-shm"};

// The name of a store set aside: "<store>.old".
constexpr const char* kAsideSuffix = ".old";

// Version 1 of the layout. Readings are keyed by their point's offset and
// their index, without a foreign key: the collection file, not this store,
// decides which points exist, and a row for a point it never got is ignored.
// Network names are kept as blobs: they are bytes, not necessarily text.
constexpr const char* kSchemaSql = R"sql(
CREATE TABLE header(
    id INTEGER PRIMARY KEY CHECK (id = 1),
    schema_version INTEGER NOT NULL,
    collection_name TEXT NOT NULL,
    created INTEGER NOT NULL,
    header_hex TEXT NOT NULL);
CREATE TABLE points(
    offset INTEGER PRIMARY KEY,
    scan_source TEXT NOT NULL DEFAULT '',
    method TEXT NOT NULL DEFAULT '',
    plan_x REAL,
    plan_y REAL,
    floor TEXT NOT NULL DEFAULT '',
    time_ms INTEGER NOT NULL DEFAULT 0,
    eph_m REAL,
    satellites INTEGER,
    mode INTEGER,
    altitude_m REAL,
    fix_flag TEXT NOT NULL DEFAULT '',
    provisional INTEGER NOT NULL DEFAULT 0,
    deleted INTEGER NOT NULL DEFAULT 0,
    scan_start_ms INTEGER,
    scan_end_ms INTEGER);
CREATE TABLE readings(
    point_offset INTEGER NOT NULL,
    idx INTEGER NOT NULL,
    bssid TEXT NOT NULL,
    ssid BLOB NOT NULL,
    frequency_mhz INTEGER,
    channel INTEGER,
    band TEXT NOT NULL,
    signal_mbm INTEGER,
    signal_unspec INTEGER,
    in_collection INTEGER NOT NULL,
    security TEXT NOT NULL,
    phy TEXT NOT NULL,
    width_mhz INTEGER,
    noise_dbm INTEGER,
    age_ms INTEGER,
    PRIMARY KEY (point_offset, idx)) WITHOUT ROWID;
)sql";

bool Exists(const std::string& path, struct stat& st) {
    return ::lstat(path.c_str(), &st) == 0;
}

// What checking an open store found.
enum class Verdict { Good, Empty, Damaged, Foreign, Newer, Unreadable };

struct Check {
    Verdict verdict = Verdict::Good;
    std::string detail;  // why, for a message
};

bool IsDamageCode(int rc) {
    rc &= 0xFF;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB || rc == SQLITE_ERROR ||
           rc == SQLITE_MISMATCH || rc == SQLITE_FORMAT || rc == SQLITE_RANGE;
}

Check Failed(sqlite3* db, int rc) {
    return {IsDamageCode(rc) ? Verdict::Damaged : Verdict::Unreadable, ErrorText(db)};
}

// Checks the database's structure, its schema version and the identity in
// its header row against `identity`.
Check Verify(sqlite3* db, const Identity& identity) {
    {
        Statement count(db, "SELECT count(*) FROM sqlite_schema");
        if (!count.Prepared())
            return Failed(db, count.PrepareCode());
        const int rc = count.Step();
        if (rc != SQLITE_ROW)
            return Failed(db, rc);
        if (count.Int(0) == 0)
            return {Verdict::Empty, {}};
    }
    {
        Statement check(db, "PRAGMA quick_check(1)");
        if (!check.Prepared())
            return Failed(db, check.PrepareCode());
        const int rc = check.Step();
        if (rc != SQLITE_ROW)
            return Failed(db, rc);
        if (check.Bytes(0) != "ok")
            return {Verdict::Damaged, check.Bytes(0)};
    }
    Statement header(
        db, "SELECT schema_version, collection_name, created, header_hex FROM header WHERE id = 1");
    if (!header.Prepared())
        return Failed(db, header.PrepareCode());
    const int rc = header.Step();
    if (rc == SQLITE_DONE)
        return {Verdict::Damaged, "it has no header row"};
    if (rc != SQLITE_ROW)
        return Failed(db, rc);
    const auto version = header.OptionalInt64(0);
    if (!version || *version < 1)
        return {Verdict::Damaged, "its schema version is not valid"};
    if (*version > SideStore::kSchemaVersion)
        return {Verdict::Newer, "it was made with schema version " + std::to_string(*version) +
                                    ", newer than this program's " +
                                    std::to_string(SideStore::kSchemaVersion)};
    // The tables the reads below use, with every column they name.
    for (const std::string& sql :
         {std::string("SELECT ") + SideSchema::kPointColumns + " FROM points LIMIT 0",
          std::string("SELECT ") + SideSchema::kReadingColumns + " FROM readings LIMIT 0"}) {
        Statement probe(db, sql);
        if (!probe.Prepared())
            return Failed(db, probe.PrepareCode());
    }
    // The header bytes (which hold the creation time) tie the store to its
    // collection file; the file's name does not, so the two can be renamed
    // or moved together.
    const auto created = header.OptionalInt64(2);
    if (created != identity.created || header.Bytes(3) != identity.headerHex) {
        return {Verdict::Foreign,
                "it belongs to another collection file (\"" + header.Bytes(1) + "\")"};
    }
    return {Verdict::Good, {}};
}

// Moves a store and its companions aside to the first free name of
// "<store>.old", "<store>.old.2", "<store>.old.3" ...: a store set aside
// earlier is never replaced. False with the reason when none can be moved.
bool SetAside(const std::string& store, std::string* asideName, std::string* error) {
    constexpr int kMostAside = 1000;
    for (int n = 1; n <= kMostAside; ++n) {
        // Appended piece by piece: GCC 12 sees a false overlap in "." + to_string.
        std::string aside = store + kAsideSuffix;
        if (n > 1)
            aside.append(".").append(std::to_string(n));
        struct stat st {};
        bool taken = false;
        for (const char* suffix : {"", kCompanions[0], kCompanions[1]})
            taken = taken || Exists(aside + suffix, st);
        if (taken)
            continue;
        // Refuses to replace a name taken in the meantime.
        if (::renameat2(AT_FDCWD, store.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                continue;
            *error = std::strerror(errno);
            return false;
        }
        for (const char* companion : kCompanions) {
            if (::rename((store + companion).c_str(), (aside + companion).c_str()) != 0 &&
                errno != ENOENT) {
                *error = std::strerror(errno);
                return false;
            }
        }
        *asideName = aside;
        return true;
    }
    *error = "every name from " + store + kAsideSuffix + " to " + store + kAsideSuffix + "." +
             std::to_string(kMostAside) + " is taken";
    return false;
}

// Refuses a symbolic link or anything but a regular file at the store's path
// or its companions: SQLite would write through it.
bool SafeToWrite(const std::string& store, std::string* message) {
    const std::string paths[] = {store, store + kCompanions[0], store + kCompanions[1]};
    for (const std::string& path : paths) {
        struct stat st {};
        if (!Exists(path, st))
            continue;
        if (S_ISLNK(st.st_mode)) {
            Set(message, "The side store " + path +
                             " is a symbolic link; it is not followed and no side details are "
                             "written.");
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            Set(message,
                "The side store " + path + " is not a regular file; no side details are written.");
            return false;
        }
    }
    return true;
}

sqlite3* OpenDatabase(const std::string& path, int flags, std::string* error,
                      int busyTimeoutMs = SideStore::kBusyTimeoutMs) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        *error = ErrorText(db);
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    return db;
}

// Puts the writer's settings on an open store: WAL journal, every commit
// synced. False (with the reason) when the file is not a usable database.
Check Configure(sqlite3* db) {
    Statement journal(db, "PRAGMA journal_mode=WAL");
    if (!journal.Prepared())
        return Failed(db, journal.PrepareCode());
    const int rc = journal.Step();
    if (rc != SQLITE_ROW)
        return Failed(db, rc);
    if (journal.Bytes(0) != "wal")
        return {Verdict::Unreadable, "cannot use a write-ahead log"};
    std::string error;
    if (!Exec(db, "PRAGMA synchronous=FULL", &error))
        return {Verdict::Unreadable, error};
    return {Verdict::Good, {}};
}

bool CreateSchema(sqlite3* db, const Identity& identity, std::string* error) {
    if (!Exec(db, "BEGIN IMMEDIATE", error))
        return false;
    bool ok = Exec(db, kSchemaSql, error);
    if (ok) {
        Statement insert(db,
                         "INSERT INTO header(id, schema_version, collection_name, created, "
                         "header_hex) VALUES (1, ?, ?, ?, ?)");
        ok = insert.Prepared();
        if (ok) {
            insert.BindInt(0, SideStore::kSchemaVersion);
            insert.BindText(1, identity.collectionName);
            insert.BindInt(2, identity.created);
            insert.BindText(3, identity.headerHex);
            ok = insert.Step() == SQLITE_DONE;
        }
        if (!ok)
            *error = ErrorText(db);
    }
    ok = ok && Exec(db, "PRAGMA user_version=1", error) && Exec(db, "COMMIT", error);
    if (!ok)
        Exec(db, "ROLLBACK", nullptr);
    return ok;
}

// A path as an SQLite URI ("file:" and the percent-encoded path).
std::string Uri(const std::string& path) {
    std::string uri = "file:";
    for (unsigned char c : path) {
        if (std::isalnum(c) != 0 || std::strchr("/-._~", c) != nullptr) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

}  // namespace

sqlite3* SideSchema::OpenForWriting(const std::string& store, const Identity& identity,
                                    std::string* message, int busyTimeoutMs) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW;
    std::string aside;  // what was set aside, for the message
    // At most two rounds: the store found, then a fresh one after setting it aside.
    for (int round = 0; round < 2; ++round) {
        if (!SafeToWrite(store, message))
            return nullptr;
        std::string error;
        sqlite3* db = OpenDatabase(store, flags, &error, busyTimeoutMs);
        if (db == nullptr) {
            Set(message, "Cannot open the side store " + store + ": " + error + ".");
            return nullptr;
        }
        Check check = Verify(db, identity);
        if (check.verdict == Verdict::Good || check.verdict == Verdict::Empty) {
            const Check configured = Configure(db);
            if (configured.verdict != Verdict::Good)
                check = configured;
        }
        if (check.verdict == Verdict::Empty) {
            if (CreateSchema(db, identity, &error)) {
                check.verdict = Verdict::Good;
            } else {
                check = {Verdict::Unreadable, error};
            }
        }
        if (check.verdict == Verdict::Good) {
            Set(message, aside);
            return db;
        }
        sqlite3_close_v2(db);
        if (round > 0 || (check.verdict != Verdict::Damaged && check.verdict != Verdict::Foreign)) {
            Set(message, "Cannot use the side store " + store + ": " + check.detail +
                             "; no side details are written.");
            return nullptr;
        }
        std::string asideName;
        if (!SetAside(store, &asideName, &error)) {
            Set(message, "Cannot set aside the side store " + store + " (" + check.detail +
                             "): " + error + "; no side details are written.");
            return nullptr;
        }
        aside = std::string("The side store ") + store + " " +
                (check.verdict == Verdict::Foreign ? "belongs to another collection file"
                                                   : "is damaged (" + check.detail + ")") +
                "; it was set aside as " + asideName + " and a new one started.";
    }
    return nullptr;
}

sqlite3* SideSchema::OpenForReading(const std::string& store, const Identity& identity,
                                    std::string* message) {
    struct stat st {};
    if (::stat(store.c_str(), &st) != 0) {
        if (errno != ENOENT)
            Set(message, "Cannot read the side store " + store + ": " + std::strerror(errno) +
                             "; the collection file is read without it.");
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        Set(message, "The side store " + store +
                         " is not a regular file; the collection file is read without it.");
        return nullptr;
    }
    // A store in WAL mode needs its "-shm" file, which a reader makes when it
    // is missing; where the folder does not allow that, the store is read as
    // it stands on disk.
    const std::string names[] = {store, Uri(store) + "?immutable=1"};
    const int flags[] = {SQLITE_OPEN_READONLY, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI};
    Check check;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string error;
        sqlite3* db = OpenDatabase(names[attempt], flags[attempt], &error);
        if (db == nullptr) {
            check = {Verdict::Unreadable, error};
        } else {
            check = Verify(db, identity);
            if (check.verdict == Verdict::Good)
                return db;
            const int rc = sqlite3_extended_errcode(db) & 0xFF;
            sqlite3_close_v2(db);
            if (check.verdict != Verdict::Unreadable ||
                (rc != SQLITE_CANTOPEN && rc != SQLITE_READONLY))
                break;
        }
    }
    std::string why;
    switch (check.verdict) {
        case Verdict::Foreign:
            why = "belongs to another collection file";
            break;
        case Verdict::Empty:
            why = "is empty";
            break;
        case Verdict::Newer:
            why = "cannot be read: " + check.detail;
            break;
        case Verdict::Damaged:
            why = "is damaged (" + check.detail + ")";
            break;
        default:
            why = "cannot be read: " + check.detail;
            break;
    }
    Set(message,
        "The side store " + store + " " + why + "; the collection file is read without it.");
    return nullptr;
}

void SideSchema::LeaveWal(sqlite3* db) {
    sqlite3_busy_timeout(db, 0);
    Exec(db, "PRAGMA journal_mode=DELETE", nullptr);
}

}  // namespace ketrion
