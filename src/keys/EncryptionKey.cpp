#include "Quelt/EncryptionKey.hpp"

#include "keys/EncryptionKeyImpl.hpp"
#include "keys/Serialize.hpp"

namespace Quelt {

EncryptionKey::EncryptionKey(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_unique<EncryptionKeyImpl>(context)) {}

EncryptionKey::EncryptionKey(const std::shared_ptr<ContextContent> &context,
                             const SecretKeyBase<EncryptionType::RLWE> &secretKey)
    : impl_(std::make_unique<EncryptionKeyImpl>(context, secretKey)) {}

EncryptionKey::EncryptionKey(const EncryptionKey &other) = default;
EncryptionKey::EncryptionKey(EncryptionKey &&other) noexcept = default;
EncryptionKey &EncryptionKey::operator=(const EncryptionKey &other) = default;
EncryptionKey &EncryptionKey::operator=(EncryptionKey &&other) noexcept = default;
EncryptionKey::~EncryptionKey() = default;

Polynomial &EncryptionKey::getAx() { return impl_->getAx(); }
const Polynomial &EncryptionKey::getAx() const { return impl_->getAx(); }
Polynomial &EncryptionKey::getBx() { return impl_->getBx(); }
const Polynomial &EncryptionKey::getBx() const { return impl_->getBx(); }

void EncryptionKey::to(const Device &device) { impl_->to(device); }
void EncryptionKey::allocate(const Device &device) { impl_->allocate(device); }
const Device &EncryptionKey::getDevice() const { return impl_->getDevice(); }

void EncryptionKey::save(const std::string &path) const { Serialize::save(path, *this); }
void EncryptionKey::save(std::ostream &stream) const { Serialize::save(stream, *this); }
void EncryptionKey::load(const std::string &path) { Serialize::load(path, *this); }
void EncryptionKey::load(std::istream &stream) { Serialize::load(stream, *this); }

void EncryptionKey::save(cereal::PortableBinaryOutputArchive &archive) const {
    impl_->save(archive);
}
void EncryptionKey::load(cereal::PortableBinaryInputArchive &archive) { impl_->load(archive); }
void EncryptionKey::load(cereal::PortableBinaryInputArchive &archive,
                         const std::shared_ptr<ContextContent> &context) {
    impl_->load(archive, context);
}

void save(const EncryptionKey &key, std::ostream &stream) { key.save(stream); }
void load(EncryptionKey &key, std::istream &stream) { key.load(stream); }

} // namespace Quelt
