#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "render/HeatmapImage.h"
#include "survey/SiteData.h"

namespace ketrion {

// Everything one heatmap computation needs, copied on the user-interface
// thread so that the computation touches no shared object.
struct HeatmapInput {
    std::uint64_t generation = 0;         // which request this answers
    std::vector<CSiteData::_tap> points;  // the survey's points as the view holds them
    std::string path;                     // the collection file (for the readings)
    int planWidth = 0;                    // plan pixels
    int planHeight = 0;
    analysis::MetricSpec spec;
    analysis::IdwParams params;  // the defaults unless a caller says otherwise
    // The surveyed area's outline drawn by the user, plan pixels; empty: the
    // points' concave hull (analysis::AreaOf), as ktd draws it.
    std::vector<analysis::PlanPoint> boundary;
    int threads = 0;  // interpolation threads; 0 = leave one core free
    // Points without a valid fix (or not yet placed) are used too.
    bool includeNoFix = false;
};

// What a computation found: the grid, its picture and what the choosers offer.
struct HeatmapResult {
    std::uint64_t generation = 0;
    analysis::MetricSpec spec;  // what was computed
    bool cancelled = false;
    int planWidth = 0;  // the plan the grid covers, plan pixels
    int planHeight = 0;
    analysis::Grid grid;
    // One pixel per grid node, opaque colours; transparent where no value.
    QImage image;
    heatmap::ColourScale scale;
    std::vector<analysis::ApEstimate> aps;  // ascending address order
    std::vector<std::string> networks;      // sorted, each once
    std::size_t points = 0;                 // survey points interpolated
    // Each placed survey point's value of the metric, by the file offset of
    // its location record, ascending (Coverage: 1 at or above the threshold, else 0).
    std::vector<std::pair<std::int64_t, double>> pointValues;
    std::string damage;  // what was wrong with the file, if anything
    // The metric needs bands or channels and no reading says its own (the
    // board's readings): no grid, so that nothing reads as "no coverage".
    bool bandUnknown = false;
};

// Places the view's survey points on the records read from their file,
// matched by the offset of their location records (both in file order).
// Dynamic access points and points marked deleted are left out. A point without a record (the file
// was cut or is being appended to) gets an empty record when `keepUnmatched`, else it is left out.
analysis::PlacedSurvey PlaceViewPoints(std::span<const CSiteData::_tap> points,
                                       analysis::SurveyRecords records, bool keepUnmatched);

// The heatmap for `input`: reads the collection file, interpolates the
// metric, colours the grid and estimates the access points. A pure function of
// its input (and the file): runs on any thread. Stops early, with `cancelled`
// set, once `cancel` is set.
HeatmapResult ComputeHeatmap(const HeatmapInput& input, const std::atomic<bool>& cancel);

}  // namespace ketrion
