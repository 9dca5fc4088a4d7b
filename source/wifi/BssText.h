#pragma once

#include <cstdint>
#include <string>

#include "source/wifi/Netlink.h"

namespace ketrion::source::wifi {

// One BSS as a line for a terminal: BSSID, signal, frequency, channel, band,
// security, PHY, width and the name (printable ASCII; other bytes escaped).
std::string TextLine(const Bss& bss);

// One BSS as one JSON object (no newline) with the keys scan, time, bssid,
// ssid_hex, ssid, hidden, freq, channel, band, signal_dbm, signal_unspec,
// age_ms, privacy, rsn, wpa, akm, security, phy and width. `timeUs` is the
// scan's time in microseconds since 1970. Without a frequency, freq, channel,
// band and width are null (channel also on a frequency of no known channel);
// without information elements, hidden is null (the name is not known).
std::string JsonLine(const Bss& bss, int scan, std::int64_t timeUs);

}  // namespace ketrion::source::wifi
