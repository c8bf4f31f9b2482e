// Key switches of multi-secret ciphertexts: rotations (single, hoisted,
// through the key pack's decomposition), conjugation, switching with a given
// key, rotation sums, the lazy and light rotations that hand their switched
// body parts over in an extended-basis polynomial list, the division that
// ends such a chain, the split into mask and bodies, and the plaintext inner
// product. Only the shared mask is key-switched: one switch per operation
// whatever the number of secrets.

#include "eval/MultiSecretEvaluator.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Plaintext.hpp"
#include "arith/PolyIter.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/PrimeModuliInnerProduct.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/KeySwitcher.hpp"
#include "eval/Precondition.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Quelt {

using MsCiphertext = MultiSecretEvaluator::MsCiphertext;
using Offset = std::vector<Plaintext>::difference_type;

namespace {

std::string countMessage(const char *head, std::uint64_t count) {
    return head + std::to_string(count);
}

} // namespace

MultiSecretEvaluator::MultiSecretEvaluator(const HomEvaluatorImpl &eval) : eval_(eval) {}

// ---- Split and combine ------------------------------------------------------------

void MultiSecretEvaluator::splitMSRLWECiphertext(const MsCiphertext &ct, PolynomialVector &ax,
                                                 PolynomialVector &bx) const {
    const u64 k = ct.getNumSecret();
    if (ax.getSize() < 1 || bx.getSize() < k)
        throw RuntimeException(kSplitShort);
    ax.getPoly(0) = ct.getPoly(k);
    for (u64 i = 0; i < k; ++i)
        bx.getPoly(i) = ct.getPoly(i);
}

void MultiSecretEvaluator::combineMSRLWECiphertext(const PolynomialVector &ax,
                                                   const PolynomialVector &bx,
                                                   MsCiphertext &ct) const {
    const u64 k = ct.getNumSecret();
    if (ax.getSize() < 1 || bx.getSize() < k)
        throw RuntimeException(kCombineShort);
    // The mask first: ax may share polynomials with nothing of ct, but a
    // body written first could be read back as the mask if bx were ax.
    const Polynomial mask = ax.getPoly(0);
    for (u64 i = 0; i < k; ++i)
        ct.getPoly(i) = bx.getPoly(i);
    ct.getPoly(k) = mask;
}

// ---- Shared steps -------------------------------------------------------------------

Polynomial MultiSecretEvaluator::automorphismOfMask(const MsCiphertext &ct, u64 k,
                                                    std::int64_t g) const {
    const Polynomial &mask = ct.getPoly(k);
    Polynomial rotated = Polynomial::shapedLike(mask);
    eval_.getContext()->getPrimeModuli().frobeniusMapInNTT<false>(mask, g, rotated);
    return rotated;
}

void MultiSecretEvaluator::finishMSRLWE(const MsCiphertext &res, const MsCiphertext &ct, u64 k,
                                        std::int64_t g, MsCiphertext &out) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    MsCiphertext result(eval_.getContext(), false, true);
    eval_.getKeySwitcher()->getFastBaseConv().modDown(res.getPolyVector(), result.getPolyVector(),
                                                      true);
    for (u64 i = 0; i < k; ++i) {
        if (g == 1)
            chain.add(ct.getPoly(i), result.getPoly(i), result.getPoly(i));
        else
            chain.frobeniusMapInNTT<true>(ct.getPoly(i), g, result.getPoly(i));
    }
    utils::copyMetaData(ct, result);
    out = std::move(result);
}

// ---- Rotations, conjugation and key switching -----------------------------------------

void MultiSecretEvaluator::leftRotateMSRLWE(const MsCiphertext &ct, u64 idx,
                                            MsCiphertext &out) const {
    utils::throwIfCoeff(ct);
    const u64 k = ct.getNumSecret();
    idx = eval_.rotations().reduceAmount(idx);
    if (idx == 0) {
        if (&ct != &out)
            out = ct;
        return;
    }
    std::vector<u64> steps;
    if (const std::shared_ptr<EvaluationKey> key =
            eval_.rotations().leftRotKeyOrRoute(idx, ct.getLevel(), steps)) {
        const auto g = static_cast<std::int64_t>(eval_.rotations().galoisExponent(idx));
        const Polynomial rotated = automorphismOfMask(ct, k, g);
        std::vector<Polynomial> digits;
        eval_.getKeySwitcher()->modUpPQ(rotated, digits);
        const MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(digits, *key, k);
        finishMSRLWE(res, ct, k, g, out);
        return;
    }
    MsCiphertext result = ct;
    for (const u64 step : steps)
        leftRotateMSRLWE(result, step, result);
    out = std::move(result);
}

void MultiSecretEvaluator::rightRotateMSRLWE(const MsCiphertext &ct, u64 idx,
                                             MsCiphertext &out) const {
    leftRotateMSRLWE(
        ct, (u64{1} << getLogFullSlots(eval_.getContext())) - eval_.rotations().reduceAmount(idx),
        out);
}

void MultiSecretEvaluator::leftRotateMSRLWE(const MsCiphertext &ct, const std::vector<u64> &idxs,
                                            std::vector<MsCiphertext> &outs) const {
    utils::throwIfCoeff(ct);
    const u64 k = ct.getNumSecret();
    if (ct.getNumPoly() != k + 1)
        throw RuntimeException(countMessage(kMsHoistedSize, k + 1));
    // Built apart, so that ct may be one of outs and outs stays as it was
    // when a key is missing.
    std::vector<MsCiphertext> results(idxs.size(), MsCiphertext(eval_.getContext(), false, true));
    std::vector<Polynomial> digits;
    eval_.getKeySwitcher()->modUpPQ(ct.getPoly(k), digits);
    std::vector<Polynomial> rotated;
    rotated.reserve(digits.size());
    for (u64 j = 0; j < digits.size(); ++j)
        rotated.push_back(Polynomial::shapedLike(digits[j]));
    for (u64 i = 0; i < idxs.size(); ++i) {
        const u64 idx = eval_.rotations().reduceAmount(idxs[i]);
        if (idx == 0) {
            results[i] = ct;
            continue;
        }
        const std::shared_ptr<EvaluationKey> key =
            eval_.rotations().leftRotKeyOrThrow(idx, ct.getLevel());
        // The digits of the rotated mask are the rotated digits.
        for (u64 j = 0; j < digits.size(); ++j)
            eval_.rotations().rotatePoly(digits[j], idx, rotated[j]);
        const MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(rotated, *key, k);
        finishMSRLWE(res, ct, k, static_cast<std::int64_t>(eval_.rotations().galoisExponent(idx)),
                     results[i]);
    }
    outs = std::move(results);
}

void MultiSecretEvaluator::conjugateMSRLWE(const MsCiphertext &ct, MsCiphertext &out) const {
    utils::throwIfCoeff(ct);
    const u64 k = ct.getNumSecret();
    const Polynomial conjugated = automorphismOfMask(ct, k, -1);
    std::vector<Polynomial> digits;
    eval_.getKeySwitcher()->modUpPQ(conjugated, digits);
    KeyPack pack = eval_.getKeyPack();
    const std::shared_ptr<EvaluationKey> key = pack.getConjKey();
    utils::throwIfNotLoaded(key, RotationMessages::kConjKeyMissing);
    const MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(digits, *key, k);
    finishMSRLWE(res, ct, k, -1, out);
}

void MultiSecretEvaluator::switchKeyMSRLWE(const MsCiphertext &ct, EvaluationKey &key,
                                           MsCiphertext &out) const {
    utils::throwIfCoeff(ct);
    const u64 k = ct.getNumSecret();
    if (ct.getNumPoly() != k + 1)
        throw RuntimeException(countMessage(kSizeShouldBe, k + 1));
    std::vector<Polynomial> digits;
    eval_.getKeySwitcher()->modUpPQ(ct.getPoly(k), digits);
    const MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(digits, key, k);
    finishMSRLWE(res, ct, k, 1, out);
}

void MultiSecretEvaluator::rotSumMSRLWE(const std::vector<MsCiphertext> &cts,
                                        const std::vector<u64> &idxs, MsCiphertext &out) const {
    if (cts.empty())
        throw RuntimeException(kMsRotSumEmpty);
    utils::throwIfCoeff(cts[0]);
    const u64 k = cts[0].getNumSecret();
    for (const MsCiphertext &ct : cts) {
        utils::checkPrecondition(cts[0], ct);
        if (ct.getNumPoly() != k + 1)
            throw RuntimeException(countMessage(kMsRotSumSize, k + 1));
    }
    if (idxs.size() != cts.size())
        throw RuntimeException(kMsRotSumSizes);
    std::vector<u64> amounts(idxs.size());
    std::transform(idxs.begin(), idxs.end(), amounts.begin(),
                   [this](u64 idx) { return eval_.rotations().reduceAmount(idx); });
    // Everything is built apart from out, which may be one of cts.
    if (std::all_of(amounts.begin(), amounts.end(), [](u64 a) { return a == 0; })) {
        MsCiphertext sum = cts[0];
        for (u64 i = 1; i < cts.size(); ++i)
            eval_.addWithoutCheck(sum, cts[i], sum);
        out = std::move(sum);
        return;
    }
    // The switched masks summed over the extended basis, then one division
    // by P.
    std::optional<MsCiphertext> extended;
    std::vector<Polynomial> digits;
    for (u64 i = 0; i < cts.size(); ++i) {
        if (amounts[i] == 0)
            continue;
        const std::shared_ptr<EvaluationKey> key =
            eval_.rotations().leftRotKeyOrThrow(amounts[i], cts[i].getLevel());
        const Polynomial rotated = automorphismOfMask(
            cts[i], k, static_cast<std::int64_t>(eval_.rotations().galoisExponent(amounts[i])));
        eval_.getKeySwitcher()->modUpPQ(rotated, digits);
        MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(digits, *key, k);
        if (extended)
            eval_.addWithoutCheck(*extended, res, *extended);
        else
            extended = std::move(res);
    }
    MsCiphertext sum(eval_.getContext(), false, true);
    eval_.getKeySwitcher()->getFastBaseConv().modDown(extended->getPolyVector(),
                                                      sum.getPolyVector(), true);
    utils::copyMetaData(cts[0], sum);
    for (u64 i = 0; i < cts.size(); ++i) {
        if (amounts[i] == 0) {
            eval_.addWithoutCheck(sum, cts[i], sum);
            continue;
        }
        for (u64 j = 0; j < k; ++j)
            eval_.rotations().rotatePolyAndAdd(cts[i].getPoly(j), amounts[i], sum.getPoly(j));
    }
    out = std::move(sum);
}

// ---- Lazy rotations -----------------------------------------------------------------

void MultiSecretEvaluator::lazyRotateChecked(const MsCiphertext &ct, u64 k, u64 amount,
                                             MsCiphertext &out, PolynomialVector &bx) const {
    const u64 d = utils::dnum(eval_.getContext(), ct.getLevel());
    KeyPack pack = eval_.getKeyPack();
    // The keys go where the ciphertext lives before they are asked for.
    pack.to(ct.getDevice());
    pack.loadLeftRotKey(amount, d);
    if (!pack.isLeftRotKeyLoaded(amount, d))
        throw RuntimeException(kLazyNoRotKey + std::to_string(amount));
    const auto g = static_cast<std::int64_t>(eval_.rotations().galoisExponent(amount));
    const Polynomial rotated = automorphismOfMask(ct, k, g);
    std::vector<Polynomial> digits;
    eval_.getKeySwitcher()->modUpPQ(rotated, digits);
    const std::shared_ptr<EvaluationKey> key = pack.getLeftRotKey(amount, d);
    utils::throwIfNotLoaded(key, RotationMessages::kLeftRotKeyMissing + std::to_string(amount));
    const MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(digits, *key, k);

    // The body parts stay over the extended basis; the mask comes down now,
    // since the next rotation of a chain needs it.
    MsCiphertext result(eval_.getContext(), false, true);
    result.setNumPoly(k + 1);
    eval_.getKeySwitcher()->getFastBaseConv().modDown(res.getPoly(k), result.getPoly(k), true);
    for (u64 i = 0; i < k; ++i)
        eval_.rotations().rotatePoly(ct.getPoly(i), amount, result.getPoly(i));
    utils::copyMetaData(ct, result);
    for (u64 i = 0; i < k; ++i)
        bx.getPoly(i) = res.getPoly(i);
    out = std::move(result);
}

void MultiSecretEvaluator::lazyLeftRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out,
                                                PolynomialVector &bx) const {
    utils::throwIfCoeff(ct);
    const u64 k = ct.getNumSecret();
    if (bx.getSize() < k)
        throw RuntimeException(kLazyBxShort);
    idx = eval_.rotations().reduceAmount(idx);
    if (idx == 0) {
        if (&ct != &out)
            out = ct;
        return;
    }
    lazyRotateChecked(ct, k, idx, out, bx);
}

void MultiSecretEvaluator::lazyLeftRotateMSRLWE(const MsCiphertext &ct,
                                                const PolynomialVector &bx_in, u64 idx,
                                                MsCiphertext &out, PolynomialVector &bx) const {
    utils::throwIfCoeff(ct);
    const u64 k = ct.getNumSecret();
    if (bx_in.getSize() < k)
        throw RuntimeException(kLazyBxShort);
    idx = eval_.rotations().reduceAmount(idx);
    if (idx == 0) {
        // The identity of a chain: the pair as it stands.
        if (&ct != &out)
            out = ct;
        if (&bx_in != &bx)
            bx = bx_in;
        return;
    }
    if (bx.getSize() < k)
        throw RuntimeException(kLazyBxShort);
    // bx_in may be bx, which the rotation overwrites.
    const PolynomialVector earlier = bx_in;
    lazyRotateChecked(ct, k, idx, out, bx);
    for (u64 i = 0; i < k; ++i)
        eval_.rotations().rotatePolyAndAdd(earlier.getPoly(i), idx, bx.getPoly(i));
}

void MultiSecretEvaluator::lazyRightRotateMSRLWE(const MsCiphertext &ct, u64 idx, MsCiphertext &out,
                                                 PolynomialVector &bx) const {
    const u64 amount = eval_.rotations().reduceAmount(idx);
    if (amount == 0)
        throw RuntimeException(kLazyRightZero);
    lazyLeftRotateMSRLWE(ct, (u64{1} << getLogFullSlots(eval_.getContext())) - amount, out, bx);
}

void MultiSecretEvaluator::lazyRightRotateMSRLWE(const MsCiphertext &ct,
                                                 const PolynomialVector &bx_in, u64 idx,
                                                 MsCiphertext &out, PolynomialVector &bx) const {
    lazyLeftRotateMSRLWE(ct, bx_in,
                         (u64{1} << getLogFullSlots(eval_.getContext())) -
                             eval_.rotations().reduceAmount(idx),
                         out, bx);
}

// ---- Light rotations ----------------------------------------------------------------

void MultiSecretEvaluator::lightLeftRotateMSRLWE(const Polynomial &a_in, u64 idx, Polynomial &a_out,
                                                 PolynomialVector &bx) const {
    const u64 k = getNumSecret(eval_.getContext());
    // bx is resized, which would move a mask held in it.
    for (const Polynomial &p : bx.getPolys())
        if (&p == &a_in || &p == &a_out)
            throw RuntimeException(kLightMaskInBx);
    bx.setSize(k);
    idx = eval_.rotations().reduceAmount(idx);
    if (idx == 0) {
        if (&a_in != &a_out)
            a_out = a_in;
        return;
    }
    // The full key, whatever the level of the mask.
    KeyPack pack = eval_.getKeyPack();
    pack.loadLeftRotKey(idx, 0);
    if (!pack.isLeftRotKeyLoaded(idx, 0))
        throw RuntimeException(kLightNoRotKey + std::to_string(idx));
    Polynomial rotated = Polynomial::shapedLike(a_in);
    eval_.rotations().rotatePoly(a_in, idx, rotated);
    std::vector<Polynomial> digits;
    eval_.getKeySwitcher()->modUpPQ(rotated, digits);
    const std::shared_ptr<EvaluationKey> key = pack.getLeftRotKey(idx, 0);
    utils::throwIfNotLoaded(key, RotationMessages::kLeftRotKeyMissing + std::to_string(idx));
    const MsCiphertext res = eval_.getKeySwitcher()->multEvalKeyMSRLWE(digits, *key, 0);
    Polynomial mask = Polynomial::shapedLike(a_in);
    eval_.getKeySwitcher()->getFastBaseConv().modDown(res.getPoly(k), mask, true);
    for (u64 i = 0; i < k; ++i)
        bx.getPoly(i) = res.getPoly(i);
    a_out = std::move(mask);
}

void MultiSecretEvaluator::lightLeftRotateMSRLWE(const Polynomial &a_in,
                                                 const PolynomialVector &bx_in, u64 idx,
                                                 Polynomial &a_out, PolynomialVector &bx) const {
    const u64 k = getNumSecret(eval_.getContext());
    if (bx_in.getSize() < k)
        throw RuntimeException(kLightBxShort);
    for (const Polynomial &p : bx.getPolys())
        if (&p == &a_in || &p == &a_out)
            throw RuntimeException(kLightMaskInBx);
    if (eval_.rotations().reduceAmount(idx) == 0) {
        // The identity of a chain: the pair as it stands.
        if (&a_in != &a_out)
            a_out = a_in;
        if (&bx_in != &bx)
            bx = bx_in;
        bx.setSize(k);
        return;
    }
    // bx_in may be bx, which the rotation overwrites.
    const PolynomialVector earlier = bx_in;
    lightLeftRotateMSRLWE(a_in, idx, a_out, bx);
    for (u64 i = 0; i < k; ++i)
        eval_.rotations().rotatePolyAndAdd(earlier.getPoly(i), eval_.rotations().reduceAmount(idx),
                                           bx.getPoly(i));
}

// ---- End of a chain ------------------------------------------------------------------

void MultiSecretEvaluator::modDownBxAndSum(const PolynomialVector &bx, const MsCiphertext &ct,
                                           MsCiphertext &out) const {
    PolynomialVector parts(eval_.getContext(), bx.getSize(), false, true);
    const u64 k = ct.getNumSecret();
    const int counter = ct.getRescaleCounter();
    if (k != bx.getSize())
        throw RuntimeException(kBxSizeIncompatible);
    // One division by P for the whole chain.
    eval_.getKeySwitcher()->getFastBaseConv().modDown(bx, parts, true);
    MsCiphertext sum = ct;
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    for (u64 i = 0; i < k; ++i)
        chain.add(parts.getPoly(i), sum.getPoly(i), sum.getPoly(i));
    sum.setRescaleCounter(counter);
    out = std::move(sum);
}

// ---- Plaintext inner product -----------------------------------------------------------

void MultiSecretEvaluator::innerProductMSRLWE(PlaintextIterator first, PlaintextIterator last,
                                              MsCiphertextIterator cts, MsCiphertext &out) const {
    if (first == last)
        throw RuntimeException(kMsInnerProductEmpty);
    const Offset count = last - first;
    const u64 k = cts[0].getNumSecret();
    for (Offset i = 0; i < count; ++i) {
        if (cts[i].getNumPoly() != k + 1)
            throw RuntimeException(kMsInnerProductLength + std::to_string(k + 1) +
                                   kMsInnerProductLengthNow + std::to_string(cts[i].getNumPoly()));
        utils::throwIfCoeff(cts[i]);
    }
    const u64 level = cts[0].getLevel();
    MsCiphertext sum(eval_.getContext(), false, true);
    sum.setNumPoly(k + 1);
    sum.setLevel(level);
    const Device device = cts[0].getDevice();
    if (first->getDevice() != device)
        throw RuntimeException(PrimeModuli::kDifferentDevicesMessage);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    if (device != kHostDevice && !eval_.getContext()->getDevices().contains(device))
        throw RuntimeException(PrimeModuli::kUnsupportedDeviceMessage);
    // The kernel walks limbs 0 .. level of every term.
    for (Offset i = 0; i < count; ++i)
        if (cts[i].getLevel() != level)
            throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
    // Products of the NTT slots over the evaluator's context; a plaintext
    // carries the scale of its level, which the counter set below stands for
    // only where it is the scale of the ciphertexts' level.
    for (Offset i = 0; i < count; ++i) {
        utils::requireNTTOperand(*eval_.getContext(), cts[i], "innerProductMSRLWE", "ciphertext");
        utils::requireNTTOperand(*eval_.getContext(), first[i], "innerProductMSRLWE", "plaintext");
        utils::requirePlaintextScale(*eval_.getContext(), first[i], level,
                                     HomEvaluatorMessages::kInnerProductPlaintextBelow,
                                     HomEvaluatorMessages::kInnerProductPlaintextOtherScale);
    }
    if (device != kHostDevice)
        sum.allocate(device);
    chain.innerProductMSRLWEv2(makeMxPolyIter(first), makeMxPolyIter(last), makeIxPolyIterBx(cts),
                               sum.getPolyVector(), k);
    sum.setLogSlots(cts[0].getLogSlots());
    sum.setEncodingType(cts[0].getEncodingType());
    sum.setRescaleCounter(1);
    out = std::move(sum);
}

} // namespace Quelt
