#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/HomEvaluator.hpp"

#include <memory>

namespace Quelt {

class InterpolatorImpl;

namespace detail {
struct InterpolatorAccess;
}

// The modular reduction of bootstrapping (a scaled cosine, its double-angle
// steps and the arcsine correction) run on an evaluator of its own, over
// the evaluator's context. A bootstrapper whose modular reduction runs in a
// different ring (the conjugate-invariant ring of the fast road) hands its
// real parts to an Interpolator of that ring.
//
// The Interpolator keeps a copy of the evaluator it is given, which shares
// that evaluator's implementation and so its keys. Copies share one
// implementation; an Interpolator does not change after construction, so
// threads may share it as long as they write to different outputs.
class Interpolator {
public:
    using Ciphertext = CiphertextBase<EncryptionType::RLWE>;

    // Over eval's context, with the bootstrapping settings of that context.
    // Throws what building those settings throws (for example "[ScaleFactors]
    // The scale factor for given level is not valid").
    explicit Interpolator(const HomEvaluator &eval);

    // out = the modular reduction of in: every real slot t = (I + e) / K
    // (integer I, small e) becomes about A e, A = q0 2^d / mult_before_s2c
    // times `scale`, where 2^d is the scale step that the double-angle
    // steps meet above the encryption level. Unlike a bootstrapper's own
    // reduction, A never depends on an automatic gap resolve and the
    // cosine's amplitude is not divided by mult_before_s2c. Throws
    // "[Interpolator] The context <name> has no bootstrapping settings (...)"
    // over a context of a preset without them, "[ScaleFactors] The scale
    // factor for given level is not valid" for a missing factor, "[removeI]
    // The scale and the constants derived from it must be finite", "[removeI]
    // The operand is at level <l>, but the modular reduction uses <n> levels",
    // then the evaluator's messages; out is left as it was on every refusal.
    void removeI(const Ciphertext &in, Ciphertext &out, double scale) const;

    // The stored evaluator (it shares keys with the one given).
    const HomEvaluator &getEval() const;

private:
    friend struct detail::InterpolatorAccess;

    std::shared_ptr<InterpolatorImpl> impl_;
    std::shared_ptr<HomEvaluator> eval_;
};

} // namespace Quelt
