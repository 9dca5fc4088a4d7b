#pragma once

// A site file (.kts) as the input of ktd's analysis commands: the floor
// chosen with --floor, or every floor, each read from its switched-on
// collections (site/FloorSurvey.h). A collection that is missing, moved or
// damaged gets one line on standard error and the rest of the site is used.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/Selection.h"
#include "site/FloorSurvey.h"
#include "site/Site.h"

namespace ketrion::ktd {

struct SiteInput {
    std::string path;
    site::Site site;
    std::vector<site::ConstFloorRef> floors;  // the chosen one, or all
};

// Loads the site file at `path` and chooses `floorName` (all floors when
// empty, unless `needOne`: then a site of one floor gives it, and more need
// --floor). False with a message.
bool OpenSiteInput(const std::string& path, const std::string& floorName, bool needOne,
                   SiteInput& out, std::string& error);

// The floor's projection file, resolved from the site's folder.
std::string FloorProjection(const SiteInput& input, const site::Floor& floor);

// Reads a floor's survey, saying on standard error what went wrong with any
// collection and what the selection left out. `damaged` is set when any
// collection could not be read whole.
site::FloorSurvey LoadFloorInput(const SiteInput& input, const site::Floor& floor,
                                 const analysis::Selection& selection, bool& damaged);

// Adds --floor to a command.
void AddFloorOption(CLI::App& command, std::string& floor);

// `ktd aps SITE.kts [--floor F] [--bleed]`: every access point with the
// floor it is assigned to and how sure that is; with --bleed, per floor the
// access points of other floors heard there. Exit status as `ktd aps`.
int RunSiteAps(const std::string& path, const std::string& floor, bool bleed,
               const analysis::Selection& selection);

// Every access point of the site with the floor it is assigned to and its
// position from the points of that floor (those with no located point that
// heard them are left out), in address order.
struct SiteApPosition {
    analysis::Mac mac{};
    std::string ssid;
    std::string building, floor;
    analysis::Centroid position;
};
bool LocateSiteAccessPoints(const std::string& path, const analysis::Selection& selection,
                            std::vector<SiteApPosition>& out, std::string& error);

// `ktd export SITE.kts`: GeoJSON with "building" and "floor" in every
// feature's properties, KML with a folder per floor, or WiGLE CSV of every
// floor. `out` empty: standard output. Exit status as `ktd export`.
// Why an export of points near 0 N 0 E (a plan made without a position) is
// refused without --origin, naming `path`.
std::string DefaultOriginRefusal(const std::string& path);

// `origin`: where floors made without a position really lie (their points
// near 0 N 0 E are refused without it).
int RunSiteExport(const std::string& path, const std::string& floor, const std::string& format,
                  const std::string& out, const analysis::Selection& selection,
                  const std::optional<OriginShift>& origin = std::nullopt);

}  // namespace ketrion::ktd

namespace ketrion {
class CSiteProjection;
namespace analysis {
struct PlacedSurvey;
}
}  // namespace ketrion

namespace ketrion::ktd {

// The one chosen floor of `input` as a placed survey (as loading a
// collection file places its points), its switched-on collections together
// with the selection applied. Damaged when any collection could not be read
// whole (each said on standard error; records.damage sums it up).
analysis::ReadResult LoadSiteFloor(const SiteInput& input, const CSiteProjection& projection,
                                   const analysis::Selection& selection,
                                   analysis::PlacedSurvey& out);

}  // namespace ketrion::ktd
