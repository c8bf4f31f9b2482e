#pragma once

// Helpers shared by the ring-packer tests.

#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {

// n values drawn uniformly from [-1, 1) with the given seed.
inline std::vector<double> uniformValues(std::uint64_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> v(n);
    for (double &x : v)
        x = value(rng);
    return v;
}

} // namespace Quelt::test
