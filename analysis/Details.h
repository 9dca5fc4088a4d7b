#pragma once

// What the side store beside a collection file adds to its points and
// readings, as plain values (analysis/SideDetails.h reads them). Everything is
// optional: a survey read from the collection file alone has none of it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ketrion::analysis {

// A reading's frequency band.
enum class Band : std::uint8_t {
    Unknown,  // no frequency or band recorded
    Ghz24,    // 2400-2500 MHz
    Ghz5,     // 5150-5895 MHz
    Ghz6,     // 5925-7125 MHz
    Other,
};

// "2.4", "5" or "6" (as `--band` takes them) -> the band; nothing else.
std::optional<Band> ParseBand(std::string_view text);
// "2.4", "5", "6", "other" or "" for Unknown.
const char* BandName(Band band);
// The band of a centre frequency in MHz.
Band BandOfFrequency(int frequencyMhz);

// Per point.
struct PointDetails {
    std::string method;   // how the position was obtained: "board", "gpsd", "stop", "walk", ...
    std::string fixFlag;  // "", "no-fix", "stale" or "jump"
    bool provisional = false;  // a walk reading not yet placed on its segment
    bool deleted = false;
    std::optional<double> ephMetres;       // horizontal error of the fix
    std::optional<double> altitudeMetres;  // from the fix
    std::optional<double> planX, planY;    // where it was placed, plan pixels

    // True for a position the surveyor gave by a click (stop and go, or a
    // walk): it is as good as the click, whatever a receiver said meanwhile.
    bool PlacedBySurveyor() const { return method == "stop" || method == "walk"; }
    // True when the position cannot be trusted: taken without a valid fix or
    // with a stale one, or not yet placed. Never for a surveyor's placement
    // once made.
    bool Unfixed() const {
        if (provisional)
            return true;
        return !PlacedBySurveyor() && !fixFlag.empty();
    }
};

// Per reading.
struct ReadingDetails {
    std::optional<int> frequencyMhz;  // centre of the primary 20 MHz channel
    std::optional<int> channel;
    std::optional<int> widthMhz;
    Band band = Band::Unknown;
    std::string security;  // "open", "wep", "wpa", "wpa/wpa2", "wpa2", "wpa3", "wpa2/wpa3", "owe",
                           // "enterprise"
    std::string phy;       // "legacy", "n", "ac", "ax", "be"
    // The network name as received, when it says more than the collection
    // file's (a 32-byte name, or one with a zero byte inside): empty otherwise.
    std::string fullName;
};

}  // namespace ketrion::analysis
