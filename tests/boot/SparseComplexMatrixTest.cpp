#include "boot/SparseComplexMatrix.hpp"

#include "boot/BootConstants.hpp"
#include "boot/DftMatrices.hpp"
#include "foundation/WordArith.hpp"
#include "support/ExpectThrow.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <set>
#include <vector>

namespace Quelt {
namespace {

using cd = std::complex<double>;
using Dense = std::vector<std::vector<cd>>;
using test::expectThrowsMessage;

Dense toDense(const SparseComplexMatrix &m) {
    Dense dense(m.getRows(), std::vector<cd>(m.getCols()));
    for (u64 i = 0; i < m.getRows(); ++i)
        for (u64 j = 0; j < m.getCols(); ++j)
            dense[i][j] = m.coeff(i, j);
    return dense;
}

// Up to `per_col` entries in every column, at distinct random rows.
SparseComplexMatrix randomSparse(u64 rows, u64 cols, u64 per_row, u64 per_col,
                                 std::mt19937_64 &rng) {
    SparseComplexMatrix m(rows, cols, per_row, per_col);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (u64 j = 0; j < cols; ++j) {
        std::set<u64> used;
        const u64 count = rng() % (per_col + 1);
        while (used.size() < count)
            used.insert(rng() % rows);
        for (u64 row : used)
            m.coeffRef(row, j) = {value(rng), value(rng)};
    }
    return m;
}

TEST(SparseComplexMatrixTest, FreshMatrixAndInsertionOrder) {
    SparseComplexMatrix m(6, 4, 2, 3);
    EXPECT_EQ(m.getRows(), 6u);
    EXPECT_EQ(m.getCols(), 4u);
    EXPECT_EQ(m.getNnzPerRow(), 2u);
    EXPECT_EQ(m.getNnzPerCol(), 3u);
    for (u64 i = 0; i < 6; ++i)
        for (u64 j = 0; j < 4; ++j)
            EXPECT_EQ(m.coeff(i, j), cd{});
    // Outside the matrix: 0, nothing read past the arrays.
    EXPECT_EQ(m.coeff(6, 0), cd{});
    EXPECT_EQ(m.coeff(0, 4), cd{});
    EXPECT_EQ(m.coeff(std::numeric_limits<u64>::max(), std::numeric_limits<u64>::max()), cd{});

    m.coeffRef(5, 1) = 1.0;
    m.coeffRef(2, 1) = 2.0;
    m.coeffRef(5, 1) += 10.0; // the existing slot, not a new one
    m.coeffRef(4, 1) = 3.0;
    std::vector<u64> rows;
    std::vector<cd> values;
    for (auto it = m.getColBegin(1); it != m.getColEnd(1); ++it) {
        EXPECT_EQ(it.col(), 1u);
        rows.push_back(it.row());
        values.push_back(it.value());
    }
    EXPECT_EQ(rows, (std::vector<u64>{5, 2, 4}));
    EXPECT_EQ(values, (std::vector<cd>{11.0, 2.0, 3.0}));
    EXPECT_EQ(m.coeff(2, 1), cd(2.0));

    // A fourth distinct row does not fit; the column keeps its three.
    expectThrowsMessage([&] { m.coeffRef(0, 1); }, SparseComplexMatrix::kColumnFullMessage);
    EXPECT_EQ(m.coeff(0, 1), cd{});
    expectThrowsMessage([&] { m.coeffRef(6, 0); }, SparseComplexMatrix::kOutsideMessage);
    expectThrowsMessage([&] { m.coeffRef(0, 4); }, SparseComplexMatrix::kOutsideMessage);

    // Storage order walks column by column; free slots are marked.
    u64 occupied = 0;
    u64 slots = 0;
    for (auto it = m.begin(); it != m.end(); ++it, ++slots)
        occupied += it.isEmpty() ? 0 : 1;
    EXPECT_EQ(slots, 12u);
    EXPECT_EQ(occupied, 3u);
}

TEST(SparseComplexMatrixTest, ProductsAgainstDenseProducts) {
    std::mt19937_64 rng(24);
    struct Shape {
        u64 rows, inner, cols, a_per_col, b_per_col;
    };
    for (const Shape &s : {Shape{8, 8, 8, 2, 2}, Shape{5, 7, 3, 3, 4}, Shape{16, 4, 9, 4, 1}}) {
        const SparseComplexMatrix a = randomSparse(s.rows, s.inner, s.inner, s.a_per_col, rng);
        const SparseComplexMatrix b = randomSparse(s.inner, s.cols, s.cols, s.b_per_col, rng);
        const SparseComplexMatrix c = a * b;
        EXPECT_EQ(c.getRows(), s.rows);
        EXPECT_EQ(c.getCols(), s.cols);
        EXPECT_EQ(c.getNnzPerCol(), s.a_per_col * s.b_per_col);
        EXPECT_EQ(c.getNnzPerRow(), s.inner * s.cols);
        const Dense da = toDense(a), db = toDense(b), dc = toDense(c);
        for (u64 i = 0; i < s.rows; ++i)
            for (u64 j = 0; j < s.cols; ++j) {
                cd expected{};
                for (u64 k = 0; k < s.inner; ++k)
                    expected += da[i][k] * db[k][j];
                EXPECT_LT(std::abs(dc[i][j] - expected), 1e-14);
            }
    }

    const SparseComplexMatrix a(3, 4, 1, 1), b(3, 4, 1, 1);
    expectThrowsMessage([&] { (void)(a * b); }, SparseComplexMatrix::kSizeMismatchMessage);
}

TEST(SparseComplexMatrixTest, ProductOfTwoStagesHasFourSlotsPerColumn) {
    std::vector<SparseComplexMatrix> stages;
    dftmatrix::buildV0(2, stages);
    ASSERT_EQ(stages.size(), 2u);
    const SparseComplexMatrix product = stages[0] * stages[1];
    EXPECT_EQ(product.getNnzPerCol(), 4u);
    EXPECT_EQ(product.getNnzPerRow(), 4u);
    // The 4-point product is dense: every slot is taken.
    for (auto it = product.begin(); it != product.end(); ++it)
        EXPECT_FALSE(it.isEmpty());
}

TEST(SparseComplexMatrixTest, ConjugateTranspose) {
    std::mt19937_64 rng(7);
    const SparseComplexMatrix original = randomSparse(6, 9, 9, 3, rng);
    SparseComplexMatrix m = original;
    m.conjugateTranspose();
    EXPECT_EQ(m.getRows(), 9u);
    EXPECT_EQ(m.getCols(), 6u);
    EXPECT_EQ(m.getNnzPerRow(), 3u);
    EXPECT_EQ(m.getNnzPerCol(), 9u);
    for (u64 i = 0; i < 6; ++i)
        for (u64 j = 0; j < 9; ++j)
            EXPECT_EQ(m.coeff(j, i), std::conj(original.coeff(i, j)));
    m.conjugateTranspose();
    EXPECT_EQ(toDense(m), toDense(original));

    // A row holding more entries than the row figure: refused, unchanged.
    SparseComplexMatrix crowded(2, 2, 1, 2);
    crowded.coeffRef(0, 0) = 1.0;
    crowded.coeffRef(0, 1) = 2.0;
    const Dense before = toDense(crowded);
    expectThrowsMessage([&] { crowded.conjugateTranspose(); },
                        SparseComplexMatrix::kColumnFullMessage);
    EXPECT_EQ(crowded.getNnzPerCol(), 2u);
    EXPECT_EQ(toDense(crowded), before);
}

TEST(SparseComplexMatrixTest, ScalingAndReallocation) {
    SparseComplexMatrix m(4, 4, 2, 2);
    m.coeffRef(1, 0) = cd(3.0, -1.0);
    m.coeffRef(3, 2) = 8.0;
    m *= 0.5;
    EXPECT_EQ(m.coeff(1, 0), cd(1.5, -0.5));
    EXPECT_EQ(m.coeff(3, 2), cd(4.0));
    std::vector<u64> rows;
    for (auto it = m.begin(); it != m.end(); ++it)
        rows.push_back(it.row());
    const u64 e = SparseComplexMatrix::kEmptyRow;
    EXPECT_EQ(rows, (std::vector<u64>{1, e, e, e, 3, e, e, e}));

    // Free slots stay 0 even under an infinite factor.
    m *= std::numeric_limits<double>::infinity();
    for (auto it = m.begin(); it != m.end(); ++it) {
        if (it.isEmpty()) {
            EXPECT_EQ(it.value(), cd{});
        }
    }

    m.allocateFor(2, 3);
    EXPECT_EQ(m.getCols(), 2u);
    EXPECT_EQ(m.getNnzPerCol(), 3u);
    EXPECT_EQ(m.getRows(), 4u);
    for (auto it = m.begin(); it != m.end(); ++it)
        EXPECT_TRUE(it.isEmpty());
    EXPECT_EQ(m.coeff(3, 2), cd{}); // column 2 no longer exists

    const u64 huge = u64{1} << 40;
    expectThrowsMessage([&] { SparseComplexMatrix(1, huge, 1, huge); },
                        SparseComplexMatrix::kTooLargeMessage);
    expectThrowsMessage([&] { m.allocateFor(huge, huge); }, SparseComplexMatrix::kTooLargeMessage);
    EXPECT_EQ(m.getCols(), 2u);
}

} // namespace
} // namespace Quelt
