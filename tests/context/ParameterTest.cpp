#include "context/Parameter.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "support/ExpectThrow.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace Quelt;

namespace {

using Quelt::test::expectThrowsMessage;

constexpr std::uint32_t kCustomValue = 21;
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

ParameterPreset preset(std::uint32_t value) { return static_cast<ParameterPreset>(value); }

std::vector<std::uint32_t> namedPresetValues() {
    std::vector<std::uint32_t> values;
    for (std::uint32_t v = 0; v <= 119; ++v)
        if (v != kCustomValue)
            values.push_back(v);
    return values;
}

// The record's flags as letters in table order: B X S H T F C R O U M P G
// (cyclic_ntt has no letter; presets never set it).
std::string flagLetters(const Parameter &p) {
    std::string s;
    if (p.bootstrappable)
        s += 'B';
    if (p.extended_bootstrap)
        s += 'X';
    if (p.sparse_secret_encapsulation)
        s += 'S';
    if (p.double_hoisting)
        s += 'H';
    if (p.batch_bootstrap)
        s += 'T';
    if (p.fuse_mod_raise)
        s += 'F';
    if (p.coeff_boot)
        s += 'C';
    if (p.re_remove_i)
        s += 'R';
    if (p.outsourced_bootstrap)
        s += 'O';
    if (p.outsourcing_parameter)
        s += 'U';
    if (p.small_parameter)
        s += 'M';
    if (p.full_packed_base_modulus)
        s += 'P';
    if (p.automatic_gap_resolve)
        s += 'G';
    return s;
}

const std::string kNotSupported = "The input parameter preset is not yet supported.";
const std::string kCustom = "Need to specify some parameters in order to use CUSTOM parameters.";
const std::string kBadLogDegree = "[Parameter] Invalid log_degree";
const std::string kBadChainLength = "[Parameter] Invalid chain_length";
const std::string kBadGadgetRank = "[Parameter] Invalid gadget_rank";
const std::string kBadRank = "[Parameter] custom parameter with rank > 1 is not supported.";

// A preset row as written in the preset table; -1 marks "no parent".
struct ExpectedRow {
    std::uint32_t value;
    const char *name;
    std::uint64_t log_degree, rank, num_secret, chain_length, gadget_rank, num_tp, encryption_level;
    std::uint64_t remove_i_begin, remove_i_end;
    std::uint64_t hamming_weight;
    int parent;
    const char *flags;
};

// Rows chosen to cover every column's range: both ends of the value range,
// each flag letter, every parent, rank above 1, several secrets, the two rows
// named FGbD9R3L0, remove-I levels, degrees 2^3 to 2^17 and FX.
const std::vector<ExpectedRow> kExpectedRows = {
    {0, "FVa", 17, 1, 1, 30, 3, 10, 29, 0, 0, 64, -1, "BX"},
    {1, "FVb", 17, 1, 1, 30, 3, 10, 14, 0, 0, 128, -1, "BX"},
    {4, "FGbMS", 16, 1, 4, 25, 5, 5, 12, 0, 0, 192, -1, "BXF"},
    {6, "FGbSSEMS2", 16, 1, 2, 24, 4, 6, 13, 0, 0, 256, -1, "BXSTF"},
    {11, "FFFMS", 16, 1, 4, 24, 4, 6, 13, 0, 0, 256, -1, "BXSH"},
    {13, "FTb", 15, 1, 1, 16, 16, 1, 4, 0, 0, 192, -1, "B"},
    {14, "ST19", 15, 1, 1, 20, 20, 1, 19, 0, 0, 21845, -1, ""},
    {20, "SD3", 13, 1, 1, 4, 4, 1, 3, 0, 0, 5461, -1, ""},
    {22, "FVc", 17, 1, 1, 30, 3, 10, 13, 0, 0, 128, -1, "BX"},
    {23, "FX", 6, 1, 1, 25, 5, 5, 12, 0, 0, 8, -1, "BX"},
    {26, "FGbD12NS6L1", 12, 1, 6, 2, 2, 1, 1, 0, 0, 2730, -1, ""},
    {30, "FGbD9R3L0", 3, 512, 1, 1, 1, 1, 0, 0, 0, 2730, -1, ""},
    {35, "SGb0MS16", 16, 1, 16, 1, 1, 1, 0, 0, 0, 32, -1, ""},
    {40, "FTxCOEFF", 15, 1, 1, 21, 7, 3, 7, 0, 0, 256, -1, "BSTC"},
    {42, "SD3D6R2", 6, 4, 1, 4, 4, 1, 3, 0, 0, 171, -1, ""},
    {45, "FGbD9R3L0", 9, 8, 1, 1, 1, 1, 0, 0, 0, 2730, -1, ""},
    {47, "FGbD6R6L0", 6, 64, 1, 1, 1, 1, 0, 0, 0, 2730, -1, ""},
    {49, "FGbSmall", 16, 1, 1, 5, 1, 4, 4, 0, 0, 192, 3, "BXM"},
    {50, "FGf", 16, 1, 1, 25, 5, 5, 12, 21, 13, 192, -1, "BXSTFRO"},
    {52, "FGfO", 16, 1, 1, 21, 5, 5, 8, 17, 9, 192, 50, "BXSTFRU"},
    {58, "FGfOL7Low", 16, 1, 1, 17, 2, 7, 4, 13, 5, 192, 57, "BXSFRU"},
    {59, "FGfL7SmallLow", 16, 1, 1, 5, 1, 3, 4, 0, 0, 192, 57, "BXTROM"},
    {63, "FGh", 16, 1, 1, 35, 5, 7, 22, 0, 0, 192, -1, "BX"},
    {70, "FGSc", 16, 1, 1, 27, 9, 3, 14, 23, 15, 256, -1, "BXSR"},
    {72, "FGSd", 16, 1, 1, 28, 7, 4, 15, 24, 16, 256, -1, "BXSR"},
    {74, "FGCa", 16, 1, 1, 24, 4, 6, 8, 20, 12, 256, -1, "BSTCR"},
    {77, "FGeO", 16, 1, 1, 21, 5, 5, 8, 0, 0, 192, 76, "BXFU"},
    {81, "Discrete_G8A_Small", 16, 1, 1, 5, 1, 4, 4, 0, 0, 192, 80, "BOMP"},
    {82, "Discrete_G8A_OBTS", 16, 1, 1, 19, 2, 9, 7, 0, 0, 192, 80, "BSFUPG"},
    {87, "Discrete_G8A_D9R3L0", 9, 8, 1, 1, 1, 1, 0, 0, 0, 2730, -1, ""},
    {91, "Discrete_G8B_SHE", 16, 1, 1, 12, 1, 7, 11, 0, 0, 192, -1, ""},
    {97, "Discrete_G12", 16, 1, 1, 27, 3, 6, 15, 0, 0, 192, -1, "BSP"},
    {99, "KAPLO_BTS", 16, 1, 1, 22, 4, 6, 9, 18, 10, 192, -1, "BXSTFRO"},
    {104, "KAPLO_BTS_D12L0", 12, 1, 1, 1, 1, 1, 0, 0, 0, 2730, -1, "R"},
    {111, "KAPLO_2_CLEANING", 16, 1, 1, 13, 2, 6, 12, 0, 0, 192, -1, "R"},
    {114, "KAPLO_3_BTS_OUTSOURCE", 16, 1, 1, 20, 2, 10, 7, 16, 8, 192, 112, "BXSFRU"},
    {115, "KAPLO_3_BTS_OUTSOURCE_REAL", 16, 1, 1, 20, 3, 7, 7, 16, 8, 192, 112, "BXSFRU"},
    {116, "KAPLO_3_BTS_SMALL", 16, 1, 1, 4, 1, 3, 3, 0, 0, 192, 112, "BXTROM"},
    {119, "KAPLO_3_CLEANING", 16, 1, 1, 14, 2, 6, 13, 0, 0, 192, -1, "R"},
};

} // namespace

TEST(ParameterPresetTest, RecordsMatchTheirTableRows) {
    for (const ExpectedRow &row : kExpectedRows) {
        SCOPED_TRACE(row.value);
        const Parameter p(preset(row.value));
        EXPECT_EQ(static_cast<std::uint32_t>(p.preset), row.value);
        EXPECT_EQ(p.name, row.name);
        EXPECT_EQ(p.log_degree, row.log_degree);
        EXPECT_EQ(p.degree, std::uint64_t{1} << row.log_degree);
        EXPECT_EQ(p.num_slots, std::uint64_t{1} << (row.log_degree - 1));
        EXPECT_EQ(p.rank, row.rank);
        EXPECT_EQ(p.num_secret, row.num_secret);
        EXPECT_EQ(p.chain_length, row.chain_length);
        EXPECT_EQ(p.num_base_primes, 1u);
        EXPECT_EQ(p.num_quantize_primes, row.chain_length - 1);
        EXPECT_EQ(p.gadget_rank, row.gadget_rank);
        EXPECT_EQ(p.num_tp, row.num_tp);
        EXPECT_EQ(p.encryption_level, row.encryption_level);
        EXPECT_EQ(p.remove_i_begin_level, row.remove_i_begin);
        EXPECT_EQ(p.remove_i_end_level, row.remove_i_end);
        EXPECT_EQ(p.hamming_weight, row.hamming_weight);
        if (row.parent < 0)
            EXPECT_FALSE(p.parent_preset.has_value());
        else
            EXPECT_EQ(p.parent_preset,
                      std::optional(preset(static_cast<std::uint32_t>(row.parent))));
        EXPECT_EQ(flagLetters(p), row.flags);
        EXPECT_FALSE(p.cyclic_ntt);
        EXPECT_EQ(p.gap_level, 0u);
        EXPECT_EQ(p.sigma, 3.2);
        EXPECT_EQ(p.log_bpsize, 0u);
        EXPECT_EQ(p.log_qpsize, 0u);
        EXPECT_EQ(p.log_tpsize, 0u);
        EXPECT_EQ(p.security_level, row.value == 23 ? SecurityLevel::NONE : SecurityLevel::SL128);
    }
}

TEST(ParameterPresetTest, EveryRecordKeepsTheRecordInvariants) {
    std::map<std::string, std::vector<std::uint32_t>> values_by_name;
    for (std::uint32_t v : namedPresetValues()) {
        SCOPED_TRACE(v);
        const Parameter p(preset(v));
        EXPECT_EQ(static_cast<std::uint32_t>(p.preset), v);
        EXPECT_GE(p.log_degree, 3u);
        EXPECT_LE(p.log_degree, 17u);
        EXPECT_EQ(p.degree, std::uint64_t{1} << p.log_degree);
        EXPECT_EQ(p.num_slots, p.degree / 2);
        EXPECT_GE(p.chain_length, 1u);
        EXPECT_EQ(p.num_base_primes, 1u);
        EXPECT_EQ(p.num_quantize_primes, p.chain_length - 1);
        EXPECT_GE(p.gadget_rank, 1u);
        EXPECT_GE(p.num_tp, 1u);
        EXPECT_LT(p.encryption_level, p.chain_length);
        EXPECT_GE(p.hamming_weight, 1u);
        EXPECT_LE(p.hamming_weight, p.rank * p.degree);
        EXPECT_EQ(p.gap_level, 0u);
        EXPECT_EQ(p.sigma, 3.2);
        EXPECT_FALSE(p.cyclic_ntt);
        EXPECT_EQ(p.security_level, v == 23 ? SecurityLevel::NONE : SecurityLevel::SL128);
        // Remove-I levels lie inside the chain, begin above end; only
        // re-remove-I presets have them.
        if (p.remove_i_begin_level != 0) {
            EXPECT_TRUE(p.re_remove_i);
            EXPECT_GT(p.remove_i_begin_level, p.remove_i_end_level);
            EXPECT_LT(p.remove_i_begin_level, p.chain_length);
        }
        // Only the small and outsourcing companions name a parent, and their
        // parent is a full preset of the same degree.
        EXPECT_EQ(p.parent_preset.has_value(), p.small_parameter || p.outsourcing_parameter);
        if (p.parent_preset) {
            const Parameter parent(*p.parent_preset);
            EXPECT_FALSE(parent.parent_preset.has_value());
            EXPECT_EQ(parent.degree, p.degree);
            EXPECT_GT(parent.chain_length, p.chain_length);
        }
        values_by_name[p.name].push_back(v);
    }
    // Names are unique except for the pair 30 and 45.
    for (const auto &[name, values] : values_by_name) {
        if (name == "FGbD9R3L0")
            EXPECT_EQ(values, (std::vector<std::uint32_t>{30, 45}));
        else
            EXPECT_EQ(values.size(), 1u) << name;
    }
    EXPECT_EQ(values_by_name.size(), 118u);
}

TEST(ParameterPresetTest, EnumeratorsCarryTheirValues) {
    EXPECT_EQ(static_cast<std::uint32_t>(ParameterPreset::FVa), 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(ParameterPreset::CUSTOM), 21u);
    EXPECT_EQ(static_cast<std::uint32_t>(ParameterPreset::FGbD9R3L0), 30u);
    EXPECT_EQ(static_cast<std::uint32_t>(ParameterPreset::FGbD9R3L0Rank8), 45u);
    EXPECT_EQ(static_cast<std::uint32_t>(ParameterPreset::Discrete_G8A), 80u);
    EXPECT_EQ(static_cast<std::uint32_t>(ParameterPreset::KAPLO_3_CLEANING), 119u);
    EXPECT_EQ(sizeof(ParameterPreset), 4u);
}

TEST(ParameterPresetTest, CustomAndOutOfRangeValuesAreRejected) {
    for (std::uint32_t v : {120u, 121u, 1000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(v);
        expectThrowsMessage([&] { Parameter p(preset(v)); }, kNotSupported);
        expectThrowsMessage([&] { Parameter p(preset(v), "MS", 2, false, false); }, kNotSupported);
        expectThrowsMessage([&] { (void)getEncryptionType(preset(v)); }, kNotSupported);
    }
    expectThrowsMessage([] { Parameter p(ParameterPreset::CUSTOM); }, kCustom);
    expectThrowsMessage([] { Parameter p(ParameterPreset::CUSTOM, "MS", 2, false, false); },
                        kCustom);
    expectThrowsMessage([] { (void)getEncryptionType(ParameterPreset::CUSTOM); }, kCustom);
}

TEST(ParameterPresetTest, EncryptionTypeFollowsRankAndSecrets) {
    const std::vector<std::pair<std::uint32_t, EncryptionType>> cases = {
        {30, EncryptionType::MLWE},  {45, EncryptionType::MLWE},   {42, EncryptionType::MLWE},
        {4, EncryptionType::MSRLWE}, {26, EncryptionType::MSRLWE}, {35, EncryptionType::MSRLWE},
        {3, EncryptionType::RLWE},   {0, EncryptionType::RLWE},    {119, EncryptionType::RLWE},
    };
    for (const auto &[v, type] : cases)
        EXPECT_EQ(getEncryptionType(preset(v)), type) << v;
    EXPECT_EQ(static_cast<std::uint32_t>(EncryptionType::MLWE), 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(EncryptionType::RLWE), 1u);
    EXPECT_EQ(static_cast<std::uint32_t>(EncryptionType::MSRLWE), 2u);
}

TEST(CustomParameterTest, FillsTheRecordFromSizes) {
    const Parameter p(16, 7, 3, 60, 50, 61, 1, 2);
    EXPECT_EQ(p.preset, ParameterPreset::CUSTOM);
    EXPECT_EQ(p.name, "CUSTOM");
    EXPECT_FALSE(p.parent_preset.has_value());
    EXPECT_EQ(flagLetters(p), "");
    EXPECT_FALSE(p.cyclic_ntt);
    EXPECT_EQ(p.rank, 1u);
    EXPECT_EQ(p.num_secret, 2u);
    EXPECT_EQ(p.log_degree, 16u);
    EXPECT_EQ(p.degree, 65536u);
    EXPECT_EQ(p.num_slots, 32768u);
    EXPECT_EQ(p.chain_length, 7u);
    EXPECT_EQ(p.gadget_rank, 3u);
    EXPECT_EQ(p.num_base_primes, 1u);
    EXPECT_EQ(p.num_quantize_primes, 6u);
    EXPECT_EQ(p.num_tp, 3u);
    EXPECT_EQ(p.encryption_level, 6u);
    EXPECT_EQ(p.remove_i_begin_level, 0u);
    EXPECT_EQ(p.remove_i_end_level, 0u);
    EXPECT_EQ(p.gap_level, 0u);
    EXPECT_EQ(p.hamming_weight, 43691u);
    EXPECT_EQ(p.sigma, 3.2);
    EXPECT_EQ(p.log_bpsize, 60u);
    EXPECT_EQ(p.log_qpsize, 50u);
    EXPECT_EQ(p.log_tpsize, 61u);
    // 60 + 6 * 50 + 3 * 61 = 543 bits over dimension 2^16.
    EXPECT_EQ(p.security_level, SecurityLevel::SL256);
}

TEST(CustomParameterTest, DerivedSizes) {
    struct Case {
        std::uint64_t log_degree, chain_length, gadget_rank;
        std::uint64_t num_tp, hamming_weight;
    };
    const std::vector<Case> cases = {
        {6, 1, 1, 1, 43},           {20, 50, 1, 50, 699051}, {16, 7, 3, 3, 43691},
        {16, 6, 3, 2, 43691},       {16, 7, 7, 1, 43691},    {16, 7, 8, 1, 43691},
        {16, 7, kU64Max, 1, 43691}, {16, 50, 49, 2, 43691},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.log_degree << " " << c.chain_length << " " << c.gadget_rank);
        const Parameter p(c.log_degree, c.chain_length, c.gadget_rank, 1, 1, 1, 1, 1);
        EXPECT_EQ(p.num_tp, c.num_tp);
        EXPECT_EQ(p.hamming_weight, c.hamming_weight);
        EXPECT_EQ(p.degree, std::uint64_t{1} << c.log_degree);
        EXPECT_EQ(p.encryption_level, c.chain_length - 1);
        EXPECT_EQ(p.num_quantize_primes, c.chain_length - 1);
    }
}

TEST(CustomParameterTest, SecurityFromTotalModulusBits) {
    struct Case {
        std::uint64_t log_degree, chain_length, gadget_rank, bp, qp, tp;
        SecurityLevel expected;
    };
    const std::vector<Case> cases = {
        // chain 2, gadget 1: total = bp + qp + 2 tp over dimension 2^16.
        {16, 2, 1, 1750, 0, 0, SecurityLevel::SL128},
        {16, 2, 1, 1751, 0, 0, SecurityLevel::NONE},
        {16, 2, 1, 1000, 100, 50, SecurityLevel::SL128}, // 1200
        {16, 2, 1, 1000, 99, 50, SecurityLevel::SL192},  // 1199
        {16, 2, 1, 900, 30, 0, SecurityLevel::SL192},    // 930
        {16, 2, 1, 900, 29, 0, SecurityLevel::SL256},    // 929
        {16, 2, 1, 1, 0, 0, SecurityLevel::SL256},
        // 60 + 29 * 50 + 10 * 60 = 2110 bits
        {16, 30, 3, 60, 50, 60, SecurityLevel::NONE},
        // dimension 2^17
        {17, 2, 1, 2411, 0, 0, SecurityLevel::SL192},
        {17, 2, 1, 2412, 0, 0, SecurityLevel::SL128},
        // dimensions outside the table
        {6, 2, 1, 10, 10, 10, SecurityLevel::NONE},
        {9, 2, 1, 10, 10, 10, SecurityLevel::NONE},
        {18, 2, 1, 10, 10, 10, SecurityLevel::NONE},
        // all sizes 0: no modulus at all
        {16, 2, 1, 0, 0, 0, SecurityLevel::NONE},
        // sizes whose sum exceeds 64 bits must not wrap around to a small total
        {16, 3, 1, 0, std::uint64_t{1} << 63, 0, SecurityLevel::NONE},
        {16, 2, 1, kU64Max, kU64Max, kU64Max, SecurityLevel::NONE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.log_degree << " " << c.bp << " " << c.qp << " " << c.tp);
        const Parameter p(c.log_degree, c.chain_length, c.gadget_rank, c.bp, c.qp, c.tp, 1, 1);
        EXPECT_EQ(p.security_level, c.expected);
    }
}

TEST(CustomParameterTest, ChecksRunInOrderWithTheirMessages) {
    struct Case {
        std::uint64_t log_degree, chain_length, gadget_rank, rank;
        std::string message; // empty: accepted
    };
    const std::vector<Case> cases = {
        {6, 10, 2, 1, ""},
        {20, 10, 2, 1, ""},
        {5, 10, 2, 1, kBadLogDegree},
        {21, 10, 2, 1, kBadLogDegree},
        {0, 10, 2, 1, kBadLogDegree},
        {kU64Max, 10, 2, 1, kBadLogDegree},
        {16, 1, 2, 1, ""},
        {16, 50, 2, 1, ""},
        {16, 51, 2, 1, kBadChainLength},
        {16, 0, 2, 1, kBadChainLength},
        {16, kU64Max, 2, 1, kBadChainLength},
        {16, 10, 1, 1, ""},
        {16, 10, 0, 1, kBadGadgetRank},
        {16, 10, 2, 2, kBadRank},
        {16, 10, 2, 0, kBadRank},
        {16, 10, 2, kU64Max, kBadRank},
        // with several faults, the earlier check speaks
        {5, 51, 0, 2, kBadLogDegree},
        {21, 10, 2, 2, kBadLogDegree},
        {16, 51, 0, 2, kBadChainLength},
        {16, 0, 0, 2, kBadChainLength},
        {16, 10, 0, 2, kBadGadgetRank},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.log_degree << " " << c.chain_length << " "
                                        << c.gadget_rank << " " << c.rank);
        auto build = [&] {
            Parameter p(c.log_degree, c.chain_length, c.gadget_rank, 50, 40, 50, c.rank, 1);
        };
        if (c.message.empty())
            EXPECT_NO_THROW(build());
        else
            expectThrowsMessage(build, c.message);
    }
}

TEST(MultiSecretParameterTest, DoubledDegreeOnFGbSSE) {
    const Parameter p(ParameterPreset::FGbSSE, "FGbSSE_MS4", 4, false, true);
    EXPECT_EQ(static_cast<std::uint32_t>(p.preset), 5u);
    EXPECT_EQ(p.name, "FGbSSE_MS4");
    EXPECT_FALSE(p.parent_preset.has_value());
    EXPECT_EQ(flagLetters(p), "BXSTF");
    EXPECT_FALSE(p.cyclic_ntt);
    EXPECT_EQ(p.rank, 1u);
    EXPECT_EQ(p.num_secret, 4u);
    EXPECT_EQ(p.log_degree, 17u);
    EXPECT_EQ(p.degree, 131072u);
    EXPECT_EQ(p.num_slots, 65536u);
    EXPECT_EQ(p.chain_length, 24u);
    EXPECT_EQ(p.num_base_primes, 1u);
    EXPECT_EQ(p.num_quantize_primes, 23u);
    EXPECT_EQ(p.gadget_rank, 4u);
    EXPECT_EQ(p.num_tp, 6u);
    EXPECT_EQ(p.encryption_level, 13u);
    EXPECT_EQ(p.hamming_weight, 256u);
    EXPECT_EQ(p.gap_level, 0u);
    EXPECT_EQ(p.sigma, 3.2);
    EXPECT_EQ(p.log_bpsize + p.log_qpsize + p.log_tpsize, 0u);
    EXPECT_EQ(p.security_level, SecurityLevel::SL128);
}

TEST(MultiSecretParameterTest, KeepsBootstrapFlagsAndDropsCompanionFlags) {
    // Discrete_G8A_OBTS: BSFUPG with parent 80.
    const Parameter obts(preset(82), "obts", 2, true, false);
    EXPECT_EQ(flagLetters(obts), "BSF");
    EXPECT_TRUE(obts.cyclic_ntt);
    EXPECT_FALSE(obts.parent_preset.has_value());
    EXPECT_EQ(obts.log_degree, 16u);
    EXPECT_EQ(obts.chain_length, 19u);
    EXPECT_EQ(obts.num_secret, 2u);

    // FGfO: BXSTFRU with remove-I levels 17/9 and parent 50.
    const Parameter fgfo(preset(52), "fgfo", 8, false, false);
    EXPECT_EQ(flagLetters(fgfo), "BXSTFR");
    EXPECT_EQ(fgfo.remove_i_begin_level, 17u);
    EXPECT_EQ(fgfo.remove_i_end_level, 9u);
    EXPECT_EQ(fgfo.encryption_level, 8u);
    EXPECT_FALSE(fgfo.parent_preset.has_value());

    // FGfL7SmallLow: BXTROM keeps the small flag.
    EXPECT_EQ(flagLetters(Parameter(preset(59), "small", 2, false, false)), "BXTROM");
}

TEST(MultiSecretParameterTest, ModuleRankBecomesOneAndFXKeepsNoSecurity) {
    // Preset 45: degree 2^9, rank 8.
    const Parameter ms(preset(45), "ring", 3, false, true);
    EXPECT_EQ(ms.rank, 1u);
    EXPECT_EQ(ms.log_degree, 10u);
    EXPECT_EQ(ms.degree, 1024u);
    EXPECT_EQ(ms.num_secret, 3u);
    EXPECT_EQ(ms.name, "ring");
    EXPECT_EQ(ms.hamming_weight, 2730u);

    const Parameter fx(ParameterPreset::FX, "fx", 2, false, false);
    EXPECT_EQ(fx.security_level, SecurityLevel::NONE);
    EXPECT_EQ(fx.log_degree, 6u);
}

namespace {

const std::string kNoSparse =
    "This parameter preset does not have corresponding sparse parameter preset";
const std::string kNoOutsourcing =
    "This parameter preset does not have corresponding outsourcing parameter preset";
const std::string kNoSmall =
    "This parameter preset does not have corresponding small parameter preset";
const std::string kNoMultiSecret =
    "This parameter preset does not have corresponding multi-secret preset";

// Companion pairs by value, as listed in the companion tables.
const std::map<std::uint32_t, std::uint32_t> kSparsePairs = {
    {5, 31},  {6, 32},   {7, 33},    {8, 34},    {9, 35},    {10, 36},   {11, 37},
    {24, 25}, {38, 39},  {40, 41},   {50, 53},   {52, 53},   {54, 53},   {55, 53},
    {57, 60}, {58, 60},  {66, 67},   {68, 69},   {70, 71},   {72, 73},   {74, 75},
    {78, 79}, {80, 84},  {82, 84},   {88, 92},   {90, 92},   {93, 94},   {95, 96},
    {97, 98}, {99, 100}, {101, 100}, {105, 106}, {107, 106}, {112, 113}, {114, 113},
};
const std::map<std::uint32_t, std::uint32_t> kOutsourcingPairs = {
    {50, 52},   {51, 52},   {54, 55},   {56, 55},   {57, 58},   {59, 58},
    {76, 77},   {80, 82},   {81, 82},   {88, 90},   {89, 90},   {99, 101},
    {102, 101}, {105, 107}, {108, 107}, {112, 114}, {116, 114},
};
const std::map<std::uint32_t, std::uint32_t> kSmallPairs = {
    {3, 49},  {48, 49}, {50, 51},  {54, 56},   {57, 59},
    {80, 81}, {88, 89}, {99, 102}, {105, 108}, {112, 116},
};

std::vector<std::uint32_t> allValuesAndBeyond() {
    std::vector<std::uint32_t> values;
    for (std::uint32_t v = 0; v <= 125; ++v)
        values.push_back(v);
    values.push_back(0xFFFFFFFFu);
    return values;
}

template <typename F>
void checkCompanionFunction(F &&companion, const std::map<std::uint32_t, std::uint32_t> &pairs,
                            const std::string &missing) {
    for (std::uint32_t v : allValuesAndBeyond()) {
        SCOPED_TRACE(v);
        const auto it = pairs.find(v);
        if (it == pairs.end())
            expectThrowsMessage([&] { (void)companion(preset(v)); }, missing);
        else
            EXPECT_EQ(static_cast<std::uint32_t>(companion(preset(v))), it->second);
    }
}

} // namespace

TEST(CompanionPresetTest, SparseTableAndError) {
    checkCompanionFunction(getSparseParameterPresetFor, kSparsePairs, kNoSparse);
}

TEST(CompanionPresetTest, OutsourcingTableAndError) {
    checkCompanionFunction(getOutsourcingParameterPresetFor, kOutsourcingPairs, kNoOutsourcing);
}

TEST(CompanionPresetTest, SmallTableAndError) {
    checkCompanionFunction(getSmallParameterPresetFor, kSmallPairs, kNoSmall);
}

TEST(CompanionPresetTest, MultiSecretTableAndError) {
    const std::map<std::uint64_t, std::uint32_t> fgbsse = {{2, 6}, {4, 7}, {8, 8}, {16, 9}};
    for (std::uint64_t n : {0ull, 1ull, 2ull, 3ull, 4ull, 5ull, 8ull, 15ull, 16ull, 32ull,
                            static_cast<unsigned long long>(kU64Max)}) {
        SCOPED_TRACE(n);
        const auto it = fgbsse.find(n);
        if (it == fgbsse.end())
            expectThrowsMessage([&] { (void)getMultiSecretParameterPresetFor(preset(5), n); },
                                kNoMultiSecret);
        else
            EXPECT_EQ(static_cast<std::uint32_t>(getMultiSecretParameterPresetFor(preset(5), n)),
                      it->second);
    }
    for (std::uint32_t v : allValuesAndBeyond())
        if (v != 5)
            for (std::uint64_t n : {1ull, 2ull, 4ull, 8ull, 16ull})
                expectThrowsMessage([&] { (void)getMultiSecretParameterPresetFor(preset(v), n); },
                                    kNoMultiSecret);
}

// Companions point to presets of the expected shape.
TEST(CompanionPresetTest, CompanionsHaveTheExpectedShape) {
    for (const auto &[from, to] : kSparsePairs) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        const Parameter main(preset(from)), sparse(preset(to));
        EXPECT_EQ(sparse.degree, main.degree);
        EXPECT_EQ(sparse.num_secret, main.num_secret);
        EXPECT_EQ(sparse.re_remove_i, main.re_remove_i); // same transform type
        EXPECT_EQ(sparse.chain_length, 1u);
        EXPECT_EQ(sparse.gadget_rank, 1u);
        EXPECT_EQ(sparse.num_tp, 1u);
        EXPECT_EQ(sparse.encryption_level, 0u);
        EXPECT_EQ(sparse.hamming_weight, 32u);
        EXPECT_LT(sparse.hamming_weight, main.hamming_weight);
        EXPECT_FALSE(sparse.bootstrappable);
    }
    for (const auto &[from, to] : kOutsourcingPairs) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        const Parameter main(preset(from)), out(preset(to));
        EXPECT_TRUE(out.outsourcing_parameter);
        EXPECT_EQ(out.degree, main.degree);
        ASSERT_TRUE(out.parent_preset.has_value());
        // Either the parent itself or the parent's small companion.
        EXPECT_TRUE(*out.parent_preset == preset(from) ||
                    getSmallParameterPresetFor(*out.parent_preset) == preset(from));
    }
    for (const auto &[from, to] : kSmallPairs) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        const Parameter main(preset(from)), small(preset(to));
        EXPECT_TRUE(small.small_parameter);
        EXPECT_EQ(small.degree, main.degree);
        EXPECT_LT(small.chain_length, main.chain_length);
        EXPECT_LE(small.chain_length, 5u);
        ASSERT_TRUE(small.parent_preset.has_value());
        EXPECT_EQ(getSmallParameterPresetFor(*small.parent_preset), preset(to));
    }
    const Parameter base(preset(5));
    for (std::uint64_t n : {2u, 4u, 8u, 16u}) {
        const Parameter ms(getMultiSecretParameterPresetFor(preset(5), n));
        EXPECT_EQ(ms.num_secret, n);
        EXPECT_EQ(ms.degree, base.degree);
        EXPECT_EQ(ms.chain_length, base.chain_length);
        EXPECT_EQ(ms.gadget_rank, base.gadget_rank);
        EXPECT_EQ(ms.num_tp, base.num_tp);
        EXPECT_EQ(ms.encryption_level, base.encryption_level);
        EXPECT_EQ(ms.hamming_weight, base.hamming_weight);
        EXPECT_EQ(getEncryptionType(getMultiSecretParameterPresetFor(preset(5), n)),
                  EncryptionType::MSRLWE);
    }
}
