#include "ui/shell/FrameStatus.h"

#include <QTimer>

#include "session/SurveySession.h"
#include "survey/SiteData.h"
#include "ui/shell/MainFrame.h"
#include "ui/shell/Services.h"
#include "ui/shell/StatusBar.h"

namespace ketrion {

FrameStatus::FrameStatus(CMainFrame& frame) : m_bar(new CStatusBar(&frame)) {
    frame.setStatusBar(m_bar);
    // The GPS age counts on between reports, and a stopped receiver
    // sends none: the bar updates by itself as well.
    auto* timer = new QTimer(&frame);
    timer->setInterval(CMainFrame::kStatusPeriodMs);
    QObject::connect(timer, &QTimer::timeout, &frame, &CMainFrame::UpdateStatus);
    timer->start();
}

void FrameStatus::Show(Services& services, bool recording) {
    StatusFacts facts = SourceFacts(services.scan, services.position, services.clock);
    facts.recording = recording;
    facts.points = services.data.PointCount();
    facts.file = services.data.Path();
    switch (services.session.CurrentPlacing()) {
        case SurveySession::Placing::StopAndGo:
            facts.placing = "stop";
            break;
        case SurveySession::Placing::Walk:
            facts.placing = "walk";
            break;
        case SurveySession::Placing::Gps:
            break;
    }
    facts.waiting = services.session.WaitingScans();
    m_bar->Show(facts);
}

}  // namespace ketrion
