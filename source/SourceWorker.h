#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "model/SourceEvent.h"

namespace ketrion {
class Clock;
}

namespace ketrion::source {

// The machinery every threaded source repeats, owned in one place: the
// thread and how it stops, the status the user-interface thread reads, the
// wait before a retry, the one scan request a scan source holds at a time,
// and the lost/restored news said once per change. A source's own code only
// talks to its device and parses: it runs as the worker's body and reports
// through SetStatus, Say and Finish.
//
// News rule: the first Lost after a working (or new) source says LinkLost
// with its reason; further Lost states (a retry failing again, for another
// reason) say nothing until the source is Ready again, which says
// LinkRestored once. Ready without a loss before it says nothing.
//
// Scan requests: Request opens one when the source is Ready and none is open
// (the status turns Scanning); it stays open, and Busy stays true, until the
// body calls Finish after its scan was handed over and recorded (or
// abandoned). So a source is never ready again before its point is written.
// A loss drops a request the body has not taken yet.
//
// Threads: Start, Stop, Status, Request and Busy on the owner's thread (or
// any thread); the body, SetStatus, Say, Finish, WaitMs, WaitForRequest and
// SetInterrupt on the worker's thread, or on a test's thread that steps the
// source's passes without starting one.
class SourceWorker {
public:
    using Emit = std::function<void(const SourceEvent&)>;

    // `clock` paces WaitMs off the worker's thread (a test's fake clock just
    // advances); `emit` delivers the news (the source's onEvent).
    SourceWorker(Clock& clock, SourceStatus initial, Emit emit);
    ~SourceWorker();
    SourceWorker(const SourceWorker&) = delete;
    SourceWorker& operator=(const SourceWorker&) = delete;

    // Runs `body` on a new thread; the body returns soon after Stopping()
    // turns true. No-op while one runs.
    void Start(std::function<void()> body);
    // Marks the worker stopping, breaks the body's blocking call (see
    // SetInterrupt), wakes its waits and joins the thread: no callback of the
    // body runs after Stop returns, and a scan it stopped is abandoned (the
    // source is idle for the next Start). No-op when no thread runs.
    void Stop();
    bool Stopping() const;

    // What Stop calls, under the worker's lock, to break a blocking call of
    // the body (a socket read); empty clears it. Called at once when the
    // worker is already stopping.
    void SetInterrupt(std::function<void()> interrupt);

    // On the worker's thread: waits `ms` or until Stop, false when stopping.
    // On another thread (a test stepping the body): sleeps on the clock.
    bool WaitMs(std::int64_t ms);

    SourceStatus Status() const;
    // Sets the status and says the news the change makes (see above).
    void SetStatus(SourceState state, std::string reason = {});
    // Says one event to the owner.
    void Say(SourceEventKind kind, std::string reason = {});

    // Opens a scan request stamped `requestedMs` when the source is Ready
    // and none is open; false otherwise.
    bool Request(std::int64_t requestedMs);
    // True from an accepted Request until Finish.
    bool Busy() const;
    // Waits for an open request and returns its time; empty when stopping.
    std::optional<std::int64_t> WaitForRequest();
    // Closes the open request with the state the source is left in, then
    // says `end` (ScanEnded or ScanAbandoned, with `endReason`), then the
    // news the state makes: "ready again" is only seen once the scan's point
    // is recorded, and a scan's end comes before a loss it ran into.
    void Finish(SourceEventKind end, std::string endReason, SourceState state,
                std::string reason = {});

private:
    // The news a change to `state` makes, decided under the lock.
    std::optional<SourceEventKind> NewsLocked(SourceState state);
    void SayNews(std::optional<SourceEventKind> news, const std::string& reason);

    Clock& m_clock;
    const Emit m_emit;

    mutable std::mutex m_mutex;  // guards what follows
    std::condition_variable m_wake;
    SourceStatus m_status;
    bool m_lostShown = false;  // a LinkLost was said and not yet its end
    bool m_stopping = false;
    bool m_requested = false;  // a request waits for the body to take it
    bool m_busy = false;       // a request is open (taken or not)
    std::int64_t m_requestedMs = 0;
    std::function<void()> m_interrupt;
    std::thread::id m_workerId;  // the running body's thread

    std::thread m_thread;  // owner's thread only
};

}  // namespace ketrion::source
