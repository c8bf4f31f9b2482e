// IFMA key-switching kernels: products go into three column sums of 52-bit
// multiply-adds (avx512::Columns), at most kColumnTerms of them before the
// columns are joined into a 128-bit value.
//
// Base conversion reads each source word as x + 2^51 (when the sources' bound
// puts every word in (-2^51, 2^51), which makes x1 zero) or as x + 2^63,
// and takes the excess off with the bias, as the AVX-512 kernel does. Folded
// and reduced as there, the words are the scalar words.

#include "arith/Avx512Arith.hpp"

#define QUELT_VECTOR_TARGET QUELT_IFMA
#include "arith/KeySwitchKernelsVector.hpp"
#include "arith/VectorLoop.hpp"

#include <algorithm>
#include <array>

#if defined(__x86_64__)

namespace Quelt::keyswitch_kernels::vector {

extern const Kernels kAvx512Kernels;
void permuteWords(const u64 *in, const std::uint32_t *permutation, u64 *out, u64 n);

namespace {

using avx512::forEachVector;
using avx512::load;
using avx512::Mask;
using avx512::set1;
using avx512::store;
using avx512::V;

constexpr u64 kColumnTerms = 1024;
constexpr u64 kLimb52 = u64{1} << 52;

// ---- base conversion -----------------------------------------------------

template <int T, bool WideX, bool WideF>
QUELT_IFMA void convertGroup(const std::int64_t *const *sources, u64 count,
                             const ConversionTarget *const *targets, u64 offset, u64 n) {
    const u64 lift = WideX ? u64{1} << 63 : u64{1} << 51;
    avx512::FoldConstants fold[T];
    V bias_hi[T], bias_lo[T];
    for (int t = 0; t < T; ++t) {
        u128 factor_sum = 0;
        for (u64 m = 0; m < count; ++m)
            factor_sum += static_cast<u64>(targets[t]->factors[m]);
        const u128 bias = targets[t]->bias - factor_sum * lift;
        bias_hi[t] = set1(static_cast<u64>(bias >> 64));
        bias_lo[t] = set1(static_cast<u64>(bias));
        fold[t] = avx512::foldConstantsOf(targets[t]->fold);
    }
    const V lifted = set1(lift);
    forEachVector(n, [&](u64 i, Mask k) QUELT_IFMA {
        const u64 c = offset + i;
        avx512::Columns sum[T];
        for (int t = 0; t < T; ++t)
            sum[t] = avx512::zeroColumns();
        for (u64 m = 0; m < count; ++m) {
            const V x = avx512::add(load(reinterpret_cast<const u64 *>(sources[m]) + c, k), lifted);
            const V x1 = _mm512_srli_epi64(x, 52);
            for (int t = 0; t < T; ++t) {
                const u64 f = static_cast<u64>(targets[t]->factors[m]);
                avx512::addProduct<WideX, WideF>(sum[t], x, x1, set1(f), set1(f >> 52));
            }
        }
        for (int t = 0; t < T; ++t) {
            V hi, lo;
            avx512::joinColumns(sum[t], hi, lo);
            avx512::add128(hi, lo, bias_hi[t], bias_lo[t]);
            store(targets[t]->out + c, k, avx512::fold(hi, lo, fold[t]));
        }
    });
}

template <bool WideX, bool WideF>
void convertTargets(const std::int64_t *const *sources, u64 count,
                    const ConversionTarget *const *targets, u64 num_targets, u64 offset, u64 n) {
    u64 t = 0;
    for (; t + 4 <= num_targets; t += 4)
        convertGroup<4, WideX, WideF>(sources, count, targets + t, offset, n);
    for (; t + 2 <= num_targets; t += 2)
        convertGroup<2, WideX, WideF>(sources, count, targets + t, offset, n);
    if (t < num_targets)
        convertGroup<1, WideX, WideF>(sources, count, targets + t, offset, n);
}

// Targets below 2^52 have factors that fit the multiplier (WideF false); the
// others are converted after them, in groups of their own. Sources below 2^51
// in magnitude (their bound says so, from the primes: no pass over the words)
// are read as x + 2^51, the others as x + 2^63; both give the same words.
void convertBlock(const std::int64_t *const *sources, u64 count, u64 source_bound,
                  const ConversionTarget *targets, u64 num_targets, u64 offset, u64 n) {
    if (count > kColumnTerms)
        return kAvx512Kernels.convertBlock(sources, count, source_bound, targets, num_targets,
                                           offset, n);
    const bool narrow = source_bound <= (u64{1} << 51);
    std::array<const ConversionTarget *, 16> group;
    for (bool wide_factors : {false, true}) {
        u64 size = 0;
        for (u64 t = 0; t <= num_targets; ++t) {
            const bool take = t < num_targets && (targets[t].fold.prime >= kLimb52) == wide_factors;
            if (take)
                group[size++] = targets + t;
            if (size == group.size() || (t == num_targets && size != 0)) {
                if (narrow)
                    wide_factors
                        ? convertTargets<false, true>(sources, count, group.data(), size, offset, n)
                        : convertTargets<false, false>(sources, count, group.data(), size, offset,
                                                       n);
                else
                    wide_factors
                        ? convertTargets<true, true>(sources, count, group.data(), size, offset, n)
                        : convertTargets<true, false>(sources, count, group.data(), size, offset,
                                                      n);
                size = 0;
            }
        }
    }
}

// ---- inner products ------------------------------------------------------

// Both sums of a position in columns (starting from the outputs' words when
// accumulating), joined and folded (below 4p) every `chunk` products,
// finally reduced below p: the residue, the scalar word.
template <bool Wide, bool Accumulate>
QUELT_IFMA void innerProductColumns(const u64 *const *a, const u64 *const *b, const u64 *const *c,
                                    u64 count, u64 chunk, const FoldConstants &f, u64 *out1,
                                    u64 *out2, u64 n) {
    const avx512::FoldConstants fold = avx512::foldConstantsOf(f);
    const V p = set1(f.prime), p2 = set1(2 * f.prime);
    auto folded = [&](const avx512::Columns &s) QUELT_IFMA {
        V hi, lo;
        avx512::joinColumns(s, hi, lo);
        return avx512::fold(hi, lo, fold);
    };
    forEachVector(n, [&](u64 i, Mask k) QUELT_IFMA {
        avx512::Columns s1 = avx512::zeroColumns(), s2 = avx512::zeroColumns();
        if constexpr (Accumulate) {
            s1 = avx512::columnsOf(load(out1 + i, k));
            s2 = avx512::columnsOf(load(out2 + i, k));
        }
        u64 pending = 0;
        for (u64 j = 0; j < count; ++j) {
            if (pending == chunk) {
                s1 = avx512::columnsOf(folded(s1));
                s2 = avx512::columnsOf(folded(s2));
                pending = 0;
            }
            const V x = load(a[j] + i, k), y = load(b[j] + i, k), z = load(c[j] + i, k);
            const V x1 = _mm512_srli_epi64(x, 52);
            avx512::addProduct<Wide, Wide>(s1, x, x1, y, _mm512_srli_epi64(y, 52));
            avx512::addProduct<Wide, Wide>(s2, x, x1, z, _mm512_srli_epi64(z, 52));
            ++pending;
        }
        using avx512::subIfAtLeast;
        store(out1 + i, k, subIfAtLeast(subIfAtLeast(folded(s1), p2), p));
        store(out2 + i, k, subIfAtLeast(subIfAtLeast(folded(s2), p2), p));
    });
}

// The sums must also stay below 2^128 between folds: terms_per_fold products
// at most, as the scalar kernel does.
void innerProductTwo(const u64 *const *a, const u64 *const *b, const u64 *const *c, u64 count,
                     u64 terms_per_fold, const FoldConstants &f, u64 *out1, u64 *out2, u64 n,
                     bool accumulate) {
    const u64 chunk = std::min(terms_per_fold, kColumnTerms);
    const bool wide = f.prime >= kLimb52;
    if (accumulate)
        wide ? innerProductColumns<true, true>(a, b, c, count, chunk, f, out1, out2, n)
             : innerProductColumns<false, true>(a, b, c, count, chunk, f, out1, out2, n);
    else
        wide ? innerProductColumns<true, false>(a, b, c, count, chunk, f, out1, out2, n)
             : innerProductColumns<false, false>(a, b, c, count, chunk, f, out1, out2, n);
}

} // namespace

extern const Kernels kIfmaKernels;
const Kernels kIfmaKernels = {&convertBlock, &innerProductTwo, &permuteWords};

} // namespace Quelt::keyswitch_kernels::vector

#endif
