#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ketrion::source {

// What a scan source knows of one access point beyond what the collection
// file's 41-byte reading record holds. Every field is optional: the board
// knows none of them; the Wi-Fi adapter knows most. Kept in the side store.
struct ReadingDetails {
    std::optional<int> frequencyMhz;
    std::optional<int> channel;
    std::string band;      // "2.4", "5", "6", "other"; empty when unknown
    std::string security;  // "open", "wep", "wpa", "wpa2", "wpa3", "wpa2/wpa3", "owe", "enterprise"
    std::string phy;       // "legacy", "n", "ac", "ax", "be"
    std::optional<int> widthMhz;
    std::optional<int> noiseDbm;
    std::optional<int> ageMs;         // how long before the scan's end it was last seen
    std::optional<int> signalMbm;     // signal as received, 1/100 dBm
    std::optional<int> signalUnspec;  // 0-100 where the driver gives no dBm
    std::string fullName;             // the whole network name (the file keeps 31 bytes)
};

// One access point heard in one scan, as the survey records it.
struct Reading {
    std::array<std::uint8_t, 6> mac{};  // in the order the source reports it
    std::string name;                   // network name bytes (the file keeps 31 and a NUL)
    std::int16_t signal256 = 0;         // signal in the collection file's 1/256 dBm
    int dbm = 0;                        // whole dBm for the point's strongest signal
    std::uint8_t attribute = 0;         // the reading record's attribute byte
    // False for a reading the collection file cannot carry (no dBm signal):
    // it goes to the side store only.
    bool inCollection = true;
    std::optional<ReadingDetails> details;
};

// A finished scan: its readings in the order they are written, and when it
// ran on the session's clock (ms), for placing it in time.
struct ScanResult {
    std::vector<Reading> readings;
    std::int64_t startedMs = 0;  // when the scan was requested
    std::int64_t endedMs = 0;    // when its results arrived
};

}  // namespace ketrion::source
