#pragma once

// The checks that the LWE operations run on their operands before they write
// anything.

#include "eval/Precondition.hpp"

#include <cstdint>

namespace Quelt {

namespace LWE {
class Ciphertext;
class ContextContent;
} // namespace LWE

namespace utils {

// Two ciphertexts that one operation combines (messages shared with the ring
// evaluator's checks): equal rescale counters
// (kDifferentRescaleCounterMessage), then one device
// (kDifferentDevicesMessage).
void checkPrecondition(const LWE::Ciphertext &a, const LWE::Ciphertext &b);

} // namespace utils

namespace LWE::detail {

inline constexpr const char *kCiphertextDoesNotFitMessage =
    "[LWE] The ciphertext does not fit the context";

// Whether objects of context a may take part in an operation of context b:
// the same context, or contexts of one dimension, one chain of prime values
// and one list of scale factors, so that residues and scales mean the same
// in both. Contexts of one shape but other primes are not interchangeable:
// residues of one chain reduced by the other decrypt to noise.
bool sameScheme(const ContextContent &a, const ContextContent &b);

// A ciphertext an operation may write: its context is interchangeable with
// the operation's (sameScheme), its mask has the context's dimension and its
// body spans the context's number of primes (kCiphertextDoesNotFitMessage).
void checkOutput(const Ciphertext &ct, const ContextContent &context);

// A ciphertext an operation reads: it fits as an output, its mask and body
// agree on the level ("Operands have different levels.") and the device
// ("Operands are in different devices."), their arrays hold every residue
// of the level (kCiphertextDoesNotFitMessage), and its counter does not
// exceed the level ("Rescale counter should be less than or equal to the
// level"). Returns the level.
std::uint64_t checkOperand(const Ciphertext &ct, const ContextContent &context);

} // namespace LWE::detail

} // namespace Quelt
