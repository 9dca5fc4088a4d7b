#include "store/Pull.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <pqxx/pqxx>
#include <set>

#include "store/Connection.h"
#include "survey/OutputFile.h"
#include "survey/SideStore.h"

namespace ketrion::store {

namespace {

// A pushed file name as a name in the output folder: never a path of its
// own (a store is shared; what it holds is not trusted to name folders).
std::string SafeName(const std::string& name) {
    std::string out;
    for (char c : name)
        out += (c == '/' || c == '\0') ? '_' : c;
    if (out.empty() || out == "." || out == "..")
        out = "collection.ktd";
    return out;
}

// "a.ktd" -> "a-2.ktd" for the second collection of that name.
std::string Numbered(const std::string& name, int n) {
    if (n < 2)
        return name;
    const std::size_t dot = name.find_last_of('.');
    std::string suffix = "-";
    suffix += std::to_string(n);
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    std::string out = name.substr(0, dot);
    out += suffix;
    out.append(name, dot, std::string::npos);
    return out;
}

bool WriteNew(const std::string& path, const std::string& bytes, std::string& error) {
    std::error_code ec;
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found) {
        error = path + " already exists; nothing replaced (pull into an empty folder)";
        return false;
    }
    files::OutputFile file;
    if (!file.Open(path, {}) || !file.Write(bytes) || !file.Commit()) {
        error = file.Error();
        return false;
    }
    return true;
}

}  // namespace

bool FetchCollections(Connection& connection, const Choice& choice,
                      std::vector<StoredCollection>& out, std::string& error) {
    pqxx::read_transaction work(connection.Db());
    const pqxx::result site =
        work.exec_params("SELECT id FROM ketrion.sites WHERE name = $1", choice.site);
    if (site.empty()) {
        std::string names;
        for (const auto& row : work.exec("SELECT name FROM ketrion.sites ORDER BY name LIMIT 20")) {
            if (!names.empty())
                names += ", ";
            names += row[0].as<std::string>();
        }
        error = "the store has no site \"" + choice.site + "\"" +
                (names.empty() ? std::string(" (it has none yet)") : " (sites: " + names + ")");
        return false;
    }
    // A collection is on a floor when it was pushed for it, or when any of
    // its points is.
    const pqxx::result rows = work.exec_params(
        "SELECT c.name, c.bytes, c.side IS NOT NULL, coalesce(c.side, ''::bytea) "
        "FROM ketrion.collections c WHERE c.site_id = $1 "
        "AND ($2 = '' OR c.name = $2) "
        "AND ($3 = '' OR EXISTS (SELECT 1 FROM ketrion.floors f JOIN ketrion.buildings b "
        "ON b.id = f.building_id WHERE f.name = $3 AND ($4 = '' OR b.name = $4) "
        "AND (f.id = c.floor_id OR EXISTS (SELECT 1 FROM ketrion.points p "
        "WHERE p.collection_id = c.id AND p.floor_id = f.id)))) "
        "ORDER BY c.name, c.id",
        site[0][0].as<std::int64_t>(), choice.collection, choice.floor, choice.building);
    for (const auto& row : rows) {
        StoredCollection& c = out.emplace_back();
        c.name = row[0].as<std::string>();
        const pqxx::binarystring bytes(row[1]);
        c.bytes = bytes.str();
        c.hasSide = row[2].as<bool>();
        if (c.hasSide)
            c.side = pqxx::binarystring(row[3]).str();
    }
    return true;
}

bool WriteCollections(const std::vector<StoredCollection>& collections, const std::string& dir,
                      std::vector<std::string>& written, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot make the folder " + dir + ": " + ec.message();
        return false;
    }
    std::set<std::string> used;
    for (const StoredCollection& c : collections) {
        const std::string base = SafeName(c.name);
        std::string name = base;
        for (int n = 2; used.count(name) != 0; ++n)
            name = Numbered(base, n);
        used.insert(name);
        const std::string path = (std::filesystem::path(dir) / name).string();
        if (!WriteNew(path, c.bytes, error))
            return false;
        written.push_back(path);
        if (c.hasSide) {
            if (!WriteNew(SideStore::PathFor(path), c.side, error))
                return false;
            written.push_back(SideStore::PathFor(path));
        }
    }
    return true;
}

}  // namespace ketrion::store
