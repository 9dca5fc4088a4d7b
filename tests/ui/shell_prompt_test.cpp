#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/QtTestApp.h"
#include "ui/shell/QtPrompt.h"

namespace ketrion {
namespace {

using testing::ProcessEventsUntil;
using testing::QtTestApp;

struct Box {
    QString title;
    QString text;
};

// The message boxes open right now.
std::vector<QMessageBox*> OpenBoxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

TEST(QtPrompt, RecorderTakesEveryTextFromAnyThreadWithoutABox) {
    QtTestApp();
    std::vector<std::string> texts;
    QtPrompt prompt([&](const std::string& text) { texts.push_back(text); });
    prompt.Message("Cannot Open Connection To Board.");
    std::thread link([&] {
        prompt.Message("Could not SetCommState");
        prompt.Message("Could not SetCommState");
    });
    link.join();
    QCoreApplication::processEvents();
    const std::vector<std::string> expected = {"Cannot Open Connection To Board.",
                                               "Could not SetCommState", "Could not SetCommState"};
    EXPECT_EQ(texts, expected);
    EXPECT_TRUE(OpenBoxes().empty());
    EXPECT_EQ(prompt.PendingCount(), 0u);
}

TEST(QtPrompt, LinkThreadQueuesTheBoxAndNeverWaits) {
    QtTestApp();
    QtPrompt prompt;
    // The link thread returns at once, before any box exists.
    std::thread link([&] {
        prompt.Message("Could not SetCommState");
        prompt.Message("Could not SetCommState");  // not stacked on the first
        prompt.Message("Cannot Open Connection To Board.");
    });
    link.join();
    EXPECT_EQ(prompt.PendingCount(), 2u);
    EXPECT_TRUE(OpenBoxes().empty());

    // Each queued box opens modally on the UI thread; close them as they come.
    std::vector<Box> seen;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QMessageBox* box : OpenBoxes()) {
            seen.push_back({box->windowTitle(), box->text()});
            // While this box is open, the same text again is dropped.
            std::thread again([&] { prompt.Message(box->text().toStdString()); });
            again.join();
            box->button(QMessageBox::Ok)->click();
        }
    });
    closer.start();
    ASSERT_TRUE(ProcessEventsUntil([&] { return prompt.PendingCount() == 0; }));
    closer.stop();
    // One box per text, in whichever order the nested loops opened them.
    EXPECT_EQ(seen.size(), 2u);
    std::set<QString> texts;
    for (const Box& box : seen) {
        EXPECT_EQ(box.title, QStringLiteral("Ketrion"));
        texts.insert(box.text);
    }
    EXPECT_EQ(texts, (std::set<QString>{QStringLiteral("Could not SetCommState"),
                                        QStringLiteral("Cannot Open Connection To Board.")}));
}

TEST(QtPrompt, OnTheUiThreadTheBoxIsModalAndReturnsWhenClosed) {
    QtTestApp();
    QtPrompt prompt;
    bool wasOpen = false;
    QTimer::singleShot(10, [&] {
        const auto boxes = OpenBoxes();
        wasOpen = boxes.size() == 1 && prompt.PendingCount() == 1;
        for (QMessageBox* box : boxes) {
            box->button(QMessageBox::Ok)->click();
        }
    });
    prompt.Message("Could not find Quatech CF card.");
    EXPECT_TRUE(wasOpen);
    EXPECT_EQ(prompt.PendingCount(), 0u);
    EXPECT_TRUE(OpenBoxes().empty());
}

TEST(QtPrompt, BoxesQueuedForAPromptThatIsGoneAreDropped) {
    QtTestApp();
    {
        QtPrompt prompt;
        std::thread link([&] { prompt.Message("late"); });
        link.join();
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(OpenBoxes().empty());
}

}  // namespace
}  // namespace ketrion
