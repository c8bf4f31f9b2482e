#pragma once

#include "Quelt/LWEParameterPreset.hpp"
#include "Quelt/SecurityLevel.hpp"

#include <cstdint>
#include <string>

namespace Quelt::LWE {

// Largest word count of one LWE vector (dimension x chain_length words):
// 2^45 words are 256 TiB, beyond what any 48-bit address space can hold.
inline constexpr std::uint64_t kMaxVectorWords = std::uint64_t{1} << 45;

inline constexpr const char *kVectorTooLargeMessage =
    "[Parameter] Invalid dimension: a vector of dimension x chain_length words does not fit in "
    "memory";

// dimension x limbs, the word count of an LWE vector spanning `limbs` primes.
// Throws RuntimeException kVectorTooLargeMessage when the product overflows
// 64 bits or exceeds kMaxVectorWords.
std::uint64_t vectorWordCount(std::uint64_t dimension, std::uint64_t limbs);

// Sizes of one parameter set of the LWE scheme: a secret of `dimension`
// coefficients and a chain of `chain_length` primes without NTT.
struct Parameter {
    ParameterPreset preset = ParameterPreset::CUSTOM;
    // The preset's name, or "CUSTOM" for a record built from sizes.
    std::string name;
    std::uint64_t dimension = 0;
    // Number of primes; levels run from 0 to max_level = chain_length - 1.
    std::uint64_t chain_length = 0;
    // Always 1; kept as a plain field, no operation reads it.
    std::uint64_t reserved_u64 = 1;
    std::uint64_t max_level = 0;
    // Number of nonzero secret coefficients: round(2 * dimension / 3).
    std::uint64_t hamming_weight = 0;
    // Width of the Gaussian error.
    double sigma = 3.2;
    // Bit sizes of the base prime and of the other primes of a custom record;
    // 0 for presets, whose primes come from compiled-in lists.
    std::uint64_t base_bits = 0;
    std::uint64_t quantize_bits = 0;
    SecurityLevel security_level = SecurityLevel::NONE;
    // Both always "Quelt"; kept as plain fields, no operation reads them.
    std::string product_word_1 = "Quelt";
    std::string product_word_2 = "Quelt";
    // Always 2; kept as a plain field, no operation reads it.
    std::uint32_t reserved_u32 = 2;

    // A custom record from sizes; the security level is estimated from
    // floor(log2 dimension) and base_bits + (chain_length - 1) * quantize_bits.
    // Throws RuntimeException, checked in this order before anything is built:
    //   "[Parameter] Invalid chain_length" unless 1 <= chain_length <= 50,
    //   "[Parameter] Invalid dimension" if dimension is 0,
    //   kVectorTooLargeMessage when a vector of the context would not fit in
    //   memory (see vectorWordCount).
    Parameter(std::uint64_t dimension, std::uint64_t chain_length, std::uint64_t base_bits,
              std::uint64_t quantize_bits);

    // The record of a named preset (security level 128).
    // Throws RuntimeException "Need to specify some parameters in order to use
    // CUSTOM parameters." for CUSTOM and "The input parameter preset is not yet
    // supported." for a value above 5.
    explicit Parameter(const ParameterPreset &preset);
};

} // namespace Quelt::LWE
