#pragma once

#include <functional>

namespace ketrion {

// A repeating timer: onTick is called one period after Start, and every
// period after, on the thread that started it (the user-interface thread in
// the program), until Stop. Logic takes a Ticker so tests tick it by hand
// instead of waiting.
class Ticker {
public:
    virtual ~Ticker() = default;
    // Starts the ticks, or restarts the period of running ones.
    virtual void Start(int periodMs) = 0;
    virtual void Stop() = 0;

    std::function<void()> onTick;
};

}  // namespace ketrion
