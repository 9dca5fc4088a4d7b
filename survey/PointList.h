#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ketrion {

// True for a point drawn as a ring rather than a disc: taken without a valid
// fix (fix flag "no-fix" or "stale") by a source other than the board, or a
// walk's reading not yet placed.
bool ShownHollow(const std::string& fixFlag, const std::string& method, bool provisional);

// The points of one survey as the plan draws them, in list order (the order
// of the collection file, then the points still queued for it), and the one
// selected for the Location Information dialog.
//
// Threads: any thread. One member mutex guards the list, the selection and
// the generation; it is never held across file I/O and never calls out, and
// each survey has its own (no lock is shared between surveys). It is the
// last lock taken: after the collection file's and the writer queue's.
class PointList {
public:
    // One survey point or dynamic access point.
    struct Point {
        std::int32_t x = 0;  // plan x
        std::int32_t y = 0;  // plan y
        // Strongest average signal of the readings (dBm), never below -100;
        // -100 for a dynamic access point.
        std::int16_t signal = 0;
        // Reading records after the location record; 0 for a dynamic access point.
        std::uint16_t readings = 0;
        std::uint8_t kind = 0;    // 0 survey point, 1 dynamic access point
        std::int64_t offset = 0;  // file offset of the point's location record
        // From the side store: marked deleted (left out of the view and every
        // result), or drawn hollow (taken without a valid fix, or provisional).
        bool deleted = false;
        bool hollow = false;
    };

    // The selected point, copied under the lock.
    struct Selection {
        bool valid = false;  // false when no point has been selected
        Point point;
    };

    static constexpr int kKindSurvey = 0;
    static constexpr int kKindDynamicAp = 1;
    static constexpr std::int16_t kWeakestSignal = -100;  // floor of a point's signal (dBm)
    static constexpr int kFindRange = 40;                 // plan units for FindNearest

    // Calls f(const Point&) for every point in list order while holding the
    // lock. f must not call back into the list or its owner.
    template <class F>
    void ForEach(F&& f) const {
        std::lock_guard lock(m_mutex);
        for (const Point& point : m_points)
            f(point);
    }
    std::size_t Size() const;
    // The selected point (the last one FindNearest chose, valid or not).
    Point Current() const;
    Selection Selected() const;

    // Appends `point`: returns its index and the list's generation, which the
    // writer's outcome for it must name.
    std::pair<std::size_t, std::uint64_t> Append(const Point& point);
    // The generation, bumped each time Replace puts a loaded file's points in.
    std::uint64_t Generation() const;
    // The point at `index` was written at `offset`. Ignored when the list was
    // replaced since (another generation) or is shorter.
    void Written(std::uint64_t generation, std::size_t index, std::int64_t offset);
    // The point at `index` could not be written: it is taken out with every
    // point after it. Ignored when the list was replaced since.
    void Drop(std::uint64_t generation, std::size_t index);
    // Puts a loaded file's points in place of the list, followed by the points
    // still queued for the writer: `queued` holds their indexes in queue
    // order and gets their new ones. The selection is let go (it belonged to
    // the points replaced). Returns the new generation.
    std::uint64_t Replace(std::vector<Point> loaded, std::vector<std::size_t>& queued);

    // Selects the nearest point not marked deleted within kFindRange plan
    // units of (x, y) (the earlier one on a tie) and returns its kind; -1
    // when there is none (the selection then stays as it was).
    int FindNearest(int x, int y);
    // Sets the deleted mark of every point at `offset`; the selected point,
    // marked deleted, is no longer selected. False when no point is at
    // `offset`.
    bool MarkDeleted(std::int64_t offset, bool deleted);

private:
    mutable std::mutex m_mutex;  // guards the four below
    Point m_current;
    bool m_currentValid = false;
    std::vector<Point> m_points;
    std::uint64_t m_generation = 0;
};

}  // namespace ketrion
