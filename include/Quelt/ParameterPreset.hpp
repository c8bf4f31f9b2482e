#pragma once

#include "Quelt/EncryptionType.hpp"

#include <cstdint>

namespace Quelt {

// Named parameter sets of the library. Every value except CUSTOM fixes the ring
// degree, the prime chain (a compiled-in list of primes), the key-switching
// gadget, the secret distribution and the bootstrapping features; CUSTOM stands
// for a parameter set given by explicit sizes.
//
// Values 30 and 45 both carry the name "FGbD9R3L0": value 30 has ring degree
// 2^3 and module rank 512, value 45 ring degree 2^9 and module rank 8.
enum class ParameterPreset : std::uint32_t {
    FVa = 0,
    FVb = 1,
    FGa = 2,
    FGb = 3,
    FGbMS = 4,
    FGbSSE = 5,
    FGbSSEMS2 = 6,
    FGbSSEMS4 = 7,
    FGbSSEMS8 = 8,
    FGbSSEMS16 = 9,
    FFF = 10,
    FFFMS = 11,
    FTa = 12,
    FTb = 13,
    ST19 = 14,
    ST14 = 15,
    ST11 = 16,
    ST8 = 17,
    ST7 = 18,
    SS7 = 19,
    SD3 = 20,
    CUSTOM = 21,
    FVc = 22,
    FX = 23,
    FGd = 24,
    SGd0 = 25,
    FGbD12NS6L1 = 26,
    FGbD12NS3L1 = 27,
    FGbD12NS2L1 = 28,
    FGbD12NS1L1 = 29,
    FGbD9R3L0 = 30,
    SGb0 = 31,
    SGb0MS2 = 32,
    SGb0MS4 = 33,
    SGb0MS8 = 34,
    SGb0MS16 = 35,
    SSS = 36,
    SSSMS = 37,
    FGxCOEFF = 38,
    SGxCOEFF0 = 39,
    FTxCOEFF = 40,
    STxCOEFF0 = 41,
    SD3D6R2 = 42,
    FGbL0 = 43,
    FGbD12L0 = 44,
    FGbD9R3L0Rank8 = 45,
    FGbD8R4L0 = 46,
    FGbD6R6L0 = 47,
    FGbL7 = 48,
    FGbSmall = 49,
    FGf = 50,
    FGfSmall = 51,
    FGfO = 52,
    FGfO0 = 53,
    FGfL7 = 54,
    FGfOL7 = 55,
    FGfL7Small = 56,
    FGfL7Low = 57,
    FGfOL7Low = 58,
    FGfL7SmallLow = 59,
    FGfO0Low = 60,
    FGfL0 = 61,
    FGfD12L0 = 62,
    FGh = 63,
    FGhL0 = 64,
    FGhD12L0 = 65,
    FGSa = 66,
    SGSa0 = 67,
    FGSb = 68,
    SGSb0 = 69,
    FGSc = 70,
    SGSc0 = 71,
    FGSd = 72,
    SGSd0 = 73,
    FGCa = 74,
    SGCa0 = 75,
    FGe = 76,
    FGeO = 77,
    Discrete_G8 = 78,
    Discrete_G8_Sparse = 79,
    Discrete_G8A = 80,
    Discrete_G8A_Small = 81,
    Discrete_G8A_OBTS = 82,
    Discrete_G8A_SHE = 83,
    Discrete_G8A_Sparse = 84,
    Discrete_G8A_L0 = 85,
    Discrete_G8A_D12L0 = 86,
    Discrete_G8A_D9R3L0 = 87,
    Discrete_G8B = 88,
    Discrete_G8B_Small = 89,
    Discrete_G8B_OBTS = 90,
    Discrete_G8B_SHE = 91,
    Discrete_G8B_Sparse = 92,
    Discrete_G10 = 93,
    Discrete_G10_Sparse = 94,
    Discrete_G10A = 95,
    Discrete_G10A_Sparse = 96,
    Discrete_G12 = 97,
    Discrete_G12_Sparse = 98,
    KAPLO_BTS = 99,
    KAPLO_BTS_SPARSE = 100,
    KAPLO_BTS_OUTSOURCE = 101,
    KAPLO_BTS_SMALL = 102,
    KAPLO_BTS_L0 = 103,
    KAPLO_BTS_D12L0 = 104,
    KAPLO_2_BTS = 105,
    KAPLO_2_BTS_SPARSE = 106,
    KAPLO_2_BTS_OUTSOURCE = 107,
    KAPLO_2_BTS_SMALL = 108,
    KAPLO_2_BTS_L0 = 109,
    KAPLO_2_BTS_D12L0 = 110,
    KAPLO_2_CLEANING = 111,
    KAPLO_3_BTS = 112,
    KAPLO_3_BTS_SPARSE = 113,
    KAPLO_3_BTS_OUTSOURCE = 114,
    KAPLO_3_BTS_OUTSOURCE_REAL = 115,
    KAPLO_3_BTS_SMALL = 116,
    KAPLO_3_BTS_L0 = 117,
    KAPLO_3_BTS_D12L0 = 118,
    KAPLO_3_CLEANING = 119,
};

// Largest valid preset value; a ParameterPreset above it is rejected.
inline constexpr std::uint32_t kMaxParameterPresetValue = 119;

// The encryption type of a preset's ciphertexts: MLWE when the module rank is
// above 1, RLWE when the preset has one secret, MSRLWE otherwise.
// Throws RuntimeException for CUSTOM ("Need to specify some parameters in order
// to use CUSTOM parameters.") and for values above 119 ("The input parameter
// preset is not yet supported.").
EncryptionType getEncryptionType(ParameterPreset preset);

// The preset whose context serves as the sparse-secret companion of `preset`
// in sparse-secret encapsulation. Throws RuntimeException "This parameter
// preset does not have corresponding sparse parameter preset" if it has none.
ParameterPreset getSparseParameterPresetFor(ParameterPreset preset);

// The preset of the outsourcing companion (the context an outsourced bootstrap
// runs in). Throws RuntimeException "This parameter preset does not have
// corresponding outsourcing parameter preset" if it has none.
ParameterPreset getOutsourcingParameterPresetFor(ParameterPreset preset);

// The preset of the small companion (the short chain that bootstrapped results
// are moved into). Throws RuntimeException "This parameter preset does not have
// corresponding small parameter preset" if it has none.
ParameterPreset getSmallParameterPresetFor(ParameterPreset preset);

// The preset that carries `num_secret` secrets and otherwise matches `preset`.
// Only FGbSSE has such companions (2, 4, 8 and 16 secrets). Throws
// RuntimeException "This parameter preset does not have corresponding
// multi-secret preset" for any other pair.
ParameterPreset getMultiSecretParameterPresetFor(ParameterPreset preset, std::uint64_t num_secret);

} // namespace Quelt
