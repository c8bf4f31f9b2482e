#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/Device.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/MultipleDevice.hpp"
#include "Quelt/Plaintext.hpp"
#include "Quelt/RingSwitchKey.hpp"
#include "boot/BootConstantsCache.hpp"
#include "boot/BootParameter.hpp"
#include "boot/BootPipeline.hpp"
#include "boot/BootTransforms.hpp"
#include "boot/BootstrapperMessages.hpp"
#include "boot/FastRemoveIRoad.hpp"
#include "boot/FusedRaiseRoad.hpp"
#include "boot/ModularReduction.hpp"
#include "boot/MultiSecretRoad.hpp"
#include "boot/OutsourcedRoad.hpp"
#include "boot/SparseSecretRaise.hpp"
#include "context/Polynomial.hpp"

#include <cstdint>
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

// The mode settings of a bootstrapper: minimal key-switching keys (fixed at
// construction), the min-key chains of CoeffToSlot alone, and the
// multiplication by mult_before_s2c inside SlotToCoeff on a full packed base
// modulus (also the modular reduction's option of that name).
struct BootModes {
    bool min_key = false;
    bool c2s_use_min_key = false;
    bool multiply_const_before_s2c = true;
};

// The state behind a Bootstrapper (shared by its copies): the context and
// evaluator, the parameter's bootstrapping settings, the mode settings, and
// the parts that own their state: the DFT constants (BootConstantsCache), the
// sparse-secret companion (SparseSecretRaise) and the fused-raise,
// fast-removeI and outsourced roads (FusedRaiseRoad, FastRemoveIRoad,
// OutsourcedRoad). The parts that drive them hold only a reference back to
// this object: the transforms (BootTransforms), the ring bootstrap in its
// forms (BootPipeline) and the multi-secret and batch roads (MultiSecretRoad,
// which also owns the context of its conjugate-invariant results). It drives
// the evaluator implementation of the HomEvaluator it was built from, so the
// keys it uses are that evaluator's key pack. See
// include/Quelt/Bootstrapper.hpp for the facade's contract. Its messages are
// those of BootstrapperMessages.
//
// Nothing here takes a lock: the constants cache must not change while
// another thread bootstraps. BootConstants and the fused constants guard
// their per-device copies themselves.
class BootstrapperImpl : public BootstrapperMessages {
public:
    using u64 = std::uint64_t;
    using i64 = std::int64_t;
    using RingCiphertext = CiphertextBase<EncryptionType::RLWE>;
    using CiphertextMSRLWE = CiphertextBase<EncryptionType::MSRLWE>;

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

    // The DFT constants per log slot count.
    BootConstantsCache &getConstants() { return constants_; }
    const BootConstantsCache &getConstants() const { return constants_; }

    // ---- Levels -----------------------------------------------------------

    u64 getLevelAfterFullSlotBootstrap() const;
    u64 getMinLevelForBootstrap() const;

    // ---- Modes --------------------------------------------------------------

    void enableOutsourcing(const std::shared_ptr<BootstrapperImpl> &inner,
                           const std::shared_ptr<HomEvaluatorImpl> &eval);
    const BootModes &getModes() const { return modes_; }
    void setC2Suseminkey(bool use_min_key) { modes_.c2s_use_min_key = use_min_key; }
    void setStatusUseMultiplyConstBeforeS2C(bool use);

    const std::shared_ptr<ContextContent> &getContext() const { return context_; }
    const std::shared_ptr<HomEvaluatorImpl> &getEvaluator() const { return eval_; }
    const BootParameter &getBootParameter() const { return boot_param_; }
    // The sparse-secret companion (empty unless built with it).
    const SparseSecretRaise &getSparseRaise() const { return sparse_raise_; }
    // The outsourced road: its inner bootstrapper, output evaluator and
    // outer context (empty until enableOutsourcing).
    const OutsourcedRoad &getOutsourced() const { return outsourced_; }
    // The multi-secret and batch roads and the context of their
    // conjugate-invariant results (empty until enableConjInvOutput).
    MultiSecretRoad &getMultiSecret() { return multi_secret_; }
    const MultiSecretRoad &getMultiSecret() const { return multi_secret_; }

    // ---- Fused modulus raise ---------------------------------------------------

    // Builds the prime set {q_0, q_(L+1)} (L the chain length) and, per
    // device, the level-1 polynomials holding the residues of those two primes
    // of the first CoeffToSlot step's plaintexts at the full log slot count.
    // The full-slot constants are made first when they are absent. Throws the
    // prime set's messages, "[BootConstants] The fused modulus raise needs two
    // temporary primes", and what makeBootConstants throws.
    void initFuseModRaise();
    // The fused-raise road: its prime set and constants (empty until
    // initFuseModRaise), its preparation and first CoeffToSlot step.
    const FusedRaiseRoad &getFusedRaise() const { return fused_raise_; }

    // ---- Helpers of the bootstrap roads ----------------------------------------

    // prod(primes 0..level_a of ctx_a) / prod(primes 0..level_b of ctx_b) in
    // double precision: 1.0 times every prime of ctx_a, then divided by every
    // prime of ctx_b. Throws kCompensationLevelMessage for a level outside a
    // chain and kCompensationNotFiniteMessage when the running product or the
    // result is not finite.
    static double computeModulusSwitchCompensation(const std::shared_ptr<ContextContent> &ctx_a,
                                                   const std::shared_ptr<ContextContent> &ctx_b,
                                                   u64 level_a, u64 level_b);
    // An integer multiplier of the settings as the evaluator's signed word
    // (kMultiplierMessage above 2^63 - 1).
    static i64 multiplier(u64 value);
    // Every signed rotation amount reduced modulo the full slot count of ctx
    // (two's complement), so -1 becomes slots - 1.
    static std::vector<u64> convertFromSgnIdx(const std::vector<i64> &indices,
                                              const std::shared_ptr<ContextContent> &ctx);

    // The homomorphic DFTs and the modulus raise between them.
    const BootTransforms &getTransforms() const { return transforms_; }
    // One bootstrap of a ring ciphertext in its forms, and the modular
    // reduction on this bootstrapper's evaluator and settings.
    const BootPipeline &getPipeline() const { return pipeline_; }

    // ==== Fast removeI road (BootstrapperFastRemoveI.cpp) =======================
    //
    // On a context with isReRemoveI the complex bootstrap reduces in the
    // conjugate-invariant ring (see FastRemoveIRoad, which holds the road's
    // contexts, keys, interpolator and masks).

    // FastRemoveIRoad::enable.
    void enableFastRemoveI(const std::shared_ptr<ContextContent> &ctx_embed,
                           const std::shared_ptr<ContextContent> &ctx_conj_inv,
                           const RingSwitchKey &key, const RingSwitchKey &key_back,
                           const Interpolator &interp);
    // FastRemoveIRoad::enableMultiSecret, then eval's implementation as the
    // output evaluator.
    void enableFastRemoveIMSRLWE(const std::shared_ptr<ContextContent> &ctx_embed,
                                 const std::shared_ptr<ContextContent> &ctx_complex,
                                 const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                 const RingSwitchKey &key, const RingSwitchKey &key_back,
                                 const Interpolator &interp, const HomEvaluator &eval);
    // On an outer bootstrapper of the outsourced road: the inner
    // bootstrapper's enableFastRemoveIMSRLWE with the remaining arguments,
    // then ctx_outer as the outsourced context and eval's implementation as
    // this bootstrapper's output evaluator. Throws
    // kNoInnerForFastRemoveIMessage without an inner bootstrapper; nothing
    // changes then.
    void enableOutsourcedFastRemoveIMSRLWE(const std::shared_ptr<ContextContent> &ctx_outer,
                                           const std::shared_ptr<ContextContent> &ctx_embed,
                                           const std::shared_ptr<ContextContent> &ctx_complex,
                                           const std::shared_ptr<ContextContent> &ctx_conj_inv,
                                           const RingSwitchKey &key, const RingSwitchKey &key_back,
                                           const Interpolator &interp, const HomEvaluator &eval);

    const FastRemoveIRoad &getFastRemoveI() const { return fast_remove_i_; }

private:
    // Steps 2 to 5 of construction; `sparse_checks` adds the three checks of
    // the sparse-secret companion after the bootstrappable check.
    void construct(std::optional<u64> log_slots, bool sparse_checks);

    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<HomEvaluatorImpl> eval_;
    BootParameter boot_param_;
    FusedRaiseRoad fused_raise_;
    BootConstantsCache constants_;
    // The companion is set only by the sparse-secret constructors.
    SparseSecretRaise sparse_raise_;
    BootModes modes_;
    // The fast removeI road, empty until it is enabled.
    FastRemoveIRoad fast_remove_i_;
    // The outsourced road (inner bootstrapper, output evaluator, outer
    // context), empty until it is enabled.
    OutsourcedRoad outsourced_;
    // The transforms, the pipeline and the multi-secret and batch roads; they
    // drive this bootstrapper.
    BootTransforms transforms_;
    BootPipeline pipeline_;
    MultiSecretRoad multi_secret_;
};

// Throws where a preset's own chain is known not to bootstrap to its
// precision (FGfL7Low, FGfL7): their roads are the outsourced ones. Every
// road that raises the modulus on this bootstrapper's chain calls it first.
void refuseUnreachedChain(ParameterPreset preset);

} // namespace Quelt
