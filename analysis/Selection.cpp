#include "analysis/Selection.h"

#include <vector>

namespace ketrion::analysis {

bool Uses(const SurveyPoint& point, const Selection& selection, LeftOut* leftOut) {
    if (!point.details)
        return true;
    if (point.details->deleted) {
        if (leftOut != nullptr)
            ++leftOut->deleted;
        return false;
    }
    if (point.details->Unfixed() && !selection.includeNoFix) {
        if (leftOut != nullptr)
            ++leftOut->noFix;
        return false;
    }
    return true;
}

LeftOut SelectPoints(SurveyRecords& records, const Selection& selection) {
    LeftOut leftOut;
    std::erase_if(records.points,
                  [&](const SurveyPoint& point) { return !Uses(point, selection, &leftOut); });
    return leftOut;
}

LeftOut SelectPoints(PlacedSurvey& survey, const Selection& selection) {
    LeftOut leftOut;
    constexpr std::size_t kDropped = static_cast<std::size_t>(-1);
    std::vector<SurveyPoint>& points = survey.records.points;
    // Where each record ends up once the unused ones are gone.
    std::vector<std::size_t> moved(points.size(), kDropped);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!Uses(points[i], selection, &leftOut))
            continue;
        moved[i] = kept;
        if (kept != i)
            points[kept] = std::move(points[i]);
        ++kept;
    }
    points.resize(kept);
    auto remap = [&](std::vector<PlacedPoint>& placed) {
        std::erase_if(placed, [&](PlacedPoint& p) {
            if (p.record >= moved.size() || moved[p.record] == kDropped)
                return true;
            p.record = moved[p.record];
            return false;
        });
    };
    remap(survey.points);
    remap(survey.dynamicAps);
    return leftOut;
}

bool OnBand(const Reading& reading, Band band) {
    return reading.details && reading.details->band == band;
}

SurveyPoint InBand(const SurveyPoint& point, Band band) {
    SurveyPoint out = point;
    std::erase_if(out.readings, [&](const Reading& r) { return !OnBand(r, band); });
    return out;
}

}  // namespace ketrion::analysis
