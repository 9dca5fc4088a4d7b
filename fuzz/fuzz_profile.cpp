// Feeds arbitrary bytes to the requirement-profile reader: it either refuses
// them with a message or gives a profile whose figures lie in their ranges
// (finite, the area share in (0, 1]), and the verdicts of a profile print as
// JSON whatever bytes its name holds.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "analysis/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ketrion::analysis;
    std::string error;
    const std::optional<Profile> profile =
        ParseProfile(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!profile) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if (!(profile->areaShare > 0 && profile->areaShare <= 1))
        std::abort();
    auto check = [](const Requirements& r) {
        for (const auto& least : r.least)
            if (least && (!std::isfinite(*least) || *least < -100 || *least > 320))
                std::abort();
    };
    check(profile->all);
    for (const auto& entry : profile->bands)
        check(entry.second);
    if (VerdictsJson(*profile, {{std::nullopt, ProfileVerdict{}}}).empty())
        std::abort();
    return 0;
}
