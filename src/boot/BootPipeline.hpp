#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "boot/ModularReduction.hpp"

#include <cstdint>

namespace Quelt {

class BootstrapperImpl;
class HomEvaluatorImpl;

// One bootstrap of a ring ciphertext: the input levelled down (to 3, or 0
// under coefficient bootstrapping), times mult_before_s2c, SlotToCoeff, the
// modulus raise to the top of the chain, folding of sparse slots,
// CoeffToSlot, the conjugate-and-add, one rescale and the modular reduction.
// A full-slot bootstrap ends at getLevelAfterFullSlotBootstrap(). The forms:
// one or two outputs, half (coefficient input), extended, the fast removeI
// road on isReRemoveI contexts, and the outsourced road through the inner
// bootstrapper, whose own pipeline runs the bootstrap.
//
// The pipeline owns no state: it runs on the bootstrapper that owns it (its
// context, evaluator, settings and modes, constants, transforms and roads).
// The messages are those of BootstrapperMessages.
class BootPipeline {
public:
    using u64 = std::uint64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;

    // `boot` owns the pipeline and outlives it.
    explicit BootPipeline(const BootstrapperImpl &boot);
    BootPipeline(const BootPipeline &) = delete;
    BootPipeline &operator=(const BootPipeline &) = delete;

    // The entry checks of a bootstrap, in order: level (slot-encoded input
    // below 3 unless coefficient bootstrapping), two polynomials, constants of
    // the input's log slot count (none needed for 0), rescale counter 0.
    void checkBootstrappable(const RingCiphertext &ct) const;
    // The same for the extended bootstrap: the parameter's support, level 4
    // (1 under coefficient bootstrapping), two polynomials, counter 0.
    void checkExtendedBootstrappable(const RingCiphertext &ct) const;

    // Slot-encoded input; the complex or the real road.
    void bootstrap(const RingCiphertext &in, RingCiphertext &out, bool complex) const;
    // Slot-encoded input; real and imaginary parts, each times `scale`.
    void bootstrap(const RingCiphertext &in, RingCiphertext &out_real, RingCiphertext &out_imag,
                   double scale) const;
    // Coefficient-encoded input (as made by levelDownAndSlotToCoeff).
    void halfBoot(const RingCiphertext &in, RingCiphertext &out, bool complex,
                  bool keep_real) const;
    void halfBoot(const RingCiphertext &in, RingCiphertext &out_real,
                  RingCiphertext &out_imag) const;
    // Two bootstraps: the first of the input scaled down by 2^e1, the second
    // of the remaining error scaled up by 2^e2 at the full slot count.
    void bootstrapExtended(const RingCiphertext &in, RingCiphertext &out, bool complex) const;
    void bootstrapExtended(const RingCiphertext &in, RingCiphertext &out_real,
                           RingCiphertext &out_imag) const;

    // One bootstrap without entry checks.
    void bootstrapOnce(const RingCiphertext &in, RingCiphertext &out, bool complex, double scale,
                       bool keep_real) const;
    void bootstrapTwoOutput(const RingCiphertext &in, RingCiphertext &out_real,
                            RingCiphertext &out_imag, double scale) const;
    // Everything up to the conjugate-and-add: CoeffToSlot's result with one
    // rescale pending and the input's log slot count.
    RingCiphertext bootstrapExceptRemoveI(const RingCiphertext &in) const;

    // ---- Roots of unity and the fast removeI road --------------------------------

    // exp(2 pi i x)-style roots of the integer part of the raised input
    // (see evaluateExponential), one output or real and imaginary parts.
    void integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out, double a) const;
    void integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out_real,
                                 RingCiphertext &out_imag, double a) const;

    // The complex road on an isReRemoveI context. With keep_real out is the
    // conjugate-invariant ciphertext of [Re m, Im m]; otherwise the message
    // in this context (followed by slotToCoeff under coefficient
    // bootstrapping) with in's log slot count. Throws
    // FastRemoveIRoad::kFastRemoveINotEnabledMessage before any work unless
    // an enable operation ran.
    void fastRemoveIBootstrap(const RingCiphertext &in, RingCiphertext &out, double scale,
                              bool keep_real) const;

    // ---- Modular reduction (on the bootstrapper's evaluator and settings) ----

    // What the modular reduction runs on: the evaluator, the context, its
    // bootstrapping settings and the multiply-before-SlotToCoeff mode.
    ModReductionEnv modReductionEnv() const;
    // The reduction's removeI and evaluateExponential on that environment
    // (its other steps take modReductionEnv() directly).
    void removeI(const RingCiphertext &in, RingCiphertext &out, double scale) const;
    void evaluateExponential(const RingCiphertext &in, RingCiphertext &out, double a) const;

private:
    // The evaluator of the extended forms (the output evaluator on a small
    // parameter) and the constants both of their passes need.
    const HomEvaluatorImpl &extendedEvaluator(const RingCiphertext &in) const;
    // The outsourced road (an inner bootstrapper is set): what every form
    // shares before the inner bootstrap.
    struct OutsourcedInput;
    // The input levelled down by the output evaluator (to 3 when it is
    // slot-encoded, 0 under coefficient bootstrapping or for a coefficient
    // input), SlotToCoeff on the bootstrapper for a slot-encoded input, then
    // marked coefficient-encoded, out of NTT form and written over the inner
    // context; with the compensation of the modulus switch back to the
    // encryption level of the output evaluator. Throws kNoInnerBootstrapperMessage or
    // kNoMultiSecretOutputEvaluatorMessage when the inner bootstrapper or the
    // output evaluator is not set, before any work.
    OutsourcedInput outsourcedInput(const RingCiphertext &in) const;
    // The inner bootstrapper's result switched down to `level` of the output
    // evaluator's context.
    void switchBackFromInner(const RingCiphertext &u, RingCiphertext &out, u64 level) const;
    // The outsourced road of a two-output form: run(inner, t, a, b,
    // compensation) on the inner bootstrapper, then both results switched
    // back into out_real and out_imag.
    template <class Run>
    void outsourcedTwoOutputs(const RingCiphertext &in, RingCiphertext &out_real,
                              RingCiphertext &out_imag, const Run &run) const;

    const BootstrapperImpl &boot_;
};

} // namespace Quelt
