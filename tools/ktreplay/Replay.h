#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "platform/Clock.h"
#include "protocol/OutgoingSlot.h"
#include "protocol/Parser.h"
#include "source/board/BoardStack.h"

namespace ketrion::replay {

// Formats bytes of a text for one output line: 0x21-0x7e as themselves except
// the backslash, everything else (space included) as \xHH.
std::string EscapeText(std::string_view text);

// Feeds a captured byte stream through the parser and hands every valid
// frame to the engine exactly as the link thread does, printing one line per
// event to `out`:
//   queued HH HH ...            every request the engine queues
//   frame 0xTT len N ok|bad     every complete frame, before it is dispatched
// and, from PrintSummary, the engine's, list's and location's final state.
class Replay {
public:
    explicit Replay(std::ostream& out);
    virtual ~Replay() = default;
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Feeds bytes; may be called repeatedly with consecutive pieces of a stream.
    void Feed(const std::uint8_t* bytes, std::size_t length);
    // Feeds the whole file. Returns false with `error` set when it cannot be read.
    bool FeedFile(const std::string& path, std::string& error);
    // firmware, serial, scanning, the list's records, location and fix.
    void PrintSummary();

    // Run before a valid ScanStart frame is dispatched: starts a reading the way
    // the collection timer does. By default it empties the access-point list;
    // replace it to record readings into survey data as well.
    std::function<void()> startReading;

    CEngine& Engine() { return m_board.engine; }
    LinkList& List() { return m_board.list; }
    CLocation& Location() { return m_board.location; }
    BoardStack& Board() { return m_board; }
    std::uint64_t Frames() const { return m_board.parser.framesCompleted; }

private:
    // The link's slot as the replay sees it: prints every request.
    class PrintingSlot final : public OutgoingSlot {
    public:
        explicit PrintingSlot(std::ostream& out) : m_out(out) {}
        bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) override;

    private:
        std::ostream& m_out;
    };

    void OnFrame(const FrameView& frame);

    std::ostream& m_out;
    PrintingSlot m_slot;
    SystemClock m_clock;
    // The board's whole stack; its link thread never starts: the capture
    // stands in for the line.
    BoardStack m_board;
    CEngine& m_engine;
    LinkList& m_list;
    CLocation& m_location;
    CParser& m_parser;
};

}  // namespace ketrion::replay
