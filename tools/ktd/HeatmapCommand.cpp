// `ktd heatmap`: a survey's metric interpolated over the plan by inverse
// distance weighting (analysis/Idw.h), written as the plan with the heatmap and
// the survey points, georeferenced by a world file (the legend in a picture of
// its own), as a georeferenced GeoTIFF of the node values, and/or as an ESRI
// ASCII grid of the node values in plan pixels. Every output is written whole
// or not at all (survey/OutputFile.h), never over an input.

#include "tools/ktd/HeatmapCommand.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPoint>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/ExportText.h"
#include "analysis/Grid.h"
#include "analysis/HeardNames.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/RadioMetrics.h"
#include "analysis/Selection.h"
#include "analysis/SurveyedArea.h"
#include "analysis/WorldFile.h"
#include "platform/Memory.h"
#include "render/HeatmapImage.h"
#include "site/SiteFile.h"
#include "survey/OutputFile.h"
#include "tools/ktd/AreaInput.h"
#include "tools/ktd/GeoTiff.h"
#include "tools/ktd/HeatmapInput.h"
#include "tools/ktd/SiteInput.h"
#include "tools/ktd/StoreCommands.h"
#include "tools/ktd/SurveyDetails.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

struct HeatmapOptions {
    std::string projection;
    std::string metric;
    std::string ap;
    std::string ssid;
    bool ssidGiven = false;
    double threshold = kDefaultThreshold;
    IdwParams params;
    std::string png;
    std::string grid;
    std::string geotiff;
    std::string cog;
    std::string path;
    std::string band;
    Selection selection;
    std::string boundary;
    std::string floor;  // with a site file
};

// Most network names or addresses listed when the one asked for was not heard.
constexpr std::size_t kListedHeard = 20;

int Fail(const std::string& message) {
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return kCannotRun;
}

// The metric the options ask for; a message when they do not make one.
std::optional<MetricSpec> Spec(const HeatmapOptions& o, std::string& error) {
    MetricSpec spec;
    spec.threshold = o.threshold;
    // --ap or --ssid alone choose their metric.
    std::string name = o.metric;
    if (name.empty())
        name = !o.ap.empty() ? "ap" : o.ssidGiven ? "ssid" : "strongest";
    const auto metric = ParseMetric(name);
    if (!metric) {
        error =
            "unknown metric \"" + name +
            "\" (strongest, second, count, ap, ssid, coverage, channel-overlap, snr, third, sir, "
            "width, phy or rate)";
        return std::nullopt;
    }
    spec.metric = *metric;
    if (spec.metric == Metric::Ap) {
        const auto mac = ParseMac(o.ap);
        if (!mac) {
            error = o.ap.empty() ? "the ap metric needs --ap 00:1a:2b:3c:4d:5e"
                                 : "--ap \"" + o.ap +
                                       "\" is not an address like 00:1a:2b:3c:4d:5e or "
                                       "00-1A-2B-3C-4D-5E";
            return std::nullopt;
        }
        spec.mac = *mac;
    } else if (!o.ap.empty()) {
        error = "--ap goes with --metric ap";
        return std::nullopt;
    }
    if (spec.metric == Metric::Ssid) {
        if (!o.ssidGiven) {
            error = "the ssid metric needs --ssid NAME";
            return std::nullopt;
        }
        spec.ssid = o.ssid;
    } else if (o.ssidGiven) {
        error = "--ssid goes with --metric ssid";
        return std::nullopt;
    }
    if (!o.band.empty()) {
        spec.band = ParseBand(o.band);
        if (!spec.band) {
            error = "unknown band \"" + o.band + "\" (2.4, 5 or 6)";
            return std::nullopt;
        }
    }
    if (!std::isfinite(spec.threshold)) {
        error = "the threshold must be a number of dBm";
        return std::nullopt;
    }
    return spec;
}

// The name without its folder and extension ("a/b/map.png" -> "a/b/map").
std::string Stem(const std::string& path) {
    return WithExtension(path, "");
}

// Where the legend of the picture `png` goes: OUT-legend.png beside OUT.png.
std::string LegendPath(const std::string& png) {
    return Stem(png) + "-legend.png";
}

std::string PngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string Quoted(const std::string& name) {
    return "\"" + ValidUtf8(name) + "\"";
}

// A list of what was heard, for a message: at most kListedHeard entries.
std::string Listed(const std::vector<std::string>& items) {
    std::string out;
    for (std::size_t i = 0; i < items.size() && i < kListedHeard; ++i)
        out += (i == 0 ? "" : ", ") + items[i];
    if (items.size() > kListedHeard)
        out += " and " + std::to_string(items.size() - kListedHeard) + " more";
    return out;
}

// Refuses a network name or an address no survey point heard: its map would
// claim "no coverage" everywhere. Names the close match and lists what was heard.
std::optional<std::string> Unheard(const MetricSpec& spec, const PlacedSurvey& survey) {
    std::vector<std::string> heard;
    std::string wanted;
    std::string kind;
    if (spec.metric == Metric::Ssid) {
        const std::vector<std::string> names = NetworkNames(survey);
        if (std::find(names.begin(), names.end(), spec.ssid) != names.end())
            return std::nullopt;
        kind = "network";
        wanted = spec.ssid;
        heard = names;
    } else if (spec.metric == Metric::Ap) {
        const std::vector<Mac> macs = HeardAddresses(survey);
        if (std::find(macs.begin(), macs.end(), spec.mac) != macs.end())
            return std::nullopt;
        kind = "access point";
        wanted = MacText(spec.mac);
        for (const Mac& mac : macs)
            heard.push_back(MacText(mac));
    } else {
        return std::nullopt;
    }
    std::string message = "no survey point heard the " + kind + " " + Quoted(wanted);
    if (const auto match = CloseMatch(wanted, heard))
        message += "; did you mean " + Quoted(*match) + "?";
    std::vector<std::string> shown;
    for (const std::string& h : heard)
        shown.push_back(Quoted(h));
    message += heard.empty() ? " (none was heard)"
                             : " (" + kind + (heard.size() == 1 ? "" : "s") +
                                   " heard: " + Listed(shown) + ")";
    return message;
}

// The reading detail a radio metric cannot do without; null for the others.
const char* RadioDetailNeeded(Metric metric) {
    switch (metric) {
        case Metric::Sir:
            return "the channel";
        case Metric::Width:
            return "the channel width";
        case Metric::Phy:
        case Metric::Rate:
            return "the PHY";
        default:
            return nullptr;
    }
}

// Refuses a band or channel metric the survey holds no details for: its map
// would show nothing, or "not heard" everywhere.
std::optional<std::string> MissingDetails(const MetricSpec& spec, const PlacedSurvey& survey) {
    const std::string where = survey.records.sideDetails
                                  ? "the side store beside " + survey.records.path
                                  : survey.records.path + " has no side store, which";
    if (spec.band) {
        bool any = false;
        for (const PlacedPoint& p : survey.points)
            for (const Reading& r : survey.Record(p).readings)
                any = any || OnBand(r, *spec.band);
        if (!any)
            return std::string("no survey point heard an access point on the ")
                .append(BandName(*spec.band))
                .append(" GHz band (")
                .append(where)
                .append(" names the band of each reading)");
    }
    if (spec.metric == Metric::ChannelOverlap && !survey.points.empty() &&
        MetricSamples(survey, spec).empty())
        return "channel-overlap needs the channel of the strongest access point at each point, "
               "and none is known (" +
               where + " holds the channels)";
    if (const char* detail = RadioDetailNeeded(spec.metric);
        detail != nullptr && !survey.points.empty() && MetricSamples(survey, spec).empty())
        return std::string(MetricName(spec.metric)) + " needs " + detail +
               " of the strongest access point at a point, and no reading has it (" + where +
               " holds the details a Wi-Fi adapter reports; a board records none)";
    return std::nullopt;
}

int RunHeatmap(const HeatmapOptions& options) {
    std::string error;
    // A site file: the chosen floor's plan and switched-on collections.
    HeatmapOptions o = options;
    SiteInput site;
    const bool isSite = site::SiteFile::LooksLikeSite(o.path);
    if (isSite) {
        if (!OpenSiteInput(o.path, o.floor, true, site, error))
            return Fail(error);
        if (o.projection.empty())
            o.projection = FloorProjection(site, *site.floors.front().floor);
    } else if (o.projection.empty()) {
        return Fail("--projection is required with a collection file");
    }
    const auto spec = Spec(o, error);
    if (!spec)
        return Fail(error);
    if (const auto bad = CheckParams(o.params))
        return Fail(*bad);
    if (o.png.empty() && o.grid.empty() && o.geotiff.empty() && o.cog.empty())
        return Fail(
            "nothing to write: give -o OUT.png, --geotiff OUT.tif, --cog OUT.tif and/or --grid "
            "OUT.asc");
    // The grid is in plan pixels; the .prj beside the picture says WGS 84. A
    // GIS tool reading the grid would take that .prj for the grid's own.
    if (!o.png.empty() && !o.grid.empty() && Stem(o.png) == Stem(o.grid))
        return Fail("-o " + o.png + " and --grid " + o.grid +
                    " share a name; the picture's WGS 84 .prj would be taken for the grid's, "
                    "which is in plan pixels: give the grid another name");
    // Every output, checked before any work: none may be an input, a fifo or a device.
    std::vector<std::string> outputs;
    if (!o.png.empty())
        outputs = {o.png, WithExtension(o.png, ".pgw"), WithExtension(o.png, ".prj"),
                   LegendPath(o.png)};
    if (!o.geotiff.empty())
        outputs.push_back(o.geotiff);
    if (!o.cog.empty())
        outputs.push_back(o.cog);
    if (!o.grid.empty())
        outputs.push_back(o.grid);
    const std::vector<files::Input> inputs = {{o.path, "collection file"},
                                              {o.projection, "projection file"}};
    for (const std::string& out : outputs) {
        const std::string refusal = files::CheckOutput(out, inputs);
        if (!refusal.empty())
            return Fail(refusal);
    }

    auto app = MakeGuiApplication();
    PlanInput input;
    if (!input.Load(o.projection, error))
        return Fail(error);
    std::optional<WorldFile> world;
    if (!o.png.empty() || !o.geotiff.empty() || !o.cog.empty()) {
        world = MakeWorldFile(input.Projection());
        if (!world)
            return Fail(o.projection +
                        ": its map from latitude and longitude to the plan cannot be inverted, "
                        "so the picture cannot be placed on a map; nothing written");
    }
    PlacedSurvey survey;
    const ReadResult read = isSite ? LoadSiteFloor(site, input.Projection(), o.selection, survey)
                                   : LoadPlacedSurvey(o.path, input.Projection(), survey);
    if (read == ReadResult::NotOpened)
        return Fail(survey.records.damage);
    if (!isSite)
        SelectSurvey(survey, o.selection);
    if (const auto unheard = Unheard(*spec, survey))
        return Fail(*unheard);
    if (const auto missing = MissingDetails(*spec, survey))
        return Fail(*missing);
    if (survey.points.empty())
        std::fprintf(stderr, "ktd: %s has no survey points; the heatmap is empty\n",
                     o.path.c_str());
    if (spec->metric == Metric::Snr || spec->metric == Metric::Rate)
        std::fprintf(stderr, "ktd: %s\n",
                     NoiseSentence(CountNoiseSources(survey, spec->band)).c_str());
    // No node can use more points than the survey has: the bound keeps a huge
    // --max-points from sizing memory.
    IdwParams params = o.params;
    params.maxPoints =
        static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(params.maxPoints),
                                               std::max<std::size_t>(survey.points.size(), 1)));

    const QSize plan = input.PlanSize();
    if (!GridFits(plan.width(), plan.height(), o.params.cell))
        return Fail("a cell of " + std::to_string(o.params.cell) +
                    " pixels makes too many nodes on a " + std::to_string(plan.width()) + " x " +
                    std::to_string(plan.height()) + " plan; choose a larger --cell");
    Progress progress("interpolating");
    RunControl control;
    control.progress = [&](int done, int total) { progress.Show(done, total); };
    std::vector<analysis::PlanPoint> boundary;
    if (!o.boundary.empty()) {
        auto outline = ReadBoundaryFile(o.boundary, error);
        if (!outline)
            return Fail(error);
        boundary = std::move(*outline);
    }
    // The surveyed area is needed for the grid only, and the survey for the
    // grid and its dots: both go before the plan is expanded for the picture.
    const Grid grid = [&] {
        const SurveyedArea area = AreaOf(survey, params, boundary);
        return MetricGrid(survey, *spec, params, plan.width(), plan.height(), control, &area);
    }();
    std::vector<QPoint> dots;
    if (!o.png.empty()) {
        dots.reserve(survey.points.size());
        for (const PlacedPoint& p : survey.points)
            dots.emplace_back(p.x, p.y);
    }
    const std::string damage = survey.records.damage;
    survey = PlacedSurvey();
    ReturnFreedMemory();
    progress.Stage("writing");

    // Each output goes to a new file first; they replace their names together
    // once all of them are written.
    std::vector<files::OutputFile> files;
    auto write = [&](const std::string& path, std::string_view bytes) {
        files::OutputFile& file = files.emplace_back();
        if (file.Open(path, inputs) && file.Write(bytes))
            return true;
        error = file.Error();
        return false;
    };
    if (!o.grid.empty() && !write(o.grid, EsriAsciiGrid(grid)))
        return Fail(error);
    if (!o.geotiff.empty()) {
        files::OutputFile& file = files.emplace_back();
        if (!file.Open(o.geotiff, inputs))
            return Fail(file.Error());
        if (!WriteGeoTiff(file.TempPath(), grid, *world, error))
            return Fail("cannot write " + o.geotiff + ": " + error);
    }
    if (!o.cog.empty()) {
        files::OutputFile& file = files.emplace_back();
        if (!file.Open(o.cog, inputs))
            return Fail(file.Error());
        if (!WriteCog(file.TempPath(), grid, *world, error))
            return Fail("cannot write " + o.cog + ": " + error);
    }
    if (!o.png.empty()) {
        const heatmap::ColourScale scale = heatmap::ColourScale::ForMetric(*spec, grid);
        // The legend strip to the right of the plan is no ground: the
        // georeferenced picture is the plan alone, the legend a picture of its
        // own (made apart, so no plan-sized picture is made twice).
        const QImage legendImage = heatmap::LegendImage(scale, plan);
        const std::string png = [&] {
            const QImage image =
                heatmap::ComposePlanHeatmapOver(input.TakePlan(), grid, scale, dots);
            return image.isNull() ? std::string() : PngBytes(image);
        }();
        const std::string legend = legendImage.isNull() ? std::string() : PngBytes(legendImage);
        if (png.empty() || legend.empty())
            return Fail("cannot make the picture for " + o.png);
        if (!write(o.png, png) || !write(WithExtension(o.png, ".pgw"), world->Text()) ||
            !write(WithExtension(o.png, ".prj"), std::string(kWgs84Wkt) + "\n") ||
            !write(LegendPath(o.png), legend))
            return Fail(error);
    }
    for (files::OutputFile& file : files)
        if (!file.Commit())
            return Fail(file.Error());
    if (read == ReadResult::Damaged) {
        std::fprintf(stderr, "ktd: %s\n", damage.c_str());
        return kDamaged;
    }
    return 0;
}

}  // namespace

void AddHeatmapCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "heatmap", "interpolate a survey over the plan: a georeferenced picture and/or a grid");
    auto o = std::make_shared<HeatmapOptions>();
    command->add_option("--projection", o->projection,
                        "projection file (.ktp); with a site file, the floor's own by default");
    command->add_option(
        "--metric", o->metric,
        "strongest (default), second, count, ap, ssid, coverage or channel-overlap. "
        "channel-overlap: at each point, how many other access points (addresses) on the "
        "channel of the strongest one, or on a channel overlapping it, are heard above -82 dBm; "
        "2.4 GHz channels overlap within 4 of each other (centres less than 25 MHz apart), 5 and "
        "6 GHz ones when they share a 20 MHz channel, or when the width the side store records "
        "(40, 80, 160 MHz) makes their blocks overlap; points whose strongest access point has "
        "no known channel are left out. snr: strongest signal minus the noise floor (the side "
        "store's, else another reading's on the same channel, else -95 dBm; said on standard "
        "error). third: the third strongest access point. sir: strongest minus the strongest "
        "other access point on an overlapping channel, dB (an access point's radios, addresses "
        "equal but for the last 4 bits and the locally administered bit, count as one). width: "
        "the strongest access point's channel width. phy: its PHY (3 a/b/g, 4 n, 5 ac, 6 ax, "
        "7 be). rate: the expected PHY rate in Mbit/s from its PHY, width, two spatial streams "
        "and the SNR");
    command->add_option("--band", o->band,
                        "2.4, 5 or 6: only readings on that band, for every metric (readings "
                        "whose band the side store does not name are left out)");
    AddIncludeNoFix(*command, o->selection);
    command->add_option("--ap", o->ap, "access point for the ap metric: 00:1a:2b:3c:4d:5e");
    command->add_option("--ssid", o->ssid, "network name for the ssid metric")
        ->each([o](const std::string&) { o->ssidGiven = true; });
    command->add_option("--threshold", o->threshold, "coverage threshold in dBm (default -67)");
    command->add_option("--cell", o->params.cell, "plan pixels between grid nodes (default 4)");
    command->add_option("--radius", o->params.radius, "search radius in plan pixels (default 120)");
    command->add_option("--max-points", o->params.maxPoints,
                        "nearest points used per node (default 12; at most the survey's points)");
    command->add_option("--power", o->params.power, "weight 1/d^power (default 2)");
    command->add_option("-o,--output", o->png,
                        "picture to write (PNG): the plan with the heatmap, with OUT.pgw and "
                        "OUT.prj (WGS 84) beside it and the legend in OUT-legend.png");
    command->add_option("--geotiff", o->geotiff,
                        "GeoTIFF to write: the node values in WGS 84 (EPSG:4326), -9999 where "
                        "no value");
    command->add_option("--cog", o->cog,
                        "Cloud Optimized GeoTIFF to write: as --geotiff, tiled with overviews "
                        "for web maps that read it by range requests");
    command->add_option("--grid", o->grid,
                        "ESRI ASCII grid to write, in plan pixels (no .prj; not beside -o)");
    command->add_option("--boundary", o->boundary,
                        "the surveyed area's outline: a JSON list of [x, y] plan-pixel vertices "
                        "(default: the survey points' concave hull)");
    command->add_option("FILE", o->path, "collection file (.ktd) or site file (.kts)");
    auto source = AddStoreSource(*command);
    command->callback([&status, o, source] {
        if (site::SiteFile::LooksLikeSite(o->path)) {
            HeatmapOptions options = *o;
            options.floor = source->floor;
            status = RunHeatmap(options);
            return;
        }
        status = RunOnCollection(
            *source, o->path,
            [&](const std::string& file) {
                HeatmapOptions options = *o;
                options.path = file;
                return RunHeatmap(options);
            },
            [&](const std::string& site) {
                // The floor's plan comes with the site: no --projection needed.
                HeatmapOptions options = *o;
                options.path = site;
                options.floor = source->floor;
                return RunHeatmap(options);
            });
    });
}

}  // namespace ketrion::ktd
