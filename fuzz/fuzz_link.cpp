// Arbitrary bytes from the serial line through the frame parser and the engine's
// dispatch, with the real access-point list and location behind it.

#include <cstddef>
#include <cstdint>

#include "engine/Engine.h"
#include "engine/LinkList.h"
#include "engine/Location.h"
#include "protocol/FrameFormat.h"
#include "protocol/OutgoingSlot.h"
#include "protocol/Parser.h"

namespace {

// Accepts requests and checks that each would fit the link's slot.
class CheckingSlot final : public ketrion::OutgoingSlot {
public:
    bool QueueWrite(const std::uint8_t* bytes, std::uint32_t length) override {
        if (length > ketrion::frame::kMaxOutgoing || (length > 0 && bytes == nullptr)) {
            __builtin_trap();
        }
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckingSlot slot;
    ketrion::LinkList list;
    ketrion::CLocation location;
    ketrion::CEngine engine(slot, list, location);
    int notifications = 0;
    engine.notify = [&] { ++notifications; };
    engine.onScanEnd = [&] {
        // The survey data's end-of-scan walk, as it reads the list.
        std::lock_guard lock(list.listMutex);
        ketrion::LinkList::Node* node = nullptr;
        for (int r = list.GetAt(1, node); r == 0; r = list.GetNext(node)) {
            if (node->ssid[sizeof node->ssid - 1] != 0 || node->hasDetails != 1) {
                __builtin_trap();
            }
        }
    };

    static ketrion::CParser parser;  // 8 KiB: kept off the stack, reset per input
    parser.Reset();
    // In pieces of varying size, as reads from the line come: a frame split
    // across Feed calls must come out as if it came in one.
    std::size_t at = 0;
    for (std::size_t piece = 1; at < size; piece = piece % 97 + 1) {
        const std::size_t n = piece < size - at ? piece : size - at;
        parser.Feed(data + at, n, [&](const ketrion::FrameView& f) {
            if (f.length > ketrion::frame::kMaxBody ||
                f.valid != (ketrion::frame::Check(f.type, f.body, f.length) == 0)) {
                __builtin_trap();
            }
            if (!f.valid) {
                return;
            }
            if (f.type == ketrion::frame::kScanStart) {
                list.RemoveAll();  // a new reading, as the collection timer starts one
            }
            engine.Dispatch(f.type, f.body, f.length);
        });
        at += n;
    }
    if (parser.goodFrames + parser.badFrames != parser.framesCompleted) {
        __builtin_trap();
    }
    char text[ketrion::CEngine::kTextSize];
    engine.GetFirmware(text);
    engine.GetSerialNumber(text);
    char line[ketrion::CLocation::kStatusLineSize];
    location.FormatStatusLine(line, sizeof line);
    return 0;
}
