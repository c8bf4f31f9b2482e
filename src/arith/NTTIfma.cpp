// IFMA transform for primes below 2^50: every operand of the butterfly lies
// below 4p < 2^52, so the Shoup product is built from 52-bit multiply-adds,
// with the carry that the 64-bit companion adds to the quotient recovered
// exactly (see avx512::shoup52); the words are the scalar words.

#include "arith/Avx512Arith.hpp"

#define QUELT_VECTOR_TARGET QUELT_IFMA
#include "arith/NTTAvx512Stages.hpp"

#if defined(__x86_64__)

namespace Quelt::ntt_kernels {

namespace {

struct Arith52 {
    struct Constants {
        V p, p2, neg_p, mask52;
    };
    using Twiddle = avx512::ShoupConstant52;

    QUELT_IFMA static Constants constants(u64 p) {
        return {set1(p), set1(2 * p), set1((u64{1} << 52) - p), set1((u64{1} << 52) - 1)};
    }
    QUELT_IFMA static Twiddle twiddle(V w, V wc) { return avx512::shoupConstant52(w, wc); }
    QUELT_IFMA static V shoup(V y, const Twiddle &w, const Constants &k) {
        return avx512::shoup52(y, w, k.neg_p, k.mask52);
    }
};

} // namespace

void forwardIfma(u64 *a, const Tables &t, int K) { forwardWith<Arith52>(a, t, K); }
void forwardSubScaleIfma(u64 *a, const Tables &t, const SubScale &s) {
    forwardSubScaleWith<Arith52>(a, t, s);
}
void backwardIfma(u64 *a, const Tables &t, int K) { backwardWith<Arith52>(a, t, K); }
void conversionIfma(const u64 *in, u64 *out, const Twists &t) {
    Twist<Arith52>::conversion(in, out, t);
}
void inversionIfma(const u64 *in, u64 *out, const Twists &t) {
    Twist<Arith52>::inversion(in, out, t);
}

} // namespace Quelt::ntt_kernels

#endif
