#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorMessages.hpp"

#include <memory>

namespace Quelt {

class EvaluationKey;
class HomEvaluatorImpl;

// The evaluator's products of ring ciphertexts: the tensor product,
// relinearisation with the multiplication key, and the products built on
// them. It belongs to a HomEvaluatorImpl, whose context, key pack, key
// switcher and levels it uses; its own state is the pool of tensor products.
// The operations are const and follow the conventions of HomEvaluatorImpl
// (checks first, output last, which may be an input).
class ProductEvaluator : public ArithmeticMessages, public ProductMessages {
public:
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

    // eval must outlive the product evaluator (its owner).
    explicit ProductEvaluator(const HomEvaluatorImpl &eval);
    ProductEvaluator(const ProductEvaluator &) = delete;
    ProductEvaluator &operator=(const ProductEvaluator &) = delete;

    // tensor: out = a (x) b, n_a + n_b - 1 polynomials, counter rc(a) +
    // rc(b) + 1, a's log slots. relinearize: the last polynomial switched
    // from s^(n-1) to s^(n-2) with the multiplication key and folded into the
    // two before it; log slots and counter kept. multWithoutRescale: tensor
    // then relinearize of two two-polynomial ciphertexts (counter 1); mult:
    // the same followed by rescale, the higher operand first brought down to
    // the other's level; square: a x a, rescaled. Every check runs before out
    // is written.
    void tensor(const RingCiphertext &a, const RingCiphertext &b, RingCiphertext &out) const;
    void relinearize(const RingCiphertext &in, RingCiphertext &out) const;
    // relinearize followed by rescale, the division by P and the rescale by
    // the top prime made in one pass: word for word the two one after the
    // other. Throws the checks of relinearize, then kLevelZero and
    // kRescaleCounterNotPositive for the result, before out changes.
    void relinearizeRescale(const RingCiphertext &in, RingCiphertext &out) const;
    void multWithoutRescale(const RingCiphertext &a, const RingCiphertext &b,
                            RingCiphertext &out) const;
    void mult(const RingCiphertext &a, const RingCiphertext &b, RingCiphertext &out) const;
    void square(const RingCiphertext &a, RingCiphertext &out) const;

private:
    // The multiplication key, or kMultKeyMissing.
    std::shared_ptr<EvaluationKey> multKeyOrThrow() const;
    // tensor after its checks; out is neither a nor b.
    void tensorChecked(const RingCiphertext &a, const RingCiphertext &b, RingCiphertext &out) const;
    // The checks of multWithoutRescale (their messages naming `function`)
    // and the product: unrescaled, or with `rescale` rescaled too, the
    // relinearisation's division by P and the rescale's by the top prime made
    // in one pass.
    void checkProductOperands(const RingCiphertext &a, const RingCiphertext &b,
                              const char *function) const;
    void multiplyChecked(const RingCiphertext &a, const RingCiphertext &b, RingCiphertext &out,
                         bool rescale = false) const;
    // relinearizeChecked followed by rescaleChecked, in one pass for a
    // three-polynomial input in NTT form; `aliased` when out is in.
    void relinearizeRescaleChecked(const RingCiphertext &in, EvaluationKey &key,
                                   RingCiphertext &out, bool aliased) const;
    // relinearize after its checks, with the key already fetched.
    void relinearizeChecked(const RingCiphertext &in, EvaluationKey &key,
                            RingCiphertext &out) const;

    const HomEvaluatorImpl &eval_;
    // Tensor products kept for the next product (a few, for concurrent
    // callers), so that a product touches no fresh memory once its output
    // has its shape.
    mutable detail::ScratchPool<RingCiphertext> product_scratch_;
};

} // namespace Quelt
