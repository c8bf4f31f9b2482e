#pragma once

#include "Quelt/EncryptionType.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "Quelt/SecretKey.hpp"
#include "Quelt/SparseSecretEncapsulationKey.hpp"
#include "arith/RNSDecomposeData.hpp"
#include "client/KeyGeneratorMessages.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace Quelt {

class ContextContent;
class KeyPackImpl;
namespace LWE {
class ContextContent;
class SecretKey;
} // namespace LWE
class Polynomial;
class PolynomialVector;

// The context (and the optional sparse context) of a key generator with
// their gadget tables, and the construction of switching keys in gadget form
// (see include/Quelt/KeyGenerator.hpp for the layout). The building blocks
// take the context whose gadget rank, chain and tables are used; the counts
// come from that context, never from the key, so the lists behind the
// iterators must hold d masks (and d bodies, d x S for the multi-secret
// form). Sources and targets are NTT-form polynomials of the context over all
// L + K primes, as SecretKeyBase::getSx and getSxVec hold them.
class KeyGeneratorImplBase {
public:
    using PolyIter = std::vector<Polynomial>::iterator;

    // Checks the arguments as the KeyGenerator constructors document, before
    // anything is allocated: the secret key's context (when given), then the
    // sparse context (when given), then the pack's context (when given).
    static void checkArguments(const std::shared_ptr<ContextContent> &context,
                               const std::shared_ptr<ContextContent> *context_sparse,
                               const std::shared_ptr<ContextContent> *key_context,
                               const std::shared_ptr<ContextContent> *pack_context);

    // d masks from fresh seeds (populateUniformPoly with a new germ each), so
    // that stored keys hold each mask as its seed.
    void genSwitchingKeyAxWithGerm(const std::shared_ptr<ContextContent> &context,
                                   PolyIter ax) const;
    // d masks by plain uniform sampling (no seed kept).
    void genSwitchingKeyAx(const std::shared_ptr<ContextContent> &context, PolyIter ax) const;
    // The d bodies of a single-secret key, bx[j] from ax[j].
    void genSwitchingKeyBx(const std::shared_ptr<ContextContent> &context,
                           const RNSDecomposeData &decompose_data, const Polynomial &from,
                           const Polynomial &to, PolyIter ax, PolyIter bx) const;
    // The d x S bodies of a multi-secret key: digit outer, secret inner, the
    // body of secret k for digit j at bx[k d + j], all S sharing ax[j].
    void genSwitchingKeyBxMSRLWE(const std::shared_ptr<ContextContent> &context,
                                 const RNSDecomposeData &decompose_data,
                                 const PolynomialVector &from, const PolynomialVector &to,
                                 PolyIter ax, PolyIter bx) const;
    // Masks with germs, then bodies, into the key's host lists. Throws
    // RuntimeException kKeyShape when those lists do not hold d masks and d x
    // S bodies of the context.
    void genSwitchingKey(const std::shared_ptr<ContextContent> &context,
                         const RNSDecomposeData &decompose_data, const Polynomial &from,
                         const Polynomial &to, EvaluationKey &key) const;
    // The multi-secret form of genSwitchingKey.
    void genSwitchingKeyMSRLWE(const std::shared_ptr<ContextContent> &context,
                               const RNSDecomposeData &decompose_data, const PolynomialVector &from,
                               const PolynomialVector &to, EvaluationKey &key) const;

    static constexpr const char *kKeyShape =
        "[KeyGenerator] The key does not hold the digits of the context";

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    const RNSDecomposeData &getDecomposeData() const { return decompose_data_; }

protected:
    explicit KeyGeneratorImplBase(const std::shared_ptr<ContextContent> &context);
    KeyGeneratorImplBase(const std::shared_ptr<ContextContent> &context,
                         const std::shared_ptr<ContextContent> &context_sparse);

    std::shared_ptr<ContextContent> context_;
    RNSDecomposeData decompose_data_;
    std::optional<std::shared_ptr<ContextContent>> context_sparse_;
    std::optional<RNSDecomposeData> decompose_data_sparse_;
};

// A key generator: its default secret key (at most one of the two kinds) and
// the pack that receives the keys. The members behind KeyGenerator's; see
// there for what each does and throws. make* build one complete key without
// publishing it.
class KeyGeneratorImpl : public KeyGeneratorImplBase {
public:
    using RLWEKey = SecretKeyBase<EncryptionType::RLWE>;
    using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;
    using MLWEKey = SecretKeyBase<EncryptionType::MLWE>;

    KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context,
                     std::shared_ptr<KeyPackImpl> pack);
    KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context, RLWEKey sk,
                     std::shared_ptr<KeyPackImpl> pack);
    KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context, MSRLWEKey sk,
                     std::shared_ptr<KeyPackImpl> pack);
    KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context,
                     const std::shared_ptr<ContextContent> &context_sparse, RLWEKey sk,
                     std::shared_ptr<KeyPackImpl> pack);
    KeyGeneratorImpl(const std::shared_ptr<ContextContent> &context,
                     const std::shared_ptr<ContextContent> &context_sparse, MSRLWEKey sk,
                     std::shared_ptr<KeyPackImpl> pack);

    // Replaces the pack that receives the keys (no lock: not while other
    // threads use the generator).
    void flushKeyPack(const std::shared_ptr<KeyPackImpl> &pack);
    const std::shared_ptr<KeyPackImpl> &getKeyPack() const { return pack_; }

    void genEncKey() const;
    void genMultKey() const;
    void genConjKey() const;
    void genLeftRotKey(std::uint64_t idx) const;
    void genRightRotKey(std::uint64_t idx) const;
    void genRotKeyIfNotExist(std::int64_t idx) const;
    void genRotKeyBundle() const;
    void genRotKeysForBootstrap(std::uint64_t log_slots, bool min_key, bool c2s_min_key) const;
    void genRotKeysForBootstrap(const std::vector<std::uint64_t> &log_radix_bounds,
                                bool min_key) const;
    RingSwitchKey genSwitchKey(const RLWEKey &from, const RLWEKey &to) const;
    RingSwitchKey genSwitchKeyMSRLWE(const MSRLWEKey &from, const MSRLWEKey &to) const;
    void genSparseSecretEncapsulationKey() const;
    void genFuseRotKeyBundle() const;
    void genFuseRotKeyBundle(const PolynomialVector &from, const PolynomialVector &to) const;
    void genFuseRotKeyBundleWithSSE() const;
    RingSwitchKey genComposeKey(const RLWEKey &sk_small) const;
    RingSwitchKey genDecomposeKey(const std::shared_ptr<ContextContent> &context_to,
                                  const RLWEKey &sk_small) const;

    // Fills `key`, a new encapsulation key over (context, context_sparse),
    // for a freshly drawn sparse secret, and returns that secret over
    // `context` (C's polynomials, one per secret, NTT form over all L + K
    // primes). The secrets:
    //   A = the default secret over context_sparse (from its coefficients),
    //   B = a new random secret of context_sparse (the only draw before the
    //       keys),
    //   C = B over `context`;
    // the DTS part switches A to B over context_sparse with its tables, the
    // STD part C to the default secret over `context` with its tables.
    // Several secrets take the multi-secret forms of the keys. A and B are
    // dropped on return. Checks, before anything is allocated: the default
    // key of `context`'s kind (KeyGeneratorMessages::kNoDefaultKey), `context` of
    // the default key's degree, rank and number of secrets
    // (KeyGeneratorMessages::kKeyMismatch), context_sparse of `context`'s degree,
    // rank and number of secrets (KeyGeneratorMessages::kSparseMismatch); the parts
    // of `key` must hold their contexts' digits (kKeyShape).
    PolynomialVector fillSparseSecretEncapsulationKey(
        const std::shared_ptr<ContextContent> &context, const RNSDecomposeData &decompose_data,
        const std::shared_ptr<ContextContent> &context_sparse,
        const RNSDecomposeData &decompose_data_sparse, SparseSecretEncapsulationKey &key) const;

    // Bundles of switching keys between the given secret keys (the default
    // key is not used); see KeyGenerator for the checks and messages. Every
    // check runs before anything is allocated.
    IncreaseNSKeyBundle genIncreaseNSKeyBundle(const MSRLWEKey &from, const MSRLWEKey &to) const;
    MStoSSKeyBundle genMStoSSKeyBundle(const MSRLWEKey &ms, const RLWEKey &ss) const;
    SStoMSKeyBundle genSStoMSKeyBundle(const RLWEKey &ss, const MSRLWEKey &ms) const;
    ModPackKeyBundle genModPackKeyBundle(const MLWEKey &in, const MLWEKey &out) const;
    ModPackKeyBundle genModPackKeyBundle(const MLWEKey &in, const RLWEKey &out) const;
    ModPackKeyBundle genModPackKeyBundle(const LWE::SecretKey &in, const MLWEKey &out) const;
    ModPackKeyBundle genModPackKeyBundle(const LWE::SecretKey &in, const RLWEKey &out) const;
    SStoMSBisectionKeyBundle genSStoMSBisectionKeyBundle(const RLWEKey &ss,
                                                         const std::vector<MSRLWEKey> &ms) const;
    MultiSecretSwitchKeyBundle
    genMultiSecretSwitchKeyBundle(const RLWEKey &ss, const std::vector<MSRLWEKey> &ms) const;
    MultiSecretSwitchKeyBundle genMultiSecretSwitchKeyBundle(const RLWEKey &ss,
                                                             const std::vector<MSRLWEKey> &ms,
                                                             const RLWEKey &ss2,
                                                             const MSRLWEKey &ms2) const;

    std::shared_ptr<EvaluationKey> makeMultKey() const;
    std::shared_ptr<EvaluationKey> makeConjKey() const;
    std::shared_ptr<EvaluationKey> makeLeftRotKey(std::uint64_t idx) const;

private:
    // Throws KeyGeneratorMessages::kNoDefaultKey unless a secret key is held.
    void requireDefaultKey() const;
    bool isMultiSecret() const;
    // The key of the single-secret (multi-secret) path; kNoDefaultKey when
    // the generator does not hold that kind.
    const RLWEKey &singleSecretKey() const;
    const MSRLWEKey &multiSecretKey() const;
    // The key of a single-secret-only operation: kNoDefaultKey unless the
    // context has one secret and the generator holds an RLWE key.
    const RLWEKey &singleSecretOnlyKey() const;
    // A complete key of `key`'s kind whose source is the default secret
    // under X -> X^g.
    void fillAutomorphismKey(EvaluationKey &key, std::int64_t g) const;
    // The checks of the fused keys: fusing supported, one polynomial per
    // secret in both lists.
    void checkFuseRotKeyArguments(const PolynomialVector &from, const PolynomialVector &to) const;
    // The fused keys of the first CoeffToSlot step from `from` to `to`, each
    // published under the pack's exclusive lock as soon as it is complete:
    // replacing a held key of its index when `replace` is set, else only
    // when the index holds none.
    void genFuseRotKeys(const PolynomialVector &from, const PolynomialVector &to,
                        bool replace) const;
    // Generates the left-rotation keys of the indices (ascending) the pack
    // does not hold.
    void genMissingRotKeys(const std::vector<std::uint64_t> &indices) const;

    // Modulus packing over the generator's context: the interleaved output
    // secret of `out`, then `keys` keys, each from the temporary secret that
    // fill(k, array) writes into the zeroed array.
    template <typename Fill>
    ModPackKeyBundle makeModPackKeyBundle(const std::shared_ptr<ContextContent> &out,
                                          const int *out_coefficients, std::uint64_t keys,
                                          Fill &&fill) const;
    template <typename Out>
    ModPackKeyBundle genModPackFromModule(const MLWEKey &in, const Out &out) const;
    template <typename Out>
    ModPackKeyBundle genModPackFromLWE(const LWE::SecretKey &in, const Out &out) const;
    // The bisection bundle from keys that passed its checks.
    SStoMSBisectionKeyBundle makeBisection(const RLWEKey &ss,
                                           const std::vector<MSRLWEKey> &ms) const;

    std::optional<RLWEKey> sk_;
    std::optional<MSRLWEKey> sk_multi_;
    std::shared_ptr<KeyPackImpl> pack_;
};

// The highest level at which two chains agree: with m = min(L_a, L_b) - 1
// (L the number of base and quantize primes), the level just below the first
// prime index in 1..m where they differ, else m. Prime 0 must agree, else
// RuntimeException kNotCompatibleAtAnyLevel (checked before anything else).
std::uint64_t getMaxCompatibleLevel(const std::shared_ptr<ContextContent> &a,
                                    const std::shared_ptr<ContextContent> &b);
// The same with an LWE chain (all its primes) in place of a's.
std::uint64_t getMaxCompatibleLevel(const std::shared_ptr<LWE::ContextContent> &a,
                                    const std::shared_ptr<ContextContent> &b);

inline constexpr const char *kNotCompatibleAtAnyLevel =
    "The given two contexts are not compatible at any level";

namespace detail {

// The left-rotation indices (reduced modulo N/2, 0 left out, ascending)
// that bootstrapping of 2^log_slots slots needs: the context's rule with the
// SlotToCoeff part skipped for the outsourcing presets, SlotToCoeff with
// min_key, CoeffToSlot with min_key || c2s_min_key. Throws the rule's
// messages. Makes no key.
std::vector<std::uint64_t> bootstrapRotationIndices(const std::shared_ptr<ContextContent> &context,
                                                    std::uint64_t log_slots, bool min_key,
                                                    bool c2s_min_key);
// The same for the list form of the rule.
std::vector<std::uint64_t>
bootstrapRotationIndices(const std::shared_ptr<ContextContent> &context,
                         const std::vector<std::uint64_t> &log_radix_bounds, bool min_key);

} // namespace detail

} // namespace Quelt
