#include "arith/NumberTheoryUtils.hpp"
#include "foundation/WordArith.hpp"

#include "Quelt/Exception.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace Quelt::utils {

namespace {

// n is divisible by the odd d exactly when n x d^-1 (mod 2^64) does not
// exceed floor((2^64 - 1) / d): multiplication by the inverse maps the
// multiples of d onto [0, floor((2^64 - 1) / d)].
constexpr u64 inverseMod2To64(u64 d) {
    u64 x = d; // correct to 3 bits for odd d; each Newton step doubles that
    for (int i = 0; i < 5; ++i)
        x *= 2 - d * x;
    return x;
}

constexpr bool divisibleBy(u64 n, u64 d) {
    return n * inverseMod2To64(d) <= std::numeric_limits<u64>::max() / d;
}

static_assert(inverseMod2To64(3) * 3 == 1 && inverseMod2To64(7) * 7 == 1);
static_assert(divisibleBy(21, 7) && !divisibleBy(22, 7) && divisibleBy(0, 5));

} // namespace

bool isPrime(std::uint64_t n) {
    if (n < 8 && ((0xACu >> n) & 1u))
        return true;
    if ((n & 1) == 0 || divisibleBy(n, 3) || divisibleBy(n, 5) || divisibleBy(n, 7))
        return false;
    if (n == 1)
        return false;
    if (n < 121)
        return true;

    u64 d = n - 1;
    unsigned s = 0;
    while ((d & 1) == 0) {
        d >>= 1;
        ++s;
    }
    static constexpr std::array<u64, 7> kBases = {2, 325, 9375, 28178, 450775, 9780504, 1795265022};
    for (u64 a : kBases) {
        if (a % n == 0)
            continue;
        u64 x = powMod(a, d, n);
        if (x == 1 || x == n - 1)
            continue;
        bool passed = false;
        for (unsigned r = 1; r < s; ++r) {
            x = mulMod(x, x, n);
            if (x == n - 1) {
                passed = true;
                break;
            }
        }
        if (!passed)
            return false;
    }
    return true;
}

void findPrimeFactors(std::set<std::uint64_t> &factors, std::uint64_t n) {
    factors.clear();
    if (n <= 1)
        return;
    if ((n & 1) == 0) {
        factors.insert(2);
        while ((n & 1) == 0)
            n >>= 1;
    }
    if (n < 9) {
        if (n > 2)
            factors.insert(n);
        return;
    }
    // d <= n / d instead of d * d <= n: the square overflows for cofactors
    // close to 2^64.
    for (u64 d = 3; d <= n / d; d += 2) {
        if (n % d == 0) {
            factors.insert(d);
            do {
                n /= d;
            } while (n % d == 0);
        }
    }
    if (n > 2)
        factors.insert(n);
}

std::uint64_t findPrimitiveRoot(std::uint64_t p) {
    // Also covers p = 0, where p - 1 wraps and every power would divide by 0.
    if (p < 3)
        return 0;
    std::set<u64> factors;
    findPrimeFactors(factors, p - 1);
    for (u64 g = 2; g < p; ++g) {
        bool primitive = true;
        for (u64 f : factors) {
            if (powMod(g, (p - 1) / f, p) == 1) {
                primitive = false;
                break;
            }
        }
        if (primitive)
            return g;
    }
    return 0;
}

std::vector<std::uint64_t> seekPrimes(std::uint64_t center, std::uint64_t step, std::uint64_t count,
                                      bool downward_only) {
    static constexpr const char *kZeroStep = "[seekPrimes] The step must not be zero.";
    static constexpr const char *kOutOfRange =
        "[seekPrimes] Not enough primes: the search left the range of 64-bit integers.";

    std::vector<u64> primes;
    if (count == 0)
        return primes;
    if (step == 0)
        throw RuntimeException(kZeroStep);
    // The reservation is only a hint: a count beyond what the range can
    // hold ends in the range error below, not in a failed allocation.
    primes.reserve(std::min<u64>(count, 1024));

    // Candidates are formed exactly in 128 bits; leaving [0, 2^64) stops the
    // search instead of wrapping around to unrelated numbers.
    const u128 base = static_cast<u128>(center) + 1;
    constexpr u128 kTop = std::numeric_limits<u64>::max();
    auto test = [&](u128 candidate) {
        if (candidate > kTop)
            throw RuntimeException(kOutOfRange);
        if (isPrime(static_cast<u64>(candidate)))
            primes.push_back(static_cast<u64>(candidate));
        return primes.size() == count;
    };
    auto below = [&](u128 distance) {
        if (distance > base)
            throw RuntimeException(kOutOfRange);
        return base - distance;
    };

    if (downward_only) {
        for (u128 distance = step;; distance += step)
            if (test(below(distance)))
                return primes;
    }
    if (test(base))
        return primes;
    for (u128 distance = step;; distance += step) {
        if (test(base + distance))
            return primes;
        if (test(below(distance)))
            return primes;
    }
}

} // namespace Quelt::utils
