#pragma once

// The one QApplication of a Qt test executable, on the offscreen platform
// unless QT_QPA_PLATFORM names another. Header-only; call it at the start of
// every test (or fixture) that makes widgets. Reuses an application that
// another helper already made.

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

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

// Runs the event loop until `done` holds or `timeoutMs` passes; returns `done()`.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        QThread::msleep(1);
    }
    return true;
}

}  // namespace ketrion::testing
