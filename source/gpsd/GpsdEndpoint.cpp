#include "source/gpsd/GpsdEndpoint.h"

#include <cctype>

namespace ketrion::source {
namespace {

// Longest host name DNS allows; longer text is a mistake, not a host.
constexpr std::size_t kMaxHostLength = 253;

bool ParsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// Letters, digits and the punctuation of names and addresses ('-', '.', '_',
// and for IPv6 ':' and the zone's '%'); no spaces, slashes or controls.
bool HostCharactersOk(std::string_view host, bool ipv6) {
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        const bool ok = std::isalnum(u) != 0 || c == '-' || c == '.' || c == '_' ||
                        (ipv6 && (c == ':' || c == '%'));
        if (!ok) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string GpsdEndpoint::ToString() const {
    std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return text + ":" + std::to_string(port);
}

std::optional<GpsdEndpoint> ParseGpsdEndpoint(std::string_view text, std::string& error) {
    std::string quoted(1, '"');
    quoted.append(text.substr(0, kMaxHostLength + 8)).push_back('"');
    GpsdEndpoint endpoint;
    std::string_view host;
    std::string_view port;
    bool ipv6 = false;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos) {
            error = "gpsd address " + quoted + " has no closing ']'";
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        ipv6 = true;
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                error = "gpsd address " + quoted + ": expected ':PORT' after ']'";
                return std::nullopt;
            }
            port = rest.substr(1);
            if (port.empty()) {
                error = "gpsd address " + quoted + ": the port after ':' is missing";
                return std::nullopt;
            }
        }
        if (host.empty()) {
            error = "gpsd address " + quoted + ": empty IPv6 address in brackets";
            return std::nullopt;
        }
    } else {
        const auto colon = text.find(':');
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) != std::string_view::npos) {
            error =
                "gpsd address " + quoted + ": put an IPv6 address in brackets, as in [::1]:2947";
            return std::nullopt;
        }
        host = text.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) {
                error = "gpsd address " + quoted + ": the port after ':' is missing";
                return std::nullopt;
            }
        }
    }
    if (host.size() > kMaxHostLength || !HostCharactersOk(host, ipv6)) {
        error = "gpsd address " + quoted + ": not a host name or address";
        return std::nullopt;
    }
    if (!port.empty() && !ParsePort(port, endpoint.port)) {
        error = "gpsd address " + quoted + ": the port must be a number from 1 to 65535";
        return std::nullopt;
    }
    if (!host.empty()) {
        endpoint.host = std::string(host);
    }
    return endpoint;
}

}  // namespace ketrion::source
