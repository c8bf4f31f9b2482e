#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"

#include <cstdint>
#include <utility>

namespace Quelt {

class BootConstants;
class BootstrapperImpl;
class Polynomial;
struct RadixDecomposition;

// The homomorphic DFTs of a bootstrapper and the modulus raise between them:
// SlotToCoeff (one radix step per level, from the last step down to step 0),
// CoeffToSlot (step 0 up, leaving one rescale pending) and the level
// recovery of the raise. They run on the bootstrapper that owns this object:
// its context, evaluator, settings, modes, constants cache, sparse-secret
// companion and fused raise. The step mechanics are shared with the
// multi-secret transforms of MultiSecretRoad (DftSteps.hpp). The messages
// are those of BootstrapperMessages.
class BootTransforms {
public:
    using u64 = std::uint64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
    using CiphertextMSRLWE = CiphertextBase<EncryptionType::MSRLWE>;

    // `boot` owns the transforms and outlives them.
    explicit BootTransforms(const BootstrapperImpl &boot);
    BootTransforms(const BootTransforms &) = delete;
    BootTransforms &operator=(const BootTransforms &) = delete;

    // ---- Modulus raise ------------------------------------------------------------

    // The centred residues of limb 0 of a level-0 polynomial (coefficient
    // form) written into limbs 0..level of out.
    void levelRecover(const Polynomial &in, Polynomial &out, u64 level) const;
    // Every polynomial of a level-0 ciphertext (counter 0, coefficient form)
    // raised to `level`; out takes in's polynomial count and log slots.
    void levelRecover(const RingCiphertext &in, RingCiphertext &out, u64 level) const;
    void levelRecover(const CiphertextMSRLWE &in, CiphertextMSRLWE &out, u64 level) const;
    // The ordinary modulus raise of a level-0 ciphertext to the top of the
    // chain: the level-0 residues lifted centred to every prime, in NTT
    // form. Under sparse-secret encapsulation the ciphertext is moved onto
    // the sparse secret before and back onto the main secret after
    // (kNoSparseContextMessage without the companion).
    template <EncryptionType ET>
    void raiseToTop(CiphertextBase<ET> &r) const;
    // The raise of a full-slot bootstrap on a fusing context, from the level-0
    // ciphertext after SlotToCoeff: onto the sparse secret first (coefficient
    // form) when the context encapsulates it, else out of NTT form; then the
    // fused-raise road's preparation (FusedRaiseRoad::prepare), whose first
    // CoeffToSlot step finishes the raise.
    template <EncryptionType ET>
    void raiseFused(CiphertextBase<ET> &r) const;

    // ---- SlotToCoeff ----------------------------------------------------------------

    // The homomorphic inverse DFT of the input's log slot count, ending at
    // level 0 (no encoding-type change).
    void slotToCoeff(const RingCiphertext &in, RingCiphertext &out) const;
    // Levelled down, slotToCoeff, marked coefficient-encoded and taken out of
    // NTT form.
    void levelDownAndSlotToCoeff(const RingCiphertext &in, RingCiphertext &out) const;
    // The SlotToCoeff step of the bit range `range` of a registered split.
    void slotToCoeffSingleStep(const RingCiphertext &in, RingCiphertext &out,
                               std::pair<u64, u64> range) const;

    // ---- CoeffToSlot ----------------------------------------------------------------

    // The homomorphic DFT after the modulus raise; one rescale stays pending.
    // On a context that fuses the modulus raise, step 0 is the fused-raise
    // road's firstStepOfC2S.
    void coeffToSlot(const RingCiphertext &in, RingCiphertext &out) const;

    // ---- Mechanics of both encryption types ---------------------------------------

    // The SlotToCoeff steps of rd from the last down, after the surplus of
    // `budget` over them, on result (which starts as the transform's input).
    template <EncryptionType ET>
    void slotToCoeffSteps(const CiphertextBase<ET> &in, const BootConstants *constants,
                          const RadixDecomposition &rd, u64 budget,
                          CiphertextBase<ET> &result) const;
    // The SlotToCoeff step of `range`, run on `result` (in, or in copied into
    // another context).
    template <EncryptionType ET>
    void slotToCoeffStepOf(const CiphertextBase<ET> &in, CiphertextBase<ET> result,
                           std::pair<u64, u64> range, CiphertextBase<ET> &out) const;
    // The CoeffToSlot scale constant over the levels of `budget` beyond
    // `steps`; the last multiplication's rescale stays pending.
    template <EncryptionType ET>
    void coeffToSlotScaling(CiphertextBase<ET> &ct, u64 budget, u64 steps, u64 log_slots) const;
    // CoeffToSlot over the parameter's split of the input's log slot count.
    template <EncryptionType ET>
    void coeffToSlotOf(const CiphertextBase<ET> &in, CiphertextBase<ET> &out) const;

private:
    const BootstrapperImpl &boot_;
};

} // namespace Quelt
