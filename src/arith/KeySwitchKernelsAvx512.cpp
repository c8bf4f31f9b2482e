// AVX-512 key-switching kernels: eight positions at a time, every 64 x 64-bit
// product formed exactly in 128 bits from 32-bit multiplies and added to a
// 128-bit sum per lane.
//
// Base conversion adds signed products; each source word is read with its
// sign bit flipped, that is as x + 2^63 >= 0, so the unsigned sums exceed the
// signed ones by 2^63 times the sum of the factors, which is taken off with
// the bias before the fold. Sums are exact modulo 2^128, and the scalar
// kernel's sum plus its bias lies in [0, 2^128), so the folded words are the
// scalar words.

#include "arith/Avx512Arith.hpp"

#define QUELT_VECTOR_TARGET QUELT_AVX512
#include "arith/KeySwitchKernelsVector.hpp"
#include "arith/VectorLoop.hpp"
#include "foundation/SimdPath.hpp"

#include <algorithm>
#include <cstring>

namespace Quelt::keyswitch_kernels::vector {

#if defined(__x86_64__)

extern const Kernels kIfmaKernels;

namespace {

using avx512::forEachVector;
using avx512::load;
using avx512::Mask;
using avx512::set1;
using avx512::store;
using avx512::V;

// The low 32 bits of every lane set to the high half of w (what the 32-bit
// multiplies read), broadcast from memory.
QUELT_AVX512 inline V highHalf(const std::int64_t &w) {
    std::uint32_t h;
    std::memcpy(&h, reinterpret_cast<const char *>(&w) + 4, sizeof h);
    return _mm512_set1_epi32(static_cast<int>(h));
}

template <int T>
QUELT_AVX512 void convertGroup(const std::int64_t *const *sources, u64 count,
                               const ConversionTarget *targets, u64 offset, u64 n) {
    avx512::FoldConstants fold[T];
    V bias_hi[T], bias_lo[T];
    for (int t = 0; t < T; ++t) {
        u128 factor_sum = 0;
        for (u64 m = 0; m < count; ++m)
            factor_sum += static_cast<u64>(targets[t].factors[m]);
        const u128 bias = targets[t].bias - (factor_sum << 63);
        bias_hi[t] = set1(static_cast<u64>(bias >> 64));
        bias_lo[t] = set1(static_cast<u64>(bias));
        fold[t] = avx512::foldConstantsOf(targets[t].fold);
    }
    const V sign = set1(u64{1} << 63);
    forEachVector(n, [&](u64 i, Mask k) QUELT_AVX512 {
        const u64 c = offset + i;
        V hi[T], lo[T];
        for (int t = 0; t < T; ++t)
            hi[t] = lo[t] = avx512::zero();
        for (u64 m = 0; m < count; ++m) {
            const V x =
                _mm512_xor_si512(load(reinterpret_cast<const u64 *>(sources[m]) + c, k), sign);
            const V x_hi = _mm512_srli_epi64(x, 32);
            for (int t = 0; t < T; ++t) {
                const std::int64_t &f = targets[t].factors[m];
                V h, l;
                avx512::mulWide(x, x_hi, set1(static_cast<u64>(f)), highHalf(f), h, l);
                avx512::add128(hi[t], lo[t], h, l);
            }
        }
        for (int t = 0; t < T; ++t) {
            avx512::add128(hi[t], lo[t], bias_hi[t], bias_lo[t]);
            store(targets[t].out + c, k, avx512::fold(hi[t], lo[t], fold[t]));
        }
    });
}

// Four targets at a time: every source vector loaded serves all of them. The
// source bound does not change the products here.
void convertBlock(const std::int64_t *const *sources, u64 count, u64 /*source_bound*/,
                  const ConversionTarget *targets, u64 num_targets, u64 offset, u64 n) {
    u64 t = 0;
    for (; t + 4 <= num_targets; t += 4)
        convertGroup<4>(sources, count, targets + t, offset, n);
    for (; t + 2 <= num_targets; t += 2)
        convertGroup<2>(sources, count, targets + t, offset, n);
    if (t < num_targets)
        convertGroup<1>(sources, count, targets + t, offset, n);
}

// Both sums of a position in 128 bits per lane (starting from the outputs'
// words when accumulating), folded (to below 4p) every terms_per_fold
// products, then reduced below p: the residue, which is the scalar word.
QUELT_AVX512 void innerProductTwo(const u64 *const *a, const u64 *const *b, const u64 *const *c,
                                  u64 count, u64 terms_per_fold, const FoldConstants &f, u64 *out1,
                                  u64 *out2, u64 n, bool accumulate) {
    const avx512::FoldConstants fold = avx512::foldConstantsOf(f);
    const V p = set1(f.prime), p2 = set1(2 * f.prime);
    forEachVector(n, [&](u64 i, Mask k) QUELT_AVX512 {
        V hi1 = avx512::zero(), lo1 = hi1, hi2 = hi1, lo2 = hi1;
        if (accumulate) {
            lo1 = load(out1 + i, k);
            lo2 = load(out2 + i, k);
        }
        u64 pending = 0;
        for (u64 j = 0; j < count; ++j) {
            if (pending == terms_per_fold) {
                lo1 = avx512::fold(hi1, lo1, fold);
                lo2 = avx512::fold(hi2, lo2, fold);
                hi1 = hi2 = avx512::zero();
                pending = 0;
            }
            const V x = load(a[j] + i, k), y = load(b[j] + i, k), z = load(c[j] + i, k);
            const V x_hi = _mm512_srli_epi64(x, 32);
            V h, l;
            avx512::mulWide(x, x_hi, y, _mm512_srli_epi64(y, 32), h, l);
            avx512::add128(hi1, lo1, h, l);
            avx512::mulWide(x, x_hi, z, _mm512_srli_epi64(z, 32), h, l);
            avx512::add128(hi2, lo2, h, l);
            ++pending;
        }
        using avx512::subIfAtLeast;
        store(out1 + i, k, subIfAtLeast(subIfAtLeast(avx512::fold(hi1, lo1, fold), p2), p));
        store(out2 + i, k, subIfAtLeast(subIfAtLeast(avx512::fold(hi2, lo2, fold), p2), p));
    });
}

} // namespace

// Eight output words whose sources lie in one aligned block of eight input
// words (within the input) are one load and one lane permutation; others are
// copied word by word. The IFMA path uses it as it is.
QUELT_AVX512 void permuteWords(const u64 *in, const std::uint32_t *permutation, u64 *out, u64 n) {
    const __m256i seven = _mm256_set1_epi32(7);
    u64 i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i index =
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(permutation + i));
        const u64 block = permutation[i] & ~u64{7};
        const __m256i blocks = _mm256_srli_epi32(index, 3);
        const __mmask8 same =
            _mm256_cmpeq_epi32_mask(blocks, _mm256_set1_epi32(static_cast<int>(block >> 3)));
        if (same == 0xFF && block + 8 <= n) {
            const V words = _mm512_loadu_si512(in + block);
            const V lanes = _mm512_cvtepu32_epi64(_mm256_and_si256(index, seven));
            _mm512_storeu_si512(out + i, _mm512_permutexvar_epi64(lanes, words));
        } else {
            for (u64 w = i; w < i + 8; ++w)
                out[w] = in[permutation[w]];
        }
    }
    for (; i < n; ++i)
        out[i] = in[permutation[i]];
}

extern const Kernels kAvx512Kernels;
const Kernels kAvx512Kernels = {&convertBlock, &innerProductTwo, &permuteWords};

const Kernels *select() {
    switch (simd::activePath()) {
    case simd::Path::Ifma:
        return &kIfmaKernels;
    case simd::Path::Avx512:
        return &kAvx512Kernels;
    default:
        return nullptr;
    }
}

#else

const Kernels *select() { return nullptr; }

#endif

} // namespace Quelt::keyswitch_kernels::vector
