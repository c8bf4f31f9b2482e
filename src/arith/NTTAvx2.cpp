// AVX2 stage kernels of the number-theoretic transform, selected at run time.
// Four butterflies run side by side; every lane computes the scalar formulas
// word for word (64-bit products are assembled from 32-bit multiplies), so the
// results are bit-identical to the scalar path.

#include "arith/NTTDriver.hpp"
#include "arith/NTTKernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#define QUELT_AVX2 __attribute__((target("avx2")))

namespace Quelt::ntt_kernels {

void forwardScalar(u64 *a, const Tables &t, int K);
void backwardScalar(u64 *a, const Tables &t, int K);

namespace {

struct Constants {
    __m256i p, p_swapped, p2;
};

// 32-bit halves of a word exchanged, for the cross products of the low word.
QUELT_AVX2 inline __m256i swapHalves(__m256i v) { return _mm256_shuffle_epi32(v, 0xB1); }

// One table constant w < p with companion c, prepared for the 32-bit
// multiplies.
struct Twiddle {
    __m256i w, w_swapped, c, c_hi;
};

QUELT_AVX2 inline Twiddle makeTwiddle(__m256i w, __m256i c) {
    return {w, swapHalves(w), c, _mm256_srli_epi64(c, 32)};
}

QUELT_AVX2 inline Twiddle broadcastTwiddle(u64 w, u64 c) {
    return makeTwiddle(_mm256_set1_epi64x(static_cast<long long>(w)),
                       _mm256_set1_epi64x(static_cast<long long>(c)));
}

// Shoup product y w - p floor(y c / 2^64) modulo 2^64, lane by lane.
QUELT_AVX2 inline __m256i shoup4(__m256i y, const Twiddle &tw, const Constants &k) {
    const __m256i low32 = _mm256_set1_epi64x(0xffffffffLL);
    const __m256i y_hi = _mm256_srli_epi64(y, 32);
    // High word q of y c from its four 32 x 32 partial products.
    const __m256i ll = _mm256_mul_epu32(y, tw.c);
    const __m256i hl = _mm256_mul_epu32(y_hi, tw.c);
    const __m256i lh = _mm256_mul_epu32(y, tw.c_hi);
    const __m256i hh = _mm256_mul_epu32(y_hi, tw.c_hi);
    const __m256i mid = _mm256_add_epi64(hl, _mm256_srli_epi64(ll, 32));
    const __m256i mid2 = _mm256_add_epi64(lh, _mm256_and_si256(mid, low32));
    const __m256i q = _mm256_add_epi64(
        hh, _mm256_add_epi64(_mm256_srli_epi64(mid, 32), _mm256_srli_epi64(mid2, 32)));
    // Low word of y w - q p: the low 32 x 32 products in full, plus the cross
    // products modulo 2^32 shifted up by 32. A 32-bit multiply of a word by
    // the half-swapped constant yields both cross products of a lane at once
    // (low half: y_lo w_hi, high half: y_hi w_lo).
    const __m256i low = _mm256_sub_epi64(_mm256_mul_epu32(y, tw.w), _mm256_mul_epu32(q, k.p));
    const __m256i cross =
        _mm256_sub_epi32(_mm256_mullo_epi32(y, tw.w_swapped), _mm256_mullo_epi32(q, k.p_swapped));
    const __m256i high_mask = _mm256_set1_epi64x(static_cast<long long>(0xffffffff00000000ULL));
    return _mm256_add_epi64(_mm256_add_epi64(low, _mm256_slli_epi64(cross, 32)),
                            _mm256_and_si256(cross, high_mask));
}

// x - b when x >= b, else x; for b < 2^63 and x < 2b. x - b wraps to at
// least 2^64 - b >= 2^63 exactly when x < b, so its sign bit selects.
QUELT_AVX2 inline __m256i subIfAtLeast(__m256i x, __m256i b) {
    const __m256i d = _mm256_sub_epi64(x, b);
    return _mm256_castpd_si256(
        _mm256_blendv_pd(_mm256_castsi256_pd(d), _mm256_castsi256_pd(x), _mm256_castsi256_pd(d)));
}

template <int K>
QUELT_AVX2 inline __m256i reduceFrom4p(__m256i x, const Constants &k) {
    if constexpr (K <= 2)
        x = subIfAtLeast(x, k.p2);
    if constexpr (K == 1)
        x = subIfAtLeast(x, k.p);
    return x;
}

template <int K>
QUELT_AVX2 inline __m256i reduceFrom2p(__m256i x, const Constants &k) {
    if constexpr (K == 1)
        x = subIfAtLeast(x, k.p);
    return x;
}

QUELT_AVX2 inline void forwardButterfly4(__m256i &x, __m256i &y, const Twiddle &tw,
                                         const Constants &k) {
    const __m256i X = subIfAtLeast(x, k.p2);
    const __m256i Q = shoup4(y, tw, k);
    x = _mm256_add_epi64(X, Q);
    y = _mm256_sub_epi64(_mm256_add_epi64(X, k.p2), Q);
}

QUELT_AVX2 inline void backwardButterfly4(__m256i &x, __m256i &y, const Twiddle &tw,
                                          const Constants &k) {
    const __m256i X = x, Y = y;
    x = subIfAtLeast(_mm256_add_epi64(X, Y), k.p2);
    y = shoup4(_mm256_sub_epi64(_mm256_add_epi64(X, k.p2), Y), tw, k);
}

QUELT_AVX2 inline Constants constantsOf(const Tables &t) {
    const auto p = static_cast<long long>(t.prime);
    const __m256i pv = _mm256_set1_epi64x(p);
    return {pv, swapHalves(pv), _mm256_set1_epi64x(2 * p)};
}

QUELT_AVX2 inline __m256i load(const u64 *a) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(a));
}
QUELT_AVX2 inline void store(u64 *a, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(a), v);
}

// Pairs of groups with half-distance 2: words (x0 x1 y0 y1)(x0' x1' y0' y1').
// Twiddles (w_i w_i w_i+1 w_i+1).
QUELT_AVX2 inline Twiddle pairTwiddle(const u64 *W, const u64 *Wc) {
    const __m256i w = _mm256_permute4x64_epi64(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(W))), 0x50);
    const __m256i c = _mm256_permute4x64_epi64(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Wc))), 0x50);
    return makeTwiddle(w, c);
}

// Four groups with half-distance 1: words (x0 y0 x1 y1)(x2 y2 x3 y3). The
// unpacks give X = (x0 x2 x1 x3), Y likewise, so the twiddles are taken in
// the order (0 2 1 3).
QUELT_AVX2 inline Twiddle quadTwiddle(const u64 *W, const u64 *Wc) {
    return makeTwiddle(_mm256_permute4x64_epi64(load(W), 0xD8),
                       _mm256_permute4x64_epi64(load(Wc), 0xD8));
}

struct Avx2Stages {
    // One stage with half-distance h over groups [begin, end). Half-distances
    // 1 and 2 are regrouped inside registers so that every lane still holds a
    // butterfly of its own; the two directions share the layout and differ only
    // in the butterfly and the table they read.
    template <bool Forward>
    QUELT_AVX2 static void stageGroups(u64 *a, const u64 *W, const u64 *Wc, const Constants &k,
                                       u64 h, u64 begin, u64 end) {
        const auto butterfly = [&k](__m256i &x, __m256i &y, const Twiddle &tw) QUELT_AVX2 {
            if constexpr (Forward)
                forwardButterfly4(x, y, tw, k);
            else
                backwardButterfly4(x, y, tw, k);
        };
        if (h == 1) {
            for (u64 i = begin; i < end; i += 4) {
                const __m256i v0 = load(a + 2 * i), v1 = load(a + 2 * i + 4);
                __m256i x = _mm256_unpacklo_epi64(v0, v1), y = _mm256_unpackhi_epi64(v0, v1);
                butterfly(x, y, quadTwiddle(W + i, Wc + i));
                store(a + 2 * i, _mm256_unpacklo_epi64(x, y));
                store(a + 2 * i + 4, _mm256_unpackhi_epi64(x, y));
            }
            return;
        }
        if (h == 2) {
            for (u64 i = begin; i < end; i += 2) {
                const __m256i v0 = load(a + 4 * i), v1 = load(a + 4 * i + 4);
                __m256i x = _mm256_permute2x128_si256(v0, v1, 0x20);
                __m256i y = _mm256_permute2x128_si256(v0, v1, 0x31);
                butterfly(x, y, pairTwiddle(W + i, Wc + i));
                store(a + 4 * i, _mm256_permute2x128_si256(x, y, 0x20));
                store(a + 4 * i + 4, _mm256_permute2x128_si256(x, y, 0x31));
            }
            return;
        }
        for (u64 i = begin; i < end; ++i) {
            u64 *x = a + 2 * i * h, *y = x + h;
            const Twiddle tw = broadcastTwiddle(W[i], Wc[i]);
            for (u64 j = 0; j < h; j += 4) {
                __m256i X = load(x + j), Y = load(y + j);
                butterfly(X, Y, tw);
                store(x + j, X);
                store(y + j, Y);
            }
        }
    }

    QUELT_AVX2 static void forwardGroups(u64 *a, const Tables &t, u64 h, u64 begin, u64 end) {
        const u64 m = t.degree / (2 * h);
        stageGroups<true>(a, t.forward + m, t.forward_companions + m, constantsOf(t), h, begin,
                          end);
    }

    template <int K>
    QUELT_AVX2 static void forwardLastGroups(u64 *a, const Tables &t, u64 begin, u64 end) {
        const Constants k = constantsOf(t);
        const u64 m = t.degree / 2;
        const u64 *W = t.forward + m, *Wc = t.forward_companions + m;
        for (u64 i = begin; i < end; i += 4) {
            const __m256i v0 = load(a + 2 * i), v1 = load(a + 2 * i + 4);
            __m256i x = _mm256_unpacklo_epi64(v0, v1), y = _mm256_unpackhi_epi64(v0, v1);
            forwardButterfly4(x, y, quadTwiddle(W + i, Wc + i), k);
            x = reduceFrom4p<K>(x, k);
            y = reduceFrom4p<K>(y, k);
            store(a + 2 * i, _mm256_unpacklo_epi64(x, y));
            store(a + 2 * i + 4, _mm256_unpackhi_epi64(x, y));
        }
    }

    QUELT_AVX2 static void backwardGroups(u64 *a, const Tables &t, u64 h, u64 begin, u64 end) {
        const u64 N = t.degree, m = N / (2 * h);
        const u64 offset = N + 1 - 2 * m;
        stageGroups<false>(a, t.inverse + offset, t.inverse_companions + offset, constantsOf(t), h,
                           begin, end);
    }

    template <int K>
    QUELT_AVX2 static void backwardLast(u64 *a, const Tables &t) {
        const Constants k = constantsOf(t);
        const u64 half = t.degree / 2;
        const Twiddle ni = broadcastTwiddle(t.degree_inverse, t.degree_inverse_companion);
        const Twiddle lt = broadcastTwiddle(t.last_twiddle, t.last_twiddle_companion);
        u64 *b = a + half;
        for (u64 j = 0; j < half; j += 4) {
            const __m256i X = load(a + j), Y = load(b + j);
            const __m256i S = subIfAtLeast(_mm256_add_epi64(X, Y), k.p2);
            store(a + j, reduceFrom2p<K>(shoup4(S, ni, k), k));
            store(b + j, reduceFrom2p<K>(
                             shoup4(_mm256_sub_epi64(_mm256_add_epi64(X, k.p2), Y), lt, k), k));
        }
    }
};

// Below this degree the groups do not fill whole vectors.
constexpr u64 kMinVectorDegree = 8;

} // namespace

void forwardVector(u64 *a, const Tables &t, int K) {
    if (t.degree < kMinVectorDegree)
        return forwardScalar(a, t, K);
    if (K == 1)
        forwardDriver<Avx2Stages, 1>(a, t);
    else if (K == 2)
        forwardDriver<Avx2Stages, 2>(a, t);
    else
        forwardDriver<Avx2Stages, 4>(a, t);
}

void backwardVector(u64 *a, const Tables &t, int K) {
    if (t.degree < kMinVectorDegree)
        return backwardScalar(a, t, K);
    if (K == 1)
        backwardDriver<Avx2Stages, 1>(a, t);
    else
        backwardDriver<Avx2Stages, 2>(a, t);
}

} // namespace Quelt::ntt_kernels

#endif
