#pragma once

// Stand-ins for the serial line and the clock, so link code runs in tests with
// no device and no waiting. Header-only; safe to use from two threads.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"
#include "platform/Wait.h"
#include "protocol/FrameFormat.h"
#include "protocol/OutgoingSlot.h"

namespace ketrion::testing {

// A clock that only moves when told to (or when something sleeps on it).
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t startSeconds = 1'000'000) : m_ms(startSeconds * 1000) {}
    std::int64_t NowSeconds() override { return m_ms.load() / 1000; }
    std::int64_t NowMs() override { return m_ms.load(); }
    void SleepMs(unsigned milliseconds) override { Advance(milliseconds); }
    void Advance(std::int64_t milliseconds) { m_ms += milliseconds; }

private:
    std::atomic<std::int64_t> m_ms;
};

// A wait that never sleeps: descriptors that are ready answer at once (a
// real poll with no timeout); otherwise the ManualClock moves by the whole
// timeout, as if nothing happened for that long. Counts the waits and keeps
// the last timeout asked for.
class ManualWaiter final : public Waiter {
public:
    explicit ManualWaiter(ManualClock& clock) : m_clock(clock) {}
    int Wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        ++waits;
        lastTimeoutMs = timeoutMs;
        const int ready = ::poll(fds, static_cast<nfds_t>(count), 0);
        if (ready != 0) {
            return ready;
        }
        m_clock.Advance(timeoutMs < 0 ? 3'600'000 : timeoutMs);
        return 0;
    }
    int waits = 0;
    int lastTimeoutMs = -2;

private:
    ManualClock& m_clock;
};

// The real poll, except that only an event ends a wait: the timeout asked
// for is kept (Asked) but replaced by a generous bound, so a running thread
// that moved at all moved for a wake-up, input or a request, never for its
// timer, however loaded the machine. TimedOut counts waits that reached the
// bound (a thread that was not woken); WaitForWaits lets a test act once the
// thread sits in a wait.
class EventOnlyWaiter final : public Waiter {
public:
    static constexpr int kBoundMs = 60'000;
    int Wait(pollfd* fds, std::size_t count, int timeoutMs) override {
        {
            std::lock_guard lock(m_mutex);
            m_asked.push_back(timeoutMs);
            m_waiting.notify_all();
        }
        const int ready = m_poll.Wait(fds, count, kBoundMs);
        if (ready == 0) {
            ++m_timedOut;
        }
        return ready;
    }
    std::vector<int> Asked() const {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }
    int TimedOut() const { return m_timedOut.load(); }
    bool WaitForWaits(std::size_t count) const {
        std::unique_lock lock(m_mutex);
        return m_waiting.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return m_asked.size() >= count; });
    }

private:
    PollWaiter m_poll;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_waiting;
    std::vector<int> m_asked;
    std::atomic<int> m_timedOut{0};
};

// A clock that runs in real time from an offset the test can move forward,
// for tests that run the link thread for real but need hours to pass.
class ShiftedClock final : public Clock {
public:
    std::int64_t NowSeconds() override { return NowMs() / 1000; }
    std::int64_t NowMs() override { return m_real.NowMs() + m_shiftMs.load(); }
    void SleepMs(unsigned milliseconds) override { m_real.SleepMs(milliseconds); }
    void Shift(std::int64_t milliseconds) { m_shiftMs += milliseconds; }

private:
    SystemClock m_real;
    std::atomic<std::int64_t> m_shiftMs{0};
};

// A serial port that hands out scripted chunks of input, one chunk per read,
// and records every write. Its descriptor (an eventfd) polls readable while
// input waits, so a running link thread wakes for it. HangUp makes the line
// fail as an unplugged adapter does.
class ScriptedPort final : public SerialPort {
public:
    explicit ScriptedPort(bool open = true) : m_open(open) {}

    // Queues bytes that arrive together: one InputCount/Read pair takes them.
    void Arrive(std::vector<std::uint8_t> chunk) {
        if (chunk.empty()) {
            return;
        }
        std::lock_guard lock(m_mutex);
        m_input.push_back(std::move(chunk));
        m_readable.Signal();
    }
    // The line goes away: reads and writes fail from now on.
    void HangUp(std::string reason = "hang-up on the scripted line") {
        std::lock_guard lock(m_mutex);
        m_lossReason = std::move(reason);
        m_readable.Signal();  // a waiting thread notices at once
    }
    std::vector<std::vector<std::uint8_t>> Writes() const {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }
    // Waits until `count` writes came (a generous bound against a hung
    // thread, not a timing check); false when they did not.
    bool WaitForWrites(std::size_t count) const {
        std::unique_lock lock(m_mutex);
        return m_written.wait_for(lock, std::chrono::seconds(20),
                                  [&] { return m_writes.size() >= count; });
    }
    std::size_t PendingChunks() const {
        std::lock_guard lock(m_mutex);
        return m_input.size();
    }
    int closes() const { return m_closes.load(); }

    bool IsOpen() const override { return m_open; }
    int Descriptor() const override { return m_readable.Descriptor(); }
    std::size_t InputCount() override {
        std::lock_guard lock(m_mutex);
        return m_open && m_lossReason.empty() && !m_input.empty() ? m_input.front().size() : 0;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t length) override {
        std::lock_guard lock(m_mutex);
        if (!m_open || !m_lossReason.empty() || m_input.empty()) {
            return 0;
        }
        auto& front = m_input.front();
        const std::size_t n = std::min(length, front.size());
        std::copy(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n), buffer);
        front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n));
        if (front.empty()) {
            m_input.pop_front();
        }
        if (m_input.empty()) {
            m_readable.Drain();
        }
        return n;
    }
    std::size_t Write(const std::uint8_t* buffer, std::size_t length) override {
        std::lock_guard lock(m_mutex);
        if (!m_open || !m_lossReason.empty()) {
            return 0;
        }
        m_writes.emplace_back(buffer, buffer + length);
        m_written.notify_all();
        return length;
    }
    void Purge() override {
        std::lock_guard lock(m_mutex);
        m_input.clear();
        m_readable.Drain();
    }
    void Close() override {
        if (m_open.exchange(false)) {
            ++m_closes;
        }
    }
    bool Lost() const override {
        std::lock_guard lock(m_mutex);
        return !m_lossReason.empty();
    }
    std::string LossReason() const override {
        std::lock_guard lock(m_mutex);
        return m_lossReason;
    }
    void CheckLine(short) override {}

private:
    std::atomic<bool> m_open;
    std::atomic<int> m_closes{0};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_written;
    WakeEvent m_readable;
    std::deque<std::vector<std::uint8_t>> m_input;
    std::vector<std::vector<std::uint8_t>> m_writes;
    std::string m_lossReason;
};

// An outgoing slot that keeps every queued request.
class RecordingSlot final : public OutgoingSlot {
public:
    bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) override {
        std::lock_guard lock(m_mutex);
        queued.emplace_back(bytes, bytes + length);
        return true;
    }
    std::vector<std::vector<std::uint8_t>> queued;

private:
    std::mutex m_mutex;
};

// Builds a valid frame of `type` around `payload`, with the correct check byte.
inline std::vector<std::uint8_t> ValidFrame(std::uint8_t type,
                                            const std::vector<std::uint8_t>& payload = {}) {
    std::vector<std::uint8_t> out(frame::EncodedSizeBound(payload.size()));
    const std::size_t n =
        frame::Encode(type, payload.data(), payload.size(),
                      frame::Check(type, payload.data(), payload.size()), out.data(), out.size());
    out.resize(n);
    return out;
}

// The engine's firmware and serial-number texts as strings.
inline std::string FirmwareOf(const CEngine& engine) {
    char text[CEngine::kTextSize];
    engine.GetFirmware(text);
    return text;
}
inline std::string SerialOf(const CEngine& engine) {
    char text[CEngine::kTextSize];
    engine.GetSerialNumber(text);
    return text;
}

}  // namespace ketrion::testing
