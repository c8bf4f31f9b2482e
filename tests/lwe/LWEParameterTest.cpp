#include "lwe/LWEParameter.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/LWEParameterPreset.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace Quelt;

namespace {

using Quelt::test::expectThrowsMessage;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

void expectFixedFields(const LWE::Parameter &p) {
    EXPECT_EQ(p.reserved_u64, 1u);
    EXPECT_EQ(p.sigma, 3.2);
    EXPECT_EQ(p.product_word_1, "Quelt");
    EXPECT_EQ(p.product_word_2, "Quelt");
    EXPECT_EQ(p.reserved_u32, 2u);
    EXPECT_EQ(p.max_level, p.chain_length - 1);
}

} // namespace

TEST(LWEParameterTest, PresetRecords) {
    struct Row {
        std::uint32_t value;
        const char *name;
        std::uint64_t dimension, chain_length, hamming_weight;
    };
    const std::vector<Row> rows = {
        {0, "SS7", 1024, 8, 683},
        {1, "SD3", 32, 4, 21},
        {3, "FGbD12L0", 4096, 1, 2731},
        {4, "FGbD12L1", 4096, 2, 2731},
        {5, "Discrete_G8A_LWE", 4096, 1, 2731},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const LWE::Parameter p(static_cast<LWE::ParameterPreset>(r.value));
        EXPECT_EQ(static_cast<std::uint32_t>(p.preset), r.value);
        EXPECT_EQ(p.name, r.name);
        EXPECT_EQ(p.dimension, r.dimension);
        EXPECT_EQ(p.chain_length, r.chain_length);
        EXPECT_EQ(p.hamming_weight, r.hamming_weight);
        EXPECT_EQ(p.base_bits, 0u);
        EXPECT_EQ(p.quantize_bits, 0u);
        EXPECT_EQ(p.security_level, SecurityLevel::SL128);
        expectFixedFields(p);
    }
    EXPECT_EQ(LWE::Parameter(LWE::ParameterPreset::SS7).max_level, 7u);
    EXPECT_EQ(LWE::Parameter(LWE::ParameterPreset::FGbD12L0).max_level, 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(LWE::ParameterPreset::CUSTOM), 2u);
    EXPECT_EQ(static_cast<std::uint32_t>(LWE::ParameterPreset::Discrete_G8A_LWE), 5u);
}

TEST(LWEParameterTest, CustomAndUnknownPresetsAreRejected) {
    expectThrowsMessage([] { LWE::Parameter p(LWE::ParameterPreset::CUSTOM); },
                        "Need to specify some parameters in order to use CUSTOM parameters.");
    for (std::uint32_t v : {6u, 7u, 100u, 0xFFFFFFFFu})
        expectThrowsMessage([&] { LWE::Parameter p(static_cast<LWE::ParameterPreset>(v)); },
                            "The input parameter preset is not yet supported.");
}

TEST(LWEParameterTest, RecordFromSizes) {
    const LWE::Parameter p(1024, 8, 50, 42);
    EXPECT_EQ(p.preset, LWE::ParameterPreset::CUSTOM);
    EXPECT_EQ(p.name, "CUSTOM");
    EXPECT_EQ(p.dimension, 1024u);
    EXPECT_EQ(p.chain_length, 8u);
    EXPECT_EQ(p.max_level, 7u);
    EXPECT_EQ(p.hamming_weight, 683u);
    EXPECT_EQ(p.base_bits, 50u);
    EXPECT_EQ(p.quantize_bits, 42u);
    EXPECT_EQ(p.security_level, SecurityLevel::NONE); // 50 + 7 * 42 = 344 bits over 2^10
    expectFixedFields(p);
}

TEST(LWEParameterTest, SecurityFromSizes) {
    struct Case {
        std::uint64_t dimension, chain_length, base_bits, quantize_bits;
        SecurityLevel expected;
    };
    const std::vector<Case> cases = {
        {2048, 2, 30, 10, SecurityLevel::SL128}, // 40 bits over 2^11
        {2048, 2, 20, 9, SecurityLevel::SL256},  // 29
        {3000, 1, 37, 0, SecurityLevel::SL192},  // floor(log2 3000) = 11
        {3000, 1, 38, 0, SecurityLevel::SL128},
        {4095, 1, 58, 0, SecurityLevel::NONE},     // 2^11: above 54 bits
        {4096, 1, 58, 0, SecurityLevel::SL256},    // 2^12
        {65536, 50, 60, 34, SecurityLevel::SL128}, // 60 + 49 * 34 = 1726
        {65536, 50, 60, 36, SecurityLevel::NONE},  // 1824
        {1000, 1, 10, 0, SecurityLevel::NONE},     // 2^9 is not tabled
        {1 << 18, 1, 10, 0, SecurityLevel::NONE},
        {1024, 1, 0, 0, SecurityLevel::NONE}, // no modulus
        // sizes whose sum exceeds 64 bits must not wrap around to a small total
        {1024, 3, 0, std::uint64_t{1} << 63, SecurityLevel::NONE},
        {1024, 2, kU64Max, kU64Max, SecurityLevel::NONE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.dimension << " " << c.chain_length << " "
                                        << c.base_bits << " " << c.quantize_bits);
        EXPECT_EQ(LWE::Parameter(c.dimension, c.chain_length, c.base_bits, c.quantize_bits)
                      .security_level,
                  c.expected);
    }
}

TEST(LWEParameterTest, HammingWeightRoundsHalfAwayFromZero) {
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> cases = {
        {1, 1},
        {2, 1},
        {3, 2},
        {32, 21},
        {1024, 683},
        {4096, 2731},
        {LWE::kMaxVectorWords, 23456248059221ull}, // the largest dimension accepted
    };
    for (const auto &[dimension, weight] : cases)
        EXPECT_EQ(LWE::Parameter(dimension, 1, 40, 40).hamming_weight, weight) << dimension;
}

TEST(LWEParameterTest, SizeChecksWithTheirMessages) {
    const std::string bad_chain = "[Parameter] Invalid chain_length";
    const std::string bad_dimension = "[Parameter] Invalid dimension";
    EXPECT_NO_THROW(LWE::Parameter(1024, 1, 50, 40));
    EXPECT_NO_THROW(LWE::Parameter(1024, 50, 50, 40));
    EXPECT_NO_THROW(LWE::Parameter(1, 1, 50, 40));
    expectThrowsMessage([&] { LWE::Parameter p(1024, 51, 50, 40); }, bad_chain);
    expectThrowsMessage([&] { LWE::Parameter p(1024, 0, 50, 40); }, bad_chain);
    expectThrowsMessage([&] { LWE::Parameter p(1024, kU64Max, 50, 40); }, bad_chain);
    expectThrowsMessage([&] { LWE::Parameter p(0, 8, 50, 40); }, bad_dimension);
    // the chain-length check comes first
    expectThrowsMessage([&] { LWE::Parameter p(0, 0, 50, 40); }, bad_chain);
    expectThrowsMessage([&] { LWE::Parameter p(0, 51, 50, 40); }, bad_chain);
}

TEST(LWEParameterTest, VectorsMustFitInMemory) {
    // dimension x chain_length words: at most 2^45, and never a product that
    // wraps around 64 bits (2^63 x 2 would read as 0 words, (2^62 + 1) x 4 as 4).
    struct Case {
        std::uint64_t dimension, chain_length;
        bool accepted;
    };
    const Case cases[] = {
        {std::uint64_t{1} << 45, 1, true},
        {std::uint64_t{1} << 44, 2, true},
        {(std::uint64_t{1} << 45) + 1, 1, false},
        {std::uint64_t{1} << 44, 3, false},
        {std::uint64_t{1} << 63, 2, false},
        {(std::uint64_t{1} << 62) + 1, 4, false},
        {kU64Max, 1, false},
        {kU64Max, 50, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.dimension) + " x " + std::to_string(c.chain_length));
        if (c.accepted)
            EXPECT_EQ(LWE::Parameter(c.dimension, c.chain_length, 50, 40).dimension, c.dimension);
        else
            expectThrowsMessage([&] { LWE::Parameter p(c.dimension, c.chain_length, 50, 40); },
                                LWE::kVectorTooLargeMessage);
    }
    // The word count itself, with the same refusals.
    EXPECT_EQ(LWE::vectorWordCount(1024, 8), 8192u);
    expectThrowsMessage([] { LWE::vectorWordCount(std::uint64_t{1} << 63, 2); },
                        LWE::kVectorTooLargeMessage);
}
