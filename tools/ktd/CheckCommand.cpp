// `ktd check`: a survey judged against a requirement profile
// (analysis/Profile.h), for scripts (--json) or people.

#include "tools/ktd/CheckCommand.h"

#include <QGuiApplication>
#include <cmath>
#include <cstdio>
#include <memory>

#include "analysis/Details.h"
#include "analysis/Metrics.h"
#include "analysis/Selection.h"
#include "tools/ktd/AreaInput.h"
#include "tools/ktd/HeatmapInput.h"
#include "tools/ktd/StandardOutput.h"
#include "tools/ktd/SurveyDetails.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

struct CheckOptions {
    std::string profile;
    std::string projection;
    std::string band;
    std::string boundary;
    std::string path;
    Selection selection;
    bool json = false;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return kCannotRun;
}

std::string Figure(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The verdicts in a few lines for people.
void PrintVerdicts(const Profile& profile, const std::vector<BandVerdict>& verdicts) {
    std::printf("profile %s: at least %s %% of the area must pass\n", profile.name.c_str(),
                Figure(profile.areaShare * 100).c_str());
    for (const BandVerdict& bv : verdicts) {
        const ProfileVerdict& v = bv.verdict;
        std::string required;
        for (std::size_t i = 0; i < kMeasures; ++i)
            if (v.requirements.least[i])
                required += std::string(required.empty() ? "" : ", ") +
                            MeasureName(static_cast<Measure>(i)) + " " +
                            Figure(*v.requirements.least[i]);
        std::size_t pointsPassing = 0;
        for (const PointVerdict& p : v.points)
            pointsPassing += p.fails ? 0 : 1;
        std::printf("%s: %s; area %s %% passing (%zu of %zu nodes), points %zu of %zu: %s\n",
                    bv.band ? (std::string(BandName(*bv.band)) + " GHz").c_str() : "all bands",
                    required.c_str(), Figure(SharePercent(v.area.Share())).c_str(), v.area.passing,
                    v.area.nodes, pointsPassing, v.points.size(), v.area.Pass() ? "PASS" : "FAIL");
        for (std::size_t i = 0; i < kMeasures; ++i)
            if (v.area.failsFirst[i] > 0)
                std::printf("  fails first on %s: %zu nodes\n",
                            MeasureTitle(static_cast<Measure>(i)), v.area.failsFirst[i]);
    }
}

int RunCheck(const CheckOptions& o) {
    std::string error;
    const std::optional<Profile> profile = LoadProfile(o.profile, error);
    if (!profile)
        return Fail(error);
    std::vector<std::optional<Band>> bands;
    if (!o.band.empty()) {
        const std::optional<Band> band = ParseBand(o.band);
        if (!band)
            return Fail("unknown band \"" + o.band + "\" (2.4, 5 or 6)");
        bands.emplace_back(band);
    }
    std::vector<analysis::PlanPoint> boundary;
    if (!o.boundary.empty()) {
        auto read = ReadBoundaryFile(o.boundary, error);
        if (!read)
            return Fail(error);
        boundary = std::move(*read);
    }
    auto app = MakeGuiApplication();
    PlanInput input;
    if (!input.Load(o.projection, error))
        return Fail(error);
    PlacedSurvey survey;
    const ReadResult read = LoadPlacedSurvey(o.path, input.Projection(), survey);
    if (read == ReadResult::NotOpened)
        return Fail(survey.records.damage);
    SelectSurvey(survey, o.selection);
    if (bands.empty())
        bands = ProfileBands(survey);
    // The report's interpolation and area, so both give the same figures.
    const IdwParams params;
    const SurveyedArea area = AreaOf(survey, params, boundary);
    const auto verdicts = JudgeBands(survey, *profile, bands, params, input.PlanSize().width(),
                                     input.PlanSize().height(), area, error);
    if (!verdicts)
        return Fail(error);
    if (o.json)
        std::fputs(VerdictsJson(*profile, *verdicts).c_str(), stdout);
    else
        PrintVerdicts(*profile, *verdicts);
    if (!StandardOutputWritten())
        return kCannotRun;
    if (read == ReadResult::Damaged) {
        std::fprintf(stderr, "ktd: %s\n", survey.records.damage.c_str());
        return kDamaged;
    }
    for (const BandVerdict& bv : *verdicts)
        if (!bv.verdict.area.Pass())
            return kProfileFails;
    return 0;
}

}  // namespace

std::optional<std::vector<BandVerdict>> JudgeBands(const PlacedSurvey& survey,
                                                   const Profile& profile,
                                                   const std::vector<std::optional<Band>>& bands,
                                                   const IdwParams& params, int width, int height,
                                                   const SurveyedArea& area, std::string& error) {
    std::vector<BandVerdict> out;
    for (const std::optional<Band>& band : bands) {
        const Requirements required = profile.On(band);
        if (const auto missing = MissingProfileDetail(survey, required, band)) {
            const std::string where = survey.records.sideDetails
                                          ? "the side store beside " + survey.records.path
                                          : survey.records.path + " has no side store, which";
            error = *missing + " (" + where + " holds the details a Wi-Fi adapter reports)";
            return std::nullopt;
        }
        out.push_back({band, JudgeProfile(survey, profile, band, params, width, height, area)});
    }
    return out;
}

void AddCheckCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "check", "judge a survey against a requirement profile, per point and over the area");
    auto o = std::make_shared<CheckOptions>();
    command
        ->add_option("--profile", o->profile,
                     "data (primary -67 dBm, SNR 25 dB), voice (primary -65 dBm, secondary "
                     "-75 dBm, SNR 25 dB, SIR 19 dB), location (three access points at -75 dBm), "
                     "each over 95 % of the area, or a JSON file: {\"name\", \"area\" (share), "
                     "\"primary\", \"secondary\", \"tertiary\", \"snr\", \"sir\", \"width\", "
                     "\"bands\": {\"5\": {...}}}")
        ->required();
    command->add_option("--projection", o->projection, "projection file (.ktp)")->required();
    command->add_option("--band", o->band,
                        "2.4, 5 or 6: judge that band only (default: each band the side store "
                        "names, or every reading when it names none)");
    command->add_option("--boundary", o->boundary,
                        "the surveyed area's outline: a JSON list of [x, y] plan-pixel vertices");
    command->add_flag("--json", o->json, "print the verdicts as JSON");
    AddIncludeNoFix(*command, o->selection);
    command->add_option("FILE", o->path, "collection file (.ktd)")->required();
    command->callback([&status, o] { status = RunCheck(*o); });
}

}  // namespace ketrion::ktd
