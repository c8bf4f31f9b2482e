#pragma once

#include <cstdint>
#include <set>
#include <vector>

namespace Quelt::utils {

// a * b mod n through a 128-bit product; n must be non-zero.
inline std::uint64_t mulMod(std::uint64_t a, std::uint64_t b, std::uint64_t n) {
    return static_cast<std::uint64_t>(static_cast<unsigned __int128>(a) * b % n);
}

// base^exponent mod n by square-and-multiply; n must be non-zero.
inline std::uint64_t powMod(std::uint64_t base, std::uint64_t exponent, std::uint64_t n) {
    std::uint64_t result = 1 % n;
    base %= n;
    while (exponent != 0) {
        if (exponent & 1)
            result = mulMod(result, base, n);
        base = mulMod(base, base, n);
        exponent >>= 1;
    }
    return result;
}

// Deterministic primality test for every 64-bit value (trial division by the
// primes below 11, then Miller-Rabin with seven fixed bases).
bool isPrime(std::uint64_t n);

// Clears `factors` and fills it with the distinct prime factors of n (none for
// n = 0 and n = 1). Plain trial division by odd numbers.
void findPrimeFactors(std::set<std::uint64_t> &factors, std::uint64_t n);

// Smallest primitive root modulo the prime p, or 0 when there is none
// (always 0 for p < 3). For a composite p the smallest g passing the same
// test is returned, or 0.
std::uint64_t findPrimitiveRoot(std::uint64_t p);

// The first `count` primes among the candidates congruent to center + 1
// modulo step, in this order:
//   downward_only: center + 1 - step, center + 1 - 2 step, ... (descending);
//   otherwise:     center + 1, center + 1 + step, center + 1 - step,
//                  center + 1 + 2 step, center + 1 - 2 step, ...
// count = 0 returns an empty vector. Throws RuntimeException when step is 0
// (and count > 0), or when the next candidate would lie below 0 or above
// 2^64 - 1 before `count` primes have been found.
std::vector<std::uint64_t> seekPrimes(std::uint64_t center, std::uint64_t step, std::uint64_t count,
                                      bool downward_only);

} // namespace Quelt::utils
