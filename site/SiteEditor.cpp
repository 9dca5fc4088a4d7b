#include "site/SiteEditor.h"

#include <sys/stat.h>

#include <set>
#include <utility>

#include "analysis/SideDetails.h"
#include "site/Alignment.h"
#include "site/FloorPlan.h"
#include "site/FloorSurvey.h"
#include "site/SiteFile.h"

namespace ketrion::site {

namespace {

// Two names of one file (a link, another spelling of its path).
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A collection read with its side store, for checking it against a plan.
bool ReadJoined(const std::string& path, analysis::SurveyRecords& records, std::string& error) {
    const analysis::ReadResult result = analysis::ReadSurveyRecords(path, records);
    if (result != analysis::ReadResult::Complete) {
        error = records.damage;
        return false;
    }
    std::string message;
    analysis::AttachSideDetails(records, &message);
    return true;
}

}  // namespace

bool SiteEditor::AddFloor(const std::string& building, const std::string& name, int order,
                          double heightMetres, const std::string& projection, std::string& error) {
    if (name.empty() || building.empty() || name.find('/') != std::string::npos ||
        building.find('/') != std::string::npos) {
        error = "a building and a floor need a name without a '/'";
        return false;
    }
    FloorPlan plan;
    if (!ReadFloorPlan(projection, plan, error)) {
        error = "floor \"" + name + "\" not added: " + error;
        return false;
    }
    Building* target = nullptr;
    for (Building& b : m_site.buildings)
        if (b.name == building)
            target = &b;
    if (target != nullptr) {
        for (const Floor& f : target->floors)
            if (f.name == name) {
                error = "building \"" + building + "\" has a floor \"" + name + "\" already";
                return false;
            }
    } else {
        target = &m_site.buildings.emplace_back();
        target->name = building;
    }
    Floor floor;
    floor.name = name;
    floor.order = order;
    floor.heightMetres = heightMetres;
    floor.projection = SiteFile::RelativePath(m_sitePath, projection);
    target->floors.push_back(std::move(floor));
    SortFloors(m_site);
    return true;
}

bool SiteEditor::SetReferences(const std::string& floorName,
                               const std::vector<ReferencePoint>& points, std::string& error) {
    const FloorRef ref = FindFloor(m_site, floorName, error);
    if (ref.floor == nullptr)
        return false;
    std::set<std::string> labels;
    for (const ReferencePoint& p : points)
        if (p.label.empty() || !labels.insert(p.label).second) {
            error = "floor \"" + floorName +
                    "\": reference point labels must be given and differ (\"" + p.label + "\")";
            return false;
        }
    error = CheckReferences(ref.floor->name, points);
    if (!error.empty())
        return false;
    ref.floor->references = points;
    return true;
}

SiteCollection* SiteEditor::Find(const std::string& path, Floor** floorOut) {
    const std::string wanted = SiteFile::RelativePath(m_sitePath, path);
    for (Building& building : m_site.buildings)
        for (Floor& floor : building.floors)
            for (SiteCollection& c : floor.collections)
                if (c.path == wanted || SameFile(SiteFile::ResolvePath(m_sitePath, c.path), path)) {
                    if (floorOut != nullptr)
                        *floorOut = &floor;
                    return &c;
                }
    return nullptr;
}

bool SiteEditor::AddCollection(const std::string& floorName, const std::string& path,
                               const std::string& surveyor, bool enabled, std::string& error) {
    const FloorRef ref = FindFloor(m_site, floorName, error);
    if (ref.floor == nullptr)
        return false;
    Floor* holder = nullptr;
    if (Find(path, &holder) != nullptr) {
        error = path + " is in the site already, on floor \"" + holder->name + "\"" +
                (holder == ref.floor ? "" : "; a collection belongs to one floor");
        return false;
    }
    analysis::SurveyRecords records;
    if (!ReadJoined(path, records, error)) {
        error += "; not added";
        return false;
    }
    const std::string planPath = SiteFile::ResolvePath(m_sitePath, ref.floor->projection);
    FloorPlan plan;
    if (!ReadFloorPlan(planPath, plan, error))
        return false;
    error = CheckOnPlan(records, plan, planPath);
    if (!error.empty()) {
        error += "; not added to floor \"" + ref.floor->name + "\"";
        return false;
    }
    SiteCollection c;
    if (!DescribeCollection(path, c, error))
        return false;
    c.path = SiteFile::RelativePath(m_sitePath, path);
    c.surveyor = surveyor;
    c.enabled = enabled;
    ref.floor->collections.push_back(std::move(c));
    return true;
}

bool SiteEditor::RemoveCollection(const std::string& path, std::string& error) {
    Floor* floor = nullptr;
    SiteCollection* c = Find(path, &floor);
    if (c == nullptr) {
        error = path + " is not in the site";
        return false;
    }
    floor->collections.erase(floor->collections.begin() + (c - floor->collections.data()));
    return true;
}

bool SiteEditor::SwitchCollection(const std::string& path, bool enabled, std::string& error) {
    SiteCollection* c = Find(path, nullptr);
    if (c == nullptr) {
        error = path + " is not in the site";
        return false;
    }
    c->enabled = enabled;
    return true;
}

std::vector<FloorAlignment> AlignSite(const Site& site, const std::string& sitePath) {
    std::vector<FloorAlignment> out;
    for (const Building& building : site.buildings) {
        if (building.floors.empty())
            continue;
        const Floor& base = building.floors.front();
        FloorPlan basePlan;
        std::string planError;
        const bool baseRead =
            ReadFloorPlan(SiteFile::ResolvePath(sitePath, base.projection), basePlan, planError);
        for (const Floor& floor : building.floors) {
            FloorAlignment row;
            row.building = &building;
            row.floor = &floor;
            if (&floor == &base) {
                row.problem = CheckReferences(floor.name, floor.references);
                row.aligned = row.problem.empty();
                out.push_back(row);
                continue;
            }
            row.reference = &base;
            if (!baseRead) {
                row.problem = planError;
            } else if (const auto a =
                           AlignFloors(floor, base, basePlan.metresPerPixel, row.problem)) {
                row.aligned = true;
                row.rmsMetres = a->rmsMetres;
                row.maxMetres = a->maxMetres;
                row.scale = a->transform.Scale();
                row.rotationDegrees = a->transform.RotationDegrees();
            }
            out.push_back(row);
        }
    }
    return out;
}

std::vector<std::string> CheckSite(const Site& site, const std::string& sitePath) {
    std::vector<std::string> problems;
    std::vector<std::pair<std::string, std::string>> seen;  // resolved path, floor
    for (const Building& building : site.buildings) {
        for (const Floor& floor : building.floors) {
            const std::string title = "floor \"" + FloorTitle(building, floor) + "\": ";
            const std::string planPath = SiteFile::ResolvePath(sitePath, floor.projection);
            FloorPlan plan;
            std::string error;
            const bool planRead = ReadFloorPlan(planPath, plan, error);
            if (!planRead)
                problems.push_back(title + error);
            for (const SiteCollection& c : floor.collections) {
                const std::string path = SiteFile::ResolvePath(sitePath, c.path);
                for (const auto& [other, otherFloor] : seen)
                    if (other == path || SameFile(other, path))
                        problems.push_back(title + path + " is also on floor \"" + otherFloor +
                                           "\"; a collection belongs to one floor");
                seen.emplace_back(path, floor.name);
                analysis::SurveyRecords records;
                if (!ReadJoined(path, records, error)) {
                    problems.push_back(title + error);
                    continue;
                }
                if (planRead) {
                    error = CheckOnPlan(records, plan, planPath);
                    if (!error.empty())
                        problems.push_back(title + error);
                }
            }
        }
    }
    for (const FloorAlignment& row : AlignSite(site, sitePath)) {
        const bool alone = row.building->floors.size() == 1;
        if (!row.aligned && !(alone && row.floor->references.empty()))
            problems.push_back("floor \"" + FloorTitle(*row.building, *row.floor) +
                               "\" is not aligned: " + row.problem);
    }
    return problems;
}

}  // namespace ketrion::site
