#include "ui/shell/FrameSources.h"

#include <QApplication>
#include <QTimer>

#include <utility>

#include "session/SurveySession.h"
#include "source/ScanSource.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/Services.h"

namespace ketrion {

FrameSources::FrameSources(Services& services, QObject& owner, std::function<void()> settled)
    : m_services(services), m_settled(std::move(settled)), m_poll(new QTimer(&owner)) {
    m_poll->setInterval(CMainFrame::kStartupPollMs);
    QObject::connect(m_poll, &QTimer::timeout, &owner, [this] { OnPoll(); });
}

void FrameSources::Start() {
    m_started = true;
    m_services.session.StartSources();
    // Only a start that is really under way shows the wait cursor; its end
    // is looked at from the event loop, never waited for.
    SetWaitCursor(m_services.scan.Starting());
    m_poll->start();
}

void FrameSources::OnPoll() {
    if (m_services.scan.Starting()) {
        return;
    }
    m_poll->stop();
    SetWaitCursor(false);
    m_settled();
}

void FrameSources::SetWaitCursor(bool on) {
    if (on == m_waitCursor) {
        return;
    }
    m_waitCursor = on;
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void FrameSources::Stop() {
    m_poll->stop();
    SetWaitCursor(false);
    if (!m_started) {
        return;
    }
    m_started = false;
    m_services.session.StopSources();
}

}  // namespace ketrion
