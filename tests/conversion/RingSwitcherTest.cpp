// The re-indexing copies between ring degrees, constants and LWE vectors:
// every layout against its rule and back, the tiled transposition against a
// naive one, the embedding in transform form on real primes, and every
// refusal in its order.

#include "conversion/RingSwitcher.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/LWE/Context.hpp"
#include "arith/NTT.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using RS = RingSwitcher;
using Polys = std::vector<const Polynomial *>;

// Degree 2^log over the three 40-bit primes of the degree-64 context.
std::shared_ptr<ContextContent> ring(u64 log_degree) {
    return contextFromPrimes(degree64ThreePrimes(), log_degree, {0, 1, 2}, {3}, 3);
}

// Distinct residues in every limb: word j of limb l of polynomial `tag`.
u64 word(u64 tag, u64 l, u64 j) { return tag * 1000000 + l * 10000 + j + 1; }

Polynomial filled(const std::shared_ptr<ContextContent> &ctx, u64 tag, u64 level) {
    Polynomial p(ctx, false, false);
    p.setLevel(level);
    for (u64 l = 0; l <= level; ++l)
        for (u64 j = 0; j < p.getDegree(); ++j)
            p.getLimb(l)[j] = word(tag, l, j);
    return p;
}

void expectSameLimbs(const Polynomial &a, const Polynomial &b) {
    ASSERT_EQ(a.getDegree(), b.getDegree());
    ASSERT_EQ(a.getLevel(), b.getLevel());
    EXPECT_EQ(a.isNTT(), b.isNTT());
    for (u64 l = 0; l <= a.getLevel(); ++l)
        for (u64 j = 0; j < a.getDegree(); ++j)
            ASSERT_EQ(a.getLimb(l)[j], b.getLimb(l)[j]) << "limb " << l << " word " << j;
}

std::string unsupported(const std::string &name) {
    return "Cannot support the function '" + name + "' in the current build configuration";
}

// A copy of p whose array lives on `device`: the residues on another host
// id, an empty array on devices without host memory.
Polynomial on(const Polynomial &p, const Device &device) {
    Polynomial q(p);
    DeviceSpecificArray<u64> array(device.isHost() ? p.getData().size() : 0, device);
    std::copy(p.getData().getData(), p.getData().getData() + array.size(), array.getData());
    q.setData(std::move(array));
    return q;
}

} // namespace

TEST(RingSwitcherTest, SplitThenCombineRestoresEveryLimb) {
    const auto big = ring(4);
    const RS rs;
    for (const u64 log_small : {u64{2}, u64{3}, u64{4}}) {
        SCOPED_TRACE(log_small);
        const auto small = ring(log_small);
        const u64 m = 16 >> log_small;
        for (const u64 level : {u64{2}, u64{1}}) {
            const Polynomial in = filled(big, 1, level);
            std::vector<Polynomial> parts(m, Polynomial(small, false, false));
            std::vector<Polynomial *> outs;
            for (auto &p : parts)
                outs.push_back(&p);
            rs.split(in, outs);
            for (u64 k = 0; k < m; ++k) {
                ASSERT_EQ(parts[k].getLevel(), level);
                for (u64 l = 0; l <= level; ++l)
                    for (u64 j = 0; j < (u64{1} << log_small); ++j)
                        ASSERT_EQ(parts[k].getLimb(l)[j], word(1, l, k + j * m));
            }
            Polynomial back(big, false, false);
            std::vector<const Polynomial *> ins(outs.begin(), outs.end());
            rs.combine(ins, back);
            expectSameLimbs(back, in);
        }
    }
}

TEST(RingSwitcherTest, ExtractAfterEmbedRestoresTheInput) {
    const auto small = ring(2);
    const auto big = ring(4);
    const RS rs;
    const Polynomial in = filled(small, 2, 1);
    Polynomial wide = filled(big, 9, 2);
    rs.embed(in, wide);
    ASSERT_EQ(wide.getLevel(), 1U);
    for (u64 l = 0; l <= 1; ++l)
        for (u64 j = 0; j < 16; ++j)
            ASSERT_EQ(wide.getLimb(l)[j], j % 4 == 0 ? word(2, l, j / 4) : 0);
    Polynomial back(small, false, false);
    rs.extract(wide, back);
    expectSameLimbs(back, in);
}

TEST(RingSwitcherTest, ElementsAndVectors) {
    const auto ctx = ring(3);
    const RS rs;
    const Polynomial in = filled(ctx, 3, 1);
    std::vector<LevelledElement> elements(8, LevelledElement(ctx, false));
    std::vector<LevelledElement *> outs;
    for (auto &e : elements)
        outs.push_back(&e);
    rs.split(in, outs);
    for (u64 k = 0; k < 8; ++k) {
        ASSERT_EQ(elements[k].getLevel(), 1U);
        for (u64 l = 0; l <= 1; ++l)
            ASSERT_EQ(elements[k][l], word(3, l, k));
    }
    Polynomial back(ctx, false, true);
    std::vector<const LevelledElement *> ins(outs.begin(), outs.end());
    rs.combine(ins, back);
    expectSameLimbs(back, in);

    // One element as the constant coefficient, and back.
    Polynomial constant(ctx, false, false);
    rs.embed(elements[5], constant);
    LevelledElement e(ctx, false);
    rs.extract(constant, e);
    for (u64 l = 0; l <= 1; ++l) {
        EXPECT_EQ(e[l], word(3, l, 5));
        for (u64 j = 1; j < 8; ++j)
            ASSERT_EQ(constant.getLimb(l)[j], 0U);
    }

    // The LWE vector of the same dimension takes the limbs as they stand.
    const auto lwe = LWE::makeContext(8, 3, 50, 40);
    LevelledVector v(lwe);
    rs.split(in, v);
    ASSERT_EQ(v.getLevel(), 1U);
    ASSERT_EQ(v.getData().size(), 16U);
    for (u64 l = 0; l <= 1; ++l)
        for (u64 t = 0; t < 8; ++t)
            ASSERT_EQ(v.getLimb(l)[t], word(3, l, t));
}

TEST(RingSwitcherTest, CombineBatchIsATransposition) {
    // Sizes that are not multiples of the 256-word tiles.
    const u64 d = 300, N = 512;
    const auto lwe = LWE::makeContext(d, 2, 50, 40);
    const auto ctx = makeContext(9, 2, 40, 40, 40, 1);
    std::mt19937_64 rng(5);
    std::vector<LevelledVector> vectors(N, LevelledVector(lwe));
    std::vector<const LevelledVector *> ins;
    for (auto &v : vectors) {
        v.setLevel(0); // below the top
        for (u64 w = 0; w < v.getData().size(); ++w)
            v.getData()[w] = rng() >> 30;
        ins.push_back(&v);
    }
    std::vector<Polynomial> polys(d, Polynomial(ctx, false, true));
    std::vector<Polynomial *> outs;
    for (auto &p : polys)
        outs.push_back(&p);
    RS().combineBatch(ins, outs);
    for (u64 t = 0; t < d; ++t) {
        ASSERT_EQ(polys[t].getLevel(), 0U);
        ASSERT_FALSE(polys[t].isNTT());
        for (u64 k = 0; k < N; ++k)
            ASSERT_EQ(polys[t].getLimb(0)[k], vectors[k].getLimb(0)[t]) << t << " " << k;
    }
}

TEST(RingSwitcherTest, ConjugateInvariantLayouts) {
    const auto four = ring(2);
    const auto eight = ring(3);
    const RS rs;
    Polynomial in = filled(four, 4, 2);
    in.setNTT(true); // accepted in either form
    Polynomial wide(eight, false, false);
    rs.cyclicToConjInv(in, wide);
    for (u64 l = 0; l <= 2; ++l) {
        const u64 a = word(4, l, 0), b = word(4, l, 1), c = word(4, l, 2), d = word(4, l, 3);
        const std::vector<u64> expected = {a, b, c, d, d, c, b, a};
        EXPECT_EQ(std::vector<u64>(wide.getLimb(l), wide.getLimb(l) + 8), expected);
    }
    Polynomial back(four, false, true);
    rs.conjInvToCyclic(wide, back);
    for (u64 l = 0; l <= 2; ++l)
        for (u64 j = 0; j < 4; ++j)
            ASSERT_EQ(back.getLimb(l)[j], word(4, l, j));
}

// FX's 25 base primes at degree 64 and at degree 128 (the doubled FX): the
// smallest primitive 128-th root is never the square of the smallest 256-th
// root, so every limb goes through coefficient form. FGbD6R6L0 and FGbD12L0
// share their two primes: the root of 0x03ffffffffbe0001 at degree 64 is not
// the 64-th power of its root at degree 4096 (coefficient road), while that of
// the temporary prime 0x0007fffffffe0001 is (its words are repeated). Both
// facts were computed apart with exact integers.
TEST(RingSwitcherTest, EmbedNTTEqualsTheTransformOfTheEmbedding) {
    struct Case {
        std::shared_ptr<ContextContent> small, big;
        bool mod_up;
        std::vector<bool> through;
    };
    const auto fx = makeContext(ParameterPreset::FX);
    const auto fx2 = makeContext(ParameterPreset::FX, "FX", 1, false, true);
    const auto d6 = makeContext(ParameterPreset::FGbD6R6L0);
    const auto d12 = makeContext(ParameterPreset::FGbD12L0);
    ASSERT_EQ(getPrimeList(d6), (std::vector<u64>{0x03ffffffffbe0001, 0x0007fffffffe0001}));
    const std::vector<Case> cases = {{fx, fx2, false, std::vector<bool>(25, true)},
                                     {d6, d12, true, {true, false}}};
    const RS rs;
    std::mt19937_64 rng(3);
    for (const Case &c : cases) {
        const PrimeModuli &small = c.small->getPrimeModuli();
        const PrimeModuli &big = c.big->getPrimeModuli();
        Polynomial g(c.small, c.mod_up, false);
        const u64 limbs = c.mod_up ? g.getSize() : getLength(c.small);
        EXPECT_EQ(RS::embedThroughCoefficients(c.small, c.big, limbs - 1), c.through);
        for (u64 l = 0; l < limbs; ++l)
            for (u64 j = 0; j < g.getDegree(); ++j)
                g.getLimb(l)[j] = rng() % small.getModulus(l).getPrime();
        // NTT_n(g) and, apart, NTT_N(embed(g)).
        Polynomial g_ntt(g);
        Polynomial expected(c.big, c.mod_up, false);
        rs.embed(g, expected);
        for (u64 l = 0; l < limbs; ++l) {
            small.getModulus(l).getNTT()->computeForward<1>(g_ntt.getLimb(l));
            big.getModulus(l).getNTT()->computeForward<1>(expected.getLimb(l));
        }
        g_ntt.setNTT(true);
        Polynomial out(c.big, c.mod_up, false);
        rs.embedNTT(c.small, g_ntt, c.big, out);
        EXPECT_TRUE(out.isNTT());
        const u64 n = g.getDegree(), m = out.getDegree() / n;
        for (u64 l = 0; l < limbs; ++l) {
            SCOPED_TRACE(l);
            for (u64 j = 0; j < out.getDegree(); ++j)
                ASSERT_EQ(out.getLimb(l)[j], expected.getLimb(l)[j]) << j;
            if (!c.through[l]) {
                for (u64 j = 0; j < out.getDegree(); ++j)
                    ASSERT_EQ(out.getLimb(l)[j], g_ntt.getLimb(l)[j / m]);
            }
        }
        if (!c.mod_up) {
            // Below the top level only the limbs in use are written.
            g_ntt.setLevel(3);
            rs.embedNTT(c.small, g_ntt, c.big, out);
            EXPECT_EQ(out.getLevel(), 3U);
            for (u64 l = 0; l <= 3; ++l)
                for (u64 j = 0; j < out.getDegree(); ++j)
                    ASSERT_EQ(out.getLimb(l)[j], expected.getLimb(l)[j]);
        }
    }
}

TEST(RingSwitcherTest, EmbedNTTRepeatsWordsWhereTheRootsAgree) {
    // A degree-4 prime with the square of its smallest 16-th root is the
    // degree-8 transform's root squared: (u, v, w, x) -> (u, u, v, v, w, w,
    // x, x).
    const auto small =
        contextFromPrimes(degree64ThreePrimes(), 2, {0}, {3}, 1, {NttType::NEGACYCLIC_SQUARE_4N});
    const auto big = contextFromPrimes(degree64ThreePrimes(), 3, {0}, {3}, 1);
    EXPECT_EQ(RS::embedThroughCoefficients(small, big, 0), std::vector<bool>{false});
    Polynomial in = filled(small, 6, 0);
    in.setNTT(true);
    Polynomial out(big, false, false);
    RS().embedNTT(small, in, big, out);
    for (u64 j = 0; j < 8; ++j)
        EXPECT_EQ(out.getLimb(0)[j], word(6, 0, j / 2));
}

TEST(RingSwitcherTest, ChecksInOrder) {
    const auto c4 = ring(2), c8 = ring(3), c16 = ring(4);
    const RS rs;
    Polynomial p16 = filled(c16, 1, 2), p8 = filled(c8, 2, 2), p4 = filled(c4, 3, 2);
    Polynomial n16 = p16, n8 = p8;
    n16.setNTT(true);
    n8.setNTT(true);
    Polynomial o4a(c4, false, false), o4b(c4, false, false), o8(c8, false, false);
    Polynomial o16(c16, false, false);

    // split to polynomials: dimension, then form, then one degree.
    std::vector<Polynomial *> three = {&o8, &o4a}; // 12 of 16
    expectThrowsMessage([&] { rs.split(n16, three); }, RS::kTotalDimensionMessage);
    std::vector<Polynomial *> uneven = {&o8, &o4a, &o4b};
    expectThrowsMessage([&] { rs.split(n16, uneven); }, RS::kNotNTTMessage);
    expectThrowsMessage([&] { rs.split(p16, uneven); }, RS::kUnequalDegreesMessage);
    std::vector<Polynomial *> none;
    expectThrowsMessage([&] { rs.split(p16, none); }, RS::kTotalDimensionMessage);

    // split to elements and to a vector: count (dimension), then form.
    std::vector<LevelledElement> es(7, LevelledElement(c8, false));
    std::vector<LevelledElement *> seven;
    for (auto &e : es)
        seven.push_back(&e);
    expectThrowsMessage([&] { rs.split(n8, seven); }, RS::kTotalDimensionMessage);
    seven.push_back(&es[0]);
    expectThrowsMessage([&] { rs.split(n8, seven); }, RS::kNotNTTMessage);
    LevelledVector v7(LWE::makeContext(7, 3, 50, 40));
    expectThrowsMessage([&] { rs.split(n8, v7); }, RS::kTotalDimensionMessage);
    LevelledVector v8(LWE::makeContext(8, 3, 50, 40));
    expectThrowsMessage([&] { rs.split(n8, v8); }, RS::kNotNTTMessage);

    // combine from polynomials: empty, dimension, form, devices, one degree.
    expectThrowsMessage([&] { rs.combine(std::vector<const Polynomial *>{}, o16); },
                        RS::kTotalDimensionMessage);
    expectThrowsMessage([&] { rs.combine(Polys{&n8, &p4}, o16); }, RS::kTotalDimensionMessage);
    expectThrowsMessage([&] { rs.combine(Polys{&n8, &p8}, o16); }, RS::kNotNTTMessage);
    const Polynomial elsewhere = on(p8, Device{0, 1});
    expectThrowsMessage(
        [&] {
            rs.combine(Polys{&p8, &elsewhere}, o16);
        },
        RS::kDifferentDevicesMessage);
    expectThrowsMessage([&] { rs.combine(Polys{&p8, &p4, &p4}, o16); }, RS::kUnequalDegreesMessage);

    // combine from elements: empty, count, devices; NTT form accepted.
    expectThrowsMessage([&] { rs.combine(std::vector<const LevelledElement *>{}, o8); },
                        RS::kTotalDimensionMessage);
    std::vector<const LevelledElement *> seven_in(seven.begin(), seven.begin() + 7);
    expectThrowsMessage([&] { rs.combine(seven_in, o8); }, RS::kTotalDimensionMessage);
    LevelledElement far(c8, false);
    far.to(Device{0, 1});
    seven_in.push_back(&far);
    expectThrowsMessage([&] { rs.combine(seven_in, o8); }, RS::kDifferentDevicesMessage);

    // combineBatch: empty, devices, no output, vector count, polynomial count.
    const auto lwe = LWE::makeContext(2, 3, 50, 40);
    std::vector<LevelledVector> vs(8, LevelledVector(lwe));
    std::vector<const LevelledVector *> vins;
    for (auto &v : vs)
        vins.push_back(&v);
    std::vector<Polynomial> ps(2, Polynomial(c8, false, false));
    std::vector<Polynomial *> pouts = {&ps[0], &ps[1]};
    std::vector<Polynomial *> no_outs;
    expectThrowsMessage([&] { rs.combineBatch({}, pouts); }, RS::kEmptyOperandMessage);
    LevelledVector moved(lwe);
    moved.to(Device{0, 1});
    std::vector<const LevelledVector *> mixed = vins;
    mixed[3] = &moved;
    expectThrowsMessage([&] { rs.combineBatch(mixed, pouts); }, RS::kDifferentDevicesMessage);
    expectThrowsMessage([&] { rs.combineBatch(vins, no_outs); }, RS::kEmptyOutputsMessage);
    std::vector<const LevelledVector *> fewer(vins.begin(), vins.begin() + 7);
    expectThrowsMessage([&] { rs.combineBatch(fewer, pouts); }, RS::kVectorCountMessage);
    std::vector<Polynomial *> one_out = {&ps[0]};
    expectThrowsMessage([&] { rs.combineBatch(vins, one_out); }, RS::kPolynomialCountMessage);

    // embed, embedNTT, extract: divisibility, then form (not for embedNTT).
    expectThrowsMessage([&] { rs.embed(n16, o8); }, RS::kNotDivideMessage);
    expectThrowsMessage([&] { rs.embed(n8, o16); }, RS::kNotNTTMessage);
    expectThrowsMessage([&] { rs.embedNTT(c16, n16, c8, o8); }, RS::kNotDivideMessage);
    expectThrowsMessage([&] { rs.extract(n8, o16); }, RS::kNotDivideMessage);
    expectThrowsMessage([&] { rs.extract(n16, o8); }, RS::kNotNTTMessage);
    LevelledElement e(c16, false);
    expectThrowsMessage([&] { rs.extract(n16, e); }, RS::kNotNTTMessage);
    // A context whose primes are not the polynomial's.
    const auto other = contextFromPrimes(degree64ThreePrimes(), 4, {1, 0, 2}, {3}, 3);
    expectThrowsMessage([&] { rs.embedNTT(c8, n8, other, o16); }, RS::kIncompatibleContextMessage);

    // The conjugate-invariant copies.
    expectThrowsMessage([&] { rs.conjInvToCyclic(p16, o4a); }, RS::kHalfDegreeMessage);
    expectThrowsMessage([&] { rs.cyclicToConjInv(p4, o16); }, RS::kTwiceDegreeMessage);

    // An output that is the input.
    expectThrowsMessage([&] { rs.embed(p16, p16); }, RS::kAliasedOutputMessage);
}

TEST(RingSwitcherTest, OtherDevicesNameTheOperation) {
    const auto c8 = ring(3), c16 = ring(4);
    const RS rs;
    const auto lwe = LWE::makeContext(1, 3, 50, 40);
    struct Case {
        Device device;
        const char *split, *combine, *combineBatch, *embed, *embedNTT, *extract, *toCyclic,
            *toConjInv;
    };
    for (const Case &c :
         {Case{Device{3, 0}, "split", "combine", "combineBatch", "embed", "embedNTT", "extract",
               "conjInvToCyclic", "cyclicToConjInv"},
          Case{Device{1, 0}, "splitCUDA", "combineCUDA", "combineBatchCUDA", "embedCUDA",
               "embedNTTCUDA", "extractCUDA", "copyCUDA", "copyReverseCUDA"}}) {
        SCOPED_TRACE(c.split);
        const Polynomial p16 = on(filled(c16, 1, 2), c.device);
        const Polynomial p8 = on(filled(c8, 1, 2), c.device);
        Polynomial o8(c8, false, false), o16(c16, false, false);
        std::vector<Polynomial *> halves = {&o8, &o8};
        expectThrowsMessage([&] { rs.split(p16, halves); }, unsupported(c.split));
        expectThrowsMessage([&] { rs.combine(Polys{&p8, &p8}, o16); }, unsupported(c.combine));
        expectThrowsMessage([&] { rs.embed(p8, o16); }, unsupported(c.embed));
        expectThrowsMessage([&] { rs.embedNTT(c8, p8, c16, o16); }, unsupported(c.embedNTT));
        expectThrowsMessage([&] { rs.extract(p16, o8); }, unsupported(c.extract));
        expectThrowsMessage([&] { rs.conjInvToCyclic(p16, o8); }, unsupported(c.toCyclic));
        expectThrowsMessage([&] { rs.cyclicToConjInv(p8, o16); }, unsupported(c.toConjInv));
        std::vector<LevelledVector> vs(8, LevelledVector(lwe));
        std::vector<const LevelledVector *> vins;
        for (auto &v : vs) {
            v.getData() = DeviceSpecificArray<u64>(0, c.device);
            vins.push_back(&v);
        }
        std::vector<Polynomial *> one = {&o8};
        expectThrowsMessage([&] { rs.combineBatch(vins, one); }, unsupported(c.combineBatch));
    }
}

} // namespace Quelt::test
