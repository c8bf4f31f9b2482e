// CoeffToSlot of a multi-secret ciphertext on a context that fuses the
// modulus raise (degree 2^16): step 0 is the fused first step, which switches
// no key; without the rotation keys of step 1 the transform stops at its
// first rotation, with them it completes. Run alone: the fused rotation keys
// take GiBs.

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/RadixDecomposition.hpp"
#include "client/RotationKeyDecomposition.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/MultiSecretTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;

TEST(BootstrapMultiSecretDFTSlowTest, FusedCoeffToSlotRunsTheFirstStepThenNeedsStepOnesKeys) {
    const auto ctx = genMultiSecretContext(makeContext(ParameterPreset::FGe), "FGeMS2", 2);
    ASSERT_TRUE(isFuseModRaiseSupported(ctx));
    const SecretKeyBase<EncryptionType::MSRLWE> sk(ctx);
    // One key pack, shared by the evaluator, filled between the cases.
    const KeyPack pack(ctx);
    const KeyGenerator generator(ctx, sk, pack);
    const HomEvaluator eval(ctx, pack);
    // min_key: the baby steps of step 1 are a chain of rotations by its
    // stride.
    const BootstrapperImpl boot(eval, true, std::nullopt);
    const RadixDecomposition rd = boot.getBootParameter().getRadixDecForC2S(getLogFullSlots(ctx));
    ASSERT_GE(rd.num_radices, 2u);

    // A level-0 ciphertext, prepared for the fused first step in each case
    // (bodies over the fused prime set, mask at level L + 1).
    const MsCiphertext ct = randomLevelZeroMultiSecret(ctx, 34);
    const auto expectStop = [&](const std::string &message) {
        MsCiphertext prepared = ct;
        boot.getFusedRaise().prepare(prepared);
        MsCiphertext out(ctx, false, true);
        for (u64 p = 0; p < out.getNumPoly(); ++p)
            fillResidues(out.getPoly(p), p + 5);
        const MsCiphertext before = out;
        expectThrowsMessage([&] { boot.getMultiSecret().coeffToSlotMSRLWE(prepared, out); },
                            message);
        for (u64 p = 0; p < out.getNumPoly(); ++p)
            EXPECT_EQ(wordsOf(out.getPoly(p)), wordsOf(before.getPoly(p)));
    };
    // No fused rotation keys: the first step needs them.
    expectStop(std::string(FusedRaiseRoad::kFuseKeyMissingPrefix) + "0");
    // The fused keys alone: step 0 is done without a key switch, and the
    // first rotation of step 1 finds neither its key nor a route through
    // held keys.
    generator.genFuseRotKeyBundle();
    expectStop(detail::kUnreachableRotation);
    // With the rotation keys of its split the transform completes.
    std::vector<u64> bounds;
    for (u64 r : rd.log_radices)
        bounds.push_back((bounds.empty() ? 0 : bounds.back()) + r);
    generator.genRotKeysForBootstrap(bounds, true);
    MsCiphertext prepared = ct;
    boot.getFusedRaise().prepare(prepared);
    MsCiphertext out(ctx, false, true);
    boot.getMultiSecret().coeffToSlotMSRLWE(prepared, out);
    EXPECT_EQ(out.getNumPoly(), 3u);
    EXPECT_EQ(out.getEncodingType(), EncodingType::SLOT);
}

} // namespace
} // namespace Quelt::test
