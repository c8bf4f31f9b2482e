#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace Quelt {

class BootstrapperImpl;
class ContextContent;
class HomEvaluatorImpl;
class Interpolator;
class MStoSSKeyBundle;
class MultiSecretSwitchKeyBundle;

// The multi-secret and batch roads of a bootstrapper. An MSRLWE ciphertext
// of k bodies is bootstrapped once in the multi-secret ring (multi-secret
// SlotToCoeff, raise, folding, multi-secret CoeffToSlot) and split into k
// single-secret ciphertexts, each reduced by the caller's Interpolator, whose
// evaluator's context is the context of the results. A batch of 2, 4, 8 or
// 16 RLWE ciphertexts is first packed into one MSRLWE ciphertext.
//
// The road owns one piece of state, the context of conjugate-invariant
// results (empty until enableConjInvOutput). Everything else it reads from
// the bootstrapper that owns it: the context, evaluator and settings, the
// constants, the raise, the transform mechanics, and the fast removeI and
// outsourced roads. On the outsourced road the inner bootstrapper's
// multi-secret road runs the back half. The messages are those of
// BootstrapperMessages.
//
// Nothing here takes a lock: enableConjInvOutput must not run while another
// thread bootstraps.
class MultiSecretRoad {
public:
    using u64 = std::uint64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
    using CiphertextMSRLWE = CiphertextBase<EncryptionType::MSRLWE>;
    using RingCiphertexts = std::vector<RingCiphertext>;
    using RingCiphertextPair = std::pair<RingCiphertexts, RingCiphertexts>;

    // `boot` owns the road and outlives it.
    explicit MultiSecretRoad(const BootstrapperImpl &boot);
    MultiSecretRoad(const MultiSecretRoad &) = delete;
    MultiSecretRoad &operator=(const MultiSecretRoad &) = delete;

    void enableConjInvOutput(const std::shared_ptr<ContextContent> &context) {
        conj_inv_output_context_ = context;
    }
    const std::shared_ptr<ContextContent> &getConjInvOutputContext() const {
        return conj_inv_output_context_;
    }

    // ---- Entry steps ----------------------------------------------------------

    // The entry checks of a batch bootstrap on every ciphertext, in order:
    // level, the parameter's batch support, small parameter without
    // outsourcing, rescale counter. Throws kEmptyBatchMessage for an empty
    // list.
    void checkBatchBootstrappable(const RingCiphertexts &cts) const;
    // The first step of a multi-secret bootstrap: ct levelled down to 3 (0
    // under coefficient bootstrapping), times the integer mult_before_s2c.
    CiphertextMSRLWE bootstrapMStoSSStepOne(const CiphertextMSRLWE &ct) const;

    // ---- MStoSS (MultiSecretRoad.cpp) -------------------------------------------

    // k refreshed RLWE ciphertexts of the Interpolator's context (of the
    // output evaluator's context on the outsourced road), one per body of ms,
    // in the order of the secrets, each times scale. Refuses a
    // coefficient-bootstrapping context first.
    RingCiphertexts bootstrapMStoSS(const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle,
                                    const Interpolator &interp, double scale) const;
    // The real and imaginary parts of the results, on the output evaluator.
    // out_real and out_imag only give the count: empty, or one entry per body
    // of ms (kAllocatedCountMessage otherwise); the results are returned.
    RingCiphertextPair bootstrapMStoSS(const CiphertextMSRLWE &ms, const MStoSSKeyBundle &bundle,
                                       const Interpolator &interp, const RingCiphertexts &out_real,
                                       const RingCiphertexts &out_imag) const;
    // The hoisted form, on double-hoisting contexts only.
    RingCiphertexts bootstrapMStoSSOptimized(const CiphertextMSRLWE &ms,
                                             const MStoSSKeyBundle &bundle,
                                             const Interpolator &interp, double scale) const;
    // The back half of every multi-secret road: SlotToCoeff of a
    // slot-encoded input, the raise (ordinary, through the sparse secret, or
    // fused), folding, CoeffToSlot, and the split into single-secret
    // ciphertexts reduced by the Interpolator (or the fast removeI road into
    // out_context, or conjugate-invariant results).
    RingCiphertexts bootstrapMStoSSStepTwo(const CiphertextMSRLWE &ms,
                                           const MStoSSKeyBundle &bundle,
                                           const Interpolator &interp,
                                           const std::shared_ptr<ContextContent> &out_context,
                                           double scale, bool conj_inv_output) const;

    // ---- Batches (MultiSecretRoad.cpp) --------------------------------------------

    // The batch roads. Every form refuses an empty list first.
    RingCiphertexts batchBootstrap(const RingCiphertexts &in,
                                   const MultiSecretSwitchKeyBundle &bundle,
                                   const Interpolator &interp, double scale,
                                   bool conj_inv_output) const;
    RingCiphertextPair batchBootstrap(const RingCiphertexts &in,
                                      const MultiSecretSwitchKeyBundle &bundle,
                                      const Interpolator &interp, const RingCiphertexts &out_real,
                                      const RingCiphertexts &out_imag) const;
    RingCiphertexts batchBootstrapExtended(const RingCiphertexts &in,
                                           const MultiSecretSwitchKeyBundle &bundle,
                                           const Interpolator &interp) const;
    // The extended batch bootstrap of half the input.
    RingCiphertexts batchBootstrapExtendedMultHalf(const RingCiphertexts &in,
                                                   const MultiSecretSwitchKeyBundle &bundle,
                                                   const Interpolator &interp) const;
    RingCiphertextPair batchBootstrapExtended(const RingCiphertexts &in,
                                              const MultiSecretSwitchKeyBundle &bundle,
                                              const Interpolator &interp,
                                              const RingCiphertexts &out_real,
                                              const RingCiphertexts &out_imag) const;

    // ---- Multi-secret DFTs (MultiSecretRoadDFT.cpp) -------------------------------
    //
    // The transforms of the pipeline for multi-secret ciphertexts, on the
    // multi-secret rotations, inner products and rotation sums of the
    // evaluator. out changes only when a transform returns. The hoisted
    // CoeffToSlot weighs extended parts, so its diagonals must carry the
    // extended basis (a double-hoisting parameter); others are refused by
    // the inner product ("[PrimeModuli] An inner product term lacks a limb of
    // the walk.").

    // SlotToCoeff over the default split of the input's log slot count, with
    // a budget of three levels (the surplus over the split's steps spent on
    // the cube root of the SlotToCoeff scale) and no multiplier before it.
    // The constants' message of the load, then the device check of each step.
    void slotToCoeffMSRLWE(const CiphertextMSRLWE &in, CiphertextMSRLWE &out) const;
    // CoeffToSlot as for ring ciphertexts: the parameter's split, the
    // min-key chains with min_key or the CoeffToSlot min-key mode, the same
    // scaling tail; one rescale stays pending.
    void coeffToSlotMSRLWE(const CiphertextMSRLWE &in, CiphertextMSRLWE &out) const;
    // CoeffToSlot over the default split with hoisted key switching: per
    // radix step the baby rotations are chained lazily (their switched body
    // parts kept over the extended basis), the giant blocks are the inner
    // products of the diagonals with the rotations and with their extended
    // parts, the giant chain runs lazily, and one division by P ends the
    // step. Rescales after every step but step 2; a split of at most two
    // steps is followed by the scaling tail of a three-level budget. The
    // device check runs after the baby steps of each step.
    void coeffToSlotMSRLWEDoubleHoist(const CiphertextMSRLWE &in, CiphertextMSRLWE &out) const;
    // One SlotToCoeff step of a registered split. First the device check of
    // in against out; on a small-parameter bootstrapper with an input of
    // another (not small) context, out must carry the bootstrapper's context
    // (kSmallContextOutputMessage) and the input is copied into it.
    void slotToCoeffSingleStepMSRLWE(const CiphertextMSRLWE &in, CiphertextMSRLWE &out,
                                     std::pair<u64, u64> range) const;

private:
    // The evaluator of the single-secret work: the output evaluator on
    // re-remove-I contexts (kNoMultiSecretOutputEvaluatorMessage when unset),
    // the Interpolator's evaluator otherwise.
    const HomEvaluatorImpl &singleSecretEvaluator(const Interpolator &interp) const;
    // The fast-removeI state the back half reads on re-remove-I contexts
    // (the complex evaluator only for complex results).
    void checkFastRemoveIMSRLWEState(bool conj_inv_output) const;
    // Conjugate split, two MStoSS into the Interpolator's context, removeI of
    // each part and recombination: one result per body of t.
    RingCiphertexts splitAndRemoveI(const CiphertextMSRLWE &t, const MStoSSKeyBundle &bundle,
                                    const Interpolator &interp, double scale) const;
    // The fast removeI road of the back half (t after CoeffToSlot).
    RingCiphertexts fastRemoveIMSRLWE(CiphertextMSRLWE &t, const MStoSSKeyBundle &bundle,
                                      const Interpolator &interp,
                                      const std::shared_ptr<ContextContent> &out_context,
                                      double scale, bool conj_inv_output) const;
    // The blocks of batchBootstrap after its checks. The inputs levelled down
    // and times mult_before_s2c on e (a coefficient-encoded input through
    // level 0 in NTT form).
    RingCiphertexts prepareBatch(const RingCiphertexts &in, const HomEvaluatorImpl &e) const;
    // The road on this bootstrapper's own chain: pack, back half, and under
    // coefficient bootstrapping the way back to the coefficients.
    RingCiphertexts batchOnOwnChain(const RingCiphertexts &in, const RingCiphertexts &prepared,
                                    const MultiSecretSwitchKeyBundle &bundle,
                                    const Interpolator &interp,
                                    const std::shared_ptr<ContextContent> &out_context,
                                    double scale, bool conj_inv_output) const;
    // The outsourced road: packed over the single-secret context, SlotToCoeff
    // here, the back half on the inner bootstrapper, the results switched
    // into out_context.
    RingCiphertexts batchOutsourced(const RingCiphertexts &in, RingCiphertexts prepared,
                                    const MultiSecretSwitchKeyBundle &bundle,
                                    const Interpolator &interp, const HomEvaluatorImpl &e,
                                    const std::shared_ptr<ContextContent> &out_context,
                                    double scale, bool conj_inv_output) const;
    // Both passes of the extended batch bootstrap; `half` gives half the input.
    RingCiphertexts batchBootstrapExtendedPasses(const RingCiphertexts &in,
                                                 const MultiSecretSwitchKeyBundle &bundle,
                                                 const Interpolator &interp, bool half) const;
    // The caller's two-output lists: empty, or one entry per result
    // (kAllocatedCountMessage); the output evaluator must be set
    // (kNoMultiSecretOutputEvaluatorMessage; first when a list is empty).
    void checkAllocated(u64 n, const RingCiphertexts &out_real,
                        const RingCiphertexts &out_imag) const;
    // The real and imaginary parts of every result on the output evaluator.
    RingCiphertextPair splitOnOutputEvaluator(const RingCiphertexts &results) const;

    const BootstrapperImpl &boot_;
    std::shared_ptr<ContextContent> conj_inv_output_context_;
};

} // namespace Quelt
