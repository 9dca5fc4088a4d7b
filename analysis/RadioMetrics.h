#pragma once

// The radio metrics of a survey point, from the details the side store adds
// to its readings (noise floor, channel, width, PHY): signal-to-noise ratio,
// the third strongest access point, co-channel interference, channel width,
// PHY generation and the expected PHY data rate.
//
// At each point the serving access point is the reading heard strongest (its
// first in file order on a tie), as the channel-overlap metric takes it.
// Values are NaN where the point lacks the detail a metric needs; such a
// point gives no sample to a heatmap.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/Details.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// The noise floor taken where no reading at a point carries one (dBm): the
// thermal floor of a 20 MHz channel (-101 dBm) plus a typical client's noise
// figure of about 6 dB.
inline constexpr double kDefaultNoiseDbm = -95;
// SIR where no other access point shares the serving one's channel: higher
// than any requirement asks, so such a point always passes (dB).
inline constexpr double kSirClear = 60;
// Spatial streams the data rate assumes: the survey records no client's
// capabilities, and a laptop or phone receives two.
inline constexpr int kAssumedStreams = 2;
// Channel width the data rate assumes when the side store records none (MHz).
inline constexpr int kAssumedWidthMhz = 20;

// Where a point's noise floor came from.
enum class NoiseFrom {
    Reading,  // the serving reading's own row in the side store
    Channel,  // another reading of the same scan on the same channel
    Default,  // kDefaultNoiseDbm
};

// The physical access point a radio belongs to. An access point announces its
// networks (and its radios on each band) from a block of consecutive
// addresses: they share the first 44 bits, apart from the locally
// administered bit (0x02 of the first byte) that some set on their extra
// networks. So two addresses are one access point when they agree everywhere
// but in that bit and in the last four bits.
Mac ApKey(const Mac& mac);

// The serving reading at `point`; null when it heard nothing.
const Reading* ServingReading(const SurveyPoint& point);

struct SnrValue {
    double db = 0;
    NoiseFrom from = NoiseFrom::Default;
};
// The serving signal (-100 dBm when nothing was heard) minus the noise floor:
// the serving reading's noise, else the noise another reading of the point on
// the same channel (same primary frequency) carries, else kDefaultNoiseDbm.
SnrValue SnrAt(const SurveyPoint& point);

// How many points took their noise floor from where.
struct NoiseSources {
    std::size_t reading = 0, channel = 0, fallback = 0;
};
// Where the noise floor of each survey point came from, on `band` when given.
NoiseSources CountNoiseSources(const PlacedSurvey& survey, std::optional<Band> band);
// A sentence saying where the points' noise floors came from ("noise floor:
// the side store's at 40 points, the default -95 dBm at 3").
std::string NoiseSentence(const NoiseSources& sources);

// The k-th strongest access point (k from 1), counting an access point's
// radios once (ApKey), dBm; kNotHeard (-100) when fewer were heard.
double NthApSignal(const SurveyPoint& point, int k);

// The serving signal minus the strongest reading of another access point
// (ApKey) on the same or an overlapping channel (analysis/ChannelOverlap.h),
// dB; kSirClear when none; NaN when the serving channel is unknown or nothing
// was heard.
double SirAt(const SurveyPoint& point);

// The serving reading's channel width in MHz; NaN when unknown.
double WidthAt(const SurveyPoint& point);

// PHY generations as the metric gives them: the Wi-Fi generation number.
enum class Phy : int {
    Legacy = 3,  // a/b/g (the record does not tell b from g)
    N = 4,
    Ac = 5,
    Ax = 6,
    Be = 7,
};
// "legacy", "n", "ac", "ax", "be" -> the generation; nothing else.
std::optional<Phy> ParsePhy(std::string_view text);
// "a/b/g", "n", "ac", "ax", "be".
const char* PhyName(Phy phy);
// The serving reading's best PHY as its generation number; NaN when unknown.
double PhyAt(const SurveyPoint& point);

// The PHY rate in Mbit/s a client receives at `snrDb` (noise measured over
// 20 MHz) from an access point of `phy` on a `widthMhz` channel with
// `streams` spatial streams: the highest MCS whose needed SNR is met (0 below
// the lowest). Width is capped at the PHY's widest.
double PhyRateMbps(Phy phy, int widthMhz, int streams, double snrDb);
// PhyRateMbps for the serving reading (its width, else kAssumedWidthMhz;
// kAssumedStreams) at the point's SnrAt; NaN when its PHY is unknown, 0 when
// nothing was heard.
double RateAt(const SurveyPoint& point);

}  // namespace ketrion::analysis
