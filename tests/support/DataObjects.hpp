#pragma once

// Small contexts, named by their shape, and residue fillers for tests of plaintexts, ciphertexts and
// their stored forms.

#include "Quelt/Context.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt::test {

// Degree 64, four base and quantize primes (50 and 40 bits), two temporary
// primes of 50 bits.
inline std::shared_ptr<Quelt::ContextContent> degree64FourPrimes() {
    static const auto context = Quelt::makeContext(6, 4, 50, 40, 50, 2);
    return context;
}

// Degree 64, five base and quantize primes (52 and 41 bits), two temporary
// primes of 52 bits: other primes than degree64FourPrimes (and so another
// identity hash).
inline std::shared_ptr<Quelt::ContextContent> degree64FivePrimes() {
    static const auto context = Quelt::makeContext(6, 5, 52, 41, 52, 2);
    return context;
}

// degree64FourPrimes's primes (and so its identity hash) with four secrets.
inline std::shared_ptr<Quelt::ContextContent> multiSecretContext() {
    static const auto context = Quelt::makeContext(6, 4, 50, 40, 50, 2, 1, 4);
    return context;
}

// Degree 64, five base and quantize primes, gadget rank 5 (one prime per
// digit) and so one temporary prime.
inline std::shared_ptr<Quelt::ContextContent> fiveDigitContext() {
    static const auto context = Quelt::makeContext(6, 5, 50, 40, 50, 5);
    return context;
}

// Residue j of limb i becomes a value below primes[i] that depends on the
// seed, the limb and the position.
inline void fillResidues(Quelt::Polynomial &poly, std::uint64_t seed,
                         const std::vector<std::uint64_t> &primes) {
    const std::uint64_t n = poly.getDegree();
    const std::uint64_t limbs = poly.getData().size() / n;
    for (std::uint64_t i = 0; i < limbs; ++i) {
        const std::uint64_t q = primes.at(i);
        for (std::uint64_t j = 0; j < n; ++j)
            poly.getLimb(i)[j] = (seed * 0x9e3779b97f4a7c15ULL + i * 1000003 + j * 7919) % q;
    }
}

// The same with the polynomial's own primes.
inline void fillResidues(Quelt::Polynomial &poly, std::uint64_t seed) {
    fillResidues(poly, seed, poly.getPrimes());
}

inline std::vector<std::uint64_t> wordsOf(const Quelt::Polynomial &poly) {
    const auto &data = poly.getData();
    return std::vector<std::uint64_t>(data.begin(), data.end());
}

} // namespace Quelt::test

// The former name of the test support namespace, for code written against it.
namespace QueltTest = Quelt::test;
