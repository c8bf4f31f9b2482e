#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/KeyPack.hpp"

#include <complex>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Quelt {

class Bx;
class RingSwitchKey;
class ContextContent;
class HomEvaluatorImpl;
class Message;
class Plaintext;

namespace detail {
struct HomEvaluatorAccess;
}

// Typical use (keys from a KeyGenerator, see there):
//
//   const HomEvaluator eval(ctx, pack);
//   eval.mult(a, b, out);         // relinearised and rescaled: one level down
//   eval.add(out, c, out);        // the higher operand is brought down first
//   eval.mult(out, 0.5, out);     // a constant that is not an integer: a level
//   eval.multInteger(out, 3, out);      // exact, no level
//   eval.leftRotate(out, 1, out); // slot i + 1 to slot i (rotation key 1)
//   eval.multWithoutRescale(a, b, t);   // the product in two steps: the
//   eval.rescale(t);                    // rescale counter records the owed
//                                       // division until rescale pays it
//
// Every rescale divides by a prime of the chain and costs one level; at level
// 0 products are refused ("The level of the operand is zero"): bootstrap
// before (Bootstrapper). The evaluator computes on Messages as well, with the
// same calls: the plain reference of an encrypted computation.

// Arithmetic on the ciphertexts (and plain data) of one context, with the
// evaluation keys of a key pack. Copies share one implementation; every
// operation is const and keeps no state, so threads may share an evaluator
// as long as they write to different outputs.
//
// Operands: ciphertexts of the ring scheme (RLWE), module ciphertexts (MLWE)
// and multi-secret ciphertexts (MSRLWE), messages, plaintexts and complex
// constants. Every operation writes its result into `out`, which may be one
// of the inputs. Its checks run, in the order listed, before `out` is
// written, also for the compound operations (mult by a constant that is not
// a Gaussian integer, by a message or by a plaintext; levelDown; add and sub
// of ciphertexts at different levels): a refused operation leaves `out` as
// it was.
//
// Shared rules:
// - Rescale counter: a product made without rescaling raises it by one;
//   rescale divides by the top prime of the level and lowers it by one.
//   Besides the messages listed, setting a counter above the output's level
//   (other than level 0) throws "Rescale counter should be less than or
//   equal to the level", checked before the output is written.
// - Two ciphertexts combined must agree, in this order, in log slot count
//   ("Two operands have different logSlots"), rescale counter ("Two
//   operands have different RescaleCounter"), device ("Two operands are in
//   different devices") and encoding type ("Two operands are encoding
//   messages in different way"); a ciphertext and a plaintext in the first
//   three, a ciphertext and a message in log slots and device.
// - Operations that need slot encoding throw "The operand have to encode the
//   message on its slots" for a coefficient-encoded ciphertext.
// - Constants are encoded at the ciphertext's level and rescale counter
//   (the real part alone when the imaginary part is 0.0); a part that is not
//   finite throws "[Modulus] makeInteger: the scaled value must be finite and
//   below 2^128".
// - Failures of the encoders and of the polynomial arithmetic pass through.
class HomEvaluator {
public:
    using u64 = std::uint64_t;
    using i64 = std::int64_t;
    using Complex = std::complex<double>;
    using CiphertextMLWE = CiphertextBase<EncryptionType::MLWE>;
    using Ciphertext = CiphertextBase<EncryptionType::RLWE>;
    using CiphertextMSRLWE = CiphertextBase<EncryptionType::MSRLWE>;

    // With an empty key pack; with a key pack on the key directory
    // keyDirPath (its checks: "Cannot find path <keyDirPath>"); or sharing the
    // store of keyPack. Each loads the multiplication key from the key
    // directory when the pack has one and does not hold the key yet.
    explicit HomEvaluator(const std::shared_ptr<ContextContent> &context);
    HomEvaluator(const std::shared_ptr<ContextContent> &context, const std::string &keyDirPath);
    HomEvaluator(const std::shared_ptr<ContextContent> &context, const KeyPack &keyPack);

    // Operand checks. Every operation on ciphertexts or plaintexts refuses,
    // before it writes, right after its slot-encoding check where it has one:
    // - an operand whose residues are not over this evaluator's ring and
    //   primes on the limbs it uses (another degree, other primes, for a
    //   ciphertext another transform): "[<operation>] The <operand> does not
    //   match the context of the HomEvaluator";
    // - where the operation multiplies in the NTT slots or permutes them
    //   (products with ciphertexts, plaintexts or messages, relinearize,
    //   innerProduct, rotations, conjugation, killImag, rotSum, the sum of a
    //   ciphertext and a message), an operand in coefficient form (from
    //   backwardNTT, switchKey with ntt_body false, encodeWithoutNTT):
    //   "[<operation>] The <operand> is in coefficient form; the operation
    //   needs NTT form";
    // - in a sum of two ciphertexts, of a ciphertext and a plaintext, or of
    //   two plaintexts, operands in different forms: "[<operation>] The
    //   <second> is in <form> form, the <first> in <form> form".
    // <operand> is "ciphertext", "plaintext", "first ciphertext", ...
    // Operations that work on either form (constants, integers, levels,
    // switchKey, convertToHalfDeg) keep the operand's form.

    // out = -ct, metadata of ct. No checks besides the operand checks.
    void negate(const Ciphertext &ct, Ciphertext &out) const;
    void negate(const CiphertextMLWE &ct, CiphertextMLWE &out) const;

    // out = a + b (sub: a - b). sub first throws "The operands have to encode
    // the message on its slots" when either is coefficient-encoded. At equal
    // levels: the two-ciphertext checks, then out has max(n_a, n_b)
    // polynomials (those only the longer operand has are copied, negated when
    // they come from b in a subtraction) and a's metadata. At different
    // levels: "Cannot add different level modUp-ed ciphertexts" ("Cannot sub
    // ...") when either is in the mod-up state; otherwise the higher operand
    // is brought down by levelDown (with its messages) first.
    void add(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const;
    void add(const CiphertextMLWE &a, const CiphertextMLWE &b, CiphertextMLWE &out) const;
    void add(const CiphertextMSRLWE &a, const CiphertextMSRLWE &b, CiphertextMSRLWE &out) const;
    void sub(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const;
    void sub(const CiphertextMLWE &a, const CiphertextMLWE &b, CiphertextMLWE &out) const;

    // Plain data added to (subtracted from) polynomial 0; the others copied.
    // A constant: the slot-encoding check, then the constant's encoding. A
    // message: the slot-encoding check, the message checks, then its encoding
    // at ct's level and counter. A plaintext: the slot-encoding check (not in
    // sub), the plaintext checks; a plaintext at another level is decoded and
    // encoded again at ct's level and counter.
    void add(const Ciphertext &ct, const Complex &c, Ciphertext &out) const;
    void add(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const;
    void add(const Ciphertext &ct, const Message &msg, Ciphertext &out) const;
    void add(const CiphertextMLWE &ct, const Message &msg, CiphertextMLWE &out) const;
    void add(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const;
    void add(const CiphertextMLWE &ct, const Plaintext &ptxt, CiphertextMLWE &out) const;
    void sub(const Ciphertext &ct, const Complex &c, Ciphertext &out) const;
    void sub(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const;
    void sub(const Ciphertext &ct, const Message &msg, Ciphertext &out) const;
    void sub(const CiphertextMLWE &ct, const Message &msg, CiphertextMLWE &out) const;
    void sub(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const;
    void sub(const CiphertextMLWE &ct, const Plaintext &ptxt, CiphertextMLWE &out) const;

    // out = c ct. Throws the slot-encoding message, then "The Operand should
    // have rescale counter zero" for a counter other than 0. When both parts
    // of c lie within 1e-8 of integers R and I (rounded halves away from
    // zero) the product is exact and keeps level and counter (level 0
    // included); R or I outside the signed 64-bit range throws "[mult] The
    // rounded constant is outside the range of long". Otherwise level 0
    // throws "The level of the operand is zero", and the result is
    // multWithoutRescale followed by rescale: one level lower, counter 0.
    void mult(const Ciphertext &ct, const Complex &c, Ciphertext &out) const;
    void mult(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const;

    // out = ct times the message (plaintext) encoded at ct's level with
    // counter 0, rescaled: one level lower, counter 0. Throws the slot
    // message; "The level of the operand is zero" (ct's level, or the
    // plaintext's); "The Operand should have rescale counter zero" (message)
    // or "The Operands should have rescale counter zero" (plaintext, either
    // counter); then the plaintext checks. A plaintext at another level is
    // decoded and encoded again at ct's level.
    void mult(const Ciphertext &ct, const Message &msg, Ciphertext &out) const;
    void mult(const CiphertextMLWE &ct, const Message &msg, CiphertextMLWE &out) const;
    void mult(const CiphertextMSRLWE &ct, const Message &msg, CiphertextMSRLWE &out) const;
    void mult(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const;
    void mult(const CiphertextMLWE &ct, const Plaintext &ptxt, CiphertextMLWE &out) const;
    void mult(const CiphertextMSRLWE &ct, const Plaintext &ptxt, CiphertextMSRLWE &out) const;

    // out = ct times i (a product by the NTT image of X^(N/2)), exact, same
    // level and counter. Throws the slot message.
    void multImagUnit(const Ciphertext &ct, Ciphertext &out) const;
    void multImagUnit(const CiphertextMLWE &ct, CiphertextMLWE &out) const;

    // out = k ct, exact, with ct's level, counter and encoding: a copy for
    // k = 1, the negation for k = -1. The operand checks only.
    void multInteger(const Ciphertext &ct, i64 k, Ciphertext &out) const;
    void multInteger(const CiphertextMLWE &ct, i64 k, CiphertextMLWE &out) const;
    void multInteger(const CiphertextMSRLWE &ct, i64 k, CiphertextMSRLWE &out) const;

    // out = ct times c encoded at ct's level with counter 0 (scale
    // 2^sf[level]); counter + 1. Throws the slot message, then "The level of
    // the operand is zero".
    void multWithoutRescale(const Ciphertext &ct, const Complex &c, Ciphertext &out) const;
    void multWithoutRescale(const CiphertextMLWE &ct, const Complex &c, CiphertextMLWE &out) const;
    // out = ct times the plaintext (NTT slots), counter 1. Throws the slot
    // message, the operand checks, "The Operands should have rescale
    // counter zero", the plaintext checks, then "[multWithoutRescale]
    // The plaintext is below the level of the ciphertext" and
    // "[multWithoutRescale] The plaintext is above the level of the
    // ciphertext with another scale": a plaintext above ct's level serves
    // only when its level has the scale factor of ct's (mult encodes a
    // plaintext of another level again at ct's level instead).
    void multWithoutRescale(const Ciphertext &ct, const Plaintext &ptxt, Ciphertext &out) const;
    void multWithoutRescale(const CiphertextMLWE &ct, const Plaintext &ptxt,
                            CiphertextMLWE &out) const;
    void multWithoutRescale(const CiphertextMSRLWE &ct, const Plaintext &ptxt,
                            CiphertextMSRLWE &out) const;

    // Divides ct by the top prime of its level, in place: level and counter
    // one lower. Throws the slot message, "The level of the operand is zero",
    // then "[rescale] Rescale Counter of the Ciphertext is zero or less".
    void rescale(Ciphertext &ct) const;
    void rescale(CiphertextMLWE &ct) const;
    void rescale(CiphertextMSRLWE &ct) const;

    // Raises ct one level, multiplying it by the new prime: level and counter
    // one higher, in place. Throws the slot message, then "[inverseRescale]
    // Cannot inverseRescale when the level is greater than or equal to the
    // maximum level" at chain length - 1.
    void inverseRescale(Ciphertext &ct) const;

    // out = ct at level `level` with the default scale of that level. Throws
    // "[level down] target level is greater than level of Ciphertext.", the
    // slot message, "The Operand should have rescale counter zero", then
    // "[ScaleFactors] The scale factor for given level is not valid" for a
    // level above the target without a scale. The same level gives a copy.
    void levelDown(const Ciphertext &ct, u64 level, Ciphertext &out) const;
    void levelDown(const CiphertextMLWE &ct, u64 level, CiphertextMLWE &out) const;

    // multWithoutRescale by 1.0, then rescale: one level lower. Throws the
    // slot message, "The level of the operand is zero", then "The Operand
    // should have rescale counter zero".
    void levelDownOne(const Ciphertext &ct, Ciphertext &out) const;
    void levelDownOne(const CiphertextMLWE &ct, CiphertextMLWE &out) const;
    void levelDownOne(const CiphertextMSRLWE &ct, CiphertextMSRLWE &out) const;

    // Every level-0 coefficient c (coefficient form) becomes round(q_0
    // round(c 2^s / q_0) / 2^s), in place. Every polynomial is checked first:
    // "Level should be zero", "Polynomial should not be in NTT form"; then s
    // must lie in 1 .. 64.
    void discretize(Ciphertext &ct, u64 s) const;

    // out (of another context of the same degree, first prime t) gets ct's
    // polynomial count, level 0, ct's device and metadata, with every level-0
    // coefficient c mapped to round(c t / q_0) mod t. Throws, before out is
    // changed, "[baseModulusSwitch] The degrees of the two contexts are
    // different.", then the level-0 and coefficient-form messages of
    // discretize.
    void baseModulusSwitch(const Ciphertext &ct, Ciphertext &out) const;

    // out = ct in out's context. Throws, before out is changed, the messages
    // of the ciphertext's context-changing copy ("The level of input
    // ciphertext does not fit in current context", ...), then "[setContext]
    // Input context is not compatible with the ciphertext." when the primes
    // 0 .. level of the two contexts differ.
    void switchContext(const Ciphertext &ct, Ciphertext &out) const;

    // No host implementation: always throws "Cannot support the function
    // 'modReduct' in the current build configuration".
    void modReduct(Ciphertext &ct) const;

    // ==== Products of ring ciphertexts, and operations on plain data ====

    // out = a (x) b: n_a + n_b - 1 polynomials decrypting to the product,
    // counter rc(a) + rc(b) + 1, a's log slots. Throws "The operands have to
    // encode the message on its slots", "Operands have different levels.",
    // "Two operands have different logSlots", then the counter rule.
    void tensor(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const;
    // out = in with its last polynomial switched to the one before by the
    // multiplication key: one polynomial fewer, same level, counter and log
    // slots. Throws "The operand have to encode the message on its slots",
    // "[relinearize] the length of the input ciphertext should be >= 3.",
    // then "Failed to load the multiplication key" when the key pack holds no
    // multiplication key and its key directory none either.
    void relinearize(const Ciphertext &in, Ciphertext &out) const;
    // out = a x b relinearised, unrescaled: same level, counter 1. Throws "Size
    // > 2 is not supported yet" unless both have two polynomials, the
    // slot-encoding message, "Operands have different levels.", "The level of
    // the operand is zero", "The Operands should have rescale counter zero",
    // "Two operands have different logSlots", then the key message.
    void multWithoutRescale(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const;
    // out = a x b, rescaled: one level below the lower operand, counter 0; the
    // higher operand is first brought down by levelDown. Throws the
    // slot-encoding message, "The level of the operand is zero", "The
    // Operands should have rescale counter zero", then those of
    // multWithoutRescale.
    void mult(const Ciphertext &a, const Ciphertext &b, Ciphertext &out) const;
    // out = a x a, rescaled; the checks of multWithoutRescale.
    void square(const Ciphertext &a, Ciphertext &out) const;

    // Messages, slot by slot over the first operand's slots (std::complex
    // arithmetic). Two messages must agree in slot count ("Two operands have
    // different logSlots") and device ("Two operands are in different
    // devices"). out takes the operand's device and slot count first; an
    // operand on an accelerator throws "Message that is GPU-allocated is not
    // supported.".
    void negate(const Message &m, Message &out) const;
    void add(const Message &m, const Complex &c, Message &out) const;
    void add(const Message &a, const Message &b, Message &out) const;
    void sub(const Message &m, const Complex &c, Message &out) const;
    void sub(const Message &a, const Message &b, Message &out) const;
    void mult(const Message &m, const Complex &c, Message &out) const;
    void mult(const Message &a, const Message &b, Message &out) const;
    void square(const Message &m, Message &out) const;
    void multImagUnit(const Message &m, Message &out) const;
    void conjugate(const Message &m, Message &out) const;

    // Plaintexts, with the residue arithmetic, levels and counters of
    // ciphertexts; levels are never aligned. Two plaintexts: "Operands have
    // different levels." (add, sub), then log slots, "Two operands have
    // different RescaleCounter", devices. Constants are encoded at the
    // plaintext's level and counter (products: counter 0); a part that is
    // not finite is refused by the constant encoder.
    void negate(const Plaintext &p, Plaintext &out) const;
    void add(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void add(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void sub(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void sub(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    // Counter + 1 ("The level of the operand is zero" at level 0). mult adds
    // "The Operand should have rescale counter zero" and rescales: every
    // constant costs a level.
    void multWithoutRescale(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void mult(const Plaintext &p, const Complex &c, Plaintext &out) const;
    // Slot products: "The level of the operand is zero", "Operands have
    // different levels.", "The Operands should have rescale counter zero",
    // then the two-plaintext checks; counter 1, and mult and square rescale.
    void multWithoutRescale(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void mult(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void square(const Plaintext &p, Plaintext &out) const;
    void multImagUnit(const Plaintext &p, Plaintext &out) const;
    void multInteger(const Plaintext &p, i64 k, Plaintext &out) const;
    // In place. rescale: "The level of the operand is zero", "[rescale]
    // Rescale Counter of the Plaintext is zero or less". inverseRescale:
    // "[inverseRescale] Cannot inverseRescale when the level is greater than
    // or equal to the maximum level".
    void rescale(Plaintext &p) const;
    void inverseRescale(Plaintext &p) const;
    // Decoded and encoded again at `level` with p's counter. Throws
    // "[relevel] target_level too big" above chain length - 1 and "Rescale
    // counter should be less than or equal to the level" when the counter
    // exceeds the target level; out is unchanged then.
    void relevel(const Plaintext &p, u64 level, Plaintext &out) const;
    void conjugate(const Plaintext &p, Plaintext &out) const;

    // The polynomial lists of Bx handles: the prime-wise sum (the longer
    // list's tail copied), and the product of every polynomial with the
    // plaintext over the limbs it holds, temporary ones included. A handle
    // without a list throws "[Bx] The handle holds no polynomial list.".
    void add(const Bx &a, const Bx &b, Bx &out) const;
    void multWithoutRescale(const Bx &a, const Plaintext &p, Bx &out) const;

    // ---- Rotations and conjugation --------------------------------------------
    // A single rotation amount is first reduced modulo the operand's slot
    // count (2^logSlots; a message's size), so that a ciphertext of 2^10
    // slots rotated by 1025 moves by 1 and by 1024 is copied. Left rotation
    // moves slot i + idx to slot i. Ciphertexts: two slot-encoded
    // polynomials ("Size should be 2"); the rotation key for the
    // ciphertext's digit count comes from the key pack (loaded from its
    // directory on first use) or, when absent, the rotation runs through the
    // key pack's decomposition into held keys; "Failed to load the left
    // rotation key for index <idx>", "[Rotation Key] Rotation key <idx> is
    // removed.\n Rerun the Keypack.computeRotationKeyDecomposition" and the
    // key pack's "[getRotKeyDecomposition] ..." report what is missing.
    void leftRotate(const Ciphertext &ct, u64 idx, Ciphertext &out) const;
    void rightRotate(const Ciphertext &ct, u64 idx, Ciphertext &out) const;
    void leftRotate(const Plaintext &p, u64 idx, Plaintext &out) const;
    void rightRotate(const Plaintext &p, u64 idx, Plaintext &out) const;
    void leftRotate(const Message &m, u64 idx, Message &out) const;
    void rightRotate(const Message &m, u64 idx, Message &out) const;
    // Every polynomial of the list rotated, without a key switch; the amount
    // is taken modulo N/2.
    void leftRotate(const Bx &in, u64 idx, Bx &out) const;
    // outs = ct rotated left by each of idxs (indices taken modulo N/2),
    // sharing one mod-up of the mask; outs is replaced by idxs.size()
    // results. "Failed to load the left rotation key for index <idx>" when a
    // key is missing (no route through other keys), before outs changes.
    void leftRotate(const Ciphertext &ct, const std::vector<u64> &idxs,
                    std::vector<Ciphertext> &outs) const;
    // out = the sum over i of cts[i] rotated left by idxs[i] (indices taken
    // modulo N/2), with one division by P for the whole sum; out may be one
    // of cts. Throws "[rotSum] The list of ciphertexts is empty", the
    // operand checks, "Size should be 2", "ctxt and rot_idx have different
    // size.", then brings terms above the lowest level down to it by
    // levelDown (with its messages) as add does, and throws "Failed to load
    // the left rotation key for index <idx>" (no route through other keys),
    // all before out changes.
    void rotSum(const std::vector<Ciphertext> &cts, const std::vector<u64> &idxs,
                Ciphertext &out) const;
    // out = the sum over j < n of the operand rotated left (right) by
    // j * gap; n = 0 and n = 1 give a copy. Ciphertexts take about log2 n
    // rotations (and their keys); messages one rotation per term.
    void leftRotateReduce(const Ciphertext &ct, u64 gap, u64 n, Ciphertext &out) const;
    void rightRotateReduce(const Ciphertext &ct, u64 gap, u64 n, Ciphertext &out) const;
    void leftRotateReduce(const Message &m, u64 gap, u64 n, Message &out) const;
    void rightRotateReduce(const Message &m, u64 gap, u64 n, Message &out) const;
    // out = the sum over i of the plaintext first[i] times cts[i], at the
    // ciphertexts' common level with rescale counter 1; out may be one of the
    // ciphertexts. Every term must be a two-polynomial, slot-encoded
    // ciphertext ("Size should be 2", "The operand have to encode the message
    // on its slots") at one level ("Operands have different levels."),
    // agreeing with cts[0] in log slots, counter, device and encoding, with
    // plaintexts at that level or above it with the same scale factor
    // ("[innerProduct] A plaintext is below the level of the ciphertexts",
    // "[innerProduct] A plaintext is above the level of the ciphertexts with
    // another scale") and counters 0 ("The Operands should have rescale
    // counter zero"); an empty range is refused. All checks run before out
    // changes.
    void innerProduct(std::vector<Plaintext>::const_iterator first,
                      std::vector<Plaintext>::const_iterator last,
                      std::vector<Ciphertext>::const_iterator cts, Ciphertext &out) const;
    // Plaintext-weighted sums of Bx lists (each bxs[i]'s list, copied) and of
    // the automorphisms X -> X^exponents[i] of in's list (odd exponents),
    // polynomial by polynomial; out takes the first list's length, level and
    // mod-up state. A plaintext or list that lacks a limb of that shape is
    // refused ("[PrimeModuli] An inner product term lacks a limb of the
    // walk."); out changes only when the sum is made.
    void innerProductBx(std::vector<Plaintext>::const_iterator first,
                        std::vector<Plaintext>::const_iterator last,
                        std::vector<Bx>::const_iterator bxs, Bx &out) const;
    void frobeniusAndInnerProductBx(std::vector<Plaintext>::const_iterator first,
                                    std::vector<Plaintext>::const_iterator last, const Bx &in,
                                    Bx &out, const std::vector<u64> &exponents) const;
    // One ciphertext: out = multWithoutRescale(cts[0], pt). Two or more throw
    // "Cannot support the function 'rotMulAdd' in the current build
    // configuration" after the checks of multWithoutRescale, out unchanged;
    // an empty list is refused.
    void matmul(const std::vector<Ciphertext> &cts, const Plaintext &pt, Ciphertext &out) const;
    // Every slot conjugated with the conjugation key ("Failed to load the
    // conjugation key").
    void conjugate(const Ciphertext &ct, Ciphertext &out) const;
    // The real part of every slot, one level lower.
    void killImag(const Ciphertext &ct, Ciphertext &out) const;
    // ct re-encrypted from the key's source secret to its target secret;
    // ntt_body false gives both polynomials in coefficient form.
    void switchKey(const Ciphertext &ct, const RingSwitchKey &key, Ciphertext &out,
                   bool ntt_body) const;
    // The even-index coefficient part of ct, doubled, in the ring of half the
    // degree (out's context). Throws "Context of input ciphertext does not
    // match the context of HomEvaluator." and "The output ciphertext's degree
    // must be half the input ciphertext's degree.".
    void convertToHalfDeg(const Ciphertext &ct, Ciphertext &out) const;

    // ==== Multi-secret operations ====
    // A multi-secret ciphertext of k secrets holds its bodies first and the
    // shared mask last; it may carry fewer bodies than the context has
    // secrets, and k is then its polynomial count minus one. Only the mask is
    // key-switched, whatever k is. An operation refused by the checks listed
    // leaves its outputs as they were (the light rotation has resized its
    // bx). Bx operands are unwrapped to their polynomial lists ("[Bx] The
    // handle holds no polynomial list." for a handle without one).

    // ax's polynomial 0 = the mask, bx's polynomial i = body i, deep copies;
    // the lists must already hold them ("[HomEvaluatorImpl/
    // splitMSRLWECiphertext] The output vectors hold fewer polynomials than
    // the mask and the bodies of the ciphertext"). combine puts them back
    // into ct, which keeps its context and metadata (the combine message
    // likewise).
    void splitMSRLWECiphertext(const CiphertextMSRLWE &ct, Bx &ax, Bx &bx) const;
    void combineMSRLWECiphertext(const Bx &ax, const Bx &bx, CiphertextMSRLWE &ct) const;
    // Slots of every secret rotated left by idx, reduced modulo ct's slot
    // count: the slot-encoding check, then the key for ct's digit count from
    // the key pack or its decomposition into held keys, with the messages of
    // the ring rotation.
    void leftRotateMSRLWE(const CiphertextMSRLWE &ct, u64 idx, CiphertextMSRLWE &out) const;
    // Hoisted: outs is replaced by one rotation per index (indices taken
    // modulo N/2). The slot-encoding check, "[HomEvaluatorImpl/
    // leftRotateMSRLWE] Ctxt vec size should be <k + 1>", then "Failed to
    // load the left rotation key for index <idx>" (no route through other
    // keys).
    void leftRotateMSRLWE(const CiphertextMSRLWE &ct, const std::vector<u64> &idxs,
                          std::vector<CiphertextMSRLWE> &outs) const;
    // The sum of cts[i] rotated left by idxs[i] (modulo N/2); out may be one
    // of cts. "[HomEvaluatorImpl/rotSumMSRLWE] The list of ciphertexts is
    // empty", the slot-encoding check, the two-ciphertext checks against
    // cts[0], "[HomEvaluatorImpl/rotSumMSRLWE] Ctxt vec size should be
    // <k + 1>", "[HomEvaluatorImpl/rotSumMSRLWE] ctxt and rot_idx have
    // different size.", then the key message.
    void rotSumMSRLWE(const std::vector<CiphertextMSRLWE> &cts, const std::vector<u64> &idxs,
                      CiphertextMSRLWE &out) const;
    // Every slot conjugated: the slot-encoding check, then "Failed to load
    // the conjugation key".
    void conjugateMSRLWE(const CiphertextMSRLWE &ct, CiphertextMSRLWE &out) const;
    // ct switched by the key the RingSwitchKey holds: the slot-encoding
    // check, then "Size should be <k + 1>".
    void switchKeyMSRLWE(const CiphertextMSRLWE &ct, const RingSwitchKey &key,
                         CiphertextMSRLWE &out) const;
    // Lazy rotation (idx reduced modulo ct's slot count): out takes the
    // rotated bodies and the switched mask, bx (which must hold k
    // polynomials) the switched body parts, not yet divided by P. The
    // slot-encoding check, the size of bx ("[HomEvaluatorImpl/
    // lazyLeftRotateMSRLWE] The Bx polyvector holds fewer polynomials than
    // the ciphertext has bodies"); 0 copies ct and leaves bx; the key pack's
    // keys are moved to ct's device, then "[lazyLeftRotate] no rotation key
    // for index <idx>" when the key is not held. The chain form adds bx_in
    // rotated along, and copies ct and bx_in for 0.
    void lazyLeftRotateMSRLWE(const CiphertextMSRLWE &ct, u64 idx, CiphertextMSRLWE &out,
                              Bx &bx) const;
    void lazyLeftRotateMSRLWE(const CiphertextMSRLWE &ct, const Bx &bx_in, u64 idx,
                              CiphertextMSRLWE &out, Bx &bx) const;
    // Light rotation of a lone mask, polynomial 0 of a_in, into polynomial 0
    // of a_out (idx taken modulo N/2); bx is resized to the context's number
    // of secrets and takes the switched body parts. The full rotation key is
    // asked for: "[lightLeftRotate/Load Rotation Key] no left rotation key
    // for index <idx>". 0 copies the mask. The chain form adds bx_in rotated
    // along and copies the mask and bx_in for 0. A list without a polynomial
    // 0 throws "[Bx] The handle's list holds no polynomial.".
    void lightLeftRotateMSRLWE(const Bx &a_in, u64 idx, Bx &a_out, Bx &bx) const;
    void lightLeftRotateMSRLWE(const Bx &a_in, const Bx &bx_in, u64 idx, Bx &a_out, Bx &bx) const;
    // out = ct with bx / P added to its bodies, ct's rescale counter kept.
    // "[HomEvalImpl/modDownBxAndSum] The size of Bx polyvector and MSRLWE
    // ciphertexts are incompatible." unless bx holds k polynomials.
    void modDownBxAndSum(const Bx &bx, const CiphertextMSRLWE &ct, CiphertextMSRLWE &out) const;
    // The sum of first[i] times cts[i], polynomial by polynomial. An empty
    // range is refused; per term "[HomEvaluatorImpl/innerProductMSRLWE] The
    // length of the ciphertext should be <k + 1>but now<count>" and the
    // slot-encoding check; "Operands are in different devices."; the
    // ciphertexts at one level, the plaintexts not below it; then the missing
    // host kernel.
    void innerProductMSRLWE(std::vector<Plaintext>::const_iterator first,
                            std::vector<Plaintext>::const_iterator last,
                            std::vector<CiphertextMSRLWE>::const_iterator cts,
                            CiphertextMSRLWE &out) const;

private:
    friend struct detail::HomEvaluatorAccess;

    std::shared_ptr<ContextContent> context_;
    std::shared_ptr<HomEvaluatorImpl> impl_;
};

} // namespace Quelt
