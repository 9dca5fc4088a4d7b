#pragma once

// What the site layer needs of a floor's projection file: its map from
// latitude and longitude to plan pixels, the plan image's size (read from
// the bitmap header at the start of the compressed block, without expanding
// the image) and its scale in metres per pixel.

#include <string>
#include <vector>

#include "analysis/SurveyRecords.h"
#include "survey/PlanMap.h"

namespace ketrion::site {

struct FloorPlan {
    PlanMap map;
    int width = 0;  // plan image, pixels
    int height = 0;
    double metresPerPixel = 0;  // at the plan's centre, the mean of both axes

    // Plan pixel of a point of a collection file (its side store's placement
    // when it has one, as the program places points placed by a click).
    PlanPoint Place(const analysis::SurveyPoint& point) const;
    bool Contains(const PlanPoint& p) const {
        return p.x >= 0 && p.y >= 0 && p.x < width && p.y < height;
    }
};

// Reads the projection file at `path`. False with a message naming it when
// it is missing, not a projection file (too short, no plan image, a map
// without an inverse) or its plan's size cannot be read.
bool ReadFloorPlan(const std::string& path, FloorPlan& out, std::string& error);

// Checks that the survey points of `records` that a heatmap of the floor
// would use (analysis/Selection.h) lie on `plan`:
// empty when they do, else a message naming the collection, how many points
// are off the plan and the first of them. A collection with no positioned
// point is refused too (nothing of it can be shown on the floor).
std::string CheckOnPlan(const analysis::SurveyRecords& records, const FloorPlan& plan,
                        const std::string& planPath);

}  // namespace ketrion::site
