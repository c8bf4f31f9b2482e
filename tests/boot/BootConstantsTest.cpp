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

using i64 = std::int64_t;
using cd = std::complex<double>;
using test::expectThrowsMessage;
using test::maxDistance;
using test::stepDiagonals;

Message randomMessage(u64 log_slots, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Message m(log_slots);
    for (cd &slot : m)
        slot = {value(rng), value(rng)};
    return m;
}

// Slot i of the result is slot i + k of m.
Message leftRotate(const Message &m, i64 k) { return rightRotate(m, -k); }

Message times(const Message &a, const Message &b) {
    Message out(a);
    for (u64 i = 0; i < out.getSize(); ++i)
        out[i] *= b[i];
    return out;
}

void accumulate(Message &sum, const Message &term) {
    for (u64 i = 0; i < sum.getSize(); ++i)
        sum[i] += term[i];
}

Message scaled(const Message &m, double f) {
    Message out(m);
    for (cd &slot : out)
        slot *= f;
    return out;
}

// y = A x from the stored entries only.
Message apply(const SparseComplexMatrix &a, const Message &x) {
    Message y(x.getLogSlots(), cd{});
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!it.isEmpty())
            y[it.row()] += it.value() * x[it.col()];
    return y;
}

Message bitReversed(const Message &m) {
    const u64 n = m.getSize();
    const int bits = std::countr_zero(n);
    Message out(m);
    for (u64 i = 0; i < n; ++i) {
        u64 r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        out[r] = m[i];
    }
    return out;
}

TEST(BootConstantsMatrices, StageProductIsTheSlotTransform) {
    std::mt19937_64 rng(15);
    for (u64 log_n = 1; log_n <= 10; ++log_n) {
        SCOPED_TRACE(log_n);
        std::vector<SparseComplexMatrix> v, w;
        dftmatrix::buildV0(log_n, v);
        dftmatrix::buildInvV0(log_n, w);
        ASSERT_EQ(v.size(), log_n);
        for (const SparseComplexMatrix &stage : v) {
            EXPECT_EQ(stage.getNnzPerCol(), 2u);
            EXPECT_EQ(stage.getNnzPerRow(), 2u);
        }
        // V_0 V_1 ... V_(n-1) x and W_(n-1) ... W_0 x, one stage at a time.
        auto s2c = [&](Message x) {
            for (u64 s = log_n; s > 0; --s)
                x = apply(v[s - 1], x);
            return x;
        };
        auto c2s = [&](Message x) {
            for (const SparseComplexMatrix &stage : w)
                x = apply(stage, x);
            return x;
        };

        // The landed forward slot transform of x is the stage product applied
        // to the bit-reversed x.
        const Message x = randomMessage(log_n, rng);
        Message expected(x);
        const FFT fft(u64{2} << log_n, {kHostDevice});
        fft.forwardFFT(expected);
        EXPECT_LT(maxDistance(s2c(bitReversed(x)), expected), 1e-12);
        // CoeffToSlot undoes SlotToCoeff.
        EXPECT_LT(maxDistance(c2s(s2c(x)), x), 1e-12);
    }

    // As matrices for a small size: the product is the identity.
    std::vector<SparseComplexMatrix> v, w;
    dftmatrix::buildV0(3, v);
    dftmatrix::buildInvV0(3, w);
    const SparseComplexMatrix identity =
        dftmatrix::stepMatrix(w, {0, 3}, true) * dftmatrix::stepMatrix(v, {0, 3}, false);
    for (u64 i = 0; i < 8; ++i)
        for (u64 j = 0; j < 8; ++j)
            EXPECT_LT(std::abs(identity.coeff(i, j) - cd(i == j ? 1.0 : 0.0)), 1e-15);
}

TEST(BootConstantsMatrices, OneSlotPairTwiddle) {
    std::vector<SparseComplexMatrix> v;
    dftmatrix::buildV0(1, v);
    ASSERT_EQ(v.size(), 1u);
    const cd zeta = std::polar(1.0, 2.0 * std::numbers::pi / 8.0);
    EXPECT_EQ(v[0].coeff(0, 0), cd(1.0));
    EXPECT_EQ(v[0].coeff(1, 0), cd(1.0));
    EXPECT_LT(std::abs(v[0].coeff(0, 1) - zeta), 1e-16);
    EXPECT_LT(std::abs(v[0].coeff(1, 1) + zeta), 1e-16);

    std::vector<SparseComplexMatrix> none;
    dftmatrix::buildV0(0, none);
    EXPECT_TRUE(none.empty());
    SparseComplexMatrix m(4, 4, 2, 2);
    EXPECT_THROW(dftmatrix::buildPartialMatrix(0, 0, 1, m), RuntimeException);
    EXPECT_THROW(dftmatrix::stepMatrix(v, {0, 2}, false), RuntimeException);
    EXPECT_THROW(dftmatrix::stepMatrix(v, {1, 1}, false), RuntimeException);
}

TEST(BootConstantsMatrices, DiagonalsAndRotations) {
    SparseComplexMatrix m(4, 4, 2, 2);
    m.coeffRef(0, 1) = 1.0; // offset 1
    m.coeffRef(3, 0) = 2.0; // offset 1 (wraps)
    m.coeffRef(2, 1) = 3.0; // offset -1
    const Message d1 = dftmatrix::extractDiagonal(m, 1);
    const Message dm1 = dftmatrix::extractDiagonal(m, -1);
    const Message d5 = dftmatrix::extractDiagonal(m, 5);
    EXPECT_EQ(std::vector<cd>(d1.begin(), d1.end()), (std::vector<cd>{1.0, 0.0, 0.0, 2.0}));
    EXPECT_EQ(std::vector<cd>(dm1.begin(), dm1.end()), (std::vector<cd>{0.0, 0.0, 3.0, 0.0}));
    EXPECT_EQ(std::vector<cd>(d5.begin(), d5.end()), std::vector<cd>(d1.begin(), d1.end()));

    const Message x(std::vector<cd>{1.0, 2.0, 3.0, 4.0});
    const Message r1 = rightRotate(x, 1);
    const Message rm1 = rightRotate(x, -1);
    const Message r9 = rightRotate(x, 9);
    EXPECT_EQ(std::vector<cd>(r1.begin(), r1.end()), (std::vector<cd>{4.0, 1.0, 2.0, 3.0}));
    EXPECT_EQ(std::vector<cd>(rm1.begin(), rm1.end()), (std::vector<cd>{2.0, 3.0, 4.0, 1.0}));
    EXPECT_EQ(std::vector<cd>(r9.begin(), r9.end()), std::vector<cd>(r1.begin(), r1.end()));
    EXPECT_EQ(rightRotate(Message(), 3).getSize(), 0u);
}

// Checks, for every step of rd, that the step's nonzeros lie on the
// diagonals the layout stores, and that the stored pre-rotated messages,
// combined as the matrix products of bootstrapping combine them, give f A x.
void checkLayout(u64 log_slots, const RadixDecomposition &rd, bool c2s, bool zero_first_offset) {
    std::mt19937_64 rng(log_slots * 2 + (c2s ? 1 : 0));
    std::vector<SparseComplexMatrix> stages;
    if (c2s)
        dftmatrix::buildInvV0(log_slots, stages);
    else
        dftmatrix::buildV0(log_slots, stages);
    const double f = 0.75;
    for (u64 j = 0; j < rd.num_radices; ++j) {
        SCOPED_TRACE(testing::Message()
                     << "log_slots " << log_slots << (c2s ? " C2S" : " S2C") << " step " << j);
        const SparseComplexMatrix a = dftmatrix::stepMatrix(stages, rd.bit_ranges[j], c2s);
        const Message x = randomMessage(log_slots, rng);
        const Message ax = apply(a, x);
        const i64 r = static_cast<i64>(rd.radices[j]);
        const i64 s = static_cast<i64>(rd.strides[j]);
        const u64 bb = rd.baby_steps[j];
        const u64 g = rd.giant_steps[j];
        // Only a nonzero diagonal needs its offset to be covered; the offsets
        // of a step are consecutive multiples of the stride.
        Message sum(log_slots, cd{});
        const i64 first = j == 0 ? (g == 1 || zero_first_offset ? 0 : -(r / 2)) : -r + 1;
        const i64 count = j == 0 ? r : 2 * r - 1;
        for (i64 d = first; d < first + count; ++d)
            accumulate(sum, times(dftmatrix::extractDiagonal(a, d * s), leftRotate(x, d * s)));
        EXPECT_LT(maxDistance(sum, ax), 1e-12);

        const std::vector<Message> diagonals =
            dftmatrix::diagonalsOfStep(a, rd, j, f, zero_first_offset);
        ASSERT_EQ(diagonals.size(), static_cast<u64>(count));
        ASSERT_EQ(bb * g, static_cast<u64>(j == 0 ? r : 2 * r));
        // Baby steps: x rotated by 0, s, ..., (bb - 1) s.
        std::vector<Message> baby;
        for (i64 amount : rd.getRotIndicesForBabyStep(j, false))
            baby.push_back(leftRotate(x, amount));
        // Giant block t: an inner product of bb consecutive diagonals with the
        // baby steps; for the later steps block 0 lacks the diagonal -r and
        // starts with baby step 1, block t >= 1 starts at diagonal t bb - 1.
        const std::vector<i64> giant = rd.getRotIndicesForGiantStep(j, false);
        ASSERT_EQ(giant.size(), g);
        Message result(log_slots, cd{});
        for (u64 t = 0; t < g; ++t) {
            Message block(log_slots, cd{});
            for (u64 beta = 0; beta < bb; ++beta) {
                if (j != 0 && t == 0 && beta == 0)
                    continue;
                const u64 position = j == 0 ? t * bb + beta : t * bb + beta - 1;
                accumulate(block, times(diagonals[position], baby[beta]));
            }
            accumulate(result, leftRotate(block, giant[t]));
        }
        EXPECT_LT(maxDistance(result, scaled(ax, f)), 1e-12);

        // A single giant step stores the plain diagonals from offset 0.
        if (j == 0 && g == 1) {
            for (i64 k = 0; k < r; ++k)
                EXPECT_EQ(maxDistance(diagonals[static_cast<u64>(k)],
                                      scaled(dftmatrix::extractDiagonal(a, k * s), f)),
                          0.0);
        }
    }
}

TEST(BootConstantsLayout, StepsCombineToTheStepMatrix) {
    for (u64 log_slots : {1, 4, 5, 7, 14}) {
        const RadixDecomposition rd(log_slots);
        checkLayout(log_slots, rd, false, false);
        checkLayout(log_slots, rd, true, false);
    }
    // One giant step for step 0 after setBabyStep, and another split of the
    // later step.
    RadixDecomposition single(5);
    single.setBabyStep(0, single.radices[0]);
    single.setBabyStep(1, 2);
    checkLayout(5, single, false, false);
    checkLayout(5, single, true, false);
    // The first CoeffToSlot step of a fused modulus raise: one giant step,
    // offsets from 0, which the raise multiplies with x rotated by j s.
    RadixDecomposition fused(std::vector<u64>{4, 2, 1});
    fused.setBabyStep(0, fused.radices[0]);
    checkLayout(7, fused, true, true);
}

TEST(BootConstantsLayout, RefusesAZeroBabyCount) {
    RadixDecomposition rd(3);
    rd.baby_steps[0] = 0;
    std::vector<SparseComplexMatrix> stages;
    dftmatrix::buildV0(3, stages);
    const SparseComplexMatrix a = dftmatrix::stepMatrix(stages, {0, 3}, false);
    expectThrowsMessage([&] { dftmatrix::diagonalsOfStep(a, rd, 0, 1.0, false); },
                        BootConstants::kBabyStepMessage);
}

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

TEST(BootConstantsEncodings, FXEntriesDecodeToTheScaledDiagonals) {
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

TEST(BootConstantsEncodings, LookUpsAndCopies) {
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

TEST(BootConstantsEncodings, CustomSplits) {
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

TEST(BootConstantsEncodings, FlagsAndRefusals) {
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
