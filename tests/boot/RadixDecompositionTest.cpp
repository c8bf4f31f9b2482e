#include "boot/RadixDecomposition.hpp"

#include "Quelt/Exception.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <vector>

using namespace Quelt;
using Quelt::test::expectThrowsMessage;
using U64s = std::vector<std::uint64_t>;
using I64s = std::vector<std::int64_t>;
using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

TEST(RadixDecompositionTest, DefaultSplits) {
    struct Case {
        std::uint64_t log_slots;
        U64s log_radices, strides, babies, giants;
    };
    // Worked out by hand from the split rule and the baby/giant formulas.
    const Case cases[] = {
        {1, {1}, {1}, {2}, {1}},
        {4, {4}, {1}, {4}, {4}},
        {5, {3, 2}, {4, 1}, {4, 4}, {2, 2}},
        {7, {4, 3}, {8, 1}, {4, 4}, {4, 4}},
        {8, {3, 3, 2}, {32, 4, 1}, {4, 4, 4}, {2, 4, 2}},
        {11, {4, 4, 3}, {128, 8, 1}, {4, 8, 4}, {4, 4, 4}},
        {14, {5, 4, 5}, {512, 32, 1}, {8, 8, 8}, {4, 4, 8}},
        {15, {5, 5, 5}, {1024, 32, 1}, {8, 8, 8}, {4, 8, 8}},
        {20, {7, 7, 6}, {8192, 64, 1}, {16, 16, 16}, {8, 16, 8}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.log_slots);
        const RadixDecomposition d(c.log_slots);
        EXPECT_EQ(d.num_radices, c.log_radices.size());
        EXPECT_EQ(d.log_radices, c.log_radices);
        EXPECT_EQ(d.strides, c.strides);
        EXPECT_EQ(d.baby_steps, c.babies);
        EXPECT_EQ(d.giant_steps, c.giants);
        U64s radices;
        Ranges ranges;
        std::uint64_t begin = 0;
        for (std::uint64_t l : c.log_radices) {
            radices.push_back(std::uint64_t{1} << l);
            ranges.emplace_back(begin, begin + l);
            begin += l;
        }
        EXPECT_EQ(d.radices, radices);
        EXPECT_EQ(d.bit_ranges, ranges);
    }

    for (const RadixDecomposition &empty :
         {RadixDecomposition(), RadixDecomposition(0), RadixDecomposition(U64s{})}) {
        EXPECT_EQ(empty.num_radices, 0u);
        EXPECT_TRUE(empty.log_radices.empty() && empty.radices.empty() && empty.strides.empty() &&
                    empty.baby_steps.empty() && empty.giant_steps.empty() &&
                    empty.bit_ranges.empty());
    }
}

TEST(RadixDecompositionTest, ExplicitLogRadices) {
    const RadixDecomposition d(U64s{6, 3, 3, 3});
    EXPECT_EQ(d.num_radices, 4u);
    EXPECT_EQ(d.radices, (U64s{64, 8, 8, 8}));
    EXPECT_EQ(d.strides, (U64s{512, 64, 8, 1}));
    EXPECT_EQ(d.baby_steps, (U64s{8, 4, 4, 4}));
    EXPECT_EQ(d.giant_steps, (U64s{8, 4, 4, 4}));
    EXPECT_EQ(d.bit_ranges, (Ranges{{0, 6}, {6, 9}, {9, 12}, {12, 15}}));

    const RadixDecomposition copy(d);
    EXPECT_EQ(copy.strides, d.strides);
    EXPECT_EQ(copy.bit_ranges, d.bit_ranges);
}

TEST(RadixDecompositionTest, InvariantsOfEveryDefaultSplit) {
    for (std::uint64_t log_slots = 1; log_slots <= 20; ++log_slots) {
        SCOPED_TRACE(log_slots);
        const RadixDecomposition d(log_slots);
        std::uint64_t sum = 0;
        for (std::uint64_t i = 0; i < d.num_radices; ++i) {
            EXPECT_GE(d.log_radices[i], 1u);
            sum += d.log_radices[i];
            EXPECT_EQ(d.baby_steps[i] * d.giant_steps[i], (i == 0 ? 1 : 2) * d.radices[i]);
        }
        EXPECT_EQ(sum, log_slots);
        EXPECT_EQ(d.strides.back(), 1u);
        EXPECT_EQ(d.strides.front() * d.radices.front(), std::uint64_t{1} << log_slots);
    }
}

TEST(RadixDecompositionTest, RotationAmountsOfEachStep) {
    const RadixDecomposition d(15); // strides 1024, 32, 1; babies 8; giants 4, 8, 8
    EXPECT_EQ(d.getRotIndicesForBabyStep(0, false),
              (I64s{0, 1024, 2048, 3072, 4096, 5120, 6144, 7168}));
    EXPECT_EQ(d.getRotIndicesForBabyStep(1, false), (I64s{0, 32, 64, 96, 128, 160, 192, 224}));
    EXPECT_EQ(d.getRotIndicesForBabyStep(2, false), (I64s{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(d.getRotIndicesForBabyStep(0, true), (I64s{1024}));
    EXPECT_EQ(d.getRotIndicesForBabyStep(2, true), (I64s{1}));

    EXPECT_EQ(d.getRotIndicesForGiantStep(0, false), (I64s{-16384, -8192, 0, 8192}));
    EXPECT_EQ(d.getRotIndicesForGiantStep(1, false),
              (I64s{-1024, -768, -512, -256, 0, 256, 512, 768}));
    EXPECT_EQ(d.getRotIndicesForGiantStep(2, false), (I64s{-32, -24, -16, -8, 0, 8, 16, 24}));
    // Step 0 never gets the third min-key amount; later steps with g > 2 do.
    EXPECT_EQ(d.getRotIndicesForGiantStep(0, true), (I64s{1024, -8192}));
    EXPECT_EQ(d.getRotIndicesForGiantStep(1, true), (I64s{32, -256, 256}));
    EXPECT_EQ(d.getRotIndicesForGiantStep(2, true), (I64s{1, -8, 8}));

    // A later step with g = 4 (s = 8, b = 8): {-2sb, -sb, 0, sb}; min key {s, -sb, sb}.
    const RadixDecomposition eleven(11);
    EXPECT_EQ(eleven.getRotIndicesForGiantStep(1, false), (I64s{-128, -64, 0, 64}));
    EXPECT_EQ(eleven.getRotIndicesForGiantStep(1, true), (I64s{8, -64, 64}));

    // A later step with g = 2 (s = 1, b = 4): no third min-key amount.
    const RadixDecomposition five(5);
    EXPECT_EQ(five.getRotIndicesForGiantStep(1, false), (I64s{-4, 0}));
    EXPECT_EQ(five.getRotIndicesForGiantStep(1, true), (I64s{1, -4}));

    // g = 1 gives {0} in both modes.
    const RadixDecomposition one(1);
    EXPECT_EQ(one.getRotIndicesForGiantStep(0, false), (I64s{0}));
    EXPECT_EQ(one.getRotIndicesForGiantStep(0, true), (I64s{0}));
    EXPECT_EQ(one.getRotIndicesForBabyStep(0, false), (I64s{0, 1}));
}

TEST(RadixDecompositionTest, BabyAndGiantAmountsCoverTheDiagonals) {
    // Every diagonal offset d*s of a step is one baby amount plus one giant
    // amount: d in [-radix/2, radix/2) for step 0, [-radix, radix) later.
    for (std::uint64_t log_slots = 1; log_slots <= 20; ++log_slots) {
        const RadixDecomposition d(log_slots);
        for (std::uint64_t i = 0; i < d.num_radices; ++i) {
            std::multiset<std::int64_t> sums;
            for (std::int64_t giant : d.getRotIndicesForGiantStep(i, false))
                for (std::int64_t baby : d.getRotIndicesForBabyStep(i, false))
                    sums.insert(giant + baby);
            const auto s = static_cast<std::int64_t>(d.strides[i]);
            const auto r = static_cast<std::int64_t>(d.radices[i]);
            const std::int64_t reach = i == 0 ? r / 2 : r;
            // A single giant step (only a first step of log-radix 1) reaches
            // [0, radix) instead, the same offsets modulo the radix.
            const std::int64_t first = d.giant_steps[i] == 1 ? 0 : -reach;
            std::multiset<std::int64_t> expected;
            for (std::int64_t k = first; k < first + 2 * reach; ++k)
                expected.insert(k * s);
            EXPECT_EQ(sums, expected) << log_slots << " step " << i;
        }
    }
}

TEST(RadixDecompositionTest, SetBabyStep) {
    RadixDecomposition d(15);
    d.setBabyStep(0, 32);
    EXPECT_EQ(d.baby_steps[0], 32u);
    EXPECT_EQ(d.giant_steps[0], 1u);
    EXPECT_EQ(d.getRotIndicesForGiantStep(0, false), (I64s{0}));
    EXPECT_EQ(d.getRotIndicesForGiantStep(0, true), (I64s{0}));

    d.setBabyStep(1, 2);
    EXPECT_EQ(d.baby_steps[1], 2u);
    EXPECT_EQ(d.giant_steps[1], 32u);
    d.setBabyStep(2, 1);
    EXPECT_EQ(d.giant_steps[2], 64u);

    const RadixDecomposition before = d;
    expectThrowsMessage([&] { d.setBabyStep(3, 4); },
                        "[setBabyStep] idx must be less than num_radices");
    for (std::uint64_t bad : {0u, 3u, 64u})
        expectThrowsMessage([&] { d.setBabyStep(1, bad); },
                            "[setBabyStep] baby_step must divide the radix 32");
    EXPECT_EQ(d.baby_steps, before.baby_steps);
    EXPECT_EQ(d.giant_steps, before.giant_steps);

    RadixDecomposition empty;
    expectThrowsMessage([&] { empty.setBabyStep(0, 1); },
                        "[setBabyStep] idx must be less than num_radices");
}

TEST(RadixDecompositionTest, RefusesBadLogRadices) {
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();
    U64s twentyTwoOnes(22, 1);
    U64s zeroAt22nd(22, 1);
    zeroAt22nd[21] = 0;
    struct Case {
        U64s list;
        const char *message;
    };
    const Case cases[] = {
        {{3, 0, 2}, "[RadixDecomposition] Each radix has to be non-zero."},
        {twentyTwoOnes, "[RadixDecomposition] The number of radices is too large."},
        {zeroAt22nd, "[RadixDecomposition] Each radix has to be non-zero."},
        {U64s(21, 1), "[RadixDecomposition] log_slots value is too large"},
        {{21}, "[RadixDecomposition] log_slots value is too large"},
        {{64}, "[RadixDecomposition] log_slots value is too large"},
        // Would wrap to 20 in a plain 64-bit sum.
        {{huge, 21}, "[RadixDecomposition] log_slots value is too large"},
    };
    for (const Case &c : cases) {
        expectThrowsMessage([&] { RadixDecomposition d(c.list); }, c.message);
        RadixDecomposition d(4);
        EXPECT_THROW(d.initRadices(c.list), RuntimeException);
        EXPECT_EQ(d.log_radices, U64s{4});
        EXPECT_EQ(d.strides, U64s{1});
    }
    EXPECT_NO_THROW(RadixDecomposition(U64s(20, 1)));
    for (std::uint64_t log_slots : {21ull, 64ull, 0xffffffffffffffffull})
        expectThrowsMessage([&] { RadixDecomposition d(log_slots); },
                            "[RadixDecomposition] log_slots value is too large");
}

TEST(RadixDecompositionTest, RefusesStepsOutOfRange) {
    const RadixDecomposition d(7);
    expectThrowsMessage([&] { (void)d.getRotIndicesForBabyStep(2, false); },
                        "[getRotIndicesForBabyStep] idx must be less than num_radices");
    expectThrowsMessage([&] { (void)d.getRotIndicesForGiantStep(2, true); },
                        "[getRotIndicesForGiantStep] idx must be less than num_radices");
    EXPECT_THROW((void)RadixDecomposition().getRotIndicesForBabyStep(0, true), RuntimeException);
}
