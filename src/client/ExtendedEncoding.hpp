#pragma once

#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"

#include <cstdint>
#include <memory>

namespace Quelt {

class ContextContent;

namespace detail {

// Slot encoding of `message` with the explicit multiplier `scale` into a
// mod-up plaintext at `level`: the rounded values go into the limbs 0 ..
// level and into every temporary-prime limb, all in NTT form, rescale counter
// 0. The constants of a fused modulus raise need the residues of a prime
// beyond the chain, which only the temporary limbs hold. Checks as
// EnDecoder::encodeWithScale; a level not below the chain length is refused
// by the polynomial ("[Polynomial] Level exceeds the prime chain").
Plaintext encodeExtendedWithScale(const std::shared_ptr<ContextContent> &context,
                                  const Message &message, std::uint64_t level, double scale);

} // namespace detail

} // namespace Quelt
