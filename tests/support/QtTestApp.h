#pragma once

// The one QApplication of a Qt test executable, on the offscreen platform
// unless QT_QPA_PLATFORM names another. Header-only; call it at the start of
// every test (or fixture) that makes widgets. Reuses an application that
// another helper already made.

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <functional>

namespace ketrion::testing {

inline QApplication& QtTestApp() {
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return *app;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "ketrion-test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: widgets in static storage of a test may outlive main().
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done` holds or `timeoutMs` passes (a generous
// bound against a hang, not a timing check); returns `done()`. The loop
// sleeps until an event comes: work from other threads arrives as posted
// events, and a short tick wakes it for state that changes without one.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
    QElapsedTimer timer;
    timer.start();
    QTimer tick;
    tick.start(5);
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

}  // namespace ketrion::testing
