#include "Quelt/KeyGenerator.hpp"

#include "client/KeyGeneratorImpl.hpp"
#include "client/KeyPackImpl.hpp"

#include <utility>

namespace Quelt {

namespace {

using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

const std::shared_ptr<KeyPackImpl> &implOf(const KeyPack &pack) {
    return detail::KeyPackAccess::impl(pack);
}

// The constructors' checks, made first, before the generator's copy of the
// key (and a new pack) are allocated.
const std::shared_ptr<ContextContent> &
checkedContext(const std::shared_ptr<ContextContent> &context,
               const std::shared_ptr<ContextContent> *context_sparse,
               const std::shared_ptr<ContextContent> &key_context, const KeyPack *pack = nullptr) {
    KeyGeneratorImplBase::checkArguments(context, context_sparse, &key_context,
                                         pack ? &implOf(*pack)->getContext() : nullptr);
    return context;
}

} // namespace

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context)
    : context_(context), pack_(context),
      impl_(std::make_shared<KeyGeneratorImpl>(context, implOf(pack_))) {}

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context, const RLWEKey &sk,
                           const KeyPack &pack)
    : context_(checkedContext(context, nullptr, sk.getContext(), &pack)), pack_(pack),
      impl_(std::make_shared<KeyGeneratorImpl>(context, sk, implOf(pack_))) {}

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context, const RLWEKey &sk)
    : KeyGenerator(context, sk, KeyPack(checkedContext(context, nullptr, sk.getContext()))) {}

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context, const MSRLWEKey &sk,
                           const KeyPack &pack)
    : context_(checkedContext(context, nullptr, sk.getContext(), &pack)), pack_(pack),
      impl_(std::make_shared<KeyGeneratorImpl>(context, sk, implOf(pack_))) {}

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context,
                           const std::shared_ptr<ContextContent> &context_sparse, const RLWEKey &sk,
                           const KeyPack &pack)
    : context_(checkedContext(context, &context_sparse, sk.getContext(), &pack)),
      context_sparse_(context_sparse), pack_(pack),
      impl_(std::make_shared<KeyGeneratorImpl>(context, context_sparse, sk, implOf(pack_))) {}

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context,
                           const std::shared_ptr<ContextContent> &context_sparse, const RLWEKey &sk)
    : KeyGenerator(
          context, context_sparse, sk,
          KeyPack(checkedContext(context, &context_sparse, sk.getContext()), context_sparse)) {}

KeyGenerator::KeyGenerator(const std::shared_ptr<ContextContent> &context,
                           const std::shared_ptr<ContextContent> &context_sparse,
                           const MSRLWEKey &sk, const KeyPack &pack)
    : context_(checkedContext(context, &context_sparse, sk.getContext(), &pack)),
      context_sparse_(context_sparse), pack_(pack),
      impl_(std::make_shared<KeyGeneratorImpl>(context, context_sparse, sk, implOf(pack_))) {}

void KeyGenerator::genEncKey() const { impl_->genEncKey(); }
void KeyGenerator::genMultKey() const { impl_->genMultKey(); }
void KeyGenerator::genConjKey() const { impl_->genConjKey(); }
void KeyGenerator::genLeftRotKey(std::uint64_t idx) const { impl_->genLeftRotKey(idx); }
void KeyGenerator::genRightRotKey(std::uint64_t idx) const { impl_->genRightRotKey(idx); }
void KeyGenerator::genRotKeyIfNotExist(std::int64_t idx) const { impl_->genRotKeyIfNotExist(idx); }
void KeyGenerator::genRotKeyBundle() const { impl_->genRotKeyBundle(); }

void KeyGenerator::genRotKeysForBootstrap(std::uint64_t log_slots, bool min_key) const {
    impl_->genRotKeysForBootstrap(log_slots, min_key, false);
}

void KeyGenerator::genRotKeysForBootstrap(const std::vector<std::uint64_t> &log_radix_bounds,
                                          bool min_key) const {
    impl_->genRotKeysForBootstrap(log_radix_bounds, min_key);
}

RingSwitchKey KeyGenerator::genSwitchKey(const RLWEKey &from, const RLWEKey &to) const {
    return impl_->genSwitchKey(from, to);
}

RingSwitchKey KeyGenerator::genSwitchKeyMSRLWE(const MSRLWEKey &from, const MSRLWEKey &to) const {
    return impl_->genSwitchKeyMSRLWE(from, to);
}

void KeyGenerator::genSparseSecretEncapsulationKey() const {
    impl_->genSparseSecretEncapsulationKey();
}

void KeyGenerator::genFuseRotKeyBundle(const PolynomialVector &from,
                                       const PolynomialVector &to) const {
    impl_->genFuseRotKeyBundle(from, to);
}

void KeyGenerator::genFuseRotKeyBundle() const { impl_->genFuseRotKeyBundle(); }

void KeyGenerator::genFuseRotKeyBundleWithSSE() const { impl_->genFuseRotKeyBundleWithSSE(); }

RingSwitchKey KeyGenerator::genComposeKey(const RLWEKey &sk_small) const {
    return impl_->genComposeKey(sk_small);
}

RingSwitchKey KeyGenerator::genDecomposeKey(const std::shared_ptr<ContextContent> &context_to,
                                            const RLWEKey &sk_small) const {
    return impl_->genDecomposeKey(context_to, sk_small);
}

void KeyGenerator::save(const std::string &dir) const { impl_->getKeyPack()->save(dir); }

void KeyGenerator::flush() {
    KeyPack fresh(context_);
    impl_->flushKeyPack(implOf(fresh));
    pack_ = std::move(fresh);
}

// ---------------------------------------------------------------------------
// Key bundles
// ---------------------------------------------------------------------------

IncreaseNSKeyBundle KeyGenerator::genIncreaseNSKeyBundle(const MSRLWEKey &from,
                                                         const MSRLWEKey &to) const {
    return impl_->genIncreaseNSKeyBundle(from, to);
}

template <EncryptionType ET>
MStoSSKeyBundle KeyGenerator::genMStoSSKeyBundle(const MSRLWEKey &ms,
                                                 const SecretKeyBase<ET> &ss) const {
    return impl_->genMStoSSKeyBundle(ms, ss);
}

template <EncryptionType ET>
SStoMSKeyBundle KeyGenerator::genSStoMSKeyBundle(const SecretKeyBase<ET> &ss,
                                                 const MSRLWEKey &ms) const {
    return impl_->genSStoMSKeyBundle(ss, ms);
}

template <EncryptionType ET>
ModPackKeyBundle KeyGenerator::genModPackKeyBundle(const SecretKeyBase<EncryptionType::MLWE> &in,
                                                   const SecretKeyBase<ET> &out) const {
    return impl_->genModPackKeyBundle(in, out);
}

template <EncryptionType ET>
ModPackKeyBundle KeyGenerator::genModPackKeyBundle(const LWE::SecretKey &in,
                                                   const SecretKeyBase<ET> &out) const {
    return impl_->genModPackKeyBundle(in, out);
}

template <EncryptionType ET>
SStoMSBisectionKeyBundle
KeyGenerator::genSStoMSBisectionKeyBundle(const SecretKeyBase<ET> &ss,
                                          const std::vector<MSRLWEKey> &ms) const {
    return impl_->genSStoMSBisectionKeyBundle(ss, ms);
}

template <EncryptionType ET>
MultiSecretSwitchKeyBundle
KeyGenerator::genMultiSecretSwitchKeyBundle(const SecretKeyBase<ET> &ss,
                                            const std::vector<MSRLWEKey> &ms) const {
    return impl_->genMultiSecretSwitchKeyBundle(ss, ms);
}

template <EncryptionType ET>
MultiSecretSwitchKeyBundle KeyGenerator::genMultiSecretSwitchKeyBundle(
    const SecretKeyBase<ET> &ss, const std::vector<MSRLWEKey> &ms, const SecretKeyBase<ET> &ss2,
    const MSRLWEKey &ms2) const {
    return impl_->genMultiSecretSwitchKeyBundle(ss, ms, ss2, ms2);
}

constexpr EncryptionType kRLWE = EncryptionType::RLWE;
constexpr EncryptionType kMLWE = EncryptionType::MLWE;
template MStoSSKeyBundle
KeyGenerator::genMStoSSKeyBundle<kRLWE>(const MSRLWEKey &, const SecretKeyBase<kRLWE> &) const;
template SStoMSKeyBundle KeyGenerator::genSStoMSKeyBundle<kRLWE>(const SecretKeyBase<kRLWE> &,
                                                                 const MSRLWEKey &) const;
template ModPackKeyBundle
KeyGenerator::genModPackKeyBundle<kMLWE>(const SecretKeyBase<kMLWE> &,
                                         const SecretKeyBase<kMLWE> &) const;
template ModPackKeyBundle
KeyGenerator::genModPackKeyBundle<kRLWE>(const SecretKeyBase<kMLWE> &,
                                         const SecretKeyBase<kRLWE> &) const;
template ModPackKeyBundle
KeyGenerator::genModPackKeyBundle<kMLWE>(const LWE::SecretKey &,
                                         const SecretKeyBase<kMLWE> &) const;
template ModPackKeyBundle
KeyGenerator::genModPackKeyBundle<kRLWE>(const LWE::SecretKey &,
                                         const SecretKeyBase<kRLWE> &) const;
template SStoMSBisectionKeyBundle
KeyGenerator::genSStoMSBisectionKeyBundle<kRLWE>(const SecretKeyBase<kRLWE> &,
                                                 const std::vector<MSRLWEKey> &) const;
template MultiSecretSwitchKeyBundle
KeyGenerator::genMultiSecretSwitchKeyBundle<kRLWE>(const SecretKeyBase<kRLWE> &,
                                                   const std::vector<MSRLWEKey> &) const;
template MultiSecretSwitchKeyBundle KeyGenerator::genMultiSecretSwitchKeyBundle<kRLWE>(
    const SecretKeyBase<kRLWE> &, const std::vector<MSRLWEKey> &, const SecretKeyBase<kRLWE> &,
    const MSRLWEKey &) const;

} // namespace Quelt
