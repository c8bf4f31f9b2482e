// Bootstrapper checks and settings on presets of degree 2^15 to 2^17.

#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/Polynomial.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using test::ciphertextAt;
using test::expectThrowsMessage;
using test::fxContext;
using test::presetContext;
using test::RingCiphertext;

// FGd's companion is SGd0. Built with all 15 log slots, FGd's constants would
// take seconds: these checks come before any constant is made.
TEST(BootstrapperSlowTest, SparseCompanionChecksInOrder) {
    const HomEvaluator eval(presetContext(ParameterPreset::FGd));
    struct Case {
        const char *name;
        std::function<void()> build;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"wrong companion", [&] { Bootstrapper boot(eval, fxContext(), false); },
         BootstrapperImpl::kSparsePresetMismatchMessage},
        {"companion with another number of secrets",
         [&] {
             const auto sparse =
                 makeContext(ParameterPreset::SGd0, "SGd0TwoSecrets", 2, false, false);
             Bootstrapper boot(eval, sparse, false);
         },
         BootstrapperImpl::kSparseNumSecretMessage},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.build, c.message);
    }

    const Bootstrapper boot(eval, presetContext(ParameterPreset::SGd0), u64{1}, false);
    EXPECT_TRUE(boot.isBootstrapReady(1));
    EXPECT_FALSE(boot.isBootstrapReady(15));
    EXPECT_EQ(boot.getContext(), presetContext(ParameterPreset::FGd));
}

// FGbSSE fuses the modulus raise into CoeffToSlot, whose first step is that
// of all 15 log slots.
TEST(BootstrapperSlowTest, FusedParameterRefusesSparseSlots) {
    const HomEvaluator eval(presetContext(ParameterPreset::FGbSSE));
    const std::string message = "[Bootstrapper] Sparse-slot bootstrapping needs the full log "
                                "slot count 15 on this parameter";
    expectThrowsMessage([&] { Bootstrapper boot(eval, u64{3}, false); }, message);
    expectThrowsMessage([&] { Bootstrapper boot(eval, u64{14}, false); }, message);
}

// Built with log slots 0: the fused constants need the full-slot constants,
// which are made on the way.
TEST(BootstrapperSlowTest, InitFuseModRaiseTakesRowsZeroAndLPlusOne) {
    const auto &ctx = presetContext(ParameterPreset::FGbSSE);
    const HomEvaluator eval(ctx);
    BootstrapperImpl boot(eval, false, u64{0});
    EXPECT_TRUE(boot.getConstants().isBootstrapReady(15));

    const u64 chain_length = getLength(ctx);
    const std::vector<u64> primes = getPrimeList(ctx);
    const auto &prime_set = boot.getFusedRaise().getPrimeModuli();
    ASSERT_NE(prime_set, nullptr);
    ASSERT_EQ(prime_set->getModuli().size(), 2u);
    EXPECT_EQ(prime_set->getModulus(0).getPrime(), primes[0]);
    EXPECT_EQ(prime_set->getModulus(1).getPrime(), primes[chain_length + 1]);

    const std::vector<Plaintext> &diagonals =
        boot.getConstants().findBootConstants(15)->getInvV0(kHostDevice, 0);
    const std::vector<Polynomial> &constants = boot.getFusedRaise().getConstants().at(kHostDevice);
    ASSERT_EQ(constants.size(), diagonals.size());
    const u64 degree = getDegree(ctx);
    for (u64 i = 0; i < constants.size(); ++i) {
        const Polynomial &poly = constants[i];
        const Polynomial &mx = diagonals[i].getMx();
        EXPECT_EQ(poly.getLevel(), 1u);
        EXPECT_EQ(poly.getData().size(), 2 * degree);
        const std::vector<u64> row0(poly.getLimb(0), poly.getLimb(0) + degree);
        const std::vector<u64> row1(poly.getLimb(1), poly.getLimb(1) + degree);
        EXPECT_EQ(row0, std::vector<u64>(mx.getLimb(0), mx.getLimb(0) + degree)) << i;
        EXPECT_EQ(row1, std::vector<u64>(mx.getLimb(chain_length + 1),
                                         mx.getLimb(chain_length + 1) + degree))
            << i;
    }

    // Made again from the existing constants, the same rows.
    boot.initFuseModRaise();
    EXPECT_EQ(boot.getFusedRaise().getConstants().at(kHostDevice).size(), diagonals.size());
}

// Presets built with one log slot (few constants at any degree).
TEST(BootstrapperSlowTest, LevelAfterFullSlotBootstrapOfPresets) {
    struct Case {
        ParameterPreset preset;
        u64 level_after;
        u64 min_level;
    };
    const std::vector<Case> cases = {
        {ParameterPreset::FGb, 12, 3},      // the encryption level
        {ParameterPreset::FTa, 8, 3},       // the encryption level
        {ParameterPreset::FGfL7, 7, 3},     // the encryption level
        {ParameterPreset::FVa, 16, 3},      //
        {ParameterPreset::FTxCOEFF, 10, 0}, // encryption level 7 + 3
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(getParameterName(presetContext(c.preset)));
        const HomEvaluator eval(presetContext(c.preset));
        const Bootstrapper boot(eval, u64{1}, false);
        EXPECT_EQ(boot.getLevelAfterFullSlotBootstrap(), c.level_after);
        EXPECT_EQ(boot.getMinLevelForBootstrap(), c.min_level);
    }
}

// FX and FGbSmall share FGb's first five primes; the expected values are the
// exact ratios of the prime products rounded to double.
TEST(BootstrapperSlowTest, ModulusSwitchCompensationOverASharedPrefix) {
    const auto &small = presetContext(ParameterPreset::FGbSmall);
    EXPECT_NEAR(BootstrapperImpl::computeModulusSwitchCompensation(fxContext(), small, 7, 4) /
                    0x1.fffdf800b0017p+125,
                1.0, 1e-14);
    EXPECT_NEAR(BootstrapperImpl::computeModulusSwitchCompensation(small, fxContext(), 4, 9) /
                    0x1.0001720143296p-210,
                1.0, 1e-14);
    EXPECT_NEAR(BootstrapperImpl::computeModulusSwitchCompensation(small, fxContext(), 4, 4), 1.0,
                1e-14);
}

// FGfL7 is outsourced through FGfOL7, not through FX.
TEST(BootstrapperSlowTest, EnableOutsourcingRefusesAnotherInnerParameter) {
    const HomEvaluator fx_eval(fxContext());
    const Bootstrapper inner(fx_eval, u64{1}, false);
    const HomEvaluator eval(presetContext(ParameterPreset::FGfL7));
    Bootstrapper outer(eval, u64{1}, false);
    expectThrowsMessage([&] { outer.enableOutsourcing(inner); },
                        BootstrapperImpl::kOutsourcingMismatchMessage);
    expectThrowsMessage([&] { outer.enableOutsourcing(inner, eval); },
                        BootstrapperImpl::kOutsourcingMismatchMessage);
}

// FGfL7 is outsourced through FGfOL7 (built with its full slots: it fuses the
// modulus raise), and its results go to a single-secret evaluator that is not
// of a small parameter.
TEST(BootstrapperSlowTest, EnableOutsourcingKeepsTheInnerBootstrapper) {
    const HomEvaluator eval(presetContext(ParameterPreset::FGfL7));
    const HomEvaluator small_eval(presetContext(ParameterPreset::FGfL7Small));
    const HomEvaluator inner_eval(presetContext(ParameterPreset::FGfOL7));
    auto outer = std::make_shared<BootstrapperImpl>(eval, false, u64{1});
    auto inner = std::make_shared<BootstrapperImpl>(inner_eval, false, std::nullopt);
    expectThrowsMessage(
        [&] { outer->enableOutsourcing(inner, detail::HomEvaluatorAccess::impl(small_eval)); },
        BootstrapperImpl::kOutputEvaluatorMessage);
    EXPECT_EQ(outer->getOutsourced().getInner(), nullptr);
    EXPECT_EQ(outer->getOutsourced().getOutputEvaluator(), nullptr);

    outer->enableOutsourcing(inner, outer->getEvaluator());
    EXPECT_EQ(outer->getOutsourced().getOutputEvaluator(), outer->getEvaluator());
    const std::weak_ptr<BootstrapperImpl> watch = inner;
    inner.reset();
    ASSERT_FALSE(watch.expired());
    ASSERT_EQ(outer->getOutsourced().getInner(), watch.lock());

    // The multiply-before-SlotToCoeff setting reaches the inner bootstrapper.
    outer->setStatusUseMultiplyConstBeforeS2C(false);
    EXPECT_FALSE(outer->getOutsourced().getInner()->getModes().multiply_const_before_s2c);
    outer->setStatusUseMultiplyConstBeforeS2C(true);
    EXPECT_TRUE(outer->getOutsourced().getInner()->getModes().multiply_const_before_s2c);
    // The CoeffToSlot setting stays with the outer one.
    outer->setC2Suseminkey(true);
    EXPECT_FALSE(outer->getOutsourced().getInner()->getModes().c2s_use_min_key);
}

// FGfL7 supports batch bootstrapping: every ciphertext of the list is checked.
TEST(BootstrapperSlowTest, CheckBatchBootstrappableChecksEveryCiphertext) {
    const auto &ctx = presetContext(ParameterPreset::FGfL7);
    const HomEvaluator eval(ctx);
    const BootstrapperImpl batch(eval, false, u64{1});
    const RingCiphertext good = ciphertextAt(ctx, 3, 0);
    batch.getMultiSecret().checkBatchBootstrappable({good});
    batch.getMultiSecret().checkBatchBootstrappable({good, good});
    expectThrowsMessage([&] { batch.getMultiSecret().checkBatchBootstrappable({}); },
                        BootstrapperImpl::kEmptyBatchMessage);
    expectThrowsMessage(
        [&] {
            batch.getMultiSecret().checkBatchBootstrappable({good, ciphertextAt(ctx, 2, 0)});
        },
        BootstrapperImpl::kBatchLevelMessage);
    expectThrowsMessage(
        [&] {
            batch.getMultiSecret().checkBatchBootstrappable({good, ciphertextAt(ctx, 4, 1)});
        },
        HomEvaluatorImpl::kRescaleCounterNotZero);
    // A coefficient-encoded ciphertext is not held to the level.
    RingCiphertext coeff = ciphertextAt(ctx, 1, 0);
    coeff.setEncodingType(EncodingType::COEFFICIENT);
    batch.getMultiSecret().checkBatchBootstrappable({good, coeff});
}

} // namespace
} // namespace Quelt
