#pragma once

#include "Quelt/Plaintext.hpp"
#include "foundation/WordArith.hpp"

#include <complex>
#include <cstdint>
#include <memory>

namespace Quelt {

class ContextContent;
class Message;
class PolynomialVector;

// The evaluator's operations on plain data: messages slot by slot, and
// plaintexts and polynomial lists with the ciphertext arithmetic on their
// encoded polynomials. It holds only the context; the messages it throws
// are the evaluator's (HomEvaluatorImpl), as the facade documents them.
class PlainEvaluator {
public:
    using i64 = std::int64_t;
    using Complex = std::complex<double>;

    explicit PlainEvaluator(std::shared_ptr<ContextContent> context);

    // Messages, slot by slot over the first operand's slots.
    void negate(const Message &m, Message &out) const;
    void add(const Message &m, const Complex &c, Message &out) const;
    void sub(const Message &m, const Complex &c, Message &out) const;
    void add(const Message &a, const Message &b, Message &out) const;
    void sub(const Message &a, const Message &b, Message &out) const;
    void mult(const Message &m, const Complex &c, Message &out) const;
    void mult(const Message &a, const Message &b, Message &out) const;
    void square(const Message &m, Message &out) const;
    void multImagUnit(const Message &m, Message &out) const;
    void conjugate(const Message &m, Message &out) const;
    // Rotations of the slots by idx (modulo the slot count; exact
    // permutations, out may be m), and the sum of the n rotations by 0, gap,
    // ..., (n - 1) gap, one rotation per term.
    void leftRotate(const Message &m, u64 idx, Message &out) const;
    void rightRotate(const Message &m, u64 idx, Message &out) const;
    void leftRotateReduce(const Message &in, u64 gap, u64 n, Message &out) const;
    void rightRotateReduce(const Message &in, u64 gap, u64 n, Message &out) const;

    // Plaintexts: the ciphertext arithmetic on the encoded polynomial.
    void negate(const Plaintext &p, Plaintext &out) const;
    void add(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void sub(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void add(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void sub(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void multWithoutRescale(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void mult(const Plaintext &p, const Complex &c, Plaintext &out) const;
    void multWithoutRescale(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void mult(const Plaintext &a, const Plaintext &b, Plaintext &out) const;
    void square(const Plaintext &p, Plaintext &out) const;
    void multImagUnit(const Plaintext &p, Plaintext &out) const;
    void multInteger(const Plaintext &p, i64 k, Plaintext &out) const;
    void rescale(Plaintext &p) const;
    void inverseRescale(Plaintext &p) const;
    void relevel(const Plaintext &p, u64 level, Plaintext &out) const;
    void conjugate(const Plaintext &p, Plaintext &out) const;

    // Polynomial lists (the data of a Bx): the prime-wise sum, the longer
    // list's tail copied; the product of every polynomial with the
    // plaintext's, temporary limbs included.
    void add(const PolynomialVector &a, const PolynomialVector &b, PolynomialVector &out) const;
    void multWithoutRescale(const PolynomialVector &a, const Plaintext &p,
                            PolynomialVector &out) const;

private:
    // The checks of the plaintext products (level 0, levels, counters, then
    // checkPrecondition) and the products after them.
    void checkPlainProduct(const Plaintext &a, const Plaintext &b, const char *function) const;
    void addOrSubPlain(const Plaintext &a, const Plaintext &b, Plaintext &out, bool subtract) const;
    void rescaleChecked(Plaintext &p) const;
    void rotateReduce(const Message &in, u64 gap, u64 n, Message &out, bool left) const;

    std::shared_ptr<ContextContent> context_;
};

} // namespace Quelt
