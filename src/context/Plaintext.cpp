#include "Quelt/Plaintext.hpp"

#include "context/PlaintextImpl.hpp"

namespace Quelt {

Plaintext::Plaintext(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_unique<PlaintextImpl>(context)) {}
Plaintext::Plaintext(const std::shared_ptr<ContextContent> &context, bool modUp)
    : impl_(std::make_unique<PlaintextImpl>(context, modUp)) {}

Plaintext::Plaintext(const Plaintext &other) = default;
Plaintext::Plaintext(Plaintext &&other) noexcept = default;
Plaintext &Plaintext::operator=(const Plaintext &other) = default;
Plaintext &Plaintext::operator=(Plaintext &&other) noexcept = default;
Plaintext::~Plaintext() = default;

void Plaintext::setLogSlots(std::uint64_t logSlots) { impl_->setLogSlots(logSlots); }
std::uint64_t Plaintext::getLogSlots() const { return impl_->getLogSlots(); }
std::uint64_t Plaintext::getNumberOfSlots() const { return impl_->getNumberOfSlots(); }

Polynomial &Plaintext::getMx() { return impl_->getMx(); }
const Polynomial &Plaintext::getMx() const { return impl_->getMx(); }
std::uint64_t *Plaintext::getMxData(std::uint64_t i) const { return impl_->getMxData(i); }

std::uint64_t Plaintext::getLevel() const { return impl_->getLevel(); }
void Plaintext::setLevel(std::uint64_t level) { impl_->setLevel(level); }
void Plaintext::levelDrop(std::uint64_t level) { impl_->levelDrop(level); }

int Plaintext::getRescaleCounter() const { return impl_->getRescaleCounter(); }
void Plaintext::setRescaleCounter(int value) { impl_->setRescaleCounter(value); }

bool Plaintext::isZero() const { return impl_->isZero(); }

const Device &Plaintext::getDevice() const { return impl_->getDevice(); }
void Plaintext::to(const Device &device) { impl_->to(device); }
void Plaintext::allocate(const Device &device) { impl_->allocate(device); }

void Plaintext::save(const std::string &path) const { impl_->save(path); }
void Plaintext::save(std::ostream &stream) const { impl_->save(stream); }
void Plaintext::load(const std::string &path) { impl_->load(path); }
void Plaintext::load(std::istream &stream) { impl_->load(stream); }

} // namespace Quelt
