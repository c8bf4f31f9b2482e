#include "Quelt/LWE/Context.hpp"

#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"
#include "lwe/LWEContext.hpp"
#include "lwe/LWEParameter.hpp"
#include "support/ByteStreams.hpp"
#include "support/ExpectThrow.hpp"

#include <cereal/details/helpers.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace Quelt::LWE {
namespace {

using Quelt::test::expectThrowsMessage;

using Bytes = std::vector<unsigned char>;

// Hashes and factors computed independently from the prime lists.
struct PresetCase {
    ParameterPreset preset;
    u64 dimension, level;
    std::vector<u64> primes;
    u64 hash;
};

const std::vector<PresetCase> &presetCases() {
    static const std::vector<PresetCase> cases{
        {ParameterPreset::SS7,
         1024,
         7,
         {1125899902124033, 4398044938241, 4398021869569, 4398021345281, 4398018723841,
          4398010859521, 4398007713793, 4398006140929},
         0x46f127cb33526a12ULL},
        {ParameterPreset::SD3,
         32,
         3,
         {140737487306753, 2199020634113, 2199013294081, 2199010148353},
         0x72525cdf9a76976cULL},
        {ParameterPreset::FGbD12L0, 4096, 0, {288230376147386369}, 0x87641f65d24aedc7ULL},
        {ParameterPreset::FGbD12L1,
         4096,
         1,
         {288230376147386369, 4398044938241},
         0xc654ba628a047ed5ULL},
        {ParameterPreset::Discrete_G8A_LWE, 4096, 0, {35184372744193}, 0x4265a4de54d843c8ULL},
    };
    return cases;
}

TEST(LWEContextTest, PresetContexts) {
    for (const PresetCase &c : presetCases()) {
        SCOPED_TRACE("LWE preset " + std::to_string(static_cast<std::uint32_t>(c.preset)));
        const auto ctx = makeContext(c.preset);
        EXPECT_EQ(getDimension(ctx), c.dimension);
        EXPECT_EQ(getEncryptionLevel(ctx), c.level);
        EXPECT_EQ(getSecurityLevel(ctx), SecurityLevel::SL128);
        EXPECT_EQ(getPrimeList(ctx), c.primes);
        EXPECT_EQ(ctx->getHash(), c.hash);
        for (const auto &modulus : ctx->getPrimeModuli().getModuli())
            EXPECT_EQ(modulus.getNttType(), NttType::NONE);
    }
}

TEST(LWEContextTest, DefaultScaleFactors) {
    const std::vector<double> ss7 = getDefaultScaleFactorList(makeContext(ParameterPreset::SS7));
    const std::vector<double> expected{41.99986946420326, 41.99993447412777, 41.99996319546043,
                                       41.99997747013495, 41.99998417751299, 41.99998624132283,
                                       41.99998675727543, 41.99998675727543};
    ASSERT_EQ(ss7.size(), 8u);
    for (u64 l = 0; l < 8; ++l)
        EXPECT_NEAR(ss7[l], expected[l], 1e-12);
    // FGbD12L0 takes the ring preset's first factor.
    EXPECT_EQ(
        getDefaultScaleFactorList(makeContext(ParameterPreset::FGbD12L0)),
        std::vector<double>{ScaleFactors(static_cast<Quelt::ParameterPreset>(44)).getFactors()[0]});
    // FGbD12L1 takes the two factors of the ring preset FGbD12NS1L1, whose
    // primes it holds; level 0's is FGbD12L0's.
    const std::vector<double> l1 =
        getDefaultScaleFactorList(makeContext(ParameterPreset::FGbD12L1));
    EXPECT_EQ(l1, ScaleFactors(Quelt::ParameterPreset::FGbD12NS1L1).getFactors());
    ASSERT_EQ(l1.size(), 2u);
    EXPECT_EQ(l1[0], ScaleFactors(static_cast<Quelt::ParameterPreset>(44)).getFactors()[0]);
    EXPECT_NE(l1[1], 0.0);
}

TEST(LWEContextTest, CustomContexts) {
    const auto ctx = makeContext(64, 3, 50, 40);
    EXPECT_EQ(getPrimeList(ctx),
              (std::vector<u64>{1125899906842597, 1099511627689, 1099511627609}));
    EXPECT_EQ(ctx->getHash(), 0xd77269a2a3547db1ULL);
    EXPECT_EQ(getDimension(ctx), 64u);
    EXPECT_EQ(getEncryptionLevel(ctx), 2u);
    EXPECT_EQ(getDefaultScaleFactorList(ctx).size(), 3u);
    EXPECT_EQ(getDefaultScaleFactorList(ctx)[2], std::log2(1099511627609.0));
    EXPECT_EQ(makeContext(1024, 2, 46, 45)->getHash(), 0x007f8b59713a37e6ULL);
    EXPECT_EQ(getEncryptionLevel(makeContext(16, 50, 50, 40)), 49u);
}

TEST(LWEContextTest, RefusedSizesAndDevices) {
    expectThrowsMessage([] { makeContext(64, 51, 50, 40); }, "[Parameter] Invalid chain_length");
    expectThrowsMessage([] { makeContext(64, 0, 50, 40); }, "[Parameter] Invalid chain_length");
    expectThrowsMessage([] { makeContext(0, 2, 50, 40); }, "[Parameter] Invalid dimension");
    expectThrowsMessage([] { makeContext(64, 2, 62, 40); },
                        "[PrimeModuli] Prime size is too big. It should be < 62");
    expectThrowsMessage([] { makeContext(64, 2, 40, 50); },
                        "[PrimeModuli] Base prime should be greater than quantize primes");
    expectThrowsMessage([] { makeContext(64, 2, 40, 35); },
                        "[PrimeModuli] Quantize primes should be greater than or equal to 36 bit");
    expectThrowsMessage([] { makeContext(ParameterPreset::SS7, {0}); },
                        "Invalid CUDA device ID: 0");
    expectThrowsMessage([] { makeContext(ParameterPreset::CUSTOM); },
                        "Need to specify some parameters in order to use CUSTOM parameters.");
    expectThrowsMessage([] { makeContext(static_cast<ParameterPreset>(6)); },
                        "The input parameter preset is not yet supported.");
    const std::shared_ptr<ContextContent> none;
    expectThrowsMessage([&] { getDimension(none); }, kNullContextMessage);
}

TEST(LWEContextTest, Equality) {
    const auto ss7 = makeContext(ParameterPreset::SS7);
    EXPECT_TRUE(*ss7 == *makeContext(ParameterPreset::SS7));
    EXPECT_TRUE(*ss7 != *makeContext(ParameterPreset::SD3));
    const auto three = makeContext(64, 3, 50, 40);
    const auto four = makeContext(64, 4, 50, 40);
    EXPECT_TRUE(*three == *four);
    EXPECT_FALSE(*three != *four);
    EXPECT_NE(three->getHash(), four->getHash());
    EXPECT_TRUE(*three != *makeContext(64, 3, 51, 40));
    EXPECT_TRUE(*three != *makeContext(128, 3, 50, 40));
    EXPECT_TRUE(*three != *ss7);
    EXPECT_TRUE(*ss7 != *three);
}

class LWEContextFileTest : public ::testing::Test {
protected:
    std::string path(const std::string &name) const { return temp_.file(name); }
    static Bytes readBytes(const std::string &file) {
        std::ifstream in(file, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void writeBytes(const std::string &file, const Bytes &bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    // A directory of this test's own, removed with its files afterwards.
    const Quelt::test::TempDirectory temp_{
        std::string("lwe_context_file_") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name()};
    const std::filesystem::path &dir_ = temp_.path();
};

// preset, dimension, base_bits, quantize_bits, chain_length.
Bytes lweFile(const std::vector<u64> &fields, bool big_endian) {
    Bytes bytes{static_cast<unsigned char>(big_endian ? 0 : 1)};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const int width = i == 0 ? 4 : 8;
        for (int k = 0; k < width; ++k) {
            const int shift = 8 * (big_endian ? width - 1 - k : k);
            bytes.push_back(static_cast<unsigned char>(fields[i] >> shift));
        }
    }
    return bytes;
}

TEST_F(LWEContextFileTest, PresetFileIsByteExactAndReloadsEqual) {
    const auto ctx = makeContext(ParameterPreset::SS7);
    saveContextToFile(ctx, path("ss7"));
    const Bytes bytes = readBytes(path("ss7"));
    ASSERT_EQ(bytes.size(), 37u);
    EXPECT_EQ(bytes, lweFile({0, 1024, 0, 0, 8}, false));
    const auto reloaded = makeContextFromFile(path("ss7"));
    EXPECT_TRUE(*reloaded == *ctx);
    EXPECT_EQ(reloaded->getHash(), ctx->getHash());
}

TEST_F(LWEContextFileTest, CustomFileReloadsTheSamePrimes) {
    const auto ctx = makeContext(64, 3, 50, 40);
    saveContextToFile(ctx, path("custom"));
    EXPECT_EQ(readBytes(path("custom")), lweFile({2, 64, 50, 40, 3}, false));
    const auto reloaded = makeContextFromFile(path("custom"));
    EXPECT_TRUE(*reloaded == *ctx);
    EXPECT_EQ(reloaded->getHash(), ctx->getHash());
    EXPECT_EQ(getPrimeList(reloaded), getPrimeList(ctx));
}

TEST_F(LWEContextFileTest, BigEndianShortAndInvalidFiles) {
    writeBytes(path("be"), lweFile({2, 64, 50, 40, 3}, true));
    EXPECT_EQ(makeContextFromFile(path("be"))->getHash(), 0xd77269a2a3547db1ULL);
    writeBytes(path("be_preset"), lweFile({1, 0, 0, 0, 0}, true));
    EXPECT_EQ(getDimension(makeContextFromFile(path("be_preset"))), 32u);

    Bytes bytes = lweFile({0, 1024, 0, 0, 8}, false);
    bytes.pop_back();
    writeBytes(path("short"), bytes);
    EXPECT_THROW(makeContextFromFile(path("short")), cereal::Exception);
    expectThrowsMessage([&] { makeContextFromFile(path("missing")); },
                        "Cannot open file " + path("missing"));
    expectThrowsMessage(
        [&] { saveContextToFile(makeContext(ParameterPreset::SD3), dir_.string()); },
        "Cannot open file " + dir_.string());

    writeBytes(path("preset"), lweFile({9, 1024, 0, 0, 8}, false));
    expectThrowsMessage([&] { makeContextFromFile(path("preset")); },
                        "The input parameter preset is not yet supported.");
    for (const std::vector<u64> &bad :
         {std::vector<u64>{2, 64, 50, 40, 0}, std::vector<u64>{2, 0, 50, 40, 3},
          std::vector<u64>{2, 64, 50, 40, 51}, std::vector<u64>{2, 64, 99, 40, 3},
          std::vector<u64>{2, 64, 50, ~u64{0}, 3}}) {
        writeBytes(path("bad"), lweFile(bad, false));
        EXPECT_THROW(makeContextFromFile(path("bad")), RuntimeException);
    }
}

TEST_F(LWEContextFileTest, DimensionsWhoseVectorsCannotExistAreRefused) {
    // A dimension of 2^63 with two primes makes a vector of 2^64 words, which
    // a 64-bit count reads as 0: refused before any prime is sought or any
    // word drawn.
    auto &generator = UniformRandomBitGenerator::getInstance();
    const std::string state = generator.getState();
    writeBytes(path("huge"), lweFile({2, u64{1} << 63, 50, 40, 2}, false));
    ASSERT_EQ(readBytes(path("huge")).size(), 37u);
    expectThrowsMessage([&] { makeContextFromFile(path("huge")); }, kVectorTooLargeMessage);
    expectThrowsMessage([] { makeContext((u64{1} << 62) + 1, 4, 50, 40); }, kVectorTooLargeMessage);
    EXPECT_EQ(generator.getState(), state);
}

} // namespace
} // namespace Quelt::LWE
