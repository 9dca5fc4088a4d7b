#pragma once

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace ketrion {

// Ctrl+C and a polite kill close the window the way its close button does, so
// the link thread is joined and the port closed before the process ends (an
// autopilot run says first how far it got). The handler only writes the
// signal's number as one byte to a pipe; the UI thread reads it and calls
// `stop` with the first signal's number.
//
// Installs the handlers for the life of the object, from before the window is
// built (a signal during the start-up is acted on once the event loop runs);
// restores the defaults when it ends. One at a time: the pipe is process-wide.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int signalNumber)> stop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace ketrion
