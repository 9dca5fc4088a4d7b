// `ktd aps`: the access points of a survey, where they probably stand.
//
//   file PATH
//   00:1a:2b:3c:4d:5e "LAB1" points 12 strongest -45 dBm position 40.0001234
//       -74.5004567 uncertainty 3.2 m readings 5 [channel 36 band 5 security wpa2]
//       [no-fix] [plan 512 301]
//   access points 3, survey points 40
//
// (one line per access point, in address order). The position is the
// milliwatt-weighted centroid of the access point's strongest readings and the
// uncertainty their weighted RMS distance from it (analysis/ApEstimate.h);
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
#include <string>

#include "analysis/ApEstimate.h"
#include "analysis/ExportText.h"
#include "analysis/SurveyRecords.h"
#include "engine/Location.h"
#include "platform/Prompt.h"
#include "platform/Sound.h"
#include "survey/ProjectionMaker.h"
#include "survey/SiteProjection.h"
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
    for (const char ch : ValidUtf8(ssid)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    return out + "\"";
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

int RunAps(const std::string& path, const std::string& projectionPath, const Selection& selection) {
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
    for (const ApEstimate& ap : estimates) {
        const Centroid& c = ap.position;
        std::printf(
            "%s %s points %zu strongest %s dBm position %.7f %.7f uncertainty %.1f m "
            "readings %zu",
            MacText(ap.mac).c_str(), Quoted(ap.ssid).c_str(), ap.pointsHeard,
            DbmText(ap.strongest).c_str(), c.latitude, c.longitude, c.uncertainty, c.used);
        if (survey.sideDetails)
            std::printf("%s", DetailColumns(ap).c_str());
        if (!ap.fromFixes)
            std::printf(" no-fix");
        if (!projectionPath.empty())
            std::printf(" plan %d %d", map.X(c.latitude, c.longitude),
                        map.Y(c.latitude, c.longitude));
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
        "aps", "estimate where each access point stands (weighted centroid of its " +
                   std::to_string(kApEstimateReadings) + " strongest readings)");
    auto path = std::make_shared<std::string>();
    auto projection = std::make_shared<std::string>();
    auto selection = std::make_shared<Selection>();
    aps->add_option("--projection", *projection,
                    "projection file (.ktp): positions in plan pixels too");
    AddIncludeNoFix(*aps, *selection);
    aps->add_option("FILE", *path, "collection file (.ktd)");
    auto source = AddStoreSource(*aps);
    aps->callback([&status, path, projection, selection, source] {
        status = RunOnCollection(*source, *path, [&](const std::string& file) {
            return RunAps(file, *projection, *selection);
        });
    });
}

}  // namespace ketrion::ktd
