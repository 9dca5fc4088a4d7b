#include "store/StoreUrl.h"

#include <libpq-fe.h>

#include <memory>

namespace ketrion::store {

namespace {

constexpr const char* kHidden = "***";

bool IsUri(const std::string& url) {
    return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

// The URI with "user:password@" and "password=..." query parameters hidden.
std::string RedactUri(const std::string& url) {
    std::string out = url;
    const std::size_t scheme = out.find("://") + 3;
    // The authority ends at the first '/', '?' or '#'; its user information
    // at the last '@' inside it.
    const std::size_t authorityEnd = out.find_first_of("/?#", scheme);
    const std::size_t at =
        out.rfind('@', authorityEnd == std::string::npos ? out.size() - 1 : authorityEnd);
    if (at != std::string::npos && at >= scheme) {
        const std::size_t colon = out.find(':', scheme);
        if (colon != std::string::npos && colon < at)
            out.replace(colon + 1, at - colon - 1, kHidden);
    }
    const std::size_t query = out.find('?');
    if (query == std::string::npos)
        return out;
    std::size_t pos = query + 1;
    while (pos < out.size()) {
        std::size_t end = out.find('&', pos);
        if (end == std::string::npos)
            end = out.size();
        if (out.compare(pos, 9, "password=") == 0) {
            out.replace(pos + 9, end - pos - 9, kHidden);
            end = pos + 9 + 3;
        }
        pos = end + 1;
    }
    return out;
}

// "key=value" words with the password word's value hidden (quoted values
// with escapes included, as libpq reads them).
std::string RedactWords(const std::string& text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t key = text.find("password", i);
        if (key == std::string::npos) {
            out += text.substr(i);
            break;
        }
        std::size_t eq = key + 8;
        while (eq < text.size() && text[eq] == ' ')
            ++eq;
        const bool wordStart = key == 0 || text[key - 1] == ' ';
        if (!wordStart || eq >= text.size() || text[eq] != '=') {
            out += text.substr(i, key + 8 - i);
            i = key + 8;
            continue;
        }
        std::size_t value = eq + 1;
        while (value < text.size() && text[value] == ' ')
            ++value;
        std::size_t end = value;
        if (end < text.size() && text[end] == '\'') {
            for (++end; end < text.size() && text[end] != '\''; ++end)
                if (text[end] == '\\')
                    ++end;
            end = std::min(end + 1, text.size());
        } else {
            while (end < text.size() && text[end] != ' ')
                ++end;
        }
        out += text.substr(i, eq + 1 - i);
        out += kHidden;
        i = end;
    }
    return out;
}

}  // namespace

std::string RedactUrl(const std::string& url) {
    return IsUri(url) ? RedactUri(url) : RedactWords(url);
}

std::string RedactSecret(std::string text, const std::string& secret) {
    if (secret.empty())
        return text;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3))
        text.replace(at, secret.size(), kHidden);
    return text;
}

std::string UrlPassword(const std::string& url) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.c_str(), &error);
    PQfreemem(error);
    if (options == nullptr)
        return {};
    std::string password;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o)
        if (std::string(o->keyword) == "password" && o->val != nullptr)
            password = o->val;
    PQconninfoFree(options);
    return password;
}

}  // namespace ketrion::store
