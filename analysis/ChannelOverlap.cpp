#include "analysis/ChannelOverlap.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>

namespace ketrion::analysis {

namespace {

// Half the width of a 20 MHz channel, MHz.
constexpr int kHalfChannel = 10;
// 2.4 GHz channels are 5 MHz apart and about 22 MHz wide: centres less than
// this far apart (channels within 4 of each other) overlap.
constexpr int kApart24Mhz = 25;
// Lower edges of the 20 MHz channel grid the wider 5 GHz blocks are laid on:
// channel 36 (5180 MHz) up to 144, and channel 149 (5745 MHz) up.
constexpr int kGrid5LowMhz = 5170;
constexpr int kGrid5HighMhz = 5735;
// Lower edge of 6 GHz channel 1 (5955 MHz), where its blocks start.
constexpr int kGrid6Mhz = 5945;

// The centre frequency of a channel on a band; 0 when not one.
int FrequencyOf(Band band, int channel) {
    switch (band) {
        case Band::Ghz24:
            if (channel == 14)
                return 2484;
            return channel >= 1 && channel <= 13 ? 2407 + 5 * channel : 0;
        case Band::Ghz5:
            return channel >= 30 && channel <= 177 ? 5000 + 5 * channel : 0;
        case Band::Ghz6:
            if (channel == 2)
                return 5935;
            return channel >= 1 && channel <= 233 ? 5950 + 5 * channel : 0;
        default:
            return 0;
    }
}

// The lower edge of the `width`-MHz block holding the 20 MHz channel centred
// at `centre`, on a grid starting at `grid`.
int BlockLow(int centre, int width, int grid) {
    const double blocks = std::floor(static_cast<double>(centre - kHalfChannel - grid) / width);
    return grid + static_cast<int>(blocks) * width;
}

}  // namespace

std::optional<ChannelSpan> SpanOf(const ReadingDetails& details) {
    ChannelSpan span;
    span.band = details.band;
    if (details.frequencyMhz) {
        span.primaryMhz = *details.frequencyMhz;
        if (span.band == Band::Unknown)
            span.band = BandOfFrequency(span.primaryMhz);
    } else if (details.channel) {
        span.primaryMhz = FrequencyOf(span.band, *details.channel);
    }
    if (span.primaryMhz <= 0 || span.band == Band::Unknown)
        return std::nullopt;
    span.lowMhz = span.primaryMhz - kHalfChannel;
    span.highMhz = span.primaryMhz + kHalfChannel;
    const int width = details.widthMhz.value_or(0);
    if (width <= 2 * kHalfChannel)
        return span;
    int grid = 0;
    if (span.band == Band::Ghz5) {
        grid = span.primaryMhz < kGrid5HighMhz ? kGrid5LowMhz : kGrid5HighMhz;
    } else if (span.band == Band::Ghz6 && span.primaryMhz - kHalfChannel >= kGrid6Mhz) {
        grid = kGrid6Mhz;
    } else {
        return span;  // 2.4 GHz, other bands and 6 GHz channel 2: 20 MHz
    }
    span.lowMhz = BlockLow(span.primaryMhz, width, grid);
    span.highMhz = span.lowMhz + width;
    return span;
}

bool Overlaps(const ChannelSpan& a, const ChannelSpan& b) {
    if (a.band != b.band)
        return false;
    if (a.band == Band::Ghz24)
        return std::abs(a.primaryMhz - b.primaryMhz) < kApart24Mhz;
    return a.lowMhz < b.highMhz && b.lowMhz < a.highMhz;
}

double ChannelOverlapAt(const SurveyPoint& point) {
    const Reading* serving = nullptr;
    for (const Reading& r : point.readings)
        if (serving == nullptr || r.signal > serving->signal)
            serving = &r;
    if (serving == nullptr)
        return 0;
    const std::optional<ChannelSpan> own =
        serving->details ? SpanOf(*serving->details) : std::nullopt;
    if (!own)
        return std::numeric_limits<double>::quiet_NaN();
    std::set<Mac> others;
    for (const Reading& r : point.readings) {
        if (r.mac == serving->mac || !r.details || !(r.SignalExact() > kOverlapFloor))
            continue;
        const std::optional<ChannelSpan> span = SpanOf(*r.details);
        if (span && Overlaps(*own, *span))
            others.insert(r.mac);
    }
    return static_cast<double>(others.size());
}

}  // namespace ketrion::analysis
