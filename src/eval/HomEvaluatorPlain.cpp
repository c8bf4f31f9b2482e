// The facade's rows of the ciphertext products and of the operations on
// plain data, rotations and conjugation, and the plaintext-weighted sums.

#include "Quelt/Bx.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "keys/RingSwitchKeyAccess.hpp"

#include <cstddef>
#include <vector>

namespace Quelt {

namespace {

// The list a handle shares with its copies (kEmptyBx when it has none).
PolynomialVector &sharedListOf(const Bx &bx) {
    if (!bx.getData())
        throw RuntimeException(HomEvaluatorImpl::kEmptyBx);
    return *bx.getData();
}

const PolynomialVector &listOf(const Bx &bx) { return sharedListOf(bx); }

PolynomialVector &listOf(Bx &bx) { return sharedListOf(bx); }

} // namespace

void HomEvaluator::tensor(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const {
    impl_->products().tensor(a, b, out);
}
void HomEvaluator::relinearize(const Ciphertext &in, Ciphertext &out) const {
    impl_->products().relinearize(in, out);
}
void HomEvaluator::multWithoutRescale(const Ciphertext &a, const Ciphertext &b,
                                      Ciphertext &out) const {
    impl_->products().multWithoutRescale(a, b, out);
}
void HomEvaluator::mult(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const {
    impl_->products().mult(a, b, out);
}
void HomEvaluator::square(const Ciphertext &a, Ciphertext &out) const {
    impl_->products().square(a, out);
}

void HomEvaluator::negate(const Message &m, Message &out) const { impl_->plain().negate(m, out); }
void HomEvaluator::add(const Message &m, const Complex &c, Message &out) const {
    impl_->plain().add(m, c, out);
}
void HomEvaluator::add(const Message &a, const Message &b, Message &out) const {
    impl_->plain().add(a, b, out);
}
void HomEvaluator::sub(const Message &m, const Complex &c, Message &out) const {
    impl_->plain().sub(m, c, out);
}
void HomEvaluator::sub(const Message &a, const Message &b, Message &out) const {
    impl_->plain().sub(a, b, out);
}
void HomEvaluator::mult(const Message &m, const Complex &c, Message &out) const {
    impl_->plain().mult(m, c, out);
}
void HomEvaluator::mult(const Message &a, const Message &b, Message &out) const {
    impl_->plain().mult(a, b, out);
}
void HomEvaluator::square(const Message &m, Message &out) const { impl_->plain().square(m, out); }
void HomEvaluator::multImagUnit(const Message &m, Message &out) const {
    impl_->plain().multImagUnit(m, out);
}
void HomEvaluator::conjugate(const Message &m, Message &out) const {
    impl_->plain().conjugate(m, out);
}

void HomEvaluator::negate(const Plaintext &p, Plaintext &out) const {
    impl_->plain().negate(p, out);
}
void HomEvaluator::add(const Plaintext &p, const Complex &c, Plaintext &out) const {
    impl_->plain().add(p, c, out);
}
void HomEvaluator::add(const Plaintext &a, const Plaintext &b, Plaintext &out) const {
    impl_->plain().add(a, b, out);
}
void HomEvaluator::sub(const Plaintext &p, const Complex &c, Plaintext &out) const {
    impl_->plain().sub(p, c, out);
}
void HomEvaluator::sub(const Plaintext &a, const Plaintext &b, Plaintext &out) const {
    impl_->plain().sub(a, b, out);
}
void HomEvaluator::multWithoutRescale(const Plaintext &p, const Complex &c, Plaintext &out) const {
    impl_->plain().multWithoutRescale(p, c, out);
}
void HomEvaluator::mult(const Plaintext &p, const Complex &c, Plaintext &out) const {
    impl_->plain().mult(p, c, out);
}
void HomEvaluator::multWithoutRescale(const Plaintext &a, const Plaintext &b,
                                      Plaintext &out) const {
    impl_->plain().multWithoutRescale(a, b, out);
}
void HomEvaluator::mult(const Plaintext &a, const Plaintext &b, Plaintext &out) const {
    impl_->plain().mult(a, b, out);
}
void HomEvaluator::square(const Plaintext &p, Plaintext &out) const {
    impl_->plain().square(p, out);
}
void HomEvaluator::multImagUnit(const Plaintext &p, Plaintext &out) const {
    impl_->plain().multImagUnit(p, out);
}
void HomEvaluator::multInteger(const Plaintext &p, i64 k, Plaintext &out) const {
    impl_->plain().multInteger(p, k, out);
}
void HomEvaluator::rescale(Plaintext &p) const { impl_->plain().rescale(p); }
void HomEvaluator::inverseRescale(Plaintext &p) const { impl_->plain().inverseRescale(p); }
void HomEvaluator::relevel(const Plaintext &p, u64 level, Plaintext &out) const {
    impl_->plain().relevel(p, level, out);
}
void HomEvaluator::conjugate(const Plaintext &p, Plaintext &out) const {
    impl_->plain().conjugate(p, out);
}

void HomEvaluator::add(const Bx &a, const Bx &b, Bx &out) const {
    impl_->plain().add(listOf(a), listOf(b), listOf(out));
}
void HomEvaluator::multWithoutRescale(const Bx &a, const Plaintext &p, Bx &out) const {
    impl_->plain().multWithoutRescale(listOf(a), p, listOf(out));
}

// ---- Rotations and conjugation ----------------------------------------------------

namespace {

// The amount modulo a slot count (a power of two for ciphertexts and
// plaintexts, the size for a message); a count of 0 leaves it.
HomEvaluator::u64 reduceModulo(HomEvaluator::u64 idx, HomEvaluator::u64 slots) {
    return slots == 0 ? idx : idx % slots;
}

} // namespace

void HomEvaluator::leftRotate(const Ciphertext &ct, u64 idx, Ciphertext &out) const {
    impl_->rotations().leftRotate(ct, reduceModulo(idx, ct.getNumberOfSlots()), out);
}
void HomEvaluator::rightRotate(const Ciphertext &ct, u64 idx, Ciphertext &out) const {
    impl_->rotations().rightRotate(ct, reduceModulo(idx, ct.getNumberOfSlots()), out);
}
void HomEvaluator::leftRotate(const Plaintext &p, u64 idx, Plaintext &out) const {
    impl_->rotations().leftRotate(p, reduceModulo(idx, p.getNumberOfSlots()), out);
}
void HomEvaluator::rightRotate(const Plaintext &p, u64 idx, Plaintext &out) const {
    impl_->rotations().rightRotate(p, reduceModulo(idx, p.getNumberOfSlots()), out);
}
void HomEvaluator::leftRotate(const Message &m, u64 idx, Message &out) const {
    impl_->plain().leftRotate(m, reduceModulo(idx, m.getSize()), out);
}
void HomEvaluator::rightRotate(const Message &m, u64 idx, Message &out) const {
    impl_->plain().rightRotate(m, reduceModulo(idx, m.getSize()), out);
}
void HomEvaluator::leftRotate(const Bx &in, u64 idx, Bx &out) const {
    impl_->rotations().leftRotate(listOf(in), idx, listOf(out));
}
void HomEvaluator::leftRotate(const Ciphertext &ct, const std::vector<u64> &idxs,
                              std::vector<Ciphertext> &outs) const {
    impl_->rotations().leftRotate(ct, idxs, outs);
}
void HomEvaluator::rotSum(const std::vector<Ciphertext> &cts, const std::vector<u64> &idxs,
                          Ciphertext &out) const {
    impl_->rotations().rotSum(cts, idxs, out);
}
void HomEvaluator::leftRotateReduce(const Ciphertext &ct, u64 gap, u64 n, Ciphertext &out) const {
    impl_->rotations().leftRotateReduce(ct, gap, n, out);
}
void HomEvaluator::rightRotateReduce(const Ciphertext &ct, u64 gap, u64 n, Ciphertext &out) const {
    impl_->rotations().rightRotateReduce(ct, gap, n, out);
}
void HomEvaluator::leftRotateReduce(const Message &m, u64 gap, u64 n, Message &out) const {
    impl_->plain().leftRotateReduce(m, gap, n, out);
}
void HomEvaluator::rightRotateReduce(const Message &m, u64 gap, u64 n, Message &out) const {
    impl_->plain().rightRotateReduce(m, gap, n, out);
}
void HomEvaluator::innerProduct(std::vector<Plaintext>::const_iterator first,
                                std::vector<Plaintext>::const_iterator last,
                                std::vector<Ciphertext>::const_iterator cts,
                                Ciphertext &out) const {
    impl_->innerProduct(first, last, cts, out);
}
void HomEvaluator::innerProductBx(std::vector<Plaintext>::const_iterator first,
                                  std::vector<Plaintext>::const_iterator last,
                                  std::vector<Bx>::const_iterator bxs, Bx &out) const {
    // The lists of the handles that pair with the plaintexts, copied.
    std::vector<PolynomialVector> lists;
    lists.reserve(static_cast<std::size_t>(last - first));
    for (auto it = first; it != last; ++it, ++bxs)
        lists.push_back(listOf(*bxs));
    impl_->innerProductBx(first, last, lists.cbegin(), listOf(out));
}
void HomEvaluator::frobeniusAndInnerProductBx(std::vector<Plaintext>::const_iterator first,
                                              std::vector<Plaintext>::const_iterator last,
                                              const Bx &in, Bx &out,
                                              const std::vector<u64> &exponents) const {
    impl_->frobeniusAndInnerProductBx(first, last, sharedListOf(in), listOf(out), exponents);
}
void HomEvaluator::matmul(const std::vector<Ciphertext> &cts, const Plaintext &pt,
                          Ciphertext &out) const {
    impl_->matmul(cts, pt, out);
}
void HomEvaluator::conjugate(const Ciphertext &ct, Ciphertext &out) const {
    impl_->rotations().conjugate(ct, out);
}
void HomEvaluator::killImag(const Ciphertext &ct, Ciphertext &out) const {
    impl_->rotations().killImag(ct, out);
}
void HomEvaluator::switchKey(const Ciphertext &ct, const RingSwitchKey &key, Ciphertext &out,
                             bool ntt_body) const {
    impl_->rotations().switchKey(ct, detail::RingSwitchKeyAccess::key(key), out, ntt_body);
}
void HomEvaluator::convertToHalfDeg(const Ciphertext &ct, Ciphertext &out) const {
    impl_->rotations().convertToHalfDeg(ct, out);
}

} // namespace Quelt
