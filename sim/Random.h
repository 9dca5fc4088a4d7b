#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace ketrion::sim {

// Random numbers that are the same for a given seed on every platform:
// std::mt19937's output is fixed by the standard, but the std distributions
// are not, so the few distributions needed are written out here.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : m_engine(seed) {}

    // Uniform in [0, 1).
    double Uniform() { return m_engine() * (1.0 / 4294967296.0); }

    // Uniform whole number in [lo, hi].
    int Between(int lo, int hi) {
        if (hi <= lo) {
            return lo;
        }
        const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
        return lo + static_cast<int>((static_cast<std::uint64_t>(m_engine()) * span) >> 32);
    }

    bool Chance(double p) { return p > 0.0 && Uniform() < p; }

    // Normal with mean 0 and the given deviation (Box-Muller, one value per call).
    double Normal(double sigma) {
        if (sigma <= 0.0) {
            return 0.0;
        }
        const double u1 = 1.0 - Uniform();  // (0, 1]: keeps log finite
        const double u2 = Uniform();
        return sigma * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

    std::uint8_t Byte() { return static_cast<std::uint8_t>(m_engine() >> 24); }

private:
    std::mt19937 m_engine;
};

}  // namespace ketrion::sim
