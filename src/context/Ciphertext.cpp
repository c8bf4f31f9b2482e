#include "Quelt/Ciphertext.hpp"

#include "context/CiphertextImpl.hpp"

namespace Quelt {

template <EncryptionType ET>
CiphertextBase<ET>::CiphertextBase(const std::shared_ptr<ContextContent> &context, bool modUp,
                                   bool isNTT)
    : impl_(std::make_unique<CiphertextImpl<ET>>(context, modUp, isNTT)) {}

template <EncryptionType ET>
CiphertextBase<ET>::CiphertextBase(const std::shared_ptr<ContextContent> &context,
                                   const CiphertextBase &other)
    : impl_(std::make_unique<CiphertextImpl<ET>>(context, *other.impl_)) {}

template <EncryptionType ET>
CiphertextBase<ET>::CiphertextBase(const CiphertextBase &other) = default;
template <EncryptionType ET>
CiphertextBase<ET>::CiphertextBase(CiphertextBase &&other) noexcept = default;
template <EncryptionType ET>
CiphertextBase<ET> &CiphertextBase<ET>::operator=(const CiphertextBase &other) = default;
template <EncryptionType ET>
CiphertextBase<ET> &CiphertextBase<ET>::operator=(CiphertextBase &&other) noexcept = default;
template <EncryptionType ET>
CiphertextBase<ET>::~CiphertextBase() = default;

template <EncryptionType ET>
const std::shared_ptr<ContextContent> &CiphertextBase<ET>::getContext() const {
    return impl_->getContext();
}
template <EncryptionType ET>
void CiphertextBase<ET>::setContext(const std::shared_ptr<ContextContent> &context) {
    impl_->setContext(context);
}
template <EncryptionType ET>
ParameterPreset CiphertextBase<ET>::getParameterPreset() const {
    return impl_->getParameterPreset();
}
template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getGadgetRank() const {
    return impl_->getGadgetRank();
}

template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getNumPoly() const {
    return impl_->getNumPoly();
}
template <EncryptionType ET>
void CiphertextBase<ET>::setNumPoly(std::uint64_t n) {
    impl_->setNumPoly(n);
}
template <EncryptionType ET>
Polynomial &CiphertextBase<ET>::getPoly(std::uint64_t i) {
    return impl_->getPoly(i);
}
template <EncryptionType ET>
const Polynomial &CiphertextBase<ET>::getPoly(std::uint64_t i) const {
    return impl_->getPoly(i);
}
template <EncryptionType ET>
PolynomialVector &CiphertextBase<ET>::getPolyVector() {
    return impl_->getPolyVector();
}
template <EncryptionType ET>
const PolynomialVector &CiphertextBase<ET>::getPolyVector() const {
    return impl_->getPolyVector();
}
template <EncryptionType ET>
std::uint64_t *CiphertextBase<ET>::getPolyData(std::uint64_t i, std::uint64_t j) const {
    return impl_->getPolyData(i, j);
}

template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getLogSlots() const {
    return impl_->getLogSlots();
}
template <EncryptionType ET>
void CiphertextBase<ET>::setLogSlots(std::uint64_t logSlots) {
    impl_->setLogSlots(logSlots);
}
template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getNumberOfSlots() const {
    return impl_->getNumberOfSlots();
}

template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getLevel() const {
    return impl_->getLevel();
}
template <EncryptionType ET>
void CiphertextBase<ET>::setLevel(std::uint64_t level) {
    impl_->setLevel(level);
}
template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getNumSecret() const {
    return impl_->getNumSecret();
}
template <EncryptionType ET>
std::uint64_t CiphertextBase<ET>::getCurrentPrime() const {
    return impl_->getCurrentPrime();
}
template <EncryptionType ET>
double CiphertextBase<ET>::getCurrentScaleFactor() const {
    return impl_->getCurrentScaleFactor();
}
template <EncryptionType ET>
bool CiphertextBase<ET>::isModUp() const {
    return impl_->isModUp();
}

template <EncryptionType ET>
int CiphertextBase<ET>::getRescaleCounter() const {
    return impl_->getRescaleCounter();
}
template <EncryptionType ET>
void CiphertextBase<ET>::setRescaleCounter(int value) {
    impl_->setRescaleCounter(value);
}
template <EncryptionType ET>
EncodingType CiphertextBase<ET>::getEncodingType() const {
    return impl_->getEncodingType();
}
template <EncryptionType ET>
void CiphertextBase<ET>::setEncodingType(EncodingType type) {
    impl_->setEncodingType(type);
}

template <EncryptionType ET>
void CiphertextBase<ET>::forwardNTT() {
    impl_->forwardNTT();
}
template <EncryptionType ET>
void CiphertextBase<ET>::backwardNTT() {
    impl_->backwardNTT();
}

template <EncryptionType ET>
Device CiphertextBase<ET>::getDevice() const {
    return impl_->getDevice();
}
template <EncryptionType ET>
void CiphertextBase<ET>::to(const Device &device) {
    impl_->to(device);
}
template <EncryptionType ET>
void CiphertextBase<ET>::allocate(const Device &device) {
    impl_->allocate(device);
}

template <EncryptionType ET>
void CiphertextBase<ET>::save(const std::string &path) const {
    impl_->save(path);
}
template <EncryptionType ET>
void CiphertextBase<ET>::save(std::ostream &stream) const {
    impl_->save(stream);
}
template <EncryptionType ET>
void CiphertextBase<ET>::load(const std::string &path) {
    impl_->load(path);
}
template <EncryptionType ET>
void CiphertextBase<ET>::load(std::istream &stream) {
    impl_->load(stream);
}

template class CiphertextBase<EncryptionType::MLWE>;
template class CiphertextBase<EncryptionType::RLWE>;
template class CiphertextBase<EncryptionType::MSRLWE>;

} // namespace Quelt
