#include "ui/shell/FrameDialogs.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "survey/CollectionFile.h"
#include "survey/RegularFile.h"

namespace ketrion {

CollectionCheck CheckCollectionFile(const QString& path) {
    // Through the guarded open: a named pipe or a device at the path is
    // refused at once instead of waiting for a writer that never comes.
    files::OpenFailure failure;
    const int fd = files::OpenRegular(QFile::encodeName(path).toStdString(), O_RDONLY, 0, failure);
    if (fd < 0) {
        return CollectionCheck::Unreadable;
    }
    constexpr std::size_t kMagicEnd = collection::kMagicAt + sizeof collection::kMagic;
    std::uint8_t head[kMagicEnd] = {};
    std::size_t got = 0;
    while (got < kMagicEnd) {
        const ssize_t n = ::pread(fd, head + got, kMagicEnd - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got < kMagicEnd) {
        return CollectionCheck::TooShort;
    }
    const bool magic = std::memcmp(head + collection::kMagicAt, collection::kMagic,
                                   sizeof collection::kMagic) == 0;
    return magic ? CollectionCheck::Collection : CollectionCheck::NotCollection;
}

QString NotACollectionText(const QString& path) {
    return QStringLiteral(
               "%1 is not a collection file (it does not begin with \" KTD\"). Choose a "
               ".ktd file, or answer No to the first question to create a new one.")
        .arg(QFileInfo(path).fileName());
}

bool FrameDialogs::IsCollectionRequest(const FileDialogRequest& request) {
    return request.filter.contains(QStringLiteral("*.ktd"), Qt::CaseInsensitive);
}

void FrameDialogs::EndCommand() {
    m_yesNo.clear();
    m_files.clear();
    m_lastChosen.reset();
}

std::optional<QString> FrameDialogs::NextFile(const FileDialogRequest& request, bool save) {
    std::optional<QString> chosen;
    if (!m_files.empty()) {
        chosen = m_files.front();
        m_files.pop_front();
    } else if (m_inner != nullptr) {
        chosen = save ? m_inner->SaveFile(request) : m_inner->OpenFile(request);
    }
    m_lastChosen = chosen;
    return chosen;
}

std::optional<QString> FrameDialogs::OpenFile(const FileDialogRequest& request) {
    std::optional<QString> chosen = NextFile(request, false);
    if (chosen && IsCollectionRequest(request) &&
        CheckCollectionFile(*chosen) == CollectionCheck::NotCollection) {
        Message(NotACollectionText(*chosen));
        m_lastChosen.reset();
        return std::nullopt;
    }
    return chosen;
}

std::optional<QString> FrameDialogs::SaveFile(const FileDialogRequest& request) {
    return NextFile(request, true);
}

bool FrameDialogs::AskYesNo(const QString& question) {
    if (!m_yesNo.empty()) {
        const bool answer = m_yesNo.front();
        m_yesNo.pop_front();
        return answer;
    }
    return m_inner != nullptr && m_inner->AskYesNo(question);
}

void FrameDialogs::Message(const QString& text) {
    if (m_inner != nullptr) {
        m_inner->Message(text);
    }
}

void FrameDialogs::RunModal(QDialog& dialog) {
    if (m_inner != nullptr) {
        m_inner->RunModal(dialog);
    }
}

}  // namespace ketrion
