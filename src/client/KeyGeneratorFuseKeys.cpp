// Fused rotation keys: the rotation keys of the first CoeffToSlot step that
// bootstrapping uses when it fuses the modulus raise with the mod-up of key
// switching.

#include "client/KeyGeneratorImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Device.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/FuseRotationKey.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/RadixDecomposition.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "client/KeyPackImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "foundation/RandomSampler.hpp"

#include <algorithm>
#include <memory>
#include <utility>

namespace Quelt {

namespace {

// The first L + 2 limbs of a mod-up polynomial at the top level (the L base
// and quantize limbs, then the first two temporary limbs) are laid out as a
// fused key polynomial; they are copied into it.
void copyFusedLimbs(const Polynomial &mod_up, Polynomial &fused) {
    const u64 words = (mod_up.getChainLength() + 2) * mod_up.getDegree();
    std::copy_n(mod_up.getData().getData(), words, fused.getData().getData());
    fused.setNTT(true);
}

} // namespace

void KeyGeneratorImpl::checkFuseRotKeyArguments(const PolynomialVector &from,
                                                const PolynomialVector &to) const {
    if (!isFuseModRaiseSupported(context_))
        throw RuntimeException(KeyGeneratorMessages::kFuseNotSupported);
    const u64 secrets = getNumSecret(context_);
    if (from.getSize() != secrets || to.getSize() != secrets)
        throw RuntimeException(KeyGeneratorMessages::kFuseSecretCount);
}

void KeyGeneratorImpl::genFuseRotKeyBundle(const PolynomialVector &from,
                                           const PolynomialVector &to) const {
    genFuseRotKeys(from, to, false);
}

void KeyGeneratorImpl::genFuseRotKeyBundle() const {
    if (isMultiSecret()) {
        if (!sk_multi_)
            throw RuntimeException(KeyGeneratorMessages::kFuseNoMultiSecretKey);
        genFuseRotKeys(sk_multi_->getSxVec(), sk_multi_->getSxVec(), false);
        return;
    }
    if (!sk_)
        throw RuntimeException(KeyGeneratorMessages::kFuseNoSecretKey);
    genFuseRotKeys(sk_->getSxVec(), sk_->getSxVec(), false);
}

void KeyGeneratorImpl::genFuseRotKeyBundleWithSSE() const {
    if (!context_sparse_)
        throw RuntimeException(KeyGeneratorMessages::kFuseNoSparseContext);
    // Nothing is installed before the fused keys are known to be possible.
    if (!isFuseModRaiseSupported(context_))
        throw RuntimeException(KeyGeneratorMessages::kFuseNotSupported);
    if (isMultiSecret())
        multiSecretKey();
    else
        singleSecretKey();
    if (!pack_->getSparseContext())
        throw RuntimeException(KeyPackImpl::kNoSparseContext);

    std::shared_ptr<SparseSecretEncapsulationKey> key =
        makeEmptySparseSecretEncapsulationKey(context_, *context_sparse_);
    const PolynomialVector sparse = fillSparseSecretEncapsulationKey(
        context_, decompose_data_, *context_sparse_, *decompose_data_sparse_, *key);
    pack_->installSparseSecretEncapsulationKey(std::move(key));
    const PolynomialVector &dense =
        isMultiSecret() ? multiSecretKey().getSxVec() : singleSecretKey().getSxVec();
    // Fused keys held for an earlier sparse secret no longer match the new
    // encapsulation key: they are replaced.
    genFuseRotKeys(sparse, dense, true);
}

void KeyGeneratorImpl::genFuseRotKeys(const PolynomialVector &from, const PolynomialVector &to,
                                      bool replace) const {
    checkFuseRotKeyArguments(from, to);
    const u64 secrets = getNumSecret(context_);
    const u64 length = getLength(context_);
    const u64 log_slots = getLogFullSlots(context_);
    const BootParameter bp(context_);
    // The full-slot constants live for this call only.
    const BootConstants constants(log_slots, context_, bp);
    const RadixDecomposition rd = bp.getRadixDecForC2S(log_slots);
    const std::vector<Plaintext> &diagonals = constants.getInvV0(kHostDevice, 0);
    const u64 radix = rd.num_radices == 0 ? 0 : rd.radices[0];
    const u64 stride = rd.num_radices == 0 ? 0 : rd.strides[0];
    const PrimeModuli &chain = context_->getPrimeModuli();
    const u64 p_l = chain.getModulus(length).getPrime();
    const RandomSampler sampler;

    // Mod-up scratch over every prime of the chain; the key keeps the first
    // L + 2 limbs of each.
    Polynomial mask(context_, true, true);
    Polynomial body(context_, true, true);
    Polynomial error(context_, true, false);
    Polynomial rotated(context_, true, true);
    for (u64 j = 0; j < radix; ++j) {
        const u64 r = j * stride;
        const Polynomial &m = diagonals.at(j).getMx();
        auto key = std::make_shared<FuseRotationKey>(context_);
        sampler.sampleUniform(mask, context_);
        mask.setNTT(true);
        // 5^r mod 2N, read under the context's table mutex.
        const u64 g = r == 0 ? 1 : getPow(context_, r);
        for (u64 k = 0; k < secrets; ++k) {
            const Polynomial &source = from.getPoly(k);
            if (r == 0)
                rotated = source;
            else
                chain.frobeniusMapInNTT<false>(source, static_cast<std::int64_t>(g), rotated);
            sampler.sampleGaussian(error, context_);
            chain.forwardNTT<AlwaysValidator, 1>(error, error, {});
            // b_k = m (p_L sigma_r(from_k) - a to_k + e).
            chain.hadamardMult(mask, to.getPoly(k), body);
            chain.constMult(rotated, p_l, rotated);
            chain.sub(rotated, body, body);
            chain.add(body, error, body);
            chain.hadamardMult(body, m, body);
            copyFusedLimbs(body, key->getPoly(kHostDevice, k));
        }
        chain.hadamardMult(mask, m, mask);
        copyFusedLimbs(mask, key->getPoly(kHostDevice, secrets));
        if (replace)
            pack_->insertOrReplaceFuseRotKey(r, std::move(key));
        else
            pack_->tryEmplaceFuseRotKey(r, std::move(key));
    }
}

} // namespace Quelt
