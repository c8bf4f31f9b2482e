#pragma once

#include "arith/NttType.hpp"
#include "foundation/WordArith.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace Quelt {

class NTT;

// One word-sized prime p < 2^62 of a prime chain: the prime, the constants
// that make reduction by it cheap, the ring degree N, the transform type and
// the transform built for it.
//
// The kernels below work on limbs (arrays of residues modulo p) given as raw
// pointers. Unless a kernel says otherwise, outputs may alias inputs position
// for position, inputs are residues below p, and a kernel documented "over N"
// runs over the degree stored in the modulus. Kernels allocate nothing and
// carry no state, so one modulus may be used by any number of threads at once.
//
// Copies share one NTT; the transform never changes after construction.
class Modulus {
public:
    // Placeholder used to size containers before the real moduli are
    // assigned: every constant is 0, the type is NONE and there is no
    // transform. Kernels on it give meaningless (but defined) results.
    Modulus() = default;

    // Builds the constants of p and, for the types NEGACYCLIC,
    // NEGACYCLIC_SQUARE_4N and CONJUGATE_INVARIANT, the NTT of degree N
    // (whose own checks on N and p apply). NONE builds no transform and puts
    // no condition on p or N.
    // Throws RuntimeException, checked in this order: p < 2 or p >= 2^62
    // ("[Modulus] The prime must be at least 2 and below 2^62"); a type that
    // is not one of the four values ("[Modulus] Not supported NTT type"); a
    // transform type with N = 0 ("[NTT] degree must be a power of two.");
    // then whatever the NTT constructor throws.
    Modulus(std::uint64_t N, std::uint64_t p, NttType type);

    std::uint64_t getPrime() const { return prime_; }
    // 2p, the bound of lazily reduced values.
    std::uint64_t getTwicePrime() const { return twice_prime_; }
    // k = floor(log2 p).
    std::uint64_t getPrimeLog() const { return prime_log_; }
    // floor(2^(63 + k) / p).
    std::uint64_t getBarrettRatio() const { return barrett_ratio_; }
    std::uint64_t getDegree() const { return degree_; }
    // floor(2^64 / p).
    std::uint64_t getWordQuotient() const { return word_quotient_; }
    // R = 2^64 mod p.
    std::uint64_t getWordResidue() const { return word_residue_; }
    // floor(R * 2^64 / p), the Shoup companion of R.
    std::uint64_t getWordResidueCompanion() const { return word_residue_companion_; }
    // The constants of word::fold for p.
    word::FoldConstants getFoldConstants() const {
        return {prime_, word_quotient_, word_residue_, word_residue_companion_};
    }
    NttType getNttType() const { return ntt_type_; }
    // Empty for type NONE.
    const std::shared_ptr<NTT> &getNTT() const { return ntt_; }

    // ---- Scalar products ------------------------------------------------

    // Barrett product a * b mod p for a, b < p; the result is below p.
    std::uint64_t barrettProduct(std::uint64_t a, std::uint64_t b) const {
        return word::barrett(a, b, barrettShift(), barrett_ratio_, prime_);
    }

    // Shoup product x * w mod p for any word x and a constant w < p with
    // companion wc = floor(w * 2^64 / p); the result lies in [0, 2p).
    static std::uint64_t shoupProduct(std::uint64_t x, std::uint64_t w, std::uint64_t wc,
                                      std::uint64_t p) {
        return word::shoup(x, w, wc, p);
    }

    // floor(w * 2^64 / p) for w < p, without a division.
    std::uint64_t shoupCompanion(std::uint64_t w) const;

    // Any word reduced below p.
    std::uint64_t reduceWord(std::uint64_t c) const {
        return word::reduceWordExact(c, prime_, word_quotient_);
    }

    // ---- Limb kernels ---------------------------------------------------

    // out[i] = in[i] + c mod p; c may be any word. Below p for inputs below p.
    void constAdd(const std::uint64_t *in, std::uint64_t c, std::uint64_t *out,
                  std::uint64_t n) const;
    // out[i] = a[i] + b[i] mod p.
    void addVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                   std::uint64_t n) const;
    // out[i] = a[i] - b[i] mod p.
    void subVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                   std::uint64_t n) const;
    // out[i] = -in[i] mod p: p - in[i], and 0 stays 0.
    void negateVector(std::uint64_t *out, const std::uint64_t *in, std::uint64_t n) const;
    // out[i] = a[i] * b[i] mod p (Barrett).
    void mulVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                   std::uint64_t n) const;
    // Over N: out1 = a * b, then out2 = a * c. The whole of out1 is written
    // before out2 is computed (this matters when out1 aliases a or c).
    void mulVector(std::uint64_t *out1, std::uint64_t *out2, const std::uint64_t *a,
                   const std::uint64_t *b, const std::uint64_t *c) const;
    // Over N: out[i] = out[i] + a[i] * b[i] mod p.
    void mulAddVector(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b) const;
    // Over N: out1 += a * b over the whole limb, then out2 += a * c.
    void mulAddVector(std::uint64_t *out1, std::uint64_t *out2, const std::uint64_t *a,
                      const std::uint64_t *b, const std::uint64_t *c) const;
    // Over N, per position: d0 + d1 X + d2 X^2 = (a0 + a1 X)(b0 + b1 X), with
    // d1 computed Karatsuba-style. All inputs are read before the outputs of
    // a position are written.
    void tensorVector(std::uint64_t *d1, std::uint64_t *d2, std::uint64_t *d0,
                      const std::uint64_t *a0, const std::uint64_t *a1, const std::uint64_t *b0,
                      const std::uint64_t *b1) const;
    // *out = sum of a[i] * b[i] mod p, exact for any n; n = 0 gives 0.
    void innerProduct(const std::uint64_t *a, const std::uint64_t *b, std::uint64_t *out,
                      std::uint64_t n) const;
    // Over N: true when every word of the limb is 0.
    bool isZero(const std::uint64_t *a) const;
    // out = in * X^k mod (X^n + 1) for -n <= k <= n; wrapped coefficients are
    // negated. in and out must not overlap.
    // Throws RuntimeException when |k| > n or the two ranges overlap.
    void multMonomial(const std::uint64_t *in, std::uint64_t *out, std::uint64_t n,
                      std::int64_t k) const;
    // out = X^m * in(X^-1) mod (X^n + 1): out[j] = in[m - j] for j <= m and
    // -in[n + m - j] for m < j < n. in and out must not overlap.
    // Throws RuntimeException when m >= n or the two ranges overlap.
    void conjugateInvert(const std::uint64_t *in, std::uint64_t *out, std::uint64_t n,
                         std::uint64_t m) const;
    // Reads in[i] as a residue modulo another prime q in centred form (values
    // above floor(q/2) stand for in[i] - q) and writes it modulo p. q is a
    // prime below 2^62 and in[i] < q.
    void normalizeModVector(std::uint64_t *out, const std::uint64_t *in, std::uint64_t q,
                            std::uint64_t n) const;
    // out[i] = in[i] * c mod p by a Shoup product; c and in[i] may be any
    // words. K = 1: below p. K = 2: the unreduced Shoup product, below 2p.
    template <int K>
    void constMult(const std::uint64_t *in, std::uint64_t c, std::uint64_t *out,
                   std::uint64_t n) const;
    // out[i] = (a[i] - b[i]) * c mod p for a[i], b[i] < p, as the Shoup
    // product of p + a[i] - b[i] by c; K = 1: below p, K = 2: below 2p.
    template <int K>
    void subAndConstMult(const std::uint64_t *a, const std::uint64_t *b, std::uint64_t c,
                         std::uint64_t *out, std::uint64_t n) const;
    // out[i] = e[i] - a[i] * s[i] + t[i] * c mod p over n words: the body of
    // a switching key on one limb, with e the error, a the mask, s the target
    // secret and t the source secret under the gadget factor c (any word,
    // reduced here; one Shoup constant for the limb). e, a, s and t are
    // residues below p; t null leaves the last term out.
    void switchingKeyBody(std::uint64_t *out, const std::uint64_t *e, const std::uint64_t *a,
                          const std::uint64_t *s, const std::uint64_t *t, std::uint64_t c,
                          std::uint64_t n) const;
    // out[k * stride] = in[k] * c mod p for k < n: signed 64-bit integers (any
    // value) times any word c, a negative product stored as p minus the
    // residue of its magnitude. One Shoup product per value; when c is 1
    // modulo p and `bound` (at least every |in[k]|) is below p, the values are
    // only moved into [0, p). stride >= 1; the positions between are not
    // touched.
    void signedConstMult(const std::int64_t *in, std::uint64_t bound, std::uint64_t c,
                         std::uint64_t *out, std::uint64_t n, std::uint64_t stride) const;
    // Over N: the centred lift of in (residues modulo a prime q < 2^62, as in
    // normalizeModVector) times c, as a Shoup product below 2p. Accumulate =
    // false writes it to out; true adds it to out (whose values must be below
    // 2p) and keeps the sum below 2p.
    template <bool Accumulate>
    void normalizeModAndConstMult(const std::uint64_t *in, std::uint64_t c, std::uint64_t q,
                                  std::uint64_t *out) const;
    // Over N: the lazily reduced words of a limb, in [0, 2p), brought below p
    // in place.
    void reduceFromTwicePrime(std::uint64_t *data) const;

    // |v| * 2^s truncated toward zero to an integer, reduced modulo p, and
    // negated modulo p when v < 0 (-0.0 counts as non-negative).
    // Throws RuntimeException when |v| * 2^s is NaN, infinite or not below
    // 2^128.
    std::uint64_t makeInteger(double v, double s) const;

    // Kernels over lists of rows: one row `a` times each row of `ins`, into
    // the row of `outs` at the same place, over N words per row. They give the
    // words of their single-row twins on every row (mulVector: below p;
    // mulAddVector: outs[j] += a * ins[j], below p for outs below p).
    //
    // The Frobenius forms first permute every input row by the slot table
    // `positions` (N entries, each below N): the row multiplied at word s is
    // ins[j][positions[s]], the automorphism of a polynomial in NTT form.
    //
    // outs[j] may alias ins[j] (plain forms only) and any output may alias
    // `a`; no other rows may overlap. Empty lists do nothing.
    // Throws RuntimeException, before anything is written:
    // kRowListLengthMessage when the lists differ in length,
    // kRowListNullMessage for a null row (a included) with N > 0,
    // kRowListOverlapMessage for rows that overlap otherwise than allowed,
    // kSlotTableMessage for a slot table of another length than N or with an
    // entry of N or more.
    static constexpr const char *kRowListLengthMessage =
        "[Modulus] The output and input row lists must have the same length";
    static constexpr const char *kRowListNullMessage = "[Modulus] A row of the lists is null";
    static constexpr const char *kRowListOverlapMessage =
        "[Modulus] An output row overlaps another row of the lists";
    static constexpr const char *kSlotTableMessage =
        "[Modulus] The slot table must hold N positions below N";
    void mulAddVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                      const std::vector<const std::uint64_t *> &ins) const;
    void frobeniusAndMulAddVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                                  const std::vector<const std::uint64_t *> &ins,
                                  const std::vector<std::uint64_t> &positions) const;
    void mulVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                   const std::vector<const std::uint64_t *> &ins) const;
    void frobeniusAndMulVector(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                               const std::vector<const std::uint64_t *> &ins,
                               const std::vector<std::uint64_t> &positions) const;

private:
    // Shift that takes a 128-bit product of two residues to its top word.
    // The mask only matters for a default-constructed modulus (k = 0), where
    // a shift by -1 would be undefined.
    unsigned barrettShift() const { return static_cast<unsigned>((prime_log_ - 1) & 63); }

    // out[i] = out[i] + a[i] * b[i] mod p over n words (every path).
    void mulAddRow(std::uint64_t *out, const std::uint64_t *a, const std::uint64_t *b,
                   std::uint64_t n) const;
    // The four row-list kernels: Accumulate selects mulAdd, a non-null
    // `positions` the slot permutation of the inputs.
    template <bool Accumulate>
    void rowListProduct(std::vector<std::uint64_t *> &outs, const std::uint64_t *a,
                        const std::vector<const std::uint64_t *> &ins,
                        const std::vector<std::uint64_t> *positions) const;

    std::uint64_t prime_ = 0;
    std::uint64_t twice_prime_ = 0;
    std::uint64_t prime_log_ = 0;
    std::uint64_t barrett_ratio_ = 0;
    std::uint64_t degree_ = 0;
    std::uint64_t word_quotient_ = 0;
    std::uint64_t word_residue_ = 0;
    std::uint64_t word_residue_companion_ = 0;
    NttType ntt_type_ = NttType::NONE;
    std::shared_ptr<NTT> ntt_;
};

} // namespace Quelt
