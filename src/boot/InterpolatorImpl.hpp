#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Interpolator.hpp"
#include "boot/BootParameter.hpp"
#include "boot/ModularReduction.hpp"

#include <cstdint>
#include <memory>

namespace Quelt {

class ContextContent;
class HomEvaluator;

// The state of an Interpolator: the context of its evaluator, its own copy of
// that evaluator and the bootstrapping settings of the context. Every
// operation runs the modular reduction of ModularReduction.hpp on that
// evaluator, with the context's flags except two: A never comes from an
// automatic gap resolve, and the cosine's amplitude is never divided by
// mult_before_s2c.
class InterpolatorImpl {
public:
    using u64 = std::uint64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

    explicit InterpolatorImpl(const HomEvaluator &eval);

    static constexpr const char *kNoBootSettingsPrefix = "[Interpolator] The context ";
    static constexpr const char *kNoBootSettingsSuffix =
        " has no bootstrapping settings (it is not a bootstrappable preset): build the "
        "Interpolator over a context of a bootstrappable preset";

    // The cosine with its double-angle steps, then the arcsine correction
    // with amplitude A / 2 pi.
    void removeI(const RingCiphertext &in, RingCiphertext &out, double scale) const;
    // The cosine polynomial followed by the double-angle steps (r of the
    // settings) and, for arcsine degree 1 and a < 0, the negation (also when
    // r = 0).
    void cosineApprox(const RingCiphertext &in, RingCiphertext &out, double a) const;
    void arcsineApprox(const RingCiphertext &in, RingCiphertext &out, u64 degree, double a) const;

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    const HomEvaluator &getEval() const { return *eval_; }
    const BootParameter &getBootParameter() const { return boot_param_; }
    // What the reduction runs on.
    ModReductionEnv env() const;
    // Throws kNoBootSettingsPrefix + name + kNoBootSettingsSuffix when the
    // context has no cosine to evaluate.
    void requireSettings() const;

private:
    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<HomEvaluator> eval_;
    BootParameter boot_param_;
};

namespace detail {
// The implementation behind an Interpolator, for the bootstrapper.
struct InterpolatorAccess {
    static const std::shared_ptr<InterpolatorImpl> &impl(const Interpolator &interp) {
        return interp.impl_;
    }
};
} // namespace detail

} // namespace Quelt
