// ktd: inspects and exports collection files. `ktd dump FILE.ktd` prints the
// header, one line per point and one indented line per reading; `ktd csv
// FILE.ktd` writes one CSV row per reading. A damaged file gets a clear message
// on standard error after everything that could be read.

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "model/Text.h"
#include "survey/CollectionFile.h"
#include "survey/CollectionReader.h"
#include "survey/RegularFile.h"
#include "tools/ktd/ApsCommand.h"
#include "tools/ktd/CompactCommand.h"
#include "tools/ktd/ExportCommand.h"
#include "tools/ktd/SideDump.h"
#include "tools/ktd/SideNames.h"
#include "tools/ktd/SiteCommand.h"
#include "tools/ktd/StandardOutput.h"
#include "tools/ktd/StoreCommands.h"
#if KTD_DRAWING
#include "tools/ktd/CheckCommand.h"
#include "tools/ktd/HeatmapCommand.h"
#include "tools/ktd/ReportCommand.h"
#endif

namespace {

using namespace ketrion::collection;

// Exit status: 0 the whole file was read, 1 the file is damaged or cut short,
// 2 the command line is wrong, the file cannot be opened or the output cannot
// be written.
constexpr int kDamaged = 1;
constexpr int kUsageOrOpenError = 2;

// A network name as it can be shown on a terminal: printable ASCII as is,
// everything else (and the quote and backslash) escaped.
std::string Printable(const std::string& text) {
    return ketrion::EscapeHex(text);
}

std::string Kind(std::uint8_t kind) {
    switch (kind) {
        case kKindSurvey:
            return "survey";
        case kKindDynamicAp:
            return "dynamic-ap";
        default:
            return "kind-" + std::to_string(kind);
    }
}

std::string FixClassName(std::uint8_t fixClass) {
    switch (fixClass) {
        case 0:
            return "none";
        case 1:
            return "2D";
        case 2:
            return "3D";
        default:
            return "class-" + std::to_string(fixClass);
    }
}

std::string Created(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[64];
    if (gmtime_r(&t, &tm) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) == 0) {
        return "?";
    }
    return text;
}

// A signal of 1/256 dBm: whole dBm when the low byte is 0 (as this program
// writes them), else with two decimals.
std::string Signal(std::int16_t stored) {
    char text[32];
    if (stored % 256 == 0) {
        std::snprintf(text, sizeof text, "%d dBm", stored / 256);
    } else {
        std::snprintf(text, sizeof text, "%.2f dBm", stored / 256.0);
    }
    return text;
}

// What a walk over a collection file reports, in file order.
class Visitor : public ketrion::collection::WalkVisitor {
public:
    // The file could be opened.
    virtual void Opened(const std::string& /*path*/) {}
    virtual void End(long long /*points*/, long long /*readings*/) {}
};

// Walks the file at `path` (read-only, never locked), telling `visitor` what
// it finds. Returns the exit status; damage is reported on standard error
// after everything readable.
int Walk(const std::string& path, Visitor& visitor) {
    // Opened without waiting on a fifo or device; only a regular file is walked.
    ketrion::files::OpenFailure failure;
    int fd = ketrion::files::OpenRegular(path, O_RDONLY, 0, failure);
    if (fd < 0) {
        std::fprintf(stderr, "ktd: cannot open %s: %s\n", path.c_str(),
                     ketrion::files::Describe(failure).c_str());
        return kUsageOrOpenError;
    }
    visitor.Opened(path);
    const WalkEnd end = WalkCollection(fd, visitor);
    close(fd);
    std::string problem;
    switch (end.kind) {
        case WalkEnd::Kind::Complete:
        case WalkEnd::Kind::NotOpened:
            break;
        case WalkEnd::Kind::BadHeader:
            std::fflush(stdout);
            std::fprintf(stderr, "ktd: %s\n", DamageText(end.damage, path, end.header).c_str());
            return kDamaged;
        case WalkEnd::Kind::TooManyPoints:
            visitor.End(end.points, end.readings);
            std::fflush(stdout);
            std::fprintf(stderr, "ktd: %s\n", TooManyPointsText(path).c_str());
            return kDamaged;
        case WalkEnd::Kind::CutReadings:
            problem = "the file ends inside point " + std::to_string(end.points) + " (after " +
                      std::to_string(end.complete) + " of its " + std::to_string(end.count) +
                      " readings)";
            break;
        case WalkEnd::Kind::ReadError:
            problem = std::strerror(end.error);
            break;
        case WalkEnd::Kind::CutLocation:
            problem = "the file ends inside the location record of point " +
                      std::to_string(end.points + 1) + " (" + std::to_string(end.leftover) +
                      " bytes at offset " + std::to_string(end.offset) + ")";
            break;
    }
    visitor.End(end.points, end.readings);
    if (!problem.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "ktd: %s is damaged: %s.\n", path.c_str(), problem.c_str());
        return kDamaged;
    }
    return 0;
}

std::string Degrees(const std::uint8_t* units) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", static_cast<std::int32_t>(Get32(units)) / 3600000.0);
    return text;
}

std::string DateTime(const std::uint8_t* location, const char* separator) {
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u%s%02u:%02u:%02u", Get16(location + kYearAt),
                  location[kMonthAt], location[kDayAt], separator, location[kHourAt],
                  location[kMinuteAt], location[kSecondAt]);
    return text;
}

// The address as every output writes it ("00:1a:2b:3c:4d:5e").
std::string Mac(const std::uint8_t* reading) {
    return ketrion::MacText(reading + kMacAt);
}

// `ktd dump`: the header, one line per point, one indented line per reading.
class DumpVisitor final : public Visitor {
public:
    void Opened(const std::string& path) override {
        std::printf("file %s\n", path.c_str());
        m_side.Opened(path);
    }
    void Header(const ketrion::collection::Header& header, bool sizesRead) override {
        const std::uint8_t* h = header.bytes;
        std::printf("header length %d, magic \"%s\", version %u, created %s (%lld)\n",
                    static_cast<std::int32_t>(Get32(h + kHeaderLengthAt)),
                    Printable(std::string(reinterpret_cast<const char*>(h + kMagicAt), 4)).c_str(),
                    h[kVersionAt],
                    Created(static_cast<std::int64_t>(Get64(h + kCreatedAt))).c_str(),
                    static_cast<long long>(Get64(h + kCreatedAt)));
        if (sizesRead) {
            std::printf("record sizes at %d: location %d, reading %d\n", header.sizeBlockOffset,
                        header.locationSize, header.readingSize);
        }
        m_side.Header(header.bytes);
    }
    void Location(std::int64_t number, std::int64_t offset, const std::uint8_t* location) override {
        std::printf("point %lld at %lld: %s %s %s %s fix %s readings %u\n",
                    static_cast<long long>(number), static_cast<long long>(offset),
                    Kind(location[kKindAt]).c_str(), Degrees(location + kLatitudeAt).c_str(),
                    Degrees(location + kLongitudeAt).c_str(), DateTime(location, " ").c_str(),
                    FixClassName(location[kFixClassAt]).c_str(), Get16(location + kCountAt));
        m_side.Point(offset, location);
    }
    void Reading(const std::uint8_t* reading) override {
        std::printf("  %s %s attr 0x%02X \"%s\"\n", Mac(reading).c_str(),
                    Signal(static_cast<std::int16_t>(Get16(reading + kSignalAt))).c_str(),
                    reading[kAttributeAt], Printable(Ssid(reading)).c_str());
        m_side.Reading(reading);
    }
    void End(long long points, long long readings) override {
        m_side.End();
        std::printf("points %lld, readings %lld\n", points, readings);
    }

private:
    ketrion::ktd::SideDump m_side;  // what the side store adds, when there is one
};

// A network name as a CSV field: always quoted, quotes doubled, control and
// non-ASCII bytes as \xHH. A name a spreadsheet would run as a formula (one
// starting with =, +, -, @, a tab or a carriage return) gets a leading single
// quote, so it is shown as the text it is.
std::string CsvText(const std::string& text) {
    std::string out = "\"";
    if (!text.empty() && std::strchr("=+-@\t\r", text.front()) != nullptr) {
        out += '\'';
    }
    for (const char c : text)
        out += c == '"' ? std::string("\"\"") : ketrion::EscapeHex(std::string_view(&c, 1), "");
    return out + "\"";
}

// `ktd csv`: one row per reading (a point without readings gets one row with
// the reading columns empty), for spreadsheets and scripts.
class CsvVisitor final : public Visitor {
public:
    void Opened(const std::string& path) override {
        m_names.Opened(path);
        std::printf(
            "point,offset,kind,latitude,longitude,time,fix,mac,signal_dbm,attribute,ssid\n");
    }
    void Header(const ketrion::collection::Header& header, bool) override {
        m_names.Header(header.bytes);
    }
    void Location(std::int64_t number, std::int64_t offset, const std::uint8_t* location) override {
        FlushEmptyPoint();
        m_names.Point(offset);
        char text[160];
        std::snprintf(text, sizeof text, "%lld,%lld,%s,%s,%s,%s,%s", static_cast<long long>(number),
                      static_cast<long long>(offset), Kind(location[kKindAt]).c_str(),
                      Degrees(location + kLatitudeAt).c_str(),
                      Degrees(location + kLongitudeAt).c_str(), DateTime(location, "T").c_str(),
                      FixClassName(location[kFixClassAt]).c_str());
        m_point = text;
        m_pointHasRows = false;
    }
    void Reading(const std::uint8_t* reading) override {
        const auto stored = static_cast<std::int16_t>(Get16(reading + kSignalAt));
        char signal[16];
        std::snprintf(signal, sizeof signal, stored % 256 == 0 ? "%.0f" : "%.2f", stored / 256.0);
        std::printf("%s,%s,%s,%u,%s\n", m_point.c_str(), Mac(reading).c_str(), signal,
                    reading[kAttributeAt], CsvText(m_names.Next(reading)).c_str());
        m_pointHasRows = true;
    }
    void End(long long, long long) override { FlushEmptyPoint(); }

private:
    void FlushEmptyPoint() {
        if (!m_point.empty() && !m_pointHasRows)
            std::printf("%s,,,,\n", m_point.c_str());
        m_point.clear();
    }
    ketrion::ktd::SideNames m_names;  // full names from the side store, when there is one
    std::string m_point;
    bool m_pointHasRows = false;
};

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Inspects and exports collection files"};
    app.set_version_flag("--version", "ktd " KETRION_VERSION, "print the version and exit");
    app.require_subcommand(1);
    std::string path;
    CLI::App* dump = app.add_subcommand("dump", "print the header, every point and every reading");
    dump->add_option("FILE", path, "collection file (.ktd)")->required();
    CLI::App* csv = app.add_subcommand("csv", "export one CSV row per reading");
    csv->add_option("FILE", path, "collection file (.ktd)")->required();
    // Commands that run as they are parsed leave their exit status here.
    int status = -1;
    ketrion::ktd::AddApsCommand(app, status);
    ketrion::ktd::AddExportCommand(app, status);
    ketrion::ktd::AddCompactCommand(app, status);
    ketrion::ktd::AddSiteCommand(app, status);
    ketrion::ktd::AddMergeCommand(app, status);
    ketrion::ktd::AddPushCommand(app, status);
    ketrion::ktd::AddPullCommand(app, status);
#if KTD_DRAWING
    ketrion::ktd::AddHeatmapCommand(app, status);
    ketrion::ktd::AddReportCommand(app, status);
    ketrion::ktd::AddCheckCommand(app, status);
#endif
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : kUsageOrOpenError;
    }
    if (status >= 0)
        return status;
    int walked = 0;
    if (csv->parsed()) {
        CsvVisitor visitor;
        walked = Walk(path, visitor);
    } else {
        DumpVisitor visitor;
        walked = Walk(path, visitor);
    }
    return ketrion::ktd::StandardOutputWritten() ? walked : kUsageOrOpenError;
}
