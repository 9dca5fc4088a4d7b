#pragma once

// The channel-overlap metric: how crowded the channel of a point's own access
// point is.
//
// At each survey point the serving access point is the one heard strongest
// (its first reading in file order on a tie). The value is the number of other
// access points (distinct addresses) heard there above kOverlapFloor dBm whose
// channel overlaps the serving one's:
//  - 2.4 GHz: channels within 4 of each other (centre frequencies less than
//    25 MHz apart: each takes about 22 MHz);
//  - 5 and 6 GHz: the same 20 MHz channel, or, when the width is known, any
//    20 MHz channel of the other's whole 40, 80 or 160 MHz block (blocks as
//    the band plans lay them out: from channel 36 up to 144 and from 149 up at
//    5 GHz, from channel 1 at 6 GHz).
// Different bands never overlap. A reading's channel comes from the side
// store (its frequency, or its channel and band); a reading without one
// overlaps nothing. A point whose serving access point has no known channel
// has no value (NaN), and gives no sample to the heatmap; a point that heard
// nothing has 0.

#include <optional>

#include "analysis/Details.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// Another access point counts when heard above this (dBm): the signal at which
// a station still defers to it, so their airtime is shared.
inline constexpr double kOverlapFloor = -82;

// The spectrum a reading's access point occupies, MHz.
struct ChannelSpan {
    Band band = Band::Unknown;
    int primaryMhz = 0;  // centre of the primary 20 MHz channel
    int lowMhz = 0;      // edges of the whole channel
    int highMhz = 0;
};

// The span of a reading from its details; nothing when its channel is unknown.
std::optional<ChannelSpan> SpanOf(const ReadingDetails& details);
// True when two access points on these spans share airtime (see above).
bool Overlaps(const ChannelSpan& a, const ChannelSpan& b);
// The metric's value at one point (NaN when it has none).
double ChannelOverlapAt(const SurveyPoint& point);

}  // namespace ketrion::analysis
