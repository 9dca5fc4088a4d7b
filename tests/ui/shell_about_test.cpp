#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "support/QtTestApp.h"
#include "ui/shell/AboutDlg.h"

namespace ketrion {
namespace {

using testing::QtTestApp;

QString TextOf(const CAboutDlg& dlg, int id) {
    auto* label = qobject_cast<QLabel*>(dlg.Control(id));
    return label != nullptr ? label->text() : QString();
}

TEST(AboutDlg, LayoutFollowsTheScreenShape) {
    struct Case {
        QSize screen;
        int layout;
    };
    // Only a screen narrower than high is portrait; a square one is not.
    for (const Case c : {Case{{240, 320}, 100}, Case{{320, 240}, 200}, Case{{480, 480}, 200},
                         Case{{1080, 1920}, 100}}) {
        EXPECT_EQ(CAboutDlg::TemplateFor(c.screen).number, c.layout);
    }
}

TEST(AboutDlg, LandscapeMovesTheControlsButKeepsTheTexts) {
    QtTestApp();
    CAboutDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About Ketrion"));
    dlg.LayOut(CAboutDlg::Portrait());
    const QString version = TextOf(dlg, CAboutDlg::IDC_VERSION);
    const QString notice = TextOf(dlg, CAboutDlg::IDC_NOTICE);
    EXPECT_EQ(version, QStringLiteral("Ketrion Version 1.03"));
    EXPECT_FALSE(notice.isEmpty());
    const QRect portraitText = dlg.Control(CAboutDlg::IDC_VERSION)->geometry();

    dlg.LayOut(CAboutDlg::Landscape());
    EXPECT_EQ(dlg.CurrentTemplate(), 200);
    for (const auto& item : CAboutDlg::Landscape().controls) {
        // Each control sits at its box; a text box may have grown to fit its text.
        const QRect box = dlg.MapDialogRect(item.units);
        const QRect placed = dlg.Control(item.id)->geometry();
        EXPECT_EQ(placed.topLeft(), box.topLeft()) << item.id;
        EXPECT_TRUE(placed.contains(box)) << item.id;
    }
    // The wide layout's one-line boxes still show the whole version text.
    auto* versionLabel = qobject_cast<QLabel*>(dlg.Control(CAboutDlg::IDC_VERSION));
    EXPECT_GE(versionLabel->width(), versionLabel->fontMetrics().horizontalAdvance(version));
    // The wide layout puts the text beside the icon, not under it.
    const QRect icon = dlg.Control(CAboutDlg::IDC_ICON)->geometry();
    const QRect landscapeText = dlg.Control(CAboutDlg::IDC_VERSION)->geometry();
    EXPECT_GT(landscapeText.left(), icon.right());
    EXPECT_LT(landscapeText.top(), portraitText.top());
    EXPECT_EQ(TextOf(dlg, CAboutDlg::IDC_VERSION), version);
    EXPECT_EQ(TextOf(dlg, CAboutDlg::IDC_NOTICE), notice);
}

TEST(AboutDlg, DialogUnitsScaleWithTheFont) {
    QtTestApp();
    CAboutDlg dlg;
    const QRect small = dlg.MapDialogRect(QRect(12, 36, 81, 23));
    QFont bigger = dlg.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    dlg.setFont(bigger);
    const QRect big = dlg.MapDialogRect(QRect(12, 36, 81, 23));
    EXPECT_GT(big.width(), small.width() * 3 / 2);
    EXPECT_GT(big.height(), small.height() * 3 / 2);
    // Four horizontal units make one average character width.
    EXPECT_GT(dlg.MapDialogRect(QRect(0, 0, 4, 8)).width(), 0);
}

TEST(AboutDlg, ShownOnTheScreenItsLayoutMatchesAndOkCloses) {
    QtTestApp();
    CAboutDlg dlg;
    bool laidOut = false;
    QTimer::singleShot(0, [&] {
        const QSize screen = dlg.screen()->geometry().size();
        laidOut = dlg.CurrentTemplate() == CAboutDlg::TemplateFor(screen).number;
        for (auto* button : dlg.findChildren<QAbstractButton*>()) {
            button->click();
        }
    });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(laidOut);
}

}  // namespace
}  // namespace ketrion
