#include "support/AllocationCounter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::uint64_t> &counter() {
    static std::atomic<std::uint64_t> bytes{0};
    return bytes;
}

void *allocateAligned(std::size_t size, std::align_val_t alignment) {
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc takes a multiple of the alignment.
    const std::size_t rounded = (size + align - 1) / align * align;
    void *block = std::aligned_alloc(align, rounded == 0 ? align : rounded);
    if (block == nullptr)
        throw std::bad_alloc();
    counter().fetch_add(size, std::memory_order_relaxed);
    return block;
}

} // namespace

std::uint64_t Quelt::test::alignedBytesAllocated() {
    return counter().load(std::memory_order_relaxed);
}

// The program's aligned array allocations, counted. The library's host
// memory resource allocates and frees its blocks through these forms.
void *operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateAligned(size, alignment);
}
void operator delete[](void *block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void *block, std::size_t, std::align_val_t) noexcept { std::free(block); }
