#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

#include <memory>

namespace Quelt {

class ContextContent;
class KeyPack;
class KeySwitcher;

// The sparse-secret companion of a bootstrapper over `context`: the
// companion context and a key switcher over it, both set only when the
// bootstrapper is built with the companion. On a context with sparse-secret
// encapsulation the modulus raise first moves the level-0 ciphertext onto
// the sparse secret, whose small norm keeps the integer part of the raised
// value small; the switch back onto the main secret runs on the main
// context's own switcher. The messages are those of BootstrapperMessages.
//
// Nothing here changes after construction.
class SparseSecretRaise {
public:
    // Without a companion (context_sparse null): every switch is refused.
    SparseSecretRaise(std::shared_ptr<ContextContent> context,
                      std::shared_ptr<ContextContent> context_sparse);
    SparseSecretRaise(const SparseSecretRaise &) = delete;
    SparseSecretRaise &operator=(const SparseSecretRaise &) = delete;
    ~SparseSecretRaise();

    // The checks of the companion, in order: the context encapsulates the
    // sparse secret (kNoSparseSecretMessage), the companion is the preset's
    // sparse companion (kSparsePresetMismatchMessage), and both have as many
    // secrets (kSparseNumSecretMessage).
    void checkCompanion() const;

    const std::shared_ptr<ContextContent> &getSparseContext() const { return context_sparse_; }
    // The switcher over the companion (kNoSparseContextMessage without one).
    const KeySwitcher &requireSwitcher() const;
    // ct (of the main context, at a level the companion also has) moved onto
    // the sparse secret with the encapsulation key of pack, in coefficient
    // form (switchKeyDTS). kNoSparseContextMessage without a companion, before
    // ct changes.
    template <EncryptionType ET>
    void toSparse(CiphertextBase<ET> &ct, const KeyPack &pack) const;

private:
    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<ContextContent> context_sparse_;
    std::unique_ptr<KeySwitcher> switcher_;
};

} // namespace Quelt
