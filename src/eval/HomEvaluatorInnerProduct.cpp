// Plaintext-weighted sums of ring ciphertexts and of polynomial lists, and the
// product of a list of ciphertexts with one plaintext.

#include "Quelt/Exception.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PolyIter.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/Precondition.hpp"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

using RingCiphertext = HomEvaluatorImpl::RingCiphertext;
// Positions in a plaintext range and the terms that pair with it.
using Offset = std::vector<Plaintext>::difference_type;

namespace {

// The kernels read limbs 0..level of every term by address: a term of another
// degree, or whose array stops short of the level, is refused first.
void checkTermHolds(const PrimeModuli &chain, const Polynomial &p, std::uint64_t level) {
    const std::uint64_t n = chain.getDegree();
    if (p.getDegree() != n || n == 0 || p.getData().size() / n <= level)
        throw RuntimeException(PrimeModuli::kShapeMismatchMessage);
}

} // namespace

void HomEvaluatorImpl::innerProduct(PlaintextIterator first, PlaintextIterator last,
                                    RingCiphertextIterator cts, RingCiphertext &out) const {
    if (first == last)
        throw RuntimeException(kInnerProductEmpty);
    const Offset count = last - first;
    for (Offset i = 0; i < count; ++i) {
        if (cts[i].getNumPoly() != 2)
            throw RuntimeException(kSizeNotTwo);
        utils::throwIfCoeff(cts[i]);
    }
    // Products of the NTT slots over the evaluator's context.
    for (Offset i = 0; i < count; ++i) {
        utils::requireNTTOperand(*context_, cts[i], "innerProduct", "ciphertext");
        utils::requireNTTOperand(*context_, first[i], "innerProduct", "plaintext");
    }
    const RingCiphertext &head = cts[0];
    const u64 level = head.getLevel();
    for (Offset i = 0; i < count; ++i)
        if (cts[i].getLevel() != level)
            throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
    for (Offset i = 0; i < count; ++i) {
        utils::checkPrecondition(head, cts[i]);
        utils::checkPrecondition(head, first[i]);
    }
    // A plaintext carries the scale of its level, which the counter set
    // below stands for only where it is the scale of the ciphertexts' level.
    for (Offset i = 0; i < count; ++i)
        utils::requirePlaintextScale(*context_, first[i], level, kInnerProductPlaintextBelow,
                                     kInnerProductPlaintextOtherScale);
    // checkPrecondition gave every term head's counter.
    if (head.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCountersNotZero);
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (Offset i = 0; i < count; ++i) {
        checkTermHolds(chain, first[i].getMx(), level);
        checkTermHolds(chain, cts[i].getPoly(0), level);
        checkTermHolds(chain, cts[i].getPoly(1), level);
    }

    // The sum walks limbs 0..level, so it is not in mod-up form. It is built
    // in out's storage unless out is one of the terms or does not fit.
    bool aliased = false;
    for (Offset i = 0; i < count; ++i)
        aliased = aliased || &cts[i] == &out;
    std::optional<RingCiphertext> apart;
    if (aliased || out.getContext() != context_ || out.isModUp())
        apart.emplace(context_, false, true);
    RingCiphertext &sum = apart ? *apart : out;
    sum.setNumPoly(2);
    sum.setLevel(level);
    chain.innerProduct(makeMxPolyIter(first), makeMxPolyIter(last), makeAxPolyIter(cts),
                       makeBxPolyIter(cts), sum.getPoly(1), sum.getPoly(0));
    // out's former flags and seed do not describe the new residues.
    for (u64 k = 0; k < 2; ++k) {
        sum.getPoly(k).setNTT(true);
        sum.getPoly(k).disableGerm();
    }
    sum.setLogSlots(head.getLogSlots());
    sum.setEncodingType(head.getEncodingType());
    sum.setRescaleCounter(1);
    if (apart)
        out = std::move(*apart);
}

void HomEvaluatorImpl::innerProductBx(PlaintextIterator first, PlaintextIterator last,
                                      PolynomialVectorIterator bxs, PolynomialVector &out) const {
    if (first == last)
        throw RuntimeException(kInnerProductEmpty);
    const PolynomialVector &head = *bxs;
    if (head.getSize() == 0)
        throw RuntimeException(kEmptyPolynomialList);
    // Built apart from out: the kernel shapes and fills a list of head's
    // length at head's level.
    PolynomialVector sum(context_, head.getSize(), head.isModUp(), true);
    sum.setLevel(head.getLevel());
    context_->getPrimeModuli().innerProductMSRLWEv2(makeMxPolyIter(first), makeMxPolyIter(last),
                                                    makeIxPolyIterBx(bxs), sum, head.getSize() - 1);
    out = std::move(sum);
}

void HomEvaluatorImpl::frobeniusAndInnerProductBx(PlaintextIterator first, PlaintextIterator last,
                                                  PolynomialVector &in, PolynomialVector &out,
                                                  const std::vector<u64> &exponents) const {
    if (first == last)
        throw RuntimeException(kInnerProductEmpty);
    if (in.getSize() == 0)
        throw RuntimeException(kEmptyPolynomialList);
    if (exponents.size() != static_cast<u64>(last - first))
        throw RuntimeException(kExponentCount);
    PolynomialVector sum(context_, in.getSize(), in.isModUp(), true);
    sum.setLevel(in.getLevel());
    context_->getPrimeModuli().frobeniusAndInnerProduct(makeMxPolyIter(first), makeMxPolyIter(last),
                                                        in, sum, in.getSize() - 1, exponents);
    out = std::move(sum);
}

void HomEvaluatorImpl::matmul(const std::vector<RingCiphertext> &cts, const Plaintext &pt,
                              RingCiphertext &out) const {
    if (cts.empty())
        throw RuntimeException(kMatmulEmpty);
    if (cts.size() == 1) {
        constants_.multWithoutRescale(cts[0], pt, out);
        return;
    }
    // The product runs its checks into a temporary, so that out is untouched
    // when the accumulation of the other ciphertexts fails.
    RingCiphertext product(context_, false, true);
    constants_.multWithoutRescale(cts[0], pt, product);
    const PrimeModuli &chain = context_->getPrimeModuli();
    for (u64 i = 1; i < cts.size(); ++i) {
        // The exponent of a rotation by 256 i; 5 has order N/2 modulo 2N, so
        // the amount taken modulo N/2 gives the same exponent.
        const u64 g = rotations_.galoisExponent(rotations_.reduceAmount(256 * i));
        chain.rotMulAdd(product, cts[i], pt, g);
    }
    out = std::move(product);
}

} // namespace Quelt
