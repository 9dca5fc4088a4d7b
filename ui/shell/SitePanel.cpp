#include "ui/shell/SitePanel.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "site/SiteEditor.h"
#include "site/SiteFile.h"

namespace ketrion {

namespace {

// The floors in the chooser's order, as (building, floor) indices.
std::vector<std::pair<std::size_t, std::size_t>> FloorIndices(const site::Site& s) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t b = 0; b < s.buildings.size(); ++b)
        for (std::size_t f = 0; f < s.buildings[b].floors.size(); ++f)
            out.emplace_back(b, f);
    return out;
}

}  // namespace

CSitePanel::CSitePanel(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    m_name = new QLabel(this);
    m_floors = new QComboBox(this);
    m_floors->setObjectName(QStringLiteral("siteFloors"));
    m_collections = new QListWidget(this);
    m_collections->setObjectName(QStringLiteral("siteCollections"));
    layout->addWidget(m_name);
    layout->addWidget(new QLabel(QStringLiteral("Floor"), this));
    layout->addWidget(m_floors);
    layout->addWidget(new QLabel(QStringLiteral("Collections (tick to use)"), this));
    layout->addWidget(m_collections, 1);
    connect(m_floors, &QComboBox::activated, this, &CSitePanel::OnFloorChosen);
    connect(m_collections, &QListWidget::itemChanged, this, &CSitePanel::OnItemChanged);
}

bool CSitePanel::NewSite(const QString& path, QString& error) {
    site::Site s;
    s.name = QFileInfo(path).completeBaseName().toStdString();
    std::string why;
    if (!site::SiteFile::Save(path.toStdString(), s, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    return OpenSite(path, error);
}

bool CSitePanel::OpenSite(const QString& path, QString& error) {
    site::Site s;
    std::string why;
    if (!site::SiteFile::Load(path.toStdString(), s, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    m_path = path;
    m_site = std::move(s);
    ShowSite();
    if (m_floors->count() > 0)
        OnFloorChosen(0);
    return true;
}

void CSitePanel::ShowSite() {
    m_name->setText(QStringLiteral("Site: ") + QString::fromStdString(m_site.name));
    m_floors->clear();
    for (const auto& [b, f] : FloorIndices(m_site))
        m_floors->addItem(QString::fromStdString(
            site::FloorTitle(m_site.buildings[b], m_site.buildings[b].floors[f])));
    m_collections->clear();
}

void CSitePanel::OnFloorChosen(int index) {
    const auto floors = FloorIndices(m_site);
    if (index < 0 || static_cast<std::size_t>(index) >= floors.size())
        return;
    m_floors->setCurrentIndex(index);
    const site::Floor& floor = m_site.buildings[floors[index].first].floors[floors[index].second];
    m_filling = true;
    m_collections->clear();
    QString first;
    const std::string sitePath = m_path.toStdString();
    for (const site::SiteCollection& c : floor.collections) {
        auto* item = new QListWidgetItem(QString::fromStdString(c.path), m_collections);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(c.enabled ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(
            QString::fromStdString("surveyor " + c.surveyor + ", " + c.adapter + ", " + c.date));
        if (c.enabled && first.isEmpty())
            first = QString::fromStdString(site::SiteFile::ResolvePath(sitePath, c.path));
    }
    m_filling = false;
    emit floorChosen(
        QString::fromStdString(site::SiteFile::ResolvePath(sitePath, floor.projection)), first);
}

void CSitePanel::OnItemChanged(QListWidgetItem* item) {
    if (m_filling)
        return;
    const std::string sitePath = m_path.toStdString();
    site::SiteEditor editor(m_site, sitePath);
    std::string error;
    const std::string path = site::SiteFile::ResolvePath(sitePath, item->text().toStdString());
    if (!editor.SwitchCollection(path, item->checkState() == Qt::Checked, error) ||
        !site::SiteFile::Save(sitePath, m_site, error)) {
        // The file is as it was: read it back, so the panel shows what it holds.
        site::SiteFile::Load(sitePath, m_site, error);
        emit problem(QString::fromStdString(error));
        OnFloorChosen(m_floors->currentIndex());
    }
}

}  // namespace ketrion
