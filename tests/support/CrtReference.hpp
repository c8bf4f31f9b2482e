#pragma once

// Chinese remaindering in unsigned 128-bit integers for test oracles: the
// product of the primes involved must stay below 2^128 (three 40-bit primes,
// for example).

#include "foundation/WordArith.hpp"

#include <cstdint>
#include <vector>

namespace Quelt::test {

using Quelt::u128; // the name tests have used for it

// Product of the first count primes.
inline u128 crtModulus(const std::vector<std::uint64_t> &primes, std::size_t count) {
    u128 m = 1;
    for (std::size_t i = 0; i < count; ++i)
        m *= primes[i];
    return m;
}

// The value in [0, q_0 ... q_(count-1)) with the given residues (Garner's
// mixed-radix form: every partial product stays below the full modulus).
inline u128 crtReconstruct(const std::vector<std::uint64_t> &residues,
                           const std::vector<std::uint64_t> &primes, std::size_t count) {
    auto pow_mod = [](std::uint64_t b, std::uint64_t e, std::uint64_t p) {
        u128 r = 1, x = b % p;
        for (; e; e >>= 1, x = x * x % p)
            if (e & 1)
                r = r * x % p;
        return static_cast<std::uint64_t>(r);
    };
    u128 x = residues[0] % primes[0];
    u128 m = primes[0];
    for (std::size_t i = 1; i < count; ++i) {
        const std::uint64_t p = primes[i];
        const std::uint64_t x_mod = static_cast<std::uint64_t>(x % p);
        const std::uint64_t r = residues[i] % p;
        const std::uint64_t diff = r >= x_mod ? r - x_mod : r + p - x_mod;
        const std::uint64_t inv = pow_mod(static_cast<std::uint64_t>(m % p), p - 2, p);
        const std::uint64_t t = static_cast<std::uint64_t>(static_cast<u128>(diff) * inv % p);
        x += static_cast<u128>(t) * m;
        m *= p;
    }
    return x;
}

// (a * b) mod m for a, b < m < 2^127, by doubling (no 256-bit product needed).
inline u128 mulModWide(u128 a, u128 b, u128 m) {
    u128 r = 0;
    a %= m;
    for (; b; b >>= 1) {
        if (b & 1)
            r = (r + a) % m;
        a = (a + a) % m;
    }
    return r;
}

} // namespace Quelt::test
