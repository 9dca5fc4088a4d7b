#pragma once

// Requirement profiles: what a design must give a client at each point of the
// surveyed area (primary, secondary and tertiary signal, SNR, SIR, channel
// width), per band, and the share of the area that must meet all of it.
//
// A profile file is JSON, at most kMaxProfileBytes:
//   {"name": "warehouse", "area": 0.9,
//    "primary": -70, "secondary": -80, "tertiary": -85, "snr": 20, "sir": 10, "width": 20,
//    "bands": {"5": {"primary": -67}, "2.4": {"width": 20}}}
// Every key is optional; a band's entry replaces the figures it names when
// the survey is judged on that band (`--band`). Unknown keys, values out of
// range and anything but a number where one belongs are refused, the key
// named.
//
// The measures at a point, on the band judged (analysis/RadioMetrics.h):
// primary, secondary and tertiary are the strongest, second and third access
// points with an access point's radios counted once (ApKey), dBm; snr and sir
// as those metrics; width that of the serving access point.
//
// The area verdict: each measure the profile names is interpolated over the
// surveyed area like a heatmap (analysis/Idw.h); a node passes when every
// requirement holds there (a node where a measure has no value fails it), and
// the area passes when the share of passing nodes reaches `area`.

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/Details.h"
#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyedArea.h"

namespace ketrion::analysis {

inline constexpr std::size_t kMaxProfileBytes = 64 * 1024;  // far above any real profile

// The measures a profile judges, in the order a failing point is explained:
// the first one broken is the reason given.
enum class Measure { Primary, Secondary, Tertiary, Snr, Sir, Width };
inline constexpr std::size_t kMeasures = 6;
// "primary", "secondary", "tertiary", "snr", "sir", "width".
const char* MeasureName(Measure measure);
// A short line for a legend: "primary signal", "SNR", ...
const char* MeasureTitle(Measure measure);

// The least each measure must be; unset: not required.
struct Requirements {
    std::array<std::optional<double>, kMeasures> least{};

    std::optional<double> operator[](Measure m) const { return least[static_cast<std::size_t>(m)]; }
    bool Any() const;
};

struct Profile {
    std::string name;
    double areaShare = 0.95;  // of the surveyed area, (0, 1]
    Requirements all;
    std::map<Band, Requirements> bands;  // a band's figures replace those it names

    // The requirements on `band` (every band: `all`).
    Requirements On(std::optional<Band> band) const;
};

// "data", "voice" or "location"; nothing else.
//  data:     primary -67 dBm, SNR 25 dB;
//  voice:    primary -65 dBm, secondary -75 dBm, SNR 25 dB, SIR 19 dB;
//  location: primary, secondary and tertiary -75 dBm;
// each over 95 % of the area.
std::optional<Profile> BuiltInProfile(std::string_view name);
// A profile from JSON text; nothing, with the reason naming the key, when
// it is not a valid one.
std::optional<Profile> ParseProfile(std::string_view json, std::string& error);
// A built-in profile's name, else a file read (at most kMaxProfileBytes) and
// parsed; the error names the file.
std::optional<Profile> LoadProfile(const std::string& nameOrPath, std::string& error);

// The measures at one point (NaN where a detail is missing).
using Measures = std::array<double, kMeasures>;
Measures MeasuresAt(const SurveyPoint& point);
// The first requirement the measures break; nothing when all hold.
std::optional<Measure> FirstBroken(const Requirements& requirements, const Measures& measures);

// The verdict of one survey point.
struct PointVerdict {
    std::size_t number = 0;  // 1-based position in the collection file
    int x = 0, y = 0;        // plan pixels
    Measures measures{};
    std::optional<Measure> fails;
};

// A share as the figures show it: a percentage to one decimal, half up.
double SharePercent(double share);

struct AreaVerdict {
    std::size_t nodes = 0;    // grid nodes inside the surveyed area with a signal value
    std::size_t passing = 0;  // of those, nodes meeting every requirement
    std::array<std::size_t, kMeasures> failsFirst{};  // failing nodes by first broken
    double required = 0;
    double Share() const { return nodes == 0 ? 0 : static_cast<double>(passing) / nodes; }
    bool Pass() const { return nodes > 0 && Share() >= required; }
};

struct ProfileVerdict {
    Requirements requirements;  // those applied (on the band judged)
    std::vector<PointVerdict> points;
    AreaVerdict area;
    // Per node: 0 where it passes, 1 + the first broken measure where it
    // fails, no value outside the area. Drawn as the "why it fails" map.
    Grid why;
};

// Judges `survey` (its points on `band` when given) against `profile` over a
// width x height plan inside `area`. The one computation behind `ktd check`
// and the report's profile pages.
ProfileVerdict JudgeProfile(const PlacedSurvey& survey, const Profile& profile,
                            std::optional<Band> band, const IdwParams& params, int width,
                            int height, const SurveyedArea& area, const RunControl& control = {});

// The bands a survey is judged on: each band its readings name, in band
// order; one judgement over every reading (nothing) when none names a band.
std::vector<std::optional<Band>> ProfileBands(const PlacedSurvey& survey);

struct BandVerdict {
    std::optional<Band> band;
    ProfileVerdict verdict;
};
// The verdicts as JSON for scripts: the profile, then per band the
// requirements applied, the area's figures and every point's measures.
std::string VerdictsJson(const Profile& profile, const std::vector<BandVerdict>& verdicts);

// The detail a requirement of `requirements` needs and no survey point has
// ("the channel" for SIR, "the channel width" for width); nothing when every
// required measure has a value somewhere.
std::optional<std::string> MissingProfileDetail(const PlacedSurvey& survey,
                                                const Requirements& requirements,
                                                std::optional<Band> band);

}  // namespace ketrion::analysis
