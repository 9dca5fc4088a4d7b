#pragma once

#include <QString>

#include <deque>
#include <optional>

#include "ui/siteview/Dialogs.h"

namespace ketrion {

// What the first bytes of a file say about it as a collection file.
enum class CollectionCheck {
    Collection,     // begins with the collection header's magic
    TooShort,       // shorter than the magic: the loader names the damage
    NotCollection,  // some other kind of file
    Unreadable,     // cannot be opened for reading
};
CollectionCheck CheckCollectionFile(const QString& path);
// The message for a chosen file that is not a collection file.
QString NotACollectionText(const QString& path);

// The dialogs the main frame gives its site view. Every question goes to the
// frame's own dialogs, except that a menu command or a start-up option may
// answer the next questions in advance (the menu's "New collection" answers
// the open-existing question with No; a recent file answers the file dialog
// with its path). Answers left over when the command ends are dropped, so no
// later question is answered by mistake. A collection file chosen to be
// opened is checked first: a file of some other kind is refused with a
// message that says so, and the choice counts as cancelled.
class FrameDialogs final : public Dialogs {
public:
    explicit FrameDialogs(Dialogs* inner = nullptr) : m_inner(inner) {}
    void SetInner(Dialogs* inner) { m_inner = inner; }

    // Answers for the next questions of their kind.
    void PresetYesNo(bool answer) { m_yesNo.push_back(answer); }
    void PresetFile(const QString& path) { m_files.push_back(path); }
    // Drops unused answers and forgets the last chosen file.
    void EndCommand();
    // The file the last file dialog gave (preset or chosen), if any.
    const std::optional<QString>& LastChosen() const { return m_lastChosen; }

    std::optional<QString> OpenFile(const FileDialogRequest& request) override;
    std::optional<QString> SaveFile(const FileDialogRequest& request) override;
    bool AskYesNo(const QString& question) override;
    void Message(const QString& text) override;
    void RunModal(QDialog& dialog) override;

    // True for the file dialog requests of collection files.
    static bool IsCollectionRequest(const FileDialogRequest& request);

private:
    std::optional<QString> NextFile(const FileDialogRequest& request, bool save);

    Dialogs* m_inner;
    std::deque<bool> m_yesNo;
    std::deque<QString> m_files;
    std::optional<QString> m_lastChosen;
};

}  // namespace ketrion
