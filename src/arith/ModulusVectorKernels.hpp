#pragma once

// The element-wise kernels of Modulus on eight lanes, written once for two
// kinds of arithmetic: Arith::Product (the Barrett product, fully reduced) and
// Arith::Shoup (the exact Shoup product of any word by a table constant). The
// including file defines QUELT_VECTOR_TARGET, the target attribute of its
// Arith, before including this header; each including file gets its own copy.
//
// Lengths need not be multiples of eight: the last few words are read and
// written through lane masks. Each vector of eight positions is read whole
// before it is written, so outputs may alias inputs position for position.

#include "arith/ModulusVector.hpp"
#include "arith/VectorLoop.hpp"

#if defined(__x86_64__)

#ifndef QUELT_VECTOR_TARGET
#error "QUELT_VECTOR_TARGET must name the target attribute of the including file"
#endif

namespace Quelt::modulus_vector {

namespace {

using avx512::add;
using avx512::forEachVector;
using avx512::load;
using avx512::Mask;
using avx512::reduceOnce;
using avx512::set1;
using avx512::store;
using avx512::sub;
using avx512::subtractMod;
using avx512::V;

template <class Arith>
struct VectorKernels {
    using Product = typename Arith::Product;
    using Shoup = typename Arith::Shoup;

    QUELT_VECTOR_TARGET static void addVector(const Modulus &m, u64 *out, const u64 *a,
                                              const u64 *b, u64 n) {
        const V p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            store(out + i, k, reduceOnce(add(load(a + i, k), load(b + i, k)), p));
        });
    }

    QUELT_VECTOR_TARGET static void subVector(const Modulus &m, u64 *out, const u64 *a,
                                              const u64 *b, u64 n) {
        const V p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            store(out + i, k, subtractMod(load(a + i, k), load(b + i, k), p));
        });
    }

    QUELT_VECTOR_TARGET static void mulVector(const Modulus &m, u64 *out, const u64 *a,
                                              const u64 *b, u64 n) {
        const Product c = Arith::product(m);
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            store(out + i, k, Arith::multiply(load(a + i, k), load(b + i, k), c));
        });
    }

    QUELT_VECTOR_TARGET static void mulAddVector(const Modulus &m, u64 *out, const u64 *a,
                                                 const u64 *b, u64 n) {
        const Product c = Arith::product(m);
        const V p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V ab = Arith::multiply(load(a + i, k), load(b + i, k), c);
            store(out + i, k, reduceOnce(add(load(out + i, k), ab), p));
        });
    }

    QUELT_VECTOR_TARGET static void tensorVector(const Modulus &m, u64 *d1, u64 *d2, u64 *d0,
                                                 const u64 *a0, const u64 *a1, const u64 *b0,
                                                 const u64 *b1, u64 n) {
        const Product c = Arith::product(m);
        const V p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V x0 = load(a0 + i, k), x1 = load(a1 + i, k);
            const V y0 = load(b0 + i, k), y1 = load(b1 + i, k);
            const V high = Arith::multiply(x1, y1, c);
            const V low = Arith::multiply(x0, y0, c);
            const V s = reduceOnce(add(x0, x1), p);
            const V t = reduceOnce(add(y0, y1), p);
            const V u = Arith::multiply(s, t, c);
            store(d1 + i, k, subtractMod(subtractMod(u, high, p), low, p));
            store(d2 + i, k, high);
            store(d0 + i, k, low);
        });
    }

    // A Shoup product lies below 2p < 2^63 for every input word, where the
    // unsigned minimum and the scalar sign-bit subtraction agree.
    template <int K>
    QUELT_VECTOR_TARGET static void constMult(const Modulus &m, const u64 *in, u64 w, u64 wc,
                                              u64 *out, u64 n) {
        const Shoup c = Arith::shoupConstant(m, w, wc);
        const V p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V r = Arith::shoup(load(in + i, k), c);
            store(out + i, k, K == 1 ? avx512::subIfAtLeast(r, p) : r);
        });
    }

    template <int K>
    QUELT_VECTOR_TARGET static void subAndConstMult(const Modulus &m, const u64 *a, const u64 *b,
                                                    u64 w, u64 wc, u64 *out, u64 n) {
        const Shoup c = Arith::shoupConstant(m, w, wc);
        const V p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V r = Arith::shoup(sub(add(p, load(a + i, k)), load(b + i, k)), c);
            store(out + i, k, K == 1 ? avx512::subIfAtLeast(r, p) : r);
        });
    }

    QUELT_VECTOR_TARGET static void switchingKeyBody(const Modulus &m, u64 *out, const u64 *e,
                                                     const u64 *a, const u64 *s, const u64 *t,
                                                     u64 w, u64 wc, u64 n) {
        const Product c = Arith::product(m);
        const V p = set1(m.getPrime());
        if (t == nullptr) {
            forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
                const V as = Arith::multiply(load(a + i, k), load(s + i, k), c);
                store(out + i, k, subtractMod(load(e + i, k), as, p));
            });
            return;
        }
        const Shoup g = Arith::shoupConstant(m, w, wc);
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V as = Arith::multiply(load(a + i, k), load(s + i, k), c);
            const V body = subtractMod(load(e + i, k), as, p);
            const V gadget = avx512::subIfAtLeast(Arith::shoup(load(t + i, k), g), p);
            store(out + i, k, reduceOnce(add(body, gadget), p));
        });
    }

    // x = v + d when v > half (the sign bit of half - v set), else v.
    template <bool Accumulate>
    QUELT_VECTOR_TARGET static void normalizeModAndConstMult(const Modulus &m, const u64 *in, u64 w,
                                                             u64 wc, u64 half, u64 d, u64 *out,
                                                             u64 n) {
        const Shoup c = Arith::shoupConstant(m, w, wc);
        const V halves = set1(half), lift = set1(d), twice_p = set1(m.getTwicePrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V v = load(in + i, k);
            const V x = _mm512_mask_add_epi64(v, _mm512_movepi64_mask(sub(halves, v)), v, lift);
            const V r = Arith::shoup(x, c);
            store(out + i, k, Accumulate ? reduceOnce(add(load(out + i, k), r), twice_p) : r);
        });
    }

    QUELT_VECTOR_TARGET static void normalizeMod(const Modulus &m, const u64 *in, u64 w, u64 wc,
                                                 u64 half, u64 d, u64 *out, u64 n) {
        const Shoup c = Arith::shoupConstant(m, w, wc);
        const V halves = set1(half), lift = set1(d), p = set1(m.getPrime());
        forEachVector(n, [&](u64 i, Mask k) QUELT_VECTOR_TARGET {
            const V v = load(in + i, k);
            const V x = _mm512_mask_add_epi64(v, _mm512_movepi64_mask(sub(halves, v)), v, lift);
            store(out + i, k, reduceOnce(Arith::shoup(x, c), p));
        });
    }

    static constexpr Kernels table() {
        return {&addVector,
                &subVector,
                &mulVector,
                &mulAddVector,
                &tensorVector,
                &Arith::innerProduct,
                {&constMult<1>, &constMult<2>},
                {&subAndConstMult<1>, &subAndConstMult<2>},
                &switchingKeyBody,
                {&normalizeModAndConstMult<false>, &normalizeModAndConstMult<true>},
                &normalizeMod};
    }
};

} // namespace

} // namespace Quelt::modulus_vector

#endif
