#pragma once

#include <cstddef>
#include <cstdint>
#include <thread>

#include "link/FrameFormat.h"

namespace ketrion {

class CCom;
class CParser;
class CEngine;
class Clock;
class SerialPort;

// The worker that alone reads and writes the serial line. Each pass, in this
// order of priority:
//   1. input waiting: read it all, push every byte through the parser and
//      dispatch each completed frame to the engine;
//   2. else a request in the slot: write it;
//   3. else keep-alive bookkeeping: restart the clock when asked, or queue the
//      keep-alive after more than kKeepAliveSeconds without a write, or wait up
//      to kIdleWaitMs for input.
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
    // Longest idle wait for input; bounds the latency of a queued request and of a stop.
    static constexpr int kIdleWaitMs = 5;

    // What one pass did.
    enum class PassResult { Read, Wrote, ClockRestarted, KeepAlive, Idle };

    LinkThread(CCom& com, CParser& parser, CEngine& engine, Clock& clock);
    // Stops and joins the thread if it runs.
    ~LinkThread();
    LinkThread(const LinkThread&) = delete;
    LinkThread& operator=(const LinkThread&) = delete;

    // Starts the thread (no-op when it already runs) and registers it with the
    // link, whose destructor then stops it before closing the port.
    void Start();
    // Sets the link's stopRequested, joins the thread and signals the link's
    // closingEvent. Safe to call when not running.
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
    std::uint32_t lastSample = 0;    // time read on the most recent idle pass

private:
    bool PortOpen() const;

    CCom& m_com;
    CParser& m_parser;
    CEngine& m_engine;
    Clock& m_clock;

    // Link thread only: fixed buffers, so the loop never allocates.
    std::uint8_t m_readBuffer[kReadBufferSize] = {};
    std::uint8_t m_writeBuffer[frame::kMaxOutgoing] = {};

    std::jthread m_thread;  // owner's thread only
};

}  // namespace ketrion
