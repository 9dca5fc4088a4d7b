// `ktd report` over a site file: the building as a whole and each floor,
// laid out with the report's pages (ReportPages) and judged as the report of
// one collection judges it (ShareOfArea over the surveyed area).

#include "tools/ktd/SiteReport.h"

#include <sys/stat.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPoint>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/ExportText.h"
#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "analysis/SurveyedArea.h"
#include "render/HeatmapImage.h"
#include "site/FloorAssignment.h"
#include "survey/OutputFile.h"
#include "tools/ktd/HeatmapInput.h"
#include "tools/ktd/ReportLayout.h"
#include "tools/ktd/ReportPages.h"
#include "tools/ktd/SiteInput.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

constexpr double kGoodSignal = -67;  // judged when no requirement is stated
constexpr int kLargestPicture = 2000;

int Fail(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "ktd: %s\n", message.c_str());
    return kCannotRun;
}

QString Text(const std::string& bytes) {
    return QString::fromStdString(ValidUtf8(bytes));
}

QString Percent(double share) {
    return QString::number(share * 100, 'f', 1) + " %";
}

QString Dbm(double value) {
    return QString::number(value, 'g', 4) + " dBm";
}

QImage Shrunk(const QImage& image) {
    if (image.width() <= kLargestPicture && image.height() <= kLargestPicture)
        return image;
    return image.scaled(kLargestPicture, kLargestPicture, Qt::KeepAspectRatio,
                        Qt::SmoothTransformation);
}

// One floor read, placed and interpolated.
struct FloorResult {
    site::ConstFloorRef ref;
    std::unique_ptr<PlanInput> plan;
    PlacedSurvey survey;
    std::size_t collections = 0;
    Grid signal, second;
    std::vector<std::uint8_t> mask;
    AreaShare atSignal, atSecond;
};

}  // namespace

int RunSiteReport(const SiteReportOptions& o) {
    std::optional<double> signal, second;
    double share = kDefaultRequiredShare;
    if (!o.require.empty() && !(signal = ParseDbm(o.require)))
        return Fail("--require \"" + o.require + "\" is not a signal level like \"-67 dBm\"");
    if (!o.requireSecond.empty() && !(second = ParseDbm(o.requireSecond)))
        return Fail("--require-second \"" + o.requireSecond +
                    "\" is not a signal level like \"-75 dBm\"");
    if (!o.requireShare.empty()) {
        const auto s = ParseShare(o.requireShare);
        if (!s)
            return Fail("--require-share \"" + o.requireShare +
                        "\" is not a share above 0 and up to 100 %");
        share = *s;
    }
    const double judged = signal.value_or(kGoodSignal);
    SiteInput input;
    std::string error;
    if (!OpenSiteInput(o.path, o.floor, false, input, error))
        return Fail(error);
    files::OutputFile output;
    if (!output.Open(o.out, {{o.path, "site file"}}))
        return Fail(output.Error());

    auto app = MakeGuiApplication();
    const IdwParams params;
    bool damaged = false;
    std::vector<FloorResult> floors;
    Progress progress("report");
    for (std::size_t n = 0; n < input.floors.size(); ++n) {
        FloorResult& f = floors.emplace_back();
        f.ref = input.floors[n];
        f.plan = std::make_unique<PlanInput>();
        if (!f.plan->Load(FloorProjection(input, *f.ref.floor), error))
            return Fail("floor \"" + site::FloorTitle(*f.ref.building, *f.ref.floor) +
                        "\": " + error);
        SiteInput one = input;
        one.floors = {f.ref};
        if (LoadSiteFloor(one, f.plan->Projection(), o.selection, f.survey) == ReadResult::Damaged)
            damaged = true;
        for (const site::SiteCollection& c : f.ref.floor->collections)
            f.collections += c.enabled ? 1 : 0;
        const QImage& plan = f.plan->Plan();
        const SurveyedArea area = AreaOf(f.survey, params, {});
        RunControl control;
        const int total = static_cast<int>(input.floors.size());
        control.progress = [&, n](int done, int all) {
            progress.Show(static_cast<int>(n) * all + done, total * all);
        };
        MetricSpec strongest;
        f.signal =
            MetricGrid(f.survey, strongest, params, plan.width(), plan.height(), control, &area);
        f.mask = area.Mask(f.signal.columns, f.signal.rows, f.signal.cell);
        f.atSignal = ShareOfArea(f.signal, f.mask, judged);
        if (second) {
            MetricSpec next;
            next.metric = Metric::Second;
            f.second = MetricGrid(f.survey, next, params, plan.width(), plan.height(), {}, &area);
            f.atSecond = ShareOfArea(f.second, f.mask, *second);
        }
    }
    // Floors of every access point, over the floors reported.
    std::vector<const SurveyRecords*> records;
    for (const FloorResult& f : floors)
        records.push_back(&f.survey.records);
    const std::vector<site::ApFloor> assigned = site::AssignFloors(records);

    QFile pdf;
    if (!pdf.open(output.Fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return Fail("cannot write " + o.out);
    QPdfWriter writer(&pdf);
    writer.setResolution(ReportPages::kResolution);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setTitle("Site survey report");
    writer.setCreator(QString("Ketrion ktd ") + kExportVersion);
    QPainter painter;
    if (!painter.begin(&writer))
        return Fail("cannot write " + o.out);
    ReportPages pages(writer, painter);

    // The title page: who and where, then every floor judged and each building as a whole.
    pages.Heading("Site survey report");
    std::vector<std::pair<QString, QString>> title;
    auto row = [&](const char* label, const std::string& value) {
        if (!value.empty())
            title.emplace_back(label, Text(value));
    };
    row("Site", o.site.empty() ? input.site.name : o.site);
    row("Client", o.client);
    row("Surveyor", o.surveyor);
    row("Date", o.date);
    row("Notes", o.notes);
    pages.TitleBlock(title);
    pages.Body("Site file: " + QString::fromStdString(o.path));
    pages.Body(QString("Buildings: %1, floors reported: %2, access points: %3")
                   .arg(input.site.buildings.size())
                   .arg(floors.size())
                   .arg(assigned.size()));
    if (damaged)
        pages.Small(
            "Some collections could not be read whole; the report covers what could be "
            "read (see the messages of ktd).");
    pages.Gap();
    pages.Subheading("Requirements");
    pages.Body((signal ? "Stated: signal " : "No requirement stated (--require); judged: signal ") +
               Dbm(judged) + " or better" +
               (second ? ", a second access point at " + Dbm(*second) + " or better" : QString()) +
               ", each over at least " + Percent(share) + " of the surveyed area.");
    std::vector<QString> header = {"Building", "Floor", "Points", "Signal " + Dbm(judged),
                                   "Result"};
    if (second)
        header.insert(header.end(), {"Second " + Dbm(*second), "Result"});
    std::vector<std::vector<QString>> rows;
    std::map<const site::Building*, std::pair<AreaShare, AreaShare>> buildings;
    for (const FloorResult& f : floors) {
        std::vector<QString> r = {Text(f.ref.building->name), Text(f.ref.floor->name),
                                  QString::number(f.survey.points.size()),
                                  Percent(f.atSignal.Share()),
                                  f.atSignal.Share() >= share ? "PASS" : "FAIL"};
        if (second)
            r.insert(r.end(),
                     {Percent(f.atSecond.Share()), f.atSecond.Share() >= share ? "PASS" : "FAIL"});
        rows.push_back(std::move(r));
        auto& [s1, s2] = buildings[f.ref.building];
        s1.nodes += f.atSignal.nodes;
        s1.valued += f.atSignal.valued;
        s1.meeting += f.atSignal.meeting;
        s2.nodes += f.atSecond.nodes;
        s2.valued += f.atSecond.valued;
        s2.meeting += f.atSecond.meeting;
    }
    for (const auto& [building, s] : buildings) {
        std::vector<QString> r = {Text(building->name), "whole building", "",
                                  Percent(s.first.Share()),
                                  s.first.Share() >= share ? "PASS" : "FAIL"};
        if (second)
            r.insert(r.end(),
                     {Percent(s.second.Share()), s.second.Share() >= share ? "PASS" : "FAIL"});
        rows.push_back(std::move(r));
    }
    pages.Table(header, rows);
    pages.Small("A building's share is over the surveyed area of all its floors together.");

    for (std::size_t n = 0; n < floors.size(); ++n) {
        const FloorResult& f = floors[n];
        const QImage& plan = f.plan->Plan();
        const QString floorTitle = Text(site::FloorTitle(*f.ref.building, *f.ref.floor));
        std::vector<QPoint> dots;
        for (const PlacedPoint& p : f.survey.points)
            dots.emplace_back(p.x, p.y);
        // The floor's page: what was surveyed, then the plan large with the
        // heatmap of the strongest signal over it.
        pages.NewPage();
        pages.Heading(floorTitle);
        pages.Body(QString("Floor %1, %2 m above the ground; collections switched on: %3, survey "
                           "points: %4")
                       .arg(f.ref.floor->order)
                       .arg(f.ref.floor->heightMetres, 0, 'f', 1)
                       .arg(f.collections)
                       .arg(f.survey.points.size()));
        // The heatmaps, with the access points of this floor where they probably stand.
        std::vector<heatmap::PlanMarker> markers;
        std::vector<std::vector<QString>> apRows;
        const std::vector<ApEstimate> estimates = EstimateAccessPoints(f.survey.records.points);
        for (const site::ApFloor& ap : assigned) {
            if (ap.floor != n)
                continue;
            for (const ApEstimate& e : estimates) {
                if (e.mac != ap.mac)
                    continue;
                const ketrion::PlanPoint p =
                    f.plan->Projection().ToPlan(e.position.latitude, e.position.longitude);
                heatmap::PlanMarker marker;
                marker.at =
                    QPoint(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
                marker.label =
                    QString::fromStdString(ValidUtf8(ap.ssid.empty() ? MacText(ap.mac) : ap.ssid));
                markers.push_back(marker);
                apRows.push_back(
                    {QString::fromStdString(MacText(ap.mac)), Text(ap.ssid), floorTitle,
                     ap.confidenceDb ? QString::number(*ap.confidenceDb, 'f', 1) + " dB"
                                     : QString("only floor"),
                     QString::number(ap.heard.front().strongest) + " dBm",
                     QString("%1, %2").arg(std::lround(p.x)).arg(std::lround(p.y))});
            }
        }
        auto heatmapPage = [&](const char* what, const Grid& grid, const MetricSpec& spec,
                               const AreaShare& at, double level, bool newPage) {
            if (newPage) {
                pages.NewPage();
                pages.Heading(floorTitle + ": " + what);
            } else {
                pages.Subheading(what);
            }
            pages.Verdict(QString("Surveyed area at %1 or better: %2 (required: %3)")
                              .arg(Dbm(level), Percent(at.Share()), Percent(share)),
                          at.Share() >= share);
            const heatmap::ColourScale scale = heatmap::ColourScale::ForMetric(spec, grid);
            QImage picture = heatmap::ComposePlanHeatmap(plan, grid, scale, dots);
            if (!picture.isNull()) {
                QPainter onPlan(&picture);
                heatmap::DrawMarkers(onPlan, markers, heatmap::AnnotationPixelSize(plan.size()));
            }
            pages.Heatmap(Shrunk(picture), scale);
        };
        heatmapPage("Strongest signal", f.signal, MetricSpec{}, f.atSignal, judged, false);
        if (second) {
            MetricSpec next;
            next.metric = Metric::Second;
            heatmapPage("second access point", f.second, next, f.atSecond, *second, true);
        }

        pages.NewPage();
        pages.Heading(floorTitle + ": access points");
        pages.Small(
            "Each access point is on the floor where its strongest readings were taken; "
            "how sure: how much stronger they are there than on the next floor.");
        pages.Table({"Address", "Network", "Floor", "How sure", "Strongest", "Plan x, y"}, apRows);
        const std::vector<site::Bleed> bleed = site::BleedOn(n, assigned);
        if (!bleed.empty()) {
            pages.Gap();
            pages.Subheading("Heard here from other floors");
            std::vector<std::vector<QString>> bleedRows;
            for (const site::Bleed& b : bleed)
                bleedRows.push_back({QString::fromStdString(MacText(b.mac)), Text(b.ssid),
                                     Text(site::FloorTitle(*floors[b.home].ref.building,
                                                           *floors[b.home].ref.floor)),
                                     QString::number(b.strongest) + " dBm",
                                     QString::number(b.points)});
            pages.Table({"Address", "Network", "Its floor", "Strongest here", "Points"}, bleedRows);
        }
    }
    const bool ended = painter.end();
    const bool flushed = pdf.flush();
    const qint64 length = pdf.pos();
    struct stat st {};
    const bool whole = ::fstat(output.Fd(), &st) == 0 && st.st_size == length && length > 0;
    if (!ended || !flushed || pdf.error() != QFileDevice::NoError || !whole)
        return Fail("cannot write " + o.out + ": the PDF was not written whole");
    pdf.close();
    if (!output.Commit())
        return Fail(output.Error());
    progress.Stage("done");
    return damaged ? kDamaged : 0;
}

}  // namespace ketrion::ktd
