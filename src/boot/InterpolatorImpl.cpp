#include "boot/InterpolatorImpl.hpp"

#include "Quelt/Exception.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "context/ContextContent.hpp"
#include "eval/HomEvaluatorImpl.hpp"

namespace Quelt {

InterpolatorImpl::InterpolatorImpl(const HomEvaluator &eval)
    : context_(detail::HomEvaluatorAccess::context(eval)),
      eval_(std::make_shared<HomEvaluator>(eval)), boot_param_(context_) {}

ModReductionEnv InterpolatorImpl::env() const {
    ModReductionOptions options = ModReductionOptions::fromContext(context_, true);
    // A is always q0 2^d / mult_before_s2c times the scale, and the
    // amplitude is A (or A / 2 pi) without a further division: the options
    // that would change either are cleared.
    options.automatic_gap_resolve = false;
    options.use_multiply_const_before_s2c = true;
    return {*detail::HomEvaluatorAccess::impl(*eval_), context_, boot_param_, options};
}

void InterpolatorImpl::requireSettings() const {
    if (boot_param_.cosine_coeffs.empty())
        throw RuntimeException(kNoBootSettingsPrefix + context_->getParameter().name +
                               kNoBootSettingsSuffix);
}

void InterpolatorImpl::removeI(const RingCiphertext &in, RingCiphertext &out, double scale) const {
    requireSettings();
    // The shared reduction is the cosine, its double-angle steps and the
    // arcsine correction, with this context's constants.
    Quelt::removeI(env(), in, out, scale);
}

void InterpolatorImpl::cosineApprox(const RingCiphertext &in, RingCiphertext &out, double a) const {
    requireSettings();
    Quelt::cosineApprox(env(), in, out, a);
}

void InterpolatorImpl::arcsineApprox(const RingCiphertext &in, RingCiphertext &out, u64 degree,
                                     double a) const {
    Quelt::arcsineApprox(env(), in, out, degree, a);
}

Interpolator::Interpolator(const HomEvaluator &eval)
    : impl_(std::make_shared<InterpolatorImpl>(eval)), eval_(std::make_shared<HomEvaluator>(eval)) {
}

void Interpolator::removeI(const Ciphertext &in, Ciphertext &out, double scale) const {
    impl_->removeI(in, out, scale);
}

const HomEvaluator &Interpolator::getEval() const { return *eval_; }

} // namespace Quelt
