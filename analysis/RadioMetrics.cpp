#include "analysis/RadioMetrics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include "analysis/ChannelOverlap.h"
#include "analysis/Metrics.h"
#include "analysis/Selection.h"

namespace ketrion::analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One modulation and coding scheme: coded bits per subcarrier, code rate, and
// the SNR a receiver needs for it over a 20 MHz channel.
//
// The SNR figures come from the minimum receiver sensitivities of IEEE
// 802.11-2020 (Table 17-18 for the OFDM rates of a/g; Table 19-23, HT MCS
// 0-7; Table 21-25, VHT MCS 8-9), IEEE 802.11ax-2021 (Table 27-51, HE MCS
// 10-11) and IEEE P802.11be (EHT MCS 12-13, -49 and -46 dBm). Each sensitivity
// is the standard's noise floor plus the SNR: -174 dBm/Hz + 10 log10(20 MHz)
// = -101 dBm thermal noise, + 10 dB noise figure + 5 dB implementation
// margin = -86 dBm, so SNR = sensitivity + 86 (MCS 0: -82 dBm -> 4 dB).
struct Mcs {
    int bits;      // coded bits per subcarrier (1 BPSK ... 12 4096-QAM)
    double rate;   // code rate
    double snrDb;  // needed at 20 MHz
};

// HT/VHT/HE/EHT MCS 0-13. Sensitivities (20 MHz): -82 -79 -77 -74 -70 -66
// -65 -64 -59 -57 -54 -52 -49 -46 dBm.
constexpr std::array<Mcs, 14> kMcs = {{
    {1, 1.0 / 2, 4},    // 0 BPSK 1/2
    {2, 1.0 / 2, 7},    // 1 QPSK 1/2
    {2, 3.0 / 4, 9},    // 2 QPSK 3/4
    {4, 1.0 / 2, 12},   // 3 16-QAM 1/2
    {4, 3.0 / 4, 16},   // 4 16-QAM 3/4
    {6, 2.0 / 3, 20},   // 5 64-QAM 2/3
    {6, 3.0 / 4, 21},   // 6 64-QAM 3/4
    {6, 5.0 / 6, 22},   // 7 64-QAM 5/6
    {8, 3.0 / 4, 27},   // 8 256-QAM 3/4
    {8, 5.0 / 6, 29},   // 9 256-QAM 5/6
    {10, 3.0 / 4, 32},  // 10 1024-QAM 3/4
    {10, 5.0 / 6, 34},  // 11 1024-QAM 5/6
    {12, 3.0 / 4, 37},  // 12 4096-QAM 3/4
    {12, 5.0 / 6, 40},  // 13 4096-QAM 5/6
}};

// The a/g OFDM rates (Mbit/s) and the SNR each needs: sensitivities -82 -81
// -79 -77 -74 -70 -66 -65 dBm (IEEE 802.11-2020 Table 17-18) + 86.
struct LegacyRate {
    double mbps;
    double snrDb;
};
constexpr std::array<LegacyRate, 8> kLegacy = {
    {{6, 4}, {9, 5}, {12, 7}, {18, 9}, {24, 12}, {36, 16}, {48, 20}, {54, 21}}};

// Data subcarriers per channel width, and symbol time with a 0.8 us guard
// interval: HT/VHT 52/108/234/468 tones and 4.0 us; HE/EHT 234/468/980/1960/
// 3920 tones and 13.6 us (12.8 us symbol + 0.8 us guard).
int DataTones(Phy phy, int widthMhz) {
    const bool he = phy == Phy::Ax || phy == Phy::Be;
    switch (widthMhz) {
        case 20:
            return he ? 234 : 52;
        case 40:
            return he ? 468 : 108;
        case 80:
            return he ? 980 : 234;
        case 160:
            return he ? 1960 : 468;
        case 320:
            return 3920;
        default:
            return 0;
    }
}

// The widest channel and highest MCS each PHY has.
int WidestMhz(Phy phy) {
    switch (phy) {
        case Phy::Legacy:
            return 20;
        case Phy::N:
            return 40;
        case Phy::Ac:
        case Phy::Ax:
            return 160;
        case Phy::Be:
            return 320;
    }
    return 20;
}

int HighestMcs(Phy phy, int widthMhz) {
    switch (phy) {
        case Phy::N:
            return 7;
        case Phy::Ac:
            // VHT MCS 9 is not defined on 20 MHz for one or two streams.
            return widthMhz == 20 ? 8 : 9;
        case Phy::Ax:
            return 11;
        case Phy::Be:
            return 13;
        case Phy::Legacy:
            break;
    }
    return -1;
}

// The supported widths: 20, 40, 80, 160, 320; anything else down to the next.
int SnapWidth(int widthMhz) {
    int width = 20;
    while (width * 2 <= widthMhz && width < 320)
        width *= 2;
    return width;
}

}  // namespace

Mac ApKey(const Mac& mac) {
    Mac key = mac;
    key[0] = static_cast<std::uint8_t>(key[0] & ~0x02U);
    key[5] = static_cast<std::uint8_t>(key[5] & 0xF0U);
    return key;
}

const Reading* ServingReading(const SurveyPoint& point) {
    const Reading* serving = nullptr;
    for (const Reading& r : point.readings)
        if (serving == nullptr || r.signal > serving->signal)
            serving = &r;
    return serving;
}

SnrValue SnrAt(const SurveyPoint& point) {
    const Reading* serving = ServingReading(point);
    const double signal = std::max(serving ? serving->SignalDbm() : kNotHeard, kNotHeard);
    SnrValue out{signal - kDefaultNoiseDbm, NoiseFrom::Default};
    if (serving == nullptr || !serving->details)
        return out;
    if (serving->details->noiseDbm) {
        out = {signal - *serving->details->noiseDbm, NoiseFrom::Reading};
        return out;
    }
    const std::optional<int> frequency = serving->details->frequencyMhz;
    if (!frequency)
        return out;
    for (const Reading& r : point.readings)
        if (r.details && r.details->noiseDbm && r.details->frequencyMhz == frequency)
            return {signal - *r.details->noiseDbm, NoiseFrom::Channel};
    return out;
}

NoiseSources CountNoiseSources(const PlacedSurvey& survey, std::optional<Band> band) {
    NoiseSources out;
    for (const PlacedPoint& p : survey.points) {
        const SurveyPoint& record = survey.Record(p);
        const NoiseFrom from = (band ? SnrAt(InBand(record, *band)) : SnrAt(record)).from;
        ++(from == NoiseFrom::Reading   ? out.reading
           : from == NoiseFrom::Channel ? out.channel
                                        : out.fallback);
    }
    return out;
}

std::string NoiseSentence(const NoiseSources& sources) {
    std::string out;
    const auto add = [&out](std::size_t count, const std::string& what) {
        if (count == 0)
            return;
        out += (out.empty() ? "" : ", ") + what + " at " + std::to_string(count) +
               (count == 1 ? " point" : " points");
    };
    add(sources.reading, "the side store's");
    add(sources.channel, "the channel's survey noise of another reading");
    add(sources.fallback, "the default " + std::to_string(static_cast<int>(kDefaultNoiseDbm)) +
                              " dBm (no noise recorded)");
    return "noise floor: " + (out.empty() ? std::string("no points") : out);
}

double NthApSignal(const SurveyPoint& point, int k) {
    std::map<Mac, int> byAp;
    for (const Reading& r : point.readings) {
        const auto [it, added] = byAp.emplace(ApKey(r.mac), r.SignalDbm());
        if (!added)
            it->second = std::max(it->second, r.SignalDbm());
    }
    std::vector<int> signals;
    signals.reserve(byAp.size());
    for (const auto& entry : byAp)
        signals.push_back(entry.second);
    std::sort(signals.begin(), signals.end(), std::greater<>());
    if (k < 1 || static_cast<std::size_t>(k) > signals.size())
        return kNotHeard;
    return std::max(signals[static_cast<std::size_t>(k - 1)], kNotHeard);
}

double SirAt(const SurveyPoint& point) {
    const Reading* serving = ServingReading(point);
    if (serving == nullptr || !serving->details)
        return kNaN;
    const std::optional<ChannelSpan> own = SpanOf(*serving->details);
    if (!own)
        return kNaN;
    const Mac ap = ApKey(serving->mac);
    std::optional<double> strongestOther;
    for (const Reading& r : point.readings) {
        if (ApKey(r.mac) == ap || !r.details)
            continue;
        const std::optional<ChannelSpan> span = SpanOf(*r.details);
        if (span && Overlaps(*own, *span))
            strongestOther = std::max(strongestOther.value_or(r.SignalExact()), r.SignalExact());
    }
    if (!strongestOther)
        return kSirClear;
    return std::min(serving->SignalExact() - *strongestOther, kSirClear);
}

double WidthAt(const SurveyPoint& point) {
    const Reading* serving = ServingReading(point);
    if (serving == nullptr || !serving->details || !serving->details->widthMhz)
        return kNaN;
    return *serving->details->widthMhz;
}

std::optional<Phy> ParsePhy(std::string_view text) {
    if (text == "legacy")
        return Phy::Legacy;
    if (text == "n")
        return Phy::N;
    if (text == "ac")
        return Phy::Ac;
    if (text == "ax")
        return Phy::Ax;
    if (text == "be")
        return Phy::Be;
    return std::nullopt;
}

const char* PhyName(Phy phy) {
    switch (phy) {
        case Phy::Legacy:
            return "a/b/g";
        case Phy::N:
            return "n";
        case Phy::Ac:
            return "ac";
        case Phy::Ax:
            return "ax";
        case Phy::Be:
            return "be";
    }
    return "?";
}

double PhyAt(const SurveyPoint& point) {
    const Reading* serving = ServingReading(point);
    if (serving == nullptr || !serving->details)
        return kNaN;
    const std::optional<Phy> phy = ParsePhy(serving->details->phy);
    return phy ? static_cast<double>(*phy) : kNaN;
}

double PhyRateMbps(Phy phy, int widthMhz, int streams, double snrDb) {
    if (phy == Phy::Legacy) {
        double best = 0;
        for (const LegacyRate& r : kLegacy)
            if (snrDb >= r.snrDb)
                best = r.mbps;
        return best;
    }
    const int width = SnapWidth(std::min(std::max(widthMhz, 20), WidestMhz(phy)));
    // A wider channel gathers proportionally more noise: 3 dB more SNR needed
    // per doubling.
    const double widthPenaltyDb = 10 * std::log10(width / 20.0);
    const int highest = HighestMcs(phy, width);
    const bool he = phy == Phy::Ax || phy == Phy::Be;
    const double symbolUs = he ? 13.6 : 4.0;
    const int clampedStreams = std::clamp(streams, 1, 8);
    double best = 0;
    for (int m = 0; m <= highest; ++m) {
        const Mcs& mcs = kMcs[static_cast<std::size_t>(m)];
        if (snrDb < mcs.snrDb + widthPenaltyDb)
            break;
        best = DataTones(phy, width) * mcs.bits * mcs.rate * clampedStreams / symbolUs;
    }
    return best;
}

double RateAt(const SurveyPoint& point) {
    const Reading* serving = ServingReading(point);
    if (serving == nullptr)
        return 0;
    if (!serving->details)
        return kNaN;
    const std::optional<Phy> phy = ParsePhy(serving->details->phy);
    if (!phy)
        return kNaN;
    return PhyRateMbps(*phy, serving->details->widthMhz.value_or(kAssumedWidthMhz), kAssumedStreams,
                       SnrAt(point).db);
}

}  // namespace ketrion::analysis
