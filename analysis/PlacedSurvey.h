#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/SurveyRecords.h"

namespace ketrion {
class CSiteProjection;
}

namespace ketrion::analysis {

// A point of the survey on the plan: where loading the collection file in the
// program places it, and which record of the file it is.
struct PlacedPoint {
    int x = 0;  // plan pixels
    int y = 0;
    int strongest = kWeakestSignal;  // the loader's strongest signal (the disc colour)
    std::size_t record = 0;          // index in PlacedSurvey::records.points
};

// A collection file read for analysis: every record as stored, and its survey
// points and dynamic access points placed on the plan.
struct PlacedSurvey {
    SurveyRecords records;
    std::vector<PlacedPoint> points;      // survey points, file order
    std::vector<PlacedPoint> dynamicAps;  // placed by the surveyor; never interpolated

    const SurveyPoint& Record(const PlacedPoint& point) const {
        return records.points[point.record];
    }
};

// Reads the collection file at `path` (read-only, never locked) and places
// its points through `projection` as the program's loader does. NotOpened: nothing to use, the
// reason in out.records.damage. Damaged: the points before the damage are
// placed, the damage described in out.records.damage.
ReadResult LoadPlacedSurvey(const std::string& path, const CSiteProjection& projection,
                            PlacedSurvey& out);

// Seconds since 1970 of a point's stored UTC date and time; false when it
// does not hold a real time.
bool UtcSeconds(const SurveyPoint& point, std::int64_t& out);

// The earliest and latest stored times of the survey points; false when no
// point holds a real time.
bool TimeSpan(const PlacedSurvey& survey, std::int64_t& first, std::int64_t& last);

}  // namespace ketrion::analysis
