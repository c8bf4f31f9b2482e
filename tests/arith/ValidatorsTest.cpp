#include "arith/Validators.hpp"
#include "foundation/WordArith.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <type_traits>

namespace Quelt {
namespace {

constexpr u64 kMax = std::numeric_limits<u64>::max();

// The indices in [0, limit) that a validator accepts.
template <typename V>
std::set<u64> acceptedBelow(const V &validator, u64 limit) {
    std::set<u64> accepted;
    for (u64 i = 0; i < limit; ++i)
        if (validator.validate(i))
            accepted.insert(i);
    return accepted;
}

std::set<u64> range(u64 begin, u64 end) {
    std::set<u64> r;
    for (u64 i = begin; i < end; ++i)
        r.insert(i);
    return r;
}

std::set<u64> unite(std::set<u64> a, const std::set<u64> &b) {
    a.insert(b.begin(), b.end());
    return a;
}

TEST(ValidatorsTest, OutputModulusBoundAcceptsHalfOpenRange) {
    struct Case {
        u64 begin, end;
        std::set<u64> expected;
    };
    const Case cases[] = {
        {3, 3, {}},           // empty range
        {0, 1, {0}},          // only the base prime
        {2, 6, range(2, 6)},  // an inner range
        {5, 2, {}},           // begin above end accepts nothing
        {0, 40, range(0, 40)} // everything below the probe limit
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "{" << c.begin << ", " << c.end << "}");
        EXPECT_EQ(acceptedBelow(OutputModulusBoundValidator{c.begin, c.end}, 40), c.expected);
    }
    EXPECT_TRUE((OutputModulusBoundValidator{0, kMax}.validate(kMax - 1)));
    EXPECT_FALSE((OutputModulusBoundValidator{0, kMax}.validate(kMax)));
}

TEST(ValidatorsTest, ModUpEvalAcceptsLevelAndTemporaryPrimes) {
    const ModUpOutputModulusBoundEvalValidator v{4, 25};
    EXPECT_EQ(acceptedBelow(v, 40), unite(range(0, 5), range(25, 40)));
    EXPECT_TRUE(v.validate(kMax));
    // Level 0 with no temporary primes below the probe limit: the base prime only.
    EXPECT_EQ(acceptedBelow(ModUpOutputModulusBoundEvalValidator{0, 40}, 40), std::set<u64>{0});
}

TEST(ValidatorsTest, ModUpExcludesRangeAndMiddleBand) {
    const ModUpOutputModulusBoundValidator v{2, 5, 7, 24};
    // Rejects 2, 3, 4 (excluded) and 8 to 24 (between the limits).
    EXPECT_EQ(acceptedBelow(v, 40), unite({0, 1, 5, 6, 7}, range(25, 40)));
    EXPECT_TRUE(v.validate(kMax));
    // An excluded index is rejected even though it is at most the low limit.
    const ModUpOutputModulusBoundValidator w{0, 3, 10, 20};
    EXPECT_EQ(acceptedBelow(w, 25), unite(range(3, 11), range(21, 25)));
}

TEST(ValidatorsTest, AlwaysAcceptsEverything) {
    const AlwaysValidator v;
    EXPECT_TRUE(v.validate(0));
    EXPECT_TRUE(v.validate(12345));
    EXPECT_TRUE(v.validate(kMax));
}

TEST(ValidatorsTest, BaseInterfaceDispatchesToEachKind) {
    const OutputModulusBoundValidator bound{1, 3};
    const ModUpOutputModulusBoundEvalValidator eval{0, 5};
    const AlwaysValidator always;
    const ValidatorBase *kinds[] = {&bound, &eval, &always};
    const bool expected[3][6] = {
        {false, true, true, false, false, false},
        {true, false, false, false, false, true},
        {true, true, true, true, true, true},
    };
    for (int k = 0; k < 3; ++k)
        for (u64 i = 0; i < 6; ++i)
            EXPECT_EQ(kinds[k]->validate(i), expected[k][i]) << "kind " << k << ", index " << i;

    static_assert(std::is_base_of_v<ValidatorBase, OutputModulusBoundValidator>);
    static_assert(std::is_base_of_v<ValidatorBase, ModUpOutputModulusBoundEvalValidator>);
    static_assert(std::is_base_of_v<ValidatorBase, AlwaysValidator>);
    static_assert(!std::is_base_of_v<ValidatorBase, ModUpOutputModulusBoundValidator>);
}

} // namespace
} // namespace Quelt
