#pragma once

// Vector versions of the lazy key-switching kernels, chosen at run time. They
// take the arguments of the scalar kernels and write the words those write.

#include "arith/KeySwitchKernels.hpp"

namespace Quelt::keyswitch_kernels::vector {

struct Kernels {
    // convertBlock for count <= terms_per_fold (no folding on the way).
    void (*convertBlock)(const std::int64_t *const *sources, u64 count, u64 source_bound,
                         const ConversionTarget *targets, u64 num_targets, u64 offset, u64 n);
    void (*innerProductTwo)(const u64 *const *a, const u64 *const *b, const u64 *const *c,
                            u64 count, u64 terms_per_fold, const FoldConstants &f, u64 *out1,
                            u64 *out2, u64 n, bool accumulate);
    void (*permuteWords)(const u64 *in, const std::uint32_t *permutation, u64 *out, u64 n);
};

// The kernels of the active path, or null when the scalar loops serve.
const Kernels *select();

} // namespace Quelt::keyswitch_kernels::vector
