#include "Quelt/LWE/Ciphertext.hpp"

#include "lwe/LWECiphertextImpl.hpp"

namespace Quelt::LWE {

Ciphertext::Ciphertext(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_unique<CiphertextImpl>(context)) {}

Ciphertext::Ciphertext(const Ciphertext &other) = default;
Ciphertext::Ciphertext(Ciphertext &&other) noexcept = default;
Ciphertext &Ciphertext::operator=(const Ciphertext &other) = default;
Ciphertext &Ciphertext::operator=(Ciphertext &&other) noexcept = default;
Ciphertext::~Ciphertext() = default;

const std::shared_ptr<ContextContent> &Ciphertext::getContext() const {
    return impl_->getContext();
}

LevelledVector &Ciphertext::getAx() { return impl_->getAx(); }
const LevelledVector &Ciphertext::getAx() const { return impl_->getAx(); }
LevelledElement &Ciphertext::getBx() { return impl_->getBx(); }
const LevelledElement &Ciphertext::getBx() const { return impl_->getBx(); }
std::uint64_t *Ciphertext::getAxData(std::uint64_t i) const { return impl_->getAxData(i); }
std::uint64_t *Ciphertext::getBxData() const { return impl_->getBxData(); }

std::uint64_t Ciphertext::getLevel() const { return impl_->getLevel(); }
void Ciphertext::setLevel(std::uint64_t level) { impl_->setLevel(level); }
int Ciphertext::getRescaleCounter() const { return impl_->getRescaleCounter(); }
void Ciphertext::setRescaleCounter(int value) { impl_->setRescaleCounter(value); }

Device Ciphertext::getDevice() const { return impl_->getDevice(); }
void Ciphertext::to(const Device &device) { impl_->to(device); }
void Ciphertext::allocate(const Device &device) { impl_->allocate(device); }

void Ciphertext::save(const std::string &path) const { impl_->save(path); }
void Ciphertext::save(std::ostream &stream) const { impl_->save(stream); }
void Ciphertext::load(const std::string &path) { impl_->load(path); }
void Ciphertext::load(std::istream &stream) { impl_->load(stream); }

} // namespace Quelt::LWE
