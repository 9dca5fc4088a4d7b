#include "tools/ktd/ReportSide.h"

#include <string>
#include <utility>

namespace ketrion::ktd {

ReportExtras ReportExtrasOf(std::span<const analysis::ApEstimate> aps) {
    using analysis::Band;
    ReportExtras extras;
    ReportBand bands[] = {{"2.4 GHz", {}}, {"5 GHz", {}}, {"6 GHz", {}}, {"other band", {}}};
    ReportBand unknown{"band unknown", {}};
    bool anyBand = false;
    for (const analysis::ApEstimate& ap : aps) {
        const analysis::ReadingDetails d = ap.details.value_or(analysis::ReadingDetails{});
        switch (d.band) {
            case Band::Ghz24:
                bands[0].macs.push_back(ap.mac);
                break;
            case Band::Ghz5:
                bands[1].macs.push_back(ap.mac);
                break;
            case Band::Ghz6:
                bands[2].macs.push_back(ap.mac);
                break;
            case Band::Other:
                bands[3].macs.push_back(ap.mac);
                break;
            case Band::Unknown:
                unknown.macs.push_back(ap.mac);
                break;
        }
        anyBand = anyBand || d.band != Band::Unknown;
        if (d.channel || !d.security.empty()) {
            ApDetails& details = extras.details[ap.mac];
            if (d.channel)
                details.channel = std::to_string(*d.channel);
            details.security = d.security;
        }
    }
    if (!anyBand)
        return extras;
    for (ReportBand& band : bands)
        if (!band.macs.empty())
            extras.bands.push_back(std::move(band));
    if (!unknown.macs.empty())
        extras.bands.push_back(std::move(unknown));
    return extras;
}

}  // namespace ketrion::ktd
