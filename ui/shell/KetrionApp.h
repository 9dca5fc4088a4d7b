#pragma once

#include <QApplication>
#include <memory>

#include "ui/shell/MainFrame.h"

namespace ketrion {

// The application object: the Qt application plus the start of the one main
// window. Constructed with the process-wide objects, after the serial link and
// the drawing helper and before the engine.
class CKetrionApp : public QApplication {
    Q_OBJECT
public:
    // Window title, and the About box's product name.
    static constexpr const char* kAppName = "Ketrion";
    static constexpr const char* kVersion = "1.03";
    // Shown when the main window cannot be built.
    static constexpr const char* kCreateFailed = "Failed to create empty document.";

    CKetrionApp(int& argc, char** argv);
    ~CKetrionApp() override;

    // Creates the main frame with its start view (`layout` and `settings` as
    // CMainFrame takes them), shows it and starts the sources. Returns false
    // (after telling the user) when the frame cannot be built; the program
    // then ends.
    bool InitInstance(Services& services, FrameLayout layout = FrameLayout::Handheld,
                      QSettings* settings = nullptr);
    // Runs the event loop until the main window closes, then destroys the
    // frame (which stops the sources first). Returns the loop's exit code.
    int Run();
    // Destroys the frame; safe to call twice.
    void ExitInstance();

    // The About command: the About box, modal.
    static void OnAppAbout(QWidget* parent = nullptr);

    CMainFrame* MainFrame() const { return m_frame.get(); }

private:
    std::unique_ptr<CMainFrame> m_frame;
};

}  // namespace ketrion
