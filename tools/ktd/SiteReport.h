#pragma once

#include <string>

#include "analysis/Selection.h"

namespace ketrion::ktd {

// What `ktd report SITE.kts` is asked for: the report command's options.
struct SiteReportOptions {
    std::string path;   // the site file
    std::string floor;  // one floor only; empty: every floor
    std::string out;
    analysis::Selection selection;
    std::string site, surveyor, client, date, notes;
    std::string require, requireSecond, requireShare;
};

// `ktd report SITE.kts -o REPORT.pdf`: a title page (who, where, the
// buildings and floors, the requirements judged per floor and for each
// building over all its floors' surveyed area), then per building and floor
// the plan large with the survey points, the heatmap of the strongest signal
// (and of the second access point when it is required) with the access points
// assigned to that floor, the floor's access-point table (each AP's floor and
// how sure that is) and the access points of other floors heard there.
// Exit status as `ktd report`.
int RunSiteReport(const SiteReportOptions& options);

}  // namespace ketrion::ktd
