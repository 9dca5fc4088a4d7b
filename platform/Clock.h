#pragma once

#include <chrono>
#include <cstdint>

namespace ketrion {

// Time as the program sees it. Logic takes a Clock so tests can move time
// instead of waiting for it.
class Clock {
public:
    virtual ~Clock() = default;
    // Current time in whole seconds since 1 January 1970 (UTC).
    virtual std::int64_t NowSeconds() = 0;
    // Current time in milliseconds since 1 January 1970 (UTC), for deadlines
    // finer than a second. A clock that only knows seconds gives those.
    virtual std::int64_t NowMs() { return NowSeconds() * 1000; }
    // Sleeps for the given number of milliseconds (a fake clock may just advance).
    virtual void SleepMs(unsigned milliseconds) = 0;
};

// The real wall clock.
class SystemClock final : public Clock {
public:
    std::int64_t NowSeconds() override;
    std::int64_t NowMs() override;
    void SleepMs(unsigned milliseconds) override;
};

}  // namespace ketrion
