#include "eval/MultiSecretEvaluator.hpp"
#include "Quelt/Bx.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"
#include "support/MultiSecretTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
using Impl = HomEvaluatorImpl;

const std::string kUnreachable =
    "[getRotKeyDecomposition] Can not reach to such rotation idx using given rot keys.";

const std::shared_ptr<ContextContent> &twoSecrets() { return msTwoSecrets(); }
const std::shared_ptr<ContextContent> &threeSecrets() { return msThreeSecrets(); }

u64 halfDegree(const std::shared_ptr<ContextContent> &ctx) {
    return u64{1} << getLogFullSlots(ctx);
}

// A multi-secret key with a pack holding the conjugation key and the
// rotation keys of 1, 2 and N/2 - 1 (3 is reached through 1 and 2).
struct MsKeys {
    explicit MsKeys(const std::shared_ptr<ContextContent> &ctx) : scheme(ctx), pack(ctx) {
        const KeyGenerator generator(ctx, scheme.key, pack);
        generator.genConjKey();
        for (u64 idx : {u64{1}, u64{2}, halfDegree(ctx) - 1})
            generator.genLeftRotKey(idx);
    }
    SchemeKeys<EncryptionType::MSRLWE> scheme;
    KeyPack pack;
};

const MsKeys &keysOf(const std::shared_ptr<ContextContent> &ctx) {
    if (ctx == twoSecrets()) {
        static const MsKeys keys(twoSecrets());
        return keys;
    }
    static const MsKeys keys(threeSecrets());
    return keys;
}

// Fresh encryptions carry an error of about 21 sqrt(N) / 2^40 per slot; sums
// of two stay far below this bound.
constexpr double kBound = 1e-6;
constexpr u64 kLevel = 3;

void expectSame(const MsCiphertext &a, const MsCiphertext &b) {
    EXPECT_EQ(ciphertextWords(a), ciphertextWords(b));
}

class HomEvaluatorMultiSecretTest : public testing::TestWithParam<std::shared_ptr<ContextContent>> {
protected:
    const std::shared_ptr<ContextContent> &ctx() const { return ctx_; }
    u64 secrets() const { return getNumSecret(ctx_); }
    u64 half() const { return halfDegree(ctx_); }
    const MsKeys &keys() const { return keysOf(ctx_); }

    Messages messages() { return randomMessages(getLogFullSlots(ctx_), secrets(), rng_); }
    MsCiphertext encrypt(const Messages &m, int counter = 0) const {
        return keys().scheme.encrypt(m, kLevel, counter);
    }
    // A ciphertext with a coefficient-encoded message, and one carrying a
    // polynomial more than the context's secrets.
    MsCiphertext coefficientEncoded() {
        MsCiphertext ct = encrypt(messages());
        ct.setEncodingType(EncodingType::COEFFICIENT);
        return ct;
    }
    MsCiphertext oversized() {
        MsCiphertext ct = encrypt(messages());
        ct.setNumPoly(secrets() + 2);
        return ct;
    }
    std::string sizeText() const { return std::to_string(secrets() + 1); }

    std::shared_ptr<ContextContent> ctx_ = GetParam();
    std::mt19937_64 rng_{20261211};
};

INSTANTIATE_TEST_SUITE_P(Contexts, HomEvaluatorMultiSecretTest,
                         testing::Values(twoSecrets(), threeSecrets()), [](const auto &info) {
                             return std::to_string(getNumSecret(info.param)) + "Secrets";
                         });

TEST_P(HomEvaluatorMultiSecretTest, SplitThenCombineRestoresTheCiphertext) {
    const HomEvaluator eval(ctx());
    const MsCiphertext full = encrypt(messages());
    // A short ciphertext: the first body and the mask.
    MsCiphertext shortened = full;
    shortened.getPoly(1) = full.getPoly(secrets());
    shortened.setNumPoly(2);
    for (const MsCiphertext *ct : std::vector<const MsCiphertext *>{&full, &shortened}) {
        const u64 k = ct->getNumSecret();
        SCOPED_TRACE(k);
        Bx ax(ctx(), 1, false);
        Bx bx(ctx(), k, false);
        eval.splitMSRLWECiphertext(*ct, ax, bx);
        EXPECT_EQ(QueltTest::wordsOf(ax.getData()->getPoly(0)), QueltTest::wordsOf(ct->getPoly(k)));
        MsCiphertext back = *ct;
        for (u64 i = 0; i <= k; ++i)
            std::fill(back.getPoly(i).getLimb(0),
                      back.getPoly(i).getLimb(0) + back.getPoly(i).getData().size(), 0);
        eval.combineMSRLWECiphertext(ax, bx, back);
        expectSame(back, *ct);
    }
    Bx none(ctx(), 0, false);
    Bx one(ctx(), 1, false);
    Bx shortBodies(ctx(), secrets() - 1, false);
    MsCiphertext out = full;
    expectCases({
        {"split, no mask", [&] { eval.splitMSRLWECiphertext(full, none, one); }, Impl::kSplitShort},
        {"split, a body short", [&] { eval.splitMSRLWECiphertext(full, one, shortBodies); },
         Impl::kSplitShort},
        {"combine, no mask", [&] { eval.combineMSRLWECiphertext(none, shortBodies, out); },
         Impl::kCombineShort},
        {"combine, a body short", [&] { eval.combineMSRLWECiphertext(one, shortBodies, out); },
         Impl::kCombineShort},
    });
    expectSame(out, full);
}

TEST_P(HomEvaluatorMultiSecretTest, IdentitiesCopyWithoutAKey) {
    // No key at all: every identity completes without one.
    const HomEvaluator eval(ctx());
    const Impl owner(ctx());
    const MultiSecretEvaluator &ms = owner.multiSecret();
    const Messages m = messages();
    const MsCiphertext ct = encrypt(m);
    const u64 slots = ct.getNumberOfSlots();
    ASSERT_EQ(slots, half());
    MsCiphertext out(ctx(), false, true);

    for (u64 idx : {u64{0}, half()}) {
        SCOPED_TRACE(idx);
        ms.leftRotateMSRLWE(ct, idx, out);
        expectSame(out, ct);
        EXPECT_LE(largestSlotError(keys().scheme.decrypt(out), m), kBound);
        ms.rightRotateMSRLWE(ct, idx, out);
        expectSame(out, ct);
        // The facade reduces modulo the slot count before the member sees it.
        eval.leftRotateMSRLWE(ct, idx + slots, out);
        expectSame(out, ct);
    }

    // Hoisted by zeros: copies, outs replaced by one per index.
    std::vector<MsCiphertext> outs(5, ct);
    eval.leftRotateMSRLWE(ct, {0, half(), 0}, outs);
    ASSERT_EQ(outs.size(), 3u);
    for (const MsCiphertext &o : outs)
        expectSame(o, ct);

    // Lazy rotations by 0: ct copied, bx left as it was; the chain forms copy bx_in.
    Bx bx(ctx(), secrets(), true);
    const PolynomialVector bx_before = *bx.getData();
    eval.lazyLeftRotateMSRLWE(ct, slots, out, bx);
    expectSame(out, ct);
    EXPECT_EQ(bx.getData()->getSize(), secrets());
    Bx chained(ctx(), 1, true);
    eval.lazyLeftRotateMSRLWE(ct, bx, 0, out, chained);
    expectSame(out, ct);
    ASSERT_EQ(chained.getData()->getSize(), secrets());
    for (u64 i = 0; i < secrets(); ++i)
        EXPECT_EQ(QueltTest::wordsOf(chained.getData()->getPoly(i)),
                  QueltTest::wordsOf(bx_before.getPoly(i)));
    eval.lazyLeftRotateMSRLWE(ct, bx, slots, out, bx); // bx_in is bx
    for (u64 i = 0; i < secrets(); ++i)
        EXPECT_EQ(QueltTest::wordsOf(bx.getData()->getPoly(i)),
                  QueltTest::wordsOf(bx_before.getPoly(i)));
    for (u64 idx : {u64{0}, half()}) {
        PolynomialVector copy(ctx(), 1, true, true);
        ms.lazyRightRotateMSRLWE(ct, *bx.getData(), idx, out, copy);
        expectSame(out, ct);
        ASSERT_EQ(copy.getSize(), secrets());
        EXPECT_EQ(QueltTest::wordsOf(copy.getPoly(0)), QueltTest::wordsOf(bx_before.getPoly(0)));
        expectThrowsMessage([&] { ms.lazyRightRotateMSRLWE(ct, idx, out, copy); },
                            Impl::kLazyRightZero);
    }

    // Light rotation by 0: the mask copied, bx resized to k (from shorter
    // and longer lists).
    for (u64 size : {u64{0}, secrets() + 2}) {
        Bx a_in(ctx(), 1, false);
        a_in.getData()->getPoly(0) = ct.getPoly(secrets());
        Bx a_out(ctx(), 1, false);
        Bx light(ctx(), size, true);
        eval.lightLeftRotateMSRLWE(a_in, half(), a_out, light);
        EXPECT_EQ(QueltTest::wordsOf(a_out.getData()->getPoly(0)),
                  QueltTest::wordsOf(ct.getPoly(secrets())));
        EXPECT_EQ(light.getData()->getSize(), secrets());
        Bx lightChain(ctx(), 0, true);
        eval.lightLeftRotateMSRLWE(a_in, bx, 0, a_out, lightChain);
        ASSERT_EQ(lightChain.getData()->getSize(), secrets());
        EXPECT_EQ(QueltTest::wordsOf(lightChain.getData()->getPoly(0)),
                  QueltTest::wordsOf(bx_before.getPoly(0)));
    }
}

TEST_P(HomEvaluatorMultiSecretTest, FacadeReducesByTheOperandsSlotCount) {
    // A ciphertext of half the full slots: a rotation by its slot count is a
    // copy, where the member alone (modulo N/2) would need a key.
    const HomEvaluator eval(ctx());
    const Impl owner(ctx());
    const MultiSecretEvaluator &ms = owner.multiSecret();
    MsCiphertext ct = encrypt(messages());
    ct.setLogSlots(getLogFullSlots(ctx()) - 1);
    const u64 slots = ct.getNumberOfSlots();
    MsCiphertext out(ctx(), false, true);
    eval.leftRotateMSRLWE(ct, slots, out);
    expectSame(out, ct);
    Bx bx(ctx(), secrets(), true);
    eval.lazyLeftRotateMSRLWE(ct, 3 * slots, out, bx);
    expectSame(out, ct);
    eval.lazyLeftRotateMSRLWE(ct, bx, slots, out, bx);
    expectSame(out, ct);
    expectThrowsMessage([&] { ms.leftRotateMSRLWE(ct, slots, out); }, kUnreachable);
    expectThrowsMessage([&] { ms.lazyLeftRotateMSRLWE(ct, slots, out, *bx.getData()); },
                        Impl::kLazyNoRotKey + std::to_string(slots));
}

TEST_P(HomEvaluatorMultiSecretTest, RotationSumOfZerosIsTheSum) {
    const HomEvaluator eval(ctx());
    const Messages a = messages();
    const Messages b = messages();
    const MsCiphertext ca = encrypt(a);
    const MsCiphertext cb = encrypt(b);
    std::vector<MsCiphertext> cts = {ca, cb};
    eval.rotSumMSRLWE(cts, {0, half()}, cts[1]); // out may be an input
    Messages want = a;
    for (u64 k = 0; k < secrets(); ++k)
        for (u64 j = 0; j < want[k].getSize(); ++j)
            want[k][j] += b[k][j];
    EXPECT_LE(largestSlotError(keys().scheme.decrypt(cts[1]), want), kBound);
}

TEST_P(HomEvaluatorMultiSecretTest, ModDownOfTheBxIsAddedToTheBodies) {
    // bx_i = P pt_i over the extended basis (zero on the temporary primes) is
    // exactly divisible by P, so body i decrypts to m_i + pt_i.
    const Impl owner(ctx());
    const MultiSecretEvaluator &ms = owner.multiSecret();
    const EnDecoder encoder(ctx());
    const Messages m = messages();
    const Messages p = messages();
    const int counter = 1;
    const MsCiphertext ct = encrypt(m, counter);
    const u64 length = getLength(ctx());
    const std::vector<u64> primes = ctx()->getPrimeValues();
    PolynomialVector bx(ctx(), secrets(), true, true);
    bx.setLevel(kLevel);
    for (u64 k = 0; k < secrets(); ++k) {
        const Plaintext pt = encoder.encode(p[k], kLevel, counter);
        Polynomial &poly = bx.getPoly(k);
        std::fill(poly.getLimb(0), poly.getLimb(0) + poly.getData().size(), 0);
        for (u64 i = 0; i <= kLevel; ++i) {
            u64 p_mod = 1;
            for (u64 t = length; t < primes.size(); ++t)
                p_mod = mulModRef(p_mod, primes[t] % primes[i], primes[i]);
            for (u64 j = 0; j < getDegree(ctx()); ++j)
                poly.getLimb(i)[j] = mulModRef(pt.getMxData(i)[j], p_mod, primes[i]);
        }
    }
    MsCiphertext out(ctx(), false, true);
    ms.modDownBxAndSum(bx, ct, out);
    EXPECT_EQ(out.getRescaleCounter(), counter);
    EXPECT_EQ(out.getLevel(), kLevel);
    Messages want = m;
    for (u64 k = 0; k < secrets(); ++k)
        for (u64 j = 0; j < want[k].getSize(); ++j)
            want[k][j] += p[k][j];
    EXPECT_LE(largestSlotError(keys().scheme.decrypt(out), want), kBound);

    PolynomialVector fewer = bx;
    fewer.setSize(secrets() - 1);
    const MsCiphertext before = out;
    expectThrowsMessage([&] { ms.modDownBxAndSum(fewer, ct, out); }, Impl::kBxSizeIncompatible);
    expectSame(out, before);
}

// ---- Every key switch: its checks in order, outputs untouched -------------------

// The rotation's three forms compute the same words: the hoisted one (the
// digits of the mask rotated), the lazy one once its bx is divided by P and
// added, and the single one; a right rotation is the left one by N/2 - idx.
TEST_P(HomEvaluatorMultiSecretTest, HoistedAndLazyRotationsEqualTheSingleOne) {
    const Impl owner(ctx(), keys().pack);
    const MultiSecretEvaluator &ms = owner.multiSecret();
    const MsCiphertext ct = encrypt(messages());
    const std::vector<u64> idxs = {1, 0, 2, half() - 1};
    std::vector<MsCiphertext> hoisted;
    ms.leftRotateMSRLWE(ct, idxs, hoisted);
    ASSERT_EQ(hoisted.size(), idxs.size());
    for (u64 i = 0; i < idxs.size(); ++i) {
        SCOPED_TRACE(idxs[i]);
        MsCiphertext single(ctx(), false, true);
        ms.leftRotateMSRLWE(ct, idxs[i], single);
        expectSame(hoisted[i], single);
        if (idxs[i] == 0)
            continue;
        MsCiphertext lazy(ctx(), false, true), done(ctx(), false, true);
        PolynomialVector bx(ctx(), secrets(), true, true);
        ms.lazyLeftRotateMSRLWE(ct, idxs[i], lazy, bx);
        ms.modDownBxAndSum(bx, lazy, done);
        expectSame(done, single);
    }
    MsCiphertext right(ctx(), false, true);
    ms.rightRotateMSRLWE(ct, 1, right);
    expectSame(right, hoisted[3]);
}

TEST_P(HomEvaluatorMultiSecretTest, RotationsRefuseBadOperandsInOrder) {
    const HomEvaluator keyless(ctx());
    const HomEvaluator eval(ctx(), keys().pack);
    const Impl owner(ctx(), keys().pack);
    const MultiSecretEvaluator &ms = owner.multiSecret();
    const MsCiphertext ct = encrypt(messages());
    const MsCiphertext coeff = coefficientEncoded();
    const MsCiphertext wide = oversized();
    MsCiphertext out(ctx(), false, true);
    const MsCiphertext before = out;
    std::vector<MsCiphertext> outs(2, ct);
    expectCases({
        {"left, coefficients", [&] { eval.leftRotateMSRLWE(coeff, 1, out); },
         utils::kCoeffEncodedMessage},
        {"left, unreachable", [&] { keyless.leftRotateMSRLWE(ct, 1, out); }, kUnreachable},
        {"right, coefficients", [&] { ms.rightRotateMSRLWE(coeff, 1, out); },
         utils::kCoeffEncodedMessage},
        {"hoisted, coefficients", [&] { eval.leftRotateMSRLWE(coeff, {1}, outs); },
         utils::kCoeffEncodedMessage},
        {"hoisted, size", [&] { eval.leftRotateMSRLWE(wide, {1}, outs); },
         Impl::kMsHoistedSize + sizeText()},
        {"hoisted, key",
         [&] {
             eval.leftRotateMSRLWE(ct, {0, 3}, outs);
         },
         Impl::kLeftRotKeyMissing + std::string("3")},
        {"conjugate, coefficients", [&] { eval.conjugateMSRLWE(coeff, out); },
         utils::kCoeffEncodedMessage},
        {"conjugate, key", [&] { keyless.conjugateMSRLWE(ct, out); }, Impl::kConjKeyMissing},
    });
    expectSame(out, before);
    ASSERT_EQ(outs.size(), 2u);
    expectSame(outs[1], ct);
}

TEST_P(HomEvaluatorMultiSecretTest, AKeyNamedByTheTableButGoneIsReported) {
    const TempDirectory temp("ms_rotate_" + std::to_string(secrets()));
    const std::filesystem::path &dir = temp.path();
    KeyPack source(ctx());
    const KeyGenerator generator(ctx(), keys().scheme.key, source);
    for (u64 idx : {u64{1}, u64{5}})
        generator.genLeftRotKey(idx);
    source.save(dir.string());
    KeyPack pack(ctx(), dir.string());
    pack.computeRotationKeyDecomposition(false); // from the files: 5 is one step
    std::filesystem::remove(dir / "PK" / "RotKey5.bin");
    const HomEvaluator eval(ctx(), pack);
    MsCiphertext out(ctx(), false, true);
    expectThrowsMessage([&] { eval.leftRotateMSRLWE(encrypt(messages()), 5, out); },
                        "[Rotation Key] Rotation key 5 is removed.\n Rerun the "
                        "Keypack.computeRotationKeyDecomposition");
}

TEST_P(HomEvaluatorMultiSecretTest, SwitchesAndSumsRefuseBadOperandsInOrder) {
    const HomEvaluator keyless(ctx());
    const HomEvaluator eval(ctx(), keys().pack);
    const KeyGenerator generator(ctx());
    const SecretKeyBase<EncryptionType::MSRLWE> other(ctx());
    const RingSwitchKey switchKey = generator.genSwitchKeyMSRLWE(keys().scheme.key, other);
    const MsCiphertext ct = encrypt(messages());
    const MsCiphertext coeff = coefficientEncoded();
    const MsCiphertext wide = oversized();
    MsCiphertext sparse = ct;
    sparse.setLogSlots(ct.getLogSlots() - 1);
    MsCiphertext out(ctx(), false, true);
    const MsCiphertext before = out;
    using List = std::vector<MsCiphertext>;
    expectCases({
        {"switch, coefficients", [&] { eval.switchKeyMSRLWE(coeff, switchKey, out); },
         utils::kCoeffEncodedMessage},
        {"switch, size", [&] { eval.switchKeyMSRLWE(wide, switchKey, out); },
         Impl::kSizeShouldBe + sizeText()},
        {"sum, empty", [&] { eval.rotSumMSRLWE(List{}, {}, out); }, Impl::kMsRotSumEmpty},
        {"sum, coefficients",
         [&] {
             eval.rotSumMSRLWE(List{coeff, ct}, {1, 1}, out);
         },
         utils::kCoeffEncodedMessage},
        {"sum, operands",
         [&] {
             eval.rotSumMSRLWE(List{ct, sparse}, {1, 1}, out);
         },
         utils::kDifferentLogSlotsMessage},
        {"sum, size",
         [&] {
             eval.rotSumMSRLWE(List{ct, wide}, {1, 1}, out);
         },
         Impl::kMsRotSumSize + sizeText()},
        {"sum, lengths",
         [&] {
             eval.rotSumMSRLWE(List{ct, ct}, {1}, out);
         },
         Impl::kMsRotSumSizes},
        {"sum, key",
         [&] {
             keyless.rotSumMSRLWE(List{ct, ct}, {0, 1}, out);
         },
         Impl::kLeftRotKeyMissing + std::string("1")},
    });
    expectSame(out, before);
}

TEST_P(HomEvaluatorMultiSecretTest, LazyAndLightRotationsRefuseBadOperandsInOrder) {
    const HomEvaluator keyless(ctx());
    const HomEvaluator eval(ctx(), keys().pack);
    const MsCiphertext ct = encrypt(messages());
    const MsCiphertext coeff = coefficientEncoded();
    MsCiphertext out(ctx(), false, true);
    Bx bx(ctx(), secrets(), true);
    Bx shortBx(ctx(), secrets() - 1, true);
    Bx mask(ctx(), 1, false);
    mask.getData()->getPoly(0) = ct.getPoly(secrets());
    Bx maskOut(ctx(), 1, false);
    Bx empty(ctx(), 0, false);
    Bx lightBx(ctx(), 0, true);
    Bx holder(ctx(), 1, true);
    const std::string one = "1";
    expectCases({
        {"lazy, coefficients", [&] { eval.lazyLeftRotateMSRLWE(coeff, 1, out, bx); },
         utils::kCoeffEncodedMessage},
        {"lazy, bx short", [&] { eval.lazyLeftRotateMSRLWE(ct, 1, out, shortBx); },
         Impl::kLazyBxShort},
        {"lazy, key", [&] { keyless.lazyLeftRotateMSRLWE(ct, 1, out, bx); },
         Impl::kLazyNoRotKey + one},
        {"lazy chain, coefficients", [&] { eval.lazyLeftRotateMSRLWE(coeff, bx, 1, out, bx); },
         utils::kCoeffEncodedMessage},
        {"lazy chain, bx_in short", [&] { eval.lazyLeftRotateMSRLWE(ct, shortBx, 1, out, bx); },
         Impl::kLazyBxShort},
        {"lazy chain, bx short", [&] { eval.lazyLeftRotateMSRLWE(ct, bx, 1, out, shortBx); },
         Impl::kLazyBxShort},
        {"lazy chain, key", [&] { keyless.lazyLeftRotateMSRLWE(ct, bx, 1, out, bx); },
         Impl::kLazyNoRotKey + one},
        {"light, no mask", [&] { eval.lightLeftRotateMSRLWE(empty, 1, maskOut, lightBx); },
         Impl::kBxNoPolynomial},
        {"light, mask in bx", [&] { eval.lightLeftRotateMSRLWE(mask, 1, holder, holder); },
         Impl::kLightMaskInBx},
        {"light, key", [&] { keyless.lightLeftRotateMSRLWE(mask, 1, maskOut, lightBx); },
         Impl::kLightNoRotKey + one},
        {"light chain, bx_in short",
         [&] { eval.lightLeftRotateMSRLWE(mask, shortBx, 1, maskOut, lightBx); },
         Impl::kLightBxShort},
        {"light chain, key", [&] { keyless.lightLeftRotateMSRLWE(mask, bx, 1, maskOut, lightBx); },
         Impl::kLightNoRotKey + one},
    });
}

TEST_P(HomEvaluatorMultiSecretTest, InnerProductRefusesBadOperandsInOrder) {
    const HomEvaluator eval(ctx(), keys().pack);
    const EnDecoder encoder(ctx());
    const MsCiphertext ct = encrypt(messages());
    MsCiphertext lower = ct;
    lower.setLevel(kLevel - 1);
    const std::vector<Plaintext> pts = {encoder.encode(messages()[0], kLevel, 0),
                                        encoder.encode(messages()[0], kLevel, 0)};
    const std::vector<Plaintext> below = {encoder.encode(messages()[0], kLevel - 1, 0),
                                          encoder.encode(messages()[0], kLevel, 0)};
    const std::vector<Plaintext> unscaled = {encoder.encode(messages()[0], kLevel, 0),
                                             encoder.encodeWithoutNTT(messages()[0], kLevel, 0)};
    const std::vector<MsCiphertext> good = {ct, ct};
    const std::vector<MsCiphertext> wide = {ct, oversized()};
    const std::vector<MsCiphertext> coeff = {ct, coefficientEncoded()};
    const std::vector<MsCiphertext> levels = {ct, lower};
    MsCiphertext out(ctx(), false, true);
    const MsCiphertext before = out;
    const std::string length = Impl::kMsInnerProductLength + sizeText() +
                               Impl::kMsInnerProductLengthNow + std::to_string(secrets() + 2);
    expectCases({
        {"empty", [&] { eval.innerProductMSRLWE(pts.begin(), pts.begin(), good.begin(), out); },
         Impl::kMsInnerProductEmpty},
        {"length", [&] { eval.innerProductMSRLWE(pts.begin(), pts.end(), wide.begin(), out); },
         length},
        {"coefficients",
         [&] { eval.innerProductMSRLWE(pts.begin(), pts.end(), coeff.begin(), out); },
         utils::kCoeffEncodedMessage},
        {"levels", [&] { eval.innerProductMSRLWE(pts.begin(), pts.end(), levels.begin(), out); },
         "Operands have different levels."},
        {"plaintext in coefficient form",
         [&] { eval.innerProductMSRLWE(unscaled.begin(), unscaled.end(), good.begin(), out); },
         "[innerProductMSRLWE] The plaintext is in coefficient form; the operation needs NTT "
         "form"},
        {"plaintext below",
         [&] { eval.innerProductMSRLWE(below.begin(), below.end(), good.begin(), out); },
         Impl::kInnerProductPlaintextBelow},
    });
    expectSame(out, before);
}

TEST(HomEvaluatorMultiSecretPresetTest, FGbD12NS2L1RotationMovesTheSlots) {
    static const auto ctx = makeContext(ParameterPreset::FGbD12NS2L1);
    SchemeKeys<EncryptionType::MSRLWE> scheme(ctx);
    KeyPack pack(ctx);
    KeyGenerator(ctx, scheme.key, pack).genLeftRotKey(1);
    std::mt19937_64 rng(7);
    const Messages m = randomMessages(getLogFullSlots(ctx), 2, rng);
    const MsCiphertext ct = scheme.encrypt(m, getEncryptionLevel(ctx));
    const HomEvaluator eval(ctx, pack);
    MsCiphertext out(ctx, false, true);
    eval.leftRotateMSRLWE(ct, ct.getNumberOfSlots(), out);
    expectSame(out, ct);
    EXPECT_LE(largestSlotError(scheme.decrypt(out), m), kBound);
    eval.leftRotateMSRLWE(ct, 1, out);
    Messages want = m;
    for (u64 k = 0; k < want.size(); ++k)
        for (u64 j = 0; j < want[k].getSize(); ++j)
            want[k][j] = m[k][(j + 1) % want[k].getSize()];
    EXPECT_LE(largestSlotError(scheme.decrypt(out), want), 1e-5);
}

} // namespace
} // namespace Quelt::test
