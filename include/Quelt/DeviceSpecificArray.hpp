#pragma once

#include "Quelt/Device.hpp"
#include "Quelt/Exception.hpp"
#include "Quelt/MemoryResource.hpp"

#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace Quelt {

namespace detail {
// Makes the array's accelerator current around an allocation and restores the
// previous one afterwards, also when the allocation throws.
class CudaDeviceGuard {
public:
    explicit CudaDeviceGuard(const Device &device);
    ~CudaDeviceGuard();
    CudaDeviceGuard(const CudaDeviceGuard &) = delete;
    CudaDeviceGuard &operator=(const CudaDeviceGuard &) = delete;

private:
    bool active_;
    int previous_;
};

// Copies `count` elements of `bytes_per_element` between two blocks according
// to their devices: host to host is a plain (overlap-safe) copy, any other pair
// throws "Not supported. Build with QUELT_CUDA flag.".
void copyBetweenDevices(void *target, const Device &target_device, const void *source,
                        const Device &source_device, std::uint64_t bytes, CudaStreamView stream);

std::uint64_t checkedByteCount(std::uint64_t count, std::uint64_t width);
} // namespace detail

// Typed array in the memory of one device, allocated from that device's
// MemoryResource. Elements are never initialised by the array; growth is exact
// and capacity never shrinks on resize. An array is used by one thread at a
// time.
//
// Allocation failures: a non-zero block on an accelerator {1, id} or pinned
// {3, id} device throws "Cannot support the function 'doAllocate' in the
// current build configuration"; a device type other than 0, 1 and 3 throws
// "Cannot find a proper memory resource for the requested device."; a size
// whose byte count overflows throws "[DeviceSpecificArray] Requested size is
// too large.". Any copy that involves a non-host device throws
// "Not supported. Build with QUELT_CUDA flag.". A failed operation leaves the
// array as it was.
template <typename T>
class DeviceSpecificArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    using value_type = T;

    DeviceSpecificArray() : DeviceSpecificArray(0, kHostDevice, getDefaultStream()) {}
    // A block of exactly n elements (none, and null data, for n = 0).
    explicit DeviceSpecificArray(std::uint64_t n, const Device &device = kHostDevice,
                                 const CudaStreamView &stream = getDefaultStream())
        : device_(device), resource_(getPerDeviceMemoryResource(device)), stream_(stream) {
        data_ = allocate(device_, resource_, n, stream_);
        capacity_ = n * sizeof(T);
        size_ = n;
    }

    // Same device and stream as `other`; the capacity is other's size.
    DeviceSpecificArray(const DeviceSpecificArray &other)
        : device_(other.device_), resource_(other.resource_), stream_(other.stream_) {
        data_ = allocate(device_, resource_, other.size_, stream_);
        capacity_ = other.size_ * sizeof(T);
        size_ = other.size_;
        try {
            copyDataFrom(other);
        } catch (...) {
            release();
            throw;
        }
    }

    // Takes other's block; other becomes the empty host array.
    DeviceSpecificArray(DeviceSpecificArray &&other) noexcept
        : device_(other.device_), capacity_(other.capacity_), resource_(other.resource_),
          stream_(other.stream_), data_(other.data_), size_(other.size_) {
        other.resetToEmptyHost();
    }

    // Exchanges the two arrays' blocks; other frees the former block.
    DeviceSpecificArray &operator=(DeviceSpecificArray &&other) noexcept {
        if (this != &other) {
            std::swap(device_, other.device_);
            std::swap(capacity_, other.capacity_);
            std::swap(resource_, other.resource_);
            std::swap(stream_, other.stream_);
            std::swap(data_, other.data_);
            std::swap(size_, other.size_);
        }
        return *this;
    }

    // Copies into the current block when it is large enough and on the same
    // device and stream; otherwise installs a block of exactly other's size on
    // other's device with other's stream.
    DeviceSpecificArray &operator=(const DeviceSpecificArray &other) {
        if (this == &other)
            return *this;
        if (other.size_ <= capacity() && device_ == other.device_ && stream_ == other.stream_) {
            copyDataFrom(other);
            size_ = other.size_;
            return *this;
        }
        MemoryResource *resource = other.resource_;
        T *block = allocate(other.device_, resource, other.size_, other.stream_);
        try {
            detail::copyBetweenDevices(block, other.device_, other.data_, other.device_,
                                       other.size_ * sizeof(T), other.stream_);
        } catch (...) {
            free(other.device_, resource, block, other.size_ * sizeof(T), other.stream_);
            throw;
        }
        release();
        device_ = other.device_;
        resource_ = resource;
        stream_ = other.stream_;
        data_ = block;
        capacity_ = other.size_ * sizeof(T);
        size_ = other.size_;
        return *this;
    }

    ~DeviceSpecificArray() { release(); }

    // Within the capacity only the size changes. Beyond it, a block of exactly
    // n elements replaces the current one, keeping the leading elements.
    void resize(std::uint64_t n) {
        if (n <= capacity()) {
            size_ = n;
            return;
        }
        T *block = allocate(device_, resource_, n, stream_);
        try {
            detail::copyBetweenDevices(block, device_, data_, device_, size_ * sizeof(T), stream_);
        } catch (...) {
            free(device_, resource_, block, n * sizeof(T), stream_);
            throw;
        }
        release();
        data_ = block;
        capacity_ = n * sizeof(T);
        size_ = n;
    }

    // Moves the elements to `device` with `stream` into a block of exactly the
    // size. On the array's own device only the stream changes.
    void to(const Device &device, const CudaStreamView &stream) {
        if (device == device_) {
            stream_ = stream;
            return;
        }
        MemoryResource *resource = getPerDeviceMemoryResource(device);
        T *block = allocate(device, resource, size_, stream);
        try {
            detail::copyBetweenDevices(block, device, data_, device_, size_ * sizeof(T), stream);
        } catch (...) {
            free(device, resource, block, size_ * sizeof(T), stream);
            throw;
        }
        const std::uint64_t size = size_;
        release();
        device_ = device;
        resource_ = resource;
        stream_ = stream;
        data_ = block;
        capacity_ = size * sizeof(T);
        size_ = size;
    }
    void to(const Device &device) { to(device, getDefaultStream()); }

    // Copies the source's elements to the start of this block; the size is not
    // changed. Throws RuntimeException when the block cannot hold the source's
    // elements, and "Not supported. Build with QUELT_CUDA flag." for any pair
    // of devices other than host and host.
    void copyDataFrom(const DeviceSpecificArray &source) { copyDataFrom(source, stream_); }
    void copyDataFrom(const DeviceSpecificArray &source, const CudaStreamView &stream) {
        if (source.size_ > capacity())
            throw RuntimeException(kBlockTooSmall);
        detail::copyBetweenDevices(data_, device_, source.data_, source.device_,
                                   source.size_ * sizeof(T), stream);
    }

    static constexpr const char *kBlockTooSmall =
        "[DeviceSpecificArray] The target block is too small for the copy.";

    const Device &getDevice() const { return device_; }
    const CudaStreamView &getStream() const { return stream_; }
    T *getData() { return data_; }
    const T *getData() const { return data_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t sizeInBytes() const { return size_ * sizeof(T); }
    std::uint64_t capacity() const { return capacity_ / sizeof(T); }
    std::uint64_t capacityInBytes() const { return capacity_; }
    bool empty() const { return size_ == 0; }

    // Element i; no bounds check (i < size() is the caller's duty).
    T &operator[](std::uint64_t i) { return data_[i]; }
    const T &operator[](std::uint64_t i) const { return data_[i]; }
    T *begin() { return data_; }
    T *end() { return data_ + size_; }
    const T *begin() const { return data_; }
    const T *end() const { return data_ + size_; }

    // Installs a host block of `n` elements obtained from the host resource
    // with this array's stream, freeing the former block. Used by loaders that
    // have read into a fresh buffer.
    void adoptHostArray(DeviceSpecificArray &&fresh) { *this = std::move(fresh); }

private:
    static T *allocate(const Device &device, MemoryResource *resource, std::uint64_t n,
                       CudaStreamView stream) {
        if (n == 0)
            return nullptr;
        const std::uint64_t bytes = detail::checkedByteCount(n, sizeof(T));
        detail::CudaDeviceGuard guard(device);
        return static_cast<T *>(resource->doAllocate(bytes, stream));
    }
    static void free(const Device &, MemoryResource *resource, T *block, std::uint64_t bytes,
                     CudaStreamView stream) noexcept {
        if (bytes != 0)
            resource->doDeallocate(block, bytes, stream);
    }
    void release() noexcept {
        free(device_, resource_, data_, capacity_, stream_);
        data_ = nullptr;
        capacity_ = 0;
        size_ = 0;
    }
    void resetToEmptyHost() noexcept {
        device_ = kHostDevice;
        capacity_ = 0;
        resource_ = getPerDeviceMemoryResource(kHostDevice);
        stream_ = getDefaultStream();
        data_ = nullptr;
        size_ = 0;
    }

    Device device_;
    std::uint64_t capacity_ = 0;
    MemoryResource *resource_ = nullptr;
    CudaStreamView stream_;
    T *data_ = nullptr;
    std::uint64_t size_ = 0;
};

// Element types the library instantiates.
extern template class DeviceSpecificArray<std::uint64_t>;
extern template class DeviceSpecificArray<std::uint64_t *>;
extern template class DeviceSpecificArray<double>;
extern template class DeviceSpecificArray<std::complex<double>>;
extern template class DeviceSpecificArray<int>;
extern template class DeviceSpecificArray<bool>;
// The 128-bit integer types are a compiler extension: __extension__ keeps
// user programs built with -Wpedantic free of warnings.
__extension__ extern template class DeviceSpecificArray<unsigned __int128>;
__extension__ extern template class DeviceSpecificArray<__int128>;

} // namespace Quelt
