// `ktd export`: GeoJSON, KML 2.2 or WiGLE CSV 1.6 from a collection file (the
// formats are described in analysis/ExportGeoJson.h, ExportKml.h and
// ExportWigle.h). With -o the output goes to a temporary file beside OUT that
// replaces OUT only when it was written whole, so a failed export never leaves
// a cut file or destroys the previous one; OUT may not be the collection file.

#include "tools/ktd/ExportCommand.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>

#include "analysis/ApEstimate.h"
#include "analysis/ExportGeoJson.h"
#include "analysis/ExportKml.h"
#include "analysis/ExportWigle.h"
#include "analysis/SurveyRecords.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

constexpr int kDamaged = 1;
constexpr int kOpenOrWriteError = 2;

enum class Format { GeoJson, Kml, Wigle };

void Write(Format format, const SurveyRecords& survey, std::ostream& out) {
    switch (format) {
        case Format::GeoJson:
            WriteGeoJson(survey, out);
            break;
        case Format::Kml:
            WriteKml(survey, EstimateAccessPoints(survey.points), out);
            break;
        case Format::Wigle:
            WriteWigleCsv(survey, out);
            break;
    }
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Writes through a temporary file in OUT's folder, renamed over OUT at the end.
bool WriteFile(Format format, const SurveyRecords& survey, const std::string& outPath) {
    const std::size_t slash = outPath.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : outPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? outPath : outPath.substr(slash + 1);
    std::string temp = folder + (folder.ends_with('/') ? "" : "/") + "." + name + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        std::fprintf(stderr, "ktd: cannot write %s: %s\n", outPath.c_str(), std::strerror(errno));
        return false;
    }
    // mkstemp makes the file private; an export is an ordinary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    bool written = false;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (out) {
            Write(format, survey, out);
            out.flush();
            written = static_cast<bool>(out);
            out.close();
            written = written && !out.fail();
        }
    }
    const int error = errno;
    if (!written || ::rename(temp.c_str(), outPath.c_str()) != 0) {
        const int cause = written ? errno : error;
        ::unlink(temp.c_str());
        std::fprintf(stderr, "ktd: cannot write %s: %s\n", outPath.c_str(),
                     cause != 0 ? std::strerror(cause) : "write failed");
        return false;
    }
    return true;
}

int RunExport(Format format, const std::string& path, const std::string& outPath) {
    if (!outPath.empty() && SameFile(path, outPath)) {
        std::fprintf(stderr, "ktd: %s is the collection file itself; choose another output\n",
                     outPath.c_str());
        return kOpenOrWriteError;
    }
    SurveyRecords survey;
    const ReadResult result = ReadSurveyRecords(path, survey);
    if (result == ReadResult::NotOpened) {
        std::fprintf(stderr, "ktd: %s\n", survey.damage.c_str());
        return kOpenOrWriteError;
    }
    if (outPath.empty()) {
        Write(format, survey, std::cout);
        std::cout.flush();
        if (!std::cout || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "ktd: cannot write standard output: %s\n", std::strerror(errno));
            return kOpenOrWriteError;
        }
    } else if (!WriteFile(format, survey, outPath)) {
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
    struct Options {
        Format format = Format::GeoJson;
        std::string path;
        std::string out;
    };
    auto options = std::make_shared<Options>();
    const std::map<std::string, Format> formats = {
        {"geojson", Format::GeoJson}, {"kml", Format::Kml}, {"wigle", Format::Wigle}};
    command
        ->add_option("--format", options->format,
                     "geojson (RFC 7946), kml (KML 2.2) or wigle (WiGLE CSV 1.6)")
        ->required()
        ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
    command->add_option("-o,--output", options->out,
                        "write to this file instead of standard output (- for standard output)");
    command->add_option("FILE", options->path, "collection file (.ktd)")->required();
    command->callback([&status, options] {
        const std::string out = options->out == "-" ? std::string() : options->out;
        status = RunExport(options->format, options->path, out);
    });
}

}  // namespace ketrion::ktd
