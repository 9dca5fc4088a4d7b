// `ktd report`: the survey as a PDF for the people who asked for it. Page one
// gives the file, the points, the time span and the coverage figures over the
// strongest-signal heatmap; then a page per network name with its own heatmap;
// then the table of access points with their estimated positions
// (analysis/ApEstimate.h).

#include "tools/ktd/ReportCommand.h"

#include <sys/stat.h>

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPoint>
#include <QString>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "analysis/ApEstimate.h"
#include "analysis/ExportText.h"
#include "analysis/Grid.h"
#include "analysis/Idw.h"
#include "analysis/Metrics.h"
#include "analysis/PlacedSurvey.h"
#include "survey/OutputFile.h"
#include "tools/ktd/HeatmapInput.h"
#include "tools/ktd/SurveyDetails.h"
#include "ui/analysis/HeatmapImage.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

constexpr int kResolution = 150;  // dots per inch of the page coordinates
constexpr double kGoodSignal = -67;
constexpr double kFairSignal = -75;
constexpr int kLargestPicture = 2000;  // pixels across a heatmap picture in the PDF

struct ReportOptions {
    std::string projection;
    std::string path;
    std::string out;
    Selection selection;
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

QString UtcText(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[40];
    if (gmtime_r(&t, &tm) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm) == 0)
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

QString Percent(double share) {
    return QString::number(share * 100.0, 'f', 1) + " %";
}

// Lays out a report on the pages of a PDF, top to bottom.
class Pages {
public:
    Pages(QPdfWriter& writer, QPainter& painter)
        : m_writer(writer), m_painter(painter), m_area(painter.viewport()) {
        m_body.setFamily("DejaVu Sans");
        m_body.setPixelSize(kResolution / 6);  // 12 pt
        m_heading = m_body;
        m_heading.setPixelSize(kResolution / 4);
        m_heading.setBold(true);
        m_small = m_body;
        m_small.setPixelSize(kResolution / 8);
    }

    void NewPage() {
        m_writer.newPage();
        m_y = 0;
    }
    void Heading(const QString& text) { Line(text, m_heading, m_heading.pixelSize() / 2); }
    void Body(const QString& text) { Line(text, m_body, 0); }
    void Small(const QString& text) { Line(text, m_small, 0); }
    void Gap() { m_y += m_body.pixelSize(); }

    // A picture as wide as the page allows, within the height left.
    void Picture(const QImage& image) {
        if (image.isNull())
            return;
        const int left = m_area.height() - m_y;
        QSize size = image.size().scaled(m_area.width(), std::max(left, 1), Qt::KeepAspectRatio);
        m_painter.drawImage(QRect(QPoint(0, m_y), size), image);
        m_y += size.height() + m_body.pixelSize() / 2;
    }

    // A table with a header row, a new page (with the header again) when the
    // page is full. `widths` are shares of the page width.
    void Table(const std::vector<QString>& header, const std::vector<double>& widths,
               const std::vector<std::vector<QString>>& rows) {
        const QFontMetrics metrics(m_small);
        const int line = metrics.height() + 4;
        auto row = [&](const std::vector<QString>& cells, bool bold) {
            QFont font = m_small;
            font.setBold(bold);
            m_painter.setFont(font);
            int x = 0;
            for (std::size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
                const int w = static_cast<int>(widths[c] * m_area.width());
                const QString text = QFontMetrics(font).elidedText(cells[c], Qt::ElideRight, w - 6);
                m_painter.drawText(QPoint(x, m_y + metrics.ascent()), text);
                x += w;
            }
            m_y += line;
            if (bold)
                m_painter.drawLine(0, m_y - 3, m_area.width(), m_y - 3);
        };
        row(header, true);
        for (const auto& cells : rows) {
            if (m_y + line > m_area.height()) {
                NewPage();
                row(header, true);
            }
            row(cells, false);
        }
        m_y += line / 2;
    }

private:
    // A paragraph, wrapped at the page width.
    void Line(const QString& text, const QFont& font, int below) {
        const QFontMetrics metrics(font);
        const QRect bounds = metrics.boundingRect(QRect(0, 0, m_area.width(), m_area.height()),
                                                  Qt::TextWordWrap, text);
        if (m_y + bounds.height() > m_area.height())
            NewPage();
        m_painter.setFont(font);
        m_painter.drawText(QRect(0, m_y, m_area.width(), bounds.height()), Qt::TextWordWrap, text);
        m_y += bounds.height() + below;
    }

    QPdfWriter& m_writer;
    QPainter& m_painter;
    QRect m_area;
    QFont m_body, m_heading, m_small;
    int m_y = 0;
};

QImage Shrunk(const QImage& image) {
    if (image.width() <= kLargestPicture && image.height() <= kLargestPicture)
        return image;
    return image.scaled(kLargestPicture, kLargestPicture, Qt::KeepAspectRatio,
                        Qt::SmoothTransformation);
}

QString ParamsText(const IdwParams& p) {
    return QString(
               "Inverse distance weighting over plan pixels: cell %1 px, radius %2 px, at most "
               "%3 nearest points, weight 1/d^%4. Areas farther than the radius from every "
               "survey point are left uncoloured.")
        .arg(p.cell)
        .arg(p.radius)
        .arg(p.maxPoints)
        .arg(p.power);
}

int RunReport(const ReportOptions& o) {
    // The PDF is written whole or not at all, never over an input.
    const std::vector<files::Input> inputs = {{o.path, "collection file"},
                                              {o.projection, "projection file"}};
    files::OutputFile output;
    if (!output.Open(o.out, inputs))
        return Fail(output.Error());
    auto app = MakeGuiApplication();
    std::string error;
    PlanInput input;
    if (!input.Load(o.projection, error))
        return Fail(error);
    PlacedSurvey survey;
    const ReadResult read = LoadPlacedSurvey(o.path, input.Projection(), survey);
    if (read == ReadResult::NotOpened)
        return Fail(survey.records.damage);
    SelectSurvey(survey, o.selection);

    const QImage& plan = input.Plan();
    const IdwParams params;
    std::vector<QPoint> dots;
    for (const PlacedPoint& p : survey.points)
        dots.emplace_back(p.x, p.y);
    const std::vector<std::string> networks = NetworkNames(survey);
    const int stages = 1 + static_cast<int>(networks.size());
    Progress progress("report");
    auto grid = [&](const MetricSpec& spec, int stage) {
        RunControl control;
        control.progress = [&, stage](int done, int total) {
            progress.Show(stage * total + done, stages * total);
        };
        return MetricGrid(survey, spec, params, plan.width(), plan.height(), control);
    };

    // Qt's PDF writer can end "successfully" after failed writes: it writes
    // through a QFile on the new file, whose error state and size are checked.
    QFile pdf;
    if (!pdf.open(output.Fd(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
        return Fail("cannot write " + o.out);
    QPdfWriter writer(&pdf);
    writer.setResolution(kResolution);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    writer.setTitle("Site survey report");
    writer.setCreator(QString("Ketrion ktd ") + kExportVersion);
    QPainter painter;
    if (!painter.begin(&writer))
        return Fail("cannot write " + o.out);
    Pages pages(writer, painter);

    // Page one: the survey as a whole.
    const MetricSpec strongestSpec;
    const Grid strongest = grid(strongestSpec, 0);
    pages.Heading("Site survey report");
    pages.Body("Collection file: " + QString::fromStdString(o.path));
    pages.Body("Site plan: " + QString::fromStdString(o.projection) +
               QString(" (%1 x %2 pixels)").arg(plan.width()).arg(plan.height()));
    pages.Body(QString("Survey points: %1").arg(survey.points.size()) +
               (survey.dynamicAps.empty()
                    ? QString()
                    : QString(", placed access points: %1").arg(survey.dynamicAps.size())));
    std::int64_t first = 0, last = 0;
    if (TimeSpan(survey, first, last))
        pages.Body("Time span: " + UtcText(first) + " to " + UtcText(last) + " UTC (" +
                   DurationText(last - first) + ")");
    else
        pages.Body("Time span: no point holds a GPS time");
    pages.Body(QString("Networks: %1, access points: ").arg(networks.size()) +
               QString::number(EstimateAccessPoints(survey.records.points).size()));
    pages.Gap();
    pages.Body("Surveyed area at -67 dBm or better: " +
               Percent(ShareAtLeast(strongest, kGoodSignal)));
    pages.Body("Surveyed area at -75 dBm or better: " +
               Percent(ShareAtLeast(strongest, kFairSignal)));
    if (read == ReadResult::Damaged)
        pages.Small("The collection file is damaged; the report covers what could be read: " +
                    Text(survey.records.damage));
    pages.Gap();
    pages.Small(ParamsText(params));
    pages.Picture(Shrunk(heatmap::ComposeHeatmap(
        plan, strongest, heatmap::ColourScale::ForMetric(strongestSpec, strongest), dots)));

    // A page per network name.
    const std::vector<ApEstimate> aps = EstimateAccessPoints(survey.records.points);
    for (std::size_t n = 0; n < networks.size(); ++n) {
        MetricSpec spec;
        spec.metric = Metric::Ssid;
        spec.ssid = networks[n];
        const Grid g = grid(spec, 1 + static_cast<int>(n));
        std::size_t heard = 0;
        for (const PlacedPoint& p : survey.points)
            if (PointValue(survey.Record(p), p.strongest, spec) > kNotHeard)
                ++heard;
        std::size_t apCount = 0;
        for (const ApEstimate& ap : aps)
            apCount += ap.ssid == networks[n] ? 1 : 0;
        pages.NewPage();
        pages.Heading("Network " + NetworkTitle(networks[n]));
        pages.Body(QString("Heard above -100 dBm at %1 of %2 survey points, access points: %3")
                       .arg(heard)
                       .arg(survey.points.size())
                       .arg(apCount));
        pages.Body("Surveyed area at -67 dBm or better: " + Percent(ShareAtLeast(g, kGoodSignal)));
        pages.Body("Surveyed area at -75 dBm or better: " + Percent(ShareAtLeast(g, kFairSignal)));
        pages.Gap();
        pages.Picture(Shrunk(
            heatmap::ComposeHeatmap(plan, g, heatmap::ColourScale::ForMetric(spec, g), dots)));
    }

    // The access points and where they probably stand.
    pages.NewPage();
    pages.Heading("Access points");
    pages.Small(QString("Estimated position: the milliwatt-weighted centroid of each access "
                        "point's %1 strongest readings; the spread is their weighted RMS "
                        "distance from it.")
                    .arg(kApEstimateReadings));
    pages.Gap();
    std::vector<std::vector<QString>> rows;
    for (const ApEstimate& ap : aps) {
        const Centroid& c = ap.position;
        const int units[2] = {static_cast<int>(std::lround(c.latitude * 3600000.0)),
                              static_cast<int>(std::lround(c.longitude * 3600000.0))};
        rows.push_back({QString::fromStdString(MacText(ap.mac)), NetworkTitle(ap.ssid),
                        QString::number(ap.pointsHeard),
                        QString::fromStdString(DbmText(ap.strongest)) + " dBm",
                        QString::number(c.latitude, 'f', 6), QString::number(c.longitude, 'f', 6),
                        QString::number(c.uncertainty, 'f', 1) + " m" + (ap.fromFixes ? "" : " *"),
                        QString("%1, %2")
                            .arg(input.Projection().PlanX(units[0], units[1]))
                            .arg(input.Projection().PlanY(units[0], units[1]))});
    }
    pages.Table({"Address", "Network", "Points", "Strongest", "Latitude", "Longitude", "Spread",
                 "Plan x, y"},
                {0.17, 0.2, 0.07, 0.1, 0.12, 0.12, 0.1, 0.12}, rows);
    if (std::any_of(aps.begin(), aps.end(), [](const ApEstimate& ap) { return !ap.fromFixes; }))
        pages.Small("* estimated from points without a GPS fix");
    const bool ended = painter.end();
    const bool flushed = pdf.flush();
    const qint64 length = pdf.pos();
    struct stat st {};
    const bool whole = ::fstat(output.Fd(), &st) == 0 && st.st_size == length && length > 0;
    if (!ended || !flushed || pdf.error() != QFileDevice::NoError || !whole) {
        const std::string reason = pdf.error() != QFileDevice::NoError
                                       ? pdf.errorString().toStdString()
                                       : std::string("the PDF was not written whole");
        return Fail("cannot write " + o.out + ": " + reason);
    }
    pdf.close();
    if (!output.Commit())
        return Fail(output.Error());
    progress.Stage("done");

    if (read == ReadResult::Damaged) {
        std::fprintf(stderr, "ktd: %s\n", survey.records.damage.c_str());
        return kDamaged;
    }
    return 0;
}

}  // namespace

void AddReportCommand(CLI::App& app, int& status) {
    CLI::App* command =
        app.add_subcommand("report", "write a PDF report: heatmaps, coverage, access points");
    auto o = std::make_shared<ReportOptions>();
    command->add_option("--projection", o->projection, "projection file (.ktp)")->required();
    command->add_option("-o,--output", o->out, "PDF file to write")->required();
    AddIncludeNoFix(*command, o->selection);
    command->add_option("FILE", o->path, "collection file (.ktd)")->required();
    command->callback([&status, o] { status = RunReport(*o); });
}

}  // namespace ketrion::ktd
