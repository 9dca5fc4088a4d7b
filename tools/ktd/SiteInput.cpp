// Site files as the input of `ktd aps` and `ktd export` (and, through
// SiteInput.h, of heatmap and report).

#include "tools/ktd/SiteInput.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "analysis/ApEstimate.h"
#include "analysis/ExportGeoJson.h"
#include "analysis/ExportKml.h"
#include "analysis/ExportText.h"
#include "analysis/ExportWigle.h"
#include "analysis/PlacedSurvey.h"
#include "site/FloorAssignment.h"
#include "site/FloorPlan.h"
#include "site/SiteFile.h"
#include "survey/OutputFile.h"
#include "survey/SiteProjection.h"
#include "tools/ktd/StandardOutput.h"
#include "tools/ktd/SurveyDetails.h"

namespace ketrion::ktd {

namespace {

constexpr int kDamaged = 1;
constexpr int kCannotRun = 2;

int Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return kCannotRun;
}

void Say(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
}

std::string Xml(const std::string& text) {
    std::string out;
    for (const char c : analysis::ValidUtf8(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Every chosen floor's survey, read once.
struct FloorData {
    site::ConstFloorRef ref;
    site::FloorSurvey survey;
};

std::vector<FloorData> LoadAll(const SiteInput& input, const analysis::Selection& selection,
                               bool& damaged) {
    std::vector<FloorData> out;
    for (const site::ConstFloorRef& ref : input.floors)
        out.push_back({ref, LoadFloorInput(input, *ref.floor, selection, damaged)});
    return out;
}

}  // namespace

bool OpenSiteInput(const std::string& path, const std::string& floorName, bool needOne,
                   SiteInput& out, std::string& error) {
    out.path = path;
    if (!site::SiteFile::Load(path, out.site, error))
        return false;
    if (!floorName.empty()) {
        const site::ConstFloorRef ref = site::FindFloor(std::as_const(out.site), floorName, error);
        if (ref.floor == nullptr)
            return false;
        out.floors = {ref};
        return true;
    }
    out.floors = site::AllFloors(out.site);
    if (out.floors.empty()) {
        error = path + " has no floors yet (ktd site add-floor adds one)";
        return false;
    }
    if (needOne && out.floors.size() > 1) {
        std::string names;
        for (const auto& ref : out.floors)
            names += (names.empty() ? "" : ", ") + ref.building->name + "/" + ref.floor->name;
        error = path + " has several floors; choose one with --floor (" + names + ")";
        return false;
    }
    return true;
}

std::string FloorProjection(const SiteInput& input, const site::Floor& floor) {
    return site::SiteFile::ResolvePath(input.path, floor.projection);
}

site::FloorSurvey LoadFloorInput(const SiteInput& input, const site::Floor& floor,
                                 const analysis::Selection& selection, bool& damaged) {
    site::FloorSurvey survey = site::LoadFloorSurvey(input.path, floor, selection);
    for (const std::string& problem : survey.problems)
        Say(problem);
    damaged = damaged || !survey.problems.empty();
    const std::string left = LeftOutText(survey.leftOut);
    if (!left.empty())
        Say("floor \"" + floor.name + "\": " + left);
    return survey;
}

void AddFloorOption(CLI::App& command, std::string& floor) {
    command.add_option("--floor", floor,
                       "with a site file (.kts): the floor, as FLOOR or BUILDING/FLOOR (its "
                       "switched-on collections together)");
}

bool LocateSiteAccessPoints(const std::string& path, const analysis::Selection& selection,
                            std::vector<SiteApPosition>& out, std::string& error) {
    SiteInput input;
    if (!OpenSiteInput(path, "", false, input, error))
        return false;
    bool damaged = false;
    const std::vector<FloorData> floors = LoadAll(input, selection, damaged);
    std::vector<const analysis::SurveyRecords*> records;
    for (const FloorData& f : floors)
        records.push_back(&f.survey.records);
    // Each floor's estimates once, then each access point's from its own floor.
    std::vector<std::vector<analysis::ApEstimate>> estimates(floors.size());
    for (std::size_t f = 0; f < floors.size(); ++f)
        estimates[f] = analysis::EstimateAccessPoints(floors[f].survey.records.points);
    for (const site::ApFloor& ap : site::AssignFloors(records)) {
        const std::vector<analysis::ApEstimate>& home = estimates[ap.floor];
        const auto e = std::lower_bound(
            home.begin(), home.end(), ap.mac,
            [](const analysis::ApEstimate& a, const analysis::Mac& mac) { return a.mac < mac; });
        if (e == home.end() || e->mac != ap.mac || !e->fromFixes || e->position.used == 0)
            continue;
        out.push_back({ap.mac, ap.ssid, floors[ap.floor].ref.building->name,
                       floors[ap.floor].ref.floor->name, e->position});
    }
    std::sort(out.begin(), out.end(),
              [](const SiteApPosition& a, const SiteApPosition& b) { return a.mac < b.mac; });
    return true;
}

int RunSiteAps(const std::string& path, const std::string& floorName, bool bleed,
               const analysis::Selection& selection) {
    SiteInput input;
    std::string error;
    // Floors are assigned over the whole site, whatever --floor shows.
    if (!OpenSiteInput(path, "", false, input, error))
        return Fail(error);
    const site::Floor* shown = nullptr;
    if (!floorName.empty()) {
        const site::ConstFloorRef ref =
            site::FindFloor(std::as_const(input.site), floorName, error);
        if (ref.floor == nullptr)
            return Fail(error);
        shown = ref.floor;
    }
    bool damaged = false;
    const std::vector<FloorData> floors = LoadAll(input, selection, damaged);
    std::vector<const analysis::SurveyRecords*> records;
    for (const FloorData& f : floors)
        records.push_back(&f.survey.records);
    const std::vector<site::ApFloor> assigned = site::AssignFloors(records);
    std::printf("site %s\n", path.c_str());
    std::size_t listed = 0;
    for (const site::ApFloor& ap : assigned) {
        const FloorData& home = floors[ap.floor];
        if (shown != nullptr && home.ref.floor != shown)
            continue;
        ++listed;
        std::printf("%s \"%s\" floor \"%s\" confidence %s", analysis::MacText(ap.mac).c_str(),
                    analysis::ValidUtf8(ap.ssid).c_str(),
                    site::FloorTitle(*home.ref.building, *home.ref.floor).c_str(),
                    ap.confidenceDb
                        ? (std::to_string(static_cast<int>(*ap.confidenceDb + 0.5)) + " dB").c_str()
                        : "only-floor");
        std::printf(" strongest %d dBm points %zu", ap.heard.front().strongest,
                    ap.heard.front().points);
        // Its position from the points of its own floor.
        for (const analysis::ApEstimate& e :
             analysis::EstimateAccessPoints(home.survey.records.points)) {
            if (e.mac != ap.mac)
                continue;
            std::printf(" position %.7f %.7f uncertainty %.1f m", e.position.latitude,
                        e.position.longitude, e.position.uncertainty);
            site::FloorPlan plan;
            std::string planError;
            if (site::ReadFloorPlan(FloorProjection(input, *home.ref.floor), plan, planError)) {
                const PlanPoint p = plan.map.ToPlan(e.position.latitude, e.position.longitude);
                std::printf(" plan %.0f %.0f", p.x, p.y);
            }
        }
        std::printf("\n");
    }
    std::printf("access points %zu, floors %zu\n", listed, floors.size());
    if (bleed) {
        for (std::size_t f = 0; f < floors.size(); ++f) {
            if (shown != nullptr && floors[f].ref.floor != shown)
                continue;
            const auto bled = site::BleedOn(f, assigned);
            std::printf("bleed on \"%s\": %zu access points of other floors\n",
                        site::FloorTitle(*floors[f].ref.building, *floors[f].ref.floor).c_str(),
                        bled.size());
            for (const site::Bleed& b : bled)
                std::printf("  %s \"%s\" from \"%s\" strongest %d dBm points %zu\n",
                            analysis::MacText(b.mac).c_str(), analysis::ValidUtf8(b.ssid).c_str(),
                            floors[b.home].ref.floor->name.c_str(), b.strongest, b.points);
        }
    }
    if (!StandardOutputWritten())
        return kCannotRun;
    return damaged ? kDamaged : 0;
}

// A survey on a plan made without a position stores positions in the open
// sea at 0 N 0 E: mapping tools (and a WiGLE upload) would show them there.
std::string DefaultOriginRefusal(const std::string& path) {
    return path +
           ": its points lie near 0 N 0 E, where a plan made without a position puts them; a map "
           "or an upload would show them in the open sea. Give the position of the plan's origin "
           "(the point its maker was told, by default the plan's centre) with --origin LAT,LON "
           "and the points are written at their true place; nothing written";
}

int RunSiteExport(const std::string& path, const std::string& floorName, const std::string& format,
                  const std::string& out, const analysis::Selection& selection,
                  const std::optional<OriginShift>& origin) {
    SiteInput input;
    std::string error;
    if (!OpenSiteInput(path, floorName, false, input, error))
        return Fail(error);
    bool damaged = false;
    std::vector<FloorData> floors = LoadAll(input, selection, damaged);
    for (FloorData& f : floors) {
        for (analysis::SurveyPoint& point : f.survey.records.points) {
            if (origin)
                analysis::ShiftFromDefaultOrigin(point, *origin);
            else if (NearDefaultOrigin(point.LatitudeDegrees(), point.LongitudeDegrees()))
                return Fail(DefaultOriginRefusal(path));
        }
    }
    std::ostringstream text;
    if (format == "geojson") {
        nlohmann::json features = nlohmann::json::array();
        for (const FloorData& f : floors) {
            std::ostringstream one;
            analysis::WriteGeoJson(f.survey.records, one);
            nlohmann::json doc = nlohmann::json::parse(one.str(), nullptr, false);
            if (doc.is_discarded())
                return Fail("the GeoJSON of floor \"" + f.ref.floor->name + "\" cannot be made");
            for (nlohmann::json& feature : doc["features"]) {
                feature["properties"]["building"] = analysis::ValidUtf8(f.ref.building->name);
                feature["properties"]["floor"] = analysis::ValidUtf8(f.ref.floor->name);
                feature["properties"]["level"] = f.ref.floor->order;
                features.push_back(std::move(feature));
            }
        }
        text << "{\"type\":\"FeatureCollection\",\"features\":[";
        for (std::size_t i = 0; i < features.size(); ++i)
            text << (i == 0 ? "\n" : ",\n")
                 << features[i].dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        text << "\n]}\n";
    } else if (format == "kml") {
        std::string head;
        std::string body;
        for (const FloorData& f : floors) {
            std::ostringstream one;
            analysis::WriteKml(f.survey.records,
                               analysis::EstimateAccessPoints(f.survey.records.points), one);
            const std::string doc = one.str();
            const std::size_t folders = doc.find("<Folder>");
            const std::size_t end = doc.rfind("</Document>");
            if (folders == std::string::npos || end == std::string::npos || end < folders)
                return Fail("the KML of floor \"" + f.ref.floor->name + "\" cannot be made");
            if (head.empty()) {
                // The styles, under the site's name.
                const std::size_t styles = doc.find("</name>\n");
                head =
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>" +
                    Xml(input.site.name.empty() ? path : input.site.name) + "</name>\n" +
                    doc.substr(styles + 8, folders - styles - 8);
            }
            body += "<Folder><name>" + Xml(site::FloorTitle(*f.ref.building, *f.ref.floor)) +
                    "</name>\n" + doc.substr(folders, end - folders) + "</Folder>\n";
        }
        text << head << body << "</Document>\n</kml>\n";
    } else {
        for (std::size_t i = 0; i < floors.size(); ++i) {
            std::ostringstream one;
            analysis::WriteWigleCsv(floors[i].survey.records, one,
                                    analysis::WigleNames::Neutralised);
            std::string csv = one.str();
            // The pre-header and column lines once, at the top.
            for (int line = 0; i > 0 && line < 2; ++line) {
                const std::size_t eol = csv.find('\n');
                csv.erase(0, eol == std::string::npos ? csv.size() : eol + 1);
            }
            text << csv;
        }
    }
    if (out.empty()) {
        std::cout << text.str();
        std::cout.flush();
        if (!StandardOutputWritten())
            return kCannotRun;
    } else {
        files::OutputFile file;
        std::vector<files::Input> inputs = {{path, "site file"}};
        if (!file.Open(out, inputs) || !file.Write(text.str()) || !file.Commit())
            return Fail(file.Error());
    }
    return damaged ? kDamaged : 0;
}

}  // namespace ketrion::ktd

namespace ketrion::ktd {

analysis::ReadResult LoadSiteFloor(const SiteInput& input, const CSiteProjection& projection,
                                   const analysis::Selection& selection,
                                   analysis::PlacedSurvey& out) {
    out = analysis::PlacedSurvey{};
    const site::ConstFloorRef ref = input.floors.front();
    bool damaged = false;
    site::FloorSurvey floor = LoadFloorInput(input, *ref.floor, selection, damaged);
    out.records = std::move(floor.records);
    if (out.records.path.empty())
        out.records.path = input.path;
    if (damaged)
        out.records.damage = "some collections of floor \"" +
                             site::FloorTitle(*ref.building, *ref.floor) +
                             "\" could not be read whole; the rest was used";
    // Placed as the program places a loaded collection's points.
    const std::vector<analysis::SurveyPoint>& records = out.records.points;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const analysis::SurveyPoint& record = records[i];
        const analysis::PlacedPoint point{projection.PlanX(record.latitude, record.longitude),
                                          projection.PlanY(record.latitude, record.longitude),
                                          record.Strongest(), i};
        (record.IsSurvey() ? out.points : out.dynamicAps).push_back(point);
    }
    return damaged ? analysis::ReadResult::Damaged : analysis::ReadResult::Complete;
}

}  // namespace ketrion::ktd
