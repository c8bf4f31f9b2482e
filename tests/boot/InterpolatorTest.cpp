#include "Quelt/Interpolator.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/InterpolatorImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"
#include "support/SchemeFixture.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The Interpolator on FX (degree 64, encryption level 12), whose context has
// neither an automatic gap resolve nor a full packed base modulus: there its
// reduction is the bootstrapper's.

namespace Quelt::test {
namespace {

using Complex = std::complex<double>;

class InterpolatorTest : public SchemeFixture {
protected:
    // Real slots (I + e) / 28 with |I| < 28 and |e| <= 0.02, encrypted
    // without error (c0 = m - c1 s) at `level`, above the encryption level.
    RingCiphertext reductionInput(u64 level) {
        std::uniform_int_distribution<int> integer(-27, 27);
        std::uniform_real_distribution<double> fraction(-0.02, 0.02);
        Message m(getLogFullSlots(context()));
        for (auto &slot : m)
            slot = Complex((integer(rng) + fraction(rng)) / 28.0, 0.0);
        RingCiphertext ct(context(), false, true);
        ct.setLevel(level);
        QueltTest::fillResidues(ct.getPoly(1), level + 3);
        Polynomial product = ct.getPoly(1);
        const PrimeModuli &chain = context()->getPrimeModuli();
        chain.hadamardMult(ct.getPoly(1), secretKey().getSx(0), product);
        chain.sub(encoder.encode(m, level, 0).getMx(), product, ct.getPoly(0));
        return ct;
    }

    static void expectSameWords(const RingCiphertext &a, const RingCiphertext &b) {
        ASSERT_EQ(a.getNumPoly(), b.getNumPoly());
        EXPECT_EQ(a.getLevel(), b.getLevel());
        EXPECT_EQ(a.getRescaleCounter(), b.getRescaleCounter());
        for (u64 k = 0; k < a.getNumPoly(); ++k)
            EXPECT_EQ(QueltTest::wordsOf(a.getPoly(k)), QueltTest::wordsOf(b.getPoly(k)));
    }

    const HomEvaluator eval{context(), keyPack()};
};

TEST_F(InterpolatorTest, FxHasNeitherGapResolveNorFullPacking) {
    EXPECT_FALSE(isAutomaticGapResolve(context()));
    EXPECT_FALSE(isFullPackedBaseModulus(context()));
}

// The same reduction as the bootstrapper's, word for word, for two scales;
// it decrypts to the same message.
TEST_F(InterpolatorTest, RemoveIIsTheBootstrappersRemoveI) {
    const BootstrapperImpl boot(eval, false, 0);
    const Interpolator interp(eval);
    const RingCiphertext in = reductionInput(21);
    for (double scale : {1.0, 0.5}) {
        SCOPED_TRACE(scale);
        RingCiphertext want(context(), false, true), got(context(), false, true);
        boot.getPipeline().removeI(in, want, scale);
        interp.removeI(in, got, scale);
        EXPECT_EQ(got.getLevel(), getEncryptionLevel(context()));
        expectSameWords(got, want);
        EXPECT_EQ(maxError(decrypt(got), decrypt(want)), 0.0);
    }
}

TEST_F(InterpolatorTest, RemoveIMayOverwriteItsInput) {
    const Interpolator interp(eval);
    RingCiphertext ct = reductionInput(21);
    RingCiphertext want(context(), false, true);
    interp.removeI(ct, want, 1.0);
    interp.removeI(ct, ct, 1.0);
    expectSameWords(ct, want);
}

// The reduction uses m + 3 + r levels on FX (3 + 3 + 3): an input below that
// is refused before anything is written, so out (here the input itself, or
// another ciphertext) keeps its words.
TEST_F(InterpolatorTest, RemoveIRefusesAnInputBelowItsLevelsAndLeavesOutAlone) {
    const Interpolator interp(eval);
    const std::string message =
        "[removeI] The operand is at level 2, but the modular reduction uses 9 levels";
    RingCiphertext in = reductionInput(2);
    const RingCiphertext before = in;
    RingCiphertext out = reductionInput(21);
    const RingCiphertext out_before = out;
    expectThrowsMessage([&] { interp.removeI(in, out, 1.0); }, message);
    expectSameWords(out, out_before);
    expectThrowsMessage([&] { interp.removeI(in, in, 1.0); }, message);
    expectSameWords(in, before);
    // Level 9 is enough: the result lands on level 0.
    RingCiphertext low(context(), false, true);
    interp.removeI(reductionInput(9), low, 1.0);
    EXPECT_EQ(low.getLevel(), 0u);
}

// A context without bootstrapping settings has no cosine to evaluate: the
// Interpolator says so instead of reporting non-finite constants.
TEST_F(InterpolatorTest, ContextWithoutBootstrapSettingsIsNamed) {
    const auto plain = degree64ThreePrimes();
    const SecretKeyBase<EncryptionType::RLWE> key(plain);
    KeyPack pack(plain);
    KeyGenerator(plain, key, pack).genMultKey();
    const HomEvaluator plain_eval(plain, pack);
    const Interpolator interp(plain_eval);
    RingCiphertext ct(plain, false, true);
    Message zeros(getLogFullSlots(plain));
    for (auto &slot : zeros)
        slot = Complex(0.0, 0.0);
    Encryptor(plain).encrypt(zeros, key, ct);
    RingCiphertext out(plain, false, true);
    expectThrowsMessage([&] { interp.removeI(ct, out, 1.0); },
                        "[Interpolator] The context CUSTOM has no bootstrapping settings (it is "
                        "not a bootstrappable preset): build the Interpolator over a context of a "
                        "bootstrappable preset");
}

// FX has arcsine degree 1: a negative amplitude negates the cosine and its
// double-angle steps.
TEST_F(InterpolatorTest, CosineWithNegativeAmplitudeIsNegated) {
    const InterpolatorImpl impl(eval);
    ASSERT_EQ(impl.getBootParameter().arcsine_degree, 1u);
    const RingCiphertext in = reductionInput(21);
    RingCiphertext pos(context(), false, true), neg(context(), false, true);
    impl.cosineApprox(in, pos, 2.0);
    impl.cosineApprox(in, neg, -2.0);
    HomEvaluatorImpl(context()).negate(neg, neg);
    expectSameWords(neg, pos);
}

// Arcsine degree 1 copies; degree 3 gives a (x + x^3 / 6) two levels down.
TEST_F(InterpolatorTest, ArcsineCorrection) {
    const InterpolatorImpl impl(eval);
    std::uniform_real_distribution<double> dist(-0.5, 0.5);
    Message m(getLogFullSlots(context()));
    for (auto &slot : m)
        slot = Complex(dist(rng), 0.0);
    const RingCiphertext in = encrypt(m);
    RingCiphertext out(context(), false, true);
    impl.arcsineApprox(in, out, 1, 3.0);
    expectSameWords(out, in);
    impl.arcsineApprox(in, out, 3, 3.0);
    EXPECT_EQ(out.getLevel(), in.getLevel() - 2);
    Message want = m;
    for (auto &slot : want)
        slot = 3.0 * (slot + slot * slot * slot / 6.0);
    EXPECT_LT(maxError(decrypt(out), want), 1e-6);
}

// The stored evaluator is a copy that shares the given one's keys: a key
// made into the pack after construction is seen through getEval.
TEST_F(InterpolatorTest, GetEvalSharesKeys) {
    KeyPack pack(context());
    const HomEvaluator given(context(), pack);
    const Interpolator interp(given);
    EXPECT_NE(&interp.getEval(), &given);
    const RingCiphertext ct = encrypt(randomMessage());
    RingCiphertext out(context(), false, true);
    EXPECT_ANY_THROW(interp.getEval().mult(ct, ct, out));
    KeyGenerator(context(), secretKey(), pack).genMultKey();
    interp.getEval().mult(ct, ct, out);
    given.mult(ct, ct, out);
    const Interpolator copy = interp;
    EXPECT_EQ(&copy.getEval(), &interp.getEval());
}

} // namespace
} // namespace Quelt::test
