#pragma once

// The sizes docs/presets.md gives for a parameter set, computed from its
// sizes: the polynomials of a ciphertext at the encryption level and of one
// switching key (masks kept as seeds). Serialised files add their headers
// (and a key its 1024-byte mask seeds).

#include "context/Parameter.hpp"

#include <cstdint>

namespace Quelt::presets {

// (rank x secrets + 1) polynomials of (encryption level + 1) limbs of N words.
inline std::uint64_t ciphertextBytes(const Parameter &p) {
    return (p.rank * p.num_secret + 1) * (p.encryption_level + 1) * p.degree * 8;
}

// gadget rank x secrets bodies spanning every base, quantize and temporary
// prime.
inline std::uint64_t switchingKeyBytes(const Parameter &p) {
    return p.gadget_rank * p.num_secret * (p.chain_length + p.num_tp) * p.degree * 8;
}

} // namespace Quelt::presets
