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

void BootstrapperImpl::evaluateExponential(const RingCiphertext &in, RingCiphertext &out,
                                           double a) const {
    Quelt::evaluateExponential(modReductionEnv(), in, out, a);
}

} // namespace Quelt
