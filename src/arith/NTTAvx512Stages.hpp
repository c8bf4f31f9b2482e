#pragma once

// Stage kernels and drivers of the number-theoretic transform on eight lanes,
// written once for two kinds of arithmetic: Arith::Twiddle holds a table
// constant prepared for Arith::shoup, the exact Shoup product of the scalar
// butterflies. The including file defines QUELT_VECTOR_TARGET, the target
// attribute of the instruction set its Arith needs, before including this
// header; each including file gets its own copy (internal linkage).
//
// Stage order is the scalar order, merged: the upper stages run two at a time
// on four vectors (radix 4), the groups of the lower stages are taken block by
// block so that a block stays in the first-level cache through all of them,
// and the four stages of half-distance 8, 4, 2 and 1 run together on sixteen
// words held in two registers, with the final reduction (forward) or the
// first load (inverse). Every butterfly still sees the operands it sees stage
// after stage, so the words produced are the scalar words.

#include "arith/Avx512Arith.hpp"
#include "arith/NTTKernels.hpp"

#include <algorithm>

#if defined(__x86_64__)

#ifndef QUELT_VECTOR_TARGET
#error "QUELT_VECTOR_TARGET must name the target attribute of the including file"
#endif

namespace Quelt::ntt_kernels {

namespace {

using avx512::add;
using avx512::lanes;
using avx512::load;
using avx512::Mask;
using avx512::set1;
using avx512::store;
using avx512::sub;
using avx512::subIfAtLeast;
using avx512::V;

// Words of one block of the lower stages (32 KiB).
constexpr u64 kBlockWords = 4096;
// The drivers need at least the sixteen words of the fused lower stages.
constexpr u64 kMinDegree = 16;

template <class Arith>
struct Stages {
    using Twiddle = typename Arith::Twiddle;
    using Constants = typename Arith::Constants;

    QUELT_VECTOR_TARGET static Twiddle broadcast(const u64 *W, const u64 *Wc, u64 i) {
        return Arith::twiddle(set1(W[i]), set1(Wc[i]));
    }
    // (W[0] W[1]) and (W[0] W[1] W[2] W[3]) repeated over the lanes: each a
    // single broadcast load.
    QUELT_VECTOR_TARGET static V repeat2(const u64 *W) {
        return _mm512_broadcast_i64x2(_mm_loadu_si128(reinterpret_cast<const __m128i *>(W)));
    }
    QUELT_VECTOR_TARGET static V repeat4(const u64 *W) {
        return _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(W)));
    }

    // Interleaving (X0 Y0 X1 Y1 ...) and its inverse (the even lanes of X Y,
    // then the odd ones), in pairs of outputs.
    QUELT_VECTOR_TARGET static void zip(V &x, V &y) {
        const V lo = _mm512_permutex2var_epi64(x, lanes(0, 8, 1, 9, 2, 10, 3, 11), y);
        y = _mm512_permutex2var_epi64(x, lanes(4, 12, 5, 13, 6, 14, 7, 15), y);
        x = lo;
    }
    QUELT_VECTOR_TARGET static void unzip(V &x, V &y) {
        const V evens = _mm512_permutex2var_epi64(x, lanes(0, 2, 4, 6, 8, 10, 12, 14), y);
        y = _mm512_permutex2var_epi64(x, lanes(1, 3, 5, 7, 9, 11, 13, 15), y);
        x = evens;
    }

    // Forward butterfly: X below 2p, Q the Shoup product below 2p.
    QUELT_VECTOR_TARGET static void forward(V &x, V &y, const Twiddle &w, const Constants &k) {
        const V X = subIfAtLeast(x, k.p2);
        const V Q = Arith::shoup(y, w, k);
        x = add(X, Q);
        y = sub(add(X, k.p2), Q);
    }

    QUELT_VECTOR_TARGET static void backward(V &x, V &y, const Twiddle &v, const Constants &k) {
        const V X = x, Y = y;
        x = subIfAtLeast(add(X, Y), k.p2);
        y = Arith::shoup(sub(add(X, k.p2), Y), v, k);
    }

    template <int K>
    QUELT_VECTOR_TARGET static V reduceFrom4p(V x, const Constants &k) {
        if constexpr (K <= 2)
            x = subIfAtLeast(x, k.p2);
        if constexpr (K == 1)
            x = subIfAtLeast(x, k.p);
        return x;
    }

    template <int K>
    QUELT_VECTOR_TARGET static V reduceFrom2p(V x, const Constants &k) {
        if constexpr (K == 1)
            x = subIfAtLeast(x, k.p);
        return x;
    }

    // ---- stages of both directions ---------------------------------------

    template <bool Forward>
    QUELT_VECTOR_TARGET static void butterfly(V &x, V &y, const Twiddle &w, const Constants &k) {
        if constexpr (Forward)
            forward(x, y, w, k);
        else
            backward(x, y, w, k);
    }

    // One stage with half-distance h >= 8 over its groups [g0, g1); W, Wc
    // the twiddles of the stage.
    template <bool Forward>
    QUELT_VECTOR_TARGET static void stage(u64 *a, const u64 *W, const u64 *Wc, u64 h, u64 g0,
                                          u64 g1, const Constants &k) {
        for (u64 g = g0; g < g1; ++g) {
            const Twiddle w = broadcast(W, Wc, g);
            u64 *x = a + 2 * g * h, *y = x + h;
            for (u64 j = 0; j < h; j += 8) {
                V X = load(x + j), Y = load(y + j);
                butterfly<Forward>(X, Y, w, k);
                store(x + j, X);
                store(y + j, Y);
            }
        }
    }

    // Two stages over the groups [g0, g1) of span 4d (d >= 8), on four
    // quarters at distance d: the outer stage pairs quarters 0-2 and 1-3 with
    // the twiddle Wo[g], the inner one pairs 0-1 and 2-3 with Wi[2g] and
    // Wi[2g + 1]. The forward transform runs the outer stage first, the
    // inverse the inner one.
    template <bool Forward>
    QUELT_VECTOR_TARGET static void pair(u64 *a, const u64 *Wo, const u64 *Woc, const u64 *Wi,
                                         const u64 *Wic, u64 d, u64 g0, u64 g1,
                                         const Constants &k) {
        for (u64 g = g0; g < g1; ++g) {
            const Twiddle outer = broadcast(Wo, Woc, g);
            const Twiddle inner0 = broadcast(Wi, Wic, 2 * g),
                          inner1 = broadcast(Wi, Wic, 2 * g + 1);
            u64 *p0 = a + 4 * g * d, *p1 = p0 + d, *p2 = p1 + d, *p3 = p2 + d;
            for (u64 j = 0; j < d; j += 8) {
                V x0 = load(p0 + j), x1 = load(p1 + j), x2 = load(p2 + j), x3 = load(p3 + j);
                if constexpr (Forward) {
                    forward(x0, x2, outer, k);
                    forward(x1, x3, outer, k);
                    forward(x0, x1, inner0, k);
                    forward(x2, x3, inner1, k);
                } else {
                    backward(x0, x1, inner0, k);
                    backward(x2, x3, inner1, k);
                    backward(x0, x2, outer, k);
                    backward(x1, x3, outer, k);
                }
                store(p0 + j, x0);
                store(p1 + j, x1);
                store(p2 + j, x2);
                store(p3 + j, x3);
            }
        }
    }

    // ---- forward ---------------------------------------------------------

    // Where the forward transform's final words go: back into the limb, or
    // (b - x) c mod p into out, the subtraction and scaling that follow a
    // transform in the division by P of key switching.
    struct StoreWords {
        QUELT_VECTOR_TARGET void put(u64 *a, u64 i, V x, const Constants &) const {
            store(a + i, x);
        }
    };
    struct SubScaleWords {
        const u64 *b;
        u64 *out;
        Twiddle c;
        // x below p: p + b - x lies below 2p, the Shoup product below 2p.
        QUELT_VECTOR_TARGET void put(u64 *, u64 i, V x, const Constants &k) const {
            store(out + i, subIfAtLeast(Arith::shoup(sub(add(load(b + i), k.p), x), c, k), k.p));
        }
    };

    // The forward stage with half-distance h has m = N / 2h groups and reads
    // W[m .. 2m).
    QUELT_VECTOR_TARGET static void forwardStage(u64 *a, const Tables &t, u64 h, u64 g0, u64 g1,
                                                 const Constants &k) {
        const u64 m = t.degree / (2 * h);
        stage<true>(a, t.forward + m, t.forward_companions + m, h, g0, g1, k);
    }

    // Stages h and h/2 (h >= 16) over the groups [g0, g1) of stage h.
    QUELT_VECTOR_TARGET static void forwardPair(u64 *a, const Tables &t, u64 h, u64 g0, u64 g1,
                                                const Constants &k) {
        const u64 m = t.degree / (2 * h);
        pair<true>(a, t.forward + m, t.forward_companions + m, t.forward + 2 * m,
                   t.forward_companions + 2 * m, h / 2, g0, g1, k);
    }

    // Stages 8, 4, 2 and 1 on the sixteen-word blocks [b0, b1), then the
    // reduction below K p. Between stages the lanes are interleaved, so that
    // (X, Y) holds the positions
    //   h = 8: X 0 1 2 3 4 5 6 7,     Y 8 9 10 11 12 13 14 15
    //   h = 4: X 0 8 1 9 2 10 3 11,   Y 4 12 5 13 6 14 7 15
    //   h = 2: X 0 4 8 12 1 5 9 13,   Y 2 6 10 14 3 7 11 15
    //   h = 1: X 0 2 4 6 8 10 12 14,  Y 1 3 5 7 9 11 13 15
    // and the twiddles of the block are one word, two words or four words
    // repeated, or eight in order; a last interleaving restores the order.
    template <int Count, int K, class Words>
    QUELT_VECTOR_TARGET static void forwardTailBlocks(u64 *a, const Tables &t, u64 b,
                                                      const Constants &k, const Words &words) {
        const u64 N = t.degree;
        const u64 *W = t.forward, *Wc = t.forward_companions;
        V X[Count], Y[Count];
        for (int i = 0; i < Count; ++i) {
            X[i] = load(a + 16 * (b + i));
            Y[i] = load(a + 16 * (b + i) + 8);
        }
        for (int i = 0; i < Count; ++i) {
            forward(X[i], Y[i], broadcast(W + N / 16, Wc + N / 16, b + i), k);
            zip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            const u64 m4 = N / 8 + 2 * (b + i);
            forward(X[i], Y[i], Arith::twiddle(repeat2(W + m4), repeat2(Wc + m4)), k);
            zip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            const u64 m2 = N / 4 + 4 * (b + i);
            forward(X[i], Y[i], Arith::twiddle(repeat4(W + m2), repeat4(Wc + m2)), k);
            zip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            const u64 m1 = N / 2 + 8 * (b + i);
            forward(X[i], Y[i], Arith::twiddle(load(W + m1), load(Wc + m1)), k);
            X[i] = reduceFrom4p<K>(X[i], k);
            Y[i] = reduceFrom4p<K>(Y[i], k);
            zip(X[i], Y[i]);
            words.put(a, 16 * (b + i), X[i], k);
            words.put(a, 16 * (b + i) + 8, Y[i], k);
        }
    }

    template <int K, class Words>
    QUELT_VECTOR_TARGET static void forwardTail(u64 *a, const Tables &t, u64 b0, u64 b1,
                                                const Constants &k, const Words &words) {
        // Two blocks at a time: their independent chains of four stages
        // overlap.
        u64 b = b0;
        for (; b + 2 <= b1; b += 2)
            forwardTailBlocks<2, K>(a, t, b, k, words);
        if (b < b1)
            forwardTailBlocks<1, K>(a, t, b, k, words);
    }

    template <int K, class Words = StoreWords>
    QUELT_VECTOR_TARGET static void forwardAll(u64 *a, const Tables &t,
                                               const Words &words = Words()) {
        const Constants k = Arith::constants(t.prime);
        const u64 N = t.degree;
        const u64 block = std::min(N, kBlockWords);
        // Pairs of stages whose groups span more than a block run over the
        // whole limb; the rest run block by block.
        u64 h = N / 2;
        for (; h >= 32 && 2 * h > block; h /= 4)
            forwardPair(a, t, h, 0, N / (2 * h), k);
        for (u64 s = 0; s < N; s += block) {
            u64 g = h;
            for (; g >= 32; g /= 4)
                forwardPair(a, t, g, s / (2 * g), (s + block) / (2 * g), k);
            if (g == 16)
                forwardStage(a, t, 16, s / 32, (s + block) / 32, k);
            forwardTail<K>(a, t, s / 16, (s + block) / 16, k, words);
        }
    }

    // ---- inverse ---------------------------------------------------------

    // The stage with m groups reads V[N + 1 - 2m + i].
    static const u64 *inverseOf(const Tables &t, u64 h) {
        return t.inverse + (t.degree + 1 - t.degree / h);
    }
    static const u64 *inverseCompanionsOf(const Tables &t, u64 h) {
        return t.inverse_companions + (t.degree + 1 - t.degree / h);
    }

    // The last stage (half-distance N/2) with the factor N^-1, then the
    // reduction below K p.
    template <int K>
    QUELT_VECTOR_TARGET static void last(V &x, V &y, const Twiddle &ni, const Twiddle &lt,
                                         const Constants &k) {
        const V X = x, Y = y;
        const V S = subIfAtLeast(add(X, Y), k.p2);
        x = reduceFrom2p<K>(Arith::shoup(S, ni, k), k);
        y = reduceFrom2p<K>(Arith::shoup(sub(add(X, k.p2), Y), lt, k), k);
    }

    // Stages 1, 2, 4 and 8 on the sixteen-word blocks [b, b + Count), with the lane
    // orders of forwardTail taken the other way (each regrouping undoes an
    // interleaving). For N = 16 the stage of half-distance 8 is the last one
    // (WithLast).
    template <int Count, bool WithLast, int K>
    QUELT_VECTOR_TARGET static void backwardHeadBlocks(u64 *a, const Tables &t, u64 b,
                                                       const Constants &k) {
        const u64 *V1 = inverseOf(t, 1), *V1c = inverseCompanionsOf(t, 1);
        const u64 *V2 = inverseOf(t, 2), *V2c = inverseCompanionsOf(t, 2);
        const u64 *V4 = inverseOf(t, 4), *V4c = inverseCompanionsOf(t, 4);
        const u64 *V8 = inverseOf(t, 8), *V8c = inverseCompanionsOf(t, 8);
        V X[Count], Y[Count];
        for (int i = 0; i < Count; ++i) {
            X[i] = load(a + 16 * (b + i));
            Y[i] = load(a + 16 * (b + i) + 8);
            unzip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            const u64 m1 = 8 * (b + i);
            backward(X[i], Y[i], Arith::twiddle(load(V1 + m1), load(V1c + m1)), k);
            unzip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            const u64 m2 = 4 * (b + i);
            backward(X[i], Y[i], Arith::twiddle(repeat4(V2 + m2), repeat4(V2c + m2)), k);
            unzip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            const u64 m4 = 2 * (b + i);
            backward(X[i], Y[i], Arith::twiddle(repeat2(V4 + m4), repeat2(V4c + m4)), k);
            unzip(X[i], Y[i]);
        }
        for (int i = 0; i < Count; ++i) {
            if constexpr (WithLast) {
                const Twiddle ni =
                    Arith::twiddle(set1(t.degree_inverse), set1(t.degree_inverse_companion));
                const Twiddle lt =
                    Arith::twiddle(set1(t.last_twiddle), set1(t.last_twiddle_companion));
                last<K>(X[i], Y[i], ni, lt, k);
            } else {
                backward(X[i], Y[i], broadcast(V8, V8c, b + i), k);
            }
            store(a + 16 * (b + i), X[i]);
            store(a + 16 * (b + i) + 8, Y[i]);
        }
    }

    template <bool WithLast, int K>
    QUELT_VECTOR_TARGET static void backwardHead(u64 *a, const Tables &t, u64 b0, u64 b1,
                                                 const Constants &k) {
        u64 b = b0;
        for (; b + 2 <= b1; b += 2)
            backwardHeadBlocks<2, WithLast, K>(a, t, b, k);
        if (b < b1)
            backwardHeadBlocks<1, WithLast, K>(a, t, b, k);
    }

    QUELT_VECTOR_TARGET static void backwardStage(u64 *a, const Tables &t, u64 h, u64 g0, u64 g1,
                                                  const Constants &k) {
        stage<false>(a, inverseOf(t, h), inverseCompanionsOf(t, h), h, g0, g1, k);
    }

    // Stages h and 2h (h >= 8) over the groups [G0, G1) of stage 2h.
    QUELT_VECTOR_TARGET static void backwardPair(u64 *a, const Tables &t, u64 h, u64 G0, u64 G1,
                                                 const Constants &k) {
        pair<false>(a, inverseOf(t, 2 * h), inverseCompanionsOf(t, 2 * h), inverseOf(t, h),
                    inverseCompanionsOf(t, h), h, G0, G1, k);
    }

    // The stage of half-distance N/4 (two groups) and the last stage, for
    // N >= 64; without the first for N = 32 (Pair false).
    template <bool Pair, int K>
    QUELT_VECTOR_TARGET static void backwardEnd(u64 *a, const Tables &t, const Constants &k) {
        const u64 N = t.degree;
        const Twiddle ni = Arith::twiddle(set1(t.degree_inverse), set1(t.degree_inverse_companion));
        const Twiddle lt = Arith::twiddle(set1(t.last_twiddle), set1(t.last_twiddle_companion));
        if constexpr (!Pair) {
            u64 *b = a + N / 2;
            for (u64 j = 0; j < N / 2; j += 8) {
                V X = load(a + j), Y = load(b + j);
                last<K>(X, Y, ni, lt, k);
                store(a + j, X);
                store(b + j, Y);
            }
        } else {
            const u64 q = N / 4;
            const u64 *Vq = inverseOf(t, q), *Vqc = inverseCompanionsOf(t, q);
            const Twiddle va = broadcast(Vq, Vqc, 0), vb = broadcast(Vq, Vqc, 1);
            u64 *p1 = a + q, *p2 = p1 + q, *p3 = p2 + q;
            for (u64 j = 0; j < q; j += 8) {
                V x0 = load(a + j), x1 = load(p1 + j), x2 = load(p2 + j), x3 = load(p3 + j);
                backward(x0, x1, va, k);
                backward(x2, x3, vb, k);
                last<K>(x0, x2, ni, lt, k);
                last<K>(x1, x3, ni, lt, k);
                store(a + j, x0);
                store(p1 + j, x1);
                store(p2 + j, x2);
                store(p3 + j, x3);
            }
        }
    }

    template <int K>
    QUELT_VECTOR_TARGET static void backwardAll(u64 *a, const Tables &t) {
        const Constants k = Arith::constants(t.prime);
        const u64 N = t.degree;
        if (N == 16)
            return backwardHead<true, K>(a, t, 0, 1, k);
        if (N == 32) {
            backwardHead<false, K>(a, t, 0, 2, k);
            return backwardEnd<false, K>(a, t, k);
        }
        // Stages 16 .. N/8 lie between the head and the end, in pairs, with a
        // single stage first when their number is odd.
        const u64 block = std::min(N, kBlockWords);
        const u64 top = N / 8;
        u64 count = 0;
        for (u64 h = 16; h <= top; h *= 2)
            ++count;
        const bool single = count % 2 == 1;
        u64 h = single ? 32 : 16;
        while (2 * h <= top && 4 * h <= block)
            h *= 4;
        // h is now the first pair that spans more than a block.
        for (u64 s = 0; s < N; s += block) {
            backwardHead<false, K>(a, t, s / 16, (s + block) / 16, k);
            u64 g = 16;
            if (single) {
                backwardStage(a, t, 16, s / 32, (s + block) / 32, k);
                g = 32;
            }
            for (; g < h; g *= 4)
                backwardPair(a, t, g, s / (4 * g), (s + block) / (4 * g), k);
        }
        for (; 2 * h <= top; h *= 4)
            backwardPair(a, t, h, 0, N / (4 * h), k);
        backwardEnd<true, K>(a, t, k);
    }
};

// The twists of type 2, eight pairs of positions i and N - i at a time: the
// block of positions i0 .. i0 + 7 and the block N - i0 - 7 .. N - i0 meet with
// their lanes reversed. Both blocks are read before either is written, so the
// twists work in place; the middle position N/2 lies in both blocks of the
// last pair and is written twice with the same word.
template <class Arith>
struct Twist {
    using Twiddle = typename Arith::Twiddle;
    using Constants = typename Arith::Constants;

    QUELT_VECTOR_TARGET static V reversed(V x) {
        return _mm512_permutexvar_epi64(lanes(7, 6, 5, 4, 3, 2, 1, 0), x);
    }
    QUELT_VECTOR_TARGET static Twiddle at(const u64 *w, const u64 *wc, u64 i) {
        return Arith::twiddle(load(w + i), load(wc + i));
    }

    // x + q less 2p once when the sum reaches 2p, for x < 4p and q < 2p,
    // with 2p taken off x first when x is that large (as the scalar twist
    // does, so that the sum stays below 2^64).
    QUELT_VECTOR_TARGET static V sum(V x, V q, const Constants &k) {
        const Mask large = _mm512_cmpge_epu64_mask(x, k.p2);
        const V s = add(_mm512_mask_sub_epi64(x, large, x, k.p2), q);
        return _mm512_mask_mov_epi64(subIfAtLeast(s, k.p2), large, s);
    }

    // s below 4p reduced below p, then halved modulo p.
    QUELT_VECTOR_TARGET static V halve(V s, const Constants &k) {
        s = subIfAtLeast(subIfAtLeast(s, k.p2), k.p);
        const Mask odd = _mm512_test_epi64_mask(s, set1(1));
        return _mm512_srli_epi64(_mm512_mask_add_epi64(s, odd, s, k.p), 1);
    }

    QUELT_VECTOR_TARGET static void conversion(const u64 *in, u64 *out, const Twists &t) {
        const Constants k = Arith::constants(t.prime);
        const u64 N = t.degree;
        const Twiddle c =
            Arith::twiddle(set1(t.inverse_powers[N]), set1(t.inverse_companions[N])); // psi^-N
        out[0] = in[0];
        for (u64 i0 = 1; i0 + 7 <= N / 2; i0 += 8) {
            const u64 j0 = N - i0 - 7;
            const V xi = load(in + i0), xj = load(in + j0);
            const V si = sum(xi, reversed(Arith::shoup(xj, c, k)), k);
            const V sj = sum(xj, reversed(Arith::shoup(xi, c, k)), k);
            store(out + i0, Arith::shoup(si, at(t.powers, t.companions, i0), k));
            store(out + j0, Arith::shoup(sj, at(t.powers, t.companions, j0), k));
        }
    }

    QUELT_VECTOR_TARGET static void inversion(const u64 *in, u64 *out, const Twists &t) {
        const Constants k = Arith::constants(t.prime);
        const u64 N = t.degree;
        const u64 *psi = t.powers, *psi_c = t.companions;
        const u64 *ipsi = t.inverse_powers, *ipsi_c = t.inverse_companions;
        out[0] = in[0];
        for (u64 i0 = 1; i0 + 7 <= N / 2; i0 += 8) {
            const u64 j0 = N - i0 - 7;
            const V xi = load(in + i0), xj = load(in + j0);
            const V si = add(Arith::shoup(xi, at(ipsi, ipsi_c, i0), k),
                             Arith::shoup(reversed(xj), at(psi, psi_c, i0), k));
            const V sj = add(Arith::shoup(xj, at(ipsi, ipsi_c, j0), k),
                             Arith::shoup(reversed(xi), at(psi, psi_c, j0), k));
            store(out + i0, halve(si, k));
            store(out + j0, halve(sj, k));
        }
    }
};

template <class Arith>
QUELT_VECTOR_TARGET void forwardWith(u64 *a, const Tables &t, int K) {
    if (K == 1)
        Stages<Arith>::template forwardAll<1>(a, t);
    else if (K == 2)
        Stages<Arith>::template forwardAll<2>(a, t);
    else
        Stages<Arith>::template forwardAll<4>(a, t);
}

template <class Arith>
QUELT_VECTOR_TARGET void forwardSubScaleWith(u64 *a, const Tables &t, const SubScale &s) {
    using S = Stages<Arith>;
    const typename S::SubScaleWords words{s.b, s.out,
                                          Arith::twiddle(set1(s.factor), set1(s.companion))};
    S::template forwardAll<1>(a, t, words);
}

template <class Arith>
QUELT_VECTOR_TARGET void backwardWith(u64 *a, const Tables &t, int K) {
    if (K == 1)
        Stages<Arith>::template backwardAll<1>(a, t);
    else
        Stages<Arith>::template backwardAll<2>(a, t);
}

} // namespace

} // namespace Quelt::ntt_kernels

#endif
