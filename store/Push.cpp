#include "store/Push.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <pqxx/pqxx>
#include <pqxx/tablewriter>

#include "analysis/Details.h"
#include "model/Text.h"
#include "store/Connection.h"
#include "store/StoreUrl.h"
#include "survey/CollectionFile.h"
#include "survey/CollectionReader.h"
#include "survey/RegularFile.h"
#include "survey/SideStore.h"

namespace ketrion::store {

namespace {

using namespace ketrion::collection;

// Readings sent between two progress reports.
constexpr std::int64_t kProgressStep = 20000;
// The largest collection file pushed: the bytes are held in memory and sent
// as one value (a bytea field holds at most 1 GB).
constexpr off_t kMaxCollectionBytes = 512LL * 1024 * 1024;
// Creation times a timestamp can hold (0001 to 9999): anything else is not one.
constexpr std::int64_t kLastCreated = 253402300799LL;
// The building a floor is put in when the push names none.
constexpr const char* kDefaultBuilding = "main";

// Reads all of the open file `fd` into `out`; false with errno set.
bool ReadAll(int fd, std::string& out, off_t limit) {
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return false;
    if (st.st_size > limit) {
        errno = EFBIG;
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    out.resize(done);
    return true;
}

bool ReadPath(const std::string& path, std::string& out, std::string& error) {
    files::OpenFailure failure;
    const int fd = files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        error = "cannot open " + path + ": " + files::Describe(failure);
        return false;
    }
    const bool ok = ReadAll(fd, out, kMaxCollectionBytes);
    if (!ok)
        error = "cannot read " + path + ": " + std::strerror(errno);
    close(fd);
    return ok;
}

// A name as valid UTF-8 for a text column: bytes that do not form UTF-8
// (boards report names in any code page) written as \xHH.
std::string AsUtf8(const std::string& raw) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(raw.data());
    const std::size_t n = raw.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t len = 0;
        if (s[i] < 0x80)
            len = s[i] == 0 ? 0 : 1;
        else if ((s[i] & 0xE0) == 0xC0 && s[i] >= 0xC2)
            len = 2;
        else if ((s[i] & 0xF0) == 0xE0)
            len = 3;
        else if ((s[i] & 0xF8) == 0xF0 && s[i] <= 0xF4)
            len = 4;
        bool valid = len > 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (s[i + k] & 0xC0) == 0x80;
        // Overlong three-byte forms and UTF-16 surrogates are not UTF-8.
        if (valid && len == 3)
            valid = !(s[i] == 0xE0 && s[i + 1] < 0xA0) && !(s[i] == 0xED && s[i + 1] >= 0xA0);
        if (valid && len == 4)
            valid = !(s[i] == 0xF0 && s[i + 1] < 0x90) && !(s[i] == 0xF4 && s[i + 1] >= 0x90);
        if (valid) {
            out.append(raw, i, len);
            i += len;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", s[i]);
            out += escaped;
            ++i;
        }
    }
    return out;
}

// The stored date and time as a timestamp's text, or empty when they are
// not a real instant (a point recorded before the first GPS report has zeros).
std::string TakenText(const std::uint8_t* location) {
    std::tm tm{};
    tm.tm_year = Get16(location + kYearAt) - 1900;
    tm.tm_mon = location[kMonthAt] - 1;
    tm.tm_mday = location[kDayAt];
    tm.tm_hour = location[kHourAt];
    tm.tm_min = location[kMinuteAt];
    tm.tm_sec = location[kSecondAt];
    if (tm.tm_year < 70 || tm.tm_year > 8099)
        return {};
    std::tm check = tm;
    const time_t t = timegm(&check);
    std::tm back{};
    if (t == static_cast<time_t>(-1) || gmtime_r(&t, &back) == nullptr ||
        back.tm_year != tm.tm_year || back.tm_mon != tm.tm_mon || back.tm_mday != tm.tm_mday ||
        back.tm_hour != tm.tm_hour || back.tm_min != tm.tm_min || back.tm_sec != tm.tm_sec)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// Builds the snapshot's points while the collection reader walks the bytes.
class SnapshotVisitor final : public WalkVisitor {
public:
    explicit SnapshotVisitor(CollectionSnapshot& out) : m_out(out) {}
    void Header(const collection::Header& header, bool) override {
        std::memcpy(m_header, header.bytes, sizeof m_header);
        m_headerSeen = true;
    }
    void Location(std::int64_t number, std::int64_t offset, const std::uint8_t* l) override {
        CollectionSnapshot::Point& p = m_out.points.emplace_back();
        p.offset = offset;
        p.number = number;
        p.latitude = static_cast<std::int32_t>(Get32(l + kLatitudeAt));
        p.longitude = static_cast<std::int32_t>(Get32(l + kLongitudeAt));
        p.taken = TakenText(l);
        p.fixClass = l[kFixClassAt];
        p.kind = l[kKindAt];
    }
    void Reading(const std::uint8_t* r) override {
        CollectionSnapshot::Reading& reading = m_out.points.back().readings.emplace_back();
        std::memcpy(reading.mac, r + kMacAt, sizeof reading.mac);
        reading.ssid = AsUtf8(Ssid(r));
        reading.signalDbm =
            static_cast<float>(static_cast<std::int16_t>(Get16(r + kSignalAt))) / 256.0F;
        reading.attribute = r[kAttributeAt];
        ++m_out.readings;
    }
    bool HeaderSeen() const { return m_headerSeen; }
    const std::uint8_t* HeaderBytes() const { return m_header; }

private:
    CollectionSnapshot& m_out;
    std::uint8_t m_header[kHeaderSize] = {};
    bool m_headerSeen = false;
};

// `text` as an SQL literal. Kept out of line: inlined into the statement
// builders below, libpqxx's quoting draws a false -Wrestrict from GCC 12.
[[gnu::noinline]] std::string Quote(pqxx::work& work, const std::string& text) {
    return work.quote(text);
}

// A side-store number as a smallint column takes it: one out of range (the
// side store is a file like any other) is left out rather than failing the push.
std::optional<int> Small(std::optional<int> value) {
    if (value && (*value < -32768 || *value > 32767))
        return std::nullopt;
    return value;
}

// Joins the side store's rows to the snapshot (a row is used only where it
// names the same access point as the collection file's reading).
void JoinSide(const SideStore& side, CollectionSnapshot& out) {
    const auto points = side.Points();
    const auto readings = side.AllReadings();
    for (CollectionSnapshot::Point& p : out.points) {
        if (const auto it = points.find(p.offset); it != points.end()) {
            p.planX = it->second.planX;
            p.planY = it->second.planY;
            p.floor = it->second.floor;
            p.method = it->second.method;
            p.deleted = it->second.deleted;
        }
        const auto rows = readings.find(p.offset);
        if (rows == readings.end())
            continue;
        for (const SideStore::Reading& row : rows->second) {
            if (row.index < 0 || static_cast<std::size_t>(row.index) >= p.readings.size())
                continue;
            CollectionSnapshot::Reading& r = p.readings[static_cast<std::size_t>(row.index)];
            if (row.bssid != MacText(r.mac))
                continue;
            r.channel = Small(row.channel);
            r.frequency = row.frequencyMhz;
            r.width = Small(row.widthMhz);
            r.noise = Small(row.noiseDbm);
            r.band = row.band.empty() && row.frequencyMhz
                         ? analysis::BandName(analysis::BandOfFrequency(*row.frequencyMhz))
                         : row.band;
            r.security = row.security;
            r.phy = row.phy;
        }
    }
}

// COPY's text format: a field with its backslashes, tabs and line ends escaped.
void AppendField(std::string& line, const std::string& text) {
    for (char c : text) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
        }
    }
}

void AppendText(std::string& line, const std::string& text, bool nullWhenEmpty = true) {
    line += '\t';
    if (text.empty() && nullWhenEmpty)
        line += "\\N";
    else
        AppendField(line, text);
}

template <typename T>
void AppendNumber(std::string& line, const std::optional<T>& value, const char* format) {
    line += '\t';
    if (!value) {
        line += "\\N";
        return;
    }
    char text[40];
    std::snprintf(text, sizeof text, format, *value);
    line += text;
}

// Finds the row named `name` under `parentColumn` = `parent` in `table`,
// making it when missing (two pushes making it at once both end with the one row).
std::int64_t RowId(pqxx::work& work, const std::string& table, const std::string& parentColumn,
                   std::optional<std::int64_t> parent, const std::string& name) {
    const std::string where = parentColumn.empty() ? "" : parentColumn + ", ";
    const std::string value = parentColumn.empty() ? "" : "$2, ";
    const std::string insert = "INSERT INTO ketrion." + table + " (" + where + "name) VALUES (" +
                               value + "$1) ON CONFLICT DO NOTHING RETURNING id";
    const std::string select =
        "SELECT id FROM ketrion." + table + " WHERE name = $1" +
        (parentColumn.empty() ? std::string() : " AND " + parentColumn + " = $2");
    pqxx::result r =
        parent ? work.exec_params(insert, name, *parent) : work.exec_params(insert, name);
    if (r.empty())
        r = parent ? work.exec_params(select, name, *parent) : work.exec_params(select, name);
    return r[0][0].as<std::int64_t>();
}

// Names of floors -> their rows, made on first use.
class Floors {
public:
    Floors(pqxx::work& work, std::int64_t site, std::string building)
        : m_work(work), m_site(site), m_building(std::move(building)) {}
    std::optional<std::int64_t> Id(const std::string& floor) {
        if (floor.empty())
            return std::nullopt;
        if (const auto it = m_ids.find(floor); it != m_ids.end())
            return it->second;
        if (!m_buildingId)
            m_buildingId = RowId(m_work, "buildings", "site_id", m_site,
                                 m_building.empty() ? kDefaultBuilding : m_building);
        const std::int64_t id = RowId(m_work, "floors", "building_id", *m_buildingId, floor);
        m_ids.emplace(floor, id);
        return id;
    }

private:
    pqxx::work& m_work;
    std::int64_t m_site;
    std::string m_building;
    std::optional<std::int64_t> m_buildingId;
    std::map<std::string, std::int64_t> m_ids;
};

// Sends COPY lines as this program formats them. libpqxx 6 marks its raw
// line writer deprecated in favour of a writer that formats every field
// itself, which is several times slower for readings by the million.
class CopyLines {
public:
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    CopyLines(pqxx::work& work, const std::string& table, const std::vector<std::string>& columns)
        : m_writer(work, table, columns.begin(), columns.end()) {}
#pragma GCC diagnostic pop
    void Write(const std::string& line) {
        m_writer.write_raw_line(line);
    }
    void Complete() {
        m_writer.complete();
    }

private:
    pqxx::tablewriter m_writer;
};

// Access points added per statement.
constexpr std::size_t kAccessPointsPerStatement = 500;

// The site's access points from the new points' readings: for each address
// the name, channel, band and security of its strongest reading. An address
// the site already has keeps its row. Sent in address order, so concurrent
// pushes lock rows in the same order and never deadlock.
void AddAccessPoints(pqxx::work& work, std::int64_t site, const CollectionSnapshot& snapshot,
                     std::int64_t stored) {
    std::map<std::string, const CollectionSnapshot::Reading*> strongest;
    for (const CollectionSnapshot::Point& p : snapshot.points) {
        if (p.offset <= stored)
            continue;
        for (const CollectionSnapshot::Reading& r : p.readings) {
            const CollectionSnapshot::Reading*& best = strongest[MacText(r.mac)];
            if (best == nullptr || r.signalDbm > best->signalDbm)
                best = &r;
        }
    }
    auto quoted = [&](const std::string& text) {
        return text.empty() ? std::string("NULL") : Quote(work, text);
    };
    std::string values;
    std::size_t rows = 0;
    auto flush = [&] {
        if (rows == 0)
            return;
        work.exec(
            "INSERT INTO ketrion.access_points (site_id, bssid, ssid, channel, band, "
            "security) VALUES " +
            values + " ON CONFLICT DO NOTHING");
        values.clear();
        rows = 0;
    };
    for (const auto& [mac, r] : strongest) {
        values.append(rows == 0 ? "(" : ", (").append(std::to_string(site));
        values.append(", '").append(mac).append("', ").append(Quote(work, r->ssid));
        values.append(", ").append(r->channel ? std::to_string(*r->channel) : "NULL");
        values.append(", ").append(quoted(r->band)).append(", ").append(quoted(r->security));
        values.append(")");
        if (++rows == kAccessPointsPerStatement)
            flush();
    }
    flush();
}

}  // namespace

bool ReadSnapshot(const std::string& path, CollectionSnapshot& out, std::string& error) {
    out = CollectionSnapshot{};
    out.path = path;
    out.name = path.substr(path.find_last_of('/') + 1);
    if (!ReadPath(path, out.bytes, error))
        return false;
    // The walk reads the bytes just read (not the file, which a recorder may
    // be growing), so the rows and the kept bytes agree.
    const int fd = memfd_create("ktd-push", MFD_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot read ") + path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t written = 0;
    while (written < out.bytes.size()) {
        const ssize_t n = write(fd, out.bytes.data() + written, out.bytes.size() - written);
        if (n <= 0) {
            error = std::string("cannot read ") + path + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    SnapshotVisitor visitor(out);
    const WalkEnd end = WalkCollection(fd, visitor);
    close(fd);
    if (!visitor.HeaderSeen() || end.kind == WalkEnd::Kind::BadHeader) {
        error = path + " is not a collection file with a valid header; nothing pushed";
        return false;
    }
    if (!end.Whole())
        out.damage = path + " is damaged after point " + std::to_string(end.points) +
                     "; the points before the damage are pushed";
    const std::int64_t created =
        static_cast<std::int64_t>(Get64(visitor.HeaderBytes() + kCreatedAt));
    out.created = created >= 0 && created <= kLastCreated ? created : 0;

    const std::string sidePath = SideStore::PathFor(path);
    std::string message;
    auto side =
        SideStore::OpenForReading(path, SideIdentity(path, visitor.HeaderBytes()), &message);
    if (side) {
        JoinSide(*side, out);
        std::string bytes;
        std::string sideError;
        if (ReadPath(sidePath, bytes, sideError))
            out.side = std::move(bytes);
        struct stat wal {};
        if (stat((sidePath + "-wal").c_str(), &wal) == 0 && wal.st_size > 0)
            out.sideNote = sidePath +
                           " is open in another program; its changes since its last close are "
                           "not in the copy kept";
    } else if (!message.empty()) {
        out.sideNote = message + "; pushed without it";
    }
    return true;
}

PushOutcome PushCollection(Connection& connection, const CollectionSnapshot& snapshot,
                           const PushTarget& target, std::int64_t doneBefore, std::int64_t total,
                           const PushProgress& progress) {
    PushOutcome outcome;
    pqxx::work work(connection.Db());
    const std::int64_t site = RowId(work, "sites", "", std::nullopt, target.site);
    Floors floors(work, site, target.building);
    const std::optional<std::int64_t> floor = floors.Id(target.floor);
    const std::string header = snapshot.bytes.substr(0, kHeaderSize);
    const pqxx::binarystring headerBytes(header);
    const pqxx::binarystring bytes(snapshot.bytes);
    const pqxx::binarystring side(snapshot.side ? *snapshot.side : std::string());
    const std::int64_t points = static_cast<std::int64_t>(snapshot.points.size());

    pqxx::result row = work.exec_params(
        "INSERT INTO ketrion.collections (site_id, name, header, bytes, points, readings) "
        "VALUES ($1, $2, $3, '', 0, 0) ON CONFLICT DO NOTHING RETURNING id",
        site, snapshot.name, headerBytes);
    if (row.empty())
        row = work.exec_params(
            "SELECT id FROM ketrion.collections WHERE site_id = $1 AND name = $2 AND header = $3 "
            "FOR UPDATE",
            site, snapshot.name, headerBytes);
    const std::int64_t collection = row[0][0].as<std::int64_t>();
    const pqxx::result last = work.exec_params(
        "SELECT coalesce(max(file_offset), -1) FROM ketrion.points WHERE collection_id = $1",
        collection);
    const std::int64_t stored = last[0][0].as<std::int64_t>();
    const pqxx::result changed = work.exec_params(
        "UPDATE ketrion.collections SET bytes = $2::bytea, "
        "side = CASE WHEN $3::boolean THEN $4::bytea END, points = $5, readings = $6, "
        "floor_id = NULLIF($7, '')::bigint, "
        "created = CASE WHEN $8::double precision > 0 THEN to_timestamp($8) END, pushed = now() "
        "WHERE id = $1 AND (bytes IS DISTINCT FROM $2::bytea OR side IS DISTINCT FROM "
        "(CASE WHEN $3::boolean THEN $4::bytea END))",
        collection, bytes, snapshot.side.has_value(), side, points, snapshot.readings,
        floor ? std::to_string(*floor) : std::string(), static_cast<double>(snapshot.created));
    (void)changed;

    // Every floor the points name is found or made before the COPY starts:
    // no other statement may run on the connection while it lasts.
    std::map<std::string, std::optional<std::int64_t>> pointFloors;
    for (const CollectionSnapshot::Point& p : snapshot.points)
        if (!floor && p.offset > stored && pointFloors.count(p.floor) == 0)
            pointFloors.emplace(p.floor, floors.Id(p.floor));

    std::int64_t sent = 0;
    {
        CopyLines pointRows(work, "ketrion.points",
                            {"collection_id", "file_offset", "number", "floor_id", "geom", "plan_x",
                             "plan_y", "taken", "fix_class", "kind", "method", "deleted"});
        std::string line;
        const std::string prefix = std::to_string(collection);
        for (const CollectionSnapshot::Point& p : snapshot.points) {
            if (p.offset <= stored)
                continue;
            const std::optional<std::int64_t> pointFloor = floor ? floor : pointFloors[p.floor];
            line = prefix;
            AppendNumber(line, std::optional<long long>(p.offset), "%lld");
            AppendNumber(line, std::optional<long long>(p.number), "%lld");
            AppendNumber(line, pointFloor ? std::optional<long long>(*pointFloor) : std::nullopt,
                         "%lld");
            std::string geom;
            if (p.latitude != 0 || p.longitude != 0) {
                char text[80];
                std::snprintf(text, sizeof text, "SRID=4326;POINT(%.7f %.7f)",
                              p.longitude / 3600000.0, p.latitude / 3600000.0);
                geom = text;
            }
            AppendText(line, geom);
            AppendNumber(line, p.planX, "%.17g");
            AppendNumber(line, p.planY, "%.17g");
            AppendText(line, p.taken);
            AppendNumber(line, std::optional<int>(p.fixClass), "%d");
            AppendNumber(line, std::optional<int>(p.kind), "%d");
            AppendText(line, p.method);
            line += p.deleted ? "\tt" : "\tf";
            pointRows.Write(line);
            ++outcome.pointsAdded;
        }
        pointRows.Complete();
    }
    {
        CopyLines readingRows(
            work, "ketrion.readings",
            {"collection_id", "point_offset", "index", "bssid", "ssid", "signal", "attribute",
             "channel", "frequency", "band", "security", "phy", "width", "noise"});
        std::string line;
        const std::string prefix = std::to_string(collection) + '\t';
        for (const CollectionSnapshot::Point& p : snapshot.points) {
            if (p.offset <= stored)
                continue;
            const std::string pointPrefix = prefix + std::to_string(p.offset) + '\t';
            int index = 0;
            for (const CollectionSnapshot::Reading& r : p.readings) {
                line = pointPrefix;
                line += std::to_string(index++);
                line += '\t';
                line += MacText(r.mac);
                AppendText(line, r.ssid, false);
                AppendNumber(line, std::optional<double>(r.signalDbm), "%.8g");
                AppendNumber(line, std::optional<int>(r.attribute), "%d");
                AppendNumber(line, r.channel, "%d");
                AppendNumber(line, r.frequency, "%d");
                AppendText(line, r.band);
                AppendText(line, r.security);
                AppendText(line, r.phy);
                AppendNumber(line, r.width, "%d");
                AppendNumber(line, r.noise, "%d");
                readingRows.Write(line);
                ++outcome.readingsAdded;
                if (progress && ++sent % kProgressStep == 0)
                    progress(doneBefore + sent, total);
            }
        }
        readingRows.Complete();
    }
    AddAccessPoints(work, site, snapshot, stored);
    outcome.unchanged = outcome.pointsAdded == 0 && changed.affected_rows() == 0;
    work.commit();
    if (progress)
        progress(doneBefore + sent, total);
    return outcome;
}

namespace {

// True when `e` means the connection is gone (rather than a statement refused).
bool ConnectionLost(const std::exception& e, Connection& connection) {
    if (dynamic_cast<const pqxx::broken_connection*>(&e) != nullptr ||
        dynamic_cast<const pqxx::in_doubt_error*>(&e) != nullptr)
        return true;
    if (const auto* sql = dynamic_cast<const pqxx::sql_error*>(&e)) {
        const std::string state = sql->sqlstate();
        // Class 08: connection exception; 57P01..57P03: the server shut the
        // session down (pg_terminate_backend, a restart).
        if (state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0)
            return true;
    }
    return !connection.Db().is_open();
}

}  // namespace

bool PushFiles(const std::string& url, const std::vector<std::string>& paths,
               const PushOptions& options, std::string& error) {
    std::unique_ptr<Connection> connection = Connection::Open(url, error);
    if (!connection)
        return false;
    int reconnects = options.reconnects;
    auto say = [&](const std::string& text) {
        if (options.say)
            options.say(text);
    };
    for (const std::string& path : paths) {
        CollectionSnapshot snapshot;
        if (!ReadSnapshot(path, snapshot, error))
            return false;
        if (!snapshot.damage.empty())
            say(snapshot.damage);
        if (!snapshot.sideNote.empty())
            say(snapshot.sideNote);
        for (;;) {
            if (!connection) {
                connection = Connection::Open(url, error);
                if (!connection)
                    return false;
            }
            try {
                const PushOutcome outcome = PushCollection(*connection, snapshot, options.target, 0,
                                                           snapshot.readings, options.progress);
                say(snapshot.name +
                    (outcome.unchanged
                         ? ": already in the store"
                         : ": " + std::to_string(outcome.pointsAdded) + " points, " +
                               std::to_string(outcome.readingsAdded) + " readings added"));
                break;
            } catch (const std::exception& e) {
                const std::string why = connection->Describe(e);
                if (!ConnectionLost(e, *connection)) {
                    error = snapshot.name + ": " + why + "; nothing of it was stored";
                    return false;
                }
                connection.reset();
                if (reconnects-- <= 0) {
                    error = "the connection to " + RedactUrl(url) + " was lost while pushing " +
                            snapshot.name + " (" + why +
                            "); nothing of it was stored: push again to go on";
                    return false;
                }
                say("the connection was lost while pushing " + snapshot.name + " (" + why +
                    "); reconnecting");
            }
        }
    }
    return true;
}

}  // namespace ketrion::store
