#include "survey/PointList.h"

namespace ketrion {

bool ShownHollow(const std::string& fixFlag, const std::string& method, bool provisional) {
    // The board's own points keep the discs they always had; its flags still
    // keep them out of heatmaps and estimates.
    return provisional || (!fixFlag.empty() && method != "board");
}

namespace {

constexpr std::int64_t kFindRangeSquared =
    std::int64_t{PointList::kFindRange} * PointList::kFindRange;  // 1600

}  // namespace

std::size_t PointList::Size() const {
    std::lock_guard lock(m_mutex);
    return m_points.size();
}

PointList::Point PointList::Current() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

PointList::Selection PointList::Selected() const {
    std::lock_guard lock(m_mutex);
    return {m_currentValid, m_current};
}

std::pair<std::size_t, std::uint64_t> PointList::Append(const Point& point) {
    std::lock_guard lock(m_mutex);
    m_points.push_back(point);
    return {m_points.size() - 1, m_generation};
}

std::uint64_t PointList::Generation() const {
    std::lock_guard lock(m_mutex);
    return m_generation;
}

void PointList::Written(std::uint64_t generation, std::size_t index, std::int64_t offset) {
    std::lock_guard lock(m_mutex);
    if (generation == m_generation && index < m_points.size())
        m_points[index].offset = offset;
}

void PointList::Drop(std::uint64_t generation, std::size_t index) {
    std::lock_guard lock(m_mutex);
    if (generation == m_generation && index <= m_points.size())
        m_points.resize(index);
}

std::uint64_t PointList::Replace(std::vector<Point> loaded, std::vector<std::size_t>& queued) {
    std::lock_guard lock(m_mutex);
    ++m_generation;
    // Points scanned while the file was read are still queued: they follow
    // the loaded ones.
    for (std::size_t& index : queued) {
        const Point pending = index < m_points.size() ? m_points[index] : Point{};
        index = loaded.size();
        loaded.push_back(pending);
    }
    m_points = std::move(loaded);
    m_currentValid = false;  // the selection belonged to the points just replaced
    return m_generation;
}

int PointList::FindNearest(int x, int y) {
    std::lock_guard lock(m_mutex);
    std::int64_t best = kFindRangeSquared + 1;
    for (const Point& point : m_points) {
        if (point.deleted)
            continue;  // left out of the view
        // Differences span up to 2^32; a point more than the range away on
        // either axis can never be selected, so the square is taken only when
        // it is small.
        std::int64_t dx = std::int64_t{point.x} - x;
        std::int64_t dy = std::int64_t{point.y} - y;
        if (dx < -kFindRange || dx > kFindRange || dy < -kFindRange || dy > kFindRange)
            continue;
        std::int64_t d = dx * dx + dy * dy;
        if (d < best) {
            m_current = point;
            m_currentValid = true;
            best = d;
        }
    }
    if (best > kFindRangeSquared)
        return -1;
    return m_current.kind;
}

bool PointList::MarkDeleted(std::int64_t offset, bool deleted) {
    bool found = false;
    std::lock_guard lock(m_mutex);
    for (Point& point : m_points) {
        if (point.offset == offset) {
            point.deleted = deleted;
            found = true;
        }
    }
    if (found && m_currentValid && m_current.offset == offset)
        m_currentValid = !deleted;
    return found;
}

}  // namespace ketrion
