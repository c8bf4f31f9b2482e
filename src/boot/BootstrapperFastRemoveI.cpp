// The fast removeI road as the bootstrap pipeline drives it: the enable
// operations of the facade and the complex bootstrap that reduces in the
// conjugate-invariant ring. The road's state and ring mechanics are
// FastRemoveIRoad's.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Interpolator.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <utility>

namespace Quelt {

// ---- Enabling -------------------------------------------------------------------------

void BootstrapperImpl::enableFastRemoveI(const std::shared_ptr<ContextContent> &ctx_embed,
                                         const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                         const RingSwitchKey &key, const RingSwitchKey &key_back,
                                         const Interpolator &interp) {
    fast_remove_i_.enable(ctx_embed, ctx_conj_inv, key, key_back, interp);
}

void BootstrapperImpl::enableFastRemoveIMSRLWE(const std::shared_ptr<ContextContent> &ctx_embed,
                                               const std::shared_ptr<ContextContent> &ctx_complex,
                                               const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                               const RingSwitchKey &key,
                                               const RingSwitchKey &key_back,
                                               const Interpolator &interp,
                                               const HomEvaluator &eval) {
    fast_remove_i_.enableMultiSecret(ctx_embed, ctx_complex, ctx_conj_inv, key, key_back, interp);
    outsourced_.setOutputEvaluator(detail::HomEvaluatorAccess::impl(eval));
}

void BootstrapperImpl::enableOutsourcedFastRemoveIMSRLWE(
    const std::shared_ptr<ContextContent> &ctx_outer,
    const std::shared_ptr<ContextContent> &ctx_embed,
    const std::shared_ptr<ContextContent> &ctx_complex,
    const std::shared_ptr<ContextContent> &ctx_conj_inv, const RingSwitchKey &key,
    const RingSwitchKey &key_back, const Interpolator &interp, const HomEvaluator &eval) {
    const std::shared_ptr<BootstrapperImpl> &inner = outsourced_.getInner();
    if (!inner)
        throw RuntimeException(kNoInnerForFastRemoveIMessage);
    // The inner bootstrapper first: should it fail, this one is unchanged.
    inner->enableFastRemoveIMSRLWE(ctx_embed, ctx_complex, ctx_conj_inv, key, key_back, interp,
                                   eval);
    outsourced_.setOuter(ctx_outer, detail::HomEvaluatorAccess::impl(eval));
}

} // namespace Quelt
