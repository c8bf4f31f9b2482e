// The sparse-secret encapsulation key, the keys that compose and decompose
// ciphertexts between ring degrees, and the level up to which two chains
// agree.

#include "client/KeyGeneratorImpl.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/KeyGenerator.hpp"
#include "client/KeyGeneratorMessages.hpp"
#include "client/KeyPackImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "keys/RingSwitchKeyAccess.hpp"
#include "lwe/LWEContext.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

// The secret keys built from another key's coefficients read rank x secrets x
// N of them, so both contexts must agree in these three.
bool sameKeyShape(const std::shared_ptr<ContextContent> &a,
                  const std::shared_ptr<ContextContent> &b) {
    return getDegree(a) == getDegree(b) && getRank(a) == getRank(b) &&
           getNumSecret(a) == getNumSecret(b);
}

// Level of the last agreeing prime of two chains whose first la and lb
// primes are compared.
u64 maxCompatibleLevel(const PrimeModuli &a, u64 la, const PrimeModuli &b, u64 lb) {
    if (la == 0 || lb == 0 || a.getModulus(0).getPrime() != b.getModulus(0).getPrime())
        throw RuntimeException(kNotCompatibleAtAnyLevel);
    const u64 m = std::min(la, lb) - 1;
    for (u64 i = 1; i <= m; ++i)
        if (a.getModulus(i).getPrime() != b.getModulus(i).getPrime())
            return i - 1;
    return m;
}

// The N integer coefficients of s(X^(N/n)) for the n coefficients of the
// small key's first secret: coefficient i at i N / n, zeros elsewhere. N is a
// multiple of n.
std::vector<int> embeddedCoefficients(const SecretKeyBase<EncryptionType::RLWE> &sk_small,
                                      u64 degree) {
    const u64 n = getDegree(sk_small.getContext());
    const u64 step = degree / n;
    const int *small = sk_small.getCoefficients();
    std::vector<int> embedded(degree, 0);
    for (u64 i = 0; i < n; ++i)
        embedded[i * step] = small[i];
    return embedded;
}

bool divides(u64 n, u64 degree) { return n != 0 && degree % n == 0; }

} // namespace

u64 getMaxCompatibleLevel(const std::shared_ptr<ContextContent> &a,
                          const std::shared_ptr<ContextContent> &b) {
    const u64 la = getLength(a), lb = getLength(b);
    return maxCompatibleLevel(a->getPrimeModuli(), la, b->getPrimeModuli(), lb);
}

u64 getMaxCompatibleLevel(const std::shared_ptr<LWE::ContextContent> &a,
                          const std::shared_ptr<ContextContent> &b) {
    const u64 la = LWE::getEncryptionLevel(a) + 1, lb = getLength(b);
    return maxCompatibleLevel(a->getPrimeModuli(), la, b->getPrimeModuli(), lb);
}

const KeyGeneratorImpl::RLWEKey &KeyGeneratorImpl::singleSecretOnlyKey() const {
    if (isMultiSecret())
        throw RuntimeException(KeyGeneratorMessages::kNoDefaultKey);
    return singleSecretKey();
}

// ---------------------------------------------------------------------------
// Sparse-secret encapsulation
// ---------------------------------------------------------------------------

PolynomialVector KeyGeneratorImpl::fillSparseSecretEncapsulationKey(
    const std::shared_ptr<ContextContent> &context, const RNSDecomposeData &decompose_data,
    const std::shared_ptr<ContextContent> &context_sparse,
    const RNSDecomposeData &decompose_data_sparse, SparseSecretEncapsulationKey &key) const {
    const bool multi = getNumSecret(context) > 1;
    const std::shared_ptr<ContextContent> &key_context =
        multi ? multiSecretKey().getContext() : singleSecretKey().getContext();
    if (!sameKeyShape(context, key_context))
        throw RuntimeException(KeyGeneratorMessages::kKeyMismatch);
    if (!sameKeyShape(context, context_sparse))
        throw RuntimeException(KeyGeneratorMessages::kSparseMismatch);

    if (!multi) {
        const RLWEKey &sk = singleSecretKey();
        const RLWEKey dense_sparse(context_sparse, sk.getCoefficients()); // A
        const RLWEKey sparse(context_sparse);                             // B
        RLWEKey sparse_main(context, sparse.getCoefficients());           // C
        genSwitchingKey(context_sparse, decompose_data_sparse, dense_sparse.getSx(0),
                        sparse.getSx(0), key.getDTSPart());
        genSwitchingKey(context, decompose_data, sparse_main.getSx(0), sk.getSx(0),
                        key.getSTDPart());
        return std::move(sparse_main.getSxVec());
    }
    const MSRLWEKey &sk = multiSecretKey();
    const MSRLWEKey dense_sparse(context_sparse, sk.getCoefficients());
    const MSRLWEKey sparse(context_sparse);
    MSRLWEKey sparse_main(context, sparse.getCoefficients());
    genSwitchingKeyMSRLWE(context_sparse, decompose_data_sparse, dense_sparse.getSxVec(),
                          sparse.getSxVec(), key.getDTSPart());
    genSwitchingKeyMSRLWE(context, decompose_data, sparse_main.getSxVec(), sk.getSxVec(),
                          key.getSTDPart());
    return std::move(sparse_main.getSxVec());
}

void KeyGeneratorImpl::genSparseSecretEncapsulationKey() const {
    if (isMultiSecret())
        multiSecretKey();
    else
        singleSecretKey();
    if (!context_sparse_)
        throw RuntimeException(KeyGeneratorMessages::kNoSparseContext);
    // The constructor's preset check lets a multi-secret variant of a preset
    // pass beside its one-secret companion; the keys built from each other's
    // coefficients need one shape.
    if (!sameKeyShape(context_, *context_sparse_))
        throw RuntimeException(KeyGeneratorMessages::kSparseMismatch);
    if (!pack_->getSparseContext())
        throw RuntimeException(KeyPackImpl::kNoSparseContext);

    // Built and filled outside the pack, then swapped in under the slot's
    // mutex: readers see the old or the new complete key.
    std::shared_ptr<SparseSecretEncapsulationKey> key =
        makeEmptySparseSecretEncapsulationKey(context_, *context_sparse_);
    fillSparseSecretEncapsulationKey(context_, decompose_data_, *context_sparse_,
                                     *decompose_data_sparse_, *key);
    pack_->installSparseSecretEncapsulationKey(std::move(key));
}

// ---------------------------------------------------------------------------
// Keys between ring degrees
// ---------------------------------------------------------------------------

RingSwitchKey KeyGeneratorImpl::genComposeKey(const RLWEKey &sk_small) const {
    const RLWEKey &sk = singleSecretOnlyKey();
    const std::shared_ptr<ContextContent> &small = sk_small.getContext();
    const u64 degree = getDegree(context_);
    if (!divides(getDegree(small), degree))
        throw RuntimeException(KeyGeneratorMessages::kComposeDegree);
    if (getEncryptionLevel(small) > getMaxCompatibleLevel(context_, small))
        throw RuntimeException(KeyGeneratorMessages::kComposeSubset);

    std::vector<int> embedded = embeddedCoefficients(sk_small, degree);
    RingSwitchKey result(context_);
    const RLWEKey source(context_, embedded.data());
    genSwitchingKey(context_, decompose_data_, source.getSx(0), sk.getSx(0),
                    detail::RingSwitchKeyAccess::key(result));
    return result;
}

RingSwitchKey KeyGeneratorImpl::genDecomposeKey(const std::shared_ptr<ContextContent> &context_to,
                                                const RLWEKey &sk_small) const {
    const RLWEKey &sk = singleSecretOnlyKey();
    const std::shared_ptr<ContextContent> &small = sk_small.getContext();
    const u64 degree = getDegree(context_);
    if (getDegree(context_to) != degree)
        throw RuntimeException(KeyGeneratorMessages::kDecomposeKeyDegree);
    if (!divides(getDegree(small), degree))
        throw RuntimeException(KeyGeneratorMessages::kDecomposeDegree);
    const u64 level = getEncryptionLevel(small);
    if (level > getMaxCompatibleLevel(context_, small))
        throw RuntimeException(KeyGeneratorMessages::kDecomposeSubset);
    if (level > getMaxCompatibleLevel(context_to, small))
        throw RuntimeException(KeyGeneratorMessages::kDecomposeKeySubset);
    // Both secrets are written over context_to from N coefficients each.
    if (getRank(context_to) != 1 || getNumSecret(context_to) != 1)
        throw RuntimeException(KeyGeneratorMessages::kDecomposeKeySecrets);

    std::vector<int> embedded = embeddedCoefficients(sk_small, degree);
    RingSwitchKey result(context_to);
    const RLWEKey source(context_to, sk.getCoefficients());
    const RLWEKey target(context_to, embedded.data());
    const RNSDecomposeData decompose_data(context_to);
    genSwitchingKey(context_to, decompose_data, source.getSx(0), target.getSx(0),
                    detail::RingSwitchKeyAccess::key(result));
    return result;
}

} // namespace Quelt
