#pragma once

#include <iosfwd>
#include <memory>
#include <mutex>

namespace Quelt {

class ContextContent;
class EncryptionKey;

// The data of a KeyPack; see include/Quelt/KeyPack.hpp for the behaviour of
// each member. Each fixed key slot is a shared pointer beside its own mutex,
// held only while the pointer is read or replaced.
class KeyPackImpl {
public:
    explicit KeyPackImpl(const std::shared_ptr<ContextContent> &context);

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }

    void maybeLoadEncKey(std::istream &stream);
    bool isEncKeyLoaded() const;
    std::shared_ptr<EncryptionKey> getEncKey() const;

private:
    std::shared_ptr<ContextContent> context_;

    std::shared_ptr<EncryptionKey> enc_key_;
    mutable std::mutex enc_key_mutex_;
};

} // namespace Quelt
