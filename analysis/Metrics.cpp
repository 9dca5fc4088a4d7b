#include "analysis/Metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "analysis/ChannelOverlap.h"
#include "analysis/RadioMetrics.h"
#include "analysis/Selection.h"

namespace ketrion::analysis {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Whether a reading counts for the metric: its network and band filters.
bool Counts(const Reading& r, const MetricSpec& spec) {
    if (spec.inNetwork && r.ssid != spec.ssid)
        return false;
    return spec.macs.empty() ||
           std::find(spec.macs.begin(), spec.macs.end(), r.mac) != spec.macs.end();
}

// The signals of the distinct access points at a point that count for the
// metric (the strongest reading of an address that appears twice), strongest
// first.
std::vector<int> DistinctSignals(const SurveyPoint& point, const MetricSpec& spec) {
    std::vector<std::pair<Mac, int>> byMac;
    byMac.reserve(point.readings.size());
    for (const Reading& r : point.readings) {
        if (!Counts(r, spec))
            continue;
        auto it = std::find_if(byMac.begin(), byMac.end(),
                               [&](const auto& entry) { return entry.first == r.mac; });
        if (it == byMac.end())
            byMac.emplace_back(r.mac, r.SignalDbm());
        else
            it->second = std::max(it->second, r.SignalDbm());
    }
    std::vector<int> signals;
    signals.reserve(byMac.size());
    for (const auto& entry : byMac)
        signals.push_back(entry.second);
    std::sort(signals.begin(), signals.end(), std::greater<>());
    return signals;
}

}  // namespace

std::optional<Metric> ParseMetric(std::string_view name) {
    static constexpr Metric kAll[] = {
        Metric::Strongest, Metric::Second,   Metric::Count,          Metric::Ap,
        Metric::Ssid,      Metric::Coverage, Metric::ChannelOverlap, Metric::Snr,
        Metric::Third,     Metric::Sir,      Metric::Width,          Metric::Phy,
        Metric::Rate};
    for (Metric m : kAll)
        if (name == MetricName(m))
            return m;
    return std::nullopt;
}

const char* MetricName(Metric metric) {
    switch (metric) {
        case Metric::Strongest:
            return "strongest";
        case Metric::Second:
            return "second";
        case Metric::Count:
            return "count";
        case Metric::Ap:
            return "ap";
        case Metric::Ssid:
            return "ssid";
        case Metric::Coverage:
            return "coverage";
        case Metric::ChannelOverlap:
            return "channel-overlap";
        case Metric::Snr:
            return "snr";
        case Metric::Third:
            return "third";
        case Metric::Sir:
            return "sir";
        case Metric::Width:
            return "width";
        case Metric::Phy:
            return "phy";
        case Metric::Rate:
            return "rate";
    }
    return "?";
}

bool IsSignalMetric(Metric metric) {
    switch (metric) {
        case Metric::Strongest:
        case Metric::Second:
        case Metric::Ap:
        case Metric::Ssid:
        case Metric::Third:
            return true;
        default:
            return false;
    }
}

std::optional<Mac> ParseMac(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    Mac mac{};
    for (std::size_t b = 0; b < 6; ++b) {
        const std::size_t at = b * 3;
        if (b > 0 && text[at - 1] != ':' && text[at - 1] != '-')
            return std::nullopt;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        mac[b] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return mac;
}

double PointValue(const SurveyPoint& point, int strongest, const MetricSpec& spec) {
    switch (spec.metric) {
        case Metric::Strongest:
        case Metric::Coverage:
            return strongest;
        case Metric::Second: {
            const std::vector<int> signals = DistinctSignals(point, spec);
            return signals.size() < 2 ? kNotHeard : std::max(signals[1], kNotHeard);
        }
        case Metric::Count: {
            const std::vector<int> signals = DistinctSignals(point, spec);
            return static_cast<double>(std::count_if(signals.begin(), signals.end(),
                                                     [](int s) { return s >= kCountFloor; }));
        }
        case Metric::Ap: {
            int best = kNotHeard;
            for (const Reading& r : point.readings)
                if (r.mac == spec.mac)
                    best = std::max(best, r.SignalDbm());
            return best;
        }
        case Metric::Ssid: {
            int best = kNotHeard;
            for (const Reading& r : point.readings)
                if (r.ssid == spec.ssid && Counts(r, spec))
                    best = std::max(best, r.SignalDbm());
            return best;
        }
        case Metric::ChannelOverlap:
            return ChannelOverlapAt(point);
        case Metric::Snr:
            return SnrAt(point).db;
        case Metric::Third:
            return NthApSignal(point, 3);
        case Metric::Sir:
            return SirAt(point);
        case Metric::Width:
            return WidthAt(point);
        case Metric::Phy:
            return PhyAt(point);
        case Metric::Rate:
            return RateAt(point);
    }
    return kNotHeard;
}

std::vector<Sample> MetricSamples(const PlacedSurvey& survey, const MetricSpec& spec) {
    std::vector<Sample> samples;
    samples.reserve(survey.points.size());
    for (const PlacedPoint& p : survey.points) {
        double value = 0;
        if (spec.band) {
            const SurveyPoint inBand = InBand(survey.Record(p), *spec.band);
            value = PointValue(inBand, inBand.Strongest(), spec);
        } else {
            value = PointValue(survey.Record(p), p.strongest, spec);
        }
        if (!std::isnan(value))
            samples.push_back(Sample{static_cast<double>(p.x), static_cast<double>(p.y), value});
    }
    return samples;
}

SurveyedArea AreaOf(const PlacedSurvey& survey, const IdwParams& params,
                    std::span<const PlanPoint> boundary) {
    if (!boundary.empty())
        return SurveyedArea::Boundary({boundary.begin(), boundary.end()});
    std::vector<PlanPoint> points;
    points.reserve(survey.points.size());
    for (const PlacedPoint& p : survey.points)
        points.push_back({static_cast<double>(p.x), static_cast<double>(p.y)});
    return SurveyedArea::Hull(points, params.radius * kHullEdgeOfRadius,
                              params.radius * kPointReachOfRadius);
}

Grid MetricGrid(const PlacedSurvey& survey, const MetricSpec& spec, const IdwParams& params,
                int width, int height, const RunControl& control, const SurveyedArea* area) {
    if (area == nullptr) {
        const SurveyedArea hull = AreaOf(survey, params);
        return MetricGrid(survey, spec, params, width, height, control, &hull);
    }
    IdwInterpolator idw(MetricSamples(survey, spec), params);
    Grid grid = idw.Run(width, height, control, area);
    if (spec.metric == Metric::Coverage) {
        for (double& v : grid.values)
            if (Grid::HasValue(v))
                v = v >= spec.threshold ? 1.0 : 0.0;
    }
    return grid;
}

std::vector<std::string> NetworkNames(const PlacedSurvey& survey) {
    std::set<std::string> names;
    for (const PlacedPoint& p : survey.points)
        for (const Reading& r : survey.Record(p).readings)
            names.insert(r.ssid);
    return {names.begin(), names.end()};
}

}  // namespace ketrion::analysis
