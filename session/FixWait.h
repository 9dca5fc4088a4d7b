#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "model/Reading.h"
#include "source/PositionSource.h"

namespace ketrion {

class Clock;

// Holds a finished scan until its position is known. A point is placed at
// the middle of its scan, between the fix before and the fix after; when the
// scan ends before the receiver's next report (a 1 Hz receiver, a scan that
// ended just after a fix), writing it at once would place it at the fix
// before, up to a second's walk behind. So the scan waits here for the next
// report, at most kWaitMs after it ended, and is written then with whatever
// the track holds.
//
// The scan source hands its scan over and is ready again at once: the wait
// never delays the next scan. Scans are written in the order they were
// handed over, each exactly once, by the one `write` given; a scan that need
// not wait (its report is in, or nothing is waiting before it) is written
// on the handing thread before Hand returns.
//
// Threads: Hand on the scan source's thread; Flush, Waiting and the
// destructor on any other. The waits run on a thread of this class's own,
// which checks the waiting scans every kPollMs (real time) while any wait.
class FixWait {
public:
    // Longest wait for a report after a scan's end: a 1 Hz receiver's next
    // report with room for gpsd's and the system's delays.
    static constexpr std::int64_t kWaitMs = 1500;
    // How often waiting scans are looked at.
    static constexpr int kPollMs = 50;

    using Write = std::function<void(const source::ScanResult&)>;

    FixWait(const source::PositionSource& position, Clock& clock, Write write);
    // Writes what still waits, then ends the thread.
    ~FixWait();
    FixWait(const FixWait&) = delete;
    FixWait& operator=(const FixWait&) = delete;

    // A finished scan: written now when its position is settled and none
    // waits before it, else kept until its report comes or its wait is over.
    void Hand(const source::ScanResult& result);
    // Writes every waiting scan now, with what the track holds (before the
    // collection file changes, and when the sources stop). Returns when done.
    void Flush();
    // Scans waiting for their report.
    std::size_t Waiting() const;

private:
    // True when `result` need wait no longer at `nowMs`.
    bool Settled(const source::ScanResult& result, std::int64_t nowMs) const;
    // Writes the scans at the front that are settled (or all when `all`).
    void WriteSettled(bool all);
    void Run();

    const source::PositionSource& m_position;
    Clock& m_clock;
    const Write m_write;

    // Held while a scan is written, so two threads never write out of order.
    std::mutex m_writeMutex;
    mutable std::mutex m_mutex;  // guards what follows
    std::condition_variable m_changed;
    std::deque<source::ScanResult> m_waiting;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace ketrion
