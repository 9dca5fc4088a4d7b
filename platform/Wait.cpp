#include "platform/Wait.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace ketrion {

int PollWaiter::Wait(pollfd* fds, std::size_t count, int timeoutMs) {
    int r;
    do {
        r = ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r;
}

WakeEvent::WakeEvent() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void WakeEvent::Signal() {
    if (m_fd < 0) {
        return;
    }
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = ::write(m_fd, &one, sizeof one);
    } while (n < 0 && errno == EINTR);
    // EAGAIN means the counter is at its maximum: a signal is pending anyway.
}

bool WakeEvent::Drain() {
    if (m_fd < 0) {
        return false;
    }
    std::uint64_t value = 0;
    ssize_t n;
    do {
        n = ::read(m_fd, &value, sizeof value);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof value) && value > 0;
}

}  // namespace ketrion
