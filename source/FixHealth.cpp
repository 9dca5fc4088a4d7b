#include "source/FixHealth.h"

namespace ketrion::source {

const char* FixHealthName(FixHealth health) {
    switch (health) {
        case FixHealth::Ok:
            return "ok";
        case FixHealth::NoFix:
            return "no-fix";
        case FixHealth::Stale:
            return "stale";
    }
    return "no-fix";
}

FixHealth ClassifyFix(const Fix& fix, std::int64_t nowMs) {
    if (!fix.valid || fix.receivedMs < 0) {
        return FixHealth::NoFix;
    }
    return nowMs - fix.receivedMs > kStaleFixMs ? FixHealth::Stale : FixHealth::Ok;
}

}  // namespace ketrion::source
