#include "arith/KeySwitchKernels.hpp"

namespace Quelt::keyswitch_kernels {

namespace {

constexpr u128 kMax128 = ~u128{0};

using i128 = __int128;

// The term count known at compile time lets the compiler keep the source
// pointers and factors in registers and unroll the sum.
template <int M>
void convertFixed(const ConversionTerm *terms, const FoldConstants &f, u128 bias, u64 *out,
                  u64 n) {
    const std::int64_t *source[M];
    std::int64_t factor[M];
    for (int m = 0; m < M; ++m) {
        source[m] = terms[m].source;
        factor[m] = terms[m].factor;
    }
    for (u64 c = 0; c < n; ++c) {
        i128 acc = 0;
        for (int m = 0; m < M; ++m)
            acc += static_cast<i128>(source[m][c]) * factor[m];
        out[c] = fold(static_cast<u128>(acc) + bias, f);
    }
}

void convertGeneric(const ConversionTerm *terms, u64 count, u64 terms_per_fold,
                    const FoldConstants &f, u128 bias, u64 *out, u64 n) {
    for (u64 c = 0; c < n; ++c) {
        i128 acc = 0;
        u64 pending = 0;
        for (u64 m = 0; m < count; ++m) {
            if (pending == terms_per_fold) {
                acc = static_cast<i128>(fold(static_cast<u128>(acc) + bias, f));
                pending = 0;
            }
            acc += static_cast<i128>(terms[m].source[c]) * terms[m].factor;
            ++pending;
        }
        out[c] = fold(static_cast<u128>(acc) + bias, f);
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

namespace {
u64 termsWithin(u128 room, u128 product_bound) {
    if (product_bound == 0)
        return ~u64{0};
    const u128 terms = room / product_bound;
    if (terms == 0)
        return 1;
    return terms > ~u64{0} ? ~u64{0} : static_cast<u64>(terms);
}
} // namespace

// An accumulator may start from a folded value below 2^64.
u64 termsPerFold(u128 product_bound) { return termsWithin(kMax128 - ~u64{0}, product_bound); }

// Signed sums must also stay below 2^127 - p in magnitude for the bias.
u64 signedTermsPerFold(u128 product_bound) {
    return termsWithin((kMax128 >> 2) - ~u64{0}, product_bound);
}

void centredLift(u64 *s, u64 q, u64 n) {
    const u64 half = q / 2;
    for (u64 c = 0; c < n; ++c)
        s[c] -= q & (0 - static_cast<u64>(s[c] > half));
}

u128 foldBias(u64 p) {
    const u128 top = u128{1} << 127;
    return top - top % p - (top % p == 0 ? p : 0);
}

void convertBlock(const ConversionTerm *terms, u64 count, u64 terms_per_fold,
                  const FoldConstants &f, u128 bias, u64 *out, u64 n) {
    if (count <= terms_per_fold) {
        switch (count) {
        case 1: return convertFixed<1>(terms, f, bias, out, n);
        case 2: return convertFixed<2>(terms, f, bias, out, n);
        case 3: return convertFixed<3>(terms, f, bias, out, n);
        case 4: return convertFixed<4>(terms, f, bias, out, n);
        case 5: return convertFixed<5>(terms, f, bias, out, n);
        case 6: return convertFixed<6>(terms, f, bias, out, n);
        case 7: return convertFixed<7>(terms, f, bias, out, n);
        case 8: return convertFixed<8>(terms, f, bias, out, n);
        default: break;
        }
    }
    convertGeneric(terms, count, terms_per_fold, f, bias, out, n);
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
