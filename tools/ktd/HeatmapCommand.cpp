// `ktd heatmap`: a survey's metric interpolated over the plan by inverse
// distance weighting (analysis/Idw.h), written as the plan with the heatmap, a
// legend and the survey points, georeferenced by a world file, and/or as an
// ESRI ASCII grid of the node values.

#include "tools/ktd/HeatmapCommand.h"

#include <QBuffer>
#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPoint>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyedArea.h"
#include "analysis/WorldFile.h"
#include "tools/ktd/AreaInput.h"
#include "tools/ktd/HeatmapInput.h"
#include "ui/analysis/HeatmapImage.h"

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
    std::string path;
    std::string boundary;
};

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
        error = "unknown metric \"" + name + "\" (strongest, second, count, ap, ssid or coverage)";
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
    if (!std::isfinite(spec.threshold)) {
        error = "the threshold must be a number of dBm";
        return std::nullopt;
    }
    return spec;
}

std::string PngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int RunHeatmap(const HeatmapOptions& o) {
    std::string error;
    const auto spec = Spec(o, error);
    if (!spec)
        return Fail(error);
    if (const auto bad = CheckParams(o.params))
        return Fail(*bad);
    if (o.png.empty() && o.grid.empty())
        return Fail("nothing to write: give -o OUT.png and/or --grid OUT.asc");

    auto app = MakeGuiApplication();
    PlanInput input;
    if (!input.Load(o.projection, error))
        return Fail(error);
    std::optional<WorldFile> world;
    if (!o.png.empty()) {
        world = MakeWorldFile(input.Projection());
        if (!world)
            return Fail(o.projection +
                        ": its map from latitude and longitude to the plan cannot be inverted, "
                        "so the picture cannot be placed on a map; nothing written");
    }
    PlacedSurvey survey;
    const ReadResult read = LoadPlacedSurvey(o.path, input.Projection(), survey);
    if (read == ReadResult::NotOpened)
        return Fail(survey.records.damage);
    if (survey.points.empty())
        std::fprintf(stderr, "ktd: %s has no survey points; the heatmap is empty\n",
                     o.path.c_str());

    const QImage& plan = input.Plan();
    if (!GridFits(plan.width(), plan.height(), o.params.cell))
        return Fail("a cell of " + std::to_string(o.params.cell) +
                    " pixels makes too many nodes on a " + std::to_string(plan.width()) + " x " +
                    std::to_string(plan.height()) + " plan; choose a larger --cell");
    Progress progress("interpolating");
    RunControl control;
    control.progress = [&](int done, int total) { progress.Show(done, total); };
    std::vector<PlanPoint> boundary;
    if (!o.boundary.empty()) {
        auto outline = ReadBoundaryFile(o.boundary, error);
        if (!outline)
            return Fail(error);
        boundary = std::move(*outline);
    }
    const SurveyedArea area = AreaOf(survey, o.params, boundary);
    const Grid grid =
        MetricGrid(survey, *spec, o.params, plan.width(), plan.height(), control, &area);
    progress.Stage("writing");

    if (!o.grid.empty() && !WriteFile(o.grid, EsriAsciiGrid(grid), error))
        return Fail(error);
    if (!o.png.empty()) {
        std::vector<QPoint> dots;
        dots.reserve(survey.points.size());
        for (const PlacedPoint& p : survey.points)
            dots.emplace_back(p.x, p.y);
        const heatmap::ColourScale scale = heatmap::ColourScale::ForMetric(*spec, grid);
        const QImage image = heatmap::ComposeHeatmap(plan, grid, scale, dots);
        const std::string png = image.isNull() ? std::string() : PngBytes(image);
        if (png.empty())
            return Fail("cannot make the picture for " + o.png);
        if (!WriteFile(o.png, png, error) ||
            !WriteFile(WithExtension(o.png, ".pgw"), world->Text(), error) ||
            !WriteFile(WithExtension(o.png, ".prj"), std::string(kWgs84Wkt) + "\n", error))
            return Fail(error);
    }
    if (read == ReadResult::Damaged) {
        std::fprintf(stderr, "ktd: %s\n", survey.records.damage.c_str());
        return kDamaged;
    }
    return 0;
}

}  // namespace

void AddHeatmapCommand(CLI::App& app, int& status) {
    CLI::App* command = app.add_subcommand(
        "heatmap", "interpolate a survey over the plan: a georeferenced picture and/or a grid");
    auto o = std::make_shared<HeatmapOptions>();
    command->add_option("--projection", o->projection, "projection file (.ktp)")->required();
    command->add_option("--metric", o->metric,
                        "strongest (default), second, count, ap, ssid or coverage");
    command->add_option("--ap", o->ap, "access point for the ap metric: 00:1a:2b:3c:4d:5e");
    command->add_option("--ssid", o->ssid, "network name for the ssid metric")
        ->each([o](const std::string&) { o->ssidGiven = true; });
    command->add_option("--threshold", o->threshold, "coverage threshold in dBm (default -67)");
    command->add_option("--cell", o->params.cell, "plan pixels between grid nodes (default 4)");
    command->add_option("--radius", o->params.radius, "search radius in plan pixels (default 120)");
    command->add_option("--max-points", o->params.maxPoints,
                        "nearest points used per node (default 12)");
    command->add_option("--power", o->params.power, "weight 1/d^power (default 2)");
    command->add_option("-o,--output", o->png,
                        "picture to write (PNG), with OUT.pgw and OUT.prj beside it");
    command->add_option("--grid", o->grid, "ESRI ASCII grid to write");
    command->add_option("--boundary", o->boundary,
                        "the surveyed area's outline: a JSON list of [x, y] plan-pixel vertices "
                        "(default: the survey points' concave hull)");
    command->add_option("FILE", o->path, "collection file (.ktd)")->required();
    command->callback([&status, o] { status = RunHeatmap(*o); });
}

}  // namespace ketrion::ktd
