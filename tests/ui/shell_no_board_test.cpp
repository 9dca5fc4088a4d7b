// The desktop's window when no receiver board answered: what was looked for
// and the ways on, as a plain answer.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>

#include "support/QtTestApp.h"
#include "ui/shell/NoBoardDialog.h"

namespace ketrion::testing {
namespace {

const QString kLookedFor =
    QStringLiteral("Looked for a board among the serial devices: /dev/ttyUSB0, /dev/ttyS0.");

TEST(NoBoardDialog, SaysWhatWasLookedForAndAnswersWithTheChoice) {
    QtTestApp();
    NoBoardDialog dialog(kLookedFor,
                         {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyS0")});
    EXPECT_EQ(dialog.LookedForLabel()->text(), kLookedFor);
    // With serial devices present the first one is offered first.
    NoBoardAnswer answer = dialog.Answer();
    EXPECT_EQ(answer.choice, NoBoardChoice::SerialPort);
    EXPECT_EQ(answer.port, QStringLiteral("/dev/ttyUSB0"));

    struct Case {
        QRadioButton* choice;
        NoBoardChoice expected;
    } const cases[] = {
        {dialog.SimulatedChoice(), NoBoardChoice::SimulatedBoard},
        {dialog.ReviewChoice(), NoBoardChoice::ReviewOnly},
        {dialog.PortChoice(), NoBoardChoice::SerialPort},
    };
    dialog.PortBox()->setCurrentIndex(1);
    for (const Case& c : cases) {
        c.choice->setChecked(true);
        answer = dialog.Answer();
        EXPECT_EQ(answer.choice, c.expected);
    }
    EXPECT_EQ(answer.port, QStringLiteral("/dev/ttyS0"));

    // The Wi-Fi adapter is greyed out until it can be used.
    EXPECT_FALSE(dialog.WifiChoice()->isEnabled());
    dialog.SetWifiAvailable(true);
    dialog.WifiChoice()->setChecked(true);
    EXPECT_EQ(dialog.Answer().choice, NoBoardChoice::WifiAdapter);
    dialog.SetWifiAvailable(false);
    EXPECT_EQ(dialog.Answer().choice, NoBoardChoice::ReviewOnly);

    // Closing the window is reviewing files only, whatever was ticked.
    dialog.SimulatedChoice()->setChecked(true);
    dialog.reject();
    EXPECT_EQ(dialog.Answer().choice, NoBoardChoice::ReviewOnly);
}

TEST(NoBoardDialog, WithoutSerialDevicesThePortChoiceIsGreyedAndReviewIsChosen) {
    QtTestApp();
    NoBoardDialog dialog(kLookedFor, {});
    EXPECT_FALSE(dialog.PortChoice()->isEnabled());
    EXPECT_FALSE(dialog.PortBox()->isEnabled());
    EXPECT_EQ(dialog.Answer().choice, NoBoardChoice::ReviewOnly);
    EXPECT_TRUE(dialog.Answer().port.isEmpty());
}

}  // namespace
}  // namespace ketrion::testing
