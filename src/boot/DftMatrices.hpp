#pragma once

#include "Quelt/Message.hpp"
#include "boot/RadixDecomposition.hpp"
#include "boot/SparseComplexMatrix.hpp"

#include <cstdint>
#include <utility>
#include <vector>

// The matrices of the homomorphic DFT of bootstrapping and the diagonals its
// radix steps consume; BootConstants encodes them.
//
// Stage s of the n-point transform (n = 2^log_slots) is the n x n matrix V_s,
// block diagonal with 2^s butterfly blocks of size m = n / 2^s: with h = m / 2
// and zeta = exp(2 pi i / (4m)), B[t][t] = B[h+t][t] = 1, B[t][h+t] =
// zeta^(e_t) and B[h+t][h+t] = -zeta^(e_t) for t < h, e_0 = 1 and e_(t+1) =
// 5 e_t mod 4m. The product V_0 V_1 ... V_(log_slots - 1) applied to the
// bit-reversed slots is the forward slot transform. The CoeffToSlot stages are
// W_s = 0.5 conj(V_s)^T, their inverses. The step of bit range [b, e) is
// A = V_b ... V_(e-1) for SlotToCoeff and A = W_(e-1) ... W_b for CoeffToSlot.
//
// Diagonals of a step with radix r, stride s, baby count bb and giant count
// g, each scaled by the step factor f:
//  - step 0: r messages; message k (k < r) is the diagonal at offset
//    (h0 + k) s, rotated right by (h0 + floor(k / bb) bb) s, where h0 =
//    -(r / 2), or 0 when g is 1 (and for every first CoeffToSlot step on a
//    context that fuses the modulus raise, whose giant rotations it performs
//    itself);
//  - later steps: 2r - 1 messages; message k - 1 (1 <= k < 2r) is the diagonal
//    at offset (k - r) s, rotated right by (floor(k / bb) bb - r) s.
// Message k belongs to baby step k mod bb and giant block floor(k / bb); its
// pre-rotation is the giant rotation of that block, so that the consumer
// rotates each block once after its inner product with the baby steps.

namespace Quelt::dftmatrix {

// The log_slots stage matrices V_s of SlotToCoeff, with two slots per row
// and per column, into `stages` (replacing its contents).
void buildV0(std::uint64_t log_slots, std::vector<SparseComplexMatrix> &stages);
// The CoeffToSlot stages W_s = 0.5 conj(V_s)^T.
void buildInvV0(std::uint64_t log_slots, std::vector<SparseComplexMatrix> &stages);
// Writes the butterfly block of size m (a power of two, at least 2) with
// its corner at (row, col) into `matrix`.
void buildPartialMatrix(std::uint64_t row, std::uint64_t col, std::uint64_t m,
                        SparseComplexMatrix &matrix);
// The product of the stages of bit range [b, e): V_b ... V_(e-1), or,
// for the CoeffToSlot stages (c2s set), W_(e-1) ... W_b. The range must
// be non-empty and within the stages.
SparseComplexMatrix stepMatrix(const std::vector<SparseComplexMatrix> &stages,
                               std::pair<std::uint64_t, std::uint64_t> range, bool c2s);
// Diagonal k of an n x n matrix: slot i holds A[i][(i + k) mod n] (k may
// be negative), read with one sparse look-up per slot.
Message extractDiagonal(const SparseComplexMatrix &matrix, std::int64_t k);
// The scaled, pre-rotated diagonals of step `step` of rd from its matrix
// (laid out as above). zero_first_offset makes h0 = 0 for step 0 even with
// more than one giant step. Throws "[BootConstants] The baby-step
// count of a radix step should be positive".
std::vector<Message> diagonalsOfStep(const SparseComplexMatrix &matrix,
                                     const RadixDecomposition &rd, std::uint64_t step,
                                     double factor, bool zero_first_offset);

} // namespace Quelt::dftmatrix
