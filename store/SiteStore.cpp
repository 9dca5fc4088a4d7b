#include "store/SiteStore.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <pqxx/pqxx>
#include <vector>

#include "site/FloorPlan.h"
#include "site/SiteEditor.h"
#include "site/SiteFile.h"
#include "store/Connection.h"
#include "store/Pull.h"
#include "survey/OutputFile.h"

namespace ketrion::store {

namespace {

// A name from the store as one folder or file name (never a path of its own).
std::string FolderName(const std::string& name) {
    std::string out;
    for (char c : name)
        out += (c == '/' || c == '\0') ? '_' : c;
    if (out.empty() || out == "." || out == "..")
        out.assign(1, '_');
    return out;
}

bool ReadWhole(const std::string& path, std::string& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

// "{a,b,c,d,e,f}": plan pixels -> WGS 84, lon = a*x + b*y + c, lat = d*x + e*y + f.
std::string AffineArray(const PlanMap& map) {
    const auto origin = map.ToGeo(0, 0);
    const auto right = map.ToGeo(1, 0);
    const auto down = map.ToGeo(0, 1);
    if (!origin || !right || !down)
        return {};
    char text[256];
    std::snprintf(text, sizeof text, "{%.17g,%.17g,%.17g,%.17g,%.17g,%.17g}",
                  right->longitude - origin->longitude, down->longitude - origin->longitude,
                  origin->longitude, right->latitude - origin->latitude,
                  down->latitude - origin->latitude, origin->latitude);
    return text;
}

// The plan image's outline on the earth, as EWKT.
std::string Footprint(const site::FloorPlan& plan) {
    const double w = plan.width, h = plan.height;
    const double corners[5][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}, {0, 0}};
    std::string wkt = "SRID=4326;POLYGON((";
    for (int i = 0; i < 5; ++i) {
        const auto geo = plan.map.ToGeo(corners[i][0], corners[i][1]);
        if (!geo || std::fabs(geo->latitude) > 90)
            return {};
        char text[80];
        std::snprintf(text, sizeof text, "%s%.9f %.9f", i == 0 ? "" : ",", geo->longitude,
                      geo->latitude);
        wkt += text;
    }
    wkt += "))";
    return wkt;
}

// A floor's reference points as stored: "label\tx\ty" lines (tabs and line
// ends in a label become spaces).
std::string ReferenceLines(const std::vector<site::ReferencePoint>& points) {
    std::string out;
    for (const site::ReferencePoint& p : points) {
        for (char c : p.label)
            out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
        char text[80];
        std::snprintf(text, sizeof text, "\t%.17g\t%.17g\n", p.x, p.y);
        out += text;
    }
    return out;
}

// Reference points read back from the store (checked: a store is shared).
bool ParseReferences(const std::string& text, std::vector<site::ReferencePoint>& out) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos)
            return false;
        site::ReferencePoint& p = out.emplace_back();
        p.label = line.substr(0, tab1);
        char* stop = nullptr;
        const std::string x = line.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string y = line.substr(tab2 + 1);
        p.x = std::strtod(x.c_str(), &stop);
        if (x.empty() || *stop != 0 || !std::isfinite(p.x))
            return false;
        p.y = std::strtod(y.c_str(), &stop);
        if (y.empty() || *stop != 0 || !std::isfinite(p.y))
            return false;
    }
    return true;
}

// The site's buildings, floors and plans, in one transaction; the floors'
// ids by "building/floor".
bool StoreFloors(Connection& connection, const std::string& siteName, const site::Site& site,
                 const std::string& sitePath, std::string& error) {
    pqxx::work work(connection.Db());
    work.exec_params("INSERT INTO ketrion.sites (name) VALUES ($1) ON CONFLICT DO NOTHING",
                     siteName);
    for (const site::Building& b : site.buildings) {
        work.exec_params(
            "INSERT INTO ketrion.buildings (site_id, name) SELECT id, $2 FROM ketrion.sites "
            "WHERE name = $1 ON CONFLICT DO NOTHING",
            siteName, b.name);
        for (const site::Floor& f : b.floors) {
            const pqxx::result row = work.exec_params(
                "INSERT INTO ketrion.floors (building_id, name, ordinal, height_m, "
                "reference_points) SELECT b.id, $3, $4, $5, $6 FROM ketrion.buildings b "
                "JOIN ketrion.sites s ON s.id = b.site_id WHERE s.name = $1 AND b.name = $2 "
                "ON CONFLICT (building_id, name) DO UPDATE SET ordinal = $4, height_m = $5, "
                "reference_points = $6 RETURNING id",
                siteName, b.name, f.name, f.order, f.heightMetres, ReferenceLines(f.references));
            const std::int64_t floorId = row[0][0].as<std::int64_t>();
            const std::string planPath = site::SiteFile::ResolvePath(sitePath, f.projection);
            site::FloorPlan plan;
            std::string bytes;
            if (!site::ReadFloorPlan(planPath, plan, error) || !ReadWhole(planPath, bytes, error)) {
                error = site::FloorTitle(b, f) + ": " + error;
                return false;
            }
            const std::string name = std::filesystem::path(f.projection).filename().string();
            const std::string affine = AffineArray(plan.map);
            const std::string footprint = Footprint(plan);
            work.exec_params("DELETE FROM ketrion.plans WHERE floor_id = $1 AND name <> $2",
                             floorId, name);
            work.exec_params(
                "INSERT INTO ketrion.plans (floor_id, name, projection, affine, footprint) "
                "VALUES ($1, $2, $3, NULLIF($4, '')::double precision[], "
                "ST_GeomFromEWKT(NULLIF($5, ''))) ON CONFLICT (floor_id, name) DO UPDATE SET "
                "projection = EXCLUDED.projection, affine = EXCLUDED.affine, "
                "footprint = EXCLUDED.footprint",
                floorId, name, pqxx::binarystring(bytes), affine, footprint);
        }
    }
    work.commit();
    return true;
}

// Each collection's on/off state and surveyor, after its floor's push.
void StoreCollectionState(Connection& connection, const std::string& siteName,
                          const site::Building& b, const site::Floor& f) {
    pqxx::work work(connection.Db());
    for (const site::SiteCollection& c : f.collections)
        work.exec_params(
            "UPDATE ketrion.collections c SET enabled = $5, surveyor = NULLIF($6, '') "
            "FROM ketrion.floors f JOIN ketrion.buildings b ON b.id = f.building_id "
            "JOIN ketrion.sites s ON s.id = b.site_id WHERE c.floor_id = f.id "
            "AND s.name = $1 AND b.name = $2 AND f.name = $3 AND c.name = $4",
            siteName, b.name, f.name, std::filesystem::path(c.path).filename().string(), c.enabled,
            c.surveyor);
    work.commit();
}

}  // namespace

bool PushSite(const std::string& url, const std::string& sitePath, PushOptions options,
              std::string& error) {
    site::Site site;
    if (!site::SiteFile::Load(sitePath, site, error))
        return false;
    if (options.target.site.empty())
        options.target.site = site.name;
    std::unique_ptr<Connection> connection = Connection::Open(url, error);
    if (!connection)
        return false;
    try {
        if (!StoreFloors(*connection, options.target.site, site, sitePath, error))
            return false;
    } catch (const std::exception& e) {
        error = connection->ShownUrl() + ": " + connection->Describe(e);
        return false;
    }
    for (const site::Building& b : site.buildings) {
        for (const site::Floor& f : b.floors) {
            std::vector<std::string> paths;
            for (const site::SiteCollection& c : f.collections)
                paths.push_back(site::SiteFile::ResolvePath(sitePath, c.path));
            PushOptions floorOptions = options;
            floorOptions.target.building = b.name;
            floorOptions.target.floor = f.name;
            if (!PushFiles(url, paths, floorOptions, error))
                return false;
            connection = Connection::Open(url, error);
            if (!connection)
                return false;
            try {
                StoreCollectionState(*connection, options.target.site, b, f);
            } catch (const std::exception& e) {
                error = connection->ShownUrl() + ": " + connection->Describe(e);
                return false;
            }
        }
    }
    return true;
}

bool StoreEstimates(Connection& connection, const std::string& site,
                    const std::vector<StoredEstimate>& estimates, const std::string& method,
                    std::string& error) {
    try {
        pqxx::work work(connection.Db());
        const pqxx::result id =
            work.exec_params("SELECT id FROM ketrion.sites WHERE name = $1", site);
        if (id.empty()) {
            error = "the store has no site \"" + site + "\"";
            return false;
        }
        const std::int64_t siteId = id[0][0].as<std::int64_t>();
        work.exec_params("DELETE FROM ketrion.estimates WHERE site_id = $1", siteId);
        for (const StoredEstimate& e : estimates) {
            char point[96];
            std::snprintf(point, sizeof point, "SRID=4326;POINT(%.9f %.9f)", e.longitude,
                          e.latitude);
            work.exec_params(
                "INSERT INTO ketrion.estimates (site_id, bssid, floor_id, geom, radius_m, "
                "readings, method) SELECT $1, $2::macaddr, f.id, ST_GeomFromEWKT($5), $6, $7, $8 "
                "FROM ketrion.floors f JOIN ketrion.buildings b ON b.id = f.building_id "
                "WHERE b.site_id = $1 AND b.name = $3 AND f.name = $4",
                siteId, e.bssid, e.building, e.floor, std::string(point), e.radiusMetres,
                static_cast<std::int64_t>(e.readings), method);
        }
        work.commit();
    } catch (const std::exception& e) {
        error = connection.ShownUrl() + ": " + connection.Describe(e);
        return false;
    }
    return true;
}

bool HasPlans(Connection& connection, const std::string& site) {
    pqxx::read_transaction work(connection.Db());
    return !work.exec_params(
                    "SELECT 1 FROM ketrion.plans p JOIN ketrion.floors f ON f.id = p.floor_id "
                    "JOIN ketrion.buildings b ON b.id = f.building_id JOIN ketrion.sites s "
                    "ON s.id = b.site_id WHERE s.name = $1 LIMIT 1",
                    site)
                .empty();
}

bool PullSite(Connection& connection, const std::string& siteName, const std::string& dir,
              std::string& sitePath, std::string& error) {
    struct FloorRow {
        std::string building, floor, plan, projection, references;
        int order = 0;
        double height = 0;
        std::vector<StoredCollection> collections;
        std::vector<bool> enabled;
        std::vector<std::string> surveyors;
    };
    std::vector<FloorRow> floors;
    {
        pqxx::read_transaction work(connection.Db());
        const pqxx::result rows = work.exec_params(
            "SELECT f.id, b.name, f.name, f.ordinal, f.height_m, p.name, p.projection, "
            "f.reference_points "
            "FROM ketrion.floors f JOIN ketrion.buildings b ON b.id = f.building_id "
            "JOIN ketrion.sites s ON s.id = b.site_id "
            "JOIN LATERAL (SELECT name, projection FROM ketrion.plans WHERE floor_id = f.id "
            "ORDER BY id LIMIT 1) p ON true WHERE s.name = $1 ORDER BY b.name, f.ordinal, f.name",
            siteName);
        if (rows.empty()) {
            error =
                "the store holds no floor plan of site \"" + siteName + "\" (push its site file)";
            return false;
        }
        for (const auto& row : rows) {
            FloorRow& f = floors.emplace_back();
            f.building = row[1].as<std::string>();
            f.floor = row[2].as<std::string>();
            f.order = row[3].as<int>();
            f.height = row[4].as<double>();
            f.plan = row[5].as<std::string>();
            f.projection = pqxx::binarystring(row[6]).str();
            f.references = row[7].as<std::string>();
            for (const auto& c : work.exec_params(
                     "SELECT name, bytes, side IS NOT NULL, coalesce(side, ''::bytea), enabled, "
                     "coalesce(surveyor, '') FROM ketrion.collections WHERE floor_id = $1 "
                     "ORDER BY name, id",
                     row[0].as<std::int64_t>())) {
                StoredCollection& s = f.collections.emplace_back();
                s.name = c[0].as<std::string>();
                s.bytes = pqxx::binarystring(c[1]).str();
                s.hasSide = c[2].as<bool>();
                if (s.hasSide)
                    s.side = pqxx::binarystring(c[3]).str();
                f.enabled.push_back(c[4].as<bool>());
                f.surveyors.push_back(c[5].as<std::string>());
            }
        }
    }
    namespace fs = std::filesystem;
    site::Site site;
    site.name = siteName;
    sitePath = (fs::path(dir) / (FolderName(siteName) + ".kts")).string();
    site::SiteEditor editor(site, sitePath);
    for (FloorRow& f : floors) {
        const fs::path folder = fs::path(dir) / FolderName(f.building) / FolderName(f.floor);
        std::vector<std::string> written;
        if (!WriteCollections(f.collections, folder.string(), written, error))
            return false;
        const std::string planPath = (folder / FolderName(f.plan)).string();
        files::OutputFile file;
        if (!file.Open(planPath, {}) || !file.Write(f.projection) || !file.Commit()) {
            error = file.Error();
            return false;
        }
        if (!editor.AddFloor(f.building, f.floor, f.order, f.height, planPath, error))
            return false;
        std::vector<site::ReferencePoint> references;
        if (!ParseReferences(f.references, references)) {
            error =
                "the store's reference points of " + f.building + " / " + f.floor + " are damaged";
            return false;
        }
        if (!references.empty() &&
            !editor.SetReferences(f.building + "/" + f.floor, references, error))
            return false;
        std::size_t at = 0;
        for (std::size_t i = 0; i < f.collections.size(); ++i) {
            if (!editor.AddCollection(f.building + "/" + f.floor, written[at], f.surveyors[i],
                                      f.enabled[i], error))
                return false;
            at += f.collections[i].hasSide ? 2 : 1;
        }
    }
    return site::SiteFile::Save(sitePath, site, error);
}

}  // namespace ketrion::store
