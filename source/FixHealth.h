#pragma once

#include <cstdint>

#include "source/PositionSource.h"

namespace ketrion::source {

// Whether a position can be trusted for a reading taken now.
enum class FixHealth : std::uint8_t {
    Ok,     // a valid fix, recent enough
    NoFix,  // no valid fix (none yet, or the receiver reports no fix)
    Stale,  // a valid fix, but older than kStaleFixMs
};

// A fix older than this is stale: receivers report once a second, so five
// missed reports mean the position has stopped following the surveyor.
inline constexpr std::int64_t kStaleFixMs = 5000;

// "ok", "no-fix" or "stale", as the side store and the status bar spell it.
const char* FixHealthName(FixHealth health);

// Classifies `fix` at `nowMs` (the session clock). Age counts from when the
// fix arrived (receivedMs), never from the time written in it, so replayed
// logs with old times are fresh. A fix that arrived after `nowMs` (a clock
// set back) counts as fresh.
FixHealth ClassifyFix(const Fix& fix, std::int64_t nowMs);

}  // namespace ketrion::source
