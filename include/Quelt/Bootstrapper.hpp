#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Message.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

class ContextContent;
class BootstrapperImpl;
class Interpolator;
class RingSwitchKey;
class MStoSSKeyBundle;
class MultiSecretSwitchKeyBundle;

// Typical use, the ordinary road (FX, FGb, FTb, ...):
//
//   KeyPack pack(ctx);
//   const KeyGenerator keygen(ctx, sk, pack);
//   keygen.genMultKey();
//   keygen.genConjKey();
//   keygen.genRotKeysForBootstrap(getLogFullSlots(ctx), min_key);
//   const HomEvaluator eval(ctx, pack);
//   const Bootstrapper boot(eval, min_key);   // the min_key of the keys
//   eval.levelDown(ct, boot.getMinLevelForBootstrap(), ct); // if above it
//   boot.bootstrap(ct, out, true);  // out at getLevelAfterFullSlotBootstrap()
//
// A ciphertext of 2^s slots (s below the full count) needs the constants of
// s (Bootstrapper(eval, s, min_key) or makeBootConstants(s)) and the keys of
// genRotKeysForBootstrap(s, min_key). The levels between
// getMinLevelForBootstrap() and the level after a bootstrap are what the
// program may spend before the next one.
//
// The other roads add contexts and keys (the context's feature predicates
// tell which apply; docs/presets.md lists them per preset):
//
// - Sparse secret (isSparseSecretEncapsulationSupported, e.g. FGd): with
//   sparse = makeContext(getSparseParameterPresetFor(preset)), make the pack
//   as KeyPack(ctx, sparse) and the generator as KeyGenerator(ctx, sparse,
//   sk, pack); add keygen.genSparseSecretEncapsulationKey(); build the
//   bootstrapper as Bootstrapper(eval, sparse, min_key).
// - Fused raise (isFuseModRaiseSupported, e.g. FGe): add
//   keygen.genFuseRotKeyBundle(). With the sparse secret as well (FGbSSE,
//   FGf) call keygen.genFuseRotKeyBundleWithSSE() instead of both
//   genSparseSecretEncapsulationKey and genFuseRotKeyBundle: it makes the
//   encapsulation key and the fused keys of one new sparse secret.
// - Outsourced (isOutsourcedBootstrapSupported, e.g. FGe with FGeO): the
//   companion inner = makeContext(getOutsourcingParameterPresetFor(preset))
//   gets the same secret, SecretKeyBase<EncryptionType::RLWE>(inner,
//   sk.getCoefficients()), and its own pack, keys (of its own road, as
//   above), evaluator and Bootstrapper; then boot.enableOutsourcing(
//   inner_boot). genRotKeysForBootstrap leaves out of each side the
//   rotations the other side runs, so such presets bootstrap through their
//   companion.
// - Fast removeI (isReRemoveI, e.g. FGf): with embed = makeContext(preset,
//   "embed", 1, false, true) (twice the degree) and conj = makeContext(
//   preset, "real", 1, true, false) (the conjugate-invariant ring), a secret
//   conj_sk of conj, s_embed = genEmbedSecretKey(embed, sk) and s_inv =
//   genConjInvSecretKey(embed, conj_sk): key = KeyGenerator(embed)
//   .genSwitchKey(s_embed, s_inv), key_back the switch from s_inv to
//   s_embed, an Interpolator over a HomEvaluator of conj whose pack holds
//   conj_sk's multiplication key, then boot.enableFastRemoveI(embed, conj,
//   key, key_back, interp).
//
// Refreshes ciphertexts of a bootstrappable context whose levels are used up.
// A bootstrapper drives the evaluator of the HomEvaluator it was built from,
// so it uses that evaluator's key pack: the rotation, conjugation and
// multiplication keys of bootstrapping must be there (or in its key
// directory) before a bootstrap runs.
//
// Copies of a Bootstrapper share one implementation: its cache of DFT
// constants per log slot count and its mode settings.
//
// The constants cache is not guarded: makeBootConstants must not run while
// another thread bootstraps with the same bootstrapper (or a copy).
//
// Every error is a RuntimeException; a failing call changes nothing.
class Bootstrapper {
public:
    using u64 = std::uint64_t;

    // A bootstrapper over the evaluator's context, with the constants of
    // log_slots (the full log slot count when not given; log_slots 0 makes
    // none). min_key makes both transforms use the chains of rotations that
    // need the fewest keys. On a context that fuses the modulus raise the
    // fused constants are built too. Throws "The Parameter does not support
    // bootstrap" for a context that is not bootstrappable, and what
    // makeBootConstants(log_slots) throws.
    Bootstrapper(const HomEvaluator &eval, bool min_key);
    Bootstrapper(const HomEvaluator &eval, u64 log_slots, bool min_key);

    // The same with the sparse-secret companion context whose key switcher
    // performs the modulus raise through a sparse secret. After the
    // bootstrappable check, in this order: "[Bootstrapper] context does not
    // support sparse secret encapsulation", "[Bootstrapper] parameter of
    // context and context_sparse does not match" (context_sparse is not the
    // companion preset), "[Bootstrapper] The num_secret of subparameter for
    // SSE does not match to the original's". These come before any constant
    // is made.
    Bootstrapper(const HomEvaluator &eval, const std::shared_ptr<ContextContent> &context_sparse,
                 bool min_key);
    Bootstrapper(const HomEvaluator &eval, const std::shared_ptr<ContextContent> &context_sparse,
                 u64 log_slots, bool min_key);

    // ---- Constants ----------------------------------------------------------

    // True for log_slots 0, otherwise when the constants of log_slots exist.
    bool isBootstrapReady(u64 log_slots) const;

    // Makes the constants of log_slots if they do not exist yet (an existing
    // entry is kept as it is); 0 makes none. Throws "[makeBootConstants]
    // log_slots should not exceed <full log slot count>", and on a context
    // that fuses the modulus raise "[Bootstrapper] Sparse-slot bootstrapping
    // needs the full log slot count <count> on this parameter" for 0 <
    // log_slots < full.
    void makeBootConstants(u64 log_slots);
    // (Re)makes the SlotToCoeff constants of log_slots for the radix split
    // given by running totals of bit positions (last element log_slots),
    // step j encoded at levels[j] ({1, 2, 3} in the two-argument form), with
    // the matrices scaled by `scale` (the parameter's own scale when absent).
    // Throws "[makeBootConstants] log_slots should be equal to the last
    // element of log_dft_sizes" (also for an empty list), "Bootstrapping
    // constants for log slots <log_slots> do not exist." (make them first),
    // and the constants' messages for a bad split, a levels list shorter
    // than the step count or a scale that is not finite and positive.
    void makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes);
    void makeBootConstants(u64 log_slots, const std::vector<u64> &log_dft_sizes,
                           const std::vector<u64> &levels, std::optional<double> scale);
    // The SlotToCoeff diagonals of that split as messages, one list per step.
    // Same checks as the list form of makeBootConstants.
    std::vector<std::vector<Message>> getMessageV0Diagonals(u64 log_slots,
                                                            const std::vector<u64> &log_dft_sizes);

    // Placement of the constants of log_slots on a device: all of them, the
    // SlotToCoeff ones or the CoeffToSlot ones copied there if absent, or
    // every other device's copy of one transform's constants dropped.
    // log_slots 0 does nothing; missing constants throw "Bootstrapping
    // constants for log slots <log_slots> do not exist.".
    void loadBootConstants(u64 log_slots, const Device &device);
    void loadS2CConstants(u64 log_slots, const Device &device);
    void loadC2SConstants(u64 log_slots, const Device &device);
    void removeExceptS2CConstants(u64 log_slots, const Device &device);
    void removeExceptC2SConstants(u64 log_slots, const Device &device);

    // ---- Levels -------------------------------------------------------------

    // The level of a full-slot bootstrap's result. Throws "This
    // arcsine_degree is not supported" for a parameter whose arcsine degree
    // is not 1, 3 or 7.
    u64 getLevelAfterFullSlotBootstrap() const;
    // The lowest level a bootstrap accepts: 0 under coefficient
    // bootstrapping, else 3.
    u64 getMinLevelForBootstrap() const;

    // ---- Bootstrapping -------------------------------------------------------

    using Ciphertext = HomEvaluator::Ciphertext;

    // Refreshes a slot-encoded ciphertext of 2^log_slots slots (level at
    // least 3, two polynomials, rescale counter 0, constants of its log slot
    // count made): the result carries the same message at
    // getLevelAfterFullSlotBootstrap(). The real form (complex false) keeps
    // only the real parts and is refused under coefficient bootstrapping
    // ("Real bootstrap is not enabled for this parameter"). Checks, in this
    // order: "The operand have to encode the message on its slots",
    // "[bootstrap] Level of ciphertext should be >= 3.", "[bootstrap] Size
    // should be 2", "[bootstrap] Bootstrapping constants for log slots <s> do
    // not exist.", "The Operand should have rescale counter zero".
    // On a sparse-secret parameter the modulus raise runs on the sparse
    // secret: a bootstrapper built without the sparse context refuses with
    // "[Bootstrapper] The sparse-secret modulus raise needs the bootstrapper
    // built with the sparse-secret context", and a key pack
    // without the encapsulation key fails with "Failed to load sparse secret
    // encapsulation key". Roads known not to reach their precision refuse
    // with a message naming the cause and the road to take: every bootstrap
    // of FTa and Discrete_G10, everything of FGfL7 and FGfL7Low on their own
    // chains (they bootstrap through enableOutsourcing), and of a small
    // parameter (no CoeffToSlot constants). The precision of every
    // preset and road is listed in docs/bootstrap-precision.md.
    void bootstrap(const Ciphertext &in, Ciphertext &out, bool complex) const;
    // The real parts and the imaginary parts of the slots, each times scale,
    // as two ciphertexts of real slots. Same checks.
    void bootstrap(const Ciphertext &in, Ciphertext &out_real, Ciphertext &out_imag,
                   double scale) const;
    // Two bootstraps for more precision: the message scaled down by 2^e1 is
    // bootstrapped, then the remaining error scaled up by 2^e2 (e1, e2 of the
    // parameter). Checks: the slot encoding (one-output form), "This
    // parameter does not support extended bootstrap", "[bootstrap extended]
    // Level of ciphertext should be >= 4.", "[bootstrap extended] Size should
    // be 2", the rescale counter, then the constants of the input's and of
    // the full log slot count.
    void bootstrapExtended(const Ciphertext &in, Ciphertext &out, bool complex) const;
    void bootstrapExtended(const Ciphertext &in, Ciphertext &out_real, Ciphertext &out_imag) const;
    // The bootstrap of a coefficient-encoded ciphertext (as slotToCoeff
    // makes it): everything after SlotToCoeff. Refuses a slot-encoded input
    // with "The operand have to encode the message on its coefficients", then
    // the checks of bootstrap. The outsourced road keeps no real part:
    // keep_real there throws "[halfBoot] keep_real is not available on the
    // road outsourced to <inner> (its result cannot come back one level above
    // the encryption level): call halfBoot with keep_real = false".
    void halfBoot(const Ciphertext &in, Ciphertext &out, bool complex, bool keep_real) const;
    void halfBoot(const Ciphertext &in, Ciphertext &out_real, Ciphertext &out_imag) const;
    // The ciphertext levelled down to 3 (0 under coefficient bootstrapping)
    // and taken through the homomorphic inverse DFT: coefficient-encoded, in
    // coefficient form at level 0, slot j's real and imaginary parts (times
    // the SlotToCoeff scale) in coefficients j g and N/2 + j g (g = N / 2 /
    // 2^log_slots). Throws "The operand have to encode the message on its
    // slots" and "[slotToCoeff] Level of ciphertext should be >= 3".
    void slotToCoeff(const Ciphertext &in, Ciphertext &out) const;
    // One SlotToCoeff step, chosen by its bit range, of a split made by the
    // list form of makeBootConstants.
    void slotToCoeffSingleStep(const Ciphertext &in, Ciphertext &out,
                               std::pair<u64, u64> range) const;
    // The same step for a multi-secret ciphertext. Throws "Operands are in
    // different devices." when in and out are on different devices, and on a
    // small-parameter bootstrapper with an input of another context "[bootstrap]
    // ctxt_out should have the same context as bootstrapper" unless out carries
    // the bootstrapper's context. out changes only when the step completes.
    void slotToCoeffSingleStepMSRLWE(const HomEvaluator::CiphertextMSRLWE &in,
                                     HomEvaluator::CiphertextMSRLWE &out,
                                     std::pair<u64, u64> range) const;
    // The integer part of the raised message turned into roots of unity
    // (the bootstrap without its modular reduction, then the exponential).
    void integerToRootsBootstrap(const Ciphertext &in, Ciphertext &out) const;
    void integerToRootsBootstrap(const Ciphertext &in, Ciphertext &out_real,
                                 Ciphertext &out_imag) const;

    // ---- Multi-secret and batch bootstrapping ----------------------------------
    //
    // The bootstrapper is built over a multi-secret context of k secrets.
    // bootstrapMStoSS refreshes a multi-secret ciphertext of k bodies once in
    // the multi-secret ring and returns k single-secret ciphertexts of the
    // Interpolator's context (the output evaluator's on the outsourced road),
    // in the order of the secrets, each reduced by the Interpolator. A batch
    // bootstrap packs 2, 4, 8 or 16 ciphertexts (k of the context) into one
    // multi-secret ciphertext with the bundle's keys and bootstraps that.
    // The two-output forms give real and imaginary parts on the output
    // evaluator (set by enableOutsourcing or enableFastRemoveIMSRLWE); their
    // lists may be empty (filled) or hold one entry per result, else
    // "[Bootstrapper] The number of allocated ciphertexts is not equal to the
    // input ciphertexts".
    //
    // Messages of the checks: "bootstrapMStoSS is not supported for C2S-first
    // bootstrap parameters"; "This parameter does not support double
    // hoisting."; the batch checks of every input ("[bootstrap] The list of
    // ciphertexts is empty", "[bootstrap] Level of ciphertext should be >=
    // 3.", "[Bootstrap] This parameter does not support batch bootstrap",
    // "[Bootstrap] This small param does not support outsourced bootstrap.",
    // "The Operand should have rescale counter zero"); "The input batch
    // number of batchBootstrap is not supported yet."; "[Bootstrap] The
    // ciphertexts of a batch must share one encoding type"; conjugate-invariant
    // results before enableConjInvOutput: "[Bootstrapper]
    // enableConjInvOutput must be performed in advance if you want to use the
    // conjugate invariant  output."; a missing output or complex evaluator
    // names the enable operation to run. The output lists change only when a
    // call succeeds.
    using CiphertextMSRLWE = HomEvaluator::CiphertextMSRLWE;

    void bootstrapMStoSS(const CiphertextMSRLWE &in, const MStoSSKeyBundle &bundle,
                         const Interpolator &interp, std::vector<Ciphertext> &out) const;
    void bootstrapMStoSS(const CiphertextMSRLWE &in, const MStoSSKeyBundle &bundle,
                         const Interpolator &interp, std::vector<Ciphertext> &out_real,
                         std::vector<Ciphertext> &out_imag) const;
    // With hoisted key switching, on double-hoisting parameters only.
    void bootstrapMStoSSOptimized(const CiphertextMSRLWE &in, const MStoSSKeyBundle &bundle,
                                  const Interpolator &interp, std::vector<Ciphertext> &out) const;
    // conj_inv_output gives the results in the context set by
    // enableConjInvOutput.
    void batchBootstrap(const std::vector<Ciphertext> &in, const MultiSecretSwitchKeyBundle &bundle,
                        const Interpolator &interp, std::vector<Ciphertext> &out,
                        bool conj_inv_output) const;
    void batchBootstrap(const std::vector<Ciphertext> &in, const MultiSecretSwitchKeyBundle &bundle,
                        const Interpolator &interp, std::vector<Ciphertext> &out_real,
                        std::vector<Ciphertext> &out_imag) const;
    // Two batch bootstraps for more precision, as bootstrapExtended.
    void batchBootstrapExtended(const std::vector<Ciphertext> &in,
                                const MultiSecretSwitchKeyBundle &bundle,
                                const Interpolator &interp, std::vector<Ciphertext> &out) const;
    void batchBootstrapExtended(const std::vector<Ciphertext> &in,
                                const MultiSecretSwitchKeyBundle &bundle,
                                const Interpolator &interp, std::vector<Ciphertext> &out_real,
                                std::vector<Ciphertext> &out_imag) const;

    // ---- Modes --------------------------------------------------------------

    // Outsourced bootstrapping: the inner bootstrapper (over the outsourcing
    // companion context) runs the middle of the bootstrap and `eval` (this
    // bootstrapper's own evaluator in the one-argument form) receives the
    // results. The inner bootstrapper is kept alive by this one. Checks, in
    // this order: "[Bootstrapper] The parameter does not support outsourced
    // bootstrap", "[Bootstrapper] The parameter and input outsourcing
    // parameter does not match", "[Bootstrapper] The parameter of the input
    // HomEvaluator should be single secret and not small", then "[Bootstrapper]
    // The outsourced road through <inner> returns its result from a modulus
    // smaller than the output chain's at its encryption level by <n> bits,
    // which the switch back multiplies the error by: bootstrap on the
    // preset's own chain" when n exceeds 8 (the KAPLO outsourcing companions:
    // 22 to 28 bits). Afterwards every
    // bootstrap and integerToRootsBootstrap levels its input down with
    // `eval`, runs SlotToCoeff here, bootstraps on the inner bootstrapper
    // (whose key pack must hold the same secret's keys) and returns the
    // result switched onto the chain of `eval`'s context at its encryption
    // level.
    void enableOutsourcing(const Bootstrapper &inner, const HomEvaluator &eval);
    void enableOutsourcing(const Bootstrapper &inner);

    // The conjugate-invariant context that batch bootstraps put their
    // results in; replaces an earlier one, checks nothing.
    void enableConjInvOutput(const std::shared_ptr<ContextContent> &context);

    // The fast removeI road of a context with the re-remove-I flag (its
    // complex bootstraps need it): ctx_embed is the ring of twice the degree,
    // ctx_conj_inv the conjugate-invariant ring of the reduction, `key`
    // switches from s(Y^2) to the embedding ring's secret (which must be
    // invariant under Y -> Y^-1), `key_back` from that secret back to
    // s(Y^2), and `interp` runs the reduction over ctx_conj_inv. A later call
    // replaces contexts, keys, evaluators and interpolator; the two masks
    // are made by the first call only. A complex bootstrap on such a context
    // without this throws "[Bootstrapper] The fast removeI road needs its
    // contexts, keys and interpolator: call enableFastRemoveI first".
    void enableFastRemoveI(const std::shared_ptr<ContextContent> &ctx_embed,
                           const std::shared_ptr<ContextContent> &ctx_conj_inv,
                           const RingSwitchKey &key, const RingSwitchKey &key_back,
                           const Interpolator &interp);
    // The same for the multi-secret roads, plus an evaluator over ctx_complex
    // and `eval` as the evaluator that receives their results.
    void enableFastRemoveIMSRLWE(const std::shared_ptr<ContextContent> &ctx_embed,
                                 const std::shared_ptr<ContextContent> &ctx_complex,
                                 const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                 const RingSwitchKey &key, const RingSwitchKey &key_back,
                                 const Interpolator &interp, const HomEvaluator &eval);
    // On a bootstrapper with outsourcing enabled: enableFastRemoveIMSRLWE on
    // the inner bootstrapper, and ctx_outer and `eval` kept by this one.
    // Without an inner bootstrapper: "[Bootstrapper] There is no internal
    // outsourced bootstrapper. Enable outsourcing first", nothing changed.
    void enableOutsourcedFastRemoveIMSRLWE(const std::shared_ptr<ContextContent> &ctx_outer,
                                           const std::shared_ptr<ContextContent> &ctx_embed,
                                           const std::shared_ptr<ContextContent> &ctx_complex,
                                           const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                           const RingSwitchKey &key, const RingSwitchKey &key_back,
                                           const Interpolator &interp, const HomEvaluator &eval);

    // CoeffToSlot alone uses the minimal-key rotation chains (default false).
    void setC2Suseminkey(bool use_min_key);
    bool getC2Suseminkey() const;
    // Multiply by the parameter's integer before SlotToCoeff (default true);
    // the setting passes on to the inner bootstrapper of outsourcing.
    void setStatusUseMultiplyConstBeforeS2C(bool use);
    bool getStatusUseMultiplyConstBeforeS2C() const;

    std::shared_ptr<ContextContent> getContext() const;

private:
    std::shared_ptr<BootstrapperImpl> impl_;
};

} // namespace Quelt
