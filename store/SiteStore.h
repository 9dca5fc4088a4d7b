#pragma once

// A whole site in the store: its buildings, floors (order, height), each
// floor's plan (the projection file's bytes, the plan-to-WGS 84 affine map and
// the plan's outline on the earth) and every collection of each floor, and
// the way back to a site folder with a site file.

#include <cstddef>
#include <string>
#include <vector>

#include "store/Push.h"

namespace ketrion::store {

class Connection;

// Pushes the site file at `sitePath`: every floor's plan, then each floor's
// collections (one transaction each, as PushFiles does) with their on/off
// state. The store's site is `options.target.site`, or the site file's own
// name when that is empty. False with one line in `error`.
bool PushSite(const std::string& url, const std::string& sitePath, PushOptions options,
              std::string& error);

// An access point's estimated position, on the floor it was assigned to.
struct StoredEstimate {
    std::string bssid;  // "aa:bb:cc:dd:ee:ff"
    std::string building, floor;
    double latitude = 0, longitude = 0;  // WGS 84 degrees
    double radiusMetres = 0;             // its uncertainty
    std::size_t readings = 0;            // readings that went into it
};

// Replaces the site's access-point estimates with `estimates` (method names
// how they were made), in one transaction. Estimates of floors the store does
// not have are left out. False with one line in `error`.
bool StoreEstimates(Connection& connection, const std::string& site,
                    const std::vector<StoredEstimate>& estimates, const std::string& method,
                    std::string& error);

// True when the store's site `site` has at least one plan: it was pushed as a
// site, and can be pulled as one.
bool HasPlans(Connection& connection, const std::string& site);

// Writes the store's site `site` into the folder `dir` (made when missing):
// BUILDING/FLOOR/ with the floor's plan and collections, and SITE.kts naming
// them. `sitePath` gets the site file's path. Collections on no floor are
// left out. False with one line in `error`.
bool PullSite(Connection& connection, const std::string& site, const std::string& dir,
              std::string& sitePath, std::string& error);

}  // namespace ketrion::store
