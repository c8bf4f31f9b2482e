#include "Quelt/SecretKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "keys/SecretKeyImpl.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using test::coefficientsOf;
using test::recordedState;
using test::residuesOf;
using Mlwe = SecretKeyBase<EncryptionType::MLWE>;
using Rlwe = SecretKeyBase<EncryptionType::RLWE>;
using Msrlwe = SecretKeyBase<EncryptionType::MSRLWE>;

constexpr const char *kRLWEShape = SecretKeyImpl<EncryptionType::RLWE>::kRLWEShape;
constexpr const char *kMLWEShape = SecretKeyImpl<EncryptionType::MLWE>::kMLWEShape;
constexpr const char *kWeight = "[sampleHWT] The Hamming weight cannot be met: more blocks than "
                                "entries, or a weight above the block length";

// Exactly h entries in {-1, +1} in every run of `run` coefficients, zeros
// elsewhere.
void expectWeightPerRun(const std::vector<int> &c, std::uint64_t run, std::uint64_t h) {
    ASSERT_EQ(c.size() % run, 0u);
    for (std::uint64_t start = 0; start < c.size(); start += run) {
        std::uint64_t nonzero = 0;
        for (std::uint64_t j = start; j < start + run; ++j) {
            ASSERT_TRUE(c[j] == 0 || c[j] == 1 || c[j] == -1) << j;
            nonzero += c[j] != 0;
        }
        EXPECT_EQ(nonzero, h) << "run at " << start;
    }
}

// Every polynomial of sx spans all base and temporary primes at the top
// level in NTT form, and its inverse transform gives, on every prime, the
// residues of its block of coefficients.
template <EncryptionType ET>
void expectSxMatchesCoefficients(const SecretKeyBase<ET> &key) {
    const auto &ctx = key.getContext();
    const std::uint64_t n = getDegree(ctx);
    const std::uint64_t primes = getLength(ctx) + getNumTP(ctx);
    const std::vector<int> c = coefficientsOf(key);
    ASSERT_EQ(key.getSxVec().getSize(), getRank(ctx) * getNumSecret(ctx));
    for (std::uint64_t p = 0; p < key.getSxVec().getSize(); ++p) {
        Polynomial poly = key.getSx(p);
        ASSERT_TRUE(poly.isModUp());
        ASSERT_TRUE(poly.isNTT());
        ASSERT_EQ(poly.getLevel(), getLength(ctx) - 1);
        ASSERT_EQ(poly.getSize(), primes);
        ctx->getPrimeModuli().template backwardNTT<AlwaysValidator, 1>(poly, poly,
                                                                       AlwaysValidator());
        for (std::uint64_t i = 0; i < primes; ++i) {
            const auto q = static_cast<std::int64_t>(poly.getPrime(i));
            for (std::uint64_t j = 0; j < n; ++j) {
                const std::int64_t v = c[p * n + j];
                const auto expected = static_cast<std::uint64_t>((v % q + q) % q);
                ASSERT_EQ(poly.getLimb(i)[j], expected) << "poly " << p << " prime " << i;
            }
        }
    }
}

template <EncryptionType ET>
void checkSampledKeys(const std::shared_ptr<ContextContent> &ctx) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    test::reseed();
    const std::string before = gen.getState();
    const SecretKeyBase<ET> first(ctx);
    const std::string between = gen.getState();
    const SecretKeyBase<ET> second(ctx);

    expectWeightPerRun(coefficientsOf(first), getRank(ctx) * getDegree(ctx), getHammingWeight(ctx));
    expectSxMatchesCoefficients(first);
    EXPECT_EQ(recordedState(first), before);
    EXPECT_EQ(recordedState(second), between);
    EXPECT_NE(between, before);
    EXPECT_NE(coefficientsOf(second), coefficientsOf(first));
    EXPECT_EQ(second.getContext(), ctx);
}

TEST(SecretKeyTest, SampledKeysOfEveryShape) {
    {
        SCOPED_TRACE("RLWE");
        checkSampledKeys<EncryptionType::RLWE>(test::degree64ThreePrimes());
    }
    {
        SCOPED_TRACE("MLWE of rank 4");
        checkSampledKeys<EncryptionType::MLWE>(test::rankFourContext());
    }
    {
        SCOPED_TRACE("MSRLWE with 2 secrets");
        checkSampledKeys<EncryptionType::MSRLWE>(test::twoSecretContext());
    }
    {
        SCOPED_TRACE("MSRLWE with 4 secrets");
        checkSampledKeys<EncryptionType::MSRLWE>(test::fourSecretContext());
    }
}

TEST(SecretKeyTest, KnownAnswerOfATwoSecretKey) {
    // From an independent replica of the generator (keyed BLAKE3 of block 0
    // under the seed {1, 2, 3, 4}) and of the fixed-weight sampler: two
    // blocks of 64, 43 nonzeros each.
    const std::string expected = "0+0-00-0-0-0+00-++-000---+--+-+++-++0++-0----0---+-0-0+0-+-+00+0"
                                 "0-0+-0--++0+0-0-+0+00+000000------++-+0++0-----0---++0+0+++-+0-+";
    test::reseed();
    const Msrlwe key(test::twoSecretContext());
    std::string signs;
    for (const int c : coefficientsOf(key))
        signs += c > 0 ? '+' : c < 0 ? '-' : '0';
    EXPECT_EQ(signs, expected);
}

TEST(SecretKeyTest, HammingWeightEdges) {
    // Weight 0 gives the zero key; a weight above rank x N is refused before
    // anything is drawn.
    const auto zero = test::withParameter(test::degree64ThreePrimes(),
                                          [](Parameter &p) { p.hamming_weight = 0; });
    const Rlwe key(zero);
    EXPECT_EQ(coefficientsOf(key), std::vector<int>(getDegree(zero), 0));
    expectSxMatchesCoefficients(key);

    const auto tooHeavy = test::withParameter(test::degree64ThreePrimes(),
                                              [](Parameter &p) { p.hamming_weight = 65; });
    const std::uint64_t next = test::peekWord();
    expectThrowsMessage([&] { Rlwe refused(tooHeavy); }, kWeight);
    EXPECT_EQ(test::peekWord(), next);
}

TEST(SecretKeyTest, FromCoefficientsMatchesASampledKey) {
    const auto check = [](const auto &sampled) {
        using Key = std::decay_t<decltype(sampled)>;
        std::vector<int> c = coefficientsOf(sampled);
        int *data = c.data();
        const Key made(sampled.getContext(), data);
        EXPECT_EQ(coefficientsOf(made), c);
        EXPECT_EQ(residuesOf(made), residuesOf(sampled));
        std::ostringstream out;
        expectThrowsMessage([&] { made.saveSeedOnly(out); },
                            "The secret key is not randomly generated");
        EXPECT_TRUE(out.str().empty());
    };
    check(Rlwe(test::degree64ThreePrimes()));
    check(Mlwe(test::rankFourContext()));
    check(Msrlwe(test::twoSecretContext()));

    // Values beyond the ternary range are taken as they are.
    std::vector<int> wide(getDegree(test::degree64ThreePrimes()));
    for (std::size_t j = 0; j < wide.size(); ++j)
        wide[j] = static_cast<int>(j % 7) * (j % 2 == 0 ? 1000 : -1000);
    int *data = wide.data();
    const Rlwe key(test::degree64ThreePrimes(), data);
    EXPECT_EQ(coefficientsOf(key), wide);
    expectSxMatchesCoefficients(key);
}

TEST(SecretKeyTest, ShapeRules) {
    std::vector<int> c(4 * 64, 1);
    int *data = c.data();
    int *null = nullptr;
    struct Case {
        const char *name;
        std::function<void()> make;
        const char *message;
    };
    const std::vector<Case> refused = {
        {"random RLWE over rank 4", [] { Rlwe k(test::rankFourContext()); }, kRLWEShape},
        {"RLWE from coefficients over rank 4", [&] { Rlwe k(test::rankFourContext(), data); },
         kRLWEShape},
        {"RLWE from coefficients over two secrets", [&] { Rlwe k(test::twoSecretContext(), data); },
         kRLWEShape},
        {"MLWE from coefficients over two secrets", [&] { Mlwe k(test::twoSecretContext(), data); },
         kMLWEShape},
        {"null coefficients", [&] { Rlwe k(test::degree64ThreePrimes(), null); },
         SecretKeyImpl<EncryptionType::RLWE>::kNullCoefficients},
    };
    for (const Case &c : refused) {
        SCOPED_TRACE(c.name);
        const std::uint64_t next = test::peekWord();
        expectThrowsMessage(c.make, c.message);
        EXPECT_EQ(test::peekWord(), next);
    }

    // Accepted: MSRLWE from coefficients over any context, MLWE over rank 4,
    // and the random RLWE constructor over two secrets (one polynomial each).
    EXPECT_EQ(Msrlwe(test::twoSecretContext(), data).getSxVec().getSize(), 2u);
    EXPECT_EQ(Msrlwe(test::rankFourContext(), data).getSxVec().getSize(), 4u);
    EXPECT_EQ(Msrlwe(test::fourSecretContext(), data).getSxVec().getSize(), 4u);
    EXPECT_EQ(Mlwe(test::rankFourContext(), data).getSxVec().getSize(), 4u);
    const Rlwe twoSecrets(test::twoSecretContext());
    EXPECT_EQ(twoSecrets.getSxVec().getSize(), 2u);
    expectWeightPerRun(coefficientsOf(twoSecrets), 64, getHammingWeight(test::twoSecretContext()));
    expectSxMatchesCoefficients(twoSecrets);
}

TEST(SecretKeyTest, CopiesAreIndependent) {
    const auto ctx = test::degree64ThreePrimes();
    Rlwe key(ctx);
    const auto words = residuesOf(key);
    const auto coefficients = coefficientsOf(key);
    const std::string state = recordedState(key);

    Rlwe copy(key);
    copy.getSx(0).getLimb(0)[0] ^= 1;
    copy.getCoefficients()[0] += 5;
    EXPECT_EQ(residuesOf(key), words);
    EXPECT_EQ(coefficientsOf(key), coefficients);

    // Assignment over a key of another context takes every field.
    Rlwe assigned(test::otherContext());
    assigned = key;
    EXPECT_EQ(assigned.getContext(), ctx);
    EXPECT_EQ(residuesOf(assigned), words);
    EXPECT_EQ(coefficientsOf(assigned), coefficients);
    EXPECT_EQ(recordedState(assigned), state);
    assigned.getSx(0).getLimb(1)[2] ^= 1;
    EXPECT_EQ(residuesOf(key), words);

    const Rlwe &self = key;
    key = self;
    EXPECT_EQ(residuesOf(key), words);
    EXPECT_EQ(coefficientsOf(key), coefficients);

    // A move hands the data over; assigning into the moved-from key clones.
    Rlwe moved(std::move(copy));
    EXPECT_THROW(copy.getContext(), RuntimeException); // NOLINT: use after move on purpose
    copy = key;
    EXPECT_EQ(residuesOf(copy), words);
    EXPECT_EQ(moved.getCoefficients()[0], coefficients[0] + 5);
}

TEST(SecretKeyTest, GettersCheckTheirIndices) {
    const auto ctx = test::twoSecretContext();
    Msrlwe key(ctx);
    const Msrlwe &view = key;
    const std::uint64_t primes = getLength(ctx) + getNumTP(ctx);
    EXPECT_EQ(key.getContext(), ctx);
    EXPECT_EQ(&key.getSx(1), &key.getSxVec().getPoly(1));
    EXPECT_EQ(&view.getSx(1), &view.getSxVec().getPoly(1));
    EXPECT_EQ(view.getSxData(1, primes - 1), key.getSx(1).getLimb(primes - 1));
    EXPECT_THROW(key.getSx(2), std::out_of_range);
    EXPECT_THROW(view.getSx(2), std::out_of_range);
    EXPECT_THROW(view.getSxData(2, 0), std::out_of_range);
    EXPECT_THROW(view.getSxData(0, primes), std::out_of_range);

    EXPECT_EQ(key.getDevice(), kHostDevice);
    key.to(kHostDevice);
    EXPECT_EQ(key.getDevice(), kHostDevice);
    // Polynomials on different devices (an empty pinned array stands for one).
    key.getSx(1).setData(DeviceSpecificArray<std::uint64_t>(0, Device{Device::kPinned, 0}));
    expectThrowsMessage([&] { key.getDevice(); }, "Polynomials are in different devices");
}

} // namespace
} // namespace Quelt
