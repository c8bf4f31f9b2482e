#pragma once

#include "Quelt/DeviceSpecificArray.hpp"
#include "arith/NttType.hpp"

#include <cstdint>

namespace Quelt {

// Number-theoretic transform of one prime p and one power-of-two degree N,
// in place on one limb of N words.
//
// Types 0 and 1 are negacyclic (modulo X^N + 1): the forward image at
// position j is the input polynomial evaluated at psi^(2 rev(j) + 1), with
// psi the smallest primitive 2N-th root of unity (type 0) or the square of the
// smallest primitive 4N-th root (type 1). Type 2 evaluates the
// conjugate-invariant form a[0] + sum_{l >= 1} a[l] (x^l + x^-l) at
// x = psi^(4 rev(j) + 1), psi the smallest primitive 4N-th root, through a
// cyclic transform of length N between two twists.
//
// Every product by a table value is a Shoup product (w x - p floor(x w' / 2^64)
// with the precomputed companion w' = floor(w 2^64 / p)). Values are reduced
// lazily: the forward stages keep them below 4p, the inverse stages below 2p.
// The tables are written once by the constructor; all operations are const
// and may run concurrently on different limbs.
class NTT {
public:
    // Builds the tables for types 0, 1 and 2. Throws RuntimeException
    // "The modulus <p> is not NTT-friendly." when p is not 1 modulo 2N (type 0)
    // or 4N (types 1 and 2), is not prime or is not below 2^62; otherwise
    // "[NTT] degree must be a power of two." when N is 0 or not a power of two.
    NTT(std::uint64_t N, std::uint64_t p, NttType type);

    // Forward transform of N values below 4p; the result lies below K p
    // (K = 1, 2 or 4).
    template <int K>
    requires(K == 1 || K == 2 || K == 4) void computeForward(std::uint64_t *a) const;

    // out = (b - forward transform of a) factor mod p, every word below p,
    // with the subtraction and scaling applied as the transform's last stage
    // stores its words where the instruction-set path allows it: the words
    // equal those of computeForward<1>(a) followed by that formula. a holds
    // N values below 4p and is left with unspecified words; b holds values
    // below p; factor < p; out may be b.
    void computeForwardSubScale(std::uint64_t *a, const std::uint64_t *b, std::uint64_t factor,
                                std::uint64_t *out) const;

    // Inverse transform (including the factor N^-1) of N values below 2p; the
    // result lies below K p (K = 1 or 2). computeBackward<1> exactly undoes
    // computeForward<1>.
    template <int K>
    requires(K == 1 || K == 2) void computeBackward(std::uint64_t *a) const;

    // computeBackward<1> of the values a[i] factor mod p, word for word, with
    // the factor joined to the factor N^-1 of the last stage (no pass of its
    // own). a holds N values below p; factor < p.
    void computeBackwardScaled(std::uint64_t *a, std::uint64_t factor) const;

    // One forward stage with half-distance t (values below 4p stay below 4p);
    // nothing happens for t = 0 or t > N/2.
    void computeForwardNativeSingleStep(std::uint64_t *a, std::uint64_t t) const;
    // One inverse stage with half-distance t (values below 2p stay below 2p);
    // nothing happens for t = 0 or t > N/2.
    void computeBackwardNativeSingleStep(std::uint64_t *a, std::uint64_t t) const;
    // The last inverse stage (t = N/2) fused with the factor N^-1.
    void computeBackwardNativeLast(std::uint64_t *a) const;

    // Type 2 pre-twist: out[0] = in[0], out[i] = (in[i] + psi^-N in[N-i]) psi^i
    // (below 2p for inputs below 4p). May run in place (in == out).
    // Throws RuntimeException "[NTT] conversion and inversion exist only for
    // the conjugate-invariant type." for types 0 and 1 (they have no twists).
    void conversion(const std::uint64_t *in, std::uint64_t *out) const;
    // Type 2 post-twist: out[0] = in[0], out[i] = (in[i] psi^-i + in[N-i] psi^i) / 2
    // (below p for i > 0). May run in place (in == out). Throws as conversion.
    void inversion(const std::uint64_t *in, std::uint64_t *out) const;

    std::uint64_t getPrime() const { return prime_; }
    std::uint64_t getTwicePrime() const { return twice_prime_; }
    std::uint64_t getDegree() const { return degree_; }
    NttType getType() const { return type_; }
    // psi, the root whose odd powers the transform evaluates at (types 0 and
    // 1; the twist root for type 2).
    std::uint64_t getRoot() const { return root_; }
    // W: the forward stage with m groups reads W[m .. 2m).
    const DeviceSpecificArray<std::uint64_t> &getForwardTwiddles() const { return forward_; }
    // V in stage order: the inverse stage with m groups reads V[N + 1 - 2m .. N + 1 - m).
    const DeviceSpecificArray<std::uint64_t> &getInverseTwiddles() const { return inverse_; }
    const DeviceSpecificArray<std::uint64_t> &getForwardTwiddleCompanions() const {
        return forward_companions_;
    }
    const DeviceSpecificArray<std::uint64_t> &getInverseTwiddleCompanions() const {
        return inverse_companions_;
    }
    // psi^j for j < N (type 2 only, empty otherwise).
    const DeviceSpecificArray<std::uint64_t> &getTwistPowers() const { return twist_; }
    // psi^-j for j = 0 .. N (type 2 only, empty otherwise).
    const DeviceSpecificArray<std::uint64_t> &getInverseTwistPowers() const {
        return inverse_twist_;
    }
    const DeviceSpecificArray<std::uint64_t> &getTwistCompanions() const {
        return twist_companions_;
    }
    const DeviceSpecificArray<std::uint64_t> &getInverseTwistCompanions() const {
        return inverse_twist_companions_;
    }
    std::uint64_t getDegreeInverse() const { return degree_inverse_; }
    std::uint64_t getDegreeInverseCompanion() const { return degree_inverse_companion_; }
    // N^-1 V[N-1] mod p, the twiddle of the fused last inverse stage.
    std::uint64_t getLastTwiddle() const { return last_twiddle_; }
    std::uint64_t getLastTwiddleCompanion() const { return last_twiddle_companion_; }

private:
    std::uint64_t prime_;
    std::uint64_t twice_prime_;
    std::uint64_t degree_;
    NttType type_;
    std::uint64_t root_ = 0;
    DeviceSpecificArray<std::uint64_t> forward_;
    DeviceSpecificArray<std::uint64_t> inverse_;
    DeviceSpecificArray<std::uint64_t> forward_companions_;
    DeviceSpecificArray<std::uint64_t> inverse_companions_;
    DeviceSpecificArray<std::uint64_t> twist_;
    DeviceSpecificArray<std::uint64_t> inverse_twist_;
    DeviceSpecificArray<std::uint64_t> twist_companions_;
    DeviceSpecificArray<std::uint64_t> inverse_twist_companions_;
    std::uint64_t degree_inverse_ = 0;
    std::uint64_t degree_inverse_companion_ = 0;
    std::uint64_t last_twiddle_ = 0;
    std::uint64_t last_twiddle_companion_ = 0;
};

// True when the NTT-form words of `small` (degree n) are the words of `big`
// (degree N, a multiple of n, same prime) at every (N/n)-th position for
// X^(N/n) -> Y: both negacyclic and small's root is big's root to the power
// N/n. Otherwise data moving between the two rings must pass through
// coefficient form. False for different primes, conjugate-invariant or
// transform-free types and degrees that do not divide.
bool sharesEvaluationPoints(const NTT &small, const NTT &big);

extern template void NTT::computeForward<1>(std::uint64_t *) const;
extern template void NTT::computeForward<2>(std::uint64_t *) const;
extern template void NTT::computeForward<4>(std::uint64_t *) const;
extern template void NTT::computeBackward<1>(std::uint64_t *) const;
extern template void NTT::computeBackward<2>(std::uint64_t *) const;

} // namespace Quelt
