#pragma once

// Which floor each access point is on: the floor where its strongest
// readings were taken. A floor slab takes 10-20 dB off a signal, so an access
// point is heard best on its own floor. Each floor's measure is the mean of
// the access point's strongest readings there (up to kAssignReadings of them:
// one reading alone can be a lucky spot), and how sure the assignment is is
// the difference, in dB, between the best floor's measure and the next one's.
//
// "Bleed": on a floor, the access points heard there that are assigned to
// another floor, with how strongly they are heard.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analysis/SurveyRecords.h"

namespace ketrion::site {

inline constexpr std::size_t kAssignReadings = 3;

struct FloorHearing {
    std::size_t floor = 0;   // index into the floors given
    double measure = 0;      // dBm: mean of the strongest readings
    int strongest = 0;       // dBm
    std::size_t points = 0;  // points of the floor that heard it
};

struct ApFloor {
    analysis::Mac mac{};
    std::string ssid;       // of its strongest reading
    std::size_t floor = 0;  // the floor assigned
    std::optional<double>
        confidenceDb;                 // best - next floor's measure; none when heard on one floor
    std::vector<FloorHearing> heard;  // every floor that heard it, best first
};

struct Bleed {
    analysis::Mac mac{};
    std::string ssid;
    std::size_t home = 0;  // the floor it is assigned to
    int strongest = 0;     // dBm, on the floor looked at
    std::size_t points = 0;
};

// Assigns every access point heard at the survey points of `floors` (one
// records set per floor, in site order) to a floor. In address order.
std::vector<ApFloor> AssignFloors(const std::vector<const analysis::SurveyRecords*>& floors);

// The access points heard on `floor` that belong to another, strongest first.
std::vector<Bleed> BleedOn(std::size_t floor, const std::vector<ApFloor>& assigned);

}  // namespace ketrion::site
