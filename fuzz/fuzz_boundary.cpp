// Feeds arbitrary bytes as a boundary file (JSON vertices in plan pixels) to
// its reader, and a boundary it accepts to the area mask of a small grid.
// Checks that an accepted boundary holds what the reader promises.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/SurveyedArea.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ketrion::analysis;
    std::string error;
    const auto polygon =
        ParseBoundaryJson(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!polygon) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (polygon->size() < 3 || polygon->size() > kLargestBoundary)
        std::abort();
    for (const PlanPoint& p : *polygon)
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || std::abs(p.x) > kFarthestVertex ||
            std::abs(p.y) > kFarthestVertex)
            std::abort();
    const auto mask = SurveyedArea::Boundary(*polygon).Mask(40, 30, 4);
    if (mask.size() != 40u * 30u)
        std::abort();
    for (std::uint8_t m : mask)
        if (m > 1)
            std::abort();
    return 0;
}
