#pragma once

#include <string>

namespace ketrion::store {

// A connection string (a postgresql:// URL or "key=value" words) as it may be
// shown in a message: any password removed. Whatever libpq would read as a
// password (the URL's user:password@, a password= parameter or word) is
// replaced by "***", so no message or log ever carries one.
std::string RedactUrl(const std::string& url);

// `text` with every occurrence of `secret` (when not empty) replaced by "***":
// for server and library messages that might quote the connection string.
std::string RedactSecret(std::string text, const std::string& secret);

// The password the connection string carries itself, if any (for RedactSecret).
std::string UrlPassword(const std::string& url);

}  // namespace ketrion::store
