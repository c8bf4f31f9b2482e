// Bootstrapping constants of presets of degree 2^15 and 2^16, at small slot
// counts.

#include "boot/BootConstants.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootTestSupport.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "foundation/WordArith.hpp"
#include "support/CrtReference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <stdexcept>
#include <vector>

namespace Quelt {
namespace {

using P = ParameterPreset;

using test::maxDistance;
using test::stepDiagonals;

TEST(BootConstantsPresetsTest, FusedContextKeysStepZeroAboveTheChain) {
    const auto ctx = makeContext(P::FGbSSE);
    const BootParameter bp(ctx);
    const u64 chain_length = getLength(ctx); // 24
    const BootConstants constants(5, ctx, bp);
    const RadixDecomposition rd(5); // {3, 2}: below the full slot count
    const double factor = std::pow(bp.c2s_scale / std::pow(2.0, 10.0), 1.0 / 4.0);

    const auto &step0 = constants.getInvV0(kHostDevice, 0);
    EXPECT_EQ(&step0, &constants.getInvV0(kHostDevice, {0, 3}, chain_length + 1));
    const auto &step1 = constants.getInvV0(kHostDevice, 1);
    EXPECT_EQ(&step1, &constants.getInvV0(kHostDevice, {3, 5}, chain_length - 1));

    // Step 0: offsets from 0, scaled by prime L + 1, in the mod-up form whose
    // limbs all hold the same integers.
    const std::vector<u64> primes = getPrimeList(ctx);
    const double scale = static_cast<double>(primes[chain_length + 1]);
    const std::vector<Message> expected0 = stepDiagonals(5, rd, 0, true, factor, true);
    ASSERT_EQ(step0.size(), expected0.size());
    const EnDecoder decoder(ctx);
    const PrimeModuli &chain = ctx->getPrimeModuli();
    const u64 degree = getDegree(ctx);
    for (u64 k = 0; k < step0.size(); ++k) {
        SCOPED_TRACE(k);
        const Polynomial &mx = step0[k].getMx();
        ASSERT_TRUE(mx.isModUp());
        ASSERT_EQ(mx.getSize(), primes.size());

        Polynomial coefficients = mx;
        chain.backwardNTT<OutputModulusBoundValidator, 1>(coefficients, coefficients,
                                                          {0, primes.size()});
        const test::u128 modulus = test::crtModulus(primes, 2);
        Message decoded(5, {});
        const u64 gap = degree / 2 / 32;
        for (u64 t = 0; t < degree; ++t) {
            const test::u128 x = test::crtReconstruct(
                {coefficients.getLimb(0)[t], coefficients.getLimb(1)[t]}, primes, 2);
            const bool negative = x > modulus / 2;
            const test::u128 magnitude = negative ? modulus - x : x;
            for (u64 i = 2; i < primes.size(); ++i) {
                const u64 r = static_cast<u64>(magnitude % primes[i]);
                EXPECT_EQ(coefficients.getLimb(i)[t], negative && r != 0 ? primes[i] - r : r);
            }
            const double value = (negative ? -1.0 : 1.0) * static_cast<double>(magnitude) / scale;
            // Real parts at j * gap, imaginary parts N/2 further.
            if (t % gap == 0)
                decoded[t % (degree / 2) / gap] += t < degree / 2
                                                       ? std::complex<double>(value, 0.0)
                                                       : std::complex<double>(0.0, value);
        }
        ctx->getFFT().forwardFFT(decoded);
        EXPECT_LT(maxDistance(decoded, expected0[k]), 1e-9);
    }

    // Step 1: an ordinary encoding at L - 1.
    const std::vector<Message> expected1 = stepDiagonals(5, rd, 1, true, factor, true);
    ASSERT_EQ(step1.size(), expected1.size());
    for (u64 k = 0; k < step1.size(); ++k) {
        EXPECT_EQ(step1[k].getLevel(), chain_length - 1);
        EXPECT_LT(maxDistance(decoder.decode(step1[k]), expected1[k]), 1e-9);
    }
}

TEST(BootConstantsPresetsTest, CoefficientBootstrappingEncodesSlotToCoeffHigher) {
    const auto ctx = makeContext(P::FTxCOEFF);
    const BootParameter bp(ctx);
    const u64 encryption_level = getEncryptionLevel(ctx); // 7
    const BootConstants constants(2, ctx, bp);
    const auto &step0 = constants.getV0(kHostDevice, 0);
    EXPECT_EQ(&step0, &constants.getV0(kHostDevice, {0, 2}, 1));
    EXPECT_THROW(constants.getV0(kHostDevice, {0, 2}, encryption_level + 1), std::out_of_range);
    const std::vector<Message> expected =
        stepDiagonals(2, RadixDecomposition(2), 0, false, std::cbrt(bp.s2c_scale));
    ASSERT_EQ(step0.size(), expected.size());
    const EnDecoder decoder(ctx);
    for (u64 k = 0; k < step0.size(); ++k) {
        EXPECT_EQ(step0[k].getLevel(), encryption_level + 1);
        EXPECT_LT(maxDistance(decoder.decode(step0[k]), expected[k]), 1e-9);
    }
}

TEST(BootConstantsPresetsTest, FlagsOfThePreset) {
    // Double hoisting: both transforms in the mod-up form.
    const auto hoisting = makeContext(P::FFFMS);
    const BootConstants hoisted(2, hoisting, BootParameter(hoisting));
    for (const Plaintext &pt : hoisted.getV0(kHostDevice, 0))
        EXPECT_TRUE(pt.getMx().isModUp());
    for (const Plaintext &pt : hoisted.getInvV0(kHostDevice, 0))
        EXPECT_TRUE(pt.getMx().isModUp());

    // The small companion makes no CoeffToSlot constants.
    const auto small = makeContext(P::FGbSmall);
    const BootConstants constants(2, small, BootParameter(small));
    EXPECT_EQ(constants.getV0(kHostDevice, 0).size(), 4u);
    EXPECT_THROW(constants.getInvV0(kHostDevice, 0), std::out_of_range);
    EXPECT_TRUE(constants.isIn(kHostDevice));
}

} // namespace
} // namespace Quelt
