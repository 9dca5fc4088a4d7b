#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPoint>

#include <memory>

#include "ui/shell/Commands.h"
#include "ui/siteview/HeatmapPanels.h"
#include "ui/siteview/PlanNavigator.h"
#include "ui/siteview/PositionMarker.h"
#include "ui/siteview/SiteBands.h"
#include "ui/siteview/SurveyCommands.h"
#include "ui/siteview/SurveyLayer.h"
#include "ui/siteview/ViewInput.h"

class QPainter;

namespace ketrion {

class Dialogs;
class HeatmapLayer;
struct Services;

// The view on which all survey work happens. Composes its parts: the
// navigator (layout, scroll bars, zoom, keys), the input (taps,
// tap-and-hold, drags, wheel, pinch), the survey commands (files, recording,
// placing, undo) and the bands (location, zoom, alerts), and paints the
// picture double-buffered: plan, heatmap, survey points, walk, position
// marker, bands and colour legend (or the instruction screen before a
// collection file is chosen). Follows the survey session's announcements of
// point changes. Runs on the UI thread only; it reads the process-wide
// objects of `Services` and owns no survey data.
//
// At the handheld's size the picture is the handheld's, pixel for pixel; at
// wider sizes the back buffer has the screen's device pixel ratio.
class CSiteView : public QAbstractScrollArea,
                  public CommandTarget,
                  public EngineEventTarget,
                  private ViewInputTarget,
                  private SurveyCommandsView {
    Q_OBJECT
public:
    using FileKind = SurveyCommands::FileKind;

    // Uses the real file dialogs and message boxes.
    explicit CSiteView(Services& services, QWidget* parent = nullptr);
    // Asks every question through `dialogs`, which must outlive the view.
    CSiteView(Services& services, Dialogs& dialogs, QWidget* parent = nullptr);
    ~CSiteView() override;

    // Commands (CommandTarget): the survey, zoom and view commands; other
    // ids are ignored.
    void OnCommand(int id) override;
    // A source's news, on the UI thread: alert bands and sounds.
    void OnEngineEvent(const EngineEvent& event) override;
    // Shows both scroll bars and repaints; the frame calls it once after creation.
    void OnInitialUpdate();

    SurveyCommands& Commands() { return *m_commands; }
    PlanNavigator& Navigator() { return m_navigator; }
    const PlanNavigator& Navigator() const { return m_navigator; }
    const SiteBands& Bands() const { return m_bands; }

    // The frame's ways in to the commands.
    bool OpenProjectionPath(const QString& path) { return m_commands->OpenProjectionPath(path); }
    bool OpenCollectionPath(const QString& path) { return m_commands->OpenCollectionPath(path); }
    bool NewCollectionPath(const QString& path) { return m_commands->NewCollectionPath(path); }
    bool IsCollecting() const { return m_commands->IsRecording(); }
    // Replaces the dialogs (the autopilot answers them itself). Must outlive the view.
    void SetDialogs(Dialogs& dialogs) { m_commands->SetDialogs(dialogs); }

    // Painting: composes the whole picture for the current client size, as
    // a paint puts it on screen (at the device pixel ratio, which the image carries).
    QImage Render();
    void Draw(QPainter& target);

    // Installs `image` as the plan image and sets the plan up for it, as
    // loading a projection does; a null image changes nothing.
    void SetPlanImage(const QImage& image);
    const QImage& PlanImage() const { return m_planImage; }

    // A layer drawn between the plan and the survey points (a heatmap, say),
    // in client coordinates with the plan-to-client transform; the painter
    // already scales to the device pixel ratio. The view keeps its picture of
    // plan, overlay and points between paints: call SetOverlay again (or
    // UpdateOverlay) when what the overlay draws has changed. An empty
    // function removes it. The overlay runs on the UI thread inside a paint.
    using Overlay = SurveyLayer::Overlay;
    void SetOverlay(Overlay overlay);
    void UpdateOverlay();

    // The colour legend: shown at desktop sizes unless the user chose otherwise.
    bool IsLegendShown() const;
    void ToggleLegend();
    // The heatmap layer with its tool window and the access points' list.
    bool IsHeatmapShown() const;
    void ToggleHeatmap();
    HeatmapLayer& Heatmap() { return *m_heatmap; }
    HeatmapPanels& HeatmapWindows() { return *m_heatmapPanels; }

    // Tap-and-hold delay; tests shorten it.
    void SetTapAndHoldDelay(int milliseconds) { m_input.SetHoldDelay(milliseconds); }
    // Renders at this device pixel ratio instead of the screen's (0: the screen's).
    void SetDevicePixelRatioOverride(double ratio) { m_ratioOverride = ratio; }
    // Device pixels per client pixel of the back buffer (1 at the handheld size).
    double RenderRatio() const;

signals:
    // A file was opened or created (the frame keeps the recent files).
    void fileOpened(CSiteView::FileKind kind, const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    CSiteView(Services& services, Dialogs* dialogs, QWidget* parent);
    // ViewInputTarget
    void InputTap(QPoint at, bool held) override;
    bool InputCanDrag() const override;
    void InputPan(QPointF delta) override;
    void InputZoomAt(double factor, QPointF at) override;
    bool InputScroll(QPointF delta) override;
    // SurveyCommandsView
    void InstallPlanImage(const QImage& image) override;
    void SurveyReplaced() override;
    void Refresh() override;
    void RepaintNow() override;

    // A change of the survey's points, on the UI thread.
    void OnPointsChanged(SurveySession::PointChange change);
    // The blank plan shown until a projection is opened.
    void InstallBlankPlan();
    int DiscRadius(double ratio) const;
    // The desktop legend's text size and its box in the viewport.
    static int LegendTextSize(QPainter& dc);
    QRect ScaleLegendRect(QPainter& dc) const;

    Services& m_services;
    std::unique_ptr<Dialogs> m_ownDialogs;

    SiteBands m_bands;
    PlanNavigator m_navigator;
    std::unique_ptr<SurveyCommands> m_commands;
    ViewInput m_input;
    PositionMarker m_marker;

    // The plan image, the source of every plan copy; the blank plan goes in
    // at the first paint unless a plan came before it.
    QImage m_planImage;
    bool m_blankPlanPending = true;
    bool m_initialUpdateDone = false;

    // Plan, overlay and points, kept between paints.
    SurveyLayer m_layer;
    enum class LegendChoice { Auto, Shown, Hidden };
    LegendChoice m_legend = LegendChoice::Auto;

    // The heatmap over the plan (off until toggled) and its windows.
    std::unique_ptr<HeatmapLayer> m_heatmap;
    int m_pointsListener = 0;  // the session's point announcements
    std::unique_ptr<HeatmapPanels> m_heatmapPanels;
    double m_ratioOverride = 0.0;
};

}  // namespace ketrion
