#include "arith/Modulus.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace Quelt;

namespace {

using Quelt::test::expectThrowsMessage;

// Primes p = 1 mod 64 of 17, 25, 40, 50, 58, 60 and 61 bits (the largest of
// their size), and the 62-bit prime 2^61 + 10485761 (= 1 mod 2^20). The
// constants were computed with Python integers. 64 | p - 1 allows type 0 with
// N = 32 and types 1 and 2 with N = 16.
struct PrimeCase {
    u64 p;
    u64 prime_log;
    u64 barrett_ratio;
    u64 word_quotient;
    u64 word_residue;
    u64 word_residue_companion;
    NttType type;
    u64 degree;
};

const PrimeCase kPrimes[] = {
    {131009ULL, 16, 4613903699801651698ULL, 140805166619923ULL, 59309ULL, 8351013627061040056ULL,
     NttType::NEGACYCLIC, 32},
    {33553537ULL, 24, 4611809029571831260ULL, 549770477959ULL, 4560633ULL, 2507301384206207933ULL,
     NttType::NEGACYCLIC_SQUARE_4N, 16},
    {1099511626049ULL, 39, 4611686025670950923ULL, 16777216ULL, 28974252032ULL,
     486107285542830337ULL, NttType::CONJUGATE_INVARIANT, 16},
    {1125899906842177ULL, 49, 4611686018429218816ULL, 16384ULL, 7323648ULL, 119990648832ULL,
     NttType::NONE, 64},
    {288230376151711681ULL, 57, 4611686018427388912ULL, 64ULL, 4032ULL, 258048ULL,
     NttType::NEGACYCLIC, 32},
    {1152921504606844417ULL, 59, 4611686018427398140ULL, 16ULL, 40944ULL, 655104ULL,
     NttType::NEGACYCLIC_SQUARE_4N, 16},
    {2305843009213692737ULL, 60, 4611686018427390334ULL, 8ULL, 9720ULL, 77760ULL,
     NttType::CONJUGATE_INVARIANT, 16},
    {2305843009224179713ULL, 61, 9223372036812832764ULL, 7ULL, 2305843009140293625ULL,
     18446744073038462912ULL, NttType::NONE, 48},
};

constexpr u64 kAllOnes = std::numeric_limits<u64>::max();

u64 mulMod(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }
u64 addMod(u64 a, u64 b, u64 p) { return static_cast<u64>((static_cast<u128>(a) + b) % p); }
u64 subMod(u64 a, u64 b, u64 p) { return addMod(a % p, p - b % p, p); }
u64 negMod(u64 a, u64 p) { return (p - a % p) % p; }
u64 companionOf(u64 w, u64 p) { return static_cast<u64>((static_cast<u128>(w) << 64) / p); }
// The unreduced Shoup product x w - p floor(x w' / 2^64), computed with the
// companion obtained by a true division.
u64 lazyShoup(u64 x, u64 w, u64 p) {
    const u64 q = static_cast<u64>((static_cast<u128>(x) * companionOf(w, p)) >> 64);
    return x * w - p * q;
}

// The moduli of the table, built once (setting up the transforms of the
// larger primes takes a moment) and shared by the tests.
const Modulus &modulusOf(const PrimeCase &c) {
    static const std::vector<Modulus> moduli = [] {
        std::vector<Modulus> v;
        for (const auto &x : kPrimes)
            v.emplace_back(x.degree, x.p, x.type);
        return v;
    }();
    return moduli.at(static_cast<std::size_t>(&c - kPrimes));
}

// n residues below p: boundary values first, then uniform draws.
std::vector<u64> residues(u64 p, u64 n, std::mt19937_64 &rng) {
    std::vector<u64> v{0, 1, p - 1, p - 2, p / 2, p / 2 + 1};
    std::uniform_int_distribution<u64> draw(0, p - 1);
    while (v.size() < n)
        v.push_back(draw(rng));
    v.resize(n);
    return v;
}

// n words below 4p (lazily reduced values), with the bounds 2p - 1 and 4p - 1.
std::vector<u64> lazyValues(u64 p, u64 n, std::mt19937_64 &rng) {
    std::vector<u64> v{0, p - 1, p, 2 * p - 1, 2 * p, 4 * p - 1};
    std::uniform_int_distribution<u64> draw(0, 4 * p - 1);
    while (v.size() < n)
        v.push_back(draw(rng));
    v.resize(n);
    return v;
}

} // namespace

TEST(ModulusTest, ConstantsMatchIndependentValues) {
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        EXPECT_EQ(m.getPrime(), c.p);
        EXPECT_EQ(m.getTwicePrime(), 2 * c.p);
        EXPECT_EQ(m.getPrimeLog(), c.prime_log);
        EXPECT_EQ(m.getBarrettRatio(), c.barrett_ratio);
        EXPECT_EQ(m.getDegree(), c.degree);
        EXPECT_EQ(m.getWordQuotient(), c.word_quotient);
        EXPECT_EQ(m.getWordResidue(), c.word_residue);
        EXPECT_EQ(m.getWordResidueCompanion(), c.word_residue_companion);
        EXPECT_EQ(m.getNttType(), c.type);
        EXPECT_EQ(m.getNTT() == nullptr, c.type == NttType::NONE);
        for (u64 w : {u64{0}, u64{1}, c.p / 3, c.p - 1})
            EXPECT_EQ(m.shoupCompanion(w), companionOf(w, c.p));
    }
}

TEST(ModulusTest, CopiesShareTheTransform) {
    const Modulus m(16, 1152921504606844417ULL, NttType::NEGACYCLIC);
    const Modulus copy = m;
    ASSERT_NE(m.getNTT(), nullptr);
    EXPECT_EQ(copy.getNTT().get(), m.getNTT().get());
}

TEST(ModulusTest, ConstructionRejectsBadArguments) {
    const std::string prime_message = "[Modulus] The prime must be at least 2 and below 2^62";
    for (u64 p : {u64{0}, u64{1}, u64{1} << 62, kAllOnes})
        expectThrowsMessage([&] { Modulus(16, p, NttType::NONE); }, prime_message);
    for (std::uint32_t t : {4u, 0xFFFFFFFFu})
        expectThrowsMessage([&] { Modulus(16, 131009, static_cast<NttType>(t)); },
                            "[Modulus] Not supported NTT type");
    for (auto t :
         {NttType::NEGACYCLIC, NttType::NEGACYCLIC_SQUARE_4N, NttType::CONJUGATE_INVARIANT})
        expectThrowsMessage([&] { Modulus(0, 131009, t); }, "[NTT] degree must be a power of two.");
    // Type NONE puts no condition on p or N.
    const Modulus lwe(7, 11, NttType::NONE);
    EXPECT_EQ(lwe.getNTT(), nullptr);
    EXPECT_EQ(Modulus(0, 11, NttType::NONE).getDegree(), 0u);
}

TEST(ModulusTest, ElementWiseKernelsMatchOracle) {
    std::mt19937_64 rng(101);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p, n = 200;
        const auto a = residues(p, n, rng);
        auto b = residues(p, n, rng);
        std::reverse(b.begin(), b.end());
        std::vector<u64> add(n), sub(n), mul(n);
        m.addVector(add.data(), a.data(), b.data(), n);
        m.subVector(sub.data(), a.data(), b.data(), n);
        m.mulVector(mul.data(), a.data(), b.data(), n);
        for (u64 i = 0; i < n; ++i) {
            EXPECT_EQ(add[i], addMod(a[i], b[i], p));
            EXPECT_EQ(sub[i], subMod(a[i], b[i], p));
            EXPECT_EQ(mul[i], mulMod(a[i], b[i], p));
            EXPECT_EQ(m.barrettProduct(a[i], b[i]), mul[i]);
        }
        // Outputs may alias inputs position for position.
        std::vector<u64> alias = a;
        m.mulVector(alias.data(), alias.data(), b.data(), n);
        EXPECT_EQ(alias, mul);

        const u64 zero = 0, one = 1;
        u64 out = 7;
        m.subVector(&out, &one, &one, 1);
        EXPECT_EQ(out, 0u);
        m.subVector(&out, &zero, &one, 1);
        EXPECT_EQ(out, p - 1);

        // Constants of any size are reduced first.
        for (u64 k : {u64{0}, u64{3}, p - 1, p, p + 3, 3 * p + 5, kAllOnes}) {
            std::vector<u64> sum(n);
            m.constAdd(a.data(), k, sum.data(), n);
            for (u64 i = 0; i < n; ++i)
                EXPECT_EQ(sum[i], addMod(a[i], k % p, p));
        }
        std::vector<u64> plus3(n), plusP3(n);
        m.constAdd(a.data(), 3, plus3.data(), n);
        m.constAdd(a.data(), p + 3, plusP3.data(), n);
        EXPECT_EQ(plus3, plusP3);
    }
}

TEST(ModulusTest, AccumulatingAndTwoOutputProductsMatchOracle) {
    std::mt19937_64 rng(202);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p, n = c.degree;
        const auto a = residues(p, n, rng);
        const auto b = residues(p, n, rng);
        const auto x = residues(p, n, rng);
        const auto acc1 = residues(p, n, rng);
        const auto acc2 = residues(p, n, rng);

        std::vector<u64> out1(n), out2(n);
        m.mulVector(out1.data(), out2.data(), a.data(), b.data(), x.data());
        for (u64 i = 0; i < n; ++i) {
            EXPECT_EQ(out1[i], mulMod(a[i], b[i], p));
            EXPECT_EQ(out2[i], mulMod(a[i], x[i], p));
        }

        std::vector<u64> single = acc1;
        m.mulAddVector(single.data(), a.data(), b.data());
        out1 = acc1;
        out2 = acc2;
        m.mulAddVector(out1.data(), out2.data(), a.data(), b.data(), x.data());
        for (u64 i = 0; i < n; ++i) {
            EXPECT_EQ(single[i], addMod(acc1[i], mulMod(a[i], b[i], p), p));
            EXPECT_EQ(out1[i], single[i]);
            EXPECT_EQ(out2[i], addMod(acc2[i], mulMod(a[i], x[i], p), p));
        }

        // The first output is complete before the second reads a: with out1
        // aliasing a, the second product sees the new values.
        std::vector<u64> shared = a;
        m.mulVector(shared.data(), out2.data(), shared.data(), b.data(), x.data());
        for (u64 i = 0; i < n; ++i)
            EXPECT_EQ(out2[i], mulMod(mulMod(a[i], b[i], p), x[i], p));
        shared = a;
        out2 = acc2;
        m.mulAddVector(shared.data(), out2.data(), shared.data(), b.data(), x.data());
        for (u64 i = 0; i < n; ++i) {
            const u64 first = addMod(a[i], mulMod(a[i], b[i], p), p);
            EXPECT_EQ(shared[i], first);
            EXPECT_EQ(out2[i], addMod(acc2[i], mulMod(first, x[i], p), p));
        }
    }
}

TEST(ModulusTest, TensorIsTheProductOfTwoLinearPolynomials) {
    std::mt19937_64 rng(303);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p, n = c.degree;
        const auto a0 = residues(p, n, rng);
        const auto a1 = residues(p, n, rng);
        auto b0 = residues(p, n, rng);
        auto b1 = residues(p, n, rng);
        std::reverse(b0.begin(), b0.end());
        std::rotate(b1.begin(), b1.begin() + 3, b1.end());
        std::vector<u64> d0(n), d1(n), d2(n);
        m.tensorVector(d1.data(), d2.data(), d0.data(), a0.data(), a1.data(), b0.data(), b1.data());
        for (u64 i = 0; i < n; ++i) {
            EXPECT_EQ(d0[i], mulMod(a0[i], b0[i], p));
            EXPECT_EQ(d1[i], addMod(mulMod(a0[i], b1[i], p), mulMod(a1[i], b0[i], p), p));
            EXPECT_EQ(d2[i], mulMod(a1[i], b1[i], p));
        }
    }
}

TEST(ModulusTest, InnerProductIsExact) {
    std::mt19937_64 rng(404);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p;
        const auto a = residues(p, 300, rng);
        const auto b = residues(p, 300, rng);
        u64 expected = 0;
        for (u64 i = 0; i < a.size(); ++i)
            expected = addMod(expected, mulMod(a[i], b[i], p), p);
        u64 out = kAllOnes;
        m.innerProduct(a.data(), b.data(), &out, a.size());
        EXPECT_EQ(out, expected);

        out = kAllOnes;
        m.innerProduct(nullptr, nullptr, &out, 0);
        EXPECT_EQ(out, 0u);

        // Every term at its largest: the accumulator wraps many times.
        const std::vector<u64> top(1000, p - 1);
        m.innerProduct(top.data(), top.data(), &out, top.size());
        EXPECT_EQ(out, mulMod(1000 % p, mulMod(p - 1, p - 1, p), p));
    }
}

TEST(ModulusTest, IsZeroLooksAtTheWholeLimb) {
    const Modulus m(16, 131009, NttType::NONE);
    std::vector<u64> limb(17, 0);
    limb[16] = 5; // beyond the degree
    EXPECT_TRUE(m.isZero(limb.data()));
    limb[15] = 1;
    EXPECT_FALSE(m.isZero(limb.data()));
}

TEST(ModulusTest, ConstantProductsMatchOracleAndLazyFormula) {
    std::mt19937_64 rng(505);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p, n = 100;
        auto x = lazyValues(p, n, rng);
        x.push_back(kAllOnes); // any word is a valid input of a Shoup product
        const auto a = residues(p, n, rng);
        const auto b = residues(p, n, rng);
        for (u64 k : {u64{0}, u64{3}, p - 1, p + 3, kAllOnes, rng()}) {
            SCOPED_TRACE(k);
            const u64 w = k % p;
            std::vector<u64> full(x.size()), lazy(x.size());
            m.constMult<1>(x.data(), k, full.data(), x.size());
            m.constMult<2>(x.data(), k, lazy.data(), x.size());
            for (u64 i = 0; i < x.size(); ++i) {
                EXPECT_EQ(full[i], mulMod(x[i], w, p));
                EXPECT_EQ(lazy[i], lazyShoup(x[i], w, p));
                EXPECT_LT(lazy[i], 2 * p);
            }
            std::vector<u64> full_sub(n), lazy_sub(n);
            m.subAndConstMult<1>(a.data(), b.data(), k, full_sub.data(), n);
            m.subAndConstMult<2>(a.data(), b.data(), k, lazy_sub.data(), n);
            for (u64 i = 0; i < n; ++i) {
                EXPECT_EQ(full_sub[i], mulMod(subMod(a[i], b[i], p), w, p));
                EXPECT_EQ(lazy_sub[i], lazyShoup(p + a[i] - b[i], w, p));
                EXPECT_LT(lazy_sub[i], 2 * p);
            }
        }
        std::vector<u64> by3(n), byP3(n);
        m.constMult<1>(a.data(), 3, by3.data(), n);
        m.constMult<1>(a.data(), p + 3, byP3.data(), n);
        EXPECT_EQ(by3, byP3);
    }
}

TEST(ModulusTest, SwitchingKeyBodyMatchesOracle) {
    std::mt19937_64 rng(515);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p, n = 100;
        const auto e = residues(p, n, rng), a = residues(p, n, rng);
        const auto s = residues(p, n, rng), t = residues(p, n, rng);
        for (u64 k : {u64{0}, u64{1}, p - 1, p + 5, kAllOnes}) {
            SCOPED_TRACE(k);
            std::vector<u64> with(n), without(n);
            m.switchingKeyBody(with.data(), e.data(), a.data(), s.data(), t.data(), k, n);
            m.switchingKeyBody(without.data(), e.data(), a.data(), s.data(), nullptr, k, n);
            for (u64 i = 0; i < n; ++i) {
                const u64 body = subMod(e[i], mulMod(a[i], s[i], p), p);
                EXPECT_EQ(without[i], body);
                EXPECT_EQ(with[i], addMod(body, mulMod(t[i], k % p, p), p));
            }
        }
    }
}

TEST(ModulusTest, SignedConstantProductsScatterAndMatchOracle) {
    std::mt19937_64 rng(606);
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p;
        const auto sp = static_cast<std::int64_t>(p);
        // Values below p in magnitude (the shift-only path when c = 1), up to
        // 2^63 - p (an offset makes them non-negative), and beyond.
        std::vector<std::int64_t> small{0, 1, -1, sp - 1, 1 - sp, sp / 2, -sp / 2};
        std::vector<std::int64_t> medium = small;
        for (std::int64_t v : {sp, -sp, 3 * sp + 5, kMax - sp + 1, kMin + sp})
            medium.push_back(v);
        for (int i = 0; i < 20; ++i)
            medium.push_back(static_cast<std::int64_t>(rng() >> 2) * (i % 2 ? 1 : -1));
        std::vector<std::int64_t> large = medium;
        for (std::int64_t v : {kMin, kMax, kMin + 1, kMax - sp + 2})
            large.push_back(v);
        for (int i = 0; i < 20; ++i)
            large.push_back(static_cast<std::int64_t>(rng()));
        auto expected = [p](std::int64_t v, u64 k) {
            const u64 magnitude = v < 0 ? u64{0} - static_cast<u64>(v) : static_cast<u64>(v);
            const u64 r = mulMod(magnitude % p, k % p, p);
            return v < 0 ? negMod(r, p) : r;
        };
        for (const auto *values : {&small, &medium, &large}) {
            u64 bound = 0;
            for (std::int64_t v : *values)
                bound = std::max(bound, v < 0 ? u64{0} - static_cast<u64>(v) : static_cast<u64>(v));
            for (u64 k : {u64{1}, p + 1, u64{0}, p, u64{3}, kAllOnes, rng()}) {
                SCOPED_TRACE(k);
                const u64 n = values->size(), stride = 3;
                std::vector<u64> out(n * stride, 0xabcdef);
                m.signedConstMult(values->data(), bound, k, out.data(), n, stride);
                for (u64 i = 0; i < n; ++i) {
                    EXPECT_EQ(out[i * stride], expected((*values)[i], k)) << (*values)[i];
                    EXPECT_EQ(out[i * stride + 1], 0xabcdefu);
                    EXPECT_EQ(out[i * stride + 2], 0xabcdefu);
                }
            }
        }
    }
}

namespace {
// The centred lift of r modulo q, reduced modulo p.
u64 centredModP(u64 r, u64 q, u64 p) {
    if (r <= q / 2)
        return r % p;
    return negMod(q - r, p);
}
} // namespace

TEST(ModulusTest, NormalizeModLiftsCentredResidues) {
    std::mt19937_64 rng(606);
    for (const auto &c : kPrimes) {
        const Modulus &m = modulusOf(c);
        const u64 p = c.p;
        for (const auto &other : kPrimes) {
            const u64 q = other.p;
            SCOPED_TRACE(std::to_string(p) + " from " + std::to_string(q));
            auto in = residues(q, 64, rng);
            in.push_back(q / 2 + 1);
            const u64 n = in.size();
            std::vector<u64> out(n);
            m.normalizeModVector(out.data(), in.data(), q, n);
            for (u64 i = 0; i < n; ++i)
                EXPECT_EQ(out[i], centredModP(in[i], q, p)) << in[i];
            // q - 1 stands for -1 and 1 for 1, whichever prime is larger.
            EXPECT_EQ(out[2], p - 1);
            EXPECT_EQ(out[1], 1u);

            // The fused lift and constant product over the degree, lazily
            // reduced: the Shoup product of in[i] - q + (q mod p) + p.
            const u64 k = rng();
            const u64 w = k % p;
            const auto lifted = residues(q, c.degree, rng);
            std::vector<u64> product(c.degree);
            m.normalizeModAndConstMult<false>(lifted.data(), k, q, product.data());
            const auto start = lazyValues(p, c.degree, rng);
            std::vector<u64> acc(start.size());
            for (u64 i = 0; i < acc.size(); ++i)
                acc[i] = start[i] % (2 * p);
            const auto acc_before = acc;
            m.normalizeModAndConstMult<true>(lifted.data(), k, q, acc.data());
            for (u64 i = 0; i < c.degree; ++i) {
                const u64 x = lifted[i] > q / 2 ? lifted[i] + p - q % p : lifted[i];
                const u64 expected = lazyShoup(x, w, p);
                EXPECT_EQ(product[i], expected);
                EXPECT_LT(product[i], 2 * p);
                EXPECT_EQ(product[i] % p, mulMod(centredModP(lifted[i], q, p), w, p));
                const u64 sum = acc_before[i] + expected;
                EXPECT_EQ(acc[i], sum >= 2 * p ? sum - 2 * p : sum);
            }
        }
    }
}

TEST(ModulusTest, NormalizeModStaysBelowPrimeWhenSourceIsTwicePlusOne) {
    // 23 = 2 * 11 + 1: the value 11 modulo 23 is +11, which is 0 modulo 11.
    const Modulus m(0, 11, NttType::NONE);
    std::vector<u64> in(23);
    for (u64 i = 0; i < in.size(); ++i)
        in[i] = i;
    std::vector<u64> out(in.size());
    m.normalizeModVector(out.data(), in.data(), 23, in.size());
    for (u64 i = 0; i < in.size(); ++i)
        EXPECT_EQ(out[i], centredModP(i, 23, 11)) << i;
    EXPECT_EQ(out[11], 0u);
}

namespace {
// in * X^k modulo X^n + 1, one coefficient at a time.
std::vector<u64> monomialOracle(const std::vector<u64> &in, std::int64_t k, u64 p) {
    const auto n = static_cast<std::int64_t>(in.size());
    std::vector<u64> out(in.size());
    for (std::int64_t j = 0; j < n; ++j) {
        const std::int64_t e = ((j + k) % (2 * n) + 2 * n) % (2 * n);
        if (e < n)
            out[e] = in[j];
        else
            out[e - n] = negMod(in[j], p);
    }
    return out;
}
// X^m * in(X^-1) modulo X^n + 1, with X^-j = -X^(n - j).
std::vector<u64> conjugateOracle(const std::vector<u64> &in, std::int64_t m, u64 p) {
    const auto n = static_cast<std::int64_t>(in.size());
    std::vector<u64> out(in.size());
    for (std::int64_t j = 0; j < n; ++j) {
        const std::int64_t e = m - j;
        if (e >= 0)
            out[e] = in[j];
        else
            out[n + e] = negMod(in[j], p);
    }
    return out;
}
} // namespace

TEST(ModulusTest, MonomialAndConjugatePermutationsMatchOracle) {
    std::mt19937_64 rng(707);
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p;
        const u64 n = 16;
        auto in = residues(p, n, rng);
        in[5] = 0; // a zero stays zero under negation
        const auto sn = static_cast<std::int64_t>(n);
        std::vector<u64> out(n);
        for (std::int64_t k : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{7},
                               std::int64_t{-9}, sn - 1, -sn + 1, sn, -sn}) {
            m.multMonomial(in.data(), out.data(), n, k);
            EXPECT_EQ(out, monomialOracle(in, k, p)) << k;
        }
        // k = n and k = -n negate the limb; k = 1 brings the last one round.
        m.multMonomial(in.data(), out.data(), n, sn);
        for (u64 i = 0; i < n; ++i)
            EXPECT_EQ(out[i], negMod(in[i], p));
        m.multMonomial(in.data(), out.data(), n, 1);
        EXPECT_EQ(out[0], negMod(in[n - 1], p));

        for (u64 shift = 0; shift < n; ++shift) {
            m.conjugateInvert(in.data(), out.data(), n, shift);
            EXPECT_EQ(out, conjugateOracle(in, static_cast<std::int64_t>(shift), p)) << shift;
        }
        m.conjugateInvert(in.data(), out.data(), n, n - 1);
        EXPECT_EQ(out, std::vector<u64>(in.rbegin(), in.rend()));
        m.conjugateInvert(in.data(), out.data(), n, 0);
        EXPECT_EQ(out[0], in[0]);
        EXPECT_EQ(out[1], negMod(in[n - 1], p));
    }
}

TEST(ModulusTest, PermutationsRejectOutOfRangeShiftsAndOverlap) {
    const Modulus m(16, 131009, NttType::NONE);
    std::vector<u64> in(32, 1), out(32, 0);
    const std::string range = "[Modulus] multMonomial: the exponent must lie in [-n, n]";
    for (std::int64_t k :
         {std::int64_t{17}, std::int64_t{-17}, std::numeric_limits<std::int64_t>::min(),
          std::numeric_limits<std::int64_t>::max()})
        expectThrowsMessage([&] { m.multMonomial(in.data(), out.data(), 16, k); }, range);
    const std::string monomial_overlap =
        "[Modulus] multMonomial: the input and output limbs must not overlap";
    expectThrowsMessage([&] { m.multMonomial(in.data(), in.data(), 16, 1); }, monomial_overlap);
    expectThrowsMessage([&] { m.multMonomial(in.data(), in.data() + 15, 16, 1); },
                        monomial_overlap);
    m.multMonomial(in.data(), in.data() + 16, 16, 1); // adjacent limbs are fine

    expectThrowsMessage([&] { m.conjugateInvert(in.data(), out.data(), 16, 16); },
                        "[Modulus] conjugateInvert: the shift must be below the limb length");
    expectThrowsMessage([&] { m.conjugateInvert(in.data(), out.data(), 0, 0); },
                        "[Modulus] conjugateInvert: the shift must be below the limb length");
    expectThrowsMessage([&] { m.conjugateInvert(in.data() + 4, in.data(), 16, 3); },
                        "[Modulus] conjugateInvert: the input and output limbs must not overlap");
    EXPECT_EQ(out, std::vector<u64>(32, 0)); // nothing written by a refused call
}

TEST(ModulusTest, MakeIntegerTruncatesAndReduces) {
    for (const auto &c : kPrimes) {
        SCOPED_TRACE(c.p);
        const Modulus &m = modulusOf(c);
        const u64 p = c.p;
        EXPECT_EQ(m.makeInteger(2.5, 1), 5u);
        EXPECT_EQ(m.makeInteger(-1.0, 0), p - 1);
        EXPECT_EQ(m.makeInteger(-1e-30, 40), 0u);
        EXPECT_EQ(m.makeInteger(-0.0, 10), 0u);
        EXPECT_EQ(m.makeInteger(0.0, 0), 0u);
        // Truncation toward zero, not rounding.
        EXPECT_EQ(m.makeInteger(2.9, 0), 2u);
        EXPECT_EQ(m.makeInteger(-2.9, 0), p - 2);
        EXPECT_EQ(m.makeInteger(0.7, 2), 2u);
        // Large magnitudes use the whole 128-bit range.
        EXPECT_EQ(m.makeInteger(1.0, 100), static_cast<u64>((u128{1} << 100) % p));
        EXPECT_EQ(m.makeInteger(-1.0, 100), negMod(static_cast<u64>((u128{1} << 100) % p), p));
        EXPECT_EQ(m.makeInteger(0.75, 128), static_cast<u64>((u128{3} << 126) % p));
        const u128 largest = ((u128{1} << 53) - 1) << 75; // the largest double below 2^128
        EXPECT_EQ(m.makeInteger(0x1.fffffffffffffp127, 0), static_cast<u64>(largest % p));
        EXPECT_EQ(m.makeInteger(1.0, -std::numeric_limits<double>::infinity()), 0u);
    }
}

TEST(ModulusTest, MakeIntegerRejectsValuesOutside128Bits) {
    const Modulus m(16, 131009, NttType::NONE);
    const std::string message =
        "[Modulus] makeInteger: the scaled value must be finite and below 2^128";
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, double> bad[] = {{nan, 0},   {-nan, 3},   {inf, 0},      {-inf, 0},
                                             {1.0, 128}, {-1.0, 128}, {0x1p100, 28}, {1.0, 1e6},
                                             {1.0, nan}, {1.0, inf},  {0.0, inf}};
    for (const auto &[v, s] : bad)
        expectThrowsMessage([&, v = v, s = s] { (void)m.makeInteger(v, s); }, message);
}

TEST(ModulusTest, BarrettStaysBelowPrimeNearTheTopOfTheRange) {
    // For these primes (about 0.93 * 2^62) the Barrett quotient estimate is
    // two too small on the pairs below; a single correction would return
    // p + 1 and p + 2.
    const struct {
        u64 p, a, b, product;
    } cases[] = {
        {4288867997137467307ULL, 4288867997137467306ULL, 4288867997137467306ULL, 1},
        {4288867997137466129ULL, 4288867997137466128ULL, 4288867997137466127ULL, 2},
    };
    std::mt19937_64 rng(808);
    for (const auto &c : cases) {
        const Modulus m(16, c.p, NttType::NONE);
        u64 out = 0;
        m.mulVector(&out, &c.a, &c.b, 1);
        EXPECT_EQ(out, c.product);
        const auto a = residues(c.p, 2000, rng);
        const auto b = residues(c.p, 2000, rng);
        for (u64 i = 0; i < a.size(); ++i)
            EXPECT_EQ(m.barrettProduct(a[i], b[i]), mulMod(a[i], b[i], c.p));
    }
}

// The row-list kernels against 128-bit products: one row times each listed
// row, plain and after a slot permutation, set and accumulated; rows longer
// than one internal chunk, outputs that are `a` or their own input.
TEST(ModulusTest, RowListKernelsMultiplyEveryRow) {
    std::mt19937_64 rng(4242);
    for (const PrimeCase &c : kPrimes) {
        SCOPED_TRACE(c.p);
        for (u64 n : {u64{16}, u64{600}}) {
            const Modulus m(n, c.p, NttType::NONE);
            const auto a = residues(c.p, n, rng);
            std::vector<std::vector<u64>> in = {residues(c.p, n, rng), residues(c.p, n, rng),
                                                residues(c.p, n, rng)};
            std::vector<std::vector<u64>> start = {residues(c.p, n, rng), residues(c.p, n, rng),
                                                   residues(c.p, n, rng)};
            // A slot table: the reversed order with the first half rotated.
            std::vector<u64> slots(n);
            for (u64 s = 0; s < n; ++s)
                slots[s] = s < n / 2 ? (s + 3) % (n / 2) : n - 1 - (s - n / 2);
            for (bool permuted : {false, true}) {
                for (bool accumulate : {false, true}) {
                    SCOPED_TRACE(std::to_string(permuted) + std::to_string(accumulate));
                    std::vector<std::vector<u64>> out = start;
                    std::vector<u64 *> outs = {out[0].data(), out[1].data(), out[2].data()};
                    const std::vector<const u64 *> ins = {in[0].data(), in[1].data(), in[2].data()};
                    if (permuted && accumulate)
                        m.frobeniusAndMulAddVector(outs, a.data(), ins, slots);
                    else if (permuted)
                        m.frobeniusAndMulVector(outs, a.data(), ins, slots);
                    else if (accumulate)
                        m.mulAddVector(outs, a.data(), ins);
                    else
                        m.mulVector(outs, a.data(), ins);
                    for (u64 j = 0; j < 3; ++j)
                        for (u64 s = 0; s < n; ++s) {
                            const u64 x = in[j][permuted ? slots[s] : s];
                            const u64 product = mulMod(a[s], x, c.p);
                            ASSERT_EQ(out[j][s],
                                      accumulate ? addMod(start[j][s], product, c.p) : product)
                                << j << " " << s;
                        }
                }
            }
            // Output 0 is `a` and output 1 its own input: both still read
            // their values before they are written.
            std::vector<u64> shared = a;
            std::vector<u64> own = in[1];
            std::vector<u64 *> outs = {shared.data(), own.data()};
            const std::vector<const u64 *> ins = {in[0].data(), own.data()};
            m.mulAddVector(outs, shared.data(), ins);
            for (u64 s = 0; s < n; ++s) {
                ASSERT_EQ(shared[s], addMod(a[s], mulMod(a[s], in[0][s], c.p), c.p));
                ASSERT_EQ(own[s], addMod(in[1][s], mulMod(a[s], in[1][s], c.p), c.p));
            }
        }
    }
}

TEST(ModulusTest, RowListKernelsRefuseBadListsBeforeWriting) {
    const u64 n = 16;
    const Modulus m(n, 131009, NttType::NONE);
    std::vector<u64> a(n, 3), x(n, 5), y(2 * n, 7), out(n, 11);
    std::vector<u64> identity(n);
    for (u64 s = 0; s < n; ++s)
        identity[s] = s;
    std::vector<u64> far = identity;
    far[n - 1] = n;
    const std::vector<u64> short_table(n - 1, 0);
    using Outs = std::vector<u64 *>;
    using Ins = std::vector<const u64 *>;
    struct Case {
        const char *name;
        std::function<void()> call;
        const char *message;
    };
    Outs two = {out.data(), y.data()};
    Outs one = {out.data()};
    Outs null_out = {nullptr};
    Outs shifted = {y.data() + 1, y.data() + n};
    Outs on_input = {y.data()};
    Outs own = {x.data()};
    const Case cases[] = {
        {"lengths", [&] { m.mulVector(two, a.data(), Ins{x.data()}); },
         Modulus::kRowListLengthMessage},
        {"null a", [&] { m.mulAddVector(one, nullptr, Ins{x.data()}); },
         Modulus::kRowListNullMessage},
        {"null output", [&] { m.mulVector(null_out, a.data(), Ins{x.data()}); },
         Modulus::kRowListNullMessage},
        {"null input", [&] { m.mulVector(one, a.data(), Ins{nullptr}); },
         Modulus::kRowListNullMessage},
        {"outputs overlap",
         [&] {
             m.mulVector(shifted, a.data(), Ins{x.data(), x.data()});
         },
         Modulus::kRowListOverlapMessage},
        {"output shifted on a", [&] { m.mulVector(one, out.data() + 1, Ins{x.data()}); },
         Modulus::kRowListOverlapMessage},
        {"output on another input", [&] { m.mulVector(on_input, a.data(), Ins{y.data() + n / 2}); },
         Modulus::kRowListOverlapMessage},
        {"permuted output on its input",
         [&] { m.frobeniusAndMulVector(own, a.data(), Ins{x.data()}, identity); },
         Modulus::kRowListOverlapMessage},
        {"short table",
         [&] { m.frobeniusAndMulAddVector(one, a.data(), Ins{x.data()}, short_table); },
         Modulus::kSlotTableMessage},
        {"position out of range",
         [&] { m.frobeniusAndMulVector(one, a.data(), Ins{x.data()}, far); },
         Modulus::kSlotTableMessage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.call, c.message);
    }
    EXPECT_EQ(out, std::vector<u64>(n, 11));
    EXPECT_EQ(y, std::vector<u64>(2 * n, 7));
    EXPECT_EQ(x, std::vector<u64>(n, 5));
    // Empty lists do nothing, with any `a`.
    Outs none;
    m.mulVector(none, nullptr, Ins{});
    m.frobeniusAndMulAddVector(none, nullptr, Ins{}, identity);
}
