#pragma once

// A small chain (N = 64, three 40-bit base/quantize primes and one 40-bit
// temporary prime) and helpers that move polynomials between residues and
// the integers modulo Q they stand for.

#include "Quelt/Context.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "support/CrtReference.hpp"
#include "support/ModularReference.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace Quelt::test {

class PrimeModuliFixture : public ::testing::Test {
protected:
    static constexpr u64 kN = 64;
    static constexpr u64 kL = 3; // base and quantize primes
    static constexpr u64 kK = 1; // temporary primes

    static const std::shared_ptr<ContextContent> &ctx() {
        static const auto context = degree64ThreePrimes();
        return context;
    }
    static const PrimeModuli &chain() { return ctx()->getPrimeModuli(); }
    static u64 prime(u64 i) { return chain().getModulus(i).getPrime(); }
    static std::vector<u64> primes() {
        std::vector<u64> out;
        for (u64 i = 0; i < chain().getNumPrimes(); ++i)
            out.push_back(prime(i));
        return out;
    }
    // Product of primes 0..level.
    static u128 modulusQ(u64 level) { return crtModulus(primes(), level + 1); }

    std::mt19937_64 rng{20261210};

    // A polynomial with random residues on every limb it holds.
    Polynomial randomPoly(u64 level, bool mod_up = false, bool ntt = false) {
        Polynomial p(ctx(), mod_up, ntt);
        p.setLevel(level);
        const u64 limbs = p.getData().size() / kN;
        for (u64 i = 0; i < limbs; ++i) {
            const auto r = randomResidues(kN, prime(i), rng);
            std::copy(r.begin(), r.end(), p.getLimb(i));
        }
        return p;
    }

    // Coefficient j of p as an integer modulo Q_level (p in coefficient form).
    static std::vector<u128> values(const Polynomial &p, u64 level) {
        std::vector<u128> out(kN);
        const auto ps = primes();
        for (u64 j = 0; j < kN; ++j) {
            std::vector<u64> residues(level + 1);
            for (u64 i = 0; i <= level; ++i)
                residues[i] = p.getLimb(i)[j];
            out[j] = crtReconstruct(residues, ps, level + 1);
        }
        return out;
    }

    // A coefficient-form polynomial at `level` holding the given integers.
    static Polynomial fromValues(const std::vector<u128> &v, u64 level, bool mod_up = false) {
        Polynomial p(ctx(), mod_up, false);
        p.setLevel(level);
        for (u64 i = 0; i < p.getData().size() / kN; ++i)
            for (u64 j = 0; j < kN; ++j)
                p.getLimb(i)[j] = static_cast<u64>(v[j] % prime(i));
        return p;
    }

    std::vector<u128> randomValues(u128 bound) {
        std::vector<u128> v(kN);
        for (auto &x : v)
            x = ((static_cast<u128>(rng()) << 64) | rng()) % bound;
        return v;
    }

    static std::vector<u64> limb(const Polynomial &p, u64 i) {
        return std::vector<u64>(p.getLimb(i), p.getLimb(i) + kN);
    }

    // Element with the given residues 0..level (mod-up: all residues).
    static LevelledElement element(const std::vector<u64> &residues, u64 level,
                                   bool mod_up = false) {
        LevelledElement e(0, ctx(), mod_up, level);
        for (u64 i = 0; i < residues.size() && i < e.getData().size(); ++i)
            e.getData().getData()[i] = residues[i];
        return e;
    }

    static Polynomial transformed(const Polynomial &p) {
        Polynomial out(p);
        chain().forwardNTT<AlwaysValidator, 1>(p, out, {});
        return out;
    }
    static Polynomial inverted(const Polynomial &p) {
        Polynomial out(p);
        chain().backwardNTT<AlwaysValidator, 1>(p, out, {});
        return out;
    }
};

} // namespace Quelt::test
