#include "analysis/PlacedSurvey.h"

#include <algorithm>
#include <string_view>

#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"

namespace ketrion::analysis {

namespace {

// Keeps the first message the loader shows.
class KeepingPrompt final : public Prompt {
public:
    void Message(std::string_view text) override {
        if (m_text.empty())
            m_text = text;
    }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

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

    // The program's loader decides where each point lies and what its
    // strongest signal is; the records only add what it does not keep.
    KeepingPrompt prompt;
    NullSound sound;
    CSiteData data(prompt, sound);
    data.SetProjection(&projection);
    data.SetPath(path);
    if (!data.LoadSurvey()) {
        if (out.records.damage.empty())
            out.records.damage =
                prompt.Text().empty() ? path + " cannot be loaded." : prompt.Text();
        return ReadResult::Damaged;  // nothing placed
    }
    std::size_t next = 0;
    const std::vector<SurveyPoint>& records = out.records.points;
    data.ForEachPoint([&](const CSiteData::_tap& tap) {
        // Both walks go through the file in order; a point the other walk does
        // not have (the file changed in between) is left out.
        while (next < records.size() && records[next].offset < tap.offset)
            ++next;
        if (next >= records.size() || records[next].offset != tap.offset)
            return;
        PlacedPoint point{tap.x, tap.y, tap.signal, next};
        if (tap.kind == CSiteData::kKindSurvey)
            out.points.push_back(point);
        else
            out.dynamicAps.push_back(point);
        ++next;
    });
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
