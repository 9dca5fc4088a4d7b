#include "analysis/Idw.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <nanoflann.hpp>
#include <thread>
#include <utility>

namespace ketrion::analysis {

namespace {

double Squared(const Sample& s, double x, double y) {
    const double dx = x - s.x;
    const double dy = y - s.y;
    return dx * dx + dy * dy;
}

// (distance, index) order: nearer first, the earlier sample on a tie.
bool Before(double d1, std::uint32_t i1, double d2, std::uint32_t i2) {
    return d1 < d2 || (d1 == d2 && i1 < i2);
}

// The samples as nanoflann sees them.
struct Cloud {
    const std::vector<Sample>* samples;
    std::size_t kdtree_get_point_count() const { return samples->size(); }
    double kdtree_get_pt(std::uint32_t i, std::size_t dim) const {
        const Sample& s = (*samples)[i];
        return dim == 0 ? s.x : s.y;
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

// Keeps the k best samples by (distance, index) within the squared radius,
// in order. The bound it reports to the tree walk is a hair above the current
// worst, so that a sample at exactly that distance still reaches addPoint and
// the index decides the tie.
class NearestSet {
public:
    using DistanceType = double;
    using IndexType = std::uint32_t;

    // `searchBound` (squared, at most the squared radius) is a distance within
    // which at least k samples are known to lie: the walk may prune beyond it
    // from the start.
    NearestSet(double radiusSquared, double searchBound, std::size_t k, double* distances,
               std::uint32_t* indices)
        : m_r2(radiusSquared), m_bound(searchBound), m_k(k), m_d(distances), m_i(indices) {}

    bool full() const { return m_count == m_k; }
    double worstDist() const {
        const double bound = m_count == m_k ? m_d[m_k - 1] : m_bound;
        return bound + bound * 1e-12 + std::numeric_limits<double>::min();
    }
    bool addPoint(double d, std::uint32_t index) {
        if (!(d <= m_r2))
            return true;
        if (m_count == m_k && !Before(d, index, m_d[m_k - 1], m_i[m_k - 1]))
            return true;
        std::size_t at = m_count < m_k ? m_count++ : m_k - 1;
        while (at > 0 && Before(d, index, m_d[at - 1], m_i[at - 1])) {
            m_d[at] = m_d[at - 1];
            m_i[at] = m_i[at - 1];
            --at;
        }
        m_d[at] = d;
        m_i[at] = index;
        return true;
    }
    std::size_t size() const { return m_count; }

private:
    double m_r2;
    double m_bound;
    std::size_t m_k;
    double* m_d;
    std::uint32_t* m_i;
    std::size_t m_count = 0;
};

double RadiusSquared(const IdwParams& params) {
    return params.radius * params.radius;
}

}  // namespace

std::optional<std::string> CheckParams(const IdwParams& params) {
    if (params.cell < 1)
        return "the cell size must be at least 1 pixel";
    if (!std::isfinite(params.radius) || params.radius < 0)
        return "the radius must be a number of pixels, 0 or more";
    if (params.maxPoints < 1)
        return "max-points must be at least 1";
    if (!std::isfinite(params.power) || params.power < 0)
        return "the power must be a number, 0 or more";
    return std::nullopt;
}

double Combine(std::span<const Sample> samples, const IdwParams& params, double x, double y,
               std::span<const std::uint32_t> nearest) {
    if (nearest.empty())
        return Grid::kNoData;
    const double first = Squared(samples[nearest[0]], x, y);
    if (first == 0)
        return samples[nearest[0]].value;
    const std::size_t k = static_cast<std::size_t>(std::max(params.maxPoints, 1));
    const std::size_t kept = std::min(nearest.size(), k);
    const double reach =
        nearest.size() > k ? std::min(params.radius, std::sqrt(Squared(samples[nearest[k]], x, y)))
                           : params.radius;
    const bool inverseSquare = params.power == 2;
    const double exponent = -params.power / 2;
    double weights = 0;
    double sum = 0;
    double plain = 0;
    for (std::size_t n = 0; n < kept; ++n) {
        const Sample& s = samples[nearest[n]];
        const double d2 = Squared(s, x, y);
        const double fall = std::max(0.0, 1.0 - std::sqrt(d2) / reach);
        const double w = fall * fall * (inverseSquare ? 1.0 / d2 : std::pow(d2, exponent));
        weights += w;
        sum += w * s.value;
        plain += s.value;
    }
    if (!(weights > 0))
        return plain / static_cast<double>(kept);
    return sum / weights;
}

class IdwInterpolator::Index {
public:
    using Tree = nanoflann::KDTreeSingleIndexAdaptor<
        nanoflann::L2_Simple_Adaptor<double, Cloud, double, std::uint32_t>, Cloud, 2,
        std::uint32_t>;

    explicit Index(const std::vector<Sample>& samples)
        : m_cloud{&samples}, m_tree(2, m_cloud, nanoflann::KDTreeSingleIndexAdaptorParams(16)) {}

    Cloud m_cloud;
    Tree m_tree;
};

struct IdwInterpolator::Scratch {
    // Room for the k nearest and the one after them, which sets the reach.
    explicit Scratch(std::size_t k) : distances(k + 1), indices(k + 1) {}
    std::vector<double> distances;
    std::vector<std::uint32_t> indices;
    // Distance from the last node to the next one, and the squared distance
    // within which the next node has at least k samples (infinite: unknown).
    double step = 0;
    double bound = std::numeric_limits<double>::infinity();
};

IdwInterpolator::IdwInterpolator(std::vector<Sample> samples, IdwParams params)
    : m_samples(std::move(samples)), m_params(params) {
    if (m_samples.size() > std::numeric_limits<std::uint32_t>::max())
        m_samples.resize(std::numeric_limits<std::uint32_t>::max());
    if (m_params.maxPoints < 1)
        m_params.maxPoints = 1;
    if (!m_samples.empty())
        m_index = std::make_unique<Index>(m_samples);
}

IdwInterpolator::~IdwInterpolator() = default;

double IdwInterpolator::ValueAt(double x, double y) const {
    Scratch scratch(static_cast<std::size_t>(m_params.maxPoints));
    return ValueAt(x, y, scratch);
}

double IdwInterpolator::ValueAt(double x, double y, Scratch& scratch) const {
    if (!m_index)
        return Grid::kNoData;
    const double r2 = RadiusSquared(m_params);
    NearestSet set(r2, std::min(r2, scratch.bound), scratch.indices.size(),
                   scratch.distances.data(), scratch.indices.data());
    const double query[2] = {x, y};
    m_index->m_tree.findNeighbors(set, query, nanoflann::SearchParams(32, 0, false));
    // The k samples found here lie within (d_k + step) of a node `step` away,
    // so the next node along the row need not look farther.
    scratch.bound = std::numeric_limits<double>::infinity();
    if (set.full()) {
        const double reach = std::sqrt(scratch.distances[set.size() - 1]) + scratch.step;
        scratch.bound = reach * reach * (1 + 1e-9);
    }
    return Combine(m_samples, m_params, x, y,
                   std::span<const std::uint32_t>(scratch.indices.data(), set.size()));
}

Grid IdwInterpolator::Run(int width, int height, const RunControl& control,
                          const SurveyedArea* area) const {
    Grid grid(CellsCovering(width, m_params.cell), CellsCovering(height, m_params.cell),
              std::max(m_params.cell, 1));
    const std::vector<std::uint8_t> mask =
        area ? area->Mask(grid.columns, grid.rows, grid.cell) : std::vector<std::uint8_t>();
    const int rows = grid.rows;
    std::atomic<int> nextRow{0};
    std::atomic<int> doneRows{0};
    std::atomic<bool> stopped{false};
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;

    auto work = [&] {
        Scratch scratch(static_cast<std::size_t>(m_params.maxPoints));
        for (;;) {
            if (control.cancel && control.cancel->load(std::memory_order_relaxed)) {
                stopped = true;
                break;
            }
            const int j = nextRow.fetch_add(1);
            if (j >= rows)
                break;
            const double y = (j + 0.5) * grid.cell;
            scratch.bound = std::numeric_limits<double>::infinity();
            scratch.step = grid.cell;
            for (int i = 0; i < grid.columns; ++i) {
                if (!mask.empty() && mask[static_cast<std::size_t>(j) * grid.columns + i] == 0) {
                    // The next node's search cannot lean on this one's.
                    scratch.bound = std::numeric_limits<double>::infinity();
                    continue;
                }
                grid.At(i, j) = ValueAt((i + 0.5) * grid.cell, y, scratch);
            }
            doneRows.fetch_add(1, std::memory_order_relaxed);
        }
        std::lock_guard lock(mutex);
        --running;
        finished.notify_all();
    };

    int threads = control.threads > 0 ? control.threads
                                      : static_cast<int>(std::thread::hardware_concurrency());
    threads = std::clamp(threads, 1, std::max(rows, 1));
    if (m_index && rows > 0) {
        std::vector<std::jthread> workers;
        running = threads;
        workers.reserve(static_cast<std::size_t>(threads));
        for (int t = 0; t < threads; ++t)
            workers.emplace_back(work);
        std::unique_lock lock(mutex);
        while (running > 0) {
            if (finished.wait_for(lock, std::chrono::milliseconds(200),
                                  [&] { return running == 0; }))
                break;
            if (control.progress) {
                lock.unlock();
                control.progress(doneRows.load(), rows);
                lock.lock();
            }
        }
    }
    if (stopped) {
        grid.values.clear();
        return grid;
    }
    if (control.progress)
        control.progress(rows, rows);
    return grid;
}

double BruteForceValueAt(std::span<const Sample> samples, const IdwParams& params, double x,
                         double y) {
    const double r2 = RadiusSquared(params);
    std::vector<std::pair<double, std::uint32_t>> within;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double d2 = Squared(samples[i], x, y);
        if (d2 <= r2)
            within.emplace_back(d2, static_cast<std::uint32_t>(i));
    }
    const std::size_t keep =
        std::min(within.size(), static_cast<std::size_t>(std::max(params.maxPoints, 1)) + 1);
    std::partial_sort(within.begin(), within.begin() + static_cast<std::ptrdiff_t>(keep),
                      within.end());
    std::vector<std::uint32_t> nearest(keep);
    for (std::size_t i = 0; i < keep; ++i)
        nearest[i] = within[i].second;
    return Combine(samples, params, x, y, nearest);
}

Grid BruteForceGrid(std::span<const Sample> samples, const IdwParams& params, int width, int height,
                    int firstRow, int rowCount) {
    Grid grid(CellsCovering(width, params.cell), CellsCovering(height, params.cell),
              std::max(params.cell, 1));
    const int first = std::clamp(firstRow, 0, grid.rows);
    const int last = rowCount < 0 ? grid.rows : std::min(grid.rows, first + rowCount);
    for (int j = first; j < last; ++j)
        for (int i = 0; i < grid.columns; ++i)
            grid.At(i, j) =
                BruteForceValueAt(samples, params, (i + 0.5) * grid.cell, (j + 0.5) * grid.cell);
    return grid;
}

}  // namespace ketrion::analysis
