#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// What a survey point contributes to a heatmap.
enum class Metric {
    Strongest,       // the point's strongest signal (the disc colour), dBm
    Second,          // the second strongest access point there, dBm; -100 with fewer than two
    Count,           // access points heard at kCountFloor dBm or better
    Ap,              // one access point by address, dBm; -100 where not heard
    Ssid,            // the strongest reading with one network name, dBm; -100 where not heard
    Coverage,        // 1 where the interpolated strongest signal reaches the threshold, else 0
    ChannelOverlap,  // access points sharing the strongest one's channel
                     // (analysis/ChannelOverlap.h)
    // The radio metrics (analysis/RadioMetrics.h):
    Snr,    // serving signal minus the noise floor, dB
    Third,  // the third strongest access point (radios of one counted once), dBm
    Sir,    // serving signal minus the strongest other access point on its channel, dB
    Width,  // the serving access point's channel width, MHz
    Phy,    // its PHY generation (3 a/b/g, 4 n, 5 ac, 6 ax, 7 be)
    Rate,   // the expected PHY data rate, Mbit/s
};

inline constexpr int kNotHeard = -100;   // dBm counted where an access point was not heard
inline constexpr int kCountFloor = -80;  // dBm an access point needs to be counted
inline constexpr double kDefaultThreshold = -67;

struct MetricSpec {
    Metric metric = Metric::Strongest;
    Mac mac{};                             // for Metric::Ap
    std::string ssid;                      // for Metric::Ssid
    double threshold = kDefaultThreshold;  // dBm, for Metric::Coverage
    // Second and Count: only the access points of network `ssid` count.
    bool inNetwork = false;
    // Second, Count and Ssid: when not empty, only readings of these
    // addresses count (the access points of one band).
    std::vector<Mac> macs;
    // Only the readings on this band, for every metric (readings whose band
    // is unknown are left out); every band when unset.
    std::optional<Band> band;
};

// "strongest", "second", "count", "ap", "ssid", "coverage", "channel-overlap",
// "snr", "third", "sir", "width", "phy", "rate".
std::optional<Metric> ParseMetric(std::string_view name);
const char* MetricName(Metric metric);
// True for the metrics measured in dBm (legend and colour scale in dBm).
bool IsSignalMetric(Metric metric);

// An address written as six two-digit hex bytes in either case with ':' or '-'
// between them ("00:1a:2b:3c:4d:5e", "00-1A-2B-3C-4D-5E").
std::optional<Mac> ParseMac(std::string_view text);
// The value a survey point with the given strongest signal (as the loader
// gives it) and readings gives the metric (Coverage: its strongest signal, the
// threshold applies to the interpolated grid).
double PointValue(const SurveyPoint& record, int strongest, const MetricSpec& spec);

// One sample per survey point at its plan position, in file order. With a
// band, each point's value is taken from its readings on that band alone (its
// strongest signal too). A point where the metric has no value (NaN) gives no
// sample.
std::vector<Sample> MetricSamples(const PlacedSurvey& survey, const MetricSpec& spec);

// The part of the plan a survey's heatmaps cover: the boundary when it has
// vertices, else the survey points' concave hull for the interpolation radius
// (SurveyedArea).
SurveyedArea AreaOf(const PlacedSurvey& survey, const IdwParams& params,
                    std::span<const PlanPoint> boundary = {});

// The metric's grid over a width x height plan: interpolated point values
// inside `area` (AreaOf(survey, params) when null), and for Coverage the
// interpolated strongest signal turned into 1 or 0 (nodes without a value
// stay without one). A pure function of its inputs, usable off the
// user-interface thread; empty values when cancelled.
Grid MetricGrid(const PlacedSurvey& survey, const MetricSpec& spec, const IdwParams& params,
                int width, int height, const RunControl& control = {},
                const SurveyedArea* area = nullptr);

// The network names heard at the survey points, sorted, each once.
std::vector<std::string> NetworkNames(const PlacedSurvey& survey);

}  // namespace ketrion::analysis
