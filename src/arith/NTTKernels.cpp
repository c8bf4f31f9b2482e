#include "arith/NTTKernels.hpp"

#include "arith/NTTDriver.hpp"
#include "foundation/SimdPath.hpp"

namespace Quelt::ntt_kernels {

namespace {

// Lazy Harvey butterflies. Forward: inputs below 4p, outputs below 4p (X is
// brought below 2p, the Shoup product is below 2p). Backward: inputs below 2p,
// outputs below 2p. Both need 4p < 2^64.
inline void forwardButterfly(u64 &x, u64 &y, u64 w, u64 wc, u64 p, u64 p2) {
    u64 X = x;
    X = word::reduceOnce(X, p2);
    const u64 Q = shoup(y, w, wc, p);
    x = X + Q;
    y = X - Q + p2;
}

inline void backwardButterfly(u64 &x, u64 &y, u64 v, u64 vc, u64 p, u64 p2) {
    const u64 X = x, Y = y;
    u64 S = X + Y;
    S = word::reduceOnce(S, p2);
    x = S;
    y = shoup(p2 + X - Y, v, vc, p);
}

// Reduction of a value below 4p (forward) or 2p (backward) to below K p.
template <int K>
inline u64 reduceFrom4p(u64 x, u64 p, u64 p2) {
    if constexpr (K <= 2)
        x = word::reduceOnce(x, p2);
    if constexpr (K == 1)
        x = word::reduceOnce(x, p);
    return x;
}

template <int K>
inline u64 reduceFrom2p(u64 x, u64 p) {
    if constexpr (K == 1)
        x = word::reduceOnce(x, p);
    return x;
}

} // namespace

// Scalar stage kernels; the reference for every other path.
struct ScalarStages {
    static void forwardGroups(u64 *a, const Tables &t, u64 h, u64 begin, u64 end) {
        const u64 p = t.prime, p2 = 2 * p, m = t.degree / (2 * h);
        const u64 *W = t.forward + m, *Wc = t.forward_companions + m;
        if (h == 1) {
            for (u64 i = begin; i < end; ++i)
                forwardButterfly(a[2 * i], a[2 * i + 1], W[i], Wc[i], p, p2);
            return;
        }
        for (u64 i = begin; i < end; ++i) {
            u64 *x = a + 2 * i * h, *y = x + h;
            const u64 w = W[i], wc = Wc[i];
            for (u64 j = 0; j < h; ++j)
                forwardButterfly(x[j], y[j], w, wc, p, p2);
        }
    }

    template <int K>
    static void forwardLastGroups(u64 *a, const Tables &t, u64 begin, u64 end) {
        const u64 p = t.prime, p2 = 2 * p, m = t.degree / 2;
        const u64 *W = t.forward + m, *Wc = t.forward_companions + m;
        for (u64 i = begin; i < end; ++i) {
            u64 x = a[2 * i], y = a[2 * i + 1];
            forwardButterfly(x, y, W[i], Wc[i], p, p2);
            a[2 * i] = reduceFrom4p<K>(x, p, p2);
            a[2 * i + 1] = reduceFrom4p<K>(y, p, p2);
        }
    }

    static void backwardGroups(u64 *a, const Tables &t, u64 h, u64 begin, u64 end) {
        const u64 N = t.degree, p = t.prime, p2 = 2 * p, m = N / (2 * h);
        const u64 *V = t.inverse + (N + 1 - 2 * m), *Vc = t.inverse_companions + (N + 1 - 2 * m);
        if (h == 1) {
            for (u64 i = begin; i < end; ++i)
                backwardButterfly(a[2 * i], a[2 * i + 1], V[i], Vc[i], p, p2);
            return;
        }
        for (u64 i = begin; i < end; ++i) {
            u64 *x = a + 2 * i * h, *y = x + h;
            const u64 v = V[i], vc = Vc[i];
            for (u64 j = 0; j < h; ++j)
                backwardButterfly(x[j], y[j], v, vc, p, p2);
        }
    }

    template <int K>
    static void backwardLast(u64 *a, const Tables &t) {
        const u64 p = t.prime, p2 = 2 * p, half = t.degree / 2;
        const u64 ni = t.degree_inverse, nic = t.degree_inverse_companion;
        const u64 lt = t.last_twiddle, ltc = t.last_twiddle_companion;
        if (half == 0) { // N = 1: no stage, N^-1 = 1
            a[0] = reduceFrom2p<K>(a[0], p);
            return;
        }
        u64 *b = a + half;
        for (u64 j = 0; j < half; ++j) {
            const u64 X = a[j], Y = b[j];
            u64 S = X + Y;
            S = word::reduceOnce(S, p2);
            a[j] = reduceFrom2p<K>(shoup(S, ni, nic, p), p);
            b[j] = reduceFrom2p<K>(shoup(p2 + X - Y, lt, ltc, p), p);
        }
    }
};

void forwardStage(u64 *a, const Tables &t, u64 h) {
    if (h == 0 || h > t.degree / 2)
        return;
    ScalarStages::forwardGroups(a, t, h, 0, t.degree / (2 * h));
}

void backwardStage(u64 *a, const Tables &t, u64 h) {
    if (h == 0 || h > t.degree / 2)
        return;
    ScalarStages::backwardGroups(a, t, h, 0, t.degree / (2 * h));
}

void backwardLast(u64 *a, const Tables &t) {
    if (t.degree >= 2)
        ScalarStages::backwardLast<2>(a, t);
}

void forwardScalar(u64 *a, const Tables &t, int K) {
    if (t.degree < 2) { // N = 1: no stage
        if (t.degree == 1)
            a[0] = K == 1   ? reduceFrom4p<1>(a[0], t.prime, 2 * t.prime)
                   : K == 2 ? reduceFrom4p<2>(a[0], t.prime, 2 * t.prime)
                            : a[0];
        return;
    }
    if (K == 1)
        forwardDriver<ScalarStages, 1>(a, t);
    else if (K == 2)
        forwardDriver<ScalarStages, 2>(a, t);
    else
        forwardDriver<ScalarStages, 4>(a, t);
}

void backwardScalar(u64 *a, const Tables &t, int K) {
    if (t.degree == 0)
        return;
    if (K == 1)
        backwardDriver<ScalarStages, 1>(a, t);
    else
        backwardDriver<ScalarStages, 2>(a, t);
}

namespace {

// out = (b - x) factor for the transformed words x below p.
void subScaleScalar(const u64 *x, const Tables &t, const SubScale &s) {
    const u64 p = t.prime;
    for (u64 i = 0; i < t.degree; ++i) {
        const u64 y = shoup(s.b[i] + p - x[i], s.factor, s.companion, p);
        s.out[i] = y >= p ? y - p : y;
    }
}

// The AVX-512 kernel, or its IFMA twin for primes below 2^50 on the IFMA
// path; null on the other paths and below the sixteen words the AVX-512
// drivers need.
template <typename Kernel>
Kernel avx512Kernel(u64 degree, u64 prime, Kernel avx512, Kernel ifma) {
    const simd::Path path = simd::activePath();
    if (path < simd::Path::Avx512 || degree < 16)
        return nullptr;
    return path == simd::Path::Ifma && prime < simd::kIfmaPrimeLimit ? ifma : avx512;
}

} // namespace

#if defined(__x86_64__)

void forward(u64 *a, const Tables &t, int K) {
    if (const auto kernel = avx512Kernel(t.degree, t.prime, &forwardAvx512, &forwardIfma))
        return kernel(a, t, K);
    if (simd::activePath() >= simd::Path::Avx2)
        return forwardVector(a, t, K);
    forwardScalar(a, t, K);
}

void forwardSubScale(u64 *a, const Tables &t, const SubScale &s) {
    if (const auto kernel =
            avx512Kernel(t.degree, t.prime, &forwardSubScaleAvx512, &forwardSubScaleIfma))
        return kernel(a, t, s);
    forward(a, t, 1);
    subScaleScalar(a, t, s);
}

void backward(u64 *a, const Tables &t, int K) {
    if (const auto kernel = avx512Kernel(t.degree, t.prime, &backwardAvx512, &backwardIfma))
        return kernel(a, t, K);
    if (simd::activePath() >= simd::Path::Avx2)
        return backwardVector(a, t, K);
    backwardScalar(a, t, K);
}

bool conversionVector(const u64 *in, u64 *out, const Twists &t) {
    const auto kernel = avx512Kernel(t.degree, t.prime, &conversionAvx512, &conversionIfma);
    if (kernel)
        kernel(in, out, t);
    return kernel != nullptr;
}

bool inversionVector(const u64 *in, u64 *out, const Twists &t) {
    const auto kernel = avx512Kernel(t.degree, t.prime, &inversionAvx512, &inversionIfma);
    if (kernel)
        kernel(in, out, t);
    return kernel != nullptr;
}

#else

// Only the scalar path exists on other processors.
void forward(u64 *a, const Tables &t, int K) { forwardScalar(a, t, K); }
void forwardSubScale(u64 *a, const Tables &t, const SubScale &s) {
    forwardScalar(a, t, 1);
    subScaleScalar(a, t, s);
}
void backward(u64 *a, const Tables &t, int K) { backwardScalar(a, t, K); }
bool conversionVector(const u64 *, u64 *, const Twists &) { return false; }
bool inversionVector(const u64 *, u64 *, const Twists &) { return false; }

#endif

bool vectorPathAvailable() { return simd::bestPath() != simd::Path::Scalar; }

const char *activePathName() { return simd::pathName(simd::activePath()); }

void setVectorPathEnabled(bool enabled) {
    simd::setActivePath(enabled ? simd::bestPath() : simd::Path::Scalar);
}
bool vectorPathEnabled() { return simd::activePath() != simd::Path::Scalar; }

} // namespace Quelt::ntt_kernels
