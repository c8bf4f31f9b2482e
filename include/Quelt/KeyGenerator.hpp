#pragma once

#include "Quelt/EncryptionType.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/KeyPack.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "Quelt/SecretKey.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Quelt {

class ContextContent;
class KeyGeneratorImpl;
class PolynomialVector;
namespace LWE {
class SecretKey;
}

// Typical use:
//
//   const auto ctx = makeContext(ParameterPreset::FGb);
//   const SecretKeyBase<EncryptionType::RLWE> sk(ctx);
//   KeyPack pack(ctx);                        // make the pack first
//   const KeyGenerator keygen(ctx, sk, pack); // the keys go into `pack`
//   keygen.genEncKey();       // public-key encryption (Encryptor)
//   keygen.genMultKey();      // products of ciphertexts (HomEvaluator::mult)
//   keygen.genConjKey();      // conjugation
//   keygen.genLeftRotKey(1);  // rotation by 1; genRotKeyBundle(): every power
//                             // of two; genRotKeysForBootstrap: bootstrapping
//   const HomEvaluator eval(ctx, pack);
//
// The constructors without a KeyPack make one of their own, which has no
// getter: only save(dir) reaches it. Hand over a pack to use the keys in this
// process. For another process, write the pack to a key directory (the folder
// must exist) and read it there:
//
//   std::filesystem::create_directories(dir);
//   pack.save(dir);                           // dir/PK/MultKey.bin, ...
//   const HomEvaluator remote(ctx, dir);      // reads each key on first use
//
// The keys of each bootstrapping road are listed in Bootstrapper.hpp.

// Turns a secret key into public keys. The keys the evaluator and the
// bootstrapper use (the encryption key, the multiplication and conjugation
// keys, rotation keys) go into a KeyPack; switching keys between two secrets
// are returned by value.
//
// Every switching key is in gadget form over the context: with L base and
// quantize primes, K temporary primes (product P), gadget rank d and S
// secrets, the base primes are cut into d digits of ceil(L / d) consecutive
// primes (the last one shorter), and the key holds per digit j a uniform mask
// a_j (stored as the 1024-byte seed it was drawn from) and per secret k the
// body b_(k d + j) = -a_j s_k + e + P (Q / Q_j) s'_k, the last term on the
// primes of digit j only (Q / Q_j the product of the base primes outside digit
// j), with a fresh Gaussian error e per body, s the target and s' the source
// secret. Every polynomial spans all L + K primes in NTT form. All randomness
// comes from the calling thread's generator: the d mask seeds first, then the
// errors, digit after digit (and secret after secret within a digit).
//
// Copies share one implementation and, until flush, one key pack. Any member
// except flush may be called from several threads at once: keys are built
// outside the pack's locks and published complete (fixed keys replace the
// held key under the slot's mutex; a rotation key enters only when its index
// is absent), so readers of the pack see the old key or the new complete one.
//
// Errors common to the key-making members: RuntimeException "[KeyGenerator]
// The KeyGenerator was constructed without a default secret key" when the
// generator holds no secret key, or none of the kind the context needs (an
// RLWE key for a context with one secret, an MSRLWE key for several).
class KeyGenerator {
public:
    // Construction checks, before anything is allocated:
    //   - a secret key whose context differs from `context` in preset (or, for
    //     custom contexts, in sizes), degree, any prime of the chain (base,
    //     quantize and temporary), rank, number of secrets or gadget rank:
    //     "[KeyGenerator] context and secret key don't match";
    //   - with a sparse context, a context whose preset has no sparse-secret
    //     encapsulation: "[KeyGenerator] context does not support sparse secret
    //     encapsulation"; a sparse context that is not of the preset's sparse
    //     companion preset: "[KeyGenerator] parameter of context and
    //     context_sparse does not match" (and "This parameter preset does not
    //     have corresponding sparse parameter preset" from the companion
    //     lookup);
    //   - a given key pack over another context (compared as the secret key's
    //     context is): "[KeyGenerator] context and key pack don't match".
    // A null context throws "[Context] The context is null". The constructors
    // without a pack make a new KeyPack(context) (KeyPack(context,
    // context_sparse) with a sparse context) after these checks. The
    // generator keeps its own copy of the secret key.

    // A generator without a secret key: only genSwitchKey and
    // genSwitchKeyMSRLWE work.
    explicit KeyGenerator(const std::shared_ptr<ContextContent> &context);
    KeyGenerator(const std::shared_ptr<ContextContent> &context,
                 const SecretKeyBase<EncryptionType::RLWE> &sk, const KeyPack &pack);
    KeyGenerator(const std::shared_ptr<ContextContent> &context,
                 const SecretKeyBase<EncryptionType::RLWE> &sk);
    KeyGenerator(const std::shared_ptr<ContextContent> &context,
                 const SecretKeyBase<EncryptionType::MSRLWE> &sk, const KeyPack &pack);
    KeyGenerator(const std::shared_ptr<ContextContent> &context,
                 const std::shared_ptr<ContextContent> &context_sparse,
                 const SecretKeyBase<EncryptionType::RLWE> &sk, const KeyPack &pack);
    KeyGenerator(const std::shared_ptr<ContextContent> &context,
                 const std::shared_ptr<ContextContent> &context_sparse,
                 const SecretKeyBase<EncryptionType::RLWE> &sk);
    KeyGenerator(const std::shared_ptr<ContextContent> &context,
                 const std::shared_ptr<ContextContent> &context_sparse,
                 const SecretKeyBase<EncryptionType::MSRLWE> &sk, const KeyPack &pack);

    // The encryption key (EncryptionKey(context, sk)) into the pack, replacing
    // a held one. A multi-secret context throws "[KeyGenerator] genEncKey for
    // MSRLWE is not implemented yet".
    void genEncKey() const;
    // The multiplication key (source s^2, target s) into the pack, replacing a
    // held one. A multi-secret context throws "[KeyGenerator] genMultKey for
    // MSRLWE is not implemented yet".
    void genMultKey() const;
    // The conjugation key (source s(X^-1), target s; per secret on a
    // multi-secret context) into the pack, replacing a held one.
    void genConjKey() const;
    // The key that rotates the slots left by idx (source s(X^g), g = 5^idx mod
    // 2N), 1 <= idx < N/2, else "Wrong rotation index". It enters the pack only
    // when the pack holds no key of index idx.
    void genLeftRotKey(std::uint64_t idx) const;
    // The left-rotation key of N/2 - idx; idx 0 or not below N/2 throws "Wrong
    // rotation index" before any other check.
    void genRightRotKey(std::uint64_t idx) const;
    // The left-rotation key of (N/2 - 1) AND idx (two's complement, so -1 is
    // N/2 - 1), unless that is 0 or the pack holds it.
    void genRotKeyIfNotExist(std::int64_t idx) const;
    // The left-rotation keys of 1, N/2 - 1, 2, N/2 - 2, 4, ... (every power
    // of two below N/2 in both directions), in that order, each unless the
    // pack holds it.
    void genRotKeyBundle() const;
    // Every rotation key that bootstrapping of 2^log_slots slots needs, in
    // ascending index order, each unless the pack holds it: the amounts of
    // the context's bootstrapping rule (getRotIndicesForBootstrap; the
    // SlotToCoeff part is skipped for the outsourcing presets) reduced
    // modulo N/2, 0 left out. Throws the rule's messages ("The parameter dose
    // not support bootstrap.", ...).
    void genRotKeysForBootstrap(std::uint64_t log_slots, bool min_key) const;
    // The rotation keys of one radix-split transform given by the running
    // totals of its log-radices ({6, 9, 12, 15}: steps of 6, 3, 3 and 3
    // bits), reduced and generated as above. An empty or decreasing list
    // throws the context rule's message, a repeated total the radix
    // decomposition's.
    void genRotKeysForBootstrap(const std::vector<std::uint64_t> &log_radix_bounds,
                                bool min_key) const;

    // A key from `from` to `to` (type 'w'), returned, not put into the pack; no
    // default secret key is needed. Both keys must have been made over this
    // generator's context object itself (not merely an equal context), else
    // "Two secret keys should be in the context of KeyGenerator.".
    RingSwitchKey genSwitchKey(const SecretKeyBase<EncryptionType::RLWE> &from,
                               const SecretKeyBase<EncryptionType::RLWE> &to) const;
    // The same for two multi-secret keys: secret k of `from` to secret k of
    // `to`.
    RingSwitchKey genSwitchKeyMSRLWE(const SecretKeyBase<EncryptionType::MSRLWE> &from,
                                     const SecretKeyBase<EncryptionType::MSRLWE> &to) const;

    // A new sparse-secret encapsulation key into the pack, for a sparse secret
    // drawn now (the only draw before the keys' own): its DTS part switches the
    // default secret, written over the sparse context, to the sparse secret,
    // over the sparse context; its STD part switches the sparse secret, written
    // over the main context, to the default secret, over the main context. With
    // several secrets each part switches secret k to secret k. The sparse
    // secret is kept nowhere else. The key is made complete before it replaces
    // the pack's key (a failure leaves the held key; a key already handed out
    // stays as it was). Fused rotation keys in the pack are left untouched,
    // also those made for an earlier sparse secret. Checks, in order, before
    // anything is drawn or allocated: "[KeyGenerator] The KeyGenerator was
    // constructed without a default secret key"; a generator built without a
    // sparse context: "Key Generator is not constructed for the parameter
    // supporting sparse secret encapsulation"; a sparse context of another
    // degree, rank or number of secrets than the context: "[KeyGenerator]
    // parameter of context and context_sparse does not match"; a pack made
    // without a sparse context (as after flush): "[KeyPack] The key pack was
    // not constructed with a sparse context".
    void genSparseSecretEncapsulationKey() const;

    // Fused rotation keys (bootstrapping with the modulus raise fused into the
    // first CoeffToSlot step): with R the radix and g the stride of the first
    // step of the full-slot CoeffToSlot split, the key of index r = j g (j < R)
    // holds, on the L base and quantize primes and the first two temporary
    // primes (NTT form), the bodies m_j (p_L sigma_r(from_k) - a to_k + e_k)
    // for each secret k and the mask m_j a, where m_j is the j-th diagonal of
    // that step, p_L the first temporary prime, sigma_r the automorphism X ->
    // X^(5^r mod 2N), a a uniform mask and e_k a fresh Gaussian error. The
    // full-slot bootstrapping constants are built for the call and dropped.
    // Each key enters the pack whole, under the exclusive lock of the fused
    // keys, only when its index holds none. Checks, in order, before any key is
    // made: "[genFuseRotKeyBundle] This parameter does not support fusing
    // modRaise and modUp."; `from` or `to` not of one polynomial per secret:
    // "[genFuseRotKeyBundle] The size of sx_vec should be the same as
    // num_secret."; then what the bootstrapping parameters and constants throw
    // (for example "Currently, FuseModRaise is only supported for degree
    // 2^16").
    void genFuseRotKeyBundle(const PolynomialVector &from, const PolynomialVector &to) const;
    // The fused keys from the default secret to itself. Without the key of the
    // context's kind: "[genFuseRotKeyBundle] The KeyGenerator was constructed
    // without a secret key." (one secret) or "[genFuseRotKeyBundle] The
    // KeyGenerator was constructed without an MSRLWE secret key." (several),
    // before the checks above.
    void genFuseRotKeyBundle() const;
    // A new sparse-secret encapsulation key (as
    // genSparseSecretEncapsulationKey), then the fused keys from its sparse
    // secret, written over the main context, to the default secret; these
    // replace fused keys the pack already holds (made for another sparse
    // secret, they would not match the new encapsulation key). Checks, in
    // order, before anything enters the pack: "KeyGenerator was not constructed
    // for the parameter supporting sparse secret encapsulation.",
    // "[genFuseRotKeyBundle] This parameter does not support fusing modRaise
    // and modUp.", then the checks of genSparseSecretEncapsulationKey after its
    // sparse-context one.
    void genFuseRotKeyBundleWithSSE() const;

    // The key (type 'w', over this generator's context) that switches from the
    // small secret s of degree n embedded as s(X^(N/n)) (coefficient i at i N /
    // n) to the default secret. Checks, in order: "[KeyGenerator] The
    // KeyGenerator was constructed without a default secret key" (also for a
    // context with several secrets: this key has a single-secret form only); N
    // not a multiple of n: "[genComposeKey] The degree of input ciphertext does
    // not divide the RLWE encryption degree"; the small context's encryption
    // level above the level up to which its chain agrees with this context's:
    // "[genComposeKey] The encryption primes of the ciphertext to switch from
    // is not subset of the primes of the RLWE encryption" ("The given two
    // contexts are not compatible at any level" when prime 0 differs). No key
    // is made before the checks pass.
    RingSwitchKey genComposeKey(const SecretKeyBase<EncryptionType::RLWE> &sk_small) const;
    // The key (type 'w', over context_to, with its gadget digits and chain)
    // that switches from the default secret to the small secret embedded as
    // above, both written over context_to. Checks, in order: "[KeyGenerator]
    // The KeyGenerator was constructed without a default secret key" (as for
    // genComposeKey); context_to of another degree: "[genDecomposeKey] The
    // degree of the switch key is not same to the RLWE encryption degree"; N
    // not a multiple of n: "[genDecomposeKey] The degree of output ciphertexts
    // does not divide the degree of ciphertext to switch to"; the small
    // context's encryption level above the level up to which it agrees with
    // this context: "[genDecomposeKey] The encryption primes of the ciphertext
    // to switch to is not subset of the primes of the RLWE encryption", then
    // with context_to: "[genDecomposeKey] The encryption primes of the
    // ciphertext to switch to is not subset of the primes of the switching key"
    // (prime 0 differing: "The given two contexts are not compatible at any
    // level"); context_to with several secrets or a rank above 1:
    // "[genDecomposeKey] The context of the switch key should have one secret".
    // No key is made before the checks pass.
    RingSwitchKey genDecomposeKey(const std::shared_ptr<ContextContent> &context_to,
                                  const SecretKeyBase<EncryptionType::RLWE> &sk_small) const;

    // ---- Key bundles of the conversions, returned by value ----------------
    // Each key switches from a temporary secret rearranged from the integer
    // coefficients of the given keys; the default secret key and the pack
    // are not used. Every check runs before anything is allocated.
    using MSRLWEKey = SecretKeyBase<EncryptionType::MSRLWE>;

    // num_secret(to) / num_secret(from) keys over `to`'s context: key i
    // switches the secret whose secrets i a .. i a + a - 1 are those of `from`
    // (a = num_secret(from)), the others 0, to `to`, with this generator's
    // digits. Checks: equal degrees ("[KeyGeneraotrImpl/genIncreaseNSKeyBundle]
    // The degree of input secret key isn't the same as  the degree of output
    // secret key"), num_secret(from) dividing num_secret(to)
    // ("[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The NS of secret_from does
    // not divide the NS of secret_to"), `to`'s context with this context's
    // chain ("[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The primes of
    // secret_to's context are not those of the KeyGenerator's context") and
    // gadget rank ("[KeyGeneraotrImpl/genIncreaseNSKeyBundle] The gadget rank
    // of secret_to's context is not that of the KeyGenerator's context").
    IncreaseNSKeyBundle genIncreaseNSKeyBundle(const MSRLWEKey &from, const MSRLWEKey &to) const;
    // One key per secret of `ms` over its context: key k switches secret k to
    // `ss` (single-secret form with the digits of `ss`'s context; the bodies of
    // the other secrets hold zeros). SStoMS: key k switches the secret that is
    // `ss` at secret k and 0 elsewhere to `ms`. Checks: equal degrees
    // ("[KeyGeneraotrImpl/genMStoSSKeyBundle] The degree of input secret key
    // isn't the same as  divide the degree of output secret key",
    // "[KeyGeneraotrImpl/genSStoMSKeyBundle] The degree of input secret key
    // isn't the same as  the degree of output secret key"), one chain
    // ("[genMultiSecretSwitchKeyBundle] Two contexts used to generate multi
    // secret switch key bundle have distinct primes"), equal gadget ranks
    // ("[KeyGeneraotrImpl/genMStoSSKeyBundle] The gadget rank of input secret
    // key's context is not that of output secret key's context",
    // "[KeyGeneraotrImpl/genSStoMSKeyBundle] The gadget rank of input secret
    // key's context is not that of output secret key's context"). Only ET =
    // RLWE exists.
    template <EncryptionType ET>
    MStoSSKeyBundle genMStoSSKeyBundle(const MSRLWEKey &ms, const SecretKeyBase<ET> &ss) const;
    template <EncryptionType ET>
    SStoMSKeyBundle genSStoMSKeyBundle(const SecretKeyBase<ET> &ss, const MSRLWEKey &ms) const;
    // Modulus packing over this generator's context (degree N): the output
    // secret interleaves `out` (coefficient j of polynomial i on exponent j
    // rank(out) + i); key k switches from the secret holding input polynomials
    // k r .. k r + r - 1 (r = rank(out)), polynomial i spread with stride N /
    // degree(in) from exponent i, or for an LWE input its coefficients k r .. k
    // r + r - 1 in the first r entries. rank(in) / r (n / r for LWE) keys.
    // Checks in order: "[genModPackKeyBundle] Total dimension of output secret
    // key is not equal to the RLWE encryption dimension",
    // "[genModPackKeyBundle] The degree of input secret key does not divide the
    // degree of output secret key" (not for LWE), "[genModPackKeyBundle] The
    // rank of output secret key does not divide the rank of input secret key",
    // "[genModPackKeyBundle] The encryption primes of the ciphertext to pack to
    // is not subset of the primes of the switching key", "[genModPackKeyBundle]
    // The encryption primes of the ciphertext to pack to is not subset of the
    // primes of the output ciphertext" ("The given two contexts are not
    // compatible at any level" when prime 0 differs). ET is MLWE or RLWE.
    template <EncryptionType ET>
    ModPackKeyBundle genModPackKeyBundle(const SecretKeyBase<EncryptionType::MLWE> &in,
                                         const SecretKeyBase<ET> &out) const;
    template <EncryptionType ET>
    ModPackKeyBundle genModPackKeyBundle(const LWE::SecretKey &in,
                                         const SecretKeyBase<ET> &out) const;
    // The SStoMS bundle from `ss` to ms[0] and the IncreaseNS bundle from
    // ms[i] to ms[i + 1] per step, with the contexts of the keys. The
    // contexts must be aligned as SStoMSBisectionKeyBundle's list
    // constructor requires (its kContextMismatch, also for an empty list),
    // and each part passes its own checks. Only ET = RLWE exists.
    template <EncryptionType ET>
    SStoMSBisectionKeyBundle genSStoMSBisectionKeyBundle(const SecretKeyBase<ET> &ss,
                                                         const std::vector<MSRLWEKey> &ms) const;
    // The MStoSS bundle from the last key of `ms` to `ss` and the bisection
    // bundle of (ss, ms), after checkMultiSecretSwitchKeyCondition on their
    // contexts ("[KeyGeneraotrImpl/genMultiSecretSwitchKeyBundle] The degree of
    // input secret key isn't the same as  the degree of output secret key",
    // "[genMultiSecretSwitchKeyBundle] Two contexts used to generate multi
    // secret switch key bundle have distinct primes"). The four-key form takes
    // its MStoSS bundle from ms2 to ss2 (checked the same way) and holds the
    // contexts of ss2 and ms2 and a 'complex' MStoSS bundle from the last key
    // of `ms` to `ss`, generated when ss's context is a
    // coefficient-bootstrapping one and holding zeros otherwise.
    template <EncryptionType ET>
    MultiSecretSwitchKeyBundle
    genMultiSecretSwitchKeyBundle(const SecretKeyBase<ET> &ss,
                                  const std::vector<MSRLWEKey> &ms) const;
    template <EncryptionType ET>
    MultiSecretSwitchKeyBundle
    genMultiSecretSwitchKeyBundle(const SecretKeyBase<ET> &ss, const std::vector<MSRLWEKey> &ms,
                                  const SecretKeyBase<ET> &ss2, const MSRLWEKey &ms2) const;

    // Writes the pack the generator fills to the key directory `dir`
    // (KeyPack::save).
    void save(const std::string &dir) const;
    // Detaches the generator from its pack: a new, empty KeyPack(context)
    // (over the main context only) receives the keys made afterwards; the old
    // pack keeps its keys for whoever holds it. Must not run while another
    // thread uses this generator or one of its copies.
    void flush();

private:
    std::shared_ptr<ContextContent> context_;
    std::optional<std::shared_ptr<ContextContent>> context_sparse_;
    KeyPack pack_;
    std::shared_ptr<KeyGeneratorImpl> impl_;
};

} // namespace Quelt
