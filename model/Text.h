#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ketrion {

// "02:11:22:33:44:55": a hardware address as every tool and file shows it
// (lower-case hex, colons).
std::string MacText(const std::uint8_t* mac);
inline std::string MacText(const std::array<std::uint8_t, 6>& mac) {
    return MacText(mac.data());
}

// Bytes as a terminal or a text file can show them: printable ASCII as is,
// every other byte and each byte of `alsoEscaped` as \xHH (upper-case hex).
// With `keepHighBytes`, bytes from 0x80 up stay as they are (text already
// made valid UTF-8).
std::string EscapeHex(std::string_view bytes, std::string_view alsoEscaped = "\"\\",
                      bool keepHighBytes = false);

}  // namespace ketrion
