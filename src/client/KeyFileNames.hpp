#pragma once

#include <cstdint>
#include <string>

namespace Quelt {

// The names of the files of a key directory's "PK" subdirectory. Numbers are
// plain decimals, as std::to_string writes them.
inline constexpr const char *kEncKeyFile = "EncKey.bin";
inline constexpr const char *kMultKeyFile = "MultKey.bin";
inline constexpr const char *kConjKeyFile = "ConjKey.bin";
inline constexpr const char *kSparseSecretEncapsulationKeyFile = "SparseSecretEncapsulationKey.bin";

inline std::string rotKeyFileName(std::uint64_t idx) {
    return "RotKey" + std::to_string(idx) + ".bin";
}

inline std::string fuseRotKeyFileName(std::uint64_t idx) {
    return "FuseRotKey" + std::to_string(idx) + ".bin";
}

// The list form: a rotation key together with the digits it was cut to.
inline std::string rotKeyListFileName(std::uint64_t idx, std::uint64_t dnum) {
    return "RotKey" + std::to_string(idx) + "_" + std::to_string(dnum) + ".bin";
}

} // namespace Quelt
