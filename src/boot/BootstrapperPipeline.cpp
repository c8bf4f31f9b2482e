// The roads of one bootstrap: the entry checks, SlotToCoeff, the modulus
// raise, folding of sparse slots, CoeffToSlot, the conjugate-and-add and the
// modular reduction, in the one-output, two-output, half (coefficient input)
// and extended forms. The transforms themselves are in
// BootstrapperPipelineDFT.cpp.

#include "Quelt/Context.hpp"
#include "Quelt/Exception.hpp"
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
using RingCiphertext = BootstrapperImpl::RingCiphertext;

RingCiphertext emptyLike(const RingCiphertext &ct) {
    return RingCiphertext(ct.getContext(), false, true);
}

// 2^e as a signed word (e below 63, else kMultiplierMessage).
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
    eval.conjugate(t, conj);
    eval.add(t, conj, re);
    eval.sub(conj, t, im);
    eval.multImagUnit(im, im);
}

// t = t + conj(t), rescaled: twice the real parts after CoeffToSlot.
void addConjugateAndRescale(const HomEvaluatorImpl &eval, RingCiphertext &t) {
    RingCiphertext conj = emptyLike(t);
    eval.conjugate(t, conj);
    eval.add(t, conj, t);
    eval.rescale(t);
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

struct BootstrapperImpl::OutsourcedInput {
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

BootstrapperImpl::OutsourcedInput
BootstrapperImpl::outsourcedInput(const RingCiphertext &in) const {
    const BootstrapperImpl &inner = outsourced_.requireInner();
    const HomEvaluatorImpl &output = outsourced_.requireOutputEvaluator();
    const bool slots = in.getEncodingType() == EncodingType::SLOT;
    const u64 target = slots && !isCoeffBoot(context_) ? 3 : 0;
    RingCiphertext t = in;
    if (target < in.getLevel()) {
        t.setEncodingType(EncodingType::SLOT);
        output.levelDown(t, target, t);
    }
    // Into this bootstrapper's context for SlotToCoeff, then (out of NTT
    // form) into the inner one; both share the primes the ciphertext uses.
    const ModulusSwitcher switcher;
    RingCiphertext u(context_, false, true);
    switcher.embed(t, u);
    if (slots)
        transforms_.slotToCoeff(u, u);
    u.setEncodingType(EncodingType::COEFFICIENT);
    if (u.getPoly(0).isNTT())
        u.backwardNTT();
    RingCiphertext w(inner.context_, false, true);
    switcher.embed(u, w);

    const u64 level = getEncryptionLevel(output.getContext());
    const double f = computeModulusSwitchCompensation(
        inner.context_, in.getContext(), inner.getLevelAfterFullSlotBootstrap(), level);
    return OutsourcedInput{std::move(w), inner, level, f};
}

void BootstrapperImpl::switchBackFromInner(const RingCiphertext &u, RingCiphertext &out,
                                           u64 level) const {
    RingCiphertext result(outsourced_.requireOutputEvaluator().getContext(), false, true);
    ModulusSwitcher().switchModulus(u, result, level);
    out = std::move(result);
}

template <class Run>
void BootstrapperImpl::outsourcedTwoOutputs(const RingCiphertext &in, RingCiphertext &out_real,
                                            RingCiphertext &out_imag, const Run &run) const {
    OutsourcedInput o = outsourcedInput(in);
    RingCiphertext a(o.inner.context_, false, true);
    RingCiphertext b(o.inner.context_, false, true);
    run(o.inner, o.t, a, b, o.compensation);
    switchBackFromInner(a, out_real, o.level);
    switchBackFromInner(b, out_imag, o.level);
}

BootstrapperImpl::i64 BootstrapperImpl::multiplier(u64 value) {
    if (value > static_cast<u64>(std::numeric_limits<i64>::max()))
        throw RuntimeException(kMultiplierMessage);
    return static_cast<i64>(value);
}

// ---- Entry checks -------------------------------------------------------------------

void BootstrapperImpl::checkBootstrappable(const RingCiphertext &ct) const {
    if (ct.getEncodingType() == EncodingType::SLOT && ct.getLevel() < 3 && !isCoeffBoot(context_))
        throw RuntimeException(kBootLevelMessage);
    if (ct.getNumPoly() != 2)
        throw RuntimeException(kBootSizeMessage);
    const u64 s = ct.getLogSlots();
    if (s != 0 && constants_.findBootConstants(s) == nullptr)
        throw RuntimeException(kBootConstantsPrefix + std::to_string(s) + kMissingConstantsSuffix);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kCounterMessage);
}

void BootstrapperImpl::checkExtendedBootstrappable(const RingCiphertext &ct) const {
    if (!isExtendedBootstrapSupported(context_))
        throw RuntimeException(kNoExtendedMessage);
    if (ct.getLevel() < (isCoeffBoot(context_) ? 1u : 4u))
        throw RuntimeException(kExtendedLevelMessage);
    if (ct.getNumPoly() != 2)
        throw RuntimeException(kExtendedSizeMessage);
    if (ct.getRescaleCounter() != 0)
        throw RuntimeException(kCounterMessage);
}

const HomEvaluatorImpl &BootstrapperImpl::extendedEvaluator(const RingCiphertext &in) const {
    // Both passes need their constants: the input's log slot count, then the
    // full count. Checked here so that a missing entry is reported before any
    // output changes.
    for (const u64 s : {in.getLogSlots(), getLogFullSlots(context_)})
        if (s != 0 && constants_.findBootConstants(s) == nullptr)
            throw RuntimeException(kBootConstantsPrefix + std::to_string(s) +
                                   kMissingConstantsSuffix);
    if (!context_->getParameter().small_parameter)
        return *eval_;
    const std::shared_ptr<HomEvaluatorImpl> &output = outsourced_.getOutputEvaluator();
    if (!output)
        throw RuntimeException(kNoOutputEvaluatorMessage);
    return *output;
}

// ---- Entry points ---------------------------------------------------------------------

void BootstrapperImpl::bootstrap(const RingCiphertext &in, RingCiphertext &out,
                                 bool complex) const {
    requireEncoding(in, EncodingType::SLOT, kSlotEncodedMessage);
    checkBootstrappable(in);
    bootstrapOnce(in, out, complex, 1.0, false);
}

void BootstrapperImpl::bootstrap(const RingCiphertext &in, RingCiphertext &out_real,
                                 RingCiphertext &out_imag, double scale) const {
    requireEncoding(in, EncodingType::SLOT, kSlotEncodedMessage);
    checkBootstrappable(in);
    bootstrapTwoOutput(in, out_real, out_imag, scale);
}

void BootstrapperImpl::halfBoot(const RingCiphertext &in, RingCiphertext &out, bool complex,
                                bool keep_real) const {
    requireEncoding(in, EncodingType::COEFFICIENT, kCoeffEncodedMessage);
    checkBootstrappable(in);
    bootstrapOnce(in, out, complex, 1.0, keep_real);
}

void BootstrapperImpl::halfBoot(const RingCiphertext &in, RingCiphertext &out_real,
                                RingCiphertext &out_imag) const {
    requireEncoding(in, EncodingType::COEFFICIENT, kCoeffEncodedMessage);
    checkBootstrappable(in);
    bootstrapTwoOutput(in, out_real, out_imag, 1.0);
}

void BootstrapperImpl::bootstrapExtended(const RingCiphertext &in, RingCiphertext &out,
                                         bool complex) const {
    requireEncoding(in, EncodingType::SLOT, kSlotEncodedMessage);
    checkExtendedBootstrappable(in);
    const HomEvaluatorImpl &ev = extendedEvaluator(in);
    const auto [e1, e2] = boot_param_.extended_exponents;
    const std::int64_t up1 = powerOfTwo(e1);
    const std::int64_t up2 = powerOfTwo(e2);

    // First pass: the message scaled down by 2^e1, bootstrapped and scaled
    // back; its error is then 2^e1 times smaller relative to the message.
    RingCiphertext t = emptyLike(in);
    ev.mult(in, std::complex<double>(std::ldexp(1.0, -static_cast<int>(e1)), 0.0), t);
    bootstrapOnce(t, t, complex, 1.0, false);
    ev.multInteger(t, up1, t);

    // Second pass: the remaining error scaled up by 2^e2, over the full slot
    // count, bootstrapped and scaled back by the reduction's scale.
    RingCiphertext d = emptyLike(in);
    ev.sub(in, t, d);
    ev.multInteger(d, up2, d);
    const u64 log_slots = d.getLogSlots();
    d.setLogSlots(getLogFullSlots(context_));
    bootstrapOnce(d, d, true, std::ldexp(1.0, -static_cast<int>(e2)), false);
    d.setLogSlots(log_slots);
    ev.add(t, d, out);
}

void BootstrapperImpl::bootstrapExtended(const RingCiphertext &in, RingCiphertext &out_real,
                                         RingCiphertext &out_imag) const {
    if (&out_real == &out_imag)
        throw RuntimeException(kAliasedOutputsMessage);
    checkExtendedBootstrappable(in);
    const HomEvaluatorImpl &ev = extendedEvaluator(in);
    const auto [e1, e2] = boot_param_.extended_exponents;
    const std::int64_t up2 = powerOfTwo(e2);
    powerOfTwo(e1);

    RingCiphertext a = emptyLike(in);
    ev.mult(in, std::complex<double>(std::ldexp(1.0, -static_cast<int>(e1)), 0.0), a);
    RingCiphertext p = emptyLike(in);
    RingCiphertext q = emptyLike(in);
    bootstrapTwoOutput(a, p, q, std::ldexp(1.0, static_cast<int>(e1) - 1));
    RingCiphertext conj = emptyLike(in);
    ev.conjugate(p, conj);
    ev.add(p, conj, p);
    ev.conjugate(q, conj);
    ev.add(q, conj, q);
    ev.multImagUnit(q, a);
    ev.add(p, a, a);

    RingCiphertext d = emptyLike(in);
    ev.sub(in, a, d);
    ev.multInteger(d, up2, d);
    const u64 log_slots = d.getLogSlots();
    d.setLogSlots(getLogFullSlots(context_));
    RingCiphertext r = emptyLike(in);
    RingCiphertext i = emptyLike(in);
    bootstrapTwoOutput(d, r, i, std::ldexp(1.0, -static_cast<int>(e2)));
    r.setLogSlots(log_slots);
    i.setLogSlots(log_slots);
    ev.add(p, r, out_real);
    ev.add(q, i, out_imag);
}

// ---- Roads --------------------------------------------------------------------------------

void BootstrapperImpl::bootstrapOnce(const RingCiphertext &in, RingCiphertext &out, bool complex,
                                     double scale, bool keep_real) const {
    refuseUnreachedReduction(getParameterPreset(context_));
    if (outsourced_.getInner()) {
        // Only the inner fast removeI road keeps a real part, a
        // conjugate-invariant result one level above the inner encryption
        // level. Every other inner road would hand back a result read one
        // level off, and that one cannot be switched back either: its prime
        // at that level is the output chain's prime one level up at another
        // position, which the modulus switch refuses. So the kept real part
        // is refused before any work.
        if (keep_real)
            throw RuntimeException(kKeepRealPrefix +
                                   outsourced_.getInner()->context_->getParameter().name +
                                   kKeepRealSuffix);
        OutsourcedInput o = outsourcedInput(in);
        RingCiphertext u(o.inner.context_, false, true);
        o.inner.bootstrapOnce(o.t, u, complex, scale * o.compensation, false);
        switchBackFromInner(u, out, o.level);
        return;
    }
    if (complex) {
        if (isReRemoveI(context_)) {
            fastRemoveIBootstrap(in, out, scale, keep_real);
            return;
        }
        RingCiphertext a = emptyLike(in);
        RingCiphertext b = emptyLike(in);
        bootstrapTwoOutput(in, a, b, scale);
        eval_->multImagUnit(b, b);
        eval_->add(b, a, out);
        if (isCoeffBoot(context_))
            transforms_.slotToCoeff(out, out);
        return;
    }
    if (isCoeffBoot(context_))
        throw RuntimeException(kRealBootMessage);
    RingCiphertext t = bootstrapExceptRemoveI(in);
    addConjugateAndRescale(*eval_, t);
    if (isReRemoveI(context_))
        eval_->levelDownOne(t, t);
    removeI(t, out, scale);
    if (isReRemoveI(context_))
        eval_->killImag(out, out);
}

void BootstrapperImpl::bootstrapTwoOutput(const RingCiphertext &in, RingCiphertext &out_real,
                                          RingCiphertext &out_imag, double scale) const {
    if (&out_real == &out_imag)
        throw RuntimeException(kAliasedOutputsMessage);
    refuseUnreachedReduction(getParameterPreset(context_));
    if (outsourced_.getInner()) {
        outsourcedTwoOutputs(in, out_real, out_imag,
                             [scale](const BootstrapperImpl &inner, const RingCiphertext &t,
                                     RingCiphertext &a, RingCiphertext &b,
                                     double f) { inner.bootstrapTwoOutput(t, a, b, scale * f); });
        return;
    }
    RingCiphertext t = emptyLike(in);
    if (isReRemoveI(context_))
        bootstrapOnce(in, t, true, scale * 0.5, false);
    else
        t = bootstrapExceptRemoveI(in);
    RingCiphertext re = emptyLike(in);
    RingCiphertext im = emptyLike(in);
    splitParts(*eval_, t, re, im);
    if (!isReRemoveI(context_)) {
        eval_->rescale(re);
        eval_->rescale(im);
        removeI(re, re, scale);
        removeI(im, im, scale);
    }
    out_real = std::move(re);
    out_imag = std::move(im);
}

RingCiphertext BootstrapperImpl::bootstrapExceptRemoveI(const RingCiphertext &in) const {
    // A small parameter keeps no CoeffToSlot constants: its bootstrap runs
    // elsewhere (outsourced, or on the parent's chain).
    const Parameter &parameter = context_->getParameter();
    if (parameter.small_parameter)
        throw RuntimeException(kSmallNoCoeffToSlotPrefix + parameter.name +
                               kSmallNoCoeffToSlotMiddle +
                               (parameter.parent_preset ? Parameter(*parameter.parent_preset).name
                                                        : std::string("?")) +
                               kSmallNoCoeffToSlotSuffix);
    refuseUnreachedChain(parameter.preset);
    const u64 s = in.getLogSlots();
    const u64 full = getLogFullSlots(context_);
    const bool fused = isFuseModRaiseSupported(context_) && s == full;
    // The roads of the raise that are not built yet refuse before any work.
    // The sparse-secret raise needs the switcher over the sparse context.
    if (isSparseSecretEncapsulationSupported(context_))
        sparse_raise_.requireSwitcher();
    const i64 before_s2c = multiplier(boot_param_.mult_before_s2c);
    const i64 before_c2s = multiplier(boot_param_.mult_before_c2s);
    const bool full_packed = isFullPackedBaseModulus(context_);

    RingCiphertext r = emptyLike(in);
    if (in.getEncodingType() == EncodingType::COEFFICIENT) {
        r = in;
        r.setEncodingType(EncodingType::SLOT);
        eval_->levelDown(r, 0, r);
        if (!full_packed)
            eval_->multInteger(r, before_s2c, r);
    } else {
        eval_->levelDown(in, isCoeffBoot(context_) ? 0 : 3, r);
        if (!full_packed)
            eval_->multInteger(r, before_s2c, r);
        if (!isCoeffBoot(context_))
            transforms_.slotToCoeff(r, r);
    }

    // The fused raise: the mask to level L + 1 and the bodies to the fused
    // prime set; the first CoeffToSlot step finishes the raise. Full slots
    // only, so nothing is folded.
    if (fused) {
        raiseFused(r);
        multiplyFusedByWord(r, boot_param_.mult_before_c2s);
        transforms_.coeffToSlot(r, r);
        r.setLogSlots(s);
        return r;
    }

    // The ordinary raise: the level-0 residues lifted centred to every prime
    // (through the sparse secret where the context encapsulates it).
    transforms_.raiseToTop(r);

    // Sparse slots: the raised coefficients are summed over the slot period
    // so that CoeffToSlot of 2^s slots sees each slot's value once.
    RingCiphertext rotated = emptyLike(in);
    for (u64 i = s; i < full; ++i) {
        eval_->leftRotate(r, u64{1} << i, rotated);
        eval_->add(r, rotated, r);
    }
    eval_->multInteger(r, before_c2s, r);
    transforms_.coeffToSlot(r, r);
    r.setLogSlots(s);
    return r;
}

// ---- Roots of unity -------------------------------------------------------------------

void BootstrapperImpl::integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out,
                                               double a) const {
    if (outsourced_.getInner()) {
        OutsourcedInput o = outsourcedInput(in);
        o.inner.integerToRootsBootstrap(o.t, o.t, a * o.compensation);
        switchBackFromInner(o.t, out, o.level);
        return;
    }
    RingCiphertext t = bootstrapExceptRemoveI(in);
    addConjugateAndRescale(*eval_, t);
    evaluateExponential(t, out, a);
}

void BootstrapperImpl::integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out_real,
                                               RingCiphertext &out_imag, double a) const {
    if (&out_real == &out_imag)
        throw RuntimeException(kAliasedOutputsMessage);
    if (outsourced_.getInner()) {
        outsourcedTwoOutputs(in, out_real, out_imag,
                             [a](const BootstrapperImpl &inner, const RingCiphertext &t,
                                 RingCiphertext &re, RingCiphertext &im,
                                 double f) { inner.integerToRootsBootstrap(t, re, im, a * f); });
        return;
    }
    const RingCiphertext t = bootstrapExceptRemoveI(in);
    RingCiphertext re = emptyLike(in);
    RingCiphertext im = emptyLike(in);
    splitParts(*eval_, t, re, im);
    eval_->rescale(re);
    eval_->rescale(im);
    evaluateExponential(re, re, a);
    evaluateExponential(im, im, a);
    out_real = std::move(re);
    out_imag = std::move(im);
}

} // namespace Quelt
