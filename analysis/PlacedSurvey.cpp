#include "analysis/PlacedSurvey.h"

#include <algorithm>

#include "survey/SiteProjection.h"

namespace ketrion::analysis {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

ReadResult LoadPlacedSurvey(const std::string& path, const CSiteProjection& projection,
                            PlacedSurvey& out) {
    out = PlacedSurvey{};
    const ReadResult result = ReadSurveyRecords(path, out.records);
    if (result == ReadResult::NotOpened)
        return result;
    // Placed as loading the file in the program places them: the stored
    // position through the projection's map, the strongest whole-dBm reading
    // (never below -100) as the disc's signal, and every kind but a survey
    // point taken as a dynamic access point.
    const std::vector<SurveyPoint>& records = out.records.points;
    out.points.reserve(static_cast<std::size_t>(std::count_if(
        records.begin(), records.end(), [](const SurveyPoint& r) { return r.IsSurvey(); })));
    for (std::size_t i = 0; i < records.size(); ++i) {
        const SurveyPoint& record = records[i];
        const PlacedPoint point{projection.PlanX(record.latitude, record.longitude),
                                projection.PlanY(record.latitude, record.longitude),
                                record.Strongest(), i};
        if (record.IsSurvey())
            out.points.push_back(point);
        else
            out.dynamicAps.push_back(point);
    }
    return result;
}

bool UtcSeconds(const SurveyPoint& point, std::int64_t& out) {
    if (!point.HasValidTime() || point.year < 1970)
        return false;
    out = DaysFromCivil(point.year, point.month, point.day) * 86400 + point.hour * 3600 +
          point.minute * 60 + point.second;
    return true;
}

bool TimeSpan(const PlacedSurvey& survey, std::int64_t& first, std::int64_t& last) {
    bool any = false;
    for (const PlacedPoint& p : survey.points) {
        std::int64_t t = 0;
        if (!UtcSeconds(survey.Record(p), t))
            continue;
        first = any ? std::min(first, t) : t;
        last = any ? std::max(last, t) : t;
        any = true;
    }
    return any;
}

}  // namespace ketrion::analysis
