#pragma once

// Straightforward modular arithmetic for test oracles: every product is
// formed in 128 bits and reduced by division, nothing is lazy.

#include "foundation/WordArith.hpp"

#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {

// The word aliases under the names tests have used for them.
using Quelt::u128;
using Quelt::u64;

inline u64 mulModRef(u64 a, u64 b, u64 p) {
    return static_cast<u64>(static_cast<unsigned __int128>(a) * b % p);
}

inline u64 addModRef(u64 a, u64 b, u64 p) {
    return static_cast<u64>((static_cast<unsigned __int128>(a) + b) % p);
}

inline u64 subModRef(u64 a, u64 b, u64 p) { return addModRef(a % p, p - b % p, p); }

// The residue in [0, p) of a signed value.
inline u64 signedResidueRef(__int128 z, u64 p) {
    const __int128 r = z % static_cast<__int128>(p);
    return static_cast<u64>(r < 0 ? r + p : r);
}

inline u64 powModRef(u64 base, u64 exponent, u64 p) {
    u64 result = 1 % p;
    base %= p;
    for (; exponent != 0; exponent >>= 1) {
        if (exponent & 1)
            result = mulModRef(result, base, p);
        base = mulModRef(base, base, p);
    }
    return result;
}

inline u64 invModRef(u64 a, u64 p) { return powModRef(a, p - 2, p); }

// Smallest primitive root of unity of the power-of-two order `order` modulo
// the prime p (order divides p - 1). A quadratic non-residue h gives
// w = h^((p-1)/order) of exact order `order`; the primitive roots of that order
// are the odd powers of w.
inline u64 smallestRootOfUnityRef(u64 order, u64 p) {
    u64 h = 2;
    while (powModRef(h, (p - 1) / 2, p) != p - 1)
        ++h;
    const u64 w = powModRef(h, (p - 1) / order, p);
    const u64 w2 = mulModRef(w, w, p);
    u64 best = w, current = w;
    for (u64 k = 3; k < order; k += 2) {
        current = mulModRef(current, w2, p);
        if (current < best)
            best = current;
    }
    return best;
}

// a x b modulo (X^N + 1, p), N = a.size() = b.size(), by the schoolbook rule.
inline std::vector<u64> negacyclicProductRef(const std::vector<u64> &a, const std::vector<u64> &b,
                                             u64 p) {
    const std::size_t n = a.size();
    std::vector<u64> c(n, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const u64 t = mulModRef(a[i], b[j], p);
            if (i + j < n)
                c[i + j] = addModRef(c[i + j], t, p);
            else
                c[i + j - n] = subModRef(c[i + j - n], t, p);
        }
    return c;
}

// Value of the polynomial a at x modulo p (Horner).
inline u64 evaluateRef(const std::vector<u64> &a, u64 x, u64 p) {
    u64 r = 0;
    for (std::size_t i = a.size(); i-- > 0;)
        r = addModRef(mulModRef(r, x, p), a[i], p);
    return r;
}

inline std::vector<u64> randomResidues(std::size_t n, u64 bound, std::mt19937_64 &rng) {
    std::uniform_int_distribution<u64> dist(0, bound - 1);
    std::vector<u64> v(n);
    for (auto &x : v)
        x = dist(rng);
    return v;
}

inline u64 reverseBitsRef(u64 i, unsigned bits) {
    u64 r = 0;
    for (unsigned b = 0; b < bits; ++b)
        r |= ((i >> b) & 1) << (bits - 1 - b);
    return r;
}

} // namespace Quelt::test
