#pragma once

#include <exception>
#include <memory>
#include <pqxx/connection>
#include <string>

namespace ketrion::store {

// One connection to the store, its schema checked (and created or migrated)
// on opening. The password comes from the URL, PGPASSWORD, PGPASSFILE or
// ~/.pgpass, as libpq finds it; TLS is used when the server offers it
// (libpq's sslmode=prefer, unless the URL says otherwise). No message this
// class makes ever carries the password.
//
// Threads: one object is used by one thread at a time.
class Connection {
public:
    // Connects to `url`; null with one line in `error` ("cannot connect to
    // URL: why", the URL without its password) when the server cannot be
    // reached, refuses the user, or holds a schema this program does not know.
    static std::unique_ptr<Connection> Open(const std::string& url, std::string& error);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    pqxx::connection& Db() { return *m_db; }
    // The server process serving this connection (pg_backend_pid()).
    int BackendPid() const;
    // The URL as messages may show it.
    const std::string& ShownUrl() const { return m_shown; }
    // One line for a failure of a statement on this connection, without the
    // password: the first line of the server's or the library's message.
    std::string Describe(const std::exception& e) const;

private:
    Connection(std::unique_ptr<pqxx::connection> db, std::string shown, std::string secret);
    std::unique_ptr<pqxx::connection> m_db;
    std::string m_shown;
    std::string m_secret;
};

// The first line of `message`, trimmed, without "FATAL:  "/"ERROR:  " noise.
std::string FirstLine(const std::string& message);

}  // namespace ketrion::store
