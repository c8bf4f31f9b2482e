// The stage matrices of the homomorphic DFT, their products over a bit range
// and the scaled, pre-rotated diagonals of a radix step.

#include "boot/DftMatrices.hpp"

#include "Quelt/Exception.hpp"
#include "boot/BootConstants.hpp"

#include <complex>
#include <numbers>
#include <utility>

namespace Quelt::dftmatrix {

namespace {

using u64 = std::uint64_t;
using i64 = std::int64_t;

constexpr const char *kBlockSizeMessage =
    "[BootConstants] A butterfly block should have an even size of at least 2";
constexpr const char *kStageLogSlotsMessage =
    "[BootConstants] The transform is too large for its stage matrices";
constexpr const char *kStageRangeMessage =
    "[BootConstants] The bit range should be a non-empty range of the stages";

// The stage matrices of transforms above 2^20 slots could not be split by a
// RadixDecomposition anyway.
constexpr u64 kMaxStageLogSlots = 20;

} // namespace

void buildPartialMatrix(u64 row, u64 col, u64 m, SparseComplexMatrix &matrix) {
    if (m < 2 || m % 2 != 0)
        throw RuntimeException(kBlockSizeMessage);
    const u64 h = m / 2;
    const u64 order = 4 * m;
    u64 e = 1;
    for (u64 t = 0; t < h; ++t) {
        // zeta^e with zeta = exp(2 pi i / 4m), from the angle itself rather
        // than repeated products, so that no rounding accumulates.
        const std::complex<double> twiddle = std::polar(
            1.0, 2.0 * std::numbers::pi * static_cast<double>(e) / static_cast<double>(order));
        matrix.coeffRef(row + t, col + t) = 1.0;
        matrix.coeffRef(row + h + t, col + t) = 1.0;
        matrix.coeffRef(row + t, col + h + t) = twiddle;
        matrix.coeffRef(row + h + t, col + h + t) = -twiddle;
        e = 5 * e % order;
    }
}

void buildV0(u64 log_slots, std::vector<SparseComplexMatrix> &stages) {
    if (log_slots > kMaxStageLogSlots)
        throw RuntimeException(kStageLogSlotsMessage);
    const u64 n = u64{1} << log_slots;
    std::vector<SparseComplexMatrix> built;
    built.reserve(log_slots);
    for (u64 s = 0; s < log_slots; ++s) {
        SparseComplexMatrix stage(n, n, 2, 2);
        const u64 m = n >> s;
        for (u64 corner = 0; corner < n; corner += m)
            buildPartialMatrix(corner, corner, m, stage);
        built.push_back(std::move(stage));
    }
    stages = std::move(built);
}

void buildInvV0(u64 log_slots, std::vector<SparseComplexMatrix> &stages) {
    std::vector<SparseComplexMatrix> built;
    buildV0(log_slots, built);
    // Each stage times its conjugate transpose is 2I.
    for (SparseComplexMatrix &stage : built) {
        stage.conjugateTranspose();
        stage *= 0.5;
    }
    stages = std::move(built);
}

SparseComplexMatrix stepMatrix(const std::vector<SparseComplexMatrix> &stages,
                               std::pair<u64, u64> range, bool c2s) {
    const auto [b, e] = range;
    if (b >= e || e > stages.size())
        throw RuntimeException(kStageRangeMessage);
    if (!c2s) {
        SparseComplexMatrix product = stages[b];
        for (u64 s = b + 1; s < e; ++s)
            product = product * stages[s];
        return product;
    }
    SparseComplexMatrix product = stages[e - 1];
    for (u64 s = e - 1; s > b; --s)
        product = product * stages[s - 1];
    return product;
}

Message extractDiagonal(const SparseComplexMatrix &matrix, i64 k) {
    const u64 n = matrix.getRows();
    std::vector<std::complex<double>> slots(n);
    if (n != 0) {
        const i64 size = static_cast<i64>(n);
        const u64 offset = static_cast<u64>(((k % size) + size) % size);
        for (u64 i = 0; i < n; ++i) {
            const u64 col = i < n - offset ? i + offset : i + offset - n;
            slots[i] = matrix.coeff(i, col);
        }
    }
    return Message(slots);
}

std::vector<Message> diagonalsOfStep(const SparseComplexMatrix &matrix,
                                     const RadixDecomposition &rd, u64 step, double factor,
                                     bool zero_first_offset) {
    const i64 r = static_cast<i64>(rd.radices.at(step));
    const i64 s = static_cast<i64>(rd.strides.at(step));
    const i64 bb = static_cast<i64>(rd.baby_steps.at(step));
    if (bb <= 0)
        throw RuntimeException(BootConstants::kBabyStepMessage);

    std::vector<Message> diagonals;
    auto add = [&](i64 offset, i64 pre_rotation) {
        Message diagonal = extractDiagonal(matrix, offset * s);
        for (std::complex<double> &value : diagonal)
            value *= factor;
        diagonals.push_back(rightRotate(diagonal, pre_rotation * s));
    };
    if (step == 0) {
        // Centred offsets pair with the giant rotations -g/2 .. g/2 - 1 of
        // the decomposition; a single giant step needs none.
        const bool centred = rd.giant_steps[0] != 1 && !zero_first_offset;
        const i64 h0 = centred ? -(r / 2) : 0;
        diagonals.reserve(static_cast<u64>(r));
        for (i64 k = 0; k < r; ++k)
            add(h0 + k, h0 + k / bb * bb);
    } else {
        // Offsets -r + 1 .. r - 1; -r never holds a nonzero, so block 0 has
        // one message fewer than the others.
        diagonals.reserve(static_cast<u64>(2 * r - 1));
        for (i64 k = 1; k < 2 * r; ++k)
            add(k - r, k / bb * bb - r);
    }
    return diagonals;
}

} // namespace Quelt::dftmatrix
