#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Idw.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/Profile.h"
#include "analysis/SurveyedArea.h"

namespace ketrion::ktd {

// Exit status of `ktd check` when the survey was judged and some band's area
// fails the profile.
inline constexpr int kProfileFails = 3;

// Adds `ktd check --profile data|voice|location|FILE.json --projection P.ktp
// [--band B] [--boundary AREA.json] [--include-no-fix] [--json] FILE.ktd`: the
// survey judged against the profile on each band it has (or the one given),
// per point and over the surveyed area, with the report's interpolation, so
// both give the same figures. Status 0 every band passes, 3 one fails, 1 the
// file is damaged (what could be read was judged), 2 bad arguments or a
// detail the profile needs that no reading has.
void AddCheckCommand(CLI::App& app, int& status);

// The judgements behind `ktd check` and the report's profile pages: the
// profile on each band of `bands` over a width x height plan inside `area`,
// with `params`. Refuses (nothing, the reason in `error`) a profile needing a
// detail no reading holds.
std::optional<std::vector<analysis::BandVerdict>> JudgeBands(
    const analysis::PlacedSurvey& survey, const analysis::Profile& profile,
    const std::vector<std::optional<analysis::Band>>& bands, const analysis::IdwParams& params,
    int width, int height, const analysis::SurveyedArea& area, std::string& error);

}  // namespace ketrion::ktd
