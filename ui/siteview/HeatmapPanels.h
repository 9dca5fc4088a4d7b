#pragma once

#include "ui/siteview/ApPanel.h"

class QDockWidget;
class QWidget;

namespace ketrion {

class HeatmapControls;
class HeatmapLayer;

// The windows that come with the heatmap: its tool window (metric, access
// point, opacity) and, at desktop sizes, the estimated access points' list in
// a dock at the frame's right side (a tool window of its own when the view is
// in no main window). Made when the heatmap is first shown, then shown and
// hidden with it. UI thread only.
class HeatmapPanels {
public:
    // `view` parents the windows; `heatmap` must outlive the panels.
    HeatmapPanels(HeatmapLayer& heatmap, QWidget& view);

    // Shows or hides the windows; the list is made only when `desktop`.
    void SetShown(bool show, bool desktop);
    // The heatmap's tool window; null until the layer is first shown.
    HeatmapControls* Controls() const { return m_controls; }
    // The access points' list; null until the heatmap is first shown at a desktop size.
    ApPanel* AccessPoints() const { return m_apPanel; }
    // Where the list takes channel, band and security from (the side store).
    void SetApDetailsSource(ApDetailsSource source);

private:
    void CreateApPanel();

    HeatmapLayer& m_heatmap;
    QWidget& m_view;
    HeatmapControls* m_controls = nullptr;
    ApPanel* m_apPanel = nullptr;
    QDockWidget* m_apDock = nullptr;
    ApDetailsSource m_apDetails;
};

}  // namespace ketrion
