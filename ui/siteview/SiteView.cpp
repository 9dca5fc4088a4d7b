#include "ui/siteview/SiteView.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/Engine.h"
#include "engine/Location.h"
#include "platform/Sound.h"
#include "survey/SiteData.h"
#include "survey/SiteProjection.h"
#include "ui/shell/Draw.h"
#include "ui/shell/Info.h"
#include "ui/shell/Services.h"
#include "ui/siteview/Dialogs.h"

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
// Discs are this large on a screen up to 240 pixels wide, and twice that on wider ones.
constexpr int kNarrowScreen = 240;
constexpr int kDiscRadius = 10;
constexpr int kWideDiscRadius = 20;
// Half the side of the box the "AP" label is centred in, whatever the disc size.
constexpr int kApLabelHalf = 10;
// Border around a disc image, so the pen's outer pixels fit.
constexpr int kSpriteMargin = 2;
// The path's dashes: kDashLength pixels drawn in every kDashPeriod.
constexpr int kDashLength = 4;
constexpr int kDashPeriod = 6;
// Band font: 8 points, face "System".
constexpr int kBandFontPoints = 8;
// Smallest size a band's text is shrunk to so that it fits the band.
constexpr double kBandFontMinPoints = 5.0;

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kRed(192, 0, 0);
const QColor kGreen(0, 192, 0);
const QColor kBlue(0, 0, 192);

// Fix status code of a 3D fix: the location band turns green.
constexpr unsigned kFix3D = 7;

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
      m_penDash(kBlack, 1, Qt::DashLine),
      m_brBlack(kBlack),
      m_brWhite(kWhite),
      m_brRed(kRed),
      m_brGreen(kGreen),
      m_brBlue(kBlue) {
    if (m_dialogs == nullptr) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    // Survey files loaded from this view are placed with the current projection.
    m_services.data.SetProjection(&m_services.projection);
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
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setInterval(kTapAndHoldMs);
    connect(&m_holdTimer, &QTimer::timeout, this, &CSiteView::HoldTimeout);
}

CSiteView::~CSiteView() = default;

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
        default:
            break;
    }
}

void CSiteView::OnProjectionOpen() {
    FileDialogRequest request;
    request.filter = QStringLiteral("Projection Files (*.ktp)|*.ktp|All Files (*.*)|*.*||");
    request.defaultExtension = QStringLiteral("KTP");
    request.initialName = QStringLiteral("DEFAULT");
    request.mustExist = true;
    const std::optional<QString> chosen = m_dialogs->OpenFile(request);
    if (chosen) {
        bool loaded = true;
        {
            WaitCursor wait;
            // The projection reports its own failures and keeps the previous
            // projection (and plan image path) when loading fails.
            m_services.projection.LoadProjection(LocalPath(*chosen));
            m_services.plan.ResetGeometry();
            const QString bitmapPath =
                QFile::decodeName(m_services.projection.m_strBitmapPath.c_str());
            QImage plan;
            if (!bitmapPath.isEmpty()) {
                plan.load(bitmapPath);
            }
            if (plan.isNull()) {
                loaded = false;
            } else {
                m_bmpPlan = plan.convertToFormat(QImage::Format_RGB32);
            }
            // Runs with the previous image when the new one did not load.
            FitPlanToView();
        }
        if (!loaded) {
            m_dialogs->Message(QStringLiteral("Cannot Load Bitmap"));
        }
    }
    Repaint();
}

void CSiteView::OnCollectionOpen() {
    m_bSurveyShown = true;
    // Loading replaces the list of points: draw them all afresh.
    m_bLayerValid = false;
    const FileDialogRequest request = CollectionRequest();
    if (m_dialogs->AskYesNo(QStringLiteral("Do you wish to open an existing collection file?"))) {
        if (const std::optional<QString> chosen = m_dialogs->OpenFile(request)) {
            m_services.data.SetPath(LocalPath(*chosen));
            WaitCursor wait;
            m_services.data.LoadSurvey();
        }
        // Cancelled: the path stays as it was and the survey stays shown.
    } else if (const std::optional<QString> chosen = m_dialogs->SaveFile(request)) {
        m_services.data.SetPath(LocalPath(*chosen));
        m_services.data.NewCollection();
    } else {
        m_dialogs->Message(
            QStringLiteral("No collection file selected, data can not be collected."));
        m_services.data.SetPath(std::string());
        m_bSurveyShown = false;
    }
    // Show the survey (or the instructions) at once rather than at the next
    // engine update.
    viewport()->update();
}

void CSiteView::OnScanStart() {
    if (!m_services.data.HasPath()) {
        m_dialogs->Message(QStringLiteral("Data collection file must be selected."));
        return;
    }
    m_services.sound.PlayResourceSound("WHOOSH");
    // Starting a running timer restarts its period: there is only one.
    m_collectionTimer.start();
    TakeReading();
}

void CSiteView::OnScanStop() {
    m_services.sound.PlayResourceSound("WHOOSH");
    if (m_services.data.HasPath()) {
        m_collectionTimer.stop();
    }
}

void CSiteView::OnZoomIn() {
    m_services.plan.ZoomIn();
    viewport()->update();
}

void CSiteView::OnZoomOut() {
    m_services.plan.ZoomOut();
    viewport()->update();
}

void CSiteView::OnPlaceAP() {
    m_bPlacingAP = true;
    viewport()->update();
}

void CSiteView::OnTimer() {
    if (!m_services.engine.IsScanning()) {
        TakeReading();
    }
}

void CSiteView::TakeReading() {
    m_services.engine.RequestScan();
    m_services.sound.PlayResourceSound("PING");
    const int x = m_services.projection.CurrentPlanX();
    const int y = m_services.projection.CurrentPlanY();
    m_services.data.SetPosition(x, y);
    m_services.plan.CentreOn(x, y);
    // No repaint here: the engine's update after the scan's end repaints.
    emit readingTaken();
}

// ---------------------------------------------------------------------------
// Taps, keys and scroll bars

SiteRect CSiteView::ClientRect() const {
    const QRect r = viewport()->rect();
    return SiteRect{0, 0, r.width(), r.height()};
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
    if (m_bPlacingAP) {
        std::int32_t qx = 0;
        std::int32_t qy = 0;
        plan.ScreenToPlan(client, point.x(), point.y(), qx, qy);
        m_services.data.RecordDynamicAp(qx, qy);
        plan.CentreOnScreenPoint(client, point.x(), point.y());
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
    CSitePlan& plan = m_services.plan;
    switch (code) {
        case kLineUp:
            plan.ScrollLeft(kLineStep);
            break;
        case kLineDown:
            plan.ScrollRight(kLineStep);
            break;
        case kPageUp:
            plan.ScrollLeft(ClientRect().right);
            break;
        case kPageDown:
            plan.ScrollRight(ClientRect().right);
            break;
        case kThumbTrack:
            plan.SetCentreX(position);
            break;
        default:
            break;
    }
    horizontalScrollBar()->setSliderPosition(plan.GetCentreX());
    viewport()->update();
}

void CSiteView::OnVScroll(int code, int position) {
    CSitePlan& plan = m_services.plan;
    switch (code) {
        case kLineUp:
            plan.ScrollUp(kLineStep);
            break;
        case kLineDown:
            plan.ScrollDown(kLineStep);
            break;
        case kPageUp:
            plan.ScrollUp(ClientRect().bottom);
            break;
        case kPageDown:
            plan.ScrollDown(ClientRect().bottom);
            break;
        case kThumbTrack:
            plan.SetCentreY(position);
            break;
        default:
            break;
    }
    verticalScrollBar()->setSliderPosition(plan.GetCentreY());
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
    if (orientation == Qt::Horizontal) {
        OnHScroll(code, bar->sliderPosition());
    } else {
        OnVScroll(code, bar->sliderPosition());
    }
    m_bInScrollAction = false;
}

void CSiteView::SetScrollRanges() {
    const QRect extent = ToQRect(m_services.plan.GetExtent());
    horizontalScrollBar()->setRange(0, extent.width());
    verticalScrollBar()->setRange(0, extent.height());
    horizontalScrollBar()->setSingleStep(kLineStep);
    verticalScrollBar()->setSingleStep(kLineStep);
    horizontalScrollBar()->setPageStep(std::max(1, viewport()->width()));
    verticalScrollBar()->setPageStep(std::max(1, viewport()->height()));
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

void CSiteView::FitPlanToView() {
    const SiteRect client = ClientRect();
    CSitePlan& plan = m_services.plan;
    plan.SetClientRect(client.left, client.top, client.right, client.bottom);
    plan.SetExtent(0, 0, m_bmpPlan.width(), m_bmpPlan.height());
    const int side = std::min(client.right - client.left, client.bottom - client.top);
    plan.SetViewport(0, 0, side, side);
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
    // The plan keeps its viewport; the client rectangle follows the window so
    // that zooming out squares the viewport to the current client area.
    if (!s_bFirstPaint) {
        const SiteRect client = ClientRect();
        m_services.plan.SetClientRect(client.left, client.top, client.right, client.bottom);
        horizontalScrollBar()->setPageStep(std::max(1, viewport()->width()));
        verticalScrollBar()->setPageStep(std::max(1, viewport()->height()));
    }
}

void CSiteView::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        // A desktop's right click is a tap-and-hold at once.
        m_holdTimer.stop();
        m_bPressPending = false;
        OnLButtonDown(point, true);
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_pressPoint = point;
        m_bPressPending = true;
        m_holdTimer.start();
        event->accept();
        return;
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void CSiteView::mouseMoveEvent(QMouseEvent* event) {
    // A stylus that wanders is no tap-and-hold; the press stays a plain tap.
    if (m_holdTimer.isActive() &&
        (event->position().toPoint() - m_pressPoint).manhattanLength() > kTapAndHoldSlop) {
        m_holdTimer.stop();
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void CSiteView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && m_bPressPending) {
        m_holdTimer.stop();
        m_bPressPending = false;
        OnLButtonDown(m_pressPoint, false);
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void CSiteView::HoldTimeout() {
    if (!m_bPressPending) {
        return;
    }
    m_bPressPending = false;
    OnLButtonDown(m_pressPoint, true);
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

void CSiteView::paintEvent(QPaintEvent*) {
    QPainter target(viewport());
    OnDraw(target);
}

void CSiteView::OnDraw(QPainter& target) {
    // One copy of the finished picture: the screen never shows half a frame.
    target.drawImage(0, 0, Render());
}

QImage CSiteView::Render() {
    const SiteRect client = ClientRect();
    const int width = std::max(1, client.right - client.left);
    const int height = std::max(1, client.bottom - client.top);
    QImage buffer(width, height, QImage::Format_RGB32);
    if (buffer.isNull()) {
        return buffer;
    }
    // Areas no step paints (beside a plan smaller than the viewport) are black.
    buffer.fill(kBlack);
    // Points are converted to pixels at the window's resolution.
    const double dotsPerMeter = viewport()->logicalDpiY() / 0.0254;
    buffer.setDotsPerMeterX(static_cast<int>(dotsPerMeter));
    buffer.setDotsPerMeterY(static_cast<int>(dotsPerMeter));

    QPainter dc(&buffer);
    QFont font(QStringLiteral("System"));
    font.setPointSize(kBandFontPoints);
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

    if (!m_bSurveyShown) {
        m_services.draw.DrawBitmap(dc, kBitmapInstructions, 0, 0, width,
                                   height - kInstructionStrip);
        return buffer;
    }

    UpdateSurveyLayer(client, font, static_cast<int>(dotsPerMeter));
    dc.drawImage(0, 0, m_surveyLayer);

    if (m_bPlacingAP) {
        DrawPlaceApPrompt(dc);
    }
    if (m_services.data.m_bNoApHeard.load()) {
        DrawNoApAlert(dc);
    }
    DrawPositionMarker(dc);
    DrawLocationBand(dc);
    DrawZoomBand(dc);
    return buffer;
}

void CSiteView::UpdateSurveyLayer(const SiteRect& client, const QFont& font, int dotsPerMeter) {
    const CSitePlan& plan = m_services.plan;
    const LayerKey key{
        client,           plan.GetViewport(),     plan.GetExtent(), m_bmpPlan.cacheKey(),
        plan.m_bShowPath, plan.m_bShowDynamicAps, dotsPerMeter};
    const std::size_t count = m_services.data.PointCount();
    const bool rebuild = !m_bLayerValid || !(key == m_layerKey) || count < m_layerPoints;
    if (!rebuild && count == m_layerPoints) {
        return;  // nothing new since the last paint
    }
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    if (rebuild) {
        m_surveyLayer = QImage(width, height, QImage::Format_RGB32);
        if (m_surveyLayer.isNull()) {
            m_bLayerValid = false;
            return;
        }
        m_surveyLayer.setDotsPerMeterX(dotsPerMeter);
        m_surveyLayer.setDotsPerMeterY(dotsPerMeter);
        m_surveyLayer.fill(kBlack);
        m_layerKey = key;
        m_layerPoints = 0;
        m_bPathStarted = false;
        m_bLayerValid = true;
    }

    if (rebuild) {
        SiteRect dst = client;
        SiteRect src;
        plan.GetCopyRects(dst, src);
        if (dst.right > dst.left && dst.bottom > dst.top && src.right > src.left &&
            src.bottom > src.top) {
            QPainter dc(&m_surveyLayer);
            dc.drawImage(ToQRect(dst), m_bmpPlan, ToQRect(src));
        }
    }

    // The list only grows between loads, and later points are drawn over
    // earlier ones, so drawing just the new points (with the path carried on
    // from the last one drawn) gives the same picture as drawing them all.
    m_layerFont = font;
    // Points outside the viewport draw nothing and leave the path alone: most
    // points of a long survey are skipped with this test alone.
    const SiteRect viewport = plan.GetViewport();
    auto hidden = [&viewport](const CSiteData::_tap& point) {
        return point.x < viewport.left || point.x > viewport.right || point.y < viewport.top ||
               point.y > viewport.bottom;
    };
    const int radius = DiscRadius();
    std::size_t index = 0;
    m_services.data.ForEachPoint([&](const CSiteData::_tap& point) {
        if (index++ < m_layerPoints || hidden(point)) {
            return;
        }
        if (point.kind == CSiteData::kKindSurvey) {
            std::int32_t sx = 0;
            std::int32_t sy = 0;
            if (!plan.PlanToScreen(client, point.x, point.y, sx, sy)) {
                return;
            }
            DrawDisc(m_surveyLayer, sx, sy, SignalLevel(point.signal), radius);
            if (plan.m_bShowPath) {
                ExtendPath(m_surveyLayer, QPoint(sx, sy));
            }
        } else if (point.kind == CSiteData::kKindDynamicAp) {
            if (plan.m_bShowDynamicAps) {
                DrawAccessPoint(m_surveyLayer, point.x, point.y);
            }
        }
    });
    m_layerPoints = index;
}

int CSiteView::SignalLevel(int signal) {
    if (signal <= -91) {
        return 0;
    }
    if (signal <= -71) {
        return 1;
    }
    if (signal <= -51) {
        return 2;
    }
    if (signal <= -31) {
        return 3;
    }
    return 4;
}

const QBrush& CSiteView::LevelBrush(int level) const {
    switch (level) {
        case 0:
            return m_brBlack;
        case 1:
            return m_brRed;
        case 2:
            return m_brGreen;
        case 3:
            return m_brBlue;
        default:
            return m_brWhite;
    }
}

int CSiteView::DiscRadius() const {
    const SiteRect client = ClientRect();
    return client.right - client.left <= kNarrowScreen ? kDiscRadius : kWideDiscRadius;
}

bool CSiteView::DrawSurveyPoint(QImage& layer, int x, int y, int signal) {
    std::int32_t sx = 0;
    std::int32_t sy = 0;
    if (!m_services.plan.PlanToScreen(ClientRect(), x, y, sx, sy)) {
        return false;
    }
    DrawDisc(layer, sx, sy, SignalLevel(signal), DiscRadius());
    return true;
}

void CSiteView::DrawDisc(QImage& layer, int sx, int sy, int level, int r) {
    // The disc as drawn once with the dashed pen and the level's brush,
    // copied span by span (a painter call per disc costs several times more).
    const DiscImage& disc = Disc(level, r);
    const int left = sx - r - kSpriteMargin;
    const int top = sy - r - kSpriteMargin;
    const int width = layer.width();
    const int height = layer.height();
    uchar* const bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    const uchar* const discBits = disc.image.constBits();
    const qsizetype discStride = disc.image.bytesPerLine();
    for (const DiscImage::Span& span : disc.spans) {
        const int y0 = top + span.row;
        if (y0 < 0 || y0 >= height) {
            continue;
        }
        const int from = std::max(left + span.left, 0);
        const int to = std::min(left + span.left + span.length, width);
        if (from >= to) {
            continue;
        }
        const auto* source =
            reinterpret_cast<const QRgb*>(discBits + span.row * discStride) + (from - left);
        auto* target = reinterpret_cast<QRgb*>(bits + y0 * stride) + from;
        std::memcpy(target, source, static_cast<std::size_t>(to - from) * sizeof(QRgb));
    }
}

const CSiteView::DiscImage& CSiteView::Disc(int level, int radius) {
    DiscImage& disc = m_discs[radius == kDiscRadius ? 0 : 1][level];
    if (disc.image.isNull()) {
        const int side = 2 * radius + 2 * kSpriteMargin + 1;
        QImage drawn(side, side, QImage::Format_ARGB32);
        drawn.fill(Qt::transparent);
        QPainter painter(&drawn);
        painter.setPen(m_penDash);
        painter.setBrush(LevelBrush(level));
        painter.drawEllipse(QRect(kSpriteMargin, kSpriteMargin, 2 * radius, 2 * radius));
        painter.end();
        // Without antialiasing every pixel is either painted or untouched: the
        // painted runs of each row are what a copy has to write.
        disc.image = QImage(side, side, QImage::Format_RGB32);
        for (int row = 0; row < side; ++row) {
            const auto* pixels = reinterpret_cast<const QRgb*>(drawn.constScanLine(row));
            auto* opaque = reinterpret_cast<QRgb*>(disc.image.scanLine(row));
            int x = 0;
            while (x < side) {
                if (qAlpha(pixels[x]) == 0) {
                    opaque[x++] = 0xFF000000u;
                    continue;
                }
                const int start = x;
                while (x < side && qAlpha(pixels[x]) != 0) {
                    opaque[x] = pixels[x] | 0xFF000000u;
                    ++x;
                }
                disc.spans.push_back({row, start, x - start});
            }
        }
    }
    return disc;
}

void CSiteView::DrawPathSegment(QImage& layer, int x, int y) {
    std::int32_t sx = 0;
    std::int32_t sy = 0;
    if (!m_services.plan.PlanToScreen(ClientRect(), x, y, sx, sy)) {
        return;  // no segment into a hidden point; the next one starts from the last shown
    }
    ExtendPath(layer, QPoint(sx, sy));
}

void CSiteView::ExtendPath(QImage& layer, QPoint to) {
    if (m_bPathStarted) {
        DrawDashedLine(layer, s_ptPrev, to);
    }
    s_ptPrev = to;
    m_bPathStarted = true;
}

void CSiteView::DrawDashedLine(QImage& layer, QPoint from, QPoint to) {
    // Bresenham's line with the dashed pen's pattern: 4 pixels drawn, 2 left,
    // counted from the start of the segment; the last pixel is not drawn.
    const int width = layer.width();
    const int height = layer.height();
    const QRgb ink = m_penDash.color().rgb();
    uchar* const bits = layer.bits();
    const qsizetype stride = layer.bytesPerLine();
    int x = from.x();
    int y = from.y();
    const int dx = std::abs(to.x() - x);
    const int dy = -std::abs(to.y() - y);
    const int stepX = x < to.x() ? 1 : -1;
    const int stepY = y < to.y() ? 1 : -1;
    int error = dx + dy;
    for (int i = 0; x != to.x() || y != to.y(); ++i) {
        if (i % kDashPeriod < kDashLength && x >= 0 && x < width && y >= 0 && y < height) {
            reinterpret_cast<QRgb*>(bits + y * stride)[x] = ink;
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

bool CSiteView::DrawAccessPoint(QImage& layer, int x, int y) {
    std::int32_t sx = 0;
    std::int32_t sy = 0;
    if (!m_services.plan.PlanToScreen(ClientRect(), x, y, sx, sy)) {
        return false;
    }
    QPainter dc(&layer);
    dc.setFont(m_layerFont);
    dc.setPen(m_penDash);
    dc.setBrush(m_brBlack);
    const int r = DiscRadius();
    dc.drawEllipse(QRect(sx - r, sy - r, 2 * r, 2 * r));

    dc.save();
    dc.setPen(kWhite);
    dc.setBackground(m_brBlack);
    dc.setBackgroundMode(Qt::OpaqueMode);
    dc.drawText(QRect(sx - kApLabelHalf, sy - kApLabelHalf, 2 * kApLabelHalf, 2 * kApLabelHalf),
                Qt::AlignCenter, QStringLiteral("AP"));
    dc.restore();
    return true;
}

void CSiteView::DrawPositionMarker(QPainter& dc) {
    const SiteRect client = ClientRect();
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    dc.save();
    // White marker pixels leave the picture, black ones paint it black.
    dc.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    dc.drawImage(width / 2 - kMarkerSize / 2, height / 2 - kMarkerSize / 2, m_bmpMarker);
    dc.restore();
}

int CSiteView::BandHeight(QPainter& dc) const {
    return QFontMetrics(dc.font(), dc.device()).height();
}

void CSiteView::DrawBand(QPainter& dc, int top, const QColor& fill, const QString& text) {
    // The fill is also the text's background, so the text is drawn over it.
    const QRect band(0, top, ClientRect().right, BandHeight(dc));
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
    char text[CLocation::kStatusLineSize * 2] = {};
    m_services.location.FormatStatusLine(text, sizeof text);
    return QString::fromLatin1(text);
}

QString CSiteView::ZoomBandText() const {
    char text[128];
    std::snprintf(text, sizeof text, "ZOOM=%d%%  DATA PTS=%d", m_services.plan.GetZoom() * 100,
                  static_cast<int>(m_services.data.PointCount()));
    return QString::fromLatin1(text);
}

void CSiteView::DrawLocationBand(QPainter& dc) {
    const bool fix3D = m_services.location.FixStatus() == kFix3D;
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

}  // namespace ketrion
