#pragma once

// Helpers of the element-wise vector kernels, compiled for the instruction
// set of the including file: it defines QUELT_VECTOR_TARGET (the target
// attribute of its kernels) before including this header, and gets its own
// copy of the helpers, which its kernels can then inline.

#include "arith/Avx512Arith.hpp"
#include "arith/KeySwitchKernels.hpp"

#if defined(__x86_64__)

#ifndef QUELT_VECTOR_TARGET
#error "QUELT_VECTOR_TARGET must name the target attribute of the including file"
#endif

namespace Quelt::avx512 {

namespace {

// body(i, lanes) for every vector of eight positions from i, the last one
// with only the lanes below n (masked loads read zeros there, masked stores
// leave the words alone).
template <typename Body>
QUELT_VECTOR_TARGET inline void forEachVector(u64 n, const Body &body) {
    u64 i = 0;
    for (; i + 8 <= n; i += 8)
        body(i, kAllLanes);
    if (i < n)
        body(i, firstLanes(n - i));
}

QUELT_VECTOR_TARGET inline FoldConstants
foldConstantsOf(const keyswitch_kernels::FoldConstants &f) {
    return foldConstants(f.prime, f.word_quotient, f.word_residue, f.word_residue_companion);
}

// The sum of eight lanes below 4p, reduced below p as the scalar kernels
// reduce a 128-bit sum (fold, then 2p, then p off).
QUELT_VECTOR_TARGET inline u64 reduceLanes(V lanes_below_4p,
                                           const keyswitch_kernels::FoldConstants &f) {
    u64 words[8];
    store(words, lanes_below_4p);
    u128 sum = 0;
    for (u64 w : words)
        sum += w;
    return word::reduceWide(sum, f);
}

} // namespace

} // namespace Quelt::avx512

#endif
