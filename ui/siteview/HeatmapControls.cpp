#include "ui/siteview/HeatmapControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

#include "analysis/Metrics.h"
#include "ui/siteview/HeatmapLayer.h"

namespace ketrion {

namespace {

using analysis::Metric;

struct MetricChoice {
    Metric metric;
    const char* title;
};

constexpr MetricChoice kMetrics[] = {
    {Metric::Strongest, "Strongest signal"},
    {Metric::Second, "Second strongest signal"},
    {Metric::Count, "Access points heard"},
    {Metric::Ap, "One access point"},
    {Metric::Ssid, "One network"},
    {Metric::Coverage, "Coverage"},
    {Metric::ChannelOverlap, "Channel overlap"},
    {Metric::Snr, "Signal to noise"},
    {Metric::Third, "Third strongest access point"},
    {Metric::Sir, "Signal to interference"},
    {Metric::Width, "Channel width"},
    {Metric::Phy, "PHY generation"},
    {Metric::Rate, "Expected data rate"},
};

// The band chooser: its title and the band's name as analysis::ParseBand takes it.
struct BandChoice {
    const char* title;
    const char* band;
};

constexpr BandChoice kBands[] = {
    {"All bands", ""}, {"2.4 GHz", "2.4"}, {"5 GHz", "5"}, {"6 GHz", "6"}};

constexpr int kLegendPixelSize = 11;

}  // namespace

HeatmapControls::HeatmapControls(HeatmapLayer& layer, QWidget* parent)
    : QWidget(parent, Qt::Tool), m_layer(layer) {
    setWindowTitle(QStringLiteral("Heatmap"));
    setObjectName(QStringLiteral("heatmapControls"));

    m_metric = new QComboBox(this);
    for (const MetricChoice& choice : kMetrics)
        m_metric->addItem(QString::fromLatin1(choice.title),
                          QString::fromLatin1(analysis::MetricName(choice.metric)));
    m_band = new QComboBox(this);
    m_band->setToolTip(
        QStringLiteral("Only readings on this band (readings of unknown band are left out)"));
    for (const BandChoice& choice : kBands)
        m_band->addItem(QString::fromLatin1(choice.title), QString::fromLatin1(choice.band));
    m_target = new QComboBox(this);
    m_target->setMinimumContentsLength(16);
    m_target->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_targetLabel = new QLabel(QStringLiteral("Access point"), this);
    m_threshold = new QSpinBox(this);
    m_threshold->setRange(-100, -20);
    m_threshold->setSuffix(QStringLiteral(" dBm"));
    m_threshold->setValue(static_cast<int>(analysis::kDefaultThreshold));
    m_thresholdLabel = new QLabel(QStringLiteral("At least"), this);
    m_opacity = new QSlider(Qt::Horizontal, this);
    m_opacity->setRange(0, 100);
    m_opacity->setValue(static_cast<int>(std::lround(layer.Opacity() * 100)));
    m_aps = new QCheckBox(QStringLiteral("Show estimated access points"), this);
    m_aps->setChecked(layer.ShowAps());
    m_legend = new QLabel(this);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    auto* close = new QPushButton(QStringLiteral("Close"), this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Metric"), m_metric);
    form->addRow(QStringLiteral("Band"), m_band);
    form->addRow(m_targetLabel, m_target);
    form->addRow(m_thresholdLabel, m_threshold);
    form->addRow(QStringLiteral("Opacity"), m_opacity);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_aps);
    layout->addWidget(m_legend);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_metric, &QComboBox::currentIndexChanged, this, [this] {
        FillTargets();
        ApplySpec();
    });
    connect(m_band, &QComboBox::currentIndexChanged, this, [this] { ApplySpec(); });
    connect(m_target, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_filling)
            ApplySpec();
    });
    connect(m_threshold, &QSpinBox::valueChanged, this, [this] { ApplySpec(); });
    connect(m_opacity, &QSlider::valueChanged, this,
            [this](int value) { m_layer.SetOpacity(value / 100.0); });
    connect(m_aps, &QCheckBox::toggled, this, [this](bool on) { m_layer.SetShowAps(on); });
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    connect(&m_layer, &HeatmapLayer::resultReady, this, &HeatmapControls::ShowResult);
    connect(&m_layer, &HeatmapLayer::busyChanged, this, &HeatmapControls::ShowBusy);

    // Show the layer's current choice.
    const QString current = QString::fromLatin1(analysis::MetricName(layer.Spec().metric));
    {
        const QSignalBlocker block(m_metric);
        m_metric->setCurrentIndex(std::max(0, m_metric->findData(current)));
    }
    if (layer.Spec().band) {
        const QSignalBlocker block(m_band);
        m_band->setCurrentIndex(std::max(
            0, m_band->findData(QString::fromLatin1(analysis::BandName(*layer.Spec().band)))));
    }
    FillTargets();
    ShowResult();
    ShowBusy(layer.IsComputing());
}

bool HeatmapControls::ChooseMetric(const QString& name) {
    const int index = m_metric->findData(name);
    if (index < 0)
        return false;
    m_metric->setCurrentIndex(index);
    return true;
}

bool HeatmapControls::ChooseTarget(const QString& value) {
    const int index = m_target->findData(value);
    if (index < 0)
        return false;
    m_target->setCurrentIndex(index);
    return true;
}

void HeatmapControls::ApplySpec() {
    analysis::MetricSpec spec;
    spec.metric = analysis::ParseMetric(m_metric->currentData().toString().toStdString())
                      .value_or(Metric::Strongest);
    const QString target = m_target->currentData().toString();
    if (spec.metric == Metric::Ap) {
        if (auto mac = analysis::ParseMac(target.toStdString()))
            spec.mac = *mac;
    } else if (spec.metric == Metric::Ssid) {
        spec.ssid = target.toUtf8().toStdString();
    }
    spec.threshold = m_threshold->value();
    spec.band = analysis::ParseBand(m_band->currentData().toString().toStdString());
    m_layer.SetSpec(spec);
}

void HeatmapControls::FillTargets() {
    const Metric metric = analysis::ParseMetric(m_metric->currentData().toString().toStdString())
                              .value_or(Metric::Strongest);
    const bool ap = metric == Metric::Ap;
    const bool ssid = metric == Metric::Ssid;
    m_targetLabel->setText(ssid ? QStringLiteral("Network") : QStringLiteral("Access point"));
    m_targetLabel->setVisible(ap || ssid);
    m_target->setVisible(ap || ssid);
    m_thresholdLabel->setVisible(metric == Metric::Coverage);
    m_threshold->setVisible(metric == Metric::Coverage);

    const QString kept = m_target->currentData().toString();
    m_filling = true;
    m_target->clear();
    if (m_layer.HasResult()) {
        const HeatmapResult& result = m_layer.Result();
        if (ap) {
            for (const analysis::ApEstimate& estimate : result.aps) {
                const QString mac = QString::fromStdString(analysis::MacText(estimate.mac));
                QString title = mac;
                if (!estimate.ssid.empty())
                    title += QStringLiteral("  ") + QString::fromUtf8(estimate.ssid);
                m_target->addItem(title, mac);
            }
        } else if (ssid) {
            for (const std::string& name : result.networks) {
                const QString text = QString::fromUtf8(name);
                m_target->addItem(text.isEmpty() ? QStringLiteral("(hidden)") : text, text);
            }
        }
    }
    const int index = m_target->findData(kept);
    m_target->setCurrentIndex(index >= 0 ? index : (m_target->count() > 0 ? 0 : -1));
    m_filling = false;
}

void HeatmapControls::ShowResult() {
    if (!m_layer.HasResult()) {
        m_legend->clear();
        return;
    }
    const QString before = m_target->currentData().toString();
    FillTargets();
    // A first list of access points or networks picks one for the metric.
    if (m_target->currentData().toString() != before)
        ApplySpec();

    const QSize size = m_layer.LegendSize(kLegendPixelSize);
    if (size.isValid() && !size.isEmpty()) {
        const qreal ratio = devicePixelRatioF();
        QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        m_layer.DrawLegend(painter, QPoint(size.width(), 0), kLegendPixelSize);
        painter.end();
        m_legend->setPixmap(QPixmap::fromImage(image));
    }
    ShowBusy(m_layer.IsComputing());
}

void HeatmapControls::ShowBusy(bool busy) {
    if (busy) {
        m_status->setText(QStringLiteral("Computing..."));
        return;
    }
    if (!m_layer.HasResult()) {
        m_status->clear();
        return;
    }
    const HeatmapResult& result = m_layer.Result();
    QString status = QStringLiteral("%1 survey points").arg(result.points);
    if (!result.damage.empty())
        status += QStringLiteral("\n") + QString::fromStdString(result.damage);
    m_status->setText(status);
}

}  // namespace ketrion
