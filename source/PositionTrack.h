#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "source/FixHealth.h"
#include "source/PositionSource.h"

namespace ketrion::source {

// The recent reports of one GPS source, valid fixes and no-fix reports alike,
// in order of arrival, to place a scan at the position of its middle.
// Not thread-safe: the source that owns it guards it.
class PositionTrack {
public:
    // Reports kept: ten minutes at 1 Hz, far longer than any scan.
    static constexpr std::size_t kCapacity = 600;
    // Two fixes further apart than this are not joined: the receiver said
    // nothing in between, so a straight line between them is a guess.
    static constexpr std::int64_t kMaxGapMs = kStaleFixMs;
    // A fix arriving this long after the time asked for says nothing about
    // where the surveyor was then.
    static constexpr std::int64_t kMaxLeadMs = kStaleFixMs;
    // Two fixes further apart than this speed allows are not joined either:
    // one of them is wrong (a receiver's jump, a bad report), and the line
    // between them runs through places the surveyor never was.
    static constexpr double kMaxMetresPerSecond = 100.0;

    // Adds a report at its receivedMs (reports without one are ignored);
    // a report that arrives out of order is put in its place.
    void Add(const Fix& fix);
    void Clear() { m_reports.clear(); }
    std::size_t Size() const { return m_reports.size(); }

    // The position at `atMs`:
    // - the last report at or before it has a fix and so has the next one
    //   (within kMaxGapMs): the position between them, linearly (stored units
    //   rounded); the rest of the fix from the nearer one, and receivedMs set
    //   to `atMs`, since the position is as good as the fixes around it;
    // - the same, but the two are further apart than kMaxMetresPerSecond
    //   allows: the fix nearer in time, as it is, with heldAcrossJump set;
    // - the last report before it has a fix, the next one none or none yet:
    //   that fix, with its own receivedMs (so it shows its age);
    // - the last report before it says "no fix": that report (invalid);
    // - no report before it: the first one after, if it has a fix and came
    //   within kMaxLeadMs; otherwise an invalid fix.
    Fix At(std::int64_t atMs) const;

    // The position at the middle of a scan that ran from startedMs to endedMs.
    // Its age (for ClassifyFix) counts at that middle: ScanMiddleMs.
    Fix FixFor(std::int64_t startedMs, std::int64_t endedMs) const {
        return At(ScanMiddleMs(startedMs, endedMs));
    }

    // True once a report (fix or not) came after `atMs`: At(atMs) is then
    // settled, no later report changes it.
    bool HasReportAfter(std::int64_t atMs) const {
        return !m_reports.empty() && m_reports.back().receivedMs > atMs;
    }

    static std::int64_t ScanMiddleMs(std::int64_t startedMs, std::int64_t endedMs) {
        return startedMs + (endedMs - startedMs) / 2;
    }

private:
    std::deque<Fix> m_reports;  // by receivedMs, oldest first
};

// The fix between `before` and `after` at the fraction `t` (0..1) of the way,
// with everything but the position taken from the nearer of the two. Crosses
// the 180th meridian the short way.
Fix InterpolateFix(const Fix& before, const Fix& after, double t);

}  // namespace ketrion::source
