#pragma once

#include <cstdint>

namespace Quelt {

// Estimated security of a parameter set in bits. NONE means below 128-bit
// security (or no estimate available).
enum class SecurityLevel : std::uint32_t {
    NONE = 0,
    SL128 = 128,
    SL192 = 192,
    SL256 = 256,
};

} // namespace Quelt
