#pragma once

// The entry checks that the evaluator's operations run on their operands
// before they write anything. Each operation calls the checks it needs in the
// order in which their messages must come.

#include "Quelt/EncryptionType.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace Quelt {

class ContextContent;
class EvaluationKey;
class Message;
class Plaintext;
template <EncryptionType ET>
class CiphertextBase;

namespace utils {

inline constexpr const char *kDifferentLogSlotsMessage = "Two operands have different logSlots";
inline constexpr const char *kDifferentRescaleCounterMessage =
    "Two operands have different RescaleCounter";
inline constexpr const char *kDifferentDevicesMessage = "Two operands are in different devices";
inline constexpr const char *kDifferentEncodingMessage =
    "Two operands are encoding messages in different way";
inline constexpr const char *kCoeffEncodedMessage =
    "The operand have to encode the message on its slots";

// Messages of the level and counter checks, shared with the LWE evaluator.
inline constexpr const char *kLevelZeroMessage = "The level of the operand is zero";
inline constexpr const char *kRescaleCounterNotZeroMessage =
    "The Operand should have rescale counter zero";
inline constexpr const char *kRescaleCounterNotPositiveMessage =
    "[rescale] Rescale Counter of the Ciphertext is zero or less";
inline constexpr const char *kTargetAboveLevelMessage =
    "[level down] target level is greater than level of Ciphertext.";
inline constexpr const char *kConstantOutOfLongRangeMessage =
    "[mult] The rounded constant is outside the range of long";

// Throws kCoeffEncodedMessage when ct carries its message in the
// coefficients.
template <EncryptionType ET>
void throwIfCoeff(const CiphertextBase<ET> &ct);

// Two ciphertexts one operation combines, in this order: log slot counts
// (kDifferentLogSlotsMessage), rescale counters
// (kDifferentRescaleCounterMessage), devices (kDifferentDevicesMessage),
// encoding types (kDifferentEncodingMessage). The device of a ciphertext
// whose polynomials disagree throws "Polynomials are in different devices".
template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &a, const CiphertextBase<ET> &b);

// A ciphertext and a plaintext: log slot counts, rescale counters, devices.
template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &ct, const Plaintext &ptxt);

// A ciphertext and a message: log slot counts, devices.
template <EncryptionType ET>
void checkPrecondition(const CiphertextBase<ET> &ct, const Message &msg);

// dst takes src's log slot count, rescale counter and encoding type. The
// counter must suit dst's level (the ciphertext rule), so callers shape dst
// first.
template <EncryptionType ET>
void copyMetaData(const CiphertextBase<ET> &src, CiphertextBase<ET> &dst);

// ---- Operand checks naming the operation and the operand -------------------
// Each throws "[<function>] The <operand> ..." (function: the public name of
// the operation, operand: "ciphertext", "second plaintext", ...).

// The form of a ciphertext's or a plaintext's polynomials: NTT when every
// one is in NTT form, coefficient when none is, mixed otherwise.
enum class Form { NTT, COEFFICIENT, MIXED };
template <EncryptionType ET>
Form formOf(const CiphertextBase<ET> &ct);
Form formOf(const Plaintext &ptxt);

// Throws "[<function>] The <operand> is in <form> form; the operation needs
// <needed> form" unless form is `needed`.
void requireForm(Form form, Form needed, const char *function, const char *operand);

// The operands of a sum share one form: throws "[<function>] The <second> is
// in <form> form, the <first> in <form> form" otherwise.
void requireSameForm(Form first_form, Form second_form, const char *function, const char *first,
                     const char *second);

// Throws "[<function>] The <operand> does not match the context of the
// HomEvaluator" unless the operand's residues are over the context's ring and
// primes: the same context object, or the same degree, the same primes (and,
// for a ciphertext, transform types) on every limb in use, a level below the
// chain length, and in mod-up form the same temporary primes.
template <EncryptionType ET>
void requireContext(const ContextContent &context, const CiphertextBase<ET> &ct,
                    const char *function, const char *operand);
void requireContext(const ContextContent &context, const Plaintext &ptxt, const char *function,
                    const char *operand);

// requireContext, then requireForm(formOf(operand), Form::NTT): an operand
// of a product in the NTT slots or of an automorphism.
template <EncryptionType ET>
void requireNTTOperand(const ContextContent &context, const CiphertextBase<ET> &ct,
                       const char *function, const char *operand);
void requireNTTOperand(const ContextContent &context, const Plaintext &ptxt, const char *function,
                       const char *operand);

// The level check of a plaintext (rescale counter 0) in a product that takes
// the ciphertext's level `level`. It serves at that level, and above it when
// its level has the same scale factor (its limbs 0..level are then the
// encoding at `level`). Throws `below` under that level, and `other_scale`
// above it with another scale factor, which the product's counter would not
// account for.
void requirePlaintextScale(const ContextContent &context, const Plaintext &ptxt,
                           std::uint64_t level, const char *below, const char *other_scale);

// Throws `message` when the key is empty.
void throwIfNotLoaded(const std::shared_ptr<EvaluationKey> &key, const std::string &message);

} // namespace utils
} // namespace Quelt
