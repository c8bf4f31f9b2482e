#pragma once

// Word arithmetic on eight 64-bit lanes for the AVX-512 and IFMA kernels.
// Every function computes, lane by lane, the same formula as the scalar word
// arithmetic it mirrors, so the words it produces are the scalar words.
//
// Only files that select these paths at run time include this header: each
// function carries its own target attribute, and nothing here may run on a
// processor without the extensions named in it.

#if defined(__x86_64__)

// GCC 12 warns that the placeholder register of some AVX-512 intrinsics
// (_mm512_undefined_epi32) is used uninitialised once they are inlined; the
// warning is about the compiler's own header, so it is silenced there only.
// This header must therefore be the first to bring in <immintrin.h>.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include "foundation/WordArith.hpp"

#include <cstdint>

#define QUELT_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#define QUELT_IFMA __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,avx512ifma")))

namespace Quelt::avx512 {

using V = __m512i;
using Mask = __mmask8;

QUELT_AVX512 inline V set1(u64 x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
QUELT_AVX512 inline V zero() { return _mm512_setzero_si512(); }
QUELT_AVX512 inline V load(const u64 *a) { return _mm512_loadu_si512(a); }
QUELT_AVX512 inline void store(u64 *a, V v) { _mm512_storeu_si512(a, v); }
QUELT_AVX512 inline V load(const u64 *a, Mask k) { return _mm512_maskz_loadu_epi64(k, a); }
QUELT_AVX512 inline void store(u64 *a, Mask k, V v) { _mm512_mask_storeu_epi64(a, k, v); }
QUELT_AVX512 inline V add(V a, V b) { return _mm512_add_epi64(a, b); }
QUELT_AVX512 inline V sub(V a, V b) { return _mm512_sub_epi64(a, b); }
QUELT_AVX512 inline V mulLow(V a, V b) { return _mm512_mullo_epi64(a, b); }
// Lanes given by eight indices, first lane first.
QUELT_AVX512 inline V lanes(long long a0, long long a1, long long a2, long long a3, long long a4,
                            long long a5, long long a6, long long a7) {
    return _mm512_set_epi64(a7, a6, a5, a4, a3, a2, a1, a0);
}

// The first n lanes (n <= 8).
inline Mask firstLanes(u64 n) { return static_cast<Mask>((1u << n) - 1); }
inline constexpr Mask kAllLanes = 0xFF;

// x - b when x >= b, else x, for any words: x - b wraps above x exactly when
// x < b. This is the conditional subtraction of the transforms.
QUELT_AVX512 inline V subIfAtLeast(V x, V b) { return _mm512_min_epu64(x, sub(x, b)); }

// y = x - b, then b added back when the sign bit of y is set: the branch-free
// reduceOnce of the scalar kernels, word for word (for every input, not only
// those below b + 2^63).
QUELT_AVX512 inline V reduceOnce(V x, V b) {
    const V y = sub(x, b);
    return _mm512_mask_add_epi64(y, _mm512_movepi64_mask(y), y, b);
}

// x - y, plus p when the difference has its sign bit set (scalar subtractMod).
QUELT_AVX512 inline V subtractMod(V x, V y, V p) {
    const V d = sub(x, y);
    return _mm512_mask_add_epi64(d, _mm512_movepi64_mask(d), d, p);
}

// High word of the 128-bit product a b, from four 32 x 32-bit products;
// b_hi = b >> 32 (precomputed for constants).
QUELT_AVX512 inline V mulHigh(V a, V b, V b_hi) {
    const V low32 = set1(0xffffffffULL);
    const V a_hi = _mm512_srli_epi64(a, 32);
    const V ll = _mm512_mul_epu32(a, b);
    const V lh = _mm512_mul_epu32(a, b_hi);
    const V hl = _mm512_mul_epu32(a_hi, b);
    const V hh = _mm512_mul_epu32(a_hi, b_hi);
    const V mid = add(hl, _mm512_srli_epi64(ll, 32)); // below 2^64
    const V mid2 = add(lh, _mm512_and_si512(mid, low32));
    return add(hh, add(_mm512_srli_epi64(mid, 32), _mm512_srli_epi64(mid2, 32)));
}

QUELT_AVX512 inline V mulHigh(V a, V b) { return mulHigh(a, b, _mm512_srli_epi64(b, 32)); }

// Both words of the 128-bit product a b; a_hi = a >> 32, b_hi = b >> 32.
QUELT_AVX512 inline void mulWide(V a, V a_hi, V b, V b_hi, V &hi, V &lo) {
    const V low32 = set1(0xffffffffULL);
    const V ll = _mm512_mul_epu32(a, b);
    const V lh = _mm512_mul_epu32(a, b_hi);
    const V hl = _mm512_mul_epu32(a_hi, b);
    const V hh = _mm512_mul_epu32(a_hi, b_hi);
    const V mid = add(hl, _mm512_srli_epi64(ll, 32));
    const V mid2 = add(lh, _mm512_and_si512(mid, low32));
    hi = add(hh, add(_mm512_srli_epi64(mid, 32), _mm512_srli_epi64(mid2, 32)));
    // (mid2 << 32) | (ll & low32): 0xF8 is A | (B & C).
    lo = _mm512_ternarylogic_epi64(_mm512_slli_epi64(mid2, 32), ll, low32, 0xF8);
}

// (hi, lo) += (h, l) modulo 2^128.
QUELT_AVX512 inline void add128(V &hi, V &lo, V h, V l) {
    lo = add(lo, l);
    const Mask carry = _mm512_cmplt_epu64_mask(lo, l);
    hi = _mm512_mask_sub_epi64(add(hi, h), carry, add(hi, h), set1(~u64{0}));
}

// ---- Shoup products: x w - p floor(x wc / 2^64) modulo 2^64 ------------

// A constant w < p with its companion wc = floor(w 2^64 / p), prepared for
// the 32-bit multiplies.
struct ShoupConstant {
    V w, wc, wc_hi;
};

QUELT_AVX512 inline ShoupConstant shoupConstant(V w, V wc) {
    return {w, wc, _mm512_srli_epi64(wc, 32)};
}

QUELT_AVX512 inline V shoup(V x, const ShoupConstant &c, V p) {
    return sub(mulLow(x, c.w), mulLow(mulHigh(x, c.wc, c.wc_hi), p));
}

// The same constant prepared for 52-bit multiply-add: wc = D 2^52 + E with
// D = wc >> 52 below 2^12 (the multiplier reads only E of wc itself).
struct ShoupConstant52 {
    V w, wc, wc_top;
};

QUELT_IFMA inline ShoupConstant52 shoupConstant52(V w, V wc) {
    return {w, wc, _mm512_srli_epi64(wc, 52)};
}

// The exact Shoup product for x < 2^52 and p < 2^51 (so that the result,
// below 2p, fits 52 bits). With x E = A 2^52 + l (l < 2^52), x wc is
// (x D + A) 2^52 + l, and l cannot carry past the twelve bits that the
// quotient drops: floor(x wc / 2^64) = (x D + A) >> 12. That sum is below
// 2^64 because the quotient is below x < 2^52. The result x w - q p is then
// formed modulo 2^52, where it is exact.
QUELT_IFMA inline V shoup52(V x, const ShoupConstant52 &c, V neg_p, V mask52) {
    const V q = _mm512_srli_epi64(_mm512_madd52hi_epu64(mulLow(x, c.wc_top), x, c.wc), 12);
    const V xw = _mm512_madd52lo_epu64(zero(), x, c.w);
    // neg_p = 2^52 - p: q neg_p is -q p modulo 2^52.
    return _mm512_and_si512(_mm512_madd52lo_epu64(xw, q, neg_p), mask52);
}

// ---- Barrett products a b mod p for a, b < p, fully reduced ------------

struct BarrettConstants {
    V p, p2, ratio, ratio_hi;
    V shift_lo, shift_hi; // k - 1 and 64 - (k - 1)
};

// ratio = floor(2^(63 + k) / p), shift = k - 1 with k = floor(log2 p).
QUELT_AVX512 inline BarrettConstants barrettConstants(u64 p, u64 ratio, unsigned shift) {
    return {set1(p), set1(2 * p), set1(ratio), set1(ratio >> 32), set1(shift), set1(64 - shift)};
}

// a b mod p, fully reduced, as the scalar Barrett product forms it: the top
// word of the product shifted down by k - 1 (a shift by 64 gives 0, as the
// scalar (hi << 1) << 63 does) times the ratio gives the quotient estimate.
// Its high word is taken without the lowest of the four partial products,
// which can only make it one smaller, so ab - q p lies in [0, 4p) (below
// 2^64 for p < 2^62) and two subtractions, of 2p and of p, leave the residue:
// the scalar word.
QUELT_AVX512 inline V barrett(V a, V b, const BarrettConstants &c) {
    V hi, lo;
    mulWide(a, _mm512_srli_epi64(a, 32), b, _mm512_srli_epi64(b, 32), hi, lo);
    const V x =
        _mm512_or_si512(_mm512_sllv_epi64(hi, c.shift_hi), _mm512_srlv_epi64(lo, c.shift_lo));
    const V x_hi = _mm512_srli_epi64(x, 32);
    const V lh = _mm512_mul_epu32(x, c.ratio_hi);
    const V hl = _mm512_mul_epu32(x_hi, c.ratio);
    const V hh = _mm512_mul_epu32(x_hi, c.ratio_hi);
    const V mid = add(lh, _mm512_and_si512(hl, set1(0xffffffffULL)));
    const V q = add(hh, add(_mm512_srli_epi64(hl, 32), _mm512_srli_epi64(mid, 32)));
    const V r = sub(lo, mulLow(q, c.p));
    return subIfAtLeast(subIfAtLeast(r, c.p2), c.p);
}

// The same product for p < 2^50 from 52-bit multiply-adds. With
// ab = H 2^52 + L: x = floor(ab / 2^(k-1)) < 2^(k+3) <= 2^52,
// q = floor(x mu / 2^52) with mu = floor(2^(51+k) / p) (the scalar ratio
// shifted down by 12) is at most two below floor(ab / p), so ab - q p lies in
// [0, 3p) and is exact modulo 2^52; two subtractions leave the residue.
struct BarrettConstants52 {
    V p, neg_p, mask52, mu;
    V shift_lo, shift_hi; // k - 1 and 53 - k
};

QUELT_IFMA inline BarrettConstants52 barrettConstants52(u64 p, u64 ratio, unsigned shift) {
    return {set1(p),     set1((u64{1} << 52) - p), set1((u64{1} << 52) - 1), set1(ratio >> 12),
            set1(shift), set1(52 - shift)};
}

QUELT_IFMA inline V barrett52(V a, V b, const BarrettConstants52 &c) {
    const V H = _mm512_madd52hi_epu64(zero(), a, b);
    const V L = _mm512_madd52lo_epu64(zero(), a, b);
    const V x = _mm512_or_si512(_mm512_sllv_epi64(H, c.shift_hi), _mm512_srlv_epi64(L, c.shift_lo));
    const V q = _mm512_madd52hi_epu64(zero(), x, c.mu);
    const V r = _mm512_and_si512(_mm512_madd52lo_epu64(L, q, c.neg_p), c.mask52);
    return subIfAtLeast(subIfAtLeast(r, c.p), c.p);
}

// ---- Folding a 128-bit value modulo p ------------------------------------

// The constants of the scalar fold of h 2^64 + l:
// l + R h - p (floor(l wq / 2^64) + floor(h Rc / 2^64)) modulo 2^64, a value in
// [0, 4p) congruent to it (wq = floor(2^64 / p), R = 2^64 mod p, Rc its Shoup
// companion).
struct FoldConstants {
    V p, quotient, quotient_hi, residue, companion, companion_hi;
};

QUELT_AVX512 inline FoldConstants foldConstants(u64 p, u64 quotient, u64 residue, u64 companion) {
    return {set1(p),       set1(quotient),  set1(quotient >> 32),
            set1(residue), set1(companion), set1(companion >> 32)};
}

QUELT_AVX512 inline V fold(V h, V l, const FoldConstants &c) {
    const V q = add(mulHigh(l, c.quotient, c.quotient_hi), mulHigh(h, c.companion, c.companion_hi));
    return sub(add(l, mulLow(c.residue, h)), mulLow(c.p, q));
}

// ---- Sums of products in 52-bit columns ------------------------------------

// A sum c0 + c1 2^52 + c2 2^104 of products, as 52-bit multiply-adds leave
// it: with x = x1 2^52 + x0 and y = y1 2^52 + y0 (x, y below 2^64), the
// multiplier reads x0 and y0 by itself, and the parts x1 y0, x0 y1 and x1 y1
// are needed only when x1 or y1 can be non-zero. A product adds less than
// 3 x 2^52 to a column, so a column takes 1024 products without carrying out
// of its word.
struct Columns {
    V c0, c1, c2;
};

QUELT_AVX512 inline Columns zeroColumns() { return {zero(), zero(), zero()}; }

// s += x y, with x1 = x >> 52 and y1 = y >> 52 (read only when WideX, WideY).
template <bool WideX, bool WideY>
QUELT_IFMA inline void addProduct(Columns &s, V x, V x1, V y, V y1) {
    s.c0 = _mm512_madd52lo_epu64(s.c0, x, y);
    s.c1 = _mm512_madd52hi_epu64(s.c1, x, y);
    if constexpr (WideX) {
        s.c1 = _mm512_madd52lo_epu64(s.c1, x1, y);
        s.c2 = _mm512_madd52hi_epu64(s.c2, x1, y);
    }
    if constexpr (WideY) {
        s.c1 = _mm512_madd52lo_epu64(s.c1, x, y1);
        s.c2 = _mm512_madd52hi_epu64(s.c2, x, y1);
    }
    if constexpr (WideX && WideY)
        s.c2 = _mm512_madd52lo_epu64(s.c2, x1, y1);
}

// The sum as a 128-bit value (hi, lo), modulo 2^128.
QUELT_AVX512 inline void joinColumns(const Columns &s, V &hi, V &lo) {
    lo = add(s.c0, _mm512_slli_epi64(s.c1, 52));
    const Mask carry = _mm512_cmplt_epu64_mask(lo, s.c0);
    const V top = add(_mm512_srli_epi64(s.c1, 12), _mm512_slli_epi64(s.c2, 40));
    hi = _mm512_mask_sub_epi64(top, carry, top, set1(~u64{0}));
}

// A word below 2^64 as the columns of a new sum.
QUELT_AVX512 inline Columns columnsOf(V w) {
    return {_mm512_and_si512(w, set1((u64{1} << 52) - 1)), _mm512_srli_epi64(w, 52), zero()};
}

} // namespace Quelt::avx512

#endif
