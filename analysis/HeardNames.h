#pragma once

// What a survey heard, for refusing a heatmap of a network or an access
// point it never heard (a map of "-100 dBm everywhere" would claim there is
// no coverage) and suggesting what the user probably meant.

#include <optional>
#include <string>
#include <vector>

#include "analysis/PlacedSurvey.h"

namespace ketrion::analysis {

// The addresses heard at the survey points, sorted, each once.
std::vector<Mac> HeardAddresses(const PlacedSurvey& survey);

// The candidate `wanted` most probably stands for: one equal to it but for
// letter case, else the nearest by edit distance (ignoring case) when it is
// near enough to be a slip (at most a third of its length, and at least 1);
// nothing otherwise.
std::optional<std::string> CloseMatch(const std::string& wanted,
                                      const std::vector<std::string>& candidates);

}  // namespace ketrion::analysis
