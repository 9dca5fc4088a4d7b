// `ktd report`: the survey as a PDF for the people who asked for it. Page one
// gives the title block, the file, the points, the time span, the surveyed
// area and the requirements met or not; then a heatmap page for all networks
// and one per network (per band, where bands are known), each picture as
// large as the page allows with the placed access points on it; then the
// table of access points with their estimated positions
// (analysis/ApEstimate.h).

#include "tools/ktd/ReportCommand.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPoint>
#include <QPolygonF>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/ExportText.h"
#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyedArea.h"
#include "platform/Memory.h"
#include "render/HeatmapImage.h"
#include "render/PointsLayer.h"
#include "render/PrintedPlan.h"
#include "site/SiteFile.h"
#include "survey/OutputFile.h"
#include "tools/ktd/AreaInput.h"
#include "tools/ktd/CheckCommand.h"
#include "tools/ktd/HeatmapInput.h"
#include "tools/ktd/OutputDevice.h"
#include "tools/ktd/ReportLayout.h"
#include "tools/ktd/ReportPages.h"
#include "tools/ktd/ReportProfile.h"
#include "tools/ktd/ReportSide.h"
#include "tools/ktd/SiteInput.h"
#include "tools/ktd/SiteReport.h"
#include "tools/ktd/StoreCommands.h"
#include "tools/ktd/SurveyDetails.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

constexpr int kResolution = ReportPages::kResolution;
constexpr double kGoodSignal = -67;  // the shares given when no requirement is stated
constexpr double kFairSignal = -75;
constexpr int kLargestPicture = 2000;  // pixels across a heatmap picture in the PDF
// The interpolation's reach on the ground: a plan drawn at 20 pixels a metre
// gets the same reach as one at 7, not a sixth of it. Never below the plan-pixel
// default (coarse plans keep today's maps).
constexpr double kDefaultRadiusMetres = 18;

struct ReportOptions {
    std::string projection;
    std::string path;
    std::string out;
    Selection selection;
    std::string boundary;
    std::string site, surveyor, client, date, notes;
    std::string require, requireSecond, requireShare;
    std::string profile;
    std::string floor;                  // with a site file
    std::vector<std::string> networks;  // the client's networks (--network); empty: all heard
};

// The stated requirements: signal levels and the share of the area each must cover.
struct Requirements {
    std::optional<double> signal;  // dBm the strongest signal must reach
    std::optional<double> second;  // dBm the second strongest access point must reach
    double share = kDefaultRequiredShare;
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return kCannotRun;
}

QString Text(const std::string& bytes) {
    return QString::fromStdString(ValidUtf8(bytes));
}

QString NetworkTitle(const std::string& ssid) {
    return ssid.empty() ? QString("(hidden network)") : "\"" + Text(ssid) + "\"";
}

QString UtcText(std::int64_t seconds, const char* format = "%Y-%m-%d %H:%M:%S") {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[40];
    if (gmtime_r(&t, &tm) == nullptr || std::strftime(text, sizeof text, format, &tm) == 0)
        return "?";
    return text;
}

QString DurationText(std::int64_t seconds) {
    const std::int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QString("%1 h %2 min %3 s").arg(h).arg(m).arg(s);
    if (m > 0)
        return QString("%1 min %2 s").arg(m).arg(s);
    return QString("%1 s").arg(s);
}

// A page's grid kept until its page is drawn, in single precision: it only
// colours the page's picture, where a millionth of a dB never shows, and
// every page's grid is held at once (page one sums them up).
class KeptGrid {
public:
    KeptGrid() = default;
    explicit KeptGrid(const Grid& grid)
        : m_columns(grid.columns),
          m_rows(grid.rows),
          m_cell(grid.cell),
          m_values(grid.values.begin(), grid.values.end()) {}
    Grid Restore() const {
        Grid grid(m_columns, m_rows, m_cell);
        std::copy(m_values.begin(), m_values.end(), grid.values.begin());
        return grid;
    }

private:
    int m_columns = 0;
    int m_rows = 0;
    int m_cell = 1;
    std::vector<float> m_values;
};

QString Percent(double share) {
    return QString::number(share * 100.0, 'f', 1) + " %";
}

QString Dbm(double value) {
    return QString::number(value, 'g', 6) + " dBm";
}

QString ParamsText(const IdwParams& p, std::optional<double> pixelsPerMetre) {
    const QString radius = pixelsPerMetre ? QString("%1 px (%2 m)")
                                                .arg(std::lround(p.radius))
                                                .arg(p.radius / *pixelsPerMetre, 0, 'f', 1)
                                          : QString("%1 px").arg(std::lround(p.radius));
    return QString(
               "Inverse distance weighting over plan pixels: cell %1 px, radius %2, at most "
               "%3 nearest points, weight (1 - d/r)^2 / d^%4, where r is the radius or the "
               "distance of the nearest point left out, so the surface has no seams. Only the "
               "surveyed area is coloured.")
        .arg(p.cell)
        .arg(radius)
        .arg(p.maxPoints)
        .arg(p.power);
}

// What the surveyed area is, in words: what the shares are of.
QString AreaText(const SurveyedArea& area, const std::string& boundaryFile, double planShare,
                 const AreaShare& unsurveyed, const IdwParams& params) {
    if (area.GetKind() == SurveyedArea::Kind::Boundary) {
        QString text =
            QString(
                "Surveyed area: the boundary in %1 (%2 vertices), %3 of the plan. Shares are "
                "of this area.")
                .arg(QFileInfo(QString::fromStdString(boundaryFile)).fileName())
                .arg(area.Polygon().size())
                .arg(Percent(planShare));
        if (unsurveyed.nodes > unsurveyed.valued)
            text += QString(
                        " %1 of it lies farther than %2 px from every survey point: it has "
                        "no value and counts as not meeting any level.")
                        .arg(Percent(static_cast<double>(unsurveyed.nodes - unsurveyed.valued) /
                                     static_cast<double>(unsurveyed.nodes)))
                        .arg(std::lround(params.radius));
        return text;
    }
    return QString(
               "Surveyed area: the survey points' concave hull (triangles between points "
               "with sides up to %1 px) and %2 px around each point, %3 of the plan. Shares "
               "are of this area, not of the whole plan.")
        .arg(std::lround(area.MaxEdge()))
        .arg(std::lround(area.Reach()))
        .arg(Percent(planShare));
}

// The estimated access points of a page as markers on its map, labelled as
// in the access-point table ("E" and the row).
std::vector<heatmap::PlanMarker> EstimatedMarkers(const HeatmapPage& page,
                                                  std::span<const ApEstimate> aps,
                                                  const CSiteProjection& projection) {
    std::vector<heatmap::PlanMarker> markers;
    for (std::size_t n = 0; n < aps.size(); ++n) {
        const ApEstimate& ap = aps[n];
        if (ap.position.used == 0 || std::find(page.accessPoints.begin(), page.accessPoints.end(),
                                               ap.mac) == page.accessPoints.end())
            continue;
        const int lat = static_cast<int>(std::lround(ap.position.latitude * 3600000.0));
        const int lon = static_cast<int>(std::lround(ap.position.longitude * 3600000.0));
        markers.push_back({QPoint(projection.PlanX(lat, lon), projection.PlanY(lat, lon)),
                           QString("E%1").arg(n + 1)});
    }
    return markers;
}

// The placed access points as markers on the plan.
std::vector<heatmap::PlanMarker> PlacedMarkers(const PlacedSurvey& survey) {
    std::vector<heatmap::PlanMarker> markers;
    for (std::size_t n = 0; n < survey.dynamicAps.size(); ++n) {
        const PlacedPoint& ap = survey.dynamicAps[n];
        markers.push_back({QPoint(ap.x, ap.y), QString("AP %1").arg(n + 1)});
    }
    return markers;
}

int RunReport(const ReportOptions& o) {
    Requirements required;
    if (!o.require.empty() && !(required.signal = ParseDbm(o.require)))
        return Fail("--require \"" + o.require + "\" is not a signal level like \"-67 dBm\"");
    if (!o.requireSecond.empty() && !(required.second = ParseDbm(o.requireSecond)))
        return Fail("--require-second \"" + o.requireSecond +
                    "\" is not a signal level like \"-75 dBm\"");
    if (!o.requireShare.empty()) {
        const auto share = ParseShare(o.requireShare);
        if (!share)
            return Fail("--require-share \"" + o.requireShare +
                        "\" is not a share above 0 and up to 100 %");
        required.share = *share;
    }
    std::optional<Profile> profile;
    std::string profileError;
    if (!o.profile.empty() && !(profile = LoadProfile(o.profile, profileError)))
        return Fail(profileError);
    // The PDF is written whole or not at all, never over an input.
    const std::vector<files::Input> inputs = {{o.path, "collection file"},
                                              {o.projection, "projection file"}};
    files::OutputFile output;
    if (!output.Open(o.out, inputs))
        return Fail(output.Error());
    std::string error;
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
    // The plan as the pages print it, made before the survey is read: the
    // full-size plan is gone before the survey and its grids take its place.
    const heatmap::PrintedPlan printed(input.TakePlan(), kLargestPicture);
    if (printed.Image().isNull())
        return Fail(o.projection + ": the plan image in the projection file cannot be read");
    const QSize plan = printed.PlanSize();
    PlacedSurvey survey;
    const ReadResult read = LoadPlacedSurvey(o.path, input.Projection(), survey);
    if (read == ReadResult::NotOpened)
        return Fail(survey.records.damage);
    SelectSurvey(survey, o.selection);

    const std::optional<double> pixelsPerMetre =
        input.Projection().Map().PixelsPerMetreAt(plan.width() / 2.0, plan.height() / 2.0);
    IdwParams params;
    if (pixelsPerMetre)
        params.radius = std::max(params.radius, kDefaultRadiusMetres * *pixelsPerMetre);
    std::vector<QPoint> dots;
    for (const PlacedPoint& p : survey.points)
        dots.emplace_back(p.x, p.y);
    const std::vector<std::string> networks = NetworkNames(survey);
    const std::vector<ApEstimate> aps = EstimateAccessPoints(survey.records.points);
    // Bands and access-point details come from a side store where there is one.
    const ReportExtras extras = ReportExtrasOf(aps);
    const NetworkScope scope = ChooseNetworks(networks, o.networks);
    std::vector<HeatmapPage> heatmapPages = PlanHeatmapPages(scope.judged, extras.bands, aps);
    if (scope.clientChosen) {
        // The whole survey holds the neighbours too: shown, not judged, and
        // only the client's access points marked on it.
        HeatmapPage& whole = heatmapPages.front();
        whole.judged = false;
        whole.accessPoints.clear();
        for (const ApEstimate& ap : aps)
            if (std::find(scope.judged.begin(), scope.judged.end(), ap.ssid) != scope.judged.end())
                whole.accessPoints.push_back(ap.mac);
    }
    SurveyedArea area = AreaOf(survey, params, boundary);
    std::vector<BandVerdict> verdicts;
    if (profile) {
        auto judged = JudgeBands(survey, *profile, ProfileBands(survey), params, plan.width(),
                                 plan.height(), area, error);
        if (!judged)
            return Fail(error);
        verdicts = std::move(*judged);
    }
    const int gridsPerPage = required.second ? 2 : 1;
    const int stages = static_cast<int>(heatmapPages.size()) * gridsPerPage;
    Progress progress("report");
    auto grid = [&](const MetricSpec& spec, int stage) {
        RunControl control;
        control.progress = [&, stage](int done, int total) {
            progress.Show(stage * total + done, stages * total);
        };
        return MetricGrid(survey, spec, params, plan.width(), plan.height(), control, &area);
    };

    // Every page's grids and figures first: page one sums them up.
    struct PageFigures {
        KeptGrid signal;
        AreaShare atRequired, good, fair, second;
        std::size_t heard = 0;  // survey points where the page's network is heard
    };
    std::vector<PageFigures> figures;
    std::vector<std::uint8_t> mask;
    for (std::size_t n = 0; n < heatmapPages.size(); ++n) {
        PageFigures f;
        const Grid signal = grid(heatmapPages[n].signal, static_cast<int>(n) * gridsPerPage);
        if (mask.empty())
            mask = area.Mask(signal.columns, signal.rows, signal.cell);
        if (!heatmapPages[n].wholeSurvey)
            for (const PlacedPoint& p : survey.points)
                if (PointValue(survey.Record(p), p.strongest, heatmapPages[n].signal) > kNotHeard)
                    ++f.heard;
        f.good = ShareOfArea(signal, mask, kGoodSignal);
        f.fair = ShareOfArea(signal, mask, kFairSignal);
        if (required.signal)
            f.atRequired = ShareOfArea(signal, mask, *required.signal);
        if (required.second) {
            const Grid second =
                grid(heatmapPages[n].second, static_cast<int>(n) * gridsPerPage + 1);
            f.second = ShareOfArea(second, mask, *required.second);
        }
        f.signal = KeptGrid(signal);
        figures.push_back(std::move(f));
    }
    std::size_t inArea = 0;
    for (std::uint8_t m : mask)
        inArea += m;
    const double planShare =
        mask.empty() ? 0.0 : static_cast<double>(inArea) / static_cast<double>(mask.size());

    // What the pages say of the survey and its area, taken now: both go
    // before the pages are drawn, so the pictures and the PDF's buffers come
    // in their place.
    std::int64_t first = 0, last = 0;
    const bool timed = TimeSpan(survey, first, last);
    const std::size_t pointCount = survey.points.size();
    const std::size_t dynamicCount = survey.dynamicAps.size();
    const std::string damage = survey.records.damage;
    const std::vector<heatmap::PlanMarker> markers = PlacedMarkers(survey);
    const QString areaText = AreaText(area, o.boundary, planShare, figures.front().good, params);
    survey = PlacedSurvey();
    area = SurveyedArea();
    ReturnFreedMemory();
    // The points look the same on every page: drawn once, laid over each heatmap.
    const heatmap::PointsLayer pointsLayer(plan, dots, printed.Image().size());
    dots = {};

    // Qt's PDF writer can end "successfully" after failed writes: its bytes go
    // through the output file's checked writer, which remembers any failure.
    OutputDevice pdf(output);
    if (!pdf.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Fail("cannot write " + o.out);
    QPdfWriter writer(&pdf);
    writer.setResolution(kResolution);
    writer.setPageSize(QPageSize(QPageSize::A4));
    // The plan's own shape: a wide plan gets wide pages, so its heatmap is large.
    writer.setPageOrientation(plan.width() > plan.height() ? QPageLayout::Landscape
                                                           : QPageLayout::Portrait);
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setTitle("Site survey report");
    writer.setCreator(QString("Ketrion ktd ") + kExportVersion);
    QPainter painter;
    if (!painter.begin(&writer))
        return Fail("cannot write " + o.out);
    ReportPages pages(writer, painter);

    // Page one: who, where, when, and whether the requirements are met.
    pages.Heading("Site survey report");
    std::vector<std::pair<QString, QString>> title;
    auto titleRow = [&](const char* label, const std::string& value) {
        if (!value.empty())
            title.emplace_back(label, Text(value));
    };
    titleRow("Site", o.site);
    titleRow("Client", o.client);
    titleRow("Surveyor", o.surveyor);
    if (!o.date.empty())
        titleRow("Date", o.date);
    else if (timed)
        title.emplace_back("Date", UtcText(first, "%Y-%m-%d") + " (from the survey)");
    titleRow("Notes", o.notes);
    pages.TitleBlock(title);

    // File names only: a report handed to a client does not show the
    // surveyor's folders.
    pages.Body("Collection file: " + QFileInfo(QString::fromStdString(o.path)).fileName());
    pages.Body("Site plan: " + QFileInfo(QString::fromStdString(o.projection)).fileName() +
               QString(" (%1 x %2 pixels)").arg(plan.width()).arg(plan.height()));
    pages.Body(
        QString("Survey points: %1").arg(pointCount) +
        (dynamicCount == 0 ? QString() : QString(", placed access points: %1").arg(dynamicCount)));
    if (timed)
        pages.Body("Time span: " + UtcText(first) + " to " + UtcText(last) + " UTC (" +
                   DurationText(last - first) + ")");
    else
        pages.Body("Time span: no point holds a GPS time");
    pages.Body(QString("Networks: %1, access points: ").arg(networks.size()) +
               QString::number(aps.size()));
    if (read == ReadResult::Damaged)
        pages.Small("The collection file is damaged; the report covers what could be read: " +
                    Text(damage));
    pages.Gap();
    pages.Body(areaText);
    pages.Gap();

    pages.Subheading("Requirements");
    if (!required.signal && !required.second) {
        pages.Body("No requirement stated (--require, --require-second). Over all networks:");
        pages.Body("Surveyed area at -67 dBm or better: " + Percent(figures.front().good.Share()));
        pages.Body("Surveyed area at -75 dBm or better: " + Percent(figures.front().fair.Share()));
    } else {
        QString stated;
        if (required.signal)
            stated += "signal " + Dbm(*required.signal) + " or better";
        if (required.second)
            stated += QString(stated.isEmpty() ? "" : "; ") + "a second access point at " +
                      Dbm(*required.second) + " or better";
        pages.Body("Stated: " + stated + ", each over at least " + Percent(required.share) +
                   " of the surveyed area.");
        pages.Gap();
        std::vector<QString> header = {"Heatmap"};
        if (required.signal)
            header.insert(header.end(), {"Signal " + Dbm(*required.signal), "Result"});
        if (required.second)
            header.insert(header.end(), {"Second " + Dbm(*required.second), "Result"});
        std::vector<std::vector<QString>> rows;
        for (std::size_t n = 0; n < heatmapPages.size(); ++n) {
            const HeatmapPage& page = heatmapPages[n];
            if (!page.judged)
                continue;
            std::vector<QString> row = {Text(page.title)};
            if (required.signal) {
                const double share = figures[n].atRequired.Share();
                row.insert(row.end(), {Percent(share), share >= required.share ? "PASS" : "FAIL"});
            }
            if (required.second && page.JudgesSecond()) {
                const double share = figures[n].second.Share();
                row.insert(row.end(), {Percent(share), share >= required.share ? "PASS" : "FAIL"});
            } else if (required.second) {
                row.insert(row.end(), {"one AP", "not judged"});
            }
            rows.push_back(std::move(row));
        }
        // A network of the client's that the survey never heard fails every requirement.
        for (const std::string& name : scope.notHeard) {
            std::vector<QString> row = {"Network " + NetworkTitle(name) + ": not heard"};
            if (required.signal)
                row.insert(row.end(), {Percent(0), "FAIL"});
            if (required.second)
                row.insert(row.end(), {Percent(0), "FAIL"});
            rows.push_back(std::move(row));
        }
        pages.Table(header, rows);
    }
    if (!scope.neighbours.empty()) {
        QStringList listed;
        for (const std::string& name : scope.neighbours) {
            const auto count = std::count_if(aps.begin(), aps.end(),
                                             [&](const ApEstimate& ap) { return ap.ssid == name; });
            listed << QString("%1 (%2 AP%3)")
                          .arg(NetworkTitle(name))
                          .arg(count)
                          .arg(count == 1 ? "" : "s");
        }
        pages.Small("Neighbouring networks, heard but not the client's (not judged): " +
                    listed.join(", "));
    }
    if (profile)
        AddProfileSummary(pages, *profile, verdicts);
    pages.Small(ParamsText(params, pixelsPerMetre));

    // A page per heatmap: the figures, then the picture as large as the page allows.
    QPolygonF outline;
    for (const analysis::PlanPoint& v : boundary)
        outline << QPointF(v.x, v.y);
    for (std::size_t n = 0; n < heatmapPages.size(); ++n) {
        const HeatmapPage& page = heatmapPages[n];
        const PageFigures& f = figures[n];
        pages.NewPage();
        pages.Heading(page.wholeSurvey ? QString("All networks: strongest signal")
                                       : Text(page.title));
        if (!page.wholeSurvey) {
            std::size_t apCount = 0;
            for (const ApEstimate& ap : aps)
                apCount += ap.ssid == page.network ? 1 : 0;
            pages.Body(QString("Heard above -100 dBm at %1 of %2 survey points, access points: %3")
                           .arg(f.heard)
                           .arg(pointCount)
                           .arg(apCount));
        }
        if (!page.judged)
            pages.Small(
                "Not judged: this map holds the neighbouring networks as well; the "
                "client's networks are judged on their own pages.");
        if (required.signal && page.judged)
            pages.Verdict(QString("Surveyed area at %1 or better: %2 (required: %3)")
                              .arg(Dbm(*required.signal), Percent(f.atRequired.Share()),
                                   Percent(required.share)),
                          f.atRequired.Share() >= required.share);
        if (required.second && page.JudgesSecond())
            pages.Verdict(
                QString("Surveyed area with a second access point at %1 or better: %2 "
                        "(required: %3)")
                    .arg(Dbm(*required.second), Percent(f.second.Share()), Percent(required.share)),
                f.second.Share() >= required.share);
        else if (required.second && page.judged)
            pages.Small(
                "A second access point is not judged: the network has one access point "
                "here.");
        if (!required.signal && !required.second) {
            pages.Body("Surveyed area at -67 dBm or better: " + Percent(f.good.Share()));
            pages.Body("Surveyed area at -75 dBm or better: " + Percent(f.fair.Share()));
        }
        pages.Gap();
        const Grid signal = f.signal.Restore();
        const heatmap::ColourScale scale = heatmap::ColourScale::ForMetric(page.signal, signal);
        QImage picture = printed.Heatmap(signal, scale, pointsLayer);
        const bool gaps = f.good.valued < f.good.nodes;
        if (!picture.isNull()) {
            QPainter onPlan(&picture);
            printed.ToPlanPixels(onPlan);
            if (gaps)
                heatmap::DrawUnsurveyed(onPlan, signal, mask, plan.width(), plan.height());
            const int pixelSize = heatmap::AnnotationPixelSize(plan);
            heatmap::DrawOutline(onPlan, outline, pixelSize);
            heatmap::DrawMarkers(onPlan, markers, pixelSize);
            heatmap::DrawMarkers(onPlan, EstimatedMarkers(page, aps, input.Projection()),
                                 pixelSize);
        }
        if (gaps)
            pages.Small(QString("Hatched: inside the boundary but farther than %1 px from every "
                                "survey point; no value, counted as not meeting any level.")
                            .arg(std::lround(params.radius)));
        pages.Heatmap(picture, scale);
    }

    if (profile)
        AddProfilePages(pages, *profile, verdicts, printed, pointsLayer);

    // The access points and where they probably stand.
    pages.NewPage();
    pages.Heading("Access points");
    pages.Small(QString("Estimated position: the milliwatt-weighted centroid of each access "
                        "point's %1 strongest readings; the spread is their weighted RMS "
                        "distance from it. Channel and security are given where the survey "
                        "recorded them.")
                    .arg(kApEstimateReadings) +
                " E1, E2, ... mark them on the maps. Plan positions are from the plan's top "
                "left corner, in pixels and in metres at the plan's scale.");
    pages.Gap();
    std::vector<std::vector<QString>> rows;
    for (std::size_t n = 0; n < aps.size(); ++n) {
        const ApEstimate& ap = aps[n];
        const Centroid& c = ap.position;
        const int units[2] = {static_cast<int>(std::lround(c.latitude * 3600000.0)),
                              static_cast<int>(std::lround(c.longitude * 3600000.0))};
        const auto details = extras.details.find(ap.mac);
        const ApDetails none;
        const ApDetails& d = details == extras.details.end() ? none : details->second;
        const int x = input.Projection().PlanX(units[0], units[1]);
        const int y = input.Projection().PlanY(units[0], units[1]);
        QString planPosition = QString("%1, %2 px").arg(x).arg(y);
        if (pixelsPerMetre)
            planPosition += QString(" (%1, %2 m)")
                                .arg(x / *pixelsPerMetre, 0, 'f', 1)
                                .arg(y / *pixelsPerMetre, 0, 'f', 1);
        rows.push_back({QString("E%1").arg(n + 1), QString::fromStdString(MacText(ap.mac)),
                        NetworkTitle(ap.ssid), Text(d.channel), Text(d.security),
                        QString::number(ap.pointsHeard),
                        QString::fromStdString(DbmText(ap.strongest)) + " dBm",
                        QString::number(c.latitude, 'f', 6), QString::number(c.longitude, 'f', 6),
                        QString::number(c.uncertainty, 'f', 1) + " m" + (ap.fromFixes ? "" : " *"),
                        planPosition});
    }
    pages.Table({"", "Address", "Network", "Channel", "Security", "Points", "Strongest", "Latitude",
                 "Longitude", "Spread", "Plan x, y"},
                rows);
    if (std::any_of(aps.begin(), aps.end(), [](const ApEstimate& ap) { return !ap.fromFixes; }))
        pages.Small("* estimated from points without a GPS fix");
    const bool ended = painter.end();
    pdf.close();
    // A failed write fails the commit with its reason; a painter that could
    // not end without one is said so.
    if (!ended) {
        if (output.Error().empty())
            return Fail("cannot write " + o.out + ": the PDF was not written whole");
        return Fail(output.Error());
    }
    if (!output.Commit())
        return Fail(output.Error());
    progress.Stage("done");

    if (read == ReadResult::Damaged) {
        std::fprintf(stderr, "ktd: %s\n", damage.c_str());
        return kDamaged;
    }
    return 0;
}

// The report of a site read from the store: the site pulled into a
// temporary folder and reported as from its site file, so the pages are
// the same.
int RunStoreReport(const ReportOptions& o, const std::string& url) {
    if (!o.path.empty())
        return Fail("give either a file or --db, not both");
    if (o.site.empty())
        return Fail("--db needs --site NAME");
    if (!o.projection.empty() || !o.profile.empty())
        return Fail("--projection and --profile take a collection file, not --db");
    return RunOnStoreSite(url, o.site, [&](const std::string& site) {
        return RunSiteReport({site, o.floor, o.out, o.selection, o.site, o.surveyor, o.client,
                              o.date, o.notes, o.require, o.requireSecond, o.requireShare});
    });
}

}  // namespace

void AddReportCommand(CLI::App& app, int& status) {
    CLI::App* command =
        app.add_subcommand("report", "write a PDF report: heatmaps, coverage, access points");
    auto o = std::make_shared<ReportOptions>();
    command->add_option("--projection", o->projection,
                        "projection file (.ktp); not with a site file (each floor has its own)");
    AddFloorOption(*command, o->floor);
    command->add_option("-o,--output", o->out, "PDF file to write")->required();
    AddIncludeNoFix(*command, o->selection);
    command->add_option("FILE", o->path, "collection file (.ktd) or site file (.kts)");
    auto db = std::make_shared<std::string>();
    command->add_option("--db", *db,
                        "read the site named by --site from the store (postgresql://...) "
                        "instead of FILE");
    command->add_option("--boundary", o->boundary,
                        "the surveyed area's outline: a JSON list of [x, y] plan-pixel vertices "
                        "(default: the survey points' concave hull)");
    command->add_option("--site", o->site, "site name for the title block");
    command->add_option("--surveyor", o->surveyor, "who surveyed");
    command->add_option("--client", o->client, "who the survey is for");
    command->add_option("--date", o->date, "date of the survey (default: from the points)");
    command->add_option("--notes", o->notes, "notes for the title block");
    command->add_option("--network", o->networks,
                        "a network of the client's (repeat for each): only these are judged; "
                        "the others heard are listed apart as neighbours");
    command->add_option("--require", o->require,
                        "signal level the surveyed area must reach, e.g. \"-67 dBm\"");
    command->add_option("--require-second", o->requireSecond,
                        "level a second access point must reach, e.g. \"-75 dBm\"");
    command->add_option("--require-share", o->requireShare,
                        "share of the surveyed area each requirement must cover (default 95 %)");
    command->add_option("--profile", o->profile,
                        "judge the survey against a requirement profile as `ktd check` does "
                        "(data, voice, location or a JSON file): PASS/FAIL per band and a map "
                        "of the requirement each failing part breaks first");
    command->callback([&status, o, db] {
        if (!db->empty()) {
            status = RunStoreReport(*o, *db);
            return;
        }
        if (o->path.empty()) {
            status = Fail("give a collection file, a site file, or --db URL --site NAME");
            return;
        }
        if (site::SiteFile::LooksLikeSite(o->path)) {
            if (!o->networks.empty()) {
                status = Fail(
                    "--network judges networks of one collection file; a site report judges "
                    "each floor's strongest signal");
                return;
            }
            if (!o->profile.empty()) {
                status = Fail(
                    "--profile judges one collection file; give the floor's collection "
                    "file and its projection");
                return;
            }
            status = RunSiteReport({o->path, o->floor, o->out, o->selection, o->site, o->surveyor,
                                    o->client, o->date, o->notes, o->require, o->requireSecond,
                                    o->requireShare});
            return;
        }
        if (o->projection.empty()) {
            status = Fail("--projection is required with a collection file");
            return;
        }
        status = RunReport(*o);
    });
}

}  // namespace ketrion::ktd
