#pragma once

#include <cstdint>

namespace Quelt::LWE {

// Named parameter sets of the standalone LWE scheme; CUSTOM stands for a
// parameter set given by explicit sizes.
enum class ParameterPreset : std::uint32_t {
    SS7 = 0,
    SD3 = 1,
    CUSTOM = 2,
    FGbD12L0 = 3,
    FGbD12L1 = 4,
    Discrete_G8A_LWE = 5,
};

// Largest valid LWE preset value; a value above it is rejected.
inline constexpr std::uint32_t kMaxParameterPresetValue = 5;

} // namespace Quelt::LWE
