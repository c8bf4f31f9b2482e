// The bootstrapper's modular-reduction members: the reduction of
// ModularReduction.hpp on this bootstrapper's evaluator, context, settings
// and multiply-before-SlotToCoeff mode.

#include "boot/BootstrapperImpl.hpp"
#include "boot/ModularReduction.hpp"

namespace Quelt {

ModReductionEnv BootstrapperImpl::modReductionEnv() const {
    return {*eval_, context_, boot_param_,
            ModReductionOptions::fromContext(context_, use_multiply_const_before_S2C_)};
}

void BootstrapperImpl::removeI(const RingCiphertext &in, RingCiphertext &out, double scale) const {
    Quelt::removeI(modReductionEnv(), in, out, scale);
}

void BootstrapperImpl::cosineApproxWithoutDoubleAngleFormula(const RingCiphertext &x,
                                                             RingCiphertext &out, double a,
                                                             u64 r) const {
    Quelt::cosineApproxWithoutDoubleAngleFormula(modReductionEnv(), x, out, a, r);
}

void BootstrapperImpl::doubleAngleFormula(const RingCiphertext &in, RingCiphertext &out, double a,
                                          u64 r) const {
    Quelt::doubleAngleFormula(modReductionEnv(), in, out, a, r);
}

void BootstrapperImpl::arcsineApprox(const RingCiphertext &in, RingCiphertext &out, u64 degree,
                                     double a) const {
    Quelt::arcsineApprox(modReductionEnv(), in, out, degree, a);
}

void BootstrapperImpl::cosineApprox(const RingCiphertext &in, RingCiphertext &out, double a) const {
    Quelt::cosineApprox(modReductionEnv(), in, out, a);
}

void BootstrapperImpl::evaluateExponential(const RingCiphertext &in, RingCiphertext &out,
                                           double a) const {
    Quelt::evaluateExponential(modReductionEnv(), in, out, a);
}

} // namespace Quelt
