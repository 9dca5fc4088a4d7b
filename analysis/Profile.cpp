#include "analysis/Profile.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <limits>
#include <set>

#include "analysis/RadioMetrics.h"
#include "analysis/Selection.h"

namespace ketrion::analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMaxNameBytes = 100;

// What each requirement may be: a signal no receiver reports below -100 dBm
// nor above 0; SNR and SIR from 0 to kSirClear dB.
struct Range {
    double low, high;
};
constexpr Range kRanges[kMeasures] = {{-100, 0},      {-100, 0},      {-100, 0},
                                      {0, kSirClear}, {0, kSirClear}, {20, 320}};

constexpr Measure kAllMeasures[kMeasures] = {Measure::Primary,  Measure::Secondary,
                                             Measure::Tertiary, Measure::Snr,
                                             Measure::Sir,      Measure::Width};

bool ValidWidth(double w) {
    return w == 20 || w == 40 || w == 80 || w == 160 || w == 320;
}

// Reads the figures of one object into `out`; false with `error` naming the
// key (under `where`).
bool ReadRequirements(const nlohmann::json& object, const std::string& where, Requirements& out,
                      std::string& error) {
    for (const auto& [key, value] : object.items()) {
        const std::string named = where + key;
        const Measure* measure = nullptr;
        for (const Measure& m : kAllMeasures)
            if (key == MeasureName(m))
                measure = &m;
        if (measure == nullptr) {
            error = "unknown key \"" + named + "\"";
            return false;
        }
        if (!value.is_number()) {
            error = "\"" + named + "\" must be a number";
            return false;
        }
        const double v = value.get<double>();
        const Range range = kRanges[static_cast<std::size_t>(*measure)];
        if (!std::isfinite(v) || v < range.low || v > range.high ||
            (*measure == Measure::Width && !ValidWidth(v))) {
            error = "\"" + named + "\" is " + value.dump() + "; it must be " +
                    (*measure == Measure::Width ? std::string("20, 40, 80, 160 or 320")
                                                : "from " + std::to_string(int(range.low)) +
                                                      " to " + std::to_string(int(range.high)));
            return false;
        }
        out.least[static_cast<std::size_t>(*measure)] = v;
    }
    return true;
}

// The key being written just before byte `at` of `text`, for a message about
// a value the JSON reader refused (NaN, a bare word): the last quoted string
// followed by a colon.
std::string KeyBefore(std::string_view text, std::size_t at) {
    at = std::min(at, text.size());
    const std::size_t colon = text.rfind(':', at == 0 ? 0 : at - 1);
    if (colon == std::string_view::npos)
        return {};
    const std::size_t close = text.rfind('"', colon);
    if (close == std::string_view::npos || close == 0)
        return {};
    const std::size_t open = text.rfind('"', close - 1);
    if (open == std::string_view::npos)
        return {};
    return std::string(text.substr(open + 1, close - open - 1));
}

std::vector<Sample> MeasureSamples(const PlacedSurvey& survey,
                                   const std::vector<PointVerdict>& points, Measure m) {
    std::vector<Sample> samples;
    samples.reserve(survey.points.size());
    for (const PointVerdict& p : points) {
        const double v = p.measures[static_cast<std::size_t>(m)];
        if (!std::isnan(v))
            samples.push_back({static_cast<double>(p.x), static_cast<double>(p.y), v});
    }
    return samples;
}

}  // namespace

const char* MeasureName(Measure measure) {
    switch (measure) {
        case Measure::Primary:
            return "primary";
        case Measure::Secondary:
            return "secondary";
        case Measure::Tertiary:
            return "tertiary";
        case Measure::Snr:
            return "snr";
        case Measure::Sir:
            return "sir";
        case Measure::Width:
            return "width";
    }
    return "?";
}

const char* MeasureTitle(Measure measure) {
    switch (measure) {
        case Measure::Primary:
            return "primary signal";
        case Measure::Secondary:
            return "secondary signal";
        case Measure::Tertiary:
            return "tertiary signal";
        case Measure::Snr:
            return "SNR";
        case Measure::Sir:
            return "SIR";
        case Measure::Width:
            return "channel width";
    }
    return "?";
}

double SharePercent(double share) {
    return std::round(share * 1000) / 10;
}

bool Requirements::Any() const {
    for (const auto& l : least)
        if (l)
            return true;
    return false;
}

Requirements Profile::On(std::optional<Band> band) const {
    Requirements out = all;
    if (!band)
        return out;
    const auto found = bands.find(*band);
    if (found == bands.end())
        return out;
    for (std::size_t i = 0; i < kMeasures; ++i)
        if (found->second.least[i])
            out.least[i] = found->second.least[i];
    return out;
}

std::optional<Profile> BuiltInProfile(std::string_view name) {
    Profile p;
    p.name = std::string(name);
    auto set = [&p](Measure m, double v) { p.all.least[static_cast<std::size_t>(m)] = v; };
    if (name == "data") {
        set(Measure::Primary, -67);
        set(Measure::Snr, 25);
    } else if (name == "voice") {
        set(Measure::Primary, -65);
        set(Measure::Secondary, -75);
        set(Measure::Snr, 25);
        set(Measure::Sir, 19);
    } else if (name == "location") {
        set(Measure::Primary, -75);
        set(Measure::Secondary, -75);
        set(Measure::Tertiary, -75);
    } else {
        return std::nullopt;
    }
    return p;
}

std::optional<Profile> ParseProfile(std::string_view json, std::string& error) {
    if (json.size() > kMaxProfileBytes) {
        error = "a profile is at most " + std::to_string(kMaxProfileBytes) + " bytes";
        return std::nullopt;
    }
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(json);
    } catch (const nlohmann::json::parse_error& e) {
        const std::string key = KeyBefore(json, e.byte == 0 ? 0 : e.byte - 1);
        error = key.empty() ? std::string("not JSON: ") + e.what()
                            : "\"" + key + "\" has no valid JSON value (a number is expected; " +
                                  "NaN and infinities are not numbers in JSON)";
        return std::nullopt;
    } catch (const nlohmann::json::exception& e) {
        // A number past any double's range (out_of_range), or anything else
        // the parser refuses that is not a syntax error.
        error = std::string("not a profile: ") + e.what();
        return std::nullopt;
    }
    if (!doc.is_object()) {
        error = "a profile is a JSON object";
        return std::nullopt;
    }
    Profile p;
    nlohmann::json figures = nlohmann::json::object();
    for (const auto& [key, value] : doc.items()) {
        if (key == "name") {
            if (!value.is_string() || value.get<std::string>().size() > kMaxNameBytes) {
                error = "\"name\" must be a string of at most " + std::to_string(kMaxNameBytes) +
                        " bytes";
                return std::nullopt;
            }
            p.name = value.get<std::string>();
        } else if (key == "area") {
            if (!value.is_number() || !(value.get<double>() > 0) || value.get<double>() > 1) {
                error = "\"area\" is the share of the area that must pass: above 0, at most 1";
                return std::nullopt;
            }
            p.areaShare = value.get<double>();
        } else if (key == "bands") {
            if (!value.is_object()) {
                error = "\"bands\" must be an object of bands (\"2.4\", \"5\", \"6\")";
                return std::nullopt;
            }
            for (const auto& [bandName, entry] : value.items()) {
                const std::optional<Band> band = ParseBand(bandName);
                if (!band) {
                    error = "unknown key \"bands." + bandName + "\" (2.4, 5 or 6)";
                    return std::nullopt;
                }
                if (!entry.is_object()) {
                    error = "\"bands." + bandName + "\" must be an object";
                    return std::nullopt;
                }
                if (!ReadRequirements(entry, "bands." + bandName + ".", p.bands[*band], error))
                    return std::nullopt;
            }
        } else {
            figures[key] = value;
        }
    }
    if (!ReadRequirements(figures, "", p.all, error))
        return std::nullopt;
    bool any = p.all.Any();
    for (const auto& entry : p.bands)
        any = any || entry.second.Any();
    if (!any) {
        error = "the profile requires nothing (primary, secondary, tertiary, snr, sir, width)";
        return std::nullopt;
    }
    return p;
}

std::optional<Profile> LoadProfile(const std::string& nameOrPath, std::string& error) {
    if (auto builtIn = BuiltInProfile(nameOrPath))
        return builtIn;
    std::ifstream in(nameOrPath, std::ios::binary);
    if (!in) {
        error = "no profile \"" + nameOrPath + "\" (data, voice, location or a JSON file)";
        return std::nullopt;
    }
    std::string text(kMaxProfileBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::optional<Profile> p = ParseProfile(text, error);
    if (!p) {
        error = nameOrPath + ": " + error;
        return std::nullopt;
    }
    if (p->name.empty())
        p->name = nameOrPath;
    return p;
}

Measures MeasuresAt(const SurveyPoint& point) {
    return {NthApSignal(point, 1), NthApSignal(point, 2), NthApSignal(point, 3),
            SnrAt(point).db,       SirAt(point),          WidthAt(point)};
}

std::optional<Measure> FirstBroken(const Requirements& requirements, const Measures& measures) {
    for (const Measure m : kAllMeasures) {
        const std::optional<double> least = requirements[m];
        // A measure without a value (NaN) fails: nothing shows it is met.
        if (least && !(measures[static_cast<std::size_t>(m)] >= *least))
            return m;
    }
    return std::nullopt;
}

ProfileVerdict JudgeProfile(const PlacedSurvey& survey, const Profile& profile,
                            std::optional<Band> band, const IdwParams& params, int width,
                            int height, const SurveyedArea& area, const RunControl& control) {
    ProfileVerdict out;
    out.requirements = profile.On(band);
    out.area.required = profile.areaShare;
    for (const PlacedPoint& p : survey.points) {
        const SurveyPoint& record = survey.Record(p);
        PointVerdict v;
        v.number = FileIndex(record, p.record);
        v.x = p.x;
        v.y = p.y;
        v.measures = MeasuresAt(band ? InBand(record, *band) : record);
        v.fails = FirstBroken(out.requirements, v.measures);
        out.points.push_back(v);
    }
    // The primary signal is always interpolated: its nodes are the area's.
    std::array<std::optional<Grid>, kMeasures> grids;
    for (const Measure m : kAllMeasures) {
        if (m != Measure::Primary && !out.requirements[m])
            continue;
        IdwInterpolator idw(MeasureSamples(survey, out.points, m), params);
        grids[static_cast<std::size_t>(m)] = idw.Run(width, height, control, &area);
    }
    const Grid& primary = *grids[0];
    out.why = Grid(primary.columns, primary.rows, primary.cell);
    for (std::size_t n = 0; n < primary.values.size(); ++n) {
        if (!Grid::HasValue(primary.values[n]))
            continue;
        Measures at{};
        for (std::size_t i = 0; i < kMeasures; ++i)
            at[i] = grids[i] && n < grids[i]->values.size() && Grid::HasValue(grids[i]->values[n])
                        ? grids[i]->values[n]
                        : kNaN;
        const std::optional<Measure> broken = FirstBroken(out.requirements, at);
        ++out.area.nodes;
        if (broken) {
            ++out.area.failsFirst[static_cast<std::size_t>(*broken)];
            out.why.values[n] = 1.0 + static_cast<double>(*broken);
        } else {
            ++out.area.passing;
            out.why.values[n] = 0;
        }
    }
    return out;
}

std::vector<std::optional<Band>> ProfileBands(const PlacedSurvey& survey) {
    std::set<Band> bands;
    for (const PlacedPoint& p : survey.points)
        for (const Reading& r : survey.Record(p).readings)
            if (r.details && (r.details->band == Band::Ghz24 || r.details->band == Band::Ghz5 ||
                              r.details->band == Band::Ghz6))
                bands.insert(r.details->band);
    std::vector<std::optional<Band>> out(bands.begin(), bands.end());
    if (out.empty())
        out.emplace_back();
    return out;
}

std::string VerdictsJson(const Profile& profile, const std::vector<BandVerdict>& verdicts) {
    using json = nlohmann::ordered_json;
    // Unknown measures (NaN) are null; two decimals are all a survey holds.
    auto number = [](double v) -> json {
        return std::isnan(v) ? json(nullptr) : json(std::round(v * 100) / 100);
    };
    json out;
    out["profile"] = profile.name;
    out["area_required"] = profile.areaShare;
    bool pass = true;
    json bands = json::array();
    for (const BandVerdict& bv : verdicts) {
        const ProfileVerdict& v = bv.verdict;
        json b;
        b["band"] = bv.band ? json(BandName(*bv.band)) : json(nullptr);
        json required = json::object();
        for (const Measure m : kAllMeasures)
            if (v.requirements[m])
                required[MeasureName(m)] = *v.requirements[m];
        b["requirements"] = required;
        json area;
        area["nodes"] = v.area.nodes;
        area["passing"] = v.area.passing;
        area["share"] = std::round(v.area.Share() * 10000) / 10000;
        area["percent"] = SharePercent(v.area.Share());
        area["pass"] = v.area.Pass();
        json fails = json::object();
        for (const Measure m : kAllMeasures)
            if (v.area.failsFirst[static_cast<std::size_t>(m)] > 0)
                fails[MeasureName(m)] = v.area.failsFirst[static_cast<std::size_t>(m)];
        area["fails_first"] = fails;
        b["area"] = area;
        json points = json::array();
        for (const PointVerdict& p : v.points) {
            json jp;
            jp["point"] = p.number;
            jp["x"] = p.x;
            jp["y"] = p.y;
            for (const Measure m : kAllMeasures)
                jp[MeasureName(m)] = number(p.measures[static_cast<std::size_t>(m)]);
            jp["pass"] = !p.fails;
            jp["fails"] = p.fails ? json(MeasureName(*p.fails)) : json(nullptr);
            points.push_back(jp);
        }
        b["points"] = points;
        pass = pass && v.area.Pass();
        bands.push_back(b);
    }
    out["bands"] = bands;
    out["pass"] = pass;
    // The name comes from a file: bytes that are not UTF-8 are replaced, not thrown on.
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<std::string> MissingProfileDetail(const PlacedSurvey& survey,
                                                const Requirements& requirements,
                                                std::optional<Band> band) {
    for (const Measure m : {Measure::Sir, Measure::Width}) {
        if (!requirements[m] || survey.points.empty())
            continue;
        bool any = false;
        for (const PlacedPoint& p : survey.points) {
            const SurveyPoint& record = survey.Record(p);
            const SurveyPoint& at = band ? InBand(record, *band) : record;
            any = any || !std::isnan(m == Measure::Sir ? SirAt(at) : WidthAt(at));
            if (any)
                break;
        }
        if (!any)
            return std::string("the profile requires ") + MeasureTitle(m) + ", which needs " +
                   (m == Measure::Sir ? "the channel" : "the channel width") +
                   " of the strongest access point at a point, and no reading has it";
    }
    return std::nullopt;
}

}  // namespace ketrion::analysis
