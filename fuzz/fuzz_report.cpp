// Applies arbitrary bytes as access-point report bodies and as GPS report
// bodies. The first input byte picks how many reports the rest is split into,
// so sequences of reports (known addresses, updates) are reached as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/LinkList.h"
#include "engine/Location.h"

using namespace ketrion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t parts = 1 + data[0] % 4;
    ++data;
    --size;

    LinkList list;
    ReportScratch scratch;
    CLocation location;
    const std::size_t step = size / parts;
    for (std::size_t i = 0; i < parts; ++i) {
        const std::size_t length = i + 1 == parts ? size - i * step : step;
        // An exact-size heap copy, so any read past the body is caught.
        std::vector<std::uint8_t> body(data + i * step, data + i * step + length);
        list.TryApplyReport(body.data(), static_cast<std::uint32_t>(body.size()), scratch);
        location.Decode(body.data(), static_cast<std::uint32_t>(body.size()));
    }

    // The list must stay consistent: a closed ring that agrees with count, in
    // signal order of insertion, every record with details.
    std::int32_t records = 0;
    LinkList::Node* node = nullptr;
    for (int rc = list.GetAt(1, node); rc == 0; rc = list.GetNext(node)) {
        ++records;
        if (node->hasDetails != 1 || node->sampleCount == 0 ||
            std::memchr(node->ssid, 0, sizeof node->ssid) == nullptr || node->next->prev != node ||
            node->prev->next != node) {
            std::abort();
        }
    }
    if (records + 1 != list.count) {
        std::abort();
    }
    char text[CLocation::kStatusLineSize];
    location.FormatStatusLine(text, sizeof text);
    if (std::memchr(text, 0, sizeof text) == nullptr) {
        std::abort();
    }
    return 0;
}
