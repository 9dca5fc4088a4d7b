#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

namespace ketrion {
namespace {

// A manual-reset event stays signalled for every waiter until Reset.
TEST(Event, StaysSignalledUntilReset) {
    Event e;
    EXPECT_FALSE(e.IsSet());
    EXPECT_FALSE(e.WaitFor(std::chrono::milliseconds(1)));
    e.Set();
    EXPECT_TRUE(e.WaitFor(std::chrono::milliseconds(0)));
    EXPECT_TRUE(e.WaitFor(std::chrono::milliseconds(0)));
    e.Reset();
    EXPECT_FALSE(e.IsSet());
}

TEST(Event, WakesAWaiterOnAnotherThread) {
    Event e;
    std::thread t([&] { e.Set(); });
    e.Wait();
    EXPECT_TRUE(e.IsSet());
    t.join();
}

}  // namespace
}  // namespace ketrion
