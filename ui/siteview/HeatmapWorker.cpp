#include "ui/siteview/HeatmapWorker.h"

#include <algorithm>
#include <iterator>
#include <span>
#include <thread>
#include <utility>

#include "analysis/Selection.h"
#include "analysis/SideDetails.h"

namespace ketrion {

namespace {

// Metrics whose point values come from the readings rather than from the
// point's strongest signal, which the view already holds (a band filter
// takes the strongest on that band from the readings).
bool NeedsReadings(const analysis::MetricSpec& spec) {
    return spec.band || (spec.metric != analysis::Metric::Strongest &&
                         spec.metric != analysis::Metric::Coverage);
}

int WorkerThreads(int asked) {
    if (asked > 0)
        return asked;
    // One core stays with the user interface.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 1 ? static_cast<int>(cores) - 1 : 1;
}

}  // namespace

analysis::PlacedSurvey PlaceViewPoints(std::span<const CSiteData::_tap> points,
                                       analysis::SurveyRecords records, bool keepUnmatched) {
    analysis::PlacedSurvey out;
    out.records = std::move(records);
    const std::size_t stored = out.records.points.size();
    std::size_t next = 0;
    for (const CSiteData::_tap& tap : points) {
        // Deleted points are in no result.
        if (tap.kind != CSiteData::kKindSurvey || tap.deleted)
            continue;
        while (next < stored && out.records.points[next].offset < tap.offset)
            ++next;
        const bool matched = next < stored && out.records.points[next].offset == tap.offset;
        analysis::PlacedPoint placed{tap.x, tap.y, tap.signal, next};
        if (matched) {
            ++next;
        } else if (keepUnmatched) {
            placed.record = out.records.points.size();
            analysis::SurveyPoint empty;
            empty.offset = tap.offset;
            out.records.points.push_back(std::move(empty));
        } else {
            continue;
        }
        out.points.push_back(placed);
    }
    return out;
}

namespace {

bool NeedsBandOrChannel(const analysis::MetricSpec& spec) {
    return spec.band.has_value() || spec.metric == analysis::Metric::ChannelOverlap;
}

// Whether any reading of the survey says its band or channel.
bool KnowsBandOrChannel(const analysis::PlacedSurvey& survey) {
    for (const analysis::PlacedPoint& point : survey.points) {
        for (const analysis::Reading& reading : survey.Record(point).readings) {
            if (reading.details && (reading.details->band != analysis::Band::Unknown ||
                                    reading.details->channel.has_value())) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

HeatmapResult ComputeHeatmap(const HeatmapInput& input, const std::atomic<bool>& cancel) {
    HeatmapResult result;
    result.generation = input.generation;
    result.planWidth = input.planWidth;
    result.planHeight = input.planHeight;

    analysis::SurveyRecords records;
    if (!input.path.empty() &&
        analysis::ReadSurveyRecords(input.path, records) != analysis::ReadResult::Complete)
        result.damage = records.damage;
    // The side store's details (bands, channels, deleted marks); the view has
    // told the user already when it cannot be read.
    analysis::AttachSideDetails(records, nullptr);
    // Points without a trusted position are left out unless asked for, as
    // ktd's --include-no-fix does: by the side store's flags, and by the
    // view's own mark for a point whose side row is not written yet.
    std::vector<CSiteData::_tap> trusted;
    std::span<const CSiteData::_tap> points = input.points;
    if (!input.includeNoFix) {
        trusted.reserve(input.points.size());
        std::copy_if(input.points.begin(), input.points.end(), std::back_inserter(trusted),
                     [](const CSiteData::_tap& tap) { return !tap.hollow; });
        points = trusted;
    }
    analysis::PlacedSurvey survey =
        PlaceViewPoints(points, std::move(records), !NeedsReadings(input.spec));
    analysis::SelectPoints(survey, analysis::Selection{input.includeNoFix});
    result.points = survey.points.size();
    result.networks = analysis::NetworkNames(survey);
    if (cancel.load()) {
        result.cancelled = true;
        return result;
    }
    result.aps = analysis::EstimateAccessPoints(survey.records.points);
    result.pointValues.reserve(survey.points.size());
    for (const analysis::PlacedPoint& point : survey.points) {
        double value = analysis::PointValue(survey.Record(point), point.strongest, input.spec);
        if (input.spec.metric == analysis::Metric::Coverage)
            value = value >= input.spec.threshold ? 1.0 : 0.0;
        result.pointValues.emplace_back(survey.Record(point).offset, value);
    }
    std::sort(result.pointValues.begin(), result.pointValues.end());

    result.bandUnknown = NeedsBandOrChannel(input.spec) && !KnowsBandOrChannel(survey);
    if (result.bandUnknown) {
        result.scale = heatmap::ColourScale::ForMetric(input.spec, result.grid);
        return result;
    }
    if (input.planWidth > 0 && input.planHeight > 0 && !survey.points.empty() &&
        !analysis::CheckParams(input.params)) {
        analysis::RunControl control;
        control.threads = WorkerThreads(input.threads);
        control.cancel = &cancel;
        const analysis::SurveyedArea area = analysis::AreaOf(survey, input.params, input.boundary);
        result.grid = analysis::MetricGrid(survey, input.spec, input.params, input.planWidth,
                                           input.planHeight, control, &area);
    }
    if (cancel.load() || (result.grid.columns > 0 && result.grid.values.empty())) {
        result.cancelled = true;
        return result;
    }
    result.scale = heatmap::ColourScale::ForMetric(input.spec, result.grid);
    if (result.grid.columns > 0 && result.grid.rows > 0) {
        // The same grid at one pixel per node; the view scales it to the plan.
        analysis::Grid nodes = result.grid;
        nodes.cell = 1;
        result.image = heatmap::GridImage(nodes, nodes.columns, nodes.rows, result.scale, 255);
    }
    return result;
}

}  // namespace ketrion
