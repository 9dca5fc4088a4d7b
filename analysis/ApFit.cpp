#include "analysis/ApFit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "analysis/GeoPlane.h"

namespace ketrion::analysis {

namespace {

constexpr int kGridNodes = 80;                 // per side of the coarse search
constexpr std::size_t kSearchReadings = 2000;  // at most this many readings in the search
constexpr double kDbPerLn = 10.0 / std::numbers::ln10;
constexpr double kGridHuberDb = 8;     // the search's fixed Huber threshold, dB
constexpr double kLeastSigmaDb = 0.5;  // a floor under the robust deviation
constexpr double kMadToSigma = 1.4826;
constexpr double kSettledMetres = 1e-3;
constexpr std::size_t kParams = 4;  // east, north, P, n

using Matrix = std::array<std::array<double, kParams>, kParams>;
using Vector = std::array<double, kParams>;

// 10 log10(d) with d = sqrt(r^2 + 1).
double LogDistance(double de, double dn) {
    return 5.0 * std::log10(de * de + dn * dn + 1.0);
}

// The weight of the prior on the exponent against readings of deviation
// `sigmaDb`: their variance over the prior's.
double PriorWeight(double sigmaDb) {
    return sigmaDb * sigmaDb / (kPriorExponentSd * kPriorExponentSd);
}

double Huber(double r, double delta) {
    const double a = std::fabs(r);
    return a <= delta ? 0.5 * r * r : delta * (a - 0.5 * delta);
}

// P and n solved by least squares at a fixed position, n held within its
// bounds; the Huber cost with kGridHuberDb.
struct NodeFit {
    double power = 0, exponent = 0, cost = 0;
};
NodeFit FitAt(std::span<const PlaneReading> readings, double east, double north) {
    double sl = 0, ss = 0, sll = 0, sls = 0;
    const double count = static_cast<double>(readings.size());
    for (const PlaneReading& r : readings) {
        const double l = LogDistance(r.east - east, r.north - north);
        sl += l;
        ss += r.signal;
        sll += l * l;
        sls += l * r.signal;
    }
    // Least squares with the prior on n as one more observation of it.
    const double varL = sll - sl * sl / count;
    const double prior = PriorWeight(kGridHuberDb);
    double n = (-(sls - sl * ss / count) + prior * kPriorExponent) / (varL + prior);
    n = std::clamp(n, kMinExponent, kMaxExponent);
    const double p = (ss + n * sl) / count;
    NodeFit out{p, n, 0.5 * prior * (n - kPriorExponent) * (n - kPriorExponent)};
    for (const PlaneReading& r : readings)
        out.cost +=
            Huber(r.signal - (p - n * LogDistance(r.east - east, r.north - north)), kGridHuberDb);
    return out;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

// Solves a x = b by Gauss-Jordan elimination with partial pivoting; false
// when the matrix is singular. With `inverse`, also inverts it.
bool Solve(Matrix a, Vector b, Vector& x, Matrix* inverse = nullptr) {
    Matrix inv{};
    for (std::size_t i = 0; i < kParams; ++i)
        inv[i][i] = 1;
    for (std::size_t c = 0; c < kParams; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < kParams; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[pivot][c]))
                pivot = r;
        if (!(std::fabs(a[pivot][c]) > 1e-12))
            return false;
        std::swap(a[c], a[pivot]);
        std::swap(inv[c], inv[pivot]);
        std::swap(b[c], b[pivot]);
        const double d = a[c][c];
        for (std::size_t k = 0; k < kParams; ++k) {
            a[c][k] /= d;
            inv[c][k] /= d;
        }
        b[c] /= d;
        for (std::size_t r = 0; r < kParams; ++r) {
            if (r == c)
                continue;
            const double f = a[r][c];
            for (std::size_t k = 0; k < kParams; ++k) {
                a[r][k] -= f * a[c][k];
                inv[r][k] -= f * inv[c][k];
            }
            b[r] -= f * b[c];
        }
    }
    x = b;
    if (inverse != nullptr)
        *inverse = inv;
    return true;
}

struct Model {
    std::span<const PlaneReading> readings;

    double Residual(const PlaneReading& r, const Vector& t) const {
        return r.signal - (t[2] - t[3] * LogDistance(r.east - t[0], r.north - t[1]));
    }
    double sigmaDb = kGridHuberDb;  // the residuals' deviation the prior is weighed against

    double Cost(const Vector& t, double delta) const {
        const double dn = t[3] - kPriorExponent;
        double cost = 0.5 * PriorWeight(sigmaDb) * dn * dn;
        for (const PlaneReading& r : readings)
            cost += Huber(Residual(r, t), delta);
        return cost;
    }
    // J^T W J and J^T W r for the Huber weights with threshold `delta`.
    void Normal(const Vector& t, double delta, Matrix& jtj, Vector& jtr) const {
        jtj = {};
        jtr = {};
        for (const PlaneReading& r : readings) {
            const double de = r.east - t[0], dn = r.north - t[1];
            const double q = de * de + dn * dn + 1.0;
            // d model / d east = n * (10 / ln 10) * de / q (the model falls
            // as the access point moves away from the reading).
            const Vector j = {t[3] * kDbPerLn * de / q, t[3] * kDbPerLn * dn / q, 1.0,
                              -LogDistance(de, dn)};
            const double res = Residual(r, t);
            const double w = std::fabs(res) <= delta ? 1.0 : delta / std::fabs(res);
            for (std::size_t a = 0; a < kParams; ++a) {
                jtr[a] += w * j[a] * res;
                for (std::size_t b = 0; b < kParams; ++b)
                    jtj[a][b] += w * j[a] * j[b];
            }
        }
        jtj[3][3] += PriorWeight(sigmaDb);
        jtr[3] += PriorWeight(sigmaDb) * (kPriorExponent - t[3]);
    }
    double RobustSigma(const Vector& t) const {
        std::vector<double> abs;
        abs.reserve(readings.size());
        for (const PlaneReading& r : readings)
            abs.push_back(std::fabs(Residual(r, t)));
        return std::max(kMadToSigma * Median(std::move(abs)), kLeastSigmaDb);
    }
};

std::string Figure(double v, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

}  // namespace

PathLossFit FitPathLoss(std::span<const PlaneReading> all) {
    PathLossFit out;
    out.used = all.size();
    if (all.empty()) {
        out.why = "no readings";
        return out;
    }
    double strongest = -std::numeric_limits<double>::infinity();
    for (const PlaneReading& r : all)
        strongest = std::max(strongest, r.signal);
    if (strongest < kFitStrongestFloor) {
        out.why = "the strongest reading, " + Figure(strongest, "%g") +
                  " dBm, is weaker than -50 dBm: the walk never came near enough";
        return out;
    }
    // Every reading counts: the weak ones far away fix P and n, and so the
    // distances of the strong ones.
    const std::span<const PlaneReading> readings = all;
    if (readings.size() < kFitLeastReadings) {
        out.why = "only " + std::to_string(readings.size()) + " readings; the fit needs " +
                  std::to_string(kFitLeastReadings);
        return out;
    }

    // The grid search over the walked area and its margin.
    double minE = readings[0].east, maxE = minE, minN = readings[0].north, maxN = minN;
    for (const PlaneReading& r : readings) {
        minE = std::min(minE, r.east);
        maxE = std::max(maxE, r.east);
        minN = std::min(minN, r.north);
        maxN = std::max(maxN, r.north);
    }
    minE -= kSearchMargin;
    minN -= kSearchMargin;
    const double step =
        std::max(maxE + kSearchMargin - minE, maxN + kSearchMargin - minN) / (kGridNodes - 1);
    // The search only chooses where the steps start: over a campus's tens of
    // thousands of readings of one access point, an even sample of them
    // chooses it as well, at a fraction of the cost of every node over all.
    std::vector<PlaneReading> sample;
    std::span<const PlaneReading> searched = readings;
    if (readings.size() > kSearchReadings) {
        const std::size_t stride = (readings.size() + kSearchReadings - 1) / kSearchReadings;
        for (std::size_t i = 0; i < readings.size(); i += stride)
            sample.push_back(readings[i]);
        searched = sample;
    }
    int bestI = 0, bestJ = 0;
    NodeFit best{0, 0, std::numeric_limits<double>::infinity()};
    for (int i = 0; i < kGridNodes; ++i)
        for (int j = 0; j < kGridNodes; ++j) {
            const NodeFit f = FitAt(searched, minE + i * step, minN + j * step);
            if (f.cost < best.cost) {
                best = f;
                bestI = i;
                bestJ = j;
            }
        }
    if (bestI == 0 || bestJ == 0 || bestI == kGridNodes - 1 || bestJ == kGridNodes - 1) {
        out.why =
            "the readings put it more than 20 m beyond the walk, farther than they can "
            "tell";
        return out;
    }

    // Robust Gauss-Newton with Levenberg damping from the best node.
    Model model{readings};
    Vector t = {minE + bestI * step, minN + bestJ * step, best.power, best.exponent};
    double lambda = 1e-3;
    bool settled = false;
    for (int iteration = 0; iteration < kFitIterations && !settled; ++iteration) {
        model.sigmaDb = model.RobustSigma(t);
        const double delta = kHuberScale * model.sigmaDb;
        Matrix jtj;
        Vector jtr;
        model.Normal(t, delta, jtj, jtr);
        const double cost = model.Cost(t, delta);
        bool improved = false;
        for (int attempt = 0; attempt < 20 && !improved; ++attempt) {
            Matrix damped = jtj;
            for (std::size_t k = 0; k < kParams; ++k)
                damped[k][k] *= 1.0 + lambda;
            Vector step4;
            if (!Solve(damped, jtr, step4)) {
                lambda *= 10;
                continue;
            }
            Vector next = t;
            for (std::size_t k = 0; k < kParams; ++k)
                next[k] += step4[k];
            if (model.Cost(next, delta) <= cost) {
                improved = true;
                lambda = std::max(lambda / 3, 1e-9);
                settled = std::hypot(step4[0], step4[1]) < kSettledMetres;
                t = next;
            } else {
                lambda *= 4;
            }
        }
        // No step lowers the cost: already at its minimum.
        settled = settled || !improved;
    }
    if (!settled || !std::isfinite(t[0]) || !std::isfinite(t[1])) {
        out.why = "the fit does not converge";
        return out;
    }
    if (t[3] < kMinExponent || t[3] > kMaxExponent) {
        out.why = "the fit gives a path-loss exponent of " + Figure(t[3], "%.1f") +
                  ", which no building has";
        return out;
    }

    const double sigma = model.RobustSigma(t);
    model.sigmaDb = sigma;
    Matrix jtj;
    Vector jtr;
    model.Normal(t, kHuberScale * sigma, jtj, jtr);
    Matrix inverse;
    Vector unused;
    if (!Solve(jtj, jtr, unused, &inverse)) {
        out.why = "the readings do not fix the position (all along one line?)";
        return out;
    }
    std::set<std::pair<long, long>> squares;
    for (const PlaneReading& r : readings)
        squares.emplace(std::lround(std::floor(r.east / kDecorrelationMetres)),
                        std::lround(std::floor(r.north / kDecorrelationMetres)));
    const double inflation =
        static_cast<double>(readings.size()) / static_cast<double>(squares.size());
    const double scale = sigma * sigma * inflation * kChiSquare2At95;
    const double a = inverse[0][0] * scale, b = inverse[0][1] * scale, c = inverse[1][1] * scale;
    const double mean = (a + c) / 2, diff = std::sqrt(((a - c) / 2) * ((a - c) / 2) + b * b);
    out.located = true;
    out.east = t[0];
    out.north = t[1];
    out.powerAt1m = t[2];
    out.exponent = t[3];
    out.sigmaDb = sigma;
    out.semiMajor = std::sqrt(std::max(mean + diff, 0.0));
    out.semiMinor = std::sqrt(std::max(mean - diff, 0.0));
    out.angle = 0.5 * std::atan2(2 * b, a - c);
    return out;
}

FittedPosition FitAccessPoint(std::span<const ApObservation> observations) {
    FittedPosition out;
    if (observations.empty()) {
        out.fit.why = "no readings";
        return out;
    }
    const Plane plane(observations[0].latitude, observations[0].longitude);
    std::vector<PlaneReading> readings;
    readings.reserve(observations.size());
    for (const ApObservation& o : observations)
        readings.push_back({plane.East(o.longitude), plane.North(o.latitude), o.signal});
    out.fit = FitPathLoss(readings);
    if (out.fit.located) {
        out.latitude = plane.Latitude(out.fit.north);
        out.longitude = plane.Longitude(out.fit.east);
    }
    return out;
}

std::vector<std::vector<ApObservation>> ObservationsOf(const std::vector<SurveyPoint>& points) {
    struct Heard {
        std::vector<ApObservation> withFix, withoutFix;
    };
    std::map<Mac, Heard> heard;
    for (const SurveyPoint& point : points) {
        if (!point.IsSurvey())
            continue;
        std::map<Mac, double> atPoint;
        for (const Reading& reading : point.readings) {
            const auto [it, added] = atPoint.try_emplace(reading.mac, reading.SignalExact());
            if (!added)
                it->second = std::max(it->second, reading.SignalExact());
        }
        for (const auto& [mac, signal] : atPoint) {
            Heard& h = heard[mac];
            (point.HasPosition() ? h.withFix : h.withoutFix)
                .push_back({point.LatitudeDegrees(), point.LongitudeDegrees(), signal});
        }
    }
    std::vector<std::vector<ApObservation>> out;
    out.reserve(heard.size());
    for (auto& [mac, h] : heard)
        out.push_back(h.withFix.empty() ? std::move(h.withoutFix) : std::move(h.withFix));
    return out;
}

}  // namespace ketrion::analysis
