#pragma once

#include "context/LevelledElement.hpp"

#include <cstdint>
#include <memory>

namespace Quelt::LWE {

class ContextContent;

// The constant c at (level, r) of an LWE context, as the scheme's operations
// add and multiply it: residue i (i = 0..level) is floor(|c| 2^sf[level - r])
// modulo q_i, negated modulo q_i for a negative c, times q_level ...
// q_(level - r + 1) modulo q_i. On the host, not mod-up, level + 1 residues.
// The caller has checked 0 <= r <= level < chain length. Throws
// RuntimeException "[ScaleFactors] The scale factor for given level is not
// valid" when level - r has no scale factor, and the message of
// Modulus::makeInteger when c does not scale to a finite integer below 2^128.
LevelledElement encodeConstant(const std::shared_ptr<ContextContent> &context, double c,
                               std::uint64_t level, int r);

} // namespace Quelt::LWE
