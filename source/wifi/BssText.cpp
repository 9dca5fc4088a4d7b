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

// The BSS's centre frequency in MHz as a JSON number ("2437", "902.5"),
// or null when the kernel gave none.
std::string FrequencyJson(const Bss& bss) {
    if (!bss.frequencyMhz)
        return "null";
    std::string text = std::to_string(*bss.frequencyMhz);
    if (bss.frequencyOffsetKhz != 0) {
        char fraction[8];
        std::snprintf(fraction, sizeof fraction, ".%03d", bss.frequencyOffsetKhz);
        text += fraction;
        while (text.back() == '0')
            text.pop_back();
    }
    return text;
}

// The channel, or "?"/null when the frequency is on none this program knows.
int ChannelOfBss(const Bss& bss) {
    return bss.frequencyMhz ? ChannelOf(*bss.frequencyMhz, bss.frequencyOffsetKhz) : 0;
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
    const int channel = ChannelOfBss(bss);
    std::snprintf(field, sizeof field, "  %6s MHz  ch %3s  %-5s", FrequencyJson(bss).c_str(),
                  channel != 0 ? std::to_string(channel).c_str() : "?",
                  bss.frequencyMhz ? BandOf(frequency).c_str() : "?");
    line += field;
    std::snprintf(field, sizeof field, "  %-10s  %-6s  %3d MHz",
                  SecurityOf(e, bss.Privacy()).c_str(), PhyOf(e).c_str(), WidthOf(e, frequency));
    line += field;
    line += "  ";
    if (!bss.hasElements) {
        line += "(no elements: name unknown)";
    } else if (IsHiddenName(e)) {
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
    // Without elements the name is not known, not hidden.
    line += ",\"hidden\":";
    line += !bss.hasElements ? "null" : IsHiddenName(e) ? "true" : "false";
    line += ",\"freq\":" + FrequencyJson(bss);
    const int channel = ChannelOfBss(bss);
    line += ",\"channel\":" + (channel != 0 ? std::to_string(channel) : std::string("null"));
    line += ",\"band\":" + (bss.frequencyMhz ? Quoted(BandOf(frequency)) : std::string("null"));
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
    line += ",\"width\":" +
            (bss.frequencyMhz ? std::to_string(WidthOf(e, frequency)) : std::string("null"));
    line += "}";
    return line;
}

}  // namespace ketrion::source::wifi
