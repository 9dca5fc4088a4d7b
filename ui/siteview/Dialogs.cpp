#include "ui/siteview/Dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace ketrion {

namespace {

// Title of every message box and question.
const QString kAppName = QStringLiteral("Ketrion");

// Default suffix as Qt takes it: no leading dot, lower case (file names on
// Linux are case-sensitive and the patterns are lower case).
QString Suffix(const QString& extension) {
    QString suffix = extension;
    while (suffix.startsWith(QLatin1Char('.'))) {
        suffix.remove(0, 1);
    }
    return suffix.toLower();
}

std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogRequest& request, bool save) {
    QFileDialog dialog(parent);
    dialog.setWindowTitle(kAppName);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Saving over an existing file asks first (the dialog's own question):
    // choosing a survey by mistake must not truncate it.
    dialog.setFileMode(save || !request.mustExist ? QFileDialog::AnyFile
                                                  : QFileDialog::ExistingFile);
    dialog.setNameFilter(QtFilterFromBarFilter(request.filter));
    dialog.setDefaultSuffix(Suffix(request.defaultExtension));
    dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) {
        return std::nullopt;
    }
    return QFileInfo(files.front()).absoluteFilePath();
}

}  // namespace

QString QtFilterFromBarFilter(const QString& barFilter) {
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;  // the "||" that ends the list
        }
        const QString& description = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the parentheses of the description and
        // splits them on spaces only: a description written with semicolons
        // ("(*.png;*.jpg)") would list no file, so the parentheses are always
        // rebuilt from the pattern part.
        const qsizetype open = description.indexOf(QLatin1Char('('));
        const QString name = (open < 0 ? description : description.left(open)).trimmed();
        filters << name + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

std::optional<QString> QtDialogs::OpenFile(const FileDialogRequest& request) {
    return RunFileDialog(m_parent, request, false);
}

std::optional<QString> QtDialogs::SaveFile(const FileDialogRequest& request) {
    return RunFileDialog(m_parent, request, true);
}

bool QtDialogs::AskYesNo(const QString& question) {
    return QMessageBox::question(m_parent, kAppName, question,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtDialogs::Message(const QString& text) {
    if (!m_openMessages.insert(text).second) {
        return;  // the same box is still open
    }
    QMessageBox::information(m_parent, kAppName, text, QMessageBox::Ok);
    m_openMessages.erase(text);
}

void QtDialogs::RunModal(QDialog& dialog) {
    dialog.exec();
}

std::optional<QString> ScriptedDialogs::NextFileAnswer(bool save,
                                                       const FileDialogRequest& request) {
    fileQuestions.push_back({save, request});
    if (fileAnswers.empty() || !fileAnswers.front().has_value()) {
        if (!fileAnswers.empty()) {
            fileAnswers.pop_front();
        }
        return std::nullopt;
    }
    const QString answer = *fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<QString> ScriptedDialogs::OpenFile(const FileDialogRequest& request) {
    return NextFileAnswer(false, request);
}

std::optional<QString> ScriptedDialogs::SaveFile(const FileDialogRequest& request) {
    return NextFileAnswer(true, request);
}

bool ScriptedDialogs::AskYesNo(const QString& question) {
    questions << question;
    if (yesNoAnswers.empty()) {
        return false;
    }
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

void ScriptedDialogs::Message(const QString& text) {
    messages << text;
}

void ScriptedDialogs::RunModal(QDialog& dialog) {
    ++modalRuns;
    if (onModal) {
        onModal(dialog);
    }
}

}  // namespace ketrion
