#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ketrion {

// A manual-reset event: once Set, it stays signalled (every waiter passes)
// until Reset. Stands in for the handheld's event objects.
class Event {
public:
    explicit Event(bool initiallySignalled = false) : m_bSignalled(initiallySignalled) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set() {
        {
            std::lock_guard lock(m_mutex);
            m_bSignalled = true;
        }
        m_cv.notify_all();
    }
    void Reset() {
        std::lock_guard lock(m_mutex);
        m_bSignalled = false;
    }
    // Tests the event without waiting.
    bool IsSet() const {
        std::lock_guard lock(m_mutex);
        return m_bSignalled;
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_bSignalled; });
    }
    // Returns true when the event was (or became) signalled within the timeout.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [this] { return m_bSignalled; });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bSignalled;
};

}  // namespace ketrion
