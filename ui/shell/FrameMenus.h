#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QIcon;
class QMenu;

namespace ketrion {

class CMainFrame;
class CSitePanel;
class RecentFiles;

// The desktop window's menu bar: File (projection, plan from an image,
// collections, sites, recent files, snapshot, quit), Survey, View and Help.
// Every command entry carries its command id as data and runs it through the
// frame, as its command bar button would; the recent files entries open the
// file they name.
class FrameMenus final : public QObject {
    Q_OBJECT
public:
    // Builds the menus on `frame`'s menu bar; `recent` is the frame's list.
    FrameMenus(CMainFrame& frame, RecentFiles& recent);

    // The entry of command `id`, or null.
    QAction* Action(int id) const;
    // Every command entry, in menu order.
    const QList<QAction*>& Actions() const { return m_actions; }
    // Rebuilds the recent files submenu from the list.
    void UpdateRecent();

private:
    QAction* AddCommand(QMenu* menu, int id, const QString& text, const QList<QKeySequence>& keys);
    void BuildFile();
    void BuildSurvey();
    void BuildView();
    // File > New site and Open site, and the site panel they show.
    void AddSiteEntries(QMenu* file);
    void OpenRecent(bool projection, const QString& path);

    CMainFrame& m_frame;
    RecentFiles& m_recent;
    QList<QAction*> m_actions;
    QMenu* m_recentMenu = nullptr;
    CSitePanel* m_sitePanel = nullptr;
};

}  // namespace ketrion
