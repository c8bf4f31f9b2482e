// The multi-secret and batch roads of bootstrapping: one MSRLWE ciphertext
// bootstrapped in the multi-secret ring and split into single-secret
// ciphertexts (MStoSS), and batches of RLWE ciphertexts packed into one
// MSRLWE ciphertext first. The modular reduction of every single-secret
// result runs through the caller's Interpolator.

#include "boot/MultiSecretRoad.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Interpolator.hpp"
#include "Quelt/KeyBundle.hpp"
#include "Quelt/MultiSecretConverter.hpp"
#include "Quelt/MultiSecretSwitchKeyBundle.hpp"
#include "Quelt/RingPacker.hpp"
#include "arith/PrimeModuli.hpp"
#include "boot/BootstrapperImpl.hpp"
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
using i64 = std::int64_t;
using RingCiphertext = MultiSecretRoad::RingCiphertext;
using RingCiphertexts = MultiSecretRoad::RingCiphertexts;
using CiphertextMSRLWE = MultiSecretRoad::CiphertextMSRLWE;

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
        throw RuntimeException(BootstrapperMessages::kEmptyBatchMessage);
}

void requireCount(const RingCiphertexts &results, u64 n) {
    if (results.size() != n)
        throw RuntimeException(BootstrapperMessages::kResultCountMessage);
}

// 2^e as a signed word (e below 63, else BootstrapperMessages::kMultiplierMessage).
std::int64_t powerOfTwo(u64 e) {
    if (e >= 63)
        throw RuntimeException(BootstrapperMessages::kMultiplierMessage);
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

MultiSecretRoad::MultiSecretRoad(const BootstrapperImpl &boot) : boot_(boot) {}

// ---- Entry steps ----------------------------------------------------------------------

void MultiSecretRoad::checkBatchBootstrappable(const RingCiphertexts &cts) const {
    if (cts.empty())
        throw RuntimeException(BootstrapperMessages::kEmptyBatchMessage);
    const std::shared_ptr<ContextContent> &context = boot_.getContext();
    const Parameter &parameter = context->getParameter();
    for (const RingCiphertext &ct : cts) {
        if (ct.getEncodingType() == EncodingType::SLOT && ct.getLevel() < 3 &&
            !isCoeffBoot(context))
            throw RuntimeException(BootstrapperMessages::kBatchLevelMessage);
        if (!parameter.batch_bootstrap)
            throw RuntimeException(BootstrapperMessages::kNoBatchBootstrapMessage);
        if (parameter.small_parameter && !isOutsourcedBootstrapSupported(context))
            throw RuntimeException(BootstrapperMessages::kSmallNotOutsourcedMessage);
        if (ct.getRescaleCounter() != 0)
            throw RuntimeException(HomEvaluatorImpl::kRescaleCounterNotZero);
    }
}

CiphertextMSRLWE MultiSecretRoad::bootstrapMStoSSStepOne(const CiphertextMSRLWE &ct) const {
    const HomEvaluatorImpl &eval = *boot_.getEvaluator();
    CiphertextMSRLWE out(ct);
    eval.levels().levelDown(ct, isCoeffBoot(boot_.getContext()) ? 0 : 3, out);
    eval.constants().multInteger(
        out, BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_s2c), out);
    return out;
}

// ---- Evaluators and state -------------------------------------------------------------

const HomEvaluatorImpl &MultiSecretRoad::singleSecretEvaluator(const Interpolator &interp) const {
    if (isReRemoveI(boot_.getContext()))
        return boot_.getOutsourced().requireOutputEvaluator();
    return interpolatorEvaluator(interp);
}

void MultiSecretRoad::checkFastRemoveIMSRLWEState(bool conj_inv_output) const {
    if (!isReRemoveI(boot_.getContext()))
        return;
    if (!boot_.getFastRemoveI().hasMultiSecretState())
        throw RuntimeException(BootstrapperMessages::kNoFastRemoveIStateMessage);
    if (!conj_inv_output && !boot_.getFastRemoveI().getComplexEvaluator())
        throw RuntimeException(BootstrapperMessages::kNoComplexEvaluatorMessage);
}

void MultiSecretRoad::checkAllocated(u64 n, const RingCiphertexts &out_real,
                                     const RingCiphertexts &out_imag) const {
    // An empty list is filled with ciphertexts of the output evaluator's
    // context; then both lists must hold one entry per result. The results
    // are split on the output evaluator, so it is required before any work.
    if (out_real.empty() || out_imag.empty())
        boot_.getOutsourced().requireOutputEvaluator();
    for (const RingCiphertexts *list : {&out_real, &out_imag})
        if (!list->empty() && list->size() != n)
            throw RuntimeException(BootstrapperMessages::kAllocatedCountMessage);
    boot_.getOutsourced().requireOutputEvaluator();
}

MultiSecretRoad::RingCiphertextPair
MultiSecretRoad::splitOnOutputEvaluator(const RingCiphertexts &results) const {
    const HomEvaluatorImpl &ev = boot_.getOutsourced().requireOutputEvaluator();
    RingCiphertextPair parts;
    for (const RingCiphertext &r : results) {
        RingCiphertext conj(r);
        ev.rotations().conjugate(r, conj);
        RingCiphertext re(r);
        ev.add(r, conj, re);
        RingCiphertext im(r);
        ev.sub(conj, r, im);
        ev.constants().multImagUnit(im, im);
        parts.first.push_back(std::move(re));
        parts.second.push_back(std::move(im));
    }
    return parts;
}

// ---- The back half --------------------------------------------------------------------

MultiSecretRoad::RingCiphertexts MultiSecretRoad::splitAndRemoveI(const CiphertextMSRLWE &t,
                                                                  const MStoSSKeyBundle &bundle,
                                                                  const Interpolator &interp,
                                                                  double scale) const {
    CiphertextMSRLWE conj(t);
    boot_.getEvaluator()->multiSecret().conjugateMSRLWE(t, conj);
    CiphertextMSRLWE re(t);
    boot_.getEvaluator()->add(t, conj, re);
    CiphertextMSRLWE im(t);
    boot_.getEvaluator()->sub(conj, t, im);
    boot_.getEvaluator()->constants().multImagUnit(im, im);
    boot_.getEvaluator()->levels().rescale(re);
    boot_.getEvaluator()->levels().rescale(im);

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
        ev.constants().multImagUnit(b[i], b[i]);
        ev.add(b[i], a[i], b[i]);
        results.push_back(std::move(b[i]));
    }
    return results;
}

MultiSecretRoad::RingCiphertexts MultiSecretRoad::fastRemoveIMSRLWE(
    CiphertextMSRLWE &t, const MStoSSKeyBundle &bundle, const Interpolator &interp,
    const std::shared_ptr<ContextContent> &out_context, double scale, bool conj_inv_output) const {
    boot_.getEvaluator()->levels().rescale(t);

    // [2 Re z, 2 Im z] of every secret in the conjugate-invariant ring.
    const CiphertextMSRLWE r = boot_.getFastRemoveI().embedMaskedRealParts(t);
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
        boot_.getFastRemoveI().convertConjugateInvariantCiphertextToComplex(
            c, o, *boot_.getFastRemoveI().getComplexEvaluator());
        results.push_back(std::move(o));
    }
    return results;
}

MultiSecretRoad::RingCiphertexts MultiSecretRoad::bootstrapMStoSSStepTwo(
    const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle, const Interpolator &interp,
    const std::shared_ptr<ContextContent> &out_context, double scale, bool conj_inv_output) const {
    refuseUnreachedChain(getParameterPreset(boot_.getContext()));
    // The state of the fast removeI road is read only at the end; a
    // bootstrapper without it is refused before the back half starts.
    checkFastRemoveIMSRLWEState(conj_inv_output);
    const i64 before_c2s = BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_c2s);
    const u64 s = ms.getLogSlots();
    const u64 full = getLogFullSlots(boot_.getContext());

    CiphertextMSRLWE t(ms);
    t.setEncodingType(EncodingType::SLOT);
    if (ms.getEncodingType() == EncodingType::SLOT && !isCoeffBoot(boot_.getContext()))
        slotToCoeffMSRLWE(t, t);

    if (!(isFuseModRaiseSupported(boot_.getContext()) && s == full)) {
        boot_.getTransforms().raiseToTop(t);
        // Sparse slots: the raised coefficients summed over the slot period.
        CiphertextMSRLWE rotated(t);
        for (u64 i = s; i < full; ++i) {
            boot_.getEvaluator()->multiSecret().leftRotateMSRLWE(t, u64{1} << i, rotated);
            boot_.getEvaluator()->add(t, rotated, t);
        }
        boot_.getEvaluator()->constants().multInteger(t, before_c2s, t);
    } else {
        // Fused: the bodies over the fused prime set and the mask over the
        // whole chain; the first CoeffToSlot step finishes the raise.
        boot_.getTransforms().raiseFused(t);
        boot_.getFusedRaise().multiplyByWord(t, boot_.getBootParameter().mult_before_c2s);
    }
    coeffToSlotMSRLWE(t, t);
    t.setLogSlots(s);

    if (!isReRemoveI(boot_.getContext()))
        return splitAndRemoveI(t, bundle, interp, scale);
    return fastRemoveIMSRLWE(t, bundle, interp, out_context, scale, conj_inv_output);
}

// ---- MStoSS ------------------------------------------------------------------------------

MultiSecretRoad::RingCiphertexts MultiSecretRoad::bootstrapMStoSS(const CiphertextMSRLWE &ms,
                                                                  const MStoSSKeyBundle &bundle,
                                                                  const Interpolator &interp,
                                                                  double scale) const {
    if (isCoeffBoot(boot_.getContext()))
        throw RuntimeException(BootstrapperMessages::kMStoSSCoeffBootMessage);
    if (!boot_.getOutsourced().getInner())
        return bootstrapMStoSSStepTwo(bootstrapMStoSSStepOne(ms), bundle, interp,
                                      interpolatorContext(interp), scale, false);
    const BootstrapperImpl &inner = *boot_.getOutsourced().getInner();

    // Outsourced: SlotToCoeff here, the rest of the bootstrap in the inner
    // context, and the results switched onto the output evaluator's chain.
    const HomEvaluatorImpl &e = singleSecretEvaluator(interp);
    const i64 before_s2c = BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_s2c);
    CiphertextMSRLWE t(ms.getContext(), false, true);
    CiphertextMSRLWE u(inner.getContext(), false, true);
    if (ms.getEncodingType() == EncodingType::COEFFICIENT) {
        t = ms;
        e.constants().multInteger(t, before_s2c, t);
    } else {
        e.levels().levelDown(ms, boot_.getMinLevelForBootstrap(), t);
        e.constants().multInteger(t, before_s2c, t);
        slotToCoeffMSRLWE(t, t);
    }
    t.setEncodingType(EncodingType::COEFFICIENT);
    ModulusSwitcher().embed(t, u);

    const u64 level_inner = inner.getLevelAfterFullSlotBootstrap();
    const HomEvaluatorImpl &out_eval = boot_.getOutsourced().requireOutputEvaluator();
    const std::shared_ptr<ContextContent> &out_context = out_eval.getContext();
    const u64 level_out = getEncryptionLevel(out_context);
    const std::shared_ptr<ContextContent> &outer = boot_.getOutsourced().requireOutsourcedContext();
    const double f = BootstrapperImpl::computeModulusSwitchCompensation(outer, out_context,
                                                                        level_inner, level_out);
    const RingCiphertexts results =
        inner.getMultiSecret().bootstrapMStoSSStepTwo(u, bundle, interp, outer, scale * f, false);
    return switchModulusInto(results, out_context, level_out);
}

MultiSecretRoad::RingCiphertextPair
MultiSecretRoad::bootstrapMStoSS(const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle,
                                 const Interpolator &interp, const RingCiphertexts &out_real,
                                 const RingCiphertexts &out_imag) const {
    const u64 n = bodyCount(ms);
    checkAllocated(n, out_real, out_imag);
    const RingCiphertexts results = bootstrapMStoSS(ms, bundle, interp, 0.5);
    requireCount(results, n);
    return splitOnOutputEvaluator(results);
}

MultiSecretRoad::RingCiphertexts
MultiSecretRoad::bootstrapMStoSSOptimized(const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle,
                                          const Interpolator &interp, double scale) const {
    if (!isDoubleHoistingSupported(boot_.getContext()))
        throw RuntimeException(BootstrapperMessages::kNoDoubleHoistingMessage);
    refuseUnreachedChain(getParameterPreset(boot_.getContext()));
    const i64 before_c2s = BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_c2s);
    CiphertextMSRLWE t = bootstrapMStoSSStepOne(ms);
    slotToCoeffMSRLWE(t, t);

    // The raise over every polynomial's own primes (no sparse secret here),
    // then folding of sparse slots.
    if (t.getPoly(0).isNTT())
        t.backwardNTT();
    boot_.getTransforms().levelRecover(t, t, getLength(boot_.getContext()) - 1);
    t.forwardNTT();
    CiphertextMSRLWE rotated(t);
    for (u64 i = ms.getLogSlots(); i < getLogFullSlots(boot_.getContext()); ++i) {
        boot_.getEvaluator()->multiSecret().leftRotateMSRLWE(t, u64{1} << i, rotated);
        boot_.getEvaluator()->add(t, rotated, t);
    }

    boot_.getEvaluator()->constants().multInteger(t, before_c2s, t);
    coeffToSlotMSRLWEDoubleHoist(t, t);
    t.setLogSlots(ms.getLogSlots());
    return splitAndRemoveI(t, bundle, interp, scale);
}

// ---- Batches -------------------------------------------------------------------------------

MultiSecretRoad::RingCiphertexts
MultiSecretRoad::batchBootstrap(const RingCiphertexts &in, const MultiSecretSwitchKeyBundle &bundle,
                                const Interpolator &interp, double scale,
                                bool conj_inv_output) const {
    checkBatchBootstrappable(in);
    const u64 k = getNumSecret(boot_.getContext());
    if (k != 2 && k != 4 && k != 8 && k != 16)
        throw RuntimeException(BootstrapperMessages::kBatchNumberMessage);
    // The packed ciphertext goes through SlotToCoeff or not as a whole, by
    // the first input's encoding: a batch mixing slot and coefficient
    // encodings would give the others a wrong result.
    for (const RingCiphertext &c : in)
        if (c.getEncodingType() != in[0].getEncodingType())
            throw RuntimeException(BootstrapperMessages::kBatchEncodingsMessage);

    const HomEvaluatorImpl &e = singleSecretEvaluator(interp);
    RingCiphertexts prepared = prepareBatch(in, e);

    std::shared_ptr<ContextContent> out_context = e.getContext();
    if (conj_inv_output) {
        if (!conj_inv_output_context_)
            throw RuntimeException(BootstrapperMessages::kNoConjInvOutputMessage);
        out_context = conj_inv_output_context_;
    }
    if (!boot_.getOutsourced().getInner())
        return batchOnOwnChain(in, prepared, bundle, interp, out_context, scale, conj_inv_output);
    return batchOutsourced(in, std::move(prepared), bundle, interp, e, out_context, scale,
                           conj_inv_output);
}

MultiSecretRoad::RingCiphertexts MultiSecretRoad::prepareBatch(const RingCiphertexts &in,
                                                               const HomEvaluatorImpl &e) const {
    // Each input levelled down and times mult_before_s2c on e; a
    // coefficient-encoded input goes to level 0 through NTT form.
    const i64 before_s2c = BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_s2c);
    RingCiphertexts prepared;
    prepared.reserve(in.size());
    for (const RingCiphertext &c : in) {
        RingCiphertext p(c);
        if (c.getEncodingType() == EncodingType::SLOT) {
            e.levels().levelDown(c, boot_.getMinLevelForBootstrap(), p);
            e.constants().multInteger(p, before_s2c, p);
        } else {
            p.setEncodingType(EncodingType::SLOT);
            p.forwardNTT();
            e.levels().levelDown(p, 0, p);
            e.constants().multInteger(p, before_s2c, p);
            p.setEncodingType(EncodingType::COEFFICIENT);
        }
        prepared.push_back(std::move(p));
    }
    return prepared;
}

MultiSecretRoad::RingCiphertexts MultiSecretRoad::batchOnOwnChain(
    const RingCiphertexts &in, const RingCiphertexts &prepared,
    const MultiSecretSwitchKeyBundle &bundle, const Interpolator &interp,
    const std::shared_ptr<ContextContent> &out_context, double scale, bool conj_inv_output) const {
    const std::shared_ptr<ContextContent> &context = boot_.getContext();
    const MultiSecretConverter converter;
    CiphertextMSRLWE ms(context, false, true);
    converter.SStoMSBisection(prepared, bundle.getSStoMSBisectionKeyBundle(), ms);
    RingCiphertexts results = bootstrapMStoSSStepTwo(ms, bundle.getMStoSSKeyBundle(), interp,
                                                     out_context, scale, conj_inv_output);
    if (!isCoeffBoot(context))
        return results;
    if (conj_inv_output)
        throw RuntimeException(BootstrapperMessages::kCoeffBootConjInvMessage);
    // Coefficient bootstrapping ends in slot form: SlotToCoeff of the
    // packed results brings the messages back to the coefficients.
    CiphertextMSRLWE packed(context, false, true);
    converter.SStoMSBisection(results, bundle.getSStoMSBisectionKeyBundle(), packed);
    slotToCoeffMSRLWE(packed, packed);
    if (!isReRemoveI(context))
        converter.MStoSS(packed, bundle.getMStoSSKeyBundle(), interpolatorContext(interp), results);
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

MultiSecretRoad::RingCiphertexts MultiSecretRoad::batchOutsourced(
    const RingCiphertexts &in, RingCiphertexts prepared, const MultiSecretSwitchKeyBundle &bundle,
    const Interpolator &interp, const HomEvaluatorImpl &e,
    const std::shared_ptr<ContextContent> &out_context, double scale, bool conj_inv_output) const {
    // The batch is packed over the single-secret context, taken to the
    // coefficients here and bootstrapped in the inner context.
    for (RingCiphertext &p : prepared)
        p.setContext(bundle.getSSContext());
    CiphertextMSRLWE packed(boot_.getContext(), false, true);
    MultiSecretConverter().SStoMSBisection(prepared, bundle.getSStoMSBisectionKeyBundle(), packed);
    if (in[0].getEncodingType() == EncodingType::SLOT)
        slotToCoeffMSRLWE(packed, packed);
    packed.setEncodingType(EncodingType::COEFFICIENT);

    const OutsourcedRoad &road = boot_.getOutsourced();
    const BootstrapperImpl &inner = *road.getInner();
    u64 level_inner = inner.getLevelAfterFullSlotBootstrap();
    u64 level_out = getEncryptionLevel(e.getContext());
    if (conj_inv_output) {
        ++level_inner;
        ++level_out;
    }
    const std::shared_ptr<ContextContent> &outer = road.requireOutsourcedContext();
    const double f = BootstrapperImpl::computeModulusSwitchCompensation(outer, in[0].getContext(),
                                                                        level_inner, level_out);
    packed.setContext(inner.getContext());
    const RingCiphertexts results = inner.getMultiSecret().bootstrapMStoSSStepTwo(
        packed, bundle.getMStoSSKeyBundle(), interp, outer, scale * f, conj_inv_output);
    return switchModulusInto(results, out_context, level_out);
}

MultiSecretRoad::RingCiphertextPair
MultiSecretRoad::batchBootstrap(const RingCiphertexts &in, const MultiSecretSwitchKeyBundle &bundle,
                                const Interpolator &interp, const RingCiphertexts &out_real,
                                const RingCiphertexts &out_imag) const {
    requireNonEmpty(in);
    checkAllocated(in.size(), out_real, out_imag);
    const RingCiphertexts results = batchBootstrap(in, bundle, interp, 0.5, false);
    requireCount(results, in.size());
    return splitOnOutputEvaluator(results);
}

MultiSecretRoad::RingCiphertexts
MultiSecretRoad::batchBootstrapExtendedPasses(const RingCiphertexts &in,
                                              const MultiSecretSwitchKeyBundle &bundle,
                                              const Interpolator &interp, bool half) const {
    requireNonEmpty(in);
    boot_.getPipeline().checkExtendedBootstrappable(in[0]);
    const HomEvaluatorImpl &ev = boot_.getOutsourced().requireOutputEvaluator();
    const auto [e1, e2] = boot_.getBootParameter().extended_exponents;
    const std::int64_t up1 = powerOfTwo(e1);
    const std::int64_t up2 = powerOfTwo(e2);
    const int down = static_cast<int>(e1) + (half ? 1 : 0);

    // First pass: the messages scaled down by 2^e1 (2^(e1+1) for half),
    // bootstrapped and scaled back.
    RingCiphertexts a;
    a.reserve(in.size());
    for (const RingCiphertext &c : in) {
        RingCiphertext t(c);
        ev.constants().mult(c, std::complex<double>(std::ldexp(1.0, -down), 0.0), t);
        a.push_back(std::move(t));
    }
    RingCiphertexts first = batchBootstrap(a, bundle, interp, 1.0, false);
    requireCount(first, in.size());
    for (RingCiphertext &t : first)
        ev.constants().multInteger(t, up1, t);

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
        ev.constants().multInteger(t, up2, t);
        t.setLogSlots(getLogFullSlots(boot_.getContext()));
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

MultiSecretRoad::RingCiphertexts
MultiSecretRoad::batchBootstrapExtended(const RingCiphertexts &in,
                                        const MultiSecretSwitchKeyBundle &bundle,
                                        const Interpolator &interp) const {
    return batchBootstrapExtendedPasses(in, bundle, interp, false);
}

MultiSecretRoad::RingCiphertexts
MultiSecretRoad::batchBootstrapExtendedMultHalf(const RingCiphertexts &in,
                                                const MultiSecretSwitchKeyBundle &bundle,
                                                const Interpolator &interp) const {
    return batchBootstrapExtendedPasses(in, bundle, interp, true);
}

MultiSecretRoad::RingCiphertextPair MultiSecretRoad::batchBootstrapExtended(
    const RingCiphertexts &in, const MultiSecretSwitchKeyBundle &bundle, const Interpolator &interp,
    const RingCiphertexts &out_real, const RingCiphertexts &out_imag) const {
    requireNonEmpty(in);
    checkAllocated(in.size(), out_real, out_imag);
    const RingCiphertexts results = batchBootstrapExtendedMultHalf(in, bundle, interp);
    requireCount(results, in.size());
    return splitOnOutputEvaluator(results);
}

} // namespace Quelt
