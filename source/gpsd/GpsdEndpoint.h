#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ketrion::source {

// Where gpsd listens.
struct GpsdEndpoint {
    static constexpr const char* kDefaultHost = "localhost";
    static constexpr std::uint16_t kDefaultPort = 2947;  // gpsd's registered port

    std::string host = kDefaultHost;
    std::uint16_t port = kDefaultPort;

    // "host:port", with an IPv6 address in brackets: "[::1]:2947".
    std::string ToString() const;
};

// Reads "HOST[:PORT]" as given on the command line: "" or ":PORT" take the
// default host, a missing port the default port; an IPv6 address goes in
// brackets ("[fe80::1%wlan0]:2947"). Returns nothing, with a message for the
// user in `error`, for anything else.
std::optional<GpsdEndpoint> ParseGpsdEndpoint(std::string_view text, std::string& error);

}  // namespace ketrion::source
