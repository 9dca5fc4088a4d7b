#pragma once

#include <functional>

class QObject;
class QTimer;

namespace ketrion {

struct Services;

// Starts and stops the session's sources for the main window, showing the
// wait cursor while one of them is still starting (its device opening, the
// board's handshake). The start's end is looked at from the event loop by a
// timer, never waited for. User-interface thread only.
class FrameSources final {
public:
    // `owner` (the frame) owns the timer; `settled` runs each time a start
    // is no longer pending.
    FrameSources(Services& services, QObject& owner, std::function<void()> settled);
    FrameSources(const FrameSources&) = delete;
    FrameSources& operator=(const FrameSources&) = delete;

    // Starts the session's sources; the wait cursor shows only while a
    // start is really under way.
    void Start();
    // Stops and joins the sources' threads; safe to repeat.
    void Stop();
    // Shows or ends the wait cursor (nothing when it is so already).
    void SetWaitCursor(bool on);

private:
    // A pending start is looked at again: the wait cursor ends with it.
    void OnPoll();

    Services& m_services;
    std::function<void()> m_settled;
    QTimer* m_poll = nullptr;  // owned by the owner
    bool m_started = false;
    bool m_waitCursor = false;
};

}  // namespace ketrion
