#include "model/Text.h"

#include <cstdio>

namespace ketrion {

std::string MacText(const std::uint8_t* mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string EscapeHex(std::string_view bytes, std::string_view alsoEscaped, bool keepHighBytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        const bool shown = (c >= 0x20 && c < 0x7F) || (keepHighBytes && c >= 0x80);
        if (shown && alsoEscaped.find(ch) == std::string_view::npos) {
            out += ch;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

}  // namespace ketrion
