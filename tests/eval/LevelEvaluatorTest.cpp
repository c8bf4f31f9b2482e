// The level part of the evaluator on its own, reached through
// HomEvaluatorImpl::levels(): rescale and its inverse against the
// polynomial kernels, levelDown to every lower level and across a scale gap,
// and the conversions of ring ciphertexts against independent computations.

#include "eval/LevelEvaluator.hpp"

#include "Quelt/EnDecoder.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/DataObjects.hpp"
#include "support/EncryptionTestSupport.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/RingOperandsFixture.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <random>

namespace Quelt::test {
namespace {

using C = std::complex<double>;
using u128 = unsigned __int128;

struct LevelEvaluatorTest : RingOperandsTest {
    const HomEvaluatorImpl impl{ctx()};
    const LevelEvaluator &levels = impl.levels();
};

// ---- Levels --------------------------------------------------------------------

TEST_F(LevelEvaluatorTest, InverseRescaleThenRescaleReturnsTheInput) {
    Ciphertext ct = low;
    levels.inverseRescale(ct);
    EXPECT_EQ(ct.getLevel(), 2u);
    EXPECT_EQ(ct.getRescaleCounter(), 1);
    levels.rescale(ct);
    EXPECT_EQ(ciphertextWords(ct), ciphertextWords(low));
}

// Both polynomials in one pass give the words of two single rescalings; in
// coefficient form as in NTT form.
TEST_F(LevelEvaluatorTest, RescaleIsThePolynomialRescaleOfEachPolynomial) {
    for (const bool ntt : {true, false}) {
        Ciphertext ct(ctx(), false, true);
        impl.constants().multWithoutRescale(top, C(0.75), ct);
        if (!ntt)
            ct.backwardNTT();
        Ciphertext single = ct;
        levels.rescale(ct);
        chain().rescale(single.getPoly(0));
        chain().rescale(single.getPoly(1));
        single.setRescaleCounter(0);
        EXPECT_EQ(ciphertextWords(ct), ciphertextWords(single)) << ntt;
    }
}

// levelDown from the top reaches every lower level with counter 0 and the
// message kept; levelDownOne is the step of one.
TEST_F(LevelEvaluatorTest, LevelDownReachesEveryLowerLevel) {
    for (const u64 target : {u64{2}, u64{1}, u64{0}}) {
        SCOPED_TRACE(target);
        Ciphertext out = fresh();
        levels.levelDown(top, target, out);
        EXPECT_EQ(out.getLevel(), target);
        EXPECT_EQ(out.getRescaleCounter(), 0);
        EXPECT_LE(largestSlotError(keys.decrypt(out), x), 1e-7);
    }
    Ciphertext one = fresh();
    levels.levelDownOne(top, one);
    EXPECT_EQ(one.getLevel(), 2u);
    EXPECT_EQ(one.getRescaleCounter(), 0);
    EXPECT_LE(largestSlotError(keys.decrypt(one), x), 1e-7);
}

// rescaleChecked takes a ciphertext of three polynomials one polynomial at a
// time: the words of the polynomial rescale of each.
TEST_F(LevelEvaluatorTest, RescaleOfThreePolynomialsIsThePolynomialRescaleOfEach) {
    Ciphertext three = fresh();
    impl.constants().multWithoutRescale(top, C(0.5), three);
    three.setNumPoly(3);
    three.getPoly(2) = three.getPoly(1);
    Ciphertext single = three;
    levels.rescaleChecked(three);
    for (u64 i = 0; i < 3; ++i)
        chain().rescale(single.getPoly(i));
    single.setRescaleCounter(0);
    EXPECT_EQ(ciphertextWords(three), ciphertextWords(single));
}

TEST_F(LevelEvaluatorTest, LevelDownToTheSameLevelIsACopy) {
    Ciphertext out(ctx(), false, true);
    levels.levelDown(top, 3, out);
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(top));
}

// FX: levels 13 and above have 58-bit scales, 12 and below 42-bit ones; the
// step from 13 to 12 carries a correction of 16 bits. A level-14 ciphertext
// (made without error: c0 = m - c1 s) brought to level 12 must decrypt to its
// message at the scale of level 12.
TEST(LevelEvaluatorScaleGapTest, LevelDownAcrossTheScaleGapOfFX) {
    const auto &ctx = fxContext();
    reseed();
    const SchemeKeys<EncryptionType::RLWE> keys(ctx);
    std::mt19937_64 rng(5);
    const Messages m = randomMessages(getLogFullSlots(ctx), 1, rng);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    Ciphertext ct(ctx, false, true);
    ct.setLevel(14);
    QueltTest::fillResidues(ct.getPoly(1), 9);
    Polynomial product = ct.getPoly(1);
    chain.hadamardMult(ct.getPoly(1), keys.key.getSx(0), product);
    chain.sub(EnDecoder(ctx).encode(m.front(), 14, 0).getMx(), product, ct.getPoly(0));
    ASSERT_LE(largestSlotError(keys.decrypt(ct), m), 1e-9);
    Ciphertext out(ctx, false, true);
    HomEvaluatorImpl(ctx).levels().levelDown(ct, 12, out);
    EXPECT_EQ(out.getLevel(), 12u);
    EXPECT_EQ(out.getRescaleCounter(), 0);
    EXPECT_LE(largestSlotError(keys.decrypt(out), m), 1e-9);
}

// ---- Conversions against independent computations ---------------------------

// round(a / b) for b > 0, halves up, in 128-bit arithmetic.
u128 roundedQuotient(u128 a, u128 b) { return (2 * a + b) / (2 * b); }

TEST_F(LevelEvaluatorTest, DiscretizeRoundsEveryCoefficientThroughTwoToTheS) {
    const u64 q = primeAt(ctx(), 0);
    for (const u64 s : {1u, 17u, 40u}) {
        SCOPED_TRACE(s);
        Ciphertext ct = bottom;
        ct.backwardNTT();
        const Ciphertext before = ct;
        levels.discretize(ct, s);
        for (u64 i = 0; i < 2; ++i)
            for (u64 j = 0; j < getDegree(ctx()); ++j) {
                const u128 m =
                    roundedQuotient(static_cast<u128>(before.getPoly(i).getLimb(0)[j]) << s, q);
                const u128 r = roundedQuotient(m * q, static_cast<u128>(1) << s);
                ASSERT_EQ(ct.getPoly(i).getLimb(0)[j], static_cast<u64>(r == q ? 0 : r))
                    << i << " " << j;
            }
    }
}

TEST_F(LevelEvaluatorTest, BaseModulusSwitchMapsTheCoefficientsToTheOtherBase) {
    static const auto target = makeContext(10, 3, 45, 40, 45, 3);
    const u64 q = primeAt(ctx(), 0);
    const u64 t = primeAt(target, 0);
    Ciphertext ct = bottom;
    ct.backwardNTT();
    ct.setLogSlots(7);
    Ciphertext out(target, false, true);
    levels.baseModulusSwitch(ct, out);
    EXPECT_EQ(out.getLevel(), 0u);
    EXPECT_EQ(out.getLogSlots(), 7u);
    EXPECT_EQ(out.getContext(), target);
    for (u64 i = 0; i < 2; ++i) {
        EXPECT_FALSE(out.getPoly(i).isNTT());
        for (u64 j = 0; j < getDegree(ctx()); ++j) {
            const u128 v = roundedQuotient(static_cast<u128>(ct.getPoly(i).getLimb(0)[j]) * t, q);
            ASSERT_EQ(out.getPoly(i).getLimb(0)[j], static_cast<u64>(v == t ? 0 : v));
        }
    }
}

TEST_F(LevelEvaluatorTest, SwitchContextComparesThePrimes) {
    // The same sizes give the same primes: a shorter chain takes ciphertexts
    // of its levels.
    static const auto shorter = makeContext(10, 2, 50, 40, 50, 2);
    ASSERT_EQ(primeAt(shorter, 1), primeAt(ctx(), 1));
    Ciphertext low_one(ctx(), false, true);
    levels.levelDown(top, 1, low_one);
    Ciphertext out(shorter, false, true);
    levels.switchContext(low_one, out);
    EXPECT_EQ(out.getContext(), shorter);
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(low_one));

    static const auto other_primes = makeContext(10, 4, 51, 41, 51, 2);
    Ciphertext foreign(other_primes, false, true);
    QueltTest::fillResidues(foreign.getPoly(0), 1);
    const auto before = ciphertextWords(foreign);
    expectThrowsMessage([&] { levels.switchContext(top, foreign); },
                        "[setContext] Input context is not compatible with the ciphertext.");
    EXPECT_EQ(ciphertextWords(foreign), before);
    Ciphertext short_out(shorter, false, true);
    expectThrowsMessage([&] { levels.switchContext(top, short_out); },
                        "The level of input ciphertext does not fit in current context");
}

} // namespace
} // namespace Quelt::test
