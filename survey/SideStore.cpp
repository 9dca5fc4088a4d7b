#include "survey/SideStore.h"

#include <sqlite3.h>

#include "survey/CollectionFile.h"
#include "survey/SidePendingScans.h"
#include "survey/SideRows.h"
#include "survey/SideSchema.h"
#include "survey/SideSql.h"

namespace ketrion {

using namespace sidesql;

namespace {

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string SideStore::PathFor(const std::string& collectionPath) {
    return collectionPath + ".side";
}

SideStore::SideStore(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}

SideStore::~SideStore() {
    if (m_db != nullptr) {
        SideSchema::LeaveWal(m_db);
        sqlite3_close_v2(m_db);
    }
}

std::unique_ptr<SideStore> SideStore::OpenForWriting(const std::string& collectionPath,
                                                     const Identity& identity, std::string* message,
                                                     int busyTimeoutMs) {
    const std::string store = PathFor(collectionPath);
    sqlite3* db = SideSchema::OpenForWriting(store, identity, message, busyTimeoutMs);
    if (db == nullptr)
        return nullptr;
    return std::unique_ptr<SideStore>(new SideStore(db, store));
}

std::unique_ptr<SideStore> SideStore::OpenForReading(const std::string& collectionPath,
                                                     const Identity& identity,
                                                     std::string* message) {
    const std::string store = PathFor(collectionPath);
    sqlite3* db = SideSchema::OpenForReading(store, identity, message);
    if (db == nullptr)
        return nullptr;
    return std::unique_ptr<SideStore>(new SideStore(db, store));
}

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
    return SideRows(m_db, m_path).WritePoints(points, readings, message);
}

bool SideStore::SetDeleted(std::int64_t offset, bool deleted, std::string* message) {
    return SideRows(m_db, m_path).SetDeleted(offset, deleted, message);
}

bool SideStore::AddPendingScan(std::int64_t seq, const std::string& body, std::string* message) {
    return SidePendingScans(m_db, m_path).Add(seq, body, message);
}

bool SideStore::RemovePendingScan(std::int64_t seq, std::string* message) {
    return SidePendingScans(m_db, m_path).Remove(seq, message);
}

bool SideStore::SetAsidePendingScan(std::int64_t seq, const std::string& why,
                                    std::string* message) {
    return SidePendingScans(m_db, m_path).SetAside(seq, why, message);
}

std::vector<std::pair<std::int64_t, std::string>> SideStore::PendingScans() const {
    return SidePendingScans(m_db, m_path).All();
}

std::map<std::int64_t, SideStore::Point> SideStore::Points() const {
    return SideRows(m_db, m_path).Points();
}

std::vector<SideStore::Reading> SideStore::ReadingsOf(std::int64_t offset) const {
    return SideRows(m_db, m_path).ReadingsOf(offset);
}

std::map<std::int64_t, std::vector<SideStore::Reading>> SideStore::AllReadings() const {
    return SideRows(m_db, m_path).AllReadings();
}

bool SideStore::Close(std::string* message) {
    if (m_db == nullptr) {
        Set(message, "The side store " + m_path + " is closed.");
        return false;
    }
    bool ok = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                        nullptr) == SQLITE_OK;
    std::string error = ok ? std::string() : ErrorText(m_db);
    SideSchema::LeaveWal(m_db);
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
