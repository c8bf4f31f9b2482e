// The sparse-secret companion of a bootstrapper: its checks, its switcher
// and the switch onto the sparse secret before the modulus raise.

#include "boot/SparseSecretRaise.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/ParameterPreset.hpp"
#include "boot/BootstrapperMessages.hpp"
#include "boot/SparseSecretSwitch.hpp"
#include "context/ContextContent.hpp"
#include "eval/KeySwitcher.hpp"

#include <utility>

namespace Quelt {

SparseSecretRaise::SparseSecretRaise(std::shared_ptr<ContextContent> context,
                                     std::shared_ptr<ContextContent> context_sparse)
    : context_(std::move(context)), context_sparse_(std::move(context_sparse)) {
    if (context_sparse_)
        switcher_ = std::make_unique<KeySwitcher>(context_sparse_);
}

SparseSecretRaise::~SparseSecretRaise() = default;

void SparseSecretRaise::checkCompanion() const {
    if (!isSparseSecretEncapsulationSupported(context_))
        throw RuntimeException(BootstrapperMessages::kNoSparseSecretMessage);
    if (getParameterPreset(context_sparse_) !=
        getSparseParameterPresetFor(getParameterPreset(context_)))
        throw RuntimeException(BootstrapperMessages::kSparsePresetMismatchMessage);
    if (getNumSecret(context_sparse_) != getNumSecret(context_))
        throw RuntimeException(BootstrapperMessages::kSparseNumSecretMessage);
}

const KeySwitcher &SparseSecretRaise::requireSwitcher() const {
    if (!switcher_)
        throw RuntimeException(BootstrapperMessages::kNoSparseContextMessage);
    return *switcher_;
}

template <EncryptionType ET>
void SparseSecretRaise::toSparse(CiphertextBase<ET> &ct, const KeyPack &pack) const {
    switchKeyDTS(context_, requireSwitcher(), pack, ct, ct, false);
}

template void SparseSecretRaise::toSparse(CiphertextBase<EncryptionType::RLWE> &,
                                          const KeyPack &) const;
template void SparseSecretRaise::toSparse(CiphertextBase<EncryptionType::MSRLWE> &,
                                          const KeyPack &) const;

} // namespace Quelt
