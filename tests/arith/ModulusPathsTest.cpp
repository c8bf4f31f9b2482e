// Every vector path of the element-wise kernels of Modulus gives the scalar
// path's words: random and boundary residues, lengths that are not multiples
// of the vector width, aliased outputs where the kernels allow them.

#include "arith/Modulus.hpp"

#include "support/SimdPaths.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace Quelt;
using namespace Quelt::test;

namespace {

using Words = std::vector<u64>;

// Primes (found with a short big-integer script) on both sides of the 2^50
// bound of the IFMA kernels and up to the largest size the library accepts,
// and the smallest odd prime.
constexpr u64 kPrimes[] = {
    3ULL,
    1073741789ULL,       // largest below 2^30
    4398046511093ULL,    // largest below 2^42
    1125899906842597ULL, // largest below 2^50
    // Below 2^50: the quotient estimate of the 52-bit Barrett product of
    // (p - 1)^2 falls two short, so both final subtractions are needed.
    1125899875455323ULL,
    4503599627370449ULL,    // largest below 2^52
    1152921504606846883ULL, // largest below 2^60
    2305843009213693951ULL, // 2^61 - 1
    4611686018427387847ULL, // largest below 2^62
};

constexpr u64 kLengths[] = {0, 1, 7, 8, 9, 31, 100, 300};

// Residues below p reaching 0, 1 and p - 1.
Words residues(u64 n, u64 p, std::mt19937_64 &rng) {
    Words v = wordsNearTop(n, p, rng);
    for (u64 i = 1; i < n; i += 5)
        v[i] = i % 2;
    return v;
}

// Any 64-bit words, some at the extremes.
Words anyWords(u64 n, std::mt19937_64 &rng) {
    Words v(n);
    for (u64 i = 0; i < n; ++i)
        v[i] = i % 4 == 0 ? ~u64{0} - i : i % 4 == 1 ? i : rng();
    return v;
}

struct Inputs {
    Words a, b, c, d, out;
};

// One kernel call; it may write any of the five arrays, all of which are
// compared.
struct Case {
    const char *name;
    std::function<void(const Modulus &, Inputs &, u64 n)> run;
};

// The slot table n - 1, ..., 0.
std::vector<u64> reversed(u64 n) {
    std::vector<u64> slots(n);
    for (u64 s = 0; s < n; ++s)
        slots[s] = n - 1 - s;
    return slots;
}

u64 constantOf(const Inputs &in) { return in.c.empty() ? 5 : in.c[0] * 3 + 1; }

const std::vector<Case> &cases() {
    static const std::vector<Case> all = {
        {"addVector", [](const Modulus &m, Inputs &x,
                         u64 n) { m.addVector(x.out.data(), x.a.data(), x.b.data(), n); }},
        {"addVector in place", [](const Modulus &m, Inputs &x,
                                  u64 n) { m.addVector(x.a.data(), x.a.data(), x.b.data(), n); }},
        {"subVector", [](const Modulus &m, Inputs &x,
                         u64 n) { m.subVector(x.out.data(), x.a.data(), x.b.data(), n); }},
        {"subVector in place", [](const Modulus &m, Inputs &x,
                                  u64 n) { m.subVector(x.b.data(), x.a.data(), x.b.data(), n); }},
        {"mulVector", [](const Modulus &m, Inputs &x,
                         u64 n) { m.mulVector(x.out.data(), x.a.data(), x.b.data(), n); }},
        {"mulVector in place", [](const Modulus &m, Inputs &x,
                                  u64 n) { m.mulVector(x.a.data(), x.a.data(), x.a.data(), n); }},
        // out1 aliases c: c is read after out1 is complete.
        {"mulVector two outputs",
         [](const Modulus &m, Inputs &x, u64) {
             m.mulVector(x.c.data(), x.out.data(), x.a.data(), x.b.data(), x.c.data());
         }},
        {"mulAddVector", [](const Modulus &m, Inputs &x,
                            u64) { m.mulAddVector(x.out.data(), x.a.data(), x.b.data()); }},
        {"mulAddVector two outputs",
         [](const Modulus &m, Inputs &x, u64) {
             m.mulAddVector(x.out.data(), x.d.data(), x.a.data(), x.b.data(), x.c.data());
         }},
        // Every output aliases an input.
        {"tensorVector",
         [](const Modulus &m, Inputs &x, u64) {
             m.tensorVector(x.out.data(), x.a.data(), x.b.data(), x.a.data(), x.b.data(),
                            x.c.data(), x.out.data());
         }},
        // Row lists: out and c (in place) from b and c; the permuted forms
        // read b and a through the reversed order.
        {"mulVector over rows",
         [](const Modulus &m, Inputs &x, u64) {
             std::vector<u64 *> outs = {x.out.data(), x.c.data()};
             m.mulVector(outs, x.a.data(), {x.b.data(), x.c.data()});
         }},
        {"mulAddVector over rows",
         [](const Modulus &m, Inputs &x, u64) {
             std::vector<u64 *> outs = {x.out.data(), x.c.data()};
             m.mulAddVector(outs, x.a.data(), {x.b.data(), x.c.data()});
         }},
        {"frobeniusAndMulVector over rows",
         [](const Modulus &m, Inputs &x, u64 n) {
             std::vector<u64 *> outs = {x.out.data(), x.c.data()};
             m.frobeniusAndMulVector(outs, x.a.data(), {x.b.data(), x.a.data()}, reversed(n));
         }},
        {"frobeniusAndMulAddVector over rows",
         [](const Modulus &m, Inputs &x, u64 n) {
             std::vector<u64 *> outs = {x.out.data(), x.c.data()};
             m.frobeniusAndMulAddVector(outs, x.b.data(), {x.b.data(), x.a.data()}, reversed(n));
         }},
        {"innerProduct",
         [](const Modulus &m, Inputs &x, u64 n) {
             u64 sum = 0;
             m.innerProduct(x.a.data(), x.b.data(), &sum, n);
             x.out.push_back(sum);
         }},
        {"constMult<1> of any words",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.constMult<1>(x.d.data(), constantOf(x), x.out.data(), n);
         }},
        {"constMult<2> in place",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.constMult<2>(x.a.data(), constantOf(x), x.a.data(), n);
         }},
        {"constMult<2> of any words",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.constMult<2>(x.d.data(), ~u64{0}, x.out.data(), n);
         }},
        // The gadget term reads the output it is written to.
        {"switchingKeyBody",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.switchingKeyBody(x.out.data(), x.a.data(), x.b.data(), x.c.data(), x.out.data(),
                                constantOf(x), n);
         }},
        {"switchingKeyBody without gadget term, in place",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.switchingKeyBody(x.a.data(), x.a.data(), x.b.data(), x.c.data(), nullptr, 0, n);
         }},
        {"subAndConstMult<1>",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.subAndConstMult<1>(x.a.data(), x.b.data(), constantOf(x), x.out.data(), n);
         }},
        {"subAndConstMult<2> in place",
         [](const Modulus &m, Inputs &x, u64 n) {
             m.subAndConstMult<2>(x.a.data(), x.b.data(), constantOf(x), x.b.data(), n);
         }},
    };
    return all;
}

// The centred lift from a prime q, above and below p, with inputs near 0, q/2
// and q - 1.
void runNormalizeCases(const Modulus &m, std::mt19937_64 &rng, Words &out_lift, Words &out_false,
                       Words &out_true, const Words &start, u64 q, u64 c) {
    const u64 N = m.getDegree();
    Words in = wordsNearTop(N, q, rng);
    for (u64 i = 2; i < N; i += 7)
        in[i] = q / 2 + (i % 3) - 1;
    out_lift = Words(N, 0);
    m.normalizeModVector(out_lift.data(), in.data(), q, N);
    out_false = Words(N, 0);
    m.normalizeModAndConstMult<false>(in.data(), c, q, out_false.data());
    out_true = start;
    m.normalizeModAndConstMult<true>(in.data(), c, q, out_true.data());
}

class ModulusPathsTest : public PathTest {};

} // namespace

TEST_P(ModulusPathsTest, MatchScalarWordForWord) {
    std::mt19937_64 rng(21);
    for (u64 p : kPrimes) {
        for (u64 n : kLengths) {
            // Kernels "over N" run over the degree of the modulus.
            const Modulus m(n, p, NttType::NONE);
            const Inputs inputs{residues(n, p, rng), residues(n, p, rng), residues(n, p, rng),
                                anyWords(n, rng), residues(n, p, rng)};
            for (const Case &c : cases()) {
                const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                    Inputs x = inputs;
                    c.run(m, x, n);
                    return std::vector<Words>{x.a, x.b, x.c, x.d, x.out};
                });
                EXPECT_EQ(scalar, vector) << c.name << ", p = " << p << ", n = " << n;
            }
        }
    }
}

TEST_P(ModulusPathsTest, NormalizeModMatchesScalar) {
    std::mt19937_64 rng(22);
    for (u64 p : kPrimes) {
        for (u64 n : {1, 9, 64}) {
            const Modulus m(n, p, NttType::NONE);
            // out below 2p for the accumulating form.
            const Words start = wordsNearTop(n, 2 * p, rng);
            // q = p and q = 2p + 1 (p = 3) reach the lift's edge cases.
            for (u64 q : {u64{5}, u64{7}, p, u64{1073741789}, u64{1125899906842597},
                          u64{4611686018427387847}}) {
                const u64 c = rng(), seed = rng();
                const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
                    Words lifted, plain, accumulated;
                    std::mt19937_64 same(seed);
                    runNormalizeCases(m, same, lifted, plain, accumulated, start, q, c);
                    return std::vector<Words>{lifted, plain, accumulated};
                });
                EXPECT_EQ(scalar, vector) << "p = " << p << ", q = " << q << ", n = " << n;
            }
        }
    }
}

// Long sums: the lanes fold their 128-bit sums many times over (every 2^11
// products on the IFMA path, every few products for primes near 2^62).
TEST_P(ModulusPathsTest, InnerProductOfLongSumsMatchesScalar) {
    std::mt19937_64 rng(23);
    for (u64 p : kPrimes) {
        const u64 n = 20011;
        const Modulus m(n, p, NttType::NONE);
        Words a(n, p - 1), b = residues(n, p, rng);
        for (u64 i = 0; i < n; i += 3)
            b[i] = p - 1;
        const auto [scalar, vector] = onScalarAndOn(GetParam(), [&] {
            u64 out = 0;
            m.innerProduct(a.data(), b.data(), &out, n);
            return out;
        });
        EXPECT_EQ(scalar, vector) << "p = " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Simd, ModulusPathsTest, testing::ValuesIn(kVectorPaths), pathParamName);
