#pragma once

// Word arithmetic modulo a prime below 2^62: the one home of the high
// product, the Shoup and Barrett products, the conditional subtractions, the
// 128-bit fold, the word reductions and the centred lift. Modulus, the
// transform and key-switching kernels, base conversion and the samplers call
// these; the vector paths mirror them lane for lane and must give the same
// words.
//
// Every function is branch-free where the comment says so: the element loops
// that call them then vectorise two words at a time even on plain SSE2.

#include <cstdint>

namespace Quelt {

// The one spelling of the machine words inside the library; public
// signatures keep std::uint64_t.
using u64 = std::uint64_t;
using u128 = unsigned __int128;
using i128 = __int128;

namespace word {

// floor(a b / 2^64).
inline u64 mulHigh(u64 a, u64 b) { return static_cast<u64>((static_cast<u128>(a) * b) >> 64); }

// x - bound when x >= bound, else x, valid for bound <= 2^63 and
// x < bound + 2^63 (every use has x < 4p with p < 2^62): the sign bit of
// x - bound decides. Branch-free.
inline u64 reduceOnce(u64 x, u64 bound) {
    const u64 y = x - bound;
    return y + (bound & (0 - (y >> 63)));
}

// v + p when v, read as a signed word, is negative (v in (-p, 0) gives its
// residue), else v. Branch-free.
inline u64 addIfNegative(u64 v, u64 p) { return v + (p & (0 - (v >> 63))); }

// x - y mod p for x, y < p: the difference, plus p when it went negative.
inline u64 subtractMod(u64 x, u64 y, u64 p) { return addIfNegative(x - y, p); }

// -x mod p for x < p: 0 stays 0, anything else becomes p - x.
inline u64 negateMod(u64 x, u64 p) { return reduceOnce(p - x, p); }

// floor(w 2^64 / p) for w < p: the Shoup companion of w, by a division
// (Modulus::shoupCompanion computes it without one).
inline u64 shoupCompanion(u64 w, u64 p) {
    return static_cast<u64>((static_cast<u128>(w) << 64) / p);
}

// Shoup product x w mod p for any word x and a constant w < p with companion
// wc = floor(w 2^64 / p): congruent to x w and in [0, 2p).
inline u64 shoup(u64 x, u64 w, u64 wc, u64 p) { return x * w - mulHigh(x, wc) * p; }

// The Shoup product reduced below p.
inline u64 shoupReduced(u64 x, u64 w, u64 wc, u64 p) { return reduceOnce(shoup(x, w, wc, p), p); }

// Barrett product a b mod p for a, b < p, below p, with shift = k - 1 masked
// to [0, 64) and ratio = floor(2^(63 + k) / p), k = floor(log2 p).
inline u64 barrett(u64 a, u64 b, unsigned shift, u64 ratio, u64 p) {
    const u128 ab = static_cast<u128>(a) * b;
    // shift < 64, so the top word is one double-word shift (shrd) of the
    // two halves; spelled out so the compiler does not emit the generic
    // 128-bit shift.
    const u64 hi = static_cast<u64>(ab >> 64);
    const u64 lo = static_cast<u64>(ab);
    const u64 x = ((hi << 1) << (63 - shift)) | (lo >> shift);
    const u64 q = mulHigh(x, ratio);
    // ab - q p, exact modulo 2^64 because the true difference is below 3p.
    const u64 r = static_cast<u64>(ab) - q * p;
    // The quotient estimate can be two too small for primes between about
    // 0.8 * 2^62 and 2^62, hence the second subtraction; for smaller primes
    // it never fires.
    return reduceOnce(reduceOnce(r, p), p);
}

// Constants of the folding reduction of a 128-bit value modulo p < 2^62.
struct FoldConstants {
    u64 prime;
    u64 word_quotient;          // floor(2^64 / p)
    u64 word_residue;           // 2^64 mod p
    u64 word_residue_companion; // floor((2^64 mod p) 2^64 / p)
};

// l + 2^64 h folded to a value in [0, 4p) congruent to it modulo p: l less
// p floor(l wq / 2^64) lies in [0, 2p), and so does the Shoup product of h by
// 2^64 mod p. No division, no branch.
inline u64 fold(u64 h, u64 l, const FoldConstants &f) {
    return l + f.word_residue * h -
           f.prime * (mulHigh(l, f.word_quotient) + mulHigh(h, f.word_residue_companion));
}

inline u64 fold(u128 x, const FoldConstants &f) {
    return fold(static_cast<u64>(x >> 64), static_cast<u64>(x), f);
}

// A 128-bit value reduced below p: the fold, then two conditional
// subtractions.
inline u64 reduceWide(u128 x, const FoldConstants &f) {
    return reduceOnce(reduceOnce(fold(x, f), 2 * f.prime), f.prime);
}

// x mod p for any word x, from quotient = floor(2^64 / p) exactly and
// p <= 2^62: the estimate is at most one short. Branch-free.
inline u64 reduceWordExact(u64 x, u64 p, u64 quotient) {
    return reduceOnce(x - p * mulHigh(x, quotient), p);
}

// floor(2^64 / q) for every q > 1 that is not a power of two (odd primes in
// particular); one below it for powers of two. reduceWord is exact for both.
inline u64 wordQuotient(u64 q) { return ~u64{0} / q; }

// x mod q for any word x and any q >= 1, from ratio = wordQuotient(q). The
// quotient estimate floor(x ratio / 2^64) is at most two below floor(x / q)
// (one for a ratio equal to floor(2^64 / q)), so the loop runs at most twice.
inline u64 reduceWord(u64 x, u64 q, u64 ratio) {
    u64 r = x - mulHigh(x, ratio) * q;
    while (r >= q)
        r -= q;
    return r;
}

// The residue of a signed 64-bit integer modulo q in [0, q): a negative value
// -a becomes q - (a mod q), or 0 when q divides a. The magnitude of INT64_MIN
// is taken as 2^63.
inline u64 signedResidue(std::int64_t value, u64 q, u64 ratio) {
    if (value >= 0)
        return reduceWord(static_cast<u64>(value), q, ratio);
    const u64 magnitude = u64{0} - static_cast<u64>(value);
    const u64 r = reduceWord(magnitude, q, ratio);
    return r == 0 ? 0 : q - r;
}

// Centred lift: v + d when v > half, else v, for v and half below 2^63. With
// half = floor(q / 2) and d = -q (as a word) it maps a residue modulo q to
// the signed word of least magnitude; other d move it to another modulus.
// The sign bit of half - v decides, without a compare that SSE2 lacks for
// 64-bit lanes.
inline u64 liftCentred(u64 v, u64 half, u64 d) { return v + (d & (0 - ((half - v) >> 63))); }

// True when the n words at a are all 0 (n = 0 gives true).
inline bool allZero(const u64 *a, u64 n) {
    u64 any = 0;
    for (u64 i = 0; i < n; ++i)
        any |= a[i];
    return any == 0;
}

} // namespace word

} // namespace Quelt
