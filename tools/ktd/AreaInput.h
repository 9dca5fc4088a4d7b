#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/SurveyedArea.h"

namespace ketrion::ktd {

// The largest boundary file read: more than kLargestBoundary vertices
// written out take (about 25 bytes each), and small enough to parse.
inline constexpr long kLargestBoundaryFile = 4L << 20;

// Reads a boundary file (analysis::ParseBoundaryJson); nothing, with a
// message naming the file in `error`, when it cannot be read or is not one.
std::optional<std::vector<analysis::PlanPoint>> ReadBoundaryFile(const std::string& path,
                                                                 std::string& error);

}  // namespace ketrion::ktd
