#include "app/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace ketrion {

namespace {

// The pipe from the signal handler to the UI thread.
int s_signalPipe[2] = {-1, -1};

void OnStopSignal(int signalNumber) {
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = write(s_signalPipe[1], &byte, 1);
}

}  // namespace

StopSignals::StopSignals(std::function<void(int signalNumber)> stop) {
    if (pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(s_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [stop = std::move(stop)] {
                         unsigned char drain[16];
                         int signalNumber = 0;
                         ssize_t n;
                         while ((n = read(s_signalPipe[0], drain, sizeof drain)) > 0) {
                             signalNumber = drain[0];  // the first one decides
                         }
                         stop(signalNumber);
                     });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

StopSignals::~StopSignals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    m_notifier.reset();
    for (int& fd : s_signalPipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

}  // namespace ketrion
