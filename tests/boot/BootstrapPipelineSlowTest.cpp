#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Decryptor.hpp"
#include "Quelt/EnDecoder.hpp"
#include "Quelt/Encryptor.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/SecretKey.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

// Bootstraps of the large presets (degrees 2^15 to 2^17). Each test makes its
// own keys: FGb's bootstrap key set takes about 13 s and 6 GB, FVa's key set
// for log_slots 0 (sixteen folding rotations at degree 2^17) several GB.

namespace Quelt::test {
namespace {

using u64 = std::uint64_t;
using Ciphertext = HomEvaluator::Ciphertext;

// A secret key and a pack with the encryption, multiplication and conjugation
// keys and the rotation keys of bootstrapping 2^log_slots slots.
struct PresetBoot {
    PresetBoot(ParameterPreset preset, u64 log_slots)
        : ctx(makeContext(preset)), secret_key(ctx), pack(ctx) {
        const KeyGenerator generator(ctx, secret_key, pack);
        generator.genEncKey();
        generator.genMultKey();
        generator.genConjKey();
        generator.genRotKeysForBootstrap(log_slots, false);
        eval = std::make_unique<HomEvaluator>(ctx, pack);
    }

    // A random message of 2^log_slots slots encrypted and levelled down to
    // `level`.
    Ciphertext exhausted(const Message &m, u64 level) const {
        Ciphertext ct(ctx, false, true);
        Encryptor(ctx).encrypt(m, pack, ct);
        eval->levelDown(ct, level, ct);
        return ct;
    }
    Precision precision(const Ciphertext &ct, const Message &want) const {
        Message got;
        Decryptor(ctx).decrypt(ct, secret_key, got);
        return precisionBits(got, want);
    }

    std::shared_ptr<ContextContent> ctx;
    SecretKeyBase<EncryptionType::RLWE> secret_key;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
};

TEST(BootstrapPipelineSlowTest, FGbFullSlotComplexBootstrap) {
    const PresetBoot fgb(ParameterPreset::FGb, 15);
    const Bootstrapper boot(*fgb.eval, false);
    std::mt19937_64 rng(15);
    const Message m = randomBootMessage(rng, 15, 1.0);
    Ciphertext out(fgb.ctx, false, true);
    boot.bootstrap(fgb.exhausted(m, 3), out, true);
    EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
    EXPECT_EQ(out.getLogSlots(), 15u);
    const Precision p = fgb.precision(out, m);
    std::cout << "[ FGb ] full-slot complex bootstrap: mean " << p.mean << " bits, min " << p.min
              << " bits\n";
    // Measured: mean 24.4 bits, minimum 21.7 bits over 2^15 slots.
    EXPECT_GT(p.mean, 22.0);
    EXPECT_GT(p.min, 19.0);
}

TEST(BootstrapPipelineSlowTest, FVaLogSlotsZero) {
    // One slot: no SlotToCoeff or CoeffToSlot step, fifteen folding
    // rotations, and FVa's two-level CoeffToSlot tail.
    const PresetBoot fva(ParameterPreset::FVa, 0);
    const Bootstrapper boot(*fva.eval, u64{0}, false);
    std::mt19937_64 rng(0);
    const Message m = randomBootMessage(rng, 0, 1.0);
    Ciphertext out(fva.ctx, false, true);
    boot.bootstrap(fva.exhausted(m, 3), out, true);
    EXPECT_EQ(out.getLogSlots(), 0u);
    const Precision p = fva.precision(out, m);
    std::cout << "[ FVa ] log_slots 0 bootstrap at level " << out.getLevel() << ": " << p.mean
              << " bits\n";
    // Measured: 23.9 bits at level 17; the test peaks at 5.8 GiB resident.
    EXPECT_GT(p.min, 15.0);
}

// FTxCOEFF (coefficient bootstrapping) and Discrete_G8 (full packed base
// modulus, automatic gap resolve) both raise the modulus through a sparse
// secret, a road that refuses with its own message until it is built; the
// real bootstrap of coefficient bootstrapping is refused before it.
TEST(BootstrapPipelineSlowTest, CoefficientBootstrappingRoads) {
    const auto ctx = makeContext(ParameterPreset::FTxCOEFF);
    ASSERT_TRUE(isCoeffBoot(ctx));
    SecretKeyBase<EncryptionType::RLWE> secret_key(ctx);
    KeyPack pack(ctx);
    const KeyGenerator generator(ctx, secret_key, pack);
    generator.genEncKey();
    // SlotToCoeff's rotations.
    generator.genRotKeysForBootstrap(getLogFullSlots(ctx), true);
    const HomEvaluator eval(ctx, pack);
    const Bootstrapper boot(eval, true);
    EXPECT_EQ(boot.getMinLevelForBootstrap(), 0u);
    std::mt19937_64 rng(21);
    Ciphertext in(ctx, false, true);
    Encryptor(ctx).encrypt(randomBootMessage(rng, getLogFullSlots(ctx), 1.0), pack, in);
    Ciphertext out(ctx, false, true);
    expectThrowsMessage([&] { boot.slotToCoeff(in, out); },
                        "[slotToCoeff] Level of ciphertext should be >= " +
                            std::to_string(getEncryptionLevel(ctx) + 3));
    expectThrowsMessage([&] { boot.bootstrap(in, out, false); },
                        "Real bootstrap is not enabled for this parameter");
    expectThrowsMessage([&] { boot.bootstrap(in, out, true); },
                        BootstrapperImpl::kSparseRaiseNotAvailable);
    Ciphertext coeffs(ctx, false, true);
    // SlotToCoeff enters at the encryption level plus its three levels (where
    // a bootstrap leaves its result; here an encryption made there without
    // error) and ends at the encryption level.
    const Message m = randomBootMessage(rng, getLogFullSlots(ctx), 1.0);
    const u64 entry = getEncryptionLevel(ctx) + 3;
    Ciphertext high(ctx, false, true);
    high.setLevel(entry);
    QueltTest::fillResidues(high.getPoly(1), 5);
    Polynomial product = high.getPoly(1);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    chain.hadamardMult(high.getPoly(1), secret_key.getSx(0), product);
    chain.sub(EnDecoder(ctx).encode(m, entry, 0).getMx(), product, high.getPoly(0));
    boot.slotToCoeff(high, coeffs);
    EXPECT_EQ(coeffs.getLevel(), getEncryptionLevel(ctx));
    EXPECT_EQ(coeffs.getEncodingType(), EncodingType::COEFFICIENT);
    std::vector<double> got;
    Decryptor(ctx).decrypt(coeffs, secret_key, got);
    ASSERT_EQ(got.size(), getDegree(ctx));
    // Coefficient j holds the real part of the slot the encoder puts at
    // position j (bit-reversed index), N/2 + j its imaginary part.
    const u64 half = getDegree(ctx) / 2;
    const u64 log_half = getLogFullSlots(ctx);
    double worst = 0.0;
    for (u64 j = 0; j < half; ++j) {
        u64 r = 0;
        for (u64 b = 0; b < log_half; ++b)
            r |= ((j >> b) & 1) << (log_half - 1 - b);
        worst = std::max(
            {worst, std::abs(got[j] - m[r].real()), std::abs(got[half + j] - m[r].imag())});
    }
    // Measured: 4.9e-6.
    EXPECT_LT(worst, 1e-4);
    expectThrowsMessage([&] { boot.halfBoot(coeffs, out, true, false); },
                        BootstrapperImpl::kSparseRaiseNotAvailable);
}

TEST(BootstrapPipelineSlowTest, DiscreteG8WithAndWithoutTheMultiplierBeforeS2C) {
    const auto ctx = makeContext(ParameterPreset::Discrete_G8);
    ASSERT_TRUE(isFullPackedBaseModulus(ctx));
    SecretKeyBase<EncryptionType::RLWE> secret_key(ctx);
    KeyPack pack(ctx);
    KeyGenerator(ctx, secret_key, pack).genEncKey();
    const HomEvaluator eval(ctx, pack);
    Bootstrapper boot(eval, false);
    std::mt19937_64 rng(8);
    Ciphertext in(ctx, false, true);
    Encryptor(ctx).encrypt(randomBootMessage(rng, getLogFullSlots(ctx), 1.0), pack, in);
    Ciphertext out(ctx, false, true);
    for (const bool multiply : {true, false}) {
        boot.setStatusUseMultiplyConstBeforeS2C(multiply);
        expectThrowsMessage([&] { boot.bootstrap(in, out, true); },
                            BootstrapperImpl::kSparseRaiseNotAvailable);
    }
}

} // namespace
} // namespace Quelt::test
