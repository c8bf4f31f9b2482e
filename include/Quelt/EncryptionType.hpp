#pragma once

#include <cstdint>

namespace Quelt {

// Shape of a ciphertext or secret key: module LWE (rank above 1), ring LWE
// with one secret, or ring LWE with several secrets sharing one mask.
enum class EncryptionType : std::uint32_t {
    MLWE = 0,
    RLWE = 1,
    MSRLWE = 2,
};

} // namespace Quelt
