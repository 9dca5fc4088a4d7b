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

bool CKetrionApp::InitInstance(Services& services, FrameLayout layout, QSettings* settings) {
    m_frame = std::make_unique<CMainFrame>(services, layout, settings);
    if (!m_frame->Built()) {
        m_frame.reset();
        services.prompt.Message(kCreateFailed);
        return false;
    }
    m_frame->show();
    m_frame->StartSources();
    return true;
}

int CKetrionApp::Run() {
    const int code = m_frame ? exec() : 1;
    ExitInstance();
    return code;
}

void CKetrionApp::ExitInstance() {
    if (m_frame) {
        m_frame->StopSources();
        m_frame.reset();
    }
}

void CKetrionApp::OnAppAbout(QWidget* parent) {
    CAboutDlg dlg(parent);
    dlg.exec();
}

}  // namespace ketrion
