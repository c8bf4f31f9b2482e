#include "client/ConstantEnDecoder.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "context/ContextContent.hpp"
#include "lwe/LWEContext.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/ModularReference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

// A constant c whose scaled magnitude |c| 2^e is exactly `target` in double
// arithmetic, so that truncation sees the intended value.
double scaledTo(double target, double e) {
    const double s = std::pow(2.0, e);
    double c = target / s;
    for (int i = 0; i < 8 && c * s != target; ++i)
        c = std::nextafter(c, c * s < target ? HUGE_VAL : 0.0);
    return c;
}

// floor(|c| 2^e) times q_l ... q_(l-r+1) modulo q, the sign applied last.
u64 expectedResidue(double c, double e, const std::vector<u64> &primes, u64 level, u64 r, u64 i) {
    const u64 q = primes[i];
    const auto truncated = static_cast<u128>(std::fabs(c) * std::pow(2.0, e));
    u64 x = static_cast<u64>(truncated % q);
    for (u64 j = level; j + r > level; --j)
        x = static_cast<u64>(static_cast<u128>(x) * (primes[j] % q) % q);
    return c < 0 && x != 0 ? q - x : x;
}

void expectShape(const LevelledElement &element, u64 level, u64 size) {
    EXPECT_EQ(element.getLevel(), level);
    EXPECT_EQ(element.getSize(), size);
    EXPECT_EQ(element.getData().size(), level + 1);
    EXPECT_FALSE(element.isModUp());
    EXPECT_EQ(element.getDevice(), kHostDevice);
}

TEST(ConstantEnDecoderTest, EdgeCasesOfTruncationSignAndCounter) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    const ConstantEnDecoder encoder(ctx);
    const std::vector<u64> primes = getPrimeList(ctx);
    const auto &sf = ctx->getScaleFactors();
    auto residues = [&](double c, u64 level, int r) {
        const LevelledElement e = encoder.encodeConst(c, level, r);
        expectShape(e, level, 4);
        return std::vector<u64>(e.getData().begin(), e.getData().end());
    };
    // Every residue the same signed integer.
    auto all = [&](std::int64_t v, u64 level) {
        std::vector<u64> out;
        for (u64 i = 0; i <= level; ++i)
            out.push_back(signedResidueRef(v, primes[i]));
        return out;
    };
    const double e2 = sf.getScaleFactor(2);
    for (double zero : {0.0, -0.0}) {
        EXPECT_EQ(residues(zero, 3, 0), all(0, 3));
        EXPECT_EQ(residues(zero, 3, 2), all(0, 3));
    }
    ASSERT_EQ(std::fabs(scaledTo(3.0, e2)) * std::pow(2.0, e2), 3.0);
    EXPECT_EQ(residues(scaledTo(3.0, e2), 2, 0), all(3, 2));
    EXPECT_EQ(residues(-scaledTo(3.0, e2), 2, 0), all(-3, 2));
    EXPECT_EQ(residues(scaledTo(2.9, e2), 2, 0), all(2, 2));
    EXPECT_EQ(residues(-scaledTo(2.9, e2), 2, 0), all(-2, 2));

    // r = l: residue 0 is floor(|c| 2^sf[0]) q1 q2 q3 mod q0, the rest 0.
    const double e0 = sf.getScaleFactor(0);
    const double c = scaledTo(12345.75, e0);
    u128 top = 12345;
    for (u64 j = 1; j <= 3; ++j)
        top = top * primes[j] % primes[0];
    EXPECT_EQ(residues(c, 3, 3), (std::vector<u64>{static_cast<u64>(top), 0, 0, 0}));
    EXPECT_EQ(residues(-c, 3, 3), (std::vector<u64>{primes[0] - static_cast<u64>(top), 0, 0, 0}));

    // Every level and counter against the formula, for values of both signs.
    for (double v : {0.3, -0.7, 1e-5, -123.25})
        for (u64 level = 0; level < 4; ++level)
            for (int r = 0; r <= static_cast<int>(level); ++r) {
                const double e = sf.getScaleFactor(level - r);
                const std::vector<u64> got = residues(v, level, r);
                for (u64 i = 0; i <= level; ++i)
                    EXPECT_EQ(got[i], expectedResidue(v, e, primes, level, r, i))
                        << v << " " << level << " " << r << " " << i;
            }
}

TEST(ConstantEnDecoderTest, LweContextsUseTheirOwnPrimesAndScales) {
    for (const auto &ctx :
         {LWE::makeContext(LWE::ParameterPreset::SD3), LWE::makeContext(64, 3, 50, 40)}) {
        const ConstantEnDecoder encoder(ctx);
        const std::vector<u64> primes = LWE::getPrimeList(ctx);
        const u64 length = primes.size();
        for (u64 level = 0; level < length; ++level)
            for (int r = 0; r <= static_cast<int>(level); ++r) {
                const double e = ctx->getScaleFactors().getScaleFactor(level - r);
                const LevelledElement got = encoder.encodeConst(-0.8125, level, r);
                expectShape(got, level, length);
                for (u64 i = 0; i <= level; ++i)
                    EXPECT_EQ(got[i], expectedResidue(-0.8125, e, primes, level, r, i))
                        << level << " " << r << " " << i;
            }
        expectThrowsMessage([&] { encoder.encodeConst(1.0, length, 0); },
                            "[encode] The target level is greater than the maximum possible level");
    }
}

TEST(ConstantEnDecoderTest, ChecksLevelCounterScaleAndValue) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    const ConstantEnDecoder e(ctx);
    const char *level = "[encode] The target level is greater than the maximum possible level";
    const char *counter =
        "[encode] The target rescale counter should be less than or equal to the target level.";
    const char *negative = "Rescale counter should be greater than or equal to zero";
    const char *value = "[Modulus] makeInteger: the scaled value must be finite and below 2^128";
    struct Case {
        double c;
        u64 level;
        int r;
        const char *message;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {1.0, 4, 0, level},   {1.0, ~u64{0}, 0, level}, {1.0, 1, 2, counter},
        {1.0, 0, 1, counter}, {1.0, 2, -1, negative},   {1.0, 2, INT32_MIN, negative},
        {nan, 2, 0, value},   {HUGE_VAL, 2, 0, value},  {-1e300, 2, 1, value},
        {nan, 4, -1, level},  {nan, 1, 5, counter},     {nan, 1, -1, negative},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.c << " " << c.level << " " << c.r);
        expectThrowsMessage([&] { e.encodeConst(c.c, c.level, c.r); }, c.message);
    }
    // FGbD12L1 has a scale factor at both of its levels (those of
    // FGbD12NS1L1, whose primes it holds).
    const ConstantEnDecoder lwe(LWE::makeContext(LWE::ParameterPreset::FGbD12L1));
    EXPECT_EQ(lwe.encodeConst(1.0, 1, 0).getLevel(), 1u);
    EXPECT_EQ(lwe.encodeConst(1.0, 1, 1).getLevel(), 1u);

    const char *null = "[Context] The context is null";
    expectThrowsMessage([] { ConstantEnDecoder(std::shared_ptr<ContextContent>()); }, null);
    expectThrowsMessage([] { ConstantEnDecoder(std::shared_ptr<LWE::ContextContent>()); }, null);
}

} // namespace
} // namespace Quelt::test
