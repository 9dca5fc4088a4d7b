#include "analysis/ExportText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace ketrion::analysis {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// The length of the well-formed UTF-8 sequence at the start of `s`, or 0 when
// its first byte does not start one (the byte tables of the Unicode standard,
// table 3-7).
std::size_t SequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = byte(0);
    if (c < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte
    unsigned char high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0)
            low = 0xA0;  // no overlong forms
        if (c == 0xED)
            high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0)
            low = 0x90;  // no overlong forms
        if (c == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    }
    return length;
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = SequenceLength(bytes);
        if (length == 0) {
            out += kReplacement;
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return out;
}

std::string XmlEscape(std::string_view text) {
    const std::string valid = ValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const char ch = valid[i];
        const auto c = static_cast<unsigned char>(ch);
        // U+FFFE and U+FFFF (EF BF BE, EF BF BF) are not XML characters.
        if (c == 0xEF && i + 2 < valid.size() && static_cast<unsigned char>(valid[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(valid[i + 2]) & 0xFE) == 0xBE) {
            out += kReplacement;
            i += 2;
            continue;
        }
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\r':
                out += "&#13;";  // a literal one would be folded into a line feed
                break;
            case '\n':
                out += '\n';
                break;
            default:
                if (c < 0x20) {
                    out += kReplacement;
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

std::string WithoutTerminalControls(std::string_view text) {
    const std::string valid = ValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto c = static_cast<unsigned char>(valid[i]);
        const bool c0 = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
        // C1 controls are U+0080..U+009F: C2 80 .. C2 9F.
        const bool c1 =
            c == 0xC2 && i + 1 < valid.size() && static_cast<unsigned char>(valid[i + 1]) <= 0x9F;
        if (c0 || c == 0x7F || c1) {
            out += kReplacement;
            i += c1 ? 1 : 0;
        } else {
            out += valid[i];
        }
    }
    return out;
}

std::string NeutralisedFormula(std::string text) {
    if (!text.empty() && std::strchr("=+-@\t\r", text.front()) != nullptr)
        text.insert(text.begin(), '\'');
    return text;
}

std::string CsvField(std::string_view text) {
    std::string valid = ValidUtf8(text);
    if (valid.find_first_of(",\"\r\n") == std::string::npos)
        return valid;
    std::string out = "\"";
    for (const char ch : valid) {
        if (ch == '"')
            out += '"';
        out += ch;
    }
    return out + "\"";
}

std::string DegreesText(double degrees, int minDecimals) {
    if (!std::isfinite(degrees))
        return "0";
    char text[400];  // a fixed-notation double needs at most ~330 characters
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, degrees, std::chars_format::fixed);
    if (error != std::errc{})
        return "0";
    std::string out(text, end);
    std::size_t point = out.find('.');
    if (point == std::string::npos) {
        point = out.size();
        out += '.';
    }
    const std::size_t decimals = out.size() - point - 1;
    if (decimals < static_cast<std::size_t>(minDecimals))
        out.append(static_cast<std::size_t>(minDecimals) - decimals, '0');
    return out;
}

std::string DbmText(double dbm) {
    char text[32];
    std::snprintf(text, sizeof text, dbm == std::trunc(dbm) ? "%.0f" : "%.2f", dbm);
    return text;
}

std::string DecimalText(double value, int maxDecimals) {
    if (!std::isfinite(value))
        return "0";
    char text[400];  // a fixed-notation double needs at most ~330 characters
    std::snprintf(text, sizeof text, "%.*f", std::clamp(maxDecimals, 0, 17), value);
    std::string out = text;
    if (out.find('.') != std::string::npos) {
        out.erase(out.find_last_not_of('0') + 1);
        if (out.back() == '.')
            out.pop_back();
    }
    return out == "-0" ? "0" : out;
}

const char* FixName(std::uint8_t fixClass) {
    switch (fixClass) {
        case 1:
            return "2D";
        case 2:
            return "3D";
        default:
            return "none";
    }
}

int SignalLevel(int signal) {
    if (signal <= -91)
        return 0;
    if (signal <= -71)
        return 1;
    if (signal <= -51)
        return 2;
    if (signal <= -31)
        return 3;
    return 4;
}

Rgb LevelColour(int level) {
    switch (level) {
        case 0:
            return {0, 0, 0};
        case 1:
            return {192, 0, 0};
        case 2:
            return {0, 192, 0};
        case 3:
            return {0, 0, 192};
        default:
            return {255, 255, 255};
    }
}

}  // namespace ketrion::analysis
