#pragma once

namespace ketrion {

class CMainFrame;
class CStatusBar;
struct Services;

// The desktop window's status bar and what keeps it current: the frame asks
// it to show the shared state after each command and source event, and it
// shows it again once a period by itself (the GPS age counts on between
// reports, and a stopped receiver sends none).
class FrameStatus final {
public:
    // Puts the status bar on `frame` and starts its own update, which calls
    // the frame's UpdateStatus.
    explicit FrameStatus(CMainFrame& frame);

    CStatusBar* Bar() const { return m_bar; }
    // Reads the shared state into the bar; `recording` while the site view's
    // collection timer runs.
    void Show(Services& services, bool recording);

private:
    CStatusBar* m_bar = nullptr;  // owned by the frame
};

}  // namespace ketrion
