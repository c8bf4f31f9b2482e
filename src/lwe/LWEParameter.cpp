#include "lwe/LWEParameter.hpp"

#include "Quelt/Exception.hpp"
#include "context/SecurityLevelUtils.hpp"
#include "foundation/WordReduction.hpp"

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>

namespace Quelt::LWE {

namespace {

constexpr std::uint64_t kMaxChainLength = 50;

struct PresetRow {
    ParameterPreset preset;
    const char *name;
    std::uint64_t dimension;
    std::uint64_t chain_length;
};

// Indexed by preset value; the row at CUSTOM is a placeholder never handed out.
constexpr std::array<PresetRow, kMaxParameterPresetValue + 1> kPresetTable{{
    {ParameterPreset::SS7, "SS7", 1024, 8},
    {ParameterPreset::SD3, "SD3", 32, 4},
    {ParameterPreset::CUSTOM, "CUSTOM", 0, 0},
    {ParameterPreset::FGbD12L0, "FGbD12L0", 4096, 1},
    {ParameterPreset::FGbD12L1, "FGbD12L1", 4096, 2},
    {ParameterPreset::Discrete_G8A_LWE, "Discrete_G8A_LWE", 4096, 1},
}};

// round(2 * dimension / 3), half away from zero, in double arithmetic. The
// quotient stays below 2^64 for every 64-bit dimension, so the conversion to
// an unsigned integer is always defined.
std::uint64_t hammingWeightFor(std::uint64_t dimension) {
    return static_cast<std::uint64_t>(std::round(2.0 * static_cast<double>(dimension) / 3.0));
}

} // namespace

std::uint64_t vectorWordCount(std::uint64_t dimension, std::uint64_t limbs) {
    const std::optional<std::uint64_t> words = utils::checkedProduct(dimension, limbs);
    if (!words || *words > kMaxVectorWords)
        throw RuntimeException(kVectorTooLargeMessage);
    return *words;
}

Parameter::Parameter(std::uint64_t dimension_, std::uint64_t chain_length_,
                     std::uint64_t base_bits_, std::uint64_t quantize_bits_) {
    // At least one prime: max_level and the quantize-prime count are chain_length - 1.
    if (chain_length_ == 0 || chain_length_ > kMaxChainLength)
        throw RuntimeException("[Parameter] Invalid chain_length");
    if (dimension_ == 0)
        throw RuntimeException("[Parameter] Invalid dimension");
    vectorWordCount(dimension_, chain_length_);

    preset = ParameterPreset::CUSTOM;
    name = "CUSTOM";
    dimension = dimension_;
    chain_length = chain_length_;
    max_level = chain_length - 1;
    hamming_weight = hammingWeightFor(dimension);
    base_bits = base_bits_;
    quantize_bits = quantize_bits_;

    const auto log_dimension = static_cast<std::uint64_t>(std::bit_width(dimension) - 1);
    // Saturate rather than wrap: a huge size must still read as "too many bits".
    const unsigned __int128 total =
        static_cast<unsigned __int128>(base_bits) +
        static_cast<unsigned __int128>(chain_length - 1) * quantize_bits;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t total_bits = total > kMax ? kMax : static_cast<std::uint64_t>(total);
    security_level = computeLWESecurityLevel(log_dimension, total_bits);
}

Parameter::Parameter(const ParameterPreset &preset_) {
    const auto value = static_cast<std::uint32_t>(preset_);
    if (preset_ == ParameterPreset::CUSTOM)
        throw RuntimeException(
            "Need to specify some parameters in order to use CUSTOM parameters.");
    if (value > kMaxParameterPresetValue)
        throw RuntimeException("The input parameter preset is not yet supported.");

    const PresetRow &row = kPresetTable[value];
    preset = preset_;
    name = row.name;
    dimension = row.dimension;
    chain_length = row.chain_length;
    max_level = chain_length - 1;
    hamming_weight = hammingWeightFor(dimension);
    security_level = SecurityLevel::SL128;
}

} // namespace Quelt::LWE
