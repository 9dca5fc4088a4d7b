#pragma once

#include <climits>
#include <cstddef>

namespace ketrion {

// The snapshot counter file's text: the number of the next snapshot on its
// first line. Only that line is read, and at most its first kCounterLineMax
// characters, converted as the C library's decimal-to-integer conversion does
// (leading blanks skipped, an optional sign, digits up to the first non-digit;
// 0 when there are none), saturated to the int range. An empty file counts as
// a missing one: 1. No Qt here, so the fuzz target can use it as it is.
inline constexpr std::size_t kCounterLineMax = 79;

inline int ParseSnapshotCounter(const char* text, std::size_t size) {
    if (text == nullptr || size == 0) {
        return 1;
    }
    std::size_t end = 0;
    while (end < size && end < kCounterLineMax && text[end] != '\n') {
        ++end;
    }
    if (end < size && end < kCounterLineMax) {
        ++end;  // the line break belongs to the line
    }
    std::size_t i = 0;
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    };
    while (i < end && blank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;  // saturate; the remaining digits change nothing
        }
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace ketrion
