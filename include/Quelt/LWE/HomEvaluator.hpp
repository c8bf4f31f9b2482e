#pragma once

#include <cstdint>
#include <memory>

namespace Quelt::LWE {

class ContextContent;
class Ciphertext;
class HomEvaluatorImpl;

// Arithmetic on LWE ciphertexts of one context. Copies share one
// implementation, which holds only the context; every operation is const and
// may run on several threads at once with distinct outputs.
//
// Every operation writes its result into `out`, which may be one of the
// inputs, and checks everything before it writes: an operation that throws
// leaves `out` as it was. Besides the messages listed with each operation,
// every operation throws RuntimeException:
//   "[LWE] The ciphertext does not fit the context" when an input or out
//   belongs to a context of other sizes, primes or scale factors (contexts
//   equal in all of them are interchangeable), or has a mask of another
//   dimension or a body over another number of primes than the context;
//   "Operands have different levels." when an input's mask and body
//   disagree, "Operands are in different devices." when they lie on
//   different devices;
//   "Rescale counter should be less than or equal to the level" for an input
//   whose counter exceeds its level.
// Constants are encoded at the operand's level: |c| 2^sf[level - r] truncated
// toward zero, times the top r primes of the level (r the operand's rescale
// counter). A constant that does not scale to a finite integer below 2^128
// throws "[Modulus] makeInteger: the scaled value must be finite and below
// 2^128"; a level without a scale factor throws "[ScaleFactors] The scale
// factor for given level is not valid".
class HomEvaluator {
public:
    // Throws RuntimeException "[Context] The context is null" for an empty
    // pointer.
    explicit HomEvaluator(const std::shared_ptr<ContextContent> &context);

    // out = -ct, same level and counter.
    void negate(const Ciphertext &ct, Ciphertext &out) const;

    // out = ct + c (sub: ct - c), same level and counter.
    void add(const Ciphertext &ct, const double &c, Ciphertext &out) const;
    void sub(const Ciphertext &ct, const double &c, Ciphertext &out) const;

    // out = ct1 + ct2 (sub: ct1 - ct2), with ct1's counter. Throws, after
    // reading both levels: "Two operands have different RescaleCounter", then
    // "Two operands are in different devices". Operands at different levels
    // meet at the lower one: the other is brought down by levelDown (so a
    // nonzero counter there throws "The Operand should have rescale counter
    // zero").
    void add(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const;
    void sub(const Ciphertext &ct1, const Ciphertext &ct2, Ciphertext &out) const;

    // out = n ct, same level and counter: a copy for n = 1, the negation for
    // n = -1, otherwise a product by n modulo each prime (n = 0 gives an
    // encryption of zero).
    void multInteger(const Ciphertext &ct, long n, Ciphertext &out) const;

    // out = c ct. When c lies within 1e-8 of the integer k nearest to it
    // (halves away from zero), this is multInteger(ct, k) at any level, level
    // 0 included; a k outside the range of long throws "[mult] The rounded
    // constant is outside the range of long". Otherwise ct's level must be
    // nonzero ("The level of the operand is zero"), and the result is
    // multWithoutRescale then rescale: one level lower, same counter.
    void mult(const Ciphertext &ct, const double &c, Ciphertext &out) const;

    // out = ct times c encoded at ct's level with counter 0 (scale
    // 2^sf[level]); out's counter is ct's + 1, which must not exceed the
    // level ("Rescale counter should be less than or equal to the level"; so
    // this always fails at level 0).
    void multWithoutRescale(const Ciphertext &ct, const double &c, Ciphertext &out) const;

    // Divides ct by the top prime of its level, in place: one level lower,
    // counter one lower. Throws "The level of the operand is zero", then
    // "[rescale] Rescale Counter of the Ciphertext is zero or less".
    void rescale(Ciphertext &ct) const;

    // out = ct at level `target`, same value and the scale 2^sf[target] of
    // that level: a copy when target is ct's level, otherwise the primes above
    // target + 1 are dropped and the ciphertext is multiplied by
    // 2^(sf[target + 1] - sf[level]) and rescaled. Throws "[level down] target
    // level is greater than level of Ciphertext.", then "The Operand should
    // have rescale counter zero", then the scale-factor message when target +
    // 1 or the level has no scale factor.
    void levelDown(const Ciphertext &ct, std::uint64_t target_level, Ciphertext &out) const;

    // out = ct one level lower: multiplication by 1.0 at ct's scale, then
    // rescale. Throws "The level of the operand is zero", then "The Operand
    // should have rescale counter zero".
    void levelDownOne(const Ciphertext &ct, Ciphertext &out) const;

private:
    std::shared_ptr<HomEvaluatorImpl> impl_;
};

} // namespace Quelt::LWE
