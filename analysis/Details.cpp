#include "analysis/Details.h"

namespace ketrion::analysis {

std::optional<Band> ParseBand(std::string_view text) {
    if (text == "2.4")
        return Band::Ghz24;
    if (text == "5")
        return Band::Ghz5;
    if (text == "6")
        return Band::Ghz6;
    return std::nullopt;
}

const char* BandName(Band band) {
    switch (band) {
        case Band::Ghz24:
            return "2.4";
        case Band::Ghz5:
            return "5";
        case Band::Ghz6:
            return "6";
        case Band::Other:
            return "other";
        case Band::Unknown:
            break;
    }
    return "";
}

Band BandOfFrequency(int frequencyMhz) {
    if (frequencyMhz >= 2400 && frequencyMhz <= 2500)
        return Band::Ghz24;
    if (frequencyMhz >= 5150 && frequencyMhz <= 5895)
        return Band::Ghz5;
    if (frequencyMhz >= 5925 && frequencyMhz <= 7125)
        return Band::Ghz6;
    return Band::Other;
}

}  // namespace ketrion::analysis
