#include "ui/shell/FrameMenus.h"

#include <QAction>
#include <QActionGroup>
#include <QDockWidget>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>

#include <optional>
#include <utility>

#include "ui/shell/Commands.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/NewPlanDialog.h"
#include "ui/shell/RecentFiles.h"
#include "ui/shell/SitePanel.h"
#include "ui/siteview/Dialogs.h"

namespace ketrion {

FrameMenus::FrameMenus(CMainFrame& frame, RecentFiles& recent)
    : QObject(&frame), m_frame(frame), m_recent(recent) {
    BuildFile();
    BuildSurvey();
    BuildView();
    QMenu* help = m_frame.menuBar()->addMenu(QStringLiteral("&Help"));
    AddCommand(help, ID_APP_ABOUT, QStringLiteral("&About Ketrion"), {});
}

QAction* FrameMenus::AddCommand(QMenu* menu, int id, const QString& text,
                                const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, &m_frame);
    action->setData(id);
    action->setShortcuts(keys);
    menu->addAction(action);
    connect(action, &QAction::triggered, &m_frame,
            [this, id, action] { m_frame.OnCommand(id, action); });
    m_actions << action;
    return action;
}

void FrameMenus::BuildFile() {
    QMenu* file = m_frame.menuBar()->addMenu(QStringLiteral("&File"));
    AddCommand(file, ID_PROJECTION_OPEN, QStringLiteral("Open &projection..."),
               {QKeySequence(Qt::CTRL | Qt::Key_O)});
    // A plan without GPS: the dialog writes a projection file, opened here as
    // any other.
    QAction* newPlan = file->addAction(QStringLiteral("New plan from &image..."));
    newPlan->setObjectName(QStringLiteral("actionNewPlan"));
    connect(newPlan, &QAction::triggered, &m_frame, [this] {
        CNewPlanDialog dialog(m_frame.ActiveDialogs(), &m_frame);
        m_frame.ActiveDialogs().RunModal(dialog);
        if (const std::optional<QString> path = dialog.ProjectionPath()) {
            m_frame.OpenProjectionFile(*path);
        }
    });
    AddCommand(file, ID_COLLECTION_NEW, QStringLiteral("&New collection..."), {QKeySequence::New});
    AddSiteEntries(file);
    AddCommand(file, ID_COLLECTION_OPEN, QStringLiteral("Open &collection..."),
               {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)});
    m_recentMenu = file->addMenu(QStringLiteral("&Recent files"));
    m_recentMenu->setObjectName(QStringLiteral("menuRecent"));
    UpdateRecent();
    file->addSeparator();
    AddCommand(file, ID_SNAPSHOT, QStringLiteral("&Snapshot..."),
               {QKeySequence(Qt::CTRL | Qt::Key_P)});
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, &m_frame, &QWidget::close);
}

void FrameMenus::BuildSurvey() {
    QMenu* survey = m_frame.menuBar()->addMenu(QStringLiteral("&Survey"));
    AddCommand(survey, ID_SCAN_START, QStringLiteral("&Record"), {QKeySequence(Qt::Key_F5)});
    AddCommand(survey, ID_SCAN_STOP, QStringLiteral("S&top"), {QKeySequence(Qt::Key_F6)});
    // Space starts recording and stops it again.
    auto* toggle = new QAction(QStringLiteral("Record or stop"), &m_frame);
    toggle->setObjectName(QStringLiteral("actionRecordToggle"));
    toggle->setShortcut(QKeySequence(Qt::Key_Space));
    connect(toggle, &QAction::triggered, &m_frame,
            [this] { m_frame.OnCommand(m_frame.IsRecording() ? ID_SCAN_STOP : ID_SCAN_START); });
    m_frame.addAction(toggle);
    survey->addSeparator();
    AddCommand(survey, ID_PLACE_AP, QStringLiteral("&Place access point"), {});
    // Indoors the surveyor says where they stand: one reading per click, or
    // clicks at the start, each turn and the end of a steady walk.
    survey->addSeparator();
    auto* placing = new QActionGroup(this);
    const std::pair<int, QString> placings[] = {
        {ID_PLACING_GPS, QStringLiteral("Place by &GPS")},
        {ID_PLACING_STOP, QStringLiteral("&Stop and go (click where you stand)")},
        {ID_PLACING_WALK, QStringLiteral("Continuous &walk (click at start, turns, end)")}};
    for (const auto& [id, text] : placings) {
        QAction* action = AddCommand(survey, id, text, {});
        action->setCheckable(true);
        action->setChecked(id == ID_PLACING_GPS);
        placing->addAction(action);
    }
    survey->addSeparator();
    AddCommand(survey, ID_EDIT_UNDO, QStringLiteral("&Undo last point"), {QKeySequence::Undo});
    AddCommand(survey, ID_DELETE_POINT, QStringLiteral("&Delete selected point"),
               {QKeySequence::Delete});
}

void FrameMenus::BuildView() {
    QMenu* view = m_frame.menuBar()->addMenu(QStringLiteral("&View"));
    AddCommand(view, ID_ZOOM_IN, QStringLiteral("Zoom &in"),
               {QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    AddCommand(view, ID_ZOOM_OUT, QStringLiteral("Zoom &out"), {QKeySequence::ZoomOut});
    AddCommand(view, ID_ZOOM_FIT, QStringLiteral("&Fit to window"),
               {QKeySequence(Qt::CTRL | Qt::Key_0)});
    view->addSeparator();
    QAction* legend = AddCommand(view, ID_VIEW_LEGEND, QStringLiteral("&Legend"), {});
    legend->setCheckable(true);
    legend->setChecked(true);
    QAction* heatmap = AddCommand(view, ID_VIEW_HEATMAP, QStringLiteral("&Heatmap"), {});
    heatmap->setCheckable(true);
    QAction* follow = AddCommand(view, ID_VIEW_FOLLOW, QStringLiteral("F&ollow position"), {});
    follow->setCheckable(true);
    follow->setChecked(true);
}

void FrameMenus::UpdateRecent() {
    m_recentMenu->clear();
    int number = 0;
    const auto addList = [&](RecentFiles::Kind kind) {
        const bool projection = kind == RecentFiles::Kind::Projection;
        for (const QString& path : m_recent.List(kind)) {
            ++number;
            QAction* action = m_recentMenu->addAction(
                QStringLiteral("&%1 %2").arg(number).arg(QFileInfo(path).fileName()));
            action->setToolTip(path);
            action->setStatusTip(path);
            action->setData(path);
            connect(action, &QAction::triggered, &m_frame,
                    [this, projection, path] { OpenRecent(projection, path); });
        }
    };
    addList(RecentFiles::Kind::Projection);
    if (number > 0 && !m_recent.List(RecentFiles::Kind::Collection).isEmpty()) {
        m_recentMenu->addSeparator();
    }
    addList(RecentFiles::Kind::Collection);
    if (number == 0) {
        m_recentMenu->addAction(QStringLiteral("No recent files"))->setEnabled(false);
        return;
    }
    m_recentMenu->addSeparator();
    connect(m_recentMenu->addAction(QStringLiteral("Clear the list")), &QAction::triggered,
            &m_frame, [this] {
                m_recent.Clear();
                UpdateRecent();
            });
}

void FrameMenus::OpenRecent(bool projection, const QString& path) {
    if (!QFileInfo::exists(path)) {
        m_frame.ActiveDialogs().Message(
            QStringLiteral("%1 no longer exists; it has been taken off the recent files.")
                .arg(path));
        m_recent.Remove(projection ? RecentFiles::Kind::Projection : RecentFiles::Kind::Collection,
                        path);
        UpdateRecent();
        return;
    }
    if (projection) {
        m_frame.OpenProjectionFile(path);
    } else {
        m_frame.OpenCollectionFile(path);
    }
}

QAction* FrameMenus::Action(int id) const {
    for (QAction* action : m_actions) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void FrameMenus::AddSiteEntries(QMenu* file) {
    // A site (buildings, floors, their collections) in a panel beside the plan.
    m_sitePanel = new CSitePanel(&m_frame);
    auto* dock = new QDockWidget(QStringLiteral("Site"), &m_frame);
    dock->setObjectName(QStringLiteral("siteDock"));
    dock->setWidget(m_sitePanel);
    m_frame.addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();
    connect(m_sitePanel, &CSitePanel::floorChosen, &m_frame,
            [this](const QString& projection, const QString& collection) {
                m_frame.OpenProjectionFile(projection);
                if (!collection.isEmpty())
                    m_frame.OpenCollectionFile(collection);
            });
    connect(m_sitePanel, &CSitePanel::problem, &m_frame,
            [this](const QString& text) { m_frame.ActiveDialogs().Message(text); });
    const FileDialogRequest request{
        QStringLiteral("Site Files (*.kts)|*.kts|All Files (*.*)|*.*||"), QStringLiteral("kts"),
        QString(), false};
    QAction* newSite = file->addAction(QStringLiteral("New &site..."));
    newSite->setObjectName(QStringLiteral("actionNewSite"));
    connect(newSite, &QAction::triggered, &m_frame, [this, dock, request] {
        QString error;
        if (const auto path = m_frame.ActiveDialogs().SaveFile(request)) {
            if (m_sitePanel->NewSite(*path, error))
                dock->show();
            else
                m_frame.ActiveDialogs().Message(error);
        }
    });
    QAction* openSite = file->addAction(QStringLiteral("Open s&ite..."));
    openSite->setObjectName(QStringLiteral("actionOpenSite"));
    connect(openSite, &QAction::triggered, &m_frame, [this, dock, request] {
        FileDialogRequest open = request;
        open.mustExist = true;
        QString error;
        if (const auto path = m_frame.ActiveDialogs().OpenFile(open)) {
            if (m_sitePanel->OpenSite(*path, error))
                dock->show();
            else
                m_frame.ActiveDialogs().Message(error);
        }
    });
}

}  // namespace ketrion
