#pragma once

#include <QAbstractScrollArea>
#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QTimer>

#include <memory>
#include <vector>

#include "survey/SitePlan.h"
#include "ui/shell/Commands.h"

class QPainter;

namespace ketrion {

class Dialogs;
struct Services;

// The view on which all survey work happens: the toolbar commands 32771..32777,
// taps and tap-and-hold, arrow keys, both scroll bars, the 5-second collection
// timer, and the double-buffered painting of plan, survey points, path, dynamic
// access points, position marker and text bands (or the instruction screen
// before a collection file is chosen). Runs on the UI thread only; it reads the
// process-wide objects of `Services` and owns no survey data.
class CSiteView : public QAbstractScrollArea, public CommandTarget {
    Q_OBJECT
public:
    // Timer identifier and period of the collection timer.
    static constexpr int kCollectionTimerId = 1;
    static constexpr int kCollectionPeriodMs = 5000;
    // A press held still this long is a tap-and-hold (the right button is one at once).
    static constexpr int kTapAndHoldMs = 500;
    // A press that moves further than this many pixels is no tap-and-hold.
    static constexpr int kTapAndHoldSlop = 6;
    // Plan pixels per arrow key or scroll-bar arrow.
    static constexpr int kLineStep = 10;

    // Uses the real file dialogs and message boxes.
    explicit CSiteView(Services& services, QWidget* parent = nullptr);
    // Asks every question through `dialogs`, which must outlive the view.
    CSiteView(Services& services, Dialogs& dialogs, QWidget* parent = nullptr);
    ~CSiteView() override;

    // Commands (CommandTarget): 32771..32777; other ids are ignored.
    void OnCommand(int id) override;
    void OnProjectionOpen();
    void OnCollectionOpen();
    void OnScanStart();
    void OnScanStop();
    void OnZoomIn();
    void OnZoomOut();
    void OnPlaceAP();

    // A collection tick: takes a reading unless the board is still scanning.
    void OnTimer();
    // Asks the board for a scan and places the coming survey point at the
    // current GPS position, centring the plan there.
    void TakeReading();
    // A tap at a client point; `held` for a tap-and-hold.
    void OnLButtonDown(QPoint point, bool held);
    // Arrow keys scroll by kLineStep plan pixels (Qt key codes).
    void OnKeyDown(int key);
    // Scroll-bar actions with the classic codes: 0 line up/left, 1 line
    // down/right, 2 page up/left, 3 page down/right, 5 thumb track; others do nothing.
    enum ScrollCode { kLineUp = 0, kLineDown = 1, kPageUp = 2, kPageDown = 3, kThumbTrack = 5 };
    void OnHScroll(int code, int position);
    void OnVScroll(int code, int position);
    // Shows both scroll bars and repaints; the frame calls it once after creation.
    void OnInitialUpdate();
    // Sets the site plan up for the plan image now in m_bmpPlan.
    void FitPlanToView();

    // Painting: composes the whole picture for the current client size, as
    // a paint puts it on screen.
    QImage Render();
    void OnDraw(QPainter& target);

    // Disc colour class of a signal in dBm: 0 (-91 and below) .. 4 (-30 and above).
    static int SignalLevel(int signal);
    // Points and path are drawn into the image that keeps the plan and the
    // points between paints; positions are plan coordinates.
    bool DrawSurveyPoint(QImage& layer, int x, int y, int signal);
    void DrawPathSegment(QImage& layer, int x, int y);
    bool DrawAccessPoint(QImage& layer, int x, int y);
    // A 1-pixel dashed black line (4 drawn, 2 left out), clipped to the image.
    void DrawDashedLine(QImage& layer, QPoint from, QPoint to);
    void DrawPositionMarker(QPainter& dc);
    void DrawLocationBand(QPainter& dc);
    void DrawZoomBand(QPainter& dc);
    void DrawNoApAlert(QPainter& dc);
    void DrawPlaceApPrompt(QPainter& dc);

    // Installs `image` as the plan image and sets the plan up for it, as
    // loading a projection does.
    void SetPlanImage(const QImage& image);
    // Texts of the location and zoom bands as the next paint draws them.
    QString LocationBandText() const;
    QString ZoomBandText() const;

    // The client rectangle (the viewport's area) as the site plan takes it.
    SiteRect ClientRect() const;

    bool IsSurveyShown() const { return m_bSurveyShown; }
    bool IsPlacingAP() const { return m_bPlacingAP; }
    bool IsCollecting() const { return m_collectionTimer.isActive(); }
    const QImage& PlanImage() const { return m_bmpPlan; }
    // Tap-and-hold delay; tests shorten it.
    void SetTapAndHoldDelay(int milliseconds) { m_holdTimer.setInterval(milliseconds); }
    // Replaces the dialogs (the autopilot answers them itself). Must outlive the view.
    void SetDialogs(Dialogs& dialogs) { m_dialogs = &dialogs; }

signals:
    // A reading has been asked for (after TakeReading).
    void readingTaken();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    CSiteView(Services& services, Dialogs* dialogs, QWidget* parent);
    void Repaint();
    void OnScrollAction(Qt::Orientation orientation, int action);
    void SetScrollPositions();
    void SetScrollRanges();
    void LoadMarker();
    void HoldTimeout();
    const QBrush& LevelBrush(int level) const;
    int DiscRadius() const;
    struct DiscImage {
        struct Span {
            int row;
            int left;
            int length;
        };
        QImage image;             // the disc, opaque where painted
        std::vector<Span> spans;  // the painted runs of each row
    };
    const DiscImage& Disc(int level, int radius);
    // A disc of the level's colour centred on a screen point.
    void DrawDisc(QImage& layer, int sx, int sy, int level, int radius);
    // Joins the path to a screen point (the first one only starts it).
    void ExtendPath(QImage& layer, QPoint to);
    // Brings m_surveyLayer (plan, points and path) up to date.
    void UpdateSurveyLayer(const SiteRect& client, const QFont& font, int dotsPerMeter);
    int BandHeight(QPainter& dc) const;
    void DrawBand(QPainter& dc, int top, const QColor& fill, const QString& text);

    Services& m_services;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs* m_dialogs;

    // The plan image, the source of every plan copy.
    QImage m_bmpPlan;
    bool m_bSurveyShown = false;
    bool m_bPlacingAP = false;
    bool m_bInitialUpdateDone = false;
    QTimer m_collectionTimer;
    QPen m_penDash;
    QBrush m_brBlack;
    QBrush m_brWhite;
    QBrush m_brRed;
    QBrush m_brGreen;
    QBrush m_brBlue;
    QImage m_bmpMarker;
    // Survey discs drawn once per radius (10, 20) and signal level, then copied.
    DiscImage m_discs[2][5];

    // Per-view painting state: the first paint installs the blank plan; the
    // path's last screen point carries over from one survey point to the next.
    bool s_bFirstPaint = true;
    QPoint s_ptPrev;
    bool m_bPathStarted = false;

    // The plan with the points drawn on it, kept between paints: a repaint
    // for a GPS update copies it, and a new point is drawn onto it alone.
    // Rebuilt whenever anything that places the points changes.
    struct LayerKey {
        SiteRect client;
        SiteRect viewport;
        SiteRect extent;
        qint64 plan = 0;
        bool showPath = false;
        bool showAps = false;
        int dotsPerMeter = 0;
        bool operator==(const LayerKey&) const = default;
    };
    QImage m_surveyLayer;
    QFont m_layerFont;
    LayerKey m_layerKey;
    std::size_t m_layerPoints = 0;
    bool m_bLayerValid = false;

    // Tap-and-hold recognition.
    QTimer m_holdTimer;
    QPoint m_pressPoint;
    bool m_bPressPending = false;
    bool m_bInScrollAction = false;
};

}  // namespace ketrion
