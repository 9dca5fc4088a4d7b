#include "analysis/HeardNames.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace ketrion::analysis {

namespace {

std::string Lower(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Levenshtein distance (insertions, deletions, substitutions), one row at a time.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::vector<Mac> HeardAddresses(const PlacedSurvey& survey) {
    std::set<Mac> heard;
    for (const PlacedPoint& point : survey.points)
        for (const Reading& reading : survey.Record(point).readings)
            heard.insert(reading.mac);
    return {heard.begin(), heard.end()};
}

std::optional<std::string> CloseMatch(const std::string& wanted,
                                      const std::vector<std::string>& candidates) {
    const std::string lower = Lower(wanted);
    const std::size_t near = std::max<std::size_t>(1, wanted.size() / 3);
    std::optional<std::string> best;
    std::size_t bestDistance = near + 1;
    for (const std::string& candidate : candidates) {
        const std::size_t d = EditDistance(lower, Lower(candidate));
        if (d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace ketrion::analysis
