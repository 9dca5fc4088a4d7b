#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ketrion {

// The serial line as the link thread uses it. The real implementation is
// PosixSerialPort (termios); tests substitute scripted ports.
//
// "Nothing to read" and "the line is gone" are told apart: Read and Write
// return 0 in both cases, and Lost() says which. Once lost, a port stays lost
// until it is closed; the link thread then closes it and opens a new one.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual bool IsOpen() const = 0;
    // A descriptor that polls readable when input arrives (and reports hang-up
    // and errors), for the link thread's wait; -1 when there is none.
    virtual int Descriptor() const = 0;
    // Number of bytes waiting in the driver's input queue; clears a pending
    // error condition. Returns 0 when the query fails or the port is closed.
    virtual std::size_t InputCount() = 0;
    // Reads up to `length` bytes without blocking for more than are queued;
    // returns the number read (0 when nothing was waiting or the line failed).
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t length) = 0;
    // Writes the bytes; returns the number accepted (0 on failure or when closed).
    virtual std::size_t Write(const std::uint8_t* buffer, std::size_t length) = 0;
    // Discards the driver's output queue, then its input queue.
    virtual void Purge() = 0;
    virtual void Close() = 0;

    // True once the line hung up, reached its end or failed (an unplugged
    // adapter, a closed pseudo-terminal, EIO). LossReason() says what happened.
    virtual bool Lost() const = 0;
    virtual std::string LossReason() const = 0;
    // Called when a wait on Descriptor() reported hang-up or an error (poll's
    // `revents`): the port looks at the line and marks itself lost if it is gone.
    virtual void CheckLine(short revents) = 0;
};

}  // namespace ketrion
