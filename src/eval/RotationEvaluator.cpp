// Slot rotations and complex conjugation: automorphisms X -> X^g of the ring
// applied to ciphertexts (with a key switch of the mask), plaintexts and
// polynomial lists; hoisted rotations, rotation sums, rotate-reduce, the
// general key switch, killImag and the half-degree embedding.

#include "eval/RotationEvaluator.hpp"
#include "Quelt/Context.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Message.hpp"
#include "arith/FFT.hpp"
#include "arith/NTT.hpp"
#include "arith/PrimeModuli.hpp"
#include "arith/Validators.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "context/PolynomialVector.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/KeySwitcher.hpp"
#include "eval/PlainChecks.hpp"
#include "eval/Precondition.hpp"

#include <algorithm>
#include <bit>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace Quelt {

using detail::prepareOutput;
using RingCiphertext = RotationEvaluator::RingCiphertext;
using Complex = std::complex<double>;

RotationEvaluator::RotationEvaluator(const HomEvaluatorImpl &eval) : eval_(eval) {}

// ---- Polynomials ---------------------------------------------------------------

u64 RotationEvaluator::reduceAmount(u64 idx) const {
    // N/2 is a power of two, so this is also the two's-complement reading of
    // a negative amount: -k becomes N/2 - k.
    return idx & ((u64{1} << getLogFullSlots(eval_.getContext())) - 1);
}

u64 RotationEvaluator::galoisExponent(u64 idx) const {
    // The table lookup holds the table map's mutex only while it finds the
    // host entry; the table itself never changes.
    const FFT::PowerTable &powers = eval_.getContext()->getFFT().getPowers().at(kHostDevice);
    return powers[reduceAmount(idx)];
}

void RotationEvaluator::rotatePoly(const Polynomial &in, u64 idx, Polynomial &out) const {
    eval_.getContext()->getPrimeModuli().frobeniusMapInNTT<false>(
        in, static_cast<std::int64_t>(galoisExponent(idx)), out);
}

void RotationEvaluator::rotatePolyAndAdd(const Polynomial &in, u64 idx, Polynomial &out) const {
    eval_.getContext()->getPrimeModuli().frobeniusMapInNTT<true>(
        in, static_cast<std::int64_t>(galoisExponent(idx)), out);
}

// ---- Ring ciphertexts ----------------------------------------------------------

void RotationEvaluator::checkRotatable(const RingCiphertext &ct, const char *function) const {
    utils::throwIfCoeff(ct);
    if (ct.getNumPoly() != 2)
        throw RuntimeException(kSizeNotTwo);
    // The automorphism permutes the NTT slots.
    utils::requireNTTOperand(*eval_.getContext(), ct, function, "ciphertext");
}

void RotationEvaluator::switchAutomorphism(const RingCiphertext &ct, std::int64_t g,
                                           EvaluationKey &key, RingCiphertext &out) const {
    // An output that prepareOutput would replace stays as it was until the
    // key switch has passed its checks: the result is built apart.
    if (&ct != &out && (out.getContext() != ct.getContext() || out.isModUp() != ct.isModUp())) {
        RingCiphertext result(ct.getContext(), ct.isModUp(), true);
        switchAutomorphism(ct, g, key, result);
        out = std::move(result);
        return;
    }
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    Polynomial mask = Polynomial::shapedLike(ct.getPoly(1));
    chain.frobeniusMapInNTT<false>(ct.getPoly(1), g, mask);
    // The body is read after the switch has written out: a copy when out is
    // the input.
    std::optional<Polynomial> body_copy;
    if (&ct == &out)
        body_copy.emplace(ct.getPoly(0));
    const Polynomial &body = body_copy ? *body_copy : ct.getPoly(0);
    const int counter = ct.getRescaleCounter();
    const u64 log_slots = ct.getLogSlots();
    const EncodingType encoding = ct.getEncodingType();
    prepareOutput(ct, out, 2, &ct == &out);
    eval_.getKeySwitcher()->keySwitch(mask, key, out.getPoly(0), out.getPoly(1));
    chain.frobeniusMapInNTT<true>(body, g, out.getPoly(0));
    out.setLogSlots(log_slots);
    out.setEncodingType(encoding);
    out.setRescaleCounter(counter);
}

void RotationEvaluator::leftRotate(const RingCiphertext &ct, u64 idx, RingCiphertext &out) const {
    checkRotatable(ct, "leftRotate");
    rotateChecked(ct, reduceAmount(idx), out);
}

void RotationEvaluator::rightRotate(const RingCiphertext &ct, u64 idx, RingCiphertext &out) const {
    checkRotatable(ct, "rightRotate");
    rotateChecked(
        ct, reduceAmount((u64{1} << getLogFullSlots(eval_.getContext())) - reduceAmount(idx)), out);
}

void RotationEvaluator::rotateChecked(const RingCiphertext &ct, u64 amount,
                                      RingCiphertext &out) const {
    if (amount == 0) {
        if (&ct != &out)
            out = ct;
        return;
    }
    const u64 level = ct.getLevel();
    std::vector<u64> steps;
    if (const std::shared_ptr<EvaluationKey> key = leftRotKeyOrRoute(amount, level, steps)) {
        switchAutomorphism(ct, static_cast<std::int64_t>(galoisExponent(amount)), *key, out);
        return;
    }
    // A route through held keys: every key of it is found before anything
    // is computed, and the steps run on a ciphertext apart from out.
    std::vector<std::shared_ptr<EvaluationKey>> keys;
    std::vector<u64> amounts;
    for (const u64 step : steps) {
        const u64 reduced = reduceAmount(step);
        if (reduced == 0)
            continue;
        keys.push_back(leftRotKeyOrThrow(reduced, level));
        amounts.push_back(reduced);
    }
    RingCiphertext result = ct;
    for (u64 i = 0; i < keys.size(); ++i)
        switchAutomorphism(result, static_cast<std::int64_t>(galoisExponent(amounts[i])), *keys[i],
                           result);
    out = std::move(result);
}

void RotationEvaluator::conjugate(const RingCiphertext &ct, RingCiphertext &out) const {
    checkRotatable(ct, "conjugate");
    KeyPack pack = eval_.getKeyPack();
    const std::shared_ptr<EvaluationKey> key = pack.getConjKey();
    utils::throwIfNotLoaded(key, kConjKeyMissing);
    switchAutomorphism(ct, -1, *key, out);
}

void RotationEvaluator::switchKey(const RingCiphertext &ct, EvaluationKey &key, RingCiphertext &out,
                                  bool ntt_body) const {
    if (ct.getNumPoly() != 2)
        throw RuntimeException(kSizeNotTwo);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    Polynomial body = ct.getPoly(0);
    const int counter = ct.getRescaleCounter();
    const u64 log_slots = ct.getLogSlots();
    const EncodingType encoding = ct.getEncodingType();
    Polynomial switched_body = Polynomial::shapedLike(ct.getPoly(1));
    Polynomial switched_mask = Polynomial::shapedLike(ct.getPoly(1));
    eval_.getKeySwitcher()->keySwitch(ct.getPoly(1), key, switched_body, switched_mask);
    // keySwitch gives NTT form; the coefficient form is asked for with
    // ntt_body false, for both polynomials.
    const u64 bound = body.isModUp() ? body.getSize() : body.getLevel() + 1;
    const OutputModulusBoundValidator range(0, bound);
    if (!ntt_body) {
        chain.backwardNTT<OutputModulusBoundValidator, 1>(
            switched_body, switched_body,
            OutputModulusBoundValidator(0, switched_body.getLevel() + 1));
        chain.backwardNTT<OutputModulusBoundValidator, 1>(
            switched_mask, switched_mask,
            OutputModulusBoundValidator(0, switched_mask.getLevel() + 1));
    }
    if (ntt_body && !body.isNTT())
        chain.forwardNTT<OutputModulusBoundValidator, 1>(body, body, range);
    else if (!ntt_body && body.isNTT())
        chain.backwardNTT<OutputModulusBoundValidator, 1>(body, body, range);
    chain.add(switched_body, body, switched_body);
    prepareOutput(ct, out, 2, &ct == &out);
    out.getPoly(0) = std::move(switched_body);
    out.getPoly(1) = std::move(switched_mask);
    out.setLogSlots(log_slots);
    out.setEncodingType(encoding);
    out.setRescaleCounter(counter);
}

void RotationEvaluator::killImag(const RingCiphertext &ct, RingCiphertext &out) const {
    checkRotatable(ct, "killImag");
    RingCiphertext conj(eval_.getContext(), false, true);
    conjugate(ct, conj);
    eval_.addWithoutCheck(ct, conj, conj);
    eval_.constants().multWithoutRescale(conj, Complex(0.5, 0.0), out);
    eval_.levels().rescale(out);
}

// ---- Half-degree embedding ------------------------------------------------------

std::vector<bool> RotationEvaluator::halfDegreeThroughCoefficients(const PrimeModuli &chain,
                                                                   const PrimeModuli &half_chain,
                                                                   u64 level) {
    // X^2 -> Y maps the evaluation at psi^(2r+1) of the big ring onto that at
    // psi_half^(2r+1) exactly when psi_half = psi^2 (sharesEvaluationPoints).
    // Limbs past either chain are left to the embedding's own checks.
    std::vector<bool> through(level + 1, false);
    const u64 count = std::min({level + 1, static_cast<u64>(chain.getModuli().size()),
                                static_cast<u64>(half_chain.getModuli().size())});
    for (u64 i = 0; i < count; ++i) {
        const NTT &big = *chain.getModulus(i).getNTT();
        const NTT &small = *half_chain.getModulus(i).getNTT();
        if (big.getType() == NttType::CONJUGATE_INVARIANT ||
            small.getType() == NttType::CONJUGATE_INVARIANT)
            throw RuntimeException(kHalfDegCyclic);
        through[i] = !sharesEvaluationPoints(small, big);
    }
    return through;
}

void RotationEvaluator::convertToHalfDeg(const RingCiphertext &ct, RingCiphertext &out) const {
    if (ct.getContext() != eval_.getContext())
        throw RuntimeException(kHalfDegContext);
    const std::shared_ptr<ContextContent> &half = out.getContext();
    const u64 n = getDegree(eval_.getContext());
    if (!half || getDegree(half) * 2 != n)
        throw RuntimeException(kHalfDegDegree);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    const PrimeModuli &half_chain = half->getPrimeModuli();
    const u64 level = ct.getLevel();
    const std::vector<bool> through_coefficients =
        halfDegreeThroughCoefficients(chain, half_chain, level);

    // t = ct + ct(X^(N+1)): the odd coefficients cancel, the even ones
    // double. The automorphism is read in NTT form.
    std::optional<RingCiphertext> ntt_copy;
    if (ct.getNumPoly() != 0 && !ct.getPoly(0).isNTT()) {
        ntt_copy.emplace(ct);
        ntt_copy->forwardNTT();
    }
    const RingCiphertext &src = ntt_copy ? *ntt_copy : ct;
    RingCiphertext t(eval_.getContext(), false, true);
    t.setNumPoly(src.getNumPoly());
    t.setLevel(level);
    for (u64 p = 0; p < src.getNumPoly(); ++p)
        chain.frobeniusMapInNTT<false>(src.getPoly(p), static_cast<std::int64_t>(n + 1),
                                       t.getPoly(p));
    utils::copyMetaData(src, t);
    eval_.add(t, src, t);

    RingCiphertext result(out);
    chain.embedCiphertext(t, result);
    std::vector<u64> limb(n);
    for (u64 p = 0; p < t.getNumPoly(); ++p)
        for (u64 i = 0; i <= level; ++i) {
            if (!through_coefficients[i])
                continue;
            // Coefficient form at degree N, its even words, back to NTT form
            // at degree N/2.
            const u64 *in = t.getPoly(p).getLimb(i);
            std::copy(in, in + n, limb.begin());
            chain.getModulus(i).getNTT()->computeBackward<1>(limb.data());
            u64 *to = result.getPoly(p).getLimb(i);
            for (u64 j = 0; j < n / 2; ++j)
                to[j] = limb[2 * j];
            half_chain.getModulus(i).getNTT()->computeForward<1>(to);
        }
    out = std::move(result);
}

// ---- Plain data ----------------------------------------------------------------

void RotationEvaluator::leftRotate(const Plaintext &p, u64 idx, Plaintext &out) const {
    utils::requireNTTOperand(*eval_.getContext(), p, "leftRotate", "plaintext");
    rotateChecked(p, reduceAmount(idx), out);
}

void RotationEvaluator::rightRotate(const Plaintext &p, u64 idx, Plaintext &out) const {
    utils::requireNTTOperand(*eval_.getContext(), p, "rightRotate", "plaintext");
    rotateChecked(
        p, reduceAmount((u64{1} << getLogFullSlots(eval_.getContext())) - reduceAmount(idx)), out);
}

void RotationEvaluator::rotateChecked(const Plaintext &p, u64 idx, Plaintext &out) const {
    if (idx == 0) {
        if (&p != &out)
            out = p;
        return;
    }
    // Built in a copy, so that out may be p and stays as it was on a refusal.
    Plaintext result(p);
    rotatePoly(p.getMx(), idx, result.getMx());
    out = std::move(result);
}

void RotationEvaluator::leftRotate(const PolynomialVector &in, u64 idx,
                                   PolynomialVector &out) const {
    idx = reduceAmount(idx);
    if (idx == 0) {
        if (&in != &out)
            out = in;
        return;
    }
    PolynomialVector result = in;
    for (u64 i = 0; i < in.getSize(); ++i)
        rotatePoly(in.getPoly(i), idx, result.getPoly(i));
    out = std::move(result);
}

// ---- Hoisted rotations -----------------------------------------------------------

std::shared_ptr<EvaluationKey> RotationEvaluator::leftRotKeyOrRoute(u64 amount, u64 level,
                                                                    std::vector<u64> &steps) const {
    const u64 d = utils::dnum(eval_.getContext(), level);
    KeyPack pack = eval_.getKeyPack();
    pack.loadLeftRotKey(amount, d);
    if (pack.isLeftRotKeyLoaded(amount, d)) {
        std::shared_ptr<EvaluationKey> key = pack.getLeftRotKey(amount, d);
        utils::throwIfNotLoaded(key, kLeftRotKeyMissing + std::to_string(amount));
        return key;
    }
    // No key for the amount: a sum of held keys, decided before any output
    // changes.
    steps = pack.getRotKeyDecomposition(amount);
    if (steps.size() < 2)
        throw RuntimeException(kRotKeyRemovedHead + std::to_string(amount) + kRotKeyRemovedTail);
    return nullptr;
}

std::shared_ptr<EvaluationKey> RotationEvaluator::leftRotKeyOrThrow(u64 amount, u64 level) const {
    KeyPack pack = eval_.getKeyPack();
    const u64 d = utils::dnum(eval_.getContext(), level);
    pack.loadLeftRotKey(amount, d);
    std::shared_ptr<EvaluationKey> key = pack.getLeftRotKey(amount, d);
    utils::throwIfNotLoaded(key, kLeftRotKeyMissing + std::to_string(amount));
    return key;
}

void RotationEvaluator::leftRotate(const RingCiphertext &ct, const std::vector<u64> &idxs,
                                   std::vector<RingCiphertext> &outs) const {
    checkRotatable(ct, "leftRotate");
    std::vector<u64> amounts(idxs.size());
    std::transform(idxs.begin(), idxs.end(), amounts.begin(),
                   [this](u64 idx) { return reduceAmount(idx); });
    std::vector<std::shared_ptr<EvaluationKey>> keys(idxs.size());
    for (u64 i = 0; i < idxs.size(); ++i)
        if (amounts[i] != 0)
            keys[i] = leftRotKeyOrThrow(amounts[i], ct.getLevel());
    std::unique_ptr<std::vector<Polynomial>> kept = digit_scratch_.take();
    if (!kept)
        kept = std::make_unique<std::vector<Polynomial>>();
    std::vector<Polynomial> &digits = *kept;
    if (std::any_of(amounts.begin(), amounts.end(), [](u64 a) { return a != 0; }))
        eval_.getKeySwitcher()->modUpPQ(ct.getPoly(1), digits);
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    auto rotateInto = [&](u64 i, RingCiphertext &r) {
        if (amounts[i] == 0) {
            r = ct;
            return;
        }
        // The digits read through the automorphism's permutation are the
        // digits of the rotated mask.
        const u64 g = galoisExponent(amounts[i]);
        const auto table = chain.frobeniusTable(static_cast<std::int64_t>(g));
        prepareOutput(ct, r, 2, false);
        eval_.getKeySwitcher()->keySwitchDigits(digits, table->data(), *keys[i], r.getPoly(0),
                                                r.getPoly(1));
        chain.frobeniusMapInNTT<true>(ct.getPoly(0), static_cast<std::int64_t>(g), r.getPoly(0));
        utils::copyMetaData(ct, r);
    };
    // The outputs keep their storage, unless ct is one of them: then the
    // results are built apart and moved in at the end.
    const bool ct_in_outs =
        std::any_of(outs.begin(), outs.end(), [&](const RingCiphertext &o) { return &o == &ct; });
    if (!ct_in_outs) {
        outs.resize(idxs.size(), RingCiphertext(eval_.getContext(), false, true));
        for (u64 i = 0; i < idxs.size(); ++i)
            rotateInto(i, outs[i]);
    } else {
        std::vector<RingCiphertext> results(idxs.size(),
                                            RingCiphertext(eval_.getContext(), false, true));
        for (u64 i = 0; i < idxs.size(); ++i)
            rotateInto(i, results[i]);
        outs = std::move(results);
    }
    digit_scratch_.give(std::move(kept));
}

// ---- Sums of rotations ---------------------------------------------------------

void RotationEvaluator::checkRotSum(const std::vector<RingCiphertext> &cts,
                                    const std::vector<u64> &idxs, std::vector<u64> &amounts,
                                    std::vector<std::shared_ptr<EvaluationKey>> &keys) const {
    if (cts.empty())
        throw RuntimeException(kRotSumEmpty);
    utils::throwIfCoeff(cts[0]);
    for (const RingCiphertext &ct : cts) {
        utils::checkPrecondition(cts[0], ct);
        if (ct.getNumPoly() != 2)
            throw RuntimeException(kSizeNotTwo);
        utils::requireNTTOperand(*eval_.getContext(), ct, "rotSum", "ciphertext");
    }
    if (idxs.size() != cts.size())
        throw RuntimeException(kRotSumSizes);
    amounts.resize(idxs.size());
    std::transform(idxs.begin(), idxs.end(), amounts.begin(),
                   [this](u64 idx) { return reduceAmount(idx); });
    const u64 level = lowestLevel(cts);
    // Every key is found before anything is computed.
    keys.assign(cts.size(), nullptr);
    for (u64 i = 0; i < cts.size(); ++i)
        if (amounts[i] != 0)
            keys[i] = leftRotKeyOrThrow(amounts[i], level);
}

u64 RotationEvaluator::lowestLevel(const std::vector<RingCiphertext> &cts) {
    u64 level = cts[0].getLevel();
    for (const RingCiphertext &ct : cts)
        level = std::min(level, ct.getLevel());
    return level;
}

std::vector<RingCiphertext>
RotationEvaluator::alignRotSumLevels(const std::vector<RingCiphertext> &cts) const {
    // The levels are aligned as add aligns them: a term above the lowest
    // level is brought down to it by levelDown (its checks and scale), into
    // a copy. Terms already at one level are summed as they are (empty result).
    const u64 level = lowestLevel(cts);
    if (std::all_of(cts.begin(), cts.end(),
                    [level](const RingCiphertext &ct) { return ct.getLevel() == level; }))
        return {};
    std::vector<RingCiphertext> aligned;
    aligned.reserve(cts.size());
    for (const RingCiphertext &ct : cts) {
        if (ct.getLevel() == level) {
            aligned.push_back(ct);
            continue;
        }
        aligned.emplace_back(eval_.getContext(), false, true);
        eval_.levels().levelDown(ct, level, aligned.back());
    }
    return aligned;
}

void RotationEvaluator::rotSum(const std::vector<RingCiphertext> &cts, const std::vector<u64> &idxs,
                               RingCiphertext &out) const {
    std::vector<u64> amounts;
    std::vector<std::shared_ptr<EvaluationKey>> keys;
    checkRotSum(cts, idxs, amounts, keys);
    const std::vector<RingCiphertext> aligned = alignRotSumLevels(cts);
    rotSumChecked(aligned.empty() ? cts : aligned, amounts, keys, false, out);
}

void RotationEvaluator::rotSumRescale(const std::vector<RingCiphertext> &cts,
                                      const std::vector<u64> &idxs, RingCiphertext &out) const {
    std::vector<u64> amounts;
    std::vector<std::shared_ptr<EvaluationKey>> keys;
    checkRotSum(cts, idxs, amounts, keys);
    const std::vector<RingCiphertext> aligned = alignRotSumLevels(cts);
    const std::vector<RingCiphertext> &terms = aligned.empty() ? cts : aligned;
    // The checks of rescale, on the sum's level and counter (those of the
    // first term).
    if (terms[0].getLevel() == 0)
        throw RuntimeException(HomEvaluatorMessages::kLevelZero);
    if (terms[0].getRescaleCounter() <= 0)
        throw RuntimeException(HomEvaluatorMessages::kRescaleCounterNotPositive);
    rotSumChecked(terms, amounts, keys, true, out);
}

void RotationEvaluator::rotSumChecked(const std::vector<RingCiphertext> &cts,
                                      const std::vector<u64> &amounts,
                                      const std::vector<std::shared_ptr<EvaluationKey>> &keys,
                                      bool rescale, RingCiphertext &out) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    std::vector<u64> rotated;
    for (u64 i = 0; i < cts.size(); ++i)
        if (amounts[i] != 0)
            rotated.push_back(i);
    if (rotated.empty()) {
        RingCiphertext sum = cts[0];
        for (u64 i = 1; i < cts.size(); ++i)
            eval_.addWithoutCheck(sum, cts[i], sum);
        if (rescale)
            eval_.levels().rescaleChecked(sum);
        out = std::move(sum);
        return;
    }
    // What joins the switched masks: the rotated bodies, and the ciphertexts
    // rotated by 0 as they are.
    Polynomial add_body = Polynomial::shapedLike(cts[0].getPoly(0));
    Polynomial add_mask = Polynomial::shapedLike(cts[0].getPoly(1));
    bool body_written = false;
    bool mask_written = false;
    for (u64 i = 0; i < cts.size(); ++i) {
        if (amounts[i] != 0) {
            if (body_written)
                rotatePolyAndAdd(cts[i].getPoly(0), amounts[i], add_body);
            else
                rotatePoly(cts[i].getPoly(0), amounts[i], add_body);
            body_written = true;
            continue;
        }
        for (auto [from, to, written] :
             {std::tuple{&cts[i].getPoly(0), &add_body, &body_written},
              std::tuple{&cts[i].getPoly(1), &add_mask, &mask_written}}) {
            if (*written)
                chain.add(*to, *from, *to);
            else
                *to = *from;
            *written = true;
        }
    }
    if (!mask_written)
        std::fill(add_mask.getLimb(0),
                  add_mask.getLimb(0) + (add_mask.getLevel() + 1) * add_mask.getDegree(), u64{0});
    // The switched masks are summed over the extended basis limb by limb and
    // divided by P once, the addends and the rescale joined to that pass.
    std::vector<EvaluationKey *> switch_keys;
    for (const u64 i : rotated)
        switch_keys.push_back(keys[i].get());
    Polynomial rotated_mask = Polynomial::shapedLike(cts[0].getPoly(1));
    Polynomial body(eval_.getContext(), false, true), mask(eval_.getContext(), false, true);
    eval_.getKeySwitcher()->keySwitchSum(
        cts[0].getLevel(), rotated.size(),
        [&](u64 c) -> const Polynomial & {
            rotatePoly(cts[rotated[c]].getPoly(1), amounts[rotated[c]], rotated_mask);
            return rotated_mask;
        },
        switch_keys, &add_body, &add_mask, rescale, body, mask);
    const int counter = cts[0].getRescaleCounter();
    const u64 log_slots = cts[0].getLogSlots();
    const EncodingType encoding = cts[0].getEncodingType();
    const bool aliased =
        std::any_of(cts.begin(), cts.end(), [&](const RingCiphertext &ct) { return &ct == &out; });
    prepareOutput(cts[0], out, 2, aliased);
    out.getPoly(0) = std::move(body);
    out.getPoly(1) = std::move(mask);
    out.setLogSlots(log_slots);
    out.setEncodingType(encoding);
    out.setRescaleCounter(rescale ? counter - 1 : counter);
}

// ---- Rotate-reduce -------------------------------------------------------------

void RotationEvaluator::getRotIdxDecomposition(const u64 &n, std::vector<u64> &terms, u64 &count) {
    if (n >= (u64{1} << 63))
        throw RuntimeException(kSplitTooLarge);
    count = 0;
    u64 rest = n;
    while (rest != 0) {
        if (!std::has_single_bit(rest)) {
            // The next power of two above rest; the remainder changes sign.
            const u64 above = std::bit_ceil(rest);
            terms.push_back(above);
            ++count;
            rest = above - rest;
        } else if (count % 2 == 0) {
            terms.push_back(rest);
            ++count;
            return;
        } else {
            // The next term would be negative: 2r - r keeps the signs
            // alternating and the last one positive.
            terms.push_back(2 * rest);
            terms.push_back(rest);
            count += 2;
            return;
        }
    }
}

void RotationEvaluator::rotateReduce(const RingCiphertext &ct, u64 gap, u64 n, RingCiphertext &out,
                                     bool left) const {
    utils::throwIfCoeff(ct);
    const char *function = left ? "leftRotateReduce" : "rightRotateReduce";
    utils::requireContext(*eval_.getContext(), ct, function, "ciphertext");
    if (n > 1)
        utils::requireForm(utils::formOf(ct), utils::Form::NTT, function, "ciphertext");
    // Amounts wrap modulo 2^64, which N/2 divides, and every rotation
    // reduces them modulo N/2: the products below are exact where it counts.
    auto rotate = [&](const RingCiphertext &in, u64 amount, RingCiphertext &to, bool to_left) {
        if (to_left)
            leftRotate(in, amount, to);
        else
            rightRotate(in, amount, to);
    };
    if (n == 0 || n == 1) {
        if (&ct != &out)
            out = ct;
        return;
    }
    if (std::has_single_bit(n)) {
        RingCiphertext sum = ct;
        RingCiphertext t(eval_.getContext(), false, true);
        for (u64 c = 1; c < n; c *= 2) {
            rotate(sum, c * gap, t, left);
            eval_.add(t, sum, sum);
        }
        out = std::move(sum);
        return;
    }
    if (n % 3 == 0 && std::has_single_bit(n / 3)) {
        const u64 m = n / 3;
        RingCiphertext t(eval_.getContext(), false, true);
        rotateReduce(ct, gap, m, t, left);
        RingCiphertext sum = t;
        for (int k = 0; k < 2; ++k) {
            rotate(t, m * gap, t, left);
            eval_.add(sum, t, sum);
        }
        out = std::move(sum);
        return;
    }
    std::vector<u64> terms;
    u64 count = 0;
    getRotIdxDecomposition(n, terms, count);
    const u64 last = terms.back();
    RingCiphertext sum(eval_.getContext(), false, true);
    rotate(ct, (n - last) * gap, sum, left);
    rotateReduce(sum, gap, last, sum, left);
    RingCiphertext tmp = sum;
    // Pairs of terms from the end: each lowers the first index the sum
    // holds, until it holds the terms 0 .. n - 1.
    for (u64 k = count - 1; k >= 2; k -= 2) {
        const u64 a = terms[k], b = terms[k - 1], c = terms[k - 2];
        rotateReduce(tmp, a * gap, b / a, tmp, left);
        eval_.sub(sum, tmp, sum);
        rotateReduce(tmp, b * gap, c / b, tmp, !left);
        eval_.add(sum, tmp, sum);
    }
    out = std::move(sum);
}

void RotationEvaluator::leftRotateReduce(const RingCiphertext &ct, u64 gap, u64 n,
                                         RingCiphertext &out) const {
    rotateReduce(ct, gap, n, out, true);
}

void RotationEvaluator::rightRotateReduce(const RingCiphertext &ct, u64 gap, u64 n,
                                          RingCiphertext &out) const {
    rotateReduce(ct, gap, n, out, false);
}

} // namespace Quelt
