#pragma once

#include <poll.h>

#include <cstddef>

namespace ketrion {

// Waiting on several descriptors at once with a timeout, as poll(2) does: the
// link thread sleeps on the serial line, its wake-up event and (while the
// board is away) the device monitor together. Logic takes a Waiter so tests
// can stand in a clock that moves instead of sleeping.
class Waiter {
public:
    virtual ~Waiter() = default;
    // Waits until one of the `count` descriptors has one of its `events`, or
    // `timeoutMs` passed (negative: no limit). Fills each revents. Returns the
    // number of descriptors with events, 0 on timeout, -1 on failure.
    // Descriptors below zero are ignored, as poll(2) does.
    virtual int Wait(pollfd* fds, std::size_t count, int timeoutMs) = 0;
};

// The real poll(2), retried when a signal interrupts it.
class PollWaiter final : public Waiter {
public:
    int Wait(pollfd* fds, std::size_t count, int timeoutMs) override;
};

// A counter-style wake-up signal (an eventfd): any thread calls Signal, the
// waiting thread polls Descriptor() and calls Drain once it woke. Signals sent
// before the wait are not lost.
class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Async-signal-safe and lock-free: one write(2).
    void Signal();
    // Clears all signals sent so far; returns true when there were any.
    bool Drain();
    // Readable while a signal is pending; -1 when the event could not be made.
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
};

}  // namespace ketrion
