#include "Quelt/FuseRotationKey.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "keys/Serialize.hpp"
#include "support/ByteStreams.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"
#include "support/PolyTestSupport.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace Quelt;
using Quelt::test::bytesOf;
using Quelt::test::expectThrowsMessage;

namespace {

constexpr const char *kVerifierMessage =
    "[Verifier::load] Validation failed during deserializing objects.";

// Residues of their own for every host polynomial, the two temporary limbs
// included.
void fillKey(FuseRotationKey &key, std::uint64_t seed) {
    const auto &ctx = key.getContext();
    for (std::uint64_t i = 0; i <= getNumSecret(ctx); ++i)
        Quelt::test::fillResidues(key.getPoly(kHostDevice, i), seed + i, getPrimeList(ctx));
}

std::vector<std::vector<std::uint64_t>> keyWords(const FuseRotationKey &key) {
    std::vector<std::vector<std::uint64_t>> words;
    for (std::uint64_t i = 0; i <= getNumSecret(key.getContext()); ++i)
        words.push_back(Quelt::test::wordsOf(key.getPoly(kHostDevice, i)));
    return words;
}

std::string saved(const FuseRotationKey &key) {
    std::ostringstream out;
    Serialize::save(out, key);
    return out.str();
}

void loadKey(FuseRotationKey &key, const std::string &bytes) {
    std::istringstream in(bytes);
    Serialize::load(in, key);
}

} // namespace

TEST(FuseRotationKeyTest, HoldsOnePolynomialPerSecretAndTheMask) {
    for (const auto &ctx : {Quelt::test::degree64FourPrimes(), Quelt::test::multiSecretContext()}) {
        const std::uint64_t secrets = getNumSecret(ctx);
        const std::uint64_t length = getLength(ctx);
        SCOPED_TRACE(secrets);
        FuseRotationKey key(ctx);
        EXPECT_EQ(key.getContext(), ctx);
        const std::vector<std::uint64_t> chain = getPrimeList(ctx);
        for (std::uint64_t i = 0; i <= secrets; ++i) {
            const Polynomial &p = key.getPoly(kHostDevice, i);
            EXPECT_EQ(p.getLevel(), length + 1);
            EXPECT_EQ(p.getData().size(), (length + 2) * getDegree(ctx));
            EXPECT_EQ(p.getSize(), length);
            EXPECT_EQ(p.getPrimes(), std::vector<std::uint64_t>(
                                         chain.begin(), chain.begin() + static_cast<long>(length)));
            EXPECT_FALSE(p.isModUp());
            EXPECT_TRUE(p.isNTT());
        }
        const std::string range = "vector::_M_range_check: __n (which is " +
                                  std::to_string(secrets + 1) + ") >= this->size() (which is " +
                                  std::to_string(secrets + 1) + ")";
        expectThrowsMessage<std::out_of_range>([&] { key.getPoly(kHostDevice, secrets + 1); },
                                               range);
        const FuseRotationKey &constant = key;
        expectThrowsMessage<std::out_of_range>([&] { constant.getPoly(kHostDevice, secrets + 1); },
                                               range);
        expectThrowsMessage<std::out_of_range>([&] { key.getPoly(Device{0, 1}, 0); }, "map::at");
    }

    // The top two limbs live on temporary primes, so one is not enough.
    expectThrowsMessage([] { FuseRotationKey key(Quelt::test::fiveDigitContext()); },
                        FuseRotationKey::kTooFewTemporaryPrimes);
}

TEST(FuseRotationKeyTest, RecordCarriesTheHashTwice) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    FuseRotationKey key(ctx);
    fillKey(key, 4);
    const std::string bytes = saved(key);
    const std::uint64_t hash = ctx->getHash();
    std::string expected = "\x01" + bytesOf(hash) + bytesOf(std::uint32_t{5}) + bytesOf(hash) +
                           bytesOf(std::uint64_t{2});
    for (std::uint64_t i = 0; i < 2; ++i)
        expected += test::saveToString(key.getPoly(kHostDevice, i)).substr(1);
    EXPECT_EQ(Quelt::test::firstDifference(bytes, expected), std::string::npos);
    EXPECT_EQ(bytes.substr(9, 4), std::string("\x05\x00\x00\x00", 4));

    FuseRotationKey loaded(ctx);
    loadKey(loaded, bytes);
    EXPECT_EQ(keyWords(loaded), keyWords(key));
    EXPECT_EQ(saved(loaded), bytes);

    // Only the first hash is checked.
    std::string secondChanged = bytes;
    test::putWord(secondChanged, 13, hash ^ 1);
    FuseRotationKey other(ctx);
    loadKey(other, secondChanged);
    EXPECT_EQ(keyWords(other), keyWords(key));

    std::string firstChanged = bytes;
    test::putWord(firstChanged, 1, hash ^ 1);
    std::string code = bytes;
    code[9] = 1;
    for (const std::string &bad : {firstChanged, code}) {
        FuseRotationKey target(ctx);
        fillKey(target, 9);
        const std::string before = saved(target);
        expectThrowsMessage([&] { loadKey(target, bad); }, kVerifierMessage);
        EXPECT_EQ(saved(target), before);
    }
}

TEST(FuseRotationKeyTest, DamagedRecordsLeaveTheKeyUnchanged) {
    const auto ctx = Quelt::test::degree64FourPrimes();
    FuseRotationKey key(ctx);
    fillKey(key, 4);
    const std::string good = saved(key);
    const std::uint64_t hash = ctx->getHash();
    const std::string header = "\x01" + bytesOf(hash) + bytesOf(std::uint32_t{5}) + bytesOf(hash);
    const std::string poly0 = test::saveToString(key.getPoly(kHostDevice, 0)).substr(1);
    Polynomial ordinary(ctx, false, true);
    Quelt::test::fillResidues(ordinary, 2);

    struct Case {
        const char *name;
        std::string bytes;
        const char *message;
    };
    const Case cases[] = {
        {"one polynomial too few", header + bytesOf(std::uint64_t{1}) + poly0,
         FuseRotationKey::kLoadCount},
        {"huge count", header + bytesOf(~std::uint64_t{0}) + poly0, FuseRotationKey::kLoadCount},
        {"an ordinary polynomial",
         header + bytesOf(std::uint64_t{2}) + poly0 + test::saveToString(ordinary).substr(1),
         "[Polynomial::load] Not the shape of a fused rotation key polynomial"},
    };
    auto expectUnchanged = [&](const std::string &bytes, auto check) {
        FuseRotationKey target(ctx);
        fillKey(target, 8);
        target.copyTo(Device{0, 1});
        const auto before = keyWords(target);
        check(target, bytes);
        EXPECT_EQ(keyWords(target), before);
        EXPECT_NO_THROW(target.getPoly(Device{0, 1}, 0));
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        expectUnchanged(c.bytes, [&](FuseRotationKey &target, const std::string &bytes) {
            expectThrowsMessage([&] { loadKey(target, bytes); }, c.message);
        });
    }
    for (std::size_t cut : {std::size_t{10}, std::size_t{25}, good.size() / 2, good.size() - 1}) {
        SCOPED_TRACE(cut);
        expectUnchanged(good.substr(0, cut), [](FuseRotationKey &target, const std::string &bytes) {
            EXPECT_THROW(loadKey(target, bytes), cereal::Exception);
        });
    }

    // A successful load leaves only the host entry.
    FuseRotationKey target(ctx);
    target.copyTo(Device{0, 1});
    loadKey(target, good);
    expectThrowsMessage<std::out_of_range>([&] { target.getPoly(Device{0, 1}, 0); }, "map::at");
}

TEST(FuseRotationKeyTest, CopyToRemoveExceptAndPaths) {
    const auto ctx = Quelt::test::multiSecretContext();
    FuseRotationKey key(ctx);
    fillKey(key, 6);
    const auto words = keyWords(key);
    const auto *hostData = key.getPoly(kHostDevice, 4).getData().getData();

    key.copyTo(kHostDevice);
    key.copyTo(Device{0, 1});
    EXPECT_EQ(key.getPoly(kHostDevice, 4).getData().getData(), hostData);
    EXPECT_EQ(Quelt::test::wordsOf(key.getPoly(Device{0, 1}, 4)), words[4]);
    EXPECT_EQ(key.getPoly(Device{0, 1}, 4).getLevel(), getLength(ctx) + 1);
    key.removeExcept(kHostDevice);
    expectThrowsMessage<std::out_of_range>([&] { key.getPoly(Device{0, 1}, 0); }, "map::at");
    expectThrowsMessage(
        [&] {
            key.copyTo(Device{1, 0});
        },
        "Cannot support the function 'doAllocate' in the current build configuration");
    EXPECT_EQ(key.getPoly(kHostDevice, 4).getData().getData(), hostData);

    Quelt::test::TempFile file("fuse_rotation_key.bin");
    Serialize::save(file.path(), key);
    FuseRotationKey loaded(ctx);
    Serialize::load(file.path(), loaded);
    EXPECT_EQ(keyWords(loaded), words);
    // Same chain, but one secret: the count does not fit.
    FuseRotationKey single(Quelt::test::degree64FourPrimes());
    expectThrowsMessage([&] { Serialize::load(file.path(), single); }, FuseRotationKey::kLoadCount);
    // Another chain: another hash.
    FuseRotationKey foreign(Quelt::test::degree64FivePrimes());
    expectThrowsMessage([&] { Serialize::load(file.path(), foreign); }, kVerifierMessage);

    key.removeExcept(Device{0, 2});
    expectThrowsMessage<std::out_of_range>([&] { Serialize::save(file.path(), key); }, "map::at");
    const std::string missing = file.path() + ".missing/key.bin";
    expectThrowsMessage([&] { Serialize::load(missing, loaded); }, "Cannot open file " + missing);
}
