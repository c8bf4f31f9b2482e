#pragma once

#include <cstdint>

namespace Quelt {

// Transform type of one prime.
enum class NttType : std::uint32_t {
    // negacyclic, smallest primitive 2N-th root of unity (p = 1 mod 2N)
    NEGACYCLIC = 0,
    // negacyclic, square of the smallest primitive 4N-th root (p = 1 mod 4N)
    NEGACYCLIC_SQUARE_4N = 1,
    // conjugate-invariant form through a cyclic transform of length N (p = 1 mod 4N)
    CONJUGATE_INVARIANT = 2,
    // no transform (primes of the LWE scheme)
    NONE = 3,
};

} // namespace Quelt
