#include "source/wifi/BssReading.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>

namespace ketrion::source::wifi {

Reading ReadingOf(const Bss& bss, std::optional<int> noiseDbm) {
    Reading reading;
    reading.mac = bss.bssid;
    const ElementInfo& elements = bss.elements;
    if (!IsHiddenName(elements))
        reading.name = elements.name;

    ReadingDetails details;
    // A signal no receiver reports (from -150 dBm to +30 dBm is every real
    // one) is no signal: it would be stored clamped, as a reading it is not.
    constexpr int kWeakestMbm = -15000;
    constexpr int kStrongestMbm = 3000;
    if (bss.signalMbm && *bss.signalMbm >= kWeakestMbm && *bss.signalMbm <= kStrongestMbm) {
        const double stored = std::round(*bss.signalMbm * 256.0 / 100.0);
        reading.signal256 = static_cast<std::int16_t>(
            std::clamp(stored, double{std::numeric_limits<std::int16_t>::min()},
                       double{std::numeric_limits<std::int16_t>::max()}));
        reading.dbm = static_cast<int>(std::lround(*bss.signalMbm / 100.0));
        details.signalMbm = bss.signalMbm;
    } else {
        reading.inCollection = false;
    }
    details.signalUnspec = bss.signalUnspec;
    if (bss.frequencyMhz) {
        const int frequency = *bss.frequencyMhz;
        const int channel = ChannelOf(frequency, bss.frequencyOffsetKhz);
        details.frequencyMhz = frequency;
        details.band = BandOf(frequency);
        if (channel != 0)
            details.channel = channel;
        reading.attribute = channel > 0 && channel <= 255 ? static_cast<std::uint8_t>(channel) : 0;
        details.widthMhz = WidthOf(elements, frequency);
    }
    details.security = SecurityOf(elements, bss.Privacy());
    details.phy = PhyOf(elements);
    details.noiseDbm = noiseDbm;
    if (bss.seenMsAgo && *bss.seenMsAgo <= std::uint32_t{std::numeric_limits<int>::max()})
        details.ageMs = static_cast<int>(*bss.seenMsAgo);
    details.fullName = reading.name;
    reading.details = std::move(details);
    return reading;
}

namespace {

// Sort key: dBm signals first, strongest first, then unspecified units.
std::tuple<bool, long long, int> Strength(std::optional<int> mbm, std::optional<int> unspec) {
    return std::make_tuple(!mbm, -static_cast<long long>(mbm.value_or(0)), -unspec.value_or(-1));
}

}  // namespace

void SortStrongestFirst(std::vector<Reading>& readings) {
    auto key = [](const Reading& r) {
        return r.details ? Strength(r.details->signalMbm, r.details->signalUnspec)
                         : Strength(std::nullopt, std::nullopt);
    };
    std::stable_sort(readings.begin(), readings.end(), [&](const Reading& a, const Reading& b) {
        const auto ka = key(a);
        const auto kb = key(b);
        if (ka != kb)
            return ka < kb;
        return a.mac < b.mac;
    });
}

void SortStrongestFirst(std::vector<Bss>& results) {
    std::stable_sort(results.begin(), results.end(), [](const Bss& a, const Bss& b) {
        const auto ka = Strength(a.signalMbm, a.signalUnspec);
        const auto kb = Strength(b.signalMbm, b.signalUnspec);
        if (ka != kb)
            return ka < kb;
        return a.bssid < b.bssid;
    });
}

}  // namespace ketrion::source::wifi
