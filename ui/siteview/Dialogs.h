#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <vector>

class QDialog;
class QWidget;

namespace ketrion {

// Settings of one open or save file dialog, as the commands give them.
// `filter` uses the "Text (*.ext)|*.ext|All Files (*.*)|*.*||" form: description
// and pattern pairs separated by bars.
struct FileDialogRequest {
    QString filter;
    QString defaultExtension;  // without or with a leading dot ("ktd", ".JPG")
    QString initialName;       // proposed file name
    bool mustExist = false;    // open: the file must exist; save: its folder must
};

// The modal questions that commands ask the user. The views reach every dialog
// through this interface so that tests and the autopilot can answer them.
// All calls run on the UI thread.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Full path of the chosen file, or nothing when the user cancels.
    virtual std::optional<QString> OpenFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> SaveFile(const FileDialogRequest& request) = 0;
    // A question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(const QString& question) = 0;
    // A message box titled "Ketrion" with one OK button.
    virtual void Message(const QString& text) = 0;
    // Runs a dialog modally (the Location Information dialog).
    virtual void RunModal(QDialog& dialog) = 0;
};

// Splits "A (*.a)|*.a|B (*.*)|*.*||" into Qt's "A (*.a);;B (*.*)".
QString QtFilterFromBarFilter(const QString& barFilter);

// The real dialogs: QFileDialog and QMessageBox.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }

    std::optional<QString> OpenFile(const FileDialogRequest& request) override;
    std::optional<QString> SaveFile(const FileDialogRequest& request) override;
    bool AskYesNo(const QString& question) override;
    // The same text is not stacked while its box is still open (a nested event
    // loop may deliver the same failure again).
    void Message(const QString& text) override;
    void RunModal(QDialog& dialog) override;

private:
    QWidget* m_parent;
    std::set<QString> m_openMessages;
};

// Answers from a script instead of a person: for tests and the autopilot.
// Every question is recorded; an unscripted file dialog is cancelled and an
// unscripted question is answered No.
class ScriptedDialogs final : public Dialogs {
public:
    struct FileQuestion {
        bool save;
        FileDialogRequest request;
    };

    std::optional<QString> OpenFile(const FileDialogRequest& request) override;
    std::optional<QString> SaveFile(const FileDialogRequest& request) override;
    bool AskYesNo(const QString& question) override;
    void Message(const QString& text) override;
    void RunModal(QDialog& dialog) override;

    // Next answers, consumed in order. An empty optional cancels the dialog.
    std::deque<std::optional<QString>> fileAnswers;
    std::deque<bool> yesNoAnswers;
    // Called with each modal dialog instead of running it.
    std::function<void(QDialog&)> onModal;
    // Called with each message as it is recorded.
    std::function<void(const QString&)> onMessage;

    std::vector<FileQuestion> fileQuestions;
    QStringList questions;
    QStringList messages;
    int modalRuns = 0;

private:
    std::optional<QString> NextFileAnswer(bool save, const FileDialogRequest& request);
};

}  // namespace ketrion
