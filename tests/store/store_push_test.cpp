// The store against a real PostgreSQL server with PostGIS (tests/support/
// PgServer.h): pushing collection files, pulling them back byte for byte,
// pushing twice, a connection killed in the middle of a push, two pushes at
// once, a store of a newer schema and a wrong password.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <pqxx/pqxx>
#include <thread>

#include "store/Connection.h"
#include "store/Push.h"
#include "store/Schema.h"
#include "store/store_fixture.h"
#include "support/RunProgram.h"
#include "support/ScratchFiles.h"
#include "support/SyntheticSurvey.h"

namespace ketrion::testing {
namespace {

using scratch::ReadBytes;
using scratch::ScratchDir;

class StoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StoreDatabase::Start(); }
    static void TearDownTestSuite() { StoreDatabase::Stop(); }
    void SetUp() override { StoreDatabase::ForThisTest(url); }

    // Runs ktd with `args`.
    static ProgramRun Ktd(const std::vector<std::string>& args) {
        return RunProgram(ToolPath("ktd"), args);
    }
    std::string Synthetic(const std::string& name, SyntheticSpec spec = {}) {
        const std::string path = dir / name;
        EXPECT_TRUE(WriteSyntheticSurvey(path, spec));
        return path;
    }
    long long Count(const std::string& sql) { return StoreDatabase::Count(url, sql); }
    long long Points() { return Count("SELECT count(*) FROM ketrion.points"); }
    long long Readings() { return Count("SELECT count(*) FROM ketrion.readings"); }

    ScratchDir dir;
    std::string url;
};

// Pushed files come back byte for byte, with their side stores; the tables
// hold every point (with its geometry) and reading.
TEST_F(StoreTest, PullGivesBackThePushedFilesByteForByte) {
    struct Case {
        const char* legend;
        std::string path;
        long long points, readings;
        bool side;
    };
    const std::string golden = std::string(KETRION_SOURCE_DIR) + "/tests/data/collection/";
    SyntheticSpec noSide;
    noSide.sideStore = false;
    noSide.seed = 2;
    const std::vector<Case> cases = {
        {"golden file from the board, no fix, no side store", golden + "session.ktd", 2, 16, false},
        {"synthetic survey with its side store", Synthetic("synthetic.ktd"), 100, 800, true},
        {"synthetic survey without a side store", Synthetic("bare.ktd", noSide), 100, 800, false},
    };
    long long points = 0, readings = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const ProgramRun push =
            Ktd({"push", c.path, "--db", url, "--site", "campus", "--floor", "2"});
        ASSERT_EQ(push.status, 0) << push.err;
        points += c.points;
        readings += c.readings;
        EXPECT_EQ(Points(), points);
        EXPECT_EQ(Readings(), readings);
    }
    EXPECT_EQ(Count("SELECT count(*) FROM ketrion.points WHERE ST_SRID(geom) = 4326 AND "
                    "ST_Y(geom) BETWEEN 39.9 AND 40.1"),
              200);
    EXPECT_EQ(
        Count("SELECT count(*) FROM ketrion.readings WHERE channel IS NOT NULL AND "
              "noise = -92 AND ssid = 'caf\\xE9\tbar'"),
        Count("SELECT count(*) FROM ketrion.readings r JOIN ketrion.collections c ON "
              "c.id = r.collection_id WHERE c.name = 'synthetic.ktd' AND r.ssid LIKE 'caf%'"));

    const ProgramRun pull = Ktd({"pull", "--db", url, "--site", "campus", "-o", dir / "out"});
    ASSERT_EQ(pull.status, 0) << pull.err;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const std::string name = c.path.substr(c.path.find_last_of('/') + 1);
        EXPECT_EQ(ReadBytes(dir / ("out/" + name)), ReadBytes(c.path));
        EXPECT_EQ(ReadBytes(dir / ("out/" + name + ".side")),
                  c.side ? ReadBytes(c.path + ".side") : scratch::Bytes{});
    }
}

// A point is its collection and offset: the same file twice adds nothing, and
// a file that grew adds only its new points.
TEST_F(StoreTest, PushingTwiceAddsNothingAndAGrownFileOnlyItsNewPoints) {
    SyntheticSpec spec;
    spec.sideStore = false;
    spec.points = 50;
    const std::string path = Synthetic("grow.ktd", spec);
    ASSERT_EQ(Ktd({"push", path, "--db", url, "--site", "campus"}).status, 0);
    const ProgramRun again = Ktd({"push", path, "--db", url, "--site", "campus"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.err.find("grow.ktd: already in the store"), std::string::npos) << again.err;
    EXPECT_EQ(Points(), 50);
    EXPECT_EQ(Readings(), 400);

    spec.points = 80;  // the same header and first 50 points, then 30 more
    ASSERT_TRUE(WriteSyntheticSurvey(path, spec));
    const ProgramRun grown = Ktd({"push", path, "--db", url, "--site", "campus"});
    EXPECT_NE(grown.err.find("30 points, 240 readings added"), std::string::npos) << grown.err;
    EXPECT_EQ(Points(), 80);
    EXPECT_EQ(Count("SELECT count(*) FROM ketrion.collections"), 1);
    const ProgramRun pull = Ktd({"pull", "--db", url, "--site", "campus", "-o", dir / "out"});
    ASSERT_EQ(pull.status, 0) << pull.err;
    EXPECT_EQ(ReadBytes(dir / "out/grow.ktd"), ReadBytes(path));
}

// The server ends the push's session in the middle of its COPY: nothing of
// the collection is stored; without reconnects the push fails saying to push
// again, and a push that may reconnect sends the collection again and completes.
TEST_F(StoreTest, AConnectionKilledMidPushLeavesNothingAndThePushGoesOn) {
    SyntheticSpec spec;
    spec.points = 3000;
    spec.readingsPerPoint = 20;  // 60,000 readings: several progress reports
    const std::string path = Synthetic("big.ktd", spec);
    pqxx::connection killer(url);
    auto killOnce = [&](bool& killed) {
        return [&](std::int64_t done, std::int64_t total) {
            if (killed || done == 0 || done >= total)
                return;
            killed = true;
            pqxx::nontransaction n(killer);
            // The push's own session: the only other one on this database.
            n.exec(
                "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                "current_database() AND pid <> pg_backend_pid()");
        };
    };
    bool killed = false;
    store::PushOptions options;
    options.target.site = "campus";
    options.reconnects = 0;
    options.progress = killOnce(killed);
    std::string error;
    EXPECT_FALSE(store::PushFiles(url, {path}, options, error));
    EXPECT_TRUE(killed);
    EXPECT_NE(error.find("nothing of it was stored: push again"), std::string::npos) << error;
    EXPECT_EQ(error.find(PgServer::kPassword), std::string::npos) << error;
    EXPECT_EQ(Points(), 0);
    EXPECT_EQ(Readings(), 0);
    EXPECT_EQ(Count("SELECT count(*) FROM ketrion.collections"), 0);

    killed = false;
    options.reconnects = 2;
    std::vector<std::string> said;
    options.say = [&](const std::string& text) { said.push_back(text); };
    EXPECT_TRUE(store::PushFiles(url, {path}, options, error)) << error;
    EXPECT_TRUE(killed);
    ASSERT_EQ(said.size(), 2u);
    EXPECT_NE(said[0].find("reconnecting"), std::string::npos) << said[0];
    EXPECT_EQ(Points(), 3000);
    EXPECT_EQ(Readings(), 60000);
}

// Two surveyors push different collections of one new site at the same time:
// both land, under one site row.
TEST_F(StoreTest, TwoPushesOfOneSiteAtOnceBothLand) {
    SyntheticSpec a, b;
    a.points = b.points = 400;
    b.seed = 5;
    const std::string first = Synthetic("alice.ktd", a);
    const std::string second = Synthetic("bob.ktd", b);
    bool ok[2] = {false, false};
    std::string errors[2];
    auto push = [&](int i, const std::string& path) {
        store::PushOptions options;
        options.target = {"campus", "library", "2"};
        ok[i] = store::PushFiles(url, {path}, options, errors[i]);
    };
    std::thread one(push, 0, first);
    std::thread two(push, 1, second);
    one.join();
    two.join();
    EXPECT_TRUE(ok[0]) << errors[0];
    EXPECT_TRUE(ok[1]) << errors[1];
    EXPECT_EQ(Count("SELECT count(*) FROM ketrion.sites"), 1);
    EXPECT_EQ(Count("SELECT count(*) FROM ketrion.floors"), 1);
    EXPECT_EQ(Count("SELECT count(DISTINCT collection_id) FROM ketrion.points"), 2);
    EXPECT_EQ(Points(), 800);
}

// With no password in the URL, libpq takes it from the password file
// PGPASSFILE names (a file only its owner may read).
TEST_F(StoreTest, ThePasswordComesFromThePasswordFile) {
    const std::string path = Synthetic("s.ktd");
    const std::string withoutPassword =
        url.substr(0, url.find(':', 13)) + url.substr(url.find('@'));
    const std::string host =
        url.substr(url.find("host=") + 5, url.find('&') - url.find("host=") - 5);
    const std::string passfile = dir / "pgpass";
    {
        std::ofstream out(passfile);
        out << host << ":5432:*:" << PgServer::kUser << ":" << PgServer::kPassword << "\n";
    }
    ASSERT_EQ(chmod(passfile.c_str(), 0600), 0);
    ASSERT_EQ(setenv("PGPASSFILE", passfile.c_str(), 1), 0);
    const ProgramRun run = Ktd({"push", path, "--db", withoutPassword, "--site", "campus"});
    unsetenv("PGPASSFILE");
    EXPECT_EQ(run.status, 0) << withoutPassword << ": " << run.err;
    EXPECT_EQ(Points(), 100);
}

// What a push refuses: one clear line each, a non-zero exit, no password.
TEST_F(StoreTest, RefusalsAreOneLineWithoutThePassword) {
    const std::string path = Synthetic("s.ktd");
    const ProgramRun first = Ktd({"push", path, "--db", url, "--site", "campus"});
    ASSERT_EQ(first.status, 0) << first.err;
    {
        pqxx::connection db(url);
        pqxx::work work(db);
        work.exec("UPDATE ketrion.schema_version SET version = " +
                  std::to_string(store::kSchemaVersion + 1));
        work.commit();
    }
    const std::string database = url.substr(url.find("@/") + 2, url.find('?') - url.find("@/") - 2);
    struct Case {
        const char* legend;
        std::string url;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"a store of a newer schema", url,
         "schema is version " + std::to_string(store::kSchemaVersion + 1) + ", newer than"},
        {"a wrong password", StoreDatabase::Running().Url(database, "wrong-pw-123"),
         "password authentication failed for user \"ketrion\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.legend);
        const ProgramRun run = Ktd({"push", path, "--db", c.url, "--site", "campus"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("pw"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("postgresql://ketrion:***@/"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace ketrion::testing
