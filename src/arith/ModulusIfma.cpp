// IFMA element-wise kernels of Modulus for primes below 2^50: residues fit
// the 52-bit multiplier, so the Barrett product (fully reduced, hence the
// scalar word) and the exact Shoup product (see avx512::shoup52) are built
// from 52-bit multiply-adds.

#include "arith/Avx512Arith.hpp"

#define QUELT_VECTOR_TARGET QUELT_IFMA
#include "arith/ModulusVectorKernels.hpp"

#if defined(__x86_64__)

namespace Quelt::modulus_vector {

namespace {

namespace kk = keyswitch_kernels;

struct Arith52 {
    using Product = avx512::BarrettConstants52;
    struct Shoup {
        avx512::ShoupConstant52 c52;
        avx512::ShoupConstant c64;
        V p, neg_p, mask52;
    };

    QUELT_IFMA static Product product(const Modulus &m) {
        return avx512::barrettConstants52(m.getPrime(), m.getBarrettRatio(),
                                          static_cast<unsigned>((m.getPrimeLog() - 1) & 63));
    }
    QUELT_IFMA static V multiply(V a, V b, const Product &c) { return avx512::barrett52(a, b, c); }
    QUELT_IFMA static Shoup shoupConstant(const Modulus &m, u64 w, u64 wc) {
        const u64 p = m.getPrime();
        const V wv = set1(w), wcv = set1(wc);
        return {avx512::shoupConstant52(wv, wcv), avx512::shoupConstant(wv, wcv), set1(p),
                set1((u64{1} << 52) - p), set1((u64{1} << 52) - 1)};
    }
    // Any word: vectors with a lane of 2^52 or more take the 64-bit product.
    QUELT_IFMA static V shoup(V x, const Shoup &c) {
        if (_mm512_test_epi64_mask(x, _mm512_andnot_si512(c.mask52, set1(~u64{0}))) == 0)
            return avx512::shoup52(x, c.c52, c.neg_p, c.mask52);
        return avx512::shoup(x, c.c64, c.p);
    }

    // Column sums of the 52-bit halves of the products: each lane adds 2^11
    // products (below 2^52 each) before its columns are folded back into
    // one word below 4p, so nothing passes 2^64. The eight folded lanes are
    // summed and reduced as the scalar kernel reduces its sum.
    QUELT_IFMA static void innerProduct(const Modulus &m, const u64 *a, const u64 *b, u64 *out,
                                        u64 n) {
        const kk::FoldConstants scalar = kk::FoldConstants::of(m);
        const avx512::FoldConstants f = avx512::foldConstantsOf(scalar);
        constexpr u64 kTerms = u64{1} << 11;
        avx512::Columns sum = avx512::zeroColumns();
        u64 pending = 0;
        auto folded = [&]() QUELT_IFMA {
            V hi, lo;
            avx512::joinColumns(sum, hi, lo);
            return avx512::fold(hi, lo, f);
        };
        forEachVector(n, [&](u64 i, Mask k) QUELT_IFMA {
            if (pending == kTerms) {
                sum = avx512::columnsOf(folded());
                pending = 0;
            }
            const V x = load(a + i, k), y = load(b + i, k);
            avx512::addProduct<false, false>(sum, x, x, y, y);
            ++pending;
        });
        *out = avx512::reduceLanes(folded(), scalar);
    }
};

} // namespace

extern const Kernels kIfmaKernels;
constexpr Kernels kIfmaKernels = VectorKernels<Arith52>::table();

} // namespace Quelt::modulus_vector

#endif
