// The site panel beside the plan: a site's floors in the chooser, choosing
// one asks for its plan and first switched-on collection, and a collection
// switched off in the list is saved to the site file at once.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "site/SiteFile.h"
#include "support/QtTestApp.h"
#include "support/ScratchFiles.h"
#include "ui/shell/SitePanel.h"

namespace ketrion::testing {
namespace {

namespace fs = std::filesystem;

TEST(SitePanel, FloorsCollectionsAndSwitching) {
    QtTestApp();
    scratch::ScratchDir dir;
    const fs::path sample = fs::path(KETRION_SOURCE_DIR) / "resources/sample";
    fs::copy_file(sample / "building.kts", dir / "building.kts");
    fs::copy_file(sample / "site.ktp", dir / "site.ktp");
    fs::copy(sample / "building", dir / "building");

    CSitePanel panel;
    std::vector<std::pair<std::string, std::string>> chosen;
    QObject::connect(&panel, &CSitePanel::floorChosen,
                     [&](const QString& plan, const QString& collection) {
                         chosen.emplace_back(plan.toStdString(), collection.toStdString());
                     });
    QString error;
    ASSERT_TRUE(panel.OpenSite(QString::fromStdString(dir / "building.kts"), error))
        << error.toStdString();
    ASSERT_EQ(panel.FloorChooser()->count(), 5);
    ASSERT_EQ(chosen.size(), 1u);  // the first floor, shown at once
    EXPECT_EQ(chosen[0].second, dir / "building/floor0.ktd");

    emit panel.FloorChooser()->activated(2);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[1].first, dir / "site.ktp");
    EXPECT_EQ(chosen[1].second, dir / "building/floor2.ktd");
    ASSERT_EQ(panel.Collections()->count(), 1);

    panel.Collections()->item(0)->setCheckState(Qt::Unchecked);
    site::Site saved;
    std::string why;
    ASSERT_TRUE(site::SiteFile::Load(dir / "building.kts", saved, why)) << why;
    EXPECT_FALSE(saved.buildings[0].floors[2].collections[0].enabled);
    EXPECT_TRUE(saved.buildings[0].floors[1].collections[0].enabled);
    // Chosen again, the floor offers no collection to open.
    emit panel.FloorChooser()->activated(2);
    EXPECT_TRUE(chosen[2].second.empty());

    // A site file that cannot be read leaves the panel as it was.
    EXPECT_FALSE(panel.OpenSite(QString::fromStdString(dir / "building/floor0.ktd"), error));
    EXPECT_TRUE(error.contains("is not a site file")) << error.toStdString();
    EXPECT_EQ(panel.FloorChooser()->count(), 5);
}

}  // namespace
}  // namespace ketrion::testing
