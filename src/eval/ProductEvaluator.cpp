// Products of ring ciphertexts: the tensor product, relinearisation with the
// multiplication key, and the products built on them.

#include "eval/ProductEvaluator.hpp"
#include "Quelt/EvaluationKey.hpp"
#include "Quelt/Exception.hpp"
#include "arith/PrimeModuli.hpp"
#include "context/CiphertextImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "eval/EvaluatorDetail.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "eval/KeySwitcher.hpp"
#include "eval/Precondition.hpp"

#include <algorithm>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Quelt {

using detail::prepareOutput;
using RingCiphertext = ProductEvaluator::RingCiphertext;

namespace {

bool coefficientEncoded(const RingCiphertext &ct) {
    return ct.getEncodingType() == EncodingType::COEFFICIENT;
}

// Both factors of a product in the NTT slots over the evaluator's context
// (one operand, as in square, is named alone).
void requireFactors(const ContextContent &context, const RingCiphertext &a, const RingCiphertext &b,
                    const char *function) {
    utils::requireNTTOperand(context, a, function, &a == &b ? "ciphertext" : "first ciphertext");
    utils::requireNTTOperand(context, b, function, "second ciphertext");
}

// The checks of relinearize on its input (relinearizeRescale's too): slots,
// the evaluator's context in NTT form, at least three polynomials.
void requireRelinearizable(const ContextContent &context, const RingCiphertext &in) {
    utils::throwIfCoeff(in);
    utils::requireNTTOperand(context, in, "relinearize", "ciphertext");
    if (in.getNumPoly() < 3)
        throw RuntimeException(ProductMessages::kRelinearizeShortInput);
}

} // namespace

ProductEvaluator::ProductEvaluator(const HomEvaluatorImpl &eval) : eval_(eval) {}

std::shared_ptr<EvaluationKey> ProductEvaluator::multKeyOrThrow() const {
    std::shared_ptr<EvaluationKey> key = eval_.getKeyPack().getMultKey();
    utils::throwIfNotLoaded(key, kMultKeyMissing);
    return key;
}

// ---- Tensor product ------------------------------------------------------------

void ProductEvaluator::tensor(const RingCiphertext &a, const RingCiphertext &b,
                              RingCiphertext &out) const {
    if (coefficientEncoded(a) || coefficientEncoded(b))
        throw RuntimeException(kOperandsCoeffEncoded);
    requireFactors(*eval_.getContext(), a, b, "tensor");
    if (a.getLevel() != b.getLevel())
        throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
    if (a.getLogSlots() != b.getLogSlots())
        throw RuntimeException(utils::kDifferentLogSlotsMessage);
    // The counter rule of ciphertexts, before anything is written.
    CiphertextImpl<EncryptionType::RLWE>::checkRescaleCounter(
        a.getRescaleCounter() + b.getRescaleCounter() + 1, a.getLevel());
    if (&out != &a && &out != &b) {
        tensorChecked(a, b, out);
        return;
    }
    RingCiphertext product(eval_.getContext(), a.isModUp(), true);
    tensorChecked(a, b, product);
    out = std::move(product);
}

void ProductEvaluator::tensorChecked(const RingCiphertext &a, const RingCiphertext &b,
                                     RingCiphertext &out) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    const u64 n_a = a.getNumPoly();
    const u64 n_b = b.getNumPoly();
    prepareOutput(a, out, n_a + n_b - 1, false);
    if (n_a == 2 && n_b == 2) {
        // (b_a + a_a Y)(b_b + a_b Y), three products per coefficient.
        chain.tensor(a.getPoly(1), a.getPoly(0), b.getPoly(1), b.getPoly(0), out.getPoly(1),
                     out.getPoly(0), out.getPoly(2));
    } else {
        // The first product into an output index writes it; later ones add,
        // so the outputs are never cleared first.
        std::vector<bool> first(n_a + n_b - 1, true);
        for (u64 i = 0; i < n_a; ++i)
            for (u64 j = 0; j < n_b; ++j) {
                const u64 k = i + j;
                if (first[k]) {
                    chain.hadamardMult(a.getPoly(i), b.getPoly(j), out.getPoly(k));
                    first[k] = false;
                } else {
                    chain.hadamardMultAndAdd(a.getPoly(i), b.getPoly(j), out.getPoly(k));
                }
            }
    }
    out.setLogSlots(a.getLogSlots());
    out.setEncodingType(a.getEncodingType());
    out.setRescaleCounter(a.getRescaleCounter() + b.getRescaleCounter() + 1);
}

// ---- Relinearisation -----------------------------------------------------------

void ProductEvaluator::relinearize(const RingCiphertext &in, RingCiphertext &out) const {
    requireRelinearizable(*eval_.getContext(), in);
    const std::shared_ptr<EvaluationKey> key = multKeyOrThrow();
    relinearizeChecked(in, *key, out);
}

void ProductEvaluator::relinearizeChecked(const RingCiphertext &in, EvaluationKey &key,
                                          RingCiphertext &out) const {
    const PrimeModuli &chain = eval_.getContext()->getPrimeModuli();
    const u64 n = in.getNumPoly();
    const Polynomial &last = in.getPoly(n - 1);
    const bool aliased = &out == &in;
    // An output that already has the result's shape receives the switched
    // parts directly; the key switch writes its outputs only after all its
    // checks, so a refusal still leaves it as it was.
    const bool in_place = !aliased && out.getContext() == in.getContext() &&
                          out.getNumPoly() == n - 1 && !out.getPoly(0).isModUp() &&
                          !out.getPoly(n - 3).isModUp() && !out.getPoly(n - 2).isModUp();
    if (in_place) {
        eval_.getKeySwitcher()->keySwitch(last, key, out.getPoly(n - 3), out.getPoly(n - 2));
    } else {
        // The digits come from the input before out is reshaped.
        Polynomial body = Polynomial::shapedLike(last);
        Polynomial mask = Polynomial::shapedLike(last);
        eval_.getKeySwitcher()->keySwitch(last, key, body, mask);
        if (aliased) {
            chain.add(out.getPoly(n - 3), body, out.getPoly(n - 3));
            chain.add(out.getPoly(n - 2), mask, out.getPoly(n - 2));
            out.setNumPoly(n - 1);
            return;
        }
        prepareOutput(in, out, n - 1, false);
        out.getPoly(n - 3) = std::move(body);
        out.getPoly(n - 2) = std::move(mask);
    }
    chain.add(in.getPoly(n - 3), out.getPoly(n - 3), out.getPoly(n - 3));
    chain.add(in.getPoly(n - 2), out.getPoly(n - 2), out.getPoly(n - 2));
    for (u64 i = 0; i + 3 < n; ++i)
        out.getPoly(i) = in.getPoly(i);
    utils::copyMetaData(in, out);
}

// ---- Products ------------------------------------------------------------------

void ProductEvaluator::checkProductOperands(const RingCiphertext &a, const RingCiphertext &b,
                                            const char *function) const {
    if (a.getNumPoly() != 2 || b.getNumPoly() != 2)
        throw RuntimeException(kSizeAboveTwo);
    if (coefficientEncoded(a) || coefficientEncoded(b))
        throw RuntimeException(kOperandsCoeffEncoded);
    requireFactors(*eval_.getContext(), a, b, function);
    if (a.getLevel() != b.getLevel())
        throw RuntimeException(PrimeModuli::kDifferentLevelsMessage);
    if (a.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (a.getRescaleCounter() != 0 || b.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCountersNotZero);
    if (a.getLogSlots() != b.getLogSlots())
        throw RuntimeException(utils::kDifferentLogSlotsMessage);
}

void ProductEvaluator::multiplyChecked(const RingCiphertext &a, const RingCiphertext &b,
                                       RingCiphertext &out, bool rescale) const {
    const std::shared_ptr<EvaluationKey> key = multKeyOrThrow();
    std::unique_ptr<RingCiphertext> product = product_scratch_.take();
    if (!product)
        product = std::make_unique<RingCiphertext>(eval_.getContext(), false, true);
    tensorChecked(a, b, *product);
    // The operands were read into the product, so out may be one of them.
    if (rescale)
        relinearizeRescaleChecked(*product, *key, out, false);
    else
        relinearizeChecked(*product, *key, out);
    product_scratch_.give(std::move(product));
}

void ProductEvaluator::relinearizeRescaleChecked(const RingCiphertext &in, EvaluationKey &key,
                                                 RingCiphertext &out, bool aliased) const {
    const Polynomial &body = in.getPoly(0);
    const Polynomial &mask = in.getPoly(1);
    if (in.getNumPoly() != 3 || !body.isNTT() || !mask.isNTT() || body.isModUp() ||
        mask.isModUp()) {
        relinearizeChecked(in, key, out);
        eval_.levels().rescaleChecked(out);
        return;
    }
    const int counter = in.getRescaleCounter();
    const std::shared_ptr<ContextContent> &context = eval_.getContext();
    // An output of the result's shape receives the polynomials directly (the
    // switch writes only after all its checks, and copies operands that are
    // outputs); any other is reshaped only once they exist, so that a refusal
    // leaves it as it was.
    if (!aliased && out.getContext() == context && !out.isModUp() && out.getNumPoly() == 2) {
        eval_.getKeySwitcher()->keySwitchRescale(in.getPoly(2), key, body, mask, out.getPoly(0),
                                                 out.getPoly(1));
    } else {
        Polynomial new_body(context, false, true), new_mask(context, false, true);
        eval_.getKeySwitcher()->keySwitchRescale(in.getPoly(2), key, body, mask, new_body,
                                                 new_mask);
        prepareOutput(in, out, 2, aliased);
        out.getPoly(0) = std::move(new_body);
        out.getPoly(1) = std::move(new_mask);
    }
    utils::copyMetaData(in, out);
    out.setRescaleCounter(counter - 1);
}

void ProductEvaluator::relinearizeRescale(const RingCiphertext &in, RingCiphertext &out) const {
    requireRelinearizable(*eval_.getContext(), in);
    const std::shared_ptr<EvaluationKey> key = multKeyOrThrow();
    // The checks of rescale, on the result's level and counter (those of in).
    if (in.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (in.getRescaleCounter() <= 0)
        throw RuntimeException(kRescaleCounterNotPositive);
    relinearizeRescaleChecked(in, *key, out, &out == &in);
}

void ProductEvaluator::multWithoutRescale(const RingCiphertext &a, const RingCiphertext &b,
                                          RingCiphertext &out) const {
    checkProductOperands(a, b, "multWithoutRescale");
    multiplyChecked(a, b, out);
}

void ProductEvaluator::mult(const RingCiphertext &a, const RingCiphertext &b,
                            RingCiphertext &out) const {
    if (coefficientEncoded(a) || coefficientEncoded(b))
        throw RuntimeException(kOperandsCoeffEncoded);
    requireFactors(*eval_.getContext(), a, b, "mult");
    if (a.getLevel() == 0 || b.getLevel() == 0)
        throw RuntimeException(kLevelZero);
    if (a.getRescaleCounter() != 0 || b.getRescaleCounter() != 0)
        throw RuntimeException(kRescaleCountersNotZero);
    if (a.getLevel() == b.getLevel()) {
        checkProductOperands(a, b, "mult");
        multiplyChecked(a, b, out, true);
        return;
    }
    // The operand at the higher level comes down to the other's first; the
    // operands keep the caller's order.
    const bool a_higher = a.getLevel() > b.getLevel();
    const RingCiphertext &higher = a_higher ? a : b;
    RingCiphertext lowered(eval_.getContext(), false, true);
    lowered.setLogSlots(a.getLogSlots());
    eval_.levels().levelDown(higher, std::min(a.getLevel(), b.getLevel()), lowered);
    const RingCiphertext &left = a_higher ? lowered : a;
    const RingCiphertext &right = a_higher ? b : lowered;
    checkProductOperands(left, right, "mult");
    multiplyChecked(left, right, out, true);
}

void ProductEvaluator::square(const RingCiphertext &a, RingCiphertext &out) const {
    checkProductOperands(a, a, "square");
    multiplyChecked(a, a, out, true);
}

} // namespace Quelt
