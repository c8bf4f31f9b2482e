// Bootstrapping parameters of presets of degree 2^15 to 2^17.

#include "boot/BootParameter.hpp"

#include "Quelt/Context.hpp"
#include "context/ContextContent.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <vector>

namespace Quelt {
namespace {

using P = ParameterPreset;

// 2 to the sum of the context's integer corrections of levels first .. last.
double correctionPower(const std::shared_ptr<ContextContent> &ctx, u64 first, u64 last) {
    const std::vector<std::int64_t> &corrections = ctx->getScaleFactors().getCorrections();
    double sum = 0.0;
    for (u64 l = first; l <= last; ++l)
        sum += static_cast<double>(corrections.at(l));
    return std::pow(2.0, sum);
}

// 2^sf[L-1] / q0, the factor that brings the raised ciphertext back to scale.
double baseOf(const std::shared_ptr<ContextContent> &ctx) {
    const std::vector<double> sf = getDefaultScaleFactorList(ctx);
    return std::pow(2.0, sf.at(getLength(ctx) - 1)) / static_cast<double>(getPrimeList(ctx)[0]);
}

TEST(BootParameterPresetsTest, Scales) {
    struct Case {
        P preset;
        // Levels whose corrections make up E_s, the number of CoeffToSlot
        // steps, the top levels whose corrections make up E_c, and the
        // divisor of the CoeffToSlot scale (2 K mult).
        u64 s2c_first, s2c_last, c2s_steps, c2s_levels;
        double c2s_divisor;
    };
    const Case cases[] = {
        {P::FGb, 1, 3, 3, 3, 2 * 28.0},
        {P::FTa, 1, 3, 3, 3, 2 * (256.0 / 11.0) * 11},
        // Coefficient bootstrapping: the levels above the encryption level
        // (10), one more with re-remove-I (FGCa, encryption level 8).
        {P::FGxCOEFF, 11, 13, 3, 3, 2 * (128.0 / 11.0)},
        {P::FGCa, 9, 12, 3, 3, 2 * (128.0 / 11.0)},
        // Fused: four steps, the first of which rescales by the two
        // temporary primes exactly, so three chain levels are corrected.
        {P::FGbSSE, 1, 3, 4, 3, 2 * (128.0 / 11.0)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.preset));
        const auto ctx = makeContext(c.preset);
        const BootParameter bp(ctx);
        const u64 top = getLength(ctx) - 1;
        EXPECT_DOUBLE_EQ(bp.s2c_scale, correctionPower(ctx, c.s2c_first, c.s2c_last));
        EXPECT_DOUBLE_EQ(bp.c2s_scale, correctionPower(ctx, top + 1 - c.c2s_levels, top) *
                                           baseOf(ctx) / c.c2s_divisor);
        EXPECT_EQ(bp.c2s_level_cost, c.c2s_steps);
    }

    // FVa: no corrections at all, and s2c_scale exactly 1.
    const auto fva = makeContext(P::FVa);
    const BootParameter fva_bp(fva);
    EXPECT_EQ(fva_bp.s2c_scale, 1.0);
    EXPECT_DOUBLE_EQ(fva_bp.c2s_scale, baseOf(fva) / (2 * 16.0));
    EXPECT_EQ(fva_bp.extended_exponents, (std::pair<u64, u64>{20, 0}));

    // A full packed base modulus: E_s times q0 / 2^sf[0], over mult_before_s2c.
    const auto packed = makeContext(P::Discrete_G8);
    const BootParameter packed_bp(packed);
    const double q0 = static_cast<double>(getPrimeList(packed)[0]);
    const double sf0 = getDefaultScaleFactorList(packed)[0];
    EXPECT_DOUBLE_EQ(packed_bp.s2c_scale,
                     correctionPower(packed, 1, 3) * (q0 / std::pow(2.0, sf0)) / 2.0);
    EXPECT_EQ(packed_bp.cosine_coeffs, getCosineCoeff({4, 1}, 16));

    // FTa sets no extended pair.
    EXPECT_EQ(BootParameter(makeContext(P::FTa)).extended_exponents, (std::pair<u64, u64>{0, 0}));
}

TEST(BootParameterPresetsTest, FusedSplitsAgreeWithTheContextRule) {
    struct Case {
        P preset;
        std::vector<u64> split;
        bool outsourced;
    };
    const Case cases[] = {
        {P::FGbSSE, {6, 3, 3, 3}, false},
        {P::FGfOL7, {6, 3, 3, 3}, true},
        {P::FGfOL7Low, {6, 3, 3, 3}, true},
        {P::Discrete_G8B_OBTS, {4, 4, 3, 4}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.preset));
        const auto ctx = makeContext(c.preset);
        const BootParameter bp(ctx);
        EXPECT_EQ(bp.outsourced, c.outsourced);
        EXPECT_EQ(bp.c2s_level_cost, c.split.size());
        ASSERT_EQ(bp.c2s_decompositions.size(), 1u);
        ASSERT_EQ(bp.c2s_decompositions.count(15), 1u);
        const RadixDecomposition split = bp.getRadixDecForC2S(15);
        EXPECT_EQ(split.log_radices, c.split);
        EXPECT_EQ(split.giant_steps[0], 1u);
        EXPECT_EQ(split.baby_steps[0], split.radices[0]);
        EXPECT_EQ(bp.getRadixDecForC2S(14).log_radices, (std::vector<u64>{5, 4, 5}));
        EXPECT_TRUE(bp.s2c_decompositions.empty());

        // Every rotation of the CoeffToSlot steps after the fused one has a
        // key in the context's bootstrap set, with and without min_key.
        for (bool min_key : {false, true}) {
            const std::set<std::int64_t> keys = getRotIndicesForBootstrap(ctx, 15, min_key, true);
            for (u64 step = 1; step < split.num_radices; ++step) {
                for (std::int64_t amount : split.getRotIndicesForBabyStep(step, min_key))
                    EXPECT_EQ(keys.count(amount), 1u) << amount;
                for (std::int64_t amount : split.getRotIndicesForGiantStep(step, min_key))
                    EXPECT_EQ(keys.count(amount), 1u) << amount;
            }
        }
    }

    // The double-degree variant of a fused preset is refused.
    const auto doubled = makeContext(P::FGf, "x", 2, false, true);
    test::expectThrowsMessage([&] { BootParameter{doubled}; },
                              "Currently, FuseModRaise is only supported for degree 2^16");
}

} // namespace
} // namespace Quelt
