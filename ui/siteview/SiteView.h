#pragma once

#include <QAbstractScrollArea>
#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "session/SurveySession.h"
#include "survey/SitePlan.h"
#include "ui/shell/Commands.h"
#include "ui/siteview/ApPanel.h"
#include "ui/siteview/SurveyLayer.h"
#include "ui/siteview/ViewInput.h"

class QDockWidget;
class QPainter;

namespace ketrion {

class ApPanel;
class Dialogs;
class HeatmapControls;
class HeatmapLayer;
struct LocationSnapshot;
struct Services;

// The view on which all survey work happens: the toolbar commands, taps and
// tap-and-hold, drags, the wheel and pinch, arrow keys, both scroll bars, the
// 5-second collection timer, and the double-buffered painting of plan, survey
// points, path, dynamic access points, position marker, text bands and colour
// legend (or the instruction screen before a collection file is chosen). Runs
// on the UI thread only; it reads the process-wide objects of `Services` and
// owns no survey data.
//
// A client up to 240 pixels wide is laid out as on the handheld: a square
// viewport stretched to the client rectangle, zoom in factors of two. Wider
// clients get square plan pixels (one plan pixel per device-independent pixel
// at 100%), a viewport of the client's shape, zoom down to fitting the whole
// plan, dragging to pan, and a back buffer at the screen's device pixel ratio.
class CSiteView : public QAbstractScrollArea,
                  public CommandTarget,
                  public EngineEventTarget,
                  private ViewInputTarget {
    Q_OBJECT
public:
    // Timer identifier and period of the collection timer.
    static constexpr int kCollectionTimerId = 1;
    static constexpr int kCollectionPeriodMs = 5000;
    // A press held still this long is a tap-and-hold (the right button is one at once).
    static constexpr int kTapAndHoldMs = ViewInput::kHoldMs;
    // A press that moves further than this many pixels is no tap-and-hold.
    static constexpr int kTapAndHoldSlop = ViewInput::kSlop;
    // Plan pixels per arrow key or scroll-bar arrow.
    static constexpr int kLineStep = 10;
    // Widest client laid out as on the handheld.
    static constexpr int kHandheldWidth = 240;

    // Uses the real file dialogs and message boxes.
    explicit CSiteView(Services& services, QWidget* parent = nullptr);
    // Asks every question through `dialogs`, which must outlive the view.
    CSiteView(Services& services, Dialogs& dialogs, QWidget* parent = nullptr);
    ~CSiteView() override;

    // Commands (CommandTarget): 32771..32777, zoom to fit and the legend;
    // other ids are ignored.
    void OnCommand(int id) override;
    // News from the link thread, on the UI thread: alert bands and sounds.
    void OnEngineEvent(const EngineEvent& event) override;

    // A collection tick: takes a reading unless the board is still scanning
    // or the link to it is down.
    void OnTimer();
    // Asks the board for a scan and places the coming survey point at the
    // current GPS position, centring the plan there.
    void TakeReading();
    // How readings are placed; undo of the last point or segment; deletion
    // of the point selected by tap-and-hold.
    void SetPlacing(SurveySession::Placing placing);
    void OnUndo();
    void OnDeletePoint();
    // A tap at a client point; `held` for a tap-and-hold.
    void OnLButtonDown(QPoint point, bool held);
    // Arrow keys scroll by kLineStep plan pixels (Qt key codes).
    void OnKeyDown(int key);
    // Scroll-bar actions with the classic codes: 0 line up/left, 1 line
    // down/right, 2 page up/left, 3 page down/right, 5 thumb track; others do nothing.
    enum ScrollCode { kLineUp = 0, kLineDown = 1, kPageUp = 2, kPageDown = 3, kThumbTrack = 5 };
    void OnHScroll(int code, int position);
    void OnVScroll(int code, int position);
    void OnScroll(Qt::Orientation orientation, int code, int position);
    // Shows both scroll bars and repaints; the frame calls it once after creation.
    void OnInitialUpdate();
    // Sets the site plan up for the plan image now in m_bmpPlan.
    void FitPlanToView();

    // Painting: composes the whole picture for the current client size, as
    // a paint puts it on screen (at the device pixel ratio, which the image carries).
    QImage Render();
    void OnDraw(QPainter& target);

    // Disc colour class of a signal in dBm: 0 (-91 and below) .. 4 (-30 and above).
    static int SignalLevel(int signal) { return SurveyLayer::SignalLevel(signal); }
    void DrawPositionMarker(QPainter& dc);
    // A click that places a reading (stop and go, walk); false in GPS mode.
    bool PlaceByClick(QPoint point);
    void DrawPlacing(QPainter& dc);
    // Whether plan point (x, y) lies on the plan image.
    bool IsOnPlanImage(std::int32_t x, std::int32_t y) const;
    // Whether readings about to be recorded can be placed; offers Stop and go
    // when no source gives a position (false: do not record).
    bool HasPositionForReadings();
    // Desktop: shows the whole plan when it fits the window at 100% or more
    // (true), else leaves the view as it is (false).
    bool ShowWholePlanIfItFits();
    void DrawLocationBand(QPainter& dc);
    void DrawZoomBand(QPainter& dc);
    void DrawNoApAlert(QPainter& dc);
    void DrawPlaceApPrompt(QPainter& dc);
    void DrawLinkAlert(QPainter& dc, int band);
    void DrawLegend(QPainter& dc);

    // Installs `image` as the plan image and sets the plan up for it, as
    // loading a projection does.
    void SetPlanImage(const QImage& image);
    // Texts of the location and zoom bands as the next paint draws them.
    QString LocationBandText() const;
    QString ZoomBandText() const;
    // The location band's text for a report: marked as old once no report
    // has come for longer than the GPS staleness limit.
    static QString LocationBandLine(const LocationSnapshot& snapshot);
    // Text of the link alert band; empty when none is due.
    QString LinkAlertText() const { return m_linkAlert; }

    // The client rectangle as the site plan takes it: the plan area's size,
    // its origin at the plan area's top-left corner.
    SiteRect ClientRect() const;
    // Where the plan is shown in the viewport: all of it on the handheld; at
    // desktop sizes the part below the location and zoom bands.
    QRect PlanArea() const;
    // Whether the client is wider than the handheld's (square plan pixels).
    bool IsDesktopLayout() const;

    // A layer drawn between the plan and the survey points (a heatmap, say),
    // in client coordinates with the plan-to-client transform; the painter
    // already scales to the device pixel ratio. The view keeps its picture of
    // plan, overlay and points between paints: call SetOverlay again (or
    // UpdateOverlay) when what the overlay draws has changed. An empty
    // function removes it. The overlay runs on the UI thread inside a paint.
    using Overlay = SurveyLayer::Overlay;
    void SetOverlay(Overlay overlay);
    void UpdateOverlay();

    bool IsSurveyShown() const { return m_bSurveyShown; }
    bool IsPlacingAP() const { return m_bPlacingAP; }
    bool IsCollecting() const { return m_collectionTimer.isActive(); }
    // Whether the view follows the position while recording (desktop sizes).
    bool IsFollowing() const { return m_bFollow; }
    void SetFollowing(bool follow) { m_bFollow = follow; }
    // Brings plan point (x, y), a new reading's position or a placed access
    // point, into sight: the handheld centres on it every time; desktop sizes
    // move only when it leaves the middle third of the view, and not at all
    // while following is off.
    void FollowPosition(int x, int y);
    bool IsLegendShown() const;
    bool IsHeatmapShown() const;
    HeatmapLayer& Heatmap() { return *m_heatmap; }
    // The heatmap's tool window; null until the layer is first shown.
    HeatmapControls* HeatmapPanel() const { return m_heatmapPanel; }
    // The estimated access points' list (desktop sizes); null until the
    // heatmap is first shown there.
    ApPanel* AccessPointPanel() const { return m_apPanel; }
    // Where the list takes channel, band and security from (the side store).
    void SetApDetailsSource(ApDetailsSource source);
    const QImage& PlanImage() const { return m_bmpPlan; }
    // Tap-and-hold delay; tests shorten it.
    void SetTapAndHoldDelay(int milliseconds) { m_input.SetHoldDelay(milliseconds); }
    // Replaces the dialogs (the autopilot answers them itself). Must outlive the view.
    void SetDialogs(Dialogs& dialogs) { m_dialogs = &dialogs; }
    // Renders at this device pixel ratio instead of the screen's (0: the screen's).
    void SetDevicePixelRatioOverride(double ratio) { m_ratioOverride = ratio; }
    // Device pixels per client pixel of the back buffer (1 at the handheld size).
    double RenderRatio() const;

    // What the file commands do once a dialog has named the file: each
    // reports its own failures and returns true when the file is open.
    enum class FileKind { Projection, Collection };
    bool OpenProjectionPath(const QString& path);
    bool OpenCollectionPath(const QString& path);
    bool NewCollectionPath(const QString& path);

signals:
    // A reading has been asked for (after TakeReading).
    void readingTaken();
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

public slots:
    // Commands, also connected to the frame's actions.
    void OnProjectionOpen();
    void OnCollectionOpen();
    void OnCollectionNew();
    void OnScanStart();
    void OnScanStop();
    void OnZoomIn();
    void OnZoomOut();
    // Shows the whole plan (at the handheld size: back to the factor 1).
    void OnZoomFit();
    void OnPlaceAP();
    // Shows or hides the colour legend.
    void OnViewLegend();
    // Shows or hides the heatmap layer and its tool window.
    void OnViewHeatmap();
    // Turns following the position on or off.
    void OnViewFollow();

private:
    CSiteView(Services& services, Dialogs* dialogs, QWidget* parent);
    // ViewInputTarget
    void InputTap(QPoint at, bool held) override;
    bool InputCanDrag() const override;
    void InputPan(QPointF delta) override;
    void InputZoomAt(double factor, QPointF at) override;
    bool InputScroll(QPointF delta) override;

    void Repaint();
    void OnScrollAction(Qt::Orientation orientation, int action);
    void SetScrollPositions();
    void SetScrollRanges();
    void LoadMarker();
    // Chooses the handheld or the square layout for the current client.
    void UpdateLayout();
    // Sets the square layout up for a new plan: the whole plan, no larger than 100%.
    void ShowWholePlan();
    // After loading a collection: shows its points.
    void ShowPoints();
    int DiscRadius(double ratio) const;
    // The desktop legend's text size and its box in the viewport.
    int LegendTextSize(QPainter& dc) const;
    QRect ScaleLegendRect(QPainter& dc) const;
    int BandHeight(QPainter& dc) const;
    // Height of the location and zoom bands above the plan at desktop sizes.
    int DesktopBandsHeight() const;
    void DrawBand(QPainter& dc, int top, const QColor& fill, const QString& text);
    QFont BandFont() const;

    Services& m_services;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs* m_dialogs;

    // The plan image, the source of every plan copy.
    QImage m_bmpPlan;
    bool m_bSurveyShown = false;
    bool m_bPlacingAP = false;
    bool m_bInitialUpdateDone = false;
    QTimer m_collectionTimer;
    // Stop and go: where the reading being taken goes; an unfinished walk's
    // readings: the clicks that place them.
    QPoint m_stopAt;
    std::vector<QPoint> m_unplacedClicks;
    QImage m_bmpMarker;
    // The marker at the last ratio it was drawn at.
    QImage m_markerScaled;

    // Per-view painting state: the first paint installs the blank plan.
    bool s_bFirstPaint = true;

    // Plan, overlay and points, kept between paints.
    SurveyLayer m_layer;
    // The legend: shown at desktop sizes unless the user chose otherwise.
    enum class LegendChoice { Auto, Shown, Hidden };
    LegendChoice m_legend = LegendChoice::Auto;
    // Link news shown in an alert band (empty: none).
    QString m_linkAlert;
    bool m_bScanAbandoned = false;

    ViewInput m_input;
    // The heatmap over the plan (off until toggled) and its tool window.
    std::unique_ptr<HeatmapLayer> m_heatmap;
    int m_pointsListener = 0;  // the session's point news, for the heatmap
    HeatmapControls* m_heatmapPanel = nullptr;
    void CreateApPanel();
    ApPanel* m_apPanel = nullptr;
    QDockWidget* m_apDock = nullptr;
    ApDetailsSource m_apDetails;
    double m_ratioOverride = 0.0;
    bool m_bInScrollAction = false;
    bool m_bFollow = true;
};

}  // namespace ketrion
