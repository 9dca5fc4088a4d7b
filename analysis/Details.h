#pragma once

// What the side store beside a collection file adds to its points and
// readings, as plain values (analysis/SideDetails.h reads them). Everything is
// optional: a survey read from the collection file alone has none of it.

#include <cstdint>
#include <memory>
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
    std::optional<int> noiseDbm;  // the channel's noise floor from the adapter's survey
    // The network name as received, when it says more than the collection
    // file's (a 32-byte name, or one with a zero byte inside): empty otherwise.
    std::string fullName;
};

// Details held once and shared by every copy of the point or reading they
// belong to: a survey without a side store pays one pointer per record, and a
// store's rows are not copied into each record they are joined to. Reads like
// a std::optional of the details.
template <class T>
class SharedDetails {
public:
    SharedDetails() = default;
    SharedDetails(std::nullopt_t) {}  // NOLINT(google-explicit-constructor): as optional
    SharedDetails(T value)            // NOLINT(google-explicit-constructor): as optional
        : m_value(std::make_shared<const T>(std::move(value))) {}
    SharedDetails(const std::optional<T>& value) {  // NOLINT(google-explicit-constructor)
        if (value)
            m_value = std::make_shared<const T>(*value);
    }
    explicit SharedDetails(std::shared_ptr<const T> value) : m_value(std::move(value)) {}

    bool has_value() const { return m_value != nullptr; }
    explicit operator bool() const { return has_value(); }
    const T& operator*() const { return *m_value; }
    const T* operator->() const { return m_value.get(); }
    T value_or(T fallback) const { return m_value ? *m_value : std::move(fallback); }
    void reset() { m_value.reset(); }
    operator std::optional<T>() const {  // NOLINT(google-explicit-constructor): as optional
        return m_value ? std::optional<T>(*m_value) : std::nullopt;
    }

private:
    std::shared_ptr<const T> m_value;
};

}  // namespace ketrion::analysis
