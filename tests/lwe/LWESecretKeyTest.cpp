#include "Quelt/LWE/SecretKey.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/Random.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"
#include "support/KeyTestSupport.hpp"
#include "support/LweTestSupport.hpp"
#include "support/PolyTestSupport.hpp"

#include <cereal/details/helpers.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace Quelt::test {
namespace {

using LWE::ParameterPreset;
using LWE::SecretKey;
using Quelt::test::bytesOf;
using Quelt::test::TempFile;

constexpr u64 kSD3Hash = 0x72525cdf9a76976cULL;
constexpr u64 kDim = 32; // SD3
const std::vector<u64> kSD3Primes = {140737487306753, 2199020634113, 2199013294081, 2199010148353};

std::shared_ptr<LWE::ContextContent> sd3() { return lweContext(ParameterPreset::SD3); }

std::vector<int> coefficientsOf(const SecretKey &key) {
    const u64 n = key.getSx().getDimension();
    return std::vector<int>(key.getCoefficients(), key.getCoefficients() + n);
}

// Coefficients -16 .. 15 of a key from given values.
std::vector<int> givenCoefficients() {
    std::vector<int> c(kDim);
    std::iota(c.begin(), c.end(), -16);
    return c;
}

SecretKey givenKey(const std::vector<int> &c) {
    int *data = const_cast<int *>(c.data());
    return SecretKey(sd3(), data);
}

// Every limb of sx holds the coefficients modulo its prime.
void expectResiduesOf(const SecretKey &key, const std::vector<int> &c) {
    const std::vector<u64> primes = LWE::getPrimeList(key.getContext());
    const LevelledVector &sx = key.getSx();
    ASSERT_EQ(sx.getLevel(), primes.size() - 1);
    ASSERT_EQ(sx.getData().size(), primes.size() * c.size());
    for (u64 i = 0; i < primes.size(); ++i)
        for (u64 j = 0; j < c.size(); ++j) {
            const u64 q = primes[i];
            const u64 expected = c[j] < 0 ? q - static_cast<u64>(-c[j]) : static_cast<u64>(c[j]);
            ASSERT_EQ(sx.getLimb(i)[j], expected) << "limb " << i << " entry " << j;
        }
}

// The state record of a generator seeded with kTestSeed and not yet drawn
// from, written by hand.
std::string freshState(bool big = false) {
    std::string s(1, big ? '\0' : '\1');
    for (u64 w : {1, 2, 3, 4, 0, 0})
        s += bytesOf<u64>(w, big);
    return s;
}

std::string fullRecord(const std::vector<int> &c, bool big) {
    std::string r(1, big ? '\0' : '\1');
    r += std::string(1, '\0') + bytesOf<std::uint32_t>(1, big);
    r += bytesOf<u64>(kSD3Hash, big) + bytesOf<std::uint32_t>(2, big);
    r += std::string(1, '\0') + bytesOf<u64>(0, big); // not random, no seed
    r += bytesOf<u64>(kDim, big);
    for (int v : c)
        r += bytesOf<std::uint32_t>(static_cast<std::uint32_t>(v), big);
    r += bytesOf<u64>(kDim, big) + bytesOf<u64>(3, big) + bytesOf<u64>(4 * kDim, big);
    for (u64 q : kSD3Primes)
        for (int v : c)
            r += bytesOf<u64>(v < 0 ? q - static_cast<u64>(-v) : static_cast<u64>(v), big);
    return r;
}

std::string seedOnlyRecord(const std::string &state, bool big) {
    std::string r(1, big ? '\0' : '\1');
    r += std::string(1, '\0') + bytesOf<std::uint32_t>(2, big) + bytesOf<std::uint32_t>(2, big);
    r += bytesOf<u64>(state.size(), big) + state;
    return r;
}

SecretKey loadKey(const std::string &bytes) {
    std::istringstream in(bytes);
    return SecretKey(sd3(), in);
}

TEST(LWESecretKeyTest, SampledKeysHaveTheWeightOfTheirContext) {
    for (auto [preset, weight] :
         std::vector<std::pair<ParameterPreset, u64>>{{ParameterPreset::SD3, 21},
                                                      {ParameterPreset::SS7, 683},
                                                      {ParameterPreset::FGbD12L0, 2731}}) {
        SCOPED_TRACE(static_cast<int>(preset));
        const SecretKey key(lweContext(preset));
        const std::vector<int> c = coefficientsOf(key);
        EXPECT_EQ(c.size(), LWE::getDimension(key.getContext()));
        EXPECT_EQ(static_cast<u64>(std::count_if(c.begin(), c.end(), [](int v) { return v != 0; })),
                  weight);
        EXPECT_TRUE(std::all_of(c.begin(), c.end(), [](int v) { return v >= -1 && v <= 1; }));
        expectResiduesOf(key, c);
        EXPECT_EQ(key.getDevice(), kHostDevice);
    }
    expectThrowsMessage([] { SecretKey key(nullptr); }, "[Context] The context is null");
}

TEST(LWESecretKeyTest, GivenCoefficientsAreCopied) {
    std::vector<int> c = givenCoefficients();
    const SecretKey key = givenKey(c);
    c[0] = 7;
    expectResiduesOf(key, givenCoefficients());
    EXPECT_EQ(coefficientsOf(key), givenCoefficients());

    SecretKey copy = key;
    copy.getCoefficients()[1] = 99;
    EXPECT_EQ(coefficientsOf(key), givenCoefficients());

    int *null = nullptr;
    expectThrowsMessage([&] { SecretKey(sd3(), null); }, "[Secret Key] The coefficients are null");
    const TempFile file("lwe_not_random");
    expectThrowsMessage([&] { seedRecord(key); }, "The secret key is not randomly generated");
    expectThrowsMessage([&] { key.saveSeedOnly(file.path()); },
                        "The secret key is not randomly generated");
    EXPECT_FALSE(std::filesystem::exists(file.path()));
}

TEST(LWESecretKeyTest, FullRecordIsByteExactInBothByteOrders) {
    const std::vector<int> c = givenCoefficients();
    const SecretKey key = givenKey(c);
    const std::string little = fullRecord(c, false);
    EXPECT_EQ(streamBytes(key), little);
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        const SecretKey loaded = loadKey(fullRecord(c, big));
        EXPECT_EQ(coefficientsOf(loaded), c);
        EXPECT_EQ(streamBytes(loaded), little);
    }
}

TEST(LWESecretKeyTest, SeedOnlyRecordIsByteExactAndReloadsTheSameKey) {
    reseed();
    const SecretKey key(sd3());
    const std::string little = seedOnlyRecord(freshState(), false);
    ASSERT_EQ(little.size(), 67u);
    EXPECT_EQ(seedRecord(key), little);

    // The full record of the sampled key carries the same state as its seed.
    const std::string full = streamBytes(key);
    EXPECT_EQ(full.substr(19, 8 + 49), bytesOf<u64>(49) + freshState());

    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        // Reloading on a generator far from the seed's state.
        setSeed({9, 9, 9, 9});
        const std::string state = UniformRandomBitGenerator::getInstance().getState();
        const std::uint64_t next = peekWord();
        const SecretKey reloaded = loadKey(seedOnlyRecord(freshState(), big));
        EXPECT_EQ(streamBytes(reloaded), full);
        EXPECT_EQ(UniformRandomBitGenerator::getInstance().getState(), state);
        EXPECT_EQ(UniformRandomBitGenerator::getInstance()(), next);
    }
}

TEST(LWESecretKeyTest, RoundTripsThroughStreamsAndFiles) {
    reseed();
    const SecretKey key(sd3());
    const std::string full = streamBytes(key);
    const TempFile file("lwe_secret_key"), seed_file("lwe_secret_key_seed");
    key.save(file.path());
    key.saveSeedOnly(seed_file.path());
    EXPECT_EQ(file.read(), full);
    EXPECT_EQ(seed_file.read(), seedRecord(key));
    EXPECT_EQ(streamBytes(SecretKey(sd3(), file.path())), full);
    EXPECT_EQ(streamBytes(SecretKey(sd3(), seed_file.path())), full);
    EXPECT_EQ(streamBytes(loadKey(full)), full);

    const std::string missing = "/nonexistent-directory/sk.bin";
    expectThrowsMessage([&] { SecretKey(sd3(), missing); }, "Cannot open file " + missing);
}

TEST(LWESecretKeyTest, DamagedRecordsAreRefusedAndTheGeneratorIsKept) {
    const std::string full = fullRecord(givenCoefficients(), false);
    const std::string seed = seedOnlyRecord(freshState(), false);
    auto edited = [](const std::string &record, std::size_t at, const std::string &field) {
        return [=] {
            std::string r = record;
            r.replace(at, field.size(), field);
            return r;
        };
    };
    constexpr std::size_t kFlagAt = 18, kCountAt = 27, kSxDimensionAt = 163, kSxLevelAt = 171;
    const std::string kValidation =
        "[Verifier::load] Validation failed during deserializing objects.";
    const std::string kOption = "[load SecretKey] Invalid serialize option";
    struct Case {
        const char *name;
        std::function<std::string()> record;
        std::string message; // empty: a short read
    };
    const std::vector<Case> cases{
        {"option absent", edited(full, 1, std::string(1, '\1')), kOption},
        {"option byte 3", edited(full, 1, std::string(1, '\3')), kOption},
        {"option 0", edited(full, 2, bytesOf<std::uint32_t>(0)), kOption},
        {"option 3", edited(full, 2, bytesOf<std::uint32_t>(3)), kOption},
        {"hash", edited(full, 6, bytesOf<u64>(kSD3Hash ^ 1)), kValidation},
        {"code", edited(full, 14, bytesOf<std::uint32_t>(3)), kValidation},
        {"random flag", edited(full, kFlagAt, std::string(1, '\2')),
         "[load SecretKey] The stored random flag is neither 0 nor 1"},
        {"seed missing", edited(full, kFlagAt, std::string(1, '\1')),
         "[load SecretKey] The stored seed length does not match the random flag"},
        {"coefficient count", edited(full, kCountAt, bytesOf<u64>(kDim + 1)),
         "[load SecretKey] The stored coefficient count does not match the context"},
        {"sx dimension", edited(full, kSxDimensionAt, bytesOf<u64>(kDim * 2)),
         "[LevelledVector::load] Dimension does not match the context"},
        {"sx below the top", edited(full, kSxLevelAt, bytesOf<u64>(2)),
         "[load SecretKey] The stored sx is not at the top level"},
        {"full record cut", [&] { return full.substr(0, full.size() - 3); }, ""},
        {"seed-only code", edited(seed, 6, bytesOf<std::uint32_t>(3)), kValidation},
        {"state length", edited(seed, 10, bytesOf<u64>(48)),
         "[load SecretKey] The stored generator state does not have 49 bytes"},
        {"seed-only record cut", [&] { return seed.substr(0, seed.size() - 1); }, ""},
    };
    setSeed({5, 6, 7, 8});
    const std::string state = UniformRandomBitGenerator::getInstance().getState();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.message.empty())
            EXPECT_THROW(loadKey(c.record()), cereal::Exception);
        else
            expectThrowsMessage([&] { loadKey(c.record()); }, c.message);
        EXPECT_EQ(UniformRandomBitGenerator::getInstance().getState(), state);
    }
    // As in the ring schemes' records, only the lowest bit of the option's
    // flag byte counts: 2 says present.
    EXPECT_EQ(streamBytes(loadKey(edited(full, 1, std::string(1, '\2'))())), full);
}

} // namespace
} // namespace Quelt::test
