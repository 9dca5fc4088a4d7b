#include "model/Fix.h"

#include <ctime>

namespace ketrion::source {

namespace {

// Largest UTC time taken as a date: the end of year 9999 (later "times" are
// garbage).
constexpr std::int64_t kLastSecond = 253402300799;

}  // namespace

void SetUtc(Fix& fix, std::int64_t seconds) {
    if (seconds <= 0 || seconds > kLastSecond) {
        return;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (gmtime_r(&t, &utc) == nullptr) {
        return;
    }
    fix.year = static_cast<std::uint16_t>(utc.tm_year + 1900);
    fix.month = static_cast<std::uint8_t>(utc.tm_mon + 1);
    fix.day = static_cast<std::uint8_t>(utc.tm_mday);
    fix.hour = static_cast<std::uint8_t>(utc.tm_hour);
    fix.minute = static_cast<std::uint8_t>(utc.tm_min);
    fix.second = static_cast<std::uint8_t>(utc.tm_sec);
}

}  // namespace ketrion::source
