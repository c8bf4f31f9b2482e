// The facade's rows of the multi-secret operations: Bx handles unwrapped to
// their lists, single rotation amounts reduced modulo the operand's slot
// count, the key of a RingSwitchKey passed on.

#include "Quelt/Bx.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "keys/RingSwitchKeyAccess.hpp"

#include <vector>

namespace Quelt {

namespace {

// The list a handle shares with its copies.
PolynomialVector &listOf(const Bx &bx) {
    if (!bx.getData())
        throw RuntimeException(HomEvaluatorImpl::kEmptyBx);
    return *bx.getData();
}

// Polynomial 0 of the handle's list: the lone mask of a light rotation.
Polynomial &maskOf(const Bx &bx) {
    PolynomialVector &list = listOf(bx);
    if (list.getSize() == 0)
        throw RuntimeException(HomEvaluatorImpl::kBxNoPolynomial);
    return list.getPoly(0);
}

// The amount modulo a power-of-two slot count (0 leaves it).
HomEvaluator::u64 reduceModulo(HomEvaluator::u64 idx, HomEvaluator::u64 slots) {
    return slots == 0 ? idx : idx % slots;
}

} // namespace

void HomEvaluator::splitMSRLWECiphertext(const CiphertextMSRLWE &ct, Bx &ax, Bx &bx) const {
    impl_->multiSecret().splitMSRLWECiphertext(ct, listOf(ax), listOf(bx));
}
void HomEvaluator::combineMSRLWECiphertext(const Bx &ax, const Bx &bx, CiphertextMSRLWE &ct) const {
    impl_->multiSecret().combineMSRLWECiphertext(listOf(ax), listOf(bx), ct);
}
void HomEvaluator::leftRotateMSRLWE(const CiphertextMSRLWE &ct, u64 idx,
                                    CiphertextMSRLWE &out) const {
    impl_->multiSecret().leftRotateMSRLWE(ct, reduceModulo(idx, ct.getNumberOfSlots()), out);
}
void HomEvaluator::leftRotateMSRLWE(const CiphertextMSRLWE &ct, const std::vector<u64> &idxs,
                                    std::vector<CiphertextMSRLWE> &outs) const {
    impl_->multiSecret().leftRotateMSRLWE(ct, idxs, outs);
}
void HomEvaluator::rotSumMSRLWE(const std::vector<CiphertextMSRLWE> &cts,
                                const std::vector<u64> &idxs, CiphertextMSRLWE &out) const {
    impl_->multiSecret().rotSumMSRLWE(cts, idxs, out);
}
void HomEvaluator::conjugateMSRLWE(const CiphertextMSRLWE &ct, CiphertextMSRLWE &out) const {
    impl_->multiSecret().conjugateMSRLWE(ct, out);
}
void HomEvaluator::switchKeyMSRLWE(const CiphertextMSRLWE &ct, const RingSwitchKey &key,
                                   CiphertextMSRLWE &out) const {
    impl_->multiSecret().switchKeyMSRLWE(ct, detail::RingSwitchKeyAccess::key(key), out);
}
void HomEvaluator::lazyLeftRotateMSRLWE(const CiphertextMSRLWE &ct, u64 idx, CiphertextMSRLWE &out,
                                        Bx &bx) const {
    impl_->multiSecret().lazyLeftRotateMSRLWE(ct, reduceModulo(idx, ct.getNumberOfSlots()), out,
                                              listOf(bx));
}
void HomEvaluator::lazyLeftRotateMSRLWE(const CiphertextMSRLWE &ct, const Bx &bx_in, u64 idx,
                                        CiphertextMSRLWE &out, Bx &bx) const {
    impl_->multiSecret().lazyLeftRotateMSRLWE(
        ct, listOf(bx_in), reduceModulo(idx, ct.getNumberOfSlots()), out, listOf(bx));
}
void HomEvaluator::lightLeftRotateMSRLWE(const Bx &a_in, u64 idx, Bx &a_out, Bx &bx) const {
    impl_->multiSecret().lightLeftRotateMSRLWE(maskOf(a_in), idx, maskOf(a_out), listOf(bx));
}
void HomEvaluator::lightLeftRotateMSRLWE(const Bx &a_in, const Bx &bx_in, u64 idx, Bx &a_out,
                                         Bx &bx) const {
    impl_->multiSecret().lightLeftRotateMSRLWE(maskOf(a_in), listOf(bx_in), idx, maskOf(a_out),
                                               listOf(bx));
}
void HomEvaluator::modDownBxAndSum(const Bx &bx, const CiphertextMSRLWE &ct,
                                   CiphertextMSRLWE &out) const {
    impl_->multiSecret().modDownBxAndSum(listOf(bx), ct, out);
}
void HomEvaluator::innerProductMSRLWE(std::vector<Plaintext>::const_iterator first,
                                      std::vector<Plaintext>::const_iterator last,
                                      std::vector<CiphertextMSRLWE>::const_iterator cts,
                                      CiphertextMSRLWE &out) const {
    impl_->multiSecret().innerProductMSRLWE(first, last, cts, out);
}

} // namespace Quelt
