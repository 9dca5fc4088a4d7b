#include "store/Schema.h"

#include <array>
#include <pqxx/pqxx>

namespace ketrion::store {

namespace {

// Key of the advisory lock held while the schema is checked and changed
// ("KTRN" in ASCII): any value shared by every Ketrion works.
constexpr long long kSchemaLock = 0x4B54524E;

// Version 1: sites, buildings, floors, plans, collections, points, readings,
// access points and their estimates.
//
// Points are keyed by their collection and the offset of their location
// record in the collection file, which is what makes a push idempotent.
// Readings carry no key of their own (they are written with COPY, the fastest
// path) but are tied to their point and index; a collection's rows are only
// ever written in one transaction with the collection's row, so none is ever
// half there. The collection's own bytes (and its side store's) are kept so
// a pull gives back the very files that were pushed.
constexpr const char* kVersion1 = R"SQL(
CREATE TABLE ketrion.sites (
    id bigserial PRIMARY KEY,
    name text NOT NULL UNIQUE
);
CREATE TABLE ketrion.buildings (
    id bigserial PRIMARY KEY,
    site_id bigint NOT NULL REFERENCES ketrion.sites ON DELETE CASCADE,
    name text NOT NULL,
    UNIQUE (site_id, name)
);
CREATE TABLE ketrion.floors (
    id bigserial PRIMARY KEY,
    building_id bigint NOT NULL REFERENCES ketrion.buildings ON DELETE CASCADE,
    name text NOT NULL,
    UNIQUE (building_id, name)
);
CREATE TABLE ketrion.plans (
    id bigserial PRIMARY KEY,
    floor_id bigint NOT NULL REFERENCES ketrion.floors ON DELETE CASCADE,
    name text NOT NULL,
    projection bytea NOT NULL,
    -- plan pixels -> WGS 84: lon = a*x + b*y + c, lat = d*x + e*y + f
    affine double precision[6],
    footprint geometry(Polygon, 4326),
    UNIQUE (floor_id, name)
);
CREATE TABLE ketrion.collections (
    id bigserial PRIMARY KEY,
    site_id bigint NOT NULL REFERENCES ketrion.sites ON DELETE CASCADE,
    floor_id bigint REFERENCES ketrion.floors ON DELETE SET NULL,
    name text NOT NULL,
    header bytea NOT NULL,
    created timestamptz,
    bytes bytea NOT NULL,
    side bytea,
    points integer NOT NULL,
    readings bigint NOT NULL,
    pushed timestamptz NOT NULL DEFAULT now(),
    UNIQUE (site_id, name, header)
);
CREATE TABLE ketrion.points (
    collection_id bigint NOT NULL REFERENCES ketrion.collections ON DELETE CASCADE,
    file_offset bigint NOT NULL,
    number integer NOT NULL,
    floor_id bigint REFERENCES ketrion.floors ON DELETE SET NULL,
    geom geometry(Point, 4326),
    plan_x double precision,
    plan_y double precision,
    taken timestamp,
    fix_class smallint NOT NULL,
    kind smallint NOT NULL,
    method text,
    deleted boolean NOT NULL DEFAULT false,
    PRIMARY KEY (collection_id, file_offset)
);
CREATE INDEX points_geom ON ketrion.points USING gist (geom);
CREATE INDEX points_floor ON ketrion.points (floor_id);
-- No foreign key on readings: a per-row check would halve the speed of COPY.
-- A collection's readings are written in its one transaction and deleted
-- with it by delete_collection() below.
CREATE TABLE ketrion.readings (
    collection_id bigint NOT NULL,
    point_offset bigint NOT NULL,
    index smallint NOT NULL,
    bssid macaddr NOT NULL,
    ssid text NOT NULL,
    signal real NOT NULL,
    attribute smallint NOT NULL,
    channel smallint,
    frequency integer,
    band text,
    security text,
    phy text,
    width smallint,
    noise smallint
);
-- Readings arrive in collection and offset order: a block range index finds
-- a point's readings at a fraction of a B-tree's cost to keep up.
CREATE INDEX readings_point ON ketrion.readings USING brin (collection_id, point_offset);
CREATE INDEX readings_bssid ON ketrion.readings (bssid);
-- The kept files are stored as they are (no compression): compressing tens
-- of megabytes on every push costs more than the disk it saves.
ALTER TABLE ketrion.collections ALTER bytes SET STORAGE EXTERNAL,
    ALTER side SET STORAGE EXTERNAL;
CREATE FUNCTION ketrion.delete_collection(collection bigint) RETURNS void
LANGUAGE sql AS $$
    DELETE FROM ketrion.readings WHERE collection_id = collection;
    DELETE FROM ketrion.collections WHERE id = collection;
$$;
CREATE TABLE ketrion.access_points (
    site_id bigint NOT NULL REFERENCES ketrion.sites ON DELETE CASCADE,
    bssid macaddr NOT NULL,
    ssid text NOT NULL,
    channel smallint,
    band text,
    security text,
    PRIMARY KEY (site_id, bssid)
);
CREATE TABLE ketrion.estimates (
    site_id bigint NOT NULL REFERENCES ketrion.sites ON DELETE CASCADE,
    bssid macaddr NOT NULL,
    floor_id bigint REFERENCES ketrion.floors ON DELETE SET NULL,
    geom geometry(Point, 4326) NOT NULL,
    radius_m double precision,
    readings integer NOT NULL,
    method text NOT NULL,
    computed timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (site_id, bssid)
);
CREATE INDEX estimates_geom ON ketrion.estimates USING gist (geom);
CREATE INDEX estimates_floor ON ketrion.estimates (floor_id);
)SQL";

// Version 2: a floor's order, height and reference points, and whether a collection of a site
// is switched on and who surveyed it, so a pushed site file can be pulled back whole.
constexpr const char* kVersion2 = R"SQL(
ALTER TABLE ketrion.floors ADD COLUMN ordinal integer NOT NULL DEFAULT 0,
    ADD COLUMN height_m double precision NOT NULL DEFAULT 0,
    -- the floor's reference points for alignment, one "label<TAB>x<TAB>y" a line
    ADD COLUMN reference_points text NOT NULL DEFAULT '';
ALTER TABLE ketrion.collections ADD COLUMN enabled boolean NOT NULL DEFAULT true,
    ADD COLUMN surveyor text;
)SQL";

// Migration i turns version i into version i + 1.
constexpr std::array<const char*, kSchemaVersion> kMigrations = {kVersion1, kVersion2};

bool HasVersionTable(pqxx::work& work) {
    return !work.exec("SELECT to_regclass('ketrion.schema_version')")[0][0].is_null();
}

int ReadVersion(pqxx::work& work) {
    if (!HasVersionTable(work))
        return 0;
    const pqxx::result row = work.exec("SELECT max(version) FROM ketrion.schema_version");
    return row[0][0].is_null() ? 0 : row[0][0].as<int>();
}

}  // namespace

int StoredSchemaVersion(pqxx::connection_base& connection) {
    pqxx::work work(connection);
    return ReadVersion(work);
}

bool PrepareSchema(pqxx::connection_base& connection, std::string& error) {
    pqxx::work work(connection);
    work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")");
    const int stored = ReadVersion(work);
    if (stored > kSchemaVersion) {
        error = "the store's schema is version " + std::to_string(stored) +
                ", newer than this program's " + std::to_string(kSchemaVersion) +
                "; use a newer Ketrion with this store";
        return false;
    }
    if (stored == kSchemaVersion)
        return true;
    if (work.exec("SELECT 1 FROM pg_extension WHERE extname = 'postgis'").empty()) {
        try {
            pqxx::subtransaction sub(work, "postgis");
            sub.exec("CREATE EXTENSION postgis");
            sub.commit();
        } catch (const pqxx::sql_error&) {
            error =
                "the database has no PostGIS and this user may not add it; ask its "
                "administrator to run CREATE EXTENSION postgis in it";
            return false;
        }
    }
    work.exec("CREATE SCHEMA IF NOT EXISTS ketrion");
    if (!HasVersionTable(work))
        work.exec("CREATE TABLE ketrion.schema_version (version integer NOT NULL)");
    for (int v = stored; v < kSchemaVersion; ++v)
        work.exec(kMigrations[static_cast<std::size_t>(v)]);
    work.exec("DELETE FROM ketrion.schema_version");
    work.exec("INSERT INTO ketrion.schema_version VALUES (" + std::to_string(kSchemaVersion) + ")");
    work.commit();
    return true;
}

}  // namespace ketrion::store
