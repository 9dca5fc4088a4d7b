#include "tools/ktd/ReportProfile.h"

#include <cmath>

#include "render/HeatmapImage.h"

namespace ketrion::ktd {

namespace {

using namespace ketrion::analysis;

QString BandTitle(const std::optional<Band>& band) {
    return band ? QString("%1 GHz").arg(QString::fromLatin1(BandName(*band)))
                : QString("all bands");
}

QString Percent(double share) {
    return QString::number(SharePercent(share), 'f', 1) + " %";
}

QString Least(Measure m, double v) {
    const QString figure = QString::number(v, 'g', 6);
    switch (m) {
        case Measure::Snr:
        case Measure::Sir:
            return figure + " dB";
        case Measure::Width:
            return figure + " MHz";
        default:
            return figure + " dBm";
    }
}

QString RequiredText(const Requirements& r) {
    QString out;
    for (std::size_t i = 0; i < kMeasures; ++i) {
        if (!r.least[i])
            continue;
        const auto m = static_cast<Measure>(i);
        out += (out.isEmpty() ? "" : ", ") + QString::fromLatin1(MeasureTitle(m)) + " " +
               Least(m, *r.least[i]);
    }
    return out;
}

// The legend of the "why it fails" map: passing, then each requirement.
heatmap::ColourScale WhyScale() {
    std::vector<heatmap::ColourScale::Step> classes = {{0, "passes"}};
    for (std::size_t i = 0; i < kMeasures; ++i)
        classes.push_back({1.0 + static_cast<double>(i),
                           "fails: " + QString::fromLatin1(MeasureTitle(static_cast<Measure>(i)))});
    heatmap::ColourScale scale = heatmap::ColourScale::Classes("Why it fails", classes);
    return scale;
}

}  // namespace

void AddProfileSummary(ReportPages& pages, const Profile& profile,
                       const std::vector<BandVerdict>& verdicts) {
    pages.Subheading("Profile \"" + QString::fromStdString(profile.name) + "\"");
    for (const BandVerdict& bv : verdicts)
        pages.Verdict(QString("%1: %2 of the surveyed area meets the profile (required: %3)")
                          .arg(BandTitle(bv.band), Percent(bv.verdict.area.Share()),
                               Percent(profile.areaShare)),
                      bv.verdict.area.Pass());
}

void AddProfilePages(ReportPages& pages, const Profile& profile,
                     const std::vector<BandVerdict>& verdicts, const heatmap::PrintedPlan& plan,
                     const heatmap::PointsLayer& points) {
    for (const BandVerdict& bv : verdicts) {
        const ProfileVerdict& v = bv.verdict;
        pages.NewPage();
        pages.Heading("Profile \"" + QString::fromStdString(profile.name) + "\", " +
                      BandTitle(bv.band));
        pages.Body("Requirements: " + RequiredText(v.requirements));
        pages.Verdict(QString("Surveyed area meeting them: %1 (required: %2)")
                          .arg(Percent(v.area.Share()), Percent(profile.areaShare)),
                      v.area.Pass());
        std::size_t passing = 0;
        for (const PointVerdict& p : v.points)
            passing += p.fails ? 0 : 1;
        pages.Body(
            QString("Survey points meeting them: %1 of %2").arg(passing).arg(v.points.size()));
        std::vector<std::vector<QString>> rows;
        for (std::size_t i = 0; i < kMeasures; ++i)
            if (v.area.failsFirst[i] > 0 && v.area.nodes > 0)
                rows.push_back({QString::fromLatin1(MeasureTitle(static_cast<Measure>(i))),
                                Percent(static_cast<double>(v.area.failsFirst[i]) /
                                        static_cast<double>(v.area.nodes))});
        if (!rows.empty())
            pages.Table({"Fails first on", "Share of the area"}, rows);
        pages.Gap();
        const heatmap::ColourScale scale = WhyScale();
        pages.Heatmap(plan.Heatmap(v.why, scale, points), scale);
    }
}

}  // namespace ketrion::ktd
