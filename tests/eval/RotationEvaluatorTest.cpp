// The rotation part of the evaluator on its own: its automorphisms, single
// and hoisted rotations, the fused rotation sum and the signed split of
// rotate-reduce, reached through HomEvaluatorImpl::rotations().

#include "eval/RotationEvaluator.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

// Keys switch with an error far below the FX scale: after a rotation or a
// conjugation the slots stay within 2^-20 of the plain result.
constexpr double kBound = 0x1p-20;

class RotationEvaluatorTest : public SchemeFixture {
protected:
    static u64 halfDegree() { return u64{1} << getLogFullSlots(context()); }
    static RingCiphertext fresh() { return RingCiphertext(context(), false, true); }
};

TEST_F(RotationEvaluatorTest, RotationsAndConjugationDecryptToTheMovedSlots) {
    const u64 half = halfDegree();
    const HomEvaluatorImpl impl(context(), rotationPack({1, 3, half - 3}));
    const RotationEvaluator &rotations = impl.rotations();
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    for (const u64 idx : {u64{0}, u64{1}, u64{3}, half - 3, half + 1}) {
        SCOPED_TRACE(idx);
        RingCiphertext out = fresh();
        rotations.leftRotate(ct, idx, out);
        EXPECT_LT(maxError(decrypt(out), rotatedLeft(m, idx % half)), kBound);
    }
    // Right by 3 is left by N/2 - 3.
    RingCiphertext right = fresh(), left = fresh();
    rotations.rightRotate(ct, 3, right);
    rotations.leftRotate(ct, half - 3, left);
    EXPECT_EQ(ciphertextWords(right), ciphertextWords(left));
    RingCiphertext conj = fresh();
    rotations.conjugate(ct, conj);
    Message want = m;
    for (auto &slot : want)
        slot = std::conj(slot);
    EXPECT_LT(maxError(decrypt(conj), want), kBound);
}

// The automorphisms of the ring compose, and the accumulating form adds the
// rotated polynomial: word for word.
TEST_F(RotationEvaluatorTest, PolynomialAutomorphismsComposeExactly) {
    const u64 half = halfDegree();
    const HomEvaluatorImpl impl(context());
    const RotationEvaluator &rotations = impl.rotations();
    EXPECT_EQ(rotations.reduceAmount(~u64{0}), half - 1);
    EXPECT_EQ(rotations.reduceAmount(half + 5), 5u);
    EXPECT_EQ(rotations.galoisExponent(0), 1u);
    EXPECT_EQ(rotations.galoisExponent(1), 5u);
    EXPECT_EQ(rotations.galoisExponent(2), 25u);

    const RingCiphertext ct = encrypt(randomMessage());
    const Polynomial &p = ct.getPoly(1);
    const Polynomial &q = ct.getPoly(0);
    Polynomial by3 = Polynomial::shapedLike(p), by5 = Polynomial::shapedLike(p),
               by8 = Polynomial::shapedLike(p);
    rotations.rotatePoly(p, 3, by3);
    rotations.rotatePoly(by3, 5, by5);
    rotations.rotatePoly(p, 8, by8);
    EXPECT_EQ(wordsOf(by5), wordsOf(by8));
    // A whole turn gives the polynomial back.
    Polynomial turned = Polynomial::shapedLike(p);
    rotations.rotatePoly(by8, half - 8, turned);
    EXPECT_EQ(wordsOf(turned), wordsOf(p));

    Polynomial accumulated = q;
    rotations.rotatePolyAndAdd(p, 3, accumulated);
    Polynomial sum = Polynomial::shapedLike(p);
    context()->getPrimeModuli().add(q, by3, sum);
    EXPECT_EQ(wordsOf(accumulated), wordsOf(sum));
}

TEST_F(RotationEvaluatorTest, HoistedRotationsEqualSingleOnes) {
    const u64 half = halfDegree();
    const HomEvaluatorImpl impl(context(), rotationPack({1, 3, 5, half - 1}));
    const RotationEvaluator &rotations = impl.rotations();
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    const std::vector<u64> idxs = {0, 1, 5, half, half + 3, ~u64{0}};
    std::vector<RingCiphertext> outs(9, fresh());
    rotations.leftRotate(ct, idxs, outs);
    ASSERT_EQ(outs.size(), idxs.size());
    for (u64 i = 0; i < idxs.size(); ++i) {
        SCOPED_TRACE(i);
        RingCiphertext single = fresh();
        rotations.leftRotate(ct, idxs[i] % half, single);
        // Base conversion commutes with the automorphism's signed
        // permutation of the digits, so the words agree.
        EXPECT_EQ(ciphertextWords(outs[i]), ciphertextWords(single));
        EXPECT_LT(maxError(decrypt(outs[i]), rotatedLeft(m, idxs[i] % half)), kBound);
    }
    // ct may be one of outs; a missing key leaves outs as they were. The
    // pool of raised digits serves the calls one after the other.
    std::vector<RingCiphertext> in_outs = {ct};
    rotations.leftRotate(in_outs[0], {1, 3}, in_outs);
    ASSERT_EQ(in_outs.size(), 2u);
    EXPECT_EQ(ciphertextWords(in_outs[0]), ciphertextWords(outs[1]));
    const std::string missing = RotationEvaluator::kLeftRotKeyMissing + std::to_string(2);
    expectThrowsMessage([&] { rotations.leftRotate(ct, {1, 2}, in_outs); }, missing);
    EXPECT_EQ(in_outs.size(), 2u);
}

// The giant sums of the homomorphic transforms: rotSum then rescale in one
// pass, word for word the two one after the other.
TEST_F(RotationEvaluatorTest, RotSumRescaleEqualsRotSumThenRescale) {
    const u64 half = halfDegree();
    const HomEvaluatorImpl impl(context(), rotationPack({1, 3, 7}));
    const RotationEvaluator &rotations = impl.rotations();
    std::vector<RingCiphertext> cts;
    for (u64 i = 0; i < 4; ++i) {
        RingCiphertext product = fresh();
        impl.constants().multWithoutRescale(encrypt(randomMessage()),
                                            std::complex<double>(0.5, 0.25), product);
        cts.push_back(product);
    }
    for (const std::vector<u64> &idxs :
         {std::vector<u64>{1, 0, half + 3, 7}, std::vector<u64>{0, 1, 3, 7},
          std::vector<u64>{0, 0, half, 0}}) {
        SCOPED_TRACE(idxs[0] * 1000 + idxs[1] * 100 + idxs[2] + idxs[3]);
        RingCiphertext want = fresh(), got = fresh();
        rotations.rotSum(cts, idxs, want);
        impl.levels().rescale(want);
        rotations.rotSumRescale(cts, idxs, got);
        EXPECT_EQ(ciphertextWords(got), ciphertextWords(want));
        EXPECT_EQ(got.getLevel(), cts[0].getLevel() - 1);
        EXPECT_EQ(got.getRescaleCounter(), 0);
        // out may be one of the inputs.
        std::vector<RingCiphertext> aliased = cts;
        rotations.rotSumRescale(aliased, idxs, aliased[2]);
        EXPECT_EQ(ciphertextWords(aliased[2]), ciphertextWords(want));
    }
    // The checks of rotSum, then those of rescale, before out changes.
    RingCiphertext out = cts[0];
    const RingCiphertext before = out;
    expectThrowsMessage(
        [&] {
            rotations.rotSumRescale(cts, {1, 3}, out);
        },
        RotationEvaluator::kRotSumSizes);
    const std::vector<RingCiphertext> plain = {encrypt(randomMessage()), encrypt(randomMessage())};
    expectThrowsMessage(
        [&] {
            rotations.rotSumRescale(plain, {1, 3}, out);
        },
        HomEvaluatorImpl::kRescaleCounterNotPositive);
    std::vector<RingCiphertext> bottom(2, fresh());
    for (u64 i = 0; i < 2; ++i) {
        impl.levels().levelDown(plain[i], 0, bottom[i]);
        bottom[i].setRescaleCounter(1);
    }
    expectThrowsMessage(
        [&] {
            rotations.rotSumRescale(bottom, {1, 3}, out);
        },
        HomEvaluatorImpl::kLevelZero);
    EXPECT_EQ(ciphertextWords(out), ciphertextWords(before));
}

TEST(RotIdxDecompositionTest, SignedSplitsIntoPowersOfTwo) {
    const struct {
        u64 n;
        std::vector<u64> terms;
    } cases[] = {{0, {}},
                 {1, {1}},
                 {2, {2}},
                 {3, {4, 2, 1}},
                 {4, {4}},
                 {5, {8, 4, 1}},
                 {6, {8, 4, 2}},
                 {7, {8, 2, 1}},
                 {11, {16, 8, 4, 2, 1}},
                 {12, {16, 8, 4}},
                 {u64{1} << 62, {u64{1} << 62}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.n);
        std::vector<u64> terms = {99};
        u64 count = 7;
        RotationEvaluator::getRotIdxDecomposition(c.n, terms, count);
        EXPECT_EQ(count, c.terms.size());
        EXPECT_EQ(std::vector<u64>(terms.begin() + 1, terms.end()), c.terms);
    }
    std::vector<u64> terms;
    u64 count = 0;
    expectThrowsMessage(
        [&] { RotationEvaluator::getRotIdxDecomposition(u64{1} << 63, terms, count); },
        RotationEvaluator::kSplitTooLarge);
}

} // namespace
} // namespace Quelt::test
