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
    if (bss.signalMbm) {
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
        const int channel = ChannelOf(frequency);
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

void SortStrongestFirst(std::vector<Reading>& readings) {
    auto key = [](const Reading& r) {
        const auto& d = r.details;
        const bool dbm = d && d->signalMbm;
        const int mbm = dbm ? *d->signalMbm : 0;
        const int unspec = d && d->signalUnspec ? *d->signalUnspec : -1;
        return std::make_tuple(!dbm, -static_cast<long long>(mbm), -unspec);
    };
    std::stable_sort(readings.begin(), readings.end(), [&](const Reading& a, const Reading& b) {
        const auto ka = key(a);
        const auto kb = key(b);
        if (ka != kb)
            return ka < kb;
        return a.mac < b.mac;
    });
}

}  // namespace ketrion::source::wifi
