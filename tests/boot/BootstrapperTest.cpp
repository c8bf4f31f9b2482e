#include "Quelt/Bootstrapper.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "foundation/WordArith.hpp"
#include "support/EvaluatorTestSupport.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using i64 = std::int64_t;
using test::ciphertextAt;
using test::expectThrowsMessage;
using test::fxContext;
using test::RingCiphertext;

const HomEvaluator &fxEval() {
    static const HomEvaluator eval(fxContext());
    return eval;
}

// ---- Construction ---------------------------------------------------------------

struct ConstructionCase {
    const char *name;
    std::function<void()> build;
    std::string message;
};

TEST(BootstrapperTest, ConstructorChecksInOrder) {
    const std::vector<ConstructionCase> cases = {
        {"custom context",
         [] {
             const HomEvaluator eval(test::degree64ThreePrimes());
             Bootstrapper boot(eval, false);
         },
         BootstrapperImpl::kNotBootstrappableMessage},
        {"custom context, sparse form",
         [] {
             const HomEvaluator eval(test::degree64ThreePrimes());
             Bootstrapper boot(eval, fxContext(), u64{1}, false);
         },
         BootstrapperImpl::kNotBootstrappableMessage},
        {"no sparse-secret encapsulation", [] { Bootstrapper boot(fxEval(), fxContext(), false); },
         BootstrapperImpl::kNoSparseSecretMessage},
    };
    for (const ConstructionCase &c : cases) {
        SCOPED_TRACE(c.name);
        expectThrowsMessage(c.build, c.message);
    }
}

// ---- Constants --------------------------------------------------------------------

TEST(BootstrapperTest, DefaultConstructorMakesFullSlotConstants) {
    const Bootstrapper boot(fxEval(), false);
    EXPECT_TRUE(boot.isBootstrapReady(0));
    EXPECT_TRUE(boot.isBootstrapReady(5));
    EXPECT_FALSE(boot.isBootstrapReady(3));
}

TEST(BootstrapperTest, LogSlotsAboveFullNamesTheFullCount) {
    Bootstrapper boot(fxEval(), u64{0}, false);
    expectThrowsMessage([&] { boot.makeBootConstants(6); },
                        "[makeBootConstants] log_slots should not exceed 5");
    expectThrowsMessage([&] { Bootstrapper b(fxEval(), u64{6}, false); },
                        "[makeBootConstants] log_slots should not exceed 5");
    EXPECT_FALSE(boot.isBootstrapReady(6));
}

TEST(BootstrapperTest, ListFormsCheckTheirArguments) {
    Bootstrapper boot(fxEval(), u64{3}, false);
    const std::string mismatch = BootstrapperImpl::kDftSizesMismatchMessage;
    expectThrowsMessage([&] { boot.makeBootConstants(3, {}); }, mismatch);
    expectThrowsMessage([&] { boot.makeBootConstants(3, {1, 2}); }, mismatch);
    expectThrowsMessage([&] { boot.getMessageV0Diagonals(3, {}); }, mismatch);
    expectThrowsMessage([&] { boot.getMessageV0Diagonals(3, {2}); }, mismatch);
    expectThrowsMessage(
        [&] {
            boot.makeBootConstants(4, {2, 4});
        },
        "Bootstrapping constants for log slots 4 do not exist.");
    expectThrowsMessage([&] { boot.getMessageV0Diagonals(4, {4}); },
                        "Bootstrapping constants for log slots 4 do not exist.");
    expectThrowsMessage([&] { boot.makeBootConstants(0, {0}); },
                        "Bootstrapping constants for log slots 0 do not exist.");
    // Three steps, two levels.
    expectThrowsMessage(
        [&] {
            boot.makeBootConstants(3, {1, 2, 3}, {1, 2}, std::nullopt);
        },
        BootConstants::kLevelsMessage);
    // A scale that would reach the encoder as NaN or infinity.
    for (const double scale : {std::nan(""), HUGE_VAL, 0.0, -1.0})
        expectThrowsMessage(
            [&] {
                boot.makeBootConstants(3, {1, 3}, {1, 2}, scale);
            },
            BootConstants::kScaleMessage);
}

TEST(BootstrapperTest, ListFormsBuildTheGivenSplit) {
    Bootstrapper boot(fxEval(), u64{3}, false);
    boot.makeBootConstants(3, {1, 3});
    boot.makeBootConstants(3, {1, 2, 3}, {2, 3, 4}, 0.5);
    const std::vector<std::vector<Message>> diagonals = boot.getMessageV0Diagonals(3, {1, 3});
    ASSERT_EQ(diagonals.size(), 2u);
    for (const std::vector<Message> &step : diagonals) {
        ASSERT_FALSE(step.empty());
        EXPECT_EQ(step.front().getSize(), 8u);
    }
}

TEST(BootstrapperTest, PlacementNeedsTheConstants) {
    Bootstrapper boot(fxEval(), u64{5}, false);
    const std::string missing = "Bootstrapping constants for log slots 3 do not exist.";
    expectThrowsMessage([&] { boot.loadBootConstants(3, kHostDevice); }, missing);
    expectThrowsMessage([&] { boot.loadS2CConstants(3, kHostDevice); }, missing);
    expectThrowsMessage([&] { boot.loadC2SConstants(3, kHostDevice); }, missing);
    expectThrowsMessage([&] { boot.removeExceptS2CConstants(3, kHostDevice); }, missing);
    expectThrowsMessage([&] { boot.removeExceptC2SConstants(3, kHostDevice); }, missing);
    boot.loadBootConstants(5, kHostDevice);
    boot.loadS2CConstants(5, kHostDevice);
    boot.loadC2SConstants(5, kHostDevice);
    boot.removeExceptS2CConstants(5, kHostDevice);
    boot.removeExceptC2SConstants(5, kHostDevice);
    EXPECT_TRUE(boot.isBootstrapReady(5));
}

// ---- Levels -----------------------------------------------------------------------

TEST(BootstrapperTest, LevelsOfFX) {
    const Bootstrapper boot(fxEval(), u64{1}, false);
    EXPECT_EQ(boot.getLevelAfterFullSlotBootstrap(), 12u);
    EXPECT_EQ(boot.getMinLevelForBootstrap(), 3u);
}

// ---- Helpers --------------------------------------------------------------------------

TEST(BootstrapperTest, ConvertFromSgnIdxReducesModuloTheSlotCount) {
    // FX has 32 slots.
    EXPECT_EQ(BootstrapperImpl::convertFromSgnIdx({-3, 5, -1, 0, 32, -32, 33}, fxContext()),
              (std::vector<u64>{29, 5, 31, 0, 0, 0, 1}));
    EXPECT_TRUE(BootstrapperImpl::convertFromSgnIdx({}, fxContext()).empty());
}

TEST(BootstrapperTest, ModulusSwitchCompensationMatchesTheExactRatio) {
    // The expected values are the exact ratios of the prime products (FX has
    // FGb's chain), rounded to double.
    const auto &other = test::rankFourContext(); // SD3D6R2, chain length 4
    struct Case {
        const std::shared_ptr<ContextContent> *a;
        const std::shared_ptr<ContextContent> *b;
        u64 level_a;
        u64 level_b;
        double expected;
    };
    const std::vector<Case> cases = {
        {&fxContext(), &other, 6, 3, 0x1.fffd9840cdf49p+139},
        {&other, &fxContext(), 3, 2, 0x1.ffff58c02b975p+27},
        {&fxContext(), &fxContext(), 9, 2, 0x1.fffb88043f9ccp+293},
        {&other, &other, 3, 3, 1.0},
    };
    for (const Case &c : cases) {
        const double got =
            BootstrapperImpl::computeModulusSwitchCompensation(*c.a, *c.b, c.level_a, c.level_b);
        EXPECT_NEAR(got / c.expected, 1.0, 1e-14) << c.level_a << " " << c.level_b;
    }
}

TEST(BootstrapperTest, ModulusSwitchCompensationRefusesWhatDoubleCannotHold) {
    // Primes 0..20 of FX multiply past 2^1024 before the division brings the
    // ratio (about 2^289) back into range.
    expectThrowsMessage(
        [&] {
            BootstrapperImpl::computeModulusSwitchCompensation(fxContext(), fxContext(), 20, 15);
        },
        BootstrapperImpl::kCompensationNotFiniteMessage);
    const auto &other = test::rankFourContext();
    expectThrowsMessage(
        [&] { BootstrapperImpl::computeModulusSwitchCompensation(other, fxContext(), 4, 0); },
        BootstrapperImpl::kCompensationLevelMessage);
    expectThrowsMessage(
        [&] { BootstrapperImpl::computeModulusSwitchCompensation(fxContext(), other, 0, 4); },
        BootstrapperImpl::kCompensationLevelMessage);
}

// ---- Modes ------------------------------------------------------------------------

TEST(BootstrapperTest, EnableOutsourcingChecksInOrder) {
    Bootstrapper fx(fxEval(), u64{1}, false);
    const Bootstrapper inner(fxEval(), u64{1}, false);
    expectThrowsMessage([&] { fx.enableOutsourcing(inner); },
                        BootstrapperImpl::kNoOutsourcingMessage);
    expectThrowsMessage([&] { fx.enableOutsourcing(inner, fxEval()); },
                        BootstrapperImpl::kNoOutsourcingMessage);
}

TEST(BootstrapperTest, ModeSettingsAreSharedByCopies) {
    Bootstrapper boot(fxEval(), u64{1}, false);
    EXPECT_FALSE(boot.getC2Suseminkey());
    EXPECT_TRUE(boot.getStatusUseMultiplyConstBeforeS2C());
    const Bootstrapper copy = boot;
    boot.setC2Suseminkey(true);
    boot.setStatusUseMultiplyConstBeforeS2C(false);
    EXPECT_TRUE(copy.getC2Suseminkey());
    EXPECT_FALSE(copy.getStatusUseMultiplyConstBeforeS2C());
    boot.makeBootConstants(2);
    EXPECT_TRUE(copy.isBootstrapReady(2));
    EXPECT_EQ(copy.getContext(), fxContext());
}

} // namespace
} // namespace Quelt
