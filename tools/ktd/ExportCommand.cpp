// `ktd export`: GeoJSON, KML 2.2 or WiGLE CSV 1.6 from a collection file (the
// formats are described in analysis/ExportGeoJson.h, ExportKml.h and
// ExportWigle.h). With -o the output goes to a new file beside OUT that
// replaces OUT only when it was written whole (survey/OutputFile.h), so a
// failed export never leaves a cut file or destroys the previous one; OUT may
// not be the collection file.

#include "tools/ktd/ExportCommand.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "analysis/ApEstimate.h"
#include "analysis/ExportGeoJson.h"
#include "analysis/ExportKml.h"
#include "analysis/ExportWigle.h"
#include "analysis/Selection.h"
#include "analysis/SideDetails.h"
#include "analysis/SurveyRecords.h"
#include "site/SiteFile.h"
#include "survey/OutputFile.h"
#include "survey/ProjectionMaker.h"
#include "tools/ktd/SiteInput.h"
#include "tools/ktd/StandardOutput.h"
#include "tools/ktd/StoreCommands.h"
#include "tools/ktd/SurveyDetails.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

constexpr int kDamaged = 1;
constexpr int kOpenOrWriteError = 2;

enum class Format { GeoJson, Kml, Wigle };

struct ExportOptions {
    Format format = Format::GeoJson;
    std::string path;
    std::string out;   // empty: standard output
    bool raw = false;  // WiGLE names exactly as stored
    Selection selection;
    // --origin: where a plan made without a position really lies.
    std::optional<OriginShift> origin;
};

// Says on standard error what became of the points without a position.
void SayUnlocated(const ExportOptions& o, std::size_t unlocated) {
    if (unlocated == 0)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %zu %s without a position: %s\n", unlocated,
                 unlocated == 1 ? "point" : "points",
                 o.format == Format::GeoJson ? "written with a null geometry" : "left out");
}

void Say(const std::string& message) {
    if (message.empty())
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
}

// KML: its access-point estimates need every point, so the survey is read whole.
ReadResult ExportWhole(const ExportOptions& o, SurveyRecords& survey, std::ostream& out) {
    const ReadResult result = ReadSurveyRecords(o.path, survey);
    if (result == ReadResult::NotOpened)
        return result;
    if (o.origin)
        for (SurveyPoint& point : survey.points)
            ShiftFromDefaultOrigin(point, *o.origin);
    SelectSurvey(survey, o.selection);
    SayUnlocated(o, WriteKml(survey, EstimateAccessPoints(survey.points), out));
    return result;
}

// GeoJSON and WiGLE: point by point as the file is read, the side store's
// details joined to each, so memory does not grow with the survey. Nothing is
// written for a file that cannot be opened.
ReadResult ExportStream(const ExportOptions& o, SurveyRecords& survey, std::ostream& out) {
    SideDetails side;
    bool sideRead = false;
    LeftOut leftOut;
    std::optional<GeoJsonWriter> geoJson;
    std::optional<WigleWriter> wigle;
    std::size_t index = 0;
    // The writer starts once the header is read (it says whether a side
    // store adds its details).
    auto start = [&] {
        if (sideRead)
            return;
        sideRead = true;
        std::string message;
        side = SideDetails::Load(survey, &message);
        Say(message);
        if (o.format == Format::GeoJson)
            geoJson.emplace(out, side.Present());
        else
            wigle.emplace(out, o.raw ? WigleNames::Raw : WigleNames::Neutralised);
    };
    const ReadResult result = StreamSurveyRecords(o.path, survey, [&](SurveyPoint& point) {
        start();
        side.Attach(point);
        if (o.origin)
            ShiftFromDefaultOrigin(point, *o.origin);
        if (Uses(point, o.selection, &leftOut)) {
            if (geoJson)
                geoJson->Point(point, index);
            else
                wigle->Point(point);
        }
        ++index;
    });
    if (result == ReadResult::NotOpened)
        return result;
    start();
    Say(LeftOutText(leftOut));
    SayUnlocated(o, geoJson ? geoJson->End() : wigle->End());
    return result;
}

ReadResult Export(const ExportOptions& o, SurveyRecords& survey, std::ostream& out) {
    return o.format == Format::Kml ? ExportWhole(o, survey, out) : ExportStream(o, survey, out);
}

int RunExport(const ExportOptions& o) {
    if (!o.origin && StoredAtDefaultOrigin(o.path)) {
        Say(DefaultOriginRefusal(o.path));
        return kOpenOrWriteError;
    }
    SurveyRecords survey;
    ReadResult result = ReadResult::Complete;
    if (o.out.empty()) {
        result = Export(o, survey, std::cout);
        if (result != ReadResult::NotOpened && !StandardOutputWritten())
            return kOpenOrWriteError;
    } else {
        // Written through a new file in OUT's folder, renamed over OUT at the end.
        files::OutputFile file;
        if (!file.Open(o.out, {{o.path, "collection file"}})) {
            Say(file.Error());
            return kOpenOrWriteError;
        }
        result = Export(o, survey, file.Stream());
        if (result == ReadResult::NotOpened) {
            file.Discard();
        } else if (!file.Commit()) {
            Say(file.Error());
            return kOpenOrWriteError;
        }
    }
    if (result == ReadResult::NotOpened) {
        Say(survey.damage);
        return kOpenOrWriteError;
    }
    if (result == ReadResult::Damaged) {
        Say(survey.damage);
        return kDamaged;
    }
    return 0;
}

}  // namespace

void AddExportCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "export", "write the survey as GeoJSON, KML or WiGLE CSV for mapping tools");
    auto options = std::make_shared<ExportOptions>();
    const std::map<std::string, Format> formats = {
        {"geojson", Format::GeoJson}, {"kml", Format::Kml}, {"wigle", Format::Wigle}};
    command
        ->add_option("--format", options->format,
                     "geojson (RFC 7946), kml (KML 2.2) or wigle (WiGLE CSV 1.6)")
        ->required()
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
    command->add_flag("--raw", options->raw,
                      "wigle: write network names exactly as stored, for upload (by default "
                      "a name starting with =, +, -, @, a tab or a carriage return gets a "
                      "leading ' so that spreadsheets show it as text)");
    command->add_option("-o,--output", options->out,
                        "write to this file instead of standard output (- for standard output)");
    AddIncludeNoFix(*command, options->selection);
    auto origin = std::make_shared<std::string>();
    command->add_option("--origin", *origin,
                        "LAT,LON: the true position of the origin of a plan made without one "
                        "(whose points lie near 0 N 0 E, which exports refuse without it)");
    command->add_option("FILE", options->path, "collection file (.ktd) or site file (.kts)");
    auto source = AddStoreSource(*command);
    command->callback([&status, options, source, origin] {
        ExportOptions o = *options;
        if (!origin->empty()) {
            const auto at = ktp::ParsePlanOrigin(*origin);
            if (!at || at->pixel || std::fabs(at->latitude) > 90 ||
                std::fabs(at->longitude) > 180) {
                Say("--origin \"" + *origin + "\" is not LAT,LON (degrees)");
                status = kOpenOrWriteError;
                return;
            }
            o.origin.emplace(at->latitude, at->longitude);
        }
        if (o.out == "-")
            o.out.clear();
        const char* names[] = {"geojson", "kml", "wigle"};
        auto runSite = [&](const std::string& site) {
            return RunSiteExport(site, source->floor, names[static_cast<int>(o.format)], o.out,
                                 o.selection, o.origin);
        };
        if (site::SiteFile::LooksLikeSite(o.path)) {
            status = runSite(o.path);
            return;
        }
        status = RunOnCollection(
            *source, o.path,
            [&](const std::string& file) {
                o.path = file;
                return RunExport(o);
            },
            runSite);
    });
}

}  // namespace ketrion::ktd
