#include "ui/shell/MainFrame.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QIcon>
#include <QPixmap>
#include <QStackedWidget>
#include <QToolBar>
#include <utility>

#include "engine/Engine.h"
#include "platform/Clock.h"
#include "ui/shell/Commands.h"
#include "ui/shell/Draw.h"
#include "ui/shell/KetrionApp.h"
#include "ui/shell/KetrionView.h"
#include "ui/shell/Snapshot.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/SiteView.h"

namespace ketrion {

namespace {

// Toolbar resources: 9 buttons of 16 x 16 (bitmap 128) or 30 x 30 (bitmap 129).
constexpr std::uint16_t kSmallButtonsBitmap = 128;
constexpr std::uint16_t kLargeButtonsBitmap = 129;
constexpr int kSmallButton = 16;
constexpr int kLargeButton = 30;
// The toolbar bitmaps paint their background in the button face grey, which
// the bar shows as its own background.
constexpr QRgb kButtonFace = qRgb(192, 192, 192);

const char* CommandTip(int id) {
    switch (id) {
        case ID_PROJECTION_OPEN:
            return "Load projection";
        case ID_COLLECTION_OPEN:
            return "Collection file";
        case ID_SCAN_START:
            return "Record";
        case ID_SCAN_STOP:
            return "Stop";
        case ID_ZOOM_IN:
            return "Zoom in";
        case ID_ZOOM_OUT:
            return "Zoom out";
        case ID_SNAPSHOT:
            return "Snapshot";
        case ID_PLACE_AP:
            return "Place access point";
        case ID_APP_ABOUT:
            return "About Ketrion";
        default:
            return "";
    }
}

bool IsViewCommand(int id) {
    return id >= ID_PROJECTION_OPEN && id <= ID_PLACE_AP;
}

// One fixed start-up wait. It goes through the clock so tests do not wait.
void StartupWait(Clock& clock) {
    clock.SleepMs(CMainFrame::kStartupWaitMs);
}

}  // namespace

CMainFrame::CMainFrame(Services& services, LinkSteps steps, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_steps(std::move(steps)) {
    setWindowTitle(QStringLiteral("Ketrion"));
    m_views = new QStackedWidget(this);
    setCentralWidget(m_views);

    auto* start = new CKetrionView(services.engine, services.draw, m_views);
    connect(start, &CKetrionView::tapped, this, [this] { SwitchToView(); });
    m_startView = start;
    m_views->addWidget(start);
    m_views->setCurrentWidget(start);

    m_siteViewFactory = [this](QWidget* parent) -> QWidget* {
        return new CSiteView(m_services, parent);
    };
}

CMainFrame::~CMainFrame() {
    // The link thread posts to this window and reads what the views show: it
    // must be gone before they are.
    StopLink();
}

bool CMainFrame::OnCreate() {
    // The command bar: the handheld carries it at the bottom of the screen.
    m_commandBar = new QToolBar(QStringLiteral("Command bar"), this);
    m_commandBar->setObjectName(QStringLiteral("commandBar"));
    m_commandBar->setMovable(false);
    m_commandBar->setFloatable(false);
    m_commandBar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_commandBar->toggleViewAction()->setEnabled(false);
    for (int id : kCommandBarOrder) {
        QAction* action = m_commandBar->addAction(QString::fromLatin1(CommandTip(id)));
        action->setData(id);
        action->setToolTip(QString::fromLatin1(CommandTip(id)));
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    addToolBar(Qt::BottomToolBarArea, m_commandBar);
    if (!LoadButtons(kClientWidth)) {
        return false;
    }
    UpdateCommandStates();
    resize(kClientWidth, kClientHeight + m_commandBar->sizeHint().height());

    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The engine's redraw request arrives on the link thread: only post.
    m_services.engine.notify = [this] { PostEngineUpdate(); };
    if (m_steps.open) {
        m_steps.open();
    }
    if (m_steps.initList) {
        m_steps.initList();
    }
    StartupWait(m_services.clock);
    if (m_steps.startThread) {
        m_steps.startThread();
    }
    m_linkStarted = true;
    m_services.engine.Start();
    StartupWait(m_services.clock);
    QApplication::restoreOverrideCursor();
    return true;
}

bool CMainFrame::LoadButtons(int clientWidth) {
    const bool large = clientWidth > kSmallButtonsMaxWidth;
    const int size = large ? kLargeButton : kSmallButton;
    if (size == m_buttonSize) {
        return true;
    }
    const QImage strip =
        m_services.draw.LoadBitmap(large ? kLargeButtonsBitmap : kSmallButtonsBitmap);
    const int count = static_cast<int>(kCommandBarOrder.size());
    if (strip.isNull() || strip.width() < count * size || strip.height() < size) {
        return false;
    }
    const QList<QAction*> actions = m_commandBar->actions();
    for (int i = 0; i < count && i < actions.size(); ++i) {
        QPixmap button = QPixmap::fromImage(
            strip.copy(i * size, 0, size, size).convertToFormat(QImage::Format_ARGB32));
        button.setMask(QBitmap::fromImage(
            strip.copy(i * size, 0, size, size).createMaskFromColor(kButtonFace)));
        actions[i]->setIcon(QIcon(button));
    }
    m_commandBar->setIconSize(QSize(size, size));
    m_buttonSize = size;
    return true;
}

QAction* CMainFrame::CommandAction(int id) const {
    if (m_commandBar == nullptr) {
        return nullptr;
    }
    for (QAction* action : m_commandBar->actions()) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void CMainFrame::UpdateCommandStates() {
    // A command with no handler on the active view is greyed out, as the
    // handheld's command routing did for the start view.
    const bool viewHandles = dynamic_cast<CommandTarget*>(ActiveView()) != nullptr;
    for (int id : kCommandBarOrder) {
        if (QAction* action = CommandAction(id); action != nullptr && IsViewCommand(id)) {
            action->setEnabled(viewHandles);
        }
    }
}

QWidget* CMainFrame::ActiveView() const {
    return m_views->currentWidget();
}

void CMainFrame::SwitchToView() {
    QWidget* active = ActiveView();
    if (active != nullptr && dynamic_cast<CommandTarget*>(active) != nullptr) {
        return;
    }
    QWidget* view = m_siteView;
    if (view == nullptr) {
        // A site view made elsewhere is reused rather than doubled.
        for (int i = 0; i < m_views->count(); ++i) {
            if (dynamic_cast<CommandTarget*>(m_views->widget(i)) != nullptr) {
                view = m_views->widget(i);
                break;
            }
        }
    }
    const bool created = view == nullptr;
    if (created) {
        view = m_siteViewFactory(m_views);
        if (view == nullptr) {
            return;
        }
        view->setProperty("ketrionViewId", kSiteViewId);
    }
    m_siteView = view;
    if (m_views->indexOf(view) < 0) {
        m_views->addWidget(view);
    }
    view->resize(m_views->size());
    if (created) {
        if (auto* site = qobject_cast<CSiteView*>(view)) {
            site->OnInitialUpdate();
        }
    }
    m_views->setCurrentWidget(view);
    view->setFocus(Qt::OtherFocusReason);
    UpdateCommandStates();
    view->update();
}

void CMainFrame::OnCommand(int id) {
    if (id == ID_APP_ABOUT) {
        CKetrionApp::OnAppAbout(this);
        return;
    }
    if (id == ID_SNAPSHOT) {
        OnSnapshot();
        return;
    }
    if (auto* target = dynamic_cast<CommandTarget*>(ActiveView()); target != nullptr) {
        target->OnCommand(id);
    }
}

void CMainFrame::OnSnapshot() {
    QWidget* view = ActiveView();
    if (view == nullptr) {
        return;
    }
    if (m_snapshot) {
        m_snapshot(view);
        return;
    }
    if (m_dialogs == nullptr) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    TakeSnapshot(*view, m_services, *m_dialogs);
}

void CMainFrame::SetSiteViewFactory(ViewFactory factory) {
    m_siteViewFactory = std::move(factory);
}

void CMainFrame::SetSnapshotHandler(SnapshotHandler handler) {
    m_snapshot = std::move(handler);
}

void CMainFrame::SetDialogs(Dialogs* dialogs) {
    m_dialogs = dialogs;
    if (dialogs != nullptr) {
        m_ownDialogs.reset();
    }
}

void CMainFrame::PostEngineUpdate() {
    QCoreApplication::postEvent(this, new QEvent(WM_ENGINE_UPDATE));
}

namespace {

// The queued form of an EngineEvent: a copy travels with the Qt event.
class EngineEventMessage final : public QEvent {
public:
    explicit EngineEventMessage(EngineEvent event)
        : QEvent(WM_ENGINE_EVENT), engineEvent(std::move(event)) {}
    const EngineEvent engineEvent;
};

}  // namespace

void CMainFrame::PostEngineEvent(const EngineEvent& event) {
    QCoreApplication::postEvent(this, new EngineEventMessage(event));
}

bool CMainFrame::event(QEvent* e) {
    if (e->type() == WM_ENGINE_UPDATE) {
        OnEngineUpdate();
        return true;
    }
    if (e->type() == WM_ENGINE_EVENT) {
        OnEngineEvent(static_cast<EngineEventMessage*>(e)->engineEvent);
        return true;
    }
    return QMainWindow::event(e);
}

void CMainFrame::OnEngineEvent(const EngineEvent& event) {
    emit engineEvent(event);
    QWidget* view = ActiveView();
    if (auto* target = dynamic_cast<EngineEventTarget*>(view)) {
        target->OnEngineEvent(event);
    }
    if (auto* area = qobject_cast<QAbstractScrollArea*>(view)) {
        area->viewport()->update();
    } else if (view != nullptr) {
        view->update();
    }
}

void CMainFrame::OnEngineUpdate() {
    ++m_engineUpdates;
    // Invalidate without erasing: the view repaints itself completely.
    QWidget* view = ActiveView();
    if (auto* area = qobject_cast<QAbstractScrollArea*>(view)) {
        area->viewport()->update();
    } else if (view != nullptr) {
        view->update();
    }
}

void CMainFrame::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    // Minimising is how the handheld's user closes the program.
    if (e->type() == QEvent::WindowStateChange && isMinimized()) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (m_commandBar != nullptr) {
        LoadButtons(width());
    }
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    StopLink();
    e->accept();
    QMainWindow::closeEvent(e);
}

void CMainFrame::StopLink() {
    if (!m_linkStarted) {
        return;
    }
    m_linkStarted = false;
    if (m_steps.stopThread) {
        m_steps.stopThread();
    }
    // The thread is joined: nothing calls the hook any more.
    m_services.engine.notify = nullptr;
}

}  // namespace ketrion
