// The board's start: its port opened and its handshake sent on a thread of
// its own, the source Starting until the board has answered.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "protocol/FrameFormat.h"
#include "source/board/BoardSource.h"
#include "source/board/BoardStack.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

using source::SourceState;
using testing::ManualClock;
using testing::ScriptedPort;
using testing::ValidFrame;

const std::vector<std::uint8_t> kVersionRequest = {0x11, 0x12, 0x01, 0x00, 0x11, 0x13};

// Until `done` holds: a generous bound against a hung thread, not a timing check.
bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    return done();
}

struct Board {
    ManualClock clock;
    BoardStack stack{clock};
    BoardSource source{stack, clock};
    std::atomic<ScriptedPort*> port{nullptr};

    // The opener attaches a scripted port (or none), after `mayOpen` is set.
    void OpenWith(bool opens, Event* mayOpen = nullptr) {
        source.SetPortOpener([this, opens, mayOpen](CCom& com) {
            if (mayOpen != nullptr) {
                mayOpen->Wait();
            }
            if (opens) {
                auto opened = std::make_unique<ScriptedPort>();
                port = opened.get();
                com.Attach(std::move(opened));
            }
        });
    }
    bool HandshakeSent() const {
        const ScriptedPort* line = port.load();
        return line != nullptr && !line->Writes().empty() &&
               line->Writes().front() == kVersionRequest;
    }
};

TEST(BoardStart, OpensAndAsksOffTheCallersThreadAndAsksNoScanUntilTheBoardAnswered) {
    Board board;
    Event mayOpen;
    board.OpenWith(true, &mayOpen);
    board.source.Start();  // returns while the port is still being opened
    EXPECT_TRUE(board.source.Starting());
    EXPECT_EQ(board.source.Status().state, SourceState::Reconnecting);
    EXPECT_FALSE(board.source.RequestScan()) << "it would take the handshake's place";

    mayOpen.Set();
    ASSERT_TRUE(Eventually([&] { return board.HandshakeSent(); }));
    EXPECT_TRUE(board.source.Starting());
    board.port.load()->Arrive(ValidFrame(frame::kVersion, {'1', '.', '0', '3', 0}));
    board.port.load()->Arrive(ValidFrame(frame::kSerial, {'7', '7', '0', '1', 0}));
    ASSERT_TRUE(Eventually([&] { return !board.source.Starting(); }));
    EXPECT_TRUE(board.source.Identified());
    EXPECT_EQ(board.source.Status().state, SourceState::Ready);
    EXPECT_TRUE(board.source.RequestScan());

    board.source.Stop();
    EXPECT_FALSE(board.stack.linkThread.IsRunning());
    EXPECT_FALSE(board.source.Starting());
}

// Nothing is waited for without a port; a board that keeps quiet is waited
// for a bounded time, on the source's clock.
TEST(BoardStart, StartingEndsAtOnceWithoutAPortAndAfterTheWaitForAQuietBoard) {
    for (const bool opens : {false, true}) {
        SCOPED_TRACE(opens);
        Board board;
        board.OpenWith(opens);
        board.source.Start();
        if (opens) {
            ASSERT_TRUE(Eventually([&] { return board.HandshakeSent(); }));
            EXPECT_TRUE(board.source.Starting());
            board.clock.Advance(BoardSource::kHandshakeWaitMs);
        }
        ASSERT_TRUE(Eventually([&] { return !board.source.Starting(); }));
        EXPECT_FALSE(board.source.Identified());
        EXPECT_EQ(board.source.Absence().empty(), opens);
        board.source.Stop();
    }
}

}  // namespace
}  // namespace ketrion
