#include "ui/shell/KetrionApp.h"

#include "platform/Prompt.h"
#include "ui/shell/AboutDlg.h"

namespace ketrion {

CKetrionApp::CKetrionApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromLatin1(kAppName));
    setApplicationVersion(QString::fromLatin1(kVersion));
    setDesktopFileName(QStringLiteral("ketrion"));
    setWindowIcon(QIcon(CAboutDlg::ApplicationIcon()));
}

CKetrionApp::~CKetrionApp() {
    ExitInstance();
}

bool CKetrionApp::InitInstance(Services& services, CMainFrame::LinkSteps steps, FrameLayout layout,
                               QSettings* settings) {
    m_frame = std::make_unique<CMainFrame>(services, std::move(steps));
    m_frame->SetLayout(layout, settings);
    if (!m_frame->OnCreate()) {
        m_frame.reset();
        services.prompt.Message(kCreateFailed);
        return false;
    }
    m_frame->show();
    return true;
}

int CKetrionApp::Run() {
    const int code = m_frame ? exec() : 1;
    ExitInstance();
    return code;
}

void CKetrionApp::ExitInstance() {
    if (m_frame) {
        m_frame->StopLink();
        m_frame.reset();
    }
}

void CKetrionApp::OnAppAbout(QWidget* parent) {
    CAboutDlg dlg(parent);
    dlg.exec();
}

}  // namespace ketrion
