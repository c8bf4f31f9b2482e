#pragma once

#include "Quelt/Device.hpp"

#include <cstdint>

namespace Quelt {

// Abstract allocator. Callers hand back each block with the byte count and
// stream they allocated it with.
class MemoryResource {
public:
    virtual ~MemoryResource() = default;
    virtual void *doAllocate(std::uint64_t bytes, CudaStreamView stream) = 0;
    virtual void doDeallocate(void *pointer, std::uint64_t bytes, CudaStreamView stream) = 0;
};

// 32-byte-aligned heap blocks; zero bytes give null.
class HostMemoryResource final : public MemoryResource {
public:
    void *doAllocate(std::uint64_t bytes, CudaStreamView stream) override;
    void doDeallocate(void *pointer, std::uint64_t bytes, CudaStreamView stream) override;
};

// Accelerator memory: a non-zero request throws the accelerator-only failure.
class CudaMemoryResource final : public MemoryResource {
public:
    void *doAllocate(std::uint64_t bytes, CudaStreamView stream) override;
    void doDeallocate(void *pointer, std::uint64_t bytes, CudaStreamView stream) override;
};

// Pinned host memory needs an accelerator runtime; without one a non-zero
// request throws the accelerator-only failure rather than handing out null.
class PinnedMemoryResource final : public MemoryResource {
public:
    void *doAllocate(std::uint64_t bytes, CudaStreamView stream) override;
    void doDeallocate(void *pointer, std::uint64_t bytes, CudaStreamView stream) override;
};

// The one resource of a device for the whole process; never freed.
MemoryResource *getPerDeviceMemoryResource(const Device &device);

} // namespace Quelt
