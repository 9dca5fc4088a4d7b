#include "ui/shell/QtPrompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <cstdio>

namespace ketrion {

QtPrompt::~QtPrompt() {
    *m_self = nullptr;
}

void QtPrompt::SetRecorder(Recorder recorder) {
    std::lock_guard lock(m_mutex);
    m_recorder = std::move(recorder);
}

std::size_t QtPrompt::PendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_open.size();
}

void QtPrompt::Message(std::string_view text) {
    std::string owned(text);
    QCoreApplication* app = QCoreApplication::instance();
    {
        std::lock_guard lock(m_mutex);
        if (m_recorder) {
            m_recorder(owned);
            return;
        }
        if (app == nullptr || qobject_cast<QApplication*>(app) == nullptr) {
            // No window system to show a box on: say it where a user will see it.
            std::fprintf(stderr, "%s: %s\n", kTitle, owned.c_str());
            return;
        }
        // One box per text: a second failure with the same text while the first
        // box waits for OK would only stack identical boxes.
        if (!m_open.insert(owned).second) {
            return;
        }
    }
    if (QThread::currentThread() == app->thread()) {
        Show(owned);
        return;
    }
    std::weak_ptr<QtPrompt*> self = m_self;
    QMetaObject::invokeMethod(
        app,
        [self, owned] {
            if (auto alive = self.lock(); alive && *alive != nullptr) {
                (*alive)->Show(owned);
            }
        },
        Qt::QueuedConnection);
}

void QtPrompt::Show(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kTitle), QString::fromUtf8(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    std::lock_guard lock(m_mutex);
    m_open.erase(text);
}

}  // namespace ketrion
