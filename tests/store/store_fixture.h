#pragma once

// One PostgreSQL server per test program (tests/support/PgServer.h) and a
// database of its own for each test, with PostGIS in it.

#include <gtest/gtest.h>

#include <cctype>
#include <pqxx/pqxx>
#include <string>

#include "support/PgServer.h"

namespace ketrion::testing {

class StoreDatabase {
public:
    static void Start() {
        if (PgServer::Available())
            Server() = new PgServer();
    }
    static void Stop() {
        delete Server();
        Server() = nullptr;
    }
    // Makes a new database named after the running test and puts its URL in
    // `url`; the test is skipped (no server programs) or failed (the server
    // did not start) otherwise.
    static void ForThisTest(std::string& url) {
        if (!PgServer::Available()) {
            GTEST_SKIP_(
                "the PostgreSQL 15 server programs are not installed in "
                "/usr/lib/postgresql/15/bin (scripts/setup installs them)");
        }
        if (Server() == nullptr || !Server()->Ok()) {
            FAIL() << (Server() == nullptr ? "no server" : Server()->Error());
        }
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        url = Server()->NewDatabase("t_" + name);
    }
    static PgServer& Running() { return *Server(); }

    // The first column of the first row `sql` returns.
    static long long Count(const std::string& url, const std::string& sql) {
        pqxx::connection db(url);
        pqxx::read_transaction work(db);
        return work.exec(sql)[0][0].as<long long>();
    }

private:
    static PgServer*& Server() {
        static PgServer* server = nullptr;
        return server;
    }
};

}  // namespace ketrion::testing
