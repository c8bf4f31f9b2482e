#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

#include <memory>

namespace Quelt {

class ContextContent;
class KeyPack;
class KeySwitcher;

// The two key switches of sparse-secret encapsulation around the modulus
// raise of bootstrapping, with the encapsulation key of `pack` (fetched on
// every call through KeyPack::getSparseSecretEncapsulationKey). k is the
// number of secrets of the main context; a ciphertext holds k bodies and its
// mask last. ET is RLWE or MSRLWE. `out` may be `in`; callers treat `out` as undefined after
// an exception.

inline constexpr const char *kSwitchKeyDTSSizeMessage = "[switchKeyDTS] ctxt size should be ";
inline constexpr const char *kSwitchKeySTDSizeMessage = "[switchKeySTD] ctxt size should be ";
inline constexpr const char *kIncompatibleContextMessage =
    "[setContext] Input context is not compatible with the ciphertext.";
inline constexpr const char *kNoSparseSecretEncapsulationKeyMessage =
    "Failed to load sparse secret encapsulation key";

// Dense to sparse: `in`, a ciphertext of `context` at a level the sparse
// context also has (sharing its primes), switched by `sparse_switcher` (a
// KeySwitcher over the sparse context) with the DTS part of the key onto the
// sparse secret; the result is tagged with `context` again and carries in's
// log slot count, rescale counter and encoding type, in NTT form when ntt_out
// is set and in coefficient form otherwise. Throws RuntimeException
// kSwitchKeyDTSSizeMessage followed by k + 1 when `in` does not hold k + 1
// polynomials, then kNoSparseSecretEncapsulationKeyMessage when the pack has
// no encapsulation key, then kIncompatibleContextMessage when the primes
// 0 .. level of in are not the sparse context's; the ciphertext moves between
// the two chains by the copy-into-context constructor.
template <EncryptionType ET>
void switchKeyDTS(const std::shared_ptr<ContextContent> &context,
                  const KeySwitcher &sparse_switcher, const KeyPack &pack,
                  const CiphertextBase<ET> &in, CiphertextBase<ET> &out, bool ntt_out);

// Sparse to dense: `in` switched by `main_switcher` (over the main context)
// with the STD part of the key back onto the main secret. out keeps its own
// context and encoding type and takes in's log slot count and rescale
// counter; form as for switchKeyDTS. Throws kSwitchKeySTDSizeMessage followed
// by k + 1, then kNoSparseSecretEncapsulationKeyMessage, then what the base
// conversion throws for an `out` of another chain.
template <EncryptionType ET>
void switchKeySTD(const KeySwitcher &main_switcher, const KeyPack &pack,
                  const CiphertextBase<ET> &in, CiphertextBase<ET> &out, bool ntt_out);

} // namespace Quelt
