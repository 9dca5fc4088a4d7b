#include "site/Site.h"

#include <algorithm>

namespace ketrion::site {

namespace {

// Shared by the const and non-const lookups: indices of the floor found.
bool Locate(const Site& site, const std::string& name, std::size_t& b, std::size_t& f,
            std::string& error) {
    std::string buildingName;
    std::string floorName = name;
    if (const std::size_t slash = name.find('/'); slash != std::string::npos) {
        buildingName = name.substr(0, slash);
        floorName = name.substr(slash + 1);
    }
    int found = 0;
    std::string known;
    for (std::size_t i = 0; i < site.buildings.size(); ++i) {
        const Building& building = site.buildings[i];
        for (std::size_t j = 0; j < building.floors.size(); ++j) {
            const Floor& floor = building.floors[j];
            known += (known.empty() ? "" : ", ") + building.name + "/" + floor.name;
            if (floor.name != floorName || (!buildingName.empty() && building.name != buildingName))
                continue;
            ++found;
            b = i;
            f = j;
        }
    }
    if (found == 1)
        return true;
    if (found > 1)
        error = "floor \"" + name + "\" is in several buildings; name it as BUILDING/FLOOR (" +
                known + ")";
    else
        error =
            "the site has no floor \"" + name + "\"" +
            (known.empty() ? std::string(" (it has no floors yet)") : " (floors: " + known + ")");
    return false;
}

}  // namespace

FloorRef FindFloor(Site& site, const std::string& name, std::string& error) {
    std::size_t b = 0, f = 0;
    if (!Locate(site, name, b, f, error))
        return {};
    return {&site.buildings[b], &site.buildings[b].floors[f]};
}

ConstFloorRef FindFloor(const Site& site, const std::string& name, std::string& error) {
    std::size_t b = 0, f = 0;
    if (!Locate(site, name, b, f, error))
        return {};
    return {&site.buildings[b], &site.buildings[b].floors[f]};
}

std::string FloorTitle(const Building& building, const Floor& floor) {
    return building.name + " / " + floor.name;
}

std::vector<ConstFloorRef> AllFloors(const Site& site) {
    std::vector<ConstFloorRef> out;
    for (const Building& building : site.buildings)
        for (const Floor& floor : building.floors)
            out.push_back({&building, &floor});
    return out;
}

void SortFloors(Site& site) {
    for (Building& building : site.buildings)
        std::stable_sort(building.floors.begin(), building.floors.end(),
                         [](const Floor& a, const Floor& b) { return a.order < b.order; });
}

}  // namespace ketrion::site
