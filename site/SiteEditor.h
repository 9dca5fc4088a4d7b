#pragma once

// Changes to a site, each checked before anything changes: a refused change
// leaves the site as it was, with a message naming what was refused. Paths
// are given as a command line gives them and stored relative to the site
// file's folder (`sitePath`).

#include <string>
#include <vector>

#include "site/Site.h"

namespace ketrion::site {

class SiteEditor {
public:
    SiteEditor(Site& site, std::string sitePath) : m_site(site), m_sitePath(std::move(sitePath)) {}

    // Adds a floor to `building` (made when the site has none of that name).
    // Refused: a floor of that name in the building already, or a plan that
    // is missing or not a projection file.
    bool AddFloor(const std::string& building, const std::string& name, int order,
                  double heightMetres, const std::string& projection, std::string& error);
    // Sets a floor's reference points (replacing any it had); refused when
    // two are on one spot or three or more on one line, or labels repeat.
    bool SetReferences(const std::string& floor, const std::vector<ReferencePoint>& points,
                       std::string& error);
    // Adds the collection file at `path` to `floor`, switched on or off, with
    // its adapter and date from its side store. Refused: a file the site
    // holds already (on this floor or another, under any name), one that
    // cannot be read, or one whose points do not lie on the floor's plan.
    bool AddCollection(const std::string& floor, const std::string& path,
                       const std::string& surveyor, bool enabled, std::string& error);
    bool RemoveCollection(const std::string& path, std::string& error);
    bool SwitchCollection(const std::string& path, bool enabled, std::string& error);

private:
    // The collection stored under a name that leads to `path`, with its floor.
    SiteCollection* Find(const std::string& path, Floor** floor);

    Site& m_site;
    std::string m_sitePath;
};

// Every problem of a site, one line each: a floor plan missing or not a
// projection, a collection missing, damaged or not on its floor's plan, one
// file listed twice, floors that cannot be aligned. Empty when none.
std::vector<std::string> CheckSite(const Site& site, const std::string& sitePath);

// A floor's alignment to its building's reference floor (the lowest one).
struct FloorAlignment {
    const Building* building = nullptr;
    const Floor* floor = nullptr;
    const Floor* reference = nullptr;  // null for the reference floor itself
    bool aligned = false;
    double rmsMetres = 0;
    double maxMetres = 0;
    double scale = 1;
    double rotationDegrees = 0;
    std::string problem;  // when not aligned
};
std::vector<FloorAlignment> AlignSite(const Site& site, const std::string& sitePath);

}  // namespace ketrion::site
