#include "source/wifi/BssText.h"

#include <cinttypes>
#include <cstdio>

#include "model/Text.h"
#include "source/wifi/Elements.h"

namespace ketrion::source::wifi {
namespace {

// A JSON string literal of text that is already valid UTF-8.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

// mBm as dBm: whole when it divides by 100, else with two decimals.
std::string Dbm(int mbm) {
    char text[32];
    if (mbm % 100 == 0)
        std::snprintf(text, sizeof text, "%d", mbm / 100);
    else
        std::snprintf(text, sizeof text, "%.2f", mbm / 100.0);
    return text;
}

std::string Printable(const std::string& bytes) {
    // The quote that frames a name in a line is escaped too.
    return EscapeHex(bytes, "\\\"");
}

}  // namespace

std::string TextLine(const Bss& bss) {
    const ElementInfo& e = bss.elements;
    std::string line = MacText(bss.bssid);
    char field[64];
    if (bss.signalMbm)
        std::snprintf(field, sizeof field, "  %6s dBm", Dbm(*bss.signalMbm).c_str());
    else if (bss.signalUnspec)
        std::snprintf(field, sizeof field, "  %6d/100", *bss.signalUnspec);
    else
        std::snprintf(field, sizeof field, "  %6s    ", "?");
    line += field;
    const int frequency = bss.frequencyMhz.value_or(0);
    std::snprintf(field, sizeof field, "  %4d MHz  ch %3d  %-5s", frequency, ChannelOf(frequency),
                  BandOf(frequency).c_str());
    line += field;
    std::snprintf(field, sizeof field, "  %-10s  %-6s  %3d MHz",
                  SecurityOf(e, bss.Privacy()).c_str(), PhyOf(e).c_str(), WidthOf(e, frequency));
    line += field;
    line += "  ";
    if (IsHiddenName(e)) {
        line += "(hidden)";
    } else {
        line += '"';
        line += Printable(e.name);
        line += '"';
    }
    return line;
}

std::string JsonLine(const Bss& bss, int scan, std::int64_t timeUs) {
    const ElementInfo& e = bss.elements;
    const int frequency = bss.frequencyMhz.value_or(0);
    std::string line = "{\"scan\":" + std::to_string(scan);
    char number[48];
    // Capture times are never before 1970.
    const std::int64_t time = timeUs < 0 ? 0 : timeUs;
    std::snprintf(number, sizeof number, "%" PRId64 ".%06" PRId64, time / 1'000'000,
                  time % 1'000'000);
    line += ",\"time\":";
    line += number;
    line += ",\"bssid\":" + Quoted(MacText(bss.bssid));
    line += ",\"ssid_hex\":" + Quoted(Hex(e.name));
    line += ",\"ssid\":" + Quoted(ValidUtf8(e.name));
    line += ",\"hidden\":";
    line += IsHiddenName(e) ? "true" : "false";
    line += ",\"freq\":" + std::to_string(frequency);
    line += ",\"channel\":" + std::to_string(ChannelOf(frequency));
    line += ",\"band\":" + Quoted(BandOf(frequency));
    line += ",\"signal_dbm\":" + (bss.signalMbm ? Dbm(*bss.signalMbm) : std::string("null"));
    line += ",\"signal_unspec\":" +
            (bss.signalUnspec ? std::to_string(*bss.signalUnspec) : std::string("null"));
    line += ",\"age_ms\":" + (bss.seenMsAgo ? std::to_string(*bss.seenMsAgo) : std::string("null"));
    line += ",\"privacy\":";
    line += bss.Privacy() ? "true" : "false";
    line += ",\"rsn\":";
    line += e.rsn ? "true" : "false";
    line += ",\"wpa\":";
    line += e.wpa ? "true" : "false";
    line += ",\"akm\":[";
    bool first = true;
    for (const auto* list : {&e.rsnAkm, &e.wpaAkm}) {
        for (const AkmSuite& suite : *list) {
            if (!first)
                line += ",";
            first = false;
            line += Quoted(suite.Text());
        }
    }
    line += "]";
    line += ",\"security\":" + Quoted(SecurityOf(e, bss.Privacy()));
    line += ",\"phy\":" + Quoted(PhyOf(e));
    line += ",\"width\":" + std::to_string(WidthOf(e, frequency));
    line += "}";
    return line;
}

}  // namespace ketrion::source::wifi
