#include "foundation/RandomSampler.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWE/Context.hpp"
#include "context/ContextContent.hpp"
#include "context/LevelledElement.hpp"
#include "context/Polynomial.hpp"
#include "foundation/RandomSamplerDetail.hpp"
#include "lwe/LWEContext.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::degree64ThreePrimes;
using test::kSmallPrimes;
constexpr std::uint64_t kN = 64;

// Known answers below come from an independent replica of the samplers over
// the generator stream of seed {1, 2, 3, 4} (keyed BLAKE3 of block 0).

const std::int64_t kGaussian[kN] = {0,  -3, -1, 10, 2,  -1, 4,  6,  -1, 0,  0,  -3, -1, 0,  -7, 7,
                                    -1, -2, -2, 2,  0,  -4, -2, 3,  0,  3,  -1, 4,  -3, -3, 5,  3,
                                    2,  2,  3,  1,  -2, 1,  -3, 1,  1,  2,  -9, -6, 2,  1,  1,  3,
                                    2,  -7, 1,  0,  5,  -2, 0,  -1, 2,  -1, -4, -2, -2, 2,  -4, 3};

const int kTernary[kN] = {-1, 1, -1, 0,  -1, 0, 0, -1, 1, -1, 0,  0,  0, -1, 1, -1,
                          -1, 0, 1,  1,  -1, 0, 0, 0,  1, 0,  0,  1,  1, 0,  0, 1,
                          0,  1, -1, 0,  1,  1, 0, 1,  0, 0,  -1, 0,  0, 0,  0, 0,
                          -1, 0, 1,  -1, 1,  0, 1, -1, 1, -1, 1,  -1, 0, 0,  0, 0};

std::uint64_t residue(std::int64_t v, std::uint64_t q) {
    return v < 0 ? q - static_cast<std::uint64_t>(-v) : static_cast<std::uint64_t>(v);
}

TEST(RandomSamplerTest, GaussianKnownAnswersInEveryLimb) {
    const RandomSampler sampler;
    test::reseed();
    const std::uint64_t after = test::wordAhead(kN / 2);
    Polynomial p(degree64ThreePrimes(), true, true);
    sampler.sampleGaussian(p, degree64ThreePrimes());
    EXPECT_FALSE(p.isNTT());
    EXPECT_EQ(test::peekWord(), after); // one word per pair
    for (std::uint64_t i = 0; i < 4; ++i)
        for (std::uint64_t j = 0; j < kN; ++j)
            ASSERT_EQ(p.getLimb(i)[j], residue(kGaussian[j], kSmallPrimes[i])) << i << "," << j;
}

TEST(RandomSamplerTest, TernaryKnownAnswersIncludingTemporaryLimbs) {
    const RandomSampler sampler;
    test::reseed();
    const std::uint64_t after = test::wordAhead(2);
    Polynomial p(degree64ThreePrimes(), true, true);
    p.setLevel(0);
    sampler.sampleZO(p, degree64ThreePrimes());
    EXPECT_FALSE(p.isNTT());
    EXPECT_EQ(test::peekWord(), after); // 32 coefficients per word
    // In mod-up form every limb holds the same ternary polynomial, so the
    // residues stay those of one integer polynomial.
    for (std::uint64_t i = 0; i < 4; ++i)
        for (std::uint64_t j = 0; j < kN; ++j)
            ASSERT_EQ(p.getLimb(i)[j], residue(kTernary[j], kSmallPrimes[i])) << i << "," << j;
}

TEST(RandomSamplerTest, PlainPolynomialGetsOnlyLimbsUpToItsLevel) {
    const RandomSampler sampler;
    Polynomial p(degree64ThreePrimes(), false, false);
    std::fill(p.getData().begin(), p.getData().end(), 5);
    p.setLevel(0);
    p.getData().resize(3 * kN); // the unused limbs are still there, marked 5
    sampler.sampleUniform(p, degree64ThreePrimes());
    sampler.sampleGaussian(p, degree64ThreePrimes());
    sampler.sampleZO(p, degree64ThreePrimes());
    for (std::uint64_t k = kN; k < 3 * kN; ++k)
        ASSERT_EQ(p.getData()[k], 5u);
}

TEST(RandomSamplerTest, HammingWeightLayouts) {
    const RandomSampler sampler;
    DeviceSpecificArray<int> out;
    test::reseed();
    const std::uint64_t after16 = test::wordAhead(15);
    sampler.sampleHWT(out, 16, 3, 2);
    EXPECT_EQ(std::vector<int>(out.begin(), out.end()),
              (std::vector<int>{0, 0, 0, 1, 0, 0, -1, -1, 0, 0, 0, 1, -1, 0, 1, 0}));
    EXPECT_EQ(test::peekWord(), after16);

    // Full blocks force redraws of taken positions; position 9 lies outside
    // the three blocks of three.
    test::reseed();
    const std::uint64_t after = test::wordAhead(24);
    sampler.sampleHWT(out, 10, 3, 3);
    EXPECT_EQ(std::vector<int>(out.begin(), out.end()),
              (std::vector<int>{1, 1, -1, -1, 1, -1, -1, 1, -1, 0}));
    EXPECT_EQ(test::peekWord(), after);

    for (const auto &[hw, blocks] : {std::pair<int, int>{0, 2}, {2, 0}}) {
        const std::uint64_t next = test::peekWord();
        sampler.sampleHWT(out, 8, hw, blocks);
        EXPECT_EQ(std::vector<int>(out.begin(), out.end()), std::vector<int>(8, 0));
        EXPECT_EQ(test::peekWord(), next);
    }
}

TEST(RandomSamplerTest, HammingWeightThatCannotBeMetIsRefused) {
    const RandomSampler sampler;
    const char *message = "[sampleHWT] The Hamming weight cannot be met: more blocks than "
                          "entries, or a weight above the block length";
    struct Case {
        std::uint64_t dim, hw, blocks;
    };
    for (const Case c :
         {Case{4, 1, 5}, Case{0, 1, 1}, Case{8, 5, 2}, Case{10, 4, 3}, Case{8, ~0ULL, 1}}) {
        DeviceSpecificArray<int> out(3);
        std::fill(out.begin(), out.end(), 7);
        const std::uint64_t next = test::peekWord();
        expectThrowsMessage([&] { sampler.sampleHWT(out, c.dim, c.hw, c.blocks); }, message);
        EXPECT_EQ(std::vector<int>(out.begin(), out.end()), std::vector<int>(3, 7));
        EXPECT_EQ(test::peekWord(), next);
    }
    EXPECT_NO_THROW(checkHammingWeight(8, 4, 2));
    EXPECT_THROW(checkHammingWeight(8, 5, 2), RuntimeException);
}

TEST(RandomSamplerTest, UniformRejectionNearAPrimeAbove2To61) {
    // 2^64 mod q = 0x1ffffffffb9ffff9: about one word in eight is redrawn.
    constexpr std::uint64_t q = 0x2000000000a00001;
    test::reseed();
    const std::uint64_t after = test::wordAhead(17); // 16 bulk words and one redraw
    std::uint64_t limb[16];
    detail::fillUniformResidues(limb, 16, q);
    const std::uint64_t expected[16] = {
        0x7d302f6b44b8668,  0x5bbb7b1ffe4cf2a,  0xa241ff6c7add01c,  0x8960fa91e172ac0,
        0x1395ecbde1d18100, 0x1a853cf8ac260fb9, 0x1c4fcd43e99f8ddb, 0x1e65d3fe0082a82d,
        0x85dd69fba5f8333,  0x2c157bc9e0d4c73,  0x1c68acaf7f5d646c, 0x18ec71397dc001d9,
        0x1bc201f2af92a468, 0xe547b49653d378a,  0x46c32867139f183,  0x6961082b06b30f1};
    for (int j = 0; j < 16; ++j)
        EXPECT_EQ(limb[j], expected[j]) << j;
    EXPECT_EQ(test::peekWord(), after);
}

TEST(RandomSamplerTest, UniformPolynomialResiduesAreReduced) {
    const RandomSampler sampler;
    Polynomial p(degree64ThreePrimes(), true, true);
    sampler.sampleUniform(p, degree64ThreePrimes());
    EXPECT_TRUE(p.isNTT());
    for (std::uint64_t i = 0; i < 4; ++i)
        for (std::uint64_t j = 0; j < kN; ++j)
            ASSERT_LT(p.getLimb(i)[j], kSmallPrimes[i]);
}

TEST(RandomSamplerTest, RestoringTheStateRepeatsEverySampler) {
    const RandomSampler sampler;
    const auto ctx = degree64ThreePrimes();
    const auto lwe = LWE::makeContext(16, 2, 45, 40);
    const std::vector<std::function<std::string()>> runs = {
        [&] {
            Polynomial p(ctx, false, false);
            sampler.sampleUniform(p, ctx);
            return test::saveToString(p);
        },
        [&] {
            Polynomial p(ctx, true, false);
            sampler.sampleGaussian(p, ctx);
            return test::saveToString(p);
        },
        [&] {
            Polynomial p(ctx, false, false);
            sampler.sampleZO(p, ctx);
            return test::saveToString(p);
        },
        [&] {
            DeviceSpecificArray<int> out;
            sampler.sampleHWT(out, 64, 5, 4);
            return std::string(reinterpret_cast<const char *>(out.getData()), out.sizeInBytes());
        },
        [&] {
            LevelledVector v(lwe);
            sampler.sampleUniform(v, lwe);
            return test::saveToString(v);
        },
        [&] {
            LevelledElement e(lwe);
            sampler.sampleGaussian(e, lwe);
            return test::saveToString(e);
        },
    };
    auto &gen = UniformRandomBitGenerator::getInstance();
    // A fixed seed keeps the check that two draws differ deterministic: a single
    // Gaussian value repeats with a probability of about one in eight.
    gen.setSeed({5, 6, 7, 8});
    for (std::size_t k = 0; k < runs.size(); ++k) {
        SCOPED_TRACE(k);
        const std::string state = gen.getState();
        const std::string first = runs[k]();
        const std::string second = runs[k]();
        gen.setState(state);
        EXPECT_EQ(runs[k](), first);
        EXPECT_NE(second, first);
    }
}

TEST(RandomSamplerTest, LweSamplers) {
    const RandomSampler sampler;
    const auto lwe = LWE::makeContext(16, 3, 45, 40);
    const std::vector<std::uint64_t> primes = LWE::getPrimeList(lwe);

    LevelledVector v(lwe);
    v.setLevel(1);
    std::fill(v.getData().begin(), v.getData().end(), ~0ULL);
    test::reseed();
    sampler.sampleUniform(v, lwe);
    // Limbs up to the level, each the next words of the stream reduced.
    test::reseed();
    std::uint64_t limb[16];
    for (std::uint64_t i = 0; i < 2; ++i) {
        detail::fillUniformResidues(limb, 16, primes[i]);
        EXPECT_TRUE(std::equal(limb, limb + 16, v.getLimb(i)));
    }
    for (std::uint64_t k = 32; k < 48; ++k)
        EXPECT_EQ(v.getData()[k], ~0ULL);

    // One word per element: the first of the pair, here kGaussian[0] = 0 and
    // kGaussian[2] = -1 from the first two words.
    LevelledElement e(lwe);
    e.setLevel(1);
    test::reseed();
    sampler.sampleGaussian(e, lwe);
    EXPECT_EQ(e.getLevel(), 1u);
    EXPECT_EQ(e[0], 0u);
    sampler.sampleGaussian(e, lwe);
    EXPECT_EQ(e[0], primes[0] - 1);
    EXPECT_EQ(e[1], primes[1] - 1);
}

TEST(RandomSamplerTest, ObjectsOfAnotherContextAreRefusedBeforeDrawing) {
    const RandomSampler sampler;
    Polynomial p(test::otherContext(), false, false);
    const std::uint64_t next = test::peekWord();
    for (const auto &run : std::vector<std::function<void()>>{
             [&] { sampler.sampleUniform(p, degree64ThreePrimes()); },
             [&] { sampler.sampleGaussian(p, degree64ThreePrimes()); },
             [&] { sampler.sampleZO(p, degree64ThreePrimes()); }}) {
        expectThrowsMessage([&] { run(); },
                            "[RandomSampler] The polynomial does not fit the context");
    }
    // A plain polynomial whose array lost its limbs in use.
    Polynomial q(degree64ThreePrimes(), false, false);
    q.getData().resize(kN);
    EXPECT_THROW(sampler.sampleUniform(q, degree64ThreePrimes()), RuntimeException);

    const auto lwe = LWE::makeContext(16, 2, 45, 40);
    LevelledVector v(LWE::makeContext(32, 2, 45, 40));
    EXPECT_THROW(sampler.sampleUniform(v, lwe), RuntimeException);
    // Levels past the chain, the last one so large that level + 1 wraps to 0.
    LevelledVector w(lwe);
    for (std::uint64_t level : {std::uint64_t{2}, ~std::uint64_t{0}}) {
        w.setLevel(level);
        EXPECT_THROW(sampler.sampleUniform(w, lwe), RuntimeException) << level;
    }
    EXPECT_EQ(test::peekWord(), next);
}

} // namespace
} // namespace Quelt
