#include "arith/NumberTheoryUtils.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <vector>

using namespace Quelt;
namespace {

using Quelt::test::expectThrowsMessage;
constexpr u64 kMax = std::numeric_limits<u64>::max();
} // namespace

TEST(NumberTheoryUtilsTest, IsPrimeKnownValues) {
    const std::vector<u64> primes = {2,         3,
                                     5,         7,
                                     11,        113,
                                     193,       407521,
                                     299210837, 1009,
                                     65537,     (u64{1} << 61) - 1,
                                     kMax - 58, 4611686018425815041ULL};
    for (u64 n : primes)
        EXPECT_TRUE(utils::isPrime(n)) << n;
    // 3215031751 and 3825123056546413051 are strong pseudoprimes to many small
    // bases; 561 is a Carmichael number.
    const std::vector<u64> composites = {0,
                                         1,
                                         4,
                                         6,
                                         8,
                                         9,
                                         25,
                                         49,
                                         119,
                                         121,
                                         561,
                                         1025,
                                         65535,
                                         kMax,
                                         3215031751ULL,
                                         3825123056546413051ULL,
                                         (u64{1} << 62) + 1,
                                         407521ULL * 299210837ULL};
    for (u64 n : composites)
        EXPECT_FALSE(utils::isPrime(n)) << n;
}

TEST(NumberTheoryUtilsTest, FindPrimeFactors) {
    std::set<u64> f = {99, 100};
    utils::findPrimeFactors(f, 360);
    EXPECT_EQ(f, (std::set<u64>{2, 3, 5}));
    utils::findPrimeFactors(f, u64{1} << 40);
    EXPECT_EQ(f, (std::set<u64>{2}));
    utils::findPrimeFactors(f, 1);
    EXPECT_TRUE(f.empty());
    utils::findPrimeFactors(f, 0);
    EXPECT_TRUE(f.empty());
    utils::findPrimeFactors(f, 7);
    EXPECT_EQ(f, (std::set<u64>{7}));
    utils::findPrimeFactors(f, 49);
    EXPECT_EQ(f, (std::set<u64>{7}));
    utils::findPrimeFactors(f, kMax);
    EXPECT_EQ(f, (std::set<u64>{3, 5, 17, 257, 641, 65537, 6700417}));
    utils::findPrimeFactors(f, 1152921504606584832ULL); // p - 1 of a 60-bit prime
    EXPECT_EQ(f, (std::set<u64>{2, 3, 7, 43, 127, 337, 5419}));
}

TEST(NumberTheoryUtilsTest, FindPrimitiveRoot) {
    const std::vector<std::pair<u64, u64>> cases = {{0, 0},   {1, 0},     {2, 0},
                                                    {3, 2},   {7, 3},     {17, 3},
                                                    {193, 5}, {65537, 3}, {(u64{1} << 61) - 1, 37}};
    for (auto [p, g] : cases)
        EXPECT_EQ(utils::findPrimitiveRoot(p), g) << p;
}

TEST(NumberTheoryUtilsTest, SeekPrimesOrders) {
    EXPECT_EQ(utils::seekPrimes(1024, 16, 3, true), (std::vector<u64>{1009, 977, 929}));
    EXPECT_EQ(utils::seekPrimes(1024, 16, 3, false), (std::vector<u64>{1009, 977, 929}));
    EXPECT_EQ(utils::seekPrimes(65536, 16, 1, true), (std::vector<u64>{65521}));
    // center + 1 is a candidate only in the alternating order, and comes first.
    EXPECT_EQ(utils::seekPrimes(65536, 16, 1, false), (std::vector<u64>{65537}));
    EXPECT_EQ(utils::seekPrimes(10, 2, 4, false), (std::vector<u64>{11, 13, 7, 17}));
    EXPECT_TRUE(utils::seekPrimes(1024, 0, 0, true).empty());
    // center + 1 = 2^64 does not wrap: the first candidate is 2^64 - 59.
    EXPECT_EQ(utils::seekPrimes(kMax, 59, 1, true), (std::vector<u64>{kMax - 58}));
}

TEST(NumberTheoryUtilsTest, SeekPrimesNeverWraps) {
    const char *range =
        "[seekPrimes] Not enough primes: the search left the range of 64-bit integers.";
    struct Case {
        u64 center, step, count;
        bool downward;
    };
    // Below zero (downward and alternating) and above 2^64 - 1.
    for (const Case &c :
         {Case{16, 4, 100, true}, Case{10, 2, 10, false}, Case{kMax - 1, 2, 2, false},
          Case{kMax, 1, 1, false}, Case{1000, 2, u64{1} << 62, true}}) {
        expectThrowsMessage([&] { utils::seekPrimes(c.center, c.step, c.count, c.downward); },
                            range);
    }
    expectThrowsMessage([&] { utils::seekPrimes(1024, 0, 1, true); },
                        "[seekPrimes] The step must not be zero.");
}
