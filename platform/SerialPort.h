#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ketrion {

// The serial line as the link thread uses it. The real implementation is
// PosixSerialPort (termios); tests substitute scripted ports.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual bool IsOpen() const = 0;
    // Number of bytes waiting in the driver's input queue; clears a pending
    // error condition. Returns 0 when the query fails or the port is closed.
    virtual std::size_t InputCount() = 0;
    // Reads up to `length` bytes without blocking for more than are queued;
    // returns the number read (0 on failure).
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t length) = 0;
    // Writes the bytes; returns the number accepted (0 on failure or when closed).
    virtual std::size_t Write(const std::uint8_t* buffer, std::size_t length) = 0;
    // Waits at most `milliseconds` for input to arrive; returns true when some is
    // waiting. Lets the idle link thread sleep on the line instead of blindly.
    virtual bool WaitReadable(int milliseconds) = 0;
    // Discards the driver's output queue, then its input queue.
    virtual void Purge() = 0;
    virtual void Close() = 0;
};

}  // namespace ketrion
