#pragma once

#include <string>

namespace pqxx {
class connection_base;
}

namespace ketrion::store {

// The store's tables live in the schema "ketrion" of the database the URL
// names, beside PostGIS (whose types live in "public"). Their version is kept
// in ketrion.schema_version, one row; Ketrion creates the tables on first use
// and migrates an older version step by step, each step in the same
// transaction as the version it writes. A store of a newer version than this
// program knows is refused: its tables may mean something this program would
// get wrong.
inline constexpr int kSchemaVersion = 2;

// Creates or migrates the schema (serialised between programs by an advisory
// lock, so two first pushes at once do not race), and checks its version.
// False with one line in `error`.
bool PrepareSchema(pqxx::connection_base& connection, std::string& error);

// The version the store holds; 0 when it has none yet.
int StoredSchemaVersion(pqxx::connection_base& connection);

}  // namespace ketrion::store
