// AVX-512 transform: eight butterflies side by side, the 64 x 64-bit high
// product of the Shoup butterfly assembled from 32-bit multiplies and the low
// products taken whole, so every lane computes the scalar words.

#include "arith/Avx512Arith.hpp"

#define QUELT_VECTOR_TARGET QUELT_AVX512
#include "arith/NTTAvx512Stages.hpp"

#if defined(__x86_64__)

namespace Quelt::ntt_kernels {

namespace {

struct Arith64 {
    struct Constants {
        V p, p2;
    };
    using Twiddle = avx512::ShoupConstant;

    QUELT_AVX512 static Constants constants(u64 p) { return {set1(p), set1(2 * p)}; }
    QUELT_AVX512 static Twiddle twiddle(V w, V wc) { return avx512::shoupConstant(w, wc); }
    QUELT_AVX512 static V shoup(V y, const Twiddle &w, const Constants &k) {
        return avx512::shoup(y, w, k.p);
    }
};

} // namespace

void forwardAvx512(u64 *a, const Tables &t, int K) { forwardWith<Arith64>(a, t, K); }
void forwardSubScaleAvx512(u64 *a, const Tables &t, const SubScale &s) {
    forwardSubScaleWith<Arith64>(a, t, s);
}
void backwardAvx512(u64 *a, const Tables &t, int K) { backwardWith<Arith64>(a, t, K); }
void conversionAvx512(const u64 *in, u64 *out, const Twists &t) {
    Twist<Arith64>::conversion(in, out, t);
}
void inversionAvx512(const u64 *in, u64 *out, const Twists &t) {
    Twist<Arith64>::inversion(in, out, t);
}

} // namespace Quelt::ntt_kernels

#endif
