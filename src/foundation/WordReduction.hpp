#pragma once

#include "foundation/WordArith.hpp"

#include <cstdint>
#include <optional>

namespace Quelt::utils {

// a * b, or nothing when the product does not fit in 64 bits. Sizes computed
// from stored or caller-given counts go through it.
inline std::optional<std::uint64_t> checkedProduct(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return std::nullopt;
    return product;
}

// The word reductions live in WordArith.hpp; these names stay for callers
// that spell them through utils.
using word::reduceWord;
using word::signedResidue;
using word::wordQuotient;

} // namespace Quelt::utils
