#pragma once

// Small helpers shared by the source files of the prime chain's operations.

#include "Quelt/Exception.hpp"
#include "arith/Modulus.hpp"
#include "arith/NumberTheoryUtils.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/LevelledElement.hpp"

#include <cstdint>

namespace Quelt::detail {

// Highest residue index an element holds in use.
inline std::uint64_t elementTop(const LevelledElement &e) {
    return e.isModUp() ? e.getSize() - 1 : e.getLevel();
}

// Throws unless residues 0..top of the element exist and are primes of a
// chain of num_primes primes.
inline void checkElement(const LevelledElement &e, std::uint64_t num_primes) {
    const std::uint64_t top = elementTop(e);
    if (e.getSize() == 0 || top >= num_primes || e.getData().size() <= top)
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
}

// The signed integer that residues modulo q_0 (one prime) or modulo q_0 and
// q_1 (two primes) stand for, centred: r when r <= floor(M / 2), else r - M,
// with M = q_0 or q_0 q_1; converted to double with the usual rounding.
class CentredLift {
public:
    explicit CentredLift(const Modulus &m0) : m0_(m0), m1_(m0) {}
    CentredLift(const Modulus &m0, const Modulus &m1)
        : m0_(m0), m1_(m1), u_(utils::powMod(m1.getPrime(), m0.getPrime() - 2, m0.getPrime())),
          v_(utils::powMod(m0.getPrime(), m1.getPrime() - 2, m1.getPrime())),
          modulus_(static_cast<unsigned __int128>(m0.getPrime()) * m1.getPrime()) {}

    // One prime: r0 below q_0.
    double operator()(std::uint64_t r0) const {
        const std::uint64_t q0 = m0_.getPrime();
        return r0 > q0 / 2 ? -static_cast<double>(q0 - r0) : static_cast<double>(r0);
    }

    // Two primes: r0 below q_0, r1 below q_1. x = r0 (q_1^-1 mod q_0) q_1 +
    // r1 (q_0^-1 mod q_1) q_0 (Fermat inverses) lies in [0, 2Q) and is
    // congruent to the value modulo both primes; Q < 2^124.
    double operator()(std::uint64_t r0, std::uint64_t r1) const {
        const std::uint64_t b0 = m0_.barrettProduct(r0, u_);
        const std::uint64_t b1 = m1_.barrettProduct(r1, v_);
        unsigned __int128 x = static_cast<unsigned __int128>(b0) * m1_.getPrime() +
                              static_cast<unsigned __int128>(b1) * m0_.getPrime();
        if (x >= modulus_)
            x -= modulus_;
        return x > modulus_ / 2 ? -toDouble(modulus_ - x) : toDouble(x);
    }

private:
    // Conversion to double rounds the same either way; words convert faster.
    static double toDouble(unsigned __int128 x) {
        return (x >> 64) == 0 ? static_cast<double>(static_cast<std::uint64_t>(x))
                              : static_cast<double>(x);
    }

    const Modulus &m0_;
    const Modulus &m1_;
    std::uint64_t u_ = 0;
    std::uint64_t v_ = 0;
    unsigned __int128 modulus_ = 0;
};

} // namespace Quelt::detail
