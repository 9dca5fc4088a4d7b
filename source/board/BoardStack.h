#pragma once

#include <memory>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "link/Com.h"
#include "link/LinkThread.h"
#include "protocol/Parser.h"

namespace ketrion {

class Clock;
class Waiter;

// Everything the receiver board's path needs, built and wired in one place:
// the serial link, the frame parser, the access-point list, the GPS location,
// the packet engine and the link thread. Members are declared in the order
// they are built, so C++ takes them down in reverse: the link thread is
// joined before anything it touches goes, and the port closes last.
//
// Threads: the link thread (started by Start) runs the parser and engine;
// everything else is the owner's.
class BoardStack {
public:
    // The link thread waits with poll(2) on the port; with `waiter` (tests)
    // through it instead, so a fake clock moves time. The engine queues its
    // requests in the serial link's slot, or in `slot` (a replay prints them).
    explicit BoardStack(Clock& clock, Waiter* waiter = nullptr, OutgoingSlot* slot = nullptr);
    ~BoardStack();
    BoardStack(const BoardStack&) = delete;
    BoardStack& operator=(const BoardStack&) = delete;

    // Starts the link thread and the engine's handshake.
    void Start();
    // Stops and joins the link thread (safe when it does not run).
    void Stop();

    CCom com;
    CLocation location;
    LinkList list;
    CParser parser;
    CEngine engine;

private:
    std::unique_ptr<LinkThread> m_linkThread;

public:
    LinkThread& linkThread;
};

}  // namespace ketrion
