// The key generator's construction, the evaluation keys it makes and where
// they go, and the rotation indices of bootstrapping.

#include "client/KeyGeneratorImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EncryptionKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "boot/BootParameter.hpp"
#include "boot/RadixDecomposition.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "client/KeyPackImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "keys/RingSwitchKeyAccess.hpp"

#include <set>
#include <utility>

namespace Quelt {

namespace {

// The context, once the arguments passed KeyGeneratorImplBase::checkArguments.
const std::shared_ptr<ContextContent> &
checked(const std::shared_ptr<ContextContent> &context,
        const std::shared_ptr<ContextContent> *context_sparse,
        const std::shared_ptr<ContextContent> *key_context,
        const std::shared_ptr<KeyPackImpl> &pack) {
    KeyGeneratorImplBase::checkArguments(context, context_sparse, key_context,
                                         pack ? &pack->getContext() : nullptr);
    return context;
}

u64 numSlots(const std::shared_ptr<ContextContent> &context) { return getDegree(context) / 2; }

// Rotation amounts as left-rotation indices: k AND (slots - 1), so that a
// negative amount becomes slots - |k|; 0 is no rotation and is left out.
std::vector<u64> leftRotationIndices(const std::set<std::int64_t> &amounts, u64 slots) {
    std::set<u64> indices;
    for (const std::int64_t amount : amounts)
        if (const u64 r = static_cast<u64>(amount) & (slots - 1); r != 0)
            indices.insert(r);
    return std::vector<u64>(indices.begin(), indices.end());
}

} // namespace

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------

KeyGeneratorImpl::KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context,
                                   std::shared_ptr<KeyPackImpl> pack)
    : KeyGeneratorImplBase(checked(context, nullptr, nullptr, pack)), pack_(std::move(pack)) {}

KeyGeneratorImpl::KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context, RLWEKey sk,
                                   std::shared_ptr<KeyPackImpl> pack)
    : KeyGeneratorImplBase(checked(context, nullptr, &sk.getContext(), pack)), sk_(std::move(sk)),
      pack_(std::move(pack)) {}

KeyGeneratorImpl::KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context, MSRLWEKey sk,
                                   std::shared_ptr<KeyPackImpl> pack)
    : KeyGeneratorImplBase(checked(context, nullptr, &sk.getContext(), pack)),
      sk_multi_(std::move(sk)), pack_(std::move(pack)) {}

KeyGeneratorImpl::KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context,
                                   const std::shared_ptr<ContextContent> &context_sparse,
                                   RLWEKey sk, std::shared_ptr<KeyPackImpl> pack)
    : KeyGeneratorImplBase(checked(context, &context_sparse, &sk.getContext(), pack),
                           context_sparse),
      sk_(std::move(sk)), pack_(std::move(pack)) {}

KeyGeneratorImpl::KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context,
                                   const std::shared_ptr<ContextContent> &context_sparse,
                                   MSRLWEKey sk, std::shared_ptr<KeyPackImpl> pack)
    : KeyGeneratorImplBase(checked(context, &context_sparse, &sk.getContext(), pack),
                           context_sparse),
      sk_multi_(std::move(sk)), pack_(std::move(pack)) {}

void KeyGeneratorImpl::flushKeyPack(const std::shared_ptr<KeyPackImpl> &pack) { pack_ = pack; }

// ---------------------------------------------------------------------------
// The default secret key
// ---------------------------------------------------------------------------

void KeyGeneratorImpl::requireDefaultKey() const {
    if (!sk_ && !sk_multi_)
        throw RuntimeException(KeyGeneratorMessages::kNoDefaultKey);
}

bool KeyGeneratorImpl::isMultiSecret() const { return getNumSecret(context_) > 1; }

const KeyGeneratorImpl::RLWEKey &KeyGeneratorImpl::singleSecretKey() const {
    if (!sk_)
        throw RuntimeException(KeyGeneratorMessages::kNoDefaultKey);
    return *sk_;
}

const KeyGeneratorImpl::MSRLWEKey &KeyGeneratorImpl::multiSecretKey() const {
    if (!sk_multi_)
        throw RuntimeException(KeyGeneratorMessages::kNoDefaultKey);
    return *sk_multi_;
}

// ---------------------------------------------------------------------------
// Keys, built complete before anything is published
// ---------------------------------------------------------------------------

std::shared_ptr<EvaluationKey> KeyGeneratorImpl::makeMultKey() const {
    requireDefaultKey();
    if (isMultiSecret())
        throw RuntimeException(KeyGeneratorMessages::kMultKeyMultiSecret);
    const Polynomial &s = singleSecretKey().getSx(0);
    Polynomial square(context_, true, true);
    context_->getPrimeModuli().hadamardMult(s, s, square);
    std::shared_ptr<EvaluationKey> key = makeEmptyMultKey(context_);
    genSwitchingKey(context_, decompose_data_, square, s, *key);
    return key;
}

void KeyGeneratorImpl::fillAutomorphismKey(EvaluationKey &key, std::int64_t g) const {
    const PrimeModuli &chain = context_->getPrimeModuli();
    if (!isMultiSecret()) {
        const Polynomial &s = singleSecretKey().getSx(0);
        Polynomial source(context_, true, true);
        chain.frobeniusMapInNTT<false>(s, g, source);
        genSwitchingKey(context_, decompose_data_, source, s, key);
        return;
    }
    const PolynomialVector &s = multiSecretKey().getSxVec();
    const u64 secrets = getNumSecret(context_);
    PolynomialVector sources(context_, secrets, true, true);
    for (u64 k = 0; k < secrets; ++k)
        chain.frobeniusMapInNTT<false>(s.getPoly(k), g, sources.getPoly(k));
    genSwitchingKeyMSRLWE(context_, decompose_data_, sources, s, key);
}

std::shared_ptr<EvaluationKey> KeyGeneratorImpl::makeConjKey() const {
    requireDefaultKey();
    std::shared_ptr<EvaluationKey> key = makeEmptyConjKey(context_);
    // X -> X^(-1), that is X^(2N - 1).
    fillAutomorphismKey(*key, -1);
    return key;
}

std::shared_ptr<EvaluationKey> KeyGeneratorImpl::makeLeftRotKey(u64 idx) const {
    requireDefaultKey();
    if (idx == 0 || idx >= numSlots(context_))
        throw RuntimeException(KeyGeneratorMessages::kWrongRotationIndex);
    // 5^idx mod 2N, read under the context's table mutex.
    const u64 g = getPow(context_, idx);
    std::shared_ptr<EvaluationKey> key = makeEmptyRotKey(context_, idx, 0);
    fillAutomorphismKey(*key, static_cast<std::int64_t>(g));
    return key;
}

// ---------------------------------------------------------------------------
// Keys into the pack
// ---------------------------------------------------------------------------

void KeyGeneratorImpl::genEncKey() const {
    requireDefaultKey();
    if (isMultiSecret())
        throw RuntimeException(KeyGeneratorMessages::kEncKeyMultiSecret);
    pack_->installEncKey(std::make_shared<EncryptionKey>(context_, singleSecretKey()));
}

void KeyGeneratorImpl::genMultKey() const { pack_->installMultKey(makeMultKey()); }

void KeyGeneratorImpl::genConjKey() const { pack_->installConjKey(makeConjKey()); }

void KeyGeneratorImpl::genLeftRotKey(u64 idx) const {
    // A held index keeps its key; the new one is dropped.
    pack_->tryEmplaceRotKey(idx, makeLeftRotKey(idx));
}

void KeyGeneratorImpl::genRightRotKey(u64 idx) const {
    const u64 slots = numSlots(context_);
    if (idx == 0 || idx >= slots)
        throw RuntimeException(KeyGeneratorMessages::kWrongRotationIndex);
    genLeftRotKey(slots - idx);
}

void KeyGeneratorImpl::genRotKeyIfNotExist(std::int64_t idx) const {
    requireDefaultKey();
    const u64 r = static_cast<u64>(idx) & (numSlots(context_) - 1);
    if (r != 0 && !pack_->isRotKeyLoaded(r, 0))
        genLeftRotKey(r);
}

void KeyGeneratorImpl::genRotKeyBundle() const {
    requireDefaultKey();
    const u64 slots = numSlots(context_);
    for (u64 k = 1; k < slots; k <<= 1) {
        if (!pack_->isRotKeyLoaded(k, 0))
            genLeftRotKey(k);
        if (!pack_->isRotKeyLoaded(slots - k, 0))
            genLeftRotKey(slots - k);
    }
}

void KeyGeneratorImpl::genMissingRotKeys(const std::vector<u64> &indices) const {
    for (const u64 idx : indices)
        if (!pack_->isRotKeyLoaded(idx, 0))
            genLeftRotKey(idx);
}

void KeyGeneratorImpl::genRotKeysForBootstrap(u64 log_slots, bool min_key, bool c2s_min_key) const {
    requireDefaultKey();
    genMissingRotKeys(detail::bootstrapRotationIndices(context_, log_slots, min_key, c2s_min_key));
}

void KeyGeneratorImpl::genRotKeysForBootstrap(const std::vector<u64> &log_radix_bounds,
                                              bool min_key) const {
    requireDefaultKey();
    genMissingRotKeys(detail::bootstrapRotationIndices(context_, log_radix_bounds, min_key));
}

// ---------------------------------------------------------------------------
// Keys returned by value
// ---------------------------------------------------------------------------

RingSwitchKey KeyGeneratorImpl::genSwitchKey(const RLWEKey &from, const RLWEKey &to) const {
    // The very context object: keys of an equal context may still hold other
    // primes or shapes than this generator's tables.
    if (from.getContext() != context_ || to.getContext() != context_)
        throw RuntimeException(KeyGeneratorMessages::kSwitchKeyContext);
    RingSwitchKey result(context_);
    genSwitchingKey(context_, decompose_data_, from.getSx(0), to.getSx(0),
                    detail::RingSwitchKeyAccess::key(result));
    return result;
}

RingSwitchKey KeyGeneratorImpl::genSwitchKeyMSRLWE(const MSRLWEKey &from,
                                                   const MSRLWEKey &to) const {
    if (from.getContext() != context_ || to.getContext() != context_)
        throw RuntimeException(KeyGeneratorMessages::kSwitchKeyContext);
    RingSwitchKey result(context_);
    genSwitchingKeyMSRLWE(context_, decompose_data_, from.getSxVec(), to.getSxVec(),
                          detail::RingSwitchKeyAccess::key(result));
    return result;
}

// ---------------------------------------------------------------------------
// Rotation indices of bootstrapping
// ---------------------------------------------------------------------------

namespace detail {

std::vector<u64> bootstrapRotationIndices(const std::shared_ptr<ContextContent> &context,
                                          u64 log_slots, bool min_key, bool c2s_min_key) {
    // The context's rule is the one description of the radix splits; the
    // outsourcing presets run SlotToCoeff elsewhere.
    const bool skip_slot_to_coeff = isOutsourcedBootPreset(getParameterPreset(context));
    std::set<std::int64_t> amounts;
    if (c2s_min_key && !min_key) {
        // Minimal keys for CoeffToSlot only: the rule's CoeffToSlot part with
        // minimal keys, SlotToCoeff with all its baby and giant steps.
        amounts = getRotIndicesForBootstrap(context, log_slots, true, true);
        if (!skip_slot_to_coeff) {
            // The default SlotToCoeff split, given to the rule's list form as
            // running totals of its log-radices.
            std::vector<u64> bounds;
            u64 total = 0;
            for (const u64 log_radix : RadixDecomposition(log_slots).log_radices)
                bounds.push_back(total += log_radix);
            if (!bounds.empty())
                amounts.merge(getRotIndicesForBootstrap(context, bounds, false));
        }
    } else {
        amounts = getRotIndicesForBootstrap(context, log_slots, min_key || c2s_min_key,
                                            skip_slot_to_coeff);
    }
    return leftRotationIndices(amounts, numSlots(context));
}

std::vector<u64> bootstrapRotationIndices(const std::shared_ptr<ContextContent> &context,
                                          const std::vector<u64> &log_radix_bounds, bool min_key) {
    return leftRotationIndices(getRotIndicesForBootstrap(context, log_radix_bounds, min_key),
                               numSlots(context));
}

} // namespace detail

} // namespace Quelt
