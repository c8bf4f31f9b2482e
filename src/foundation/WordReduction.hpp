#pragma once

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

// floor(2^64 / q) for every q > 1 that is not a power of two (odd primes in
// particular); one below it for powers of two. reduceWord is exact for both.
inline std::uint64_t wordQuotient(std::uint64_t q) { return ~std::uint64_t{0} / q; }

// x mod q for any 64-bit x, from ratio = wordQuotient(q). The quotient
// estimate floor(x * ratio / 2^64) is at most two below floor(x / q) (one for
// a ratio equal to floor(2^64 / q)), so the loop runs at most twice.
inline std::uint64_t reduceWord(std::uint64_t x, std::uint64_t q, std::uint64_t ratio) {
    const auto estimate =
        static_cast<std::uint64_t>((static_cast<unsigned __int128>(x) * ratio) >> 64);
    std::uint64_t r = x - estimate * q;
    while (r >= q)
        r -= q;
    return r;
}

// The residue of a signed 64-bit integer modulo q in [0, q): a negative value
// -a becomes q - (a mod q), or 0 when q divides a. The magnitude of INT64_MIN
// is taken as 2^63.
inline std::uint64_t signedResidue(std::int64_t value, std::uint64_t q, std::uint64_t ratio) {
    if (value >= 0)
        return reduceWord(static_cast<std::uint64_t>(value), q, ratio);
    const std::uint64_t magnitude = std::uint64_t{0} - static_cast<std::uint64_t>(value);
    const std::uint64_t r = reduceWord(magnitude, q, ratio);
    return r == 0 ? 0 : q - r;
}

} // namespace Quelt::utils
