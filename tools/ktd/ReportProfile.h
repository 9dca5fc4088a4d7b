#pragma once

#include <vector>

#include "analysis/Profile.h"
#include "render/PointsLayer.h"
#include "render/PrintedPlan.h"
#include "tools/ktd/ReportPages.h"

namespace ketrion::ktd {

// The report's pages for a requirement profile: per band its requirements,
// the area's share passing with PASS or FAIL, how many survey points pass,
// and the "why it fails" map (each failing part of the area coloured by the
// first requirement it breaks). The verdicts are those `ktd check` prints
// (JudgeBands), so the figures are the same.
void AddProfilePages(ReportPages& pages, const analysis::Profile& profile,
                     const std::vector<analysis::BandVerdict>& verdicts,
                     const heatmap::PrintedPlan& plan, const heatmap::PointsLayer& points);

// The PASS/FAIL lines of page one: one per band.
void AddProfileSummary(ReportPages& pages, const analysis::Profile& profile,
                       const std::vector<analysis::BandVerdict>& verdicts);

}  // namespace ketrion::ktd
