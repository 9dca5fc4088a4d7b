#pragma once

#include <cstddef>

#include "analysis/Details.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::analysis {

// Which points of a survey its results use. A point marked deleted in the side
// store is never used. A point whose position cannot be trusted (taken without
// a valid fix or with a stale one, or a walk reading not yet placed:
// PointDetails::Unfixed) is left out of heatmaps, access-point estimates,
// coverage shares and exports unless `includeNoFix`. A point without side
// details is used as the collection file has it.
struct Selection {
    bool includeNoFix = false;
};

// How many points a selection left out, and why.
struct LeftOut {
    std::size_t deleted = 0;
    std::size_t noFix = 0;

    std::size_t Total() const { return deleted + noFix; }
};

// True when the selection uses `point`; counts it in `leftOut` otherwise.
bool Uses(const SurveyPoint& point, const Selection& selection, LeftOut* leftOut = nullptr);

// Drops the points the selection does not use from `records`.
LeftOut SelectPoints(SurveyRecords& records, const Selection& selection);
// The same for a placed survey: its records, survey points and dynamic access
// points, with the remaining points still naming their records.
LeftOut SelectPoints(PlacedSurvey& survey, const Selection& selection);

// `point` with only its readings on `band` (readings of unknown band left out).
SurveyPoint InBand(const SurveyPoint& point, Band band);
// True when the reading is on `band` (a reading of unknown band never is).
bool OnBand(const Reading& reading, Band band);

}  // namespace ketrion::analysis
