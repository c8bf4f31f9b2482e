#include "boot/SparseComplexMatrix.hpp"

#include "Quelt/Exception.hpp"
#include "foundation/WordArith.hpp"
#include "foundation/WordReduction.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace Quelt {

namespace {

u64 checkedSlotCount(u64 cols, u64 nnz_per_col) {
    const std::optional<u64> slots = utils::checkedProduct(cols, nnz_per_col);
    if (!slots)
        throw RuntimeException(SparseComplexMatrix::kTooLargeMessage);
    return *slots;
}

} // namespace

SparseComplexMatrix::SparseComplexMatrix(u64 rows, u64 cols, u64 nnz_per_row, u64 nnz_per_col)
    : rows_(rows), cols_(0), nnz_per_row_(nnz_per_row), nnz_per_col_(0) {
    allocateFor(cols, nnz_per_col);
}

SparseComplexMatrix::Iterator SparseComplexMatrix::iteratorAt(u64 position) const {
    return Iterator(position, nnz_per_col_, values_.getData(), row_indices_.getData());
}

u64 SparseComplexMatrix::findSlot(u64 row, u64 col) const {
    const u64 first = col * nnz_per_col_;
    const u64 *rows = row_indices_.getData() + first;
    u64 free_slot = nnz_per_col_;
    for (u64 s = 0; s < nnz_per_col_; ++s) {
        if (rows[s] == row)
            return s;
        if (rows[s] == kEmptyRow && free_slot == nnz_per_col_)
            free_slot = s;
    }
    return free_slot;
}

std::complex<double> SparseComplexMatrix::coeff(u64 row, u64 col) const {
    if (row >= rows_ || col >= cols_)
        return {};
    const u64 first = col * nnz_per_col_;
    for (u64 s = 0; s < nnz_per_col_; ++s)
        if (row_indices_[first + s] == row)
            return values_[first + s];
    return {};
}

std::complex<double> &SparseComplexMatrix::coeffRef(u64 row, u64 col) {
    if (row >= rows_ || col >= cols_)
        throw RuntimeException(kOutsideMessage);
    const u64 s = findSlot(row, col);
    if (s == nnz_per_col_)
        throw RuntimeException(kColumnFullMessage);
    const u64 position = col * nnz_per_col_ + s;
    // A free slot holds 0 already; taking it only records the row.
    row_indices_[position] = row;
    return values_[position];
}

void SparseComplexMatrix::conjugateTranspose() {
    // Built aside and swapped in, so a row with too many entries leaves this
    // matrix as it was.
    SparseComplexMatrix transposed(cols_, rows_, nnz_per_col_, nnz_per_row_);
    for (Iterator it = begin(); it != end(); ++it)
        if (!it.isEmpty())
            transposed.coeffRef(it.col(), it.row()) = std::conj(it.value());
    *this = std::move(transposed);
}

SparseComplexMatrix SparseComplexMatrix::operator*(const SparseComplexMatrix &other) const {
    if (cols_ != other.rows_)
        throw RuntimeException(kSizeMismatchMessage);
    const std::optional<u64> per_row = utils::checkedProduct(nnz_per_row_, other.nnz_per_row_);
    const std::optional<u64> per_col = utils::checkedProduct(nnz_per_col_, other.nnz_per_col_);
    if (!per_row || !per_col)
        throw RuntimeException(kTooLargeMessage);
    SparseComplexMatrix product(rows_, other.cols_, *per_row, *per_col);
    // Column j of the product is the sum, over the entries (kk, b) of column
    // j of other, of b times column kk of this.
    for (u64 j = 0; j < other.cols_; ++j) {
        for (Iterator b = other.getColBegin(j); b != other.getColEnd(j); ++b) {
            if (b.isEmpty())
                continue;
            const u64 kk = b.row();
            for (Iterator a = getColBegin(kk); a != getColEnd(kk); ++a)
                if (!a.isEmpty())
                    product.coeffRef(a.row(), j) += a.value() * b.value();
        }
    }
    return product;
}

SparseComplexMatrix &SparseComplexMatrix::operator*=(std::complex<double> c) {
    // Free slots are skipped: they keep 0 even for an infinite or NaN c.
    for (u64 position = 0; position < slotCount(); ++position)
        if (row_indices_[position] != kEmptyRow)
            values_[position] = c * values_[position];
    return *this;
}

void SparseComplexMatrix::allocateFor(u64 cols, u64 nnz_per_col) {
    const u64 slots = checkedSlotCount(cols, nnz_per_col);
    // Both arrays are made before either is replaced, so a failed allocation
    // changes nothing.
    DeviceSpecificArray<std::complex<double>> values(slots);
    DeviceSpecificArray<u64> rows(slots);
    std::fill(values.begin(), values.end(), std::complex<double>{});
    std::fill(rows.begin(), rows.end(), kEmptyRow);
    values_ = std::move(values);
    row_indices_ = std::move(rows);
    cols_ = cols;
    nnz_per_col_ = nnz_per_col;
}

} // namespace Quelt
