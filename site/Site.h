#pragma once

// A site as plain values: buildings, their floors (each with its plan, its
// reference points for alignment and the collection files surveyed on it).
// The site file (site/SiteFile.h) stores it; nothing here touches a file.

#include <string>
#include <vector>

namespace ketrion::site {

// A place marked on a floor's plan that other floors mark too (a stairwell, a
// lift shaft), in plan pixels; matched between floors by its label.
struct ReferencePoint {
    std::string label;
    double x = 0;
    double y = 0;
};

// One collection file surveyed on a floor. `path` is relative to the site
// file's folder (absolute only when it lies outside it), so a site folder can
// be moved or sent as a whole.
struct SiteCollection {
    std::string path;
    std::string surveyor;
    std::string adapter;  // what scanned: "board", "wifi", ... (from the side store)
    std::string date;     // "YYYY-MM-DD" of its first point, or of the file's creation
    bool enabled = true;  // switched off: kept in the site, left out of results
};

struct Floor {
    std::string name;
    int order = 0;            // 0 ground floor, negative below it
    double heightMetres = 0;  // of the floor above the ground
    std::string projection;   // the floor's projection file (.ktp), relative like collections
    std::vector<ReferencePoint> references;
    std::vector<SiteCollection> collections;
};

struct Building {
    std::string name;
    std::vector<Floor> floors;  // in `order`
};

struct Site {
    std::string name;
    std::vector<Building> buildings;
};

// A floor found by name, with its building.
struct FloorRef {
    Building* building = nullptr;
    Floor* floor = nullptr;
};
struct ConstFloorRef {
    const Building* building = nullptr;
    const Floor* floor = nullptr;
};

// Finds a floor by "FLOOR" (unique across the site) or "BUILDING/FLOOR".
// Empty refs with a message naming what is there when there is no such floor
// or the name is ambiguous.
FloorRef FindFloor(Site& site, const std::string& name, std::string& error);
ConstFloorRef FindFloor(const Site& site, const std::string& name, std::string& error);

// "Building / Floor" for messages and titles.
std::string FloorTitle(const Building& building, const Floor& floor);

// Every floor of the site, building by building, in order.
std::vector<ConstFloorRef> AllFloors(const Site& site);

// Keeps each building's floors sorted by `order` (stable for equal orders).
void SortFloors(Site& site);

}  // namespace ketrion::site
