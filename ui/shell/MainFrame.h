#pragma once

#include <QEvent>
#include <QMainWindow>

#include <cstddef>
#include <functional>
#include <memory>

#include "engine/EngineEvent.h"
#include "ui/shell/Services.h"
#include "ui/siteview/SiteView.h"

class QStackedWidget;
class QToolBar;
class QAction;
class QSettings;

namespace ketrion {

class Dialogs;
class CStatusBar;
class FrameCommandBar;
class FrameDialogs;
class FrameMenus;
class FrameSources;
class FrameStatus;
class RecentFiles;

// How the main window is laid out. The handheld's: a 240 x 268 client area
// with the command bar below it, and minimising ends the program. The
// desktop's: sized to the screen and remembered between runs, with menus,
// keyboard shortcuts, a status bar and the command bar.
enum class FrameLayout { Handheld, Desktop };

// News from a source's thread (an EngineEvent), posted to the frame as a
// queued Qt event.
inline constexpr QEvent::Type kSourceEventType = static_cast<QEvent::Type>(QEvent::User + 100);

// The main window: command bar, the start view and (after the first tap) the
// site view; at desktop sizes also menus (FrameMenus) and a status bar.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    // Makes the site view as a child of `parent`. The default makes CSiteView
    // with the frame's Services; tests and tools may substitute their own.
    using ViewFactory = std::function<QWidget*(QWidget* parent)>;
    // Called for command 32778 with the active view.
    using SnapshotHandler = std::function<void(QWidget* activeView)>;

    // Builds the whole window in `layout`: command bar, start view, and at
    // desktop sizes the menus, status bar and remembered geometry.
    // `settings` keeps the desktop window's geometry and the recent files
    // between runs; null keeps nothing. It must outlive the frame. Starts
    // nothing: see StartSources.
    explicit CMainFrame(Services& services, FrameLayout layout = FrameLayout::Handheld,
                        QSettings* settings = nullptr, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // False when the command bar's images could not be loaded (the program
    // then ends).
    bool Built() const { return ButtonSize() != 0; }
    FrameLayout Layout() const { return m_layout; }

    // Starts the session's sources and shows the wait cursor while one of
    // them is still starting (its device opening, the board's handshake);
    // then repaints the start view (the board's identity lines) and emits
    // startupSettled. Nothing here waits.
    void StartSources();
    // Stops and joins the sources' threads; called on close, safe to repeat.
    void StopSources();

    // Replaces the start view with the site view for the rest of the run; does
    // nothing when the site view is already active. The start view stays alive,
    // hidden.
    void SwitchToView();
    // The view currently shown (the start view, then the site view).
    QWidget* ActiveView() const;

    // Runs command `id` as a click on its button would; `from` is the menu
    // entry or button that ran it (a checkable entry has ticked itself).
    void OnCommand(int id, const QAction* from = nullptr);

    // Thread-safe: posts `event` to the frame (a source's onEvent hook). On
    // the user-interface thread the frame then emits engineEvent, hands the
    // event to the active view when it is an EngineEventTarget, updates the
    // status bar and repaints the view.
    void PostEngineEvent(const EngineEvent& event);

    void SetSiteViewFactory(ViewFactory factory);
    // Replaces the snapshot command (the default saves a JPEG of the active view).
    void SetSnapshotHandler(SnapshotHandler handler);
    // Dialogs used by the frame's own commands (the snapshot's save dialog);
    // null restores the real ones. Must outlive the frame.
    void SetDialogs(Dialogs* dialogs);
    // The dialogs the frame's commands use: the ones set, or its own.
    Dialogs& ActiveDialogs();

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
    CStatusBar* StatusBar() const;
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
    // What closing asks, if anything (empty: nothing to ask): while recording,
    // and while a walk's readings wait for their place, `waiting` for their
    // segment's end and `unplaced` of a walk that has ended. Opening the
    // file again offers all of them.
    static QString CloseQuestion(bool recording, std::size_t waiting, std::size_t unplaced = 0);
    // Share of the screen the desktop window first takes, in percent.
    static constexpr int kDesktopScreenShare = 80;
    // Period of the status bar's own update (the GPS age counts on by itself).
    static constexpr int kStatusPeriodMs = 1000;
    // How often a pending start is looked at (the wait cursor's end).
    static constexpr int kStartupPollMs = 50;

    Services& services() { return m_services; }
    QToolBar* commandBar() const;
    // The command bar's button for command `id`, or null.
    QAction* CommandAction(int id) const;
    // Pixel size of the loaded button images (16 or 30; 0 when they failed).
    int ButtonSize() const;
    // The start view, alive (hidden) for the frame's whole life.
    QWidget* StartView() const { return m_startView; }
    // Source events handled so far.
    int SourceEventCount() const { return m_sourceEvents; }

    // Client area the window opens with: the handheld's screen below its title
    // bar and above its menu bar.
    static constexpr int kClientWidth = 240;
    static constexpr int kClientHeight = 268;
    // Client widths up to this use the 16 x 16 buttons (toolbar 128), wider
    // ones the 30 x 30 buttons (toolbar 129).
    static constexpr int kSmallButtonsMaxWidth = 240;
    // Child identifier that the site view gets.
    static constexpr int kSiteViewId = 2;

signals:
    // News from the sources' threads, on the user-interface thread.
    void engineEvent(const ketrion::EngineEvent& event);
    // The sources' start is no longer pending (see StartSources).
    void startupSettled();

protected:
    bool event(QEvent* e) override;
    void changeEvent(QEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void RestoreWindowGeometry();
    void RunFileCommand(int id);
    void SwitchToPaintedView();
    void UpdateCommandStates();
    void OnEngineEvent(const EngineEvent& event);
    void RepaintActiveView();
    // A view opened or created a file: it joins the recent files.
    void OnFileOpened(CSiteView::FileKind kind, const QString& path);
    void OnSnapshot();

    Services& m_services;
    const FrameLayout m_layout;
    QSettings* const m_settings;
    ViewFactory m_siteViewFactory;
    SnapshotHandler m_snapshot;
    std::unique_ptr<Dialogs> m_ownDialogs;
    Dialogs* m_dialogs = nullptr;
    QStackedWidget* m_views = nullptr;
    QWidget* m_startView = nullptr;
    QWidget* m_siteView = nullptr;
    std::unique_ptr<FrameCommandBar> m_commandBar;
    int m_sourceEvents = 0;
    std::unique_ptr<FrameSources> m_sources;

    std::unique_ptr<FrameDialogs> m_viewDialogs;
    std::unique_ptr<RecentFiles> m_recent;
    std::unique_ptr<FrameMenus> m_menus;    // desktop layout only
    std::unique_ptr<FrameStatus> m_status;  // desktop layout only
    bool m_closeWithoutAsking = false;
};

}  // namespace ketrion
