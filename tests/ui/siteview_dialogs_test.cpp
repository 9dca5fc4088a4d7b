// The real dialogs: filters as Qt takes them, and message boxes not stacked.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include "support/SiteViewWorld.h"

namespace ketrion::testing {
namespace {

TEST(SiteViewDialogs, BarFiltersBecomeQtFilters) {
    const std::pair<const char*, const char*> cases[] = {
        {"Projection Files (*.ktp)|*.ktp|All Files (*.*)|*.*||",
         "Projection Files (*.ktp);;All Files (*.*)"},
        {"Snapshot JPEG (*.jpg)|*.jpg|All Files (*.*)|*.*||",
         "Snapshot JPEG (*.jpg);;All Files (*.*)"},
        {"Pictures|*.bmp;*.png||", "Pictures (*.bmp *.png)"},
        // Semicolons inside the description's parentheses would list nothing in Qt.
        {"Plan images (*.png;*.jpg;*.jpeg;*.bmp)|*.png;*.jpg;*.jpeg;*.bmp|All Files (*.*)|*.*||",
         "Plan images (*.png *.jpg *.jpeg *.bmp);;All Files (*.*)"},
        {"", ""},
        {"Dangling", ""},
    };
    for (auto [bar, qt] : cases) {
        EXPECT_EQ(QtFilterFromBarFilter(QString::fromLatin1(bar)), QString::fromLatin1(qt)) << bar;
    }
}

// Choosing an existing file in the save dialog asks before replacing it; the
// answer No keeps the dialog open and the file is not chosen.
TEST(SiteViewDialogs, SavingOverAnExistingFileAsksFirst) {
    TestApplication();
    TempDir dir;
    const std::string existing = dir.File("survey.ktd");
    WriteBytes(existing, Bytes{1, 2, 3});
    QtDialogs dialogs;
    QString question;
    bool stillOpenAfterNo = false;
    QPointer<QFileDialog> save;
    // Steps through what a user does, one look at the screen every 10 ms.
    int step = 0;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (step == 0 && qobject_cast<QFileDialog*>(modal) != nullptr) {
            // The dialog opens on the existing file (the request names it).
            save = qobject_cast<QFileDialog*>(modal);
            step = 1;
        } else if (step == 1) {
            // Only once the dialog shows the name (its folder is read on a
            // thread of its own): accept with nothing chosen does nothing.
            if (!save->selectedFiles().value(0).endsWith(QStringLiteral("/survey.ktd"))) {
                save->selectFile(QString::fromStdString(existing));
                return;
            }
            // As the Save button does (accept is protected in QFileDialog);
            // queued, so that its question runs outside this look.
            QMetaObject::invokeMethod(save, "accept", Qt::QueuedConnection);
            step = 2;
        } else if (step == 2 && qobject_cast<QMessageBox*>(modal) != nullptr) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            question = box->text();
            if (QAbstractButton* no = box->button(QMessageBox::No)) {
                no->click();
            } else {
                box->reject();
            }
            step = 3;
        } else if (step == 3 && modal == save) {
            stillOpenAfterNo = save->isVisible();
            save->reject();
            step = 4;
        }
    });
    look.start(10);
    // Whatever happens, the dialog does not stay open (a net for a hang,
    // generous so that a loaded machine still steps through in time).
    QTimer::singleShot(60000, [&] {
        if (save) {
            save->reject();
        }
    });
    FileDialogRequest request;
    request.filter = QStringLiteral("Data Files (*.ktd)|*.ktd||");
    request.defaultExtension = QStringLiteral("ktd");
    request.initialName = QString::fromStdString(existing);
    const std::optional<QString> chosen = dialogs.SaveFile(request);
    look.stop();
    EXPECT_FALSE(chosen.has_value()) << chosen.value_or(QString()).toStdString();
    EXPECT_TRUE(question.contains(QStringLiteral("survey.ktd")))
        << question.toStdString() << " (steps taken: " << step << ")";
    EXPECT_TRUE(stillOpenAfterNo);
    EXPECT_EQ(ReadBytes(existing), (Bytes{1, 2, 3}));
}

TEST(SiteViewDialogs, TheSameMessageIsNotStackedWhileItsBoxIsOpen) {
    TestApplication();
    QtDialogs dialogs;
    bool innerReturned = false;
    bool otherShown = false;
    QWidget* first = nullptr;
    QTimer::singleShot(50, [&] {
        first = QApplication::activeModalWidget();
        // The same text again, as a timer tick inside the box's loop would:
        // it returns at once and the first box stays the one shown.
        QElapsedTimer inner;
        inner.start();
        dialogs.Message(QStringLiteral("Data collection file must be selected."));
        innerReturned = inner.elapsed() < 1000 && QApplication::activeModalWidget() == first;
        // A different text is shown on top; close it, then the first.
        QTimer::singleShot(50, [&] {
            otherShown = QApplication::activeModalWidget() != first;
            QApplication::activeModalWidget()->close();
            QTimer::singleShot(50, [&] { first->close(); });
        });
        dialogs.Message(QStringLiteral("No survey point within range."));
    });
    // Closes whatever is left if the boxes were stacked after all.
    QTimer safety;
    QObject::connect(&safety, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->close();
        }
    });
    safety.start(2000);
    dialogs.Message(QStringLiteral("Data collection file must be selected."));
    EXPECT_NE(first, nullptr);
    EXPECT_TRUE(innerReturned);
    EXPECT_TRUE(otherShown);
}

}  // namespace
}  // namespace ketrion::testing
