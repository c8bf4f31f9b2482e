#pragma once

#include "Quelt/DeviceSpecificArray.hpp"

#include <complex>
#include <cstdint>

namespace Quelt {

// A host matrix of complex doubles stored column by column with a fixed number
// k of slots per column: column j owns slots j*k .. j*k + k - 1, each holding a
// row index and a value. A slot whose row index is kEmptyRow is free and holds
// 0. Within a column a row occurs at most once; free slots may sit between
// occupied ones, so look-ups scan all k slots of the column.
//
// The DFT factors of bootstrapping are products of butterfly stages with two
// nonzeros per row and per column; this layout lets them be multiplied and cut
// into diagonals without ever forming the dense matrix.
class SparseComplexMatrix {
public:
    // Row index of a free slot.
    static constexpr std::uint64_t kEmptyRow = ~std::uint64_t{0};

    static constexpr const char *kColumnFullMessage =
        "[SparseComplexMatrix] Inserting non-zero value over the given number of non-zero "
        "elements in a single column";
    static constexpr const char *kSizeMismatchMessage =
        "[SparseComplexMatrix] the size of matrix does not match";
    static constexpr const char *kOutsideMessage =
        "[SparseComplexMatrix] The position is outside the matrix";
    static constexpr const char *kTooLargeMessage = "[SparseComplexMatrix] The matrix is too large";

    // Walks the slots in storage order (column by column), free slots
    // included: the caller skips them by their row index.
    class Iterator {
    public:
        Iterator(std::uint64_t position, std::uint64_t nnz_per_col,
                 const std::complex<double> *values, const std::uint64_t *rows)
            : position_(position), nnz_per_col_(nnz_per_col), values_(values), rows_(rows) {}

        std::uint64_t row() const { return rows_[position_]; }
        // A matrix without slots has no column to report.
        std::uint64_t col() const { return nnz_per_col_ == 0 ? 0 : position_ / nnz_per_col_; }
        bool isEmpty() const { return rows_[position_] == kEmptyRow; }
        const std::complex<double> &value() const { return values_[position_]; }

        Iterator &operator++() {
            ++position_;
            return *this;
        }
        bool operator==(const Iterator &other) const { return position_ == other.position_; }

    private:
        std::uint64_t position_;
        std::uint64_t nnz_per_col_;
        const std::complex<double> *values_;
        const std::uint64_t *rows_;
    };

    // A rows x cols matrix with nnz_per_col slots per column, all free.
    // nnz_per_row is the row figure that sizes products and becomes the column
    // figure of the transpose. Throws RuntimeException "[SparseComplexMatrix]
    // The matrix is too large" when cols * nnz_per_col slots overflow.
    SparseComplexMatrix(std::uint64_t rows, std::uint64_t cols, std::uint64_t nnz_per_row,
                        std::uint64_t nnz_per_col);

    std::uint64_t getRows() const { return rows_; }
    std::uint64_t getCols() const { return cols_; }
    std::uint64_t getNnzPerRow() const { return nnz_per_row_; }
    std::uint64_t getNnzPerCol() const { return nnz_per_col_; }

    // The entry at (row, col): its value, or 0 when the column holds no slot
    // for the row or the position lies outside the matrix.
    std::complex<double> coeff(std::uint64_t row, std::uint64_t col) const;

    // The value slot of (row, col): the slot already holding the row, else the
    // first free slot of the column, which then takes the row (value 0).
    // Throws RuntimeException "[SparseComplexMatrix] Inserting non-zero value
    // over the given number of non-zero elements in a single column" when the
    // column is full and "[SparseComplexMatrix] The position is outside the
    // matrix" for a row or column beyond the sizes; nothing changes then.
    std::complex<double> &coeffRef(std::uint64_t row, std::uint64_t col);

    // In place: the conjugate transpose, with the row and column figures
    // swapped. Throws the full-column message of coeffRef when some row holds
    // more entries than the row figure; the matrix is unchanged then.
    void conjugateTranspose();

    // this * other, with nnz_per_row and nnz_per_col the products of the two
    // factors' figures. Throws RuntimeException "[SparseComplexMatrix] the
    // size of matrix does not match" when this has not as many columns as
    // other has rows, the too-large message when the figures overflow, and
    // coeffRef's full-column message when a column of the product needs more
    // slots than the figure gives.
    SparseComplexMatrix operator*(const SparseComplexMatrix &other) const;

    // Every slot's value becomes c * value (free slots stay 0).
    SparseComplexMatrix &operator*=(std::complex<double> c);

    // cols x nnz_per_col free slots: the column count and column figure
    // become the given ones (rows and the row figure stay), so that the
    // storage always matches the sizes. Throws the too-large message when the
    // slot count overflows; the matrix is unchanged then.
    void allocateFor(std::uint64_t cols, std::uint64_t nnz_per_col);

    Iterator begin() const { return iteratorAt(0); }
    Iterator end() const { return iteratorAt(slotCount()); }
    // Slots of column j; j must be below getCols().
    Iterator getColBegin(std::uint64_t j) const { return iteratorAt(j * nnz_per_col_); }
    Iterator getColEnd(std::uint64_t j) const { return iteratorAt((j + 1) * nnz_per_col_); }

private:
    std::uint64_t slotCount() const { return cols_ * nnz_per_col_; }
    Iterator iteratorAt(std::uint64_t position) const;
    // Slot of `row` in column `col`, or the first free one when the row has
    // none; nnz_per_col_ when neither exists. The position must be inside.
    std::uint64_t findSlot(std::uint64_t row, std::uint64_t col) const;

    std::uint64_t rows_;
    std::uint64_t cols_;
    std::uint64_t nnz_per_row_;
    std::uint64_t nnz_per_col_;
    DeviceSpecificArray<std::complex<double>> values_;
    DeviceSpecificArray<std::uint64_t> row_indices_;
};

} // namespace Quelt
