#include "arith/PrimeModuliFixture.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "lwe/LWEContext.hpp"
#include "support/ExpectThrow.hpp"

namespace Quelt::test {
namespace {

using LevelledArithTest = PrimeModuliFixture;

std::vector<u64> residues(const LevelledElement &e, u64 count) {
    return std::vector<u64>(e.getData().getData(), e.getData().getData() + count);
}

TEST_F(LevelledArithTest, ElementArithmeticPerPrime) {
    const LevelledElement a(-5, ctx(), false, 2), b(1234567, ctx(), false, 2);
    LevelledElement sum(ctx(), false), diff(ctx(), false), prod(ctx(), false), neg(ctx(), false);
    chain().add(a, b, sum);
    chain().sub(a, b, diff);
    chain().mult(a, b, prod);
    chain().negate(a, neg);
    EXPECT_EQ(sum.getLevel(), 2u);
    EXPECT_EQ(sum.getData().size(), 3u);
    for (u64 i = 0; i <= 2; ++i) {
        const u64 q = prime(i);
        EXPECT_EQ(sum.getData().getData()[i], 1234562u);
        EXPECT_EQ(diff.getData().getData()[i], q - 1234572);
        EXPECT_EQ(prod.getData().getData()[i], q - 5 * 1234567);
        EXPECT_EQ(neg.getData().getData()[i], 5u);
    }
    const LevelledElement zero(0, ctx(), false, 2);
    chain().negate(zero, neg);
    EXPECT_EQ(residues(neg, 3), std::vector<u64>(3, 0));

    // Mod-up elements walk every residue.
    const LevelledElement up_a(-2, ctx(), true, 1), up_b(3, ctx(), true, 1);
    LevelledElement up_out(ctx(), true);
    chain().mult(up_a, up_b, up_out);
    EXPECT_EQ(up_out.getLevel(), 1u);
    for (u64 i = 0; i < kL + kK; ++i)
        EXPECT_EQ(up_out.getData().getData()[i], prime(i) - 6);
}

TEST_F(LevelledArithTest, LevelsAreComparedBeforeDevices) {
    const LevelledElement a(1, ctx(), false, 2), b(1, ctx(), false, 1);
    LevelledElement c(1, ctx(), false, 2);
    c.getData() = DeviceSpecificArray<u64>(0, Device(1, 0));
    LevelledElement out(ctx(), false);
    // Levels 2 and 1, devices differ as well.
    expectThrowsMessage([&] { chain().add(c, b, out); }, "Operands have different levels.");
    expectThrowsMessage([&] { chain().mult(a, c, out); }, "Operands are in different devices.");
}

TEST_F(LevelledArithTest, ElementRescaleRoundsToTheNearest) {
    const u64 top = prime(2);
    // k q + r for r on both sides of zero, and the tie q/2 (rounded down).
    for (auto [k, r, expected] : std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>>{
             {1000, 17, 1000},
             {1000, -17, 1000},
             {-3, 5, -3},
             {7, static_cast<std::int64_t>(top / 2), 7}}) {
        const u128 q = modulusQ(2);
        const __int128 value = static_cast<__int128>(k) * top + r;
        const u128 v = static_cast<u128>(value < 0 ? value + static_cast<__int128>(q) : value);
        LevelledElement e = element({static_cast<u64>(v % prime(0)), static_cast<u64>(v % prime(1)),
                                     static_cast<u64>(v % prime(2))},
                                    2);
        chain().rescale(e);
        EXPECT_EQ(e.getLevel(), 1u);
        EXPECT_EQ(e.getData().size(), 2u);
        for (u64 i = 0; i <= 1; ++i)
            EXPECT_EQ(e.getData().getData()[i], expected < 0
                                                    ? prime(i) - static_cast<u64>(-expected)
                                                    : static_cast<u64>(expected));
    }
    LevelledElement bottom(4, ctx(), false, 0);
    EXPECT_THROW(chain().rescale(bottom), RuntimeException);
    EXPECT_EQ(bottom.getLevel(), 0u);
}

class LevelledVectorArithTest : public ::testing::Test {
protected:
    static constexpr u64 kDim = 8;
    static const std::shared_ptr<LWE::ContextContent> &lwe() {
        static const auto context = LWE::makeContext(kDim, 5, 40, 38);
        return context;
    }
    static const PrimeModuli &chain() { return lwe()->getPrimeModuli(); }
    static u64 prime(u64 i) { return chain().getModulus(i).getPrime(); }
    std::mt19937_64 rng{99};

    LevelledVector randomVector(u64 level) {
        LevelledVector v(lwe());
        for (u64 i = 0; i <= v.getLevel(); ++i) {
            const auto r = randomResidues(kDim, prime(i), rng);
            std::copy(r.begin(), r.end(), v.getLimb(i));
        }
        v.setLevel(level);
        v.getData().resize(kDim * (level + 1));
        return v;
    }
};

TEST_F(LevelledVectorArithTest, LimbwiseArithmetic) {
    const LevelledVector a = randomVector(3), b = randomVector(3);
    LevelledVector sum(lwe()), diff(lwe()), neg(lwe()), scaled(lwe());
    chain().add(a, b, sum);
    chain().sub(a, b, diff);
    chain().negate(a, neg);
    const LevelledElement c(-3, lwe(), 3);
    chain().constMult(a, c, scaled);
    EXPECT_EQ(sum.getLevel(), 3u);
    EXPECT_EQ(sum.getData().size(), 4 * kDim);
    for (u64 i = 0; i <= 3; ++i)
        for (u64 j = 0; j < kDim; ++j) {
            const u64 q = prime(i), x = a.getLimb(i)[j], y = b.getLimb(i)[j];
            EXPECT_EQ(sum.getLimb(i)[j], addModRef(x, y, q));
            EXPECT_EQ(diff.getLimb(i)[j], subModRef(x, y, q));
            EXPECT_EQ(neg.getLimb(i)[j], subModRef(0, x, q));
            EXPECT_EQ(scaled.getLimb(i)[j], mulModRef(x, q - 3, q));
        }
    const LevelledVector low = randomVector(2);
    EXPECT_THROW(chain().add(a, low, sum), RuntimeException);
    EXPECT_THROW(chain().constMult(low, c, scaled), RuntimeException);
}

TEST_F(LevelledVectorArithTest, InnerProductTakesTheLowerLevel) {
    const LevelledVector a = randomVector(2), b = randomVector(4);
    LevelledElement out(lwe());
    chain().innerProduct(a, b, out);
    EXPECT_EQ(out.getLevel(), 2u);
    for (u64 i = 0; i <= 2; ++i) {
        u64 expected = 0;
        for (u64 j = 0; j < kDim; ++j)
            expected = addModRef(expected, mulModRef(a.getLimb(i)[j], b.getLimb(i)[j], prime(i)),
                                 prime(i));
        EXPECT_EQ(out.getData().getData()[i], expected);
    }
}

TEST_F(LevelledVectorArithTest, RescaleAgreesWithTheElementRescale) {
    LevelledVector v = randomVector(3);
    std::vector<LevelledElement> columns;
    for (u64 j = 0; j < kDim; ++j) {
        LevelledElement e(0, lwe(), 3);
        for (u64 i = 0; i <= 3; ++i)
            e.getData().getData()[i] = v.getLimb(i)[j];
        chain().rescale(e);
        columns.push_back(std::move(e));
    }
    chain().rescale(v);
    EXPECT_EQ(v.getLevel(), 2u);
    EXPECT_EQ(v.getData().size(), 3 * kDim);
    for (u64 i = 0; i <= 2; ++i)
        for (u64 j = 0; j < kDim; ++j)
            EXPECT_EQ(v.getLimb(i)[j], columns[j].getData().getData()[i]);
    LevelledVector bottom = randomVector(0);
    EXPECT_THROW(chain().rescale(bottom), RuntimeException);
}

// The signed value of an element: centred modulo q_0 at level 0, modulo
// q_0 q_1 above, whatever the higher residues hold.
TEST_F(LevelledVectorArithTest, LiftToRealCentresOverOneOrTwoPrimes) {
    const u64 q0 = prime(0), q1 = prime(1);
    auto element = [&](__int128 value, u64 level) {
        LevelledElement e(0, lwe(), level);
        for (u64 i = 0; i <= level; ++i) {
            const auto q = static_cast<__int128>(prime(i));
            e.getData().getData()[i] = static_cast<u64>(((value % q) + q) % q);
        }
        if (level >= 2)
            e.getData().getData()[2] = 12345; // never read
        return e;
    };
    const auto half0 = static_cast<__int128>(q0 / 2);
    const auto big_q = static_cast<__int128>(q0) * q1;
    const __int128 half = big_q / 2;
    const std::vector<std::pair<__int128, u64>> cases{
        {0, 0},      {1, 0},
        {-1, 0},     {half0, 0},
        {-half0, 0}, {0, 3},
        {-77, 1},    {half, 2},
        {-half, 3},  {half - 12345, 1},
        {q0 + 5, 1}, {-(static_cast<__int128>(q1) * 3 + 1), 4}};
    for (const auto &[value, level] : cases) {
        SCOPED_TRACE(::testing::Message() << static_cast<double>(value) << " at " << level);
        EXPECT_EQ(chain().liftToReal(element(value, level)), static_cast<double>(value));
    }
    // Just above half the modulus the value is read as negative.
    EXPECT_EQ(chain().liftToReal(element(half0 + 1, 0)), -static_cast<double>(q0 - q0 / 2 - 1));
    EXPECT_EQ(chain().liftToReal(element(half + 1, 1)), -static_cast<double>(big_q - half - 1));

    LevelledElement away(0, lwe(), 0);
    away.getData() = DeviceSpecificArray<u64>(0, Device(1, 0));
    EXPECT_THROW(chain().liftToReal(away), RuntimeException);
}

} // namespace
} // namespace Quelt::test
