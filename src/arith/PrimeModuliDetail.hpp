#pragma once

// Small helpers shared by the source files of the prime chain's operations.

#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/LevelledElement.hpp"

#include <cstdint>

namespace Quelt::detail {

// Highest residue index an element holds in use.
inline std::uint64_t elementTop(const LevelledElement &e) {
    return e.isModUp() ? e.getSize() - 1 : e.getLevel();
}

// Throws unless residues 0..top of the element exist and are primes of a
// chain of num_primes primes.
inline void checkElement(const LevelledElement &e, std::uint64_t num_primes) {
    const std::uint64_t top = elementTop(e);
    if (e.getSize() == 0 || top >= num_primes || e.getData().size() <= top)
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
}

} // namespace Quelt::detail
