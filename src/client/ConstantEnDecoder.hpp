#pragma once

#include "context/LevelledElement.hpp"

#include <cstdint>
#include <memory>
#include <variant>

namespace Quelt {

class ContextContent;
namespace LWE {
class ContextContent;
}

// Encodes one real constant as a levelled element of a ring or LWE context:
// one residue per prime of a level, carrying the same scale that a message
// encoded at that level and rescale counter carries (2^sf[level - r] times
// the top r primes of the level), but truncated toward zero where messages
// are rounded. Holds only its context; every member is const.
class ConstantEnDecoder {
public:
    // Keep the context. Throw RuntimeException "[Context] The context is
    // null" for an empty pointer.
    explicit ConstantEnDecoder(const std::shared_ptr<ContextContent> &context);
    explicit ConstantEnDecoder(const std::shared_ptr<LWE::ContextContent> &context);

    // Residue i of the result, i = 0..level: floor(|value| 2^sf[level - r])
    // modulo q_i (negated modulo q_i for a negative value), times q_level
    // q_(level - 1) ... q_(level - r + 1) modulo q_i; so 0 for i > level - r.
    // The element is not mod-up, on the host, with level + 1 residues.
    // Throws, in this order: "[encode] The target level is greater than the
    // maximum possible level" unless level is below the chain length (L for a
    // ring context, the LWE chain length otherwise); "[encode] The target
    // rescale counter should be less than or equal to the target level." when
    // r > level; "Rescale counter should be greater than or equal to zero"
    // when r < 0; "[ScaleFactors] The scale factor for given level is not
    // valid" when level - r has no scale factor; and "[Modulus] makeInteger:
    // the scaled value must be finite and below 2^128" for a value that does
    // not scale to such an integer.
    LevelledElement encodeConst(const double &value, std::uint64_t level, int r) const;

private:
    std::variant<std::shared_ptr<ContextContent>, std::shared_ptr<LWE::ContextContent>> context_;
};

} // namespace Quelt
