#include "platform/PosixSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace ketrion {

namespace {

// Reads and writes retry on EINTR; everything else is the caller's business.
ssize_t RetryRead(int fd, void* buffer, std::size_t length) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, length);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t RetryWrite(int fd, const void* buffer, std::size_t length) {
    ssize_t n;
    do {
        n = ::write(fd, buffer, length);
    } while (n < 0 && errno == EINTR);
    return n;
}

// Read and write errors that mean the device or its other end is gone, as
// opposed to "try again later".
bool IsLineGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF ||
           error == ENOENT;
}

}  // namespace

PosixSerialPort::~PosixSerialPort() {
    Close();
}

void PosixSerialPort::Fail(const std::string& what) {
    m_lastError = what + " " + m_path + ": " + std::strerror(errno);
}

void PosixSerialPort::MarkLost(const char* what, int error) {
    if (!m_lossReason.empty()) {
        return;  // the first cause is the one worth telling
    }
    m_lossReason = std::string(what) + " on " + m_path;
    if (error != 0) {
        m_lossReason += ": ";
        m_lossReason += std::strerror(error);
    }
}

PosixSerialPort::OpenStatus PosixSerialPort::Open(const std::string& path) {
    Close();
    m_path = path;
    m_lastError.clear();
    m_lossReason.clear();
    m_hasHeld = false;

    // O_NOCTTY: the board's line must never become our controlling terminal.
    // O_NONBLOCK: open does not wait for carrier, and reads never block.
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        Fail("cannot open");
        return OpenStatus::CannotOpen;
    }
    // No sharing: a second program on the same line would steal frames.
    // Best effort (root is exempt, some drivers refuse).
    ::ioctl(m_fd, TIOCEXCL);

    if (!Configure()) {
        const int saved = errno;
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
        m_fd = -1;
        errno = saved;
        return OpenStatus::CannotConfigure;
    }
    Purge();
    return OpenStatus::Ok;
}

bool PosixSerialPort::Configure() {
    termios tio{};
    if (::tcgetattr(m_fd, &tio) != 0) {
        Fail("cannot read line settings of");
        return false;
    }
    // Raw bytes both ways: no echo, no line editing, no character translation
    // (a 0x00, 0x11 or 0x13 is data here, never a control character).
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP |
                                          INLCR | IGNCR | ICRNL);
    // Reads return at once with whatever is queued.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B38400) != 0 || ::cfsetospeed(&tio, B38400) != 0) {
        Fail("cannot set 38400 baud on");
        return false;
    }
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) {
        Fail("line settings refused by");
        return false;
    }
    // tcsetattr succeeds when any one change took; check the ones that matter.
    termios check{};
    if (::tcgetattr(m_fd, &check) != 0 || (check.c_cflag & CSIZE) != CS8 ||
        (check.c_cflag & (PARENB | CSTOPB | CRTSCTS)) != 0 || ::cfgetospeed(&check) != B38400) {
        errno = EINVAL;
        Fail("line settings not taken by");
        return false;
    }

    // DTR off, RTS on. A pseudo-terminal has no modem lines and refuses these;
    // that does not matter to the data, so errors are ignored.
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    ::ioctl(m_fd, TIOCMBIC, &dtr);
    ::ioctl(m_fd, TIOCMBIS, &rts);
    return true;
}

std::size_t PosixSerialPort::InputCount() {
    if (m_fd < 0) {
        return 0;
    }
    const std::size_t held = m_hasHeld ? 1 : 0;
    int count = 0;
    if (::ioctl(m_fd, FIONREAD, &count) != 0) {
        if (IsLineGone(errno)) {
            MarkLost("the line failed", errno);
        }
        return held;
    }
    return held + (count < 0 ? 0 : static_cast<std::size_t>(count));
}

std::size_t PosixSerialPort::Read(std::uint8_t* buffer, std::size_t length) {
    if (m_fd < 0 || length == 0) {
        return 0;
    }
    // The byte a line check took comes first.
    std::size_t done = 0;
    if (m_hasHeld) {
        buffer[done++] = m_held;
        m_hasHeld = false;
        if (length == 1) {
            return done;
        }
    }
    const ssize_t n = RetryRead(m_fd, buffer + done, length - done);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        MarkLost("read failed", errno);
    }
    // n == 0 is "nothing queued" on a raw terminal with VMIN 0; a hang-up
    // shows in poll (CheckLine) or as EIO.
    return done + (n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::size_t PosixSerialPort::Write(const std::uint8_t* buffer, std::size_t length) {
    if (m_fd < 0) {
        return 0;
    }
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = RetryWrite(m_fd, buffer + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (IsLineGone(errno)) {
                MarkLost("write failed", errno);
            }
            break;
        }
        // Output queue full: wait for room, but not forever.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{m_fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            break;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            CheckLine(p.revents);
            break;
        }
    }
    return done;
}

bool PosixSerialPort::WaitReadable(int milliseconds) {
    if (m_fd < 0) {
        return false;
    }
    if (m_hasHeld) {
        return true;
    }
    pollfd p{m_fd, POLLIN, 0};
    const int r = ::poll(&p, 1, milliseconds);
    if (r > 0 && (p.revents & POLLIN) && InputCount() > 0) {
        return true;
    }
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        CheckLine(p.revents);
    }
    return false;
}

void PosixSerialPort::CheckLine(short revents) {
    if (m_fd < 0 || Lost()) {
        return;
    }
    if (revents & POLLNVAL) {
        MarkLost("the descriptor is no longer valid", 0);
        return;
    }
    if ((revents & (POLLHUP | POLLERR)) == 0) {
        return;
    }
    // Bytes that arrived before the hang-up are still worth reading; the caller
    // reads them first, and the next wait reports the hang-up again.
    if (m_hasHeld) {
        return;
    }
    // A one-byte read tells the cause (EIO when a pseudo-terminal's other side
    // closed; nothing at all on a plain hang-up). A byte it gets means the line
    // still delivers: the byte is kept for the next Read, where it may start a
    // frame. The read is made even when input is counted, as the count can
    // lag behind what a read already gets.
    std::uint8_t probe = 0;
    const ssize_t n = RetryRead(m_fd, &probe, 1);
    if (n == 1) {
        m_held = probe;
        m_hasHeld = true;
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        MarkLost("read failed", errno);
    } else {
        MarkLost((revents & POLLHUP) ? "hang-up" : "line error", 0);
    }
}

void PosixSerialPort::Purge() {
    if (m_fd < 0) {
        return;
    }
    ::tcflush(m_fd, TCOFLUSH);
    ::tcflush(m_fd, TCIFLUSH);
    m_hasHeld = false;
}

void PosixSerialPort::Close() {
    if (m_fd < 0) {
        return;
    }
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_lossReason.clear();
    m_hasHeld = false;
}

}  // namespace ketrion
