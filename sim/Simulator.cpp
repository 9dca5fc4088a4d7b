#include "sim/Simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace ketrion::sim {

namespace {

// Longest the thread sleeps with nothing scheduled, so Stop is noticed promptly
// even if the wake-up pipe were lost.
constexpr int kIdlePollMs = 200;
constexpr std::size_t kReadChunk = 256;
// Bytes the board holds back while the terminal's buffer is full, waiting for
// the program to read. A scan of the largest scenario (1024 access points,
// 16 passes of 32 reports of 1.4 KB) fits; beyond this nobody is reading, and
// further output is dropped as on a real line with no listener.
constexpr std::size_t kMaxBacklogBytes = 2 * 1024 * 1024;

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

Simulator::Simulator(Scenario scenario) : m_scenario(std::move(scenario)) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    auto fail = [&](const std::string& message) {
        if (error != nullptr) {
            *error = message;
        }
        Stop();
        return false;
    };
    if (Running()) {
        return fail("the simulator is already running");
    }
    m_stop = false;

    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0) {
        return fail(Errno("posix_openpt"));
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        return fail(Errno("grantpt/unlockpt"));
    }
    char name[128] = {};
    if (::ptsname_r(m_master, name, sizeof name) != 0) {
        return fail(Errno("ptsname"));
    }
    m_slavePath = name;
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        return fail(Errno("open pseudo-terminal slave"));
    }
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0) {
        return fail(Errno("tcgetattr"));
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B38400);
    ::cfsetospeed(&tio, B38400);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0) {
        return fail(Errno("tcsetattr"));
    }
    // The board's thread never blocks on the line: output the terminal cannot
    // take yet waits in a bounded backlog (see Run).
    const int flags = ::fcntl(m_master, F_GETFL);
    if (flags < 0 || ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(Errno("fcntl"));
    }
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return fail(Errno("pipe"));
    }

    if (!m_capturePath.empty()) {
        m_capture = std::fopen(m_capturePath.c_str(), "wb");
        if (m_capture == nullptr) {
            return fail(Errno(("cannot write the capture file " + m_capturePath).c_str()));
        }
    }
    if (!m_linkPath.empty()) {
        struct stat st {};
        if (::lstat(m_linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                return fail(m_linkPath + " exists and is not a symbolic link; not replacing it");
            }
            ::unlink(m_linkPath.c_str());
        }
        if (::symlink(m_slavePath.c_str(), m_linkPath.c_str()) != 0) {
            return fail(Errno(("symlink " + m_linkPath).c_str()));
        }
        m_linked = true;
    }

    const std::int64_t startUtc = m_scenario.startTime >= 0
                                      ? m_scenario.startTime
                                      : static_cast<std::int64_t>(std::time(nullptr));
    m_board = std::make_unique<Board>(m_scenario, startUtc);
    m_board->SetLevel(m_level);
    m_thread = std::thread(&Simulator::Run, this);
    return true;
}

void Simulator::Stop() {
    m_stop = true;
    if (m_wake[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &b, 1);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_linked) {
        ::unlink(m_linkPath.c_str());
        m_linked = false;
    }
    if (m_capture != nullptr) {
        std::fclose(m_capture);
        m_capture = nullptr;
    }
    CloseFd(m_wake[0]);
    CloseFd(m_wake[1]);
    CloseFd(m_slave);
    CloseFd(m_master);
}

Board::Counters Simulator::Stats() const {
    std::lock_guard lock(m_boardMutex);
    return m_board ? m_board->Stats() : Board::Counters{};
}

void Simulator::Run() {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto now = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    std::vector<std::uint8_t> pending;
    std::vector<std::uint8_t> backlog;  // output the line has not taken yet
    std::size_t backlogFrom = 0;
    std::uint8_t in[kReadChunk];

    while (!m_stop) {
        int timeout = kIdlePollMs;
        {
            std::lock_guard lock(m_boardMutex);
            Board::Millis next = m_board->NextEvent();
            if (!m_board->Output().empty() && (next < 0 || m_board->Output().front().due < next)) {
                next = m_board->Output().front().due;
            }
            if (next >= 0) {
                timeout = static_cast<int>(std::clamp<Board::Millis>(next - now(), 0, kIdlePollMs));
            }
        }
        const bool holding = backlogFrom < backlog.size();
        pollfd fds[2] = {{m_master, static_cast<short>(POLLIN | (holding ? POLLOUT : 0)), 0},
                         {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (m_stop) {
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t n = ::read(m_master, in, sizeof in);
            if (n > 0) {
                std::lock_guard lock(m_boardMutex);
                m_board->Receive(in, static_cast<std::size_t>(n), now());
            }
        }
        pending.clear();
        {
            std::lock_guard lock(m_boardMutex);
            const Board::Millis t = now();
            m_board->Advance(t);
            m_board->TakeDue(t, pending);
        }
        // New output queues behind what the line has not taken yet, so frames
        // go out whole and in order however slowly the program reads.
        if (backlogFrom == backlog.size()) {
            backlog.clear();
            backlogFrom = 0;
        }
        if (backlog.size() - backlogFrom + pending.size() <= kMaxBacklogBytes) {
            backlog.insert(backlog.end(), pending.begin(), pending.end());
        }
        while (backlogFrom < backlog.size()) {
            const ssize_t n =
                ::write(m_master, backlog.data() + backlogFrom, backlog.size() - backlogFrom);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;  // line full: the rest waits for room
            }
            if (m_capture != nullptr) {
                std::fwrite(backlog.data() + backlogFrom, 1, static_cast<std::size_t>(n),
                            m_capture);
                std::fflush(m_capture);
            }
            m_bytesSent += static_cast<std::uint64_t>(n);
            backlogFrom += static_cast<std::size_t>(n);
        }
    }
}

}  // namespace ketrion::sim
