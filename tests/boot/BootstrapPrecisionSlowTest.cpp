// Full-degree bootstraps of one preset of each family, with the precision
// printed (the degree-64 table of every preset is BootstrapPrecisionTest.cpp).
// Each test makes the keys of a full-slot bootstrap at degree 2^15 or 2^16
// (several GiB): run them one at a time.

#include "Quelt/Bootstrapper.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "boot/BootstrapPipelineTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/FastRoadKeys.hpp"
#include "boot/PresetBootKeys.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <numbers>
#include <random>
#include <string>

namespace Quelt::test {
namespace {

using Ciphertext = HomEvaluator::Ciphertext;

void print(const std::string &preset, const std::string &road, const Precision &p) {
    std::cout << "[ " << preset << " ] " << road << ": mean " << p.mean << " bits, min " << p.min
              << " bits\n";
}

// The keys of a preset at its own degree, with its sparse companion.
PresetBootKeys presetKeys(ParameterPreset preset) {
    const auto ctx = makeContext(preset);
    return PresetBootKeys(ctx, isSparseSecretEncapsulationSupported(ctx)
                                   ? makeContext(getSparseParameterPresetFor(preset))
                                   : nullptr);
}

// A full-slot complex bootstrap of uniform values in [-1, 1].
template <class Keys>
Precision complexBootstrap(const Keys &keys, const Bootstrapper &boot, u64 seed) {
    const u64 log_slots = getLogFullSlots(keys.ctx);
    std::mt19937_64 rng(seed);
    const Message m = randomBootMessage(rng, log_slots, 1.0);
    Ciphertext out(keys.ctx, false, true);
    boot.bootstrap(keys.exhausted(m), out, true);
    // (coefficient bootstrapping ends with SlotToCoeff, lower)
    if (!isCoeffBoot(keys.ctx)) {
        EXPECT_EQ(out.getLevel(), boot.getLevelAfterFullSlotBootstrap());
    }
    return precisionBits(keys.decrypt(out), m);
}

// FTa refuses (its level-0 scale times its multiplier fills half of its
// base prime); FTb's real road.
TEST(BootstrapPrecisionSlowTest, FTaRefusesAndFTbRealRoad) {
    reseed();
    {
        const PresetBootKeys fta = presetKeys(ParameterPreset::FTa);
        const auto boot = fta.bootstrapper();
        std::mt19937_64 rng(12);
        const Message m = randomBootMessage(rng, 14, 0.25, true);
        Ciphertext out(fta.ctx, false, true);
        expectThrowsMessage([&] { boot->bootstrap(fta.exhausted(m), out, true); },
                            BootstrapperImpl::kFTaMessage);
    }
    const PresetBootKeys ftb = presetKeys(ParameterPreset::FTb);
    const auto boot = ftb.bootstrapper();
    std::mt19937_64 rng(13);
    const Message m = randomBootMessage(rng, 14, 1.0, true);
    Ciphertext out(ftb.ctx, false, true);
    boot->bootstrap(ftb.exhausted(m), out, false);
    const Precision p = precisionBits(ftb.decrypt(out), m);
    print("FTb", "real", p);
    EXPECT_GT(p.mean, 18.0);
}

// FGSb: sparse-secret raise, modular reduction in the conjugate-invariant
// ring, with the preset's own secret weight (256).
TEST(BootstrapPrecisionSlowTest, FGSbFastRoadComplex) {
    reseed();
    const FastRoadKeys keys(ParameterPreset::FGSb, 15, 256);
    const Precision p = complexBootstrap(keys, *keys.bootstrapper(), 68);
    print("FGSb", "sparse-secret raise, fast removeI, complex", p);
    EXPECT_GT(p.mean, 20.0);
}

TEST(BootstrapPrecisionSlowTest, FGCaFastRoadCoefficients) {
    reseed();
    const FastRoadKeys keys(ParameterPreset::FGCa, 15, 256);
    const Precision p = complexBootstrap(keys, *keys.bootstrapper(), 74);
    print("FGCa", "sparse-secret raise, fast removeI, coefficient bootstrapping, complex", p);
    // Measured: mean 21.7 bits, minimum 19.5 bits.
    EXPECT_GT(p.mean, 20.0);
}

TEST(BootstrapPrecisionSlowTest, KAPLO2FusedFastRoadComplex) {
    reseed();
    const FastRoadKeys keys(ParameterPreset::KAPLO_2_BTS, 15, 192);
    const Precision p = complexBootstrap(keys, *keys.bootstrapper(), 105);
    print("KAPLO_2_BTS", "sparse-secret fused raise, fast removeI, complex", p);
    EXPECT_GT(p.mean, 20.0);
}

// FGh bootstraps at a 48-bit scale while its level-0 scale times the
// multiplier 8 lies 15 bits below its base prime: the reduction multiplies
// the evaluation noise of degree 2^16 (some 20 bits) by 2^15, leaving about
// 48 - 20 - 15 = 13 bits. Measured: mean 13.3 bits, minimum 9.7 bits.
TEST(BootstrapPrecisionSlowTest, FGhComplex) {
    reseed();
    const PresetBootKeys keys = presetKeys(ParameterPreset::FGh);
    const Precision p = complexBootstrap(keys, *keys.bootstrapper(), 63);
    print("FGh", "complex", p);
    EXPECT_GT(p.mean, 12.3);
}

// Degree 2^17 with the minimal key set (8 rotation keys of 252 MB instead
// of 43): FVb's complex road.
TEST(BootstrapPrecisionSlowTest, FVbMinimalKeysComplex) {
    reseed();
    const PresetBootKeys keys(makeContext(ParameterPreset::FVb), nullptr, nullptr, true);
    const Precision p = complexBootstrap(keys, *keys.bootstrapper(), 17);
    print("FVb", "complex, minimal keys", p);
    // Measured: mean 19.4 bits, minimum 15.3 bits (19.3 at degree 64: the
    // cosine of its settings); 46 s, 10.1 GiB.
    EXPECT_GT(p.mean, 18.3);
}

TEST(BootstrapPrecisionSlowTest, FFFSparseComplex) {
    reseed();
    const PresetBootKeys keys = presetKeys(ParameterPreset::FFF);
    const Precision p = complexBootstrap(keys, *keys.bootstrapper(), 10);
    print("FFF", "sparse-secret raise, complex", p);
    EXPECT_GT(p.mean, 20.0);
}

// The Discrete presets read the value modulo 1 through the sine: the real
// road returns sin(2 pi x) (fused raise, sparse secret).
TEST(BootstrapPrecisionSlowTest, DiscreteG8ARealRoadReturnsTheSine) {
    reseed();
    const PresetBootKeys keys = presetKeys(ParameterPreset::Discrete_G8A);
    const auto boot = keys.bootstrapper();
    std::mt19937_64 rng(80);
    const Message m = randomBootMessage(rng, 15, 1.0, true);
    Message want(m);
    for (auto &slot : want)
        slot = {std::sin(2 * std::numbers::pi * slot.real()), 0.0};
    Ciphertext out(keys.ctx, false, true);
    boot->bootstrap(keys.exhausted(m), out, false);
    const Precision p = precisionBits(keys.decrypt(out), want);
    print("Discrete_G8A", "sparse-secret fused raise, real, against sin(2 pi x)", p);
    // Measured: mean 19.9 bits, minimum 14.9 bits (28.6 at degree 64): its
    // 45-bit bootstrap scale leaves less room above the noise of degree 2^16.
    EXPECT_GT(p.mean, 18.9);
}

} // namespace
} // namespace Quelt::test
