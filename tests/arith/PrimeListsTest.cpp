#include "arith/PrimeLists.hpp"

#include "arith/NumberTheoryUtils.hpp"
#include "context/Parameter.hpp"
#include "context/ScaleFactors.hpp"
#include "foundation/WordArith.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace Quelt {
namespace {

// Expected shape of every list, from the preset records: degree, chain
// length, temporary primes, encryption level, parent preset (-1: none),
// flags (B bootstrappable, C coeff_boot, R re_remove_i, U outsourcing,
// M small, G automatic gap resolve, ...), then the bit length of the base
// prime and {bits, count} of the quantize and of the temporary primes.
struct Profile {
    std::uint32_t key;
    char const *name;
    int log_degree;
    std::size_t chain_length;
    std::size_t num_tp;
    std::size_t encryption_level;
    int parent;
    std::string flags;
    int base_bits;
    std::map<int, int> quantize;
    std::map<int, int> temporary;

    bool has(char flag) const { return flags.find(flag) != std::string::npos; }
};

std::vector<Profile> const &profiles() {
    static std::vector<Profile> const kProfiles = {
        {0, "FVa", 17, 30, 10, 29, -1, "BX", 61, {{51, 16}, {52, 13}}, {{53, 10}}},
        {1,
         "FVb",
         17,
         30,
         10,
         14,
         -1,
         "BX",
         61,
         {{51, 8}, {52, 5}, {55, 1}, {57, 3}, {61, 12}},
         {{61, 10}}},
        {2, "FGa", 16, 24, 4, 9, -1, "BX", 60, {{45, 3}, {48, 6}, {56, 3}, {60, 11}}, {{61, 4}}},
        {3, "FGb", 16, 25, 5, 12, -1, "BX", 58, {{42, 12}, {58, 12}}, {{59, 3}, {60, 2}}},
        {5,
         "FGbSSE",
         16,
         24,
         6,
         13,
         -1,
         "BXSTF",
         58,
         {{35, 3}, {42, 4}, {43, 6}, {56, 2}, {57, 1}, {58, 7}},
         {{59, 4}, {60, 2}}},
        {12,
         "FTa",
         15,
         20,
         2,
         8,
         -1,
         "B",
         38,
         {{28, 4}, {29, 3}, {33, 1}, {38, 8}, {41, 3}},
         {{42, 2}}},
        {13, "FTb", 15, 16, 1, 4, -1, "B", 49, {{33, 3}, {36, 1}, {47, 3}, {49, 8}}, {{54, 1}}},
        {14, "ST19", 15, 20, 1, 19, -1, "", 50, {{40, 19}}, {{50, 1}}},
        {15, "ST14", 15, 15, 5, 14, -1, "", 48, {{42, 14}}, {{46, 5}}},
        {16, "ST11", 15, 12, 4, 11, -1, "", 61, {{51, 8}, {52, 3}}, {{61, 4}}},
        {17, "ST8", 15, 9, 3, 8, -1, "", 61, {{51, 6}, {52, 2}}, {{61, 3}}},
        {18, "ST7", 15, 8, 4, 7, -1, "", 61, {{51, 6}, {52, 1}}, {{61, 4}}},
        {19, "SS7", 14, 8, 2, 7, -1, "", 50, {{42, 7}}, {{46, 2}}},
        {20, "SD3", 13, 4, 1, 3, -1, "", 47, {{41, 3}}, {{47, 1}}},
        {22,
         "FVc",
         17,
         30,
         10,
         13,
         -1,
         "BX",
         61,
         {{54, 12}, {57, 3}, {58, 1}, {61, 13}},
         {{61, 10}}},
        {23, "FX", 6, 25, 5, 12, -1, "BX", 58, {{42, 12}, {58, 12}}, {{59, 3}, {60, 2}}},
        {24, "FGd", 16, 25, 5, 12, -1, "BXS", 58, {{42, 12}, {58, 12}}, {{59, 3}, {60, 2}}},
        {25, "SGd0", 16, 1, 1, 0, -1, "", 58, {}, {{59, 1}}},
        {26, "FGbD12NS6L1", 12, 2, 1, 1, -1, "", 58, {{42, 1}}, {{51, 1}}},
        {27, "FGbD12NS3L1", 12, 2, 1, 1, -1, "", 58, {{42, 1}}, {{51, 1}}},
        {28, "FGbD12NS2L1", 12, 2, 1, 1, -1, "", 58, {{42, 1}}, {{51, 1}}},
        {29, "FGbD12NS1L1", 12, 2, 1, 1, -1, "", 58, {{42, 1}}, {{51, 1}}},
        {30, "FGbD9R3L0", 3, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {38,
         "FGxCOEFF",
         16,
         24,
         6,
         10,
         -1,
         "BSTC",
         58,
         {{42, 5}, {43, 8}, {58, 10}},
         {{59, 4}, {60, 2}}},
        {39, "SGxCOEFF0", 16, 1, 1, 0, -1, "", 58, {}, {{59, 1}}},
        {40,
         "FTxCOEFF",
         15,
         21,
         3,
         7,
         -1,
         "BSTC",
         43,
         {{25, 3}, {31, 4}, {32, 3}, {38, 1}, {39, 2}, {42, 3}, {43, 4}},
         {{45, 3}}},
        {41, "STxCOEFF0", 15, 1, 1, 0, -1, "", 43, {}, {{54, 1}}},
        {42, "SD3D6R2", 6, 4, 1, 3, -1, "", 47, {{41, 3}}, {{47, 1}}},
        {43, "FGbL0", 16, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {44, "FGbD12L0", 12, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {45, "FGbD9R3L0", 9, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {46, "FGbD8R4L0", 8, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {47, "FGbD6R6L0", 6, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {48, "FGbL7", 16, 20, 5, 7, -1, "BX", 58, {{42, 7}, {58, 12}}, {{59, 3}, {60, 2}}},
        {49, "FGbSmall", 16, 5, 4, 4, 3, "BXM", 58, {{42, 4}}, {{59, 3}, {60, 1}}},
        {50,
         "FGf",
         16,
         25,
         5,
         12,
         -1,
         "BXSTFRO",
         58,
         {{36, 1}, {37, 2}, {42, 10}, {58, 11}},
         {{59, 3}, {60, 2}}},
        {51, "FGfSmall", 16, 4, 3, 3, 50, "BXTROM", 58, {{36, 1}, {37, 2}}, {{61, 3}}},
        {52, "FGfO", 16, 21, 5, 8, 50, "BXSTFRU", 58, {{42, 1}, {58, 11}, {61, 8}}, {{61, 5}}},
        {53, "FGfO0", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {54,
         "FGfL7",
         16,
         20,
         5,
         7,
         -1,
         "BXTRO",
         58,
         {{40, 1}, {41, 2}, {42, 5}, {58, 11}},
         {{59, 3}, {60, 2}}},
        {55, "FGfOL7", 16, 18, 6, 5, 54, "BXSFRU", 58, {{42, 1}, {58, 16}}, {{61, 6}}},
        {56, "FGfL7Small", 16, 5, 4, 4, 54, "BXTROM", 58, {{40, 1}, {41, 2}, {42, 1}}, {{61, 4}}},
        {57,
         "FGfL7Low",
         16,
         20,
         6,
         7,
         -1,
         "BXTRO",
         50,
         {{28, 3}, {29, 5}, {50, 7}, {51, 4}},
         {{61, 6}}},
        {58,
         "FGfOL7Low",
         16,
         17,
         7,
         4,
         57,
         "BXSFRU",
         50,
         {{28, 1}, {50, 9}, {51, 6}},
         {{61, 6}, {62, 1}}},
        {59, "FGfL7SmallLow", 16, 5, 3, 4, 57, "BXTROM", 50, {{28, 1}, {29, 3}}, {{61, 3}}},
        {60, "FGfO0Low", 16, 1, 1, 0, -1, "R", 50, {}, {{61, 1}}},
        {61, "FGfL0", 16, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {62, "FGfD12L0", 12, 1, 1, 0, -1, "", 58, {}, {{51, 1}}},
        {63,
         "FGh",
         16,
         35,
         7,
         22,
         -1,
         "BX",
         48,
         {{30, 11}, {31, 11}, {48, 3}, {49, 9}},
         {{49, 4}, {50, 3}}},
        {64, "FGhL0", 16, 1, 1, 0, -1, "", 48, {}, {{47, 1}}},
        {65, "FGhD12L0", 12, 1, 1, 0, -1, "", 48, {}, {{47, 1}}},
        {66,
         "FGSa",
         16,
         24,
         6,
         11,
         -1,
         "BXSTFR",
         59,
         {{35, 3}, {42, 2}, {43, 7}, {56, 2}, {57, 1}, {58, 5}, {59, 3}},
         {{59, 4}, {60, 2}}},
        {67, "SGSa0", 16, 1, 1, 0, -1, "R", 59, {}, {{59, 1}}},
        {68,
         "FGSb",
         16,
         25,
         5,
         12,
         -1,
         "BXSR",
         59,
         {{35, 3}, {42, 2}, {43, 8}, {56, 2}, {57, 1}, {58, 5}, {59, 3}},
         {{59, 4}, {60, 1}}},
        {69, "SGSb0", 16, 1, 1, 0, -1, "R", 59, {}, {{59, 1}}},
        {70,
         "FGSc",
         16,
         27,
         3,
         14,
         -1,
         "BXSR",
         59,
         {{35, 3}, {42, 3}, {43, 9}, {56, 2}, {57, 1}, {58, 5}, {59, 3}},
         {{59, 2}, {60, 1}}},
        {71, "SGSc0", 16, 1, 1, 0, -1, "R", 59, {}, {{59, 1}}},
        {72,
         "FGSd",
         16,
         28,
         4,
         15,
         -1,
         "BXSR",
         59,
         {{35, 3}, {42, 3}, {43, 10}, {56, 2}, {57, 1}, {58, 5}, {59, 3}},
         {{59, 3}, {60, 1}}},
        {73, "SGSd0", 16, 1, 1, 0, -1, "R", 59, {}, {{59, 1}}},
        {74,
         "FGCa",
         16,
         24,
         6,
         8,
         -1,
         "BSTCR",
         59,
         {{42, 5}, {43, 7}, {58, 7}, {59, 4}},
         {{59, 4}, {60, 2}}},
        {75, "SGCa0", 16, 1, 1, 0, -1, "R", 59, {}, {{59, 1}}},
        {76,
         "FGe",
         16,
         25,
         5,
         12,
         -1,
         "BXFO",
         58,
         {{36, 1}, {37, 2}, {42, 9}, {58, 12}},
         {{59, 3}, {60, 2}}},
        {77, "FGeO", 16, 21, 5, 8, 76, "BXFU", 58, {{58, 12}, {61, 8}}, {{61, 5}}},
        {78,
         "Discrete_G8",
         16,
         23,
         6,
         11,
         -1,
         "BSPG",
         46,
         {{37, 6}, {38, 5}, {45, 4}, {46, 6}, {54, 1}},
         {{61, 6}}},
        {79, "Discrete_G8_Sparse", 16, 1, 1, 0, -1, "", 46, {}, {{61, 1}}},
        {80,
         "Discrete_G8A",
         16,
         23,
         6,
         11,
         -1,
         "BSFOPG",
         46,
         {{37, 6}, {38, 5}, {45, 4}, {46, 6}, {54, 1}},
         {{61, 6}}},
        {81, "Discrete_G8A_Small", 16, 5, 4, 4, 80, "BOMP", 46, {{37, 2}, {38, 2}}, {{61, 4}}},
        {82,
         "Discrete_G8A_OBTS",
         16,
         19,
         9,
         7,
         80,
         "BSFUPG",
         46,
         {{45, 4}, {46, 6}, {54, 1}, {58, 6}, {59, 1}},
         {{61, 9}}},
        {83, "Discrete_G8A_SHE", 16, 12, 8, 11, -1, "", 46, {{37, 6}, {38, 5}}, {{61, 8}}},
        {84, "Discrete_G8A_Sparse", 16, 1, 1, 0, -1, "", 46, {}, {{61, 1}}},
        {85, "Discrete_G8A_L0", 16, 1, 1, 0, -1, "", 46, {}, {{61, 1}}},
        {86, "Discrete_G8A_D12L0", 12, 1, 1, 0, -1, "", 46, {}, {{61, 1}}},
        {87, "Discrete_G8A_D9R3L0", 9, 1, 1, 0, -1, "", 46, {}, {{61, 1}}},
        {88,
         "Discrete_G8B",
         16,
         23,
         6,
         11,
         -1,
         "BSFOPG",
         39,
         {{33, 5}, {34, 6}, {39, 5}, {40, 5}, {46, 1}},
         {{61, 6}}},
        {89, "Discrete_G8B_Small", 16, 4, 3, 3, 88, "BOMP", 39, {{33, 1}, {34, 2}}, {{61, 3}}},
        {90,
         "Discrete_G8B_OBTS",
         16,
         18,
         8,
         6,
         88,
         "BSFUPG",
         39,
         {{39, 5}, {40, 5}, {46, 1}, {58, 1}, {61, 5}},
         {{61, 8}}},
        {91, "Discrete_G8B_SHE", 16, 12, 7, 11, -1, "", 39, {{33, 5}, {34, 6}}, {{61, 7}}},
        {92, "Discrete_G8B_Sparse", 16, 1, 1, 0, -1, "", 39, {}, {{61, 1}}},
        {93, "Discrete_G10", 16, 25, 4, 13, -1, "BSP", 42, {{42, 12}, {43, 12}}, {{61, 4}}},
        {94, "Discrete_G10_Sparse", 16, 1, 1, 0, -1, "", 42, {}, {{42, 1}}},
        {95,
         "Discrete_G10A",
         16,
         25,
         4,
         13,
         -1,
         "BSPG",
         46,
         {{37, 7}, {38, 6}, {45, 4}, {46, 6}, {54, 1}},
         {{61, 4}}},
        {96, "Discrete_G10A_Sparse", 16, 1, 1, 0, -1, "", 46, {}, {{61, 1}}},
        {97, "Discrete_G12", 16, 27, 6, 15, -1, "BSP", 41, {{40, 12}, {41, 14}}, {{61, 6}}},
        {98, "Discrete_G12_Sparse", 16, 1, 1, 0, -1, "", 41, {}, {{42, 1}}},
        {99,
         "KAPLO_BTS",
         16,
         22,
         6,
         9,
         -1,
         "BXSTFRO",
         58,
         {{37, 5}, {38, 5}, {58, 6}, {59, 5}},
         {{61, 6}}},
        {100, "KAPLO_BTS_SPARSE", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {101,
         "KAPLO_BTS_OUTSOURCE",
         16,
         18,
         6,
         5,
         99,
         "BXSFRU",
         58,
         {{58, 6}, {59, 5}, {61, 6}},
         {{61, 6}}},
        {102, "KAPLO_BTS_SMALL", 16, 4, 3, 3, 99, "BXTROM", 58, {{37, 2}, {38, 1}}, {{61, 3}}},
        {103, "KAPLO_BTS_L0", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {104, "KAPLO_BTS_D12L0", 12, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {105,
         "KAPLO_2_BTS",
         16,
         25,
         5,
         12,
         -1,
         "BXSTFRO",
         58,
         {{36, 2}, {37, 8}, {38, 3}, {58, 10}, {59, 1}},
         {{59, 3}, {60, 2}}},
        {106, "KAPLO_2_BTS_SPARSE", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {107,
         "KAPLO_2_BTS_OUTSOURCE",
         16,
         20,
         5,
         7,
         105,
         "BXSFRU",
         58,
         {{58, 10}, {59, 2}, {60, 7}},
         {{61, 5}}},
        {108, "KAPLO_2_BTS_SMALL", 16, 4, 3, 3, 105, "BXTROM", 58, {{36, 2}, {37, 1}}, {{61, 3}}},
        {109, "KAPLO_2_BTS_L0", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {110, "KAPLO_2_BTS_D12L0", 12, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {111,
         "KAPLO_2_CLEANING",
         16,
         13,
         6,
         12,
         -1,
         "R",
         61,
         {{30, 5}, {31, 3}, {60, 4}},
         {{61, 6}}},
        {112,
         "KAPLO_3_BTS",
         16,
         26,
         6,
         13,
         -1,
         "BXSTFRO",
         58,
         {{35, 6}, {36, 8}, {58, 10}, {59, 1}},
         {{59, 3}, {60, 2}, {61, 1}}},
        {113, "KAPLO_3_BTS_SPARSE", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {114,
         "KAPLO_3_BTS_OUTSOURCE",
         16,
         20,
         10,
         7,
         112,
         "BXSFRU",
         58,
         {{58, 10}, {59, 1}, {61, 8}},
         {{61, 10}}},
        {115,
         "KAPLO_3_BTS_OUTSOURCE_REAL",
         16,
         20,
         7,
         7,
         112,
         "BXSFRU",
         58,
         {{58, 10}, {59, 1}, {61, 8}},
         {{61, 7}}},
        {116, "KAPLO_3_BTS_SMALL", 16, 4, 3, 3, 112, "BXTROM", 58, {{35, 2}, {36, 1}}, {{61, 3}}},
        {117, "KAPLO_3_BTS_L0", 16, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {118, "KAPLO_3_BTS_D12L0", 12, 1, 1, 0, -1, "R", 58, {}, {{61, 1}}},
        {119,
         "KAPLO_3_CLEANING",
         16,
         14,
         6,
         13,
         -1,
         "R",
         61,
         {{28, 4}, {29, 5}, {59, 2}, {60, 2}},
         {{61, 6}}},
    };
    return kProfiles;
}

Profile const &profileOf(std::uint32_t key) {
    for (auto const &p : profiles())
        if (p.key == key)
            return p;
    throw std::logic_error("no profile");
}

int bits(u64 p) { return 64 - __builtin_clzll(p); }

std::map<int, int> bitCounts(std::vector<u64> const &l, std::size_t from, std::size_t to) {
    std::map<int, int> out;
    for (std::size_t i = from; i < to; ++i)
        ++out[bits(l[i])];
    return out;
}

double lg(u64 q) { return std::log2(static_cast<double>(q)); }
std::int64_t roundedBits(u64 q) { return std::llround(lg(q)); }

TEST(PrimeListsTest, EveryKeyHasItsShapeAndEveryPrimeItsCongruence) {
    std::size_t total = 0;
    std::vector<u64> at_least_2_61;
    for (auto const &pr : profiles()) {
        SCOPED_TRACE(pr.name);
        auto const &l = getPresetPrimeList(pr.key);
        ASSERT_EQ(l.size(), pr.chain_length + pr.num_tp);
        total += l.size();
        EXPECT_EQ(std::set<u64>(l.begin(), l.end()).size(), l.size()) << "repeated prime";
        u64 const two_n = u64{2} << pr.log_degree;
        u64 const modulus = pr.has('R') ? 2 * two_n : two_n;
        for (u64 p : l) {
            EXPECT_TRUE(utils::isPrime(p)) << p;
            EXPECT_EQ(p % modulus, 1u) << p;
            EXPECT_GT(p, u64{1} << 24);
            EXPECT_LT(p, u64{1} << 62);
            if (p >= (u64{1} << 61))
                at_least_2_61.push_back(p);
        }
        EXPECT_EQ(bits(l[0]), pr.base_bits);
        EXPECT_EQ(bitCounts(l, 1, pr.chain_length), pr.quantize);
        EXPECT_EQ(bitCounts(l, pr.chain_length, l.size()), pr.temporary);
    }
    EXPECT_EQ(profiles().size(), 105u);
    EXPECT_EQ(total, 1556u);
    ASSERT_EQ(at_least_2_61.size(), 1u);
    EXPECT_EQ(at_least_2_61[0], 2305843009224179713u);
    EXPECT_EQ(getPresetPrimeList(58).back(), 2305843009224179713u);
}

TEST(PrimeListsTest, ValuesWithoutAListThrow) {
    for (std::uint32_t key :
         {4u, 6u, 7u, 8u, 9u, 10u, 11u, 21u, 31u, 32u, 33u, 34u, 35u, 36u, 37u, 120u, 0xffffffffu})
        EXPECT_THROW(getPresetPrimeList(key), std::out_of_range) << key;
    for (std::uint32_t key : {2u, 6u, 0xffffffffu})
        EXPECT_THROW(getLWEPresetPrimeList(key), std::out_of_range) << key;
    EXPECT_EQ(&getPresetPrimeList(3), &getPresetPrimeList(3));
}

// Telling rows: first and last prime, and the bit lengths in order, as runs of
// (count, allowed lengths).
struct Run {
    int count;
    std::set<int> lengths;
};
struct Telling {
    std::uint32_t key;
    u64 first;
    u64 last;
    std::vector<Run> quantize;
    std::vector<Run> temporary;
};

void expectRuns(std::vector<u64> const &l, std::size_t from, std::vector<Run> const &runs) {
    std::size_t i = from;
    for (auto const &run : runs)
        for (int k = 0; k < run.count; ++k, ++i) {
            ASSERT_LT(i, l.size());
            EXPECT_TRUE(run.lengths.count(bits(l[i]))) << "position " << i;
        }
}

TEST(PrimeListsTest, TellingRowsKeepTheirEndsAndSizeOrder) {
    std::vector<Telling> const rows = {
        {0, 2305843009146585089u, 9007199086968833u, {{29, {51, 52}}}, {{10, {53}}}},
        {3,
         288230376147386369u,
         1152921504598720513u,
         {{12, {42}}, {12, {58}}},
         {{3, {59}}, {2, {60}}}},
        {25, 288230376147386369u, 576460752300015617u, {}, {{1, {59}}}},
        {53, 288230376135196673u, 2305843009191936001u, {}, {{1, {61}}}},
        {58, 1125899902124033u, 2305843009224179713u, {{16, {28, 50, 51}}}, {{6, {61}}, {1, {62}}}},
        {63, 281474976317441u, 562949950537729u, {{22, {30, 31}}, {12, {48, 49}}}, {{7, {49, 50}}}},
        {93, 4398044938241u, 2305843009202159617u, {{24, {42, 43}}}, {{4, {61}}}},
        {99,
         288230376135196673u,
         2305843008872644609u,
         {{10, {37, 38}}, {11, {58, 59}}},
         {{6, {61}}}},
        {111, 2305843009191936001u, 2305843008849051649u, {{4, {60}}, {8, {30, 31}}}, {{6, {61}}}},
    };
    for (auto const &row : rows) {
        SCOPED_TRACE(row.key);
        auto const &l = getPresetPrimeList(row.key);
        auto const &pr = profileOf(row.key);
        EXPECT_EQ(l.front(), row.first);
        EXPECT_EQ(l.back(), row.last);
        expectRuns(l, 1, row.quantize);
        expectRuns(l, pr.chain_length, row.temporary);
    }
    // preset 58 lists its quantize sizes in the order 51, 50, 28
    std::vector<int> order;
    auto const &l58 = getPresetPrimeList(58);
    for (std::size_t i = 1; i < 17; ++i)
        if (std::find(order.begin(), order.end(), bits(l58[i])) == order.end())
            order.push_back(bits(l58[i]));
    EXPECT_EQ(order, (std::vector<int>{51, 50, 28}));
}

TEST(PrimeListsTest, GroupsShareOneList) {
    std::vector<std::vector<std::uint32_t>> const groups = {
        {3, 23, 24},
        {20, 42},
        {25, 39},
        {26, 27, 28, 29},
        {30, 43, 44, 45, 46, 47},
        {53, 100, 103, 104, 106, 109, 110, 113, 117, 118},
        {61, 62},
        {64, 65},
        {67, 69, 71, 73, 75},
        {78, 80},
        {79, 84, 85, 86, 87, 96}};
    for (auto const &g : groups)
        for (auto key : g)
            EXPECT_EQ(getPresetPrimeList(key), getPresetPrimeList(g[0])) << key;
}

TEST(PrimeListsTest, LWEListsAreGivenAndBeginTheirRingLists) {
    struct Case {
        std::uint32_t lwe;
        std::vector<u64> primes;
        std::uint32_t ring;
    };
    std::vector<Case> const cases = {
        {0,
         {1125899902124033u, 4398044938241u, 4398021869569u, 4398021345281u, 4398018723841u,
          4398010859521u, 4398007713793u, 4398006140929u},
         19},
        {1, {140737487306753u, 2199020634113u, 2199013294081u, 2199010148353u}, 20},
        {3, {288230376147386369u}, 44},
        {4, {288230376147386369u, 4398044938241u}, 3},
        {5, {35184372744193u}, 80},
    };
    for (auto const &c : cases) {
        SCOPED_TRACE(c.lwe);
        EXPECT_EQ(getLWEPresetPrimeList(c.lwe), c.primes);
        auto const &ring = getPresetPrimeList(c.ring);
        ASSERT_GE(ring.size(), c.primes.size());
        EXPECT_TRUE(std::equal(c.primes.begin(), c.primes.end(), ring.begin()));
        for (u64 p : c.primes)
            EXPECT_TRUE(utils::isPrime(p));
    }
}

// Presets whose scale factors come from another preset: they must hold that
// preset's primes at the levels whose factors they take.
TEST(PrimeListsTest, CompanionsHoldTheirParentsPrimes) {
    for (auto const &pr : profiles()) {
        if (pr.parent < 0)
            continue;
        SCOPED_TRACE(pr.name);
        auto const &l = getPresetPrimeList(pr.key);
        auto const &parent = profileOf(static_cast<std::uint32_t>(pr.parent));
        auto const &pl = getPresetPrimeList(parent.key);
        if (pr.has('M')) {
            ASSERT_LE(pr.chain_length, parent.chain_length);
            EXPECT_TRUE(std::equal(l.begin(), l.begin() + pr.chain_length, pl.begin()));
        } else {
            ASSERT_TRUE(pr.has('U'));
            EXPECT_EQ(l[0], pl[0]);
            // the factors above the encryption level (and the next one for
            // re_remove_i) are taken by matching primes from the top down
            std::size_t i = pr.chain_length - 1, j = parent.chain_length - 1;
            while (i >= 1 && j >= 1 && l[i] == pl[j]) {
                --i;
                --j;
            }
            EXPECT_LE(i, pr.encryption_level + (pr.has('R') ? 1 : 0));
        }
    }
    struct Copy {
        std::uint32_t key;
        std::uint32_t source;
    };
    std::vector<Copy> const copies = {{83, 80},   {85, 80},  {86, 80},  {87, 80},   {91, 88},
                                      {26, 3},    {30, 3},   {44, 3},   {47, 3},    {62, 50},
                                      {65, 63},   {103, 99}, {104, 99}, {109, 105}, {110, 105},
                                      {117, 112}, {118, 112}};
    for (auto const &c : copies) {
        auto const &l = getPresetPrimeList(c.key);
        auto const &src = getPresetPrimeList(c.source);
        std::size_t const L = profileOf(c.key).chain_length;
        EXPECT_TRUE(std::equal(l.begin(), l.begin() + L, src.begin())) << c.key;
    }
}

// The size the default scale of every level should keep, for the presets
// whose factors come from a rule over their own primes.
std::vector<std::int64_t> intendedSizes(Parameter const &par, std::vector<u64> const &q) {
    std::size_t const L = par.chain_length;
    std::vector<std::int64_t> want(L);
    auto const key = static_cast<std::uint32_t>(par.preset);
    if (par.bootstrappable && key != 0 && !par.automatic_gap_resolve) {
        // Integer corrections keep the levels from b up on the size of q_b
        // and the levels below on the size of q_E.
        std::size_t const E = par.encryption_level;
        std::size_t const b = E + 1 + (par.coeff_boot ? 3 : 0) + (par.re_remove_i ? 1 : 0);
        for (std::size_t l = 0; l < L; ++l)
            want[l] = roundedBits(q[l >= b ? b : E]);
        return want;
    }
    // The plain and the cleaning rules: every level keeps the size of the
    // prime it is rescaled by, level 0 that of level 1.
    for (std::size_t l = 0; l < L; ++l)
        want[l] = roundedBits(q[std::max<std::size_t>(l, 1)]);
    if (par.bootstrappable && key != 0) {
        // Automatic gap resolution has no corrections: the top takes the
        // size of the base prime and each level below is twice the one above
        // less the size of its prime. The level of the one oversized gap
        // prime keeps the size of the levels above it, so that squared and
        // divided by the gap prime it lands on the size below (2 x 45 - 53 =
        // 37). A gap prime of any other rounded size (just under 2^54 instead
        // of just over 2^53) sends every level below it off by a doubling
        // amount.
        std::size_t const gap = static_cast<std::size_t>(
            std::max_element(q.begin() + 1, q.begin() + static_cast<std::ptrdiff_t>(L)) -
            q.begin());
        if (gap + 1 < L)
            want[gap] = roundedBits(q[gap + 1]);
    }
    return want;
}

TEST(PrimeListsTest, OwnScaleFactorsStayOnTheirIntendedSizes) {
    // factors taken from another preset (small and outsourcing companions and
    // the presets listed here) are checked at their source
    std::set<std::uint32_t> const borrowed = {26, 27, 28, 29, 30, 44,  45,  46,  47,  62,  65,
                                              83, 85, 86, 87, 91, 103, 104, 109, 110, 117, 118};
    std::size_t checked_gap_presets = 0;
    for (auto const &pr : profiles()) {
        if (pr.parent >= 0 || borrowed.count(pr.key) || pr.chain_length < 2)
            continue;
        SCOPED_TRACE(pr.name);
        auto const preset = static_cast<ParameterPreset>(pr.key);
        Parameter const par(preset);
        ASSERT_EQ(par.chain_length, pr.chain_length);
        if (par.automatic_gap_resolve)
            ++checked_gap_presets;
        auto const want = intendedSizes(par, getPresetPrimeList(pr.key));
        ScaleFactors const scale_factors(preset);
        auto const &factors = scale_factors.getFactors();
        ASSERT_GE(factors.size(), pr.chain_length);
        // FVb and FVc keep one-sided 57-bit primes on their top levels (the
        // 61-bit ones must sit where the modular reduction multiplies):
        // nothing cancels there, and the deviation doubles down to about a
        // third of a bit at level 1, while the levels from the encryption
        // level up stay on size.
        const bool fv = pr.key == 1 || pr.key == 22;
        for (std::size_t l = 0; l < pr.chain_length; ++l) {
            const double tolerance = !fv ? 0.04 : l >= par.encryption_level ? 1e-3 : 0.35;
            EXPECT_NEAR(factors[l], static_cast<double>(want[l]), tolerance) << "level " << l;
        }
    }
    EXPECT_EQ(checked_gap_presets, 4u); // Discrete_G8, G8A, G8B, G10A
}

// FGfO takes the corrections of FGf at levels 13 and 14 (its own 9 and 10):
// only the step from the 42-bit to the 58-bit primes is corrected.
TEST(PrimeListsTest, FGfCorrectionsAroundTheOutsourcedLevels) {
    ScaleFactors const fgf_factors(ParameterPreset::FGf);
    EXPECT_EQ(fgf_factors.getCorrection(13), 0);
    EXPECT_EQ(fgf_factors.getCorrection(14), -16);
    auto const &fgfo = getPresetPrimeList(52);
    auto const &fgf = getPresetPrimeList(50);
    for (std::size_t l = 9; l < 21; ++l)
        EXPECT_EQ(fgfo[l], fgf[l + 4]) << l;
}

} // namespace
} // namespace Quelt
