#pragma once

// Vector versions of the element-wise kernels of Modulus, chosen at run time.
// Each takes the arguments of the Modulus member it serves (constants already
// reduced by the member where it reduces them) and writes the words the
// scalar loop writes.

#include "arith/Modulus.hpp"
#include "foundation/WordArith.hpp"

#include <cstdint>

namespace Quelt::modulus_vector {

struct Kernels {
    void (*addVector)(const Modulus &m, u64 *out, const u64 *a, const u64 *b, u64 n);
    void (*subVector)(const Modulus &m, u64 *out, const u64 *a, const u64 *b, u64 n);
    void (*mulVector)(const Modulus &m, u64 *out, const u64 *a, const u64 *b, u64 n);
    // out[i] += a[i] b[i] over n words.
    void (*mulAddVector)(const Modulus &m, u64 *out, const u64 *a, const u64 *b, u64 n);
    void (*tensorVector)(const Modulus &m, u64 *d1, u64 *d2, u64 *d0, const u64 *a0, const u64 *a1,
                         const u64 *b0, const u64 *b1, u64 n);
    void (*innerProduct)(const Modulus &m, const u64 *a, const u64 *b, u64 *out, u64 n);
    // The Shoup products by w < p with companion wc, at index K - 1: reduced
    // below p (K = 1) or left below 2p (K = 2).
    void (*constMult[2])(const Modulus &m, const u64 *in, u64 w, u64 wc, u64 *out, u64 n);
    void (*subAndConstMult[2])(const Modulus &m, const u64 *a, const u64 *b, u64 w, u64 wc,
                               u64 *out, u64 n);
    // out[i] = e[i] - a[i] s[i] + t[i] w (Shoup, companion wc); t null
    // leaves the last term out.
    void (*switchingKeyBody)(const Modulus &m, u64 *out, const u64 *e, const u64 *a, const u64 *s,
                             const u64 *t, u64 w, u64 wc, u64 n);
    // The centred lift (v + d for v > half) times w; index 1 adds it to out.
    void (*normalizeModAndConstMult[2])(const Modulus &m, const u64 *in, u64 w, u64 wc, u64 half,
                                        u64 d, u64 *out, u64 n);
    // The centred lift (v + d for v > half) reduced below p: the Shoup
    // product by w = 1 (companion wc), then one conditional subtraction.
    void (*normalizeMod)(const Modulus &m, const u64 *in, u64 w, u64 wc, u64 half, u64 d, u64 *out,
                         u64 n);
};

// The kernels of the active path for the prime p, or null when the scalar
// loops serve it.
const Kernels *select(u64 p);

} // namespace Quelt::modulus_vector
