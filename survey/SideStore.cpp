#include "survey/SideStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <utility>

#include "survey/CollectionFile.h"

namespace ketrion {
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

constexpr const char* kPointColumns =
    "offset, scan_source, method, plan_x, plan_y, floor, time_ms, eph_m, satellites, mode, "
    "altitude_m, fix_flag, provisional, deleted, scan_start_ms, scan_end_ms";
constexpr const char* kReadingColumns =
    "point_offset, idx, bssid, ssid, frequency_mhz, channel, band, signal_mbm, signal_unspec, "
    "in_collection, security, phy, width_mhz, noise_dbm, age_ms";

// One prepared statement, finalized with the object. Binding and reading
// count columns from 0.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        m_rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Prepared() const { return m_rc == SQLITE_OK && m_stmt != nullptr; }
    int PrepareCode() const { return m_rc; }

    void BindInt(int column, std::int64_t value) {
        Keep(sqlite3_bind_int64(m_stmt, column + 1, value));
    }
    void BindReal(int column, std::optional<double> value) {
        Keep(value && std::isfinite(*value) ? sqlite3_bind_double(m_stmt, column + 1, *value)
                                            : sqlite3_bind_null(m_stmt, column + 1));
    }
    template <typename T>
    void BindInt(int column, const std::optional<T>& value) {
        Keep(value ? sqlite3_bind_int64(m_stmt, column + 1, static_cast<std::int64_t>(*value))
                   : sqlite3_bind_null(m_stmt, column + 1));
    }
    void BindText(int column, const std::string& text) {
        Keep(sqlite3_bind_text(m_stmt, column + 1, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT));
    }
    void BindBlob(int column, const std::string& bytes) {
        Keep(sqlite3_bind_blob(m_stmt, column + 1, bytes.data(), static_cast<int>(bytes.size()),
                               SQLITE_TRANSIENT));
    }

    // SQLITE_ROW, SQLITE_DONE or an error code (a failed bind comes first).
    int Step() { return m_bindRc != SQLITE_OK ? m_bindRc : sqlite3_step(m_stmt); }
    void Reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        m_bindRc = SQLITE_OK;
    }

    // Column values as stored; values of the wrong type or out of range count
    // as missing, since the store's bytes are not trusted.
    std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    std::optional<std::int64_t> OptionalInt64(int column) const {
        if (sqlite3_column_type(m_stmt, column) != SQLITE_INTEGER)
            return std::nullopt;
        return sqlite3_column_int64(m_stmt, column);
    }
    std::optional<int> OptionalInt(int column) const {
        const auto value = OptionalInt64(column);
        if (!value || *value < std::numeric_limits<int>::min() ||
            *value > std::numeric_limits<int>::max())
            return std::nullopt;
        return static_cast<int>(*value);
    }
    std::optional<double> OptionalReal(int column) const {
        const int type = sqlite3_column_type(m_stmt, column);
        if (type != SQLITE_FLOAT && type != SQLITE_INTEGER)
            return std::nullopt;
        const double value = sqlite3_column_double(m_stmt, column);
        if (!std::isfinite(value))
            return std::nullopt;
        return value;
    }
    std::string Bytes(int column) const {
        // A blob's bytes, or the text of any other value.
        const void* data = sqlite3_column_blob(m_stmt, column);
        const int size = sqlite3_column_bytes(m_stmt, column);
        if (data == nullptr || size <= 0)
            return {};
        return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
    }
    bool Flag(int column) const { return sqlite3_column_int64(m_stmt, column) != 0; }

private:
    void Keep(int rc) {
        if (m_bindRc == SQLITE_OK)
            m_bindRc = rc;
    }
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_OK;
    int m_bindRc = SQLITE_OK;
};

std::string ErrorText(sqlite3* db) {
    return db != nullptr ? sqlite3_errmsg(db) : "out of memory";
}

bool Exec(sqlite3* db, const char* sql, std::string* error) {
    char* text = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &text);
    if (rc != SQLITE_OK && error != nullptr)
        *error = text != nullptr ? text : sqlite3_errstr(rc);
    sqlite3_free(text);
    return rc == SQLITE_OK;
}

void Set(std::string* message, const std::string& text) {
    if (message != nullptr)
        *message = text;
}

bool Exists(const std::string& path, struct stat& st) {
    return ::lstat(path.c_str(), &st) == 0;
}

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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
         {std::string("SELECT ") + kPointColumns + " FROM points LIMIT 0",
          std::string("SELECT ") + kReadingColumns + " FROM readings LIMIT 0"}) {
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
        const std::string aside =
            store + kAsideSuffix + (n == 1 ? std::string() : "." + std::to_string(n));
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

// Leaves a store that is no longer written as a database file in rollback
// mode, so that readers open it read-only without making files beside it.
// Skipped when a reader holds it at this moment.
void LeaveWal(sqlite3* db) {
    sqlite3_busy_timeout(db, 0);
    Exec(db, "PRAGMA journal_mode=DELETE", nullptr);
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

SideStore::Point ReadPoint(const Statement& row) {
    SideStore::Point point;
    point.offset = row.Int(0);
    point.scanSource = row.Bytes(1);
    point.method = row.Bytes(2);
    point.planX = row.OptionalReal(3);
    point.planY = row.OptionalReal(4);
    point.floor = row.Bytes(5);
    point.timeMs = row.Int(6);
    point.ephMetres = row.OptionalReal(7);
    point.satellites = row.OptionalInt(8);
    point.mode = row.OptionalInt(9);
    point.altitudeMetres = row.OptionalReal(10);
    point.fixFlag = row.Bytes(11);
    point.provisional = row.Flag(12);
    point.deleted = row.Flag(13);
    point.scanStartMs = row.OptionalInt64(14);
    point.scanEndMs = row.OptionalInt64(15);
    return point;
}

std::optional<SideStore::Reading> ReadReading(const Statement& row) {
    SideStore::Reading reading;
    reading.pointOffset = row.Int(0);
    const auto index = row.OptionalInt(1);
    if (!index)
        return std::nullopt;
    reading.index = *index;
    reading.bssid = row.Bytes(2);
    reading.ssid = row.Bytes(3);
    reading.frequencyMhz = row.OptionalInt(4);
    reading.channel = row.OptionalInt(5);
    reading.band = row.Bytes(6);
    reading.signalMbm = row.OptionalInt(7);
    reading.signalUnspec = row.OptionalInt(8);
    reading.inCollection = row.Flag(9);
    reading.security = row.Bytes(10);
    reading.phy = row.Bytes(11);
    reading.widthMhz = row.OptionalInt(12);
    reading.noiseDbm = row.OptionalInt(13);
    reading.ageMs = row.OptionalInt(14);
    return reading;
}

}  // namespace

std::string SideStore::PathFor(const std::string& collectionPath) {
    return collectionPath + ".side";
}

SideStore::SideStore(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}

SideStore::~SideStore() {
    if (m_db != nullptr) {
        LeaveWal(m_db);
        sqlite3_close_v2(m_db);
    }
}

std::unique_ptr<SideStore> SideStore::OpenForWriting(const std::string& collectionPath,
                                                     const Identity& identity, std::string* message,
                                                     int busyTimeoutMs) {
    const std::string store = PathFor(collectionPath);
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
            return std::unique_ptr<SideStore>(new SideStore(db, store));
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

std::unique_ptr<SideStore> SideStore::OpenForReading(const std::string& collectionPath,
                                                     const Identity& identity,
                                                     std::string* message) {
    const std::string store = PathFor(collectionPath);
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
                return std::unique_ptr<SideStore>(new SideStore(db, store));
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

namespace {

// Writes points and their readings inside the caller's transaction. False
// with the SQLite error and the failing point's offset.
class RowWriter {
public:
    explicit RowWriter(sqlite3* db)
        : m_db(db),
          m_point(db, std::string("INSERT OR REPLACE INTO points(") + kPointColumns +
                          ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
          m_clear(db, "DELETE FROM readings WHERE point_offset = ?"),
          m_reading(db, std::string("INSERT INTO readings(") + kReadingColumns +
                            ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)") {}

    bool Write(const SideStore::Point& point, const std::vector<SideStore::Reading>& readings) {
        if (!m_point.Prepared() || !m_clear.Prepared() || !m_reading.Prepared())
            return Fail();
        m_point.Reset();
        m_point.BindInt(0, point.offset);
        m_point.BindText(1, point.scanSource);
        m_point.BindText(2, point.method);
        m_point.BindReal(3, point.planX);
        m_point.BindReal(4, point.planY);
        m_point.BindText(5, point.floor);
        m_point.BindInt(6, point.timeMs);
        m_point.BindReal(7, point.ephMetres);
        m_point.BindInt(8, point.satellites);
        m_point.BindInt(9, point.mode);
        m_point.BindReal(10, point.altitudeMetres);
        m_point.BindText(11, point.fixFlag);
        m_point.BindInt(12, point.provisional ? 1 : 0);
        m_point.BindInt(13, point.deleted ? 1 : 0);
        m_point.BindInt(14, point.scanStartMs);
        m_point.BindInt(15, point.scanEndMs);
        if (m_point.Step() != SQLITE_DONE)
            return Fail();
        // A point written again (a retried write at the same offset) keeps
        // only its new readings.
        m_clear.Reset();
        m_clear.BindInt(0, point.offset);
        if (m_clear.Step() != SQLITE_DONE)
            return Fail();
        for (const SideStore::Reading& r : readings) {
            m_reading.Reset();
            m_reading.BindInt(0, point.offset);
            m_reading.BindInt(1, r.index);
            m_reading.BindText(2, r.bssid);
            m_reading.BindBlob(3, r.ssid);
            m_reading.BindInt(4, r.frequencyMhz);
            m_reading.BindInt(5, r.channel);
            m_reading.BindText(6, r.band);
            m_reading.BindInt(7, r.signalMbm);
            m_reading.BindInt(8, r.signalUnspec);
            m_reading.BindInt(9, r.inCollection ? 1 : 0);
            m_reading.BindText(10, r.security);
            m_reading.BindText(11, r.phy);
            m_reading.BindInt(12, r.widthMhz);
            m_reading.BindInt(13, r.noiseDbm);
            m_reading.BindInt(14, r.ageMs);
            if (m_reading.Step() != SQLITE_DONE)
                return Fail();
        }
        return true;
    }
    const std::string& Error() const { return m_error; }

private:
    bool Fail() {
        m_error = ErrorText(m_db);
        return false;
    }
    sqlite3* m_db;
    Statement m_point, m_clear, m_reading;
    std::string m_error;
};

}  // namespace

void SideStore::SetBusyTimeout(int milliseconds) {
    if (m_db != nullptr)
        sqlite3_busy_timeout(m_db, milliseconds);
}

bool SideStore::WritePoint(const Point& point, const std::vector<Reading>& readings,
                           std::string* message) {
    std::map<std::int64_t, std::vector<Reading>> byOffset;
    byOffset.emplace(point.offset, readings);
    return WritePoints({point}, byOffset, message);
}

bool SideStore::WritePoints(const std::vector<Point>& points,
                            const std::map<std::int64_t, std::vector<Reading>>& readings,
                            std::string* message) {
    if (m_db == nullptr) {
        Set(message, "The side store " + m_path + " is closed.");
        return false;
    }
    std::string error;
    if (!Exec(m_db, "BEGIN IMMEDIATE", &error)) {
        Set(message, "Cannot write to the side store " + m_path + ": " + error + ".");
        return false;
    }
    bool ok = true;
    std::optional<std::int64_t> failed;  // the point whose rows failed, when one did
    {
        RowWriter writer(m_db);
        static const std::vector<Reading> kNone;
        for (const Point& point : points) {
            const auto found = readings.find(point.offset);
            if (!writer.Write(point, found != readings.end() ? found->second : kNone)) {
                ok = false;
                failed = point.offset;
                error = writer.Error();
                break;
            }
        }
    }
    if (ok && !Exec(m_db, "COMMIT", &error))
        ok = false;
    if (!ok) {
        Exec(m_db, "ROLLBACK", nullptr);
        // A failed commit (a full disk) belongs to no one point.
        const std::string which = failed ? "the point at offset " + std::to_string(*failed)
                                  : points.size() == 1
                                      ? "the point at offset " + std::to_string(points[0].offset)
                                      : std::to_string(points.size()) + " points";
        Set(message,
            "Cannot write the side details of " + which + " to " + m_path + ": " + error + ".");
    }
    return ok;
}

namespace {

// Changes a point's row, making a bare one (every detail unknown) for a
// point that has none, so the change is kept for any point of the file.
bool Upsert(sqlite3* db, const std::string& path, std::int64_t offset, const std::string& sql,
            const std::function<void(Statement&)>& bind, std::string* message) {
    if (db == nullptr) {
        Set(message, "The side store " + path + " is closed.");
        return false;
    }
    Statement statement(db, sql);
    bool ok = statement.Prepared();
    if (ok) {
        statement.BindInt(0, offset);
        bind(statement);
        ok = statement.Step() == SQLITE_DONE;
    }
    if (!ok)
        Set(message, "Cannot update the point at offset " + std::to_string(offset) + " in " + path +
                         ": " + ErrorText(db) + ".");
    return ok;
}

}  // namespace

bool SideStore::SetDeleted(std::int64_t offset, bool deleted, std::string* message) {
    return Upsert(
        m_db, m_path, offset,
        "INSERT INTO points(offset, deleted) VALUES (?1, ?2) "
        "ON CONFLICT(offset) DO UPDATE SET deleted = excluded.deleted",
        [&](Statement& s) { s.BindInt(1, deleted ? 1 : 0); }, message);
}

namespace {

// The walk's pending scans: made when first needed, so stores written before
// it keep working.
constexpr const char* kPendingTableSql =
    "CREATE TABLE IF NOT EXISTS pending_scans(seq INTEGER PRIMARY KEY, body TEXT NOT NULL)";

}  // namespace

bool SideStore::AddPendingScan(std::int64_t seq, const std::string& body, std::string* message) {
    std::string error;
    if (m_db == nullptr || !Exec(m_db, kPendingTableSql, &error)) {
        Set(message, "Cannot keep a walk's scan in " + m_path + ": " + error);
        return false;
    }
    Statement insert(m_db, "INSERT OR REPLACE INTO pending_scans(seq, body) VALUES (?, ?)");
    if (insert.Prepared()) {
        insert.BindInt(0, seq);
        insert.BindText(1, body);
        if (insert.Step() == SQLITE_DONE)
            return true;
    }
    Set(message, "Cannot keep a walk's scan in " + m_path + ": " + ErrorText(m_db));
    return false;
}

bool SideStore::RemovePendingScan(std::int64_t seq, std::string* message) {
    if (m_db == nullptr)
        return false;
    Statement remove(m_db, "DELETE FROM pending_scans WHERE seq = ?");
    if (remove.Prepared()) {
        remove.BindInt(0, seq);
        if (remove.Step() == SQLITE_DONE)
            return true;
    }
    // No table: nothing was pending.
    if (sqlite3_errcode(m_db) == SQLITE_ERROR)
        return true;
    Set(message, "Cannot update " + m_path + ": " + ErrorText(m_db));
    return false;
}

bool SideStore::SetAsidePendingScan(std::int64_t seq, const std::string& why,
                                    std::string* message) {
    std::string error;
    if (m_db == nullptr) {
        Set(message, "The side store " + m_path + " is closed.");
        return false;
    }
    bool ok = Exec(m_db, "BEGIN IMMEDIATE", &error) &&
              Exec(m_db,
                   "CREATE TABLE IF NOT EXISTS pending_scans_aside(seq INTEGER NOT NULL, "
                   "body BLOB NOT NULL, why TEXT NOT NULL)",
                   &error);
    if (ok) {
        Statement copy(m_db,
                       "INSERT INTO pending_scans_aside(seq, body, why) SELECT seq, body, ? FROM "
                       "pending_scans WHERE seq = ?");
        Statement remove(m_db, "DELETE FROM pending_scans WHERE seq = ?");
        ok = copy.Prepared() && remove.Prepared();
        if (ok) {
            copy.BindText(0, why);
            copy.BindInt(1, seq);
            remove.BindInt(0, seq);
            ok = copy.Step() == SQLITE_DONE && remove.Step() == SQLITE_DONE;
        }
        if (!ok)
            error = ErrorText(m_db);
    }
    ok = ok && Exec(m_db, "COMMIT", &error);
    if (!ok) {
        Exec(m_db, "ROLLBACK", nullptr);
        Set(message, "Cannot set aside a walk's scan in " + m_path + ": " + error + ".");
    }
    return ok;
}

std::vector<std::pair<std::int64_t, std::string>> SideStore::PendingScans() const {
    std::vector<std::pair<std::int64_t, std::string>> scans;
    if (m_db == nullptr)
        return scans;
    Statement select(m_db, "SELECT seq, body FROM pending_scans ORDER BY seq");
    if (!select.Prepared())
        return scans;  // a store without the table has none
    while (select.Step() == SQLITE_ROW)
        scans.emplace_back(select.Int(0), select.Bytes(1));
    return scans;
}

std::map<std::int64_t, SideStore::Point> SideStore::Points() const {
    std::map<std::int64_t, Point> points;
    if (m_db == nullptr)
        return points;
    Statement select(m_db, std::string("SELECT ") + kPointColumns + " FROM points ORDER BY offset");
    if (!select.Prepared())
        return points;
    while (select.Step() == SQLITE_ROW) {
        Point point = ReadPoint(select);
        points.emplace(point.offset, std::move(point));
    }
    return points;
}

std::vector<SideStore::Reading> SideStore::ReadingsOf(std::int64_t offset) const {
    std::vector<Reading> readings;
    if (m_db == nullptr)
        return readings;
    Statement select(m_db, std::string("SELECT ") + kReadingColumns +
                               " FROM readings WHERE point_offset = ? ORDER BY idx");
    if (!select.Prepared())
        return readings;
    select.BindInt(0, offset);
    while (select.Step() == SQLITE_ROW) {
        if (auto reading = ReadReading(select))
            readings.push_back(std::move(*reading));
    }
    return readings;
}

std::map<std::int64_t, std::vector<SideStore::Reading>> SideStore::AllReadings() const {
    std::map<std::int64_t, std::vector<Reading>> readings;
    if (m_db == nullptr)
        return readings;
    Statement select(m_db, std::string("SELECT ") + kReadingColumns +
                               " FROM readings ORDER BY point_offset, idx");
    if (!select.Prepared())
        return readings;
    while (select.Step() == SQLITE_ROW) {
        if (auto reading = ReadReading(select))
            readings[reading->pointOffset].push_back(std::move(*reading));
    }
    return readings;
}

bool SideStore::Close(std::string* message) {
    if (m_db == nullptr) {
        Set(message, "The side store " + m_path + " is closed.");
        return false;
    }
    bool ok = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                        nullptr) == SQLITE_OK;
    std::string error = ok ? std::string() : ErrorText(m_db);
    LeaveWal(m_db);
    if (sqlite3_close(m_db) != SQLITE_OK && ok) {
        ok = false;
        error = ErrorText(m_db);
        sqlite3_close_v2(m_db);
    }
    m_db = nullptr;
    if (!ok)
        Set(message, "Cannot finish the side store " + m_path + ": " + error + ".");
    return ok;
}

SideStore::Identity SideIdentity(const std::string& collectionPath, const std::uint8_t* header25) {
    SideStore::Identity identity;
    identity.collectionName = FileName(collectionPath);
    identity.created =
        static_cast<std::int64_t>(collection::Get64(header25 + collection::kCreatedAt));
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < collection::kHeaderSize; ++i) {
        identity.headerHex += kDigits[header25[i] >> 4];
        identity.headerHex += kDigits[header25[i] & 0x0F];
    }
    return identity;
}

}  // namespace ketrion
