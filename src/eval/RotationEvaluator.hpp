#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Plaintext.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorMessages.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class EvaluationKey;
class HomEvaluatorImpl;
class Polynomial;
class PolynomialVector;
class PrimeModuli;

// The evaluator's automorphisms X -> X^g of the ring: slot rotations,
// conjugation, hoisted rotations and rotation sums, rotate-reduce, the
// general key switch, killImag and the half-degree embedding, on ring
// ciphertexts, plaintexts and polynomial lists (those of messages are
// PlainEvaluator's). It belongs to a HomEvaluatorImpl, whose context, key
// pack, key switcher and arithmetic it uses; its own state is the pool of
// raised digits of hoisted rotations. The operations are const and follow
// the conventions of HomEvaluatorImpl (checks first, output last, which may
// be an input).
class RotationEvaluator : public RotationMessages {
public:
    using u64 = std::uint64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

    // eval must outlive the rotation evaluator (its owner).
    explicit RotationEvaluator(const HomEvaluatorImpl &eval);
    RotationEvaluator(const RotationEvaluator &) = delete;
    RotationEvaluator &operator=(const RotationEvaluator &) = delete;

    // Slot rotations move slot i + idx to slot i (left) or slot i to i + idx
    // (right); the amount is taken modulo the slot count N/2, so 0 and N/2
    // give a copy. The automorphism is X -> X^(5^idx mod 2N).
    //
    // rotatePoly: out = in(X^g) in NTT form; rotatePolyAndAdd: out += in(X^g).
    // out must be another polynomial than in unless the amount is 0.
    void rotatePoly(const Polynomial &in, u64 idx, Polynomial &out) const;
    void rotatePolyAndAdd(const Polynomial &in, u64 idx, Polynomial &out) const;
    // Ring ciphertexts of two slot-encoded polynomials. Throws the
    // slot-encoding message, then kSizeNotTwo. The key for the ciphertext's
    // digit count is loaded from the key pack; without it the rotation runs
    // through the key pack's decomposition into held keys ("[Rotation Key]
    // Rotation key <idx> is removed..." when the table names the index
    // itself, the key pack's message when the index cannot be reached). Keys
    // are found before out changes. Log slots, counter and encoding type are
    // the input's.
    void leftRotate(const RingCiphertext &ct, u64 idx, RingCiphertext &out) const;
    void rightRotate(const RingCiphertext &ct, u64 idx, RingCiphertext &out) const;
    // Every slot conjugated with the conjugation key ("Failed to load the
    // conjugation key"); the checks of leftRotate.
    void conjugate(const RingCiphertext &ct, RingCiphertext &out) const;
    // ct switched from the key's source secret to its target secret: the
    // mask key-switched, the body added. ntt_body false gives both
    // polynomials in coefficient form. No slot-encoding check; kSizeNotTwo.
    void switchKey(const RingCiphertext &ct, EvaluationKey &key, RingCiphertext &out,
                   bool ntt_body) const;
    // The real part of every slot: (ct + conjugate(ct)) / 2, one level lower.
    void killImag(const RingCiphertext &ct, RingCiphertext &out) const;
    // The even-index coefficient part of ct, doubled, in the ring of half
    // the degree: out (of a context of degree N/2 with ct's primes up to its
    // level) takes ct's polynomial count, level and rescale counter. Where
    // the half ring's transform root is the square of this ring's, the even
    // words of the NTT form are kept as they stand; for the other primes the
    // limb goes through coefficient form. Throws kHalfDegContext for a ct of
    // another context object, kHalfDegDegree, kHalfDegCyclic for a
    // conjugate-invariant transform on either side, then the operand checks
    // of add and the shape checks of the embedding, before out changes.
    void convertToHalfDeg(const RingCiphertext &ct, RingCiphertext &out) const;
    // For the limbs 0 .. level, whether the half-degree embedding from chain
    // to half_chain must go through coefficient form (the roots do not
    // match). Throws kHalfDegCyclic for a conjugate-invariant transform.
    static std::vector<bool> halfDegreeThroughCoefficients(const PrimeModuli &chain,
                                                           const PrimeModuli &half_chain,
                                                           u64 level);
    // Rotations of plaintexts: exact permutations, out may be in.
    void leftRotate(const Plaintext &p, u64 idx, Plaintext &out) const;
    void rightRotate(const Plaintext &p, u64 idx, Plaintext &out) const;
    // Every polynomial rotated, no key switch; out takes in's size.
    void leftRotate(const PolynomialVector &in, u64 idx, PolynomialVector &out) const;

    // outs = ct rotated left by each of idxs (amounts modulo N/2; 0 and N/2
    // give copies), sharing one mod-up of the mask: per amount only the
    // digits' permutation, the key product and the division by P. outs is
    // replaced by idxs.size() results (ct may be one of its elements). The
    // checks of leftRotate, then kLeftRotKeyMissing + idx for a key the
    // pack cannot give (no decomposition), all before outs changes.
    void leftRotate(const RingCiphertext &ct, const std::vector<u64> &idxs,
                    std::vector<RingCiphertext> &outs) const;
    // out = the sum over i of cts[i] rotated left by idxs[i] (amounts modulo
    // N/2): the key products are summed over the extended basis and divided
    // by P once, the bodies added by permutation. out may be any of cts.
    // Throws kRotSumEmpty, the slot-encoding message of cts[0], for each
    // ciphertext checkPrecondition against cts[0] and kSizeNotTwo,
    // kRotSumSizes, then kLeftRotKeyMissing + idx for a key the pack cannot
    // give (no decomposition), all before out changes.
    void rotSum(const std::vector<RingCiphertext> &cts, const std::vector<u64> &idxs,
                RingCiphertext &out) const;
    // rotSum followed by rescale: the division by P and the rescale by the
    // top prime made in one pass, word for word what the two give one after
    // the other. Throws what rotSum throws, then what rescale throws, before
    // out changes.
    void rotSumRescale(const std::vector<RingCiphertext> &cts, const std::vector<u64> &idxs,
                       RingCiphertext &out) const;

    // The signed split of n into powers of two t_0 > t_1 > ... (an odd
    // count of terms, n = t_0 - t_1 + t_2 - ..., the last term positive),
    // appended to terms; count receives the number of terms. n = 0 gives
    // none. n must be below 2^63 (kSplitTooLarge).
    static void getRotIdxDecomposition(const u64 &n, std::vector<u64> &terms, u64 &count);
    // out = the sum over j < n of ct rotated left (right) by j * gap, with
    // about log2 n rotations (doubling, a three-term split for 3 * 2^k, the
    // signed split otherwise); n = 0 and n = 1 give a copy. The messages of
    // the single rotations and of add / sub.
    void leftRotateReduce(const RingCiphertext &ct, u64 gap, u64 n, RingCiphertext &out) const;
    void rightRotateReduce(const RingCiphertext &ct, u64 gap, u64 n, RingCiphertext &out) const;

    // ---- Steps the multi-secret rotations share ----------------------------
    // The amount modulo N/2.
    u64 reduceAmount(u64 idx) const;
    // The Galois exponent 5^idx mod 2N of an amount already below N/2.
    u64 galoisExponent(u64 idx) const;
    // The left-rotation key of an amount below N/2 for a ciphertext at
    // `level` (loaded by the pack when it can), or kLeftRotKeyMissing + amount.
    std::shared_ptr<EvaluationKey> leftRotKeyOrThrow(u64 amount, u64 level) const;
    // The left-rotation key of an amount in 1 .. N/2 - 1 for a ciphertext at
    // `level` (loaded by the pack when it can); without one, null and
    // `steps` receives the pack's route through held keys. Throws the "is
    // removed" message when the route has fewer than two steps, and the
    // pack's message when the amount cannot be reached.
    std::shared_ptr<EvaluationKey> leftRotKeyOrRoute(u64 amount, u64 level,
                                                     std::vector<u64> &steps) const;

private:
    // Rotate-reduce in either direction (left true: rotations to the left).
    void rotateReduce(const RingCiphertext &ct, u64 gap, u64 n, RingCiphertext &out,
                      bool left) const;
    // The checks of rotSum; amounts receives the reduced amounts, keys the
    // key of every amount other than 0.
    void checkRotSum(const std::vector<RingCiphertext> &cts, const std::vector<u64> &idxs,
                     std::vector<u64> &amounts,
                     std::vector<std::shared_ptr<EvaluationKey>> &keys) const;
    // The lowest level of a non-empty list.
    static u64 lowestLevel(const std::vector<RingCiphertext> &cts);
    // The terms of a sum brought to the lowest level as add brings them
    // (levelDown into copies); empty when they share one level already.
    std::vector<RingCiphertext> alignRotSumLevels(const std::vector<RingCiphertext> &cts) const;
    // rotSum after its checks, rescaled by the top prime when `rescale`.
    void rotSumChecked(const std::vector<RingCiphertext> &cts, const std::vector<u64> &amounts,
                       const std::vector<std::shared_ptr<EvaluationKey>> &keys, bool rescale,
                       RingCiphertext &out) const;
    // The entry checks of the ciphertext rotations: the slot encoding,
    // kSizeNotTwo, then the evaluator's context and NTT form (messages naming
    // `function`).
    void checkRotatable(const RingCiphertext &ct, const char *function) const;
    // The rotations after their checks, by an amount already below N/2: the
    // key for the amount, or a route through held keys whose keys are all
    // found before anything is computed.
    void rotateChecked(const RingCiphertext &ct, u64 amount, RingCiphertext &out) const;
    void rotateChecked(const Plaintext &p, u64 amount, Plaintext &out) const;
    // out = the switch of ct's mask, after an automorphism by g, plus the
    // body under the same automorphism; metadata of ct.
    void switchAutomorphism(const RingCiphertext &ct, std::int64_t g, EvaluationKey &key,
                            RingCiphertext &out) const;

    const HomEvaluatorImpl &eval_;
    // Raised digits of hoisted rotations, kept for the next call (a few, for
    // concurrent callers), so that a hoisted rotation touches no fresh memory
    // once they have their shape.
    mutable detail::ScratchPool<std::vector<Polynomial>> digit_scratch_;
};

} // namespace Quelt
