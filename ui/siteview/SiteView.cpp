#include "ui/siteview/SiteView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/EngineEvent.h"
#include "render/HeatmapImage.h"
#include "session/SurveySession.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Draw.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/HeatmapLayer.h"
#include "ui/siteview/InstructionPage.h"
#include "ui/siteview/Legend.h"
#include "ui/siteview/PlacingMarks.h"

namespace ketrion {

namespace {

// Bitmap resources of the view.
constexpr std::uint16_t kBitmapInstructions = 149;
constexpr std::uint16_t kBitmapBlankPlan = 154;
// Size of the built-in blank plan, used when its resource is missing.
constexpr int kBlankPlanWidth = 240;
constexpr int kBlankPlanHeight = 265;
// The instruction screen leaves this strip at the bottom unpainted.
constexpr int kInstructionStrip = 20;
// Discs are this large on the handheld; at wider clients they are
// kWideDiscRadius at 100% and follow the zoom between the two bounds.
constexpr int kDiscRadius = 10;
constexpr int kWideDiscRadius = 20;
constexpr double kMinDiscRadius = 6.0;
constexpr double kMaxDiscRadius = 40.0;
// The heatmap's scale keeps this far from the client's right edge.
constexpr int kHeatmapLegendMargin = 8;
// The largest device pixel ratio the back buffer is drawn at.
constexpr double kMaxRenderRatio = 8.0;

const QColor kBlack(0, 0, 0);

}  // namespace

CSiteView::CSiteView(Services& services, QWidget* parent)
    : CSiteView(services, static_cast<Dialogs*>(nullptr), parent) {}

CSiteView::CSiteView(Services& services, Dialogs& dialogs, QWidget* parent)
    : CSiteView(services, &dialogs, parent) {}

CSiteView::CSiteView(Services& services, Dialogs* dialogs, QWidget* parent)
    : QAbstractScrollArea(parent),
      m_services(services),
      m_bands(services, *viewport()),
      m_navigator(services.plan, *this, [this] { return m_bands.StatusHeight(); }),
      m_input(*this, viewport()),
      m_marker(services.draw) {
    if (dialogs == nullptr) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        dialogs = m_ownDialogs.get();
    }
    m_commands = std::make_unique<SurveyCommands>(services, *dialogs, m_navigator,
                                                  static_cast<SurveyCommandsView&>(*this), *this);
    connect(m_commands.get(), &SurveyCommands::fileOpened, this, &CSiteView::fileOpened);

    // The scroll bars appear with the initial update, before the first paint.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    // Every paint covers the whole viewport: no erasing first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    setFrameShape(QFrame::NoFrame);
    // Touch-screen pinches arrive as gestures on the viewport.
    viewport()->grabGesture(Qt::PinchGesture);

    m_heatmap = std::make_unique<HeatmapLayer>(m_services.data, m_services.projection,
                                               [this] { return m_planImage.size(); });
    connect(m_heatmap.get(), &HeatmapLayer::changed, this, &CSiteView::UpdateOverlay);
    m_heatmapPanels = std::make_unique<HeatmapPanels>(*m_heatmap, *this);
    m_heatmap->SetIncludeNoFix(m_services.session.IncludeNoFix());
    m_heatmap->SetRevision([this] { return m_services.session.PointsRevision(); });
    // Every change of the points (an undo and a deletion too) is drawn and
    // recomputes the heatmap and so the access-point estimates. A point added
    // by a scan is announced on the source's thread: that news is posted here.
    m_pointsListener =
        m_services.session.SubscribePoints([this](SurveySession::PointChange change) {
            if (QThread::currentThread() == thread()) {
                OnPointsChanged(change);
            } else {
                QMetaObject::invokeMethod(
                    this, [this, change] { OnPointsChanged(change); }, Qt::QueuedConnection);
            }
            QMetaObject::invokeMethod(
                this, [this] { m_heatmap->PointsChanged(); }, Qt::QueuedConnection);
        });
}

CSiteView::~CSiteView() {
    m_services.session.UnsubscribePoints(m_pointsListener);
}

// ---------------------------------------------------------------------------
// Commands and news

void CSiteView::OnCommand(int id) {
    SurveyCommands& commands = *m_commands;
    switch (id) {
        case ID_PROJECTION_OPEN:
            commands.OpenProjection();
            break;
        case ID_COLLECTION_OPEN:
            commands.OpenCollection();
            break;
        case ID_COLLECTION_NEW:
            commands.NewCollection();
            break;
        case ID_SCAN_START:
            commands.StartRecording();
            break;
        case ID_SCAN_STOP:
            commands.StopRecording();
            break;
        case ID_PLACE_AP:
            commands.PlaceAp();
            break;
        case ID_PLACING_GPS:
            commands.SetPlacing(SurveySession::Placing::Gps);
            break;
        case ID_PLACING_STOP:
            commands.SetPlacing(SurveySession::Placing::StopAndGo);
            break;
        case ID_PLACING_WALK:
            commands.SetPlacing(SurveySession::Placing::Walk);
            break;
        case ID_EDIT_UNDO:
            commands.Undo();
            break;
        case ID_DELETE_POINT:
            commands.DeleteSelectedPoint();
            break;
        case ID_ZOOM_IN:
            m_navigator.ZoomIn();
            break;
        case ID_ZOOM_OUT:
            m_navigator.ZoomOut();
            break;
        case ID_ZOOM_FIT:
            m_navigator.ZoomFit();
            break;
        case ID_VIEW_FOLLOW:
            m_navigator.SetFollowing(!m_navigator.IsFollowing());
            break;
        case ID_VIEW_LEGEND:
            ToggleLegend();
            break;
        case ID_VIEW_HEATMAP:
            ToggleHeatmap();
            break;
        default:
            break;
    }
}

void CSiteView::OnEngineEvent(const EngineEvent& event) {
    m_bands.OnSourceEvent(event);
    viewport()->update();
}

void CSiteView::OnPointsChanged(SurveySession::PointChange change) {
    // New points are drawn onto the kept picture; points that went (a
    // deletion, an undo) need it drawn afresh.
    if (change == SurveySession::PointChange::Deleted ||
        change == SurveySession::PointChange::Undone) {
        m_layer.Invalidate();
    }
    viewport()->update();
}

void CSiteView::OnInitialUpdate() {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_initialUpdateDone = true;
    RepaintNow();
}

// ---------------------------------------------------------------------------
// What the commands ask of the view

void CSiteView::InstallPlanImage(const QImage& image) {
    m_services.plan.ResetGeometry();
    if (!image.isNull()) {
        m_blankPlanPending = false;  // the blank plan is not wanted any more
        m_planImage = image.convertToFormat(QImage::Format_RGB32);
    }
    m_navigator.FitPlan(m_planImage.size());
    // A new plan size makes the heatmap's grid wrong.
    m_heatmap->Recheck();
    viewport()->update();
}

void CSiteView::SetPlanImage(const QImage& image) {
    if (!image.isNull()) {
        InstallPlanImage(image);
    }
}

void CSiteView::SurveyReplaced() {
    m_layer.Invalidate();
    m_heatmap->Recheck();
    viewport()->update();
}

void CSiteView::Refresh() {
    viewport()->update();
}

void CSiteView::RepaintNow() {
    viewport()->update();
    viewport()->repaint();
}

// ---------------------------------------------------------------------------
// Legend and heatmap

bool CSiteView::IsLegendShown() const {
    if (m_legend == LegendChoice::Auto) {
        return m_navigator.IsDesktopLayout();
    }
    return m_legend == LegendChoice::Shown;
}

void CSiteView::ToggleLegend() {
    m_legend = IsLegendShown() ? LegendChoice::Hidden : LegendChoice::Shown;
    viewport()->update();
}

bool CSiteView::IsHeatmapShown() const {
    return m_heatmap->IsEnabled();
}

void CSiteView::ToggleHeatmap() {
    const bool show = !m_heatmap->IsEnabled();
    if (show) {
        SetOverlay([this](QPainter& dc, const ViewTransform& transform) {
            m_heatmap->Draw(dc, transform);
        });
    } else {
        // No overlay at all: the picture is again exactly the one without it.
        SetOverlay({});
    }
    m_heatmapPanels->SetShown(show, m_navigator.IsDesktopLayout());
    m_heatmap->SetEnabled(show);
}

// ---------------------------------------------------------------------------
// Qt events and input

void CSiteView::showEvent(QShowEvent* event) {
    // The frame shows the view once it is created: that is its initial update.
    if (!m_initialUpdateDone) {
        OnInitialUpdate();
    }
    QAbstractScrollArea::showEvent(event);
}

void CSiteView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (!m_blankPlanPending) {
        m_navigator.Resized();
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

void CSiteView::keyPressEvent(QKeyEvent* event) {
    if (m_navigator.ScrollByKey(event->key())) {
        RepaintNow();
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CSiteView::scrollContentsBy(int, int) {
    // The scroll bars only mirror the site plan's centre; the handlers repaint.
}

void CSiteView::InputTap(QPoint at, bool held) {
    m_commands->Tap(at - m_navigator.PlanArea().topLeft(), held);
}

bool CSiteView::InputCanDrag() const {
    // On the handheld a wandering stylus stays a plain tap.
    return m_services.plan.IsSquarePixels();
}

void CSiteView::InputPan(QPointF delta) {
    m_navigator.Pan(delta);
}

void CSiteView::InputZoomAt(double factor, QPointF at) {
    m_navigator.ZoomAt(factor, at);
}

bool CSiteView::InputScroll(QPointF delta) {
    if (!m_services.plan.IsSquarePixels()) {
        return false;  // the scroll bars take the wheel, as on the handheld
    }
    m_navigator.Pan(delta);
    return true;
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
    if (!m_navigator.IsDesktopLayout()) {
        return 1.0;  // the handheld picture, pixel for pixel
    }
    const double ratio = m_ratioOverride > 0 ? m_ratioOverride : viewport()->devicePixelRatioF();
    return std::clamp(ratio, 1.0, kMaxRenderRatio);
}

void CSiteView::paintEvent(QPaintEvent*) {
    QPainter target(viewport());
    Draw(target);
}

void CSiteView::Draw(QPainter& target) {
    // One copy of the finished picture: the screen never shows half a frame.
    target.drawImage(0, 0, Render());
}

void CSiteView::InstallBlankPlan() {
    QImage blank = m_services.draw.LoadBitmap(kBitmapBlankPlan);
    if (blank.isNull()) {
        blank = QImage(kBlankPlanWidth, kBlankPlanHeight, QImage::Format_RGB32);
        blank.fill(kBlack);
    }
    m_planImage = blank.convertToFormat(QImage::Format_RGB32);
    m_navigator.FitPlan(m_planImage.size());
    m_blankPlanPending = false;
}

QImage CSiteView::Render() {
    const bool desktop = m_navigator.IsDesktopLayout();
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
    const QFont font = m_bands.Font();
    dc.setFont(font);

    if (m_blankPlanPending) {
        InstallBlankPlan();
    }
    const SiteRect client = m_navigator.ClientRect();

    if (!m_commands->IsSurveyShown() && desktop) {
        // Text at the screen's resolution rather than the handheld's page stretched.
        InstructionPage::Draw(dc, QRect(0, 0, width, height));
        return buffer;
    }
    if (!m_commands->IsSurveyShown()) {
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
    if (desktop) {
        // The heatmap's continuous scale and metric; the handheld keeps its five colours.
        placement.discColour = [this](const auto& point) { return m_heatmap->DiscColour(point); };
    }
    // The layer covers the whole picture (black beside a plan smaller than
    // the viewport), so the buffer needs no clearing first.
    const QImage& layer = m_layer.Update(m_services.plan, placement, m_planImage, m_services.data);
    const QRect area = m_navigator.PlanArea();
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
        const QRectF legend = desktop && IsLegendShown()
                                  ? QRectF(ScaleLegendRect(dc).translated(-area.topLeft()))
                                  : QRectF();
        m_heatmap->DrawMarkers(dc, m_services.plan.Transform(), desktop,
                               QRectF(QPointF(0, 0), QSizeF(area.size())), legend);
    }
    dc.restore();

    // At desktop sizes the alert bands lie over the top of the plan area,
    // below the location and zoom bands; on the handheld all bands lie over it.
    const int alertShift = desktop ? area.top() - 2 * SiteBands::Height(dc) : 0;
    dc.translate(0, alertShift);
    m_bands.DrawAlerts(dc, m_commands->IsPlacingAp());
    dc.translate(0, -alertShift);
    m_marker.Draw(dc, area);
    if (desktop) {
        // The walk so far and where the next reading goes; a stop being read.
        dc.save();
        dc.translate(area.topLeft());
        PlacingMarks::Draw(dc, m_services.session, m_services.plan, client,
                           m_commands->StopPosition(), m_services.scan.IsScanning());
        dc.restore();
    }
    m_bands.DrawStatus(dc);
    if (IsLegendShown()) {
        if (desktop) {
            // One legend: the scale the discs and the heatmap share.
            const QRect box = ScaleLegendRect(dc);
            heatmap::DrawLegend(dc, box.topLeft(), m_heatmap->DiscScale(), LegendTextSize(dc));
        } else {
            Legend::Draw(dc, viewport()->height());
        }
    }
    return buffer;
}

int CSiteView::LegendTextSize(QPainter& dc) {
    return std::max(9, QFontMetrics(dc.font(), dc.device()).ascent());
}

QRect CSiteView::ScaleLegendRect(QPainter& dc) const {
    // At the right, below the alert bands that may lie over the plan's top.
    const QSize size = heatmap::LegendSize(m_heatmap->DiscScale(), LegendTextSize(dc));
    const int top = m_navigator.PlanArea().top() + 2 * SiteBands::Height(dc) + kHeatmapLegendMargin;
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

}  // namespace ketrion
