#pragma once

// A real PostgreSQL server with PostGIS for the store's tests: initdb in a
// temporary folder, listening only on a Unix socket in that folder, password
// authentication (SCRAM) for every connection, stopped and removed at the end.
// PostgreSQL refuses to run as root: run as root (as CI does), the server's
// programs are started as the "postgres" user (or "nobody"), who owns the folder.
// Header-only: tests and benchmarks both use it.

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <pqxx/pqxx>
#include <string>
#include <vector>

#include "support/RunProgram.h"

namespace ketrion::testing {

class PgServer {
public:
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
    static constexpr const char* kUser = "ketrion";
    static constexpr const char* kPassword = "s3cret-pw";
    static constexpr const char* kTemplate = "ketrion_template";

    // True when the server's programs are installed.
    static bool Available() {
        return access((std::string(kBin) + "/initdb").c_str(), X_OK) == 0 &&
               access((std::string(kBin) + "/pg_ctl").c_str(), X_OK) == 0;
    }

    // Starts the server; Error() says why when it could not.
    PgServer() {
        static std::atomic<int> serial{0};
        m_dir = (std::filesystem::temp_directory_path() /
                 ("ketrion-pg-" + std::to_string(getpid()) + "-" + std::to_string(serial++)))
                    .string();
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
        std::filesystem::create_directories(m_dir);
        {
            std::ofstream pw(m_dir + "/pw");
            pw << kPassword << "\n";
        }
        if (geteuid() == 0 && !DropToServerUser())
            return;
        const ProgramRun init =
            RunAsServer({std::string(kBin) + "/initdb", "-D", m_dir + "/data", "-U", kUser,
                         "--pwfile=" + m_dir + "/pw", "--auth=scram-sha-256", "-E", "UTF8",
                         "--no-sync", "--no-instructions"});
        if (init.status != 0) {
            m_error = "initdb failed: " + init.out;
            return;
        }
        // Only the socket in the folder; fsync off: a test server need not
        // survive a power cut.
        const ProgramRun start = RunAsServer(
            {std::string(kBin) + "/pg_ctl", "-D", m_dir + "/data", "-l", m_dir + "/log", "-w", "-o",
             "-k " + m_dir + " -c listen_addresses= -p 5432 -c fsync=off", "start"});
        if (start.status != 0) {
            m_error = "pg_ctl start failed: " + start.out;
            return;
        }
        m_started = true;
        try {
            pqxx::connection admin(Url("postgres"));
            pqxx::nontransaction n(admin);
            n.exec("CREATE DATABASE " + std::string(kTemplate));
            pqxx::connection templ(Url(kTemplate));
            pqxx::nontransaction t(templ);
            t.exec("CREATE EXTENSION postgis");
        } catch (const std::exception& e) {
            m_error = std::string("cannot prepare the template database: ") + e.what();
        }
    }
    ~PgServer() {
        if (m_started)
            RunAsServer({std::string(kBin) + "/pg_ctl", "-D", m_dir + "/data", "-m", "immediate",
                         "-w", "stop"});
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    const std::string& Error() const { return m_error; }
    bool Ok() const { return m_started && m_error.empty(); }

    // A URL for `database` with this server's user and `password`.
    std::string Url(const std::string& database, const std::string& password = kPassword) const {
        return "postgresql://" + std::string(kUser) + ":" + password + "@/" + database +
               "?host=" + m_dir + "&port=5432";
    }

    // A new database with PostGIS in it (copied from the template); its URL.
    std::string NewDatabase(const std::string& name) {
        pqxx::connection admin(Url("postgres"));
        pqxx::nontransaction n(admin);
        n.exec("CREATE DATABASE " + name + " TEMPLATE " + kTemplate);
        return Url(name);
    }

private:
    bool DropToServerUser() {
        for (const char* name : {"postgres", "nobody"}) {
            if (const passwd* pw = getpwnam(name)) {
                m_runAs = name;
                std::error_code ec;
                for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir))
                    (void)chown(entry.path().c_str(), pw->pw_uid, pw->pw_gid);
                if (chown(m_dir.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
                    m_error = "cannot give " + m_dir + " to " + name;
                    return false;
                }
                return true;
            }
        }
        m_error = "running as root and neither a postgres nor a nobody user exists";
        return false;
    }

    ProgramRun RunAsServer(std::vector<std::string> args) const {
        RunOptions options;
        options.mergeErrors = true;
        if (m_runAs.empty()) {
            const std::string program = args.front();
            args.erase(args.begin());
            return RunProgram(program, args, options);
        }
        args.insert(args.begin(), {"-u", m_runAs, "--"});
        return RunProgram("/usr/sbin/runuser", args, options);
    }

    std::string m_dir;
    std::string m_runAs;  // empty: the test's own user
    std::string m_error;
    bool m_started = false;
};

}  // namespace ketrion::testing
