#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/LWE/Ciphertext.hpp"
#include "Quelt/LWE/SecretKey.hpp"
#include "Quelt/SecretKey.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class ContextContent;
class ModPackKeyBundle;
class Plaintext;
class RingSwitchKey;

namespace LWE {
class ContextContent;
}

// Conversions of coefficient-encoded ciphertexts between shapes, without
// decrypting them. For a polynomial p of degree N = m n, its coefficient
// class k (k < m) is the polynomial of degree n whose coefficient j is
// p[k + j m].
//
// Every ciphertext made by unpacking, decomposing, composing or packing is
// coefficient-encoded, keeps the input's level and rescale counter and, for
// ring ciphertexts, has the full log slot count of its own context.
// Residues are only copied between two contexts whose primes 0 .. level
// agree; otherwise "[setContext] Input context is not compatible with the
// ciphertext." is thrown before anything is written.
//
// The class holds nothing; every member is const, and calls on distinct
// outputs may run concurrently. Operations that switch keys build their key
// switcher for the call. Failures throw RuntimeException.
class RingPacker {
public:
    // The LWE ciphertext of coefficient 0 of in: b' = b_0 and a' = (a_0,
    // -a_(N-1), ..., -a_1), so that b' + <a', s> is coefficient 0 of b + a s
    // for the LWE secret of s's coefficients (genLWESecretKeyAfterUnPack).
    // out takes in's level and rescale counter. Throws, in order: "The
    // operand have to encode the message on its coefficients"; "[unPack] The
    // level of given ciphertext is more than the level of max encryption
    // level of the output ciphertext(s)"; the context message above; "The
    // total dimension of the operands are different" when the LWE dimension
    // is not N; "Polynomials should be of non-NTT form in ring switching."
    void unPackOneOutput(const CiphertextBase<EncryptionType::RLWE> &in,
                         LWE::Ciphertext &out) const;
    // outs[k] = the LWE ciphertext of coefficient k: b'_k = b_k, a'_k[t] =
    // a[k - t] for t <= k and -a[N + k - t] for t > k. First throws "[unPack]
    // Input Ciphertext degree should be equal to the number of output LWE
    // Ciphertexts" unless outs holds N ciphertexts, then "[RingPacker] A
    // ciphertext is null." and "[RingPacker] An output ciphertext is listed
    // more than once." (an object listed twice would keep only its last
    // coefficient), then as unPackOneOutput.
    void unPack(const CiphertextBase<EncryptionType::RLWE> &in,
                const std::vector<LWE::Ciphertext *> &outs) const;

    // The MLWE ciphertext (degree n, rank r with r n = N) of coefficient
    // class 0: body = class 0 of b, mask 0 = A_0 and mask t = X A_(r-t)
    // (A_k the classes of a). Checks as the LWE form.
    void unPackOneOutput(const CiphertextBase<EncryptionType::RLWE> &in,
                         CiphertextBase<EncryptionType::MLWE> &out) const;
    // outs[i] = the MLWE ciphertext of class i: body = class i of b, mask t =
    // A_(i-t) for t <= i and X A_(r+i-t) for t > i. It decrypts under
    // genMLWESecretKeyAfterUnPack to class i of the message. Throws first
    // "[unPack] Input Ciphertext degree should be equal to the sum of the
    // degree of output MLWE Ciphertexts" unless n x outs.size() = N, then
    // "[RingPacker] An output ciphertext is listed more than once.".
    void unPack(const CiphertextBase<EncryptionType::RLWE> &in,
                const std::vector<CiphertextBase<EncryptionType::MLWE> *> &outs) const;

    // Switches in (degree N) with the key in the key's context, then splits
    // both polynomials into outs (degree n = N / m): output k holds class k,
    // or, with one output, class 0 only. With a key from s to the small
    // secret embedded by genEmbedSecretKey, output k decrypts under the
    // small secret to class k of the message. Throws, in order: "[RingPacker]
    // A ciphertext is null."; "[RingPacker] An output ciphertext is listed
    // more than once."; "[decompose]
    // Degree of output ciphertext(s) should divide of degree input
    // ciphertext"; "[decompose] The dimension of output ciphertext(s) should
    // be equal to input ciphertext unless the case of extracting a single
    // ciphertext" (also for no output); the coefficient-encoding message;
    // "[decompose] The level of given ciphertext is more than the level of
    // max encryption level of the output ciphertext(s)"; "Polynomials should
    // be of non-NTT form in ring switching."; the context message; then
    // those of the key switch.
    void decompose(const CiphertextBase<EncryptionType::RLWE> &in, const RingSwitchKey &key,
                   std::vector<CiphertextBase<EncryptionType::RLWE> *> &outs) const;
    // Combines m ciphertexts of degree n into out (input t on the
    // coefficients congruent to t modulo m), or embeds one (X -> X^m), then
    // switches the result with the key in the key's context. Throws, in
    // order: "[compose] Degree of input ciphertext(s) should divide of
    // degree output ciphertext"; "[compose] The dimension of input
    // ciphertext(s) should be equal to output ciphertext unless the case of
    // embedding a single ciphertext" (also for no input); the
    // coefficient-encoding message; the evaluator's precondition messages of
    // ins[0] against every input; "Polynomials should be of non-NTT form in
    // ring switching."; the degree message above for inputs of unequal
    // degrees; "[compose] The input ciphertexts should be at one level"; the
    // context message; then those of the key switch.
    void compose(const std::vector<const CiphertextBase<EncryptionType::RLWE> *> &ins,
                 const RingSwitchKey &key, CiphertextBase<EncryptionType::RLWE> &out) const;

    // Conjugate-invariant form (degree 2n) to cyclic form (degree n): the
    // first n words of every limb of every polynomial. out's polynomials must
    // already have half the degree ("Output degree should be half input
    // degree."); out keeps its context, log slots, rescale counter and
    // encoding type and takes in's level, transform flag (the words stay in
    // in's form) and polynomial count.
    void conversionToReal(const Plaintext &in, Plaintext &out) const;
    template <EncryptionType ET>
    void conversionToReal(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const;
    // Cyclic form (degree n) to conjugate-invariant form (degree 2n): word t
    // and word 2n - 1 - t of a limb both take word t. out's polynomials must
    // have twice the degree ("Output degree should be twice input degree.");
    // out takes in's level and transform flag as above.
    void conversionToComplex(const Plaintext &in, Plaintext &out) const;
    void conversionToComplex(const CiphertextBase<EncryptionType::RLWE> &in,
                             CiphertextBase<EncryptionType::RLWE> &out) const;

    // The modulus switch between two contexts of one degree that share
    // their first prime: out (which already carries the target context)
    // receives in's message at `level` of that context, in NTT form, with
    // in's log slot count, rescale counter and encoding type; in is not
    // changed. Throws "[ModulusSwitcher] The parameters use identical
    // moduli", "... inequal degree" and the other checks of the switch before
    // out changes.
    void switchModulus(const CiphertextBase<EncryptionType::RLWE> &in,
                       CiphertextBase<EncryptionType::RLWE> &out, std::uint64_t level) const;

    // Packs N LWE ciphertexts (N the degree of out's context, dimension d)
    // into out, an MLWE (ET = MLWE) or RLWE ciphertext of rank k whose
    // coefficient i decrypts to input i's message; the bundle holds d / k
    // keys over its own context. Throws, in order: "[modPack] Total
    // dimension of encrypting messages of input and output does not match";
    // "[modPack] Input or output ciphertexts is not compatible to the given
    // modpack keys"; "Two operands have different RescaleCounter", "Two
    // operands are in different devices" (ins[0] against each input);
    // "[modPack] The level of given ciphertext(s) is more than the level of
    // max encryption level of the output ciphertext"; the context message
    // (inputs against out, out against the keys); the key-context checks of
    // the key switch; then what the copies and the key switch throw. The
    // result is built apart and replaces out whole, whatever state out was
    // in (mod-up included), so out may be one of the inputs and is unchanged
    // by any failure.
    template <EncryptionType ET>
    void modPack(const std::vector<const LWE::Ciphertext *> &ins, const ModPackKeyBundle &keys,
                 CiphertextBase<ET> &out) const;
    // Packs N / n MLWE ciphertexts of degree n into out: input i fills the
    // coefficients congruent to i modulo N / n. Checks as above, with the
    // coefficient-encoding message after the key count and the evaluator's
    // precondition messages for the inputs.
    template <EncryptionType ET>
    void modPack(const std::vector<const CiphertextBase<EncryptionType::MLWE> *> &ins,
                 const ModPackKeyBundle &keys, CiphertextBase<ET> &out) const;
};

// ---- Ring-packing utilities --------------------------------------------------
// Counts; a division by a degree of 0 gives 0.

// The LWE outputs of unPack: the degree of ctx.
std::uint64_t getNumCiphertextsAfterUnPack(const std::shared_ptr<ContextContent> &ctx);
// degree(from) / degree(to).
std::uint64_t getNumCiphertextsAfterFullDecompose(const std::shared_ptr<ContextContent> &from,
                                                  const std::shared_ptr<ContextContent> &to);
// degree(to) / degree(from).
std::uint64_t getNumCiphertextsToFullCompose(const std::shared_ptr<ContextContent> &from,
                                             const std::shared_ptr<ContextContent> &to);
// The MLWE inputs of modPack: degree(to) / degree(from).
std::uint64_t getNumCiphertextsToModPack(const std::shared_ptr<ContextContent> &from,
                                         const std::shared_ptr<ContextContent> &to);
// The LWE inputs of modPack: degree(to), whatever the LWE context.
std::uint64_t getNumCiphertextsToModPack(const std::shared_ptr<LWE::ContextContent> &from,
                                         const std::shared_ptr<ContextContent> &to);

// The LWE key of ctx with the coefficients s_0 .. s_(N-1) of sk, under which
// the outputs of unPack decrypt. Throws "[genLWESecretKeyAfterUnPack] Input
// SecretKey degree should be equal to the dimension of LWE context." unless
// the dimension of ctx is the degree of sk.
LWE::SecretKey genLWESecretKeyAfterUnPack(const std::shared_ptr<LWE::ContextContent> &ctx,
                                          const SecretKeyBase<EncryptionType::RLWE> &sk);
// The MLWE key of ctx (degree n, rank r) whose part k is class k of sk: c[k n
// + j] = s[k + j r]. Throws "[genMLWESecretKeyAfterUnPack] Input SecretKey
// degree should be equal to the dimension(degree * rank) of MLWE context."
// unless n r is the degree of sk.
SecretKeyBase<EncryptionType::MLWE>
genMLWESecretKeyAfterUnPack(const std::shared_ptr<ContextContent> &ctx,
                            const SecretKeyBase<EncryptionType::RLWE> &sk);
// The key of ctx (degree N) holding each secret of sk (degree n) as s(X^m),
// m = N / n: c[b N + j m] = s[b n + j], zeros elsewhere. ET is RLWE or
// MSRLWE. Throws "[genEmbedSecretKey] The degree of the secret key should
// divide the degree of the context." unless n divides N, and
// "[genEmbedSecretKey] The context should have the secret key's number of
// secrets." for contexts with different numbers of secrets.
template <EncryptionType ET>
SecretKeyBase<ET> genEmbedSecretKey(const std::shared_ptr<ContextContent> &ctx,
                                    const SecretKeyBase<ET> &sk);
// The key of context_ci (degree 2n) for the conjugate-invariant form of each
// secret of sk (degree n): c[0] = s[0], c[j] = s[j] and c[2n - j] = -s[j] for
// 0 < j < n, c[n] = 0. ET is RLWE or MSRLWE. Throws "The degree of
// context_ci should be equal to twice degree of sk", and the secret-count
// message of genEmbedSecretKey.
template <EncryptionType ET>
SecretKeyBase<ET> genConjInvSecretKey(const std::shared_ptr<ContextContent> &context_ci,
                                      const SecretKeyBase<ET> &sk);

// (p_0 ... p_level_from) / (q_0 ... q_level_to) in double precision, p the
// primes of `from` and q those of `to`, multiplied and divided in one
// interleaved pass (p_i, then q_i, for i = 0 .. max of the levels) so that
// the running value stays near 1. Throws "[computeModulusSwitchCompensation]
// The level exceeds the prime chain" for a level past a chain.
double computeModulusSwitchCompensation(const std::shared_ptr<ContextContent> &from,
                                        const std::shared_ptr<ContextContent> &to,
                                        std::uint64_t level_from, std::uint64_t level_to);

} // namespace Quelt
