#include "Quelt/SecretKey.hpp"

#include "keys/SecretKeyImpl.hpp"

namespace Quelt {

template <EncryptionType ET>
SecretKeyBase<ET>::SecretKeyBase(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_unique<SecretKeyImpl<ET>>(context)) {}

template <EncryptionType ET>
SecretKeyBase<ET>::SecretKeyBase(const std::shared_ptr<ContextContent> &context,
                                 int *const &coefficients)
    : impl_(std::make_unique<SecretKeyImpl<ET>>(context, static_cast<const int *>(coefficients))) {}

template <EncryptionType ET>
SecretKeyBase<ET>::SecretKeyBase(const std::shared_ptr<ContextContent> &context,
                                 std::istream &stream)
    : impl_(std::make_unique<SecretKeyImpl<ET>>(context, stream)) {}

template <EncryptionType ET>
SecretKeyBase<ET>::SecretKeyBase(const std::shared_ptr<ContextContent> &context,
                                 const std::string &path)
    : impl_(std::make_unique<SecretKeyImpl<ET>>(context, path)) {}

template <EncryptionType ET>
SecretKeyBase<ET>::SecretKeyBase(const SecretKeyBase &other) = default;
template <EncryptionType ET>
SecretKeyBase<ET>::SecretKeyBase(SecretKeyBase &&other) noexcept = default;
template <EncryptionType ET>
SecretKeyBase<ET> &SecretKeyBase<ET>::operator=(const SecretKeyBase &other) = default;
template <EncryptionType ET>
SecretKeyBase<ET> &SecretKeyBase<ET>::operator=(SecretKeyBase &&other) noexcept = default;
template <EncryptionType ET>
SecretKeyBase<ET>::~SecretKeyBase() = default;

template <EncryptionType ET>
void SecretKeyBase<ET>::save(const std::string &path) const {
    impl_->save(path);
}
template <EncryptionType ET>
void SecretKeyBase<ET>::save(std::ostream &stream) const {
    impl_->save(stream);
}
template <EncryptionType ET>
void SecretKeyBase<ET>::saveSeedOnly(const std::string &path) const {
    impl_->saveSeedOnly(path);
}
template <EncryptionType ET>
void SecretKeyBase<ET>::saveSeedOnly(std::ostream &stream) const {
    impl_->saveSeedOnly(stream);
}

template <EncryptionType ET>
const std::shared_ptr<ContextContent> &SecretKeyBase<ET>::getContext() const {
    return impl_->getContext();
}
template <EncryptionType ET>
Polynomial &SecretKeyBase<ET>::getSx(std::uint64_t i) {
    return impl_->getSx(i);
}
template <EncryptionType ET>
const Polynomial &SecretKeyBase<ET>::getSx(std::uint64_t i) const {
    return impl_->getSx(i);
}
template <EncryptionType ET>
std::uint64_t *SecretKeyBase<ET>::getSxData(std::uint64_t i, std::uint64_t j) const {
    return impl_->getSxData(i, j);
}
template <EncryptionType ET>
PolynomialVector &SecretKeyBase<ET>::getSxVec() {
    return impl_->getSxVec();
}
template <EncryptionType ET>
const PolynomialVector &SecretKeyBase<ET>::getSxVec() const {
    return impl_->getSxVec();
}
template <EncryptionType ET>
int *SecretKeyBase<ET>::getCoefficients() const {
    return impl_->getCoefficients();
}
template <EncryptionType ET>
Device SecretKeyBase<ET>::getDevice() const {
    return impl_->getDevice();
}
template <EncryptionType ET>
void SecretKeyBase<ET>::to(const Device &device) {
    impl_->to(device);
}

template class SecretKeyBase<EncryptionType::MLWE>;
template class SecretKeyBase<EncryptionType::RLWE>;
template class SecretKeyBase<EncryptionType::MSRLWE>;

} // namespace Quelt
