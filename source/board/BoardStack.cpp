#include "source/board/BoardStack.h"

namespace ketrion {

namespace {

std::unique_ptr<LinkThread> MakeLinkThread(CCom& com, CParser& parser, CEngine& engine,
                                           Clock& clock, Waiter* waiter) {
    if (waiter != nullptr)
        return std::make_unique<LinkThread>(com, parser, engine, clock, *waiter);
    return std::make_unique<LinkThread>(com, parser, engine, clock);
}

}  // namespace

BoardStack::BoardStack(Clock& clock, Waiter* waiter, OutgoingSlot* slot)
    : engine(slot != nullptr ? *slot : static_cast<OutgoingSlot&>(com), list, location),
      m_linkThread(MakeLinkThread(com, parser, engine, clock, waiter)),
      linkThread(*m_linkThread) {
    // GPS reports are timed by the same clock as everything else, so a stale
    // position can be told.
    location.SetClock(&clock);
}

BoardStack::~BoardStack() {
    Stop();
}

void BoardStack::Start() {
    linkThread.Start();
    engine.Start();
}

void BoardStack::Stop() {
    linkThread.Stop();
}

}  // namespace ketrion
