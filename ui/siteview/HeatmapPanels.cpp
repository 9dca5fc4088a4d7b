#include "ui/siteview/HeatmapPanels.h"

#include <QDockWidget>
#include <QMainWindow>

#include <utility>

#include "ui/siteview/HeatmapControls.h"
#include "ui/siteview/HeatmapLayer.h"

namespace ketrion {

HeatmapPanels::HeatmapPanels(HeatmapLayer& heatmap, QWidget& view)
    : m_heatmap(heatmap), m_view(view) {}

void HeatmapPanels::SetShown(bool show, bool desktop) {
    if (show) {
        if (m_controls == nullptr)
            m_controls = new HeatmapControls(m_heatmap, &m_view);
        if (m_apPanel == nullptr && desktop)
            CreateApPanel();
    }
    if (m_controls != nullptr)
        m_controls->setVisible(show);
    if (m_apDock != nullptr)
        m_apDock->setVisible(show);
}

void HeatmapPanels::CreateApPanel() {
    m_apPanel = new ApPanel;
    m_apPanel->SetDetailsSource(m_apDetails);
    auto* main = qobject_cast<QMainWindow*>(m_view.window());
    QWidget* owner = main != nullptr ? static_cast<QWidget*>(main) : &m_view;
    m_apDock = new QDockWidget(QStringLiteral("Access points"), owner,
                               main != nullptr ? Qt::WindowFlags() : Qt::Tool);
    m_apDock->setObjectName(QStringLiteral("accessPointsDock"));
    m_apDock->setWidget(m_apPanel);
    if (main != nullptr)
        main->addDockWidget(Qt::RightDockWidgetArea, m_apDock);
    QObject::connect(&m_heatmap, &HeatmapLayer::resultReady, m_apPanel,
                     [this] { m_apPanel->Show(m_heatmap.Result().aps); });
    if (m_heatmap.HasResult())
        m_apPanel->Show(m_heatmap.Result().aps);
}

void HeatmapPanels::SetApDetailsSource(ApDetailsSource source) {
    m_apDetails = std::move(source);
    if (m_apPanel != nullptr)
        m_apPanel->SetDetailsSource(m_apDetails);
}

}  // namespace ketrion
