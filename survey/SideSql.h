#pragma once

#include <sqlite3.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

// The small layer over SQLite that the side store's parts share: a prepared
// statement, the connection's error text, running plain SQL. Only the side
// store's own files include it.
namespace ketrion::sidesql {

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

// The connection's last error, for a message.
inline std::string ErrorText(sqlite3* db) {
    return db != nullptr ? sqlite3_errmsg(db) : "out of memory";
}

// Runs `sql`; false with its error in *error (when given).
inline bool Exec(sqlite3* db, const char* sql, std::string* error) {
    char* text = nullptr;
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &text);
    if (rc != SQLITE_OK && error != nullptr)
        *error = text != nullptr ? text : sqlite3_errstr(rc);
    sqlite3_free(text);
    return rc == SQLITE_OK;
}

// Puts `text` in *message when the caller asked for one.
inline void Set(std::string* message, const std::string& text) {
    if (message != nullptr)
        *message = text;
}

}  // namespace ketrion::sidesql
