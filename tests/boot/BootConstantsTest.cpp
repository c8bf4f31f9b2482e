#include "boot/BootConstants.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "arith/FFT.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootTestSupport.hpp"
#include "boot/DftMatrices.hpp"
#include "context/Polynomial.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

namespace Quelt {
namespace {

using test::expectThrowsMessage;
using test::maxDistance;
using test::stepDiagonals;

void expectDecodesTo(const std::shared_ptr<ContextContent> &ctx,
                     const std::vector<Plaintext> &plaintexts, u64 level,
                     const std::vector<Message> &expected) {
    const EnDecoder decoder(ctx);
    ASSERT_EQ(plaintexts.size(), expected.size());
    for (u64 k = 0; k < plaintexts.size(); ++k) {
        EXPECT_EQ(plaintexts[k].getLevel(), level);
        EXPECT_EQ(plaintexts[k].getLogSlots(), expected[k].getLogSlots());
        EXPECT_FALSE(plaintexts[k].getMx().isModUp());
        EXPECT_LT(maxDistance(decoder.decode(plaintexts[k]), expected[k]), 1e-8);
    }
}

TEST(BootConstantsEncodingsTest, FXEntriesDecodeToTheScaledDiagonals) {
    const auto &ctx = test::fxContext();
    const BootParameter bp(ctx);
    const u64 chain_length = getLength(ctx);
    // Full slots ({3, 2}), fewer slots ({3}: the C2S factor carries 2^-2)
    // and one slot pair ({1}: one step under a level cost of three).
    for (u64 log_slots : {5, 3, 1}) {
        SCOPED_TRACE(log_slots);
        const BootConstants constants(log_slots, ctx, bp);
        EXPECT_EQ(constants.getLogSlots(), log_slots);
        EXPECT_EQ(constants.getNumSlots(), u64{1} << log_slots);
        const RadixDecomposition rd(log_slots);
        const double s2c_factor = std::cbrt(bp.s2c_scale);
        const double c2s_factor =
            std::cbrt(bp.c2s_scale / std::pow(2.0, 5.0 - static_cast<double>(log_slots)));
        for (u64 j = 0; j < rd.num_radices; ++j) {
            SCOPED_TRACE(j);
            const auto &v0 = constants.getV0(kHostDevice, j);
            EXPECT_EQ(&v0, &constants.getV0(kHostDevice, rd.bit_ranges[j], j + 1));
            expectDecodesTo(ctx, v0, j + 1, stepDiagonals(log_slots, rd, j, false, s2c_factor));
            const u64 level = chain_length - 1 - j;
            const auto &inv = constants.getInvV0(kHostDevice, j);
            EXPECT_EQ(&inv, &constants.getInvV0(kHostDevice, rd.bit_ranges[j], level));
            expectDecodesTo(ctx, inv, level, stepDiagonals(log_slots, rd, j, true, c2s_factor));
        }
    }
}

TEST(BootConstantsEncodingsTest, LookUpsAndCopies) {
    const auto &ctx = test::fxContext();
    const BootParameter bp(ctx);
    BootConstants constants(5, ctx, bp);
    const Device accelerator{Device::kCuda, 0};
    EXPECT_THROW(constants.getV0(kHostDevice, 2), std::out_of_range);
    EXPECT_THROW(constants.getInvV0(kHostDevice, 2), std::out_of_range);
    EXPECT_THROW(constants.getV0(kHostDevice, {0, 3}, 2), std::out_of_range);
    EXPECT_THROW(constants.getInvV0(kHostDevice, {0, 3}, 23), std::out_of_range);
    EXPECT_THROW(constants.getV0(accelerator, 0), std::out_of_range);
    EXPECT_THROW(constants.getInvV0(accelerator, 1), std::out_of_range);
    EXPECT_THROW(constants.getRadixDecompElem({0, 3}), std::out_of_range);
    EXPECT_THROW(constants.getMsgV0({3, 5}), std::out_of_range);

    // Every copy is on the host already: nothing changes.
    const u64 *before = constants.getV0(kHostDevice, 0)[0].getMxData(0);
    EXPECT_TRUE(constants.isIn(kHostDevice));
    EXPECT_FALSE(constants.isIn(accelerator));
    constants.copyToIfNotExists(kHostDevice);
    constants.removeExceptV0(kHostDevice);
    constants.removeExceptInvV0(kHostDevice);
    EXPECT_TRUE(constants.isIn(kHostDevice));
    EXPECT_EQ(constants.getV0(kHostDevice, 0)[0].getMxData(0), before);
    EXPECT_EQ(constants.getV0(kHostDevice, 0).size(), 8u);
    EXPECT_EQ(constants.getV0(kHostDevice, 1).size(), 7u);
    EXPECT_EQ(constants.getInvV0(kHostDevice, 1).size(), 7u);
}

TEST(BootConstantsEncodingsTest, CustomSplits) {
    const auto &ctx = test::fxContext();
    BootParameter bp(ctx);
    BootConstants constants(5, ctx, bp);
    const RadixDecomposition rd(std::vector<u64>{2, 3});

    // Step j at levels[j]; the factor is the scale's root by the two steps.
    constants.generateDFTEncodingsForS2C(bp, {2, 5}, {4, 6}, 9.0);
    for (u64 j = 0; j < 2; ++j) {
        const u64 level = j == 0 ? 4 : 6;
        expectDecodesTo(ctx, constants.getV0(kHostDevice, rd.bit_ranges[j], level), level,
                        stepDiagonals(5, rd, j, false, 3.0));
    }
    // Regenerating replaces the entry instead of appending to it.
    constants.generateDFTEncodingsForS2C(bp, {2, 5}, {4, 6}, std::nullopt);
    expectDecodesTo(ctx, constants.getV0(kHostDevice, {0, 2}, 4), 4,
                    stepDiagonals(5, rd, 0, false, std::sqrt(bp.s2c_scale)));
    // The default entries are still there.
    EXPECT_EQ(constants.getV0(kHostDevice, 0).size(), 8u);

    const RadixDecompositionElement &element = constants.getRadixDecompElem({2, 5});
    EXPECT_EQ(element.begin, 2u);
    EXPECT_EQ(element.end, 5u);
    EXPECT_EQ(element.radix, 8u);
    EXPECT_EQ(element.stride, 1u);
    EXPECT_EQ(element.baby_step, rd.baby_steps[1]);
    EXPECT_EQ(element.giant_step, rd.giant_steps[1]);
    EXPECT_EQ(element.baby_rot_indices, (std::vector<u64>{0, 1, 2, 3}));
    const u64 minus = static_cast<u64>(-4);
    const u64 minus8 = static_cast<u64>(-8);
    EXPECT_EQ(element.giant_rot_indices, (std::vector<u64>{minus8, minus, 0, 4}));

    constants.generateDFTMessagesForS2C(bp, {2, 5});
    const std::vector<std::vector<Message>> messages = constants.getMsgV0({2, 5});
    ASSERT_EQ(messages.size(), 2u);
    for (u64 j = 0; j < 2; ++j) {
        const std::vector<Message> expected =
            stepDiagonals(5, rd, j, false, std::sqrt(bp.s2c_scale));
        ASSERT_EQ(messages[j].size(), expected.size());
        for (u64 k = 0; k < expected.size(); ++k)
            EXPECT_EQ(maxDistance(messages[j][k], expected[k]), 0.0);
    }

    // Bad lists change nothing.
    expectThrowsMessage(
        [&] {
            constants.generateDFTEncodingsForS2C(bp, {1, 3, 5}, {1, 2}, {});
        },
        BootConstants::kLevelsMessage);
    for (const std::vector<u64> &sizes : {std::vector<u64>{}, std::vector<u64>{2, 4},
                                          std::vector<u64>{3, 2, 5}, std::vector<u64>{2, 5, 6}}) {
        expectThrowsMessage(
            [&] {
                constants.generateDFTEncodingsForS2C(bp, sizes, {1, 2, 3}, {});
            },
            BootConstants::kDftSizesMessage);
        expectThrowsMessage([&] { constants.generateDFTMessagesForS2C(bp, sizes); },
                            BootConstants::kDftSizesMessage);
    }
    expectThrowsMessage(
        [&] {
            constants.generateDFTMessagesForS2C(bp, {2, 2, 5});
        },
        "[RadixDecomposition] Each radix has to be non-zero.");
    EXPECT_THROW(constants.getV0(kHostDevice, {0, 1}, 1), std::out_of_range);
}

TEST(BootConstantsEncodingsTest, FlagsAndRefusals) {
    const auto &ctx = test::fxContext();
    BootParameter bp(ctx);

    // An outsourced parameter makes no SlotToCoeff constants.
    bp.outsourced = true;
    const BootConstants outsourced(2, ctx, bp);
    EXPECT_THROW(outsourced.getV0(kHostDevice, 0), std::out_of_range);
    EXPECT_EQ(outsourced.getInvV0(kHostDevice, 0).size(), 4u);
    bp.outsourced = false;

    expectThrowsMessage([&] { BootConstants(6, ctx, bp); },
                        std::string(BootConstants::kLogSlotsTooLargeMessage) + "5");
    expectThrowsMessage([&] { BootConstants(2, nullptr, bp); }, "[Context] The context is null");

    struct Case {
        double s2c_scale, c2s_scale;
        u64 s2c_cost, c2s_cost;
        const char *message;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {1.0, 1.0, 0, 3, BootConstants::kLevelCostMessage},
        {1.0, 1.0, 3, 0, BootConstants::kLevelCostMessage},
        {nan, 1.0, 3, 3, BootConstants::kScaleMessage},
        {1.0, inf, 3, 3, BootConstants::kScaleMessage},
        {-1.0, 1.0, 3, 3, BootConstants::kScaleMessage},
        {1.0, 0.0, 3, 3, BootConstants::kScaleMessage},
    };
    for (const Case &c : cases) {
        BootParameter bad = bp;
        bad.s2c_scale = c.s2c_scale;
        bad.c2s_scale = c.c2s_scale;
        bad.s2c_level_cost = c.s2c_cost;
        bad.c2s_level_cost = c.c2s_cost;
        expectThrowsMessage([&] { BootConstants(2, ctx, bad); }, c.message);
    }
    // A context that cannot bootstrap has no scales.
    const auto custom = Quelt::test::degree64FourPrimes();
    expectThrowsMessage([&] { BootConstants(2, custom, BootParameter(custom)); },
                        BootConstants::kScaleMessage);
}

} // namespace
} // namespace Quelt
