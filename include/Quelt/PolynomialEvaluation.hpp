#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/HomEvaluator.hpp"

#include <complex>
#include <cstdint>
#include <vector>

// Polynomials with complex coefficients evaluated slot by slot on a ring
// ciphertext, in the power basis, with a baby-step giant-step split. coeffs[i]
// is the coefficient of x^i; S = coeffs.size(); bs = baby_step is the block
// length and gs = ceil(S / bs) the number of blocks. The baby powers
// x^1 .. x^(bs-1) are made by balanced products, the giant powers
// x^(bs 2^i) by squaring; blocks of bs coefficients are linear combinations of
// baby powers, joined by a recursion over halves that multiplies by giant
// powers. Coefficients whose product with the multiplier is at most 1e-8 in
// modulus cost no product, except the top coefficient of a block and the
// constant term. Every power x^(2^i) costs i levels; a polynomial with S
// coefficients costs about ceil(log2 S) levels (more for baby steps that are
// not powers of two), so the input must hold that many.
//
// The multiplication key is needed; the conjugate-invariant form also needs
// the conjugation key. Preconditions, checked before anything is computed
// (each a RuntimeException): "[evaluatePolynomial] The polynomial should have
// at least two coefficients" (S < 2); "[evaluatePolynomial] The baby step
// should be at least 2" (bs < 2); for the conjugate-invariant form also
// "[evaluatePolynomial] The conjugate-invariant form needs at least two
// blocks" (gs < 2). Failures of the evaluator operations (levels used up,
// missing keys) pass through; ctxt_out is written only when every step has
// succeeded, and may be ctxt itself.

namespace Quelt {

// ctxt_out = multiplier * sum_{i < S} coeffs[i] x^i, x = ctxt.
void evaluatePolynomial(const HomEvaluator &eval, const CiphertextBase<EncryptionType::RLWE> &ctxt,
                        const std::vector<std::complex<double>> &coeffs,
                        CiphertextBase<EncryptionType::RLWE> &ctxt_out,
                        std::complex<double> multiplier, std::uint64_t baby_step);

// The coefficient list read as conjugate-symmetric (entries above S/2 are not
// read): with h = floor(S/2) and r the evaluation of
// multiplier * sum_{1 <= i < h} coeffs[i] x^i over the first floor(gs/2)
// blocks,
//
//   ctxt_out = r + conj(r) + multiplier * (coeffs[0] + coeffs[h] x^h),
//
// conj being the slot-wise conjugation: one conjugation in place of the
// upper half of the coefficients. S = bs 2^m makes r cover exactly the
// coefficients 1 .. h - 1.
void evaluateConjugateInvariantPolynomial(const HomEvaluator &eval,
                                          const CiphertextBase<EncryptionType::RLWE> &ctxt,
                                          const std::vector<std::complex<double>> &coeffs,
                                          CiphertextBase<EncryptionType::RLWE> &ctxt_out,
                                          std::complex<double> multiplier, std::uint64_t baby_step);

} // namespace Quelt
