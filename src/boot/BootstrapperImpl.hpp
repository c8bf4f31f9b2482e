#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Device.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootParameter.hpp"
#include "boot/ModularReduction.hpp"
#include "context/Polynomial.hpp"
#include "eval/KeySwitcher.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Quelt {

class ContextContent;
class HomEvaluator;
class HomEvaluatorImpl;
class Interpolator;
class PrimeModuli;

// The state behind a Bootstrapper (shared by its copies): the parameter's
// bootstrapping settings, the DFT constants per log slot count, the mode
// settings, and the optional state of the outsourced, sparse-secret, fused
// and fast-removeI roads. It drives the evaluator implementation of the
// HomEvaluator it was built from, so the keys it uses are that evaluator's
// key pack. See include/Quelt/Bootstrapper.hpp for the facade's contract.
//
// Nothing here takes a lock: the constants cache must not change while
// another thread bootstraps. BootConstants and the fused constants guard
// their per-device copies themselves.
class BootstrapperImpl {
public:
    using u64 = std::uint64_t;
    using i64 = std::int64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
    using CiphertextMSRLWE = CiphertextBase<EncryptionType::MSRLWE>;

    static constexpr const char *kNotBootstrappableMessage =
        "The Parameter does not support bootstrap";
    static constexpr const char *kNoSparseSecretMessage =
        "[Bootstrapper] context does not support sparse secret encapsulation";
    static constexpr const char *kSparsePresetMismatchMessage =
        "[Bootstrapper] parameter of context and context_sparse does not match";
    static constexpr const char *kSparseNumSecretMessage =
        "[Bootstrapper] The num_secret of subparameter for SSE does not match to the original's";
    static constexpr const char *kLogSlotsTooLargeMessage =
        "[makeBootConstants] log_slots should not exceed ";
    static constexpr const char *kFusedSparseSlotsMessage =
        "[Bootstrapper] Sparse-slot bootstrapping needs the full log slot count ";
    static constexpr const char *kFusedSparseSlotsSuffix = " on this parameter";
    static constexpr const char *kDftSizesMismatchMessage =
        "[makeBootConstants] log_slots should be equal to the last element of log_dft_sizes";
    static constexpr const char *kMissingConstantsPrefix = "Bootstrapping constants for log slots ";
    static constexpr const char *kMissingConstantsSuffix = " do not exist.";
    static constexpr const char *kArcsineDegreeMessage = "This arcsine_degree is not supported";
    static constexpr const char *kLevelBudgetMessage =
        "[Bootstrapper] The chain is too short for the levels a bootstrap consumes";
    static constexpr const char *kCompensationLevelMessage =
        "[computeModulusSwitchCompensation] The level exceeds the prime chain";
    static constexpr const char *kCompensationNotFiniteMessage =
        "[computeModulusSwitchCompensation] The modulus-switch compensation is not a finite "
        "number";
    static constexpr const char *kNoOutsourcingMessage =
        "[Bootstrapper] The parameter does not support outsourced bootstrap";
    static constexpr const char *kOutsourcingMismatchMessage =
        "[Bootstrapper] The parameter and input outsourcing parameter does not match";
    static constexpr const char *kOutputEvaluatorMessage =
        "[Bootstrapper] The parameter of the input HomEvaluator should be single secret and not "
        "small";
    static constexpr const char *kEmptyBatchMessage =
        "[bootstrap] The list of ciphertexts is empty";
    static constexpr const char *kBatchLevelMessage =
        "[bootstrap] Level of ciphertext should be >= 3.";
    static constexpr const char *kNoBatchBootstrapMessage =
        "[Bootstrap] This parameter does not support batch bootstrap";
    static constexpr const char *kSmallNotOutsourcedMessage =
        "[Bootstrap] This small param does not support outsourced bootstrap.";

    // Construction in this order: the settings of the context, the
    // bootstrappable check, the empty entry of log slot count 0, the constants
    // of log_slots (the full count when absent), and the fused constants on a
    // context that fuses the modulus raise.
    BootstrapperImpl(const HomEvaluator &eval, bool min_key, std::optional<u64> log_slots);
    // The same with the sparse-secret companion context (stored, with a key
    // switcher over it, before the bootstrappable check) and its three checks
    // right after the bootstrappable check.
    BootstrapperImpl(const HomEvaluator &eval,
                     const std::shared_ptr<ContextContent> &context_sparse, bool min_key,
                     std::optional<u64> log_slots);

    BootstrapperImpl(const BootstrapperImpl &) = delete;
    BootstrapperImpl &operator=(const BootstrapperImpl &) = delete;
    ~BootstrapperImpl();

    // ---- Constants ------------------------------------------------------

    bool isBootstrapReady(u64 log_slots) const;
    void makeBootConstants(u64 log_slots);
    void makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes,
                           const std::vector<u64> &levels, std::optional<double> scale);
    std::vector<std::vector<Message>> getMessageV0Diagonals(u64 log_slots,
                                                            const std::vector<u64> &log_dft_sizes);

    void loadBootConstants(u64 log_slots, const Device &device);
    void loadS2CConstants(u64 log_slots, const Device &device);
    void loadC2SConstants(u64 log_slots, const Device &device);
    void removeExceptS2CConstants(u64 log_slots, const Device &device);
    void removeExceptC2SConstants(u64 log_slots, const Device &device);

    // The constants of log_slots, or nothing (also for log_slots 0).
    const BootConstants *findBootConstants(u64 log_slots) const;

    // ---- Levels -----------------------------------------------------------

    u64 getLevelAfterFullSlotBootstrap() const;
    u64 getMinLevelForBootstrap() const;

    // ---- Modes --------------------------------------------------------------

    void enableOutsourcing(const std::shared_ptr<BootstrapperImpl> &inner,
                           const std::shared_ptr<HomEvaluatorImpl> &eval);
    void enableConjInvOutput(const std::shared_ptr<ContextContent> &context);
    void setC2Suseminkey(bool use_min_key) { C2S_use_min_key_ = use_min_key; }
    bool getC2Suseminkey() const { return C2S_use_min_key_; }
    void setStatusUseMultiplyConstBeforeS2C(bool use);
    bool getStatusUseMultiplyConstBeforeS2C() const { return use_multiply_const_before_S2C_; }

    std::shared_ptr<ContextContent> getContext() const { return context_; }
    const std::shared_ptr<HomEvaluatorImpl> &getEvaluator() const { return eval_; }
    const BootParameter &getBootParameter() const { return boot_param_; }
    bool isMinKey() const { return min_key_; }
    const std::shared_ptr<ContextContent> &getSparseContext() const { return context_sparse_; }
    const std::shared_ptr<ContextContent> &getConjInvOutputContext() const {
        return conj_inv_output_context_;
    }
    const std::shared_ptr<HomEvaluatorImpl> &getOutputEvaluator() const {
        return output_evaluator_;
    }
    const std::shared_ptr<BootstrapperImpl> &getInner() const { return inner_; }

    // ---- Fused modulus raise ---------------------------------------------------

    // Builds the prime set {q_0, q_(L+1)} (L the chain length) and, per
    // device, the level-1 polynomials holding the residues of those two primes
    // of the first CoeffToSlot step's plaintexts at the full log slot count.
    // The full-slot constants are made first when they are absent. Throws the
    // prime set's messages, "[BootConstants] The fused modulus raise needs two
    // temporary primes", and what makeBootConstants throws.
    void initFuseModRaise();
    const std::shared_ptr<PrimeModuli> &getFusePrimeModuli() const { return fuse_prime_moduli_; }
    const MultipleDevice<std::vector<Polynomial>> &getFuseModRaiseConstants() const {
        return fuse_mod_raise_constants_;
    }

    // ---- Helpers of the bootstrap roads ----------------------------------------

    // prod(primes 0..level_a of ctx_a) / prod(primes 0..level_b of ctx_b) in
    // double precision: 1.0 times every prime of ctx_a, then divided by every
    // prime of ctx_b. Throws kCompensationLevelMessage for a level outside a
    // chain and kCompensationNotFiniteMessage when the running product or the
    // result is not finite.
    static double computeModulusSwitchCompensation(const std::shared_ptr<ContextContent> &ctx_a,
                                                   const std::shared_ptr<ContextContent> &ctx_b,
                                                   u64 level_a, u64 level_b);
    // Every signed rotation amount reduced modulo the full slot count of ctx
    // (two's complement), so -1 becomes slots - 1.
    static std::vector<u64> convertFromSgnIdx(const std::vector<i64> &indices,
                                              const std::shared_ptr<ContextContent> &ctx);
    // The entry checks of a batch bootstrap on every ciphertext, in order:
    // level, the parameter's batch support, small parameter without
    // outsourcing, rescale counter. Throws kEmptyBatchMessage for an empty
    // list.
    void checkBatchBootstrappable(const std::vector<RingCiphertext> &cts) const;
    // The first step of a multi-secret bootstrap: ct levelled down to 3 (0
    // under coefficient bootstrapping), times the integer mult_before_s2c.
    CiphertextMSRLWE bootstrapMStoSSStepOne(const CiphertextMSRLWE &ct) const;

    // ---- Modular reduction (on this bootstrapper's evaluator and settings) ----

    // What the modular reduction runs on: the evaluator, the context, its
    // bootstrapping settings and the multiply-before-SlotToCoeff mode.
    ModReductionEnv modReductionEnv() const;
    void removeI(const RingCiphertext &in, RingCiphertext &out, double scale) const;
    void cosineApproxWithoutDoubleAngleFormula(const RingCiphertext &x, RingCiphertext &out,
                                               double a, u64 r) const;
    void doubleAngleFormula(const RingCiphertext &in, RingCiphertext &out, double a, u64 r) const;
    void arcsineApprox(const RingCiphertext &in, RingCiphertext &out, u64 degree, double a) const;
    void cosineApprox(const RingCiphertext &in, RingCiphertext &out, double a) const;
    void evaluateExponential(const RingCiphertext &in, RingCiphertext &out, double a) const;

    // ==== Bootstrap pipeline (BootstrapperPipeline*.cpp) ========================
    //
    // One bootstrap: the input levelled down (to 3, or 0 under coefficient
    // bootstrapping), times mult_before_s2c, SlotToCoeff, the modulus raise to
    // the top of the chain, folding of sparse slots, CoeffToSlot, the
    // conjugate-and-add, one rescale and the modular reduction. A full-slot
    // bootstrap ends at getLevelAfterFullSlotBootstrap().

    static constexpr const char *kBootLevelMessage =
        "[bootstrap] Level of ciphertext should be >= 3.";
    static constexpr const char *kBootSizeMessage = "[bootstrap] Size should be 2";
    static constexpr const char *kBootConstantsPrefix =
        "[bootstrap] Bootstrapping constants for log slots ";
    static constexpr const char *kCounterMessage = "The Operand should have rescale counter zero";
    static constexpr const char *kNoExtendedMessage =
        "This parameter does not support extended bootstrap";
    static constexpr const char *kExtendedLevelMessage =
        "[bootstrap extended] Level of ciphertext should be >= 4.";
    static constexpr const char *kExtendedSizeMessage = "[bootstrap extended] Size should be 2";
    static constexpr const char *kSlotEncodedMessage =
        "The operand have to encode the message on its slots";
    static constexpr const char *kCoeffEncodedMessage =
        "The operand have to encode the message on its coefficients";
    static constexpr const char *kRealBootMessage =
        "Real bootstrap is not enabled for this parameter";
    static constexpr const char *kRecoverNTTMessage =
        "[levelRecover] Input should be non-NTT form.";
    static constexpr const char *kRecoverPolyLevelMessage = "[levelRecover] Level should be zero.";
    static constexpr const char *kRecoverLevelMessage = "[levelRecover] Level should be zero";
    static constexpr const char *kRecoverCounterMessage =
        "[levelRecover] RescaleCounter should be zero";
    static constexpr const char *kSlotToCoeffLevelMessage =
        "[slotToCoeff] Level of ciphertext should be >= ";
    static constexpr const char *kDifferentDevicesMessage = "Operands are in different devices.";
    static constexpr const char *kNoOutputEvaluatorMessage =
        "[Bootstrapper] The extended bootstrap on a small parameter needs the output evaluator: "
        "run enableOutsourcing first";
    static constexpr const char *kOutsourcedNoOutputEvaluatorMessage =
        "[Bootstrapper] The outsourced bootstrap needs the output evaluator: run "
        "enableOutsourcing first";
    static constexpr const char *kNoInnerBootstrapperMessage =
        "[Bootstrapper] The outsourced bootstrap needs the inner bootstrapper: run "
        "enableOutsourcing first";
    static constexpr const char *kNoSparseContextMessage =
        "[Bootstrapper] The sparse-secret modulus raise needs the sparse-secret context: build "
        "the bootstrapper with context_sparse";
    static constexpr const char *kAliasedOutputsMessage =
        "[bootstrap] The real and the imaginary output must be two different ciphertexts";
    static constexpr const char *kDiagonalCountMessage =
        "[Bootstrapper] A radix step has fewer diagonals than its baby and giant counts need";
    static constexpr const char *kStepShapeMessage =
        "[Bootstrapper] A radix step needs positive baby and giant counts, and at least two baby "
        "steps after the first step";
    static constexpr const char *kMultiplierMessage =
        "[Bootstrapper] An integer multiplier of the bootstrap does not fit in 63 bits";
    // The roads that are not built yet.
    static constexpr const char *kFusedRaiseNotAvailable =
        "[Bootstrapper] The fused modulus raise is not yet available";
    static constexpr const char *kFusedFirstStepNotAvailable =
        "[Bootstrapper] The fused first CoeffToSlot step is not yet available";
    static constexpr const char *kFastRemoveINotAvailable =
        "[Bootstrapper] The fast removeI road is not yet available";

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

    // The centred residues of limb 0 of a level-0 polynomial (coefficient
    // form) written into limbs 0..level of out.
    void levelRecover(const Polynomial &in, Polynomial &out, u64 level) const;
    // Every polynomial of a level-0 ciphertext (counter 0, coefficient form)
    // raised to `level`; out takes in's polynomial count and log slots.
    void levelRecover(const RingCiphertext &in, RingCiphertext &out, u64 level) const;
    void levelRecover(const CiphertextMSRLWE &in, CiphertextMSRLWE &out, u64 level) const;

    // The homomorphic inverse DFT of the input's log slot count, ending at
    // level 0 (no encoding-type change).
    void slotToCoeff(const RingCiphertext &in, RingCiphertext &out) const;
    // Levelled down, slotToCoeff, marked coefficient-encoded and taken out of
    // NTT form.
    void levelDownAndSlotToCoeff(const RingCiphertext &in, RingCiphertext &out) const;
    // The SlotToCoeff step of the bit range `range` of a registered split.
    void slotToCoeffSingleStep(const RingCiphertext &in, RingCiphertext &out,
                               std::pair<u64, u64> range) const;
    // The homomorphic DFT after the modulus raise; one rescale stays pending.
    void coeffToSlot(const RingCiphertext &in, RingCiphertext &out) const;

    // exp(2 pi i x)-style roots of the integer part of the raised input
    // (see evaluateExponential), one output or real and imaginary parts.
    void integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out, double a) const;
    void integerToRootsBootstrap(const RingCiphertext &in, RingCiphertext &out_real,
                                 RingCiphertext &out_imag, double a) const;

    // ==== End of the bootstrap pipeline ==========================================

private:
    // Steps 2 to 5 of construction; `sparse_checks` adds the three checks of
    // the sparse-secret companion after the bootstrappable check.
    void construct(std::optional<u64> log_slots, bool sparse_checks);
    void checkSparseContext() const;
    // The constants of log_slots for the list forms: the split's last total
    // must be log_slots and the entry must exist.
    BootConstants &constantsForList(u64 log_slots, const std::vector<u64> &log_dft_sizes);
    // The constants of log_slots for the placement family (null for 0).
    BootConstants *constantsForPlacement(u64 log_slots);
    // The constants of log_slots placed on the device for one transform
    // (nothing for 0); the placement family's message when they are absent.
    const BootConstants *placedConstants(u64 log_slots, const Device &device, bool s2c) const;
    // The evaluator of the extended forms (the output evaluator on a small
    // parameter) and the constants both of their passes need.
    const HomEvaluatorImpl &extendedEvaluator(const RingCiphertext &in) const;
    // The outsourced road (an inner bootstrapper is set): what every form
    // shares before the inner bootstrap.
    struct OutsourcedInput;
    // The input levelled down by the output evaluator (to 3 when it is
    // slot-encoded, 0 under coefficient bootstrapping or for a coefficient
    // input), SlotToCoeff on this bootstrapper for a slot-encoded input, then
    // marked coefficient-encoded, out of NTT form and written over the inner
    // context; with the compensation of the modulus switch back to the
    // encryption level of the output evaluator (`extra_level` added to both
    // levels). Throws kNoInnerBootstrapperMessage or
    // kOutsourcedNoOutputEvaluatorMessage when the inner bootstrapper or the
    // output evaluator is not set, before any work.
    OutsourcedInput outsourcedInput(const RingCiphertext &in, u64 extra_level) const;
    // The inner bootstrapper's result switched down to `level` of the output
    // evaluator's context.
    void switchBackFromInner(const RingCiphertext &u, RingCiphertext &out, u64 level) const;
    // An integer multiplier of the settings as the evaluator's signed word
    // (kMultiplierMessage above 2^63 - 1).
    static i64 multiplier(u64 value);

    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<HomEvaluatorImpl> eval_;
    BootParameter boot_param_;
    // Entry 0 always exists and holds no constants (a null pointer).
    std::map<u64, std::unique_ptr<BootConstants>> boot_constants_;
    MultipleDevice<std::vector<Polynomial>> fuse_mod_raise_constants_;
    // Set only by the sparse-secret constructors.
    std::shared_ptr<ContextContent> context_sparse_;
    std::unique_ptr<KeySwitcher> key_switcher_sparse_;
    bool min_key_;
    bool C2S_use_min_key_ = false;
    bool use_multiply_const_before_S2C_ = true;
    // State of the fast removeI road, empty until it is enabled.
    std::shared_ptr<ContextContent> conj_inv_context_;
    std::shared_ptr<ContextContent> outsourced_context_;
    std::optional<RingSwitchKey> ring_switch_key_;
    std::shared_ptr<RingSwitchKey> ring_switch_key_back_;
    std::shared_ptr<Interpolator> interpolator_;
    std::shared_ptr<HomEvaluatorImpl> embed_evaluator_;
    std::shared_ptr<HomEvaluatorImpl> complex_evaluator_;
    std::shared_ptr<ContextContent> conj_inv_output_context_;
    // The evaluator that receives the results of the outsourced road.
    std::shared_ptr<HomEvaluatorImpl> output_evaluator_;
    std::shared_ptr<PrimeModuli> fuse_prime_moduli_;
    // The inner bootstrapper of the outsourced road, kept alive by this one
    // so that dropping the caller's handle leaves nothing dangling.
    std::shared_ptr<BootstrapperImpl> inner_;
    // The fast-removeI mask plaintexts, and their copies per device.
    std::vector<Plaintext> masks_;
    std::map<Device, std::vector<Plaintext>> masks_by_device_;
};

} // namespace Quelt
