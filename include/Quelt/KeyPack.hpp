#pragma once

#include <iosfwd>
#include <memory>

namespace Quelt {

class ContextContent;
class EncryptionKey;
class KeyPackImpl;

// The store of the public keys of one context, from which the encryptor takes
// the encryption key. Copies share one store, so a key put into one copy is
// seen by all of them. Every member may be called from several threads at
// once: each key slot is guarded by its own mutex.
class KeyPack {
public:
    // An empty pack for `context`. Throws RuntimeException "[Context] The
    // context is null" for a null context.
    explicit KeyPack(const std::shared_ptr<ContextContent> &context);

    // Reads an encryption-key record (see EncryptionKey::load; it must carry
    // the pack's context's identity hash and fit that context) into a new key
    // and puts it into the pack in place of any key held. A record that fails
    // to load (RuntimeException, or cereal::Exception for a short record)
    // leaves the pack as it was.
    void loadEncKey(std::istream &stream);

    // True when the pack holds an encryption key.
    bool isEncKeyLoaded() const;

    // The encryption key held, shared with the pack (a later replacement in
    // the pack does not change a key already handed out); an empty pointer
    // when the pack holds none.
    std::shared_ptr<EncryptionKey> getEncKey() const;

private:
    std::shared_ptr<KeyPackImpl> impl_;
};

} // namespace Quelt
