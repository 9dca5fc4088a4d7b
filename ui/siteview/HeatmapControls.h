#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class QSpinBox;

namespace ketrion {

class HeatmapLayer;

// The heatmap's small tool window: the metric, the band, the access point or network
// it is about, the coverage threshold, the opacity, the access-point markers
// and the legend of what is drawn. Every change goes to the layer at once.
class HeatmapControls : public QWidget {
    Q_OBJECT
public:
    HeatmapControls(HeatmapLayer& layer, QWidget* parent = nullptr);

    // The metric names in the chooser's order ("strongest" .. "channel-overlap").
    QComboBox* MetricBox() const { return m_metric; }
    // The band filter (data: "", "2.4", "5" or "6").
    QComboBox* BandBox() const { return m_band; }
    // Access points (data: address text) or network names (data: the name).
    QComboBox* TargetBox() const { return m_target; }
    QSpinBox* ThresholdBox() const { return m_threshold; }
    QSlider* OpacitySlider() const { return m_opacity; }
    QCheckBox* ApsBox() const { return m_aps; }
    QLabel* LegendLabel() const { return m_legend; }
    QLabel* StatusLabel() const { return m_status; }

    // Chooses the metric by its name; false when there is none of that name.
    bool ChooseMetric(const QString& name);
    // Chooses the access point or network whose data is `value`.
    bool ChooseTarget(const QString& value);

private:
    void ApplySpec();
    // Fills the target chooser for the metric from the last result, keeping
    // the choice when it is still offered.
    void FillTargets();
    void ShowResult();
    void ShowBusy(bool busy);

    HeatmapLayer& m_layer;
    QComboBox* m_metric = nullptr;
    QComboBox* m_band = nullptr;
    QLabel* m_targetLabel = nullptr;
    QComboBox* m_target = nullptr;
    QLabel* m_thresholdLabel = nullptr;
    QSpinBox* m_threshold = nullptr;
    QSlider* m_opacity = nullptr;
    QCheckBox* m_aps = nullptr;
    QLabel* m_legend = nullptr;
    QLabel* m_status = nullptr;
    bool m_filling = false;
};

}  // namespace ketrion
