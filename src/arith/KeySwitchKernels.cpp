#include "arith/KeySwitchKernels.hpp"

#include "arith/KeySwitchKernelsVector.hpp"

namespace Quelt::keyswitch_kernels {

namespace {

constexpr u128 kMax128 = ~u128{0};

// The source count known at compile time lets the compiler keep the source
// pointers in registers and unroll the sums.
template <int M>
void convertOne(const std::int64_t *const *sources, const ConversionTarget &t, u64 offset, u64 n) {
    const std::int64_t *source[M];
    std::int64_t factor[M];
    for (int m = 0; m < M; ++m) {
        source[m] = sources[m] + offset;
        factor[m] = t.factors[m];
    }
    u64 *out = t.out + offset;
    for (u64 c = 0; c < n; ++c) {
        i128 acc = 0;
        for (int m = 0; m < M; ++m)
            acc += static_cast<i128>(source[m][c]) * factor[m];
        out[c] = fold(static_cast<u128>(acc) + t.bias, t.fold);
    }
}

// T targets at once: every source word loaded serves all of them, and the T
// independent sums keep the multiplier busy.
template <int M, int T>
void convertMany(const std::int64_t *const *sources, const ConversionTarget *targets, u64 offset,
                 u64 n) {
    const std::int64_t *source[M];
    std::int64_t factor[T][M];
    u64 *out[T];
    for (int m = 0; m < M; ++m)
        source[m] = sources[m] + offset;
    for (int t = 0; t < T; ++t) {
        for (int m = 0; m < M; ++m)
            factor[t][m] = targets[t].factors[m];
        out[t] = targets[t].out + offset;
    }
    for (u64 c = 0; c < n; ++c) {
        i128 acc[T] = {};
        for (int m = 0; m < M; ++m) {
            const std::int64_t x = source[m][c];
            for (int t = 0; t < T; ++t)
                acc[t] += static_cast<i128>(x) * factor[t][m];
        }
        for (int t = 0; t < T; ++t)
            out[t][c] = fold(static_cast<u128>(acc[t]) + targets[t].bias, targets[t].fold);
    }
}

// Any count: the accumulator is folded (through the bias, so it restarts
// non-negative) whenever terms_per_fold products have been added.
void convertGeneric(const std::int64_t *const *sources, u64 count, const ConversionTarget &t,
                    u64 terms_per_fold, u64 offset, u64 n) {
    for (u64 c = offset; c < offset + n; ++c) {
        i128 acc = 0;
        u64 pending = 0;
        for (u64 m = 0; m < count; ++m) {
            if (pending == terms_per_fold) {
                acc = static_cast<i128>(fold(static_cast<u128>(acc) + t.bias, t.fold));
                pending = 0;
            }
            acc += static_cast<i128>(sources[m][c]) * t.factors[m];
            ++pending;
        }
        t.out[c] = fold(static_cast<u128>(acc) + t.bias, t.fold);
    }
}

template <int M>
void convertFixed(const std::int64_t *const *sources, const ConversionTarget *targets,
                  u64 num_targets, u64 offset, u64 n) {
    u64 t = 0;
    for (; t + 4 <= num_targets; t += 4)
        convertMany<M, 4>(sources, targets + t, offset, n);
    for (; t + 2 <= num_targets; t += 2)
        convertMany<M, 2>(sources, targets + t, offset, n);
    if (t < num_targets)
        convertOne<M>(sources, targets[t], offset, n);
}

inline u64 reduceFully(u128 acc, const FoldConstants &f) { return word::reduceWide(acc, f); }

// The sums start from the outputs' words with Accumulate, else from 0.
template <int M, bool Accumulate>
void innerProductFixed(const u64 *const *a, const u64 *const *b, const u64 *const *cc,
                       const FoldConstants &f, u64 *out1, u64 *out2, u64 n) {
    const u64 *pa[M], *pb[M], *pc[M];
    for (int k = 0; k < M; ++k) {
        pa[k] = a[k];
        pb[k] = b[k];
        pc[k] = cc[k];
    }
    for (u64 i = 0; i < n; ++i) {
        u128 acc1 = Accumulate ? out1[i] : 0, acc2 = Accumulate ? out2[i] : 0;
        for (int k = 0; k < M; ++k) {
            const u64 x = pa[k][i];
            acc1 += static_cast<u128>(x) * pb[k][i];
            acc2 += static_cast<u128>(x) * pc[k][i];
        }
        out1[i] = reduceFully(acc1, f);
        out2[i] = reduceFully(acc2, f);
    }
}

void innerProductGeneric(const u64 *const *a, const u64 *const *b, const u64 *const *cc, u64 count,
                         u64 terms_per_fold, const FoldConstants &f, u64 *out1, u64 *out2, u64 n,
                         bool accumulate) {
    for (u64 i = 0; i < n; ++i) {
        u128 acc1 = accumulate ? out1[i] : 0, acc2 = accumulate ? out2[i] : 0;
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
        s[c] = word::liftCentred(s[c], half, 0 - q);
}

u128 foldBias(u64 p) {
    const u128 top = u128{1} << 127;
    return top - top % p - (top % p == 0 ? p : 0);
}

void convertBlock(const std::int64_t *const *sources, u64 count, u64 source_bound,
                  const ConversionTarget *targets, u64 num_targets, u64 terms_per_fold, u64 offset,
                  u64 n) {
    if (count <= terms_per_fold) {
        if (const auto *v = vector::select())
            return v->convertBlock(sources, count, source_bound, targets, num_targets, offset, n);
        switch (count) {
        case 1:
            return convertFixed<1>(sources, targets, num_targets, offset, n);
        case 2:
            return convertFixed<2>(sources, targets, num_targets, offset, n);
        case 3:
            return convertFixed<3>(sources, targets, num_targets, offset, n);
        case 4:
            return convertFixed<4>(sources, targets, num_targets, offset, n);
        case 5:
            return convertFixed<5>(sources, targets, num_targets, offset, n);
        case 6:
            return convertFixed<6>(sources, targets, num_targets, offset, n);
        case 7:
            return convertFixed<7>(sources, targets, num_targets, offset, n);
        case 8:
            return convertFixed<8>(sources, targets, num_targets, offset, n);
        default:
            break;
        }
    }
    for (u64 t = 0; t < num_targets; ++t)
        convertGeneric(sources, count, targets[t], terms_per_fold, offset, n);
}

void permuteWords(const u64 *in, const std::uint32_t *permutation, u64 *out, u64 n) {
    if (const auto *v = vector::select())
        return v->permuteWords(in, permutation, out, n);
    for (u64 w = 0; w < n; ++w)
        out[w] = in[permutation[w]];
}

namespace {
template <bool Accumulate>
void innerProductTwoFrom(const u64 *const *a, const u64 *const *b, const u64 *const *c, u64 count,
                         u64 terms_per_fold, const FoldConstants &f, u64 *out1, u64 *out2, u64 n) {
    if (count <= terms_per_fold) {
        switch (count) {
        case 1:
            return innerProductFixed<1, Accumulate>(a, b, c, f, out1, out2, n);
        case 2:
            return innerProductFixed<2, Accumulate>(a, b, c, f, out1, out2, n);
        case 3:
            return innerProductFixed<3, Accumulate>(a, b, c, f, out1, out2, n);
        case 4:
            return innerProductFixed<4, Accumulate>(a, b, c, f, out1, out2, n);
        case 5:
            return innerProductFixed<5, Accumulate>(a, b, c, f, out1, out2, n);
        case 6:
            return innerProductFixed<6, Accumulate>(a, b, c, f, out1, out2, n);
        case 7:
            return innerProductFixed<7, Accumulate>(a, b, c, f, out1, out2, n);
        case 8:
            return innerProductFixed<8, Accumulate>(a, b, c, f, out1, out2, n);
        default:
            break;
        }
    }
    innerProductGeneric(a, b, c, count, terms_per_fold, f, out1, out2, n, Accumulate);
}
} // namespace

void innerProductTwo(const u64 *const *a, const u64 *const *b, const u64 *const *c, u64 count,
                     u64 terms_per_fold, const FoldConstants &f, u64 *out1, u64 *out2, u64 n,
                     bool accumulate) {
    if (const auto *v = vector::select())
        return v->innerProductTwo(a, b, c, count, terms_per_fold, f, out1, out2, n, accumulate);
    if (accumulate)
        innerProductTwoFrom<true>(a, b, c, count, terms_per_fold, f, out1, out2, n);
    else
        innerProductTwoFrom<false>(a, b, c, count, terms_per_fold, f, out1, out2, n);
}

} // namespace Quelt::keyswitch_kernels
