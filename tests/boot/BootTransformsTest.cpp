// The transforms of a bootstrapper and the raise between them, on FX
// (degree 64): the level recovery of ring and multi-secret ciphertexts and the
// ordinary raise to the top of the chain. The transforms themselves run in
// BootstrapPipelineTest and BootstrapMultiSecretDFTTest.

#include "boot/BootTransforms.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;

// A random message of 32 slots encrypted and levelled down to 0 (NTT form).
Ciphertext levelZeroCiphertext() {
    std::mt19937_64 rng(20261211);
    const Message m = randomBootMessage(rng, 5, 1.0);
    Ciphertext ct(fxContext(), false, true);
    Encryptor(fxContext()).encrypt(m, fxBootKeys().pack, ct);
    fxBootEval().levelDown(ct, 0, ct);
    return ct;
}

TEST(BootTransformsTest, LevelRecoverLiftsTheCentredResidues) {
    const BootstrapperImpl boot(fxBootEval(), false, u64{0});
    Ciphertext ct = levelZeroCiphertext();
    ct.backwardNTT();
    Ciphertext raised(fxContext(), false, true);
    boot.getTransforms().levelRecover(ct, raised, 5);
    EXPECT_EQ(raised.getLevel(), 5u);
    EXPECT_EQ(raised.getLogSlots(), ct.getLogSlots());
    const u64 n = getDegree(fxContext());
    const std::vector<u64> primes = getPrimeList(fxContext());
    for (u64 p = 0; p < 2; ++p)
        for (u64 j = 0; j <= 5; ++j)
            for (u64 i = 0; i < n; ++i) {
                const u64 x = ct.getPoly(p).getLimb(0)[i];
                // The centred lift of x modulo q0, reduced modulo q_j.
                const bool negative = x > primes[0] / 2;
                const u64 size = negative ? primes[0] - x : x;
                const u64 want =
                    negative ? (primes[j] - size % primes[j]) % primes[j] : size % primes[j];
                ASSERT_EQ(raised.getPoly(p).getLimb(j)[i], want);
            }
    // The polynomial form, in place.
    Polynomial poly = ct.getPoly(0);
    boot.getTransforms().levelRecover(poly, poly, 5);
    EXPECT_EQ(poly.getLevel(), 5u);
    for (u64 j = 0; j <= 5; ++j)
        for (u64 i = 0; i < n; ++i)
            ASSERT_EQ(poly.getLimb(j)[i], raised.getPoly(0).getLimb(j)[i]);
}

TEST(BootTransformsTest, LevelRecoverOfAMultiSecretCiphertext) {
    const auto ms = fxContext()->genMultiSecretContext("FX2", 2);
    const BootstrapperImpl boot(fxBootEval(), false, u64{0});
    CiphertextBase<EncryptionType::MSRLWE> ct(ms, false, false);
    ct.setLevel(0);
    for (u64 p = 0; p < ct.getNumPoly(); ++p)
        QueltTest::fillResidues(ct.getPoly(p), 40 + p);
    ct.setLogSlots(3);
    CiphertextBase<EncryptionType::MSRLWE> raised(ms, false, false);
    boot.getTransforms().levelRecover(ct, raised, 4);
    EXPECT_EQ(raised.getNumPoly(), 3u);
    EXPECT_EQ(raised.getLevel(), 4u);
    EXPECT_EQ(raised.getLogSlots(), 3u);
    for (u64 p = 0; p < ct.getNumPoly(); ++p) {
        Polynomial want = ct.getPoly(p);
        boot.getTransforms().levelRecover(ct.getPoly(p), want, 4);
        for (u64 j = 0; j <= 4; ++j)
            for (u64 i = 0; i < getDegree(fxContext()); ++i)
                ASSERT_EQ(raised.getPoly(p).getLimb(j)[i], want.getLimb(j)[i]);
    }
    CiphertextBase<EncryptionType::MSRLWE> high = raised;
    expectThrowsMessage([&] { boot.getTransforms().levelRecover(high, raised, 5); },
                        "[levelRecover] Level should be zero");
    ct.setRescaleCounter(1);
    expectThrowsMessage([&] { boot.getTransforms().levelRecover(ct, raised, 5); },
                        "[levelRecover] RescaleCounter should be zero");
}

// Without sparse-secret encapsulation (FX) the raise is the level recovery
// to the top of the chain, back in NTT form.
TEST(BootTransformsTest, RaiseToTopIsTheLevelRecoveryToTheTop) {
    const BootstrapperImpl boot(fxBootEval(), false, u64{0});
    const BootTransforms &transforms = boot.getTransforms();
    const Ciphertext ct = levelZeroCiphertext();
    Ciphertext raised = ct;
    transforms.raiseToTop(raised);
    const u64 top = getLength(fxContext()) - 1;
    EXPECT_EQ(raised.getLevel(), top);
    EXPECT_TRUE(raised.getPoly(0).isNTT());
    EXPECT_EQ(raised.getLogSlots(), ct.getLogSlots());

    Ciphertext want = ct;
    want.backwardNTT();
    transforms.levelRecover(want, want, top);
    want.forwardNTT();
    for (u64 p = 0; p < 2; ++p)
        for (u64 j = 0; j <= top; ++j)
            for (u64 i = 0; i < getDegree(fxContext()); ++i)
                ASSERT_EQ(raised.getPoly(p).getLimb(j)[i], want.getPoly(p).getLimb(j)[i]);
}

} // namespace
} // namespace Quelt::test
