// The roads of one bootstrap: the entry checks, SlotToCoeff, the modulus
// raise, folding of sparse slots, CoeffToSlot, the conjugate-and-add and the
// modular reduction, in the one-output, two-output, half (coefficient input)
// and extended forms, the fast removeI road and the outsourced road. The
// transforms themselves are BootTransforms'.

#include "boot/BootPipeline.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/Interpolator.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootstrapperImpl.hpp"
#include "context/ContextContent.hpp"
#include "context/Polynomial.hpp"
#include "conversion/ModulusSwitcher.hpp"
#include "eval/HomEvaluatorImpl.hpp"

#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <string>

namespace Quelt {

namespace {

using u64 = std::uint64_t;
using i64 = std::int64_t;
using RingCiphertext = BootPipeline::RingCiphertext;

RingCiphertext emptyLike(const RingCiphertext &ct) {
    return RingCiphertext(ct.getContext(), false, true);
}

// 2^e as a signed word (e below 63, else BootstrapperMessages::kMultiplierMessage).
std::int64_t powerOfTwo(u64 e) {
    if (e >= 63)
        throw RuntimeException(BootstrapperImpl::kMultiplierMessage);
    return std::int64_t{1} << e;
}

// The encoding the entry point takes, else its message.
void requireEncoding(const RingCiphertext &ct, EncodingType type, const char *message) {
    if (ct.getEncodingType() != type)
        throw RuntimeException(message);
}

// re = t + conj(t) and im = i (conj(t) - t): twice the real and the imaginary
// parts, with t's rescale counter.
void splitParts(const HomEvaluatorImpl &eval, const RingCiphertext &t, RingCiphertext &re,
                RingCiphertext &im) {
    RingCiphertext conj = emptyLike(t);
    eval.rotations().conjugate(t, conj);
    eval.add(t, conj, re);
    eval.sub(conj, t, im);
    eval.constants().multImagUnit(im, im);
}

// t = t + conj(t), rescaled: twice the real parts after CoeffToSlot.
void addConjugateAndRescale(const HomEvaluatorImpl &eval, RingCiphertext &t) {
    RingCiphertext conj = emptyLike(t);
    eval.rotations().conjugate(t, conj);
    eval.add(t, conj, t);
    eval.levels().rescale(t);
}

// The key switcher over the sparse-secret context, which only the
// constructors given that context build.
// Roads measured far below their precision on the presets' own chains and
// settings, refused with the road to take instead rather than returning wrong
// values (the messages give the causes): the modular reduction of FTa (0.25
// comes back as 0.225) and Discrete_G10 (half its result); everything of
// FGfL7Low on its own chain (its top-level key switches lose every bit) and of
// FGfL7 (its raise on the weight-192 secret leaves the reduction's range).
// The bootstrapper sees only evaluation keys, not the secret's weight, so
// FGfL7's own chain is refused whatever the secret: its road is the
// outsourced one.
void refuseUnreachedReduction(ParameterPreset preset) {
    if (preset == ParameterPreset::FTa)
        throw RuntimeException(BootstrapperImpl::kFTaMessage);
    if (preset == ParameterPreset::Discrete_G10)
        throw RuntimeException(BootstrapperImpl::kDiscreteG10Message);
}

} // namespace

void refuseUnreachedChain(ParameterPreset preset) {
    if (preset == ParameterPreset::FGfL7Low)
        throw RuntimeException(BootstrapperImpl::kFGfL7LowMessage);
    if (preset == ParameterPreset::FGfL7)
        throw RuntimeException(BootstrapperImpl::kFGfL7Message);
}

// ---- Outsourced road ------------------------------------------------------------------

BootPipeline::BootPipeline(const BootstrapperImpl &boot) : boot_(boot) {}

struct BootPipeline::OutsourcedInput {
    // The input as a coefficient-encoded level-0 ciphertext of the inner
    // context.
    RingCiphertext t;
    // The inner bootstrapper, and the level of the output evaluator's
    // context the result is switched down to.
    const BootstrapperImpl &inner;
    u64 level;
    // The ratio of the inner modulus at its output level to the output
    // modulus at `level`: the inner bootstrap scales its result by it so that
    // the modulus switch leaves the message at its own scale.
    double compensation;
};

BootPipeline::OutsourcedInput BootPipeline::outsourcedInput(const RingCiphertext &in) const {
    const BootstrapperImpl &inner = boot_.getOutsourced().requireInner();
    const HomEvaluatorImpl &output = boot_.getOutsourced().requireOutputEvaluator();
    const bool slots = in.getEncodingType() == EncodingType::SLOT;
    const u64 target = slots && !isCoeffBoot(boot_.getContext()) ? 3 : 0;
    RingCiphertext t = in;
    if (target < in.getLevel()) {
        t.setEncodingType(EncodingType::SLOT);
        output.levels().levelDown(t, target, t);
    }
    // Into this bootstrapper's context for SlotToCoeff, then (out of NTT
    // form) into the inner one; both share the primes the ciphertext uses.
    const ModulusSwitcher switcher;
    RingCiphertext u(boot_.getContext(), false, true);
    switcher.embed(t, u);
    if (slots)
        boot_.getTransforms().slotToCoeff(u, u);
    u.setEncodingType(EncodingType::COEFFICIENT);
    if (u.getPoly(0).isNTT())
        u.backwardNTT();
    RingCiphertext w(inner.getContext(), false, true);
    switcher.embed(u, w);

    const u64 level = getEncryptionLevel(output.getContext());
    const double f = BootstrapperImpl::computeModulusSwitchCompensation(
        inner.getContext(), in.getContext(), inner.getLevelAfterFullSlotBootstrap(), level);
    return OutsourcedInput{std::move(w), inner, level, f};
}

void BootPipeline::switchBackFromInner(const RingCiphertext &u, RingCiphertext &out,
                                       u64 level) const {
    RingCiphertext result(boot_.getOutsourced().requireOutputEvaluator().getContext(), false, true);
    ModulusSwitcher().switchModulus(u, result, level);
    out = std::move(result);
}

template <class Run>
void BootPipeline::outsourcedTwoOutputs(const RingCiphertext &in, RingCiphertext &out_real,
                                        RingCiphertext &out_imag, const Run &run) const {
    OutsourcedInput o = outsourcedInput(in);
    RingCiphertext a(o.inner.getContext(), false, true);
    RingCiphertext b(o.inner.getContext(), false, true);
    run(o.inner, o.t, a, b, o.compensation);
    switchBackFromInner(a, out_real, o.level);
    switchBackFromInner(b, out_imag, o.level);
}

// ---- Entry checks -------------------------------------------------------------------

void BootPipeline::checkBootstrappable(const RingCiphertext &ct) const {
    if (ct.getEncodingType() == EncodingType::SLOT && ct.getLevel() < 3 &&
        !isCoeffBoot(boot_.getContext()))
        throw RuntimeException(BootstrapperMessages::kBootLevelMessage);
    if (ct.getNumPoly() != 2)
        throw RuntimeException(BootstrapperMessages::kBootSizeMessage);
    const u64 s = ct.getLogSlots();
    if (s != 0 && boot_.getConstants().findBootConstants(s) == nullptr)
        throw RuntimeException(BootstrapperMessages::kBootConstantsPrefix + std::to_string(s) +
                               BootstrapperMessages::kMissingConstantsSuffix);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(BootstrapperMessages::kCounterMessage);
}

void BootPipeline::checkExtendedBootstrappable(const RingCiphertext &ct) const {
    if (!isExtendedBootstrapSupported(boot_.getContext()))
        throw RuntimeException(BootstrapperMessages::kNoExtendedMessage);
    if (ct.getLevel() < (isCoeffBoot(boot_.getContext()) ? 1u : 4u))
        throw RuntimeException(BootstrapperMessages::kExtendedLevelMessage);
    if (ct.getNumPoly() != 2)
        throw RuntimeException(BootstrapperMessages::kExtendedSizeMessage);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(BootstrapperMessages::kCounterMessage);
}

const HomEvaluatorImpl &BootPipeline::extendedEvaluator(const RingCiphertext &in) const {
    // Both passes need their constants: the input's log slot count, then the
    // full count. Checked here so that a missing entry is reported before any
    // output changes.
    for (const u64 s : {in.getLogSlots(), getLogFullSlots(boot_.getContext())})
        if (s != 0 && boot_.getConstants().findBootConstants(s) == nullptr)
            throw RuntimeException(BootstrapperMessages::kBootConstantsPrefix + std::to_string(s) +
                                   BootstrapperMessages::kMissingConstantsSuffix);
    if (!boot_.getContext()->getParameter().small_parameter)
        return *boot_.getEvaluator();
    const std::shared_ptr<HomEvaluatorImpl> &output = boot_.getOutsourced().getOutputEvaluator();
    if (!output)
        throw RuntimeException(BootstrapperMessages::kNoOutputEvaluatorMessage);
    return *output;
}

// ---- Entry points ---------------------------------------------------------------------

void BootPipeline::bootstrap(const RingCiphertext &in, RingCiphertext &out, bool complex) const {
    requireEncoding(in, EncodingType::SLOT, BootstrapperMessages::kSlotEncodedMessage);
    checkBootstrappable(in);
    bootstrapOnce(in, out, complex, 1.0, false);
}

void BootPipeline::bootstrap(const RingCiphertext &in, RingCiphertext &out_real,
                             RingCiphertext &out_imag, double scale) const {
    requireEncoding(in, EncodingType::SLOT, BootstrapperMessages::kSlotEncodedMessage);
    checkBootstrappable(in);
    bootstrapTwoOutput(in, out_real, out_imag, scale);
}

void BootPipeline::halfBoot(const RingCiphertext &in, RingCiphertext &out, bool complex,
                            bool keep_real) const {
    requireEncoding(in, EncodingType::COEFFICIENT, BootstrapperMessages::kCoeffEncodedMessage);
    checkBootstrappable(in);
    bootstrapOnce(in, out, complex, 1.0, keep_real);
}

void BootPipeline::halfBoot(const RingCiphertext &in, RingCiphertext &out_real,
                            RingCiphertext &out_imag) const {
    requireEncoding(in, EncodingType::COEFFICIENT, BootstrapperMessages::kCoeffEncodedMessage);
    checkBootstrappable(in);
    bootstrapTwoOutput(in, out_real, out_imag, 1.0);
}

void BootPipeline::bootstrapExtended(const RingCiphertext &in, RingCiphertext &out,
                                     bool complex) const {
    requireEncoding(in, EncodingType::SLOT, BootstrapperMessages::kSlotEncodedMessage);
    checkExtendedBootstrappable(in);
    const HomEvaluatorImpl &ev = extendedEvaluator(in);
    const auto [e1, e2] = boot_.getBootParameter().extended_exponents;
    const std::int64_t up1 = powerOfTwo(e1);
    const std::int64_t up2 = powerOfTwo(e2);

    // First pass: the message scaled down by 2^e1, bootstrapped and scaled
    // back; its error is then 2^e1 times smaller relative to the message.
    RingCiphertext t = emptyLike(in);
    ev.constants().mult(in, std::complex<double>(std::ldexp(1.0, -static_cast<int>(e1)), 0.0), t);
    bootstrapOnce(t, t, complex, 1.0, false);
    ev.constants().multInteger(t, up1, t);

    // Second pass: the remaining error scaled up by 2^e2, over the full slot
    // count, bootstrapped and scaled back by the reduction's scale.
    RingCiphertext d = emptyLike(in);
    ev.sub(in, t, d);
    ev.constants().multInteger(d, up2, d);
    const u64 log_slots = d.getLogSlots();
    d.setLogSlots(getLogFullSlots(boot_.getContext()));
    bootstrapOnce(d, d, true, std::ldexp(1.0, -static_cast<int>(e2)), false);
    d.setLogSlots(log_slots);
    ev.add(t, d, out);
}

void BootPipeline::bootstrapExtended(const RingCiphertext &in, RingCiphertext &out_real,
                                     RingCiphertext &out_imag) const {
    if (&out_real == &out_imag)
        throw RuntimeException(BootstrapperMessages::kAliasedOutputsMessage);
    checkExtendedBootstrappable(in);
    const HomEvaluatorImpl &ev = extendedEvaluator(in);
    const auto [e1, e2] = boot_.getBootParameter().extended_exponents;
    const std::int64_t up2 = powerOfTwo(e2);
    powerOfTwo(e1);

    RingCiphertext a = emptyLike(in);
    ev.constants().mult(in, std::complex<double>(std::ldexp(1.0, -static_cast<int>(e1)), 0.0), a);
    RingCiphertext p = emptyLike(in);
    RingCiphertext q = emptyLike(in);
    bootstrapTwoOutput(a, p, q, std::ldexp(1.0, static_cast<int>(e1) - 1));
    RingCiphertext conj = emptyLike(in);
    ev.rotations().conjugate(p, conj);
    ev.add(p, conj, p);
    ev.rotations().conjugate(q, conj);
    ev.add(q, conj, q);
    ev.constants().multImagUnit(q, a);
    ev.add(p, a, a);

    RingCiphertext d = emptyLike(in);
    ev.sub(in, a, d);
    ev.constants().multInteger(d, up2, d);
    const u64 log_slots = d.getLogSlots();
    d.setLogSlots(getLogFullSlots(boot_.getContext()));
    RingCiphertext r = emptyLike(in);
    RingCiphertext i = emptyLike(in);
    bootstrapTwoOutput(d, r, i, std::ldexp(1.0, -static_cast<int>(e2)));
    r.setLogSlots(log_slots);
    i.setLogSlots(log_slots);
    ev.add(p, r, out_real);
    ev.add(q, i, out_imag);
}

// ---- Roads --------------------------------------------------------------------------------

void BootPipeline::bootstrapOnce(const RingCiphertext &in, RingCiphertext &out, bool complex,
                                 double scale, bool keep_real) const {
    refuseUnreachedReduction(getParameterPreset(boot_.getContext()));
    if (boot_.getOutsourced().getInner()) {
        // Only the inner fast removeI road keeps a real part, a
        // conjugate-invariant result one level above the inner encryption
        // level. Every other inner road would hand back a result read one
        // level off, and that one cannot be switched back either: its prime
        // at that level is the output chain's prime one level up at another
        // position, which the modulus switch refuses. So the kept real part
        // is refused before any work.
        if (keep_real)
            throw RuntimeException(
                BootstrapperMessages::kKeepRealPrefix +
                boot_.getOutsourced().getInner()->getContext()->getParameter().name +
                BootstrapperMessages::kKeepRealSuffix);
        OutsourcedInput o = outsourcedInput(in);
        RingCiphertext u(o.inner.getContext(), false, true);
        o.inner.getPipeline().bootstrapOnce(o.t, u, complex, scale * o.compensation, false);
        switchBackFromInner(u, out, o.level);
        return;
    }
    if (complex) {
        if (isReRemoveI(boot_.getContext())) {
            fastRemoveIBootstrap(in, out, scale, keep_real);
            return;
        }
        RingCiphertext a = emptyLike(in);
        RingCiphertext b = emptyLike(in);
        bootstrapTwoOutput(in, a, b, scale);
        boot_.getEvaluator()->constants().multImagUnit(b, b);
        boot_.getEvaluator()->add(b, a, out);
        if (isCoeffBoot(boot_.getContext()))
            boot_.getTransforms().slotToCoeff(out, out);
        return;
    }
    if (isCoeffBoot(boot_.getContext()))
        throw RuntimeException(BootstrapperMessages::kRealBootMessage);
    RingCiphertext t = bootstrapExceptRemoveI(in);
    addConjugateAndRescale(*boot_.getEvaluator(), t);
    if (isReRemoveI(boot_.getContext()))
        boot_.getEvaluator()->levels().levelDownOne(t, t);
    removeI(t, out, scale);
    if (isReRemoveI(boot_.getContext()))
        boot_.getEvaluator()->rotations().killImag(out, out);
}

void BootPipeline::bootstrapTwoOutput(const RingCiphertext &in, RingCiphertext &out_real,
                                      RingCiphertext &out_imag, double scale) const {
    if (&out_real == &out_imag)
        throw RuntimeException(BootstrapperMessages::kAliasedOutputsMessage);
    refuseUnreachedReduction(getParameterPreset(boot_.getContext()));
    if (boot_.getOutsourced().getInner()) {
        outsourcedTwoOutputs(in, out_real, out_imag,
                             [scale](const BootstrapperImpl &inner, const RingCiphertext &t,
                                     RingCiphertext &a, RingCiphertext &b, double f) {
                                 inner.getPipeline().bootstrapTwoOutput(t, a, b, scale * f);
                             });
        return;
    }
    RingCiphertext t = emptyLike(in);
    if (isReRemoveI(boot_.getContext()))
        bootstrapOnce(in, t, true, scale * 0.5, false);
    else
        t = bootstrapExceptRemoveI(in);
    RingCiphertext re = emptyLike(in);
    RingCiphertext im = emptyLike(in);
    splitParts(*boot_.getEvaluator(), t, re, im);
    if (!isReRemoveI(boot_.getContext())) {
        boot_.getEvaluator()->levels().rescale(re);
        boot_.getEvaluator()->levels().rescale(im);
        removeI(re, re, scale);
        removeI(im, im, scale);
    }
    out_real = std::move(re);
    out_imag = std::move(im);
}

RingCiphertext BootPipeline::bootstrapExceptRemoveI(const RingCiphertext &in) const {
    // A small parameter keeps no CoeffToSlot constants: its bootstrap runs
    // elsewhere (outsourced, or on the parent's chain).
    const Parameter &parameter = boot_.getContext()->getParameter();
    if (parameter.small_parameter)
        throw RuntimeException(BootstrapperMessages::kSmallNoCoeffToSlotPrefix + parameter.name +
                               BootstrapperMessages::kSmallNoCoeffToSlotMiddle +
                               (parameter.parent_preset ? Parameter(*parameter.parent_preset).name
                                                        : std::string("?")) +
                               BootstrapperMessages::kSmallNoCoeffToSlotSuffix);
    refuseUnreachedChain(parameter.preset);
    const u64 s = in.getLogSlots();
    const u64 full = getLogFullSlots(boot_.getContext());
    const bool fused = isFuseModRaiseSupported(boot_.getContext()) && s == full;
    // The roads of the raise that are not built yet refuse before any work.
    // The sparse-secret raise needs the switcher over the sparse context.
    if (isSparseSecretEncapsulationSupported(boot_.getContext()))
        boot_.getSparseRaise().requireSwitcher();
    const i64 before_s2c = BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_s2c);
    const i64 before_c2s = BootstrapperImpl::multiplier(boot_.getBootParameter().mult_before_c2s);
    const bool full_packed = isFullPackedBaseModulus(boot_.getContext());

    RingCiphertext r = emptyLike(in);
    if (in.getEncodingType() == EncodingType::COEFFICIENT) {
        r = in;
        r.setEncodingType(EncodingType::SLOT);
        boot_.getEvaluator()->levels().levelDown(r, 0, r);
        if (!full_packed)
            boot_.getEvaluator()->constants().multInteger(r, before_s2c, r);
    } else {
        boot_.getEvaluator()->levels().levelDown(in, isCoeffBoot(boot_.getContext()) ? 0 : 3, r);
        if (!full_packed)
            boot_.getEvaluator()->constants().multInteger(r, before_s2c, r);
        if (!isCoeffBoot(boot_.getContext()))
            boot_.getTransforms().slotToCoeff(r, r);
    }

    // The fused raise: the mask to level L + 1 and the bodies to the fused
    // prime set; the first CoeffToSlot step finishes the raise. Full slots
    // only, so nothing is folded.
    if (fused) {
        boot_.getTransforms().raiseFused(r);
        boot_.getFusedRaise().multiplyByWord(r, boot_.getBootParameter().mult_before_c2s);
        boot_.getTransforms().coeffToSlot(r, r);
        r.setLogSlots(s);
        return r;
    }

    // The ordinary raise: the level-0 residues lifted centred to every prime
    // (through the sparse secret where the context encapsulates it).
    boot_.getTransforms().raiseToTop(r);

    // Sparse slots: the raised coefficients are summed over the slot period
    // so that CoeffToSlot of 2^s slots sees each slot's value once.
    RingCiphertext rotated = emptyLike(in);
    for (u64 i = s; i < full; ++i) {
        boot_.getEvaluator()->rotations().leftRotate(r, u64{1} << i, rotated);
        boot_.getEvaluator()->add(r, rotated, r);
    }
    boot_.getEvaluator()->constants().multInteger(r, before_c2s, r);
    boot_.getTransforms().coeffToSlot(r, r);
    r.setLogSlots(s);
    return r;
}

// ---- Roots of unity -------------------------------------------------------------------

void BootPipeline::integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out,
                                           double a) const {
    if (boot_.getOutsourced().getInner()) {
        OutsourcedInput o = outsourcedInput(in);
        o.inner.getPipeline().integerToRootsBootstrap(o.t, o.t, a * o.compensation);
        switchBackFromInner(o.t, out, o.level);
        return;
    }
    RingCiphertext t = bootstrapExceptRemoveI(in);
    addConjugateAndRescale(*boot_.getEvaluator(), t);
    evaluateExponential(t, out, a);
}

void BootPipeline::integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out_real,
                                           RingCiphertext &out_imag, double a) const {
    if (&out_real == &out_imag)
        throw RuntimeException(BootstrapperMessages::kAliasedOutputsMessage);
    if (boot_.getOutsourced().getInner()) {
        outsourcedTwoOutputs(in, out_real, out_imag,
                             [a](const BootstrapperImpl &inner, const RingCiphertext &t,
                                 RingCiphertext &re, RingCiphertext &im, double f) {
                                 inner.getPipeline().integerToRootsBootstrap(t, re, im, a * f);
                             });
        return;
    }
    const RingCiphertext t = bootstrapExceptRemoveI(in);
    RingCiphertext re = emptyLike(in);
    RingCiphertext im = emptyLike(in);
    splitParts(*boot_.getEvaluator(), t, re, im);
    boot_.getEvaluator()->levels().rescale(re);
    boot_.getEvaluator()->levels().rescale(im);
    evaluateExponential(re, re, a);
    evaluateExponential(im, im, a);
    out_real = std::move(re);
    out_imag = std::move(im);
}

// ---- The fast removeI road ------------------------------------------------------------

void BootPipeline::fastRemoveIBootstrap(const RingCiphertext &in, RingCiphertext &out, double scale,
                                        bool keep_real) const {
    boot_.getFastRemoveI().require();
    RingCiphertext t = bootstrapExceptRemoveI(in);
    boot_.getEvaluator()->levels().rescale(t);

    RingCiphertext r = boot_.getFastRemoveI().embedMaskedRealParts(t);
    boot_.getFastRemoveI().getInterpolator()->removeI(r, r, scale);
    if (keep_real) {
        out = std::move(r);
        return;
    }
    RingCiphertext result(boot_.getContext(), false, true);
    boot_.getFastRemoveI().convertConjugateInvariantCiphertextToComplex(
        r, result, *boot_.getFastRemoveI().getEmbedEvaluator());
    result.setLogSlots(in.getLogSlots());
    if (isCoeffBoot(boot_.getContext()))
        boot_.getTransforms().slotToCoeff(result, result);
    out = std::move(result);
}

// ---- Modular reduction ------------------------------------------------------------------

ModReductionEnv BootPipeline::modReductionEnv() const {
    const std::shared_ptr<ContextContent> &context = boot_.getContext();
    return {*boot_.getEvaluator(), context, boot_.getBootParameter(),
            ModReductionOptions::fromContext(context, boot_.getModes().multiply_const_before_s2c)};
}

void BootPipeline::removeI(const RingCiphertext &in, RingCiphertext &out, double scale) const {
    Quelt::removeI(modReductionEnv(), in, out, scale);
}

void BootPipeline::evaluateExponential(const RingCiphertext &in, RingCiphertext &out,
                                       double a) const {
    Quelt::evaluateExponential(modReductionEnv(), in, out, a);
}

} // namespace Quelt
