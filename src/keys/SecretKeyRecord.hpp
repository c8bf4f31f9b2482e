#pragma once

// What the secret-key records of the ring schemes and of the LWE scheme share:
// the form named by the record's option, the random flag and seed of the full
// form, the coefficient array, the seed-only form, the reload from a seed,
// and their messages.

#include "Quelt/DeviceSpecificArray.hpp"
#include "foundation/UniformRandomBitGenerator.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace cereal {
class PortableBinaryOutputArchive;
class PortableBinaryInputArchive;
} // namespace cereal

namespace Quelt::SecretKeyRecord {

inline constexpr const char *kNullCoefficients = "[Secret Key] The coefficients are null";
inline constexpr const char *kNotRandom = "The secret key is not randomly generated";
inline constexpr const char *kLoadInvalidOption = "[load SecretKey] Invalid serialize option";
inline constexpr const char *kLoadRandomFlag =
    "[load SecretKey] The stored random flag is neither 0 nor 1";
inline constexpr const char *kLoadSeedLength =
    "[load SecretKey] The stored seed length does not match the random flag";
inline constexpr const char *kLoadStateLength =
    "[load SecretKey] The stored generator state does not have 49 bytes";
inline constexpr const char *kLoadCoefficientCount =
    "[load SecretKey] The stored coefficient count does not match the context";

// The option of a record: the full form or the seed-only form.
inline constexpr std::uint32_t kFullForm = 1;
inline constexpr std::uint32_t kSeedOnlyForm = 2;

// The form a loaded option names. No option, or one other than kFullForm and
// kSeedOnlyForm, throws RuntimeException kLoadInvalidOption.
std::uint32_t checkedForm(const std::optional<std::uint32_t> &option);

// The random flag (one byte) and the seed (a string) of the full form.
void saveRandomFlagAndSeed(cereal::PortableBinaryOutputArchive &archive, bool random,
                           const std::string &seed);
// Reads them: a flag of 0 or 1 (else kLoadRandomFlag), then a seed of the
// generator's state length for a random key and an empty one otherwise (else
// kLoadSeedLength, before any byte of it is read).
std::pair<bool, std::string> loadRandomFlagAndSeed(cereal::PortableBinaryInputArchive &archive);

// Reads a coefficient array whose count must be `expected` (else
// kLoadCoefficientCount, before any coefficient is read or memory reserved).
DeviceSpecificArray<int> loadCoefficients(cereal::PortableBinaryInputArchive &archive,
                                          std::uint64_t expected);

// The seed-only form after the option: object code 2, then the seed.
void saveSeedOnlyBody(cereal::PortableBinaryOutputArchive &archive, const std::string &seed);
// Reads its object code: anything but 2 throws RuntimeException
// "[Verifier::load] Validation failed during deserializing objects.".
void loadSeedOnlyCode(cereal::PortableBinaryInputArchive &archive);
// Reads its seed, which must be a generator state (else kLoadStateLength).
std::string loadSeedOnlyState(cereal::PortableBinaryInputArchive &archive);

// Runs `sample` with the calling thread's generator at `state`, then puts the
// generator back where it stood, whatever happens, so that the thread's later
// draws are those it would have made anyway.
template <typename Sample>
void sampleFromState(const std::string &state, Sample &&sample) {
    const GeneratorStateGuard guard;
    UniformRandomBitGenerator::getInstance().setState(state);
    sample();
}

} // namespace Quelt::SecretKeyRecord
