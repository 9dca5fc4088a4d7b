#include "ui/siteview/SiteView.h"

#include <QApplication>
#include <QDockWidget>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/EngineEvent.h"
#include "engine/Location.h"
#include "platform/Clock.h"
#include "platform/Sound.h"
#include "render/HeatmapImage.h"
#include "render/PlanImage.h"
#include "session/SurveySession.h"
#include "source/FixHealth.h"
#include "survey/FollowRule.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Draw.h"
#include "ui/shell/Info.h"
#include "ui/shell/Services.h"
#include "ui/siteview/ApPanel.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/HeatmapControls.h"
#include "ui/siteview/HeatmapLayer.h"
#include "ui/siteview/InstructionPage.h"
#include "ui/siteview/Legend.h"

namespace ketrion {

namespace {

// Bitmap resources of the view.
constexpr std::uint16_t kBitmapMarker = 134;
constexpr std::uint16_t kBitmapInstructions = 149;
constexpr std::uint16_t kBitmapBlankPlan = 154;
// Size of the built-in blank plan, used when its resource is missing.
constexpr int kBlankPlanWidth = 240;
constexpr int kBlankPlanHeight = 265;
// Side of the position marker.
constexpr int kMarkerSize = 32;
// The instruction screen leaves this strip at the bottom unpainted.
constexpr int kInstructionStrip = 20;
// Discs are this large on the handheld; at wider clients they are
// kWideDiscRadius at 100% and follow the zoom between the two bounds.
constexpr int kDiscRadius = 10;
constexpr int kWideDiscRadius = 20;
constexpr double kMinDiscRadius = 6.0;
constexpr double kMaxDiscRadius = 40.0;
// Band font: 8 points, face "System"; larger at desktop sizes.
constexpr int kBandFontPoints = 8;
constexpr int kDesktopBandFontPoints = 10;
// A loaded collection is shown with this many client pixels around its
// points, at no more than 100%.
constexpr double kPointsMargin = 40.0;
// The heatmap's scale keeps this far from the client's right edge.
constexpr int kHeatmapLegendMargin = 8;
// Smallest size a band's text is shrunk to so that it fits the band.
constexpr double kBandFontMinPoints = 5.0;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kRed(192, 0, 0);
const QColor kGreen(0, 192, 0);
const QColor kBlue(0, 0, 192);

// Restores the cursor on every way out of a long operation.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

FileDialogRequest CollectionRequest() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Data Files (*.ktd)|*.ktd|All Files (*.*)|*.*||");
    request.defaultExtension = QStringLiteral("ktd");
    request.initialName = QStringLiteral("Data");
    request.mustExist = true;
    return request;
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QRect ToQRect(const SiteRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

}  // namespace

CSiteView::CSiteView(Services& services, QWidget* parent)
    : CSiteView(services, static_cast<Dialogs*>(nullptr), parent) {}

CSiteView::CSiteView(Services& services, Dialogs& dialogs, QWidget* parent)
    : CSiteView(services, &dialogs, parent) {}

CSiteView::CSiteView(Services& services, Dialogs* dialogs, QWidget* parent)
    : QAbstractScrollArea(parent),
      m_services(services),
      m_dialogs(dialogs),
      m_input(*this, viewport()) {
    if (m_dialogs == nullptr) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    LoadMarker();

    // The scroll bars appear with the initial update, before the first paint.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    // Every paint covers the whole viewport: no erasing first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    setFrameShape(QFrame::NoFrame);

    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(Qt::Horizontal, action); });
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { OnScrollAction(Qt::Vertical, action); });

    m_collectionTimer.setInterval(kCollectionPeriodMs);
    connect(&m_collectionTimer, &QTimer::timeout, this, &CSiteView::OnTimer);
    // Touch-screen pinches arrive as gestures on the viewport.
    viewport()->grabGesture(Qt::PinchGesture);

    m_heatmap = std::make_unique<HeatmapLayer>(m_services.data, m_services.projection,
                                               [this] { return m_bmpPlan.size(); });
    connect(m_heatmap.get(), &HeatmapLayer::changed, this, &CSiteView::UpdateOverlay);
    m_heatmap->SetIncludeNoFix(m_services.session.IncludeNoFix());
    m_heatmap->SetRevision([this] { return m_services.session.PointsRevision(); });
    // Every change of the points (an undo and a deletion too) recomputes the
    // heatmap and so the access-point estimates; a point added by a scan is
    // announced on the source's thread, so the news is posted here.
    m_pointsListener = m_services.session.SubscribePoints([this](SurveySession::PointChange) {
        QMetaObject::invokeMethod(
            this, [this] { m_heatmap->PointsChanged(); }, Qt::QueuedConnection);
    });
}

CSiteView::~CSiteView() {
    m_services.session.UnsubscribePoints(m_pointsListener);
}

void CSiteView::LoadMarker() {
    QImage marker = m_services.draw.LoadBitmap(kBitmapMarker);
    if (marker.isNull()) {
        // A plain cross keeps the centre visible without the resource.
        marker = QImage(kMarkerSize, kMarkerSize, QImage::Format_RGB32);
        marker.fill(kWhite);
        for (int i = 0; i < kMarkerSize; ++i) {
            marker.setPixel(i, kMarkerSize / 2, qRgb(0, 0, 0));
            marker.setPixel(kMarkerSize / 2, i, qRgb(0, 0, 0));
        }
    }
    m_bmpMarker = marker.convertToFormat(QImage::Format_RGB32);
}

// ---------------------------------------------------------------------------
// Commands

void CSiteView::OnCommand(int id) {
    switch (id) {
        case ID_PROJECTION_OPEN:
            OnProjectionOpen();
            break;
        case ID_COLLECTION_OPEN:
            OnCollectionOpen();
            break;
        case ID_COLLECTION_NEW:
            OnCollectionNew();
            break;
        case ID_SCAN_START:
            OnScanStart();
            break;
        case ID_SCAN_STOP:
            OnScanStop();
            break;
        case ID_ZOOM_IN:
            OnZoomIn();
            break;
        case ID_ZOOM_OUT:
            OnZoomOut();
            break;
        case ID_PLACE_AP:
            OnPlaceAP();
            break;
        case ID_ZOOM_FIT:
            OnZoomFit();
            break;
        case ID_VIEW_LEGEND:
            OnViewLegend();
            break;
        case ID_VIEW_HEATMAP:
            OnViewHeatmap();
            break;
        case ID_PLACING_GPS:
            SetPlacing(SurveySession::Placing::Gps);
            break;
        case ID_PLACING_STOP:
            SetPlacing(SurveySession::Placing::StopAndGo);
            break;
        case ID_PLACING_WALK:
            SetPlacing(SurveySession::Placing::Walk);
            break;
        case ID_EDIT_UNDO:
            OnUndo();
            break;
        case ID_DELETE_POINT:
            OnDeletePoint();
            break;
        case ID_VIEW_FOLLOW:
            OnViewFollow();
            break;
        default:
            break;
    }
}

void CSiteView::SetPlacing(SurveySession::Placing placing) {
    m_services.session.SetPlacing(placing);
    if (placing == SurveySession::Placing::Walk && m_services.session.UnplacedScans() > 0) {
        m_dialogs->Message(
            QStringLiteral("%1 readings of an unfinished walk wait to be placed: click where that "
                           "walk started, then where it ended.")
                .arg(m_services.session.UnplacedScans()));
        m_unplacedClicks.clear();
    }
    viewport()->update();
}

void CSiteView::OnUndo() {
    if (m_services.session.Undo()) {
        m_layer.Invalidate();
    }
    viewport()->update();
}

void CSiteView::OnDeletePoint() {
    const CSiteData::PointDetails selected = m_services.data.SelectedPoint();
    if (!selected.valid) {
        m_dialogs->Message(
            QStringLiteral("Select a point first: tap and hold it (or right-click it)."));
        return;
    }
    if (m_services.session.DeletePoint(selected.point.offset)) {
        m_layer.Invalidate();
    }
    viewport()->update();
}

bool CSiteView::PlaceByClick(QPoint point) {
    const SurveySession::Placing placing = m_services.session.CurrentPlacing();
    if (placing == SurveySession::Placing::Gps) {
        return false;
    }
    std::int32_t qx = 0;
    std::int32_t qy = 0;
    m_services.plan.ScreenToPlan(ClientRect(), point.x(), point.y(), qx, qy);
    if (!m_services.session.HasCollection()) {
        m_dialogs->Message(QStringLiteral("Data collection file must be selected."));
        return true;
    }
    if (IsDesktopLayout() && !IsOnPlanImage(qx, qy)) {
        // A point beside the plan has no place on the site: neither a stop
        // nor a turn of the walk is taken there.
        m_dialogs->Message(
            QStringLiteral("That click is outside the plan: click on the plan where you are."));
        return true;
    }
    if (placing == SurveySession::Placing::StopAndGo) {
        // A click while the scan runs changes nothing.
        if (m_services.session.StandAt(qx, qy)) {
            m_stopAt = QPoint(qx, qy);
        }
        return true;
    }
    if (m_services.session.UnplacedScans() > 0) {
        // The first two clicks place an unfinished walk's readings.
        m_unplacedClicks.push_back(QPoint(qx, qy));
        if (m_unplacedClicks.size() == 2) {
            m_services.session.PlaceUnplacedScans(m_unplacedClicks[0].x(), m_unplacedClicks[0].y(),
                                                  m_unplacedClicks[1].x(), m_unplacedClicks[1].y());
            m_unplacedClicks.clear();
        }
        return true;
    }
    // Readings go on while the surveyor walks: recording starts with the first click.
    if (!IsCollecting()) {
        OnScanStart();
    }
    m_services.session.WalkClick(qx, qy);
    return true;
}

bool CSiteView::IsOnPlanImage(std::int32_t x, std::int32_t y) const {
    const SiteRect extent = m_services.plan.GetExtent();
    return x >= extent.left && x <= extent.right && y >= extent.top && y <= extent.bottom;
}

void CSiteView::DrawPlacing(QPainter& dc) {
    // The walk so far and where the next reading goes; a stop being read.
    // Positions are in plan-area coordinates: the area lies below the bands.
    const SiteRect client = ClientRect();
    CSitePlan& plan = m_services.plan;
    const auto toScreen = [&](double x, double y, QPointF& at) {
        std::int32_t sx = 0;
        std::int32_t sy = 0;
        if (!plan.PlanToScreen(client, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                               sx, sy)) {
            return false;
        }
        at = QPointF(sx, sy);
        return true;
    };
    dc.save();
    dc.translate(PlanArea().topLeft());
    dc.setRenderHint(QPainter::Antialiasing);
    const std::vector<std::pair<double, double>> clicks = m_services.session.WalkClicks();
    QPointF previous;
    bool havePrevious = false;
    dc.setPen(QPen(QColor(0, 90, 200), 2, Qt::DashLine));
    for (const auto& [x, y] : clicks) {
        QPointF at;
        if (!toScreen(x, y, at)) {
            havePrevious = false;
            continue;
        }
        if (havePrevious) {
            dc.drawLine(previous, at);
        }
        dc.setBrush(QColor(0, 90, 200));
        dc.drawEllipse(at, 3, 3);
        previous = at;
        havePrevious = true;
    }
    const SurveySession::NextPosition next = m_services.session.NextReadingPosition();
    QPointF at;
    if (next.known && toScreen(next.x, next.y, at)) {
        const std::size_t waiting = m_services.session.ProvisionalCount();
        if (waiting > 0) {
            // Readings waiting for their segment's end click: hollow.
            dc.setBrush(Qt::NoBrush);
            dc.setPen(QPen(QColor(0, 90, 200), 2));
            dc.drawEllipse(at, 9, 9);
            dc.drawText(at + QPointF(12, -10), QString::number(waiting));
        }
        if (next.errorRadius > 0) {
            const double r = next.errorRadius * plan.GetZoomPercent() / 100.0;
            dc.setBrush(QColor(0, 90, 200, 40));
            dc.setPen(QPen(QColor(0, 90, 200), 1));
            dc.drawEllipse(at, r, r);
        }
        dc.setPen(QPen(QColor(0, 90, 200), 2));
        dc.drawLine(at - QPointF(8, 0), at + QPointF(8, 0));
        dc.drawLine(at - QPointF(0, 8), at + QPointF(0, 8));
    }
    if (m_services.session.CurrentPlacing() == SurveySession::Placing::StopAndGo &&
        m_services.scan.IsScanning() && toScreen(m_stopAt.x(), m_stopAt.y(), at)) {
        dc.setBrush(Qt::NoBrush);
        dc.setPen(QPen(QColor(0, 90, 200), 2, Qt::DotLine));
        dc.drawEllipse(at, 10, 10);
        dc.drawText(at + QPointF(12, -10), QStringLiteral("reading..."));
    }
    dc.restore();
}

void CSiteView::OnProjectionOpen() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Projection Files (*.ktp)|*.ktp|All Files (*.*)|*.*||");
    request.defaultExtension = QStringLiteral("KTP");
    request.initialName = QStringLiteral("DEFAULT");
    request.mustExist = true;
    if (const std::optional<QString> chosen = m_dialogs->OpenFile(request)) {
        OpenProjectionPath(*chosen);
    }
    Repaint();
}

bool CSiteView::OpenProjectionPath(const QString& chosen) {
    bool loaded = true;
    bool projectionLoaded = false;
    {
        WaitCursor wait;
        // The projection reports its own failures and keeps the previous
        // projection (and plan image path) when loading fails.
        projectionLoaded = m_services.session.OpenProjection(LocalPath(chosen));
        m_services.plan.ResetGeometry();
        // Read through the guarded open, with Qt's allocation limit raised
        // to fit the largest plan the projection loader takes.
        const std::string& bitmapPath = m_services.projection.BitmapPath();
        QImage plan;
        if (!bitmapPath.empty()) {
            plan = plan_image::Read(bitmapPath);
        }
        if (plan.isNull()) {
            loaded = false;
        } else {
            m_bmpPlan = plan.convertToFormat(QImage::Format_RGB32);
        }
        // Runs with the previous image when the new one did not load.
        FitPlanToView();
        // At desktop sizes the new plan is shown at once, so the load is seen
        // to have worked; the handheld waits for a collection file.
        if (loaded && IsDesktopLayout()) {
            m_bSurveyShown = true;
        }
    }
    if (!loaded) {
        m_dialogs->Message(QStringLiteral("Cannot Load Bitmap"));
    }
    if (projectionLoaded && loaded) {
        emit fileOpened(FileKind::Projection, chosen);
    }
    Repaint();
    return projectionLoaded && loaded;
}

void CSiteView::OnCollectionOpen() {
    const FileDialogRequest request = CollectionRequest();
    if (m_dialogs->AskYesNo(QStringLiteral("Do you wish to open an existing collection file?"))) {
        m_bSurveyShown = true;
        if (const std::optional<QString> chosen = m_dialogs->OpenFile(request)) {
            OpenCollectionPath(*chosen);
        }
        // Cancelled: the path stays as it was and the survey stays shown.
    } else if (const std::optional<QString> chosen = m_dialogs->SaveFile(request)) {
        NewCollectionPath(*chosen);
    } else if (IsDesktopLayout() && m_services.session.HasCollection()) {
        // Cancelling the new file keeps the survey that is open.
    } else {
        m_dialogs->Message(
            QStringLiteral("No collection file selected, data can not be collected."));
        m_services.session.CloseCollection();
        m_bSurveyShown = false;
    }
    // Show the survey (or the instructions) at once rather than at the next
    // engine update.
    viewport()->update();
}

void CSiteView::OnCollectionNew() {
    if (const std::optional<QString> chosen = m_dialogs->SaveFile(CollectionRequest())) {
        NewCollectionPath(*chosen);
    }
    // Cancelled: nothing changes.
    viewport()->update();
}

bool CSiteView::OpenCollectionPath(const QString& path) {
    m_bSurveyShown = true;
    // Loading replaces the list of points: draw them all afresh.
    m_layer.Invalidate();
    bool opened = false;
    {
        WaitCursor wait;
        opened = m_services.session.OpenCollection(LocalPath(path));
        ShowPoints();
    }
    if (opened) {
        emit fileOpened(FileKind::Collection, path);
        if (m_services.session.UnplacedScans() > 0) {
            m_dialogs->Message(
                QStringLiteral("%1 readings of an unfinished walk were not placed. Choose Survey "
                               "> Continuous walk to place them.")
                    .arg(m_services.session.UnplacedScans()));
        }
    }
    viewport()->update();
    return opened;
}

bool CSiteView::NewCollectionPath(const QString& path) {
    m_bSurveyShown = true;
    m_layer.Invalidate();
    const bool created = m_services.session.NewCollection(LocalPath(path));
    if (created) {
        emit fileOpened(FileKind::Collection, path);
    }
    viewport()->update();
    return created;
}

void CSiteView::OnScanStart() {
    if (!m_services.session.HasCollection()) {
        m_dialogs->Message(QStringLiteral("Data collection file must be selected."));
        return;
    }
    // A file found damaged is only read: say so (and to choose a new file)
    // rather than start a recording whose every point would be refused.
    if (const std::string refusal = m_services.data.AppendRefusal(); !refusal.empty()) {
        m_dialogs->Message(QString::fromStdString(refusal));
        return;
    }
    if (!HasPositionForReadings()) {
        return;
    }
    m_services.session.StartRecording();
    // Starting a running timer restarts its period: there is only one.
    m_collectionTimer.start();
    // Without a link the request would go nowhere; the timer takes the first
    // reading once the link is back.
    if (m_services.session.SourceUp()) {
        TakeReading();
    }
}

bool CSiteView::HasPositionForReadings() {
    // A scan source other than the board with the board's position in place
    // of a receiver (no gpsd) has nothing to place its readings by: they
    // would all lie at the plan's origin. The surveyor places them instead,
    // or does not record.
    // A replay runs unattended and keeps its recorded order; only the live
    // adapter is asked about.
    if (m_services.session.CurrentPlacing() != SurveySession::Placing::Gps ||
        m_services.scan.Kind() != "wifi" || m_services.position.Kind() != "board") {
        return true;
    }
    if (!m_dialogs->AskYesNo(
            QStringLiteral("There is no position source for these readings (no gpsd): they would "
                           "all be recorded at one place.\n\nPlace each reading by clicking where "
                           "you stand (Stop and go)?"))) {
        m_dialogs->Message(QStringLiteral(
            "Not recording: start gpsd (--gpsd) or choose Stop and go or Continuous walk."));
        return false;
    }
    SetPlacing(SurveySession::Placing::StopAndGo);
    return true;
}

void CSiteView::OnScanStop() {
    const bool chosen = m_services.session.HasCollection();
    m_services.session.StopRecording();
    if (m_services.session.CurrentPlacing() == SurveySession::Placing::Walk) {
        // Stopping ends the walk: the next click starts a new one rather than
        // drawing a segment from where this one stopped.
        m_services.session.EndWalk();
    }
    // The survey so far at a glance, where the plan fits the window.
    ShowWholePlanIfItFits();
    viewport()->update();
    if (chosen) {
        m_collectionTimer.stop();
    }
}

void CSiteView::OnZoomIn() {
    m_services.plan.ZoomIn();
    if (IsDesktopLayout()) {
        SetScrollRanges();
    }
    viewport()->update();
}

void CSiteView::OnZoomOut() {
    m_services.plan.ZoomOut();
    if (IsDesktopLayout()) {
        SetScrollRanges();
    }
    viewport()->update();
}

void CSiteView::OnZoomFit() {
    CSitePlan& plan = m_services.plan;
    if (plan.IsSquarePixels()) {
        plan.ZoomToFit();
        SetScrollRanges();
        SetScrollPositions();
    } else {
        // The handheld layout shows the most at the factor 1.
        while (plan.GetZoom() > 1) {
            plan.ZoomOut();
        }
    }
    viewport()->update();
}

void CSiteView::OnViewLegend() {
    m_legend = IsLegendShown() ? LegendChoice::Hidden : LegendChoice::Shown;
    viewport()->update();
}

void CSiteView::OnViewHeatmap() {
    const bool show = !m_heatmap->IsEnabled();
    if (show) {
        SetOverlay([this](QPainter& dc, const ViewTransform& transform) {
            m_heatmap->Draw(dc, transform);
        });
        if (m_heatmapPanel == nullptr)
            m_heatmapPanel = new HeatmapControls(*m_heatmap, this);
        if (m_apPanel == nullptr && IsDesktopLayout())
            CreateApPanel();
    } else {
        // No overlay at all: the picture is again exactly the one without it.
        SetOverlay({});
    }
    m_heatmap->SetEnabled(show);
    if (m_heatmapPanel != nullptr)
        m_heatmapPanel->setVisible(show);
    if (m_apDock != nullptr)
        m_apDock->setVisible(show);
}

void CSiteView::CreateApPanel() {
    // A dock at the frame's right side when the view sits in a main window,
    // else a tool window of its own.
    m_apPanel = new ApPanel;
    m_apPanel->SetDetailsSource(m_apDetails);
    auto* main = qobject_cast<QMainWindow*>(window());
    QWidget* owner = main != nullptr ? static_cast<QWidget*>(main) : this;
    m_apDock = new QDockWidget(QStringLiteral("Access points"), owner,
                               main != nullptr ? Qt::WindowFlags() : Qt::Tool);
    m_apDock->setObjectName(QStringLiteral("accessPointsDock"));
    m_apDock->setWidget(m_apPanel);
    if (main != nullptr)
        main->addDockWidget(Qt::RightDockWidgetArea, m_apDock);
    connect(m_heatmap.get(), &HeatmapLayer::resultReady, m_apPanel,
            [this] { m_apPanel->Show(m_heatmap->Result().aps); });
    if (m_heatmap->HasResult())
        m_apPanel->Show(m_heatmap->Result().aps);
}

void CSiteView::SetApDetailsSource(ApDetailsSource source) {
    m_apDetails = std::move(source);
    if (m_apPanel != nullptr)
        m_apPanel->SetDetailsSource(m_apDetails);
}

void CSiteView::OnViewFollow() {
    m_bFollow = !m_bFollow;
}

void CSiteView::FollowPosition(int x, int y) {
    CSitePlan& plan = m_services.plan;
    if (!IsDesktopLayout()) {
        plan.CentreOn(x, y);
        return;
    }
    if (!m_bFollow) {
        return;
    }
    const SiteRect client = ClientRect();
    const std::optional<FollowPoint> target = FollowTarget(
        {x, y}, plan.Transform(), client.right - client.left, client.bottom - client.top);
    if (target) {
        plan.CentreOn(target->x, target->y);
        SetScrollPositions();
    }
}

bool CSiteView::IsHeatmapShown() const {
    return m_heatmap->IsEnabled();
}

bool CSiteView::IsLegendShown() const {
    if (m_legend == LegendChoice::Auto) {
        return IsDesktopLayout();
    }
    return m_legend == LegendChoice::Shown;
}

void CSiteView::OnEngineEvent(const EngineEvent& event) {
    switch (event.kind) {
        case EngineEventKind::ScanAbandoned:
            m_bScanAbandoned = true;
            // Why, in the source's own words (the board's missing scan end,
            // an adapter's scan without results).
            m_linkAlert = event.reason.empty()
                              ? QStringLiteral("ALERT! SCAN ABANDONED")
                              : QStringLiteral("ALERT! SCAN ABANDONED: %1")
                                    .arg(QString::fromStdString(event.reason).toUpper());
            viewport()->update();
            // Played without holding up the user-interface thread.
            m_services.sound.PlayResourceSound("REDALERT");
            break;
        case EngineEventKind::LinkLost:
            m_bScanAbandoned = false;
            m_linkAlert = event.reason.empty() ? QStringLiteral("ALERT! LINK LOST")
                                               : QStringLiteral("ALERT! LINK LOST: %1")
                                                     .arg(QString::fromStdString(event.reason));
            viewport()->update();
            m_services.sound.PlayResourceSound("REDALERT");
            break;
        case EngineEventKind::LinkRestored:
            m_bScanAbandoned = false;
            m_linkAlert.clear();
            viewport()->update();
            break;
        case EngineEventKind::ScanEnded:
            // A finished scan shows the board answers again.
            if (m_bScanAbandoned) {
                m_bScanAbandoned = false;
                m_linkAlert.clear();
            }
            viewport()->update();
            break;
        case EngineEventKind::GpsUpdate:
        case EngineEventKind::Notice:
            viewport()->update();
            break;
    }
}

void CSiteView::OnPlaceAP() {
    m_bPlacingAP = true;
    viewport()->update();
}

void CSiteView::OnTimer() {
    // The timer keeps running while the source is down; recording resumes by
    // itself once it is back.
    if (m_services.session.CanTakeReading()) {
        TakeReading();
    }
}

void CSiteView::TakeReading() {
    if (m_services.session.CurrentPlacing() == SurveySession::Placing::StopAndGo) {
        return;  // a reading is taken where the surveyor clicks
    }
    const SurveySession::PlanPoint at = m_services.session.TakeReading();
    if (m_services.session.CurrentPlacing() == SurveySession::Placing::Walk) {
        // The walk's own position (its last click), not the position source's
        // fix, which indoors may lie anywhere.
        const SurveySession::NextPosition walk = m_services.session.NextReadingPosition();
        if (walk.known) {
            FollowPosition(static_cast<int>(std::lround(walk.x)),
                           static_cast<int>(std::lround(walk.y)));
        }
    } else {
        FollowPosition(at.x, at.y);
    }
    // No repaint here: the engine's update after the scan's end repaints.
    emit readingTaken();
}

// ---------------------------------------------------------------------------
// Taps, keys and scroll bars

SiteRect CSiteView::ClientRect() const {
    const QRect r = PlanArea();
    return SiteRect{0, 0, r.width(), r.height()};
}

QRect CSiteView::PlanArea() const {
    const QRect all = viewport()->rect();
    if (!IsDesktopLayout()) {
        return all;
    }
    // The bands get their own strip so that they never hide the plan's top.
    const int bands = std::min(DesktopBandsHeight(), all.height() - 1);
    return all.adjusted(0, std::max(0, bands), 0, 0);
}

int CSiteView::DesktopBandsHeight() const {
    // The bands' font at the resolution Render() gives its buffer.
    return 2 * QFontMetrics(BandFont(), viewport()).height();
}

bool CSiteView::IsDesktopLayout() const {
    return viewport()->width() > kHandheldWidth;
}

void CSiteView::OnLButtonDown(QPoint point, bool held) {
    const SiteRect client = ClientRect();
    CSitePlan& plan = m_services.plan;
    if (held) {
        std::int32_t qx = 0;
        std::int32_t qy = 0;
        plan.ScreenToPlan(client, point.x(), point.y(), qx, qy);
        if (m_services.data.FindNearestPoint(qx, qy) < 0) {
            m_dialogs->Message(QStringLiteral("No survey point within range."));
            return;
        }
        CInfo info(m_services, this);
        m_dialogs->RunModal(info);
        return;
    }
    if (!m_bPlacingAP && PlaceByClick(point)) {
        Repaint();
        return;
    }
    if (m_bPlacingAP) {
        std::int32_t qx = 0;
        std::int32_t qy = 0;
        plan.ScreenToPlan(client, point.x(), point.y(), qx, qy);
        m_services.session.PlaceDynamicAp(qx, qy);
        if (IsDesktopLayout()) {
            FollowPosition(qx, qy);
        } else {
            plan.CentreOnScreenPoint(client, point.x(), point.y());
        }
        SetScrollPositions();
        m_bPlacingAP = false;
    }
    Repaint();
}

void CSiteView::OnKeyDown(int key) {
    CSitePlan& plan = m_services.plan;
    switch (key) {
        case Qt::Key_Left:
            plan.ScrollLeft(kLineStep);
            break;
        case Qt::Key_Up:
            plan.ScrollUp(kLineStep);
            break;
        case Qt::Key_Right:
            plan.ScrollRight(kLineStep);
            break;
        case Qt::Key_Down:
            plan.ScrollDown(kLineStep);
            break;
        default:
            return;
    }
    SetScrollPositions();
    Repaint();
}

void CSiteView::OnHScroll(int code, int position) {
    OnScroll(Qt::Horizontal, code, position);
}

void CSiteView::OnVScroll(int code, int position) {
    OnScroll(Qt::Vertical, code, position);
}

void CSiteView::OnScroll(Qt::Orientation orientation, int code, int position) {
    CSitePlan& plan = m_services.plan;
    const bool horizontal = orientation == Qt::Horizontal;
    const SiteRect client = ClientRect();
    // A page is the client's size: counted as plan pixels on the handheld, as
    // the plan pixels it shows at wider sizes.
    int page = horizontal ? client.right : client.bottom;
    if (plan.IsSquarePixels()) {
        page = std::max(1, static_cast<int>(page / plan.GetScale()));
    }
    const auto back = [&](int n) { horizontal ? plan.ScrollLeft(n) : plan.ScrollUp(n); };
    const auto ahead = [&](int n) { horizontal ? plan.ScrollRight(n) : plan.ScrollDown(n); };
    switch (code) {
        case kLineUp:
            back(kLineStep);
            break;
        case kLineDown:
            ahead(kLineStep);
            break;
        case kPageUp:
            back(page);
            break;
        case kPageDown:
            ahead(page);
            break;
        case kThumbTrack:
            horizontal ? plan.SetCentreX(position) : plan.SetCentreY(position);
            break;
        default:
            break;
    }
    if (horizontal) {
        horizontalScrollBar()->setSliderPosition(plan.GetCentreX());
    } else {
        verticalScrollBar()->setSliderPosition(plan.GetCentreY());
    }
    viewport()->update();
}

void CSiteView::OnScrollAction(Qt::Orientation orientation, int action) {
    // Moving the slider from the handler reports a slider move of its own.
    if (m_bInScrollAction) {
        return;
    }
    m_bInScrollAction = true;
    QScrollBar* bar = orientation == Qt::Horizontal ? horizontalScrollBar() : verticalScrollBar();
    int code = -1;
    switch (action) {
        case QAbstractSlider::SliderSingleStepSub:
            code = kLineUp;
            break;
        case QAbstractSlider::SliderSingleStepAdd:
            code = kLineDown;
            break;
        case QAbstractSlider::SliderPageStepSub:
            code = kPageUp;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            code = kPageDown;
            break;
        case QAbstractSlider::SliderMove:
            code = kThumbTrack;
            break;
        default:
            break;
    }
    // The bar has already moved its slider by its own rule; the handler puts
    // it on the new centre, which is the value the bar then takes.
    OnScroll(orientation, code, bar->sliderPosition());
    m_bInScrollAction = false;
}

void CSiteView::SetScrollRanges() {
    const QRect extent = ToQRect(m_services.plan.GetExtent());
    horizontalScrollBar()->setRange(0, extent.width());
    verticalScrollBar()->setRange(0, extent.height());
    horizontalScrollBar()->setSingleStep(kLineStep);
    verticalScrollBar()->setSingleStep(kLineStep);
    const SiteRect client = ClientRect();
    int pageX = std::max(1, client.right - client.left);
    int pageY = std::max(1, client.bottom - client.top);
    if (m_services.plan.IsSquarePixels()) {
        // The thumb shows how much of the plan the view holds.
        const double scale = m_services.plan.GetScale();
        pageX = std::max(1, static_cast<int>(pageX / scale));
        pageY = std::max(1, static_cast<int>(pageY / scale));
    }
    horizontalScrollBar()->setPageStep(pageX);
    verticalScrollBar()->setPageStep(pageY);
}

void CSiteView::SetScrollPositions() {
    horizontalScrollBar()->setValue(m_services.plan.GetCentreX());
    verticalScrollBar()->setValue(m_services.plan.GetCentreY());
}

void CSiteView::SetPlanImage(const QImage& image) {
    if (image.isNull()) {
        return;
    }
    s_bFirstPaint = false;  // the blank plan is not wanted any more
    m_services.plan.ResetGeometry();
    m_bmpPlan = image.convertToFormat(QImage::Format_RGB32);
    FitPlanToView();
    viewport()->update();
}

void CSiteView::UpdateLayout() {
    const SiteRect client = ClientRect();
    CSitePlan& plan = m_services.plan;
    const bool desktop = IsDesktopLayout();
    if (desktop && !plan.IsSquarePixels()) {
        // Take the scale the handheld layout showed at, then the new client.
        plan.SetSquarePixels(true);
        plan.SetClientRect(client.left, client.top, client.right, client.bottom);
        return;
    }
    plan.SetClientRect(client.left, client.top, client.right, client.bottom);
    plan.SetSquarePixels(desktop);
}

void CSiteView::FitPlanToView() {
    const SiteRect client = ClientRect();
    CSitePlan& plan = m_services.plan;
    UpdateLayout();
    plan.SetExtent(0, 0, m_bmpPlan.width(), m_bmpPlan.height());
    if (plan.IsSquarePixels()) {
        ShowWholePlan();
    } else {
        const int side = std::min(client.right - client.left, client.bottom - client.top);
        plan.SetViewport(0, 0, side, side);
    }
    SetScrollRanges();
    SetScrollPositions();
}

void CSiteView::ShowWholePlan() {
    CSitePlan& plan = m_services.plan;
    plan.SetScale(plan.MinScale());
    const SiteRect extent = plan.GetExtent();
    plan.CentreOn((extent.left + extent.right) / 2, (extent.top + extent.bottom) / 2);
}

bool CSiteView::ShowWholePlanIfItFits() {
    CSitePlan& plan = m_services.plan;
    if (!IsDesktopLayout() || !plan.IsSquarePixels() || plan.FitScale() < 1.0) {
        return false;
    }
    ShowWholePlan();
    SetScrollRanges();
    SetScrollPositions();
    return true;
}

void CSiteView::ShowPoints() {
    CSitePlan& plan = m_services.plan;
    if (!plan.IsSquarePixels() || m_services.data.PointCount() == 0) {
        return;
    }
    if (ShowWholePlanIfItFits()) {
        return;  // every point is in sight, and the plan around them
    }
    SiteRect area{
        std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(),
        std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::min()};
    m_services.data.ForEachPoint([&area](const CSiteData::_tap& point) {
        area.left = std::min(area.left, point.x);
        area.top = std::min(area.top, point.y);
        area.right = std::max(area.right, point.x);
        area.bottom = std::max(area.bottom, point.y);
    });
    plan.FitArea(area, kPointsMargin, 1.0);
    SetScrollRanges();
    SetScrollPositions();
}

void CSiteView::OnInitialUpdate() {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_bInitialUpdateDone = true;
    Repaint();
}

void CSiteView::Repaint() {
    viewport()->update();
    viewport()->repaint();
}

void CSiteView::showEvent(QShowEvent* event) {
    // The frame shows the view once it is created: that is its initial update.
    if (!m_bInitialUpdateDone) {
        OnInitialUpdate();
    }
    QAbstractScrollArea::showEvent(event);
}

void CSiteView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    // The plan keeps its centre; the client rectangle follows the window so
    // that the viewport takes the client's shape (and, on the handheld,
    // zooming out squares the viewport to the current client area).
    if (!s_bFirstPaint) {
        UpdateLayout();
        SetScrollRanges();
        SetScrollPositions();
    }
}

void CSiteView::mousePressEvent(QMouseEvent* event) {
    if (m_input.Press(event)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void CSiteView::mouseMoveEvent(QMouseEvent* event) {
    if (m_input.Move(event)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void CSiteView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_input.Release(event)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CSiteView::wheelEvent(QWheelEvent* event) {
    if (m_input.Wheel(event)) {
        event->accept();
        return;
    }
    QAbstractScrollArea::wheelEvent(event);
}

bool CSiteView::viewportEvent(QEvent* event) {
    if ((event->type() == QEvent::NativeGesture || event->type() == QEvent::Gesture) &&
        m_input.Gesture(event)) {
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void CSiteView::InputTap(QPoint at, bool held) {
    OnLButtonDown(at - PlanArea().topLeft(), held);
}

bool CSiteView::InputCanDrag() const {
    // On the handheld a wandering stylus stays a plain tap.
    return m_services.plan.IsSquarePixels();
}

void CSiteView::InputPan(QPointF delta) {
    m_services.plan.PanBy(delta.x(), delta.y());
    SetScrollPositions();
    viewport()->update();
}

void CSiteView::InputZoomAt(double factor, QPointF at) {
    CSitePlan& plan = m_services.plan;
    if (!plan.IsSquarePixels()) {
        // The handheld zooms in factors of two about the centre.
        if (factor > 1.0) {
            OnZoomIn();
        } else if (factor < 1.0) {
            OnZoomOut();
        }
        return;
    }
    const QPoint origin = PlanArea().topLeft();
    plan.ZoomAt(factor, at.x() - origin.x(), at.y() - origin.y());
    SetScrollRanges();
    SetScrollPositions();
    viewport()->update();
}

bool CSiteView::InputScroll(QPointF delta) {
    if (!m_services.plan.IsSquarePixels()) {
        return false;  // the scroll bars take the wheel, as on the handheld
    }
    InputPan(delta);
    return true;
}

void CSiteView::keyPressEvent(QKeyEvent* event) {
    OnKeyDown(event->key());
    QAbstractScrollArea::keyPressEvent(event);
}

void CSiteView::scrollContentsBy(int, int) {
    // The scroll bars only mirror the site plan's centre; the handlers repaint.
}

// ---------------------------------------------------------------------------
// Painting

void CSiteView::SetOverlay(Overlay overlay) {
    m_layer.SetOverlay(std::move(overlay));
    viewport()->update();
}

void CSiteView::UpdateOverlay() {
    m_layer.Invalidate();
    viewport()->update();
}

double CSiteView::RenderRatio() const {
    if (!IsDesktopLayout()) {
        return 1.0;  // the handheld picture, pixel for pixel
    }
    const double ratio = m_ratioOverride > 0 ? m_ratioOverride : viewport()->devicePixelRatioF();
    return std::clamp(ratio, 1.0, 8.0);
}

void CSiteView::paintEvent(QPaintEvent*) {
    QPainter target(viewport());
    OnDraw(target);
}

void CSiteView::OnDraw(QPainter& target) {
    // One copy of the finished picture: the screen never shows half a frame.
    target.drawImage(0, 0, Render());
}

QFont CSiteView::BandFont() const {
    QFont font(QStringLiteral("System"));
    font.setPointSize(IsDesktopLayout() ? kDesktopBandFontPoints : kBandFontPoints);
    return font;
}

QImage CSiteView::Render() {
    const SiteRect client = ClientRect();
    const int width = std::max(1, viewport()->width());
    const int height = std::max(1, viewport()->height());
    const double ratio = RenderRatio();
    QImage buffer(static_cast<int>(std::lround(width * ratio)),
                  static_cast<int>(std::lround(height * ratio)), QImage::Format_RGB32);
    if (buffer.isNull()) {
        return buffer;
    }
    buffer.setDevicePixelRatio(ratio);
    // Points are converted to pixels at the window's resolution.
    const double dotsPerMeter = viewport()->logicalDpiY() / 0.0254;
    buffer.setDotsPerMeterX(static_cast<int>(dotsPerMeter));
    buffer.setDotsPerMeterY(static_cast<int>(dotsPerMeter));

    QPainter dc(&buffer);
    const QFont font = BandFont();
    dc.setFont(font);

    if (s_bFirstPaint) {
        QImage blank = m_services.draw.LoadBitmap(kBitmapBlankPlan);
        if (blank.isNull()) {
            blank = QImage(kBlankPlanWidth, kBlankPlanHeight, QImage::Format_RGB32);
            blank.fill(kBlack);
        }
        m_bmpPlan = blank.convertToFormat(QImage::Format_RGB32);
        FitPlanToView();
        s_bFirstPaint = false;
    }

    if (!m_bSurveyShown && IsDesktopLayout()) {
        // Text at the screen's resolution rather than the handheld's page stretched.
        InstructionPage::Draw(dc, QRect(0, 0, width, height));
        return buffer;
    }
    if (!m_bSurveyShown) {
        // The strip below the instructions is black.
        dc.fillRect(QRect(0, 0, width, height), kBlack);
        m_services.draw.DrawBitmap(dc, kBitmapInstructions, 0, 0, width,
                                   height - kInstructionStrip);
        return buffer;
    }

    SurveyLayer::Placement placement;
    placement.client = client;
    placement.ratio = ratio;
    placement.radius = DiscRadius(ratio);
    placement.penWidth = std::max(1, static_cast<int>(std::lround(ratio)));
    placement.dotsPerMeter = static_cast<int>(dotsPerMeter);
    placement.font = font;
    if (IsDesktopLayout()) {
        // The heatmap's continuous scale and metric; the handheld keeps its five colours.
        placement.discColour = [this](const CSiteData::_tap& point) {
            return m_heatmap->DiscColour(point);
        };
    }
    // The layer covers the whole picture (black beside a plan smaller than
    // the viewport), so the buffer needs no clearing first.
    const QImage& layer = m_layer.Update(m_services.plan, placement, m_bmpPlan, m_services.data);
    const QRect area = PlanArea();
    if (layer.size() == (area.size() * ratio)) {
        dc.drawImage(area.topLeft(), layer);
    } else {
        dc.fillRect(QRect(0, 0, width, height), kBlack);
    }
    dc.save();
    dc.translate(area.topLeft());
    dc.setClipRect(QRect(QPoint(0, 0), area.size()));
    {
        // Labels stay inside the plan area and off the legend.
        const QRectF legend = IsDesktopLayout() && IsLegendShown()
                                  ? QRectF(ScaleLegendRect(dc).translated(-area.topLeft()))
                                  : QRectF();
        m_heatmap->DrawMarkers(dc, m_services.plan.Transform(), IsDesktopLayout(),
                               QRectF(QPointF(0, 0), QSizeF(area.size())), legend);
    }
    dc.restore();

    // At desktop sizes the alert bands lie over the top of the plan area,
    // below the location and zoom bands; on the handheld all bands lie over it.
    const int alertShift = IsDesktopLayout() ? area.top() - 2 * BandHeight(dc) : 0;
    dc.translate(0, alertShift);
    if (m_bPlacingAP) {
        DrawPlaceApPrompt(dc);
    }
    const bool noAp = m_services.data.m_bNoApHeard.load();
    if (noAp) {
        DrawNoApAlert(dc);
    }
    if (!m_linkAlert.isEmpty()) {
        // Below the third band when that one already carries a message.
        DrawLinkAlert(dc, m_bPlacingAP || noAp ? 3 : 2);
    }
    dc.translate(0, -alertShift);
    DrawPositionMarker(dc);
    if (IsDesktopLayout()) {
        DrawPlacing(dc);
    }
    DrawLocationBand(dc);
    DrawZoomBand(dc);
    if (IsLegendShown()) {
        if (IsDesktopLayout()) {
            // One legend: the scale the discs and the heatmap share.
            const QRect box = ScaleLegendRect(dc);
            heatmap::DrawLegend(dc, box.topLeft(), m_heatmap->DiscScale(), LegendTextSize(dc));
        } else {
            DrawLegend(dc);
        }
    }
    return buffer;
}

int CSiteView::LegendTextSize(QPainter& dc) const {
    return std::max(9, QFontMetrics(dc.font(), dc.device()).ascent());
}

QRect CSiteView::ScaleLegendRect(QPainter& dc) const {
    // At the right, below the alert bands that may lie over the plan's top.
    const QSize size = heatmap::LegendSize(m_heatmap->DiscScale(), LegendTextSize(dc));
    const int top = PlanArea().top() + 2 * BandHeight(dc) + kHeatmapLegendMargin;
    return QRect(QPoint(viewport()->width() - kHeatmapLegendMargin - size.width(), top), size);
}

int CSiteView::DiscRadius(double ratio) const {
    const CSitePlan& plan = m_services.plan;
    if (!plan.IsSquarePixels()) {
        return kDiscRadius;
    }
    const double radius =
        std::clamp(kWideDiscRadius * plan.GetScale(), kMinDiscRadius, kMaxDiscRadius);
    return static_cast<int>(std::lround(radius * ratio));
}

void CSiteView::DrawPositionMarker(QPainter& dc) {
    // The marker marks the centre of the plan area.
    const QRect area = PlanArea();
    const SiteRect client{area.left(), area.top(), area.right() + 1, area.bottom() + 1};
    const int width = area.width();
    const int height = area.height();
    const double ratio = dc.device()->devicePixelRatioF();
    // The marker at device resolution, drawn pixel for pixel: raster
    // operations do not mix with scaling.
    if (m_markerScaled.isNull() || m_markerScaled.devicePixelRatio() != ratio) {
        const int side = static_cast<int>(std::lround(kMarkerSize * ratio));
        m_markerScaled = ratio == 1.0 ? m_bmpMarker
                                      : m_bmpMarker.scaled(side, side, Qt::IgnoreAspectRatio,
                                                           Qt::FastTransformation);
        m_markerScaled.setDevicePixelRatio(ratio);
    }
    dc.save();
    // White marker pixels leave the picture, black ones paint it black.
    dc.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    dc.drawImage(client.left + width / 2 - kMarkerSize / 2,
                 client.top + height / 2 - kMarkerSize / 2, m_markerScaled);
    dc.restore();
}

int CSiteView::BandHeight(QPainter& dc) const {
    return QFontMetrics(dc.font(), dc.device()).height();
}

void CSiteView::DrawBand(QPainter& dc, int top, const QColor& fill, const QString& text) {
    // The fill is also the text's background, so the text is drawn over it.
    const QRect band(0, top, viewport()->width(), BandHeight(dc));
    dc.save();
    dc.fillRect(band, fill);
    dc.setPen(kWhite);
    dc.setBackgroundMode(Qt::TransparentMode);
    // A line wider than the band (the location text in a wide font on a
    // narrow screen) is drawn smaller rather than cut at both ends.
    QFont font = dc.font();
    while (font.pointSizeF() > kBandFontMinPoints &&
           QFontMetrics(font, dc.device()).horizontalAdvance(text) > band.width()) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    dc.setFont(font);
    dc.drawText(band, Qt::AlignCenter, text);
    dc.restore();
}

QString CSiteView::LocationBandText() const {
    // The position in the source's own words; an old one is not passed off
    // as the current one.
    QString line = QString::fromStdString(m_services.position.StatusLine());
    const double age = m_services.position.FixAgeSeconds(m_services.clock.NowMs());
    if (age * 1000.0 > static_cast<double>(source::kStaleFixMs)) {
        line += QStringLiteral(" (no GPS for %1 s)").arg(static_cast<long long>(std::floor(age)));
    }
    return line;
}

QString CSiteView::LocationBandLine(const LocationSnapshot& snapshot) {
    char text[CLocation::kStatusLineSize * 2] = {};
    CLocation::FormatStatusLine(snapshot, text, sizeof text);
    QString line = QString::fromLatin1(text);
    // An old position is not shown as the current one.
    if (snapshot.ageSeconds > gps::kGpsStaleSeconds) {
        line += QStringLiteral(" (no GPS for %1 s)")
                    .arg(static_cast<long long>(std::floor(snapshot.ageSeconds)));
    }
    return line;
}

QString CSiteView::ZoomBandText() const {
    char text[128];
    std::snprintf(text, sizeof text, "ZOOM=%d%%  DATA PTS=%d", m_services.plan.GetZoomPercent(),
                  static_cast<int>(m_services.data.PointCount()));
    return QString::fromLatin1(text);
}

void CSiteView::DrawLocationBand(QPainter& dc) {
    // A 3D fix turns the location band green.
    const bool fix3D = m_services.position.Current().fixClass == source::FixClass::Fix3D;
    DrawBand(dc, 0, fix3D ? kGreen : kRed, LocationBandText());
}

void CSiteView::DrawZoomBand(QPainter& dc) {
    DrawBand(dc, BandHeight(dc), kBlue, ZoomBandText());
}

void CSiteView::DrawNoApAlert(QPainter& dc) {
    DrawBand(dc, 2 * BandHeight(dc), kRed, QStringLiteral("ALERT! NO ACCESS POINTS DETECTED!"));
}

void CSiteView::DrawPlaceApPrompt(QPainter& dc) {
    DrawBand(dc, 2 * BandHeight(dc), kBlack, QStringLiteral("TAP ON SCREEN TO PLACE AP"));
}

void CSiteView::DrawLinkAlert(QPainter& dc, int band) {
    DrawBand(dc, band * BandHeight(dc), kRed, m_linkAlert);
}

void CSiteView::DrawLegend(QPainter& dc) {
    Legend::Draw(dc, viewport()->height());
}

}  // namespace ketrion
