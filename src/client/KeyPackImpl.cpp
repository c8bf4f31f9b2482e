#include "client/KeyPackImpl.hpp"

#include "Quelt/EncryptionKey.hpp"
#include "Quelt/Exception.hpp"
#include "context/ContextContent.hpp"

#include <utility>

namespace Quelt {

KeyPackImpl::KeyPackImpl(const std::shared_ptr<ContextContent> &context) : context_(context) {
    if (!context_)
        throw RuntimeException(kNullContextMessage);
}

void KeyPackImpl::maybeLoadEncKey(std::istream &stream) {
    // The record is read into a key of its own and enters the slot only when
    // it has loaded completely, so that no reader ever sees a key half read.
    auto key = std::make_shared<EncryptionKey>(context_);
    key->load(stream);
    const std::lock_guard<std::mutex> lock(enc_key_mutex_);
    enc_key_ = std::move(key);
}

bool KeyPackImpl::isEncKeyLoaded() const {
    const std::lock_guard<std::mutex> lock(enc_key_mutex_);
    return enc_key_ != nullptr;
}

std::shared_ptr<EncryptionKey> KeyPackImpl::getEncKey() const {
    const std::lock_guard<std::mutex> lock(enc_key_mutex_);
    return enc_key_;
}

} // namespace Quelt
