#pragma once

#include "Quelt/Ciphertext.hpp"
#include "Quelt/EncryptionType.hpp"
#include "Quelt/HomEvaluator.hpp"
#include "Quelt/Message.hpp"
#include "Quelt/Plaintext.hpp"

#include <cstdint>
#include <vector>

// Products of encrypted slot vectors with matrices given as lists of
// (generalised) diagonals, in baby-step giant-step form. With bs =
// baby_step, n = num_diag, gs = n / bs (integer division) and S the slot
// count, the baby amounts are r_i = (i * stride) mod S (i < bs) and the giant
// amounts g_j = (j * bs * stride) mod S (j < gs). The input is rotated once by
// every baby amount, each block of bs diagonals is combined with those
// rotations by one plaintext inner product, and the gs block sums are rotated
// by the giant amounts and summed:
//
//   out = rescale( sum_{j < gs} rot_{g_j}( sum_{i < bs} d[j bs + i] * rot_{r_i}(x) ) ),
//
// rot_a being a left rotation of the slots by a. The caller supplies the
// diagonals already arranged for this form; diagonals j bs + i with
// j bs + i >= gs bs have no effect. Every product ends with one rescale: the
// output is one level below the input, with rescale counter 0 and the
// input's log slot count.
//
// Temporaries, rotations and block sums belong to the output's context. An
// input from a context without the small-parameter flag is first placed into
// an output context that has it (same words, no arithmetic); in every other
// pairing the input is used as it is.
//
// Preconditions, checked in this order before anything is computed (each a
// RuntimeException): "[blockMatMulBSGS] The baby step should be positive"
// (bs = 0); "[blockMatMulBSGS] The baby step should not exceed the number of
// diagonals" (bs > n); for the two-dimensional forms "[blockMatMulBSGS] The
// list of input ciphertexts is empty" and "[blockMatMulBSGS] The list of
// output ciphertexts is empty"; "[blockMatMulBSGS] The diagonal lists are
// shorter than the layout needs" when fewer than n diagonals per input are
// given (two-dimensional: fewer lists than outputs, or a list with fewer than
// (number of inputs) x n entries). Failures of the evaluator operations
// (missing rotation keys "Failed to load the left rotation key for index
// <idx>", operand checks) pass through. The outputs are written only when
// every step has succeeded.
//
// Rotation keys must exist for every nonzero baby and giant amount; the
// message form's single rotations may also run through the key pack's
// rotation-key decomposition.

namespace Quelt {

// One input, plaintext diagonals: the input is rotated by all baby amounts
// with one hoisted rotation; diags[j bs + i] multiplies the i-th rotation in
// giant block j. S is the input's slot count.
void blockMatMul1DBSGS(const HomEvaluator &eval, const CiphertextBase<EncryptionType::RLWE> &ctxt,
                       const std::vector<Plaintext> &diags,
                       CiphertextBase<EncryptionType::RLWE> &ctxt_out, std::uint64_t baby_step,
                       std::uint64_t num_diag, std::uint64_t stride);

// One input, message diagonals: all n messages are encoded at the input's
// level with rescale counter 0 in the output's context (its encoder's
// messages pass through), and the baby rotations are made one at a time.
void blockMatMul1DBSGS(const HomEvaluator &eval, const CiphertextBase<EncryptionType::RLWE> &ctxt,
                       const std::vector<Message> &diags,
                       CiphertextBase<EncryptionType::RLWE> &ctxt_out, std::uint64_t baby_step,
                       std::uint64_t num_diag, std::uint64_t stride);

// m inputs, k = ctxts_out.size() outputs (the output vector is never
// resized; every entry must carry a context): for every output t,
//
//   out[t] = rescale( sum_{j < gs} rot_{g_j}( sum_{c < m, i < bs}
//                       diags[t][c n + j bs + i] * rot_{r_i}(x_c) ) ).
//
// Every input is rotated once (hoisted) and its rotations serve all outputs;
// with gs = 1 the single block sum is not rotated. The working context and S
// are those of ctxts_out[0].
void blockMatMul2DBSGS(const HomEvaluator &eval,
                       const std::vector<CiphertextBase<EncryptionType::RLWE>> &ctxts,
                       const std::vector<std::vector<Plaintext>> &diags,
                       std::vector<CiphertextBase<EncryptionType::RLWE>> &ctxts_out,
                       std::uint64_t baby_step, std::uint64_t num_diag, std::uint64_t stride);

// The multi-secret form of the above: every secret's messages follow the
// formula.
void blockMatMul2DBSGS(const HomEvaluator &eval,
                       const std::vector<CiphertextBase<EncryptionType::MSRLWE>> &ctxts,
                       const std::vector<std::vector<Plaintext>> &diags,
                       std::vector<CiphertextBase<EncryptionType::MSRLWE>> &ctxts_out,
                       std::uint64_t baby_step, std::uint64_t num_diag, std::uint64_t stride);

} // namespace Quelt
