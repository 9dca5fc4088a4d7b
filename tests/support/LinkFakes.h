#pragma once

// Stand-ins for the serial line and the clock, so link code runs in tests with
// no device and no waiting. Header-only; safe to use from two threads.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "link/FrameFormat.h"
#include "link/OutgoingSlot.h"
#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace ketrion::testing {

// A clock that only moves when told to (or when something sleeps on it).
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::int64_t startSeconds = 1'000'000) : m_ms(startSeconds * 1000) {}
    std::int64_t NowSeconds() override { return m_ms.load() / 1000; }
    void SleepMs(unsigned milliseconds) override { Advance(milliseconds); }
    void Advance(std::int64_t milliseconds) { m_ms += milliseconds; }
    std::int64_t NowMs() const { return m_ms.load(); }

private:
    std::atomic<std::int64_t> m_ms;
};

// A serial port that hands out scripted chunks of input, one chunk per read,
// and records every write. Waiting for input advances the ManualClock when one
// is given, else it really sleeps (for tests that run the thread).
class ScriptedPort final : public SerialPort {
public:
    explicit ScriptedPort(ManualClock* clock = nullptr, bool open = true)
        : m_clock(clock), m_open(open) {}

    // Queues bytes that arrive together: one InputCount/Read pair takes them.
    void Arrive(std::vector<std::uint8_t> chunk) {
        if (chunk.empty()) {
            return;
        }
        std::lock_guard lock(m_mutex);
        m_input.push_back(std::move(chunk));
    }
    std::vector<std::vector<std::uint8_t>> Writes() const {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }
    std::size_t PendingChunks() const {
        std::lock_guard lock(m_mutex);
        return m_input.size();
    }
    int waits() const { return m_waits.load(); }

    bool IsOpen() const override { return m_open; }
    std::size_t InputCount() override {
        std::lock_guard lock(m_mutex);
        return m_open && !m_input.empty() ? m_input.front().size() : 0;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t length) override {
        std::lock_guard lock(m_mutex);
        if (!m_open || m_input.empty()) {
            return 0;
        }
        auto& front = m_input.front();
        const std::size_t n = std::min(length, front.size());
        std::copy(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n), buffer);
        front.erase(front.begin(), front.begin() + static_cast<std::ptrdiff_t>(n));
        if (front.empty()) {
            m_input.pop_front();
        }
        return n;
    }
    std::size_t Write(const std::uint8_t* buffer, std::size_t length) override {
        std::lock_guard lock(m_mutex);
        if (!m_open) {
            return 0;
        }
        m_writes.emplace_back(buffer, buffer + length);
        return length;
    }
    bool WaitReadable(int milliseconds) override {
        ++m_waits;
        if (m_clock != nullptr) {
            m_clock->Advance(milliseconds);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
        return InputCount() > 0;
    }
    void Purge() override {
        std::lock_guard lock(m_mutex);
        m_input.clear();
    }
    void Close() override { m_open = false; }

private:
    ManualClock* m_clock;
    std::atomic<bool> m_open;
    std::atomic<int> m_waits{0};
    mutable std::mutex m_mutex;
    std::deque<std::vector<std::uint8_t>> m_input;
    std::vector<std::vector<std::uint8_t>> m_writes;
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
