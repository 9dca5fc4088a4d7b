#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/Wait.h"
#include "protocol/FrameFormat.h"

namespace ketrion {

class CCom;
class CParser;
class CEngine;
class Clock;
class DeviceMonitor;
class SerialPort;

// The worker that alone reads and writes the serial line. Each pass, in this
// order of priority:
//   0. the engine's timers run (scan watchdog, reconnection handshake);
//   1. input waiting: read it, feed it through the parser and dispatch each
//      valid frame to the engine;
//   2. else an entry in the slot: write it;
//   3. else keep-alive bookkeeping: restart the clock when asked, or queue the
//      keep-alive after more than kKeepAliveSeconds without a write;
//   4. else, while the board is away, try to open its port again when due;
//   5. else wait, on the port, the link's wake-up event and (board away) the
//      device monitor together, until the next deadline: the keep-alive, the
//      engine's next timer or the next reopening attempt. Nothing polls.
// A port that hangs up or fails is closed at once; the engine hears of it
// (LinkLost) and, once the same device opens again, of the reopening.
// Without an open port the thread still runs its passes (writes go nowhere).
//
// Threads: Start/Stop and the destructor run on the owner's thread; everything
// else runs on the link thread, or on the caller's thread when a test drives
// Begin/Pass directly instead of starting the thread.
class LinkThread {
public:
    // Bytes taken by one read; the driver's input queue is the same size.
    static constexpr std::size_t kReadBufferSize = 4096;
    // A keep-alive goes out after more than this many whole seconds without a write.
    static constexpr std::uint32_t kKeepAliveSeconds = 10;
    // A port given by path (--port) is tried again this often after a loss:
    // often enough that a replugged board is back within moments, rarely
    // enough to cost nothing.
    static constexpr std::int64_t kReopenRetryMs = 2000;
    // A searched port comes back through the device monitor; this slow retry
    // only covers an announcement that was missed or came too early.
    static constexpr std::int64_t kSearchedReopenRetryMs = 30000;
    // Longest single wait, so a wall clock set back or forward costs at most
    // one early or late keep-alive before the deadlines are worked out again.
    static constexpr int kMaxWaitMs = static_cast<int>(kKeepAliveSeconds + 1) * 1000;

    // What one pass did.
    enum class PassResult { Read, Wrote, ClockRestarted, KeepAlive, Idle, Lost, Reopened };

    // Waits with poll(2).
    LinkThread(CCom& com, CParser& parser, CEngine& engine, Clock& clock);
    // Waits through `waiter` (tests move a fake clock instead of sleeping).
    LinkThread(CCom& com, CParser& parser, CEngine& engine, Clock& clock, Waiter& waiter);
    // Stops and joins the thread if it runs.
    ~LinkThread();
    LinkThread(const LinkThread&) = delete;
    LinkThread& operator=(const LinkThread&) = delete;

    // Starts the thread (no-op when it already runs) and registers it with the
    // link, whose destructor then stops it before closing the port.
    void Start();
    // Sets the link's stopRequested, wakes and joins the thread and signals the
    // link's closingEvent. Safe to call when not running.
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // The thread's procedure: Begin, then passes until stopRequested. Returns 0.
    int Run();
    // Thread start: clears the read buffer and resets the parser.
    void Begin();
    // One pass as described above.
    PassResult Pass();

    // Keep-alive clock, low 32 bits of the clock's seconds. Link thread only.
    std::uint32_t lastActivity = 0;  // time of the last write, keep-alive or clock restart
    std::uint32_t lastSample = 0;    // time read at the start of the most recent pass

    // Link thread: passes run so far (each one follows a wake-up or a finished wait).
    std::atomic<std::uint64_t> passes{0};

private:
    // Closes the lost port, tells the engine, and plans the reopening.
    void HandleLoss(std::int64_t nowMs);
    // When the board is away: tries the port again if it is time. True when reopened.
    bool ReopenIfDue(std::int64_t nowMs);
    void ScheduleReopen(std::int64_t nowMs);
    // How long the idle wait may last from `nowMs`.
    int WaitTimeoutMs(std::int64_t nowMs) const;
    void Wait(std::int64_t nowMs);

    CCom& m_com;
    CParser& m_parser;
    CEngine& m_engine;
    Clock& m_clock;
    PollWaiter m_pollWaiter;
    Waiter& m_waiter;

    // Link thread only: the board is away, and when to try its port again.
    bool m_lost = false;
    std::int64_t m_reopenDueMs = -1;
    bool m_deviceArrived = false;
    std::unique_ptr<DeviceMonitor> m_monitor;

    // Link thread only: fixed buffers, so the loop never allocates.
    std::uint8_t m_readBuffer[kReadBufferSize] = {};
    std::uint8_t m_writeBuffer[frame::kMaxOutgoing] = {};

    std::jthread m_thread;  // owner's thread only
};

}  // namespace ketrion
