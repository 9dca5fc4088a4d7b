#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/Grid.h"
#include "analysis/SurveyedArea.h"

namespace ketrion::analysis {

// One measured value at a plan position.
struct Sample {
    double x = 0;
    double y = 0;
    double value = 0;
};

// Inverse distance weighting with a search radius and a nearest-points limit.
// A point's weight falls smoothly to zero at the node's reach (the radius, or
// the distance of the nearest point left out when more than maxPoints are in
// range): w = (1 - d / reach)^2 / d^power. A point that enters or leaves the
// nearest set does so with zero weight, so the surface has no seams where
// the set changes and none at the radius.
struct IdwParams {
    int cell = 4;         // plan pixels between grid nodes
    double radius = 120;  // plan pixels; points farther from a node are not used
    int maxPoints = 12;   // at most this many nearest points per node (1: the nearest alone)
    double power = 2;     // weight (1 - d / reach)^2 / d^power
};

// A message when the parameters cannot be used (cell below 1, radius negative
// or not finite, max-points below 1, power negative or not finite).
std::optional<std::string> CheckParams(const IdwParams& params);

// How a grid run is carried out; none of it changes the values.
struct RunControl {
    int threads = 0;  // worker threads; 0 = one per core
    // Called on the calling thread now and then and at the end with the rows
    // finished so far and the row count.
    std::function<void(int done, int total)> progress;
    // When set (by another thread), the run stops early and returns no grid.
    const std::atomic<bool>* cancel = nullptr;
};

// The value of one node from the samples within the radius: the maxPoints
// nearest (equal distances: the earlier sample first), weighted as IdwParams
// says. A node on a sample takes that sample's value (the earliest one); a
// node whose kept samples all lie at the reach (all weights zero) takes their
// mean; a node with no sample in range is Grid::kNoData. `nearest` holds, in
// order of (distance, index), the indices of up to maxPoints + 1 nearest
// samples in range: the one after the first maxPoints sets the reach.
double Combine(std::span<const Sample> samples, const IdwParams& params, double x, double y,
               std::span<const std::uint32_t> nearest);

// Interpolates samples over a plan with a spatial index on all cores. A pure
// function of its inputs: safe to use from any thread, one instance per run or
// shared read-only.
class IdwInterpolator {
public:
    IdwInterpolator(std::vector<Sample> samples, IdwParams params);
    ~IdwInterpolator();
    IdwInterpolator(const IdwInterpolator&) = delete;
    IdwInterpolator& operator=(const IdwInterpolator&) = delete;

    // The value at plan point (x, y).
    double ValueAt(double x, double y) const;
    // The grid of ceil(width / cell) x ceil(height / cell) nodes over a
    // width x height plan; empty values when cancelled. With `area`, nodes
    // outside it are left without a value.
    Grid Run(int width, int height, const RunControl& control = {},
             const SurveyedArea* area = nullptr) const;

    const IdwParams& Params() const { return m_params; }

private:
    class Index;
    struct Scratch;
    double ValueAt(double x, double y, Scratch& scratch) const;

    std::vector<Sample> m_samples;
    IdwParams m_params;
    std::unique_ptr<Index> m_index;
};

// The same values by looking at every sample for every node: the reference
// the indexed run is checked against. Fills rows [firstRow, firstRow + rowCount)
// of a grid over a width x height plan (all rows when rowCount < 0); the other
// rows stay kNoData.
Grid BruteForceGrid(std::span<const Sample> samples, const IdwParams& params, int width, int height,
                    int firstRow = 0, int rowCount = -1);
double BruteForceValueAt(std::span<const Sample> samples, const IdwParams& params, double x,
                         double y);

}  // namespace ketrion::analysis
