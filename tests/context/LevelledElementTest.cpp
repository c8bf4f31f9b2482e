#include "context/LevelledElement.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "context/ContextContent.hpp"
#include "context/RescaleCounter.hpp"
#include "lwe/LWEContext.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::degree64ThreePrimes;
using test::kSmallPrimes;

std::shared_ptr<LWE::ContextContent> smallLweContext() {
    static const auto ctx = LWE::makeContext(16, 3, 45, 40);
    return ctx;
}

// value mod q in [0, q), computed in 128-bit arithmetic.
std::uint64_t residueOf(std::int64_t value, std::uint64_t q) {
    const __int128 r = static_cast<__int128>(value) % static_cast<__int128>(q);
    return static_cast<std::uint64_t>(r < 0 ? r + q : r);
}

std::vector<std::uint64_t> toVector(const DeviceSpecificArray<std::uint64_t> &a) {
    return {a.begin(), a.end()};
}

TEST(LevelledElementTest, ZeroConstants) {
    const LevelledElement plain(degree64ThreePrimes(), false);
    EXPECT_EQ(plain.getSize(), 3u);
    EXPECT_EQ(plain.getLevel(), 2u);
    EXPECT_EQ(toVector(plain.getData()), std::vector<std::uint64_t>(3, 0));
    const LevelledElement up(degree64ThreePrimes(), true);
    EXPECT_EQ(up.getSize(), 4u);
    EXPECT_EQ(up.getLevel(), 3u);
    EXPECT_TRUE(up.isModUp());
    EXPECT_EQ(toVector(up.getData()), std::vector<std::uint64_t>(4, 0));
}

TEST(LevelledElementTest, ResiduesOfSignedValues) {
    const std::int64_t q0 = static_cast<std::int64_t>(kSmallPrimes[0]);
    const std::int64_t q1 = static_cast<std::int64_t>(kSmallPrimes[1]);
    const std::int64_t values[] = {0,       5,      -1,        -3,        -q0,
                                   -2 * q1, q1 + 7, INT64_MAX, INT64_MIN, INT64_MIN + 1};
    for (const std::int64_t v : values) {
        SCOPED_TRACE(v);
        for (std::uint64_t level = 0; level < 3; ++level) {
            const LevelledElement e(v, degree64ThreePrimes(), false, level);
            EXPECT_EQ(e.getSize(), 3u);
            EXPECT_EQ(e.getLevel(), level);
            ASSERT_EQ(e.getData().size(), level + 1);
            EXPECT_EQ(e.getData().capacity(), 3u);
            for (std::uint64_t i = 0; i <= level; ++i)
                EXPECT_EQ(e[i], residueOf(v, kSmallPrimes[i]));
        }
        // Mod-up: every residue, also above the level and for the temporary prime.
        const LevelledElement up(v, degree64ThreePrimes(), true, 1);
        EXPECT_EQ(up.getLevel(), 1u);
        ASSERT_EQ(up.getData().size(), 4u);
        for (std::uint64_t i = 0; i < 4; ++i)
            EXPECT_EQ(up[i], residueOf(v, kSmallPrimes[i]));
    }
    EXPECT_EQ(LevelledElement(-q0, degree64ThreePrimes(), false, 0)[0], 0u);
    EXPECT_EQ(LevelledElement(-2 * q1, degree64ThreePrimes(), false, 1)[1], 0u);
    EXPECT_EQ(LevelledElement(-1, degree64ThreePrimes(), false, 2)[2], kSmallPrimes[2] - 1);
}

TEST(LevelledElementTest, LevelOutsideTheChainIsRefused) {
    const char *message = "[LevelledElement] Level exceeds the prime chain";
    expectThrowsMessage([] { LevelledElement(1, degree64ThreePrimes(), false, 3); }, message);
    expectThrowsMessage([] { LevelledElement(1, degree64ThreePrimes(), true, 4); }, message);
    expectThrowsMessage([] { LevelledElement(1, degree64ThreePrimes(), false, ~0ULL); }, message);
    expectThrowsMessage([] { LevelledElement(1, smallLweContext(), 3); }, message);
    LevelledElement e(7, degree64ThreePrimes(), false, 2);
    expectThrowsMessage([&] { e.setLevel(3); }, message);
    EXPECT_EQ(e.getLevel(), 2u);
}

TEST(LevelledElementTest, SerialisedFormRoundTrips) {
    const LevelledElement e(-9, degree64ThreePrimes(), false, 1);
    const std::string bytes = test::saveToString(e);
    // byte-order byte, 17 header bytes, the array's count and two words
    ASSERT_EQ(bytes.size(), 1 + 17 + 8 + 2 * 8);
    EXPECT_EQ(test::getWord(bytes, 1), 3u);
    EXPECT_EQ(test::getWord(bytes, 9), 1u);
    EXPECT_EQ(bytes[17], 0);
    LevelledElement f(degree64ThreePrimes(), true);
    test::loadFromString(f, bytes, degree64ThreePrimes());
    EXPECT_EQ(f.getSize(), 3u);
    EXPECT_EQ(f.getLevel(), 1u);
    EXPECT_FALSE(f.isModUp());
    EXPECT_EQ(toVector(f.getData()), toVector(e.getData()));

    const LevelledElement up(-9, degree64ThreePrimes(), true, 2);
    LevelledElement g(degree64ThreePrimes(), false);
    test::loadFromString(g, test::saveToString(up), degree64ThreePrimes());
    EXPECT_TRUE(g.isModUp());
    EXPECT_EQ(toVector(g.getData()), toVector(up.getData()));
}

TEST(LevelledElementTest, LoadRefusesFormsThatDoNotFitTheContext) {
    const std::string good =
        test::saveToString(LevelledElement(-9, degree64ThreePrimes(), false, 1));
    const test::DamagedField cases[] = {
        {"size", 1, 8, 4, "[LevelledElement::load] Size does not match the context"},
        {"mod-up without the temporary prime", 17, 1, 1,
         "[LevelledElement::load] Size does not match the context"},
        {"flag byte", 17, 1, 2, "[LevelledElement::load] Invalid flag byte"},
        {"level", 9, 8, 3, "[LevelledElement::load] Level exceeds the prime chain"},
        {"huge level", 9, 8, ~0ULL, "[LevelledElement::load] Level exceeds the prime chain"},
        {"residues below the level missing", 18, 8, 1,
         "[LevelledElement::load] Array length does not match the header"},
        {"more residues than primes", 18, 8, 4,
         "[LevelledElement::load] Array length does not match the header"},
        {"huge array", 18, 8, ~0ULL,
         "[LevelledElement::load] Array length does not match the header"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bad = c.appliedTo(good);
        LevelledElement target(5, degree64ThreePrimes(), true, 2);
        const std::string before = test::saveToString(target);
        expectThrowsMessage([&] { test::loadFromString(target, bad, degree64ThreePrimes()); },
                            c.message);
        EXPECT_EQ(test::saveToString(target), before);
    }
    LevelledElement target(5, degree64ThreePrimes(), false, 2);
    const std::string before = test::saveToString(target);
    EXPECT_THROW(
        test::loadFromString(target, good.substr(0, good.size() - 3), degree64ThreePrimes()),
        cereal::Exception);
    EXPECT_EQ(test::saveToString(target), before);
}

TEST(LevelledElementTest, LweConstants) {
    const auto ctx = smallLweContext();
    const std::vector<std::uint64_t> primes = LWE::getPrimeList(ctx);
    ASSERT_EQ(primes.size(), 3u);

    const LevelledElement zero(ctx);
    EXPECT_EQ(zero.getSize(), 3u);
    EXPECT_EQ(zero.getLevel(), 2u);
    EXPECT_FALSE(zero.isModUp());
    EXPECT_EQ(toVector(zero.getData()), std::vector<std::uint64_t>(3, 0));
    const std::string bytes = test::saveToString(zero);
    EXPECT_EQ(bytes[17], 0);

    const LevelledElement e(INT64_MIN, ctx, 1);
    EXPECT_EQ(e.getLevel(), 1u);
    ASSERT_EQ(e.getData().size(), 3u);
    for (std::uint64_t i = 0; i <= 1; ++i)
        EXPECT_EQ(e[i], residueOf(INT64_MIN, primes[i]));

    LevelledElement f(ctx);
    test::loadFromString(f, test::saveToString(e), ctx);
    EXPECT_EQ(f.getLevel(), 1u);
    EXPECT_EQ(f[1], e[1]);

    // LWE constants are never mod-up.
    std::string modUp = test::saveToString(e);
    modUp[17] = 1;
    expectThrowsMessage([&] { test::loadFromString(f, modUp, ctx); },
                        "[LevelledElement::load] Invalid flag byte");
    // A ring context's constant does not fit an LWE context of another length.
    LevelledElement g(ctx);
    EXPECT_THROW(test::loadFromString(
                     g, test::saveToString(LevelledElement(degree64ThreePrimes(), true)), ctx),
                 RuntimeException);
}

TEST(LevelledElementTest, LevelledVectorShapeAndForm) {
    const auto ctx = smallLweContext();
    LevelledVector v(ctx);
    EXPECT_EQ(v.getDimension(), 16u);
    EXPECT_EQ(v.getLevel(), 2u);
    ASSERT_EQ(v.getData().size(), 48u);
    for (std::uint64_t k = 0; k < 48; ++k)
        v.getData()[k] = k * 3;
    const std::string bytes = test::saveToString(v);
    ASSERT_EQ(bytes.size(), 1 + 16 + 8 + 48 * 8);

    LevelledVector w(ctx);
    test::loadFromString(w, bytes, ctx);
    EXPECT_EQ(toVector(w.getData()), toVector(v.getData()));

    const test::DamagedField cases[] = {
        {"dimension", 1, 8, 17, "[LevelledVector::load] Dimension does not match the context"},
        {"level", 9, 8, 3, "[LevelledVector::load] Level exceeds the prime chain"},
        {"partial limb", 17, 8, 47,
         "[LevelledVector::load] Array length does not match the header"},
        {"limbs in use missing", 17, 8, 32,
         "[LevelledVector::load] Array length does not match the header"},
        {"huge array", 17, 8, ~0ULL,
         "[LevelledVector::load] Array length does not match the header"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bad = c.appliedTo(bytes);
        LevelledVector target(ctx);
        std::fill(target.getData().begin(), target.getData().end(), 1);
        const std::string before = test::saveToString(target);
        expectThrowsMessage([&] { test::loadFromString(target, bad, ctx); }, c.message);
        EXPECT_EQ(test::saveToString(target), before);
    }
}

TEST(LevelledElementTest, RescaleCounterIsNeverNegative) {
    const char *message = "Rescale counter should be greater than or equal to zero";
    RescaleCounter counter(0);
    EXPECT_EQ(counter.getValue(), 0);
    counter.setValue(3);
    EXPECT_EQ(counter.getValue(), 3);
    expectThrowsMessage([&] { counter.setValue(-1); }, message);
    EXPECT_EQ(counter.getValue(), 3);
    expectThrowsMessage([] { RescaleCounter(INT_MIN); }, message);
    expectThrowsMessage([] { RescaleCounter::isValidRescaleCounter(-1); }, message);
    EXPECT_NO_THROW(RescaleCounter::isValidRescaleCounter(0));
}

} // namespace
} // namespace Quelt
