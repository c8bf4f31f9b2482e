#pragma once

// Counts the bytes the library's host arrays take: every aligned array
// allocation of the test program (the host memory resource allocates its
// blocks that way) adds its size to one counter. A test reads the counter
// before and after a call to bound what the call allocated.

#include <cstdint>

namespace Quelt::test {

// Bytes of aligned array allocations made so far by the whole program.
std::uint64_t alignedBytesAllocated();

// What `call` allocates in aligned arrays.
template <typename F>
std::uint64_t alignedBytesDuring(F &&call) {
    const std::uint64_t before = alignedBytesAllocated();
    call();
    return alignedBytesAllocated() - before;
}

} // namespace Quelt::test
