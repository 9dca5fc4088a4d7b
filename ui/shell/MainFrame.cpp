#include "ui/shell/MainFrame.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <utility>

#include "session/SurveySession.h"
#include "source/ScanSource.h"
#include "ui/shell/Commands.h"
#include "ui/shell/Draw.h"
#include "ui/shell/FrameCommandBar.h"
#include "ui/shell/FrameDialogs.h"
#include "ui/shell/FrameMenus.h"
#include "ui/shell/FrameSources.h"
#include "ui/shell/FrameStatus.h"
#include "ui/shell/KetrionApp.h"
#include "ui/shell/KetrionView.h"
#include "ui/shell/RecentFiles.h"
#include "ui/shell/Snapshot.h"
#include "ui/siteview/Dialogs.h"
#include "ui/siteview/SiteView.h"

namespace ketrion {

namespace {

// Settings key of the desktop window's geometry.
const char* const kGeometryKey = "window/geometry";

bool IsViewCommand(int id) {
    return (id >= ID_PROJECTION_OPEN && id <= ID_PLACE_AP) ||
           (id >= ID_ZOOM_FIT && id <= ID_VIEW_FOLLOW) ||
           (id >= ID_PLACING_GPS && id <= ID_DELETE_POINT);
}

}  // namespace

CMainFrame::CMainFrame(Services& services, FrameLayout layout, QSettings* settings, QWidget* parent)
    : QMainWindow(parent),
      m_services(services),
      m_layout(layout),
      m_settings(settings),
      m_viewDialogs(std::make_unique<FrameDialogs>()),
      m_recent(std::make_unique<RecentFiles>(settings)) {
    setWindowTitle(QStringLiteral("Ketrion"));
    m_views = new QStackedWidget(this);
    setCentralWidget(m_views);

    auto* start = new CKetrionView(services.scan, services.draw, m_views);
    connect(start, &CKetrionView::tapped, this, [this] { SwitchToView(); });
    m_startView = start;
    m_views->addWidget(start);
    m_views->setCurrentWidget(start);

    m_siteViewFactory = [this](QWidget* parent) -> QWidget* {
        m_viewDialogs->SetInner(&ActiveDialogs());
        return new CSiteView(m_services, *m_viewDialogs, parent);
    };
    m_sources = std::make_unique<FrameSources>(services, *this, [this] {
        // The start view's identity lines, the status bar's source.
        UpdateStatus();
        RepaintActiveView();
        emit startupSettled();
    });

    // The command bar: the handheld carries it at the bottom of the screen.
    m_commandBar = std::make_unique<FrameCommandBar>(*this);
    if (m_layout == FrameLayout::Desktop) {
        m_menus = std::make_unique<FrameMenus>(*this, *m_recent);
        m_status = std::make_unique<FrameStatus>(*this);
    }
    // The buttons' pictures (the menus show them too); without them the
    // frame is not built.
    if (!m_commandBar->LoadButtons(kClientWidth, m_services.draw, m_menus.get())) {
        return;
    }
    UpdateCommandStates();
    if (m_layout == FrameLayout::Desktop) {
        RestoreWindowGeometry();
    } else {
        resize(kClientWidth, kClientHeight + m_commandBar->Bar()->sizeHint().height());
    }
    UpdateStatus();
}

CMainFrame::~CMainFrame() {
    // The sources' threads post to this window and read what the views show:
    // they must be gone before the views are.
    StopSources();
    m_sources->SetWaitCursor(false);
}

void CMainFrame::StartSources() {
    m_sources->Start();
}

void CMainFrame::StopSources() {
    m_sources->Stop();
}

QSize CMainFrame::DesktopWindowSize(QSize available) {
    const int width = available.width() * kDesktopScreenShare / 100;
    const int height = available.height() * kDesktopScreenShare / 100;
    return {std::max(width, kClientWidth), std::max(height, kClientHeight)};
}

void CMainFrame::RestoreWindowGeometry() {
    if (m_settings != nullptr &&
        restoreGeometry(m_settings->value(QString::fromLatin1(kGeometryKey)).toByteArray())) {
        return;
    }
    const QScreen* screen = this->screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        resize(DesktopWindowSize(QSize(kClientWidth, kClientHeight)));
        return;
    }
    const QRect available = screen->availableGeometry();
    resize(DesktopWindowSize(available.size()));
    move(available.center() - QPoint(width() / 2, height() / 2));
}

QAction* CMainFrame::MenuAction(int id) const {
    return m_menus ? m_menus->Action(id) : nullptr;
}

void CMainFrame::UpdateRecentMenu() {
    if (m_menus) {
        m_menus->UpdateRecent();
    }
}

QAction* CMainFrame::NamedAction(const QString& objectName) const {
    return findChild<QAction*>(objectName);
}

bool CMainFrame::IsRecording() const {
    const auto* site = qobject_cast<const CSiteView*>(m_siteView);
    return site != nullptr && site->IsCollecting();
}

CStatusBar* CMainFrame::StatusBar() const {
    return m_status ? m_status->Bar() : nullptr;
}

void CMainFrame::UpdateStatus() {
    if (m_status) {
        m_status->Show(m_services, IsRecording());
    }
}

Dialogs& CMainFrame::ActiveDialogs() {
    if (m_dialogs == nullptr) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    return *m_dialogs;
}

void CMainFrame::SwitchToPaintedView() {
    SwitchToView();
    // A new site view puts its blank plan in place at its first paint; a file
    // opened before that paint (no dialog ran an event loop in between) would
    // have its plan replaced by it.
    if (auto* site = qobject_cast<CSiteView*>(ActiveView())) {
        site->Render();
    }
}

void CMainFrame::OpenProjectionFile(const QString& path) {
    SwitchToPaintedView();
    if (auto* site = qobject_cast<CSiteView*>(ActiveView())) {
        site->OpenProjectionPath(QFileInfo(path).absoluteFilePath());
    }
    UpdateStatus();
}

void CMainFrame::OpenCollectionFile(const QString& path) {
    SwitchToPaintedView();
    // An existing file is opened; a new name is created.
    if (auto* site = qobject_cast<CSiteView*>(ActiveView())) {
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (CheckCollectionFile(absolute) == CollectionCheck::NotCollection) {
            // Through the guarded open: never a fifo waited on, and a file of
            // another kind is said to be one rather than read as a survey.
            m_viewDialogs->Message(NotACollectionText(absolute));
        } else if (QFileInfo::exists(path)) {
            site->OpenCollectionPath(absolute);
        } else {
            site->NewCollectionPath(absolute);
        }
    }
    UpdateStatus();
}

void CMainFrame::RunFileCommand(int id) {
    if (auto* target = dynamic_cast<CommandTarget*>(ActiveView()); target != nullptr) {
        target->OnCommand(id);
    }
    m_viewDialogs->EndCommand();
    UpdateRecentMenu();
    UpdateStatus();
}

void CMainFrame::OnFileOpened(CSiteView::FileKind kind, const QString& path) {
    // What a command opened becomes the first of the recent files.
    m_recent->Add(kind == CSiteView::FileKind::Projection ? RecentFiles::Kind::Projection
                                                          : RecentFiles::Kind::Collection,
                  QFileInfo(path).absoluteFilePath());
    UpdateRecentMenu();
}

QToolBar* CMainFrame::commandBar() const {
    return m_commandBar ? m_commandBar->Bar() : nullptr;
}

QAction* CMainFrame::CommandAction(int id) const {
    return m_commandBar ? m_commandBar->Action(id) : nullptr;
}

int CMainFrame::ButtonSize() const {
    return m_commandBar ? m_commandBar->ButtonSize() : 0;
}

void CMainFrame::UpdateCommandStates() {
    // A command with no handler on the active view is greyed out, as the
    // handheld's command routing did for the start view.
    // On a desktop a view command opens the site view itself, so nothing is
    // greyed out.
    const bool viewHandles =
        dynamic_cast<CommandTarget*>(ActiveView()) != nullptr || m_layout == FrameLayout::Desktop;
    for (int id : kCommandBarOrder) {
        if (QAction* action = CommandAction(id); action != nullptr && IsViewCommand(id)) {
            action->setEnabled(viewHandles);
        }
    }
    for (QAction* action : m_menus ? m_menus->Actions() : QList<QAction*>()) {
        const int id = action->data().toInt();
        if (IsViewCommand(id) || id == ID_COLLECTION_NEW) {
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
            connect(site, &CSiteView::fileOpened, this, &CMainFrame::OnFileOpened);
            site->OnInitialUpdate();
        }
    }
    m_views->setCurrentWidget(view);
    view->setFocus(Qt::OtherFocusReason);
    UpdateCommandStates();
    view->update();
}

void CMainFrame::OnCommand(int id, const QAction* from) {
    if (id == ID_APP_ABOUT) {
        CKetrionApp::OnAppAbout(this);
        return;
    }
    if (id == ID_SNAPSHOT) {
        OnSnapshot();
        return;
    }
    if (m_layout == FrameLayout::Desktop && (IsViewCommand(id) || id == ID_COLLECTION_NEW)) {
        SwitchToView();
    }
    if (id == ID_COLLECTION_NEW) {
        // Only the save dialog: cancelling it changes nothing.
        if (dynamic_cast<CommandTarget*>(ActiveView()) != nullptr) {
            RunFileCommand(ID_COLLECTION_NEW);
        }
        return;
    }
    if (id == ID_PROJECTION_OPEN || id == ID_COLLECTION_OPEN) {
        RunFileCommand(id);
        return;
    }
    if (auto* target = dynamic_cast<CommandTarget*>(ActiveView()); target != nullptr) {
        target->OnCommand(id);
    }
    if (id == ID_VIEW_LEGEND || id == ID_VIEW_HEATMAP || id == ID_VIEW_FOLLOW) {
        // The menu's tick follows the command also when it came from elsewhere.
        if (QAction* action = MenuAction(id); action != nullptr && action != from) {
            action->setChecked(!action->isChecked());
        }
    }
    UpdateStatus();
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
    TakeSnapshot(*view, m_services, ActiveDialogs());
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
    m_viewDialogs->SetInner(dialogs != nullptr ? dialogs : &ActiveDialogs());
}

namespace {

// The queued form of an EngineEvent: a copy travels with the Qt event.
class EngineEventMessage final : public QEvent {
public:
    explicit EngineEventMessage(EngineEvent event)
        : QEvent(kSourceEventType), engineEvent(std::move(event)) {}
    const EngineEvent engineEvent;
};

}  // namespace

void CMainFrame::PostEngineEvent(const EngineEvent& event) {
    QCoreApplication::postEvent(this, new EngineEventMessage(event));
}

bool CMainFrame::event(QEvent* e) {
    if (e->type() == kSourceEventType) {
        OnEngineEvent(static_cast<EngineEventMessage*>(e)->engineEvent);
        return true;
    }
    return QMainWindow::event(e);
}

void CMainFrame::OnEngineEvent(const EngineEvent& event) {
    ++m_sourceEvents;
    // The session paces a source that starts its next scan when one ended.
    m_services.session.OnSourceEvent(event);
    emit engineEvent(event);
    if (auto* target = dynamic_cast<EngineEventTarget*>(ActiveView())) {
        target->OnEngineEvent(event);
    }
    UpdateStatus();
    RepaintActiveView();
}

void CMainFrame::RepaintActiveView() {
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
    // Minimising is how the handheld's user closes the program; on a desktop
    // it only minimises.
    if (m_layout == FrameLayout::Handheld && e->type() == QEvent::WindowStateChange &&
        isMinimized()) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void CMainFrame::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (m_commandBar != nullptr) {
        m_commandBar->LoadButtons(width(), m_services.draw, m_menus.get());
    }
}

QString CMainFrame::CloseQuestion(bool recording, std::size_t waiting, std::size_t unplaced) {
    const std::size_t all = waiting + unplaced;
    if (all == 0) {
        return recording ? QString::fromLatin1(kCloseWhileRecording) : QString();
    }
    // The click that places them, while it is the walk's next one.
    const QString how =
        unplaced == 0 ? QStringLiteral(" (click the walk's next turn or its end)") : QString();
    const QString kept =
        QStringLiteral(
            "%1 walk reading%2 still wait%3 to be placed%4; they are kept and offered "
            "again when the collection is opened.")
            .arg(all)
            .arg(all == 1 ? "" : "s")
            .arg(all == 1 ? "s" : "")
            .arg(how);
    return recording ? QStringLiteral("Recording is running. %1 Stop recording and quit Ketrion?")
                           .arg(kept)
                     : QStringLiteral("%1 Quit Ketrion?").arg(kept);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (m_layout == FrameLayout::Desktop && !m_closeWithoutAsking) {
        const QString question = CloseQuestion(IsRecording(), m_services.session.ProvisionalCount(),
                                               m_services.session.UnplacedScans());
        if (!question.isEmpty() && !ActiveDialogs().AskYesNo(question)) {
            e->ignore();
            return;
        }
    }
    m_closeWithoutAsking = false;
    if (m_settings != nullptr) {
        m_settings->setValue(QString::fromLatin1(kGeometryKey), saveGeometry());
    }
    StopSources();
    e->accept();
    QMainWindow::closeEvent(e);
}

void CMainFrame::CloseWithoutAsking() {
    m_closeWithoutAsking = true;
    close();
    m_closeWithoutAsking = false;
}

}  // namespace ketrion
