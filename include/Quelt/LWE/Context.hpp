#pragma once

#include "Quelt/LWEParameterPreset.hpp"
#include "Quelt/SecurityLevel.hpp"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Quelt::LWE {

// The context of the LWE scheme: dimension, a short chain of primes without
// transforms, per-level scale factors and an identity hash. Always held
// through std::shared_ptr and made by makeContext.
class ContextContent;

// The context of an LWE preset. CUSTOM throws "Need to specify some parameters
// in order to use CUSTOM parameters."; an unknown value throws "The input
// parameter preset is not yet supported."; a negative or absent accelerator id
// throws "Invalid CUDA device ID: <id>".
std::shared_ptr<ContextContent> makeContext(const ParameterPreset &preset,
                                            const std::set<int> &cuda_ids = {});

// A CUSTOM context: one base prime below 2^base_bits and chain_length - 1
// quantize primes below 2^quantize_bits. Throws RuntimeException for a
// chain_length of 0 or above 50 ("[Parameter] Invalid chain_length"), a
// dimension of 0 ("[Parameter] Invalid dimension"), a dimension whose vectors
// of dimension x chain_length words could not be held in memory (the product
// overflows 64 bits or exceeds 2^45 words: "[Parameter] Invalid dimension: a
// vector of dimension x chain_length words does not fit in memory"), and the
// prime search's messages on the bit sizes.
std::shared_ptr<ContextContent> makeContext(std::uint64_t dimension, std::uint64_t chain_length,
                                            std::uint64_t base_bits, std::uint64_t quantize_bits,
                                            const std::set<int> &cuda_ids = {});

// Getters; each throws RuntimeException "[Context] The context is null" on an
// empty pointer.
std::uint64_t getDimension(const std::shared_ptr<ContextContent> &ctx);
// chain_length - 1, the level of fresh encryptions.
std::uint64_t getEncryptionLevel(const std::shared_ptr<ContextContent> &ctx);
SecurityLevel getSecurityLevel(const std::shared_ptr<ContextContent> &ctx);
// The chain_length prime values in chain order.
std::vector<std::uint64_t> getPrimeList(const std::shared_ptr<ContextContent> &ctx);
// log2 scale of levels 0 to chain_length - 1; throws "[ScaleFactors] The scale
// factor for given level is not valid" when one of them has none.
std::vector<double> getDefaultScaleFactorList(const std::shared_ptr<ContextContent> &ctx);

// Writes the preset, dimension, bit sizes and chain length (37 bytes). Throws
// "Cannot open file <path>" when the file cannot be opened.
void saveContextToFile(const std::shared_ptr<ContextContent> &ctx, const std::string &path);
// Rebuilds a context from such a file, on either byte order: a preset file
// gives the preset's context, a CUSTOM file the context of its sizes. Throws
// "Cannot open file <path>", the serialisation library's exception on a short
// file, and the constructors' messages on a stored preset or sizes out of range.
std::shared_ptr<ContextContent> makeContextFromFile(const std::string &path,
                                                    const std::set<int> &cuda_ids = {});

} // namespace Quelt::LWE
