#include "boot/BootParameter.hpp"

#include "Quelt/Context.hpp"
#include "boot/BootTestSupport.hpp"
#include "context/Parameter.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace Quelt {
namespace {

// cos(k arccos x): the Chebyshev polynomial itself, not a recurrence.
double chebyshev(u64 k, double x) { return std::cos(static_cast<double>(k) * std::acos(x)); }

// The cosine polynomial in the block form the modular reduction evaluates:
// sum over j of B_j(x) times the product of T_(8 2^k)(x) over the set bits k
// of j, with B_j = c_4j + c_(4j+1) T_2 + c_(4j+2) T_4 + c_(4j+3) T_6.
double blockForm(const std::vector<double> &c, double x) {
    double sum = 0.0;
    for (u64 j = 0; 4 * j < c.size(); ++j) {
        double block = c[4 * j] + c[4 * j + 1] * chebyshev(2, x) + c[4 * j + 2] * chebyshev(4, x) +
                       c[4 * j + 3] * chebyshev(6, x);
        for (u64 k = 0; (j >> k) != 0; ++k)
            if ((j >> k) & 1)
                block *= chebyshev(u64{8} << k, x);
        sum += block;
    }
    return sum;
}

TEST(BootParameterTablesTest, CosineCoefficientsApproximateTheirCosines) {
    // A single mistyped digit moves the maximum error far above these bounds.
    struct Case {
        u64 num, den, n;
        double bound;
    };
    const Case cases[] = {{8, 1, 32, 2.2e-10},  {2, 1, 8, 5e-6},      {4, 1, 16, 2.2e-10},
                          {16, 5, 16, 2.2e-10}, {12, 1, 32, 2.2e-10}, {128, 11, 32, 2.2e-10},
                          {7, 1, 32, 2.2e-10},  {3, 1, 16, 2.2e-10}};
    EXPECT_EQ(getCoeffList().size(), std::size(cases));
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den));
        const std::vector<double> coeffs = getCosineCoeff(
            {static_cast<std::uint32_t>(c.num), static_cast<std::uint32_t>(c.den)}, c.n);
        ASSERT_EQ(coeffs.size(), c.n);
        const double k = static_cast<double>(c.num) / static_cast<double>(c.den);
        double worst = 0.0;
        constexpr int kGrid = 20000;
        for (int i = 0; i <= kGrid; ++i) {
            const double x = -1.0 + 2.0 * i / kGrid;
            worst = std::max(worst,
                             std::abs(blockForm(coeffs, x) - std::cos(std::numbers::pi * k * x)));
        }
        EXPECT_LE(worst, c.bound);
    }
}

TEST(BootParameterTablesTest, RationalKeys) {
    const Rational sixteen_halves{16, 2}, eight{8, 1};
    EXPECT_FALSE(sixteen_halves < eight);
    EXPECT_FALSE(eight < sixteen_halves);
    EXPECT_TRUE((Rational{128, 11} < Rational{12, 1}));
    EXPECT_EQ(getCosineCoeff(sixteen_halves, 32), getCosineCoeff(eight, 32));
    // Cross products beyond 2^31 are still ordered exactly.
    EXPECT_TRUE((Rational{4000000000u, 3} < Rational{4000000000u, 1}));
    EXPECT_FALSE((Rational{4000000000u, 1} < Rational{4000000000u, 3}));

    EXPECT_THROW(getCosineCoeff(eight, 16), std::out_of_range);
    EXPECT_THROW(getCosineCoeff({5, 1}, 32), std::out_of_range);
    EXPECT_THROW(getCosineCoeff({0, 0}, 32), std::out_of_range);
    EXPECT_THROW(getCosineCoeff({5, 0}, 32), std::out_of_range);
}

TEST(BootParameterTablesTest, EveryRowIsConsistent) {
    for (std::uint32_t v = 0; v <= kMaxParameterPresetValue; ++v) {
        const auto preset = static_cast<ParameterPreset>(v);
        SCOPED_TRACE(v);
        const std::optional<BootPresetSettings> row = getBootPresetSettings(preset);
        // Exactly the bootstrappable presets carry settings.
        const bool bootstrappable =
            preset != ParameterPreset::CUSTOM && Parameter(preset).bootstrappable;
        ASSERT_EQ(row.has_value(), bootstrappable);
        if (!row)
            continue;
        // K' = K / 2^(r-1), and the key names a list of 4 * 2^m coefficients.
        const double key = static_cast<double>(row->cosine_key.num) / row->cosine_key.den;
        EXPECT_EQ(row->range_k / std::pow(2.0, static_cast<double>(row->num_double_angle) - 1.0),
                  key);
        EXPECT_EQ(row->cosine_count, u64{4} << row->cosine_log_blocks);
        EXPECT_EQ(getCosineCoeff(row->cosine_key, row->cosine_count).size(), row->cosine_count);
        EXPECT_TRUE(row->arcsine_degree == 1 || row->arcsine_degree == 3 ||
                    row->arcsine_degree == 7);
        EXPECT_GT(row->mult_before_s2c, 0u);
        EXPECT_GT(row->mult_before_c2s, 0u);
    }
}

TEST(BootParameterTablesTest, RepresentativeRows) {
    using P = ParameterPreset;
    struct Case {
        P preset;
        u64 s2c, c2s;
        double k;
        bool separate;
        u64 blocks, r, asin;
        std::optional<std::pair<u64, u64>> extended;
    };
    const Case cases[] = {
        {P::FVa, 5, 1, 16.0, false, 3, 2, 3, std::pair<u64, u64>{20, 0}},
        {P::FVc, 1, 16, 24.0, true, 2, 4, 7, std::pair<u64, u64>{20, 10}},
        {P::FGa, 8, 1, 25.6, false, 2, 4, 3, std::pair<u64, u64>{20, 6}},
        {P::FGeO, 8, 1, 28.0, false, 3, 3, 1, std::pair<u64, u64>{20, 2}},
        {P::FGSd, 8, 1, 128.0 / 11.0, false, 3, 1, 1, std::pair<u64, u64>{20, 2}},
        {P::FTb, 8, 11, 256.0 / 11.0, false, 3, 2, 1, std::nullopt},
        {P::FTxCOEFF, 256, 1, 128.0 / 11.0, false, 3, 1, 1, std::nullopt},
        {P::Discrete_G12, 2, 1, 16.0, false, 2, 3, 1, std::nullopt},
        {P::KAPLO_BTS_SMALL, 64, 1, 12.0, false, 3, 1, 1, std::pair<u64, u64>{20, 2}},
        {P::KAPLO_3_BTS_OUTSOURCE_REAL, 128, 1, 128.0 / 11.0, false, 3, 1, 1,
         std::pair<u64, u64>{20, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.preset));
        const std::optional<BootPresetSettings> row = getBootPresetSettings(c.preset);
        ASSERT_TRUE(row.has_value());
        EXPECT_EQ(row->mult_before_s2c, c.s2c);
        EXPECT_EQ(row->mult_before_c2s, c.c2s);
        EXPECT_EQ(row->range_k, c.k);
        EXPECT_EQ(row->scale_before_remove_i, c.separate);
        EXPECT_EQ(row->cosine_log_blocks, c.blocks);
        EXPECT_EQ(row->num_double_angle, c.r);
        EXPECT_EQ(row->arcsine_degree, c.asin);
        EXPECT_EQ(row->extended_exponents, c.extended);
    }
    EXPECT_EQ(128.0 / 11.0, 11.636363636363637);
    EXPECT_EQ(256.0 / 11.0, 23.272727272727273);

    EXPECT_TRUE(isOutsourcedBootPreset(P::FGfOL7Low));
    EXPECT_TRUE(isOutsourcedBootPreset(P::KAPLO_3_BTS_OUTSOURCE));
    EXPECT_FALSE(isOutsourcedBootPreset(P::KAPLO_3_BTS_OUTSOURCE_REAL));
    EXPECT_FALSE(isOutsourcedBootPreset(P::FGf));
}

TEST(BootParameterTest, FXFields) {
    const auto ctx = test::fxContext();
    const BootParameter bp(ctx);
    EXPECT_EQ(bp.mult_before_s2c, 8u);
    EXPECT_EQ(bp.mult_before_c2s, 1u);
    EXPECT_EQ(bp.range_k, 28.0);
    EXPECT_FALSE(bp.scale_before_remove_i);
    EXPECT_EQ(bp.cosine_log_blocks, 3u);
    EXPECT_EQ(bp.num_double_angle, 3u);
    EXPECT_EQ(bp.arcsine_degree, 1u);
    EXPECT_EQ(bp.cosine_coeffs, getCosineCoeff({7, 1}, 32));
    EXPECT_EQ(bp.c2s_level_cost, 3u);
    EXPECT_EQ(bp.s2c_level_cost, 3u);
    EXPECT_EQ(bp.extended_exponents, (std::pair<u64, u64>{20, 2}));
    EXPECT_FALSE(bp.outsourced);
    EXPECT_TRUE(bp.c2s_decompositions.empty());
    EXPECT_TRUE(bp.s2c_decompositions.empty());

    // The corrections of FX's levels 1-3 and 22-24 are 0: the scales are the
    // plain ones, computed here from the public getters.
    const std::vector<double> sf = getDefaultScaleFactorList(ctx);
    const double q0 = static_cast<double>(getPrimeList(ctx)[0]);
    EXPECT_EQ(bp.s2c_scale, 1.0);
    EXPECT_DOUBLE_EQ(bp.c2s_scale, std::pow(2.0, sf[24]) / (q0 * 2.0 * 28.0));

    EXPECT_EQ(bp.getRadixDecForC2S(5).log_radices, (std::vector<u64>{3, 2}));
    for (u64 x = 0; x <= 20; ++x) {
        EXPECT_EQ(bp.getRadixDecForS2C(x).log_radices, RadixDecomposition(x).log_radices);
        EXPECT_EQ(bp.getRadixDecForC2S(x).baby_steps, RadixDecomposition(x).baby_steps);
    }
    EXPECT_THROW(bp.getRadixDecForS2C(21), RuntimeException);
}

TEST(BootParameterTest, ContextsWithoutSettings) {
    // A custom context and a named preset outside the table: no row, not
    // bootstrappable.
    const BootParameter named(makeContext(ParameterPreset::FGbD12L0));
    EXPECT_TRUE(named.cosine_coeffs.empty());
    EXPECT_EQ(named.c2s_scale, 0.0);
    const BootParameter bp(Quelt::test::degree64FourPrimes());
    EXPECT_TRUE(bp.cosine_coeffs.empty());
    EXPECT_EQ(bp.mult_before_s2c, 0u);
    EXPECT_EQ(bp.mult_before_c2s, 0u);
    EXPECT_EQ(bp.range_k, 0.0);
    EXPECT_EQ(bp.arcsine_degree, 0u);
    EXPECT_EQ(bp.c2s_scale, 0.0);
    EXPECT_EQ(bp.s2c_scale, 0.0);
    EXPECT_EQ(bp.c2s_level_cost, 3u);
    EXPECT_EQ(bp.extended_exponents, (std::pair<u64, u64>{0, 0}));
    EXPECT_FALSE(bp.outsourced);

    test::expectThrowsMessage([] { BootParameter(nullptr); }, "[Context] The context is null");
}

} // namespace
} // namespace Quelt
