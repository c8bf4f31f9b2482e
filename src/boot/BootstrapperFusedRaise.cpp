// The fused modulus raise as the bootstrap pipeline drives it; the state and
// the mechanics of the road are FusedRaiseRoad's.

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

template <EncryptionType ET>
void BootstrapperImpl::raiseFused(CiphertextBase<ET> &r) const {
    if (isSparseSecretEncapsulationSupported(context_)) {
        // Onto the sparse secret, in coefficient form, before the raise.
        sparse_raise_.toSparse(r, eval_->getKeyPack());
    } else if (r.getPoly(0).isNTT()) {
        r.backwardNTT();
    }
    fused_raise_.prepare(r);
}

template <EncryptionType ET>
void BootstrapperImpl::multiplyFusedByWord(CiphertextBase<ET> &ct, u64 factor) const {
    fused_raise_.multiplyByWord(ct, factor);
}

template <EncryptionType ET>
void BootstrapperImpl::firstStepOfC2S(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const {
    fused_raise_.firstStepOfC2S(in, out, boot_param_);
}

template void BootstrapperImpl::raiseFused(CiphertextBase<EncryptionType::RLWE> &) const;
template void BootstrapperImpl::raiseFused(CiphertextBase<EncryptionType::MSRLWE> &) const;
template void BootstrapperImpl::multiplyFusedByWord(CiphertextBase<EncryptionType::RLWE> &,
                                                    u64) const;
template void BootstrapperImpl::multiplyFusedByWord(CiphertextBase<EncryptionType::MSRLWE> &,
                                                    u64) const;
template void BootstrapperImpl::firstStepOfC2S(const CiphertextBase<EncryptionType::RLWE> &,
                                               CiphertextBase<EncryptionType::RLWE> &) const;
template void BootstrapperImpl::firstStepOfC2S(const CiphertextBase<EncryptionType::MSRLWE> &,
                                               CiphertextBase<EncryptionType::MSRLWE> &) const;

} // namespace Quelt
