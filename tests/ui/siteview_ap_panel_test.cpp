// The access-point panel in a dock of a desktop-sized window: every column
// shows without scrolling sideways.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QMainWindow>
#include <QScrollBar>
#include <QTableWidget>

#include "support/QtTestApp.h"
#include "ui/siteview/ApPanel.h"

namespace ketrion::testing {
namespace {

TEST(ApPanelDock, ShowsEveryColumnInADesktopWindow) {
    QtTestApp();
    QMainWindow window;
    window.resize(1920, 1080);
    window.setCentralWidget(new QWidget(&window));
    auto* dock = new QDockWidget(QStringLiteral("Access points"), &window);
    auto* panel = new ApPanel(dock);
    dock->setWidget(panel);
    window.addDockWidget(Qt::RightDockWidgetArea, dock);
    std::vector<analysis::ApEstimate> aps(3);
    for (std::size_t i = 0; i < aps.size(); ++i) {
        aps[i].mac = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, static_cast<std::uint8_t>(i)};
        aps[i].ssid = "Office network on the third floor " + std::to_string(i);
        aps[i].pointsHeard = 12;
        aps[i].strongest = -48.5;
        aps[i].position = {52.2055 + i * 1e-5, 0.1205, 4.5, 5};
    }
    panel->SetDetailsSource([](const analysis::Mac&) {
        return ApDetails{36, QStringLiteral("5 GHz"), QStringLiteral("WPA2/WPA3")};
    });
    panel->Show(aps);
    window.show();
    QApplication::processEvents();
    QTableWidget& table = *panel->Table();
    EXPECT_EQ(table.horizontalScrollBar()->maximum(), 0)
        << "dock " << dock->width() << " px, columns need " << panel->sizeHint().width();
    EXPECT_LT(dock->width(), window.width() / 2);
}

}  // namespace
}  // namespace ketrion::testing
