#include "arith/KeySwitchKernels.hpp"

namespace Quelt::keyswitch_kernels {

namespace {

constexpr u128 kMax128 = ~u128{0};

inline u64 lift(u64 s, u64 half, u64 correction) {
    return s + (correction & (0 - static_cast<u64>(s > half)));
}

// The term count known at compile time lets the compiler keep the source
// pointers and constants in registers and unroll the sum.
template <int M>
void convertFixed(const ConversionTerm *terms, const FoldConstants &f, u64 *out, u64 n) {
    const u64 *source[M];
    u64 half[M], correction[M], factor[M];
    for (int m = 0; m < M; ++m) {
        source[m] = terms[m].source;
        half[m] = terms[m].half;
        correction[m] = terms[m].correction;
        factor[m] = terms[m].factor;
    }
    for (u64 c = 0; c < n; ++c) {
        u128 acc = 0;
        for (int m = 0; m < M; ++m)
            acc += static_cast<u128>(lift(source[m][c], half[m], correction[m])) * factor[m];
        out[c] = fold(acc, f);
    }
}

void convertGeneric(const ConversionTerm *terms, u64 count, u64 terms_per_fold,
                    const FoldConstants &f, u64 *out, u64 n) {
    for (u64 c = 0; c < n; ++c) {
        u128 acc = 0;
        u64 pending = 0;
        for (u64 m = 0; m < count; ++m) {
            if (pending == terms_per_fold) {
                acc = fold(acc, f);
                pending = 0;
            }
            const ConversionTerm &t = terms[m];
            acc += static_cast<u128>(lift(t.source[c], t.half, t.correction)) * t.factor;
            ++pending;
        }
        out[c] = fold(acc, f);
    }
}

inline u64 reduceFully(u128 acc, const FoldConstants &f) {
    return reduceOnce(reduceOnce(fold(acc, f), 2 * f.prime), f.prime);
}

template <int M>
void innerProductFixed(const u64 *const *a, const u64 *const *b, const u64 *const *cc,
                       const FoldConstants &f, u64 *out1, u64 *out2, u64 n) {
    const u64 *pa[M], *pb[M], *pc[M];
    for (int k = 0; k < M; ++k) {
        pa[k] = a[k];
        pb[k] = b[k];
        pc[k] = cc[k];
    }
    for (u64 i = 0; i < n; ++i) {
        u128 acc1 = 0, acc2 = 0;
        for (int k = 0; k < M; ++k) {
            const u64 x = pa[k][i];
            acc1 += static_cast<u128>(x) * pb[k][i];
            acc2 += static_cast<u128>(x) * pc[k][i];
        }
        out1[i] = reduceFully(acc1, f);
        out2[i] = reduceFully(acc2, f);
    }
}

void innerProductGeneric(const u64 *const *a, const u64 *const *b, const u64 *const *cc,
                         u64 count, u64 terms_per_fold, const FoldConstants &f, u64 *out1,
                         u64 *out2, u64 n) {
    for (u64 i = 0; i < n; ++i) {
        u128 acc1 = 0, acc2 = 0;
        u64 pending = 0;
        for (u64 k = 0; k < count; ++k) {
            if (pending == terms_per_fold) {
                acc1 = fold(acc1, f);
                acc2 = fold(acc2, f);
                pending = 0;
            }
            const u64 x = a[k][i];
            acc1 += static_cast<u128>(x) * b[k][i];
            acc2 += static_cast<u128>(x) * cc[k][i];
            ++pending;
        }
        out1[i] = reduceFully(acc1, f);
        out2[i] = reduceFully(acc2, f);
    }
}

} // namespace

u64 termsPerFold(u128 product_bound) {
    if (product_bound == 0)
        return ~u64{0};
    // The accumulator may start from a folded value below 2^64.
    const u128 room = kMax128 - ~u64{0};
    const u128 terms = room / product_bound;
    if (terms == 0)
        return 1;
    return terms > ~u64{0} ? ~u64{0} : static_cast<u64>(terms);
}

void convertBlock(const ConversionTerm *terms, u64 count, u64 terms_per_fold,
                  const FoldConstants &f, u64 *out, u64 n) {
    if (count <= terms_per_fold) {
        switch (count) {
        case 1: return convertFixed<1>(terms, f, out, n);
        case 2: return convertFixed<2>(terms, f, out, n);
        case 3: return convertFixed<3>(terms, f, out, n);
        case 4: return convertFixed<4>(terms, f, out, n);
        case 5: return convertFixed<5>(terms, f, out, n);
        case 6: return convertFixed<6>(terms, f, out, n);
        case 7: return convertFixed<7>(terms, f, out, n);
        case 8: return convertFixed<8>(terms, f, out, n);
        default: break;
        }
    }
    convertGeneric(terms, count, terms_per_fold, f, out, n);
}

void innerProductTwo(const u64 *const *a, const u64 *const *b, const u64 *const *c, u64 count,
                     u64 terms_per_fold, const FoldConstants &f, u64 *out1, u64 *out2, u64 n) {
    if (count <= terms_per_fold) {
        switch (count) {
        case 1: return innerProductFixed<1>(a, b, c, f, out1, out2, n);
        case 2: return innerProductFixed<2>(a, b, c, f, out1, out2, n);
        case 3: return innerProductFixed<3>(a, b, c, f, out1, out2, n);
        case 4: return innerProductFixed<4>(a, b, c, f, out1, out2, n);
        case 5: return innerProductFixed<5>(a, b, c, f, out1, out2, n);
        case 6: return innerProductFixed<6>(a, b, c, f, out1, out2, n);
        case 7: return innerProductFixed<7>(a, b, c, f, out1, out2, n);
        case 8: return innerProductFixed<8>(a, b, c, f, out1, out2, n);
        default: break;
        }
    }
    innerProductGeneric(a, b, c, count, terms_per_fold, f, out1, out2, n);
}

} // namespace Quelt::keyswitch_kernels
