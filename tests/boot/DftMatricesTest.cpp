// The stage matrices of the homomorphic DFT and the diagonals of its radix
// steps: the stage product is the slot transform, the twiddles and diagonals
// are the documented ones, and the diagonals of every step, rotated back and
// summed, give the step's matrix.

#include "boot/DftMatrices.hpp"

#include "Quelt/Context.hpp"
#include "Quelt/EnDecoder.hpp"
#include "arith/FFT.hpp"
#include "boot/BootConstants.hpp"
#include "boot/BootTestSupport.hpp"
#include "support/DataObjects.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

namespace Quelt {
namespace {

using i64 = std::int64_t;
using cd = std::complex<double>;
using test::expectThrowsMessage;
using test::maxDistance;
using test::stepDiagonals;

Message randomMessage(u64 log_slots, std::mt19937_64 &rng) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Message m(log_slots);
    for (cd &slot : m)
        slot = {value(rng), value(rng)};
    return m;
}

// Slot i of the result is slot i + k of m.
Message leftRotate(const Message &m, i64 k) { return rightRotate(m, -k); }

Message times(const Message &a, const Message &b) {
    Message out(a);
    for (u64 i = 0; i < out.getSize(); ++i)
        out[i] *= b[i];
    return out;
}

void accumulate(Message &sum, const Message &term) {
    for (u64 i = 0; i < sum.getSize(); ++i)
        sum[i] += term[i];
}

Message scaled(const Message &m, double f) {
    Message out(m);
    for (cd &slot : out)
        slot *= f;
    return out;
}

// y = A x from the stored entries only.
Message apply(const SparseComplexMatrix &a, const Message &x) {
    Message y(x.getLogSlots(), cd{});
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!it.isEmpty())
            y[it.row()] += it.value() * x[it.col()];
    return y;
}

Message bitReversed(const Message &m) {
    const u64 n = m.getSize();
    const int bits = std::countr_zero(n);
    Message out(m);
    for (u64 i = 0; i < n; ++i) {
        u64 r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        out[r] = m[i];
    }
    return out;
}

TEST(DftMatricesTest, StageProductIsTheSlotTransform) {
    std::mt19937_64 rng(15);
    for (u64 log_n = 1; log_n <= 10; ++log_n) {
        SCOPED_TRACE(log_n);
        std::vector<SparseComplexMatrix> v, w;
        dftmatrix::buildV0(log_n, v);
        dftmatrix::buildInvV0(log_n, w);
        ASSERT_EQ(v.size(), log_n);
        for (const SparseComplexMatrix &stage : v) {
            EXPECT_EQ(stage.getNnzPerCol(), 2u);
            EXPECT_EQ(stage.getNnzPerRow(), 2u);
        }
        // V_0 V_1 ... V_(n-1) x and W_(n-1) ... W_0 x, one stage at a time.
        auto s2c = [&](Message x) {
            for (u64 s = log_n; s > 0; --s)
                x = apply(v[s - 1], x);
            return x;
        };
        auto c2s = [&](Message x) {
            for (const SparseComplexMatrix &stage : w)
                x = apply(stage, x);
            return x;
        };

        // The landed forward slot transform of x is the stage product applied
        // to the bit-reversed x.
        const Message x = randomMessage(log_n, rng);
        Message expected(x);
        const FFT fft(u64{2} << log_n, {kHostDevice});
        fft.forwardFFT(expected);
        EXPECT_LT(maxDistance(s2c(bitReversed(x)), expected), 1e-12);
        // CoeffToSlot undoes SlotToCoeff.
        EXPECT_LT(maxDistance(c2s(s2c(x)), x), 1e-12);
    }

    // As matrices for a small size: the product is the identity.
    std::vector<SparseComplexMatrix> v, w;
    dftmatrix::buildV0(3, v);
    dftmatrix::buildInvV0(3, w);
    const SparseComplexMatrix identity =
        dftmatrix::stepMatrix(w, {0, 3}, true) * dftmatrix::stepMatrix(v, {0, 3}, false);
    for (u64 i = 0; i < 8; ++i)
        for (u64 j = 0; j < 8; ++j)
            EXPECT_LT(std::abs(identity.coeff(i, j) - cd(i == j ? 1.0 : 0.0)), 1e-15);
}

TEST(DftMatricesTest, OneSlotPairTwiddle) {
    std::vector<SparseComplexMatrix> v;
    dftmatrix::buildV0(1, v);
    ASSERT_EQ(v.size(), 1u);
    const cd zeta = std::polar(1.0, 2.0 * std::numbers::pi / 8.0);
    EXPECT_EQ(v[0].coeff(0, 0), cd(1.0));
    EXPECT_EQ(v[0].coeff(1, 0), cd(1.0));
    EXPECT_LT(std::abs(v[0].coeff(0, 1) - zeta), 1e-16);
    EXPECT_LT(std::abs(v[0].coeff(1, 1) + zeta), 1e-16);

    std::vector<SparseComplexMatrix> none;
    dftmatrix::buildV0(0, none);
    EXPECT_TRUE(none.empty());
    SparseComplexMatrix m(4, 4, 2, 2);
    EXPECT_THROW(dftmatrix::buildPartialMatrix(0, 0, 1, m), RuntimeException);
    EXPECT_THROW(dftmatrix::stepMatrix(v, {0, 2}, false), RuntimeException);
    EXPECT_THROW(dftmatrix::stepMatrix(v, {1, 1}, false), RuntimeException);
}

TEST(DftMatricesTest, DiagonalsAndRotations) {
    SparseComplexMatrix m(4, 4, 2, 2);
    m.coeffRef(0, 1) = 1.0; // offset 1
    m.coeffRef(3, 0) = 2.0; // offset 1 (wraps)
    m.coeffRef(2, 1) = 3.0; // offset -1
    const Message d1 = dftmatrix::extractDiagonal(m, 1);
    const Message dm1 = dftmatrix::extractDiagonal(m, -1);
    const Message d5 = dftmatrix::extractDiagonal(m, 5);
    EXPECT_EQ(std::vector<cd>(d1.begin(), d1.end()), (std::vector<cd>{1.0, 0.0, 0.0, 2.0}));
    EXPECT_EQ(std::vector<cd>(dm1.begin(), dm1.end()), (std::vector<cd>{0.0, 0.0, 3.0, 0.0}));
    EXPECT_EQ(std::vector<cd>(d5.begin(), d5.end()), std::vector<cd>(d1.begin(), d1.end()));

    const Message x(std::vector<cd>{1.0, 2.0, 3.0, 4.0});
    const Message r1 = rightRotate(x, 1);
    const Message rm1 = rightRotate(x, -1);
    const Message r9 = rightRotate(x, 9);
    EXPECT_EQ(std::vector<cd>(r1.begin(), r1.end()), (std::vector<cd>{4.0, 1.0, 2.0, 3.0}));
    EXPECT_EQ(std::vector<cd>(rm1.begin(), rm1.end()), (std::vector<cd>{2.0, 3.0, 4.0, 1.0}));
    EXPECT_EQ(std::vector<cd>(r9.begin(), r9.end()), std::vector<cd>(r1.begin(), r1.end()));
    EXPECT_EQ(rightRotate(Message(), 3).getSize(), 0u);
}

// Checks, for every step of rd, that the step's nonzeros lie on the
// diagonals the layout stores, and that the stored pre-rotated messages,
// combined as the matrix products of bootstrapping combine them, give f A x.
void checkLayout(u64 log_slots, const RadixDecomposition &rd, bool c2s, bool zero_first_offset) {
    std::mt19937_64 rng(log_slots * 2 + (c2s ? 1 : 0));
    std::vector<SparseComplexMatrix> stages;
    if (c2s)
        dftmatrix::buildInvV0(log_slots, stages);
    else
        dftmatrix::buildV0(log_slots, stages);
    const double f = 0.75;
    for (u64 j = 0; j < rd.num_radices; ++j) {
        SCOPED_TRACE(testing::Message()
                     << "log_slots " << log_slots << (c2s ? " C2S" : " S2C") << " step " << j);
        const SparseComplexMatrix a = dftmatrix::stepMatrix(stages, rd.bit_ranges[j], c2s);
        const Message x = randomMessage(log_slots, rng);
        const Message ax = apply(a, x);
        const i64 r = static_cast<i64>(rd.radices[j]);
        const i64 s = static_cast<i64>(rd.strides[j]);
        const u64 bb = rd.baby_steps[j];
        const u64 g = rd.giant_steps[j];
        // Only a nonzero diagonal needs its offset to be covered; the offsets
        // of a step are consecutive multiples of the stride.
        Message sum(log_slots, cd{});
        const i64 first = j == 0 ? (g == 1 || zero_first_offset ? 0 : -(r / 2)) : -r + 1;
        const i64 count = j == 0 ? r : 2 * r - 1;
        for (i64 d = first; d < first + count; ++d)
            accumulate(sum, times(dftmatrix::extractDiagonal(a, d * s), leftRotate(x, d * s)));
        EXPECT_LT(maxDistance(sum, ax), 1e-12);

        const std::vector<Message> diagonals =
            dftmatrix::diagonalsOfStep(a, rd, j, f, zero_first_offset);
        ASSERT_EQ(diagonals.size(), static_cast<u64>(count));
        ASSERT_EQ(bb * g, static_cast<u64>(j == 0 ? r : 2 * r));
        // Baby steps: x rotated by 0, s, ..., (bb - 1) s.
        std::vector<Message> baby;
        for (i64 amount : rd.getRotIndicesForBabyStep(j, false))
            baby.push_back(leftRotate(x, amount));
        // Giant block t: an inner product of bb consecutive diagonals with the
        // baby steps; for the later steps block 0 lacks the diagonal -r and
        // starts with baby step 1, block t >= 1 starts at diagonal t bb - 1.
        const std::vector<i64> giant = rd.getRotIndicesForGiantStep(j, false);
        ASSERT_EQ(giant.size(), g);
        Message result(log_slots, cd{});
        for (u64 t = 0; t < g; ++t) {
            Message block(log_slots, cd{});
            for (u64 beta = 0; beta < bb; ++beta) {
                if (j != 0 && t == 0 && beta == 0)
                    continue;
                const u64 position = j == 0 ? t * bb + beta : t * bb + beta - 1;
                accumulate(block, times(diagonals[position], baby[beta]));
            }
            accumulate(result, leftRotate(block, giant[t]));
        }
        EXPECT_LT(maxDistance(result, scaled(ax, f)), 1e-12);

        // A single giant step stores the plain diagonals from offset 0.
        if (j == 0 && g == 1) {
            for (i64 k = 0; k < r; ++k)
                EXPECT_EQ(maxDistance(diagonals[static_cast<u64>(k)],
                                      scaled(dftmatrix::extractDiagonal(a, k * s), f)),
                          0.0);
        }
    }
}

TEST(DftMatricesLayoutTest, StepsCombineToTheStepMatrix) {
    for (u64 log_slots : {1, 4, 5, 7, 14}) {
        const RadixDecomposition rd(log_slots);
        checkLayout(log_slots, rd, false, false);
        checkLayout(log_slots, rd, true, false);
    }
    // One giant step for step 0 after setBabyStep, and another split of the
    // later step.
    RadixDecomposition single(5);
    single.setBabyStep(0, single.radices[0]);
    single.setBabyStep(1, 2);
    checkLayout(5, single, false, false);
    checkLayout(5, single, true, false);
    // The first CoeffToSlot step of a fused modulus raise: one giant step,
    // offsets from 0, which the raise multiplies with x rotated by j s.
    RadixDecomposition fused(std::vector<u64>{4, 2, 1});
    fused.setBabyStep(0, fused.radices[0]);
    checkLayout(7, fused, true, true);
}

TEST(DftMatricesLayoutTest, RefusesAZeroBabyCount) {
    RadixDecomposition rd(3);
    rd.baby_steps[0] = 0;
    std::vector<SparseComplexMatrix> stages;
    dftmatrix::buildV0(3, stages);
    const SparseComplexMatrix a = dftmatrix::stepMatrix(stages, {0, 3}, false);
    expectThrowsMessage([&] { dftmatrix::diagonalsOfStep(a, rd, 0, 1.0, false); },
                        BootConstants::kBabyStepMessage);
}

} // namespace
} // namespace Quelt
