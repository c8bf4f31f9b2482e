#pragma once

#include "Quelt/DeviceSpecificArray.hpp"

#include <cstdint>

namespace Quelt {

// rows x columns elements in one device array, row after row; element (r, c)
// is at r * columns + c.
template <typename T>
class DeviceSpecificArray2D {
public:
    DeviceSpecificArray2D() = default;
    DeviceSpecificArray2D(std::uint64_t rows, std::uint64_t columns,
                          const Device &device = kHostDevice,
                          const CudaStreamView &stream = getDefaultStream())
        : data_(detail::checkedByteCount(rows, columns), device, stream), rows_(rows),
          columns_(columns) {}

    std::uint64_t rows() const { return rows_; }
    std::uint64_t columns() const { return columns_; }
    T *row(std::uint64_t r) { return data_.getData() + r * columns_; }
    const T *row(std::uint64_t r) const { return data_.getData() + r * columns_; }
    T &at(std::uint64_t r, std::uint64_t c) { return data_[r * columns_ + c]; }
    const T &at(std::uint64_t r, std::uint64_t c) const { return data_[r * columns_ + c]; }

    DeviceSpecificArray<T> &array() { return data_; }
    const DeviceSpecificArray<T> &array() const { return data_; }
    const Device &getDevice() const { return data_.getDevice(); }
    void to(const Device &device) { data_.to(device); }

private:
    DeviceSpecificArray<T> data_;
    std::uint64_t rows_ = 0;
    std::uint64_t columns_ = 0;
};

} // namespace Quelt
