#include "Quelt/ParameterPreset.hpp"

#include "Quelt/Exception.hpp"
#include "context/ParameterPresetTable.hpp"

#include <array>
#include <utility>

namespace Quelt {

namespace {

using P = ParameterPreset;
using Companion = std::pair<P, P>; // (preset, its companion)

constexpr std::array kSparseCompanions{
    Companion{P::FGbSSE, P::SGb0},
    Companion{P::FGbSSEMS2, P::SGb0MS2},
    Companion{P::FGbSSEMS4, P::SGb0MS4},
    Companion{P::FGbSSEMS8, P::SGb0MS8},
    Companion{P::FGbSSEMS16, P::SGb0MS16},
    Companion{P::FFF, P::SSS},
    Companion{P::FFFMS, P::SSSMS},
    Companion{P::FGd, P::SGd0},
    Companion{P::FGxCOEFF, P::SGxCOEFF0},
    Companion{P::FTxCOEFF, P::STxCOEFF0},
    Companion{P::FGf, P::FGfO0},
    Companion{P::FGfO, P::FGfO0},
    Companion{P::FGfL7, P::FGfO0},
    Companion{P::FGfOL7, P::FGfO0},
    Companion{P::FGfL7Low, P::FGfO0Low},
    Companion{P::FGfOL7Low, P::FGfO0Low},
    Companion{P::FGSa, P::SGSa0},
    Companion{P::FGSb, P::SGSb0},
    Companion{P::FGSc, P::SGSc0},
    Companion{P::FGSd, P::SGSd0},
    Companion{P::FGCa, P::SGCa0},
    Companion{P::Discrete_G8, P::Discrete_G8_Sparse},
    Companion{P::Discrete_G8A, P::Discrete_G8A_Sparse},
    Companion{P::Discrete_G8A_OBTS, P::Discrete_G8A_Sparse},
    Companion{P::Discrete_G8B, P::Discrete_G8B_Sparse},
    Companion{P::Discrete_G8B_OBTS, P::Discrete_G8B_Sparse},
    Companion{P::Discrete_G10, P::Discrete_G10_Sparse},
    Companion{P::Discrete_G10A, P::Discrete_G10A_Sparse},
    Companion{P::Discrete_G12, P::Discrete_G12_Sparse},
    Companion{P::KAPLO_BTS, P::KAPLO_BTS_SPARSE},
    Companion{P::KAPLO_BTS_OUTSOURCE, P::KAPLO_BTS_SPARSE},
    Companion{P::KAPLO_2_BTS, P::KAPLO_2_BTS_SPARSE},
    Companion{P::KAPLO_2_BTS_OUTSOURCE, P::KAPLO_2_BTS_SPARSE},
    Companion{P::KAPLO_3_BTS, P::KAPLO_3_BTS_SPARSE},
    Companion{P::KAPLO_3_BTS_OUTSOURCE, P::KAPLO_3_BTS_SPARSE},
};

constexpr std::array kOutsourcingCompanions{
    Companion{P::FGf, P::FGfO},
    Companion{P::FGfSmall, P::FGfO},
    Companion{P::FGfL7, P::FGfOL7},
    Companion{P::FGfL7Small, P::FGfOL7},
    Companion{P::FGfL7Low, P::FGfOL7Low},
    Companion{P::FGfL7SmallLow, P::FGfOL7Low},
    Companion{P::FGe, P::FGeO},
    Companion{P::Discrete_G8A, P::Discrete_G8A_OBTS},
    Companion{P::Discrete_G8A_Small, P::Discrete_G8A_OBTS},
    Companion{P::Discrete_G8B, P::Discrete_G8B_OBTS},
    Companion{P::Discrete_G8B_Small, P::Discrete_G8B_OBTS},
    Companion{P::KAPLO_BTS, P::KAPLO_BTS_OUTSOURCE},
    Companion{P::KAPLO_BTS_SMALL, P::KAPLO_BTS_OUTSOURCE},
    Companion{P::KAPLO_2_BTS, P::KAPLO_2_BTS_OUTSOURCE},
    Companion{P::KAPLO_2_BTS_SMALL, P::KAPLO_2_BTS_OUTSOURCE},
    Companion{P::KAPLO_3_BTS, P::KAPLO_3_BTS_OUTSOURCE},
    Companion{P::KAPLO_3_BTS_SMALL, P::KAPLO_3_BTS_OUTSOURCE},
};

constexpr std::array kSmallCompanions{
    Companion{P::FGb, P::FGbSmall},
    Companion{P::FGbL7, P::FGbSmall},
    Companion{P::FGf, P::FGfSmall},
    Companion{P::FGfL7, P::FGfL7Small},
    Companion{P::FGfL7Low, P::FGfL7SmallLow},
    Companion{P::Discrete_G8A, P::Discrete_G8A_Small},
    Companion{P::Discrete_G8B, P::Discrete_G8B_Small},
    Companion{P::KAPLO_BTS, P::KAPLO_BTS_SMALL},
    Companion{P::KAPLO_2_BTS, P::KAPLO_2_BTS_SMALL},
    Companion{P::KAPLO_3_BTS, P::KAPLO_3_BTS_SMALL},
};

struct MultiSecretCompanion {
    std::uint64_t num_secret;
    P preset;
};
// The multi-secret companions of FGbSSE, by number of secrets.
constexpr std::array kFGbSSEMultiSecretCompanions{
    MultiSecretCompanion{2, P::FGbSSEMS2},
    MultiSecretCompanion{4, P::FGbSSEMS4},
    MultiSecretCompanion{8, P::FGbSSEMS8},
    MultiSecretCompanion{16, P::FGbSSEMS16},
};

template <std::size_t N>
P findCompanion(const std::array<Companion, N> &table, P preset, const char *missing_message) {
    for (const auto &[from, to] : table)
        if (from == preset)
            return to;
    throw RuntimeException(missing_message);
}

} // namespace

EncryptionType getEncryptionType(ParameterPreset preset) {
    const PresetRow &row = getPresetRow(preset);
    if (row.rank != 1)
        return EncryptionType::MLWE;
    return row.num_secret == 1 ? EncryptionType::RLWE : EncryptionType::MSRLWE;
}

ParameterPreset getSparseParameterPresetFor(ParameterPreset preset) {
    return findCompanion(
        kSparseCompanions, preset,
        "This parameter preset does not have corresponding sparse parameter preset");
}

ParameterPreset getOutsourcingParameterPresetFor(ParameterPreset preset) {
    return findCompanion(
        kOutsourcingCompanions, preset,
        "This parameter preset does not have corresponding outsourcing parameter preset");
}

ParameterPreset getSmallParameterPresetFor(ParameterPreset preset) {
    return findCompanion(
        kSmallCompanions, preset,
        "This parameter preset does not have corresponding small parameter preset");
}

ParameterPreset getMultiSecretParameterPresetFor(ParameterPreset preset, std::uint64_t num_secret) {
    if (preset == P::FGbSSE)
        for (const auto &companion : kFGbSSEMultiSecretCompanions)
            if (companion.num_secret == num_secret)
                return companion.preset;
    throw RuntimeException("This parameter preset does not have corresponding multi-secret preset");
}

} // namespace Quelt
