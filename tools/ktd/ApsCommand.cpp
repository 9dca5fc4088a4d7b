// `ktd aps`: the access points of a survey, where they probably stand.
//
//   file PATH
//   00:1a:2b:3c:4d:5e "LAB1" points 12 strongest -45 dBm position 40.0001234
//       -74.5004567 uncertainty 3.2 m readings 5 [channel 36 band 5 security wpa2]
//       [no-fix] [plan 512 301]
//   access points 3, survey points 40
//
// (one line per access point, in address order). With --method centroid the
// position is the milliwatt-weighted centroid of the access point's strongest
// readings and the uncertainty their weighted RMS distance from it
// (analysis/ApEstimate.h). By default (--method fit) it is a path-loss fit
// (analysis/ApFit.h): "position LAT LON ellipse A B m ANGLE deg exponent N
// readings K", or "position none readings K ... why REASON";
// "no-fix" marks an estimate made from points without a GPS fix. With a
// projection file the position is also given in plan pixels, placed as loading
// a collection file places a point. With a side store beside the collection
// file, every line gives the channel, band and security of the access point's
// strongest reading that has them ("-" where unknown); points marked deleted
// are left out, and so are points without a trusted position unless
// --include-no-fix.

#include "tools/ktd/ApsCommand.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "analysis/ApEstimate.h"
#include "analysis/ApFit.h"
#include "analysis/ExportText.h"
#include "analysis/SurveyRecords.h"
#include "engine/Location.h"
#include "model/Text.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "site/SiteFile.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteProjection.h"
#include "tools/ktd/SiteInput.h"
#include "tools/ktd/StandardOutput.h"
#include "tools/ktd/StoreCommands.h"
#include "tools/ktd/SurveyDetails.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

constexpr int kDamaged = 1;
constexpr int kOpenError = 2;

// A network name for a terminal: valid UTF-8 with control characters, the
// quote and the backslash as \xHH.
std::string Quoted(const std::string& ssid) {
    std::string out = "\"";
    out += EscapeHex(ValidUtf8(ssid), "\"\\", true);
    out += '"';
    return out;
}

// The map of a projection file, read without expanding its plan image.
class ProjectionMap {
public:
    bool Load(const std::string& path) {
        std::string error;
        const auto info = ktp::ReadProjectionInfo(path, error);
        if (!info) {
            std::fprintf(stderr, "ktd: %s\n", error.c_str());
            return false;
        }
        projection::ApplyMap(*info, m_projection);
        return true;
    }
    int X(double latitude, double longitude) const {
        return m_projection.PlanX(gps::UnitsFromDegrees(latitude),
                                  gps::UnitsFromDegrees(longitude));
    }
    int Y(double latitude, double longitude) const {
        return m_projection.PlanY(gps::UnitsFromDegrees(latitude),
                                  gps::UnitsFromDegrees(longitude));
    }

private:
    CLocation m_location;
    StderrPrompt m_prompt;
    NullSound m_sound;
    CSiteProjection m_projection{m_prompt, m_sound};
};

// A word from the side store as one column: letters, digits and / + - . _ as
// they are, anything else (spaces, controls) as '?'; "-" when empty.
std::string Word(const std::string& text) {
    if (text.empty())
        return "-";
    std::string out;
    for (const unsigned char c : text)
        out += std::isalnum(c) || std::strchr("/+-._", c) != nullptr ? static_cast<char>(c) : '?';
    return out;
}

// " channel 36 band 5 security wpa2" ("-" where unknown).
std::string DetailColumns(const ApEstimate& ap) {
    const ReadingDetails d = ap.details.value_or(ReadingDetails{});
    std::string text = " channel ";
    text += d.channel ? std::to_string(*d.channel) : std::string("-");
    text += " band ";
    text += Word(BandName(d.band));
    text += " security ";
    text += Word(d.security);
    return text;
}

// The fitted position's columns (analysis/ApFit.h): " position LAT LON
// ellipse A B m ANGLE deg exponent N", or " position none" with the reason
// kept for the end of the line.
std::string FitColumns(const FittedPosition& f) {
    char text[160];
    if (!f.fit.located) {
        std::snprintf(text, sizeof text, " position none");
        return text;
    }
    std::snprintf(text, sizeof text,
                  " position %.7f %.7f ellipse %.1f %.1f m %.0f deg exponent %.1f", f.latitude,
                  f.longitude, f.fit.semiMajor, f.fit.semiMinor,
                  f.fit.angle * 180 / 3.141592653589793, f.fit.exponent);
    return text;
}

int RunAps(const std::string& path, const std::string& projectionPath, const Selection& selection,
           bool centroid) {
    ProjectionMap map;
    if (!projectionPath.empty() && !map.Load(projectionPath))
        return kOpenError;
    SurveyRecords survey;
    const ReadResult result = ReadSurveyRecords(path, survey);
    if (result == ReadResult::NotOpened) {
        std::fprintf(stderr, "ktd: %s\n", survey.damage.c_str());
        return kOpenError;
    }
    SelectSurvey(survey, selection);
    std::printf("file %s\n", path.c_str());
    const std::vector<ApEstimate> estimates = EstimateAccessPoints(survey.points);
    const std::vector<std::vector<ApObservation>> observations =
        centroid ? std::vector<std::vector<ApObservation>>() : ObservationsOf(survey.points);
    for (std::size_t n = 0; n < estimates.size(); ++n) {
        const ApEstimate& ap = estimates[n];
        Centroid c = ap.position;
        std::printf("%s %s points %zu strongest %s dBm", MacText(ap.mac).c_str(),
                    Quoted(ap.ssid).c_str(), ap.pointsHeard, DbmText(ap.strongest).c_str());
        std::optional<FittedPosition> fitted;
        if (centroid) {
            std::printf(" position %.7f %.7f uncertainty %.1f m readings %zu", c.latitude,
                        c.longitude, c.uncertainty, c.used);
        } else {
            fitted = FitAccessPoint(n < observations.size() ? observations[n]
                                                            : std::vector<ApObservation>());
            std::printf("%s readings %zu", FitColumns(*fitted).c_str(), fitted->fit.used);
            c.latitude = fitted->latitude;
            c.longitude = fitted->longitude;
        }
        if (survey.sideDetails)
            std::printf("%s", DetailColumns(ap).c_str());
        if (!ap.fromFixes)
            std::printf(" no-fix");
        const bool placed = !fitted || fitted->fit.located;
        if (!projectionPath.empty() && placed)
            std::printf(" plan %d %d", map.X(c.latitude, c.longitude),
                        map.Y(c.latitude, c.longitude));
        if (!placed)
            std::printf(" why %s", fitted->fit.why.c_str());
        std::printf("\n");
    }
    std::size_t surveyPoints = 0;
    for (const SurveyPoint& point : survey.points)
        surveyPoints += point.IsSurvey() ? 1 : 0;
    std::printf("access points %zu, survey points %zu\n", estimates.size(), surveyPoints);
    if (!StandardOutputWritten())
        return kOpenError;
    if (result == ReadResult::Damaged) {
        std::fflush(stdout);
        std::fprintf(stderr, "ktd: %s\n", survey.damage.c_str());
        return kDamaged;
    }
    return 0;
}

}  // namespace

void AddApsCommand(CLI::App& app, int& status) {
    CLI::App* aps = app.add_subcommand(
        "aps",
        "estimate where each access point stands (a path-loss fit, or the weighted "
        "centroid of its " +
            std::to_string(kApEstimateReadings) + " strongest readings)");
    auto path = std::make_shared<std::string>();
    auto projection = std::make_shared<std::string>();
    auto selection = std::make_shared<Selection>();
    auto method = std::make_shared<std::string>("fit");
    aps->add_option("--projection", *projection,
                    "projection file (.ktp): positions in plan pixels too");
    aps->add_option("--method", *method,
                    "fit (default): a robust log-distance path-loss fit of every reading, with "
                    "its 95 % ellipse (semi-axes, the major one's angle from east) and exponent, "
                    "or \"position none ... why REASON\" when the strongest reading is weaker "
                    "than -50 dBm or the fit does not settle; centroid: the milliwatt-weighted "
                    "centroid of the strongest readings with their spread")
        ->check(CLI::IsMember({"fit", "centroid"}));
    AddIncludeNoFix(*aps, *selection);
    aps->add_option("FILE", *path, "collection file (.ktd) or site file (.kts)");
    // With a site file: every access point's floor (site/FloorAssignment.h).
    auto bleed = std::make_shared<bool>(false);
    auto source = AddStoreSource(*aps);
    aps->add_flag("--bleed", *bleed,
                  "with a site file: per floor, the access points of other floors heard there");
    aps->callback([&status, path, projection, selection, method, source, bleed] {
        if (site::SiteFile::LooksLikeSite(*path)) {
            status = RunSiteAps(*path, source->floor, *bleed, *selection);
            return;
        }
        status = RunOnCollection(
            *source, *path,
            [&](const std::string& file) {
                return RunAps(file, *projection, *selection, *method == "centroid");
            },
            [&](const std::string& site) {
                return RunSiteAps(site, source->floor, *bleed, *selection);
            });
    });
}

}  // namespace ketrion::ktd
