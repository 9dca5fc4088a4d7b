#include "store/Connection.h"

#include <pqxx/pqxx>

#include "store/Schema.h"
#include "store/StoreUrl.h"

namespace ketrion::store {

std::string FirstLine(const std::string& message) {
    std::string line = message.substr(0, message.find('\n'));
    // libpq puts the server's severity before its text; the text alone reads better.
    for (const char* noise : {"FATAL:  ", "ERROR:  "}) {
        const std::size_t at = line.find(noise);
        if (at != std::string::npos)
            line.erase(at, std::char_traits<char>::length(noise));
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

Connection::Connection(std::unique_ptr<pqxx::connection> db, std::string shown, std::string secret)
    : m_db(std::move(db)), m_shown(std::move(shown)), m_secret(std::move(secret)) {}

Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::Open(const std::string& url, std::string& error) {
    const std::string shown = RedactUrl(url);
    const std::string secret = UrlPassword(url);
    std::unique_ptr<pqxx::connection> db;
    try {
        db = std::make_unique<pqxx::connection>(url);
    } catch (const std::exception& e) {
        error = "cannot connect to " + shown + ": " + RedactSecret(FirstLine(e.what()), secret);
        return nullptr;
    }
    std::unique_ptr<Connection> connection(new Connection(std::move(db), shown, secret));
    try {
        // Notices (such as "relation already exists, skipping") are not for the user.
        connection->Db().set_variable("client_min_messages", "warning");
        if (!PrepareSchema(connection->Db(), error)) {
            error = shown + ": " + error;
            return nullptr;
        }
    } catch (const std::exception& e) {
        error = shown + ": " + connection->Describe(e);
        return nullptr;
    }
    return connection;
}

int Connection::BackendPid() const {
    return m_db->backendpid();
}

std::string Connection::Describe(const std::exception& e) const {
    return RedactSecret(FirstLine(e.what()), m_secret);
}

}  // namespace ketrion::store
