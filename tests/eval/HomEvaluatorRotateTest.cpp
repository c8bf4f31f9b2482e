#include "Quelt/Bx.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

// Keys switch with an error far below the FX scale (2^40 and more): after a
// rotation or a conjugation the slots stay within 2^-20 of the plain result.
constexpr double kBound = 0x1p-20;

Message rotatedLeft(const Message &m, u64 idx) {
    Message out = m;
    const u64 n = m.getSize();
    std::rotate(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(idx % n), out.end());
    return out;
}

Message conjugated(const Message &m) {
    Message out = m;
    for (auto &slot : out)
        slot = std::conj(slot);
    return out;
}

void expectSameWords(const CiphertextBase<EncryptionType::RLWE> &a,
                     const CiphertextBase<EncryptionType::RLWE> &b) {
    ASSERT_EQ(a.getNumPoly(), b.getNumPoly());
    EXPECT_EQ(a.getLevel(), b.getLevel());
    EXPECT_EQ(a.getLogSlots(), b.getLogSlots());
    EXPECT_EQ(a.getRescaleCounter(), b.getRescaleCounter());
    for (u64 i = 0; i < a.getNumPoly(); ++i)
        EXPECT_EQ(wordsOf(a.getPoly(i)), wordsOf(b.getPoly(i))) << "polynomial " << i;
}

class HomEvaluatorRotateTest : public SchemeFixture {
protected:
    static u64 halfDegree() { return u64{1} << getLogFullSlots(context()); }
};

TEST_F(HomEvaluatorRotateTest, LeftAndRightRotationsMoveTheSlots) {
    const u64 half = halfDegree();
    const HomEvaluator eval(context(), rotationPack({1, 3, half - 1, half - 3}));
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    for (u64 idx : {u64{1}, u64{3}, half - 1}) {
        SCOPED_TRACE(idx);
        RingCiphertext left(context(), false, true);
        eval.leftRotate(ct, idx, left);
        EXPECT_LT(maxError(decrypt(left), rotatedLeft(m, idx)), kBound);
        EXPECT_EQ(left.getLevel(), ct.getLevel());
        EXPECT_EQ(left.getLogSlots(), ct.getLogSlots());
        // Right by idx is left by N/2 - idx, word for word.
        RingCiphertext right(context(), false, true);
        eval.rightRotate(ct, half - idx, right);
        expectSameWords(right, left);
    }
}

TEST_F(HomEvaluatorRotateTest, TheFacadeReducesAmountsModuloTheSlotCount) {
    const u64 half = halfDegree();
    const HomEvaluator eval(context(), rotationPack({1}));
    const RingCiphertext ct = encrypt(randomMessage());
    RingCiphertext by1(context(), false, true), byMore(context(), false, true);
    eval.leftRotate(ct, 1, by1);
    eval.leftRotate(ct, half + 1, byMore);
    expectSameWords(byMore, by1);
    // A whole turn, and zero, copy the input exactly without a key.
    const HomEvaluator keyless(context());
    for (u64 idx : {u64{0}, half}) {
        RingCiphertext copy(context(), false, true);
        keyless.leftRotate(ct, idx, copy);
        expectSameWords(copy, ct);
        keyless.rightRotate(ct, idx, copy);
        expectSameWords(copy, ct);
    }
    // Messages reduce by their own size: log slots 3 rotated by 9 moves by 1.
    const Message small = [] {
        Message m(3);
        for (u64 i = 0; i < 8; ++i)
            m[i] = {double(i), -double(i)};
        return m;
    }();
    Message out;
    eval.leftRotate(small, 9, out);
    EXPECT_EQ(maxError(out, rotatedLeft(small, 1)), 0.0);
}

TEST_F(HomEvaluatorRotateTest, RotationsCompose) {
    const HomEvaluator eval(context(), rotationPack({3, 5, 8}));
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    RingCiphertext twice(context(), false, true), once(context(), false, true);
    eval.leftRotate(ct, 3, twice);
    eval.leftRotate(twice, 5, twice);
    eval.leftRotate(ct, 8, once);
    EXPECT_LT(maxError(decrypt(twice), rotatedLeft(m, 8)), kBound);
    EXPECT_LT(maxError(decrypt(twice), decrypt(once)), kBound);
}

TEST_F(HomEvaluatorRotateTest, MissingKeysAreRotatedThroughHeldOnes) {
    // Power-of-two keys only: 5 and 13 are reached through their sums.
    std::vector<u64> powers;
    for (u64 k = 1; k < halfDegree(); k *= 2)
        powers.push_back(k);
    const HomEvaluator eval(context(), rotationPack(powers));
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    for (u64 idx : {u64{5}, u64{13}}) {
        SCOPED_TRACE(idx);
        RingCiphertext out(context(), false, true);
        eval.leftRotate(ct, idx, out);
        EXPECT_LT(maxError(decrypt(out), rotatedLeft(m, idx)), kBound);
        // In place as well.
        RingCiphertext same = ct;
        eval.leftRotate(same, idx, same);
        expectSameWords(same, out);
    }
}

TEST_F(HomEvaluatorRotateTest, RefusalsInTheirOrder) {
    const HomEvaluator keyless(context());
    const RingCiphertext ct = encrypt(randomMessage());
    RingCiphertext out(context(), false, true);
    const RingCiphertext before = out;

    RingCiphertext coefficients = ct;
    coefficients.setEncodingType(EncodingType::COEFFICIENT);
    coefficients.setNumPoly(3); // both rules broken: the encoding is reported
    expectThrowsMessage([&] { keyless.leftRotate(coefficients, 1, out); },
                        utils::kCoeffEncodedMessage);
    expectThrowsMessage([&] { keyless.conjugate(coefficients, out); }, utils::kCoeffEncodedMessage);
    RingCiphertext three = ct;
    three.setNumPoly(3);
    expectThrowsMessage([&] { keyless.leftRotate(three, 1, out); }, HomEvaluatorImpl::kSizeNotTwo);
    expectThrowsMessage([&] { keyless.conjugate(three, out); }, HomEvaluatorImpl::kSizeNotTwo);
    // No key and no route: the key pack's message; no conjugation key.
    expectThrowsMessage([&] { keyless.leftRotate(ct, 1, out); },
                        "[getRotKeyDecomposition] Can not reach to such rotation idx using "
                        "given rot keys.");
    expectThrowsMessage([&] { keyless.conjugate(ct, out); }, HomEvaluatorImpl::kConjKeyMissing);
    // Only a key of 2: odd amounts are out of reach.
    const HomEvaluator evens(context(), rotationPack({2}));
    expectThrowsMessage([&] { evens.leftRotate(ct, 1, out); },
                        "[getRotKeyDecomposition] Can not reach to such rotation idx using "
                        "given rot keys.");
    expectSameWords(out, before);
}

TEST_F(HomEvaluatorRotateTest, AKeyNamedByTheTableButGoneIsReported) {
    const TempDirectory temp("rotate");
    const std::filesystem::path &dir = temp.path();
    rotationPack({1, 5}).save(dir.string());
    KeyPack pack(context(), dir.string());
    pack.computeRotationKeyDecomposition(false); // from the files: 5 is one step
    std::filesystem::remove(dir / "PK" / "RotKey5.bin");
    const HomEvaluator eval(context(), pack);
    RingCiphertext out(context(), false, true);
    expectThrowsMessage([&] { eval.leftRotate(encrypt(randomMessage()), 5, out); },
                        "[Rotation Key] Rotation key 5 is removed.\n Rerun the "
                        "Keypack.computeRotationKeyDecomposition");
}

TEST_F(HomEvaluatorRotateTest, ConjugationAndKillImag) {
    const HomEvaluator eval(context(), keyPack());
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    RingCiphertext conj(context(), false, true);
    eval.conjugate(ct, conj);
    EXPECT_LT(maxError(decrypt(conj), conjugated(m)), kBound);
    eval.conjugate(conj, conj);
    EXPECT_LT(maxError(decrypt(conj), m), kBound);

    Message imaginary = m;
    for (auto &slot : imaginary)
        slot = {0.0, slot.imag()};
    const RingCiphertext ict = encrypt(imaginary);
    RingCiphertext real(context(), false, true);
    eval.killImag(ict, real);
    EXPECT_EQ(real.getLevel(), ict.getLevel() - 1);
    EXPECT_EQ(real.getRescaleCounter(), 0);
    Message zeros = imaginary;
    for (auto &slot : zeros)
        slot = {0.0, 0.0};
    EXPECT_LT(maxError(decrypt(real), zeros), kBound);
    eval.killImag(ct, real);
    Message want = m;
    for (auto &slot : want)
        slot = {slot.real(), 0.0};
    EXPECT_LT(maxError(decrypt(real), want), kBound);
}

TEST_F(HomEvaluatorRotateTest, SwitchKeyReencryptsUnderTheTargetSecret) {
    const RingSecretKey other(context());
    const RingSwitchKey key = KeyGenerator(context()).genSwitchKey(secretKey(), other);
    const HomEvaluator eval(context());
    const Message m = randomMessage();
    const RingCiphertext ct = encrypt(m);
    RingCiphertext ntt(context(), false, true), coeff(context(), false, true);
    eval.switchKey(ct, key, ntt, true);
    Message got;
    decryptor.decrypt(ntt, other, got);
    EXPECT_LT(maxError(got, m), kBound);
    // The coefficient form: both polynomials are the inverse transforms of
    // the NTT-form result.
    eval.switchKey(ct, key, coeff, false);
    EXPECT_FALSE(coeff.getPoly(0).isNTT());
    EXPECT_FALSE(coeff.getPoly(1).isNTT());
    const PrimeModuli &chain = context()->getPrimeModuli();
    for (u64 i = 0; i < 2; ++i) {
        Polynomial back = coeff.getPoly(i);
        chain.forwardNTT<OutputModulusBoundValidator, 1>(
            back, back, OutputModulusBoundValidator(0, back.getLevel() + 1));
        EXPECT_EQ(wordsOf(back), wordsOf(ntt.getPoly(i))) << "polynomial " << i;
    }
    RingCiphertext three = ct;
    three.setNumPoly(3);
    expectThrowsMessage([&] { eval.switchKey(three, key, ntt, true); },
                        HomEvaluatorImpl::kSizeNotTwo);
}

TEST_F(HomEvaluatorRotateTest, PlainRotationsArePermutations) {
    const HomEvaluator eval(context());
    const Message m = randomMessage();
    const Plaintext pt = encoder.encode(m, 3, 0);
    Plaintext out(context());
    eval.leftRotate(pt, 5, out);
    EXPECT_LT(maxError(encoder.decode(out), rotatedLeft(m, 5)), kBound);
    Plaintext same = pt;
    eval.leftRotate(same, 5, same);
    EXPECT_EQ(wordsOf(same.getMx()), wordsOf(out.getMx()));
    eval.rightRotate(out, 5, out);
    EXPECT_EQ(wordsOf(out.getMx()), wordsOf(pt.getMx()));

    // Messages: [a, b, c, d] left by 1 is [b, c, d, a], right by 1 [d, a, b, c].
    Message abcd(2);
    for (u64 i = 0; i < 4; ++i)
        abcd[i] = {double(i), 0.0};
    Message left, right;
    eval.leftRotate(abcd, 1, left);
    eval.rightRotate(abcd, 1, right);
    for (u64 i = 0; i < 4; ++i) {
        EXPECT_EQ(left[i].real(), double((i + 1) % 4));
        EXPECT_EQ(right[i].real(), double((i + 3) % 4));
    }
    eval.leftRotate(abcd, 1, abcd);
    EXPECT_EQ(maxError(abcd, left), 0.0);

    // Polynomial lists: every polynomial rotated, also in place.
    const RingCiphertext ct = encrypt(m);
    const PolynomialVector &list = ct.getPolyVector();
    const HomEvaluatorImpl impl(context());
    const RotationEvaluator &rotations = impl.rotations();
    PolynomialVector rotated = list;
    rotations.leftRotate(list, 7, rotated);
    PolynomialVector in_place = list;
    rotations.leftRotate(in_place, 7, in_place);
    for (u64 i = 0; i < list.getSize(); ++i) {
        Polynomial want = Polynomial::shapedLike(list.getPoly(i));
        rotations.rotatePoly(list.getPoly(i), 7, want);
        EXPECT_EQ(wordsOf(rotated.getPoly(i)), wordsOf(want));
        EXPECT_EQ(wordsOf(in_place.getPoly(i)), wordsOf(want));
    }
}

TEST_F(HomEvaluatorRotateTest, RotSumAddsRotatedCiphertextsWithOneDivision) {
    const u64 half = halfDegree();
    const HomEvaluator eval(context(), rotationPack({1, 3, 7}));
    const std::vector<Message> ms = {randomMessage(), randomMessage(), randomMessage(),
                                     randomMessage()};
    std::vector<RingCiphertext> cts;
    for (const Message &m : ms)
        cts.push_back(encrypt(m));
    // Zero and non-zero amounts mixed; half + 3 is 3, and 0 - 1 is N/2 - 1
    // (not held: no route through other keys is taken).
    const std::vector<u64> idxs = {1, 0, half + 3, 7};
    Message want = ms[0];
    for (auto &slot : want)
        slot = {0.0, 0.0};
    for (u64 i = 0; i < ms.size(); ++i) {
        const Message r = rotatedLeft(ms[i], idxs[i] % half);
        for (u64 k = 0; k < want.getSize(); ++k)
            want[k] += r[k];
    }
    RingCiphertext out(context(), false, true);
    eval.rotSum(cts, idxs, out);
    EXPECT_LT(maxError(decrypt(out), want), kBound);
    EXPECT_EQ(out.getLevel(), cts[0].getLevel());
    // out may be one of the inputs.
    std::vector<RingCiphertext> aliased = cts;
    eval.rotSum(aliased, idxs, aliased[0]);
    expectSameWords(aliased[0], out);

    // All amounts zero: the plain sum, word for word.
    RingCiphertext plain(context(), false, true), sum = cts[0];
    eval.rotSum(cts, {0, 0, half, 0}, plain);
    for (u64 i = 1; i < cts.size(); ++i)
        eval.add(sum, cts[i], sum);
    expectSameWords(plain, sum);

    // Refusals leave out as it was.
    const RingCiphertext before = out;
    expectThrowsMessage([&] { eval.rotSum({}, {}, out); }, HomEvaluatorImpl::kRotSumEmpty);
    expectThrowsMessage([&] { eval.rotSum(cts, {1, 3}, out); }, HomEvaluatorImpl::kRotSumSizes);
    expectThrowsMessage(
        [&] {
            eval.rotSum(cts, {1, 0, 3, ~u64{0}}, out);
        },
        std::string(HomEvaluatorImpl::kLeftRotKeyMissing) + std::to_string(half - 1));
    std::vector<RingCiphertext> three = cts;
    three[2].setNumPoly(3);
    expectThrowsMessage([&] { eval.rotSum(three, idxs, out); }, HomEvaluatorImpl::kSizeNotTwo);
    expectSameWords(out, before);
}

// The sum over j < n of the message rotated by j * gap, term by term.
Message plainRotateSum(const Message &m, u64 gap, u64 n, bool left) {
    const u64 size = m.getSize();
    Message sum = m;
    for (auto &slot : sum)
        slot = {0.0, 0.0};
    for (u64 j = 0; j < std::max<u64>(n, 1); ++j) {
        const u64 shift = (j * gap) % size;
        const Message r = rotatedLeft(m, left ? shift : (size - shift) % size);
        for (u64 k = 0; k < size; ++k)
            sum[k] += r[k];
    }
    return sum;
}

TEST_F(HomEvaluatorRotateTest, RotateReduceSumsTheRotatedCopies) {
    std::vector<u64> powers;
    for (u64 k = 1; k < halfDegree(); k *= 2)
        powers.push_back(k);
    for (u64 k = 1; k < halfDegree(); k *= 2)
        powers.push_back(halfDegree() - k);
    const HomEvaluator eval(context(), rotationPack(powers));
    const Message m = randomMessage(0.01);
    const RingCiphertext ct = encrypt(m);
    for (u64 gap : {u64{1}, u64{3}})
        for (u64 n : {0, 1, 2, 3, 5, 6, 7, 11, 12, 20}) { // 20 x 3 > N/2
            SCOPED_TRACE("gap " + std::to_string(gap) + ", n " + std::to_string(n));
            for (bool left : {true, false}) {
                RingCiphertext out(context(), false, true);
                Message plain;
                if (left) {
                    eval.leftRotateReduce(ct, gap, n, out);
                    eval.leftRotateReduce(m, gap, n, plain);
                } else {
                    eval.rightRotateReduce(ct, gap, n, out);
                    eval.rightRotateReduce(m, gap, n, plain);
                }
                const Message want = plainRotateSum(m, gap, n, left);
                EXPECT_LT(maxError(plain, want), 1e-12);
                EXPECT_LT(maxError(decrypt(out), want), kBound);
                EXPECT_EQ(out.getLevel(), ct.getLevel());
            }
        }
}

} // namespace
} // namespace Quelt::test
