#pragma once

#include "Quelt/ParameterPreset.hpp"

#include <cstdint>
#include <optional>

namespace Quelt {

// Feature flags of a preset row, one bit each.
enum PresetFlag : std::uint32_t {
    kFlagBootstrappable = 1u << 0,
    kFlagExtendedBootstrap = 1u << 1,
    kFlagSparseSecretEncapsulation = 1u << 2,
    kFlagDoubleHoisting = 1u << 3,
    kFlagBatchBootstrap = 1u << 4,
    kFlagFuseModRaise = 1u << 5,
    kFlagCoeffBoot = 1u << 6,
    kFlagReRemoveI = 1u << 7,
    kFlagOutsourcedBootstrap = 1u << 8,
    kFlagOutsourcingParameter = 1u << 9,
    kFlagSmallParameter = 1u << 10,
    kFlagFullPackedBaseModulus = 1u << 11,
    kFlagAutomaticGapResolve = 1u << 12,
};

// One row of the preset table.
struct PresetRow {
    ParameterPreset preset;
    const char *name;
    std::uint64_t log_degree;
    std::uint64_t rank;
    std::uint64_t num_secret;
    std::uint64_t chain_length;
    std::uint64_t gadget_rank;
    std::uint64_t num_tp;
    std::uint64_t encryption_level;
    std::uint64_t remove_i_begin_level; // 0 when the preset has no remove-I step
    std::uint64_t remove_i_end_level;
    std::uint64_t hamming_weight;
    std::optional<ParameterPreset> parent;
    std::uint32_t flags; // PresetFlag bits

    constexpr bool has(PresetFlag flag) const { return (flags & flag) != 0; }
};

// The row of a named preset.
// Throws RuntimeException "Need to specify some parameters in order to use
// CUSTOM parameters." for CUSTOM and "The input parameter preset is not yet
// supported." for a value above kMaxParameterPresetValue.
const PresetRow &getPresetRow(ParameterPreset preset);

} // namespace Quelt
