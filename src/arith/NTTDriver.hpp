#pragma once

// Order of the stages of one transform. A stage is run group range by group
// range; once the groups of the remaining stages fit in a block of kBlock
// words, every block runs through all those stages before the next block is
// touched, so the small stages work in the first-level cache. Each butterfly
// still sees exactly the operands it would see stage after stage, so the words
// produced do not depend on the blocking.
//
// Impl provides, for groups [begin, end) of the stage with half-distance h:
//   forwardGroups(a, t, h, begin, end)
//   forwardLastGroups<K>(a, t, begin, end)      (h = 1, then reduce below K p)
//   backwardGroups(a, t, h, begin, end)
//   backwardLast<K>(a, t)                        (h = N/2 with N^-1, reduce)
// and needs N >= Impl::kMinDegree.

#include "arith/NTTKernels.hpp"

#include <algorithm>

namespace Quelt::ntt_kernels {

inline constexpr u64 kBlock = 2048;

template <typename Impl, int K>
void forwardDriver(u64 *a, const Tables &t) {
    const u64 N = t.degree;
    const u64 block = std::min(N, kBlock);
    u64 h = N / 2;
    for (; 2 * h > block; h /= 2)
        Impl::forwardGroups(a, t, h, 0, N / (2 * h));
    for (u64 s = 0; s < N; s += block) {
        for (u64 g = h; g >= 2; g /= 2)
            Impl::forwardGroups(a, t, g, s / (2 * g), (s + block) / (2 * g));
        Impl::template forwardLastGroups<K>(a, t, s / 2, (s + block) / 2);
    }
}

template <typename Impl, int K>
void backwardDriver(u64 *a, const Tables &t) {
    const u64 N = t.degree;
    const u64 block = std::min(N, kBlock);
    u64 h = 1;
    for (u64 s = 0; s < N; s += block)
        for (h = 1; h <= block / 2 && h <= N / 4; h *= 2)
            Impl::backwardGroups(a, t, h, s / (2 * h), (s + block) / (2 * h));
    for (; h <= N / 4; h *= 2)
        Impl::backwardGroups(a, t, h, 0, N / (2 * h));
    Impl::template backwardLast<K>(a, t);
}

} // namespace Quelt::ntt_kernels
