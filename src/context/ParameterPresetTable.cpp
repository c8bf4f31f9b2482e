#include "context/ParameterPresetTable.hpp"

#include "Quelt/Exception.hpp"

#include <array>
#include <cstddef>

namespace Quelt {

namespace {

using P = ParameterPreset;

// Flags are written as letters: B bootstrappable, X extended bootstrap,
// S sparse-secret encapsulation, H double hoisting, T batch bootstrap,
// F fused modulus raise, C coefficient bootstrapping, R re-remove-I,
// O outsourced bootstrap, U outsourcing parameter, M small parameter,
// P full packed base modulus, G automatic gap resolve.
consteval std::uint32_t flagsFromLetters(const char *letters) {
    std::uint32_t flags = 0;
    for (const char *c = letters; *c != '\0'; ++c) {
        switch (*c) {
        case 'B':
            flags |= kFlagBootstrappable;
            break;
        case 'X':
            flags |= kFlagExtendedBootstrap;
            break;
        case 'S':
            flags |= kFlagSparseSecretEncapsulation;
            break;
        case 'H':
            flags |= kFlagDoubleHoisting;
            break;
        case 'T':
            flags |= kFlagBatchBootstrap;
            break;
        case 'F':
            flags |= kFlagFuseModRaise;
            break;
        case 'C':
            flags |= kFlagCoeffBoot;
            break;
        case 'R':
            flags |= kFlagReRemoveI;
            break;
        case 'O':
            flags |= kFlagOutsourcedBootstrap;
            break;
        case 'U':
            flags |= kFlagOutsourcingParameter;
            break;
        case 'M':
            flags |= kFlagSmallParameter;
            break;
        case 'P':
            flags |= kFlagFullPackedBaseModulus;
            break;
        case 'G':
            flags |= kFlagAutomaticGapResolve;
            break;
        default:
            throw "unknown preset flag letter"; // rejected at compile time
        }
    }
    return flags;
}

struct RemoveILevels {
    std::uint64_t begin;
    std::uint64_t end;
};
constexpr RemoveILevels kNoRemoveI{0, 0};
constexpr std::optional<ParameterPreset> kNoParent = std::nullopt;

consteval PresetRow row(P preset, const char *name, std::uint64_t log_degree, std::uint64_t rank,
                        std::uint64_t num_secret, std::uint64_t chain_length,
                        std::uint64_t gadget_rank, std::uint64_t num_tp,
                        std::uint64_t encryption_level, RemoveILevels remove_i,
                        std::uint64_t hamming_weight, std::optional<ParameterPreset> parent,
                        const char *flag_letters) {
    return PresetRow{preset,           name,
                     log_degree,       rank,
                     num_secret,       chain_length,
                     gadget_rank,      num_tp,
                     encryption_level, remove_i.begin,
                     remove_i.end,     hamming_weight,
                     parent,           flagsFromLetters(flag_letters)};
}

// Placeholder at the value of CUSTOM; never handed out.
consteval PresetRow customRow() {
    return PresetRow{P::CUSTOM, "CUSTOM", 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, std::nullopt, 0};
}

// Columns: preset, name, log_degree, rank, num_secret, chain_length,
// gadget_rank, num_tp, encryption_level, remove-I levels {begin, end},
// hamming_weight, parent, flags.
constexpr std::array<PresetRow, kMaxParameterPresetValue + 1> kPresetTable{{
    row(P::FVa, "FVa", 17, 1, 1, 30, 3, 10, 29, kNoRemoveI, 64, kNoParent, "BX"),
    row(P::FVb, "FVb", 17, 1, 1, 30, 3, 10, 14, kNoRemoveI, 128, kNoParent, "BX"),
    row(P::FGa, "FGa", 16, 1, 1, 24, 6, 4, 9, kNoRemoveI, 192, kNoParent, "BX"),
    row(P::FGb, "FGb", 16, 1, 1, 25, 5, 5, 12, kNoRemoveI, 192, kNoParent, "BX"),
    row(P::FGbMS, "FGbMS", 16, 1, 4, 25, 5, 5, 12, kNoRemoveI, 192, kNoParent, "BXF"),
    row(P::FGbSSE, "FGbSSE", 16, 1, 1, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXSTF"),
    row(P::FGbSSEMS2, "FGbSSEMS2", 16, 1, 2, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXSTF"),
    row(P::FGbSSEMS4, "FGbSSEMS4", 16, 1, 4, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXS"),
    row(P::FGbSSEMS8, "FGbSSEMS8", 16, 1, 8, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXS"),
    row(P::FGbSSEMS16, "FGbSSEMS16", 16, 1, 16, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXS"),
    row(P::FFF, "FFF", 16, 1, 1, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXS"),
    row(P::FFFMS, "FFFMS", 16, 1, 4, 24, 4, 6, 13, kNoRemoveI, 256, kNoParent, "BXSH"),
    row(P::FTa, "FTa", 15, 1, 1, 20, 10, 2, 8, kNoRemoveI, 192, kNoParent, "B"),
    row(P::FTb, "FTb", 15, 1, 1, 16, 16, 1, 4, kNoRemoveI, 192, kNoParent, "B"),
    row(P::ST19, "ST19", 15, 1, 1, 20, 20, 1, 19, kNoRemoveI, 21845, kNoParent, ""),
    row(P::ST14, "ST14", 15, 1, 1, 15, 3, 5, 14, kNoRemoveI, 21845, kNoParent, ""),
    row(P::ST11, "ST11", 15, 1, 1, 12, 3, 4, 11, kNoRemoveI, 21845, kNoParent, ""),
    row(P::ST8, "ST8", 15, 1, 1, 9, 3, 3, 8, kNoRemoveI, 21845, kNoParent, ""),
    row(P::ST7, "ST7", 15, 1, 1, 8, 2, 4, 7, kNoRemoveI, 21845, kNoParent, ""),
    row(P::SS7, "SS7", 14, 1, 1, 8, 4, 2, 7, kNoRemoveI, 10922, kNoParent, ""),
    row(P::SD3, "SD3", 13, 1, 1, 4, 4, 1, 3, kNoRemoveI, 5461, kNoParent, ""),
    customRow(),
    row(P::FVc, "FVc", 17, 1, 1, 30, 3, 10, 13, kNoRemoveI, 128, kNoParent, "BX"),
    row(P::FX, "FX", 6, 1, 1, 25, 5, 5, 12, kNoRemoveI, 8, kNoParent, "BX"),
    row(P::FGd, "FGd", 16, 1, 1, 25, 5, 5, 12, kNoRemoveI, 192, kNoParent, "BXS"),
    row(P::SGd0, "SGd0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::FGbD12NS6L1, "FGbD12NS6L1", 12, 1, 6, 2, 2, 1, 1, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD12NS3L1, "FGbD12NS3L1", 12, 1, 3, 2, 2, 1, 1, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD12NS2L1, "FGbD12NS2L1", 12, 1, 2, 2, 2, 1, 1, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD12NS1L1, "FGbD12NS1L1", 12, 1, 1, 2, 2, 1, 1, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD9R3L0, "FGbD9R3L0", 3, 512, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::SGb0, "SGb0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SGb0MS2, "SGb0MS2", 16, 1, 2, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SGb0MS4, "SGb0MS4", 16, 1, 4, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SGb0MS8, "SGb0MS8", 16, 1, 8, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SGb0MS16, "SGb0MS16", 16, 1, 16, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SSS, "SSS", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SSSMS, "SSSMS", 16, 1, 4, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::FGxCOEFF, "FGxCOEFF", 16, 1, 1, 24, 4, 6, 10, kNoRemoveI, 256, kNoParent, "BSTC"),
    row(P::SGxCOEFF0, "SGxCOEFF0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::FTxCOEFF, "FTxCOEFF", 15, 1, 1, 21, 7, 3, 7, kNoRemoveI, 256, kNoParent, "BSTC"),
    row(P::STxCOEFF0, "STxCOEFF0", 15, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, ""),
    row(P::SD3D6R2, "SD3D6R2", 6, 4, 1, 4, 4, 1, 3, kNoRemoveI, 171, kNoParent, ""),
    row(P::FGbL0, "FGbL0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD12L0, "FGbD12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD9R3L0Rank8, "FGbD9R3L0", 9, 8, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD8R4L0, "FGbD8R4L0", 8, 16, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbD6R6L0, "FGbD6R6L0", 6, 64, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGbL7, "FGbL7", 16, 1, 1, 20, 4, 5, 7, kNoRemoveI, 192, kNoParent, "BX"),
    row(P::FGbSmall, "FGbSmall", 16, 1, 1, 5, 1, 4, 4, kNoRemoveI, 192, P::FGb, "BXM"),
    row(P::FGf, "FGf", 16, 1, 1, 25, 5, 5, 12, {21, 13}, 192, kNoParent, "BXSTFRO"),
    row(P::FGfSmall, "FGfSmall", 16, 1, 1, 4, 1, 3, 3, kNoRemoveI, 192, P::FGf, "BXTROM"),
    row(P::FGfO, "FGfO", 16, 1, 1, 21, 5, 5, 8, {17, 9}, 192, P::FGf, "BXSTFRU"),
    row(P::FGfO0, "FGfO0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGfL7, "FGfL7", 16, 1, 1, 20, 4, 5, 7, {16, 8}, 192, kNoParent, "BXTRO"),
    row(P::FGfOL7, "FGfOL7", 16, 1, 1, 18, 3, 6, 5, {14, 6}, 192, P::FGfL7, "BXSFRU"),
    row(P::FGfL7Small, "FGfL7Small", 16, 1, 1, 5, 1, 4, 4, kNoRemoveI, 192, P::FGfL7, "BXTROM"),
    row(P::FGfL7Low, "FGfL7Low", 16, 1, 1, 20, 2, 6, 7, {16, 8}, 192, kNoParent, "BXTRO"),
    row(P::FGfOL7Low, "FGfOL7Low", 16, 1, 1, 17, 2, 7, 4, {13, 5}, 192, P::FGfL7Low, "BXSFRU"),
    row(P::FGfL7SmallLow, "FGfL7SmallLow", 16, 1, 1, 5, 1, 3, 4, kNoRemoveI, 192, P::FGfL7Low,
        "BXTROM"),
    row(P::FGfO0Low, "FGfO0Low", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGfL0, "FGfL0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGfD12L0, "FGfD12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGh, "FGh", 16, 1, 1, 35, 5, 7, 22, kNoRemoveI, 192, kNoParent, "BX"),
    row(P::FGhL0, "FGhL0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGhD12L0, "FGhD12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, ""),
    row(P::FGSa, "FGSa", 16, 1, 1, 24, 4, 6, 11, {20, 12}, 256, kNoParent, "BXSTFR"),
    row(P::SGSa0, "SGSa0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGSb, "FGSb", 16, 1, 1, 25, 5, 5, 12, {21, 13}, 256, kNoParent, "BXSR"),
    row(P::SGSb0, "SGSb0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGSc, "FGSc", 16, 1, 1, 27, 9, 3, 14, {23, 15}, 256, kNoParent, "BXSR"),
    row(P::SGSc0, "SGSc0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGSd, "FGSd", 16, 1, 1, 28, 7, 4, 15, {24, 16}, 256, kNoParent, "BXSR"),
    row(P::SGSd0, "SGSd0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGCa, "FGCa", 16, 1, 1, 24, 4, 6, 8, {20, 12}, 256, kNoParent, "BSTCR"),
    row(P::SGCa0, "SGCa0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent, "R"),
    row(P::FGe, "FGe", 16, 1, 1, 25, 5, 5, 12, kNoRemoveI, 192, kNoParent, "BXFO"),
    row(P::FGeO, "FGeO", 16, 1, 1, 21, 5, 5, 8, kNoRemoveI, 192, P::FGe, "BXFU"),
    row(P::Discrete_G8, "Discrete_G8", 16, 1, 1, 23, 3, 6, 11, kNoRemoveI, 192, kNoParent, "BSPG"),
    row(P::Discrete_G8_Sparse, "Discrete_G8_Sparse", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, ""),
    row(P::Discrete_G8A, "Discrete_G8A", 16, 1, 1, 23, 3, 6, 11, kNoRemoveI, 192, kNoParent,
        "BSFOPG"),
    row(P::Discrete_G8A_Small, "Discrete_G8A_Small", 16, 1, 1, 5, 1, 4, 4, kNoRemoveI, 192,
        P::Discrete_G8A, "BOMP"),
    row(P::Discrete_G8A_OBTS, "Discrete_G8A_OBTS", 16, 1, 1, 19, 2, 9, 7, kNoRemoveI, 192,
        P::Discrete_G8A, "BSFUPG"),
    row(P::Discrete_G8A_SHE, "Discrete_G8A_SHE", 16, 1, 1, 12, 1, 8, 11, kNoRemoveI, 192, kNoParent,
        ""),
    row(P::Discrete_G8A_Sparse, "Discrete_G8A_Sparse", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, ""),
    row(P::Discrete_G8A_L0, "Discrete_G8A_L0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent,
        ""),
    row(P::Discrete_G8A_D12L0, "Discrete_G8A_D12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730,
        kNoParent, ""),
    row(P::Discrete_G8A_D9R3L0, "Discrete_G8A_D9R3L0", 9, 8, 1, 1, 1, 1, 0, kNoRemoveI, 2730,
        kNoParent, ""),
    row(P::Discrete_G8B, "Discrete_G8B", 16, 1, 1, 23, 3, 6, 11, kNoRemoveI, 192, kNoParent,
        "BSFOPG"),
    row(P::Discrete_G8B_Small, "Discrete_G8B_Small", 16, 1, 1, 4, 1, 3, 3, kNoRemoveI, 192,
        P::Discrete_G8B, "BOMP"),
    row(P::Discrete_G8B_OBTS, "Discrete_G8B_OBTS", 16, 1, 1, 18, 2, 8, 6, kNoRemoveI, 192,
        P::Discrete_G8B, "BSFUPG"),
    row(P::Discrete_G8B_SHE, "Discrete_G8B_SHE", 16, 1, 1, 12, 1, 7, 11, kNoRemoveI, 192, kNoParent,
        ""),
    row(P::Discrete_G8B_Sparse, "Discrete_G8B_Sparse", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, ""),
    row(P::Discrete_G10, "Discrete_G10", 16, 1, 1, 25, 5, 4, 13, kNoRemoveI, 192, kNoParent, "BSP"),
    row(P::Discrete_G10_Sparse, "Discrete_G10_Sparse", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, ""),
    row(P::Discrete_G10A, "Discrete_G10A", 16, 1, 1, 25, 5, 4, 13, kNoRemoveI, 192, kNoParent,
        "BSPG"),
    row(P::Discrete_G10A_Sparse, "Discrete_G10A_Sparse", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, ""),
    row(P::Discrete_G12, "Discrete_G12", 16, 1, 1, 27, 3, 6, 15, kNoRemoveI, 192, kNoParent, "BSP"),
    row(P::Discrete_G12_Sparse, "Discrete_G12_Sparse", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, ""),
    row(P::KAPLO_BTS, "KAPLO_BTS", 16, 1, 1, 22, 4, 6, 9, {18, 10}, 192, kNoParent, "BXSTFRO"),
    row(P::KAPLO_BTS_SPARSE, "KAPLO_BTS_SPARSE", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32, kNoParent,
        "R"),
    row(P::KAPLO_BTS_OUTSOURCE, "KAPLO_BTS_OUTSOURCE", 16, 1, 1, 18, 3, 6, 5, {14, 6}, 192,
        P::KAPLO_BTS, "BXSFRU"),
    row(P::KAPLO_BTS_SMALL, "KAPLO_BTS_SMALL", 16, 1, 1, 4, 1, 3, 3, kNoRemoveI, 192, P::KAPLO_BTS,
        "BXTROM"),
    row(P::KAPLO_BTS_L0, "KAPLO_BTS_L0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent, "R"),
    row(P::KAPLO_BTS_D12L0, "KAPLO_BTS_D12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent,
        "R"),
    row(P::KAPLO_2_BTS, "KAPLO_2_BTS", 16, 1, 1, 25, 5, 5, 12, {21, 13}, 192, kNoParent, "BXSTFRO"),
    row(P::KAPLO_2_BTS_SPARSE, "KAPLO_2_BTS_SPARSE", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, "R"),
    row(P::KAPLO_2_BTS_OUTSOURCE, "KAPLO_2_BTS_OUTSOURCE", 16, 1, 1, 20, 4, 5, 7, {16, 8}, 192,
        P::KAPLO_2_BTS, "BXSFRU"),
    row(P::KAPLO_2_BTS_SMALL, "KAPLO_2_BTS_SMALL", 16, 1, 1, 4, 1, 3, 3, kNoRemoveI, 192,
        P::KAPLO_2_BTS, "BXTROM"),
    row(P::KAPLO_2_BTS_L0, "KAPLO_2_BTS_L0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent,
        "R"),
    row(P::KAPLO_2_BTS_D12L0, "KAPLO_2_BTS_D12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730,
        kNoParent, "R"),
    row(P::KAPLO_2_CLEANING, "KAPLO_2_CLEANING", 16, 1, 1, 13, 2, 6, 12, kNoRemoveI, 192, kNoParent,
        "R"),
    row(P::KAPLO_3_BTS, "KAPLO_3_BTS", 16, 1, 1, 26, 5, 6, 13, {22, 14}, 192, kNoParent, "BXSTFRO"),
    row(P::KAPLO_3_BTS_SPARSE, "KAPLO_3_BTS_SPARSE", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 32,
        kNoParent, "R"),
    row(P::KAPLO_3_BTS_OUTSOURCE, "KAPLO_3_BTS_OUTSOURCE", 16, 1, 1, 20, 2, 10, 7, {16, 8}, 192,
        P::KAPLO_3_BTS, "BXSFRU"),
    row(P::KAPLO_3_BTS_OUTSOURCE_REAL, "KAPLO_3_BTS_OUTSOURCE_REAL", 16, 1, 1, 20, 3, 7, 7, {16, 8},
        192, P::KAPLO_3_BTS, "BXSFRU"),
    row(P::KAPLO_3_BTS_SMALL, "KAPLO_3_BTS_SMALL", 16, 1, 1, 4, 1, 3, 3, kNoRemoveI, 192,
        P::KAPLO_3_BTS, "BXTROM"),
    row(P::KAPLO_3_BTS_L0, "KAPLO_3_BTS_L0", 16, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730, kNoParent,
        "R"),
    row(P::KAPLO_3_BTS_D12L0, "KAPLO_3_BTS_D12L0", 12, 1, 1, 1, 1, 1, 0, kNoRemoveI, 2730,
        kNoParent, "R"),
    row(P::KAPLO_3_CLEANING, "KAPLO_3_CLEANING", 16, 1, 1, 14, 2, 6, 13, kNoRemoveI, 192, kNoParent,
        "R"),
}};

consteval bool rowsFollowTheirValues() {
    for (std::size_t i = 0; i < kPresetTable.size(); ++i)
        if (static_cast<std::size_t>(kPresetTable[i].preset) != i)
            return false;
    return true;
}
static_assert(rowsFollowTheirValues(), "the preset table must be indexed by preset value");

constexpr const char *kNotSupportedMessage = "The input parameter preset is not yet supported.";
constexpr const char *kCustomMessage =
    "Need to specify some parameters in order to use CUSTOM parameters.";

} // namespace

const PresetRow &getPresetRow(ParameterPreset preset) {
    const auto value = static_cast<std::uint32_t>(preset);
    if (value > kMaxParameterPresetValue)
        throw RuntimeException(kNotSupportedMessage);
    if (preset == ParameterPreset::CUSTOM)
        throw RuntimeException(kCustomMessage);
    return kPresetTable[value];
}

} // namespace Quelt
