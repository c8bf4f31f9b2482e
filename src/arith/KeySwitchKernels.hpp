#pragma once

// Limb kernels of key switching that accumulate products lazily in 128 bits
// and reduce once per output word: base conversion (the centred lift of a few
// source limbs times per-pair constants, summed into one target limb) and the
// two-output inner product of key switching.
//
// Residues are below 2^62, so a product of two residues stays below 2^124
// and a product of a centred lift by a residue below 2^123 in magnitude;
// every kernel takes the number of products it may add before folding the
// accumulator (`terms_per_fold`, at least 1) from the caller, which derives
// it from the actual prime sizes.

#include "arith/Modulus.hpp"

#include <cstdint>

namespace Quelt::keyswitch_kernels {

// The fold constants of one prime (word::fold), taken from its Modulus.
struct FoldConstants : word::FoldConstants {
    static FoldConstants of(const Modulus &modulus) { return {modulus.getFoldConstants()}; }
};

using word::fold;
using word::reduceOnce;

// Number of products below `product_bound` that can be added to a value below
// 2^64 without leaving 128 bits (at least 1).
u64 termsPerFold(u128 product_bound);
// Number of signed products of magnitude below `product_bound` whose sum,
// started from a value of magnitude below 2^64, stays below 2^126 in
// magnitude (at least 1): room for foldBias.
u64 signedTermsPerFold(u128 product_bound);

// Centred lift of residues modulo q, in place: s[c] > floor(q / 2) becomes
// the signed word s[c] - q. Values stay below 2^61 in magnitude.
void centredLift(u64 *s, u64 q, u64 n);

// A multiple of p in [2^127 - p, 2^127): added to a signed accumulator of
// magnitude below 2^127 - p it gives a non-negative 128-bit value congruent
// to the accumulator.
u128 foldBias(u64 p);

// One target limb of a base conversion: the factor of every source (below
// the target prime, below 2^62), the target's fold constants and
// foldBias(p), and the limb written.
struct ConversionTarget {
    const std::int64_t *factors;
    FoldConstants fold;
    u128 bias;
    u64 *out;
};

// For every target t and offset <= c < offset + n:
// t.out[c] = sum_m sources[m][c] t.factors[m], as a value in [0, 4p) (a
// valid input of the forward transform). The sources hold centred residues
// (centredLift), every one below source_bound in magnitude (half the largest
// source prime plus one serves; the bound only picks the fastest vector form,
// never the words). count >= 1; targets are converted several at a time so
// that every source word loaded serves all of them.
void convertBlock(const std::int64_t *const *sources, u64 count, u64 source_bound,
                  const ConversionTarget *targets, u64 num_targets, u64 terms_per_fold, u64 offset,
                  u64 n);

// Over n words: out1[c] = sum_k a[k][c] b[k][c] and out2[c] = sum_k a[k][c]
// c[k][c] modulo p, each below p; with `accumulate` the words out1[c] and
// out2[c] held before (below p) are added to their sums. Every word of a
// term is read before the outputs of that position are written, so outputs
// may alias the terms position for position. count >= 1; inputs below p.
void innerProductTwo(const u64 *const *a, const u64 *const *b, const u64 *const *c, u64 count,
                     u64 terms_per_fold, const FoldConstants &f, u64 *out1, u64 *out2, u64 n,
                     bool accumulate);

// out[w] = in[permutation[w]] for w < n, in and out of n words each, apart:
// a limb read through the word order of an automorphism. Every
// permutation[w] is below n. The vector paths move eight words at once where
// they come from one aligned block of eight (as they do for the automorphisms
// in NTT order), word by word elsewhere.
void permuteWords(const u64 *in, const std::uint32_t *permutation, u64 *out, u64 n);

} // namespace Quelt::keyswitch_kernels
