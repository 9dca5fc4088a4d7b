#include "link/LinkThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "protocol/Parser.h"
#include "support/LinkFakes.h"

namespace ketrion {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = LinkThread::PassResult;
using ketrion::testing::EventOnlyWaiter;
using ketrion::testing::ManualClock;
using ketrion::testing::ManualWaiter;
using ketrion::testing::ScriptedPort;
using ketrion::testing::ValidFrame;

const Bytes kKeepAlive = {0x00, 0x00};
const Bytes kScanRequest = {0x11, 0x12, 0x16, 0x00, 0x11, 0x13};
const Bytes kVersionRequest = {0x11, 0x12, 0x01, 0x00, 0x11, 0x13};

// A GPS report whose month field tags it, so the order of dispatches shows.
Bytes GpsFrame(std::uint8_t tag) {
    Bytes body(gps::kReportSize, 0);
    body[gps::kMonth] = tag;
    body[20] = 0x11;  // an escaped byte inside, for good measure
    return ValidFrame(frame::kGpsReport, body);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// The link's objects wired as in the program, over a scripted port and a
// manual clock; passes are driven by the test, not by a thread.
struct Rig {
    ManualClock clock;
    ManualWaiter waiter{clock};
    CCom com;
    ScriptedPort* port = nullptr;
    CParser parser;
    LinkList list;
    CLocation location;
    CEngine engine{com, list, location};
    LinkThread link{com, parser, engine, clock, waiter};
    std::vector<int> dispatched;  // month tags of dispatched GPS reports
    std::vector<EngineEvent> events;

    explicit Rig(bool withPort = true) {
        if (withPort) {
            auto p = std::make_unique<ScriptedPort>();
            port = p.get();
            com.Attach(std::move(p));
        }
        engine.notify = [this] {
            if (location.Snapshot().reports > 0) {
                dispatched.push_back(location.Snapshot().month);
            }
        };
        engine.onEvent = [this](const EngineEvent& e) {
            if (e.kind != EngineEventKind::GpsUpdate) {
                events.push_back(e);
            }
        };
        link.Begin();
    }
    // Runs passes until one returns `what`; returns how many passes ran.
    int RunUntil(Result what, int limit = 100000) {
        for (int i = 1; i <= limit; ++i) {
            if (link.Pass() == what) {
                return i;
            }
        }
        return -1;
    }
};

TEST(LinkThreadRead, FrameSplitOverThreeReadsDispatchesOnce) {
    Rig rig;
    const Bytes f = GpsFrame(7);
    rig.port->Arrive(Bytes(f.begin(), f.begin() + 3));
    rig.port->Arrive(Bytes(f.begin() + 3, f.begin() + 100));
    rig.port->Arrive(Bytes(f.begin() + 100, f.end()));
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_TRUE(rig.dispatched.empty());
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_EQ(rig.dispatched, (std::vector<int>{7}));
}

TEST(LinkThreadRead, TwoFramesInOneReadDispatchInOrder) {
    Rig rig;
    rig.port->Arrive(Concat({GpsFrame(1), GpsFrame(2)}));
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_EQ(rig.dispatched, (std::vector<int>{1, 2}));
    EXPECT_EQ(rig.parser.state, CParser::Idle);
}

// However the driver cuts a stream into reads, the same frames come out.
TEST(LinkThreadRead, EverySplitOfAStreamGivesTheSameFrames) {
    const Bytes stream =
        Concat({{0x00, 0x13, 0x11},  // noise, and a stray lead that the next frame's lead replaces
                GpsFrame(3),
                {0x11, 0x12, 0x19, 0x01, 0x11, 0x00},  // broken frame
                GpsFrame(4),
                ValidFrame(frame::kScanStart),
                GpsFrame(5)});
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Rig rig;
        rig.port->Arrive(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)));
        rig.port->Arrive(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(cut), stream.end()));
        rig.link.Pass();
        rig.link.Pass();
        EXPECT_EQ(rig.dispatched, (std::vector<int>{3, 4, 5})) << "cut at " << cut;
        EXPECT_TRUE(rig.engine.IsScanning()) << "cut at " << cut;
    }
}

TEST(LinkThreadRead, ReadsAreBoundedByTheBuffer) {
    Rig rig;
    Bytes flood(LinkThread::kReadBufferSize + 10, 0x55);
    const Bytes f = GpsFrame(9);
    flood.insert(flood.end(), f.begin(), f.end());
    rig.port->Arrive(flood);
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_TRUE(rig.dispatched.empty());
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_EQ(rig.dispatched, (std::vector<int>{9}));
}

TEST(LinkThreadWrite, ReadingComesBeforeWriting) {
    Rig rig;
    rig.engine.RequestScan();
    rig.port->Arrive({0x01});
    rig.port->Arrive({0x02});
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_TRUE(rig.port->Writes().empty());
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(rig.port->Writes(), (std::vector<Bytes>{kScanRequest}));
    EXPECT_FALSE(rig.com.writeEvent.IsSet());
}

TEST(LinkThreadWrite, TwoQueuedRequestsGiveOneWriteOfTheSecond) {
    Rig rig;
    rig.engine.Start();
    rig.engine.RequestScan();
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_NE(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(rig.port->Writes(), (std::vector<Bytes>{kScanRequest}));
}

TEST(LinkThreadKeepAlive, FirstAfterElevenSecondsThenEveryEleven) {
    Rig rig;
    const std::int64_t start = rig.clock.NowMs();
    // The first idle pass only starts the clock.
    EXPECT_EQ(rig.link.Pass(), Result::ClockRestarted);
    ASSERT_GT(rig.RunUntil(Result::KeepAlive), 0);
    EXPECT_EQ(rig.clock.NowMs() - start, 11000);
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    ASSERT_GT(rig.RunUntil(Result::KeepAlive), 0);
    EXPECT_EQ(rig.clock.NowMs() - start, 22000);
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(rig.port->Writes(), (std::vector<Bytes>{kKeepAlive, kKeepAlive}));
}

TEST(LinkThreadKeepAlive, AWriteRestartsTheClockFromThePassThatWroteIt) {
    Rig rig;
    const std::int64_t start = rig.clock.NowMs();
    rig.link.Pass();
    rig.clock.Advance(4995);
    // The writing pass reads second 4 (at 4995 ms): the keep-alive counts from there.
    rig.engine.RequestScan();
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(rig.link.lastActivity, static_cast<std::uint32_t>(start / 1000 + 4));
    ASSERT_GT(rig.RunUntil(Result::KeepAlive), 0);
    EXPECT_EQ(rig.clock.NowMs() - start, 15000);
}

// The idle thread sleeps until the keep-alive is due, in one wait, instead of
// waking every few milliseconds to look at the clock.
TEST(LinkThreadKeepAlive, IdleWaitsLastUntilTheNextKeepAlive) {
    Rig rig;
    const std::int64_t start = rig.clock.NowMs();
    rig.clock.Advance(250);  // a start part-way through a second
    rig.link.Pass();
    ASSERT_GT(rig.RunUntil(Result::KeepAlive), 0);
    EXPECT_EQ(rig.clock.NowMs() - start, 11000);
    EXPECT_EQ(rig.waiter.waits, 1);
    EXPECT_EQ(rig.waiter.lastTimeoutMs, 10750);
    // A minute of silence: one wait per keep-alive, each ending on its second.
    while (rig.clock.NowMs() - start < 66000) {
        rig.link.Pass();
    }
    EXPECT_EQ(rig.waiter.waits, 6);
    EXPECT_EQ(rig.port->Writes().size(), 5u);  // the sixth is due now
}

TEST(LinkThreadKeepAlive, RestartFlagRestartsTheClock) {
    Rig rig;
    const std::int64_t start = rig.clock.NowMs();
    rig.link.Pass();
    rig.clock.Advance(8000);
    rig.com.restartTimer = true;
    EXPECT_EQ(rig.link.Pass(), Result::ClockRestarted);
    ASSERT_GT(rig.RunUntil(Result::KeepAlive), 0);
    EXPECT_EQ(rig.clock.NowMs() - start, 19000);
}

TEST(LinkThreadKeepAlive, SurvivesTheClockWrappingAt32Bits) {
    Rig rig;
    rig.clock.Advance((std::int64_t{0xFFFFFFFF} - rig.clock.NowSeconds() - 3) * 1000);
    rig.link.Pass();
    ASSERT_GT(rig.RunUntil(Result::KeepAlive, 10000), 0);
    EXPECT_EQ(rig.link.lastActivity, 7u);  // 0xFFFFFFFC + 11 wraps to 7
}

TEST(LinkThreadNoPort, KeepsRunningAndWaitsForTheKeepAlive) {
    for (bool attachClosed : {false, true}) {
        Rig rig(false);
        if (attachClosed) {
            rig.com.Attach(std::make_unique<ScriptedPort>(false));
        }
        rig.engine.Start();
        EXPECT_EQ(rig.link.Pass(), Result::Wrote);  // to nowhere
        EXPECT_EQ(rig.link.Pass(), Result::ClockRestarted);
        const std::int64_t before = rig.clock.NowMs();
        EXPECT_EQ(rig.link.Pass(), Result::Idle);
        EXPECT_EQ(rig.clock.NowMs() - before, 11000);
        EXPECT_EQ(rig.link.Pass(), Result::KeepAlive);
    }
}

// The slot is a short queue: a keep-alive waits beside a scan request instead
// of replacing it, and goes out after it; keep-alives are never doubled.
TEST(LinkThreadWrite, AKeepAliveNeverReplacesAPendingRequest) {
    Rig rig;
    rig.engine.RequestScan();
    rig.engine.SendKeepAlive();
    rig.engine.SendKeepAlive();
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_NE(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(rig.port->Writes(), (std::vector<Bytes>{kScanRequest, kKeepAlive}));

    // A keep-alive first, then a request: both, in that order; a second
    // request still replaces the first in its place.
    Rig other;
    other.engine.SendKeepAlive();
    other.engine.Start();
    other.engine.RequestScan();
    EXPECT_EQ(other.link.Pass(), Result::Wrote);
    EXPECT_EQ(other.link.Pass(), Result::Wrote);
    EXPECT_EQ(other.port->Writes(), (std::vector<Bytes>{kKeepAlive, kScanRequest}));
    EXPECT_FALSE(other.com.writeEvent.IsSet());
}

// An unplugged board: the pass that finds the line gone closes the port, the
// engine reports the loss with its reason, and a scan in progress is dropped.
// The same device is tried every kReopenRetryMs; once it opens, the handshake
// runs again and its answer restores the link.
TEST(LinkThreadLoss, ClosesTheLostPortAndReopensItWhenItComesBack) {
    Rig rig;
    int attempts = 0;
    std::vector<std::int64_t> attemptTimes;
    ScriptedPort* fresh = nullptr;
    rig.com.SetReopen(CCom::ReopenMode::RetryPath, [&](std::string* why) {
        ++attempts;
        attemptTimes.push_back(rig.clock.NowMs());
        if (attempts < 3) {
            *why = "not there yet";
            return std::unique_ptr<SerialPort>();
        }
        auto p = std::make_unique<ScriptedPort>();
        fresh = p.get();
        return std::unique_ptr<SerialPort>(std::move(p));
    });
    rig.link.Pass();  // restarts the keep-alive clock
    rig.port->Arrive(ValidFrame(frame::kScanStart));
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    ASSERT_TRUE(rig.engine.IsScanning());
    rig.engine.RequestScan();  // waiting in the slot when the line goes

    rig.port->HangUp("hang-up on /dev/ttyUSB0");
    const std::int64_t lostAt = rig.clock.NowMs();
    EXPECT_EQ(rig.link.Pass(), Result::Lost);
    EXPECT_EQ(rig.com.Port(), nullptr) << "the lost port is closed and let go";
    rig.port = nullptr;
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Lost);
    EXPECT_FALSE(rig.engine.IsScanning());
    EXPECT_FALSE(rig.com.writeEvent.IsSet()) << "requests for the lost board are dropped";
    ASSERT_EQ(rig.events.size(), 1u);
    EXPECT_EQ(rig.events[0].kind, EngineEventKind::LinkLost);
    EXPECT_EQ(rig.events[0].reason, "hang-up on /dev/ttyUSB0");

    ASSERT_GT(rig.RunUntil(Result::Reopened, 100), 0);
    EXPECT_EQ(attemptTimes,
              (std::vector<std::int64_t>{lostAt + 2000, lostAt + 4000, lostAt + 6000}));
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Reconnecting);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);
    EXPECT_EQ(fresh->Writes(), (std::vector<Bytes>{kVersionRequest}));

    fresh->Arrive(Concat({ValidFrame(frame::kVersion, {'2', '.', '1', 0}),
                          ValidFrame(frame::kSerial, {'K', 'T', '1', 0})}));
    EXPECT_EQ(rig.link.Pass(), Result::Read);
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Connected);
    ASSERT_EQ(rig.events.size(), 2u);
    EXPECT_EQ(rig.events[1].kind, EngineEventKind::LinkRestored);
}

// What the user interface shows of the port: open or not, and why not (the
// loss, then each different reason a reopening failed), with a call to the
// owner's hook for every change and none for a failure that repeats.
TEST(LinkThreadLoss, ThePortStateAndWhyAReopeningFailedArePublished) {
    Rig rig;
    int changes = 0;
    rig.com.onPortChange = [&] { ++changes; };
    const char* const failures[] = {"cannot open /dev/ttyUSB0: Permission denied",
                                    "cannot open /dev/ttyUSB0: Permission denied",
                                    "cannot open /dev/ttyUSB0: Device or resource busy", nullptr};
    int attempt = 0;
    rig.com.SetReopen(CCom::ReopenMode::RetryPath, [&](std::string* why) {
        const char* failure = failures[attempt++];
        if (failure == nullptr) {
            return std::unique_ptr<SerialPort>(std::make_unique<ScriptedPort>());
        }
        *why = failure;
        return std::unique_ptr<SerialPort>();
    });
    EXPECT_TRUE(rig.com.IsPortOpen());
    EXPECT_EQ(rig.com.PortProblem(), "");

    rig.link.Pass();
    rig.port->HangUp("hang-up on /dev/ttyUSB0");
    EXPECT_EQ(rig.link.Pass(), Result::Lost);
    rig.port = nullptr;
    EXPECT_FALSE(rig.com.IsPortOpen());
    EXPECT_EQ(rig.com.PortProblem(), "hang-up on /dev/ttyUSB0");
    EXPECT_EQ(changes, 1);

    std::vector<std::string> seen;
    while (attempt < 3) {
        const int before = attempt;
        rig.link.Pass();
        if (attempt != before)
            seen.push_back(rig.com.PortProblem());
        EXPECT_FALSE(rig.com.IsPortOpen());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{failures[0], failures[1], failures[2]}));
    EXPECT_EQ(changes, 3);

    ASSERT_GT(rig.RunUntil(Result::Reopened, 100), 0);
    EXPECT_TRUE(rig.com.IsPortOpen());
    EXPECT_EQ(rig.com.PortProblem(), "");
    EXPECT_EQ(changes, 4);
}

// The user interface asks about the port while the link thread loses and
// replaces it over and over (a data race for the sanitizer to find if asking
// touched the port).
TEST(LinkThreadRunning, AskingAboutThePortWhileTheThreadReplacesIt) {
    ManualClock clock;
    ManualWaiter waiter{clock};
    CCom com;
    CParser parser;
    LinkList list;
    CLocation location;
    CEngine engine{com, list, location};
    LinkThread link{com, parser, engine, clock, waiter};
    std::atomic<int> reopened{0};
    com.SetReopen(CCom::ReopenMode::RetryPath, [&](std::string* why) {
        if (++reopened % 2 == 0) {
            *why = "cannot open /dev/ttyUSB0: Device or resource busy";
            return std::unique_ptr<SerialPort>();
        }
        auto port = std::make_unique<ScriptedPort>();
        port->HangUp("hang-up on /dev/ttyUSB0");  // lost again at the next pass
        return std::unique_ptr<SerialPort>(std::move(port));
    });
    auto first = std::make_unique<ScriptedPort>();
    first->HangUp();
    com.Attach(std::move(first));
    link.Start();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (reopened < 200 && std::chrono::steady_clock::now() < deadline) {
        // Either answer may be out of date by a pass; neither may be torn.
        const std::string problem = com.PortProblem();
        EXPECT_TRUE(problem.empty() || problem.starts_with("hang-up on") ||
                    problem.starts_with("cannot open"))
            << problem;
        (void)com.IsPortOpen();
    }
    link.Stop();
    EXPECT_GE(reopened.load(), 200);
    // At rest the two answers agree with the port the link holds.
    const bool held = com.Port() != nullptr && com.Port()->IsOpen();
    EXPECT_EQ(com.IsPortOpen(), held);
    EXPECT_EQ(com.PortProblem().empty(), held);
}

// A searched port comes back through the device monitor; where udev cannot be
// reached (or an announcement was missed) a slow retry still finds it.
TEST(LinkThreadLoss, ASearchedPortIsTriedAgainEvenWithoutAnAnnouncement) {
    Rig rig;
    std::vector<std::int64_t> attempts;
    rig.com.SetReopen(CCom::ReopenMode::WatchDevices, [&](std::string*) {
        attempts.push_back(rig.clock.NowMs());
        return std::unique_ptr<SerialPort>(std::make_unique<ScriptedPort>());
    });
    rig.link.Pass();
    rig.port->HangUp();
    const std::int64_t lostAt = rig.clock.NowMs();
    EXPECT_EQ(rig.link.Pass(), Result::Lost);
    ASSERT_GT(rig.RunUntil(Result::Reopened, 100), 0);
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_LE(attempts[0] - lostAt, LinkThread::kSearchedReopenRetryMs);
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Reconnecting);
}

// Without a way to reopen (an attached port), a loss still closes the port and
// is reported, and the thread goes on without a line.
TEST(LinkThreadLoss, WithoutReopeningTheThreadRunsOnWithoutALine) {
    Rig rig;
    rig.link.Pass();
    rig.port->HangUp();
    EXPECT_EQ(rig.link.Pass(), Result::Lost);
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Lost);
    EXPECT_EQ(rig.link.Pass(), Result::Idle);
    EXPECT_EQ(rig.link.Pass(), Result::KeepAlive);
    EXPECT_EQ(rig.link.Pass(), Result::Wrote);  // to nowhere
}

// A reopened board that does not answer is asked again, not waited on forever.
TEST(LinkThreadLoss, AnUnansweredHandshakeIsRepeated) {
    Rig rig;
    ScriptedPort* fresh = nullptr;
    rig.com.SetReopen(CCom::ReopenMode::RetryPath, [&](std::string*) {
        auto p = std::make_unique<ScriptedPort>();
        fresh = p.get();
        return std::unique_ptr<SerialPort>(std::move(p));
    });
    rig.link.Pass();
    rig.port->HangUp();
    rig.link.Pass();
    ASSERT_GT(rig.RunUntil(Result::Reopened, 100), 0);
    const std::int64_t reopenedAt = rig.clock.NowMs();
    while (rig.clock.NowMs() - reopenedAt < 2 * CEngine::kHandshakeRetryMs) {
        rig.link.Pass();
    }
    rig.link.Pass();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Writes(),
              (std::vector<Bytes>{kVersionRequest, kVersionRequest, kVersionRequest}));
    EXPECT_EQ(rig.engine.linkState.load(), LinkState::Reconnecting);
}

// The link's objects over a scripted port, for tests that run the thread:
// its waits end only for events, so a test that passes saw the thread woken
// by what it did, whatever the machine's load.
struct LiveRig {
    SystemClock clock;
    EventOnlyWaiter waiter;
    CCom com;
    ScriptedPort* port = nullptr;
    CParser parser;
    LinkList list;
    CLocation location;
    CEngine engine{com, list, location};
    LinkThread link{com, parser, engine, clock, waiter};

    LiveRig() {
        auto owned = std::make_unique<ScriptedPort>();
        port = owned.get();
        com.Attach(std::move(owned));
    }
};

// With the real thread: requests go out, answers come back, and Stop wakes
// the thread (no wait runs out) and signals closingEvent.
TEST(LinkThreadRunning, HandshakeThenOrderlyStop) {
    LiveRig rig;
    auto& [clock, waiter, com, port, parser, list, location, engine, link] = rig;

    link.Start();
    EXPECT_TRUE(link.IsRunning());
    engine.Start();
    ASSERT_TRUE(port->WaitForWrites(1));
    ASSERT_EQ(port->Writes(), (std::vector<Bytes>{kVersionRequest}));

    Bytes version = {'4', '.', '2', 0};
    port->Arrive(ValidFrame(frame::kVersion, version));
    ASSERT_TRUE(port->WaitForWrites(2));
    char text[CEngine::kTextSize];
    engine.GetFirmware(text);
    EXPECT_STREQ(text, "4.2");

    link.Stop();
    EXPECT_EQ(waiter.TimedOut(), 0) << "every step, Stop's too, woke the thread";
    EXPECT_FALSE(link.IsRunning());
    EXPECT_TRUE(com.closingEvent.IsSet());
}

// Running for real, the idle thread sleeps until the keep-alive is due (it
// asks for long waits, never a busy loop) and a queued request wakes it.
TEST(LinkThreadRunning, SleepsWhenIdleAndWakesForARequest) {
    LiveRig rig;
    auto& [clock, waiter, com, port, parser, list, location, engine, link] = rig;
    link.Start();
    ASSERT_TRUE(waiter.WaitForWaits(1));
    const std::vector<int> idle = waiter.Asked();
    for (const int timeoutMs : idle)
        EXPECT_GT(timeoutMs, 1000) << "an idle thread sleeps until its keep-alive";

    engine.RequestScan();
    ASSERT_TRUE(port->WaitForWrites(1));
    EXPECT_EQ(port->Writes(), (std::vector<Bytes>{kScanRequest}));
    EXPECT_EQ(waiter.TimedOut(), 0) << "woken by the request";
    link.Stop();
}

// The link object may go first: its destructor stops the thread before the
// port closes, waking it instead of waiting out a wait.
TEST(LinkThreadRunning, ComDestructorStopsTheThread) {
    SystemClock clock;
    EventOnlyWaiter waiter;
    auto com = std::make_unique<CCom>();
    com->Attach(std::make_unique<ScriptedPort>());
    CParser parser;
    LinkList list;
    CLocation location;
    CEngine engine{*com, list, location};
    LinkThread link{*com, parser, engine, clock, waiter};
    link.Start();
    ASSERT_TRUE(waiter.WaitForWaits(1));
    com.reset();
    EXPECT_FALSE(link.IsRunning());
    EXPECT_EQ(waiter.TimedOut(), 0);
}

// Two threads queue different requests while the link thread writes: every
// write is exactly one whole request.
TEST(LinkThreadRunning, QueuedRequestsAreNeverTorn) {
    LiveRig rig;
    auto& [clock, waiter, com, port, parser, list, location, engine, link] = rig;
    link.Start();
    std::thread a([&] {
        for (int i = 0; i < 3000; ++i) {
            engine.RequestScan();
        }
    });
    std::thread b([&] {
        for (int i = 0; i < 3000; ++i) {
            engine.SetConfiguration(0x11);
        }
    });
    a.join();
    b.join();
    link.Stop();
    const Bytes configure = {0x11, 0x12, 0x03, 0x11, 0x14, 0x00, 0x11, 0x13};
    for (const Bytes& w : port->Writes()) {
        EXPECT_TRUE(w == kScanRequest || w == configure || w == kKeepAlive);
    }
}

}  // namespace
}  // namespace ketrion
