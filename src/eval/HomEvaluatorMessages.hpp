#pragma once

#include "eval/Precondition.hpp"

namespace Quelt {

// The messages of the ring rotations, conjugation, key switching, rotation
// sums and the half-degree embedding (RotationEvaluator).
struct RotationMessages {
    static constexpr const char *kSizeNotTwo = "Size should be 2";
    static constexpr const char *kLeftRotKeyMissing =
        "Failed to load the left rotation key for index ";
    static constexpr const char *kConjKeyMissing = "Failed to load the conjugation key";
    static constexpr const char *kRotKeyRemovedHead = "[Rotation Key] Rotation key ";
    static constexpr const char *kRotKeyRemovedTail =
        " is removed.\n Rerun the Keypack.computeRotationKeyDecomposition";
    static constexpr const char *kRotSumEmpty = "[rotSum] The list of ciphertexts is empty";
    static constexpr const char *kRotSumSizes = "ctxt and rot_idx have different size.";
    static constexpr const char *kSplitTooLarge =
        "[getRotIdxDecomposition] The count must be below 2^63";
    static constexpr const char *kHalfDegContext =
        "Context of input ciphertext does not match the context of HomEvaluator.";
    static constexpr const char *kHalfDegDegree =
        "The output ciphertext's degree must be half the input ciphertext's degree.";
    static constexpr const char *kHalfDegCyclic =
        "[convertToHalfDeg] The conjugate-invariant transform has no half-degree embedding.";
};

// The messages of the multi-secret operations (MultiSecretEvaluator) and of
// the Bx handles they take.
struct MultiSecretMessages {
    static constexpr const char *kSizeShouldBe = "Size should be ";
    static constexpr const char *kMsHoistedSize =
        "[HomEvaluatorImpl/leftRotateMSRLWE] Ctxt vec size should be ";
    static constexpr const char *kMsRotSumSize =
        "[HomEvaluatorImpl/rotSumMSRLWE] Ctxt vec size should be ";
    static constexpr const char *kMsRotSumSizes =
        "[HomEvaluatorImpl/rotSumMSRLWE] ctxt and rot_idx have different size.";
    static constexpr const char *kMsRotSumEmpty =
        "[HomEvaluatorImpl/rotSumMSRLWE] The list of ciphertexts is empty";
    static constexpr const char *kLazyNoRotKey = "[lazyLeftRotate] no rotation key for index ";
    static constexpr const char *kLightNoRotKey =
        "[lightLeftRotate/Load Rotation Key] no left rotation key for index ";
    static constexpr const char *kLazyRightZero =
        "[HomEvaluatorImpl/lazyRightRotateMSRLWE] rot idx shouldn't be 0";
    static constexpr const char *kBxSizeIncompatible =
        "[HomEvalImpl/modDownBxAndSum] The size of Bx polyvector and MSRLWE ciphertexts are "
        "incompatible.";
    static constexpr const char *kMsInnerProductLength =
        "[HomEvaluatorImpl/innerProductMSRLWE] The length of the ciphertext should be ";
    static constexpr const char *kMsInnerProductLengthNow = "but now";
    static constexpr const char *kMsInnerProductEmpty =
        "[HomEvaluatorImpl/innerProductMSRLWE] The range of plaintexts is empty";
    static constexpr const char *kSplitShort =
        "[HomEvaluatorImpl/splitMSRLWECiphertext] The output vectors hold fewer polynomials than "
        "the mask and the bodies of the ciphertext";
    static constexpr const char *kCombineShort =
        "[HomEvaluatorImpl/combineMSRLWECiphertext] The input vectors hold fewer polynomials than "
        "the mask and the bodies of the ciphertext";
    static constexpr const char *kLazyBxShort =
        "[HomEvaluatorImpl/lazyLeftRotateMSRLWE] The Bx polyvector holds fewer polynomials than "
        "the ciphertext has bodies";
    static constexpr const char *kLightMaskInBx =
        "[HomEvaluatorImpl/lightLeftRotateMSRLWE] The mask must not be a polynomial of the Bx "
        "polyvector";
    static constexpr const char *kBxNoPolynomial = "[Bx] The handle's list holds no polynomial.";
    static constexpr const char *kLightBxShort =
        "[HomEvaluatorImpl/lightLeftRotateMSRLWE] The Bx polyvector holds fewer polynomials than "
        "the context has secrets";
};

// The entry checks of the arithmetic, the levels and the products with
// constants, messages and plaintexts (HomEvaluatorImpl, LevelEvaluator,
// ConstantEvaluator, ProductEvaluator).
struct ArithmeticMessages {
    static constexpr const char *kLevelZero = utils::kLevelZeroMessage;
    static constexpr const char *kRescaleCounterNotZero = utils::kRescaleCounterNotZeroMessage;
    static constexpr const char *kRescaleCountersNotZero =
        "The Operands should have rescale counter zero";
    static constexpr const char *kRescaleCounterNotPositive =
        utils::kRescaleCounterNotPositiveMessage;
    static constexpr const char *kTargetAboveLevel = utils::kTargetAboveLevelMessage;
    static constexpr const char *kInverseRescaleAtTop =
        "[inverseRescale] Cannot inverseRescale when the level is greater than or equal to the "
        "maximum level";
    static constexpr const char *kOperandsCoeffEncoded =
        "The operands have to encode the message on its slots";
    static constexpr const char *kAddDifferentLevelModUp =
        "Cannot add different level modUp-ed ciphertexts";
    static constexpr const char *kSubDifferentLevelModUp =
        "Cannot sub different level modUp-ed ciphertexts";
    static constexpr const char *kDifferentDegrees =
        "[baseModulusSwitch] The degrees of the two contexts are different.";
    static constexpr const char *kConstantOutOfLongRange = utils::kConstantOutOfLongRangeMessage;
    static constexpr const char *kPlaintextBelow =
        "[multWithoutRescale] The plaintext is below the level of the ciphertext";
    static constexpr const char *kPlaintextOtherScale =
        "[multWithoutRescale] The plaintext is above the level of the ciphertext with another "
        "scale";
};

// The messages of the products of ring ciphertexts (ProductEvaluator).
struct ProductMessages {
    static constexpr const char *kSizeAboveTwo = "Size > 2 is not supported yet";
    static constexpr const char *kRelinearizeShortInput =
        "[relinearize] the length of the input ciphertext should be >= 3.";
    static constexpr const char *kMultKeyMissing = "Failed to load the multiplication key";
};

// Every message the evaluator throws, read as HomEvaluatorImpl::k... by the
// library and its tests: (inherited) those of the arithmetic and levels, the
// products, the rotations and the multi-secret operations, and those of plain
// data and of the plaintext-weighted sums.
struct HomEvaluatorMessages : RotationMessages,
                              MultiSecretMessages,
                              ArithmeticMessages,
                              ProductMessages {
    // Plain data and Bx handles.
    static constexpr const char *kPlaintextRescaleCounterNotPositive =
        "[rescale] Rescale Counter of the Plaintext is zero or less";
    static constexpr const char *kRelevelTooBig = "[relevel] target_level too big";
    static constexpr const char *kAcceleratorMessage =
        "Message that is GPU-allocated is not supported.";
    static constexpr const char *kEmptyBx = "[Bx] The handle holds no polynomial list.";

    // Plaintext-weighted sums.
    static constexpr const char *kInnerProductEmpty =
        "[innerProduct] The range of plaintexts is empty";
    static constexpr const char *kInnerProductPlaintextBelow =
        "[innerProduct] A plaintext is below the level of the ciphertexts";
    static constexpr const char *kInnerProductPlaintextOtherScale =
        "[innerProduct] A plaintext is above the level of the ciphertexts with another scale";
    static constexpr const char *kEmptyPolynomialList =
        "[innerProduct] The polynomial list holds no polynomial";
    static constexpr const char *kExponentCount =
        "[frobeniusAndInnerProductBx] The exponents and the plaintexts differ in number";
    static constexpr const char *kMatmulEmpty = "[matmul] The list of ciphertexts is empty";
};

} // namespace Quelt
