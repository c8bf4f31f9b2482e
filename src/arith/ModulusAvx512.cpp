// AVX-512 element-wise kernels of Modulus: the Barrett and Shoup products of
// the scalar kernels with their 64 x 64-bit high products assembled from
// 32-bit multiplies, lane by lane.

#include "arith/Avx512Arith.hpp"

#define QUELT_VECTOR_TARGET QUELT_AVX512
#include "arith/ModulusVectorKernels.hpp"
#include "foundation/SimdPath.hpp"

namespace Quelt::modulus_vector {

#if defined(__x86_64__)

extern const Kernels kIfmaKernels;

namespace {

namespace kk = keyswitch_kernels;

struct Arith64 {
    using Product = avx512::BarrettConstants;
    struct Shoup {
        avx512::ShoupConstant c;
        V p;
    };

    QUELT_AVX512 static Product product(const Modulus &m) {
        return avx512::barrettConstants(m.getPrime(), m.getBarrettRatio(),
                                        static_cast<unsigned>((m.getPrimeLog() - 1) & 63));
    }
    QUELT_AVX512 static V multiply(V a, V b, const Product &c) { return avx512::barrett(a, b, c); }
    QUELT_AVX512 static Shoup shoupConstant(const Modulus &m, u64 w, u64 wc) {
        return {avx512::shoupConstant(set1(w), set1(wc)), set1(m.getPrime())};
    }
    QUELT_AVX512 static V shoup(V x, const Shoup &c) { return avx512::shoup(x, c.c, c.p); }

    // Each lane keeps an exact 128-bit sum of its products and folds it (to
    // below 4p) before another product could carry it past 2^128; the eight
    // folded lanes are summed and reduced as the scalar kernel reduces its
    // sum. The residue is the scalar one.
    QUELT_AVX512 static void innerProduct(const Modulus &m, const u64 *a, const u64 *b, u64 *out,
                                          u64 n) {
        const kk::FoldConstants scalar = kk::FoldConstants::of(m);
        const avx512::FoldConstants f = avx512::foldConstantsOf(scalar);
        const u64 p = m.getPrime();
        const u64 terms = kk::termsPerFold(static_cast<u128>(p) * p);
        V hi = avx512::zero(), lo = avx512::zero();
        u64 pending = 0;
        forEachVector(n, [&](u64 i, Mask k) QUELT_AVX512 {
            if (pending == terms) {
                lo = avx512::fold(hi, lo, f);
                hi = avx512::zero();
                pending = 0;
            }
            const V x = load(a + i, k), y = load(b + i, k);
            V h, l;
            avx512::mulWide(x, _mm512_srli_epi64(x, 32), y, _mm512_srli_epi64(y, 32), h, l);
            avx512::add128(hi, lo, h, l);
            ++pending;
        });
        *out = avx512::reduceLanes(avx512::fold(hi, lo, f), scalar);
    }
};

constexpr Kernels kAvx512Kernels = VectorKernels<Arith64>::table();

} // namespace

const Kernels *select(u64 p) {
    switch (simd::activePath()) {
    case simd::Path::Ifma:
        return p < simd::kIfmaPrimeLimit ? &kIfmaKernels : &kAvx512Kernels;
    case simd::Path::Avx512:
        return &kAvx512Kernels;
    default:
        return nullptr;
    }
}

#else

const Kernels *select(u64) { return nullptr; }

#endif

} // namespace Quelt::modulus_vector
