#pragma once

namespace Quelt {

// The messages a bootstrapper throws and the one limit its outsourced road
// checks, in three groups below. BootstrapperMessages gathers them and
// BootstrapperImpl derives from it, so every text reads as
// BootstrapperImpl::kSomething as well; the parts it owns name them through
// BootstrapperMessages.

// Construction (BootstrapperImpl.cpp), the constants (BootConstantsCache),
// levels, the outsourced road and the entry checks of a batch.
struct BootSetupMessages {
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
};

// The bootstrap pipeline and its transforms (BootPipeline, BootTransforms):
// entry checks, the presets whose roads are refused, level recovery,
// SlotToCoeff, the outsourced and extended forms, the raise through the
// sparse secret and the fast removeI road.
struct BootPipelineMessages {
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
    static constexpr const char *kFTaMessage =
        "[bootstrap] FTa does not bootstrap to its precision: its level-0 scale 2^33 times the "
        "multiplier 16 fills half of its 38-bit base prime, where the modular reduction's sine "
        "is far from linear (0.25 comes back as 0.225); use FTb, the other bootstrappable preset "
        "of degree 2^15";
    static constexpr const char *kFGfL7LowMessage =
        "[bootstrap] FGfL7Low does not bootstrap on its own chain: at its top levels a key-switch "
        "digit (ten 50-bit primes) is far larger than its six 61-bit temporary primes; bootstrap "
        "through its outsourcing companion FGfOL7Low (enableOutsourcing)";
    static constexpr const char *kFGfL7Message =
        "[bootstrap] FGfL7 does not bootstrap on its own chain: its modulus raise runs on its "
        "secret of weight 192, whose integer parts after the raise reach beyond the modular "
        "reduction's range K = 11.6 (some slots come back wrong); bootstrap through its "
        "outsourcing companion FGfOL7 (enableOutsourcing), whose raise runs on a sparse secret";
    // The most bits the inner modulus of an outsourced road may fall short
    // of the output chain's (a larger shortfall is refused by
    // enableOutsourcing).
    static constexpr double kMaxShortInnerModulusBits = 8.0;
    static constexpr const char *kShortInnerModulusPrefix =
        "[Bootstrapper] The outsourced road through ";
    static constexpr const char *kShortInnerModulusMiddle =
        " returns its result from a modulus smaller than the output chain's at its encryption "
        "level by ";
    static constexpr const char *kShortInnerModulusSuffix =
        " bits, which the switch back multiplies the error by: bootstrap on the preset's own "
        "chain";
    static constexpr const char *kDiscreteG10Message =
        "[bootstrap] Discrete_G10 returns half of its reduction's result (its level-0 scale is "
        "its whole 42-bit base prime and the multiplier 2 divides the amplitude): use "
        "Discrete_G10A";
    static constexpr const char *kNoSparseCompanionPrefix = "[bootstrap] ";
    static constexpr const char *kNoSparseCompanionMiddle =
        " has no sparse-secret companion to raise its modulus with: bootstrap on ";
    static constexpr const char *kSmallNoCoeffToSlotPrefix = "[bootstrap] ";
    static constexpr const char *kSmallNoCoeffToSlotMiddle =
        " is a small parameter and keeps no CoeffToSlot constants: bootstrap on its parent ";
    static constexpr const char *kSmallNoCoeffToSlotSuffix =
        " (or through enableOutsourcing where the preset outsources its bootstrap) and move the "
        "result to the small chain";
    static constexpr const char *kKeepRealPrefix =
        "[halfBoot] keep_real is not available on the road outsourced to ";
    static constexpr const char *kKeepRealSuffix =
        " (its result cannot come back one level above the encryption level): call halfBoot "
        "with keep_real = false";
    static constexpr const char *kSlotToCoeffLevelMessage =
        "[slotToCoeff] Level of ciphertext should be >= ";
    static constexpr const char *kDifferentDevicesMessage = "Operands are in different devices.";
    static constexpr const char *kNoOutputEvaluatorMessage =
        "[Bootstrapper] The extended bootstrap on a small parameter needs the output evaluator: "
        "run enableOutsourcing first";
    static constexpr const char *kNoInnerBootstrapperMessage =
        "[Bootstrapper] The outsourced bootstrap needs the inner bootstrapper: run "
        "enableOutsourcing first";
    static constexpr const char *kAliasedOutputsMessage =
        "[bootstrap] The real and the imaginary output must be two different ciphertexts";
    static constexpr const char *kDiagonalCountMessage =
        "[Bootstrapper] A radix step has fewer diagonals than its baby and giant counts need";
    static constexpr const char *kStepShapeMessage =
        "[Bootstrapper] A radix step needs positive baby and giant counts, and at least two baby "
        "steps after the first step";
    static constexpr const char *kMultiplierMessage =
        "[Bootstrapper] An integer multiplier of the bootstrap does not fit in 63 bits";

    // The raise through the sparse secret (SparseSecretRaise).
    static constexpr const char *kNoSparseContextMessage =
        "[Bootstrapper] The sparse-secret modulus raise needs the bootstrapper built with the "
        "sparse-secret context";

    // Enabling the fast removeI road (BootstrapperFastRemoveI.cpp).
    static constexpr const char *kNoInnerForFastRemoveIMessage =
        "[Bootstrapper] There is no internal outsourced bootstrapper. Enable outsourcing first";
};

// The multi-secret and batch roads and their DFTs (MultiSecretRoad).
struct BootMultiSecretMessages {
    static constexpr const char *kMStoSSCoeffBootMessage =
        "bootstrapMStoSS is not supported for C2S-first bootstrap parameters";
    static constexpr const char *kNoDoubleHoistingMessage =
        "This parameter does not support double hoisting.";
    static constexpr const char *kBatchNumberMessage =
        "The input batch number of batchBootstrap is not supported yet.";
    static constexpr const char *kBatchEncodingsMessage =
        "[Bootstrap] The ciphertexts of a batch must share one encoding type";
    static constexpr const char *kNoConjInvOutputMessage =
        "[Bootstrapper] enableConjInvOutput must be performed in advance if you want to use the "
        "conjugate invariant  output.";
    static constexpr const char *kCoeffBootConjInvMessage =
        "[Bootstrap] C2S-first bootstrap does not support conjugate invariant output.";
    static constexpr const char *kAllocatedCountMessage =
        "[Bootstrapper] The number of allocated ciphertexts is not equal to the input ciphertexts";
    static constexpr const char *kNoMultiSecretOutputEvaluatorMessage =
        "[Bootstrapper] The output evaluator is not set: run enableOutsourcing or "
        "enableFastRemoveIMSRLWE first";
    static constexpr const char *kNoComplexEvaluatorMessage =
        "[Bootstrapper] The complex evaluator is not set: run enableFastRemoveIMSRLWE first";
    static constexpr const char *kNoFastRemoveIStateMessage =
        "[Bootstrapper] The fast removeI state is not set: run enableFastRemoveIMSRLWE first";
    static constexpr const char *kNoOutsourcedContextMessage =
        "[Bootstrapper] The outsourced context is not set: run enableOutsourcedFastRemoveIMSRLWE "
        "first";
    static constexpr const char *kResultCountMessage =
        "[Bootstrapper] A batch bootstrap returned another number of ciphertexts than it was "
        "given";

    // The multi-secret DFTs.
    static constexpr const char *kSmallContextOutputMessage =
        "[bootstrap] ctxt_out should have the same context as bootstrapper";
};

struct BootstrapperMessages : BootSetupMessages, BootPipelineMessages, BootMultiSecretMessages {};

} // namespace Quelt
