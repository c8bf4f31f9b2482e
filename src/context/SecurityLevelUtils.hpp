#pragma once

#include "Quelt/SecurityLevel.hpp"

#include <cstdint>

namespace Quelt {

// Estimated security of an LWE-type parameter set with secret dimension
// 2^log_dimension and a modulus of total_modulus_bits bits, for ternary
// secrets. Dimensions 2^10 to 2^17 are tabled; any other dimension, and a
// modulus of 0 bits (which describes no modulus at all), gets NONE.
SecurityLevel computeLWESecurityLevel(std::uint64_t log_dimension,
                                      std::uint64_t total_modulus_bits);

} // namespace Quelt
