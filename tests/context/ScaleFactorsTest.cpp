#include "context/ScaleFactors.hpp"

#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/Parameter.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

ParameterPreset preset(std::uint32_t value) { return static_cast<ParameterPreset>(value); }

// Values of the rules below were computed independently with big integers and
// IEEE doubles (the same operations in another language).

TEST(ScaleFactorsRulesTest, PlainRuleFollowsPrimeSizesDownward) {
    // The chain of the custom sizes (log_degree 10, L 5, b 50, q 40, t 50, d 3).
    const std::vector<u64> primes{1125899906826241, 1099511592961, 1099511590913,
                                  1099511560193,    1099511556097, 1125899906820097,
                                  1125899906738177};
    std::vector<double> factors(primes.size(), 0.0);
    utils::applyPlainScaleRule(factors, primes, 5, std::log2(1099511556097.0));
    const std::vector<double> expected{39.99999974471459, 39.999999849516506, 39.99999990057385,
                                       39.9999999059483, 39.9999999059483};
    for (u64 l = 0; l < 5; ++l)
        EXPECT_NEAR(factors[l], expected[l], 1e-12) << "level " << l;
    // Entries beyond the levels are left alone.
    EXPECT_EQ(factors[5], 0.0);
    EXPECT_EQ(factors[6], 0.0);
}

TEST(ScaleFactorsRulesTest, BootstrappableRuleAppliesRoundedSizeCorrections) {
    const std::vector<u64> primes{(1ULL << 58) - 27,  (1ULL << 42) - 11,  (1ULL << 43) + 5,
                                  (1ULL << 42) - 105, (1ULL << 41) + 77,  (1ULL << 58) - 201,
                                  (1ULL << 59) - 55,  (1ULL << 58) - 999, (1ULL << 60) - 3};
    std::vector<double> factors(8, 0.0);
    std::vector<std::int64_t> corrections(8, 0);
    utils::applyBootstrappableScaleRule(factors, corrections, primes, 8, 3, 4);
    const std::vector<double> expected{
        41.99999999973603, 41.99999999986621,  41.999999999933515, 41.99999999994954,
        41.00000000000003, 41.000000000000014, 41.00000000000001,  41.0};
    const std::vector<std::int64_t> expected_corrections{0, 0, 1, 0, 1, 17, 18, 17};
    for (u64 l = 0; l < 8; ++l)
        EXPECT_NEAR(factors[l], expected[l], 1e-12) << "level " << l;
    EXPECT_EQ(corrections, expected_corrections);
}

TEST(ScaleFactorsRulesTest, CleaningRuleMovesLevelOneCorrectionToLevelZero) {
    const std::vector<u64> primes{(1ULL << 61) - 1, (1ULL << 60) - 93, (1ULL << 60) - 1001,
                                  (1ULL << 30) + 3, (1ULL << 31) - 5,  (1ULL << 30) - 7,
                                  (1ULL << 61) - 9};
    std::vector<double> factors(6, 0.0);
    utils::applyCleaningScaleRule(factors, primes, 6);
    const std::vector<double> expected{60.000000157073714, 60.00000007853686, 60.00000003926843,
                                       30.000000021649637, 31.0000000091453,  29.99999999987};
    for (u64 l = 0; l < 6; ++l)
        EXPECT_NEAR(factors[l], expected[l], 1e-12) << "level " << l;
}

TEST(ScaleFactorsRulesTest, RulesRefuseListsShorterThanTheLevels) {
    std::vector<double> factors(3, 0.0);
    std::vector<std::int64_t> corrections(3, 0);
    const std::vector<u64> primes{(1ULL << 40) + 1, (1ULL << 40) + 3};
    EXPECT_THROW(utils::applyPlainScaleRule(factors, primes, 3, 40.0), RuntimeException);
    EXPECT_THROW(utils::applyCleaningScaleRule(factors, primes, 3), RuntimeException);
    EXPECT_THROW(utils::applyBootstrappableScaleRule(factors, corrections, primes, 2, 0, 5),
                 RuntimeException);
}

TEST(ScaleFactorsPresetsTest, EveryPresetHasFactorsForItsLevels) {
    for (std::uint32_t v = 0; v <= 119; ++v) {
        if (v == 21)
            continue;
        SCOPED_TRACE("preset " + std::to_string(v));
        const Parameter parameter(preset(v));
        const ScaleFactors factors(preset(v));
        EXPECT_GE(factors.getFactors().size(), parameter.chain_length);
        EXPECT_EQ(factors.getCorrections().size(), factors.getFactors().size());
    }
}

TEST(ScaleFactorsPresetsTest, FGbMeetsItsTolerances) {
    const ScaleFactors factors(ParameterPreset::FGb);
    ASSERT_EQ(factors.getFactors().size(), 25u);
    for (u64 l = 13; l <= 24; ++l)
        EXPECT_NEAR(factors.getFactors()[l], 58.0, 1e-3) << "level " << l;
    for (u64 l = 0; l <= 12; ++l)
        EXPECT_NEAR(factors.getFactors()[l], 42.0, 0.04) << "level " << l;
    for (u64 l = 0; l < 25; ++l)
        EXPECT_EQ(factors.getCorrections()[l], l == 13 ? -16 : 0) << "level " << l;
}

// FGbSSE bootstraps from level 23: CoeffToSlot rescales through levels 23 to
// 21, the modular reduction through 20 to 15 (cosine) and 14 (double angle,
// corrected by -16 towards the encryption level 13). Products on levels 15
// to 20 keep the scale only without a correction there, so the primes that
// are not of the bootstrap scale's size (56, 56 and 57 bits) sit on
// CoeffToSlot's levels, whose corrections its constant absorbs, and
// SlotToCoeff's (35 bits, levels 1 to 3).
TEST(ScaleFactorsPresetsTest, FGbSSEKeepsTheScaleThroughTheModularReduction) {
    const ScaleFactors factors(ParameterPreset::FGbSSE);
    ASSERT_EQ(factors.getFactors().size(), 24u);
    const std::vector<std::int64_t> want{0, -7, -7,  -7, 0, 0, 0, 0, 0, 0,  0,  0,
                                         0, 0,  -16, 0,  0, 0, 0, 0, 0, -2, -2, -1};
    for (u64 l = 0; l < 24; ++l) {
        EXPECT_EQ(factors.getCorrections()[l], want[l]) << "level " << l;
        EXPECT_NEAR(factors.getFactors()[l], l >= 14 ? 58.0 : 42.0, 1e-3) << "level " << l;
    }
}

// The same rule on other presets: the modular reduction multiplies on the
// levels from just below CoeffToSlot's down to the double-angle level right
// above the encryption level (plus 3 with coefficient bootstrapping), whose
// correction its constants absorb; every level between carries none. The
// other corrections sit on CoeffToSlot's top levels and SlotToCoeff's.
TEST(ScaleFactorsPresetsTest, BootstrapPresetsKeepTheScaleThroughTheModularReduction) {
    struct Case {
        ParameterPreset preset;
        double boot_bits;
        u64 boot_level;
        std::vector<std::int64_t> corrections;
    };
    const std::vector<Case> cases{
        {ParameterPreset::FGa, 60.0, 10, {0, -3, -3, -3, 0, 0, 0, 0, 0, 0,  -12, 0,
                                          0, 0,  0,  0,  0, 0, 0, 0, 0, -4, -4,  -4}},
        {ParameterPreset::FTb, 49.0, 5, {0, -3, -3, -3, 0, -13, 0, 0, 0, 0, 0, 0, 0, -2, -2, -2}},
        {ParameterPreset::FTxCOEFF, 42.0, 11, {0,   -6, -6, -6, 0, 0, 0, 0,  0,  0, 0,
                                               -11, 0,  0,  0,  0, 0, 0, -4, -4, -4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.preset));
        const ScaleFactors factors(c.preset);
        ASSERT_EQ(factors.getCorrections(), c.corrections);
        // The primes keep the scales within 0.005 bits of their sizes.
        for (u64 l = c.boot_level; l < c.corrections.size(); ++l)
            EXPECT_NEAR(factors.getFactors()[l], c.boot_bits, 5e-3) << "level " << l;
    }
}

// Every bootstrappable preset: the modular reduction multiplies on the levels
// strictly between the double-angle level b (encryption level + 1, + 3 with
// coefficient bootstrapping, + 1 with re-remove-I; its correction the
// reduction's constants absorb) and CoeffToSlot's three top levels (whose
// corrections its constant absorbs); the fast removeI road multiplies by
// its second mask on level b - 1. A correction on any of those levels moves
// the product off the scale the next step expects. The scale rule corrects
// by the rounded log2 of each prime, so the primes of those levels must all
// round to the size of q_b (a prime just above 2^58 rounds to 58 bits, not
// to its bit length 59).
TEST(ScaleFactorsPresetsTest, EveryBootstrapPresetKeepsTheScaleWhereTheReductionMultiplies) {
    for (std::uint32_t v = 0; v <= kMaxParameterPresetValue; ++v) {
        if (v == 21)
            continue;
        const Parameter parameter(preset(v));
        if (!parameter.bootstrappable)
            continue;
        SCOPED_TRACE(parameter.name);
        const ScaleFactors factors(preset(v));
        const u64 length = parameter.chain_length;
        const u64 b = parameter.encryption_level + 1 + (parameter.coeff_boot ? 3 : 0) +
                      (parameter.re_remove_i ? 1 : 0);
        std::vector<u64> levels;
        for (u64 l = b + 1; l + 3 < length; ++l)
            levels.push_back(l);
        if (parameter.re_remove_i && b >= 1 && b - 1 > parameter.encryption_level)
            levels.push_back(b - 1);
        for (const u64 l : levels)
            EXPECT_EQ(factors.getCorrection(l), 0) << "level " << l;
        // The reason, on the presets whose factors follow their own primes.
        const bool own_rule = !parameter.small_parameter && !parameter.outsourcing_parameter &&
                              !parameter.automatic_gap_resolve && v != 0 && v != 4 &&
                              (v < 6 || v > 11);
        if (own_rule) {
            const auto &primes = PrimeModuli::getPrimeList(preset(v));
            for (u64 l = b + 1; l + 3 < length; ++l)
                EXPECT_EQ(utils::roundedLog2Prime(primes[l]), utils::roundedLog2Prime(primes[b]))
                    << "level " << l;
        }
    }
}

TEST(ScaleFactorsPresetsTest, PlainPresetsTakeTheTopPrimeSize) {
    // Not bootstrappable and of chain length 1: the single factor is lg(q_0).
    const ScaleFactors single(ParameterPreset::FGbL0);
    ASSERT_EQ(single.getFactors().size(), 1u);
    EXPECT_EQ(single.getFactors()[0],
              std::log2(static_cast<double>(PrimeModuli::getPrimeList(ParameterPreset::FGbL0)[0])));

    // A levelled preset (ST7, L = 8): the plain rule over its list.
    const auto &primes = PrimeModuli::getPrimeList(ParameterPreset::ST7);
    const ScaleFactors levelled(ParameterPreset::ST7);
    ASSERT_EQ(levelled.getFactors().size(), 8u);
    double expected = std::log2(static_cast<double>(primes[7]));
    for (u64 l = 7;; --l) {
        EXPECT_NEAR(levelled.getFactors()[l], expected, 1e-12) << "level " << l;
        if (l == 0)
            break;
        expected = 2 * expected - std::log2(static_cast<double>(primes[l]));
    }
}

TEST(ScaleFactorsPresetsTest, FVaAndGapResolvingPresetsUseThePlainRule) {
    // FVa is bootstrappable but excluded from the correction rule.
    const auto &fva_primes = PrimeModuli::getPrimeList(preset(0));
    const ScaleFactors fva(preset(0));
    EXPECT_EQ(fva.getFactors()[29], std::log2(static_cast<double>(fva_primes[29])));
    // Discrete_G8 resolves its gap automatically: the top takes lg(q_0).
    const auto &g8_primes = PrimeModuli::getPrimeList(preset(78));
    const ScaleFactors g8(preset(78));
    EXPECT_EQ(g8.getFactors()[22], std::log2(static_cast<double>(g8_primes[0])));
    for (std::int64_t c : g8.getCorrections())
        EXPECT_EQ(c, 0);
}

TEST(ScaleFactorsPresetsTest, SmallCompanionsTakeTheirParentsLowerLevels) {
    for (std::uint32_t small : {49u, 51u, 56u, 59u, 81u, 89u, 102u, 108u, 116u}) {
        SCOPED_TRACE("preset " + std::to_string(small));
        const Parameter parameter(preset(small));
        ASSERT_TRUE(parameter.parent_preset.has_value());
        const ScaleFactors parent(*parameter.parent_preset);
        const ScaleFactors factors(preset(small));
        ASSERT_EQ(factors.getFactors().size(), parameter.chain_length);
        for (u64 l = 0; l < parameter.chain_length; ++l) {
            EXPECT_EQ(factors.getFactors()[l], parent.getFactors()[l]);
            EXPECT_EQ(factors.getCorrections()[l], parent.getCorrections()[l]);
        }
    }
}

TEST(ScaleFactorsPresetsTest, FGfOTakesFGfFactorsByLevelAndPrime) {
    const ScaleFactors fgf(ParameterPreset::FGf);
    const ScaleFactors fgfo(ParameterPreset::FGfO);
    const auto &f = fgfo.getFactors();
    ASSERT_EQ(f.size(), 21u);
    EXPECT_EQ(f[0], fgf.getFactors()[0]);
    for (u64 l = 1; l <= 7; ++l)
        EXPECT_EQ(f[l], 0.0) << "level " << l;
    EXPECT_EQ(f[8], fgf.getFactors()[12]);
    EXPECT_EQ(f[9], fgf.getFactors()[13]);
    // From the top down, levels whose prime is also FGf's take FGf's factor.
    const auto &primes = PrimeModuli::getPrimeList(ParameterPreset::FGfO);
    const auto &parent_primes = PrimeModuli::getPrimeList(ParameterPreset::FGf);
    u64 j = 24;
    for (u64 i = 20; i >= 10; --i, --j) {
        ASSERT_EQ(primes[i], parent_primes[j]) << "level " << i;
        EXPECT_EQ(f[i], fgf.getFactors()[j]) << "level " << i;
    }
    for (u64 l = 0; l < 21; ++l)
        EXPECT_EQ(fgfo.getCorrections()[l], l == 10 ? -16 : 0) << "level " << l;
}

TEST(ScaleFactorsPresetsTest, OutsourcingCompanionsHaveNoFactorsBelowTheirEncryptionLevel) {
    for (std::uint32_t v : {52u, 55u, 58u, 77u, 82u, 90u, 101u, 107u, 114u, 115u}) {
        SCOPED_TRACE("preset " + std::to_string(v));
        const Parameter parameter(preset(v));
        const ScaleFactors factors(preset(v));
        ASSERT_EQ(factors.getFactors().size(), parameter.chain_length);
        EXPECT_NE(factors.getFactors()[0], 0.0);
        EXPECT_NE(factors.getFactors()[parameter.encryption_level], 0.0);
        for (u64 l = 1; l < parameter.encryption_level; ++l)
            EXPECT_EQ(factors.getFactors()[l], 0.0) << "level " << l;
        if (parameter.encryption_level > 1)
            expectThrowsMessage([&] { factors.getScaleFactor(1); }, kInvalidScaleFactorMessage);
    }
}

TEST(ScaleFactorsPresetsTest, BorrowedFactorsAreCopiedWholeOrCut) {
    struct Case {
        std::uint32_t preset, source;
        bool whole;
    };
    const Case cases[] = {{4, 3, true},      {6, 5, true},     {11, 5, true},   {31, 25, true},
                          {37, 25, true},    {83, 80, true},   {85, 80, true},  {87, 80, true},
                          {91, 88, true},    {26, 3, false},   {30, 3, false},  {44, 3, false},
                          {47, 3, false},    {62, 50, false},  {65, 63, false}, {103, 99, false},
                          {110, 105, false}, {118, 112, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE("preset " + std::to_string(c.preset));
        const ScaleFactors source(preset(c.source));
        const ScaleFactors factors(preset(c.preset));
        const u64 length = Parameter(preset(c.preset)).chain_length;
        const u64 expected_size = c.whole ? source.getFactors().size() : length;
        ASSERT_EQ(factors.getFactors().size(), expected_size);
        for (u64 l = 0; l < expected_size; ++l) {
            EXPECT_EQ(factors.getFactors()[l],
                      l < source.getFactors().size() ? source.getFactors()[l] : 0.0);
            EXPECT_EQ(factors.getCorrections()[l],
                      l < source.getCorrections().size() ? source.getCorrections()[l] : 0);
        }
    }
    // Whole copies keep their source's length.
    EXPECT_EQ(ScaleFactors(ParameterPreset::Discrete_G8A_L0).getFactors().size(), 23u);
}

TEST(ScaleFactorsPresetsTest, CleaningPresetsUseTheCleaningRule) {
    for (std::uint32_t v : {111u, 119u}) {
        SCOPED_TRACE("preset " + std::to_string(v));
        const u64 length = Parameter(preset(v)).chain_length;
        const auto &primes = PrimeModuli::getPrimeList(preset(v));
        std::vector<double> expected(length, 0.0);
        utils::applyCleaningScaleRule(expected, primes, length);
        const ScaleFactors factors(preset(v));
        EXPECT_EQ(factors.getFactors(), expected);
        EXPECT_EQ(factors.getFactors()[length - 1],
                  static_cast<double>(utils::roundedLog2Prime(primes[length - 1])) - 1.3e-10);
        for (std::int64_t c : factors.getCorrections())
            EXPECT_EQ(c, 0);
    }
}

TEST(ScaleFactorsPresetsTest, InvalidPresetsAndLevelsAreRefused) {
    expectThrowsMessage([] { ScaleFactors{ParameterPreset::CUSTOM}; },
                        "Need to specify some parameters in order to use CUSTOM parameters.");
    expectThrowsMessage([] { ScaleFactors{preset(120)}; },
                        "The input parameter preset is not yet supported.");
    const ScaleFactors factors(ParameterPreset::FGb);
    expectThrowsMessage([&] { factors.getScaleFactor(25); }, kInvalidScaleFactorMessage);
    EXPECT_EQ(factors.getCorrection(13), -16);
    EXPECT_EQ(factors.getCorrection(1000), 0);
}

TEST(ScaleFactorsLWETest, PresetsFollowThePlainRuleOrTheirRingPreset) {
    const ScaleFactors ss7(LWE::ParameterPreset::SS7);
    const std::vector<double> expected_ss7{41.99986946420326, 41.99993447412777, 41.99996319546043,
                                           41.99997747013495, 41.99998417751299, 41.99998624132283,
                                           41.99998675727543, 41.99998675727543};
    ASSERT_EQ(ss7.getFactors().size(), 8u);
    for (u64 l = 0; l < 8; ++l)
        EXPECT_NEAR(ss7.getFactors()[l], expected_ss7[l], 1e-12);
    EXPECT_TRUE(ss7.getCorrections().empty());

    const ScaleFactors sd3(LWE::ParameterPreset::SD3);
    const std::vector<double> expected_sd3{40.99998039390656, 40.99998933703984, 40.99999140084248,
                                           40.99999140084248};
    ASSERT_EQ(sd3.getFactors().size(), 4u);
    for (u64 l = 0; l < 4; ++l)
        EXPECT_NEAR(sd3.getFactors()[l], expected_sd3[l], 1e-12);

    const double ring44 = ScaleFactors(preset(44)).getFactors()[0];
    EXPECT_EQ(ScaleFactors(LWE::ParameterPreset::FGbD12L0).getFactors(),
              std::vector<double>{ring44});
    const std::vector<double> ring29 = ScaleFactors(ParameterPreset::FGbD12NS1L1).getFactors();
    EXPECT_EQ(ScaleFactors(LWE::ParameterPreset::FGbD12L1).getFactors(), ring29);
    EXPECT_EQ(ring29.size(), 2u);
    EXPECT_EQ(ring29[0], ring44);
    const double ring85 = ScaleFactors(preset(85)).getFactors()[0];
    EXPECT_EQ(ScaleFactors(LWE::ParameterPreset::Discrete_G8A_LWE).getFactors(),
              std::vector<double>{ring85});

    expectThrowsMessage([] { ScaleFactors{LWE::ParameterPreset::CUSTOM}; },
                        "Need to specify some parameters in order to use CUSTOM parameters.");
    expectThrowsMessage([] { ScaleFactors{static_cast<LWE::ParameterPreset>(6)}; },
                        "The input parameter preset is not yet supported.");
}

} // namespace
} // namespace Quelt
