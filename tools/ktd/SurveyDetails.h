#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "analysis/PlacedSurvey.h"
#include "analysis/Selection.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::ktd {

// Joins the side store beside the collection file to `records`
// (analysis/SideDetails.h). A damaged or foreign store gets one line on
// standard error; the command goes on from the collection file alone.
void JoinSideStore(analysis::SurveyRecords& records);

// The side store joined, then the points the selection does not use dropped,
// saying on standard error how many were left out and why.
void SelectSurvey(analysis::SurveyRecords& records, const analysis::Selection& selection);
void SelectSurvey(analysis::PlacedSurvey& survey, const analysis::Selection& selection);

// "left out: 1 point marked deleted, 2 points without a valid GPS fix
// (--include-no-fix uses them)"; empty when nothing was left out.
std::string LeftOutText(const analysis::LeftOut& leftOut);

// Adds --include-no-fix to a command.
void AddIncludeNoFix(CLI::App& command, analysis::Selection& selection);

}  // namespace ketrion::ktd
