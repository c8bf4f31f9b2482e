#include "Quelt/SecretKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "keys/SecretKeyImpl.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt {
namespace {

using Quelt::test::expectThrowsMessage;

using Quelt::test::bytesOf;
using test::coefficientsOf;
using test::fullRecord;
using test::residuesOf;
using test::seedRecord;
using Mlwe = SecretKeyBase<EncryptionType::MLWE>;
using Rlwe = SecretKeyBase<EncryptionType::RLWE>;
using Msrlwe = SecretKeyBase<EncryptionType::MSRLWE>;
using RlweImpl = SecretKeyImpl<EncryptionType::RLWE>;

constexpr const char *kVerifier =
    "[Verifier::load] Validation failed during deserializing objects.";
constexpr const char *kInvalidOption = "[load SecretKey] Invalid serialize option";
constexpr std::uint64_t kStateBytes = UniformRandomBitGenerator::kStateBytes;

template <typename Key>
Key loaded(const std::shared_ptr<ContextContent> &ctx, const std::string &bytes) {
    std::istringstream in(bytes);
    return Key(ctx, in);
}

template <EncryptionType ET>
void expectSameKey(const SecretKeyBase<ET> &a, const SecretKeyBase<ET> &b) {
    EXPECT_EQ(coefficientsOf(a), coefficientsOf(b));
    EXPECT_EQ(residuesOf(a), residuesOf(b));
    // The full record also carries the random flag and the recorded state.
    EXPECT_EQ(fullRecord(a), fullRecord(b));
}

// The leading fields of a record: byte order, option flag and option, type.
std::string head(std::uint8_t absent, std::optional<std::uint32_t> option, std::uint32_t type) {
    std::string bytes = "\x01";
    bytes += static_cast<char>(absent);
    if (option)
        bytes += bytesOf(*option);
    return bytes + bytesOf(type);
}

std::string patched(std::string bytes, std::size_t offset, const std::string &value) {
    return bytes.replace(offset, value.size(), value);
}

// ---------------------------------------------------------------------------
// Layouts and round trips
// ---------------------------------------------------------------------------

TEST(SecretKeyFileTest, SeedOnlyRecordFieldByField) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    test::reseed();
    const std::string state = gen.getState();
    const Rlwe key(test::degree64ThreePrimes());
    const std::string expected =
        head(0, 2, 1) + bytesOf(std::uint32_t{2}) + bytesOf(std::uint64_t{kStateBytes}) + state;
    EXPECT_EQ(expected.size(), 71u);
    EXPECT_EQ(seedRecord(key), expected);
}

template <EncryptionType ET>
void checkFullRecordLayout(const std::shared_ptr<ContextContent> &ctx) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    const std::string state = gen.getState();
    const SecretKeyBase<ET> key(ctx);
    const std::string bytes = fullRecord(key);
    const std::uint64_t n = getDegree(ctx);
    const std::uint64_t count = test::secretCoefficientCount(ctx);
    const std::uint64_t polys = count / n;
    const std::uint64_t length = getLength(ctx);
    const std::uint64_t primes = length + getNumTP(ctx);
    EXPECT_EQ(bytes.size(), 96 + 4 * count + polys * (51 + 8 * primes * (n + 1)));

    std::string expected = head(0, 1, static_cast<std::uint32_t>(ET)) + bytesOf(ctx->getHash()) +
                           bytesOf(std::uint32_t{2}) + "\x01" + bytesOf(kStateBytes) + state;
    expected += bytesOf(count);
    for (const int c : coefficientsOf(key))
        expected += bytesOf(std::int32_t{c});
    expected += bytesOf(polys);
    // The first polynomial whole: header, primes, no seed, residues.
    const Polynomial &first = key.getSx(0);
    expected += bytesOf(n) + bytesOf(length) + bytesOf(primes) + bytesOf(length - 1);
    expected += std::string("\x01\x01", 2) + bytesOf(primes);
    for (const std::uint64_t q : getPrimeList(ctx))
        expected += bytesOf(q);
    expected += "\x01" + bytesOf(primes * n);
    for (const std::uint64_t w : first.getData())
        expected += bytesOf(w);
    EXPECT_EQ(Quelt::test::firstDifference(bytes.substr(0, expected.size()), expected),
              std::string::npos);
}

TEST(SecretKeyFileTest, FullRecordLayoutForEveryShape) {
    checkFullRecordLayout<EncryptionType::RLWE>(test::degree64ThreePrimes());
    checkFullRecordLayout<EncryptionType::MLWE>(test::rankFourContext());
    checkFullRecordLayout<EncryptionType::MSRLWE>(test::fourSecretContext());
}

template <typename Key>
void checkRoundTrips(const std::shared_ptr<ContextContent> &ctx, const Quelt::test::TempFile &file,
                     bool fromCoefficients = true) {
    const std::string &path = file.path();
    const Key key(ctx);
    const std::string full = fullRecord(key);
    expectSameKey(loaded<Key>(ctx, full), key);
    expectSameKey(loaded<Key>(ctx, seedRecord(key)), key);

    key.save(path);
    EXPECT_EQ(file.read(), full);
    expectSameKey(Key(ctx, path), key);
    key.saveSeedOnly(path);
    EXPECT_EQ(std::filesystem::file_size(path), 71u);
    expectSameKey(Key(ctx, path), key);
    if (!fromCoefficients)
        return;

    // A key made from coefficients: random flag 0, no seed; it stays that way.
    std::vector<int> c = coefficientsOf(key);
    int *data = c.data();
    const Key made(ctx, data);
    const std::string madeBytes = fullRecord(made);
    EXPECT_EQ(madeBytes.substr(22, 9), std::string(9, '\0'));
    EXPECT_EQ(madeBytes.size(), full.size() - kStateBytes);
    const Key reloaded = loaded<Key>(ctx, madeBytes);
    expectSameKey(reloaded, made);
    EXPECT_EQ(residuesOf(reloaded), residuesOf(key));
    std::ostringstream out;
    expectThrowsMessage([&] { reloaded.saveSeedOnly(out); }, RlweImpl::kNotRandom);
}

TEST(SecretKeyFileTest, RoundTripsOfBothFormsForEveryType) {
    const Quelt::test::TempFile file("secret_key.bin");
    checkRoundTrips<Rlwe>(test::degree64ThreePrimes(), file);
    checkRoundTrips<Rlwe>(test::twoSecretContext(), file, false);
    checkRoundTrips<Mlwe>(test::rankFourContext(), file);
    checkRoundTrips<Msrlwe>(test::twoSecretContext(), file);
    checkRoundTrips<Msrlwe>(test::fourSecretContext(), file);
}

TEST(SecretKeyFileTest, SeedOnlyRecordSamplesForTheReceivingContext) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    const auto check = [&](const auto &key, const std::shared_ptr<ContextContent> &other) {
        using Key = std::decay_t<decltype(key)>;
        const std::string bytes = seedRecord(key);
        gen.setState(bytes.substr(bytes.size() - kStateBytes));
        const Key expected(other);
        const Key reloaded = loaded<Key>(other, bytes);
        EXPECT_EQ(reloaded.getContext(), other);
        EXPECT_EQ(coefficientsOf(reloaded).size(), test::secretCoefficientCount(other));
        expectSameKey(reloaded, expected);
    };
    // Another degree; more secrets (each block of h nonzeros).
    check(Rlwe(test::degree64ThreePrimes()), test::otherContext());
    check(Msrlwe(test::twoSecretContext()), test::fourSecretContext());
}

TEST(SecretKeyFileTest, SaveSeedOnlyOfAKeyFromCoefficientsWritesNothing) {
    std::vector<int> c(64, 0);
    int *data = c.data();
    const Rlwe key(test::degree64ThreePrimes(), data);
    const Quelt::test::TempFile file("secret_key_not_random.bin");
    expectThrowsMessage([&] { key.saveSeedOnly(file.path()); }, RlweImpl::kNotRandom);
    EXPECT_FALSE(std::filesystem::exists(file.path()));

    // The adaptor refuses other options before it writes a field.
    const RlweImpl impl(test::degree64ThreePrimes());
    for (const std::optional<std::uint32_t> option :
         {std::optional<std::uint32_t>(3), std::optional<std::uint32_t>(0),
          std::optional<std::uint32_t>()}) {
        std::ostringstream out;
        const detail::CerealAdaptor<const RlweImpl> adaptor(&impl, option);
        expectThrowsMessage([&] { Serialize::save(out, adaptor); },
                            "[save SecretKey] Invalid serialize option");
        EXPECT_EQ(out.str(), "\x01");
    }

    const std::string missing = file.path() + ".missing/key.bin";
    expectThrowsMessage([&] { key.save(missing); }, "Cannot open file " + missing);
    expectThrowsMessage([&] { Rlwe k(test::degree64ThreePrimes(), missing); },
                        "Cannot open file " + missing);
}

TEST(SecretKeyFileTest, ReadsTheOtherByteOrder) {
    // A full record as a big-endian host writes it: every number reversed,
    // the recorded state (a string) as it is.
    const auto ctx = test::twoSecretContext();
    const Msrlwe key(ctx);
    const std::string little = fullRecord(key);
    const std::string state = little.substr(31, kStateBytes);
    const std::uint64_t n = getDegree(ctx);
    const std::uint64_t length = getLength(ctx);
    const std::uint64_t primes = length + getNumTP(ctx);

    std::string big(1, '\0');
    big += '\0' + bytesOf(std::uint32_t{1}, true) + bytesOf(std::uint32_t{2}, true);
    big += bytesOf(ctx->getHash(), true) + bytesOf(std::uint32_t{2}, true) + "\x01";
    big += bytesOf(kStateBytes, true) + state;
    big += bytesOf(test::secretCoefficientCount(ctx), true);
    for (const int c : coefficientsOf(key))
        big += bytesOf(std::int32_t{c}, true);
    big += bytesOf(std::uint64_t{2}, true);
    for (const Polynomial &poly : key.getSxVec().getPolys()) {
        big += bytesOf(n, true) + bytesOf(length, true) + bytesOf(primes, true) +
               bytesOf(length - 1, true) + std::string("\x01\x01", 2) + bytesOf(primes, true);
        for (const std::uint64_t q : getPrimeList(ctx))
            big += bytesOf(q, true);
        big += "\x01" + bytesOf(primes * n, true);
        for (const std::uint64_t w : poly.getData())
            big += bytesOf(w, true);
    }
    ASSERT_EQ(big.size(), little.size());
    expectSameKey(loaded<Msrlwe>(ctx, big), key);
}

// ---------------------------------------------------------------------------
// The generator around seed-only loads
// ---------------------------------------------------------------------------

TEST(SecretKeyFileTest, SeedOnlyLoadsLeaveTheCallersStreamAsItWas) {
    auto &gen = UniformRandomBitGenerator::getInstance();
    test::reseed();
    const std::string good = seedRecord(Rlwe(test::degree64ThreePrimes()));
    const auto tooHeavy = test::withParameter(test::degree64ThreePrimes(),
                                              [](Parameter &p) { p.hamming_weight = 65; });

    gen.setSeed({5, 6, 7, 8});
    gen();
    const std::string before = gen.getState();
    std::array<std::uint64_t, 4> next{};
    for (auto &w : next)
        w = gen();
    gen.setState(before);

    struct Case {
        const char *name;
        std::shared_ptr<ContextContent> ctx;
        std::string bytes;
        const char *message; // nullptr: the load succeeds
    };
    const std::vector<Case> cases = {
        {"a good record", test::degree64ThreePrimes(), good, nullptr},
        {"a weight the context cannot meet", tooHeavy, good,
         "[sampleHWT] The Hamming weight cannot be met: more blocks than entries, or a weight "
         "above the block length"},
        {"another object code", test::degree64ThreePrimes(),
         patched(good, 10, bytesOf(std::uint32_t{3})), kVerifier},
        {"a short state", test::degree64ThreePrimes(),
         patched(good, 14, bytesOf(std::uint64_t{48})), RlweImpl::kLoadStateLength},
        {"a cut state", test::degree64ThreePrimes(), good.substr(0, 40), nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.bytes);
        if (c.message != nullptr)
            expectThrowsMessage([&] { Rlwe k(c.ctx, in); }, c.message);
        else if (c.bytes.size() < good.size())
            EXPECT_THROW(Rlwe k(c.ctx, in), cereal::Exception);
        else
            Rlwe k(c.ctx, in);
        EXPECT_EQ(gen.getState(), before);
    }
    for (const std::uint64_t w : next)
        EXPECT_EQ(gen(), w);
}

// ---------------------------------------------------------------------------
// Refused records
// ---------------------------------------------------------------------------

TEST(SecretKeyFileTest, TypeAndOptionMessages) {
    const std::string state = UniformRandomBitGenerator::getInstance().getState();
    const std::string seedTail = bytesOf(std::uint32_t{2}) + bytesOf(kStateBytes) + state;
    const char *const typeMessages[] = {
        "[load SecretKey] The serialized secret key is not for MLWE encryption.",
        "[load SecretKey] The serialized secret key is not for RLWE encryption.",
        "[load SecretKey] The serialized secret key is not for MSRLWE encryption."};
    // A record of each other type, in either form, names the receiving type.
    for (std::uint32_t receiving = 0; receiving < 3; ++receiving) {
        for (std::uint32_t stored = 0; stored < 3; ++stored) {
            if (stored == receiving)
                continue;
            for (const std::uint32_t option : {1u, 2u, 3u}) {
                const std::string bytes = head(0, option, stored) + seedTail;
                std::istringstream in(bytes);
                const auto attempt = [&] {
                    const auto &ctx = test::fourSecretContext();
                    if (receiving == 0)
                        Mlwe k(ctx, in);
                    else if (receiving == 1)
                        Rlwe k(ctx, in);
                    else
                        Msrlwe k(ctx, in);
                };
                SCOPED_TRACE(testing::Message() << receiving << " " << stored << " " << option);
                expectThrowsMessage(attempt, typeMessages[receiving]);
            }
        }
    }

    struct Case {
        const char *name;
        std::string bytes;
        const char *message;
    };
    const std::vector<Case> cases = {
        // With the flag absent no option is read: the next u32 is the type.
        {"flag absent", head(1, std::nullopt, 1) + seedTail, kInvalidOption},
        {"flag absent, wrong type", head(1, std::nullopt, 2) + seedTail, typeMessages[1]},
        {"flag 3 (lowest bit set)", head(3, std::nullopt, 1) + seedTail, kInvalidOption},
        {"option 3", head(0, 3, 1) + seedTail, kInvalidOption},
        {"option 0", head(0, 0, 1) + seedTail, kInvalidOption},
        {"seed-only form, object code 0", head(0, 2, 1) + bytesOf(std::uint32_t{0}), kVerifier},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.bytes);
        expectThrowsMessage([&] { Rlwe k(test::degree64ThreePrimes(), in); }, c.message);
    }
    // Only the lowest bit of the flag counts: 2 says present.
    std::istringstream in(head(2, 2, 1) + seedTail);
    Rlwe accepted(test::degree64ThreePrimes(), in);
    EXPECT_EQ(in.peek(), std::char_traits<char>::eof());
}

TEST(SecretKeyFileTest, FullRecordChecksAgainstTheContext) {
    const auto ctx = test::degree64ThreePrimes();
    const Rlwe key(ctx);
    const std::string good = fullRecord(key);
    // Offsets: hash 10, code 18, random flag 22, seed length 23, seed 31,
    // coefficient count 80, coefficients 88, polynomial count 344, the first
    // polynomial at 352 (level at 376, flags at 384 and 385, array at 427).
    ASSERT_EQ(good.size(), 2483u);
    const std::uint64_t huge = std::uint64_t{1} << 62;

    struct Case {
        const char *name;
        std::string bytes;
        const char *message;
    };
    const std::string withoutSeed =
        patched(good.substr(0, 23), 22, "\x00") + bytesOf(std::uint64_t{0}) + good.substr(80);
    const std::vector<Case> cases = {
        {"another hash", patched(good, 10, bytesOf(ctx->getHash() + 1)), kVerifier},
        {"object code 3", patched(good, 18, bytesOf(std::uint32_t{3})), kVerifier},
        {"random flag 2", patched(good, 22, "\x02"), RlweImpl::kLoadRandomFlag},
        {"random without a seed", patched(withoutSeed, 22, "\x01"), RlweImpl::kLoadSeedLength},
        {"a seed without random", patched(good, 22, std::string(1, '\0')),
         RlweImpl::kLoadSeedLength},
        {"a huge seed length", patched(good, 23, bytesOf(huge)), RlweImpl::kLoadSeedLength},
        {"a coefficient count of 63", patched(good, 80, bytesOf(std::uint64_t{63})),
         RlweImpl::kLoadCoefficientCount},
        {"a huge coefficient count", patched(good, 80, bytesOf(huge)),
         RlweImpl::kLoadCoefficientCount},
        {"no polynomial", patched(good, 344, bytesOf(std::uint64_t{0})),
         RlweImpl::kLoadPolynomialCount},
        {"a huge polynomial count", patched(good, 344, bytesOf(huge)),
         RlweImpl::kLoadPolynomialCount},
        {"a polynomial below the top level", patched(good, 376, bytesOf(std::uint64_t{1})),
         RlweImpl::kLoadPolynomialShape},
        {"a polynomial in coefficient form", patched(good, 385, std::string(1, '\0')),
         RlweImpl::kLoadPolynomialShape},
        {"a polynomial not in mod-up form", patched(good, 384, std::string(1, '\0')),
         "[Polynomial::load] Size does not match the context"},
        {"a huge array", patched(good, 427, bytesOf(huge)),
         "[Polynomial::load] Array length does not match the header"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::istringstream in(c.bytes);
        expectThrowsMessage([&] { Rlwe k(ctx, in); }, c.message);
    }

    // Another context's record; an RLWE seed-only record over rank 4.
    std::istringstream other(fullRecord(Rlwe(test::otherContext())));
    expectThrowsMessage([&] { Rlwe k(ctx, other); }, kVerifier);
    std::istringstream rankFour(seedRecord(key));
    expectThrowsMessage([&] { Rlwe k(test::rankFourContext(), rankFour); }, RlweImpl::kRLWEShape);
}

TEST(SecretKeyFileTest, CutRecordsNameTheShortRead) {
    const auto ctx = test::degree64ThreePrimes();
    const Rlwe key(ctx);
    const std::string full = fullRecord(key);
    const std::string seed = seedRecord(key);
    struct Case {
        std::string bytes;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"", "Failed to read 1 bytes from input stream! Read 0"},
        {full.substr(0, 1), "Failed to read 1 bytes from input stream! Read 0"},
        {full.substr(0, 4), "Failed to read 4 bytes from input stream! Read 2"},
        {full.substr(0, 12), "Failed to read 8 bytes from input stream! Read 2"},
        {full.substr(0, 50), "Failed to read 49 bytes from input stream! Read 19"},
        {full.substr(0, 100), "Failed to read 256 bytes from input stream! Read 12"},
        {full.substr(0, 400), "Failed to read 32 bytes from input stream! Read 6"},
        {full.substr(0, 1000), "Failed to read 2048 bytes from input stream! Read 565"},
        {full.substr(0, full.size() - 1), "Failed to read 2048 bytes from input stream! Read 2047"},
        {seed.substr(0, 30), "Failed to read 49 bytes from input stream! Read 8"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes.size());
        std::istringstream in(c.bytes);
        expectThrowsMessage<cereal::Exception>([&] { Rlwe k(ctx, in); }, c.message);
    }
}

} // namespace
} // namespace Quelt
