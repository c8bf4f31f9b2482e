#pragma once

#include <cstdint>

namespace Quelt {

// Where a ciphertext carries its message: in the slots (the ciphertext is
// normally in NTT form) or in the coefficients.
enum class EncodingType : std::uint32_t {
    SLOT = 0,
    COEFFICIENT = 1,
};

} // namespace Quelt
