#include "Quelt/LWE/SecretKey.hpp"

#include "lwe/LWESecretKeyImpl.hpp"

namespace Quelt::LWE {

SecretKey::SecretKey(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_unique<SecretKeyImpl>(context)) {}
SecretKey::SecretKey(const std::shared_ptr<ContextContent> &context, int *const &coefficients)
    : impl_(std::make_unique<SecretKeyImpl>(context, coefficients)) {}
SecretKey::SecretKey(const std::shared_ptr<ContextContent> &context, std::istream &stream)
    : impl_(std::make_unique<SecretKeyImpl>(context, stream)) {}
SecretKey::SecretKey(const std::shared_ptr<ContextContent> &context, const std::string &path)
    : impl_(std::make_unique<SecretKeyImpl>(context, path)) {}

SecretKey::SecretKey(const SecretKey &other) = default;
SecretKey::SecretKey(SecretKey &&other) noexcept = default;
SecretKey &SecretKey::operator=(const SecretKey &other) = default;
SecretKey &SecretKey::operator=(SecretKey &&other) noexcept = default;
SecretKey::~SecretKey() = default;

void SecretKey::save(const std::string &path) const { impl_->save(path); }
void SecretKey::save(std::ostream &stream) const { impl_->save(stream); }
void SecretKey::saveSeedOnly(const std::string &path) const { impl_->saveSeedOnly(path); }
void SecretKey::saveSeedOnly(std::ostream &stream) const { impl_->saveSeedOnly(stream); }

const std::shared_ptr<ContextContent> &SecretKey::getContext() const { return impl_->getContext(); }
LevelledVector &SecretKey::getSx() { return impl_->getSx(); }
const LevelledVector &SecretKey::getSx() const { return impl_->getSx(); }
int *SecretKey::getCoefficients() const { return impl_->getCoefficients(); }
Device SecretKey::getDevice() const { return impl_->getDevice(); }
void SecretKey::to(const Device &device) { impl_->to(device); }

} // namespace Quelt::LWE
