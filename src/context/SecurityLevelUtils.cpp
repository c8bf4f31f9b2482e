#include "context/SecurityLevelUtils.hpp"

#include <array>

namespace Quelt {

namespace {

// Largest modulus size (in bits) that still reaches each level, per log2
// dimension 10 .. 17. Rows 10 to 15 are the bounds of the published
// homomorphic-encryption security standard for ternary secrets; 16 and 17
// extend them.
struct SecurityBounds {
    std::uint64_t max_bits_128;
    std::uint64_t max_bits_192;
    std::uint64_t max_bits_256;
};

constexpr std::uint64_t kMinTabledLogDimension = 10;
constexpr std::array<SecurityBounds, 8> kSecurityTable{{
    {27, 19, 14},       // 2^10
    {54, 37, 29},       // 2^11
    {109, 75, 58},      // 2^12
    {218, 152, 118},    // 2^13
    {438, 305, 237},    // 2^14
    {881, 611, 476},    // 2^15
    {1750, 1199, 929},  // 2^16
    {3523, 2411, 1867}, // 2^17
}};

} // namespace

SecurityLevel computeLWESecurityLevel(std::uint64_t log_dimension,
                                      std::uint64_t total_modulus_bits) {
    if (log_dimension < kMinTabledLogDimension ||
        log_dimension - kMinTabledLogDimension >= kSecurityTable.size())
        return SecurityLevel::NONE;
    if (total_modulus_bits == 0)
        return SecurityLevel::NONE;
    const SecurityBounds &bounds = kSecurityTable[log_dimension - kMinTabledLogDimension];
    if (total_modulus_bits > bounds.max_bits_128)
        return SecurityLevel::NONE;
    if (total_modulus_bits > bounds.max_bits_192)
        return SecurityLevel::SL128;
    if (total_modulus_bits > bounds.max_bits_256)
        return SecurityLevel::SL192;
    return SecurityLevel::SL256;
}

} // namespace Quelt
