#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "site/Site.h"

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace ketrion {

// The site beside the plan: the site file's name, a floor chooser and the
// chosen floor's collections, each with a box that switches it on or off
// (saved to the site file at once). Choosing a floor asks the frame to show
// its plan and its first switched-on collection.
class CSitePanel : public QWidget {
    Q_OBJECT

public:
    explicit CSitePanel(QWidget* parent = nullptr);

    // Makes a new, empty site file at `path` and shows it; false with a message.
    bool NewSite(const QString& path, QString& error);
    // Loads the site file at `path` and shows its first floor; false with a
    // message (the panel then shows what it showed before).
    bool OpenSite(const QString& path, QString& error);
    const QString& SitePath() const { return m_path; }

    // The chooser and the list, for tests.
    QComboBox* FloorChooser() const { return m_floors; }
    QListWidget* Collections() const { return m_collections; }

signals:
    // A floor was chosen: its projection file, and its first switched-on
    // collection file (empty when it has none).
    void floorChosen(const QString& projection, const QString& collection);
    // Switching a collection could not be saved.
    void problem(const QString& text);

private:
    void ShowSite();
    void OnFloorChosen(int index);
    void OnItemChanged(QListWidgetItem* item);

    QString m_path;
    site::Site m_site;
    QLabel* m_name = nullptr;
    QComboBox* m_floors = nullptr;
    QListWidget* m_collections = nullptr;
    bool m_filling = false;  // the list is being filled, not changed by the user
};

}  // namespace ketrion
