#pragma once

// Copies of ciphertext polynomials into a multi-secret ciphertext of another
// context, for the conversions between numbers of secrets.

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

namespace Quelt {

inline constexpr const char *kContextImbedShort =
    "[contextImbed] The input ciphertext holds fewer polynomials than the output";

// Polynomial i of `to` becomes a deep copy of polynomial i of `from` for every
// i below to's polynomial count (header, flags, primes, seed and residues);
// to's context, log slots, rescale counter and encoding type stay. Throws
// kContextImbedShort, changing nothing, when `from` holds fewer polynomials.
void contextImbed(const CiphertextBase<EncryptionType::RLWE> &from,
                  CiphertextBase<EncryptionType::MSRLWE> &to);
void contextImbed(const CiphertextBase<EncryptionType::MSRLWE> &from,
                  CiphertextBase<EncryptionType::MSRLWE> &to);

} // namespace Quelt
