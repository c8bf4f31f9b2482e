#include "Quelt/Ciphertext.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/NTT.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {
namespace {

using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

// The FX primes (degree 64) serve the ring of degree 128 too. With the
// smallest roots on both sides no prime's half-ring root is the square of
// the big ring's (checked apart with exact integers for all 25 base
// primes), so every limb takes the coefficient road. A half ring whose
// prime uses the square of the smallest 256-th root (type 1) has exactly
// that square as its root, so those limbs keep their NTT words.
const std::vector<u64> kSquareRootLimbs = {0, 2, 5};

std::shared_ptr<ContextContent> doubleFx() {
    return makeContext(ParameterPreset::FX, "FX", 1, false, true);
}

// FX's base primes over degree 64, with the type-1 transform at
// kSquareRootLimbs.
std::shared_ptr<ContextContent> halfWithMatchingRoots(const std::shared_ptr<ContextContent> &fx) {
    std::vector<u64> base(getLength(fx));
    for (u64 i = 0; i < base.size(); ++i)
        base[i] = i;
    std::vector<NttType> types(base.size(), NttType::NEGACYCLIC);
    for (u64 i : kSquareRootLimbs)
        types[i] = NttType::NEGACYCLIC_SQUARE_4N;
    return contextFromPrimes(fx, 6, base, {25, 26}, 3, types);
}

// Limb i of p in coefficient form.
std::vector<u64> coefficients(const PrimeModuli &chain, const Polynomial &p, u64 i) {
    const u64 n = p.getDegree();
    std::vector<u64> limb(p.getLimb(i), p.getLimb(i) + n);
    if (p.isNTT())
        chain.getModulus(i).getNTT()->computeBackward<1>(limb.data());
    return limb;
}

// Every limb of out equals twice the even coefficients of in, in coefficient
// form.
void expectEvenPartDoubled(const PrimeModuli &big, const Polynomial &in, const PrimeModuli &half,
                           const Polynomial &out) {
    ASSERT_EQ(out.getLevel(), in.getLevel());
    for (u64 i = 0; i <= in.getLevel(); ++i) {
        const u64 p = big.getModulus(i).getPrime();
        const std::vector<u64> a = coefficients(big, in, i);
        const std::vector<u64> b = coefficients(half, out, i);
        for (u64 j = 0; j < b.size(); ++j)
            ASSERT_EQ(b[j], (2 * a[2 * j]) % p) << "limb " << i << " word " << j;
    }
}

RingCiphertext randomCiphertext(const std::shared_ptr<ContextContent> &ctx, u64 level) {
    std::mt19937_64 rng(7);
    RingCiphertext ct(ctx, false, true);
    ct.setLevel(level);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    for (u64 k = 0; k < ct.getNumPoly(); ++k)
        for (u64 i = 0; i <= level; ++i) {
            std::uniform_int_distribution<u64> word(0, chain.getModulus(i).getPrime() - 1);
            u64 *limb = ct.getPoly(k).getLimb(i);
            for (u64 j = 0; j < getDegree(ctx); ++j)
                limb[j] = word(rng);
        }
    return ct;
}

TEST(HomEvaluatorHalfDegreeTest, RootsDecideWhichLimbsGoThroughCoefficients) {
    const auto big = doubleFx();
    const auto fx = makeContext(ParameterPreset::FX);
    const u64 top = getLength(fx) - 1;
    EXPECT_EQ(RotationEvaluator::halfDegreeThroughCoefficients(big->getPrimeModuli(),
                                                               fx->getPrimeModuli(), top),
              std::vector<bool>(top + 1, true));
    std::vector<bool> expected(top + 1, true);
    for (u64 i : kSquareRootLimbs)
        expected[i] = false;
    EXPECT_EQ(RotationEvaluator::halfDegreeThroughCoefficients(
                  big->getPrimeModuli(), halfWithMatchingRoots(fx)->getPrimeModuli(), top),
              expected);
}

TEST(HomEvaluatorHalfDegreeTest, KeepsTheEvenPartDoubledOnBothRoads) {
    const auto big = doubleFx();
    const auto fx = makeContext(ParameterPreset::FX);
    const HomEvaluatorImpl eval(big);
    for (const auto &half : {fx, halfWithMatchingRoots(fx)}) {
        for (u64 level : {u64{24}, u64{6}}) {
            const RingCiphertext ct = randomCiphertext(big, level);
            RingCiphertext out(half, false, true);
            eval.rotations().convertToHalfDeg(ct, out);
            EXPECT_EQ(out.getNumPoly(), 2U);
            for (u64 k = 0; k < 2; ++k)
                expectEvenPartDoubled(big->getPrimeModuli(), ct.getPoly(k), half->getPrimeModuli(),
                                      out.getPoly(k));
        }
    }
}

TEST(HomEvaluatorHalfDegreeTest, DecryptsUnderTheHalfSecretToTheEvenPartDoubled) {
    // s(X) = s'(X^2): the big ring's decryption b + a s has the even part
    // b_e + a_e s', so the converted ciphertext decrypts under s' to twice
    // the even coefficients of the big ring's decryption, word for word.
    const auto big = doubleFx();
    const auto fx = makeContext(ParameterPreset::FX);
    std::mt19937_64 rng(11);
    std::uniform_int_distribution<int> ternary(-1, 1);
    std::vector<int> small(64), large(128, 0);
    for (u64 j = 0; j < small.size(); ++j)
        large[2 * j] = small[j] = ternary(rng);
    int *small_ptr = small.data();
    int *large_ptr = large.data();
    const SecretKeyBase<EncryptionType::RLWE> key_big(big, large_ptr);
    const SecretKeyBase<EncryptionType::RLWE> key_half(fx, small_ptr);

    Message m(6);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (auto &slot : m)
        slot = {value(rng), value(rng)};
    RingCiphertext ct(big, false, true);
    Encryptor(big).encrypt(m, key_big, ct, 12, 0);
    RingCiphertext out(fx, false, true);
    HomEvaluator(big).convertToHalfDeg(ct, out);

    Plaintext plain_big(big), plain_half(fx);
    Decryptor(big).decrypt(ct, key_big, plain_big);
    Decryptor(fx).decrypt(out, key_half, plain_half);
    expectEvenPartDoubled(big->getPrimeModuli(), plain_big.getMx(), fx->getPrimeModuli(),
                          plain_half.getMx());
}

TEST(HomEvaluatorHalfDegreeTest, Refusals) {
    const auto big = doubleFx();
    const auto fx = makeContext(ParameterPreset::FX);
    const HomEvaluatorImpl eval(big);
    const RingCiphertext ct = randomCiphertext(big, 3);
    RingCiphertext same_degree(big, false, true);
    expectThrowsMessage([&] { HomEvaluator(big).convertToHalfDeg(ct, same_degree); },
                        HomEvaluatorImpl::kHalfDegDegree);
    expectThrowsMessage([&] { eval.rotations().convertToHalfDeg(ct, same_degree); },
                        HomEvaluatorImpl::kHalfDegDegree);
    // An equal context that is another object is still another context.
    RingCiphertext out(fx, false, true);
    const RingCiphertext foreign = randomCiphertext(doubleFx(), 3);
    expectThrowsMessage([&] { eval.rotations().convertToHalfDeg(foreign, out); },
                        HomEvaluatorImpl::kHalfDegContext);
    const auto cyclic = makeContext(ParameterPreset::FX, "FX", 1, true, false);
    RingCiphertext cyclic_out(cyclic, false, true);
    expectThrowsMessage([&] { eval.rotations().convertToHalfDeg(ct, cyclic_out); },
                        HomEvaluatorImpl::kHalfDegCyclic);
}

} // namespace
} // namespace Quelt::test
