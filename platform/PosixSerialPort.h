#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SerialPort.h"

namespace ketrion {

// The serial line over a POSIX terminal device (a USB or CF serial adapter, or
// the slave side of a pseudo-terminal): 38400 baud, 8N1, raw, no flow control,
// DTR off and RTS on. The descriptor stays non-blocking; waiting is done with
// poll(), so no call blocks for longer than it says.
class PosixSerialPort final : public SerialPort {
public:
    // Line speed of the receiver board.
    static constexpr unsigned kBaud = 38400;
    // Longest time a Write waits for room in the driver's output queue before
    // giving up on the rest; a stuck line must not hold the link thread forever.
    static constexpr int kWriteTimeoutMs = 1000;

    enum class OpenStatus {
        Ok,
        CannotOpen,       // the device could not be opened
        CannotConfigure,  // the line settings were refused; the device is closed again
    };

    PosixSerialPort() = default;
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    // Opens `path` for reading and writing, exclusively, and applies the line
    // settings, then discards anything queued. On failure LastError() says what
    // went wrong and with which device.
    OpenStatus Open(const std::string& path);
    const std::string& LastError() const { return m_lastError; }
    const std::string& Path() const { return m_path; }
    int Descriptor() const override { return m_fd; }

    bool IsOpen() const override { return m_fd >= 0; }
    std::size_t InputCount() override;
    std::size_t Read(std::uint8_t* buffer, std::size_t length) override;
    std::size_t Write(const std::uint8_t* buffer, std::size_t length) override;
    void Purge() override;
    void Close() override;
    bool Lost() const override { return !m_lossReason.empty(); }
    std::string LossReason() const override { return m_lossReason; }
    void CheckLine(short revents) override;

    // Waits at most `milliseconds` for input to arrive; returns true when some is
    // waiting. A hang-up seen while waiting marks the port lost.
    bool WaitReadable(int milliseconds);

private:
    bool Configure();
    void Fail(const std::string& what);
    // Marks the line lost with `what` and the system error `error`.
    void MarkLost(const char* what, int error);

    int m_fd = -1;
    std::string m_path;
    std::string m_lastError;
    std::string m_lossReason;  // empty while the line is usable
    // A byte CheckLine's probe read, delivered first by the next Read.
    bool m_hasHeld = false;
    std::uint8_t m_held = 0;
};

}  // namespace ketrion
