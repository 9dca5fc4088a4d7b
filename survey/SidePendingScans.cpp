#include "survey/SidePendingScans.h"

#include <sqlite3.h>

#include "survey/SideSql.h"

namespace ketrion {

using namespace sidesql;

namespace {

// The walk's pending scans: made when first needed, so stores written before
// it keep working.
constexpr const char* kPendingTableSql =
    "CREATE TABLE IF NOT EXISTS pending_scans(seq INTEGER PRIMARY KEY, body TEXT NOT NULL)";

}  // namespace

bool SidePendingScans::Add(std::int64_t seq, const std::string& body, std::string* message) {
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

bool SidePendingScans::Remove(std::int64_t seq, std::string* message) {
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

bool SidePendingScans::SetAside(std::int64_t seq, const std::string& why, std::string* message) {
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

std::vector<std::pair<std::int64_t, std::string>> SidePendingScans::All() const {
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

}  // namespace ketrion
