// The multi-secret and batch roads of bootstrapping: one MSRLWE ciphertext
// bootstrapped in the multi-secret ring and split into single-secret
// ciphertexts (MStoSS), and batches of RLWE ciphertexts packed into one
// MSRLWE ciphertext first. The modular reduction of every single-secret
// result runs through the caller's Interpolator.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/MultiSecretConverter.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/RingPacker.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "boot/SparseSecretSwitch.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "conversion/ModulusSwitcher.hpp"
#include "conversion/RingSwitcher.hpp"
#include "eval/HomEvaluatorImpl.hpp"
#include "keys/RingSwitchKeyAccess.hpp"

#include <cmath>
#include <complex>
#include <cstdint>
#include <utility>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using RingCiphertext = BootstrapperImpl::RingCiphertext;
using RingCiphertexts = BootstrapperImpl::RingCiphertexts;
using CiphertextMSRLWE = BootstrapperImpl::CiphertextMSRLWE;

const HomEvaluatorImpl &interpolatorEvaluator(const Interpolator &interp) {
    return *detail::HomEvaluatorAccess::impl(interp.getEval());
}

const std::shared_ptr<ContextContent> &interpolatorContext(const Interpolator &interp) {
    return detail::HomEvaluatorAccess::context(interp.getEval());
}

// The number of bodies an MSRLWE ciphertext carries (a short ciphertext
// carries fewer than its context has secrets).
u64 bodyCount(const CiphertextMSRLWE &ct) { return ct.getNumPoly() - 1; }

void requireNonEmpty(const RingCiphertexts &in) {
    if (in.empty())
        throw RuntimeException(BootstrapperImpl::kEmptyBatchMessage);
}

void requireCount(const RingCiphertexts &results, u64 n) {
    if (results.size() != n)
        throw RuntimeException(BootstrapperImpl::kResultCountMessage);
}

// 2^e as a signed word (e below 63, else kMultiplierMessage).
std::int64_t powerOfTwo(u64 e) {
    if (e >= 63)
        throw RuntimeException(BootstrapperImpl::kMultiplierMessage);
    return std::int64_t{1} << e;
}

// One new RLWE ciphertext of `context` per entry of `results`, filled by the
// modulus switch of the entry at `level`.
RingCiphertexts switchModulusInto(const RingCiphertexts &results,
                                  const std::shared_ptr<ContextContent> &context, u64 level) {
    RingCiphertexts outputs;
    outputs.reserve(results.size());
    for (u64 i = 0; i < results.size(); ++i)
        outputs.emplace_back(context, false, true);
    ModulusSwitcher().switchModulus(results, outputs, level);
    return outputs;
}

} // namespace

// ---- Evaluators and state -------------------------------------------------------------

const HomEvaluatorImpl &BootstrapperImpl::requireOutputEvaluator() const {
    const std::shared_ptr<HomEvaluatorImpl> &output = outsourced_.getOutputEvaluator();
    if (!output)
        throw RuntimeException(kNoMultiSecretOutputEvaluatorMessage);
    return *output;
}

const HomEvaluatorImpl &BootstrapperImpl::singleSecretEvaluator(const Interpolator &interp) const {
    if (isReRemoveI(context_))
        return requireOutputEvaluator();
    return interpolatorEvaluator(interp);
}

void BootstrapperImpl::checkFastRemoveIMSRLWEState(bool conj_inv_output) const {
    if (!isReRemoveI(context_))
        return;
    if (!fast_remove_i_.hasMultiSecretState())
        throw RuntimeException(kNoFastRemoveIStateMessage);
    if (!conj_inv_output && !fast_remove_i_.getComplexEvaluator())
        throw RuntimeException(kNoComplexEvaluatorMessage);
}

void BootstrapperImpl::checkAllocated(u64 n, const RingCiphertexts &out_real,
                                      const RingCiphertexts &out_imag) const {
    // An empty list is filled with ciphertexts of the output evaluator's
    // context; then both lists must hold one entry per result. The results
    // are split on the output evaluator, so it is required before any work.
    if (out_real.empty() || out_imag.empty())
        requireOutputEvaluator();
    for (const RingCiphertexts *list : {&out_real, &out_imag})
        if (!list->empty() && list->size() != n)
            throw RuntimeException(kAllocatedCountMessage);
    requireOutputEvaluator();
}

BootstrapperImpl::RingCiphertextPair
BootstrapperImpl::splitOnOutputEvaluator(const RingCiphertexts &results) const {
    const HomEvaluatorImpl &ev = requireOutputEvaluator();
    RingCiphertextPair parts;
    for (const RingCiphertext &r : results) {
        RingCiphertext conj(r);
        ev.conjugate(r, conj);
        RingCiphertext re(r);
        ev.add(r, conj, re);
        RingCiphertext im(r);
        ev.sub(conj, r, im);
        ev.multImagUnit(im, im);
        parts.first.push_back(std::move(re));
        parts.second.push_back(std::move(im));
    }
    return parts;
}

// ---- The back half --------------------------------------------------------------------

void BootstrapperImpl::raiseMSRLWE(CiphertextMSRLWE &t) const {
    const u64 top = getLength(context_) - 1;
    if (isSparseSecretEncapsulationSupported(context_)) {
        if (!key_switcher_sparse_)
            throw RuntimeException(kNoSparseContextMessage);
        const KeyPack &pack = eval_->getKeyPack();
        switchKeyDTS(context_, *key_switcher_sparse_, pack, t, t, false);
        levelRecover(t, t, top);
        switchKeySTD(*eval_->getKeySwitcher(), pack, t, t, true);
        return;
    }
    if (t.getPoly(0).isNTT())
        t.backwardNTT();
    levelRecover(t, t, top);
    t.forwardNTT();
}

BootstrapperImpl::RingCiphertexts BootstrapperImpl::splitAndRemoveI(const CiphertextMSRLWE &t,
                                                                    const MStoSSKeyBundle &bundle,
                                                                    const Interpolator &interp,
                                                                    double scale) const {
    CiphertextMSRLWE conj(t);
    eval_->conjugateMSRLWE(t, conj);
    CiphertextMSRLWE re(t);
    eval_->add(t, conj, re);
    CiphertextMSRLWE im(t);
    eval_->sub(conj, t, im);
    eval_->multImagUnit(im, im);
    eval_->rescale(re);
    eval_->rescale(im);

    const MultiSecretConverter converter;
    const std::shared_ptr<ContextContent> &out_context = interpolatorContext(interp);
    RingCiphertexts a;
    RingCiphertexts b;
    converter.MStoSS(re, bundle, out_context, a);
    converter.MStoSS(im, bundle, out_context, b);
    requireCount(b, a.size());

    const HomEvaluatorImpl &ev = interpolatorEvaluator(interp);
    RingCiphertexts results;
    results.reserve(a.size());
    for (u64 i = 0; i < a.size(); ++i) {
        interp.removeI(a[i], a[i], scale);
        interp.removeI(b[i], b[i], scale);
        ev.multImagUnit(b[i], b[i]);
        ev.add(b[i], a[i], b[i]);
        results.push_back(std::move(b[i]));
    }
    return results;
}

BootstrapperImpl::RingCiphertexts BootstrapperImpl::fastRemoveIMSRLWE(
    CiphertextMSRLWE &t, const MStoSSKeyBundle &bundle, const Interpolator &interp,
    const std::shared_ptr<ContextContent> &out_context, double scale, bool conj_inv_output) const {
    eval_->rescale(t);

    // [2 Re z, 2 Im z] of every secret in the conjugate-invariant ring.
    const CiphertextMSRLWE r = fast_remove_i_.embedMaskedRealParts(t);
    RingCiphertexts reduced;
    MultiSecretConverter().MStoSS(r, bundle, interpolatorContext(interp), reduced);

    RingCiphertexts results;
    results.reserve(reduced.size());
    for (RingCiphertext &c : reduced) {
        interp.removeI(c, c, scale);
        if (conj_inv_output) {
            results.push_back(std::move(c));
            continue;
        }
        RingCiphertext o(out_context, false, true);
        fast_remove_i_.convertConjugateInvariantCiphertextToComplex(
            c, o, *fast_remove_i_.getComplexEvaluator());
        results.push_back(std::move(o));
    }
    return results;
}

BootstrapperImpl::RingCiphertexts BootstrapperImpl::bootstrapMStoSSStepTwo(
    const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle, const Interpolator &interp,
    const std::shared_ptr<ContextContent> &out_context, double scale, bool conj_inv_output) const {
    refuseUnreachedChain(getParameterPreset(context_));
    // The state of the fast removeI road is read only at the end; a
    // bootstrapper without it is refused before the back half starts.
    checkFastRemoveIMSRLWEState(conj_inv_output);
    const i64 before_c2s = multiplier(boot_param_.mult_before_c2s);
    const u64 s = ms.getLogSlots();
    const u64 full = getLogFullSlots(context_);

    CiphertextMSRLWE t(ms);
    t.setEncodingType(EncodingType::SLOT);
    if (ms.getEncodingType() == EncodingType::SLOT && !isCoeffBoot(context_))
        slotToCoeffMSRLWE(t, t);

    if (!(isFuseModRaiseSupported(context_) && s == full)) {
        raiseMSRLWE(t);
        // Sparse slots: the raised coefficients summed over the slot period.
        CiphertextMSRLWE rotated(t);
        for (u64 i = s; i < full; ++i) {
            eval_->leftRotateMSRLWE(t, u64{1} << i, rotated);
            eval_->add(t, rotated, t);
        }
        eval_->multInteger(t, before_c2s, t);
    } else {
        // Fused: the bodies over the fused prime set and the mask over the
        // whole chain; the first CoeffToSlot step finishes the raise.
        raiseFused(t);
        multiplyFusedByWord(t, boot_param_.mult_before_c2s);
    }
    coeffToSlotMSRLWE(t, t);
    t.setLogSlots(s);

    if (!isReRemoveI(context_))
        return splitAndRemoveI(t, bundle, interp, scale);
    return fastRemoveIMSRLWE(t, bundle, interp, out_context, scale, conj_inv_output);
}

// ---- MStoSS ------------------------------------------------------------------------------

BootstrapperImpl::RingCiphertexts BootstrapperImpl::bootstrapMStoSS(const CiphertextMSRLWE &ms,
                                                                    const MStoSSKeyBundle &bundle,
                                                                    const Interpolator &interp,
                                                                    double scale) const {
    if (isCoeffBoot(context_))
        throw RuntimeException(kMStoSSCoeffBootMessage);
    if (!outsourced_.getInner())
        return bootstrapMStoSSStepTwo(bootstrapMStoSSStepOne(ms), bundle, interp,
                                      interpolatorContext(interp), scale, false);
    const BootstrapperImpl &inner = *outsourced_.getInner();

    // Outsourced: SlotToCoeff here, the rest of the bootstrap in the inner
    // context, and the results switched onto the output evaluator's chain.
    const HomEvaluatorImpl &e = singleSecretEvaluator(interp);
    const i64 before_s2c = multiplier(boot_param_.mult_before_s2c);
    CiphertextMSRLWE t(ms.getContext(), false, true);
    CiphertextMSRLWE u(inner.context_, false, true);
    if (ms.getEncodingType() == EncodingType::COEFFICIENT) {
        t = ms;
        e.multInteger(t, before_s2c, t);
    } else {
        e.levelDown(ms, getMinLevelForBootstrap(), t);
        e.multInteger(t, before_s2c, t);
        slotToCoeffMSRLWE(t, t);
    }
    t.setEncodingType(EncodingType::COEFFICIENT);
    ModulusSwitcher().embed(t, u);

    const u64 level_inner = inner.getLevelAfterFullSlotBootstrap();
    const HomEvaluatorImpl &out_eval = requireOutputEvaluator();
    const std::shared_ptr<ContextContent> &out_context = out_eval.getContext();
    const u64 level_out = getEncryptionLevel(out_context);
    const std::shared_ptr<ContextContent> &outer = outsourced_.requireOutsourcedContext();
    const double f = computeModulusSwitchCompensation(outer, out_context, level_inner, level_out);
    const RingCiphertexts results =
        inner.bootstrapMStoSSStepTwo(u, bundle, interp, outer, scale * f, false);
    return switchModulusInto(results, out_context, level_out);
}

BootstrapperImpl::RingCiphertextPair
BootstrapperImpl::bootstrapMStoSS(const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle,
                                  const Interpolator &interp, const RingCiphertexts &out_real,
                                  const RingCiphertexts &out_imag) const {
    const u64 n = bodyCount(ms);
    checkAllocated(n, out_real, out_imag);
    const RingCiphertexts results = bootstrapMStoSS(ms, bundle, interp, 0.5);
    requireCount(results, n);
    return splitOnOutputEvaluator(results);
}

BootstrapperImpl::RingCiphertexts
BootstrapperImpl::bootstrapMStoSSOptimized(const CiphertextMSRLWE &ms,
                                           const MStoSSKeyBundle &bundle,
                                           const Interpolator &interp, double scale) const {
    if (!isDoubleHoistingSupported(context_))
        throw RuntimeException(kNoDoubleHoistingMessage);
    refuseUnreachedChain(getParameterPreset(context_));
    const i64 before_c2s = multiplier(boot_param_.mult_before_c2s);
    CiphertextMSRLWE t = bootstrapMStoSSStepOne(ms);
    slotToCoeffMSRLWE(t, t);

    // The raise over every polynomial's own primes (no sparse secret here),
    // then folding of sparse slots.
    if (t.getPoly(0).isNTT())
        t.backwardNTT();
    levelRecover(t, t, getLength(context_) - 1);
    t.forwardNTT();
    CiphertextMSRLWE rotated(t);
    for (u64 i = ms.getLogSlots(); i < getLogFullSlots(context_); ++i) {
        eval_->leftRotateMSRLWE(t, u64{1} << i, rotated);
        eval_->add(t, rotated, t);
    }

    eval_->multInteger(t, before_c2s, t);
    coeffToSlotMSRLWEDoubleHoist(t, t);
    t.setLogSlots(ms.getLogSlots());
    return splitAndRemoveI(t, bundle, interp, scale);
}

// ---- Batches -------------------------------------------------------------------------------

BootstrapperImpl::RingCiphertexts BootstrapperImpl::batchBootstrap(
    const RingCiphertexts &in, const MultiSecretSwitchKeyBundle &bundle, const Interpolator &interp,
    double scale, bool conj_inv_output) const {
    checkBatchBootstrappable(in);
    const u64 k = getNumSecret(context_);
    if (k != 2 && k != 4 && k != 8 && k != 16)
        throw RuntimeException(kBatchNumberMessage);
    // The packed ciphertext goes through SlotToCoeff or not as a whole, by
    // the first input's encoding: a batch mixing slot and coefficient
    // encodings would give the others a wrong result.
    for (const RingCiphertext &c : in)
        if (c.getEncodingType() != in[0].getEncodingType())
            throw RuntimeException(kBatchEncodingsMessage);

    // Each input levelled down and times mult_before_s2c on E; a
    // coefficient-encoded input goes to level 0 through NTT form.
    const HomEvaluatorImpl &e = singleSecretEvaluator(interp);
    const i64 before_s2c = multiplier(boot_param_.mult_before_s2c);
    RingCiphertexts prepared;
    prepared.reserve(in.size());
    for (const RingCiphertext &c : in) {
        RingCiphertext p(c);
        if (c.getEncodingType() == EncodingType::SLOT) {
            e.levelDown(c, getMinLevelForBootstrap(), p);
            e.multInteger(p, before_s2c, p);
        } else {
            p.setEncodingType(EncodingType::SLOT);
            p.forwardNTT();
            e.levelDown(p, 0, p);
            e.multInteger(p, before_s2c, p);
            p.setEncodingType(EncodingType::COEFFICIENT);
        }
        prepared.push_back(std::move(p));
    }

    std::shared_ptr<ContextContent> out_context = e.getContext();
    if (conj_inv_output) {
        if (!conj_inv_output_context_)
            throw RuntimeException(kNoConjInvOutputMessage);
        out_context = conj_inv_output_context_;
    }
    const MultiSecretConverter converter;

    if (!outsourced_.getInner()) {
        CiphertextMSRLWE ms(context_, false, true);
        converter.SStoMSBisection(prepared, bundle.getSStoMSBisectionKeyBundle(), ms);
        RingCiphertexts results = bootstrapMStoSSStepTwo(ms, bundle.getMStoSSKeyBundle(), interp,
                                                         out_context, scale, conj_inv_output);
        if (!isCoeffBoot(context_))
            return results;
        if (conj_inv_output)
            throw RuntimeException(kCoeffBootConjInvMessage);
        // Coefficient bootstrapping ends in slot form: SlotToCoeff of the
        // packed results brings the messages back to the coefficients.
        CiphertextMSRLWE packed(context_, false, true);
        converter.SStoMSBisection(results, bundle.getSStoMSBisectionKeyBundle(), packed);
        slotToCoeffMSRLWE(packed, packed);
        if (!isReRemoveI(context_))
            converter.MStoSS(packed, bundle.getMStoSSKeyBundle(), interpolatorContext(interp),
                             results);
        else
            converter.MStoSS(packed, bundle.getMStoSSKeyBundleComplex(), bundle.getSSContext(),
                             results);
        // Each result carries its input's message where the input held it:
        // in the slots, or in the coefficients of a coefficient-encoded input.
        requireCount(results, in.size());
        for (u64 i = 0; i < in.size(); ++i)
            results[i].setEncodingType(in[i].getEncodingType());
        return results;
    }

    // Outsourced: the batch is packed over the single-secret context, taken
    // to the coefficients here and bootstrapped in the inner context.
    for (RingCiphertext &p : prepared)
        p.setContext(bundle.getSSContext());
    CiphertextMSRLWE packed(context_, false, true);
    converter.SStoMSBisection(prepared, bundle.getSStoMSBisectionKeyBundle(), packed);
    if (in[0].getEncodingType() == EncodingType::SLOT)
        slotToCoeffMSRLWE(packed, packed);
    packed.setEncodingType(EncodingType::COEFFICIENT);

    const BootstrapperImpl &inner = *outsourced_.getInner();
    u64 level_inner = inner.getLevelAfterFullSlotBootstrap();
    u64 level_out = getEncryptionLevel(e.getContext());
    if (conj_inv_output) {
        ++level_inner;
        ++level_out;
    }
    const std::shared_ptr<ContextContent> &outer = outsourced_.requireOutsourcedContext();
    const double f =
        computeModulusSwitchCompensation(outer, in[0].getContext(), level_inner, level_out);
    packed.setContext(inner.context_);
    const RingCiphertexts results = inner.bootstrapMStoSSStepTwo(
        packed, bundle.getMStoSSKeyBundle(), interp, outer, scale * f, conj_inv_output);
    return switchModulusInto(results, out_context, level_out);
}

BootstrapperImpl::RingCiphertextPair BootstrapperImpl::batchBootstrap(
    const RingCiphertexts &in, const MultiSecretSwitchKeyBundle &bundle, const Interpolator &interp,
    const RingCiphertexts &out_real, const RingCiphertexts &out_imag) const {
    requireNonEmpty(in);
    checkAllocated(in.size(), out_real, out_imag);
    const RingCiphertexts results = batchBootstrap(in, bundle, interp, 0.5, false);
    requireCount(results, in.size());
    return splitOnOutputEvaluator(results);
}

BootstrapperImpl::RingCiphertexts
BootstrapperImpl::batchBootstrapExtendedPasses(const RingCiphertexts &in,
                                               const MultiSecretSwitchKeyBundle &bundle,
                                               const Interpolator &interp, bool half) const {
    requireNonEmpty(in);
    checkExtendedBootstrappable(in[0]);
    const HomEvaluatorImpl &ev = requireOutputEvaluator();
    const auto [e1, e2] = boot_param_.extended_exponents;
    const std::int64_t up1 = powerOfTwo(e1);
    const std::int64_t up2 = powerOfTwo(e2);
    const int down = static_cast<int>(e1) + (half ? 1 : 0);

    // First pass: the messages scaled down by 2^e1 (2^(e1+1) for half),
    // bootstrapped and scaled back.
    RingCiphertexts a;
    a.reserve(in.size());
    for (const RingCiphertext &c : in) {
        RingCiphertext t(c);
        ev.mult(c, std::complex<double>(std::ldexp(1.0, -down), 0.0), t);
        a.push_back(std::move(t));
    }
    RingCiphertexts first = batchBootstrap(a, bundle, interp, 1.0, false);
    requireCount(first, in.size());
    for (RingCiphertext &t : first)
        ev.multInteger(t, up1, t);

    // Second pass: the remaining errors scaled up by 2^e2 over the full slot
    // count, bootstrapped and scaled back by the reduction's scale. In the
    // half form first[i] is in[i] / 2 plus the first pass's error e, so
    // in[i] - 2 first[i] = -2e: halved by the scale (2^-(e2+1)) it cancels e
    // in the sum; at 2^-e2 the sum would keep -e, 2^e1 times a plain
    // bootstrap's error.
    const u64 log_slots = in[0].getLogSlots();
    RingCiphertexts d;
    d.reserve(in.size());
    for (u64 i = 0; i < in.size(); ++i) {
        RingCiphertext t(in[i]);
        ev.sub(in[i], first[i], t);
        if (half)
            ev.sub(t, first[i], t);
        ev.multInteger(t, up2, t);
        t.setLogSlots(getLogFullSlots(context_));
        d.push_back(std::move(t));
    }
    const int back = static_cast<int>(e2) + (half ? 1 : 0);
    RingCiphertexts second = batchBootstrap(d, bundle, interp, std::ldexp(1.0, -back), false);
    requireCount(second, in.size());
    for (u64 i = 0; i < in.size(); ++i) {
        second[i].setLogSlots(log_slots);
        ev.add(first[i], second[i], first[i]);
    }
    return first;
}

BootstrapperImpl::RingCiphertexts
BootstrapperImpl::batchBootstrapExtended(const RingCiphertexts &in,
                                         const MultiSecretSwitchKeyBundle &bundle,
                                         const Interpolator &interp) const {
    return batchBootstrapExtendedPasses(in, bundle, interp, false);
}

BootstrapperImpl::RingCiphertexts
BootstrapperImpl::batchBootstrapExtendedMultHalf(const RingCiphertexts &in,
                                                 const MultiSecretSwitchKeyBundle &bundle,
                                                 const Interpolator &interp) const {
    return batchBootstrapExtendedPasses(in, bundle, interp, true);
}

BootstrapperImpl::RingCiphertextPair BootstrapperImpl::batchBootstrapExtended(
    const RingCiphertexts &in, const MultiSecretSwitchKeyBundle &bundle, const Interpolator &interp,
    const RingCiphertexts &out_real, const RingCiphertexts &out_imag) const {
    requireNonEmpty(in);
    checkAllocated(in.size(), out_real, out_imag);
    const RingCiphertexts results = batchBootstrapExtendedMultHalf(in, bundle, interp);
    requireCount(results, in.size());
    return splitOnOutputEvaluator(results);
}

} // namespace Quelt
