#include "survey/SideRows.h"

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <utility>

#include "survey/SideSchema.h"
#include "survey/SideSql.h"

namespace ketrion {

using namespace sidesql;

namespace {

constexpr const char* kPointColumns = SideSchema::kPointColumns;
constexpr const char* kReadingColumns = SideSchema::kReadingColumns;

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

bool SideRows::WritePoints(const std::vector<Point>& points,
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

bool SideRows::SetDeleted(std::int64_t offset, bool deleted, std::string* message) {
    return Upsert(
        m_db, m_path, offset,
        "INSERT INTO points(offset, deleted) VALUES (?1, ?2) "
        "ON CONFLICT(offset) DO UPDATE SET deleted = excluded.deleted",
        [&](Statement& s) { s.BindInt(1, deleted ? 1 : 0); }, message);
}

std::map<std::int64_t, SideStore::Point> SideRows::Points() const {
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

std::vector<SideStore::Reading> SideRows::ReadingsOf(std::int64_t offset) const {
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

std::map<std::int64_t, std::vector<SideStore::Reading>> SideRows::AllReadings() const {
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

}  // namespace ketrion
