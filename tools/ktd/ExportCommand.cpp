// `ktd export`: GeoJSON, KML 2.2 or WiGLE CSV 1.6 from a collection file (the
// formats are described in analysis/ExportGeoJson.h, ExportKml.h and
// ExportWigle.h). With -o the output goes to a new file beside OUT that
// replaces OUT only when it was written whole (survey/OutputFile.h), so a
// failed export never leaves a cut file or destroys the previous one; OUT may
// not be the collection file.

#include "tools/ktd/ExportCommand.h"

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "analysis/ApEstimate.h"
#include "analysis/ExportGeoJson.h"
#include "analysis/ExportKml.h"
#include "analysis/ExportWigle.h"
#include "analysis/SurveyRecords.h"
#include "survey/OutputFile.h"
#include "tools/ktd/StandardOutput.h"
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
};

// Writes the export; returns how many survey points had no position.
std::size_t WriteFormat(const ExportOptions& o, const SurveyRecords& survey, std::ostream& out) {
    switch (o.format) {
        case Format::GeoJson:
            return WriteGeoJson(survey, out);
        case Format::Kml:
            return WriteKml(survey, EstimateAccessPoints(survey.points), out);
        case Format::Wigle:
            return WriteWigleCsv(survey, out, o.raw ? WigleNames::Raw : WigleNames::Neutralised);
    }
    return 0;
}

// Writes the export and says on standard error what became of the points
// without a position.
void Write(const ExportOptions& o, const SurveyRecords& survey, std::ostream& out) {
    const std::size_t unlocated = WriteFormat(o, survey, out);
    if (unlocated == 0)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %zu %s without a position: %s\n", unlocated,
                 unlocated == 1 ? "point" : "points",
                 o.format == Format::GeoJson ? "written with a null geometry" : "left out");
}

// Writes through a new file in OUT's folder, renamed over OUT at the end.
bool WriteFile(const ExportOptions& o, const SurveyRecords& survey) {
    files::OutputFile file;
    if (file.Open(o.out, {{o.path, "collection file"}})) {
        Write(o, survey, file.Stream());
        if (file.Commit())
            return true;
    }
    std::fprintf(stderr, "ktd: %s\n", file.Error().c_str());
    return false;
}

int RunExport(const ExportOptions& o) {
    if (!o.out.empty()) {
        const std::string refusal = files::CheckOutput(o.out, {{o.path, "collection file"}});
        if (!refusal.empty()) {
            std::fprintf(stderr, "ktd: %s\n", refusal.c_str());
            return kOpenOrWriteError;
        }
    }
    SurveyRecords survey;
    const ReadResult result = ReadSurveyRecords(o.path, survey);
    if (result == ReadResult::NotOpened) {
        std::fprintf(stderr, "ktd: %s\n", survey.damage.c_str());
        return kOpenOrWriteError;
    }
    SelectSurvey(survey, o.selection);
    if (o.out.empty()) {
        Write(o, survey, std::cout);
        if (!StandardOutputWritten())
            return kOpenOrWriteError;
    } else if (!WriteFile(o, survey)) {
        return kOpenOrWriteError;
    }
    if (result == ReadResult::Damaged) {
        std::fprintf(stderr, "ktd: %s\n", survey.damage.c_str());
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
    command->add_option("FILE", options->path, "collection file (.ktd)")->required();
    command->callback([&status, options] {
        ExportOptions o = *options;
        if (o.out == "-")
            o.out.clear();
        status = RunExport(o);
    });
}

}  // namespace ketrion::ktd
