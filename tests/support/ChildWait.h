#pragma once

// Waiting for a child process to end, as an event: the child's process
// descriptor (pidfd) turns readable the moment it ends, so a test wakes then
// instead of looking every few milliseconds. Header-only.

#include <poll.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace ketrion::testing {

// Waits up to `bound` for child `pid` to end (a generous bound against a
// hung program, not a timing check). True, with the child reaped and its
// wait status in `status`, when it ended; false when it still runs.
inline bool WaitForChild(pid_t pid, std::chrono::milliseconds bound, int& status) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
        return true;
    }
    const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (exited >= 0) {
        pollfd fd{exited, POLLIN, 0};
        const auto until = std::chrono::steady_clock::now() + bound;
        int ready = 0;
        do {  // a signal to this process may cut a poll short
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            ready = ::poll(&fd, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        } while (ready < 0 && std::chrono::steady_clock::now() < until);
        ::close(exited);
        return ready > 0 && ::waitpid(pid, &status, 0) == pid;
    }
    // No process descriptors (a kernel before 5.3): look again and again.
    const auto until = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < until) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace ketrion::testing
