#include "site/SiteFile.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

namespace ketrion::site {

namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"sql(
CREATE TABLE site(
    id INTEGER PRIMARY KEY CHECK (id = 1),
    name TEXT NOT NULL);
CREATE TABLE buildings(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE);
CREATE TABLE floors(
    id INTEGER PRIMARY KEY,
    building_id INTEGER NOT NULL REFERENCES buildings(id),
    name TEXT NOT NULL,
    level INTEGER NOT NULL,
    height_m REAL NOT NULL,
    projection TEXT NOT NULL,
    UNIQUE (building_id, name));
CREATE TABLE reference_points(
    floor_id INTEGER NOT NULL REFERENCES floors(id),
    label TEXT NOT NULL,
    x REAL NOT NULL,
    y REAL NOT NULL,
    PRIMARY KEY (floor_id, label));
CREATE TABLE collections(
    id INTEGER PRIMARY KEY,
    floor_id INTEGER NOT NULL REFERENCES floors(id),
    path TEXT NOT NULL UNIQUE,
    surveyor TEXT NOT NULL,
    adapter TEXT NOT NULL,
    date TEXT NOT NULL,
    enabled INTEGER NOT NULL);
)sql";

// Most rows of each kind taken from a file: far beyond any site, yet a bound
// on what a crafted file can make this program hold.
constexpr std::size_t kMaxRows = 100'000;

// The first bytes of every SQLite database.
constexpr char kSqliteMagic[] = "SQLite format 3";

class Db {
public:
    ~Db() {
        if (m_db != nullptr)
            sqlite3_close(m_db);
    }
    bool Open(const std::string& path, int flags, std::string& error) {
        if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
            error = m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory";
            return false;
        }
        sqlite3_extended_result_codes(m_db, 1);
        return true;
    }
    bool Exec(const std::string& sql, std::string& error) {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
            return true;
        error = message != nullptr ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        return false;
    }
    bool Close(std::string& error) {
        const int rc = sqlite3_close(m_db);
        if (rc != SQLITE_OK) {
            error = sqlite3_errstr(rc);
            return false;
        }
        m_db = nullptr;
        return true;
    }
    sqlite3* Get() const { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Prepared() const { return m_stmt != nullptr; }
    int Step() { return m_stmt != nullptr ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    void Reset() { sqlite3_reset(m_stmt); }
    void Bind(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i + 1, v); }
    void Bind(int i, double v) { sqlite3_bind_double(m_stmt, i + 1, v); }
    void Bind(int i, const std::string& v) {
        sqlite3_bind_text(m_stmt, i + 1, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    // A column that must be text; false (and nothing taken) otherwise.
    bool Text(int i, std::string& out) const {
        if (sqlite3_column_type(m_stmt, i) != SQLITE_TEXT)
            return false;
        const auto* p = sqlite3_column_text(m_stmt, i);
        out.assign(reinterpret_cast<const char*>(p),
                   static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, i)));
        return out.find('\0') == std::string::npos;
    }
    bool Integer(int i, std::int64_t& out) const {
        if (sqlite3_column_type(m_stmt, i) != SQLITE_INTEGER)
            return false;
        out = sqlite3_column_int64(m_stmt, i);
        return true;
    }
    bool Real(int i, double& out) const {
        const int type = sqlite3_column_type(m_stmt, i);
        if (type != SQLITE_FLOAT && type != SQLITE_INTEGER)
            return false;
        out = sqlite3_column_double(m_stmt, i);
        return std::isfinite(out);
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

bool Pragma(sqlite3* db, const char* name, std::int64_t& out) {
    Statement s(db, (std::string("PRAGMA ") + name).c_str());
    if (s.Step() != SQLITE_ROW)
        return false;
    return s.Integer(0, out);
}

// Reads the rows into `site`; an empty string or what is wrong.
std::string ReadRows(sqlite3* db, Site& site) {
    const std::string bad = "a damaged row in ";
    {
        Statement s(db, "SELECT name FROM site WHERE id = 1");
        if (!s.Prepared())
            return sqlite3_errmsg(db);
        if (s.Step() == SQLITE_ROW && !s.Text(0, site.name))
            return bad + "the site table";
    }
    std::map<std::int64_t, std::size_t> buildings;
    {
        Statement s(db, "SELECT id, name FROM buildings ORDER BY id");
        if (!s.Prepared())
            return sqlite3_errmsg(db);
        int rc = 0;
        while ((rc = s.Step()) == SQLITE_ROW) {
            std::int64_t id = 0;
            Building building;
            if (!s.Integer(0, id) || !s.Text(1, building.name) || buildings.size() >= kMaxRows)
                return bad + "the buildings table";
            buildings[id] = site.buildings.size();
            site.buildings.push_back(std::move(building));
        }
        if (rc != SQLITE_DONE)
            return sqlite3_errmsg(db);
    }
    std::map<std::int64_t, std::pair<std::size_t, std::size_t>> floors;
    {
        Statement s(db,
                    "SELECT id, building_id, name, level, height_m, projection FROM floors "
                    "ORDER BY level, id");
        if (!s.Prepared())
            return sqlite3_errmsg(db);
        int rc = 0;
        while ((rc = s.Step()) == SQLITE_ROW) {
            std::int64_t id = 0, building = 0, level = 0;
            Floor floor;
            if (!s.Integer(0, id) || !s.Integer(1, building) || !s.Text(2, floor.name) ||
                !s.Integer(3, level) || !s.Real(4, floor.heightMetres) ||
                !s.Text(5, floor.projection) || level < -1000 || level > 1000 ||
                buildings.count(building) == 0 || floors.size() >= kMaxRows)
                return bad + "the floors table";
            floor.order = static_cast<int>(level);
            auto& list = site.buildings[buildings[building]].floors;
            floors[id] = {buildings[building], list.size()};
            list.push_back(std::move(floor));
        }
        if (rc != SQLITE_DONE)
            return sqlite3_errmsg(db);
    }
    auto floorOf = [&](std::int64_t id) -> Floor* {
        const auto it = floors.find(id);
        if (it == floors.end())
            return nullptr;
        return &site.buildings[it->second.first].floors[it->second.second];
    };
    {
        Statement s(db,
                    "SELECT floor_id, label, x, y FROM reference_points ORDER BY floor_id, label");
        if (!s.Prepared())
            return sqlite3_errmsg(db);
        int rc = 0;
        std::size_t rows = 0;
        while ((rc = s.Step()) == SQLITE_ROW) {
            std::int64_t id = 0;
            ReferencePoint point;
            Floor* floor = s.Integer(0, id) ? floorOf(id) : nullptr;
            if (floor == nullptr || !s.Text(1, point.label) || !s.Real(2, point.x) ||
                !s.Real(3, point.y) || ++rows > kMaxRows)
                return bad + "the reference_points table";
            floor->references.push_back(std::move(point));
        }
        if (rc != SQLITE_DONE)
            return sqlite3_errmsg(db);
    }
    {
        Statement s(db,
                    "SELECT floor_id, path, surveyor, adapter, date, enabled FROM collections "
                    "ORDER BY id");
        if (!s.Prepared())
            return sqlite3_errmsg(db);
        int rc = 0;
        std::set<std::string> paths;
        while ((rc = s.Step()) == SQLITE_ROW) {
            std::int64_t id = 0, enabled = 0;
            SiteCollection c;
            Floor* floor = s.Integer(0, id) ? floorOf(id) : nullptr;
            if (floor == nullptr || !s.Text(1, c.path) || !s.Text(2, c.surveyor) ||
                !s.Text(3, c.adapter) || !s.Text(4, c.date) || !s.Integer(5, enabled) ||
                paths.size() >= kMaxRows)
                return bad + "the collections table";
            if (!paths.insert(c.path).second)
                return "the collection " + c.path + " is listed twice";
            c.enabled = enabled != 0;
            floor->collections.push_back(std::move(c));
        }
        if (rc != SQLITE_DONE)
            return sqlite3_errmsg(db);
    }
    return {};
}

std::string WriteRows(sqlite3* db, const Site& site) {
    Statement siteRow(db, "INSERT INTO site(id, name) VALUES (1, ?)");
    Statement buildingRow(db, "INSERT INTO buildings(id, name) VALUES (?, ?)");
    Statement floorRow(db,
                       "INSERT INTO floors(id, building_id, name, level, height_m, projection) "
                       "VALUES (?, ?, ?, ?, ?, ?)");
    Statement referenceRow(
        db, "INSERT INTO reference_points(floor_id, label, x, y) VALUES (?, ?, ?, ?)");
    Statement collectionRow(db,
                            "INSERT INTO collections(floor_id, path, surveyor, adapter, date, "
                            "enabled) VALUES (?, ?, ?, ?, ?, ?)");
    if (!siteRow.Prepared() || !buildingRow.Prepared() || !floorRow.Prepared() ||
        !referenceRow.Prepared() || !collectionRow.Prepared())
        return sqlite3_errmsg(db);
    auto done = [&](Statement& s) {
        const bool ok = s.Step() == SQLITE_DONE;
        s.Reset();
        return ok;
    };
    siteRow.Bind(0, site.name);
    if (!done(siteRow))
        return sqlite3_errmsg(db);
    std::int64_t buildingId = 0, floorId = 0;
    for (const Building& building : site.buildings) {
        buildingRow.Bind(0, ++buildingId);
        buildingRow.Bind(1, building.name);
        if (!done(buildingRow))
            return "building \"" + building.name + "\": " + sqlite3_errmsg(db);
        for (const Floor& floor : building.floors) {
            floorRow.Bind(0, ++floorId);
            floorRow.Bind(1, buildingId);
            floorRow.Bind(2, floor.name);
            floorRow.Bind(3, static_cast<std::int64_t>(floor.order));
            floorRow.Bind(4, floor.heightMetres);
            floorRow.Bind(5, floor.projection);
            if (!done(floorRow))
                return "floor \"" + floor.name + "\": " + sqlite3_errmsg(db);
            for (const ReferencePoint& point : floor.references) {
                referenceRow.Bind(0, floorId);
                referenceRow.Bind(1, point.label);
                referenceRow.Bind(2, point.x);
                referenceRow.Bind(3, point.y);
                if (!done(referenceRow))
                    return "reference point \"" + point.label + "\": " + sqlite3_errmsg(db);
            }
            for (const SiteCollection& c : floor.collections) {
                collectionRow.Bind(0, floorId);
                collectionRow.Bind(1, c.path);
                collectionRow.Bind(2, c.surveyor);
                collectionRow.Bind(3, c.adapter);
                collectionRow.Bind(4, c.date);
                collectionRow.Bind(5, std::int64_t{c.enabled ? 1 : 0});
                if (!done(collectionRow))
                    return "collection " + c.path + ": " + sqlite3_errmsg(db);
            }
        }
    }
    return {};
}

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool SiteFile::Load(const std::string& path, Site& out, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot open the site file " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "cannot open the site file " + path + ": not a regular file";
        return false;
    }
    if (!LooksLikeSite(path)) {
        error = path + " is not a site file (not an SQLite database)";
        return false;
    }
    Db db;
    std::string why;
    if (!db.Open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, why)) {
        error = "cannot open the site file " + path + ": " + why;
        return false;
    }
    std::int64_t application = 0, version = 0;
    if (!Pragma(db.Get(), "application_id", application) ||
        !Pragma(db.Get(), "user_version", version)) {
        error = path + " is damaged: " + sqlite3_errmsg(db.Get());
        return false;
    }
    if (application != kApplicationId) {
        error = path + " is not a Ketrion site file (an SQLite database of another kind)";
        return false;
    }
    if (version > kVersion) {
        error = path + " was written by a newer Ketrion (site file version " +
                std::to_string(version) + "; this one reads up to version " +
                std::to_string(kVersion) + "); it is left as it is";
        return false;
    }
    {
        Statement check(db.Get(), "PRAGMA quick_check");
        std::string result;
        if (check.Step() != SQLITE_ROW || !check.Text(0, result) || result != "ok") {
            error = path + " is damaged: " + (result.empty() ? sqlite3_errmsg(db.Get()) : result);
            return false;
        }
    }
    Site site;
    if (const std::string problem = ReadRows(db.Get(), site); !problem.empty()) {
        error = path + " is damaged: " + problem;
        return false;
    }
    SortFloors(site);
    out = std::move(site);
    return true;
}

bool SiteFile::Save(const std::string& path, const Site& site, std::string& error) {
    const fs::path target(path);
    const std::string folder =
        target.has_parent_path() ? target.parent_path().string() : std::string(".");
    std::string temp = folder + "/." + target.filename().string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    // mkstemp makes the file private; a site file is an ordinary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    auto fail = [&](const std::string& why) {
        ::unlink(temp.c_str());
        ::unlink((temp + "-journal").c_str());
        error = "cannot write " + path + ": " + why;
        return false;
    };
    {
        Db db;
        std::string why;
        if (!db.Open(temp, SQLITE_OPEN_READWRITE, why))
            return fail(why);
        // The temporary file is thrown away if anything fails, so it needs no
        // journal; the sync and rename below make the save durable.
        const std::string setup =
            "PRAGMA journal_mode = OFF; PRAGMA application_id = " + std::to_string(kApplicationId) +
            "; PRAGMA user_version = " + std::to_string(kVersion) + "; BEGIN;";
        if (!db.Exec(setup, why) || !db.Exec(kSchema, why))
            return fail(why);
        if (const std::string problem = WriteRows(db.Get(), site); !problem.empty())
            return fail(problem);
        if (!db.Exec("COMMIT", why) || !db.Close(why))
            return fail(why);
    }
    if (!SyncPath(temp, O_RDONLY))
        return fail(std::strerror(errno));
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail(std::strerror(errno));
    SyncPath(folder, O_RDONLY | O_DIRECTORY);
    return true;
}

bool SiteFile::LooksLikeSite(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    char head[sizeof kSqliteMagic] = {};
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, kSqliteMagic, sizeof head) == 0;
}

std::string SiteFile::RelativePath(const std::string& sitePath, const std::string& path) {
    std::error_code ec;
    const fs::path folder = fs::absolute(fs::path(sitePath), ec).parent_path().lexically_normal();
    const fs::path file = fs::absolute(fs::path(path), ec).lexically_normal();
    const fs::path relative = file.lexically_relative(folder);
    if (!relative.empty() && *relative.begin() != "..")
        return relative.string();
    return file.string();
}

std::string SiteFile::ResolvePath(const std::string& sitePath, const std::string& stored) {
    const fs::path p(stored);
    if (p.is_absolute())
        return stored;
    const fs::path folder = fs::path(sitePath).parent_path();
    return (folder.empty() ? p : folder / p).lexically_normal().string();
}

}  // namespace ketrion::site
