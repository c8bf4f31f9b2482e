#include "client/RotationKeyDecomposition.hpp"

#include "Quelt/KeyPack.hpp"
#include "client/KeyPackImpl.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyPackTestSupport.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace Quelt;
using detail::buildRotationKeyDecompositionTable;
using detail::decomposeRotation;
using test::expectThrowsMessage;
using test::filledRotKey;
using test::implOf;
using test::KeyDirectory;
using Steps = std::vector<std::uint64_t>;

namespace {

constexpr const char *kUnreachable =
    "[getRotKeyDecomposition] Can not reach to such rotation idx using given rot keys.";

// 32 slots.
std::shared_ptr<ContextContent> ctx() { return Quelt::test::degree64FourPrimes(); }

Steps decompose(std::uint64_t slots, const Steps &keys, std::uint64_t idx) {
    return decomposeRotation(buildRotationKeyDecompositionTable(slots, keys), idx);
}

// The fewest steps from 0 to every residue, by relaxing every edge until
// nothing changes; max() when unreachable.
std::vector<std::uint64_t> fewestSteps(std::uint64_t slots, const Steps &keys) {
    const std::uint64_t none = std::numeric_limits<std::uint64_t>::max();
    std::vector<std::uint64_t> fewest(slots, none);
    fewest[0] = 0;
    for (bool changed = true; changed;) {
        changed = false;
        for (std::uint64_t x = 0; x < slots; ++x)
            for (const std::uint64_t key : keys)
                if (fewest[x] != none && fewest[x] + 1 < fewest[(x + key) % slots]) {
                    fewest[(x + key) % slots] = fewest[x] + 1;
                    changed = true;
                }
    }
    return fewest;
}

} // namespace

TEST(RotationKeyDecompositionTest, ExamplesAtEightSlots) {
    EXPECT_EQ(buildRotationKeyDecompositionTable(8, {1, 7}), (Steps{7, 1, 1, 1, 1, 7, 7, 7}));
    struct Case {
        Steps keys;
        std::uint64_t idx;
        Steps route;
    };
    const std::vector<Case> cases = {
        {{1, 7}, 4, {1, 1, 1, 1}},
        {{1, 7}, 5, {7, 7, 7}},
        {{1, 7}, 6, {7, 7}},
        {{1, 7}, 7, {7}},
        {{1, 7}, 0, {}},
        {{1, 7}, 8, {}},
        {{1, 7}, 13, {7, 7, 7}},
        // Listed from files in the order 7, 1.
        {{7, 1}, 4, {7, 7, 7, 7}},
        // The rotation-key bundle.
        {{1, 2, 4, 6, 7}, 3, {2, 1}},
        {{1, 2, 4, 6, 7}, 5, {4, 1}},
        {{1, 2, 4, 6, 7}, 6, {6}},
        {{2}, 6, {2, 2, 2}},
        {{2}, 0, {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(decompose(8, c.keys, c.idx), c.route)
            << "keys " << testing::PrintToString(c.keys) << ", idx " << c.idx;

    for (const std::uint64_t odd : {1, 3, 5, 7})
        expectThrowsMessage([&] { decompose(8, {2}, odd); }, kUnreachable);
    for (std::uint64_t idx = 0; idx < 8; ++idx)
        expectThrowsMessage([&] { decompose(8, {}, idx); }, kUnreachable);
}

// Steps that are 0 modulo the slots (keys at index 0 or S) lead nowhere: the
// search skips them and ends.
TEST(RotationKeyDecompositionTest, StepsOfZeroAreSkipped) {
    EXPECT_EQ(buildRotationKeyDecompositionTable(8, {0}), Steps(8, 0));
    EXPECT_EQ(buildRotationKeyDecompositionTable(8, {8, 0, 16}), Steps(8, 0));
    EXPECT_EQ(buildRotationKeyDecompositionTable(8, {0, 1, 8, 7}),
              buildRotationKeyDecompositionTable(8, {1, 7}));
    // A step beyond the slots is kept as the key's own index.
    EXPECT_EQ(decompose(8, {10}, 6), (Steps{10, 10, 10}));
}

// Against the fewest steps found independently: every route uses listed
// keys, adds up to the index and is as short as any.
TEST(RotationKeyDecompositionTest, RoutesAreShortestAtThirtyTwoSlots) {
    std::mt19937_64 random(17);
    for (int round = 0; round < 40; ++round) {
        Steps keys(1 + random() % 4);
        for (auto &key : keys)
            key = random() % 40;
        const auto table = buildRotationKeyDecompositionTable(32, keys);
        const auto fewest = fewestSteps(32, keys);
        for (std::uint64_t idx = 0; idx < 64; ++idx) {
            SCOPED_TRACE("keys " + testing::PrintToString(keys) + ", idx " + std::to_string(idx));
            if (fewest[idx % 32] == std::numeric_limits<std::uint64_t>::max() ||
                (idx % 32 == 0 && table[0] == 0)) {
                expectThrowsMessage([&] { decomposeRotation(table, idx); }, kUnreachable);
                continue;
            }
            const Steps route = decomposeRotation(table, idx);
            std::uint64_t sum = 0;
            for (const std::uint64_t step : route) {
                EXPECT_NE(std::find(keys.begin(), keys.end(), step), keys.end());
                sum += step;
            }
            EXPECT_EQ(sum % 32, idx % 32);
            EXPECT_EQ(route.size(), fewest[idx % 32]);
        }
    }
}

TEST(RotationKeyDecompositionTest, ThroughAPackFromHeldKeys) {
    const KeyPack pack(ctx());
    KeyPackImpl &impl = implOf(pack);
    for (const std::uint64_t idx : {31, 1})
        impl.tryEmplaceRotKey(idx, filledRotKey(ctx(), idx, idx));
    // Built from the held keys on first use.
    EXPECT_EQ(pack.getRotKeyDecomposition(4), (Steps{1, 1, 1, 1}));
    EXPECT_EQ(pack.getRotKeyDecomposition(29), (Steps{31, 31, 31}));
    EXPECT_EQ(pack.getRotKeyDecomposition(36), (Steps{1, 1, 1, 1}));

    // Rebuilt when a key comes later: 5 is one step at once.
    impl.tryEmplaceRotKey(5, filledRotKey(ctx(), 5, 5));
    EXPECT_EQ(pack.getRotKeyDecomposition(5), (Steps{5}));
    KeyPack(pack).computeRotationKeyDecomposition(true);
    EXPECT_EQ(pack.getRotKeyDecomposition(5), (Steps{5}));

    // A failed build from files keeps the table.
    expectThrowsMessage([&] { KeyPack(pack).computeRotationKeyDecomposition(false); },
                        "[Load Rotation Key] \"/PK\" is not a directory");
    EXPECT_EQ(pack.getRotKeyDecomposition(5), (Steps{5}));

    const KeyPack empty(ctx());
    for (const std::uint64_t idx : {0, 1, 16, 31})
        expectThrowsMessage([&] { empty.getRotKeyDecomposition(idx); }, kUnreachable);
}

TEST(RotationKeyDecompositionTest, ThroughAPackFromKeyFiles) {
    KeyDirectory dir("decomposition_files");
    // Only the names are read; RotKey0.bin and RotKey32.bin give steps of 0.
    for (const char *name : {"RotKey0.bin", "RotKey32.bin", "RotKey4.bin", "RotKey4_1.bin"})
        dir.writeKeyFile(name, "");
    KeyPack pack(ctx(), dir.dir());
    pack.computeRotationKeyDecomposition(false);
    EXPECT_EQ(pack.getRotKeyDecomposition(12), (Steps{4, 4, 4}));
    EXPECT_EQ(pack.getRotKeyDecomposition(0), Steps{});
    expectThrowsMessage([&] { pack.getRotKeyDecomposition(6); }, kUnreachable);
    EXPECT_TRUE(implOf(pack).getRotKeyList(true).empty()) << "a build loads no key";
}
