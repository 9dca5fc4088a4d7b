#pragma once

#include <QEvent>
#include <QMainWindow>
#include <functional>
#include <memory>

#include "engine/EngineEvent.h"
#include "ui/shell/Services.h"
#include "ui/siteview/SiteView.h"

class QStackedWidget;
class QToolBar;
class QAction;
class QMenu;
class QSettings;
class QTimer;

namespace ketrion {

class Dialogs;
class CStatusBar;
class FrameDialogs;
class RecentFiles;
class CSitePanel;

// How the main window is laid out. The handheld's: a 240 x 268 client area
// with the command bar below it, and minimising ends the program. The
// desktop's: sized to the screen and remembered between runs, with menus,
// keyboard shortcuts, a status bar and the command bar.
enum class FrameLayout { Handheld, Desktop };

// The engine's redraw request, posted to the frame from the link thread.
inline constexpr QEvent::Type WM_ENGINE_UPDATE = static_cast<QEvent::Type>(QEvent::User + 100);
// An EngineEvent, posted to the frame from the link thread.
inline constexpr QEvent::Type WM_ENGINE_EVENT = static_cast<QEvent::Type>(QEvent::User + 101);

// The main window: command bar, the start view and (after the first tap) the
// site view. Runs the start-up steps of the receiver link.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // What the frame does to the link at start-up and shutdown; app/main.cpp
    // fills these with the real CCom / link thread / list, tests with fakes.
    struct LinkSteps {
        std::function<void()> open;         // open the serial link (reports its own failures)
        std::function<void()> initList;     // empty the access-point list
        std::function<void()> startThread;  // start the link thread
        std::function<void()> handshake;    // ask the source who it is (the board's Version)
        // Gives the source the frame's redraw request (posts only), or takes
        // it back (null) once the thread is stopped.
        std::function<void(std::function<void()>)> notify;
        std::function<void()> stopThread;  // stop and join it (idempotent)
    };
    // Makes the site view as a child of `parent`. The default makes CSiteView
    // with the frame's Services; tests and tools may substitute their own.
    using ViewFactory = std::function<QWidget*(QWidget* parent)>;
    // Called for command 32778 with the active view.
    using SnapshotHandler = std::function<void(QWidget* activeView)>;

    CMainFrame(Services& services, LinkSteps steps, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Chooses the layout; call before OnCreate (the default is the handheld's).
    // `settings` keeps the desktop window's geometry and the recent files
    // between runs; null keeps nothing. It must outlive the frame.
    void SetLayout(FrameLayout layout, QSettings* settings = nullptr);
    FrameLayout Layout() const { return m_layout; }

    // The frame's creation steps: command bar, engine notification, link start
    // with its two waits, wait cursor. Returns false when the command bar
    // cannot be built (the program then ends).
    bool OnCreate();

    // Replaces the start view with the site view for the rest of the run; does
    // nothing when the site view is already active. The start view stays alive,
    // hidden.
    void SwitchToView();
    // The view currently shown (the start view, then the site view).
    QWidget* ActiveView() const;

    // Runs command `id` as a click on its button would.
    void OnCommand(int id);

    // Thread-safe: posts WM_ENGINE_UPDATE to the frame (the engine's Notify hook).
    void PostEngineUpdate();
    // Thread-safe: posts a WM_ENGINE_EVENT carrying `event` (the engine's
    // onEvent hook). On the user-interface thread the frame then emits
    // engineEvent, hands the event to the active view when it is an
    // EngineEventTarget, and invalidates the view.
    void PostEngineEvent(const EngineEvent& event);

    void SetSiteViewFactory(ViewFactory factory);
    // Replaces the snapshot command (the default saves a JPEG of the active view).
    void SetSnapshotHandler(SnapshotHandler handler);
    // Dialogs used by the frame's own commands (the snapshot's save dialog);
    // null restores the real ones. Must outlive the frame.
    void SetDialogs(Dialogs* dialogs);

    // Stops and joins the link thread; called on close, safe to call again.
    void StopLink();

    // Opens a session file as its menu command would, without the file
    // dialog: switches to the site view, then loads the projection / opens
    // the collection (a collection that does not exist yet is created).
    void OpenProjectionFile(const QString& path);
    void OpenCollectionFile(const QString& path);
    // Closes without the question that closing while recording asks (a
    // polite kill, an unattended run).
    void CloseWithoutAsking();
    // True while the site view's collection timer runs.
    bool IsRecording() const;
    // Reads the shared state into the status bar (desktop layout).
    void UpdateStatus();

    // Desktop layout only (null otherwise): the status bar, and the menu
    // action of command `id` (including ID_ZOOM_FIT, ID_VIEW_LEGEND,
    // ID_VIEW_HEATMAP), or the action named `objectName` ("actionQuit").
    CStatusBar* StatusBar() const { return m_statusBar; }
    QAction* MenuAction(int id) const;
    QAction* NamedAction(const QString& objectName) const;
    RecentFiles& Recent() { return *m_recent; }
    // Rebuilds the recent files submenu from the list.
    void UpdateRecentMenu();

    // The desktop window's first size on a screen of `available` size: most
    // of it, at least the handheld's window.
    static QSize DesktopWindowSize(QSize available);
    // Asked before closing while recording.
    static constexpr const char* kCloseWhileRecording =
        "Recording is running. Stop recording and quit Ketrion?";
    // Share of the screen the desktop window first takes, in percent.
    static constexpr int kDesktopScreenShare = 80;
    // Period of the status bar's own update (the GPS age counts on by itself).
    static constexpr int kStatusPeriodMs = 1000;

    Services& services() { return m_services; }
    QToolBar* commandBar() const { return m_commandBar; }
    // The command bar's button for command `id`, or null.
    QAction* CommandAction(int id) const;
    // Pixel size of the loaded button images (16 or 30; 0 before OnCreate).
    int ButtonSize() const { return m_buttonSize; }
    // The start view, alive (hidden) for the frame's whole life.
    QWidget* StartView() const { return m_startView; }
    // WM_ENGINE_UPDATE events handled so far.
    int EngineUpdateCount() const { return m_engineUpdates; }

    // Client area the window opens with: the handheld's screen below its title
    // bar and above its menu bar.
    static constexpr int kClientWidth = 240;
    static constexpr int kClientHeight = 268;
    // Client widths up to this use the 16 x 16 buttons (toolbar 128), wider
    // ones the 30 x 30 buttons (toolbar 129).
    static constexpr int kSmallButtonsMaxWidth = 240;
    // Each start-up wait: the board needs this long after the port opens, and
    // again to answer the first request, before the start view is worth showing.
    static constexpr int kStartupWaitMs = 2000;
    // Child identifier that the site view gets.
    static constexpr int kSiteViewId = 2;

signals:
    // News from the link thread, on the user-interface thread.
    void engineEvent(const ketrion::EngineEvent& event);

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    // The actions' slots. Every menu and command bar action carries its
    // command id as data; the sender's id is the command run. A recent files
    // entry opens the file it names.
    void OnActionTriggered();
    void OnRecentTriggered();
    void BuildMenus();
    // File > New site and Open site, and the site panel they show.
    void AddSiteMenu(QMenu* file);
    QAction* AddMenuCommand(QMenu* menu, int id, const QString& text,
                            const QList<QKeySequence>& keys);
    void RestoreWindowGeometry();
    void RunFileCommand(int id);
    void SwitchToPaintedView();
    Dialogs& FrameDialogsOrOwn();
    bool LoadButtons(int clientWidth);
    void UpdateCommandStates();
    void OnEngineUpdate();
    void OnEngineEvent(const EngineEvent& event);
    // A view opened or created a file: it joins the recent files.
    void OnFileOpened(CSiteView::FileKind kind, const QString& path);
    void OnSnapshot();

    Services& m_services;
    LinkSteps m_steps;
    ViewFactory m_siteViewFactory;
    SnapshotHandler m_snapshot;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs* m_dialogs = nullptr;
    QStackedWidget* m_views = nullptr;
    QWidget* m_startView = nullptr;
    QWidget* m_siteView = nullptr;
    QToolBar* m_commandBar = nullptr;
    int m_buttonSize = 0;
    bool m_linkStarted = false;
    int m_engineUpdates = 0;

    FrameLayout m_layout = FrameLayout::Handheld;
    QSettings* m_settings = nullptr;
    std::unique_ptr<FrameDialogs> m_viewDialogs;
    std::unique_ptr<RecentFiles> m_recent;
    CStatusBar* m_statusBar = nullptr;
    QMenu* m_recentMenu = nullptr;
    QTimer* m_statusTimer = nullptr;
    QList<QAction*> m_menuActions;
    bool m_closeWithoutAsking = false;
    CSitePanel* m_sitePanel = nullptr;
};

}  // namespace ketrion
