#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/PosixSerialPort.h"

namespace ketrion {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The master side of a pseudo-terminal; the port under test opens the slave.
struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
            slave = ::ptsname(master);
        }
    }
    ~Pty() { CloseMaster(); }
    void CloseMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }
    Bytes ReadMaster(std::size_t want, int timeoutMs = 2000) {
        Bytes got;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                std::uint8_t buf[256];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0) {
                    got.insert(got.end(), buf, buf + n);
                }
            }
        }
        return got;
    }
};

// Waits until the port reports at least `n` bytes queued.
bool WaitForInput(PosixSerialPort& port, std::size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (port.InputCount() < n && std::chrono::steady_clock::now() < deadline) {
        port.WaitReadable(10);
    }
    return port.InputCount() >= n;
}

TEST(SerialPosix, LineSettingsReadBack) {
    Pty pty;
    ASSERT_FALSE(pty.slave.empty());
    PosixSerialPort port;
    ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
    ASSERT_TRUE(port.IsOpen());

    termios tio{};
    ASSERT_EQ(::tcgetattr(port.Descriptor(), &tio), 0);
    EXPECT_EQ(::cfgetispeed(&tio), B38400);
    EXPECT_EQ(::cfgetospeed(&tio), B38400);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "8N1, no hardware flow control";
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u) << "no XON/XOFF";
    EXPECT_EQ(tio.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IGNBRK | BRKINT | PARMRK), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << "raw input";
    EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "raw output";
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_NE(::fcntl(port.Descriptor(), F_GETFL) & O_NONBLOCK, 0);
}

// Every byte value passes unchanged both ways, framing and control bytes included.
TEST(SerialPosix, BytesPassUnchangedBothWays) {
    Pty pty;
    PosixSerialPort port;
    ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();

    Bytes all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    ASSERT_EQ(::write(pty.master, all.data(), all.size()), 256);
    ASSERT_TRUE(WaitForInput(port, all.size()));
    Bytes got(512);
    ASSERT_EQ(port.Read(got.data(), got.size()), 256u);
    got.resize(256);
    EXPECT_EQ(got, all);
    EXPECT_EQ(port.InputCount(), 0u);

    EXPECT_EQ(port.Write(all.data(), all.size()), 256u);
    EXPECT_EQ(pty.ReadMaster(256), all);
}

TEST(SerialPosix, WaitReadableAndPurge) {
    Pty pty;
    PosixSerialPort port;
    ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
    EXPECT_FALSE(port.WaitReadable(20));

    const Bytes frame = {0x11, 0x12, 0x16, 0x00, 0x11, 0x13};
    ASSERT_EQ(::write(pty.master, frame.data(), frame.size()), 6);
    EXPECT_TRUE(WaitForInput(port, 6));
    EXPECT_TRUE(port.WaitReadable(0));
    port.Purge();
    EXPECT_EQ(port.InputCount(), 0u);
    EXPECT_FALSE(port.WaitReadable(0));
}

// "Nothing to read" and "the far end went away" are told apart: a quiet line
// is not lost; a closed far end is, with a reason naming the device, and the
// descriptor's hang-up is what the link thread's wait sees.
TEST(SerialPosix, HangupIsToldApartFromNothingToRead) {
    Pty pty;
    PosixSerialPort port;
    ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
    EXPECT_FALSE(port.WaitReadable(20));
    std::uint8_t b = 0;
    EXPECT_EQ(port.Read(&b, 1), 0u);
    EXPECT_FALSE(port.Lost()) << "a quiet line is not a lost one";

    pty.CloseMaster();
    pollfd p{port.Descriptor(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
    port.CheckLine(p.revents);
    EXPECT_TRUE(port.Lost());
    EXPECT_NE(port.LossReason().find(pty.slave), std::string::npos) << port.LossReason();
    EXPECT_EQ(port.Read(&b, 1), 0u);
    EXPECT_EQ(port.Write(&b, 1), 0u);

    // Closing forgets the loss: a port opened again starts healthy.
    port.Close();
    EXPECT_FALSE(port.Lost());
    Pty again;
    ASSERT_EQ(port.Open(again.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
    EXPECT_FALSE(port.Lost());
}

// A line check reads one byte to learn whether the line still delivers; that
// byte may start a frame, so the next read hands it over first. Checked both
// when the bytes are already counted and when the check runs at once after
// they were sent (where the count may still say nothing is queued).
TEST(SerialPosix, TheByteALineCheckReadsStartsTheNextRead) {
    const Bytes frame = {0xAA, 0x55, 0x19, 0x03, 0x01, 0x02, 0x03, 0xFA};
    for (const bool waitForCount : {true, false}) {
        SCOPED_TRACE(waitForCount ? "counted first" : "checked at once");
        Pty pty;
        PosixSerialPort port;
        ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
        ASSERT_EQ(::write(pty.master, frame.data(), frame.size()),
                  static_cast<ssize_t>(frame.size()));
        if (waitForCount) {
            ASSERT_TRUE(WaitForInput(port, frame.size()));
        }
        port.CheckLine(POLLERR);
        EXPECT_FALSE(port.Lost()) << port.LossReason();
        ASSERT_TRUE(WaitForInput(port, frame.size()));
        EXPECT_EQ(port.InputCount(), frame.size());
        Bytes got(64);
        got.resize(port.Read(got.data(), got.size()));
        EXPECT_EQ(got, frame);
    }

    // A one-byte read takes just the kept byte; a purge drops it.
    Pty pty;
    PosixSerialPort port;
    ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
    ASSERT_EQ(::write(pty.master, frame.data(), 2), 2);
    ASSERT_TRUE(WaitForInput(port, 2));
    port.CheckLine(POLLHUP);
    std::uint8_t b = 0;
    ASSERT_EQ(port.Read(&b, 1), 1u);
    EXPECT_EQ(b, frame[0]);
    port.CheckLine(POLLHUP);
    EXPECT_TRUE(port.WaitReadable(0));
    port.Purge();
    EXPECT_EQ(port.InputCount(), 0u);
    EXPECT_FALSE(port.Lost());
}

TEST(SerialPosix, FailuresSayWhatAndWhere) {
    struct Row {
        const char* path;
        PosixSerialPort::OpenStatus status;
        const char* mentions;
    };
    const Row rows[] = {
        {"/nonexistent/ttyKT0", PosixSerialPort::OpenStatus::CannotOpen, "No such file"},
        {"/dev/null", PosixSerialPort::OpenStatus::CannotConfigure, "/dev/null"},
    };
    for (const Row& row : rows) {
        PosixSerialPort port;
        EXPECT_EQ(port.Open(row.path), row.status) << row.path;
        EXPECT_FALSE(port.IsOpen()) << row.path;
        EXPECT_NE(port.LastError().find(row.path), std::string::npos) << port.LastError();
        EXPECT_NE(port.LastError().find(row.mentions), std::string::npos) << port.LastError();
    }
}

TEST(SerialPosix, ClosedPortDoesNothing) {
    PosixSerialPort port;
    std::uint8_t b[4] = {};
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.InputCount(), 0u);
    EXPECT_EQ(port.Read(b, 4), 0u);
    EXPECT_EQ(port.Write(b, 4), 0u);
    EXPECT_FALSE(port.WaitReadable(0));
    port.Purge();
    port.Close();

    Pty pty;
    ASSERT_EQ(port.Open(pty.slave), PosixSerialPort::OpenStatus::Ok) << port.LastError();
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Write(b, 4), 0u);
}

}  // namespace
}  // namespace ketrion
