// The fused modulus raise installed on a bootstrapper: its prime set and the
// constants of the first CoeffToSlot step. The state and the mechanics of the
// road are FusedRaiseRoad's; BootTransforms drives it.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "eval/HomEvaluatorImpl.hpp"

namespace Quelt {

void BootstrapperImpl::initFuseModRaise() {
    std::shared_ptr<PrimeModuli> prime_set = fused_raise_.makePrimeSet();
    const u64 full = getLogFullSlots(context_);
    constants_.makeBootConstants(full);
    fused_raise_.install(std::move(prime_set),
                         constants_.findBootConstants(full)->getInvV0(kHostDevice, 0));
}

} // namespace Quelt
