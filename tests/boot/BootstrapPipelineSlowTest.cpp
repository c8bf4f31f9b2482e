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
#include "boot/BootParameter.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <iostream>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

// Bootstraps of the large presets (degrees 2^15 to 2^17). Each test makes its
// own keys: FGb's bootstrap key set takes about 13 s and 6 GB, FVa's key set
// for log_slots 0 (sixteen folding rotations at degree 2^17) several GB.

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;

// A secret key and a pack with the encryption, multiplication and conjugation
// keys and the rotation keys of bootstrapping 2^log_slots slots; on a
// sparse-secret preset also the encapsulation key of its sparse companion, on
// a fused preset the fused rotation keys. `same_secret` writes another key's
// secret in this context (the two sides of an outsourced bootstrap share it).
struct PresetBoot {
    PresetBoot(ParameterPreset preset, u64 log_slots, bool min_key = false,
               const SecretKeyBase<EncryptionType::RLWE> *same_secret = nullptr)
        : ctx(makeContext(preset)), sparse(isSparseSecretEncapsulationSupported(ctx)
                                               ? makeContext(getSparseParameterPresetFor(preset))
                                               : nullptr),
          secret_key(same_secret ? secretIn(ctx, *same_secret)
                                 : SecretKeyBase<EncryptionType::RLWE>(ctx)),
          pack(sparse ? KeyPack(ctx, sparse) : KeyPack(ctx)) {
        const auto made = sparse ? std::make_unique<KeyGenerator>(ctx, sparse, secret_key, pack)
                                 : std::make_unique<KeyGenerator>(ctx, secret_key, pack);
        const KeyGenerator &generator = *made;
        generator.genEncKey();
        generator.genMultKey();
        generator.genConjKey();
        generator.genRotKeysForBootstrap(log_slots, min_key);
        if (sparse)
            generator.genSparseSecretEncapsulationKey();
        if (isFuseModRaiseSupported(ctx))
            generator.genFuseRotKeyBundle();
        eval = std::make_unique<HomEvaluator>(ctx, pack);
    }

    static SecretKeyBase<EncryptionType::RLWE>
    secretIn(const std::shared_ptr<ContextContent> &ctx,
             const SecretKeyBase<EncryptionType::RLWE> &other) {
        std::vector<int> coefficients(other.getCoefficients(),
                                      other.getCoefficients() + getDegree(ctx));
        int *data = coefficients.data();
        return SecretKeyBase<EncryptionType::RLWE>(ctx, data);
    }

    // A random message of 2^log_slots slots encrypted and levelled down to
    // `level`.
    Ciphertext exhausted(const Message &m, u64 level) const {
        Ciphertext ct(ctx, false, true);
        Encryptor(ctx).encrypt(m, pack, ct);
        eval->levelDown(ct, level, ct);
        return ct;
    }
    Message decrypt(const Ciphertext &ct) const {
        Message got;
        Decryptor(ctx).decrypt(ct, secret_key, got);
        return got;
    }
    Precision precision(const Ciphertext &ct, const Message &want) const {
        return precisionBits(decrypt(ct), want);
    }

    std::shared_ptr<ContextContent> ctx;
    std::shared_ptr<ContextContent> sparse;
    SecretKeyBase<EncryptionType::RLWE> secret_key;
    KeyPack pack;
    std::unique_ptr<HomEvaluator> eval;
};

void print(const char *preset, const std::string &what, const Precision &p) {
    std::cout << "[ " << preset << " ] " << what << ": mean " << p.mean << " bits, min " << p.min
              << " bits\n";
}

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

// A full-slot complex bootstrap of a dense-secret preset from level 3.
Precision fullSlotComplexBootstrap(ParameterPreset preset, const char *name) {
    const u64 log_slots = getLogFullSlots(makeContext(preset));
    const PresetBoot pb(preset, log_slots);
    const Bootstrapper boot(*pb.eval, false);
    std::mt19937_64 rng(17);
    const Message m = randomBootMessage(rng, log_slots, 1.0);
    Ciphertext out(pb.ctx, false, true);
    boot.bootstrap(pb.exhausted(m, 3), out, true);
    EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
    EXPECT_EQ(out.getLogSlots(), log_slots);
    const Precision p = pb.precision(out, m);
    print(name, "full-slot complex bootstrap", p);
    return p;
}

// The modular reduction multiplies on levels 20 to 10, at the bootstrap scale
// of the 60-bit primes there.
TEST(BootstrapPipelineSlowTest, FGaFullSlotComplexBootstrap) {
    const Precision p = fullSlotComplexBootstrap(ParameterPreset::FGa, "FGa");
    // Measured: mean 30.3 bits, minimum 27.5 bits over 2^15 slots; the test
    // peaks at 9.6 GiB resident and takes about a minute.
    EXPECT_GT(p.mean, 28.0);
    EXPECT_GT(p.min, 25.0);
}

// The modular reduction multiplies on levels 12 to 5, at the bootstrap scale
// of the 49-bit primes there.
TEST(BootstrapPipelineSlowTest, FTbFullSlotComplexBootstrap) {
    const Precision p = fullSlotComplexBootstrap(ParameterPreset::FTb, "FTb");
    // Measured: mean 18.7 bits, minimum 16.2 bits over 2^14 slots.
    EXPECT_GT(p.mean, 17.0);
    EXPECT_GT(p.min, 14.5);
}

// Coefficient bootstrapping: the input is taken from level 0 with no
// SlotToCoeff before the raise (through the sparse secret of STxCOEFF0);
// CoeffToSlot on levels 20 to 18, the modular reduction multiplies on 17 to
// 11 at the bootstrap scale of the 42-bit primes there, and the closing
// SlotToCoeff leaves the message at the encryption level.
TEST(BootstrapPipelineSlowTest, FTxCOEFFFullSlotComplexBootstrap) {
    const PresetBoot ftx(ParameterPreset::FTxCOEFF, 14);
    ASSERT_TRUE(ftx.sparse);
    const Bootstrapper boot(*ftx.eval, ftx.sparse, false);
    std::mt19937_64 rng(18);
    const Message m = randomBootMessage(rng, 14, 1.0);
    Ciphertext out(ftx.ctx, false, true);
    boot.bootstrap(ftx.exhausted(m, 0), out, true);
    EXPECT_EQ(out.getLevel(), getEncryptionLevel(ftx.ctx));
    EXPECT_EQ(out.getLogSlots(), 14u);
    const Precision p = ftx.precision(out, m);
    print("FTxCOEFF", "full-slot complex coefficient bootstrap", p);
    // Measured: mean 12.9 bits, minimum 10.7 bits over 2^14 slots; the
    // message scale (2^31) lies 12 bits below q_0.
    EXPECT_GT(p.mean, 11.5);
    EXPECT_GT(p.min, 9.5);
}

TEST(BootstrapPipelineSlowTest, FGdFullSlotSparseSecretBootstrap) {
    // The raise runs on the sparse secret of FGd's companion: dense to
    // sparse, the centred lift, sparse to dense.
    const PresetBoot fgd(ParameterPreset::FGd, 15);
    ASSERT_TRUE(fgd.sparse);
    const Bootstrapper boot(*fgd.eval, fgd.sparse, false);
    std::mt19937_64 rng(16);
    const Message m = randomBootMessage(rng, 15, 1.0);
    Ciphertext out(fgd.ctx, false, true);
    boot.bootstrap(fgd.exhausted(m, 3), out, true);
    EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
    EXPECT_EQ(out.getLogSlots(), 15u);
    const Precision p = fgd.precision(out, m);
    print("FGd", "full-slot complex bootstrap through the sparse secret", p);
    // Measured: mean 24.3 bits, minimum 21.2 bits; the test peaks at 9.1 GiB
    // resident and takes 48 s, mostly for the key set.
    EXPECT_GT(p.mean, 22.0);
    EXPECT_GT(p.min, 19.0);
}

// The outsourced road: FGe levels the input down and runs SlotToCoeff, FGeO
// (the inner bootstrapper, same secret) refreshes it, and the result is
// switched back onto FGe's chain at its encryption level. Both presets fuse
// the modulus raise into the first CoeffToSlot step.
TEST(BootstrapPipelineSlowTest, FGeOutsourcedThroughFGeO) {
    const PresetBoot outer(ParameterPreset::FGe, 15, true);
    const PresetBoot inner(ParameterPreset::FGeO, 15, true, &outer.secret_key);
    const Bootstrapper inner_boot(*inner.eval, true);
    Bootstrapper boot(*outer.eval, true);
    boot.enableOutsourcing(inner_boot);
    const u64 level = getEncryptionLevel(outer.ctx);
    std::mt19937_64 rng(17);
    const Message m = randomBootMessage(rng, 15, 1.0);
    const Ciphertext in = outer.exhausted(m, 3);

    Ciphertext out(outer.ctx, false, true);
    boot.bootstrap(in, out, true);
    EXPECT_EQ(out.getLevel(), level);
    EXPECT_EQ(out.getLogSlots(), 15u);
    const Precision complex = outer.precision(out, m);
    print("FGe/FGeO", "outsourced complex bootstrap", complex);
    // Measured: mean 24.4 bits, minimum 21.7 bits (two-output parts 25.4 and
    // 21.7 bits; roots 36.6 and 33.0 bits relative to their magnitude 2^16).
    // The test peaks at 10.8 GiB resident and takes about a minute.
    EXPECT_GT(complex.mean, 22.0);
    EXPECT_GT(complex.min, 19.0);

    Ciphertext re(outer.ctx, false, true), im(outer.ctx, false, true);
    boot.bootstrap(in, re, im, 1.0);
    EXPECT_EQ(re.getLevel(), level);
    Message want_re(m), want_im(m);
    for (u64 i = 0; i < m.getSize(); ++i) {
        want_re[i] = m[i].real();
        want_im[i] = m[i].imag();
    }
    const Precision pr = outer.precision(re, want_re);
    const Precision pi = outer.precision(im, want_im);
    print("FGe/FGeO", "outsourced two-output bootstrap, real part", pr);
    print("FGe/FGeO", "outsourced two-output bootstrap, imaginary part", pi);
    EXPECT_GT(std::min(pr.min, pi.min), 19.0);

    // The roots exp(2 pi i f x) of the real parts, f = mult_before_s2c
    // 2^sf[0] / q0 of the inner parameter on FGe's level-0 scale, times one
    // common magnitude (the scale the exponential leaves), fitted here.
    const Message real = want_re;
    Ciphertext roots(outer.ctx, false, true);
    boot.integerToRootsBootstrap(outer.exhausted(real, 3), roots);
    EXPECT_EQ(roots.getLevel(), level);
    const BootParameter param(inner.ctx);
    const double f = static_cast<double>(param.mult_before_s2c) *
                     std::pow(2.0, outer.ctx->getScaleFactors().getFactors().at(0)) /
                     static_cast<double>(getPrimeList(outer.ctx).at(0));
    const Message got = outer.decrypt(roots);
    double magnitude = 0.0;
    for (u64 i = 0; i < got.getSize(); ++i)
        magnitude += std::abs(got[i]) / static_cast<double>(got.getSize());
    ASSERT_GT(magnitude, 0.0);
    Message want_roots(real);
    for (u64 i = 0; i < real.getSize(); ++i)
        want_roots[i] =
            magnitude *
            std::exp(std::complex<double>(0.0, 2.0 * std::numbers::pi * f * real[i].real()));
    const Precision pe = precisionBits(got, want_roots);
    std::cout << "[ FGe/FGeO ] outsourced integerToRootsBootstrap: magnitude 2^"
              << std::log2(magnitude) << ", relative precision mean "
              << pe.mean + std::log2(magnitude) << " bits, min " << pe.min + std::log2(magnitude)
              << " bits\n";
    EXPECT_GT(pe.min + std::log2(magnitude), 28.0);
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
// secret, which a bootstrapper built without the sparse context refuses; the
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
                        BootstrapperImpl::kNoSparseContextMessage);
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
                        BootstrapperImpl::kNoSparseContextMessage);
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
                            BootstrapperImpl::kNoSparseContextMessage);
    }
}

} // namespace
} // namespace Quelt::test
