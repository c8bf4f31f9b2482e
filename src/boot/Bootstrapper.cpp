#include "Quelt/Bootstrapper.hpp"

#include "boot/BootstrapperImpl.hpp"
#include "eval/HomEvaluatorImpl.hpp"

namespace Quelt {

Bootstrapper::Bootstrapper(const HomEvaluator &eval, bool min_key)
    : impl_(std::make_shared<BootstrapperImpl>(eval, min_key, std::nullopt)) {}

Bootstrapper::Bootstrapper(const HomEvaluator &eval, u64 log_slots, bool min_key)
    : impl_(std::make_shared<BootstrapperImpl>(eval, min_key, log_slots)) {}

Bootstrapper::Bootstrapper(const HomEvaluator &eval,
                           const std::shared_ptr<ContextContent> &context_sparse, bool min_key)
    : impl_(std::make_shared<BootstrapperImpl>(eval, context_sparse, min_key, std::nullopt)) {}

Bootstrapper::Bootstrapper(const HomEvaluator &eval,
                           const std::shared_ptr<ContextContent> &context_sparse, u64 log_slots,
                           bool min_key)
    : impl_(std::make_shared<BootstrapperImpl>(eval, context_sparse, min_key, log_slots)) {}

bool Bootstrapper::isBootstrapReady(u64 log_slots) const {
    return impl_->getConstants().isBootstrapReady(log_slots);
}

void Bootstrapper::makeBootConstants(u64 log_slots) {
    impl_->getConstants().makeBootConstants(log_slots);
}

void Bootstrapper::makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes) {
    impl_->getConstants().makeBootConstants(log_slots, log_dft_sizes, {1, 2, 3}, std::nullopt);
}

void Bootstrapper::makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes,
                                     const std::vector<u64> &levels, std::optional<double> scale) {
    impl_->getConstants().makeBootConstants(log_slots, log_dft_sizes, levels, scale);
}

std::vector<std::vector<Message>>
Bootstrapper::getMessageV0Diagonals(u64 log_slots, const std::vector<u64> &log_dft_sizes) {
    return impl_->getConstants().getMessageV0Diagonals(log_slots, log_dft_sizes);
}

void Bootstrapper::loadBootConstants(u64 log_slots, const Device &device) {
    impl_->getConstants().loadBootConstants(log_slots, device);
}
void Bootstrapper::loadS2CConstants(u64 log_slots, const Device &device) {
    impl_->getConstants().loadS2CConstants(log_slots, device);
}
void Bootstrapper::loadC2SConstants(u64 log_slots, const Device &device) {
    impl_->getConstants().loadC2SConstants(log_slots, device);
}
void Bootstrapper::removeExceptS2CConstants(u64 log_slots, const Device &device) {
    impl_->getConstants().removeExceptS2CConstants(log_slots, device);
}
void Bootstrapper::removeExceptC2SConstants(u64 log_slots, const Device &device) {
    impl_->getConstants().removeExceptC2SConstants(log_slots, device);
}

Bootstrapper::u64 Bootstrapper::getLevelAfterFullSlotBootstrap() const {
    return impl_->getLevelAfterFullSlotBootstrap();
}
Bootstrapper::u64 Bootstrapper::getMinLevelForBootstrap() const {
    return impl_->getMinLevelForBootstrap();
}

void Bootstrapper::bootstrap(const Ciphertext &in, Ciphertext &out, bool complex) const {
    impl_->getPipeline().bootstrap(in, out, complex);
}
void Bootstrapper::bootstrap(const Ciphertext &in, Ciphertext &out_real, Ciphertext &out_imag,
                             double scale) const {
    impl_->getPipeline().bootstrap(in, out_real, out_imag, scale);
}
void Bootstrapper::bootstrapExtended(const Ciphertext &in, Ciphertext &out, bool complex) const {
    impl_->getPipeline().bootstrapExtended(in, out, complex);
}
void Bootstrapper::bootstrapExtended(const Ciphertext &in, Ciphertext &out_real,
                                     Ciphertext &out_imag) const {
    impl_->getPipeline().bootstrapExtended(in, out_real, out_imag);
}
void Bootstrapper::halfBoot(const Ciphertext &in, Ciphertext &out, bool complex,
                            bool keep_real) const {
    impl_->getPipeline().halfBoot(in, out, complex, keep_real);
}
void Bootstrapper::halfBoot(const Ciphertext &in, Ciphertext &out_real,
                            Ciphertext &out_imag) const {
    impl_->getPipeline().halfBoot(in, out_real, out_imag);
}
void Bootstrapper::slotToCoeff(const Ciphertext &in, Ciphertext &out) const {
    impl_->getTransforms().levelDownAndSlotToCoeff(in, out);
}
void Bootstrapper::slotToCoeffSingleStep(const Ciphertext &in, Ciphertext &out,
                                         std::pair<u64, u64> range) const {
    impl_->getTransforms().slotToCoeffSingleStep(in, out, range);
}
void Bootstrapper::slotToCoeffSingleStepMSRLWE(const HomEvaluator::CiphertextMSRLWE &in,
                                               HomEvaluator::CiphertextMSRLWE &out,
                                               std::pair<u64, u64> range) const {
    impl_->getMultiSecret().slotToCoeffSingleStepMSRLWE(in, out, range);
}
void Bootstrapper::integerToRootsBootstrap(const Ciphertext &in, Ciphertext &out) const {
    impl_->getPipeline().integerToRootsBootstrap(in, out, 1.0);
}
void Bootstrapper::integerToRootsBootstrap(const Ciphertext &in, Ciphertext &out_real,
                                           Ciphertext &out_imag) const {
    impl_->getPipeline().integerToRootsBootstrap(in, out_real, out_imag, 1.0);
}

// The multi-secret forms replace the caller's lists only once the
// implementation has returned, so a failure leaves them as they were.
void Bootstrapper::bootstrapMStoSS(const CiphertextMSRLWE &in, const MStoSSKeyBundle &bundle,
                                   const Interpolator &interp, std::vector<Ciphertext> &out) const {
    out = impl_->getMultiSecret().bootstrapMStoSS(in, bundle, interp, 1.0);
}
void Bootstrapper::bootstrapMStoSS(const CiphertextMSRLWE &in, const MStoSSKeyBundle &bundle,
                                   const Interpolator &interp, std::vector<Ciphertext> &out_real,
                                   std::vector<Ciphertext> &out_imag) const {
    auto [re, im] = impl_->getMultiSecret().bootstrapMStoSS(in, bundle, interp, out_real, out_imag);
    out_real = std::move(re);
    out_imag = std::move(im);
}
void Bootstrapper::bootstrapMStoSSOptimized(const CiphertextMSRLWE &in,
                                            const MStoSSKeyBundle &bundle,
                                            const Interpolator &interp,
                                            std::vector<Ciphertext> &out) const {
    out = impl_->getMultiSecret().bootstrapMStoSSOptimized(in, bundle, interp, 1.0);
}
void Bootstrapper::batchBootstrap(const std::vector<Ciphertext> &in,
                                  const MultiSecretSwitchKeyBundle &bundle,
                                  const Interpolator &interp, std::vector<Ciphertext> &out,
                                  bool conj_inv_output) const {
    out = impl_->getMultiSecret().batchBootstrap(in, bundle, interp, 1.0, conj_inv_output);
}
void Bootstrapper::batchBootstrap(const std::vector<Ciphertext> &in,
                                  const MultiSecretSwitchKeyBundle &bundle,
                                  const Interpolator &interp, std::vector<Ciphertext> &out_real,
                                  std::vector<Ciphertext> &out_imag) const {
    auto [re, im] = impl_->getMultiSecret().batchBootstrap(in, bundle, interp, out_real, out_imag);
    out_real = std::move(re);
    out_imag = std::move(im);
}
void Bootstrapper::batchBootstrapExtended(const std::vector<Ciphertext> &in,
                                          const MultiSecretSwitchKeyBundle &bundle,
                                          const Interpolator &interp,
                                          std::vector<Ciphertext> &out) const {
    out = impl_->getMultiSecret().batchBootstrapExtended(in, bundle, interp);
}
void Bootstrapper::batchBootstrapExtended(const std::vector<Ciphertext> &in,
                                          const MultiSecretSwitchKeyBundle &bundle,
                                          const Interpolator &interp,
                                          std::vector<Ciphertext> &out_real,
                                          std::vector<Ciphertext> &out_imag) const {
    auto [re, im] =
        impl_->getMultiSecret().batchBootstrapExtended(in, bundle, interp, out_real, out_imag);
    out_real = std::move(re);
    out_imag = std::move(im);
}

void Bootstrapper::enableOutsourcing(const Bootstrapper &inner, const HomEvaluator &eval) {
    impl_->enableOutsourcing(inner.impl_, detail::HomEvaluatorAccess::impl(eval));
}
void Bootstrapper::enableOutsourcing(const Bootstrapper &inner) {
    impl_->enableOutsourcing(inner.impl_, impl_->getEvaluator());
}

void Bootstrapper::enableConjInvOutput(const std::shared_ptr<ContextContent> &context) {
    impl_->getMultiSecret().enableConjInvOutput(context);
}

void Bootstrapper::enableFastRemoveI(const std::shared_ptr<ContextContent> &ctx_embed,
                                     const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                     const RingSwitchKey &key, const RingSwitchKey &key_back,
                                     const Interpolator &interp) {
    impl_->enableFastRemoveI(ctx_embed, ctx_conj_inv, key, key_back, interp);
}
void Bootstrapper::enableFastRemoveIMSRLWE(const std::shared_ptr<ContextContent> &ctx_embed,
                                           const std::shared_ptr<ContextContent> &ctx_complex,
                                           const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                           const RingSwitchKey &key, const RingSwitchKey &key_back,
                                           const Interpolator &interp, const HomEvaluator &eval) {
    impl_->enableFastRemoveIMSRLWE(ctx_embed, ctx_complex, ctx_conj_inv, key, key_back, interp,
                                   eval);
}
void Bootstrapper::enableOutsourcedFastRemoveIMSRLWE(
    const std::shared_ptr<ContextContent> &ctx_outer,
    const std::shared_ptr<ContextContent> &ctx_embed,
    const std::shared_ptr<ContextContent> &ctx_complex,
    const std::shared_ptr<ContextContent> &ctx_conj_inv, const RingSwitchKey &key,
    const RingSwitchKey &key_back, const Interpolator &interp, const HomEvaluator &eval) {
    impl_->enableOutsourcedFastRemoveIMSRLWE(ctx_outer, ctx_embed, ctx_complex, ctx_conj_inv, key,
                                             key_back, interp, eval);
}

void Bootstrapper::setC2Suseminkey(bool use_min_key) { impl_->setC2Suseminkey(use_min_key); }
bool Bootstrapper::getC2Suseminkey() const { return impl_->getModes().c2s_use_min_key; }
void Bootstrapper::setStatusUseMultiplyConstBeforeS2C(bool use) {
    impl_->setStatusUseMultiplyConstBeforeS2C(use);
}
bool Bootstrapper::getStatusUseMultiplyConstBeforeS2C() const {
    return impl_->getModes().multiply_const_before_s2c;
}

std::shared_ptr<ContextContent> Bootstrapper::getContext() const { return impl_->getContext(); }

} // namespace Quelt
