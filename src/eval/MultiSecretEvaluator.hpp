#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Plaintext.hpp"
#include "eval/HomEvaluatorMessages.hpp"

#include <cstdint>
#include <vector>

namespace Quelt {

class EvaluationKey;
class HomEvaluatorImpl;
class Polynomial;
class PolynomialVector;

// A multi-secret ciphertext of k secrets holds the bodies b_0 .. b_(k-1)
// in polynomials 0 .. k-1 and the shared mask a last; secret j decrypts
// b_j + a s_j. It may carry fewer bodies than the context has secrets (a
// short ciphertext): k is the ciphertext's getNumSecret wherever one is
// given, the context's number of secrets otherwise. Only the mask is
// key-switched; the bodies follow by the automorphism. Every key switch
// goes through KeySwitcher::multEvalKeyMSRLWE. An operation refused by
// its checks leaves its outputs as they were (the light rotation has
// resized its bx). Rotation amounts are taken modulo N/2, so 0 and N/2
// give copies.
//
// The class belongs to a HomEvaluatorImpl, whose context, key pack, key
// switcher, rotations and arithmetic it uses; it keeps no state of its own.
class MultiSecretEvaluator : public MultiSecretMessages {
public:
    using u64 = std::uint64_t;
    using MsCiphertext = CiphertextBase<EncryptionType::MSRLWE>;
    using MsCiphertextIterator = std::vector<MsCiphertext>::const_iterator;
    using PlaintextIterator = std::vector<Plaintext>::const_iterator;

    // eval must outlive the multi-secret evaluator (its owner).
    explicit MultiSecretEvaluator(const HomEvaluatorImpl &eval);
    MultiSecretEvaluator(const MultiSecretEvaluator &) = delete;
    MultiSecretEvaluator &operator=(const MultiSecretEvaluator &) = delete;

    // ax.poly[0] = the mask, bx.poly[i] = body i (i < k), deep copies; the
    // vectors must already hold them (kSplitShort). combine: the reverse into
    // ct's polynomials (kCombineShort); ct keeps its context and metadata.
    void splitMSRLWECiphertext(const MsCiphertext &ct, PolynomialVector &ax,
                               PolynomialVector &bx) const;
    void combineMSRLWECiphertext(const PolynomialVector &ax, const PolynomialVector &bx,
                                 MsCiphertext &ct) const;

    // Slots of every secret rotated left (right) by idx. The slot-encoding
    // check, then the key for the ciphertext's digit count from the key pack
    // or, when absent, the key pack's decomposition into held keys (the
    // "[Rotation Key] Rotation key <idx> is removed..." message when the
    // table names idx itself, the key pack's message when idx is out of
    // reach); kLeftRotKeyMissing + idx when the key cannot be given.
    void leftRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out) const;
    void rightRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out) const;
    // Hoisted: outs is replaced by idxs.size() results, outs[i] the rotation
    // by idxs[i], sharing one mod-up of the mask. The slot-encoding check,
    // kMsHoistedSize + (k + 1) unless ct holds k + 1 polynomials, then per
    // index kLeftRotKeyMissing + idx (no decomposition).
    void leftRotateMSRLWE(const MsCiphertext &ct, const std::vector<u64> &idxs,
                          std::vector<MsCiphertext> &outs) const;
    // Every slot conjugated: the slot-encoding check, then kConjKeyMissing.
    void conjugateMSRLWE(const MsCiphertext &ct, MsCiphertext &out) const;
    // ct switched by the key: the slot-encoding check, then kSizeShouldBe +
    // (k + 1) unless ct holds k + 1 polynomials.
    void switchKeyMSRLWE(const MsCiphertext &ct, EvaluationKey &key, MsCiphertext &out) const;
    // out = the sum of cts[i] rotated left by idxs[i], one division by P for
    // the whole sum; out may be any of cts. kMsRotSumEmpty, the
    // slot-encoding check of cts[0], per ciphertext checkPrecondition
    // against cts[0] and kMsRotSumSize + (k + 1), kMsRotSumSizes, then per
    // non-zero index kLeftRotKeyMissing + idx.
    void rotSumMSRLWE(const std::vector<MsCiphertext> &cts, const std::vector<u64> &idxs,
                      MsCiphertext &out) const;

    // Lazy rotation: out holds the rotated bodies and the switched mask, bx
    // (which must hold k polynomials, kLazyBxShort) the switched body parts
    // over the extended basis, not yet divided by P. The slot-encoding
    // check, kLazyBxShort; 0 copies ct and leaves bx; the key pack is moved
    // to ct's device, then kLazyNoRotKey + idx when the key is not held (no
    // decomposition) and kLeftRotKeyMissing + idx.
    void lazyLeftRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out,
                              PolynomialVector &bx) const;
    // The chain form: bx = the new parts plus bx_in rotated along (bx_in may
    // be bx; it must hold k polynomials, kLazyBxShort). 0 copies ct and bx_in.
    void lazyLeftRotateMSRLWE(const MsCiphertext &ct, const PolynomialVector &bx_in, u64 idx,
                              MsCiphertext &out, PolynomialVector &bx) const;
    // Right rotations by N/2 - idx. The single form refuses 0 and N/2
    // (kLazyRightZero); the chain form copies ct and bx_in for them.
    void lazyRightRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out,
                               PolynomialVector &bx) const;
    void lazyRightRotateMSRLWE(const MsCiphertext &ct, const PolynomialVector &bx_in, u64 idx,
                               MsCiphertext &out, PolynomialVector &bx) const;
    // Light rotation of a lone mask: a_out the switched mask, bx resized to
    // the context's k and given the switched body parts over the extended
    // basis. The full key (digit count 0) is asked for: kLightNoRotKey + idx
    // when it is not held, kLeftRotKeyMissing + idx. 0 copies a_in (bx
    // resized). Neither mask may be a polynomial of bx (kLightMaskInBx), which
    // is resized. The chain form adds bx_in rotated along (kLightBxShort
    // unless it holds k polynomials) and copies a_in and bx_in for 0.
    void lightLeftRotateMSRLWE(const Polynomial &a_in, u64 idx, Polynomial &a_out,
                               PolynomialVector &bx) const;
    void lightLeftRotateMSRLWE(const Polynomial &a_in, const PolynomialVector &bx_in, u64 idx,
                               Polynomial &a_out, PolynomialVector &bx) const;
    // out = ct with bx / P added to its bodies, ct's rescale counter kept:
    // kBxSizeIncompatible unless bx holds ct's k polynomials.
    void modDownBxAndSum(const PolynomialVector &bx, const MsCiphertext &ct,
                         MsCiphertext &out) const;
    // out = the sum of first[i] times cts[i], polynomial by polynomial.
    // kMsInnerProductEmpty; per term kMsInnerProductLength + (k + 1) +
    // kMsInnerProductLengthNow + its count, and the slot-encoding check;
    // "Operands are in different devices." and the unsupported-device
    // message; "Operands have different levels." and
    // kInnerProductPlaintextBelow. out changes only when the sum is made.
    void innerProductMSRLWE(PlaintextIterator first, PlaintextIterator last,
                            MsCiphertextIterator cts, MsCiphertext &out) const;

private:
    // The mask of ct (polynomial k) rotated by a reduced amount (g its
    // exponent; -1 conjugates) into a fresh polynomial.
    Polynomial automorphismOfMask(const MsCiphertext &ct, u64 k, std::int64_t g) const;
    // out = the switched parts `res` divided by P, plus bodies 0 .. k-1 of ct
    // under the automorphism X -> X^g (g = 1: as they stand); ct's log slots,
    // counter and encoding. out may be ct.
    void finishMSRLWE(const MsCiphertext &res, const MsCiphertext &ct, u64 k, std::int64_t g,
                      MsCiphertext &out) const;
    // The lazy rotation by a reduced, non-zero amount, after its checks.
    void lazyRotateChecked(const MsCiphertext &ct, u64 k, u64 amount, MsCiphertext &out,
                           PolynomialVector &bx) const;

    const HomEvaluatorImpl &eval_;
};

} // namespace Quelt
