#include "Quelt/KeyPack.hpp"

#include "client/KeyPackImpl.hpp"

namespace Quelt {

KeyPack::KeyPack(const std::shared_ptr<ContextContent> &context)
    : impl_(std::make_shared<KeyPackImpl>(context)) {}

void KeyPack::loadEncKey(std::istream &stream) { impl_->maybeLoadEncKey(stream); }

bool KeyPack::isEncKeyLoaded() const { return impl_->isEncKeyLoaded(); }

std::shared_ptr<EncryptionKey> KeyPack::getEncKey() const { return impl_->getEncKey(); }

} // namespace Quelt
