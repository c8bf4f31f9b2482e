#include "arith/Modulus.hpp"

#include "arith/ModulusVector.hpp"
#include "arith/NTT.hpp"

#include "Quelt/Exception.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

// Every loop below copies the constants it needs into locals first: the
// output pointers are plain u64*, so the compiler could otherwise assume
// that a store may change a member and reload it on every iteration, which
// also blocks vectorisation.

namespace Quelt {

namespace {

using word::barrett;
using word::liftCentred;
using word::mulHigh;
using word::reduceOnce;
using word::reduceWordExact;
using word::subtractMod;

constexpr const char *kPrimeOutOfRange = "[Modulus] The prime must be at least 2 and below 2^62";
constexpr const char *kNotSupportedNttType = "[Modulus] Not supported NTT type";
constexpr const char *kDegreeNotPowerOfTwo = "[NTT] degree must be a power of two.";
constexpr const char *kMonomialOutOfRange =
    "[Modulus] multMonomial: the exponent must lie in [-n, n]";
constexpr const char *kMonomialOverlap =
    "[Modulus] multMonomial: the input and output limbs must not overlap";
constexpr const char *kConjugateShiftOutOfRange =
    "[Modulus] conjugateInvert: the shift must be below the limb length";
constexpr const char *kConjugateOverlap =
    "[Modulus] conjugateInvert: the input and output limbs must not overlap";
constexpr const char *kMakeIntegerOutOfRange =
    "[Modulus] makeInteger: the scaled value must be finite and below 2^128";

constexpr u64 kPrimeLimit = u64{1} << 62;

bool overlaps(const u64 *a, const u64 *b, u64 n) {
    const auto x = reinterpret_cast<std::uintptr_t>(a);
    const auto y = reinterpret_cast<std::uintptr_t>(b);
    const std::uintptr_t bytes = static_cast<std::uintptr_t>(n) * sizeof(u64);
    return n != 0 && x < y + bytes && y < x + bytes;
}

} // namespace

Modulus::Modulus(std::uint64_t N, std::uint64_t p, NttType type) {
    if (p < 2 || p >= kPrimeLimit)
        throw RuntimeException(kPrimeOutOfRange);
    const bool has_transform = type == NttType::NEGACYCLIC ||
                               type == NttType::NEGACYCLIC_SQUARE_4N ||
                               type == NttType::CONJUGATE_INVARIANT;
    if (!has_transform && type != NttType::NONE)
        throw RuntimeException(kNotSupportedNttType);
    // The transform's test p mod 2N would divide by zero.
    if (has_transform && N == 0)
        throw RuntimeException(kDegreeNotPowerOfTwo);

    const u64 k = static_cast<u64>(std::bit_width(p)) - 1;
    prime_ = p;
    twice_prime_ = 2 * p;
    prime_log_ = k;
    barrett_ratio_ = static_cast<u64>((u128{1} << (63 + k)) / p);
    degree_ = N;
    word_quotient_ = static_cast<u64>((u128{1} << 64) / p);
    // 2^64 = 4^32: square 4 mod p five times.
    u64 r = 4 % p;
    for (int i = 0; i < 5; ++i)
        r = static_cast<u64>(static_cast<u128>(r) * r % p);
    word_residue_ = r;
    word_residue_companion_ = static_cast<u64>((static_cast<u128>(r) << 64) / p);
    ntt_type_ = type;
    if (has_transform)
        ntt_ = std::make_shared<NTT>(N, p, type);
}

std::uint64_t Modulus::shoupCompanion(std::uint64_t w) const {
    // w 2^64 = w (p floor(2^64/p) + R), so floor(w 2^64 / p) is
    // w floor(2^64/p) + floor(w R / p); the Shoup product of w by R leaves
    // w R - p floor(w Rc / 2^64) in [0, 2p), which settles the last quotient.
    const u64 p = prime_;
    const u64 t = mulHigh(w, word_residue_companion_);
    const u64 rest = w * word_residue_ - t * p;
    return w * word_quotient_ + t + (rest >= p ? 1 : 0);
}

void Modulus::constAdd(const std::uint64_t *in, std::uint64_t c, std::uint64_t *out,
                       std::uint64_t n) const {
    const u64 p = prime_;
    const u64 cr = reduceWord(c);
    for (u64 i = 0; i < n; ++i)
        out[i] = reduceOnce(in[i] + cr, p);
}

void Modulus::addVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                        std::uint64_t n) const {
    if (const auto *v = modulus_vector::select(prime_))
        return v->addVector(*this, out, a, b, n);
    const u64 p = prime_;
    for (u64 i = 0; i < n; ++i)
        out[i] = reduceOnce(a[i] + b[i], p);
}

void Modulus::subVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                        std::uint64_t n) const {
    if (const auto *v = modulus_vector::select(prime_))
        return v->subVector(*this, out, a, b, n);
    const u64 p = prime_;
    for (u64 i = 0; i < n; ++i)
        out[i] = subtractMod(a[i], b[i], p);
}

void Modulus::negateVector(std::uint64_t *out, const std::uint64_t *in, std::uint64_t n) const {
    const u64 p = prime_;
    for (u64 i = 0; i < n; ++i)
        out[i] = word::negateMod(in[i], p);
}

void Modulus::mulVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                        std::uint64_t n) const {
    if (const auto *v = modulus_vector::select(prime_))
        return v->mulVector(*this, out, a, b, n);
    const u64 p = prime_;
    const u64 ratio = barrett_ratio_;
    const unsigned shift = barrettShift();
    for (u64 i = 0; i < n; ++i)
        out[i] = barrett(a[i], b[i], shift, ratio, p);
}

void Modulus::mulVector(std::uint64_t *out1, std::uint64_t *out2, const std::uint64_t *a,
                        const std::uint64_t *b, const std::uint64_t *c) const {
    // Two passes: out1 is complete before out2 reads a and c.
    mulVector(out1, a, b, degree_);
    mulVector(out2, a, c, degree_);
}

void Modulus::mulAddVector(std::uint64_t *out, const std::uint64_t *a,
                           const std::uint64_t *b) const {
    // Position i reads only a[i], b[i] and out[i], so fusing the product and
    // the sum gives the same words as forming all products first.
    mulAddRow(out, a, b, degree_);
}

void Modulus::mulAddRow(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                        std::uint64_t n) const {
    if (const auto *v = modulus_vector::select(prime_))
        return v->mulAddVector(*this, out, a, b, n);
    const u64 p = prime_;
    const u64 ratio = barrett_ratio_;
    const unsigned shift = barrettShift();
    for (u64 i = 0; i < n; ++i)
        out[i] = reduceOnce(out[i] + barrett(a[i], b[i], shift, ratio, p), p);
}

void Modulus::mulAddVector(std::uint64_t *out1, std::uint64_t *out2, const std::uint64_t *a,
                           const std::uint64_t *b, const std::uint64_t *c) const {
    mulAddVector(out1, a, b);
    mulAddVector(out2, a, c);
}

void Modulus::tensorVector(std::uint64_t *d1, std::uint64_t *d2, std::uint64_t *d0,
                           const std::uint64_t *a0, const std::uint64_t *a1,
                           const std::uint64_t *b0, const std::uint64_t *b1) const {
    if (const auto *v = modulus_vector::select(prime_))
        return v->tensorVector(*this, d1, d2, d0, a0, a1, b0, b1, degree_);
    const u64 p = prime_;
    const u64 ratio = barrett_ratio_;
    const unsigned shift = barrettShift();
    const u64 n = degree_;
    for (u64 i = 0; i < n; ++i) {
        const u64 x0 = a0[i];
        const u64 x1 = a1[i];
        const u64 y0 = b0[i];
        const u64 y1 = b1[i];
        const u64 high = barrett(x1, y1, shift, ratio, p);
        const u64 low = barrett(x0, y0, shift, ratio, p);
        const u64 s = reduceOnce(x0 + x1, p);
        const u64 t = reduceOnce(y0 + y1, p);
        const u64 u = barrett(s, t, shift, ratio, p);
        d1[i] = subtractMod(subtractMod(u, high, p), low, p);
        d2[i] = high;
        d0[i] = low;
    }
}

void Modulus::innerProduct(const std::uint64_t *a, const std::uint64_t *b, std::uint64_t *out,
                           std::uint64_t n) const {
    if (const auto *v = modulus_vector::select(prime_))
        return v->innerProduct(*this, a, b, out, n);
    const word::FoldConstants f = getFoldConstants();
    // 128-bit accumulator: a low word and a count of its wrap-arounds.
    u64 low = 0;
    u64 carries = 0;
    for (u64 i = 0; i < n; ++i) {
        const u128 product = static_cast<u128>(a[i]) * b[i];
        const u64 r = word::fold(product, f);
        low += r;
        carries += low < r ? 1 : 0;
    }
    *out = word::reduceWide((static_cast<u128>(carries) << 64) | low, f);
}

bool Modulus::isZero(const std::uint64_t *a) const { return word::allZero(a, degree_); }

void Modulus::multMonomial(const std::uint64_t *in, std::uint64_t *out, std::uint64_t n,
                           std::int64_t k) const {
    const u64 magnitude = k < 0 ? u64{0} - static_cast<u64>(k) : static_cast<u64>(k);
    if (magnitude > n)
        throw RuntimeException(kMonomialOutOfRange);
    if (overlaps(in, out, n))
        throw RuntimeException(kMonomialOverlap);
    const u64 p = prime_;
    if (k >= 0) {
        for (u64 j = 0; j < n - magnitude; ++j)
            out[j + magnitude] = in[j];
        for (u64 j = 0; j < magnitude; ++j)
            out[j] = word::negateMod(in[n - magnitude + j], p);
    } else {
        for (u64 i = 0; i < magnitude; ++i)
            out[n - magnitude + i] = word::negateMod(in[i], p);
        for (u64 j = 0; j < n - magnitude; ++j)
            out[j] = in[j + magnitude];
    }
}

void Modulus::conjugateInvert(const std::uint64_t *in, std::uint64_t *out, std::uint64_t n,
                              std::uint64_t m) const {
    if (m >= n)
        throw RuntimeException(kConjugateShiftOutOfRange);
    if (overlaps(in, out, n))
        throw RuntimeException(kConjugateOverlap);
    const u64 p = prime_;
    for (u64 j = 0; j <= m; ++j)
        out[j] = in[m - j];
    for (u64 j = m + 1; j < n; ++j)
        out[j] = word::negateMod(in[n + m - j], p);
}

void Modulus::normalizeModVector(std::uint64_t *out, const std::uint64_t *in, std::uint64_t q,
                                 std::uint64_t n) const {
    const u64 p = prime_;
    const u64 half = q >> 1;
    // The vector kernels take the lift x = v + p - [q]_p (congruent to v - q
    // for v above q/2, below 2^63) to its residue by a Shoup product by 1 and
    // one subtraction: the exact residue, the scalar word in both branches.
    if (const auto *v = modulus_vector::select(p))
        return v->normalizeMod(*this, in, 1, shoupCompanion(1), half, p - reduceWord(q), out, n);
    if (half > p) {
        const u64 quotient = word_quotient_;
        const u64 d = p - reduceWord(q);
        for (u64 i = 0; i < n; ++i) {
            const u64 x = liftCentred(in[i], half, d);
            out[i] = reduceWordExact(x, p, quotient);
        }
    } else {
        // in[i] - q + p lies in [0, p) for in[i] above q/2. The final
        // subtraction only matters when q = 2p + 1 and in[i] = p, which
        // stands for +p and must come out as 0.
        const u64 d = p - q;
        for (u64 i = 0; i < n; ++i) {
            const u64 x = liftCentred(in[i], half, d);
            out[i] = reduceOnce(x, p);
        }
    }
}

template <int K>
void Modulus::constMult(const std::uint64_t *in, std::uint64_t c, std::uint64_t *out,
                        std::uint64_t n) const {
    static_assert(K == 1 || K == 2);
    const u64 p = prime_;
    const u64 w = reduceWord(c);
    const u64 wc = shoupCompanion(w);
    if (const auto *v = modulus_vector::select(p))
        return v->constMult[K - 1](*this, in, w, wc, out, n);
    for (u64 i = 0; i < n; ++i) {
        const u64 r = shoupProduct(in[i], w, wc, p);
        out[i] = K == 1 ? reduceOnce(r, p) : r;
    }
}

template <int K>
void Modulus::subAndConstMult(const std::uint64_t *a, const std::uint64_t *b, std::uint64_t c,
                              std::uint64_t *out, std::uint64_t n) const {
    static_assert(K == 1 || K == 2);
    const u64 p = prime_;
    const u64 w = reduceWord(c);
    const u64 wc = shoupCompanion(w);
    if (const auto *v = modulus_vector::select(p))
        return v->subAndConstMult[K - 1](*this, a, b, w, wc, out, n);
    for (u64 i = 0; i < n; ++i) {
        const u64 r = shoupProduct(p + a[i] - b[i], w, wc, p);
        out[i] = K == 1 ? reduceOnce(r, p) : r;
    }
}

void Modulus::switchingKeyBody(std::uint64_t *out, const std::uint64_t *e, const std::uint64_t *a,
                               const std::uint64_t *s, const std::uint64_t *t, std::uint64_t c,
                               std::uint64_t n) const {
    const u64 p = prime_;
    const u64 w = reduceWord(c);
    const u64 wc = shoupCompanion(w);
    if (const auto *v = modulus_vector::select(p))
        return v->switchingKeyBody(*this, out, e, a, s, t, w, wc, n);
    const u64 ratio = barrett_ratio_;
    const unsigned shift = barrettShift();
    if (t == nullptr) {
        for (u64 i = 0; i < n; ++i)
            out[i] = subtractMod(e[i], barrett(a[i], s[i], shift, ratio, p), p);
        return;
    }
    for (u64 i = 0; i < n; ++i) {
        const u64 body = subtractMod(e[i], barrett(a[i], s[i], shift, ratio, p), p);
        out[i] = reduceOnce(body + word::shoupReduced(t[i], w, wc, p), p);
    }
}

void Modulus::signedConstMult(const std::int64_t *in, std::uint64_t bound, std::uint64_t c,
                              std::uint64_t *out, std::uint64_t n, std::uint64_t stride) const {
    const u64 p = prime_;
    const u64 w = reduceWord(c);
    if (w == 1 && bound < p) {
        // -m with m < p is 2^64 - m as a word; adding p wraps to p - m.
        for (u64 k = 0; k < n; ++k) {
            out[k * stride] = word::addIfNegative(static_cast<u64>(in[k]), p);
        }
        return;
    }
    const u64 wc = shoupCompanion(w);
    // Adding a multiple of p that exceeds 2^63 - p makes every value of
    // magnitude at most 2^63 - p a word in [0, 2^64) with the same residue,
    // which saves the sign handling below.
    const u64 offset = p * ((u64{1} << 63) / p);
    if (bound <= (u64{1} << 63) - p) {
        if (w == 1) {
            const u64 quotient = word_quotient_;
            for (u64 k = 0; k < n; ++k) {
                const u64 x = static_cast<u64>(in[k]) + offset;
                out[k * stride] = reduceWordExact(x, p, quotient);
            }
        } else {
            for (u64 k = 0; k < n; ++k)
                out[k * stride] = word::shoupReduced(static_cast<u64>(in[k]) + offset, w, wc, p);
        }
        return;
    }
    for (u64 k = 0; k < n; ++k) {
        // All ones for a negative value; the magnitude of INT64_MIN is 2^63.
        const u64 sign = 0 - (static_cast<u64>(in[k]) >> 63);
        const u64 magnitude = (static_cast<u64>(in[k]) ^ sign) - sign;
        const u64 r = word::shoupReduced(magnitude, w, wc, p);
        out[k * stride] = r ^ ((r ^ word::negateMod(r, p)) & sign);
    }
}

template <bool Accumulate>
void Modulus::normalizeModAndConstMult(const std::uint64_t *in, std::uint64_t c, std::uint64_t q,
                                       std::uint64_t *out) const {
    const u64 p = prime_;
    const u64 twice_p = twice_prime_;
    const u64 n = degree_;
    const u64 w = reduceWord(c);
    const u64 wc = shoupCompanion(w);
    const u64 half = q >> 1;
    const u64 d = p - reduceWord(q);
    if (const auto *v = modulus_vector::select(p))
        return v->normalizeModAndConstMult[Accumulate](*this, in, w, wc, half, d, out, n);
    for (u64 i = 0; i < n; ++i) {
        const u64 x = liftCentred(in[i], half, d);
        const u64 r = shoupProduct(x, w, wc, p);
        out[i] = Accumulate ? reduceOnce(out[i] + r, twice_p) : r;
    }
}

void Modulus::reduceFromTwicePrime(std::uint64_t *data) const {
    const u64 p = prime_;
    for (u64 i = 0; i < degree_; ++i)
        data[i] = reduceOnce(data[i], p);
}

std::uint64_t Modulus::makeInteger(double v, double s) const {
    const double scaled = std::fabs(v) * std::pow(2.0, s);
    // Also rejects NaN, which fails every comparison.
    if (!(scaled < 0x1p128))
        throw RuntimeException(kMakeIntegerOutOfRange);
    const u128 z = static_cast<u128>(scaled);
    const u64 p = prime_;
    const u64 r = word::reduceWide(z, getFoldConstants());
    if (v < 0.0)
        return r == 0 ? 0 : p - r;
    return r;
}

namespace {

// Words of a row handled at once by the row-list kernels: the chunk of `a`
// (and of a permuted input) stays in a stack buffer while every row uses it.
constexpr u64 kRowChunk = 256;

// Throws unless the rows satisfy the aliasing rule of the row-list kernels:
// an output may equal `a`, or (unless `permuted`) the input at its own place,
// and overlaps nothing else.
void checkRowLists(const std::vector<u64 *> &outs, const u64 *a,
                   const std::vector<const u64 *> &ins, bool permuted, u64 n) {
    if (outs.size() != ins.size())
        throw RuntimeException(Modulus::kRowListLengthMessage);
    if (outs.empty() || n == 0)
        return;
    if (a == nullptr)
        throw RuntimeException(Modulus::kRowListNullMessage);
    for (u64 j = 0; j < outs.size(); ++j)
        if (outs[j] == nullptr || ins[j] == nullptr)
            throw RuntimeException(Modulus::kRowListNullMessage);
    for (u64 j = 0; j < outs.size(); ++j) {
        const u64 *out = outs[j];
        if (out != a && overlaps(out, a, n))
            throw RuntimeException(Modulus::kRowListOverlapMessage);
        for (u64 i = 0; i < outs.size(); ++i) {
            if (i != j && overlaps(out, outs[i], n))
                throw RuntimeException(Modulus::kRowListOverlapMessage);
            const bool own_place = i == j && out == ins[i] && !permuted;
            if (!own_place && overlaps(out, ins[i], n))
                throw RuntimeException(Modulus::kRowListOverlapMessage);
        }
    }
}

} // namespace

template <bool Accumulate>
void Modulus::rowListProduct(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                             const std::vector<const std::uint64_t *> &ins,
                             const std::vector<std::uint64_t> *positions) const {
    const u64 n = degree_;
    if (positions != nullptr) {
        if (positions->size() != n)
            throw RuntimeException(kSlotTableMessage);
        for (u64 s : *positions)
            if (s >= n)
                throw RuntimeException(kSlotTableMessage);
    }
    checkRowLists(outs, a, ins, positions != nullptr, n);
    if (outs.empty())
        return;
    // Chunk by chunk: `a` is copied before any output of the chunk is
    // written (an output may be `a`), then each row gets the single-row
    // kernel, so every word is the one the single-row twin gives.
    u64 a_chunk[kRowChunk];
    u64 in_chunk[kRowChunk];
    for (u64 offset = 0; offset < n; offset += kRowChunk) {
        const u64 len = std::min(kRowChunk, n - offset);
        std::copy(a + offset, a + offset + len, a_chunk);
        for (u64 j = 0; j < outs.size(); ++j) {
            const u64 *in = ins[j] + offset;
            if (positions != nullptr) {
                const u64 *slots = positions->data() + offset;
                for (u64 s = 0; s < len; ++s)
                    in_chunk[s] = ins[j][slots[s]];
                in = in_chunk;
            }
            if constexpr (Accumulate)
                mulAddRow(outs[j] + offset, a_chunk, in, len);
            else
                mulVector(outs[j] + offset, a_chunk, in, len);
        }
    }
}

void Modulus::mulAddVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                           const std::vector<const std::uint64_t *> &ins) const {
    rowListProduct<true>(outs, a, ins, nullptr);
}

void Modulus::frobeniusAndMulAddVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                                       const std::vector<const std::uint64_t *> &ins,
                                       const std::vector<std::uint64_t> &positions) const {
    rowListProduct<true>(outs, a, ins, &positions);
}

void Modulus::mulVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                        const std::vector<const std::uint64_t *> &ins) const {
    rowListProduct<false>(outs, a, ins, nullptr);
}

void Modulus::frobeniusAndMulVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                                    const std::vector<const std::uint64_t *> &ins,
                                    const std::vector<std::uint64_t> &positions) const {
    rowListProduct<false>(outs, a, ins, &positions);
}

template void Modulus::constMult<1>(const std::uint64_t *, std::uint64_t, std::uint64_t *,
                                    std::uint64_t) const;
template void Modulus::constMult<2>(const std::uint64_t *, std::uint64_t, std::uint64_t *,
                                    std::uint64_t) const;
template void Modulus::subAndConstMult<1>(const std::uint64_t *, const std::uint64_t *,
                                          std::uint64_t, std::uint64_t *, std::uint64_t) const;
template void Modulus::subAndConstMult<2>(const std::uint64_t *, const std::uint64_t *,
                                          std::uint64_t, std::uint64_t *, std::uint64_t) const;
template void Modulus::normalizeModAndConstMult<false>(const std::uint64_t *, std::uint64_t,
                                                       std::uint64_t, std::uint64_t *) const;
template void Modulus::normalizeModAndConstMult<true>(const std::uint64_t *, std::uint64_t,
                                                      std::uint64_t, std::uint64_t *) const;

} // namespace Quelt
